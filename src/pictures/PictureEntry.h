#pragma once

#include <QString>
#include <array>

#include "imaging/HeaderFacts.h"

// One row of the picture list: the file's full path, as it was added (the row's identity,
// compared exactly, letter case included), and the five texts shown beside it. No number is
// kept; every consumer reads the path.
struct PictureEntry {
  enum Column { Filename = 0, FileType, Dimensions, Colors, FileSize, Dpi, ColumnCount };

  QString Path;
  std::array<QString, 5> Facts;  // columns 1..5: type, "W x H", colours, size, DPI

  // The text of column 0..5.
  QString Text(int column) const;
};

// The row for path: the reader's format description, width " x " height, the colour count of
// bits per sample x samples per pixel, the file size now on disk and the horizontal DPI.
PictureEntry MakePictureEntry(const QString& path, const HeaderFacts& facts);
