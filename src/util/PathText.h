#pragma once

#include <QString>

// Path texts as the program builds them: folders always end in the platform's separator.

// The platform's folder separator: "\" on Windows, "/" elsewhere.
QChar PathSeparator();

// The path with the platform's separator appended when its last character is not one; an
// empty path gives the separator alone (the root folder).
QString WithTrailingBackslash(const QString& path);

// The file name part of a path (after the last "/" or platform separator).
QString FileNameOf(const QString& path);

// The folder part of a path, with its final separator; empty when there is none.
QString FolderOf(const QString& path);

// The extension of a path's file name with its dot, in its own letter case; empty when there
// is none.
QString ExtensionOf(const QString& path);
