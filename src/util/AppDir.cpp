#include "util/AppDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "util/PathText.h"

namespace {

QString Normalised(const QString& dir) {
  QDir().mkpath(dir);
  return WithTrailingBackslash(QDir::toNativeSeparators(QDir(dir).absolutePath()));
}

QString ProgramDir() {
  return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
}

// Copies the files of source/ that target/ lacks, sub-folders included; existing files (the
// user's own named settings) are never overwritten.
void SeedMissingFiles(const QString& source, const QString& target) {
  QDirIterator it(source, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  const QDir sourceDir(source);
  while (it.hasNext()) {
    const QString from = it.next();
    const QString to = target + QLatin1Char('/') + sourceDir.relativeFilePath(from);
    if (QFileInfo::exists(to)) continue;
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::copy(from, to);
  }
}

}  // namespace

QString InstalledDataDir() {
  const QString program = ProgramDir();
  if (program.isEmpty()) return {};
  for (const QString& candidate :
       {program + QStringLiteral("/Data"), program + QStringLiteral("/../share/quillomar/Data")}) {
    if (QFileInfo(candidate).isDir()) return QDir(candidate).absolutePath();
  }
  return {};
}

QString ResolveAppDir(const QString& explicitDir) {
  if (!explicitDir.isEmpty()) return Normalised(explicitDir);
  const QString fromEnvironment = qEnvironmentVariable("QUILLOMAR_APPDIR");
  if (!fromEnvironment.isEmpty()) return Normalised(fromEnvironment);

  const QString program = ProgramDir();
  if (!program.isEmpty() && QFileInfo(program + QStringLiteral("/Data")).isDir() &&
      QFileInfo(program).isWritable())
    return Normalised(program);

  QString userDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (userDir.isEmpty()) userDir = QDir::homePath() + QStringLiteral("/.local/share");
  userDir += QStringLiteral("/Quillomar");
  QDir().mkpath(userDir + QStringLiteral("/Data"));
  const QString installed = InstalledDataDir();
  if (!installed.isEmpty()) SeedMissingFiles(installed, userDir + QStringLiteral("/Data"));
  return Normalised(userDir);
}
