#include "util/PathText.h"

#include <algorithm>

QChar PathSeparator() {
#ifdef Q_OS_WIN
  return QLatin1Char('\\');
#else
  return QLatin1Char('/');
#endif
}

QString WithTrailingBackslash(const QString& path) {
  const QChar sep = PathSeparator();
  if (path.isEmpty() || path.back() != sep) return path + sep;
  return path;
}

namespace {

qsizetype LastSeparator(const QString& path) {
  return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(PathSeparator()));
}

}  // namespace

QString FileNameOf(const QString& path) { return path.mid(LastSeparator(path) + 1); }

QString FolderOf(const QString& path) { return path.left(LastSeparator(path) + 1); }

QString ExtensionOf(const QString& path) {
  const QString name = FileNameOf(path);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.mid(dot);
}
