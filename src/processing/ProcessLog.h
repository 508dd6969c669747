#pragma once

#include <QString>
#include <vector>

// One record of the processing log.
struct ProcessLogEntry {
  QString Time;
  QString Title;
  QString Description;

  bool operator==(const ProcessLogEntry&) const = default;
};

// The processing log: the records of written output files, oldest first, kept in a text file
// ("Log.dat" in AppDir), one record per line ending in CR LF:
//   "[" time "]" title-with-every-">"-doubled ">" description
// The log keeps itself small: after each record, the oldest records beyond those whose lines
// (line end included) first reach SizeLimit characters, counted from the newest, are dropped.
class ProcessLog {
 public:
  static constexpr int kDefaultSizeLimit = 5000;

  // Points the log at path and reads the file when it exists (the records are replaced).
  void SetFileName(const QString& path);
  const QString& FileName() const { return Path; }

  bool Active = true;    // records are only added while active
  bool AutoSave = true;  // save the file after every change
  int SizeLimit = kDefaultSizeLimit;

  // Appends a record, trims to the size limit and, with AutoSave, saves. Nothing happens while
  // the log is not active. Throws QuillomarError when the file cannot be written.
  void Add(const QString& time, const QString& title, const QString& description);

  // Removes every record and, with AutoSave, leaves the file empty. Throws QuillomarError when
  // the file cannot be written.
  void Clear();

  // Writes every record to the file, replacing it. Throws QuillomarError on failure; does
  // nothing when no file name is set.
  void Save() const;

  const std::vector<ProcessLogEntry>& Entries() const { return Records; }

  // The file line of a record, without the line end.
  static QString FormatLine(const ProcessLogEntry& entry);
  // The record of a file line; false for a line without the bracketed time.
  static bool ParseLine(const QString& line, ProcessLogEntry* entry);
  // The records of a whole file's text.
  static std::vector<ProcessLogEntry> ParseText(const QString& text);

 private:
  void Trim();

  QString Path;
  std::vector<ProcessLogEntry> Records;
};

// The current date and time as the log's time text: the system's short date, a blank, and
// the time with seconds.
QString LogTimeText();
