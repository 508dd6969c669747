#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

// The EXIF values a text watermark can show, read from a picture's EXIF block.

struct ExifValues {
  // Tag 306 (0x0132) as stored, e.g. "2008:04:20 19:12:06"; empty when absent.
  QString DateTime;
  // Tag 33432 (0x8298) up to its first NUL; empty when absent.
  QString Copyright;
  // Tag 37378 (0x9202), an APEX value (f/2.8 is stored as about 2.97); 0 when absent.
  double Aperture = 0;
  // Tag 37377 (0x9201), an APEX value (1/50 s is about 5.64); 0 when absent.
  double ShutterSpeed = 0;
};

// Reads the four values from exif, the TIFF-structured EXIF block of PictureParams (beginning
// with its byte-order mark; a leading "Exif\0\0" is accepted too). A tag that is missing, of the
// wrong type, or damaged gives its empty value, as does an empty or unreadable block; a rational
// with a zero denominator counts as 0. Texts are UTF-8, or Windows-1252 when not valid UTF-8.
// Never throws.
ExifValues ReadExifValues(const QByteArray& exif);

// A number in the general format: up to 15 significant digits, no trailing zeros, the locale's
// decimal separator, no group separators (2.97, 5.643856, 0).
QString FormatExifNumber(double value, const QLocale& locale = QLocale::system());
