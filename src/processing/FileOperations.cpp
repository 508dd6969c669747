#include "processing/FileOperations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "util/PathText.h"

void CreateFolderPath(const QString& base, const QString& relative) {
  const QChar sep = PathSeparator();
  QString folder = base;
  for (const QString& name : relative.split(sep, Qt::SkipEmptyParts)) {
    folder += name + sep;
    if (!QFileInfo(folder).isDir()) QDir().mkdir(folder);
  }
}

QDateTime ToPackedFileTime(const QDateTime& time) {
  if (!time.isValid()) return {};
  const QDateTime local = time.toLocalTime();
  const QDate date = local.date();
  if (date.year() < 1980 || date.year() > 2107) return {};
  const QTime t = local.time();
  return QDateTime(date, QTime(t.hour(), t.minute(), t.second() - t.second() % 2));
}

QDateTime ReadFileTime(const QString& path, int which) {
  const QFileInfo info(path);
  if (!info.exists() || info.isDir()) return {};
  QDateTime time;
  switch (which) {
    case kCreationTime:
#ifdef Q_OS_WIN
      time = info.birthTime();
#else
      time = info.lastModified();
#endif
      break;
    case kLastAccessTime:
      time = info.lastRead();
      break;
    case kLastWriteTime:
      time = info.lastModified();
      break;
    default:
      return {};
  }
  return ToPackedFileTime(time);
}

int WriteFileTime(const QString& path, int which, const QDateTime& time) {
  const QDateTime packed = ToPackedFileTime(time);
  if (!packed.isValid()) return QFileDevice::UnspecifiedError;
  // Opened for writing without truncating or creating: the contents stay as they are.
  QFile file(path);
  if (QFileInfo(path).isDir() ||
      !file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
    return file.error() != QFileDevice::NoError ? file.error() : QFileDevice::OpenError;
  bool ok = false;
  switch (which) {
    case kCreationTime:
#ifdef Q_OS_WIN
      ok = file.setFileTime(packed, QFileDevice::FileBirthTime);
#else
      ok = file.setFileTime(packed, QFileDevice::FileModificationTime) &&
           file.setFileTime(packed, QFileDevice::FileAccessTime);
#endif
      break;
    case kLastAccessTime:
      ok = file.setFileTime(packed, QFileDevice::FileAccessTime);
      break;
    case kLastWriteTime:
      ok = file.setFileTime(packed, QFileDevice::FileModificationTime);
      break;
    default:
      return QFileDevice::UnspecifiedError;
  }
  file.close();
  return ok ? 0 : QFileDevice::UnspecifiedError;
}
