#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// An INI text file held in memory: sections of lines, read and written whole.
//
// Reading: every line is trimmed; empty lines and lines beginning with ";" are dropped; a line
// "[name]" opens a section (name trimmed); a section line holding "=" is a key (text before the
// first "=", trimmed) and a value (the rest, trimmed); other section lines are kept but name no
// key; lines before the first section are dropped. Sections and keys are found regardless of
// letter case. The file is decoded as UTF-8, or as Windows-1252 when it is not valid UTF-8.
//
// Writing: a written key replaces its line in the section or is appended to the section; a new
// section is appended to the file. Save writes every section as "[name]", its lines and one
// empty line, in UTF-8 with CR LF line ends. Unknown keys and sections therefore survive.
class IniFile {
 public:
  IniFile() = default;

  // Reads the file at path; a missing or unreadable file gives an empty IniFile.
  static IniFile Load(const QString& path);
  // Parses INI text.
  static IniFile FromText(const QString& text);

  // The trimmed value of key in section, or defaultValue when the section or key is missing.
  QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
  // The value as an integer (decimal, or "0x" hexadecimal); defaultValue when missing, empty or
  // not an integer.
  int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
  // On for any integer other than 0; defaultValue when missing, empty or not an integer.
  bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, int value);
  void WriteBool(const QString& section, const QString& key, bool value);

  // Whether the key is present in the section.
  bool HasKey(const QString& section, const QString& key) const;
  QStringList SectionNames() const;

  // The file's text as Save writes it (CR LF line ends).
  QString ToText() const;
  // Writes the whole file, replacing it only when the write succeeded. Throws QuillomarError
  // when the file cannot be written.
  void Save(const QString& path) const;

 private:
  struct Section {
    QString Name;
    QStringList Lines;
  };

  const Section* FindSection(const QString& name) const;
  // Index of the line of key in section, or -1.
  static qsizetype FindKeyLine(const Section& section, const QString& key);

  std::vector<Section> Sections;
};
