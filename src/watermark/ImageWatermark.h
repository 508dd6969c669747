#pragma once

#include <QImage>
#include <QString>

#include "imaging/Picture.h"

// The image logo: a picture file laid over the working picture with its own transparency, an
// optional keyed-out background colour and a master opacity.

// The logo options of a job.
struct ImageLogoOptions {
  int Transparence = 60;           // opacity in percent, 0 (invisible) .. 100 (opaque)
  int Position = 9;                // position index (see GetWatermarkPos)
  bool RemoveBackground = false;   // key out BackgroundColor
  int BackgroundColor = 16777215;  // colour value (red + 256 x green + 65536 x blue; negative:
                                   // a system colour); white
};

// Makes every pixel of logo whose red, green and blue equal color exactly (no tolerance)
// transparent (alpha 0), leaving its colour bytes; nothing else changes. logo must be
// QImage::Format_ARGB32 (other forms are left alone). color is a colour value; a system colour
// is resolved first.
void RemoveBackgroundColor(QImage& logo, int color);

// Reads a logo file (any format the picture library reads) into a QImage::Format_ARGB32 raster
// of the file's size, keeping the file's own transparency; pixels of a file without
// transparency are opaque. Throws PictureError when the file cannot be read.
QImage ReadLogo(const QString& path);

// Lays logo (Format_ARGB32) onto picture with its top-left corner at (x, y), pixels of the
// picture; logo pixels outside the picture are dropped. With m = trunc(transparence x 2.55)
// (transparence clamped to 0..100) each covered pixel gets the weight a = logo alpha x m / 255
// and each colour channel becomes picture + (logo - picture) x a / 255 (integer arithmetic,
// truncating toward zero). The result is 24-bit (Format_BGR888); picture.Alpha is not touched.
void BlendLogo(Picture& picture, const QImage& logo, int x, int y, int transparence);

// Stamps the logo file at imagePath on the picture (the working picture, after resizing) at
// the options' position and opacity, after keying out the background colour when asked.
// Returns true when the logo was stamped; false when no file exists at imagePath or when the
// file cannot be read or stamping fails, and the picture is then unchanged. Never throws.
bool AddImageWatermark(Picture& picture, const QString& imagePath, const ImageLogoOptions& options);
