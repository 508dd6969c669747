#include "watermark/ExifValues.h"

#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

#include <cmath>
#include <memory>

#include "util/TextDecoding.h"

namespace {

// Owns an ExifData.
struct ExifDataDeleter {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};
using ExifDataPtr = std::unique_ptr<ExifData, ExifDataDeleter>;

// The entry of tag, looked for in its usual IFD first and then in every IFD.
ExifEntry* FindEntry(ExifData* data, ExifIfd usual, ExifTag tag) {
  if (ExifEntry* entry = exif_content_get_entry(data->ifd[usual], tag)) return entry;
  for (int ifd = 0; ifd < EXIF_IFD_COUNT; ++ifd)
    if (ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag)) return entry;
  return nullptr;
}

QString TextOf(ExifEntry* entry) {
  if (!entry || !entry->data || entry->size == 0) return {};
  if (entry->format != EXIF_FORMAT_ASCII && entry->format != EXIF_FORMAT_UNDEFINED &&
      entry->format != EXIF_FORMAT_BYTE)
    return {};
  const auto* bytes = reinterpret_cast<const char*>(entry->data);
  qsizetype length = 0;
  while (length < qsizetype(entry->size) && bytes[length] != '\0') ++length;
  return DecodeTextFile(QByteArray(bytes, length));
}

double RationalOf(ExifData* data, ExifEntry* entry) {
  if (!entry || !entry->data || entry->components < 1) return 0;
  const ExifByteOrder order = exif_data_get_byte_order(data);
  const unsigned size = exif_format_get_size(entry->format);
  if (size == 0 || entry->size < size) return 0;
  switch (entry->format) {
    case EXIF_FORMAT_RATIONAL: {
      const ExifRational r = exif_get_rational(entry->data, order);
      return r.denominator == 0 ? 0 : double(r.numerator) / double(r.denominator);
    }
    case EXIF_FORMAT_SRATIONAL: {
      const ExifSRational r = exif_get_srational(entry->data, order);
      return r.denominator == 0 ? 0 : double(r.numerator) / double(r.denominator);
    }
    default:
      return 0;
  }
}

}  // namespace

ExifValues ReadExifValues(const QByteArray& exif) {
  ExifValues values;
  if (exif.isEmpty()) return values;
  // libexif reads an APP1 payload, which begins with "Exif\0\0".
  static const QByteArray kPrefix("Exif\0\0", 6);
  const QByteArray block = exif.startsWith(kPrefix) ? exif : kPrefix + exif;
  ExifDataPtr data(exif_data_new());
  if (!data) return values;
  // Read the tags as stored: libexif's pass that makes a block follow the EXIF standard would
  // invent missing ones (a missing date-time would become the current time).
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(data.get(), reinterpret_cast<const unsigned char*>(block.constData()),
                      static_cast<unsigned int>(block.size()));
  values.DateTime = TextOf(FindEntry(data.get(), EXIF_IFD_0, EXIF_TAG_DATE_TIME));
  values.Copyright = TextOf(FindEntry(data.get(), EXIF_IFD_0, EXIF_TAG_COPYRIGHT));
  values.Aperture =
      RationalOf(data.get(), FindEntry(data.get(), EXIF_IFD_EXIF, EXIF_TAG_APERTURE_VALUE));
  values.ShutterSpeed =
      RationalOf(data.get(), FindEntry(data.get(), EXIF_IFD_EXIF, EXIF_TAG_SHUTTER_SPEED_VALUE));
  return values;
}

QString FormatExifNumber(double value, const QLocale& locale) {
  if (!std::isfinite(value) || value == 0) return QStringLiteral("0");
  QLocale plain = locale;
  plain.setNumberOptions(QLocale::OmitGroupSeparator);
  return plain.toString(value, 'g', 15);
}
