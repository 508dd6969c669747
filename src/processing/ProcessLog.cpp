#include "processing/ProcessLog.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>

#include "util/Errors.h"
#include "util/TextDecoding.h"

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

}  // namespace

QString ProcessLog::FormatLine(const ProcessLogEntry& entry) {
  QString title = entry.Title;
  title.replace(QStringLiteral(">"), QStringLiteral(">>"));
  return QLatin1Char('[') + entry.Time + QLatin1Char(']') + title + QLatin1Char('>') +
         entry.Description;
}

bool ProcessLog::ParseLine(const QString& line, ProcessLogEntry* entry) {
  const qsizetype open = line.indexOf(QLatin1Char('['));
  if (open < 0) return false;
  const qsizetype close = line.indexOf(QLatin1Char(']'), open + 1);
  if (close < 0) return false;
  entry->Time = line.mid(open + 1, close - open - 1);
  const QString rest = line.mid(close + 1);
  // The separator is the first ">" that is not part of a ">>" pair.
  qsizetype i = 0;
  while (i < rest.size()) {
    if (rest[i] == QLatin1Char('>')) {
      if (i + 1 < rest.size() && rest[i + 1] == QLatin1Char('>')) {
        i += 2;
        continue;
      }
      break;
    }
    ++i;
  }
  QString title = rest.left(i);
  title.replace(QStringLiteral(">>"), QStringLiteral(">"));
  entry->Title = title;
  entry->Description = i < rest.size() ? rest.mid(i + 1) : QString();
  return true;
}

std::vector<ProcessLogEntry> ProcessLog::ParseText(const QString& text) {
  QString normalised = text;
  normalised.replace(kLineEnd, QStringLiteral("\n"));
  normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  std::vector<ProcessLogEntry> records;
  for (const QString& line : normalised.split(QLatin1Char('\n'))) {
    ProcessLogEntry entry;
    if (ParseLine(line, &entry)) records.push_back(entry);
  }
  return records;
}

void ProcessLog::SetFileName(const QString& path) {
  Path = path;
  Records.clear();
  QFile file(path);
  if (file.open(QIODevice::ReadOnly)) Records = ParseText(DecodeTextFile(file.readAll()));
}

void ProcessLog::Trim() {
  qsizetype sum = 0;
  std::size_t first = Records.size();
  while (first > 0 && sum < SizeLimit) {
    --first;
    sum += FormatLine(Records[first]).size() + kLineEnd.size();
  }
  if (first > 0) Records.erase(Records.begin(), Records.begin() + static_cast<qsizetype>(first));
}

void ProcessLog::Add(const QString& time, const QString& title, const QString& description) {
  if (!Active) return;
  Records.push_back({time, title, description});
  Trim();
  if (AutoSave) Save();
}

void ProcessLog::Clear() {
  Records.clear();
  if (AutoSave) Save();
}

void ProcessLog::Save() const {
  if (Path.isEmpty()) return;
  QString text;
  for (const ProcessLogEntry& entry : Records) text += FormatLine(entry) + kLineEnd;
  const QByteArray bytes = text.toUtf8();
  QSaveFile file(Path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
    throw QuillomarError(QStringLiteral("Cannot write %1: %2").arg(Path, file.errorString()));
}

QString LogTimeText() {
  const QDateTime now = QDateTime::currentDateTime();
  const QLocale locale = QLocale::system();
  // The long time format without its time-zone part.
  QString timeFormat = locale.timeFormat(QLocale::LongFormat);
  timeFormat.remove(QRegularExpression(QStringLiteral("\\s*t+")));
  return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(now.time(), timeFormat.trimmed());
}
