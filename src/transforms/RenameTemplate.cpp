#include "transforms/RenameTemplate.h"

#include <QFileInfo>

// Not built yet: the name stays as it was.
QString MakeNewName(const QString&, const QString& fileName, int) {
  return QFileInfo(fileName).fileName();
}

QString ReplaceAll(const QString& text, const QString& pattern, const QString& replacement) {
  if (pattern.isEmpty()) return text;
  QString result;
  qsizetype from = 0;
  for (qsizetype at = text.indexOf(pattern, from); at >= 0; at = text.indexOf(pattern, from)) {
    result += QStringView(text).mid(from, at - from);
    result += replacement;
    from = at + pattern.size();
  }
  result += QStringView(text).mid(from);
  return result;
}
