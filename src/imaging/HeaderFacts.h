#pragma once

#include <QString>

#include "imaging/PictureFileType.h"

// What the picture reader reports from a file's header alone, without decoding the pixels.
struct HeaderFacts {
  int FileType = PictureFileType::Unknown;  // 0 when the file could not be read
  QString FormatDescription;                // the reader's name for the format
  int Width = 0;                            // pixels
  int Height = 0;                           // pixels
  int BitsPerSample = 0;
  int SamplesPerPixel = 0;
  int DpiX = 0;  // dots per inch; the library default when the file does not say
  int DpiY = 0;
};
