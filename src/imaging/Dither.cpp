#include "imaging/Dither.h"

#include <algorithm>
#include <cstdint>

#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"

namespace {

// The 8 x 8 Bayer matrix: each value 0..63 appears once, so that any flat grey level turns into
// an even pattern with the right share of white pixels.
constexpr std::uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};

}  // namespace

QImage DitherToBlackAndWhite(const QImage& picture) {
  if (picture.isNull()) return {};
  const QImage bgr = picture.format() == QImage::Format_BGR888
                         ? picture
                         : picture.convertToFormat(QImage::Format_BGR888);
  const int width = bgr.width();
  const int height = bgr.height();
  QImage mono = NewPictureImage(width, height, QImage::Format_Mono);
  mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  mono.setDotsPerMeterX(picture.dotsPerMeterX());
  mono.setDotsPerMeterY(picture.dotsPerMeterY());

  // A pixel is white when its luminance (scaled by 1000) exceeds the threshold of its matrix
  // cell; thresholds lie strictly between 0 and 255 so that black and white are kept.
  int threshold[8][8];
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) threshold[y][x] = (kBayer[y][x] * 4 + 2) * 1000;

  for (int y = 0; y < height; ++y) {
    const uchar* src = bgr.constScanLine(y);
    uchar* dst = mono.scanLine(y);
    const int* rowThreshold = threshold[y & 7];
    const int bytes = (width + 7) / 8;
    for (int i = 0; i < bytes; ++i) {
      uchar bits = 0;
      const int end = std::min(8, width - i * 8);
      for (int k = 0; k < end; ++k) {
        const uchar* p = src + 3 * (i * 8 + k);
        const int luminance = 114 * p[0] + 587 * p[1] + 299 * p[2];
        if (luminance > rowThreshold[k]) bits |= uchar(0x80 >> k);
      }
      dst[i] = bits;
    }
  }
  return mono;
}

QImage MonoToBgr(const QImage& mono) {
  if (mono.isNull()) return {};
  CheckPictureSize(mono.width(), mono.height());
  QImage source = mono;
  if ((source.format() == QImage::Format_Mono || source.format() == QImage::Format_MonoLSB) &&
      source.colorCount() < 2)
    source.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  QImage bgr = source.convertToFormat(QImage::Format_BGR888);
  if (bgr.isNull()) throw PictureError(QStringLiteral("Not enough memory to convert the picture."));
  return bgr;
}
