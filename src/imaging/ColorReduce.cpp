#include "imaging/ColorReduce.h"

#include <libimagequant.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"

namespace {

// A small open-addressing set of up to 256 colours (24-bit values), with the palette index of
// each; used to find out whether a picture fits a palette without quantising it.
class ColorSet {
 public:
  // Index of the colour, adding it when it is new; -1 when the set already holds limit colours.
  int IndexOf(std::uint32_t rgb, int limit) {
    if (rgb == LastColor) return LastIndex;
    std::uint32_t slot = (rgb * 2654435761u) >> (32 - kBits);
    while (Keys[slot] != kEmpty) {
      if (Keys[slot] == rgb) return Remember(rgb, Indices[slot]);
      slot = (slot + 1) & (kSize - 1);
    }
    if (int(Colors.size()) >= limit) return -1;
    Keys[slot] = rgb;
    Indices[slot] = std::uint8_t(Colors.size());
    Colors.push_back(rgb);
    return Remember(rgb, Indices[slot]);
  }
  const std::vector<std::uint32_t>& Palette() const { return Colors; }

 private:
  static constexpr int kBits = 10;  // 1024 slots for at most 256 colours: short probes
  static constexpr std::uint32_t kSize = 1u << kBits;
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  int Remember(std::uint32_t rgb, int index) {
    LastColor = rgb;
    LastIndex = index;
    return index;
  }
  std::array<std::uint32_t, kSize> Keys = [] {
    std::array<std::uint32_t, kSize> keys;
    keys.fill(kEmpty);
    return keys;
  }();
  std::array<std::uint8_t, kSize> Indices{};
  std::vector<std::uint32_t> Colors;
  std::uint32_t LastColor = kEmpty;
  int LastIndex = 0;
};

inline std::uint32_t PixelAt(const uchar* p) {
  return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];  // stored B, G, R
}

// The picture with its exact palette when it has at most `colors` colours; a null image
// otherwise. Stops at the first pixel that does not fit.
QImage ExactPalette(const QImage& bgr, int colors) {
  ColorSet set;
  const int width = bgr.width();
  const int height = bgr.height();
  QImage indexed = NewPictureImage(width, height, QImage::Format_Indexed8);
  for (int y = 0; y < height; ++y) {
    const uchar* src = bgr.constScanLine(y);
    uchar* dst = indexed.scanLine(y);
    for (int x = 0; x < width; ++x) {
      const int index = set.IndexOf(PixelAt(src + 3 * x), colors);
      if (index < 0) return {};
      dst[x] = uchar(index);
    }
  }
  QList<QRgb> table;
  for (std::uint32_t rgb : set.Palette()) table.append(qRgb(rgb >> 16, (rgb >> 8) & 255, rgb & 255));
  indexed.setColorTable(table);
  return indexed;
}

// libimagequant objects released on every path.
struct LiqDeleter {
  void operator()(liq_attr* p) const { liq_attr_destroy(p); }
  void operator()(liq_image* p) const { liq_image_destroy(p); }
  void operator()(liq_result* p) const { liq_result_destroy(p); }
};
template <typename T>
using LiqPtr = std::unique_ptr<T, LiqDeleter>;

// Rows handed to libimagequant on request: each BGR row is turned into RGBA in a buffer of the
// caller (libimagequant may ask for a row more than once and from several threads; each call
// writes only its own output row).
void BgrRowToRgba(liq_color rowOut[], int row, int width, void* userInfo) {
  const QImage& bgr = *static_cast<const QImage*>(userInfo);
  const uchar* src = bgr.constScanLine(row);
  for (int x = 0; x < width; ++x, src += 3) rowOut[x] = liq_color{src[2], src[1], src[0], 255};
}

QString LiqErrorText(liq_error error) {
  return error == LIQ_OUT_OF_MEMORY
             ? QStringLiteral("Not enough memory to reduce the colours of the picture.")
             : QStringLiteral("The colours of the picture could not be reduced (error %1).")
                   .arg(int(error));
}

}  // namespace

int CountColors(const QImage& bgr, int limit) {
  limit = std::clamp(limit, 0, 256);
  ColorSet set;
  for (int y = 0; y < bgr.height(); ++y) {
    const uchar* src = bgr.constScanLine(y);
    for (int x = 0; x < bgr.width(); ++x)
      if (set.IndexOf(PixelAt(src + 3 * x), limit) < 0) return limit + 1;
  }
  return int(set.Palette().size());
}

QImage ReduceColors(const QImage& picture, int colors, bool dither) {
  if (picture.isNull()) return {};
  colors = std::clamp(colors, 2, 256);
  const QImage bgr = picture.format() == QImage::Format_BGR888
                         ? picture
                         : picture.convertToFormat(QImage::Format_BGR888);
  if (bgr.isNull()) throw PictureError(QStringLiteral("Not enough memory to reduce the colours."));
  CheckPictureSize(bgr.width(), bgr.height());

  if (QImage exact = ExactPalette(bgr, colors); !exact.isNull()) return exact;

  LiqPtr<liq_attr> attr(liq_attr_create());
  if (!attr) throw PictureError(LiqErrorText(LIQ_OUT_OF_MEMORY));
  liq_set_max_colors(attr.get(), colors);
  // Speed 8 samples the picture's colours instead of weighing every pixel: on photos the palette
  // is nearly as good and the quantisation several times faster.
  liq_set_speed(attr.get(), 8);

  LiqPtr<liq_image> image(liq_image_create_custom(attr.get(), BgrRowToRgba,
                                                  const_cast<QImage*>(&bgr), bgr.width(),
                                                  bgr.height(), 0.0));
  if (!image) throw PictureError(LiqErrorText(LIQ_OUT_OF_MEMORY));

  liq_result* rawResult = nullptr;
  if (const liq_error error = liq_image_quantize(image.get(), attr.get(), &rawResult);
      error != LIQ_OK)
    throw PictureError(LiqErrorText(error));
  LiqPtr<liq_result> result(rawResult);
  liq_set_dithering_level(result.get(), dither ? 1.0f : 0.0f);

  QImage indexed = NewPictureImage(bgr.width(), bgr.height(), QImage::Format_Indexed8);
  std::vector<unsigned char*> rows(std::size_t(bgr.height()));
  for (int y = 0; y < bgr.height(); ++y) rows[std::size_t(y)] = indexed.scanLine(y);
  if (const liq_error error = liq_write_remapped_image_rows(result.get(), image.get(), rows.data());
      error != LIQ_OK)
    throw PictureError(LiqErrorText(error));

  const liq_palette* palette = liq_get_palette(result.get());
  QList<QRgb> table;
  for (unsigned i = 0; i < palette->count; ++i)
    table.append(qRgb(palette->entries[i].r, palette->entries[i].g, palette->entries[i].b));
  indexed.setColorTable(table);
  indexed.setDotsPerMeterX(picture.dotsPerMeterX());
  indexed.setDotsPerMeterY(picture.dotsPerMeterY());
  return indexed;
}
