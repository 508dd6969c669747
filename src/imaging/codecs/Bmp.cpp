// Windows bitmaps (.bmp, .dib, .rle): our own reader and writer.
//
// Reads the OS/2 1.x core header, the OS/2 2.x header and BITMAPINFOHEADER with its V2-V5
// extensions; 1/2/4/8-bit palette pixels, 16- and 32-bit pixels with channel masks, 24-bit
// pixels, RLE8 and RLE4, bottom-up and top-down. Writes 1, 4, 8 and 24-bit uncompressed files.

#include "imaging/codecs/Bmp.h"

#include <QIODevice>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/ColorReduce.h"
#include "imaging/Dither.h"
#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

[[noreturn]] void Fail(const QString& text) { throw PictureError(text); }
[[noreturn]] void Truncated() { Fail(QStringLiteral("The bitmap is truncated.")); }

bool Has(ByteView d, std::size_t offset, std::size_t count) {
  return offset <= d.size() && d.size() - offset >= count;
}

std::uint16_t U16(ByteView d, std::size_t offset) {
  if (!Has(d, offset, 2)) Truncated();
  return static_cast<std::uint16_t>(d[offset] | (d[offset + 1] << 8));
}

std::uint32_t U32(ByteView d, std::size_t offset) {
  if (!Has(d, offset, 4)) Truncated();
  return std::uint32_t(d[offset]) | (std::uint32_t(d[offset + 1]) << 8) |
         (std::uint32_t(d[offset + 2]) << 16) | (std::uint32_t(d[offset + 3]) << 24);
}

std::int32_t S32(ByteView d, std::size_t offset) {
  return static_cast<std::int32_t>(U32(d, offset));
}

// Header sizes of Windows' own headers; every other size up to 64 is an OS/2 2.x header, whose
// compression codes 3 and 4 mean Huffman 1-D and RLE24 instead of bit fields and JPEG.
bool IsWindowsHeaderSize(std::uint32_t size) {
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124 || size > 124;
}

// One colour channel of a 16- or 32-bit pixel, scaled to 0..255 the way common decoders
// scale it (value * 255 / largest value, truncated).
class Channel {
 public:
  explicit Channel(std::uint32_t mask) : Mask(mask) {
    if (mask) {
      Shift = std::countr_zero(mask);
      Max = mask >> Shift;
    }
  }
  bool Present() const { return Max != 0; }
  std::uint8_t Get(std::uint32_t pixel) const {
    if (!Max) return 0;
    const std::uint32_t v = (pixel & Mask) >> Shift;
    if (Max == 255) return static_cast<std::uint8_t>(v);
    return static_cast<std::uint8_t>(std::uint64_t(v) * 255 / Max);
  }

 private:
  std::uint32_t Mask = 0;
  int Shift = 0;
  std::uint32_t Max = 0;
};

struct Bgr {
  std::uint8_t B = 0, G = 0, R = 0;
};

// Expands RLE8 or RLE4 data, calling put(x, row, index) for every pixel it sets, rows counted
// in stored order. Pixels the data skips (end of line, delta) are left alone. Runs beyond the
// right edge are clipped; data that runs past the last row or ends in the middle of the picture
// is an error.
template <typename Put>
void DecodeRle(ByteView src, int width, int height, bool rle4, Put&& put) {
  std::size_t pos = 0;
  long long x = 0;
  long long y = 0;
  auto next = [&](std::uint8_t index) {
    if (x < width) put(int(x++), int(y), index);
  };
  for (;;) {
    if (!Has(src, pos, 2)) {
      if (y >= height) break;
      Fail(QStringLiteral("The compressed bitmap data ends early."));
    }
    const int count = src[pos];
    const std::uint8_t code = src[pos + 1];
    pos += 2;
    if (count > 0) {
      if (y >= height) Fail(QStringLiteral("A compressed run lies past the end of the picture."));
      for (int i = 0; i < count && x < width; ++i)
        next(rle4 ? std::uint8_t((i & 1) ? (code & 0x0F) : (code >> 4)) : code);
    } else if (code == 0) {  // end of line
      x = 0;
      ++y;
    } else if (code == 1) {  // end of bitmap
      break;
    } else if (code == 2) {  // delta: move right and up (in stored row order)
      if (!Has(src, pos, 2)) Fail(QStringLiteral("The compressed bitmap data ends early."));
      x = std::min<long long>(x + src[pos], width);
      y += src[pos + 1];
      pos += 2;
      if (y > height) Fail(QStringLiteral("A compressed run lies past the end of the picture."));
    } else {  // absolute run of `code` pixels, padded to a 16-bit boundary
      const std::size_t bytes = rle4 ? (std::size_t(code) + 1) / 2 : code;
      if (!Has(src, pos, bytes)) Fail(QStringLiteral("The compressed bitmap data ends early."));
      if (y >= height) Fail(QStringLiteral("A compressed run lies past the end of the picture."));
      for (int i = 0; i < code && x < width; ++i) {
        const std::uint8_t b = src[pos + (rle4 ? std::size_t(i) / 2 : std::size_t(i))];
        next(rle4 ? std::uint8_t((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
      }
      pos += bytes + (bytes & 1);
    }
  }
}

// A fully opaque alpha plane is dropped: a null plane means opaque.
void DropOpaqueAlpha(QImage& alpha) {
  if (alpha.isNull()) return;
  for (int y = 0; y < alpha.height(); ++y) {
    const uchar* p = alpha.constScanLine(y);
    for (int x = 0; x < alpha.width(); ++x)
      if (p[x] != 255) return;
  }
  alpha = QImage();
}

}  // namespace

int DpiFromPelsPerMeter(int pelsPerMeter) {
  if (pelsPerMeter <= 0) return kDefaultDpi;
  return static_cast<int>(std::lround(pelsPerMeter * 0.0254));
}

void DibBitsToParams(int bitCount, int& bitsPerSample, int& samplesPerPixel) {
  switch (bitCount) {
    case 24:
      bitsPerSample = 8;
      samplesPerPixel = 3;
      break;
    case 32:
      bitsPerSample = 8;
      samplesPerPixel = 4;
      break;
    default:  // palette pixels and 16-bit pixels (16 x 1, "65,536" colours)
      bitsPerSample = bitCount;
      samplesPerPixel = 1;
      break;
  }
}

DibHeader ReadDibHeader(ByteView dib) {
  DibHeader h;
  h.HeaderSize = U32(dib, 0);
  long long height = 0;
  int planes = 1;
  bool os2v2 = false;
  if (h.HeaderSize == 12) {
    h.Width = U16(dib, 4);
    height = U16(dib, 6);
    planes = U16(dib, 8);
    h.BitCount = U16(dib, 10);
    h.PaletteEntrySize = 3;
  } else if (h.HeaderSize >= 16) {
    if (!Has(dib, 0, h.HeaderSize)) Truncated();
    os2v2 = !IsWindowsHeaderSize(h.HeaderSize);
    const std::int32_t width = S32(dib, 4);
    if (width <= 0) Fail(QStringLiteral("The bitmap has no pixels (width %1).").arg(width));
    h.Width = width;
    height = S32(dib, 8);
    planes = U16(dib, 12);
    h.BitCount = U16(dib, 14);
    auto field = [&](std::size_t offset) {
      return offset + 4 <= h.HeaderSize ? U32(dib, offset) : 0u;
    };
    h.Compression = field(16);
    h.XPelsPerMeter = static_cast<std::int32_t>(field(24));
    h.YPelsPerMeter = static_cast<std::int32_t>(field(28));
    h.ColorsUsed = field(32);
  } else {
    Fail(QStringLiteral("Unsupported bitmap header (size %1).").arg(h.HeaderSize));
  }
  (void)planes;  // some writers store 0; the pixel layout does not depend on it
  if (height < 0) {
    h.TopDown = true;
    height = -height;
  }
  CheckPictureSize(h.Width, height);
  h.Height = static_cast<int>(height);

  const int bits = h.BitCount;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    Fail(QStringLiteral("Unsupported bitmap depth (%1 bits per pixel).").arg(bits));

  switch (h.Compression) {
    case kBiRgb:
      break;
    case kBiRle8:
      if (bits != 8) Fail(QStringLiteral("RLE8 compression needs 8 bits per pixel."));
      break;
    case kBiRle4:
      if (bits != 4) Fail(QStringLiteral("RLE4 compression needs 4 bits per pixel."));
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      if (os2v2) Fail(QStringLiteral("Unsupported OS/2 bitmap compression."));
      if (bits != 16 && bits != 32)
        Fail(QStringLiteral("Bit fields need 16 or 32 bits per pixel."));
      break;
    default:
      Fail(QStringLiteral("Unsupported bitmap compression (%1).").arg(h.Compression));
  }

  h.PaletteOffset = h.HeaderSize;
  if (h.Compression == kBiBitfields || h.Compression == kBiAlphaBitfields) {
    const bool withAlpha = h.Compression == kBiAlphaBitfields;
    if (h.HeaderSize >= 52) {
      h.RedMask = U32(dib, 40);
      h.GreenMask = U32(dib, 44);
      h.BlueMask = U32(dib, 48);
      if (h.HeaderSize >= 56) h.AlphaMask = U32(dib, 52);
    } else {
      // The masks follow a 40-byte header, before the (optional) palette.
      h.RedMask = U32(dib, h.HeaderSize);
      h.GreenMask = U32(dib, h.HeaderSize + 4);
      h.BlueMask = U32(dib, h.HeaderSize + 8);
      if (withAlpha) h.AlphaMask = U32(dib, h.HeaderSize + 12);
      h.PaletteOffset += withAlpha ? 16 : 12;
    }
  } else if (bits == 16) {
    h.RedMask = 0x7C00;
    h.GreenMask = 0x03E0;
    h.BlueMask = 0x001F;
  } else if (bits == 32) {
    // Plain 32-bit pixels are BGRX; the fourth byte counts as alpha only where some pixel
    // sets it (many writers leave it zero).
    h.RedMask = 0x00FF0000;
    h.GreenMask = 0x0000FF00;
    h.BlueMask = 0x000000FF;
    h.AlphaMask = 0xFF000000;
  }
  return h;
}

Picture DecodeDib(ByteView dib, DibKind kind, std::size_t pixelOffset) {
  const DibHeader h = ReadDibHeader(dib);
  const bool icon = kind == DibKind::Icon;
  const int width = h.Width;
  const int height = icon ? h.Height / 2 : h.Height;
  if (height <= 0) Fail(QStringLiteral("The icon has no pixels."));
  const int bits = h.BitCount;
  const bool rle = h.Compression == kBiRle8 || h.Compression == kBiRle4;
  if (icon && rle) Fail(QStringLiteral("Compressed icon bitmaps are not supported."));

  // Palette: as many entries as the header says, no more than the depth allows, and no more
  // than fit before the pixels.
  const bool pixelsFollowPalette = pixelOffset == kPixelsFollowPalette;
  if (!pixelsFollowPalette && (pixelOffset < h.PaletteOffset || pixelOffset > dib.size()))
    Fail(QStringLiteral("The bitmap's pixel offset is invalid."));
  std::vector<Bgr> palette;
  std::size_t paletteEnd = h.PaletteOffset;
  if (bits <= 8) {
    const std::size_t most = std::size_t(1) << bits;
    std::size_t count = h.ColorsUsed ? std::min<std::size_t>(h.ColorsUsed, most) : most;
    const std::size_t limit = pixelsFollowPalette ? dib.size() : pixelOffset;
    if (h.PaletteOffset > limit) Truncated();
    count = std::min(count, (limit - h.PaletteOffset) / std::size_t(h.PaletteEntrySize));
    if (count == 0) Fail(QStringLiteral("The bitmap has no palette."));
    palette.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = h.PaletteOffset + i * std::size_t(h.PaletteEntrySize);
      palette[i] = Bgr{dib[at], dib[at + 1], dib[at + 2]};
    }
    paletteEnd = h.PaletteOffset + count * std::size_t(h.PaletteEntrySize);
  }
  if (pixelsFollowPalette) pixelOffset = paletteEnd;
  if (!Has(dib, 0, paletteEnd) || pixelOffset > dib.size()) Truncated();
  const ByteView pixels = dib.subspan(pixelOffset);

  // Uncompressed pixels must all be there before the picture is allocated. The last row may
  // lack its padding; an icon's mask follows whole rows.
  const std::uint64_t rowBytes = (std::uint64_t(width) * std::uint64_t(bits) + 31) / 32 * 4;
  if (!rle) {
    const std::uint64_t lastRow = (std::uint64_t(width) * std::uint64_t(bits) + 7) / 8;
    const std::uint64_t needed =
        icon ? rowBytes * std::uint64_t(height) : rowBytes * std::uint64_t(height - 1) + lastRow;
    if (pixels.size() < needed) Truncated();
  } else if (pixels.size() < 2) {
    Truncated();
  }

  Picture picture;
  picture.Image = NewPictureImage(width, height);
  QImage& image = picture.Image;
  auto rowOf = [&](int stored) { return h.TopDown ? stored : height - 1 - stored; };
  auto color = [&](std::size_t index) -> const Bgr& {
    if (index >= palette.size())
      Fail(QStringLiteral("A pixel refers to colour %1 of a %2-colour palette.")
               .arg(index)
               .arg(palette.size()));
    return palette[index];
  };

  QImage alpha;
  bool anyAlpha = false;  // some pixel has a nonzero alpha value

  if (rle) {
    // Skipped pixels keep the first palette colour.
    const Bgr& first = color(0);
    for (int y = 0; y < height; ++y) {
      uchar* dst = image.scanLine(y);
      for (int x = 0; x < width; ++x) {
        dst[3 * x] = first.B;
        dst[3 * x + 1] = first.G;
        dst[3 * x + 2] = first.R;
      }
    }
    uchar* const base = image.bits();
    const qsizetype stride = image.bytesPerLine();
    DecodeRle(pixels, width, height, h.Compression == kBiRle4,
              [&](int x, int stored, std::uint8_t index) {
                const Bgr& c = color(index);
                uchar* dst = base + stride * rowOf(stored) + 3 * x;
                dst[0] = c.B;
                dst[1] = c.G;
                dst[2] = c.R;
              });
  } else {
    const Channel red(h.RedMask), green(h.GreenMask), blue(h.BlueMask), alphaChannel(h.AlphaMask);
    if ((bits == 16 || bits == 32) && alphaChannel.Present())
      alpha = NewPictureImage(width, height, QImage::Format_Grayscale8);

    for (int r = 0; r < height; ++r) {
      const std::uint8_t* src = pixels.data() + std::size_t(r) * std::size_t(rowBytes);
      const int y = rowOf(r);
      uchar* dst = image.scanLine(y);
      uchar* dstAlpha = alpha.isNull() ? nullptr : alpha.scanLine(y);
      switch (bits) {
        case 1:
        case 2:
        case 4:
        case 8: {
          const int perByte = 8 / bits;
          const unsigned mask = (1u << bits) - 1;
          for (int x = 0; x < width; ++x) {
            const int shift = 8 - bits * (x % perByte + 1);
            const Bgr& c = color((src[x / perByte] >> shift) & mask);
            dst[3 * x] = c.B;
            dst[3 * x + 1] = c.G;
            dst[3 * x + 2] = c.R;
          }
          break;
        }
        case 24:
          std::memcpy(dst, src, std::size_t(width) * 3);
          break;
        case 16:
        case 32: {
          const int step = bits / 8;
          for (int x = 0; x < width; ++x) {
            const std::uint8_t* s = src + std::size_t(x) * std::size_t(step);
            std::uint32_t p = std::uint32_t(s[0]) | (std::uint32_t(s[1]) << 8);
            if (step == 4) p |= (std::uint32_t(s[2]) << 16) | (std::uint32_t(s[3]) << 24);
            dst[3 * x] = blue.Get(p);
            dst[3 * x + 1] = green.Get(p);
            dst[3 * x + 2] = red.Get(p);
            if (dstAlpha) {
              const std::uint8_t a = alphaChannel.Get(p);
              dstAlpha[x] = a;
              anyAlpha = anyAlpha || a != 0;
            }
          }
          break;
        }
      }
    }
  }
  // An alpha channel that is zero everywhere was never written: the picture is opaque.
  if (!anyAlpha) alpha = QImage();

  if (icon && alpha.isNull()) {
    // The AND mask: 1 bit per pixel, rows padded to 32 bits, in the colour rows' order. A
    // 32-bit icon whose mask is missing is taken as opaque.
    const std::uint64_t maskRowBytes = (std::uint64_t(width) + 31) / 32 * 4;
    const std::uint64_t maskOffset = rowBytes * std::uint64_t(height);
    if (Has(pixels, maskOffset, maskRowBytes * std::uint64_t(height))) {
      alpha = NewPictureImage(width, height, QImage::Format_Grayscale8);
      for (int r = 0; r < height; ++r) {
        const std::uint8_t* src =
            pixels.data() + maskOffset + std::size_t(r) * std::size_t(maskRowBytes);
        uchar* dst = alpha.scanLine(rowOf(r));
        for (int x = 0; x < width; ++x) dst[x] = ((src[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;
      }
    } else if (bits != 32) {
      Truncated();
    }
  }
  DropOpaqueAlpha(alpha);
  picture.Alpha = alpha;

  PictureParams& params = picture.Params;
  params.Width = width;
  params.Height = height;
  DibBitsToParams(bits, params.BitsPerSample, params.SamplesPerPixel);
  params.DpiX = DpiFromPelsPerMeter(h.XPelsPerMeter);
  params.DpiY = h.YPelsPerMeter > 0 ? DpiFromPelsPerMeter(h.YPelsPerMeter) : params.DpiX;
  return picture;
}

namespace {

void PutU16(QByteArray& b, std::uint16_t v) {
  b.append(char(v & 0xFF));
  b.append(char(v >> 8));
}

void PutU32(QByteArray& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.append(char((v >> (8 * i)) & 0xFF));
}

int PelsPerMeterFromDpi(int dpi) {
  if (dpi <= 0) return 0;
  return static_cast<int>(std::lround(dpi / 0.0254));
}

class BmpCodec final : public Codec {
 public:
  int FileType() const override { return PictureFileType::Bmp; }
  QString Description() const override { return QStringLiteral("Windows Bitmap"); }
  QStringList Extensions() const override {
    return {QStringLiteral("bmp"), QStringLiteral("dib"), QStringLiteral("rle")};
  }

  bool MatchesSignature(ByteView head) const override {
    if (head.size() < 2 || head[0] != 'B' || head[1] != 'M') return false;
    if (head.size() < 18) return true;
    const std::uint32_t size = U32(head, 14);
    return size == 12 || (size >= 16 && size <= 124);
  }

  HeaderFacts ReadHeader(ByteView data) const override {
    const DibHeader h = ReadDibHeader(Dib(data));
    HeaderFacts facts;
    facts.FileType = FileType();
    facts.FormatDescription = Description();
    facts.Width = h.Width;
    facts.Height = h.Height;
    DibBitsToParams(h.BitCount, facts.BitsPerSample, facts.SamplesPerPixel);
    facts.DpiX = DpiFromPelsPerMeter(h.XPelsPerMeter);
    facts.DpiY = h.YPelsPerMeter > 0 ? DpiFromPelsPerMeter(h.YPelsPerMeter) : facts.DpiX;
    return facts;
  }

  Picture Read(ByteView data, const ReadOptions&) const override {
    const ByteView dib = Dib(data);
    const std::uint32_t offBits = U32(data, 10);
    if (offBits < kFileHeaderSize) Fail(QStringLiteral("The bitmap's pixel offset is invalid."));
    Picture picture = DecodeDib(dib, DibKind::BitmapFile, offBits - kFileHeaderSize);
    picture.Params.FileType = FileType();
    picture.Params.FormatDescription = Description();
    return picture;
  }

  bool CanWrite() const override { return true; }

  // Bits per pixel of the file, from the params' bits per sample x samples per pixel: 16 or
  // more gives 24-bit; less gives 1-bit for a black-and-white picture and 4- or 8-bit for a
  // palette picture (4 when at most 4 bits are asked for and the colours fit). A true-colour
  // picture asked for 1 bit is dithered, for 2-4 bits reduced to 16 colours, for 5-8 bits to
  // 256. The alpha plane is not written.
  void Write(const Picture& picture, QIODevice& out) const override {
    QImage image = picture.Image;
    int requested = picture.Params.BitsPerSample * picture.Params.SamplesPerPixel;
    if (requested <= 0) requested = 24;
    if (image.format() == QImage::Format_MonoLSB)
      image = image.convertToFormat(QImage::Format_Mono);
    if (requested < 16 && image.format() != QImage::Format_Mono &&
        image.format() != QImage::Format_Indexed8) {
      // A true-colour picture whose params ask for few bits: reduce it here.
      if (requested <= 1)
        image = DitherToBlackAndWhite(image);
      else
        image = ReduceColors(image, requested <= 4 ? 16 : 256);
    }
    int bits = 24;
    if (requested < 16 && image.format() == QImage::Format_Mono) {
      bits = 1;
    } else if (requested < 16 && image.format() == QImage::Format_Indexed8) {
      bits = requested <= 4 && LargestIndex(image) < 16 ? 4 : 8;
    }
    if (bits == 24 && image.format() != QImage::Format_BGR888)
      image = image.convertToFormat(QImage::Format_BGR888);
    if (image.isNull()) Fail(QStringLiteral("There is no picture to write."));

    const int width = image.width();
    const int height = image.height();
    QList<QRgb> colors;
    if (bits == 1) {
      colors = image.colorTable();
      if (colors.size() < 2) colors = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
      colors.resize(2);
    } else if (bits <= 8) {
      colors = image.colorTable();
      const int needed = LargestIndex(image) + 1;
      if (colors.size() < needed) colors.resize(needed, qRgb(0, 0, 0));
      if (colors.size() > (1 << bits)) colors.resize(1 << bits);
    }
    const std::uint32_t rowBytes = (std::uint32_t(width) * std::uint32_t(bits) + 31) / 32 * 4;
    const std::uint32_t imageSize = rowBytes * std::uint32_t(height);
    const std::uint32_t offBits =
        std::uint32_t(kFileHeaderSize) + kInfoHeaderSize + std::uint32_t(colors.size()) * 4;

    QByteArray head;
    head.append("BM");
    PutU32(head, offBits + imageSize);
    PutU32(head, 0);
    PutU32(head, offBits);
    PutU32(head, kInfoHeaderSize);
    PutU32(head, std::uint32_t(width));
    PutU32(head, std::uint32_t(height));  // positive: bottom-up rows
    PutU16(head, 1);
    PutU16(head, std::uint16_t(bits));
    PutU32(head, kBiRgb);
    PutU32(head, imageSize);
    PutU32(head, std::uint32_t(PelsPerMeterFromDpi(picture.Params.DpiX)));
    PutU32(head, std::uint32_t(PelsPerMeterFromDpi(picture.Params.DpiY)));
    PutU32(head, std::uint32_t(colors.size()));
    PutU32(head, 0);
    for (QRgb c : colors) {
      head.append(char(qBlue(c)));
      head.append(char(qGreen(c)));
      head.append(char(qRed(c)));
      head.append(char(0));
    }
    WriteAll(out, head);

    QByteArray row(qsizetype(rowBytes), '\0');
    for (int y = height - 1; y >= 0; --y) {
      const uchar* src = image.constScanLine(y);
      std::memset(row.data(), 0, rowBytes);
      auto* dst = reinterpret_cast<std::uint8_t*>(row.data());
      switch (bits) {
        case 1:  // Format_Mono has the same layout: most significant bit first
          std::memcpy(dst, src, (std::size_t(width) + 7) / 8);
          if (width % 8) dst[width / 8] &= std::uint8_t(0xFF << (8 - width % 8));
          break;
        case 4:
          for (int x = 0; x < width; ++x) dst[x / 2] |= std::uint8_t(src[x] << ((x & 1) ? 0 : 4));
          break;
        case 8:
          std::memcpy(dst, src, std::size_t(width));
          break;
        default:  // Format_BGR888 is already blue, green, red
          std::memcpy(dst, src, std::size_t(width) * 3);
          break;
      }
      WriteAll(out, row);
    }
  }

 private:
  // The DIB part of a bitmap file, after checking the file header.
  static ByteView Dib(ByteView data) {
    if (data.size() < kFileHeaderSize + 4) Truncated();
    if (data[0] != 'B' || data[1] != 'M') Fail(QStringLiteral("This is not a Windows bitmap."));
    return data.subspan(kFileHeaderSize);
  }

  static int LargestIndex(const QImage& image) {
    int largest = 0;
    for (int y = 0; y < image.height(); ++y) {
      const uchar* p = image.constScanLine(y);
      for (int x = 0; x < image.width(); ++x) largest = std::max<int>(largest, p[x]);
    }
    return largest;
  }

  static void WriteAll(QIODevice& out, const QByteArray& bytes) {
    if (out.write(bytes) != bytes.size())
      Fail(QStringLiteral("Cannot write the bitmap: %1").arg(out.errorString()));
  }
};

}  // namespace

std::unique_ptr<Codec> MakeBmpCodec() { return std::make_unique<BmpCodec>(); }
