#include "settings/SettingsFiles.h"

#include "settings/IniFile.h"
#include "util/PathText.h"

namespace {

const QString kSection = QStringLiteral("Setup");

QString SetupIniPath(const QString& appDir) {
  return WithTrailingBackslash(appDir) + QStringLiteral("Setup.ini");
}

}  // namespace

SetupValues ReadSetupIni(const QString& appDir) {
  const IniFile ini = IniFile::Load(SetupIniPath(appDir));
  SetupValues v;
  v.SelSettings = ini.ReadString(kSection, QStringLiteral("SelSettings"), v.SelSettings);
  v.WinWidth = ini.ReadInteger(kSection, QStringLiteral("WinWidth"), v.WinWidth);
  v.WinHeight = ini.ReadInteger(kSection, QStringLiteral("WinHeight"), v.WinHeight);
  v.WinState = ini.ReadInteger(kSection, QStringLiteral("WinState"), v.WinState);
  return v;
}

void WriteSetupIni(const QString& appDir, const SetupValues& values) {
  const QString path = SetupIniPath(appDir);
  IniFile ini = IniFile::Load(path);
  ini.WriteString(kSection, QStringLiteral("SelSettings"), values.SelSettings);
  ini.WriteInteger(kSection, QStringLiteral("WinWidth"), values.WinWidth);
  ini.WriteInteger(kSection, QStringLiteral("WinHeight"), values.WinHeight);
  ini.WriteInteger(kSection, QStringLiteral("WinState"), values.WinState);
  ini.Save(path);
}

JobSettings LoadSettingsFile(const QString& path, const QString& appDir) {
  const IniFile ini = IniFile::Load(path);
  JobSettings settings = JobSettings::Defaults(appDir);
  for (const FieldInfo& f : JobFields()) {
    const QString key = QLatin1String(f.Key);
    if (!ini.HasKey(kSection, key)) continue;
    const QString value = ini.ReadString(kSection, key, QString());
    if (f.IsTextual()) {
      settings.SetText(f.Id, value);
    } else if (f.Kind == FieldKind::Switch) {
      settings.SetOn(f.Id, ini.ReadBool(kSection, key, settings.On(f.Id)));
    } else {
      // A number, choice or colour that is empty or not an integer keeps its default.
      settings.SetInt(f.Id, ini.ReadInteger(kSection, key, settings.Int(f.Id)));
    }
  }
  return settings;
}

void SaveSettingsFile(const QString& path, const JobSettings& settings) {
  IniFile ini = IniFile::Load(path);
  for (const FieldInfo& f : JobFields())
    ini.WriteString(kSection, QLatin1String(f.Key), settings.SettingsText(f.Id));
  ini.Save(path);
}

QString NamedSettingsPath(const QString& appDir, const QString& name) {
  return WithTrailingBackslash(WithTrailingBackslash(appDir) + QStringLiteral("Data")) + name +
         QStringLiteral(".set");
}
