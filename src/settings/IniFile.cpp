#include "settings/IniFile.h"

#include <QFile>
#include <QSaveFile>

#include "settings/JobSettings.h"
#include "util/Errors.h"
#include "util/TextDecoding.h"

namespace {

// The key of a section line, or a null string when the line holds no "=".
QString KeyOfLine(const QString& line) {
  const qsizetype eq = line.indexOf(QLatin1Char('='));
  if (eq < 0) return {};
  return line.left(eq).trimmed();
}

}  // namespace

IniFile IniFile::Load(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return FromText(DecodeTextFile(file.readAll()));
}

IniFile IniFile::FromText(const QString& text) {
  IniFile ini;
  QString normalised = text;
  normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  Section* current = nullptr;
  for (const QString& raw : normalised.split(QLatin1Char('\n'))) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      ini.Sections.push_back({line.mid(1, line.size() - 2).trimmed(), {}});
      current = &ini.Sections.back();
      continue;
    }
    if (current) current->Lines.append(line);
  }
  return ini;
}

const IniFile::Section* IniFile::FindSection(const QString& name) const {
  for (const Section& s : Sections)
    if (s.Name.compare(name, Qt::CaseInsensitive) == 0) return &s;
  return nullptr;
}

qsizetype IniFile::FindKeyLine(const Section& section, const QString& key) {
  for (qsizetype i = 0; i < section.Lines.size(); ++i) {
    const QString lineKey = KeyOfLine(section.Lines[i]);
    if (!lineKey.isNull() && lineKey.compare(key, Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

QString IniFile::ReadString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
  const Section* s = FindSection(section);
  if (!s) return defaultValue;
  const qsizetype i = FindKeyLine(*s, key);
  if (i < 0) return defaultValue;
  const QString& line = s->Lines[i];
  return line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
}

int IniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
  int value = 0;
  return ParseSettingsInteger(ReadString(section, key, QString()), &value) ? value : defaultValue;
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::HasKey(const QString& section, const QString& key) const {
  const Section* s = FindSection(section);
  return s && FindKeyLine(*s, key) >= 0;
}

QStringList IniFile::SectionNames() const {
  QStringList names;
  for (const Section& s : Sections) names.append(s.Name);
  return names;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
  Section* s = const_cast<Section*>(FindSection(section));
  if (!s) {
    Sections.push_back({section, {}});
    s = &Sections.back();
  }
  const QString line = key + QLatin1Char('=') + value;
  const qsizetype i = FindKeyLine(*s, key);
  if (i >= 0)
    s->Lines[i] = line;
  else
    s->Lines.append(line);
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value) {
  WriteString(section, key, QString::number(value));
}

void IniFile::WriteBool(const QString& section, const QString& key, bool value) {
  WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QString IniFile::ToText() const {
  QString text;
  for (const Section& s : Sections) {
    text += QLatin1Char('[') + s.Name + QStringLiteral("]\r\n");
    for (const QString& line : s.Lines) text += line + QStringLiteral("\r\n");
    text += QStringLiteral("\r\n");
  }
  return text;
}

void IniFile::Save(const QString& path) const {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    throw QuillomarError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
  const QByteArray bytes = ToText().toUtf8();
  if (file.write(bytes) != bytes.size() || !file.commit())
    throw QuillomarError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}
