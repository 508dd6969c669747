#pragma once

#include <QString>

// The new file name that the rename template gives for a source file name (a path is allowed;
// only its name part is used) and a counter. The result ends with the source's extension. An
// empty template gives the name unchanged.
QString MakeNewName(const QString& nameTemplate, const QString& fileName, int counter);

// The text with every occurrence of pattern replaced, scanning from the left; text brought in
// by a replacement is never searched again. Exact, case-sensitive comparison. An empty pattern
// changes nothing.
QString ReplaceAll(const QString& text, const QString& pattern, const QString& replacement);
