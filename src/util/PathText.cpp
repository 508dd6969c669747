#include "util/PathText.h"

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
