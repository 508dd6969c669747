#include "imaging/Canvas.h"

#include <algorithm>
#include <cstring>

#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"

int CanvasOffset(int oldSize, int newSize, int align) {
  switch (align) {
    case CanvasAlign::Centre:
      // Integer division truncates toward zero: growing by an odd amount leaves the extra
      // pixel after the picture, shrinking by an odd amount cuts it from the end.
      return (newSize - oldSize) / 2;
    case CanvasAlign::End:
      return newSize - oldSize;
    default:
      return 0;
  }
}

QImage ResizeCanvas(const QImage& sourceIn, int width, int height, int align, int valign,
                    const QColor& fill) {
  if (sourceIn.isNull()) throw PictureError(QStringLiteral("There is no picture to resize."));
  QImage source = sourceIn;
  if (source.format() != QImage::Format_BGR888 && source.format() != QImage::Format_Grayscale8) {
    source = source.convertToFormat(QImage::Format_BGR888);
    if (source.isNull())
      throw PictureError(QStringLiteral("Not enough memory to resize the picture."));
  }
  const int w0 = source.width();
  const int h0 = source.height();
  if (width == w0 && height == h0) return source;

  QImage result = NewPictureImage(width, height, source.format());
  const int channels = source.format() == QImage::Format_Grayscale8 ? 1 : 3;
  const QColor rgb = fill.toRgb();
  const uint8_t pixel[3] = {uint8_t(rgb.blue()), uint8_t(rgb.green()), uint8_t(rgb.red())};
  const uint8_t grey = uint8_t(qGray(rgb.rgb()));

  const int dx = CanvasOffset(w0, width, align);
  const int dy = CanvasOffset(h0, height, valign);
  // Columns of the source that land on the canvas, and where they land.
  const int fromX = std::max(0, -dx);
  const int toX = std::min(w0, width - dx);
  for (int y = 0; y < height; ++y) {
    uint8_t* out = result.scanLine(y);
    if (channels == 1) {
      std::memset(out, grey, size_t(width));
    } else {
      for (int x = 0; x < width; ++x) std::memcpy(out + 3 * x, pixel, 3);
    }
    const int sy = y - dy;
    if (sy < 0 || sy >= h0 || toX <= fromX) continue;
    const uint8_t* in = source.constScanLine(sy);
    std::memcpy(out + size_t(fromX + dx) * channels, in + size_t(fromX) * channels,
                size_t(toX - fromX) * channels);
  }
  return result;
}

void ResizePictureCanvas(Picture& picture, int width, int height, int align, int valign,
                         const QColor& fill) {
  QImage image = ResizeCanvas(picture.Image, width, height, align, valign, fill);
  QImage alpha;
  if (picture.HasAlpha()) {
    alpha = ResizeCanvas(picture.Alpha.convertToFormat(QImage::Format_Grayscale8), width, height,
                         align, valign, QColor(255, 255, 255));
  }
  picture.Image = std::move(image);
  picture.Alpha = std::move(alpha);
}
