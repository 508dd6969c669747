// PNG reading and writing through libpng.
//
// libpng reports errors through an error function that must not return; ours longjmps to the
// setjmp placed by Protected(), and the C++ side throws PictureError. Every libpng call that can
// fail runs inside a Protected() lambda holding only trivially destructible locals, so the jump
// never skips a destructor. Warnings are dropped.

#include <png.h>

#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/ColorReduce.h"
#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"

namespace {

const QString kDescription = QStringLiteral("PNG image");
constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr char kXmpKey[] = "XML:com.adobe.xmp";
constexpr char kCommentKey[] = "Comment";
constexpr char kRawProfileKey[] = "Raw profile type ";
constexpr double kMetresPerInch = 0.0254;

struct ErrorState {
  char Message[200] = {};
};

void ErrorFn(png_structp png, png_const_charp message) {
  if (auto* state = static_cast<ErrorState*>(png_get_error_ptr(png)))
    std::snprintf(state->Message, sizeof state->Message, "%s", message ? message : "");
  png_longjmp(png, 1);
}

void WarningFn(png_structp, png_const_charp) {}

// Runs f with png's jump buffer armed; false when libpng failed inside it. f must not own
// objects with destructors.
template <typename F>
bool Protected(png_structp png, F&& f) {
  if (setjmp(png_jmpbuf(png))) return false;
  f();
  return true;
}

struct MemorySource {
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
  std::size_t Pos = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* src = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (length > src->Size - src->Pos) png_error(png, "The file is truncated.");
  std::memcpy(out, src->Data + src->Pos, length);
  src->Pos += length;
}

// Owns a libpng reader and its two info structs.
struct Reader {
  ErrorState Err;
  MemorySource Source;
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  png_infop End = nullptr;

  explicit Reader(ByteView data) {
    if (data.size() < sizeof kSignature || std::memcmp(data.data(), kSignature, 8) != 0)
      throw PictureError(QStringLiteral("Cannot read the PNG picture: not a PNG file."));
    Source = {data.data(), data.size(), 0};
    Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &Err, ErrorFn, WarningFn);
    if (Png) Info = png_create_info_struct(Png);
    if (Info) End = png_create_info_struct(Png);
    if (!End) throw PictureError(QStringLiteral("Not enough memory to read the PNG picture."));
  }
  ~Reader() { png_destroy_read_struct(&Png, &Info, &End); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  [[noreturn]] void Fail() const {
    throw PictureError(
        QStringLiteral("Cannot read the PNG picture: %1").arg(QString::fromLocal8Bit(Err.Message)));
  }
};

struct HeaderInfo {
  png_uint_32 Width = 0;
  png_uint_32 Height = 0;
  int BitDepth = 0;
  int ColorType = 0;
  int Interlace = 0;
};

// Reads the chunks before the pixel data. Throws PictureError.
HeaderInfo ReadInfo(Reader& r) {
  HeaderInfo h;
  if (!Protected(r.Png, [&] {
        png_set_read_fn(r.Png, &r.Source, ReadFromMemory);
        png_read_info(r.Png, r.Info);
        png_get_IHDR(r.Png, r.Info, &h.Width, &h.Height, &h.BitDepth, &h.ColorType, &h.Interlace,
                     nullptr, nullptr);
      }))
    r.Fail();
  return h;
}

int SamplesOf(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 2;
    case PNG_COLOR_TYPE_RGB:
      return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return 4;
    default:  // grey, palette
      return 1;
  }
}

// Dots per inch from pHYs when it is given in pixels per metre.
void PhysToDpi(png_structp png, png_infop info, int& dpiX, int& dpiY) {
  dpiX = dpiY = kDefaultDpi;
  png_uint_32 x = 0, y = 0;
  int unit = PNG_RESOLUTION_UNKNOWN;
  if (!png_get_pHYs(png, info, &x, &y, &unit) || unit != PNG_RESOLUTION_METER || x == 0 || y == 0)
    return;
  dpiX = int(std::clamp(std::lround(x * kMetresPerInch), 1L, 1000000L));
  dpiY = int(std::clamp(std::lround(y * kMetresPerInch), 1L, 1000000L));
}

// ImageMagick and GraphicsMagick keep profiles in text chunks named "Raw profile type NAME":
// a line with the name, a line with the byte count, then the bytes in hexadecimal. Returns the
// bytes, or nothing when the text is not in that form.
QByteArray DecodeRawProfile(const QByteArray& text) {
  const QList<QByteArray> parts = text.simplified().split(' ');
  if (parts.size() < 3) return {};
  bool ok = false;
  const qsizetype length = parts[1].toLongLong(&ok);
  if (!ok || length <= 0) return {};
  const QByteArray hex = parts.mid(2).join();
  if (hex.size() < length * 2) return {};
  return QByteArray::fromHex(hex.left(length * 2));
}

// Puts a raw profile where it belongs; other raw profiles are dropped rather than shown as
// comments.
void TakeRawProfile(const char* key, const QByteArray& text, PictureParams& params) {
  const QByteArray name = QByteArray(key).mid(int(sizeof kRawProfileKey) - 1).toLower();
  QByteArray data = DecodeRawProfile(text);
  if (data.isEmpty()) return;
  if (name == "exif" || name == "app1") {
    if (data.startsWith(QByteArray("Exif\0\0", 6))) data.remove(0, 6);
    if (params.Exif.isEmpty() && (data.startsWith("II") || data.startsWith("MM")))
      params.Exif = data;
  } else if ((name == "icc" || name == "icm") && params.IccProfile.isEmpty()) {
    params.IccProfile = data;
  } else if (name == "xmp" && params.Xmp.isEmpty()) {
    params.Xmp = data;
  }
}

void ReadText(png_structp png, png_infop info, PictureParams& params) {
  png_textp texts = nullptr;
  const int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; ++i) {
    const png_text& t = texts[i];
    // iTXt is UTF-8; tEXt and zTXt are Latin-1.
    const bool international = t.compression >= PNG_ITXT_COMPRESSION_NONE;
    const std::size_t length = international ? t.itxt_length : t.text_length;
    const QByteArray bytes(t.text ? t.text : "", t.text ? qsizetype(length) : 0);
    if (qstrcmp(t.key, kXmpKey) == 0) {
      if (params.Xmp.isEmpty()) params.Xmp = bytes;
      continue;
    }
    if (t.key && qstrncmp(t.key, kRawProfileKey, sizeof kRawProfileKey - 1) == 0) {
      TakeRawProfile(t.key, bytes, params);
      continue;
    }
    params.Comments << (international ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes));
  }
}

void ReadMetadata(png_structp png, png_infop info, PictureParams& params) {
  png_bytep exif = nullptr;
  png_uint_32 exifLength = 0;
  if (params.Exif.isEmpty() && png_get_eXIf_1(png, info, &exifLength, &exif) && exif)
    params.Exif = QByteArray(reinterpret_cast<const char*>(exif), qsizetype(exifLength));
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileLength = 0;
  if (params.IccProfile.isEmpty() &&
      png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) && profile)
    params.IccProfile =
        QByteArray(reinterpret_cast<const char*>(profile), qsizetype(profileLength));
  ReadText(png, info, params);
}

// Moves the alpha bytes of BGRA rows into their own plane.
void SplitAlpha(const png_byte* bgra, uchar* bgr, uchar* alpha, int width) {
  for (int x = 0; x < width; ++x, bgra += 4, bgr += 3) {
    bgr[0] = bgra[0];
    bgr[1] = bgra[1];
    bgr[2] = bgra[2];
    alpha[x] = bgra[3];
  }
}

// --- writing ---

struct DeviceSink {
  QIODevice* Device = nullptr;
  bool Failed = false;
};

void WriteToDevice(png_structp png, png_bytep data, png_size_t length) {
  auto* sink = static_cast<DeviceSink*>(png_get_io_ptr(png));
  bool ok = false;
  try {  // no C++ exception may cross libpng's C frames
    ok = sink->Device->write(reinterpret_cast<const char*>(data), qint64(length)) == qint64(length);
  } catch (...) {
    ok = false;
  }
  if (!ok) {
    sink->Failed = true;
    png_error(png, "write error");
  }
}

void FlushDevice(png_structp) {}

struct Writer {
  ErrorState Err;
  DeviceSink Sink;
  png_structp Png = nullptr;
  png_infop Info = nullptr;

  explicit Writer(QIODevice& device) {
    Sink.Device = &device;
    Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &Err, ErrorFn, WarningFn);
    if (Png) Info = png_create_info_struct(Png);
    if (!Info) throw PictureError(QStringLiteral("Not enough memory to write the PNG picture."));
  }
  ~Writer() { png_destroy_write_struct(&Png, &Info); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
};

enum class Layout { Palette, Grey, GreyAlpha, Rgb, Rgba };

// Everything the encoder needs, prepared before libpng is called.
struct WritePlan {
  Layout Kind = Layout::Rgb;
  QImage Image;  // BGR888, Indexed8 (one index a byte) or Mono (packed, most significant first)
  QImage Alpha;  // Grayscale8 of the same size, for GreyAlpha and Rgba
  int BitDepth = 8;
  bool PackIndexes = false;  // Indexed8 written below 8 bits: libpng packs the bytes
  std::vector<png_color> Palette;
  std::vector<png_byte> Transparency;  // alpha per palette entry, trailing opaque ones trimmed
};

bool IsGreyBgr(const QImage& bgr) {
  for (int y = 0; y < bgr.height(); ++y) {
    const uchar* p = bgr.constScanLine(y);
    for (int x = 0; x < bgr.width(); ++x, p += 3)
      if (p[0] != p[1] || p[1] != p[2]) return false;
  }
  return true;
}

int SmallestDepthFor(int entries) {
  for (int depth : {1, 2, 4})
    if ((1 << depth) >= entries) return depth;
  return 8;
}

// Palette, depth and transparency for an Indexed8 or Mono image; false when the alpha plane
// cannot be expressed per palette entry (then the picture is written as RGBA).
bool PlanPalette(const Picture& picture, const QImage& alpha, WritePlan& plan) {
  QImage image = picture.Image;
  const bool mono =
      image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB;
  if (image.format() == QImage::Format_MonoLSB) image = image.convertToFormat(QImage::Format_Mono);
  const int width = image.width();

  int entries = mono ? 2 : std::max(1, int(image.colorCount()));
  if (!mono) {
    int highest = 0;
    for (int y = 0; y < image.height(); ++y) {
      const uchar* p = image.constScanLine(y);
      for (int x = 0; x < width; ++x) highest = std::max(highest, int(p[x]));
    }
    entries = std::max(entries, highest + 1);
  }

  std::vector<int> entryAlpha(std::size_t(entries), -1);
  for (int i = 0; i < entries; ++i) {
    QRgb c = i < image.colorCount() ? image.color(i)
                                    : (mono && i == 1 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    plan.Palette.push_back({png_byte(qRed(c)), png_byte(qGreen(c)), png_byte(qBlue(c))});
    entryAlpha[std::size_t(i)] = qAlpha(c);
  }
  if (!alpha.isNull()) {
    // The plane must agree with one alpha per entry; it replaces the palette's own alpha.
    std::vector<int> seen(std::size_t(entries), -1);
    for (int y = 0; y < image.height(); ++y) {
      const uchar* p = image.constScanLine(y);
      const uchar* a = alpha.constScanLine(y);
      for (int x = 0; x < width; ++x) {
        const int index = mono ? (p[x >> 3] >> (7 - (x & 7))) & 1 : p[x];
        int& s = seen[std::size_t(index)];
        if (s < 0)
          s = a[x];
        else if (s != a[x])
          return false;
      }
    }
    for (int i = 0; i < entries; ++i)
      if (seen[std::size_t(i)] >= 0) entryAlpha[std::size_t(i)] = seen[std::size_t(i)];
  }
  int lastTransparent = -1;
  for (int i = 0; i < entries; ++i)
    if (entryAlpha[std::size_t(i)] < 255) lastTransparent = i;
  for (int i = 0; i <= lastTransparent; ++i)
    plan.Transparency.push_back(png_byte(entryAlpha[std::size_t(i)]));

  plan.Kind = Layout::Palette;
  plan.Image = image;
  if (mono) {
    plan.BitDepth = 1;
  } else {
    const int wanted = picture.Params.BitsPerSample;
    const bool fits =
        (wanted == 1 || wanted == 2 || wanted == 4 || wanted == 8) && (1 << wanted) >= entries;
    plan.BitDepth = fits ? wanted : SmallestDepthFor(entries);
    plan.PackIndexes = plan.BitDepth < 8;
  }
  return true;
}

WritePlan PlanFor(const Picture& picture) {
  WritePlan plan;
  QImage alpha;
  if (picture.HasAlpha() && picture.Alpha.size() == picture.Image.size())
    alpha = picture.Alpha.format() == QImage::Format_Grayscale8
                ? picture.Alpha
                : picture.Alpha.convertToFormat(QImage::Format_Grayscale8);

  const QImage::Format format = picture.Image.format();
  if ((format == QImage::Format_Indexed8 || format == QImage::Format_Mono ||
       format == QImage::Format_MonoLSB) &&
      PlanPalette(picture, alpha, plan))
    return plan;

  plan.Image = format == QImage::Format_BGR888
                   ? picture.Image
                   : picture.Image.convertToFormat(QImage::Format_BGR888);

  // Params of one sample of fewer than 8 bits, or an 8-bit palette (a black-and-white or
  // palette picture read from a file, or asked for by the colour options), keep that depth
  // when the pixels still fit it; 8-bit grey stays grey. Pixels that no longer fit (a resized
  // picture has new shades) are written in grey or colour rather than reduced here.
  const int bits = picture.Params.BitsPerSample;
  if (picture.Params.SamplesPerPixel == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8) &&
      !(bits == 8 && IsGreyBgr(plan.Image)) && CountColors(plan.Image, 1 << bits) <= (1 << bits)) {
    Picture indexed = picture;
    indexed.Image = ReduceColors(plan.Image, 1 << bits, false);
    WritePlan palettePlan;
    if (PlanPalette(indexed, alpha, palettePlan)) return palettePlan;
  }

  // A picture read as grey (with or without alpha) that is still grey stays grey.
  const int samples = picture.Params.SamplesPerPixel;
  const bool grey = samples <= 2 && IsGreyBgr(plan.Image);
  if (!alpha.isNull()) {
    plan.Alpha = alpha;
    plan.Kind = grey ? Layout::GreyAlpha : Layout::Rgba;
  } else {
    plan.Kind = grey ? Layout::Grey : Layout::Rgb;
  }
  return plan;
}

// The row libpng receives for row y, in the layout of the plan (row is a scratch buffer).
png_bytep RowFor(const WritePlan& plan, int y, png_byte* row) {
  const uchar* p = plan.Image.constScanLine(y);
  const int width = plan.Image.width();
  switch (plan.Kind) {
    case Layout::Palette:
    case Layout::Rgb:
      return const_cast<png_bytep>(p);
    case Layout::Grey:
      for (int x = 0; x < width; ++x) row[x] = p[3 * x + 1];
      return row;
    case Layout::GreyAlpha: {
      const uchar* a = plan.Alpha.constScanLine(y);
      for (int x = 0; x < width; ++x) {
        row[2 * x] = p[3 * x + 1];
        row[2 * x + 1] = a[x];
      }
      return row;
    }
    case Layout::Rgba: {
      const uchar* a = plan.Alpha.constScanLine(y);
      for (int x = 0; x < width; ++x) {
        row[4 * x] = p[3 * x];
        row[4 * x + 1] = p[3 * x + 1];
        row[4 * x + 2] = p[3 * x + 2];
        row[4 * x + 3] = a[x];
      }
      return row;
    }
  }
  return row;
}

int ColorTypeOf(Layout kind) {
  switch (kind) {
    case Layout::Palette:
      return PNG_COLOR_TYPE_PALETTE;
    case Layout::Grey:
      return PNG_COLOR_TYPE_GRAY;
    case Layout::GreyAlpha:
      return PNG_COLOR_TYPE_GRAY_ALPHA;
    case Layout::Rgb:
      return PNG_COLOR_TYPE_RGB;
    case Layout::Rgba:
      return PNG_COLOR_TYPE_RGB_ALPHA;
  }
  return PNG_COLOR_TYPE_RGB;
}

// A text chunk's strings, kept alive until libpng has copied them.
struct TextChunk {
  QByteArray Key;
  QByteArray Text;
  bool International = false;
};

class PngCodec final : public Codec {
 public:
  int FileType() const override { return PictureFileType::Png; }
  QString Description() const override { return kDescription; }
  QStringList Extensions() const override { return {QStringLiteral("png")}; }

  bool MatchesSignature(ByteView head) const override {
    return head.size() >= sizeof kSignature && std::memcmp(head.data(), kSignature, 8) == 0;
  }

  HeaderFacts ReadHeader(ByteView data) const override {
    Reader r(data);
    const HeaderInfo h = ReadInfo(r);
    HeaderFacts facts;
    facts.FileType = PictureFileType::Png;
    facts.FormatDescription = kDescription;
    facts.Width = int(h.Width);
    facts.Height = int(h.Height);
    facts.BitsPerSample = h.BitDepth;
    facts.SamplesPerPixel = SamplesOf(h.ColorType);
    PhysToDpi(r.Png, r.Info, facts.DpiX, facts.DpiY);
    return facts;
  }

  Picture Read(ByteView data, const ReadOptions&) const override {
    Reader r(data);
    const HeaderInfo h = ReadInfo(r);
    CheckPictureSize(h.Width, h.Height);
    const int width = int(h.Width);
    const int height = int(h.Height);
    const bool hasAlpha =
        (h.ColorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(r.Png, r.Info, PNG_INFO_tRNS);
    const bool interlaced = h.Interlace != PNG_INTERLACE_NONE;

    // Every layout becomes 8-bit blue-green-red, with alpha last when the file has any.
    png_size_t rowBytes = 0;
    if (!Protected(r.Png, [&] {
          png_set_expand(r.Png);    // palette to RGB, low grey depths to 8, tRNS to alpha
          png_set_strip_16(r.Png);  // 16-bit samples keep their high byte, as in Pillow
          png_set_gray_to_rgb(r.Png);
          png_set_bgr(r.Png);
          png_set_interlace_handling(r.Png);
          png_read_update_info(r.Png, r.Info);
          rowBytes = png_get_rowbytes(r.Png, r.Info);
        }))
      r.Fail();
    const png_size_t pixelBytes = hasAlpha ? 4 : 3;
    if (rowBytes != png_size_t(width) * pixelBytes)
      throw PictureError(QStringLiteral("Cannot read the PNG picture: unexpected layout."));

    Picture picture;
    picture.Image = NewPictureImage(width, height);
    if (hasAlpha) picture.Alpha = NewPictureImage(width, height, QImage::Format_Grayscale8);
    // Rows with alpha go through a buffer and are split; an interlaced file needs all of them.
    std::vector<png_byte> buffer;
    if (hasAlpha) buffer.resize(rowBytes * (interlaced ? std::size_t(height) : 1));
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
      rows[std::size_t(y)] = !hasAlpha    ? picture.Image.scanLine(y)
                             : interlaced ? buffer.data() + rowBytes * std::size_t(y)
                                          : buffer.data();
    std::vector<uchar*> imageRows, alphaRows;
    if (hasAlpha)
      for (int y = 0; y < height; ++y) {
        imageRows.push_back(picture.Image.scanLine(y));
        alphaRows.push_back(picture.Alpha.scanLine(y));
      }

    if (!Protected(r.Png, [&] {
          if (!hasAlpha || interlaced) {
            png_read_image(r.Png, rows.data());
          } else {
            for (int y = 0; y < height; ++y) {
              png_read_row(r.Png, buffer.data(), nullptr);
              SplitAlpha(buffer.data(), imageRows[std::size_t(y)], alphaRows[std::size_t(y)],
                         width);
            }
          }
        }))
      r.Fail();
    if (hasAlpha && interlaced)
      for (int y = 0; y < height; ++y)
        SplitAlpha(rows[std::size_t(y)], imageRows[std::size_t(y)], alphaRows[std::size_t(y)],
                   width);
    // Chunks after the pixels (text, eXIf) are a bonus: damage there keeps the picture.
    const bool endRead = Protected(r.Png, [&] { png_read_end(r.Png, r.End); });

    PictureParams& params = picture.Params;
    params.FileType = PictureFileType::Png;
    params.FormatDescription = kDescription;
    params.Width = width;
    params.Height = height;
    params.BitsPerSample = h.BitDepth;
    params.SamplesPerPixel = SamplesOf(h.ColorType);
    PhysToDpi(r.Png, r.Info, params.DpiX, params.DpiY);
    ReadMetadata(r.Png, r.Info, params);
    if (endRead) ReadMetadata(r.Png, r.End, params);
    return picture;
  }

  bool CanWrite() const override { return true; }

  void Write(const Picture& picture, QIODevice& out) const override {
    if (picture.IsNull()) throw PictureError(QStringLiteral("There is no picture to write."));
    const PictureParams& params = picture.Params;
    const WritePlan plan = PlanFor(picture);
    const int width = plan.Image.width();
    const int height = plan.Image.height();
    std::vector<png_byte> row(std::size_t(width) * 4);

    std::vector<TextChunk> chunks;
    for (const QString& comment : params.Comments) {
      bool latin1 = std::all_of(comment.begin(), comment.end(),
                                [](QChar c) { return c.unicode() > 0 && c.unicode() < 256; });
      chunks.push_back({kCommentKey, latin1 ? comment.toLatin1() : comment.toUtf8(), !latin1});
    }
    if (!params.Xmp.isEmpty()) chunks.push_back({kXmpKey, params.Xmp, true});
    std::vector<png_text> texts(chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      png_text& t = texts[i];
      std::memset(&t, 0, sizeof t);
      t.compression =
          chunks[i].International ? PNG_ITXT_COMPRESSION_NONE : PNG_TEXT_COMPRESSION_NONE;
      t.key = chunks[i].Key.data();
      t.text = chunks[i].Text.data();
      if (chunks[i].International)
        t.itxt_length = std::size_t(chunks[i].Text.size());
      else
        t.text_length = std::size_t(chunks[i].Text.size());
    }
    // libpng accepts eXIf only in its TIFF form, starting with a byte-order mark.
    const QByteArray& exif = params.Exif;
    const bool writeExif = exif.size() >= 8 && (exif.startsWith("II") || exif.startsWith("MM"));
    const QByteArray& icc = params.IccProfile;
    const png_uint_32 ppmX = png_uint_32(std::lround(std::max(1, params.DpiX) / kMetresPerInch));
    const png_uint_32 ppmY = png_uint_32(std::lround(std::max(1, params.DpiY) / kMetresPerInch));

    Writer w(out);
    const bool ok = Protected(w.Png, [&] {
      png_set_write_fn(w.Png, &w.Sink, WriteToDevice, FlushDevice);
      // A profile libpng finds inconsistent is left out with a warning instead of failing.
      png_set_benign_errors(w.Png, 1);
      png_set_compression_level(w.Png, std::clamp(params.PngLevel, 0, 9));
      png_set_IHDR(w.Png, w.Info, png_uint_32(width), png_uint_32(height), plan.BitDepth,
                   ColorTypeOf(plan.Kind), PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                   PNG_FILTER_TYPE_DEFAULT);
      if (plan.Kind == Layout::Palette) {
        png_set_PLTE(w.Png, w.Info, plan.Palette.data(), int(plan.Palette.size()));
        if (!plan.Transparency.empty())
          png_set_tRNS(w.Png, w.Info, plan.Transparency.data(), int(plan.Transparency.size()),
                       nullptr);
      }
      png_set_pHYs(w.Png, w.Info, ppmX, ppmY, PNG_RESOLUTION_METER);
      if (!icc.isEmpty())
        png_set_iCCP(w.Png, w.Info, "ICC profile", PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(icc.constData()), png_uint_32(icc.size()));
      if (writeExif)
        png_set_eXIf_1(w.Png, w.Info, png_uint_32(exif.size()),
                       reinterpret_cast<png_bytep>(const_cast<char*>(exif.constData())));
      if (!texts.empty()) png_set_text(w.Png, w.Info, texts.data(), int(texts.size()));
      png_write_info(w.Png, w.Info);
      if (plan.Kind == Layout::Rgb || plan.Kind == Layout::Rgba) png_set_bgr(w.Png);
      if (plan.PackIndexes) png_set_packing(w.Png);
      for (int y = 0; y < height; ++y) png_write_row(w.Png, RowFor(plan, y, row.data()));
      png_write_end(w.Png, w.Info);
    });
    if (!ok) {
      if (w.Sink.Failed)
        throw PictureError(
            QStringLiteral("Cannot write the PNG picture: %1").arg(out.errorString()));
      throw PictureError(QStringLiteral("Cannot write the PNG picture: %1")
                             .arg(QString::fromLocal8Bit(w.Err.Message)));
    }
  }
};

}  // namespace

std::unique_ptr<Codec> MakePngCodec() { return std::make_unique<PngCodec>(); }
