#pragma once

#include <QString>

// Path texts as the program builds them: folders always end in the platform's separator.

// The platform's folder separator: "\" on Windows, "/" elsewhere.
QChar PathSeparator();

// The path with the platform's separator appended when its last character is not one; an
// empty path gives the separator alone (the root folder).
QString WithTrailingBackslash(const QString& path);
