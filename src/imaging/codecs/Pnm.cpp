// Portable bitmap, graymap and pixmap files (P1-P6, .pbm .pgm .ppm .pnm .pxm): our own
// reader.
//
// Plain (ASCII) and raw (binary) forms, 1 bit, and 8 or 16 bits per sample (any maximum value
// up to 65535). Samples are scaled to 0..255 as round(value * 255 / maxval).

#include <algorithm>
#include <vector>

#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"

namespace {

[[noreturn]] void Fail(const QString& text) { throw PictureError(text); }
[[noreturn]] void Truncated() { Fail(QStringLiteral("The portable pixmap is truncated.")); }

bool IsSpace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Walks the text of a PNM file: header fields and plain-form samples.
class Scanner {
 public:
  explicit Scanner(ByteView data) : Data(data) {}

  std::size_t Pos = 0;

  // Skips white space and comments ('#' to the end of the line).
  void SkipSpace() {
    while (Pos < Data.size()) {
      if (Data[Pos] == '#') {
        while (Pos < Data.size() && Data[Pos] != '\n' && Data[Pos] != '\r') ++Pos;
      } else if (IsSpace(Data[Pos])) {
        ++Pos;
      } else {
        break;
      }
    }
  }

  // A decimal number; values beyond 2^31 - 1 are refused.
  std::uint32_t Number() {
    SkipSpace();
    if (Pos >= Data.size()) Truncated();
    if (Data[Pos] < '0' || Data[Pos] > '9')
      Fail(QStringLiteral("The portable pixmap holds an invalid number."));
    std::uint64_t value = 0;
    while (Pos < Data.size() && Data[Pos] >= '0' && Data[Pos] <= '9') {
      value = value * 10 + (Data[Pos] - '0');
      if (value > 0x7FFFFFFF) Fail(QStringLiteral("The portable pixmap holds a number too large."));
      ++Pos;
    }
    return static_cast<std::uint32_t>(value);
  }

  // One digit of a plain bitmap (P1), where samples need not be separated.
  int Bit() {
    SkipSpace();
    if (Pos >= Data.size()) Truncated();
    const std::uint8_t c = Data[Pos++];
    if (c != '0' && c != '1') Fail(QStringLiteral("The portable bitmap holds an invalid sample."));
    return c - '0';
  }

 private:
  ByteView Data;
};

struct PnmHeader {
  int Kind = 0;  // 1..6 from the magic number P1..P6
  int Width = 0;
  int Height = 0;
  int MaxValue = 1;
  std::size_t RasterOffset = 0;  // where the samples begin
  bool Bitmap() const { return Kind == 1 || Kind == 4; }
  bool Color() const { return Kind == 3 || Kind == 6; }
  bool Plain() const { return Kind <= 3; }
  int Channels() const { return Color() ? 3 : 1; }
  int BitsPerSample() const { return Bitmap() ? 1 : (MaxValue > 255 ? 16 : 8); }
};

PnmHeader ReadPnmHeader(ByteView data) {
  if (data.size() < 2) Truncated();
  if (data[0] != 'P' || data[1] < '1' || data[1] > '6')
    Fail(QStringLiteral("This is not a portable pixmap."));
  PnmHeader h;
  h.Kind = data[1] - '0';
  Scanner scan(data);
  scan.Pos = 2;
  if (scan.Pos < data.size() && !IsSpace(data[scan.Pos]) && data[scan.Pos] != '#')
    Fail(QStringLiteral("This is not a portable pixmap."));
  const std::uint32_t width = scan.Number();
  const std::uint32_t height = scan.Number();
  CheckPictureSize(width, height);
  h.Width = static_cast<int>(width);
  h.Height = static_cast<int>(height);
  if (!h.Bitmap()) {
    const std::uint32_t maxValue = scan.Number();
    if (maxValue == 0 || maxValue > 65535)
      Fail(
          QStringLiteral("The portable pixmap's maximum value %1 is not supported.").arg(maxValue));
    h.MaxValue = static_cast<int>(maxValue);
  }
  // Exactly one white-space character separates the header from raw samples.
  if (!h.Plain()) {
    if (scan.Pos >= data.size()) Truncated();
    if (!IsSpace(data[scan.Pos])) Fail(QStringLiteral("The portable pixmap's header is damaged."));
    ++scan.Pos;
  }
  h.RasterOffset = scan.Pos;
  return h;
}

class PnmCodec final : public Codec {
 public:
  int FileType() const override { return PictureFileType::Pxm; }
  QString Description() const override { return QStringLiteral("Portable Pixmap"); }
  QStringList Extensions() const override {
    return {QStringLiteral("pxm"), QStringLiteral("ppm"), QStringLiteral("pgm"),
            QStringLiteral("pbm"), QStringLiteral("pnm")};
  }

  bool MatchesSignature(ByteView head) const override {
    return head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' &&
           (IsSpace(head[2]) || head[2] == '#');
  }

  HeaderFacts ReadHeader(ByteView data) const override {
    const PnmHeader h = ReadPnmHeader(data);
    HeaderFacts facts;
    facts.FileType = FileType();
    facts.FormatDescription = Description();
    facts.Width = h.Width;
    facts.Height = h.Height;
    facts.BitsPerSample = h.BitsPerSample();
    facts.SamplesPerPixel = h.Channels();
    facts.DpiX = kDefaultDpi;
    facts.DpiY = kDefaultDpi;
    return facts;
  }

  Picture Read(ByteView data, const ReadOptions&) const override {
    const PnmHeader h = ReadPnmHeader(data);
    const int width = h.Width;
    const int height = h.Height;
    const int channels = h.Channels();

    // The samples must all be there before anything is allocated.
    const int sampleBytes = h.MaxValue > 255 ? 2 : 1;
    if (!h.Plain()) {
      const std::uint64_t rowBytes = h.Bitmap() ? (std::uint64_t(width) + 7) / 8
                                                : std::uint64_t(width) * channels * sampleBytes;
      if (data.size() - h.RasterOffset < rowBytes * std::uint64_t(height)) Truncated();
    } else {
      // A plain sample takes at least one character (P1) or a digit and a separator.
      const std::uint64_t samples = std::uint64_t(width) * std::uint64_t(height) * channels;
      if (data.size() - h.RasterOffset < (h.Kind == 1 ? samples : 2 * samples - 1)) Truncated();
    }

    Picture picture;
    picture.Image = NewPictureImage(width, height);
    QImage& image = picture.Image;

    // Sample value -> 0..255, rounded; values above the maximum count as the maximum.
    std::vector<std::uint8_t> scale(std::size_t(h.MaxValue) + 1);
    for (int v = 0; v <= h.MaxValue; ++v)
      scale[std::size_t(v)] = static_cast<std::uint8_t>(
          (std::uint64_t(v) * 510 + std::uint64_t(h.MaxValue)) / (2 * std::uint64_t(h.MaxValue)));
    auto scaled = [&](std::uint32_t v) { return scale[std::min<std::uint32_t>(v, h.MaxValue)]; };

    Scanner scan(data);
    scan.Pos = h.RasterOffset;
    const std::uint8_t* raw = data.data() + h.RasterOffset;
    for (int y = 0; y < height; ++y) {
      uchar* dst = image.scanLine(y);
      if (h.Kind == 4) {
        const std::uint8_t* src = raw + std::size_t(y) * ((std::size_t(width) + 7) / 8);
        for (int x = 0; x < width; ++x) {
          const std::uint8_t v = ((src[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;  // 1 is black
          dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v;
        }
        continue;
      }
      for (int x = 0; x < width; ++x) {
        std::uint8_t rgb[3];
        if (h.Kind == 1) {
          rgb[0] = scan.Bit() ? 0 : 255;
          rgb[1] = rgb[2] = rgb[0];
        } else {
          for (int c = 0; c < channels; ++c) {
            std::uint32_t v;
            if (h.Plain()) {
              v = scan.Number();
            } else {
              const std::size_t at =
                  ((std::size_t(y) * std::size_t(width) + std::size_t(x)) * std::size_t(channels) +
                   std::size_t(c)) *
                  std::size_t(sampleBytes);
              v = sampleBytes == 2 ? (std::uint32_t(raw[at]) << 8) | raw[at + 1] : raw[at];
            }
            rgb[c] = scaled(v);
          }
          if (channels == 1) rgb[1] = rgb[2] = rgb[0];
        }
        dst[3 * x] = rgb[2];
        dst[3 * x + 1] = rgb[1];
        dst[3 * x + 2] = rgb[0];
      }
    }

    PictureParams& params = picture.Params;
    params.FileType = FileType();
    params.FormatDescription = Description();
    params.Width = width;
    params.Height = height;
    params.BitsPerSample = h.BitsPerSample();
    params.SamplesPerPixel = channels;
    params.DpiX = kDefaultDpi;
    params.DpiY = kDefaultDpi;
    return picture;
  }
};

}  // namespace

std::unique_ptr<Codec> MakePnmCodec() { return std::make_unique<PnmCodec>(); }
