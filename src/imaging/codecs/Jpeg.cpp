// JPEG reading and writing through libjpeg-turbo.
//
// libjpeg reports errors by calling error_exit, which must not return. Here it longjmps back to
// a setjmp placed by Protected(); the C++ side then throws PictureError. Every call into the
// library runs inside a Protected() lambda that holds only trivially destructible locals, so
// the longjmp never skips a destructor; objects with destructors (QImage, vectors, the library
// structs' owner) live in the caller, outside the jump.

#include <QStringDecoder>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"
#include "imaging/codecs/JpegQuality.h"

namespace {

const QString kDescription = QStringLiteral("JPEG image");

// A progressive file may hold any number of scans, each re-read over the whole coefficient
// buffer; a hostile file uses that to make decoding take hours. Real files have a dozen.
constexpr int kMaxScans = 1000;

constexpr int kMaxMarkerData = 65533;                          // a marker segment's payload
constexpr char kExifPrefix[] = "Exif\0\0";                     // 6 bytes
constexpr char kXmpPrefix[] = "http://ns.adobe.com/xap/1.0/";  // followed by a NUL
constexpr char kPhotoshopPrefix[] = "Photoshop 3.0";           // followed by a NUL
constexpr int kIptcResource = 0x0404;

struct ErrorManager {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info) {
  auto* err = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, err->Message);
  std::longjmp(err->Jump, 1);
}

// Warnings (corrupt data, premature end) and trace messages are never printed.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}

void InitErrorManager(ErrorManager& err) {
  jpeg_std_error(&err.Pub);
  err.Pub.error_exit = ErrorExit;
  err.Pub.emit_message = EmitMessage;
  err.Pub.output_message = OutputMessage;
  err.Message[0] = '\0';
}

// Runs f with err's jump buffer armed; false when libjpeg failed inside it. f must not own
// objects with destructors.
template <typename F>
bool Protected(ErrorManager& err, F&& f) {
  if (setjmp(err.Jump)) return false;
  f();
  return true;
}

void LimitScans(j_common_ptr info) {
  if (!info->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number <= kMaxScans) return;
  auto* err = reinterpret_cast<ErrorManager*>(info->err);
  std::snprintf(err->Message, sizeof err->Message, "The file has more than %d scans.", kMaxScans);
  std::longjmp(err->Jump, 1);
}

// Owns a decompressor and what libjpeg allocated for it.
struct Decompressor {
  ErrorManager Err;
  jpeg_decompress_struct Info{};
  jpeg_progress_mgr Progress{};
  JOCTET* Icc = nullptr;  // malloc'ed by jpeg_read_icc_profile
  unsigned IccLength = 0;

  Decompressor() { InitErrorManager(Err); }
  ~Decompressor() {
    jpeg_destroy_decompress(&Info);  // harmless on a struct that was never created
    std::free(Icc);
  }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  [[noreturn]] void Fail() const {
    throw PictureError(QStringLiteral("Cannot read the JPEG picture: %1")
                           .arg(QString::fromLocal8Bit(Err.Message)));
  }
};

// Opens data and reads the header (up to the first scan); with metadata, the APP1, APP2 (ICC),
// APP13 and COM markers are kept on the way. Throws PictureError.
void OpenAndReadHeader(Decompressor& d, ByteView data, bool metadata) {
  const bool ok = Protected(d.Err, [&] {
    d.Info.err = &d.Err.Pub;
    jpeg_create_decompress(&d.Info);
    d.Info.err = &d.Err.Pub;
    d.Progress.progress_monitor = LimitScans;
    d.Info.progress = &d.Progress;
    jpeg_mem_src(&d.Info, data.data(), static_cast<unsigned long>(data.size()));
    if (metadata) {
      jpeg_save_markers(&d.Info, JPEG_APP0 + 1, 0xFFFF);
      jpeg_save_markers(&d.Info, JPEG_APP0 + 2, 0xFFFF);
      jpeg_save_markers(&d.Info, JPEG_APP0 + 13, 0xFFFF);
      jpeg_save_markers(&d.Info, JPEG_COM, 0xFFFF);
    }
    jpeg_read_header(&d.Info, TRUE);
    if (metadata) jpeg_read_icc_profile(&d.Info, &d.Icc, &d.IccLength);
  });
  if (!ok) d.Fail();
}

// Dots per inch from the JFIF density; unit 1 is inches, 2 centimetres.
void DensityToDpi(const jpeg_decompress_struct& info, int& dpiX, int& dpiY) {
  dpiX = dpiY = kDefaultDpi;
  if (!info.saw_JFIF_marker || info.X_density == 0 || info.Y_density == 0) return;
  if (info.density_unit == 1) {
    dpiX = info.X_density;
    dpiY = info.Y_density;
  } else if (info.density_unit == 2) {
    dpiX = int(std::lround(info.X_density * 2.54));
    dpiY = int(std::lround(info.Y_density * 2.54));
  }
}

bool StartsWith(const jpeg_marker_struct* m, const char* prefix, unsigned length) {
  return m->data_length >= length && std::memcmp(m->data, prefix, length) == 0;
}

QByteArray MarkerBytes(const jpeg_marker_struct* m, unsigned skip) {
  return QByteArray(reinterpret_cast<const char*>(m->data) + skip, int(m->data_length - skip));
}

// Comment text: UTF-8 when it is valid UTF-8, Latin-1 otherwise; trailing NULs dropped.
QString CommentText(QByteArray bytes) {
  while (bytes.endsWith('\0')) bytes.chop(1);
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(bytes);
  return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// The IPTC records of a Photoshop APP13 segment (image resource 0x0404), if any. The segment
// is a sequence of "8BIM" resources: id (2 bytes), a Pascal name padded to even length, a
// 4-byte size, and the data padded to even length.
QByteArray IptcFromPhotoshop(const std::uint8_t* p, std::size_t size) {
  std::size_t pos = 0;
  while (pos + 12 <= size) {
    if (std::memcmp(p + pos, "8BIM", 4) != 0) break;
    const int id = qFromBigEndian<quint16>(p + pos + 4);
    std::size_t namePos = pos + 6;
    const std::size_t nameLength = p[namePos];
    std::size_t sizePos = namePos + ((nameLength + 2) & ~std::size_t(1));
    if (sizePos + 4 > size) break;
    const std::size_t dataSize = qFromBigEndian<quint32>(p + sizePos);
    const std::size_t dataPos = sizePos + 4;
    if (dataSize > size - dataPos) break;
    if (id == kIptcResource)
      return QByteArray(reinterpret_cast<const char*>(p + dataPos), int(dataSize));
    pos = dataPos + ((dataSize + 1) & ~std::size_t(1));
  }
  return {};
}

void ReadMetadata(const Decompressor& d, PictureParams& params) {
  const unsigned exifLength = sizeof kExifPrefix - 1;
  const unsigned xmpLength = sizeof kXmpPrefix;  // with its NUL
  const unsigned psLength = sizeof kPhotoshopPrefix;
  for (const jpeg_marker_struct* m = d.Info.marker_list; m; m = m->next) {
    if (m->marker == JPEG_APP0 + 1) {
      if (params.Exif.isEmpty() && StartsWith(m, kExifPrefix, exifLength))
        params.Exif = MarkerBytes(m, exifLength);
      else if (params.Xmp.isEmpty() && StartsWith(m, kXmpPrefix, xmpLength))
        params.Xmp = MarkerBytes(m, xmpLength);
    } else if (m->marker == JPEG_APP0 + 13) {
      if (params.Iptc.isEmpty() && StartsWith(m, kPhotoshopPrefix, psLength))
        params.Iptc = IptcFromPhotoshop(m->data + psLength, m->data_length - psLength);
    } else if (m->marker == JPEG_COM) {
      params.Comments << CommentText(MarkerBytes(m, 0));
    }
  }
  if (d.Icc && d.IccLength > 0)
    params.IccProfile = QByteArray(reinterpret_cast<const char*>(d.Icc), int(d.IccLength));
}

// The quality the file's tables were most likely made with.
int QualityOf(const jpeg_decompress_struct& info) {
  auto table = [&](int component) -> const std::uint16_t* {
    if (component >= info.num_components) return nullptr;
    const int slot = info.comp_info[component].quant_tbl_no;
    if (slot < 0 || slot >= NUM_QUANT_TBLS || !info.quant_tbl_ptrs[slot]) return nullptr;
    return info.quant_tbl_ptrs[slot]->quantval;
  };
  const std::uint16_t* luminance = table(0);
  if (!luminance) return PictureParams{}.JpegQuality;
  // Colour files use a second table for the colour-difference components; Adobe RGB or CMYK
  // files may share the first one for all.
  const std::uint16_t* chrominance = table(1);
  if (chrominance == luminance) chrominance = nullptr;
  return EstimateJpegQuality(luminance, chrominance);
}

// Adobe writers store CMYK inverted (0 = full ink); the others store it plainly.
void CmykRowToBgr(const JSAMPLE* cmyk, uchar* bgr, int width, bool inverted) {
  for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    // c, m, y, k now hold the amount of light left: 255 - ink.
    bgr[0] = JSAMPLE((y * k + 127) / 255);
    bgr[1] = JSAMPLE((m * k + 127) / 255);
    bgr[2] = JSAMPLE((c * k + 127) / 255);
  }
}

// A decoded picture is written once, from the first row to the last, into memory it has never
// touched, and the kernel supplies and clears every page at its first touch: for 24 megapixels
// some 18,000 page faults, about a quarter of the decoding time. On Linux, transparent huge
// pages for the buffer spare most of them. Faulting the pages in ahead on a helper thread does
// not pay: on a busy machine, which a batch run makes, it adds time.
void PrepareBuffer(QImage& image) {
#ifdef __linux__
  constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(image.bits());
  const std::uintptr_t end = begin + std::uintptr_t(image.sizeInBytes());
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = end & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  Q_UNUSED(image);
#endif
}

int ScaleDenominatorFor(int requested) {
  for (int d : {8, 4, 2})
    if (requested >= d) return d;
  return 1;
}

// Destination that streams the compressed bytes to a QIODevice through a fixed buffer.
struct DeviceDestination {
  jpeg_destination_mgr Pub{};
  QIODevice* Device = nullptr;
  JOCTET* Buffer = nullptr;
  std::size_t Size = 0;
  bool WriteFailed = false;
};

// Writes n bytes without letting a C++ exception escape into libjpeg.
bool WriteToDevice(DeviceDestination* dest, std::size_t n) noexcept {
  try {
    return dest->Device->write(reinterpret_cast<const char*>(dest->Buffer), qint64(n)) == qint64(n);
  } catch (...) {
    return false;
  }
}

void InitDestination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<DeviceDestination*>(info->dest);
  dest->Pub.next_output_byte = dest->Buffer;
  dest->Pub.free_in_buffer = dest->Size;
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
  auto* dest = reinterpret_cast<DeviceDestination*>(info->dest);
  if (!WriteToDevice(dest, dest->Size)) {
    dest->WriteFailed = true;
    ERREXIT(info, JERR_FILE_WRITE);
  }
  dest->Pub.next_output_byte = dest->Buffer;
  dest->Pub.free_in_buffer = dest->Size;
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<DeviceDestination*>(info->dest);
  const std::size_t n = dest->Size - dest->Pub.free_in_buffer;
  if (n > 0 && !WriteToDevice(dest, n)) {
    dest->WriteFailed = true;
    ERREXIT(info, JERR_FILE_WRITE);
  }
}

struct Compressor {
  ErrorManager Err;
  jpeg_compress_struct Info{};
  DeviceDestination Dest;
  std::unique_ptr<JOCTET[]> Buffer;

  explicit Compressor(QIODevice& device) : Buffer(new JOCTET[65536]) {
    InitErrorManager(Err);
    Dest.Device = &device;
    Dest.Buffer = Buffer.get();
    Dest.Size = 65536;
    Dest.Pub.init_destination = InitDestination;
    Dest.Pub.empty_output_buffer = EmptyOutputBuffer;
    Dest.Pub.term_destination = TermDestination;
  }
  ~Compressor() { jpeg_destroy_compress(&Info); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
};

// Whether every pixel of a 24-bit picture has equal red, green and blue.
bool IsGrey(const QImage& bgr) {
  for (int y = 0; y < bgr.height(); ++y) {
    const uchar* p = bgr.constScanLine(y);
    for (int x = 0; x < bgr.width(); ++x, p += 3)
      if (p[0] != p[1] || p[1] != p[2]) return false;
  }
  return true;
}

// A marker's payload: prefix (with its NUL when withNul) followed by body; empty when it does
// not fit in one segment.
QByteArray Segment(const char* prefix, int prefixLength, const QByteArray& body) {
  if (body.isEmpty() || prefixLength + body.size() > kMaxMarkerData) return {};
  return QByteArray(prefix, prefixLength) + body;
}

// A Photoshop APP13 payload holding the IPTC records as resource 0x0404.
QByteArray PhotoshopSegment(const QByteArray& iptc) {
  if (iptc.isEmpty()) return {};
  QByteArray resource("8BIM", 4);
  resource.append(char(kIptcResource >> 8)).append(char(kIptcResource & 0xFF));
  resource.append('\0').append('\0');  // empty name, padded to even length
  char size[4];
  qToBigEndian<quint32>(quint32(iptc.size()), size);
  resource.append(size, 4).append(iptc);
  if (iptc.size() % 2) resource.append('\0');
  return Segment(kPhotoshopPrefix, int(sizeof kPhotoshopPrefix), resource);
}

class JpegCodec final : public Codec {
 public:
  int FileType() const override { return PictureFileType::Jpeg; }
  QString Description() const override { return kDescription; }
  QStringList Extensions() const override {
    return {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"),
            QStringLiteral("jfif")};
  }

  bool MatchesSignature(ByteView head) const override {
    return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
  }

  HeaderFacts ReadHeader(ByteView data) const override {
    Decompressor d;
    OpenAndReadHeader(d, data, false);
    HeaderFacts facts;
    facts.FileType = PictureFileType::Jpeg;
    facts.FormatDescription = kDescription;
    facts.Width = int(d.Info.image_width);
    facts.Height = int(d.Info.image_height);
    facts.BitsPerSample = d.Info.data_precision;
    facts.SamplesPerPixel = d.Info.num_components;
    DensityToDpi(d.Info, facts.DpiX, facts.DpiY);
    return facts;
  }

  Picture Read(ByteView data, const ReadOptions& options) const override {
    Decompressor d;
    OpenAndReadHeader(d, data, true);
    jpeg_decompress_struct& info = d.Info;
    CheckPictureSize(info.image_width, info.image_height);

    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    if (!Protected(d.Err, [&] {
          info.scale_num = 1;
          info.scale_denom = unsigned(ScaleDenominatorFor(options.ScaleDenominator));
          info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
          jpeg_calc_output_dimensions(&info);
        }))
      d.Fail();

    Picture picture;
    picture.Image = NewPictureImage(int(info.output_width), int(info.output_height));
    PrepareBuffer(picture.Image);
    const int width = int(info.output_width);
    const int height = int(info.output_height);
    std::vector<JSAMPROW> rows(std::size_t(height), nullptr);
    for (int y = 0; y < height; ++y) rows[std::size_t(y)] = picture.Image.scanLine(y);
    std::vector<JSAMPLE> cmykRow(cmyk ? std::size_t(width) * 4 : 0);
    const bool inverted = info.saw_Adobe_marker;

    if (!Protected(d.Err, [&] {
          jpeg_start_decompress(&info);
          while (info.output_scanline < info.output_height) {
            const JDIMENSION y = info.output_scanline;
            if (cmyk) {
              JSAMPROW row = cmykRow.data();
              if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
              CmykRowToBgr(row, rows[y], width, inverted);
            } else if (jpeg_read_scanlines(&info, rows.data() + y, info.output_height - y) == 0) {
              break;
            }
          }
        }))
      d.Fail();
    // Rows the library could not deliver stay black rather than uninitialised.
    for (int y = int(info.output_scanline); y < height; ++y)
      std::memset(rows[std::size_t(y)], 0, std::size_t(width) * 3);
    PictureParams& params = picture.Params;
    params.FileType = PictureFileType::Jpeg;
    params.FormatDescription = kDescription;
    params.Width = int(info.image_width);
    params.Height = int(info.image_height);
    params.BitsPerSample = info.data_precision;
    params.SamplesPerPixel = info.num_components;
    DensityToDpi(info, params.DpiX, params.DpiY);
    params.JpegQuality = QualityOf(info);
    // The saved markers live until the decompressor finishes.
    ReadMetadata(d, params);
    // Trailing damage after the last row does not spoil the picture.
    Protected(d.Err, [&] { jpeg_finish_decompress(&info); });
    return picture;
  }

  bool CanWrite() const override { return true; }

  void Write(const Picture& picture, QIODevice& out) const override {
    const PictureParams& params = picture.Params;
    QImage source = picture.Image;
    if (source.format() != QImage::Format_BGR888)
      source = source.convertToFormat(QImage::Format_BGR888);
    if (source.isNull()) throw PictureError(QStringLiteral("There is no picture to write."));
    const int width = source.width();
    const int height = source.height();
    const bool grey = params.SamplesPerPixel == 1 && IsGrey(source);
    std::vector<JSAMPLE> greyRow(grey ? std::size_t(width) : 0);

    const QByteArray exif = Segment(kExifPrefix, int(sizeof kExifPrefix - 1), params.Exif);
    const QByteArray xmp = Segment(kXmpPrefix, int(sizeof kXmpPrefix), params.Xmp);
    const QByteArray photoshop = PhotoshopSegment(params.Iptc);
    std::vector<QByteArray> comments;
    for (const QString& comment : params.Comments)
      comments.push_back(comment.toUtf8().left(kMaxMarkerData));
    const QByteArray& icc = params.IccProfile;

    Compressor c(out);
    jpeg_compress_struct& info = c.Info;
    auto marker = [&info](int code, const QByteArray& payload) {
      if (!payload.isEmpty())
        jpeg_write_marker(&info, code, reinterpret_cast<const JOCTET*>(payload.constData()),
                          unsigned(payload.size()));
    };
    const bool ok = Protected(c.Err, [&] {
      info.err = &c.Err.Pub;
      jpeg_create_compress(&info);
      info.err = &c.Err.Pub;
      info.dest = &c.Dest.Pub;
      info.image_width = JDIMENSION(width);
      info.image_height = JDIMENSION(height);
      info.input_components = grey ? 1 : 3;
      info.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
      jpeg_set_defaults(&info);
      jpeg_set_quality(&info, std::clamp(params.JpegQuality, 1, 100), TRUE);
      info.write_JFIF_header = TRUE;
      info.density_unit = 1;
      info.X_density = UINT16(std::clamp(params.DpiX, 1, 65535));
      info.Y_density = UINT16(std::clamp(params.DpiY, 1, 65535));
      jpeg_start_compress(&info, TRUE);
      marker(JPEG_APP0 + 1, exif);
      marker(JPEG_APP0 + 1, xmp);
      if (!icc.isEmpty())
        jpeg_write_icc_profile(&info, reinterpret_cast<const JOCTET*>(icc.constData()),
                               unsigned(icc.size()));
      marker(JPEG_APP0 + 13, photoshop);
      for (const QByteArray& comment : comments) marker(JPEG_COM, comment);
      for (int y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(source.constScanLine(y));
        if (grey) {
          for (int x = 0; x < width; ++x) greyRow[std::size_t(x)] = row[3 * x + 1];
          row = greyRow.data();
        }
        jpeg_write_scanlines(&info, &row, 1);
      }
      jpeg_finish_compress(&info);
    });
    if (!ok) {
      if (c.Dest.WriteFailed)
        throw PictureError(
            QStringLiteral("Cannot write the JPEG picture: %1").arg(out.errorString()));
      throw PictureError(QStringLiteral("Cannot write the JPEG picture: %1")
                             .arg(QString::fromLocal8Bit(c.Err.Message)));
    }
  }
};

}  // namespace

std::unique_ptr<Codec> MakeJpegCodec() { return std::make_unique<JpegCodec>(); }
