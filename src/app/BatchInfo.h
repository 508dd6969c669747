#pragma once

#include <QString>

// The picture-list row of a file as one line of text, tab-separated: path, format
// description, "W x H", colour count, file size and horizontal DPI.
QString PictureInfoLine(const QString& path);
