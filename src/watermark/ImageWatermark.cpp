#include "watermark/ImageWatermark.h"

#include <QFileInfo>
#include <QRgb>
#include <exception>

#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"
#include "texteffects/TextCanvas.h"
#include "watermark/WatermarkPlacement.h"

void RemoveBackgroundColor(QImage& logo, int color) {
  if (logo.format() != QImage::Format_ARGB32) return;
  const QRgb key = ColorToRgb(color) & 0x00FFFFFFu;
  for (int row = 0; row < logo.height(); ++row) {
    auto* line = reinterpret_cast<QRgb*>(logo.scanLine(row));
    for (int col = 0; col < logo.width(); ++col)
      if ((line[col] & 0x00FFFFFFu) == key) line[col] &= 0x00FFFFFFu;
  }
}

QImage ReadLogo(const QString& path) {
  const Picture source = ReadPicture(path);
  QImage logo = source.Image.convertToFormat(QImage::Format_ARGB32);
  if (logo.isNull()) throw PictureError(QStringLiteral("Out of memory reading %1").arg(path));
  if (source.HasAlpha() && source.Alpha.size() == logo.size()) {
    const QImage alpha = source.Alpha.convertToFormat(QImage::Format_Grayscale8);
    for (int row = 0; row < logo.height(); ++row) {
      auto* line = reinterpret_cast<QRgb*>(logo.scanLine(row));
      const uchar* a = alpha.constScanLine(row);
      for (int col = 0; col < logo.width(); ++col)
        line[col] = (line[col] & 0x00FFFFFFu) | (QRgb(a[col]) << 24);
    }
  }
  return logo;
}

void BlendLogo(Picture& picture, const QImage& logo, int x, int y, int transparence) {
  // Work on a copy so that the picture changes only as a whole.
  QImage work = picture.Image.convertToFormat(QImage::Format_BGR888);
  if (work.isNull() && !picture.Image.isNull())
    throw PictureError(QStringLiteral("Out of memory stamping the logo"));
  const int master = qBound(0, transparence, 100) * 255 / 100;  // trunc(transparence x 2.55)
  // The part of the logo that falls on the picture, in logo coordinates (64-bit so that far-off
  // positions cannot overflow).
  const long long fromCol = qMax(0LL, -static_cast<long long>(x));
  const long long fromRow = qMax(0LL, -static_cast<long long>(y));
  const long long toCol = qMin<long long>(logo.width(), static_cast<long long>(work.width()) - x);
  const long long toRow = qMin<long long>(logo.height(), static_cast<long long>(work.height()) - y);
  if (master > 0 && logo.format() == QImage::Format_ARGB32) {
    for (long long row = fromRow; row < toRow; ++row) {
      const auto* source = reinterpret_cast<const QRgb*>(logo.constScanLine(int(row)));
      uchar* target = work.scanLine(int(row + y)) + (fromCol + x) * 3;
      for (long long col = fromCol; col < toCol; ++col, target += 3) {
        const QRgb pixel = source[col];
        const int a = qAlpha(pixel) * master / 255;
        if (a == 0) continue;
        // Format_BGR888 keeps blue, green, red in that order.
        const int logoChannels[3] = {qBlue(pixel), qGreen(pixel), qRed(pixel)};
        for (int c = 0; c < 3; ++c)
          target[c] = static_cast<uchar>(target[c] + (logoChannels[c] - target[c]) * a / 255);
      }
    }
  }
  picture.Image = work;
}

bool AddImageWatermark(Picture& picture, const QString& imagePath,
                       const ImageLogoOptions& options) {
  if (imagePath.isEmpty() || !QFileInfo::exists(imagePath)) return false;
  try {
    QImage logo = ReadLogo(imagePath);
    if (options.RemoveBackground) RemoveBackgroundColor(logo, options.BackgroundColor);
    const QPoint at = GetWatermarkPos(picture, logo.width(), logo.height(), options.Position);
    Picture stamped = picture;
    BlendLogo(stamped, logo, at.x(), at.y(), options.Transparence);
    picture.Image = stamped.Image;
    return true;
  } catch (const std::exception&) {
    // An unreadable logo (or no memory) leaves the picture as it was; the caller goes on.
    return false;
  }
}
