#pragma once

#include <QString>

// Small text and file helpers shared by several parts of the program.

// Short name of a picture file type code (0 "Unknown", 1 "TIFF", 2 "GIF", 3 "JPEG", ...);
// a code outside 0..19 gives "USER Define".
QString FileTypeName(int code);

// Colour count text for a number of bits per pixel: 1 "2" ... 8 "256", 16 "65,536",
// 24 "16 M", 32 "32 M"; any other number, 0 included, "Unknown".
QString ColorCountText(int bitsPerPixel);

// Size of a file as shown in the picture list: "0k", "0.5k", "2k", "1024k", "1.5M", "2M".
// Values are rounded to the nearest, a tie going to the even neighbour; the decimal sign is a
// point whatever the locale. A negative size (a vanished file) gives "0.0k".
QString FileSizeText(qint64 bytes);

// Size in bytes of the file at path (made absolute first, hidden files included); -1 when no
// such file exists.
qint64 FileSizeOf(const QString& path);
