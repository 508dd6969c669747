#include "pictures/PictureEntry.h"

#include "util/uFunction.h"

QString PictureEntry::Text(int column) const {
  if (column == Filename) return Path;
  if (column > Filename && column < ColumnCount) return Facts[column - 1];
  return {};
}

PictureEntry MakePictureEntry(const QString& path, const HeaderFacts& facts) {
  PictureEntry entry;
  entry.Path = path;
  entry.Facts[0] = facts.FormatDescription;
  entry.Facts[1] = QStringLiteral("%1 x %2").arg(facts.Width).arg(facts.Height);
  entry.Facts[2] = ColorCountText(facts.BitsPerSample * facts.SamplesPerPixel);
  entry.Facts[3] = FileSizeText(FileSizeOf(path));
  entry.Facts[4] = QString::number(facts.DpiX);
  return entry;
}
