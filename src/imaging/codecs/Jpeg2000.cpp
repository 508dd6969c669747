// JPEG 2000 reader through OpenJPEG: the ".jp2" container and the raw code stream (".j2k",
// ".jpc", ".j2c"). Both are decoded from the file's bytes in memory; which decoder runs is
// decided by the content, so a container renamed to a code-stream extension still reads.

#include <openjpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"

namespace {

// The JP2 signature box and the code stream's SOC + SIZ markers.
constexpr std::array<std::uint8_t, 12> kJp2Signature = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                                        0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr std::array<std::uint8_t, 4> kJ2kSignature = {0xFF, 0x4F, 0xFF, 0x51};

// More components than this are not pictures we can show (and only cost memory).
constexpr OPJ_UINT32 kMaxComponents = 16;

bool StartsWith(ByteView data, const std::uint8_t* sig, std::size_t n) {
  return data.size() >= n && std::memcmp(data.data(), sig, n) == 0;
}
bool IsJp2(ByteView data) { return StartsWith(data, kJp2Signature.data(), kJp2Signature.size()); }
bool IsJ2k(ByteView data) { return StartsWith(data, kJ2kSignature.data(), kJ2kSignature.size()); }

// ---------------------------------------------------------------------------------------------
// An opj_stream reading from the file's bytes.

struct MemoryReader {
  ByteView Data;
  std::size_t Pos = 0;
};

OPJ_SIZE_T ReadBytes(void* buffer, OPJ_SIZE_T count, void* userData) {
  auto* r = static_cast<MemoryReader*>(userData);
  const std::size_t left = r->Data.size() - r->Pos;
  if (left == 0) return static_cast<OPJ_SIZE_T>(-1);  // end of stream
  const std::size_t n = std::min<std::size_t>(left, count);
  std::memcpy(buffer, r->Data.data() + r->Pos, n);
  r->Pos += n;
  return n;
}

OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* userData) {
  auto* r = static_cast<MemoryReader*>(userData);
  const auto size = static_cast<OPJ_OFF_T>(r->Data.size());
  const OPJ_OFF_T target = static_cast<OPJ_OFF_T>(r->Pos) + count;
  if (count < 0 && target < 0) return -1;
  if (target > size) {
    r->Pos = r->Data.size();
    return -1;
  }
  r->Pos = static_cast<std::size_t>(target);
  return count;
}

OPJ_BOOL SeekBytes(OPJ_OFF_T offset, void* userData) {
  auto* r = static_cast<MemoryReader*>(userData);
  if (offset < 0 || static_cast<std::uint64_t>(offset) > r->Data.size()) return OPJ_FALSE;
  r->Pos = static_cast<std::size_t>(offset);
  return OPJ_TRUE;
}

// OpenJPEG's messages are kept instead of printed; the last error becomes the exception text.
struct Messages {
  std::string LastError;
};

void OnError(const char* msg, void* client) {
  auto* m = static_cast<Messages*>(client);
  m->LastError = msg ? msg : "";
  while (!m->LastError.empty() && (m->LastError.back() == '\n' || m->LastError.back() == '\r'))
    m->LastError.pop_back();
}
void OnQuiet(const char*, void*) {}

struct CodecDeleter {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageDeleter {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};
using CodecPtr = std::unique_ptr<opj_codec_t, CodecDeleter>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamDeleter>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageDeleter>;

// One decoding session: the codec, its stream over the bytes, and the header that was read.
class Session {
 public:
  Session(ByteView data, bool container) : Reader{data, 0} {
    Codec.reset(opj_create_decompress(container ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    if (!Codec) throw PictureError(QStringLiteral("Cannot start the JPEG 2000 decoder."));
    opj_set_error_handler(Codec.get(), OnError, &Log);
    opj_set_warning_handler(Codec.get(), OnQuiet, nullptr);
    opj_set_info_handler(Codec.get(), OnQuiet, nullptr);

    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    if (!opj_setup_decoder(Codec.get(), &params)) Fail("Cannot set up the JPEG 2000 decoder");

    Stream.reset(opj_stream_create(64 * 1024, OPJ_TRUE));
    if (!Stream) throw PictureError(QStringLiteral("Cannot start the JPEG 2000 decoder."));
    opj_stream_set_user_data(Stream.get(), &Reader, nullptr);
    opj_stream_set_user_data_length(Stream.get(), data.size());
    opj_stream_set_read_function(Stream.get(), ReadBytes);
    opj_stream_set_skip_function(Stream.get(), SkipBytes);
    opj_stream_set_seek_function(Stream.get(), SeekBytes);

    opj_image_t* image = nullptr;
    const OPJ_BOOL ok = opj_read_header(Stream.get(), Codec.get(), &image);
    Image.reset(image);
    if (!ok || !Image) Fail("The JPEG 2000 header cannot be read");
    CheckHeader();
  }

  const opj_image_t& Header() const { return *Image; }
  int Width() const { return static_cast<int>(Image->x1 - Image->x0); }
  int Height() const { return static_cast<int>(Image->y1 - Image->y0); }

  // Asks for the picture at 1/2^factor of its size, as far as every component has the
  // resolution levels for it. Returns the factor granted (0 for full size).
  int Reduce(int factor) {
    if (factor <= 0) return 0;
    opj_codestream_info_v2_t* info = opj_get_cstr_info(Codec.get());
    int levels = 0;
    if (info && info->m_default_tile_info.tccp_info && info->nbcomps > 0) {
      levels = 64;
      for (OPJ_UINT32 c = 0; c < info->nbcomps; ++c)
        levels = std::min<int>(levels, info->m_default_tile_info.tccp_info[c].numresolutions);
    }
    if (info) opj_destroy_cstr_info(&info);
    factor = std::min(factor, levels - 1);
    if (factor <= 0 || !opj_set_decoded_resolution_factor(Codec.get(), OPJ_UINT32(factor)))
      return 0;
    return factor;
  }

  // Decodes the whole picture; the header has been checked against the size limits.
  const opj_image_t& Decode() {
    if (Image->numcomps > 4) {
      // Only the first components are shown; skip decoding the others. Colour transforms
      // cannot be applied to a subset, which matters only for such unusual files.
      const OPJ_UINT32 keep[3] = {0, 1, 2};
      if (!opj_set_decoded_components(Codec.get(), 3, keep, OPJ_FALSE))
        Fail("The JPEG 2000 components cannot be selected");
    }
    if (!opj_decode(Codec.get(), Stream.get(), Image.get()) ||
        !opj_end_decompress(Codec.get(), Stream.get()))
      Fail("The JPEG 2000 picture cannot be decoded");
    return *Image;
  }

 private:
  [[noreturn]] void Fail(const char* what) const {
    QString text = QString::fromLatin1(what);
    if (!Log.LastError.empty())
      text += QStringLiteral(": ") + QString::fromStdString(Log.LastError);
    throw PictureError(text + QLatin1Char('.'));
  }

  void CheckHeader() const {
    if (Image->x1 <= Image->x0 || Image->y1 <= Image->y0)
      throw PictureError(QStringLiteral("The JPEG 2000 picture has no pixels."));
    CheckPictureSize(static_cast<long long>(Image->x1) - Image->x0,
                     static_cast<long long>(Image->y1) - Image->y0);
    if (Image->numcomps == 0 || Image->numcomps > kMaxComponents || !Image->comps)
      throw PictureError(
          QStringLiteral("The JPEG 2000 picture has %1 components.").arg(Image->numcomps));
    for (OPJ_UINT32 i = 0; i < Image->numcomps; ++i) {
      const opj_image_comp_t& c = Image->comps[i];
      if (c.prec < 1 || c.prec > 31 || c.dx < 1 || c.dy < 1)
        throw PictureError(QStringLiteral("The JPEG 2000 header is damaged."));
    }
  }

  MemoryReader Reader;
  Messages Log;
  CodecPtr Codec;
  StreamPtr Stream;
  ImagePtr Image;
};

// ---------------------------------------------------------------------------------------------
// Resolution from the JP2 header's "res " box (capture resolution preferred, else display).

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         p[3];
}
std::uint16_t Be16(const std::uint8_t* p) { return std::uint16_t((p[0] << 8) | p[1]); }

struct Box {
  std::uint32_t Type = 0;
  std::size_t Content = 0;  // offset of the box's content
  std::size_t End = 0;      // offset just past the box
};

// The boxes directly inside [begin, end); stops at the first malformed one.
template <typename F>
void ForEachBox(ByteView data, std::size_t begin, std::size_t end, F&& f) {
  std::size_t pos = begin;
  while (end - pos >= 8) {
    std::uint64_t length = Be32(data.data() + pos);
    const std::uint32_t type = Be32(data.data() + pos + 4);
    std::size_t header = 8;
    if (length == 1) {
      if (end - pos < 16) return;
      length = (std::uint64_t(Be32(data.data() + pos + 8)) << 32) | Be32(data.data() + pos + 12);
      header = 16;
    } else if (length == 0) {
      length = end - pos;
    }
    if (length < header || length > end - pos) return;
    if (!f(Box{type, pos + header, pos + static_cast<std::size_t>(length)})) return;
    pos += static_cast<std::size_t>(length);
  }
}

constexpr std::uint32_t BoxType(const char (&s)[5]) {
  return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
         (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint8_t(s[3]);
}

// Dots per inch from a resc/resd box's content (10 bytes), or 0 when it holds no usable value.
std::pair<int, int> DpiFromResolutionBox(const std::uint8_t* p) {
  const auto value = [](std::uint16_t num, std::uint16_t den, std::int8_t exp) {
    if (num == 0 || den == 0) return 0;
    const double perMetre = double(num) / den * std::pow(10.0, exp);
    const double dpi = perMetre * 0.0254;
    return dpi >= 1 && dpi <= 1e6 ? static_cast<int>(std::lround(dpi)) : 0;
  };
  const int dpiY = value(Be16(p), Be16(p + 2), static_cast<std::int8_t>(p[8]));
  const int dpiX = value(Be16(p + 4), Be16(p + 6), static_cast<std::int8_t>(p[9]));
  return {dpiX, dpiY};
}

std::pair<int, int> Jp2Resolution(ByteView data) {
  std::pair<int, int> capture{0, 0}, display{0, 0};
  ForEachBox(data, 0, data.size(), [&](const Box& top) {
    if (top.Type == BoxType("jp2c")) return false;  // the header comes before the code stream
    if (top.Type != BoxType("jp2h")) return true;
    ForEachBox(data, top.Content, top.End, [&](const Box& inner) {
      if (inner.Type != BoxType("res ")) return true;
      ForEachBox(data, inner.Content, inner.End, [&](const Box& res) {
        if (res.End - res.Content >= 10) {
          if (res.Type == BoxType("resc"))
            capture = DpiFromResolutionBox(data.data() + res.Content);
          if (res.Type == BoxType("resd"))
            display = DpiFromResolutionBox(data.data() + res.Content);
        }
        return true;
      });
      return false;
    });
    return false;
  });
  if (capture.first > 0 && capture.second > 0) return capture;
  if (display.first > 0 && display.second > 0) return display;
  return {kDefaultDpi, kDefaultDpi};
}

// ---------------------------------------------------------------------------------------------
// Conversion of the decoded components to 8-bit BGR (and alpha).

// One component prepared for sampling: its samples mapped to 0..255 through a table when the
// precision is small, by arithmetic otherwise.
struct Plane {
  const opj_image_comp_t* Comp = nullptr;
  std::int64_t Offset = 0;  // added to a sample to make it unsigned
  std::int64_t Max = 255;   // largest unsigned value

  std::uint8_t At(OPJ_UINT32 u, OPJ_UINT32 v) const {
    std::int64_t s = std::int64_t(Comp->data[std::size_t(v) * Comp->w + u]) + Offset;
    s = std::clamp<std::int64_t>(s, 0, Max);
    if (Max == 255) return static_cast<std::uint8_t>(s);
    return static_cast<std::uint8_t>((s * 255 + Max / 2) / Max);
  }
};

std::uint8_t Clamp8(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// ceil(a / 2^n)
std::int64_t CeilDivPow2(std::int64_t a, int n) { return (a + (std::int64_t(1) << n) - 1) >> n; }

// The decoded picture in 8-bit BGR (and alpha). factor is the resolution reduction the
// decoder applied (the picture is 1/2^factor of the image area, rounded up).
Picture ToPicture(const opj_image_t& image, int factor) {
  const int width = static_cast<int>(CeilDivPow2(image.x1, factor) - CeilDivPow2(image.x0, factor));
  const int height =
      static_cast<int>(CeilDivPow2(image.y1, factor) - CeilDivPow2(image.y0, factor));
  // Which decoded components to show: colour (or grey) first, then alpha.
  OPJ_UINT32 count = image.numcomps;
  std::vector<Plane> planes;
  int alphaIndex = -1;
  for (OPJ_UINT32 i = 0; i < count; ++i) {
    const opj_image_comp_t& c = image.comps[i];
    if (!c.data) continue;  // a component that was not decoded
    if (c.w == 0 || c.h == 0 || c.prec < 1 || c.prec > 31 || c.dx < 1 || c.dy < 1)
      throw PictureError(QStringLiteral("The JPEG 2000 picture is damaged."));
    Plane p;
    p.Comp = &c;
    p.Max = (std::int64_t(1) << c.prec) - 1;
    p.Offset = c.sgnd ? (std::int64_t(1) << (c.prec - 1)) : 0;
    if (c.alpha && alphaIndex < 0) alphaIndex = static_cast<int>(planes.size());
    planes.push_back(p);
  }
  if (planes.empty()) throw PictureError(QStringLiteral("The JPEG 2000 picture has no data."));

  // Without a channel definition, a 2nd component of grey or the 4th of colour is alpha.
  const bool cmyk = image.color_space == OPJ_CLRSPC_CMYK && planes.size() >= 4;
  if (alphaIndex < 0 && !cmyk && (planes.size() == 2 || planes.size() == 4))
    alphaIndex = static_cast<int>(planes.size()) - 1;
  Plane alpha;
  if (alphaIndex >= 0) {
    alpha = planes[alphaIndex];
    planes.erase(planes.begin() + alphaIndex);
  }
  const bool colour = planes.size() >= 3;
  // A code stream names no colour space; chroma planes smaller than the first one can only be
  // YCbCr.
  const bool subsampledChroma = colour && (planes[1].Comp->dx > planes[0].Comp->dx ||
                                           planes[1].Comp->dy > planes[0].Comp->dy);
  const bool ycc =
      colour && (image.color_space == OPJ_CLRSPC_SYCC || image.color_space == OPJ_CLRSPC_EYCC ||
                 (image.color_space == OPJ_CLRSPC_UNSPECIFIED && subsampledChroma));

  Picture picture;
  picture.Image = NewPictureImage(width, height);
  if (alphaIndex >= 0) picture.Alpha = NewPictureImage(width, height, QImage::Format_Grayscale8);

  // Each output pixel takes the sample whose area covers its position on the (reduced)
  // reference grid, which upsamples subsampled components and honours the image offset. A
  // component's first sample sits at ceil(x0 / dx) on its own grid; a pixel before it (an
  // odd x0 with dx = 2) takes the first sample.
  const std::int64_t gridX0 = CeilDivPow2(image.x0, factor);
  const std::int64_t gridY0 = CeilDivPow2(image.y0, factor);
  std::vector<std::vector<OPJ_UINT32>> columns(planes.size() + 1);
  const auto columnMap = [&](const Plane& p) {
    const std::int64_t origin =
        CeilDivPow2((std::int64_t(image.x0) + p.Comp->dx - 1) / p.Comp->dx, factor);
    std::vector<OPJ_UINT32> map(width);
    for (int x = 0; x < width; ++x) {
      const std::int64_t u = (gridX0 + x) / p.Comp->dx - origin;
      map[x] = static_cast<OPJ_UINT32>(std::clamp<std::int64_t>(u, 0, p.Comp->w - 1));
    }
    return map;
  };
  const auto rowOf = [&](const Plane& p, int y) {
    const std::int64_t origin =
        CeilDivPow2((std::int64_t(image.y0) + p.Comp->dy - 1) / p.Comp->dy, factor);
    const std::int64_t v = (gridY0 + y) / p.Comp->dy - origin;
    return static_cast<OPJ_UINT32>(std::clamp<std::int64_t>(v, 0, p.Comp->h - 1));
  };
  for (std::size_t i = 0; i < planes.size(); ++i) columns[i] = columnMap(planes[i]);
  if (alphaIndex >= 0) columns.back() = columnMap(alpha);

  for (int y = 0; y < height; ++y) {
    std::uint8_t* out = picture.Image.scanLine(y);
    if (!colour) {
      const Plane& g = planes[0];
      const OPJ_UINT32 v = rowOf(g, y);
      for (int x = 0; x < width; ++x) {
        const std::uint8_t s = g.At(columns[0][x], v);
        out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = s;
      }
    } else {
      const OPJ_UINT32 v0 = rowOf(planes[0], y), v1 = rowOf(planes[1], y), v2 = rowOf(planes[2], y);
      const OPJ_UINT32 v3 = cmyk ? rowOf(planes[3], y) : 0;
      for (int x = 0; x < width; ++x) {
        const int a = planes[0].At(columns[0][x], v0);
        const int b = planes[1].At(columns[1][x], v1);
        const int c = planes[2].At(columns[2][x], v2);
        std::uint8_t r, g, bl;
        if (ycc) {
          const double cb = b - 128.0, cr = c - 128.0;
          r = Clamp8(a + 1.402 * cr);
          g = Clamp8(a - 0.344136 * cb - 0.714136 * cr);
          bl = Clamp8(a + 1.772 * cb);
        } else if (cmyk) {
          const int k = 255 - planes[3].At(columns[3][x], v3);
          r = static_cast<std::uint8_t>((255 - a) * k / 255);
          g = static_cast<std::uint8_t>((255 - b) * k / 255);
          bl = static_cast<std::uint8_t>((255 - c) * k / 255);
        } else {
          r = static_cast<std::uint8_t>(a);
          g = static_cast<std::uint8_t>(b);
          bl = static_cast<std::uint8_t>(c);
        }
        out[3 * x] = bl;
        out[3 * x + 1] = g;
        out[3 * x + 2] = r;
      }
    }
    if (alphaIndex >= 0) {
      std::uint8_t* outA = picture.Alpha.scanLine(y);
      const OPJ_UINT32 v = rowOf(alpha, y);
      for (int x = 0; x < width; ++x) outA[x] = alpha.At(columns.back()[x], v);
    }
  }
  return picture;
}

// A whole ICC profile carries "acsp" at offset 36; anything else OpenJPEG hands over (such as
// its CIELab parameters) is not kept.
QByteArray IccProfileOf(const opj_image_t& image) {
  if (!image.icc_profile_buf || image.icc_profile_len < 128) return {};
  if (std::memcmp(image.icc_profile_buf + 36, "acsp", 4) != 0) return {};
  return QByteArray(reinterpret_cast<const char*>(image.icc_profile_buf),
                    static_cast<qsizetype>(image.icc_profile_len));
}

// ---------------------------------------------------------------------------------------------

class Jpeg2000Codec final : public Codec {
 public:
  explicit Jpeg2000Codec(bool container) : Container(container) {}

  int FileType() const override { return Container ? PictureFileType::Jp2 : PictureFileType::J2k; }
  QString Description() const override { return DescriptionOf(Container); }
  QStringList Extensions() const override {
    return Container
               ? QStringList{QStringLiteral("jp2")}
               : QStringList{QStringLiteral("j2k"), QStringLiteral("jpc"), QStringLiteral("j2c")};
  }
  bool MatchesSignature(ByteView head) const override {
    return Container ? IsJp2(head) : IsJ2k(head);
  }

  HeaderFacts ReadHeader(ByteView data) const override {
    const bool container = IsContainer(data);
    Session session(data, container);
    const opj_image_t& h = session.Header();
    HeaderFacts facts;
    facts.FileType = container ? PictureFileType::Jp2 : PictureFileType::J2k;
    facts.FormatDescription = DescriptionOf(container);
    facts.Width = session.Width();
    facts.Height = session.Height();
    facts.BitsPerSample = static_cast<int>(h.comps[0].prec);
    facts.SamplesPerPixel = static_cast<int>(h.numcomps);
    const auto [dpiX, dpiY] =
        container ? Jp2Resolution(data) : std::pair<int, int>{kDefaultDpi, kDefaultDpi};
    facts.DpiX = dpiX;
    facts.DpiY = dpiY;
    return facts;
  }

  // ReadOptions::ScaleDenominator 2, 4 or 8 decodes fewer resolution levels, which JPEG 2000
  // gives for free; the params keep the stored size.
  Picture Read(ByteView data, const ReadOptions& options) const override {
    const bool container = IsContainer(data);
    Session session(data, container);
    const int width = session.Width(), height = session.Height();
    const int bits = static_cast<int>(session.Header().comps[0].prec);
    const int samples = static_cast<int>(session.Header().numcomps);
    const int wanted = options.ScaleDenominator >= 8   ? 3
                       : options.ScaleDenominator >= 4 ? 2
                       : options.ScaleDenominator >= 2 ? 1
                                                       : 0;
    const int factor = session.Reduce(wanted);
    const opj_image_t& image = session.Decode();

    Picture picture = ToPicture(image, factor);
    PictureParams& p = picture.Params;
    p.FileType = container ? PictureFileType::Jp2 : PictureFileType::J2k;
    p.FormatDescription = DescriptionOf(container);
    p.Width = width;
    p.Height = height;
    p.BitsPerSample = bits;
    p.SamplesPerPixel = samples;
    const auto [dpiX, dpiY] =
        container ? Jp2Resolution(data) : std::pair<int, int>{kDefaultDpi, kDefaultDpi};
    p.DpiX = dpiX;
    p.DpiY = dpiY;
    p.IccProfile = IccProfileOf(image);
    return picture;
  }

 private:
  static QString DescriptionOf(bool container) {
    return container ? QStringLiteral("JPEG2000 (JP2)") : QStringLiteral("JPEG2000 Code Stream");
  }

  // The content decides the decoder; a file with neither signature is tried as this codec's own.
  bool IsContainer(ByteView data) const {
    if (data.empty()) throw PictureError(QStringLiteral("The file is empty."));
    if (IsJp2(data)) return true;
    if (IsJ2k(data)) return false;
    return Container;
  }

  bool Container;
};

}  // namespace

std::unique_ptr<Codec> MakeJp2Codec() { return std::make_unique<Jpeg2000Codec>(true); }
std::unique_ptr<Codec> MakeJ2kCodec() { return std::make_unique<Jpeg2000Codec>(false); }
