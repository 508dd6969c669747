#include "imaging/ColorReduce.h"

#include <libimagequant.h>

#include <algorithm>
#include <array>
#include <cmath>
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
  for (std::uint32_t rgb : set.Palette())
    table.append(qRgb(rgb >> 16, (rgb >> 8) & 255, rgb & 255));
  indexed.setColorTable(table);
  return indexed;
}

// libimagequant objects released on every path.
struct LiqDeleter {
  void operator()(liq_attr* p) const { liq_attr_destroy(p); }
  void operator()(liq_image* p) const { liq_image_destroy(p); }
  void operator()(liq_result* p) const { liq_result_destroy(p); }
  void operator()(liq_histogram* p) const { liq_histogram_destroy(p); }
};
template <typename T>
using LiqPtr = std::unique_ptr<T, LiqDeleter>;

// Palette entries as plain RGB, for the remapping below.
struct Rgb {
  int R, G, B;
};

// Nearest palette entry of a colour, remembered per cell of 4 x 4 x 4 colour values (the colour
// at the cell's centre stands for the cell): one table look-up per pixel instead of a search of
// the palette. The choice is off by at most two levels per channel from the true nearest entry,
// which error diffusion then spreads like any other remainder.
class NearestCache {
 public:
  explicit NearestCache(const std::vector<Rgb>& palette)
      : Palette(palette), Cells(std::size_t(1) << 18, kUnknown) {}

  int IndexOf(int r, int g, int b) {
    const std::size_t cell = std::size_t(r >> 2) << 12 | std::size_t(g >> 2) << 6 | (b >> 2);
    std::uint16_t& index = Cells[cell];
    if (index == kUnknown) index = std::uint16_t(Search((r & ~3) + 2, (g & ~3) + 2, (b & ~3) + 2));
    return index;
  }

 private:
  static constexpr std::uint16_t kUnknown = 0xFFFF;
  int Search(int r, int g, int b) const {
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < int(Palette.size()); ++i) {
      const int dr = r - Palette[i].R, dg = g - Palette[i].G, db = b - Palette[i].B;
      const int distance = dr * dr + dg * dg + db * db;
      if (distance < bestDistance) {
        bestDistance = distance;
        best = i;
      }
    }
    return best;
  }
  const std::vector<Rgb>& Palette;
  std::vector<std::uint16_t> Cells;
};

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Maps every pixel to the nearest palette entry.
void RemapNearest(const QImage& bgr, const std::vector<Rgb>& palette, QImage& indexed) {
  NearestCache cache(palette);
  for (int y = 0; y < bgr.height(); ++y) {
    const uchar* src = bgr.constScanLine(y);
    uchar* dst = indexed.scanLine(y);
    for (int x = 0; x < bgr.width(); ++x, src += 3)
      dst[x] = uchar(cache.IndexOf(src[2], src[1], src[0]));
  }
}

// Maps every pixel to the palette with Floyd-Steinberg error diffusion, in serpentine order
// (each row runs the other way than the one before, which avoids the diagonal drift of
// one-way scanning). Errors are kept in sixteenths.
void RemapFloydSteinberg(const QImage& bgr, const std::vector<Rgb>& palette, QImage& indexed) {
  NearestCache cache(palette);
  const int width = bgr.width();
  // Error rows with one cell of margin on each side, three channels per pixel.
  std::vector<int> current(std::size_t(width + 2) * 3, 0);
  std::vector<int> next(std::size_t(width + 2) * 3, 0);
  for (int y = 0; y < bgr.height(); ++y) {
    const uchar* src = bgr.constScanLine(y);
    uchar* dst = indexed.scanLine(y);
    const bool leftToRight = (y & 1) == 0;
    const int step = leftToRight ? 1 : -1;
    std::fill(next.begin(), next.end(), 0);
    for (int i = 0; i < width; ++i) {
      const int x = leftToRight ? i : width - 1 - i;
      int* here = &current[std::size_t(x + 1) * 3];
      const int r = Clamp255(src[3 * x + 2] + ((here[0] + 8) >> 4));
      const int g = Clamp255(src[3 * x + 1] + ((here[1] + 8) >> 4));
      const int b = Clamp255(src[3 * x + 0] + ((here[2] + 8) >> 4));
      const int index = cache.IndexOf(r, g, b);
      dst[x] = uchar(index);
      const int error[3] = {r - palette[std::size_t(index)].R, g - palette[std::size_t(index)].G,
                            b - palette[std::size_t(index)].B};
      int* ahead = here + 3 * step;
      int* below = &next[std::size_t(x + 1) * 3];
      int* belowBehind = below - 3 * step;
      int* belowAhead = below + 3 * step;
      for (int c = 0; c < 3; ++c) {
        ahead[c] += error[c] * 7;
        belowBehind[c] += error[c] * 3;
        below[c] += error[c] * 5;
        belowAhead[c] += error[c];
      }
    }
    std::swap(current, next);
  }
}

// Up to about a million pixels of the picture, taken on a regular grid (shifted from row to
// row), as RGBA for libimagequant's histogram: the palette of a photo is found as well from a
// sample as from every pixel, in a fraction of the time.
std::vector<liq_color> SampleForHistogram(const QImage& bgr, int& sampleWidth, int& sampleHeight) {
  const double pixels = double(bgr.width()) * bgr.height();
  const int stride = std::max(1, int(std::ceil(std::sqrt(pixels / (1 << 20)))));
  sampleWidth = std::max(1, bgr.width() / stride);
  sampleHeight = std::max(1, bgr.height() / stride);
  std::vector<liq_color> sample(std::size_t(sampleWidth) * std::size_t(sampleHeight));
  liq_color* out = sample.data();
  for (int sy = 0; sy < sampleHeight; ++sy) {
    const int y = std::min(bgr.height() - 1, sy * stride + (sy * 7) % stride);
    const uchar* src = bgr.constScanLine(y);
    const int shift = (sy * 3) % stride;
    for (int sx = 0; sx < sampleWidth; ++sx) {
      const uchar* p = src + 3 * std::min(bgr.width() - 1, sx * stride + shift);
      *out++ = liq_color{p[2], p[1], p[0], 255};
    }
  }
  return sample;
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

  // libimagequant chooses the palette from a sample of the picture; the pixels are then mapped
  // here, which is several times faster than libimagequant's own remapping of a whole photo.
  LiqPtr<liq_attr> attr(liq_attr_create());
  if (!attr) throw PictureError(LiqErrorText(LIQ_OUT_OF_MEMORY));
  liq_set_max_colors(attr.get(), colors);
  int sampleWidth = 0, sampleHeight = 0;
  std::vector<liq_color> sample = SampleForHistogram(bgr, sampleWidth, sampleHeight);
  LiqPtr<liq_image> image(
      liq_image_create_rgba(attr.get(), sample.data(), sampleWidth, sampleHeight, 0.0));
  LiqPtr<liq_histogram> histogram(liq_histogram_create(attr.get()));
  if (!image || !histogram) throw PictureError(LiqErrorText(LIQ_OUT_OF_MEMORY));
  if (const liq_error error = liq_histogram_add_image(histogram.get(), attr.get(), image.get());
      error != LIQ_OK)
    throw PictureError(LiqErrorText(error));
  liq_result* rawResult = nullptr;
  if (const liq_error error = liq_histogram_quantize(histogram.get(), attr.get(), &rawResult);
      error != LIQ_OK)
    throw PictureError(LiqErrorText(error));
  LiqPtr<liq_result> result(rawResult);

  const liq_palette* liqPalette = liq_get_palette(result.get());
  std::vector<Rgb> palette;
  QList<QRgb> table;
  for (unsigned i = 0; i < liqPalette->count; ++i) {
    const liq_color& c = liqPalette->entries[i];
    palette.push_back(Rgb{c.r, c.g, c.b});
    table.append(qRgb(c.r, c.g, c.b));
  }
  if (palette.empty()) throw PictureError(LiqErrorText(LIQ_VALUE_OUT_OF_RANGE));

  QImage indexed = NewPictureImage(bgr.width(), bgr.height(), QImage::Format_Indexed8);
  if (dither)
    RemapFloydSteinberg(bgr, palette, indexed);
  else
    RemapNearest(bgr, palette, indexed);
  indexed.setColorTable(table);
  indexed.setDotsPerMeterX(picture.dotsPerMeterX());
  indexed.setDotsPerMeterY(picture.dotsPerMeterY());
  return indexed;
}
