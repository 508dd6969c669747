#include "transforms/RenameTemplate.h"

#include <QFileInfo>

namespace {

// The counter in decimal with at least `digits` digits, zero-padded after any minus sign.
QString PaddedCounter(int counter, int digits) {
  const QString magnitude = QString::number(qAbs(qint64(counter)));
  const QString padded = magnitude.rightJustified(digits - (counter < 0 ? 1 : 0), QLatin1Char('0'));
  return counter < 0 ? QLatin1Char('-') + padded : padded;
}

// The date and time macros in the order they are expanded, with the QDateTime::toString pattern
// each writes; "_" stands where the usual date and time separators would.
constexpr const char* kDateTimeMacros[][2] = {
    {"{DATE:YY_MM_DD}", "dd_MM_yy"}, {"{DATE:YYYY_MM_DD}", "yyyy_MM_dd_"},
    {"{DATE:YYMMDD}", "yyMMdd"},     {"{DATE:YYYYMMDD}", "yyyyMMdd"},
    {"{TIME:hh_mm}", "HH_mm"},       {"{TIME:hh_mm_ss}", "HH_mm_ss"},
    {"{TIME:hhmm}", "HHmm"},         {"{TIME:hhmmss}", "HHmmss"},
};

}  // namespace

QString MakeNewName(const QString& nameTemplate, const QString& fileName, int counter) {
  return MakeNewName(nameTemplate, fileName, counter, QDateTime::currentDateTime());
}

QString MakeNewName(const QString& nameTemplate, const QString& fileName, int counter,
                    const QDateTime& now) {
  const QString name = QFileInfo(fileName).fileName();
  if (nameTemplate.isEmpty()) return name;

  // The extension is everything from the last dot on, dot included.
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString ext = dot >= 0 ? name.mid(dot) : QString();
  const QString base = dot >= 0 ? name.left(dot) : name;

  QString result = ReplaceAll(nameTemplate, QStringLiteral("{filename}"), base);
  result = ReplaceAll(result, QStringLiteral("{ext}"), ext.mid(1));

  const qsizetype firstHash = result.indexOf(QLatin1Char('#'));
  if (firstHash >= 0) {
    qsizetype run = 0;
    while (firstHash + run < result.size() && result[firstHash + run] == QLatin1Char('#')) ++run;
    result = ReplaceAll(result, QString(run, QLatin1Char('#')), PaddedCounter(counter, int(run)));
  }

  for (const auto& [macro, pattern] : kDateTimeMacros) {
    const QString key = QString::fromLatin1(macro);
    if (result.contains(key))
      result = ReplaceAll(result, key, now.toString(QString::fromLatin1(pattern)));
  }
  return result + ext;
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
