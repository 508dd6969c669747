// DCX: a multi-page fax file holding PCX pages. The reader takes the first page.
//
// Layout: the magic number 987654321 (32-bit little-endian), then up to 1023 32-bit offsets of
// the pages from the start of the file, ended by a zero offset; each page is a whole PCX file.

#include <QtGlobal>

#include "imaging/PictureError.h"
#include "imaging/codecs/Codecs.h"
#include "imaging/codecs/Pcx.h"

namespace {

constexpr std::uint32_t kMagic = 987654321;

const QString kDescription = QStringLiteral("DCX (multi-page PCX)");

std::uint32_t U32(ByteView data, std::size_t at) {
  return data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) |
         (static_cast<std::uint32_t>(data[at + 3]) << 24);
}

bool HasMagic(ByteView data) { return data.size() >= 4 && U32(data, 0) == kMagic; }

// The bytes of the first page: from its offset to the next page's offset, or to the end of
// the file when it is the only page (or the next offset does not follow it).
ByteView FirstPage(ByteView data) {
  if (!HasMagic(data)) throw PictureError(QStringLiteral("This is not a DCX file."));
  if (data.size() < 8) throw PictureError(QStringLiteral("The DCX file is truncated."));
  const std::uint32_t first = U32(data, 4);
  if (first == 0) throw PictureError(QStringLiteral("The DCX file has no pages."));
  if (first < 8 || first >= data.size())
    throw PictureError(QStringLiteral("The DCX page offset %1 lies outside the file.").arg(first));
  std::size_t end = data.size();
  if (data.size() >= 12) {
    const std::uint32_t next = U32(data, 8);
    if (next > first && next < data.size()) end = next;
  }
  return data.subspan(first, end - first);
}

class DcxCodec : public Codec {
 public:
  int FileType() const override { return PictureFileType::Dcx; }
  QString Description() const override { return kDescription; }
  QStringList Extensions() const override { return {QStringLiteral("dcx")}; }
  bool MatchesSignature(ByteView head) const override { return HasMagic(head); }

  HeaderFacts ReadHeader(ByteView data) const override {
    HeaderFacts facts = ReadPcxHeader(FirstPage(data));
    facts.FileType = PictureFileType::Dcx;
    facts.FormatDescription = kDescription;
    return facts;
  }

  Picture Read(ByteView data, const ReadOptions&) const override {
    Picture picture = DecodePcx(FirstPage(data));
    picture.Params.FileType = PictureFileType::Dcx;
    picture.Params.FormatDescription = kDescription;
    return picture;
  }
};

}  // namespace

std::unique_ptr<Codec> MakeDcxCodec() { return std::make_unique<DcxCodec>(); }
