// TIFF through libtiff: reads the first page of any layout libtiff reads, writes 1-bit, palette,
// grey, RGB and RGBA pictures with the compressions the output options offer.

#include "imaging/codecs/Tiff.h"

#include <tiffio.h>

#include <QByteArray>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "imaging/ColorReduce.h"
#include "imaging/Dither.h"
#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"

namespace {

const QString kDescription = QStringLiteral("Tagged Image File Format");

// ---------------------------------------------------------------------------------------------
// libtiff glue: an in-memory file, silent error handlers, and the handle.

// The bytes libtiff reads from (a file already in memory) or writes to (a growing buffer that it
// may also read back, as it does when it links directories).
struct MemoryFile {
  const std::uint8_t* Data = nullptr;
  std::uint64_t Size = 0;
  std::uint64_t Position = 0;
  QByteArray* Output = nullptr;  // set when writing
  QString Error;                 // the first error libtiff reported
};

tmsize_t MemoryRead(thandle_t handle, void* buffer, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (size <= 0 || file->Position >= file->Size) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(std::uint64_t(size), file->Size - file->Position);
  std::memcpy(buffer, file->Data + file->Position, std::size_t(n));
  file->Position += n;
  return tmsize_t(n);
}

tmsize_t MemoryWrite(thandle_t handle, void* buffer, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (!file->Output || size < 0) return -1;
  const std::uint64_t end = file->Position + std::uint64_t(size);
  if (end > std::uint64_t(std::numeric_limits<qsizetype>::max() / 2)) return -1;
  if (qsizetype(end) > file->Output->size()) file->Output->resize(qsizetype(end), '\0');
  std::memcpy(file->Output->data() + file->Position, buffer, std::size_t(size));
  file->Position = end;
  file->Data = reinterpret_cast<const std::uint8_t*>(file->Output->constData());
  file->Size = std::uint64_t(file->Output->size());
  return size;
}

toff_t MemorySeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = file->Position;
  if (whence == SEEK_END) base = file->Size;
  const std::uint64_t target = base + offset;
  // Reading may not seek past the end; writing may (the gap is filled on the next write).
  if (!file->Output && target > file->Size) return toff_t(-1);
  file->Position = target;
  return target;
}

int MemoryClose(thandle_t) { return 0; }
toff_t MemorySize(thandle_t handle) { return static_cast<MemoryFile*>(handle)->Size; }

// Reading maps the bytes directly: libtiff then decodes strips in place without copying them.
int MemoryMap(thandle_t handle, void** base, toff_t* size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (file->Output) return 0;
  *base = const_cast<std::uint8_t*>(file->Data);
  *size = file->Size;
  return 1;
}
void MemoryUnmap(thandle_t, void*, toff_t) {}

// libtiff's messages are recorded with the file, never printed; a warning is dropped.
int RecordError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* file = static_cast<MemoryFile*>(user);
  if (file->Error.isEmpty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    file->Error = QString::fromLocal8Bit(text);
    if (module && *module)
      file->Error = QString::fromLocal8Bit(module) + QStringLiteral(": ") + file->Error;
  }
  return 1;  // handled: the process-wide handler is not called
}
int DropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Messages that libtiff reports outside an open file (or before the per-file handlers are in
// place) go nowhere: the process-wide handlers are switched off once.
void SilenceGlobalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// Largest block libtiff may allocate at once for a hostile file (a strip, a tile, a tag array).
constexpr tmsize_t kMaxSingleAllocation = tmsize_t(1) << 31;

TiffPtr OpenTiff(MemoryFile& file, const char* mode) {
  SilenceGlobalHandlers();
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) throw PictureError(QStringLiteral("Not enough memory to open the TIFF file."));
  TIFFOpenOptionsSetErrorHandlerExtR(options, RecordError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(options, DropWarning, &file);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxSingleAllocation);
  TIFF* tif = TIFFClientOpenExt("memory", mode, &file, MemoryRead, MemoryWrite, MemorySeek,
                                MemoryClose, MemorySize, MemoryMap, MemoryUnmap, options);
  TIFFOpenOptionsFree(options);
  if (!tif) {
    throw PictureError(file.Error.isEmpty()
                           ? QStringLiteral("Not a readable TIFF file.")
                           : QStringLiteral("Not a readable TIFF file: %1").arg(file.Error));
  }
  return TiffPtr(tif);
}

[[noreturn]] void Fail(const MemoryFile& file, const QString& what) {
  throw PictureError(file.Error.isEmpty() ? what : what + QStringLiteral(": ") + file.Error);
}

// ---------------------------------------------------------------------------------------------
// EXIF: the block kept with a picture is a small TIFF structure of its own. Reading copies the
// directories out of the file's bytes; writing hands each entry to libtiff's EXIF directory.

constexpr std::uint16_t kExifIfdTag = 0x8769;
constexpr std::uint16_t kGpsIfdTag = 0x8825;
constexpr std::uint16_t kInteropIfdTag = 0xA005;
constexpr std::uint16_t kOrientationTag = 0x0112;

// Descriptive tags of the image directory that travel with the EXIF block.
constexpr std::uint16_t kImageTags[] = {
    0x010F /* Make */,     0x0110 /* Model */,  kOrientationTag, 0x0131 /* Software */,
    0x0132 /* DateTime */, 0x013B /* Artist */, 0x8298 /* Copyright */};

struct IfdEntry {
  std::uint16_t Tag = 0;
  std::uint16_t Type = 0;
  std::uint32_t Count = 0;
  QByteArray Value;  // Count values of Type, in the block's byte order
};

struct ExifIfds {
  bool BigEndian = false;
  std::vector<IfdEntry> Image, Exif, Gps;
};

int TypeSize(std::uint16_t type) {
  switch (type) {
    case TIFF_BYTE:
    case TIFF_ASCII:
    case TIFF_SBYTE:
    case TIFF_UNDEFINED:
      return 1;
    case TIFF_SHORT:
    case TIFF_SSHORT:
      return 2;
    case TIFF_LONG:
    case TIFF_SLONG:
    case TIFF_FLOAT:
    case TIFF_IFD:
      return 4;
    case TIFF_RATIONAL:
    case TIFF_SRATIONAL:
    case TIFF_DOUBLE:
      return 8;
    default:
      return 0;
  }
}

// Bounds-checked access to a TIFF structure in memory.
class TiffBytes {
 public:
  TiffBytes(ByteView data, bool bigEndian) : Data(data), BigEndian(bigEndian) {}
  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= Data.size() && length <= Data.size() - offset;
  }
  std::uint16_t U16(std::uint64_t at) const {
    const std::uint8_t* p = Data.data() + at;
    return BigEndian ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
  }
  std::uint32_t U32(std::uint64_t at) const {
    const std::uint8_t* p = Data.data() + at;
    return BigEndian ? std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                           std::uint32_t(p[2]) << 8 | p[3]
                     : std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 |
                           std::uint32_t(p[1]) << 8 | p[0];
  }
  const char* At(std::uint64_t at) const { return reinterpret_cast<const char*>(Data.data() + at); }

 private:
  ByteView Data;
  bool BigEndian;
};

// The entries of the directory at offset; entries whose values lie outside the data, or of an
// unknown type, are skipped.
std::vector<IfdEntry> ReadIfd(const TiffBytes& bytes, std::uint32_t offset) {
  std::vector<IfdEntry> entries;
  if (offset < 8 || !bytes.Has(offset, 2)) return entries;
  int count = bytes.U16(offset);
  count = std::min(count, 1024);
  for (int i = 0; i < count; ++i) {
    const std::uint64_t at = std::uint64_t(offset) + 2 + 12 * std::uint64_t(i);
    if (!bytes.Has(at, 12)) break;
    IfdEntry entry;
    entry.Tag = bytes.U16(at);
    entry.Type = bytes.U16(at + 2);
    entry.Count = bytes.U32(at + 4);
    const std::uint64_t size = std::uint64_t(TypeSize(entry.Type)) * entry.Count;
    if (size == 0 || size > (16u << 20)) continue;
    const std::uint64_t valueAt = size <= 4 ? at + 8 : bytes.U32(at + 8);
    if (!bytes.Has(valueAt, size)) continue;
    entry.Value = QByteArray(bytes.At(valueAt), qsizetype(size));
    entries.push_back(std::move(entry));
  }
  return entries;
}

// The directories of a classic TIFF structure (a file or an EXIF block); false when it is not one.
bool ReadExifIfds(ByteView data, ExifIfds& ifds) {
  if (data.size() < 8) return false;
  if (data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0)
    ifds.BigEndian = false;
  else if (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42)
    ifds.BigEndian = true;
  else
    return false;
  const TiffBytes bytes(data, ifds.BigEndian);
  std::uint32_t exifOffset = 0, gpsOffset = 0;
  for (IfdEntry& entry : ReadIfd(bytes, bytes.U32(4))) {
    const bool pointer = (entry.Type == TIFF_LONG || entry.Type == TIFF_IFD) && entry.Count == 1;
    if (entry.Tag == kExifIfdTag && pointer) {
      exifOffset =
          TiffBytes(ByteView(reinterpret_cast<const std::uint8_t*>(entry.Value.constData()), 4),
                    ifds.BigEndian)
              .U32(0);
    } else if (entry.Tag == kGpsIfdTag && pointer) {
      gpsOffset =
          TiffBytes(ByteView(reinterpret_cast<const std::uint8_t*>(entry.Value.constData()), 4),
                    ifds.BigEndian)
              .U32(0);
    } else if (std::find(std::begin(kImageTags), std::end(kImageTags), entry.Tag) !=
               std::end(kImageTags)) {
      ifds.Image.push_back(std::move(entry));
    }
  }
  if (exifOffset) {
    for (IfdEntry& entry : ReadIfd(bytes, exifOffset))
      if (entry.Tag != kInteropIfdTag) ifds.Exif.push_back(std::move(entry));
  }
  if (gpsOffset && gpsOffset != exifOffset) ifds.Gps = ReadIfd(bytes, gpsOffset);
  return true;
}

// Serialises the directories as a TIFF-structured block: header, image directory (with pointers
// to the other two), EXIF directory, GPS directory, each followed by its long values.
QByteArray WriteExifIfds(ExifIfds ifds) {
  if (ifds.Image.empty() && ifds.Exif.empty() && ifds.Gps.empty()) return {};
  const bool big = ifds.BigEndian;
  auto u16 = [big](std::uint16_t v) {
    const char b[2] = {char(big ? v >> 8 : v), char(big ? v : v >> 8)};
    return QByteArray(b, 2);
  };
  auto u32 = [big](std::uint32_t v) {
    const char b[4] = {char(big ? v >> 24 : v), char(big ? v >> 16 : v >> 8),
                       char(big ? v >> 8 : v >> 16), char(big ? v : v >> 24)};
    return QByteArray(b, 4);
  };
  auto dataSize = [](const std::vector<IfdEntry>& entries) {
    std::uint32_t n = 0;
    for (const IfdEntry& e : entries)
      if (e.Value.size() > 4) n += std::uint32_t(e.Value.size() + (e.Value.size() & 1));
    return n;
  };
  auto ifdSize = [&](const std::vector<IfdEntry>& entries) {
    return std::uint32_t(2 + 12 * entries.size() + 4) + dataSize(entries);
  };
  auto pointer = [&](std::uint16_t tag, std::uint32_t offset) {
    return IfdEntry{tag, TIFF_LONG, 1, u32(offset)};
  };

  const std::uint32_t imageAt = 8;
  // The image directory gains up to two pointer entries; reserve their room first.
  const std::uint32_t imageEntries =
      std::uint32_t(ifds.Image.size() + (ifds.Exif.empty() ? 0 : 1) + (ifds.Gps.empty() ? 0 : 1));
  const std::uint32_t exifAt = imageAt + 2 + 12 * imageEntries + 4 + dataSize(ifds.Image);
  const std::uint32_t gpsAt = exifAt + (ifds.Exif.empty() ? 0 : ifdSize(ifds.Exif));
  if (!ifds.Exif.empty()) ifds.Image.push_back(pointer(kExifIfdTag, exifAt));
  if (!ifds.Gps.empty()) ifds.Image.push_back(pointer(kGpsIfdTag, gpsAt));

  QByteArray block = big ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4);
  block += u32(imageAt);
  auto append = [&](std::vector<IfdEntry>& entries) {
    std::sort(entries.begin(), entries.end(),
              [](const IfdEntry& a, const IfdEntry& b) { return a.Tag < b.Tag; });
    std::uint32_t dataAt = std::uint32_t(block.size()) + 2 + 12 * std::uint32_t(entries.size()) + 4;
    QByteArray data;
    block += u16(std::uint16_t(entries.size()));
    for (const IfdEntry& e : entries) {
      block += u16(e.Tag) + u16(e.Type) + u32(e.Count);
      if (e.Value.size() <= 4) {
        block += e.Value + QByteArray(4 - e.Value.size(), '\0');
      } else {
        block += u32(dataAt + std::uint32_t(data.size()));
        data += e.Value;
        if (e.Value.size() & 1) data += '\0';
      }
    }
    block += u32(0);
    block += data;
  };
  append(ifds.Image);
  if (!ifds.Exif.empty()) append(ifds.Exif);
  if (!ifds.Gps.empty()) append(ifds.Gps);
  return block;
}

// The values of an entry, decoded from the block's byte order.
struct EntryValues {
  QByteArray Bytes;                   // BYTE, SBYTE, UNDEFINED, ASCII
  std::vector<std::uint16_t> Shorts;  // SHORT, SSHORT
  std::vector<std::uint32_t> Longs;   // LONG, SLONG
  std::vector<double> Reals;          // RATIONAL, SRATIONAL
};

EntryValues DecodeValues(const IfdEntry& e, bool bigEndian) {
  EntryValues v;
  const TiffBytes bytes(ByteView(reinterpret_cast<const std::uint8_t*>(e.Value.constData()),
                                 std::size_t(e.Value.size())),
                        bigEndian);
  for (std::uint32_t i = 0; i < e.Count; ++i) {
    switch (e.Type) {
      case TIFF_SHORT:
      case TIFF_SSHORT:
        v.Shorts.push_back(bytes.U16(2 * i));
        break;
      case TIFF_LONG:
      case TIFF_SLONG:
        v.Longs.push_back(bytes.U32(4 * i));
        break;
      case TIFF_RATIONAL: {
        const std::uint32_t d = bytes.U32(8 * i + 4);
        v.Reals.push_back(d ? double(bytes.U32(8 * i)) / d : 0.0);
        break;
      }
      case TIFF_SRATIONAL: {
        const auto d = std::int32_t(bytes.U32(8 * i + 4));
        v.Reals.push_back(d ? double(std::int32_t(bytes.U32(8 * i))) / d : 0.0);
        break;
      }
      default:
        break;
    }
  }
  if (TypeSize(e.Type) == 1) v.Bytes = e.Value;
  return v;
}

// Sets one entry in libtiff's current directory, in the form libtiff expects for the tag.
// Entries whose type or count does not fit libtiff's definition of the tag are left out.
void SetEntry(TIFF* tif, const IfdEntry& e, bool bigEndian) {
  const TIFFField* field = TIFFFindField(tif, e.Tag, TIFF_ANY);
  if (!field) return;
  const TIFFDataType type = TIFFFieldDataType(field);
  const bool passCount = TIFFFieldPassCount(field) != 0;
  const int readCount = TIFFFieldReadCount(field);
  const int valueSize = TIFFFieldSetGetSize(field);
  const EntryValues v = DecodeValues(e, bigEndian);
  const int count = int(std::min<std::uint32_t>(e.Count, 65535));

  switch (type) {
    case TIFF_ASCII: {
      if (e.Type != TIFF_ASCII) return;
      QByteArray text = v.Bytes;
      const qsizetype nul = text.indexOf('\0');
      if (nul >= 0) text.truncate(nul);
      TIFFSetField(tif, e.Tag, text.constData());
      return;
    }
    case TIFF_SHORT:
    case TIFF_SSHORT:
    case TIFF_LONG:
    case TIFF_SLONG: {
      std::vector<std::uint32_t> values(v.Longs);
      for (std::uint16_t s : v.Shorts) values.push_back(s);
      if (values.empty()) return;
      if (!passCount && readCount == 1) {
        TIFFSetField(tif, e.Tag, values[0]);
      } else if (TIFFFieldSetGetSize(field) == 2) {
        std::vector<std::uint16_t> shorts(values.begin(), values.end());
        if (passCount)
          TIFFSetField(tif, e.Tag, int(shorts.size()), shorts.data());
        else if (readCount == int(shorts.size()))
          TIFFSetField(tif, e.Tag, shorts.data());
      } else if (valueSize == 4) {
        if (passCount)
          TIFFSetField(tif, e.Tag, int(values.size()), values.data());
        else if (readCount == int(values.size()))
          TIFFSetField(tif, e.Tag, values.data());
      }
      return;
    }
    case TIFF_RATIONAL:
    case TIFF_SRATIONAL:
    case TIFF_FLOAT:
    case TIFF_DOUBLE: {
      if (v.Reals.empty()) return;
      if (!passCount && readCount == 1) {
        TIFFSetField(tif, e.Tag, v.Reals[0]);  // passed as double whatever libtiff stores
      } else if (valueSize == 4) {
        std::vector<float> floats(v.Reals.begin(), v.Reals.end());
        if (passCount)
          TIFFSetField(tif, e.Tag, int(floats.size()), floats.data());
        else if (readCount == int(floats.size()))
          TIFFSetField(tif, e.Tag, floats.data());
      } else if (valueSize == 8) {
        if (passCount)
          TIFFSetField(tif, e.Tag, int(v.Reals.size()), v.Reals.data());
        else if (readCount == int(v.Reals.size()))
          TIFFSetField(tif, e.Tag, v.Reals.data());
      }
      return;
    }
    case TIFF_BYTE:
    case TIFF_SBYTE:
    case TIFF_UNDEFINED: {
      if (TypeSize(e.Type) != 1 || valueSize != 1) return;
      if (passCount)
        TIFFSetField(tif, e.Tag, count, v.Bytes.constData());
      else if (readCount == count)
        TIFFSetField(tif, e.Tag, v.Bytes.constData());
      return;
    }
    default:
      return;
  }
}

// The descriptive tags of the image directory taken from an EXIF block.
void SetExifImageTags(TIFF* tif, const QByteArray& block) {
  ExifIfds ifds;
  if (!ReadExifIfds(ByteView(reinterpret_cast<const std::uint8_t*>(block.constData()),
                             std::size_t(block.size())),
                    ifds))
    return;
  for (const IfdEntry& e : ifds.Image) SetEntry(tif, e, ifds.BigEndian);
}

// Offsets of the EXIF and GPS directories written ahead of the image directory; 0 for a
// directory that the block does not hold.
struct ExifOffsets {
  std::uint64_t Exif = 0;
  std::uint64_t Gps = 0;
};

// Writes the EXIF and GPS directories of the block as custom directories at the current end of
// the file. Afterwards the handle holds a fresh image directory.
ExifOffsets WriteExifDirectories(TIFF* tif, const QByteArray& block) {
  ExifOffsets offsets;
  ExifIfds ifds;
  if (!ReadExifIfds(ByteView(reinterpret_cast<const std::uint8_t*>(block.constData()),
                             std::size_t(block.size())),
                    ifds) ||
      (ifds.Exif.empty() && ifds.Gps.empty()))
    return offsets;
  auto write = [&](const std::vector<IfdEntry>& entries, int (*create)(TIFF*),
                   std::uint64_t* offset) {
    if (entries.empty() || create(tif) != 0) return;
    for (const IfdEntry& e : entries) SetEntry(tif, e, ifds.BigEndian);
    if (!TIFFWriteCustomDirectory(tif, offset)) *offset = 0;
    TIFFFreeDirectory(tif);  // creating the next directory does not release this one's values
  };
  write(ifds.Exif, TIFFCreateEXIFDirectory, &offsets.Exif);
  write(ifds.Gps, TIFFCreateGPSDirectory, &offsets.Gps);
  TIFFCreateDirectory(tif);
  return offsets;
}

// ---------------------------------------------------------------------------------------------
// Reading.

// The tags of the first directory that decide how it is read and what the header reports.
struct Layout {
  std::uint32_t Width = 0, Height = 0;
  int BitsPerSample = 1, SamplesPerPixel = 1;
  int Photometric = -1;
  int Compression = COMPRESSION_NONE;
  int Planar = PLANARCONFIG_CONTIG;
  int SampleFormat = SAMPLEFORMAT_UINT;
  int AlphaKind = EXTRASAMPLE_UNSPECIFIED;  // of the first extra sample
  bool HasAlpha = false;
  bool Tiled = false;
  int DpiX = kDefaultDpi, DpiY = kDefaultDpi;
};

int DpiFrom(float resolution, int unit) {
  if (!(resolution > 0) || resolution > 1e6f) return 0;
  const double perInch = unit == RESUNIT_CENTIMETER ? resolution * 2.54 : resolution;
  return int(perInch + 0.5);
}

Layout ReadLayout(TIFF* tif) {
  Layout layout;
  std::uint16_t u16 = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.Width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.Height);
  if (TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &u16)) layout.BitsPerSample = u16;
  if (TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &u16)) layout.SamplesPerPixel = u16;
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &u16)) layout.Photometric = u16;
  if (TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &u16)) layout.Compression = u16;
  if (TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &u16)) layout.Planar = u16;
  if (TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &u16)) layout.SampleFormat = u16;
  layout.Tiled = TIFFIsTiled(tif) != 0;
  if (layout.Photometric < 0)  // missing: the usual guess by the number of samples
    layout.Photometric = layout.SamplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;

  std::uint16_t extraCount = 0;
  std::uint16_t* extraTypes = nullptr;
  const int colourSamples =
      layout.Photometric == PHOTOMETRIC_SEPARATED ? 4
      : (layout.Photometric == PHOTOMETRIC_RGB || layout.Photometric == PHOTOMETRIC_YCBCR ||
         layout.Photometric == PHOTOMETRIC_CIELAB)
          ? 3
          : 1;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount > 0 &&
      extraTypes) {
    layout.AlphaKind = extraTypes[0];
    layout.HasAlpha =
        (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA) &&
        layout.SamplesPerPixel > colourSamples;
  } else if (layout.SamplesPerPixel == colourSamples + 1 &&
             (colourSamples == 3 || colourSamples == 1) &&
             layout.Photometric != PHOTOMETRIC_PALETTE) {
    // An extra sample without its tag is taken as plain (unassociated) alpha.
    layout.HasAlpha = true;
    layout.AlphaKind = EXTRASAMPLE_UNASSALPHA;
  }

  float xRes = 0, yRes = 0;
  std::uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (unit != RESUNIT_NONE && TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xRes)) {
    if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yRes)) yRes = xRes;
    const int dpiX = DpiFrom(xRes, unit), dpiY = DpiFrom(yRes, unit);
    if (dpiX > 0) {
      layout.DpiX = dpiX;
      layout.DpiY = dpiY > 0 ? dpiY : dpiX;
    }
  }
  return layout;
}

int CompressionKind(TIFF* tif, int compression) {
  switch (compression) {
    case COMPRESSION_NONE:
      return TiffCompression::None;
    case COMPRESSION_CCITTRLE:
      return TiffCompression::Ccitt1D;
    case COMPRESSION_CCITTFAX3: {
      std::uint32_t options = 0;
      TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &options);
      return (options & GROUP3OPT_2DENCODING) ? TiffCompression::G3Fax2D : TiffCompression::G3Fax1D;
    }
    case COMPRESSION_CCITTFAX4:
      return TiffCompression::G4Fax;
    case COMPRESSION_LZW:
      return TiffCompression::Lzw;
    case COMPRESSION_OJPEG:
      return TiffCompression::OldJpeg;
    case COMPRESSION_JPEG:
      return TiffCompression::Jpeg;
    case COMPRESSION_PACKBITS:
      return TiffCompression::PackBits;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      return TiffCompression::Deflate;
    default:
      return TiffCompression::Other;
  }
}

void FillParams(TIFF* tif, const Layout& layout, PictureParams& params) {
  params.FileType = PictureFileType::Tiff;
  params.FormatDescription = kDescription;
  params.Width = int(layout.Width);
  params.Height = int(layout.Height);
  params.BitsPerSample = layout.BitsPerSample;
  params.SamplesPerPixel = layout.SamplesPerPixel;
  params.DpiX = layout.DpiX;
  params.DpiY = layout.DpiY;
  params.TiffCompressionKind = CompressionKind(tif, layout.Compression);
}

inline std::uint8_t From16(std::uint16_t v) { return std::uint8_t((v * 255u + 32767u) / 65535u); }

// Un-premultiplies a colour value stored with associated alpha.
inline std::uint8_t Unpremultiply(int value, int alpha) {
  if (alpha == 0) return 0;
  return std::uint8_t(std::min(255, (value * 255 + alpha / 2) / alpha));
}

// Whether the strips hold a layout that the row reader below converts itself: contiguous samples
// of 1-16-bit grey, 8/16-bit RGB (with or without alpha) or a 1-8-bit palette. Everything else
// goes through libtiff's RGBA reader.
bool RowReadable(const Layout& l) {
  if (l.Tiled || l.SampleFormat != SAMPLEFORMAT_UINT) return false;
  if (l.Compression == COMPRESSION_OJPEG) return false;
  if (l.Planar != PLANARCONFIG_CONTIG && l.SamplesPerPixel > 1) return false;
  const int bits = l.BitsPerSample;
  switch (l.Photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
      return (bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16) &&
             (l.SamplesPerPixel == 1 || (bits >= 8 && l.SamplesPerPixel >= 1));
    case PHOTOMETRIC_RGB:
      return (bits == 8 || bits == 16) && l.SamplesPerPixel >= 3;
    case PHOTOMETRIC_PALETTE:
      return (bits == 1 || bits == 2 || bits == 4 || bits == 8) && l.SamplesPerPixel == 1;
    default:
      return false;
  }
}

// Reads the rows one by one and converts them to BGR (and alpha).
void ReadRows(TIFF* tif, const Layout& l, MemoryFile& file, Picture& picture) {
  const int width = int(l.Width);
  const int spp = l.SamplesPerPixel;
  const int bits = l.BitsPerSample;
  const tmsize_t rowSize = TIFFScanlineSize(tif);
  const std::uint64_t needed =
      (std::uint64_t(width) * std::uint64_t(spp) * std::uint64_t(bits) + 7) / 8;
  if (rowSize <= 0 || std::uint64_t(rowSize) < needed)
    Fail(file, QStringLiteral("Damaged TIFF file"));
  std::vector<std::uint8_t> row(std::size_t(rowSize) + 8);

  // Colour map of a palette picture, 8 bits per entry. Maps written with 8-bit values by
  // mistake (no value above 255) are taken as they are, as most readers do.
  std::vector<QRgb> palette;
  if (l.Photometric == PHOTOMETRIC_PALETTE) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
      Fail(file, QStringLiteral("The TIFF palette is missing"));
    const int entries = 1 << bits;
    bool eightBit = true;
    for (int i = 0; i < entries; ++i)
      if (red[i] > 255 || green[i] > 255 || blue[i] > 255) eightBit = false;
    const int shift = eightBit ? 0 : 8;
    for (int i = 0; i < entries; ++i)
      palette.push_back(qRgb(red[i] >> shift, green[i] >> shift, blue[i] >> shift));
  }
  const bool invert = l.Photometric == PHOTOMETRIC_MINISWHITE;
  const int maxValue = (1 << std::min(bits, 8)) - 1;

  for (std::uint32_t y = 0; y < l.Height; ++y) {
    if (TIFFReadScanline(tif, row.data(), y, 0) < 0)
      Fail(file, QStringLiteral("Damaged TIFF file"));
    std::uint8_t* out = picture.Image.scanLine(int(y));
    std::uint8_t* alpha = picture.HasAlpha() ? picture.Alpha.scanLine(int(y)) : nullptr;
    const std::uint8_t* in = row.data();
    const auto* in16 = reinterpret_cast<const std::uint16_t*>(row.data());  // native order

    if (l.Photometric == PHOTOMETRIC_RGB) {
      for (int x = 0; x < width; ++x) {
        int r, g, b, a = 255;
        if (bits == 8) {
          const std::uint8_t* p = in + std::size_t(x) * spp;
          r = p[0], g = p[1], b = p[2];
          if (alpha) a = p[3];
        } else {
          std::uint16_t p[4];
          std::memcpy(p, in16 + std::size_t(x) * spp, sizeof(std::uint16_t) * (alpha ? 4 : 3));
          r = From16(p[0]), g = From16(p[1]), b = From16(p[2]);
          if (alpha) a = From16(p[3]);
        }
        if (alpha && l.AlphaKind == EXTRASAMPLE_ASSOCALPHA)
          r = Unpremultiply(r, a), g = Unpremultiply(g, a), b = Unpremultiply(b, a);
        out[3 * x] = std::uint8_t(b);
        out[3 * x + 1] = std::uint8_t(g);
        out[3 * x + 2] = std::uint8_t(r);
        if (alpha) alpha[x] = std::uint8_t(a);
      }
    } else if (l.Photometric == PHOTOMETRIC_PALETTE) {
      for (int x = 0; x < width; ++x) {
        const int bit = x * bits;
        const int index = (in[bit >> 3] >> (8 - bits - (bit & 7))) & maxValue;
        const QRgb c = palette[std::size_t(index)];
        out[3 * x] = std::uint8_t(qBlue(c));
        out[3 * x + 1] = std::uint8_t(qGreen(c));
        out[3 * x + 2] = std::uint8_t(qRed(c));
      }
    } else {  // grey
      for (int x = 0; x < width; ++x) {
        int v, a = 255;
        if (bits == 16) {
          std::uint16_t p[2];
          std::memcpy(p, in16 + std::size_t(x) * spp, sizeof(std::uint16_t) * (alpha ? 2 : 1));
          v = From16(p[0]);
          if (alpha) a = From16(p[1]);
        } else if (bits == 8) {
          v = in[std::size_t(x) * spp];
          if (alpha) a = in[std::size_t(x) * spp + 1];
        } else {
          const int bit = x * bits;
          v = ((in[bit >> 3] >> (8 - bits - (bit & 7))) & maxValue) * 255 / maxValue;
        }
        if (invert) v = 255 - v;
        if (alpha && l.AlphaKind == EXTRASAMPLE_ASSOCALPHA) v = Unpremultiply(v, a);
        out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = std::uint8_t(v);
        if (alpha) alpha[x] = std::uint8_t(a);
      }
    }
  }
}

// Any other layout (tiles, separate planes, CMYK, YCbCr, JPEG, CIE L*a*b*, ...) through libtiff's
// RGBA reader, which gives premultiplied 8-bit RGBA, top row first.
void ReadRgba(TIFF* tif, const Layout& l, MemoryFile& file, Picture& picture) {
  char message[1024] = {};
  if (!TIFFRGBAImageOK(tif, message))
    throw PictureError(
        QStringLiteral("Unsupported TIFF layout: %1").arg(QString::fromLocal8Bit(message)));
  QImage raster =
      NewPictureImage(int(l.Width), int(l.Height), QImage::Format_RGBA8888_Premultiplied);
  if (!TIFFReadRGBAImageOriented(tif, l.Width, l.Height,
                                 reinterpret_cast<std::uint32_t*>(raster.bits()),
                                 ORIENTATION_TOPLEFT, 0))
    Fail(file, QStringLiteral("Damaged TIFF file"));
  // The raster holds 32-bit values R | G << 8 | B << 16 | A << 24.
  for (int y = 0; y < int(l.Height); ++y) {
    const auto* in = reinterpret_cast<const std::uint32_t*>(raster.constScanLine(y));
    std::uint8_t* out = picture.Image.scanLine(y);
    std::uint8_t* alpha = picture.HasAlpha() ? picture.Alpha.scanLine(y) : nullptr;
    for (int x = 0; x < int(l.Width); ++x) {
      const std::uint32_t v = in[x];
      int r = int(TIFFGetR(v)), g = int(TIFFGetG(v)), b = int(TIFFGetB(v));
      if (alpha) {
        const int a = int(TIFFGetA(v));
        r = Unpremultiply(r, a), g = Unpremultiply(g, a), b = Unpremultiply(b, a);
        alpha[x] = std::uint8_t(a);
      }
      out[3 * x] = std::uint8_t(b);
      out[3 * x + 1] = std::uint8_t(g);
      out[3 * x + 2] = std::uint8_t(r);
    }
  }
}

void ReadMetadata(TIFF* tif, ByteView data, PictureParams& params) {
  std::uint32_t iccSize = 0;
  void* icc = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0)
    params.IccProfile = QByteArray(static_cast<const char*>(icc), qsizetype(iccSize));
  char* description = nullptr;
  if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description) && description && *description)
    params.Comments.append(QString::fromUtf8(description));
  params.Exif = ExifBlockFromTiff(data);
}

// ---------------------------------------------------------------------------------------------
// Writing.

int LibtiffCompression(int kind) {
  switch (kind) {
    case TiffCompression::Ccitt1D:
      return COMPRESSION_CCITTRLE;
    case TiffCompression::G3Fax1D:
    case TiffCompression::G3Fax2D:
      return COMPRESSION_CCITTFAX3;
    case TiffCompression::G4Fax:
      return COMPRESSION_CCITTFAX4;
    case TiffCompression::Lzw:
      return COMPRESSION_LZW;
    case TiffCompression::PackBits:
      return COMPRESSION_PACKBITS;
    default:
      return COMPRESSION_NONE;  // the JPEG and read-only kinds are not written
  }
}

bool IsFaxKind(int kind) {
  return kind == TiffCompression::Ccitt1D || kind == TiffCompression::G3Fax1D ||
         kind == TiffCompression::G3Fax2D || kind == TiffCompression::G4Fax;
}

inline bool IsDark(QRgb c) { return qGray(c) < 128; }

// Whether a 1-bit picture's two colours are black and white (in either order).
bool IsBlackAndWhite(const QImage& mono) {
  if (mono.colorCount() < 2) return true;
  auto isGreyExtreme = [](QRgb c) {
    return (qRed(c) == 0 && qGreen(c) == 0 && qBlue(c) == 0) ||
           (qRed(c) == 255 && qGreen(c) == 255 && qBlue(c) == 255);
  };
  return isGreyExtreme(mono.color(0)) && isGreyExtreme(mono.color(1));
}

bool IsGrey(const QImage& bgr) {
  for (int y = 0; y < bgr.height(); ++y) {
    const std::uint8_t* p = bgr.constScanLine(y);
    for (int x = 0; x < bgr.width(); ++x, p += 3)
      if (p[0] != p[1] || p[1] != p[2]) return false;
  }
  return true;
}

void SetResolution(TIFF* tif, const PictureParams& params) {
  const int dpiX = params.DpiX > 0 ? params.DpiX : kDefaultDpi;
  const int dpiY = params.DpiY > 0 ? params.DpiY : dpiX;
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(dpiX));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(dpiY));
}

void WriteRow(TIFF* tif, MemoryFile& file, std::uint8_t* row, int y) {
  if (TIFFWriteScanline(tif, row, std::uint32_t(y), 0) < 0)
    Fail(file, QStringLiteral("Cannot write the TIFF file"));
}

// A black-and-white picture, one bit per pixel, with min-is-white for the fax compressions
// (their usual form) and min-is-black otherwise.
void WriteBilevel(TIFF* tif, MemoryFile& file, const QImage& mono, bool fax) {
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, fax ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  // Bit value of each palette index in the file: 1 means black under min-is-white.
  const bool darkZero = mono.colorCount() < 2 || IsDark(mono.color(0));
  const bool darkOne = mono.colorCount() >= 2 && IsDark(mono.color(1));
  const std::uint8_t bitForOne = std::uint8_t(fax ? darkOne : !darkOne);
  const std::uint8_t bitForZero = std::uint8_t(fax ? darkZero : !darkZero);
  const int bytes = (mono.width() + 7) / 8;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(bytes));
  for (int y = 0; y < mono.height(); ++y) {
    const std::uint8_t* in = mono.constScanLine(y);
    for (int i = 0; i < bytes; ++i) {
      const std::uint8_t v = in[i];
      row[std::size_t(i)] = std::uint8_t((bitForOne ? v : 0) | (bitForZero ? std::uint8_t(~v) : 0));
    }
    WriteRow(tif, file, row.data(), y);
  }
}

// A palette picture with 1, 2, 4 or 8 bits per index: the requested depth rounded up to one of
// those, raised until the palette fits.
void WritePalette(TIFF* tif, MemoryFile& file, const QImage& indexed, int requestedBits) {
  const int colours = std::max(1, indexed.colorCount());
  int bits = 8;
  for (int candidate : {1, 2, 4, 8}) {
    if (candidate >= requestedBits && (1 << candidate) >= colours) {
      bits = candidate;
      break;
    }
  }
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  const int entries = 1 << bits;
  std::vector<std::uint16_t> red(std::size_t(entries), 0), green(red), blue(red);
  for (int i = 0; i < std::min(entries, indexed.colorCount()); ++i) {
    const QRgb c = indexed.color(i);
    red[std::size_t(i)] = std::uint16_t(qRed(c) * 257);
    green[std::size_t(i)] = std::uint16_t(qGreen(c) * 257);
    blue[std::size_t(i)] = std::uint16_t(qBlue(c) * 257);
  }
  TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  const int bytes = (indexed.width() * bits + 7) / 8;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(bytes));
  for (int y = 0; y < indexed.height(); ++y) {
    const std::uint8_t* in = indexed.constScanLine(y);
    std::fill(row.begin(), row.end(), 0);
    for (int x = 0; x < indexed.width(); ++x) {
      const int index = in[x] < colours ? in[x] : 0;  // an index beyond the palette: entry 0
      const int bit = x * bits;
      row[std::size_t(bit >> 3)] |= std::uint8_t(index << (8 - bits - (bit & 7)));
    }
    WriteRow(tif, file, row.data(), y);
  }
}

// 8-bit grey, RGB or RGBA (alpha unassociated, as the alpha plane holds it).
void WriteColour(TIFF* tif, MemoryFile& file, const Picture& picture, const QImage& bgr, bool grey,
                 int compression) {
  const bool alpha = picture.HasAlpha() && picture.Alpha.size() == bgr.size();
  const int spp = (grey ? 1 : 3) + (alpha ? 1 : 0);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  if (alpha) {
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  // The horizontal predictor makes LZW far better on photos.
  if (compression == COMPRESSION_LZW) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  const QImage alphaPlane =
      alpha ? picture.Alpha.convertToFormat(QImage::Format_Grayscale8) : QImage();
  std::vector<std::uint8_t> row(std::size_t(bgr.width()) * std::size_t(spp));
  for (int y = 0; y < bgr.height(); ++y) {
    const std::uint8_t* in = bgr.constScanLine(y);
    const std::uint8_t* a = alpha ? alphaPlane.constScanLine(y) : nullptr;
    std::uint8_t* out = row.data();
    for (int x = 0; x < bgr.width(); ++x, in += 3) {
      if (grey) {
        *out++ = in[1];
      } else {
        *out++ = in[2];
        *out++ = in[1];
        *out++ = in[0];
      }
      if (a) *out++ = a[x];
    }
    WriteRow(tif, file, row.data(), y);
  }
}

void WriteTiff(const Picture& picture, QByteArray& bytes) {
  const PictureParams& params = picture.Params;
  QImage image = picture.Image;
  const int kind = params.TiffCompressionKind;
  const bool fax = IsFaxKind(kind);
  const int compression = LibtiffCompression(kind);

  // Decide the form. The fax compressions hold black and white only, so any other picture is
  // first turned into black and white by ordered dithering.
  enum class Form { Bilevel, Palette, Colour } form;
  if (fax) {
    if (image.format() != QImage::Format_Mono || !IsBlackAndWhite(image))
      image = DitherToBlackAndWhite(image);
    form = Form::Bilevel;
  } else if ((image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB) &&
             IsBlackAndWhite(image)) {
    image = image.convertToFormat(QImage::Format_Mono);
    form = Form::Bilevel;
  } else if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
             image.format() == QImage::Format_MonoLSB) {
    image = image.convertToFormat(QImage::Format_Indexed8);
    form = Form::Palette;
  } else {
    if (image.format() != QImage::Format_BGR888)
      image = image.convertToFormat(QImage::Format_BGR888);
    form = Form::Colour;
    // Params of one sample of fewer than 8 bits (a black-and-white or palette picture read
    // from a file, or asked for by the colour options) keep that depth when the pixels still
    // fit it; 8-bit grey stays grey. Pixels that no longer fit (a resized picture has new
    // shades) are written in 8-bit grey or colour rather than reduced here.
    const int bits = params.BitsPerSample;
    if (params.SamplesPerPixel == 1 && bits >= 1 && bits <= 8 && !picture.HasAlpha() &&
        !(bits == 8 && IsGrey(image)) && CountColors(image, 1 << bits) <= (1 << bits)) {
      const QImage indexed = ReduceColors(image, 1 << bits, false);
      if (bits == 1 && IsBlackAndWhite(indexed)) {
        image = indexed.convertToFormat(QImage::Format_Mono);
        form = Form::Bilevel;
      } else {
        image = indexed;
        form = Form::Palette;
      }
    }
  }
  if (image.isNull()) throw PictureError(QStringLiteral("Not enough memory to write the picture."));

  MemoryFile file;
  file.Output = &bytes;
  const bool big =
      std::uint64_t(image.width()) * std::uint64_t(image.height()) * 4 > (std::uint64_t(1) << 31);
  TiffPtr tif = OpenTiff(file, big ? "w8" : "w");
  TIFF* t = tif.get();

  // The EXIF and GPS directories go first, so that the image directory written last can point
  // to them without being rewritten.
  const ExifOffsets exif =
      params.Exif.isEmpty() ? ExifOffsets{} : WriteExifDirectories(t, params.Exif);

  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(image.width()));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(image.height()));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  if (compression == COMPRESSION_CCITTFAX3)
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS,
                 kind == TiffCompression::G3Fax2D ? GROUP3OPT_2DENCODING : 0);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  SetResolution(t, params);
  if (!params.IccProfile.isEmpty())
    TIFFSetField(t, TIFFTAG_ICCPROFILE, std::uint32_t(params.IccProfile.size()),
                 params.IccProfile.constData());
  if (!params.Comments.isEmpty()) {
    const QByteArray text = params.Comments.join(QLatin1Char('\n')).toUtf8();
    TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, text.constData());
  }
  if (!params.Exif.isEmpty()) SetExifImageTags(t, params.Exif);
  if (exif.Exif) TIFFSetField(t, TIFFTAG_EXIFIFD, exif.Exif);
  if (exif.Gps) TIFFSetField(t, TIFFTAG_GPSIFD, exif.Gps);

  switch (form) {
    case Form::Bilevel:
      WriteBilevel(t, file, image, fax);
      break;
    case Form::Palette:
      WritePalette(t, file, image, params.BitsPerSample);
      break;
    case Form::Colour: {
      const bool grey = params.SamplesPerPixel == 1 && IsGrey(image);
      WriteColour(t, file, picture, image, grey, compression);
      break;
    }
  }
  if (!TIFFWriteDirectory(t)) Fail(file, QStringLiteral("Cannot write the TIFF file"));
  TIFF* raw = tif.release();
  TIFFClose(raw);
  if (!file.Error.isEmpty()) Fail(file, QStringLiteral("Cannot write the TIFF file"));
}

// ---------------------------------------------------------------------------------------------

class TiffCodec final : public Codec {
 public:
  int FileType() const override { return PictureFileType::Tiff; }
  QString Description() const override { return kDescription; }
  QStringList Extensions() const override {
    // Fax files (.fax .g3n .g3f) are offered with TIFF: those in a TIFF wrapper read by their
    // content; a bare fax stream has no size and is refused when read.
    return {QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("fax"),
            QStringLiteral("g3n"), QStringLiteral("g3f")};
  }

  bool MatchesSignature(ByteView head) const override {
    if (head.size() < 4) return false;
    const bool little =
        head[0] == 'I' && head[1] == 'I' && head[3] == 0 && (head[2] == 42 || head[2] == 43);
    const bool big =
        head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
    return little || big;
  }

  HeaderFacts ReadHeader(ByteView data) const override {
    MemoryFile file;
    file.Data = data.data();
    file.Size = data.size();
    TiffPtr tif = OpenTiff(file, "r");
    const Layout layout = ReadLayout(tif.get());
    if (layout.Width == 0 || layout.Height == 0) Fail(file, QStringLiteral("Damaged TIFF file"));
    HeaderFacts facts;
    facts.FileType = PictureFileType::Tiff;
    facts.FormatDescription = kDescription;
    facts.Width = int(std::min<std::uint32_t>(layout.Width, INT32_MAX));
    facts.Height = int(std::min<std::uint32_t>(layout.Height, INT32_MAX));
    facts.BitsPerSample = layout.BitsPerSample;
    facts.SamplesPerPixel = layout.SamplesPerPixel;
    facts.DpiX = layout.DpiX;
    facts.DpiY = layout.DpiY;
    return facts;
  }

  Picture Read(ByteView data, const ReadOptions&) const override {
    MemoryFile file;
    file.Data = data.data();
    file.Size = data.size();
    TiffPtr tif = OpenTiff(file, "r");
    TIFF* t = tif.get();
    Layout layout = ReadLayout(t);
    CheckPictureSize(layout.Width, layout.Height);

    Picture picture;
    FillParams(t, layout, picture.Params);
    ReadMetadata(t, data, picture.Params);
    picture.Image = NewPictureImage(int(layout.Width), int(layout.Height));
    if (layout.HasAlpha)
      picture.Alpha =
          NewPictureImage(int(layout.Width), int(layout.Height), QImage::Format_Grayscale8);

    // JPEG-in-TIFF stored as YCbCr is decoded to RGB by the JPEG library itself.
    if (layout.Compression == COMPRESSION_JPEG && layout.Photometric == PHOTOMETRIC_YCBCR &&
        !layout.Tiled && layout.BitsPerSample == 8 && layout.Planar == PLANARCONFIG_CONTIG &&
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
      layout.Photometric = PHOTOMETRIC_RGB;

    if (RowReadable(layout))
      ReadRows(t, layout, file, picture);
    else
      ReadRgba(t, layout, file, picture);
    if (picture.HasAlpha()) {
      // A plane that is opaque everywhere carries nothing.
      bool opaque = true;
      for (int y = 0; y < picture.Alpha.height() && opaque; ++y) {
        const std::uint8_t* a = picture.Alpha.constScanLine(y);
        opaque = std::all_of(a, a + picture.Alpha.width(), [](std::uint8_t v) { return v == 255; });
      }
      if (opaque) picture.Alpha = QImage();
    }
    return picture;
  }

  bool CanWrite() const override { return true; }

  void Write(const Picture& picture, QIODevice& out) const override {
    if (picture.IsNull()) throw PictureError(QStringLiteral("There is no picture to write."));
    CheckPictureSize(picture.Width(), picture.Height());
    // libtiff writes into memory, where it can also read back what it wrote (it does so when it
    // links directories); the finished file then goes to the device in one piece.
    QByteArray bytes;
    WriteTiff(picture, bytes);
    if (out.write(bytes) != bytes.size())
      throw PictureError(QStringLiteral("Cannot write the TIFF file: %1").arg(out.errorString()));
  }
};

}  // namespace

QByteArray ExifBlockFromTiff(ByteView tiffFile) {
  ExifIfds ifds;
  if (!ReadExifIfds(tiffFile, ifds)) return {};
  return WriteExifIfds(std::move(ifds));
}

std::unique_ptr<Codec> MakeTiffCodec() { return std::make_unique<TiffCodec>(); }
