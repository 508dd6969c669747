#pragma once

#include <QByteArray>
#include <QString>

// Text files written by the program are UTF-8. Files written by older Windows installations
// are in the ANSI code page; such a file is not valid UTF-8 and is read as Windows-1252.

// Decodes bytes as UTF-8 (a leading byte-order mark is dropped); bytes that are not valid
// UTF-8 are decoded as Windows-1252 instead.
QString DecodeTextFile(const QByteArray& bytes);

// Decodes bytes as Windows-1252 (the five unassigned codes map to the same code points).
QString DecodeWindows1252(const QByteArray& bytes);
