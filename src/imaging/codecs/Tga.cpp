// Truevision TGA: reader for colour-mapped, true-colour and grey pictures, raw and run-length
// encoded, in either origin; writer for 8-bit colour-mapped, 24-bit and 32-bit (with the alpha
// plane).
//
// TGA has no signature, so the registry finds it by its extension.

#include <QIODevice>
#include <QList>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/ColorReduce.h"
#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"

namespace {

constexpr std::size_t kHeaderSize = 18;
constexpr int kMaxPacket = 128;  // pixels in one run-length packet

const QString kDescription = QStringLiteral("Truevision TGA");

enum Kind { kMapped = 1, kTrueColour = 2, kGrey = 3 };

int U16(ByteView data, std::size_t at) { return data[at] | (data[at + 1] << 8); }

PictureError Truncated() { return PictureError(QStringLiteral("The TGA file is truncated.")); }

// 5-bit channel to 8 bits, scaled so that 31 gives 255.
std::uint8_t Expand5(int v) { return static_cast<std::uint8_t>(v * 255 / 31); }

struct TgaHeader {
  int MapType = 0;
  int ImageType = 0;
  int MapFirst = 0;
  int MapLength = 0;
  int MapEntryBits = 0;
  int Width = 0;
  int Height = 0;
  int Depth = 0;  // bits per stored pixel
  int Descriptor = 0;
  std::size_t MapOffset = 0;
  std::size_t DataOffset = 0;

  int Kind() const { return ImageType & 3; }
  bool Rle() const { return ImageType >= 9; }
  int AlphaBits() const { return Descriptor & 0x0F; }
  bool RightToLeft() const { return Descriptor & 0x10; }
  bool TopDown() const { return Descriptor & 0x20; }
  int PixelBytes() const { return (Depth + 7) / 8; }
};

TgaHeader ParseHeader(ByteView data) {
  if (data.size() < kHeaderSize) throw Truncated();
  TgaHeader h;
  const int idLength = data[0];
  h.MapType = data[1];
  h.ImageType = data[2];
  h.MapFirst = U16(data, 3);
  h.MapLength = U16(data, 5);
  h.MapEntryBits = data[7];
  h.Width = U16(data, 12);
  h.Height = U16(data, 14);
  h.Depth = data[16];
  h.Descriptor = data[17];
  if (h.MapType > 1) throw PictureError(QStringLiteral("This is not a TGA file."));
  const int type = h.ImageType;
  if (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11)
    throw PictureError(QStringLiteral("Unsupported TGA image type %1.").arg(type));
  const auto depthIs = [&](std::initializer_list<int> allowed) {
    return std::find(allowed.begin(), allowed.end(), h.Depth) != allowed.end();
  };
  bool valid = false;
  switch (h.Kind()) {
    case kMapped:
      valid = h.MapType == 1 && h.MapLength > 0 && depthIs({8, 16}) &&
              (h.MapEntryBits == 15 || h.MapEntryBits == 16 || h.MapEntryBits == 24 ||
               h.MapEntryBits == 32);
      break;
    case kTrueColour:
      valid = depthIs({15, 16, 24, 32});
      break;
    case kGrey:
      // One bit per pixel (rows padded to whole bytes) only makes sense uncompressed.
      valid = depthIs({8, 16}) || (h.Depth == 1 && !h.Rle());
      break;
  }
  if (!valid)
    throw PictureError(QStringLiteral("Unsupported TGA layout: type %1 with %2 bits per pixel.")
                           .arg(type)
                           .arg(h.Depth));
  CheckPictureSize(h.Width, h.Height);
  h.MapOffset = kHeaderSize + idLength;
  const std::size_t mapBytes =
      h.MapType == 1 ? static_cast<std::size_t>(h.MapLength) * ((h.MapEntryBits + 7) / 8) : 0;
  h.DataOffset = h.MapOffset + mapBytes;
  if (h.DataOffset > data.size()) throw Truncated();
  return h;
}

// Bits per sample and samples per pixel as the picture list counts colours.
std::pair<int, int> SampleLayout(const TgaHeader& h) {
  switch (h.Kind()) {
    case kMapped:
      return {h.Depth, 1};
    case kGrey:
      return h.Depth == 1 ? std::pair{1, 1} : std::pair{8, h.Depth / 8};
    default:
      return h.Depth <= 16 ? std::pair{5, 3} : std::pair{8, h.Depth / 8};
  }
}

// The pixels of the data area in file order, raw or from run-length packets. Packets may cross
// scan lines; a packet reaching past the last pixel of the picture is an error.
class PixelSource {
 public:
  PixelSource(ByteView data, int pixelBytes, bool rle) : Data(data), Bytes(pixelBytes), Rle(rle) {}

  void Read(std::uint8_t* dst, std::size_t count) {
    if (!Rle) {
      const std::size_t n = count * Bytes;
      if (Data.size() - Pos < n) throw Truncated();
      std::memcpy(dst, Data.data() + Pos, n);
      Pos += n;
      return;
    }
    while (count > 0) {
      if (RunLeft > 0) {
        const std::size_t k = std::min<std::size_t>(RunLeft, count);
        for (std::size_t i = 0; i < k; ++i, dst += Bytes) std::memcpy(dst, RunPixel, Bytes);
        RunLeft -= static_cast<int>(k);
        count -= k;
      } else if (RawLeft > 0) {
        const std::size_t k = std::min<std::size_t>(RawLeft, count);
        if (Data.size() - Pos < k * Bytes) throw Truncated();
        std::memcpy(dst, Data.data() + Pos, k * Bytes);
        Pos += k * Bytes;
        dst += k * Bytes;
        RawLeft -= static_cast<int>(k);
        count -= k;
      } else {
        if (Pos >= Data.size()) throw Truncated();
        const std::uint8_t packet = Data[Pos++];
        const int n = (packet & 0x7F) + 1;
        if (packet & 0x80) {
          if (Data.size() - Pos < static_cast<std::size_t>(Bytes)) throw Truncated();
          std::memcpy(RunPixel, Data.data() + Pos, Bytes);
          Pos += Bytes;
          RunLeft = n;
        } else {
          RawLeft = n;
        }
      }
    }
  }

  bool PacketLeftOver() const { return RunLeft > 0 || RawLeft > 0; }

 private:
  ByteView Data;
  int Bytes;
  bool Rle;
  std::size_t Pos = 0;
  int RunLeft = 0;
  int RawLeft = 0;
  std::uint8_t RunPixel[4] = {};
};

// One 15/16-bit pixel (A1R5G5B5, little-endian) as a colour; the top bit becomes alpha 0/255.
QRgb Colour16(const std::uint8_t* p) {
  const int v = p[0] | (p[1] << 8);
  return qRgba(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31),
               (v & 0x8000) ? 255 : 0);
}

QRgb ColourOf(const std::uint8_t* p, int bits) {
  switch (bits) {
    case 15:
    case 16:
      return Colour16(p);
    case 24:
      return qRgba(p[2], p[1], p[0], 255);
    default:
      return qRgba(p[2], p[1], p[0], p[3]);
  }
}

Picture Decode(ByteView data) {
  const TgaHeader h = ParseHeader(data);

  // The colour map, indexed by pixel value minus the first entry's index.
  std::vector<QRgb> map;
  if (h.Kind() == kMapped) {
    const int entryBytes = (h.MapEntryBits + 7) / 8;
    map.resize(h.MapLength);
    for (int i = 0; i < h.MapLength; ++i)
      map[i] = ColourOf(data.data() + h.MapOffset + std::size_t(i) * entryBytes, h.MapEntryBits);
  }

  // Where alpha can come from: a 32-bit pixel or map entry, the second byte of 16-bit grey, or
  // the attribute bit of a 16-bit pixel or map entry when the descriptor declares alpha bits.
  const int colourBits = h.Kind() == kMapped ? h.MapEntryBits : h.Depth;
  const bool attributeAlpha = colourBits == 16 && h.Kind() != kGrey && h.AlphaBits() > 0;
  const bool byteAlpha =
      (h.Kind() == kGrey && h.Depth == 16) || (h.Kind() != kGrey && colourBits == 32);

  // Refuse data that cannot fill the picture before allocating it: a packet of at most 128
  // pixels takes at least one byte plus one pixel.
  const ByteView body = data.subspan(h.DataOffset);
  const bool bilevel = h.Depth == 1;
  const int bytes = h.PixelBytes();
  // A 1-bit row is read as whole bytes, eight pixels each.
  const int rowUnits = bilevel ? (h.Width + 7) / 8 : h.Width;
  const long double pixels = static_cast<long double>(rowUnits) * h.Height;
  const long double needed =
      h.Rle() ? std::ceil(pixels / kMaxPacket) * (1 + bytes) : pixels * bytes;
  if (needed > body.size()) throw Truncated();

  Picture picture;
  picture.Image = NewPictureImage(h.Width, h.Height);
  if (attributeAlpha || byteAlpha)
    picture.Alpha = NewPictureImage(h.Width, h.Height, QImage::Format_Grayscale8);
  bool anyAlpha = false;  // some alpha value is not zero

  PixelSource source(body, bytes, h.Rle());
  std::vector<std::uint8_t> row(static_cast<std::size_t>(rowUnits) * bytes);
  for (int line = 0; line < h.Height; ++line) {
    source.Read(row.data(), rowUnits);
    const int y = h.TopDown() ? line : h.Height - 1 - line;
    std::uint8_t* out = picture.Image.scanLine(y);
    std::uint8_t* alpha = picture.Alpha.isNull() ? nullptr : picture.Alpha.scanLine(y);
    for (int i = 0; i < h.Width; ++i) {
      const std::uint8_t* p = row.data() + (bilevel ? 0 : std::size_t(i) * bytes);
      QRgb c;
      if (h.Kind() == kMapped) {
        const int value = bytes == 1 ? p[0] : p[0] | (p[1] << 8);
        const int index = value - h.MapFirst;
        if (index < 0 || index >= h.MapLength)
          throw PictureError(
              QStringLiteral("TGA pixel value %1 lies outside the colour map.").arg(value));
        c = map[index];
      } else if (bilevel) {
        const std::uint8_t v = (row[i / 8] & (0x80 >> (i % 8))) ? 255 : 0;
        c = qRgb(v, v, v);
      } else if (h.Kind() == kGrey) {
        c = qRgba(p[0], p[0], p[0], h.Depth == 16 ? p[1] : 255);
      } else {
        c = ColourOf(p, h.Depth);
      }
      const int x = h.RightToLeft() ? h.Width - 1 - i : i;
      out[3 * x] = qBlue(c);
      out[3 * x + 1] = qGreen(c);
      out[3 * x + 2] = qRed(c);
      if (alpha) {
        alpha[x] = qAlpha(c);
        anyAlpha = anyAlpha || qAlpha(c) != 0;
      }
    }
  }
  if (source.PacketLeftOver())
    throw PictureError(QStringLiteral("A TGA packet reaches past the end of the picture."));

  // Alpha that is all zero is taken for unused when nothing declares it (many writers leave
  // the fourth byte empty) and for a 16-bit attribute bit (set to zero by writers that ignore
  // it); a picture that vanished entirely would be the wrong reading of those files.
  if (!anyAlpha && (h.AlphaBits() == 0 || attributeAlpha)) picture.Alpha = QImage();

  PictureParams& params = picture.Params;
  params.FileType = PictureFileType::Tga;
  params.FormatDescription = kDescription;
  params.Width = h.Width;
  params.Height = h.Height;
  std::tie(params.BitsPerSample, params.SamplesPerPixel) = SampleLayout(h);
  return picture;
}

// ---- Writer ----

// Appends one row of pixels (pixelBytes each) in run-length packets that stay within the row:
// a run packet for two or more equal pixels (three for one-byte pixels, where a run of two
// saves nothing), raw packets between them.
void EncodeRow(const std::uint8_t* row, int width, int pixelBytes, QByteArray& out) {
  const int minRun = pixelBytes == 1 ? 3 : 2;
  const auto same = [&](int a, int b) {
    return std::memcmp(row + a * pixelBytes, row + b * pixelBytes, pixelBytes) == 0;
  };
  const auto runAt = [&](int i) {
    int n = 1;
    while (i + n < width && n < kMaxPacket && same(i, i + n)) ++n;
    return n;
  };
  int i = 0;
  while (i < width) {
    const int run = runAt(i);
    if (run >= minRun) {
      out.append(char(0x80 | (run - 1)));
      out.append(reinterpret_cast<const char*>(row + i * pixelBytes), pixelBytes);
      i += run;
      continue;
    }
    int n = run;
    while (i + n < width && n < kMaxPacket && runAt(i + n) < minRun) ++n;
    n = std::min(n, kMaxPacket);
    out.append(char(n - 1));
    out.append(reinterpret_cast<const char*>(row + i * pixelBytes), n * pixelBytes);
    i += n;
  }
}

class TgaCodec : public Codec {
 public:
  int FileType() const override { return PictureFileType::Tga; }
  QString Description() const override { return kDescription; }
  QStringList Extensions() const override {
    return {QStringLiteral("tga"), QStringLiteral("targa"), QStringLiteral("vda"),
            QStringLiteral("icb"), QStringLiteral("vst"),   QStringLiteral("pix")};
  }
  bool MatchesSignature(ByteView) const override { return false; }

  HeaderFacts ReadHeader(ByteView data) const override {
    const TgaHeader h = ParseHeader(data);
    HeaderFacts facts;
    facts.FileType = PictureFileType::Tga;
    facts.FormatDescription = kDescription;
    facts.Width = h.Width;
    facts.Height = h.Height;
    std::tie(facts.BitsPerSample, facts.SamplesPerPixel) = SampleLayout(h);
    facts.DpiX = facts.DpiY = kDefaultDpi;
    return facts;
  }

  Picture Read(ByteView data, const ReadOptions&) const override { return Decode(data); }
  bool CanWrite() const override { return true; }

  // A picture with an alpha plane is written as 32-bit; an indexed or black-and-white one as
  // 8-bit colour-mapped with a 24-bit map; a 24-bit one as 24-bit unless its params ask for
  // 8 bits or fewer, when it is mapped (quantised first if it has more than 256 colours).
  // The pixels are run-length encoded (types 9 and 10: smaller, and every reader takes them),
  // top row first, with a TGA 2.0 footer.
  void Write(const Picture& picture, QIODevice& out) const override {
    const QImage& image = picture.Image;
    const int width = image.width(), height = image.height();
    if (image.isNull()) throw PictureError(QStringLiteral("There is no picture to write."));
    if (width > 65535 || height > 65535)
      throw PictureError(QStringLiteral("The picture is too large for TGA."));
    const bool withAlpha = picture.HasAlpha() && picture.Alpha.size() == image.size();
    const int wanted = picture.Params.BitsPerSample * picture.Params.SamplesPerPixel;

    QImage indexed, bgr;
    if (!withAlpha &&
        (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
         image.format() == QImage::Format_MonoLSB)) {
      indexed = image.convertToFormat(QImage::Format_Indexed8);
    } else {
      bgr = image.format() == QImage::Format_BGR888 ? image
                                                    : image.convertToFormat(QImage::Format_BGR888);
      if (!withAlpha && wanted <= 8) {
        // At most 256 colours are kept exactly; more are quantised with dithering.
        indexed = ReduceColors(bgr, 256, true);
      }
    }

    QList<QRgb> table;
    if (!indexed.isNull()) {
      // Cover every index a pixel uses, so that no pixel points past the map.
      table = indexed.colorTable();
      int highest = 0;
      for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = indexed.constScanLine(y);
        for (int x = 0; x < width; ++x) highest = std::max<int>(highest, in[x]);
      }
      while (table.size() <= highest) table.append(qRgb(0, 0, 0));
    }
    const bool mapped = !indexed.isNull();
    const int pixelBytes = mapped ? 1 : withAlpha ? 4 : 3;

    std::uint8_t header[kHeaderSize] = {};
    header[1] = mapped ? 1 : 0;
    header[2] = mapped ? 9 : 10;
    if (mapped) {
      header[5] = static_cast<std::uint8_t>(table.size() & 0xFF);
      header[6] = static_cast<std::uint8_t>(table.size() >> 8);
      header[7] = 24;
    }
    header[12] = static_cast<std::uint8_t>(width & 0xFF);
    header[13] = static_cast<std::uint8_t>(width >> 8);
    header[14] = static_cast<std::uint8_t>(height & 0xFF);
    header[15] = static_cast<std::uint8_t>(height >> 8);
    header[16] = static_cast<std::uint8_t>(pixelBytes * 8);
    header[17] = 0x20 | (withAlpha ? 8 : 0);  // top-left origin, alpha bits

    QByteArray bytes(reinterpret_cast<const char*>(header), kHeaderSize);
    for (const QRgb c : table) {
      bytes.append(char(qBlue(c)));
      bytes.append(char(qGreen(c)));
      bytes.append(char(qRed(c)));
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * pixelBytes);
    for (int y = 0; y < height; ++y) {
      if (mapped) {
        std::memcpy(row.data(), indexed.constScanLine(y), width);
      } else if (withAlpha) {
        const std::uint8_t* in = bgr.constScanLine(y);
        const QImage& alpha = picture.Alpha;
        const bool grey = alpha.format() == QImage::Format_Grayscale8;
        const std::uint8_t* a = grey ? alpha.constScanLine(y) : nullptr;
        for (int x = 0; x < width; ++x) {
          std::memcpy(&row[4 * x], in + 3 * x, 3);
          row[4 * x + 3] = grey ? a[x] : static_cast<std::uint8_t>(qGray(alpha.pixel(x, y)));
        }
      } else {
        std::memcpy(row.data(), bgr.constScanLine(y), row.size());
      }
      EncodeRow(row.data(), width, pixelBytes, bytes);
    }
    // TGA 2.0 footer: no extension area, no developer directory.
    bytes.append(QByteArray(8, '\0'));
    bytes.append("TRUEVISION-XFILE.", 17);
    bytes.append('\0');
    if (out.write(bytes) != bytes.size())
      throw PictureError(QStringLiteral("Cannot write the TGA file: %1").arg(out.errorString()));
  }
};

}  // namespace

std::unique_ptr<Codec> MakeTgaCodec() { return std::make_unique<TgaCodec>(); }
