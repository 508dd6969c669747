// Camera RAW reader through LibRaw: develops the sensor data (camera white balance, sRGB,
// 8 bits per sample, full size) and keeps the shot's facts as an EXIF block for the watermark.

#include <libexif/exif-data.h>
#include <libraw/libraw.h>

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"

namespace {

bool HasAt(ByteView head, std::size_t offset, const char* text, std::size_t n) {
  return head.size() >= offset + n && std::memcmp(head.data() + offset, text, n) == 0;
}

// Signatures that belong to camera RAW files alone. RAW files in a plain TIFF container
// (NEF, PEF, DCR, ...) have none of their own; they are found by their extension.
bool IsRawSignature(ByteView h) {
  return (HasAt(h, 0, "II", 2) && HasAt(h, 6, "HEAPCCDR", 8)) ||  // Canon CRW
         (HasAt(h, 0, "II*\0", 4) && HasAt(h, 8, "CR", 2)) ||     // Canon CR2
         HasAt(h, 0, "FUJIFILMCCD-RAW", 15) ||                    // Fujifilm RAF
         HasAt(h, 0, "IIRO", 4) || HasAt(h, 0, "IIRS", 4) ||      // Olympus ORF
         HasAt(h, 0, "MMOR", 4) ||                                //
         HasAt(h, 0, "\0MRM", 4) ||                               // Minolta MRW
         HasAt(h, 0, "FOVb", 4);                                  // Sigma X3F
}

// What LibRaw reports while it reads, kept instead of printed.
struct RawLog {
  bool DataError = false;
  bool MemoryError = false;
  QString Copyright;
};

void OnDataError(void* data, const char*, const int) {
  static_cast<RawLog*>(data)->DataError = true;
}
void OnMemoryError(void* data, const char*, const char*) {
  static_cast<RawLog*>(data)->MemoryError = true;
}

// Picks the copyright text out of the TIFF tags as LibRaw walks them (LibRaw keeps no field
// for it). The stream is left where it was.
void OnExifTag(void* context, int tag, int type, int len, unsigned int, void* ifp, INT64) {
  auto* log = static_cast<RawLog*>(context);
  if ((tag & 0xFFFF) != 0x8298 || type != 2 || len <= 0 || len > 4096 || !log->Copyright.isEmpty())
    return;
  auto* stream = static_cast<LibRaw_abstract_datastream*>(ifp);
  const INT64 pos = stream->tell();
  std::string text(static_cast<std::size_t>(len), '\0');
  const int got = stream->read(text.data(), 1, text.size());
  stream->seek(pos, SEEK_SET);
  if (got <= 0) return;
  text.resize(std::strlen(text.c_str()));
  log->Copyright = QString::fromLatin1(text.c_str()).trimmed();
}

// LibRaw does not know the file at all (as opposed to a RAW file it cannot read).
class NotRawError : public PictureError {
 public:
  using PictureError::PictureError;
};

// A LibRaw processor set up to develop quietly into 8-bit sRGB with the camera's white balance.
class RawSession {
 public:
  explicit RawSession(ByteView data) : Raw(std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE)) {
    Raw->set_dataerror_handler(OnDataError, &Log);
    Raw->set_memerror_handler(OnMemoryError, &Log);
    Raw->set_exifparser_handler(OnExifTag, &Log);
    Raw->set_progress_handler(nullptr, nullptr);
    libraw_output_params_t& p = Raw->imgdata.params;
    p.use_camera_wb = 1;
    p.output_color = 1;  // sRGB
    p.output_bps = 8;
    p.half_size = 0;
    p.output_tiff = 0;

    if (data.empty()) throw PictureError(QStringLiteral("The file is empty."));
    // LibRaw only reads the buffer; its interface predates const.
    const int opened = Raw->open_buffer(const_cast<std::uint8_t*>(data.data()), data.size());
    if (opened == LIBRAW_FILE_UNSUPPORTED)
      throw NotRawError(QStringLiteral("The file is not a camera RAW file LibRaw knows."));
    Check(opened, "The camera RAW file cannot be read");
    const libraw_image_sizes_t& s = Raw->imgdata.sizes;
    CheckPictureSize(s.raw_width, s.raw_height);
    CheckPictureSize(s.width, s.height);
  }

  LibRaw& Processor() { return *Raw; }
  const RawLog& Messages() const { return Log; }

  void Check(int code, const char* what) const {
    if (code == LIBRAW_SUCCESS) return;
    QString text = QString::fromLatin1(what);
    if (Log.MemoryError || code == LIBRAW_UNSUFFICIENT_MEMORY)
      text += QStringLiteral(": not enough memory");
    else
      text += QStringLiteral(": ") + QString::fromLatin1(LibRaw::strerror(code));
    throw PictureError(text + QLatin1Char('.'));
  }

 private:
  RawLog Log;
  std::unique_ptr<LibRaw> Raw;  // large; kept on the heap
};

// ---------------------------------------------------------------------------------------------
// The EXIF block built from what LibRaw read of the shot.

struct ExifDataDeleter {
  void operator()(ExifData* d) const { exif_data_unref(d); }
};

// A new entry of the given format and component count in the given IFD; its data is zeroed.
ExifEntry* AddEntry(ExifData* exif, ExifIfd ifd, ExifTag tag, ExifFormat format,
                    unsigned long components) {
  ExifMem* mem = exif_mem_new_default();
  ExifEntry* entry = exif_entry_new_mem(mem);
  const unsigned int size = exif_format_get_size(format) * components;
  void* buffer = entry ? exif_mem_alloc(mem, size) : nullptr;
  if (!entry || !buffer) {
    if (entry) exif_entry_unref(entry);
    exif_mem_unref(mem);
    throw PictureError(QStringLiteral("Not enough memory for the EXIF data."));
  }
  entry->data = static_cast<unsigned char*>(buffer);
  entry->size = size;
  entry->tag = tag;
  entry->components = components;
  entry->format = format;
  exif_content_add_entry(exif->ifd[ifd], entry);
  exif_entry_unref(entry);
  exif_mem_unref(mem);
  return entry;
}

void AddText(ExifData* exif, ExifIfd ifd, ExifTag tag, const QByteArray& text) {
  if (text.isEmpty()) return;
  ExifEntry* e = AddEntry(exif, ifd, tag, EXIF_FORMAT_ASCII, text.size() + 1);
  std::memcpy(e->data, text.constData(), text.size());  // the zero terminator is there already
}

void AddRational(ExifData* exif, ExifIfd ifd, ExifTag tag, ExifRational value) {
  ExifEntry* e = AddEntry(exif, ifd, tag, EXIF_FORMAT_RATIONAL, 1);
  exif_set_rational(e->data, exif_data_get_byte_order(exif), value);
}

void AddSRational(ExifData* exif, ExifIfd ifd, ExifTag tag, ExifSRational value) {
  ExifEntry* e = AddEntry(exif, ifd, tag, EXIF_FORMAT_SRATIONAL, 1);
  exif_set_srational(e->data, exif_data_get_byte_order(exif), value);
}

void AddShort(ExifData* exif, ExifIfd ifd, ExifTag tag, ExifShort value) {
  ExifEntry* e = AddEntry(exif, ifd, tag, EXIF_FORMAT_SHORT, 1);
  exif_set_short(e->data, exif_data_get_byte_order(exif), value);
}

// An exposure time as cameras write it: 1/n below a second when that is close, else decimal.
ExifRational ExposureRational(double seconds) {
  if (seconds < 1) {
    const double n = std::round(1 / seconds);
    if (n >= 1 && n < 4e9 && std::abs(1 / n - seconds) <= seconds * 0.01)
      return {1, static_cast<ExifLong>(n)};
    return {static_cast<ExifLong>(std::lround(seconds * 1e6)), 1000000};
  }
  return {static_cast<ExifLong>(std::llround(std::min(seconds, 4e8) * 10)), 10};
}

QByteArray ExifText(const char* s, std::size_t capacity) {
  return QByteArray(s, static_cast<qsizetype>(strnlen(s, capacity))).trimmed();
}

// The TIFF-structured EXIF block (byte-order mark first) of the shot; empty when libexif
// cannot make one.
QByteArray BuildExif(const libraw_data_t& d, const QString& copyright) {
  std::unique_ptr<ExifData, ExifDataDeleter> exif(exif_data_new());
  if (!exif) return {};
  exif_data_set_byte_order(exif.get(), EXIF_BYTE_ORDER_INTEL);
  exif_data_set_data_type(exif.get(), EXIF_DATA_TYPE_UNCOMPRESSED_CHUNKY);
  ExifData* e = exif.get();

  AddText(e, EXIF_IFD_0, EXIF_TAG_MAKE, ExifText(d.idata.make, sizeof d.idata.make));
  AddText(e, EXIF_IFD_0, EXIF_TAG_MODEL, ExifText(d.idata.model, sizeof d.idata.model));
  AddText(e, EXIF_IFD_0, EXIF_TAG_ARTIST, ExifText(d.other.artist, sizeof d.other.artist));
  AddText(e, EXIF_IFD_0, EXIF_TAG_IMAGE_DESCRIPTION, ExifText(d.other.desc, sizeof d.other.desc));
  AddText(e, EXIF_IFD_0, EXIF_TAG_COPYRIGHT, copyright.toLatin1());
  if (d.other.timestamp > 0) {
    // LibRaw turned the stored local date-time into a time_t; this gives the same text back.
    const QByteArray when = QDateTime::fromSecsSinceEpoch(d.other.timestamp)
                                .toString(QStringLiteral("yyyy:MM:dd HH:mm:ss"))
                                .toLatin1();
    AddText(e, EXIF_IFD_0, EXIF_TAG_DATE_TIME, when);
    AddText(e, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL, when);
  }
  const double aperture = d.other.aperture;
  if (std::isfinite(aperture) && aperture > 0 && aperture < 1000) {
    AddRational(e, EXIF_IFD_EXIF, EXIF_TAG_FNUMBER,
                {static_cast<ExifLong>(std::lround(aperture * 10)), 10});
    // APEX: Av = 2 log2(N).
    const double av = std::max(0.0, 2 * std::log2(aperture));
    AddRational(e, EXIF_IFD_EXIF, EXIF_TAG_APERTURE_VALUE,
                {static_cast<ExifLong>(std::lround(av * 1e6)), 1000000});
  }
  const double shutter = d.other.shutter;
  if (std::isfinite(shutter) && shutter > 1e-7 && shutter < 1e6) {
    AddRational(e, EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME, ExposureRational(shutter));
    // APEX: Tv = -log2(t).
    const double tv = -std::log2(shutter);
    AddSRational(e, EXIF_IFD_EXIF, EXIF_TAG_SHUTTER_SPEED_VALUE,
                 {static_cast<ExifSLong>(std::lround(tv * 1e6)), 1000000});
  }
  const double iso = d.other.iso_speed;
  if (std::isfinite(iso) && iso >= 1 && iso <= 65535)
    AddShort(e, EXIF_IFD_EXIF, EXIF_TAG_ISO_SPEED_RATINGS,
             static_cast<ExifShort>(std::lround(iso)));
  const double focal = d.other.focal_len;
  if (std::isfinite(focal) && focal > 0 && focal < 100000)
    AddRational(e, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH,
                {static_cast<ExifLong>(std::lround(focal * 10)), 10});

  unsigned char* bytes = nullptr;
  unsigned int size = 0;
  exif_data_save_data(e, &bytes, &size);
  QByteArray block;
  // The saved data starts with the "Exif\0\0" header of a JPEG APP1 segment; the block we
  // keep starts at the byte-order mark after it.
  if (bytes && size > 6 + 8 && std::memcmp(bytes, "Exif\0\0", 6) == 0)
    block = QByteArray(reinterpret_cast<const char*>(bytes) + 6, static_cast<qsizetype>(size - 6));
  std::free(bytes);
  return block;
}

// ---------------------------------------------------------------------------------------------

class RawCodec final : public Codec {
 public:
  int FileType() const override { return PictureFileType::CameraRaw; }
  QString Description() const override { return QStringLiteral("Camera RAW"); }
  QStringList Extensions() const override {
    return {QStringLiteral("crw"), QStringLiteral("cr2"), QStringLiteral("nef"),
            QStringLiteral("raw"), QStringLiteral("pef"), QStringLiteral("raf"),
            QStringLiteral("x3f"), QStringLiteral("bay"), QStringLiteral("orf"),
            QStringLiteral("srf"), QStringLiteral("mrw"), QStringLiteral("dcr")};
  }
  bool MatchesSignature(ByteView head) const override { return IsRawSignature(head); }

  HeaderFacts ReadHeader(ByteView data) const override {
    try {
      return ReadRawHeader(data);
    } catch (const NotRawError&) {
      // A file of another format under a RAW extension (a camera's JPEG named .raw, say) is
      // read by the codec its content belongs to.
      if (const Codec* other = OtherReader(data)) return other->ReadHeader(data);
      throw;
    }
  }

  Picture Read(ByteView data, const ReadOptions& options) const override {
    try {
      return ReadRaw(data);
    } catch (const NotRawError&) {
      if (const Codec* other = OtherReader(data)) return other->Read(data, options);
      throw;
    }
  }

 private:
  // The codec a non-RAW file belongs to. Never the TIFF codec: a TIFF-structured file under a
  // RAW extension is a camera's RAW that LibRaw does not support, and the TIFF codec would
  // give its small embedded preview instead of the shot.
  const Codec* OtherReader(ByteView data) const {
    const Codec* other =
        CodecRegistry::Instance().ForContent(data.first(std::min<std::size_t>(data.size(), 64)));
    if (!other || other->FileType() == FileType() || other->FileType() == PictureFileType::Tiff)
      return nullptr;
    return other;
  }

  HeaderFacts ReadRawHeader(ByteView data) const {
    RawSession session(data);
    LibRaw& raw = session.Processor();
    // The size of the developed picture: after the camera's rotation, non-square pixels and
    // Fuji's 45-degree layout are accounted for.
    session.Check(raw.adjust_sizes_info_only(), "The camera RAW file cannot be read");
    const libraw_image_sizes_t& s = raw.imgdata.sizes;
    CheckPictureSize(s.iwidth, s.iheight);
    HeaderFacts facts;
    facts.FileType = FileType();
    facts.FormatDescription = Description();
    facts.Width = s.iwidth;
    facts.Height = s.iheight;
    FillDepth(facts.BitsPerSample, facts.SamplesPerPixel);
    facts.DpiX = facts.DpiY = kDefaultDpi;
    return facts;
  }

  Picture ReadRaw(ByteView data) const {
    RawSession session(data);
    LibRaw& raw = session.Processor();
    session.Check(raw.unpack(), "The camera RAW data cannot be unpacked");
    // LibRaw goes on past damaged sensor data and would develop garbage; refuse instead.
    if (session.Messages().DataError || raw.error_count() > 0)
      throw PictureError(QStringLiteral("The camera RAW data is damaged."));
    session.Check(raw.dcraw_process(), "The camera RAW data cannot be developed");

    int width = 0, height = 0, colors = 0, bps = 0;
    raw.get_mem_image_format(&width, &height, &colors, &bps);
    CheckPictureSize(width, height);
    int code = LIBRAW_SUCCESS;
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> developed(
        raw.dcraw_make_mem_image(&code), LibRaw::dcraw_clear_mem);
    if (!developed)
      session.Check(code == LIBRAW_SUCCESS ? LIBRAW_UNSPECIFIED_ERROR : code,
                    "The developed camera RAW picture cannot be had");
    const libraw_processed_image_t& img = *developed;
    if (img.type != LIBRAW_IMAGE_BITMAP || img.bits != 8 || (img.colors != 1 && img.colors != 3) ||
        img.width != width || img.height != height ||
        std::size_t(img.data_size) < std::size_t(width) * height * img.colors)
      throw PictureError(
          QStringLiteral("The developed camera RAW picture has an unexpected form."));

    Picture picture;
    picture.Image = NewPictureImage(width, height);
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* in = img.data + std::size_t(y) * width * img.colors;
      std::uint8_t* out = picture.Image.scanLine(y);
      if (img.colors == 3) {
        for (int x = 0; x < width; ++x, in += 3, out += 3) {
          out[0] = in[2];
          out[1] = in[1];
          out[2] = in[0];
        }
      } else {
        for (int x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
      }
    }

    PictureParams& p = picture.Params;
    p.FileType = FileType();
    p.FormatDescription = Description();
    p.Width = width;
    p.Height = height;
    FillDepth(p.BitsPerSample, p.SamplesPerPixel);
    p.DpiX = p.DpiY = kDefaultDpi;
    p.Exif = BuildExif(raw.imgdata, session.Messages().Copyright);
    return picture;
  }

  // The depth reported is that of the developed picture (8-bit RGB), which is what the rest of
  // the program receives, not the sensor's 12 or 14 bits.
  static void FillDepth(int& bits, int& samples) {
    bits = 8;
    samples = 3;
  }
};

}  // namespace

std::unique_ptr<Codec> MakeRawCodec() { return std::make_unique<RawCodec>(); }
