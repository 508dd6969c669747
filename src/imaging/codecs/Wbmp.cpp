// Wireless bitmaps (.wbmp, type 0): our own reader and writer.
//
// A type 0 file is the type (0), a fixed header byte (0), the width and the height as
// multi-byte integers (7 bits per byte, most significant first, the top bit set on every byte
// but the last), then 1-bit rows padded to whole bytes, most significant bit first, 1 = white.
// The format has no signature; it is found by its extension.

#include <QIODevice>

#include "imaging/Dither.h"
#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"

namespace {

[[noreturn]] void Fail(const QString& text) { throw PictureError(text); }
[[noreturn]] void Truncated() { Fail(QStringLiteral("The wireless bitmap is truncated.")); }

struct WbmpHeader {
  int Width = 0;
  int Height = 0;
  std::size_t RasterOffset = 0;
};

std::uint32_t MultiByteInteger(ByteView data, std::size_t& pos) {
  std::uint32_t value = 0;
  for (;;) {
    if (pos >= data.size()) Truncated();
    const std::uint8_t b = data[pos++];
    if (value > (0x7FFFFFFFu >> 7))
      Fail(QStringLiteral("The wireless bitmap's header is damaged."));
    value = (value << 7) | (b & 0x7F);
    if (!(b & 0x80)) return value;
  }
}

void PutMultiByteInteger(QByteArray& out, std::uint32_t value) {
  char bytes[5];
  int n = 0;
  do {
    bytes[n++] = char(value & 0x7F);
    value >>= 7;
  } while (value);
  while (n > 1) out.append(char(bytes[--n] | 0x80));
  out.append(bytes[0]);
}

WbmpHeader ReadWbmpHeader(ByteView data) {
  std::size_t pos = 0;
  const std::uint32_t type = MultiByteInteger(data, pos);
  if (type != 0) Fail(QStringLiteral("Wireless bitmaps of type %1 are not supported.").arg(type));
  if (pos >= data.size()) Truncated();
  // Type 0 has no extension headers.
  if (data[pos++] & 0x80) Fail(QStringLiteral("The wireless bitmap's header is damaged."));
  WbmpHeader h;
  const std::uint32_t width = MultiByteInteger(data, pos);
  const std::uint32_t height = MultiByteInteger(data, pos);
  CheckPictureSize(width, height);
  h.Width = static_cast<int>(width);
  h.Height = static_cast<int>(height);
  h.RasterOffset = pos;
  return h;
}

class WbmpCodec final : public Codec {
 public:
  int FileType() const override { return PictureFileType::Wbmp; }
  QString Description() const override { return QStringLiteral("Wireless Bitmap"); }
  QStringList Extensions() const override { return {QStringLiteral("wbmp")}; }
  bool MatchesSignature(ByteView) const override { return false; }

  HeaderFacts ReadHeader(ByteView data) const override {
    const WbmpHeader h = ReadWbmpHeader(data);
    HeaderFacts facts;
    facts.FileType = FileType();
    facts.FormatDescription = Description();
    facts.Width = h.Width;
    facts.Height = h.Height;
    facts.BitsPerSample = 1;
    facts.SamplesPerPixel = 1;
    facts.DpiX = kDefaultDpi;
    facts.DpiY = kDefaultDpi;
    return facts;
  }

  Picture Read(ByteView data, const ReadOptions&) const override {
    const WbmpHeader h = ReadWbmpHeader(data);
    const std::size_t rowBytes = (std::size_t(h.Width) + 7) / 8;
    if ((data.size() - h.RasterOffset) / rowBytes < std::size_t(h.Height)) Truncated();
    Picture picture;
    picture.Image = NewPictureImage(h.Width, h.Height);
    for (int y = 0; y < h.Height; ++y) {
      const std::uint8_t* src = data.data() + h.RasterOffset + std::size_t(y) * rowBytes;
      uchar* dst = picture.Image.scanLine(y);
      for (int x = 0; x < h.Width; ++x) {
        const std::uint8_t v = ((src[x / 8] >> (7 - x % 8)) & 1) ? 255 : 0;
        dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v;
      }
    }
    PictureParams& params = picture.Params;
    params.FileType = FileType();
    params.FormatDescription = Description();
    params.Width = h.Width;
    params.Height = h.Height;
    params.BitsPerSample = 1;
    params.SamplesPerPixel = 1;
    params.DpiX = kDefaultDpi;
    params.DpiY = kDefaultDpi;
    return picture;
  }

  bool CanWrite() const override { return true; }

  // A black-and-white picture is written as it is (a palette entry counts as white when its
  // luminance is at least 128); any other picture is first dithered to black and white.
  void Write(const Picture& picture, QIODevice& out) const override {
    QImage image = picture.Image;
    if (image.format() == QImage::Format_MonoLSB)
      image = image.convertToFormat(QImage::Format_Mono);
    if (image.format() != QImage::Format_Mono) image = DitherToBlackAndWhite(image);
    if (image.isNull()) Fail(QStringLiteral("There is no picture to write."));
    const int width = image.width();
    const int height = image.height();

    // Which palette index is white; black and white when the image has no colour table.
    bool indexIsWhite[2] = {false, true};
    const QList<QRgb> colors = image.colorTable();
    for (int i = 0; i < 2 && i < colors.size(); ++i) indexIsWhite[i] = qGray(colors[i]) >= 128;

    QByteArray bytes;
    bytes.append(char(0));  // type 0
    bytes.append(char(0));  // fixed header
    PutMultiByteInteger(bytes, std::uint32_t(width));
    PutMultiByteInteger(bytes, std::uint32_t(height));
    const qsizetype rowBytes = (width + 7) / 8;
    bytes.reserve(bytes.size() + rowBytes * height);
    QByteArray row(rowBytes, '\0');
    for (int y = 0; y < height; ++y) {
      const uchar* src = image.constScanLine(y);
      row.fill('\0');
      for (int x = 0; x < width; ++x) {
        const int index = (src[x / 8] >> (7 - x % 8)) & 1;
        if (indexIsWhite[index]) row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
      }
      bytes.append(row);
    }
    if (out.write(bytes) != bytes.size())
      Fail(QStringLiteral("Cannot write the wireless bitmap: %1").arg(out.errorString()));
  }
};

}  // namespace

std::unique_ptr<Codec> MakeWbmpCodec() { return std::make_unique<WbmpCodec>(); }
