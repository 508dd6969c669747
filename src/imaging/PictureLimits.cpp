#include "imaging/PictureLimits.h"

#include "imaging/PictureError.h"

void CheckPictureSize(long long width, long long height) {
  if (width <= 0 || height <= 0)
    throw PictureError(QStringLiteral("The picture has no pixels (%1 x %2).").arg(width).arg(height));
  if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
    throw PictureError(QStringLiteral("The picture is too large (%1 x %2 pixels).").arg(width).arg(height));
}

QImage NewPictureImage(int width, int height, QImage::Format format) {
  CheckPictureSize(width, height);
  QImage image(width, height, format);
  if (image.isNull())
    throw PictureError(QStringLiteral("Not enough memory for a %1 x %2 picture.").arg(width).arg(height));
  return image;
}
