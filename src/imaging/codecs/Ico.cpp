// Windows icons (.ico) and cursors (.cur): our own reader.
//
// Both hold a directory of pictures of several sizes. The reader takes the largest one (most
// pixels, then most bits per pixel), which is either a PNG file or a DIB whose colour rows are
// followed by a 1-bit AND mask; the mask becomes the alpha plane.

#include <algorithm>
#include <vector>

#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"
#include "imaging/codecs/Bmp.h"
#include "imaging/codecs/Codecs.h"

namespace {

constexpr int kIconType = 1;
constexpr int kCursorType = 2;
constexpr std::size_t kDirectoryHeaderSize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

[[noreturn]] void Fail(const QString& text) { throw PictureError(text); }

bool Has(ByteView d, std::size_t offset, std::size_t count) {
  return offset <= d.size() && d.size() - offset >= count;
}

std::uint16_t U16(ByteView d, std::size_t offset) {
  return static_cast<std::uint16_t>(d[offset] | (d[offset + 1] << 8));
}

std::uint32_t U32(ByteView d, std::size_t offset) {
  return std::uint32_t(d[offset]) | (std::uint32_t(d[offset + 1]) << 8) |
         (std::uint32_t(d[offset + 2]) << 16) | (std::uint32_t(d[offset + 3]) << 24);
}

std::uint32_t BigU32(ByteView d, std::size_t offset) {
  return (std::uint32_t(d[offset]) << 24) | (std::uint32_t(d[offset + 1]) << 16) |
         (std::uint32_t(d[offset + 2]) << 8) | std::uint32_t(d[offset + 3]);
}

// One picture of the directory, with the facts read from its own data (the directory's
// sizes and depths are often wrong, and a cursor keeps its hot spot where an icon keeps
// its depth).
struct IconEntry {
  ByteView Data;
  bool Png = false;
  int Width = 0;
  int Height = 0;
  int BitsPerSample = 0;
  int SamplesPerPixel = 0;
  long long Pixels() const { return static_cast<long long>(Width) * Height; }
  int Bits() const { return BitsPerSample * SamplesPerPixel; }
};

// Facts of a PNG picture from its IHDR chunk; false when the data is not a usable PNG.
bool ReadPngFacts(IconEntry& entry) {
  const ByteView d = entry.Data;
  if (!Has(d, 0, 29) || !std::equal(kPngSignature, kPngSignature + 8, d.begin())) return false;
  if (d[12] != 'I' || d[13] != 'H' || d[14] != 'D' || d[15] != 'R') return false;
  const std::uint32_t width = BigU32(d, 16);
  const std::uint32_t height = BigU32(d, 20);
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return false;
  int channels = 0;
  switch (d[25]) {
    case 0:
      channels = 1;
      break;  // grey
    case 2:
      channels = 3;
      break;  // RGB
    case 3:
      channels = 1;
      break;  // palette
    case 4:
      channels = 2;
      break;  // grey and alpha
    case 6:
      channels = 4;
      break;  // RGBA
    default:
      return false;
  }
  entry.Png = true;
  entry.Width = static_cast<int>(std::min<std::uint32_t>(width, 0x7FFFFFFF));
  entry.Height = static_cast<int>(std::min<std::uint32_t>(height, 0x7FFFFFFF));
  entry.BitsPerSample = d[24];
  entry.SamplesPerPixel = channels;
  return true;
}

bool ReadDibFacts(IconEntry& entry) {
  try {
    const DibHeader h = ReadDibHeader(entry.Data);
    if (h.Height / 2 <= 0) return false;
    entry.Width = h.Width;
    entry.Height = h.Height / 2;
    DibBitsToParams(h.BitCount, entry.BitsPerSample, entry.SamplesPerPixel);
    return true;
  } catch (const PictureError&) {
    return false;
  }
}

// The largest readable picture of the directory. Entries whose data lies outside the file or
// whose header cannot be read are passed over. Throws PictureError when none is left.
IconEntry ChooseEntry(ByteView data, int type) {
  if (!Has(data, 0, kDirectoryHeaderSize)) Fail(QStringLiteral("The icon file is truncated."));
  if (U16(data, 0) != 0 || U16(data, 2) != type)
    Fail(QStringLiteral("This is not a Windows %1.").arg(type == kIconType ? "icon" : "cursor"));
  const int count = U16(data, 4);
  if (count == 0) Fail(QStringLiteral("The icon file holds no pictures."));
  if (!Has(data, kDirectoryHeaderSize, count * kEntrySize))
    Fail(QStringLiteral("The icon directory is truncated."));

  IconEntry best;
  bool found = false;
  for (int i = 0; i < count; ++i) {
    const std::size_t at = kDirectoryHeaderSize + std::size_t(i) * kEntrySize;
    const std::uint32_t size = U32(data, at + 8);
    const std::uint32_t offset = U32(data, at + 12);
    if (offset < kDirectoryHeaderSize || offset >= data.size()) continue;
    // Writers disagree about the stored size; the data may run to the end of the file.
    IconEntry entry;
    entry.Data = data.subspan(
        offset, std::min<std::size_t>(size ? size : data.size(), data.size() - offset));
    if (!Has(entry.Data, 0, 4)) entry.Data = data.subspan(offset);
    if (!ReadPngFacts(entry) && !ReadDibFacts(entry)) continue;
    if (!found || entry.Pixels() > best.Pixels() ||
        (entry.Pixels() == best.Pixels() && entry.Bits() > best.Bits())) {
      best = entry;
      found = true;
    }
  }
  if (!found) Fail(QStringLiteral("The icon file holds no readable picture."));
  return best;
}

class IconCodec final : public Codec {
 public:
  explicit IconCodec(int type) : Type(type) {}

  int FileType() const override {
    return Type == kIconType ? PictureFileType::Ico : PictureFileType::Cur;
  }
  QString Description() const override {
    return Type == kIconType ? QStringLiteral("Windows Icon") : QStringLiteral("Windows Cursor");
  }
  QStringList Extensions() const override {
    return {Type == kIconType ? QStringLiteral("ico") : QStringLiteral("cur")};
  }

  // Reserved 0, the type, at least one picture, and a first entry whose reserved byte is 0
  // (some writers store 255).
  bool MatchesSignature(ByteView head) const override {
    if (head.size() < 6 || U16(head, 0) != 0 || U16(head, 2) != Type || U16(head, 4) == 0)
      return false;
    return head.size() < 10 || head[9] == 0 || head[9] == 0xFF;
  }

  HeaderFacts ReadHeader(ByteView data) const override {
    const IconEntry entry = ChooseEntry(data, Type);
    HeaderFacts facts;
    facts.FileType = FileType();
    facts.FormatDescription = Description();
    facts.Width = entry.Width;
    facts.Height = entry.Height;
    facts.BitsPerSample = entry.BitsPerSample;
    facts.SamplesPerPixel = entry.SamplesPerPixel;
    facts.DpiX = kDefaultDpi;
    facts.DpiY = kDefaultDpi;
    return facts;
  }

  Picture Read(ByteView data, const ReadOptions& options) const override {
    const IconEntry entry = ChooseEntry(data, Type);
    Picture picture = entry.Png ? ReadPictureFromMemory(entry.Data, QStringLiteral("png"), options)
                                : DecodeDib(entry.Data, DibKind::Icon);
    if (entry.Png && picture.Params.FileType != PictureFileType::Png)
      Fail(QStringLiteral("The icon's PNG picture cannot be read."));
    PictureParams& params = picture.Params;
    params.FileType = FileType();
    params.FormatDescription = Description();
    params.Width = picture.Width();
    params.Height = picture.Height();
    params.BitsPerSample = entry.BitsPerSample;
    params.SamplesPerPixel = entry.SamplesPerPixel;
    // Icons store no resolution.
    params.DpiX = kDefaultDpi;
    params.DpiY = kDefaultDpi;
    return picture;
  }

 private:
  int Type;
};

}  // namespace

std::unique_ptr<Codec> MakeIcoCodec() { return std::make_unique<IconCodec>(kIconType); }
std::unique_ptr<Codec> MakeCurCodec() { return std::make_unique<IconCodec>(kCursorType); }
