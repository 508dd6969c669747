// ZSoft PCX: reader for 1, 2 and 4 bits in 1 to 4 planes, 8-bit with a 256-colour palette and
// 24-bit (three 8-bit planes); writer for 1-bit, 4-plane EGA, 8-bit palette and 24-bit, always
// run-length encoded.

#include "imaging/codecs/Pcx.h"

#include <QIODevice>
#include <QList>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "imaging/ColorReduce.h"
#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"

namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kPaletteBlockSize = 769;  // marker 0x0C and 256 RGB entries
constexpr std::uint8_t kPaletteMarker = 0x0C;
constexpr int kMaxRun = 63;

const QString kDescription = QStringLiteral("ZSoft PCX");

// The 16 colours of the EGA default palette, used when a header carries no palette.
constexpr std::array<QRgb, 16> kEgaPalette = {
    0xFF000000, 0xFF0000AA, 0xFF00AA00, 0xFF00AAAA, 0xFFAA0000, 0xFFAA00AA, 0xFFAA5500, 0xFFAAAAAA,
    0xFF555555, 0xFF5555FF, 0xFF55FF55, 0xFF55FFFF, 0xFFFF5555, 0xFFFF55FF, 0xFFFFFF55, 0xFFFFFFFF};

int U16(ByteView data, std::size_t at) { return data[at] | (data[at + 1] << 8); }

PictureError Truncated() { return PictureError(QStringLiteral("The PCX file is truncated.")); }

bool KnownLayout(int bits, int planes) {
  if (bits == 8) return planes == 1 || planes == 3 || planes == 4;
  // Fewer than 8 bits index the 16-colour header palette, so bits x planes is at most 4.
  return (bits == 1 || bits == 2 || bits == 4) && planes >= 1 && bits * planes <= 4;
}

struct PcxHeader {
  int Version = 0;
  bool Rle = true;
  int Bits = 0;  // bits per pixel in one plane
  int Planes = 0;
  int Width = 0;
  int Height = 0;
  int BytesPerLine = 0;  // of one plane, padding included
  int DpiX = kDefaultDpi;
  int DpiY = kDefaultDpi;
};

PcxHeader ParseHeader(ByteView data) {
  if (data.size() < kHeaderSize) throw Truncated();
  if (data[0] != 0x0A) throw PictureError(QStringLiteral("This is not a PCX file."));
  PcxHeader h;
  h.Version = data[1];
  if (data[2] > 1) throw PictureError(QStringLiteral("Unknown PCX encoding %1.").arg(int(data[2])));
  h.Rle = data[2] == 1;
  h.Bits = data[3];
  h.Planes = data[65];
  if (!KnownLayout(h.Bits, h.Planes))
    throw PictureError(
        QStringLiteral("Unsupported PCX layout: %1 bits in %2 planes.").arg(h.Bits).arg(h.Planes));
  const int xMin = U16(data, 4), yMin = U16(data, 6), xMax = U16(data, 8), yMax = U16(data, 10);
  if (xMax < xMin || yMax < yMin)
    throw PictureError(QStringLiteral("The PCX picture window is empty."));
  h.Width = xMax - xMin + 1;
  h.Height = yMax - yMin + 1;
  CheckPictureSize(h.Width, h.Height);
  h.BytesPerLine = U16(data, 66);
  const long long minimum = (static_cast<long long>(h.Width) * h.Bits + 7) / 8;
  if (h.BytesPerLine < minimum)
    throw PictureError(QStringLiteral("The PCX scan line length %1 is too short for %2 pixels.")
                           .arg(h.BytesPerLine)
                           .arg(h.Width));
  const int hDpi = U16(data, 12), vDpi = U16(data, 14);
  h.DpiX = hDpi > 0 ? hDpi : kDefaultDpi;
  h.DpiY = vDpi > 0 ? vDpi : h.DpiX;
  return h;
}

// Bits per sample and samples per pixel as the picture list counts colours: palette files
// as one sample of bits x planes, 24-bit as three samples of 8.
std::pair<int, int> SampleLayout(const PcxHeader& h) {
  if (h.Bits == 8 && h.Planes > 1) return {8, h.Planes};
  return {h.Bits * h.Planes, 1};
}

// Run-length decoder of the PCX byte stream. Runs may continue from one plane into the next
// and from one scan line into the next; a run that reaches past the last scan line, or data
// that ends before the picture does, is an error.
class RleSource {
 public:
  RleSource(ByteView data, bool rle) : Data(data), Rle(rle) {}

  void ReadLine(std::uint8_t* dst, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
      if (Pending > 0) {
        const std::size_t k = std::min<std::size_t>(Pending, n - i);
        std::memset(dst + i, PendingValue, k);
        i += k;
        Pending -= static_cast<int>(k);
        continue;
      }
      if (Pos >= Data.size()) throw Truncated();
      const std::uint8_t b = Data[Pos++];
      if (Rle && (b & 0xC0) == 0xC0) {
        if (Pos >= Data.size()) throw Truncated();
        Pending = b & 0x3F;
        PendingValue = Data[Pos++];
      } else {
        dst[i++] = b;
      }
    }
  }

  bool RunLeftOver() const { return Pending > 0; }

 private:
  ByteView Data;
  bool Rle;
  std::size_t Pos = 0;
  int Pending = 0;
  std::uint8_t PendingValue = 0;
};

}  // namespace

bool LooksLikePcx(ByteView head) {
  // Content detection sees the first 64 bytes, which end before the plane count: the window
  // (bytes 4-11) is checked instead, and the planes when the head is long enough.
  if (head.size() < 12) return false;
  const int version = head[1];
  const bool knownVersion =
      version == 0 || version == 2 || version == 3 || version == 4 || version == 5;
  const int bits = head[3];
  // Encoding 0 (uncompressed) is rare but written by some converters.
  if (head[0] != 0x0A || !knownVersion || head[2] > 1 ||
      !(bits == 1 || bits == 2 || bits == 4 || bits == 8))
    return false;
  if (U16(head, 8) < U16(head, 4) || U16(head, 10) < U16(head, 6)) return false;
  return head.size() < 66 || (head[65] >= 1 && head[65] <= 4);
}

HeaderFacts ReadPcxHeader(ByteView data) {
  const PcxHeader h = ParseHeader(data);
  HeaderFacts facts;
  facts.FileType = PictureFileType::Pcx;
  facts.FormatDescription = kDescription;
  facts.Width = h.Width;
  facts.Height = h.Height;
  std::tie(facts.BitsPerSample, facts.SamplesPerPixel) = SampleLayout(h);
  facts.DpiX = h.DpiX;
  facts.DpiY = h.DpiY;
  return facts;
}

Picture DecodePcx(ByteView data) {
  const PcxHeader h = ParseHeader(data);
  ByteView body = data.subspan(kHeaderSize);

  // The colours of the pixel values: the palette block at the end of an 8-bit file (a grey
  // ramp when it is missing), the header's 16 entries for fewer bits (the EGA default when the
  // header's are all zero), black and white for one bit in one plane.
  std::array<QRgb, 256> colours{};
  const bool truecolour = h.Bits == 8 && h.Planes > 1;
  if (h.Bits == 8 && h.Planes == 1) {
    const bool hasPalette =
        body.size() >= kPaletteBlockSize && body[body.size() - kPaletteBlockSize] == kPaletteMarker;
    if (hasPalette) {
      const ByteView p = body.last(kPaletteBlockSize - 1);
      for (int i = 0; i < 256; ++i) colours[i] = qRgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
      body = body.first(body.size() - kPaletteBlockSize);
    } else {
      for (int i = 0; i < 256; ++i) colours[i] = qRgb(i, i, i);
    }
  } else if (h.Bits == 1 && h.Planes == 1) {
    colours[0] = qRgb(0, 0, 0);
    colours[1] = qRgb(255, 255, 255);
  } else if (!truecolour) {
    const ByteView p = data.subspan(16, 48);
    const bool blank = std::all_of(p.begin(), p.end(), [](std::uint8_t v) { return v == 0; });
    for (int i = 0; i < 16; ++i)
      colours[i] = blank ? kEgaPalette[i] : qRgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
  }

  // Refuse a file whose data cannot fill the picture before allocating it: a two-byte run
  // gives at most 63 bytes, a raw file one byte per byte.
  const std::size_t lineBytes = static_cast<std::size_t>(h.BytesPerLine) * h.Planes;
  const long double needed = static_cast<long double>(lineBytes) * h.Height;
  const long double most = h.Rle ? (body.size() / 2.0L + 1) * kMaxRun : body.size();
  if (needed > most) throw Truncated();

  Picture picture;
  picture.Image = NewPictureImage(h.Width, h.Height);
  if (h.Bits == 8 && h.Planes == 4) {
    picture.Alpha = NewPictureImage(h.Width, h.Height, QImage::Format_Grayscale8);
  }
  std::vector<std::uint8_t> line(lineBytes);
  RleSource source(body, h.Rle);
  const std::size_t bpl = h.BytesPerLine;
  const int mask = (1 << h.Bits) - 1;
  for (int y = 0; y < h.Height; ++y) {
    source.ReadLine(line.data(), lineBytes);
    std::uint8_t* out = picture.Image.scanLine(y);
    if (truecolour) {
      const std::uint8_t* r = line.data();
      const std::uint8_t* g = r + bpl;
      const std::uint8_t* b = g + bpl;
      for (int x = 0; x < h.Width; ++x) {
        out[3 * x] = b[x];
        out[3 * x + 1] = g[x];
        out[3 * x + 2] = r[x];
      }
      if (h.Planes == 4) std::memcpy(picture.Alpha.scanLine(y), b + bpl, h.Width);
      continue;
    }
    for (int x = 0; x < h.Width; ++x) {
      int index;
      if (h.Bits == 8) {
        index = line[x];
      } else {
        // Plane p holds bits p*Bits .. p*Bits+Bits-1 of the index, leftmost pixel highest.
        const std::size_t bit = static_cast<std::size_t>(x) * h.Bits;
        const int shift = 8 - h.Bits - static_cast<int>(bit % 8);
        index = 0;
        for (int p = 0; p < h.Planes; ++p)
          index |= ((line[p * bpl + bit / 8] >> shift) & mask) << (p * h.Bits);
      }
      const QRgb c = colours[index];
      out[3 * x] = qBlue(c);
      out[3 * x + 1] = qGreen(c);
      out[3 * x + 2] = qRed(c);
    }
  }
  if (source.RunLeftOver())
    throw PictureError(QStringLiteral("A PCX run reaches past the end of the picture."));

  PictureParams& params = picture.Params;
  params.FileType = PictureFileType::Pcx;
  params.FormatDescription = kDescription;
  params.Width = h.Width;
  params.Height = h.Height;
  std::tie(params.BitsPerSample, params.SamplesPerPixel) = SampleLayout(h);
  params.DpiX = h.DpiX;
  params.DpiY = h.DpiY;
  return picture;
}

namespace {

// ---- Writer ----

// The colour table of an indexed picture, padded with black to cover every index its pixels
// use, so that a pixel never points past the table.
QList<QRgb> CoveringTable(const QImage& indexed) {
  QList<QRgb> table = indexed.colorTable();
  int highest = 0;
  for (int y = 0; y < indexed.height(); ++y) {
    const std::uint8_t* in = indexed.constScanLine(y);
    for (int x = 0; x < indexed.width(); ++x) highest = std::max<int>(highest, in[x]);
  }
  while (table.size() <= highest) table.append(qRgb(0, 0, 0));
  return table;
}

bool IsBlackAndWhite(const QList<QRgb>& table) {
  return table.size() <= 2 && std::all_of(table.begin(), table.end(), [](QRgb c) {
           return (c & 0xFFFFFF) == 0 || (c & 0xFFFFFF) == 0xFFFFFF;
         });
}

// Appends one plane's row run-length encoded: runs of up to 63 equal bytes, and any byte with
// its two top bits set as a run of one so that it is not taken for a run count.
void EncodeRow(const std::uint8_t* row, int n, QByteArray& out) {
  int i = 0;
  while (i < n) {
    const std::uint8_t v = row[i];
    int run = 1;
    while (i + run < n && run < kMaxRun && row[i + run] == v) ++run;
    if (run > 1 || (v & 0xC0) == 0xC0) out.append(char(0xC0 | run));
    out.append(char(v));
    i += run;
  }
}

void Put16(std::uint8_t* at, int value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

enum class Layout { Mono1, Ega4, Palette8, Rgb24 };

class PcxCodec : public Codec {
 public:
  int FileType() const override { return PictureFileType::Pcx; }
  QString Description() const override { return kDescription; }
  QStringList Extensions() const override { return {QStringLiteral("pcx")}; }
  bool MatchesSignature(ByteView head) const override { return LooksLikePcx(head); }
  HeaderFacts ReadHeader(ByteView data) const override { return ReadPcxHeader(data); }
  Picture Read(ByteView data, const ReadOptions&) const override { return DecodePcx(data); }
  bool CanWrite() const override { return true; }

  // An indexed or black-and-white picture keeps its palette (1 bit when it is black and white
  // only); a 24-bit picture is written as 24-bit unless its params ask for 8 bits or fewer,
  // when it gets the smallest palette form that holds its colours.
  void Write(const Picture& picture, QIODevice& out) const override {
    const QImage& image = picture.Image;
    const int width = image.width(), height = image.height();
    if (image.isNull()) throw PictureError(QStringLiteral("There is no picture to write."));
    if (width > 65535 || height > 65535)
      throw PictureError(QStringLiteral("The picture is too large for PCX."));
    const int wanted = picture.Params.BitsPerSample * picture.Params.SamplesPerPixel;
    const bool fromMono =
        image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB;

    QImage indexed, bgr;
    if (fromMono || image.format() == QImage::Format_Indexed8) {
      indexed = image.convertToFormat(QImage::Format_Indexed8);
      indexed.setColorTable(CoveringTable(indexed));
    } else {
      bgr = image.format() == QImage::Format_BGR888 ? image
                                                    : image.convertToFormat(QImage::Format_BGR888);
      if (wanted <= 8) {
        // A picture of at most 256 colours keeps them exactly; one with more is quantised,
        // with dithering as the colour reduction of a run does.
        indexed = ReduceColors(bgr, 256, true);
        indexed.setColorTable(CoveringTable(indexed));
      }
    }

    Layout layout = Layout::Rgb24;
    QList<QRgb> table;
    if (!indexed.isNull()) {
      table = indexed.colorTable();
      if ((fromMono || wanted == 1) && IsBlackAndWhite(table))
        layout = Layout::Mono1;
      else if (!fromMono && wanted > 1 && wanted <= 4 && table.size() <= 16)
        layout = Layout::Ega4;
      else
        layout = Layout::Palette8;
    }

    int bits = 8, planes = 1;
    if (layout == Layout::Mono1) bits = 1;
    if (layout == Layout::Ega4) bits = 1, planes = 4;
    if (layout == Layout::Rgb24) planes = 3;
    int bytesPerLine = (width * bits + 7) / 8;
    bytesPerLine += bytesPerLine % 2;  // scan lines are an even number of bytes

    std::uint8_t header[kHeaderSize] = {};
    header[0] = 0x0A;
    header[1] = 5;
    header[2] = 1;
    header[3] = static_cast<std::uint8_t>(bits);
    Put16(header + 8, width - 1);
    Put16(header + 10, height - 1);
    Put16(header + 12,
          std::clamp(picture.Params.DpiX > 0 ? picture.Params.DpiX : kDefaultDpi, 1, 65535));
    Put16(header + 14,
          std::clamp(picture.Params.DpiY > 0 ? picture.Params.DpiY : kDefaultDpi, 1, 65535));
    if (layout == Layout::Mono1) {
      std::memset(header + 19, 0xFF, 3);  // entry 1 white
    } else if (layout == Layout::Ega4) {
      for (int i = 0; i < table.size(); ++i) {
        header[16 + 3 * i] = qRed(table[i]);
        header[17 + 3 * i] = qGreen(table[i]);
        header[18 + 3 * i] = qBlue(table[i]);
      }
    }
    header[65] = static_cast<std::uint8_t>(planes);
    Put16(header + 66, bytesPerLine);
    Put16(header + 68, 1);  // colour or black and white

    QByteArray bytes(reinterpret_cast<const char*>(header), kHeaderSize);
    bytes.reserve(kHeaderSize + qsizetype(height) * bytesPerLine * planes + kPaletteBlockSize);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(bytesPerLine) * planes);
    for (int y = 0; y < height; ++y) {
      std::fill(row.begin(), row.end(), 0);
      if (layout == Layout::Rgb24) {
        const std::uint8_t* in = bgr.constScanLine(y);
        for (int x = 0; x < width; ++x) {
          row[x] = in[3 * x + 2];
          row[bytesPerLine + x] = in[3 * x + 1];
          row[2 * bytesPerLine + x] = in[3 * x];
        }
      } else {
        const std::uint8_t* in = indexed.constScanLine(y);
        for (int x = 0; x < width; ++x) {
          const int bit = 0x80 >> (x % 8);
          if (layout == Layout::Palette8) {
            row[x] = in[x];
          } else if (layout == Layout::Mono1) {
            if ((table[in[x]] & 0xFFFFFF) != 0) row[x / 8] |= bit;
          } else {
            for (int p = 0; p < 4; ++p)
              if (in[x] & (1 << p)) row[p * bytesPerLine + x / 8] |= bit;
          }
        }
      }
      for (int p = 0; p < planes; ++p)
        EncodeRow(row.data() + p * bytesPerLine, bytesPerLine, bytes);
    }
    if (layout == Layout::Palette8) {
      bytes.append(char(kPaletteMarker));
      for (int i = 0; i < 256; ++i) {
        const QRgb c = i < table.size() ? table[i] : qRgb(0, 0, 0);
        bytes.append(char(qRed(c)));
        bytes.append(char(qGreen(c)));
        bytes.append(char(qBlue(c)));
      }
    }
    if (out.write(bytes) != bytes.size())
      throw PictureError(QStringLiteral("Cannot write the PCX file: %1").arg(out.errorString()));
  }
};

}  // namespace

std::unique_ptr<Codec> MakePcxCodec() { return std::make_unique<PcxCodec>(); }
