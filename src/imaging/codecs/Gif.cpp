// GIF through giflib 5: reads the first frame, writes a palette picture with an optional
// transparent colour.

#include <gif_lib.h>

#include <QIODevice>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/ColorReduce.h"
#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"
#include "imaging/codecs/Codecs.h"

namespace {

const QString kDescription = QStringLiteral("Graphics Interchange Format");

QString GifErrorText(int code) {
  const char* text = GifErrorString(code);
  return text ? QString::fromLatin1(text) : QStringLiteral("error %1").arg(code);
}

// ---------------------------------------------------------------------------------------------
// Reading.

struct MemorySource {
  ByteView Data;
  std::size_t Position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int size) {
  auto* source = static_cast<MemorySource*>(gif->UserData);
  if (size <= 0) return 0;
  const std::size_t n =
      std::min<std::size_t>(std::size_t(size), source->Data.size() - source->Position);
  std::memcpy(buffer, source->Data.data() + source->Position, n);
  source->Position += n;
  return int(n);
}

struct GifReaderCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifReader = std::unique_ptr<GifFileType, GifReaderCloser>;

GifReader OpenGif(MemorySource& source) {
  int error = 0;
  GifFileType* gif = DGifOpen(&source, ReadFromMemory, &error);
  if (!gif)
    throw PictureError(QStringLiteral("Not a readable GIF file: %1").arg(GifErrorText(error)));
  return GifReader(gif);
}

[[noreturn]] void Fail(GifFileType* gif) {
  throw PictureError(QStringLiteral("Damaged GIF file: %1").arg(GifErrorText(gif->Error)));
}

// What is known of the first frame once its descriptor has been read.
struct FirstFrame {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Interlaced = false;
  int Transparent = NO_TRANSPARENT_COLOR;
  const ColorMapObject* Colours = nullptr;  // local map, else the global one; may be null
};

// Walks the records up to the first image descriptor, noting the graphics control extension
// that precedes it. The pixel data is left unread.
FirstFrame FindFirstFrame(GifFileType* gif) {
  FirstFrame frame;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) Fail(gif);
    if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) == GIF_ERROR) Fail(gif);
      const GifImageDesc& desc = gif->Image;
      frame.Left = desc.Left;
      frame.Top = desc.Top;
      frame.Width = desc.Width;
      frame.Height = desc.Height;
      frame.Interlaced = desc.Interlace;
      frame.Colours = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
      return frame;
    }
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) Fail(gif);
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
        GraphicsControlBlock control;
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
          frame.Transparent = control.TransparentColor;
      }
      while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) Fail(gif);
      }
      continue;
    }
    if (type == TERMINATE_RECORD_TYPE)
      throw PictureError(QStringLiteral("The GIF file holds no picture."));
    throw PictureError(QStringLiteral("Damaged GIF file."));
  }
}

// Bits of the colour table in use (1 for 2 entries ... 8 for 256).
int TableBits(const ColorMapObject* map) {
  if (!map || map->ColorCount <= 0) return 8;
  int bits = 1;
  while ((1 << bits) < map->ColorCount && bits < 8) ++bits;
  return bits;
}

// The logical screen, enlarged where the first frame reaches beyond it (as other readers do).
QSize CanvasSize(const GifFileType* gif, const FirstFrame& frame) {
  return QSize(std::max(gif->SWidth, frame.Left + frame.Width),
               std::max(gif->SHeight, frame.Top + frame.Height));
}

void FillParams(const QSize& size, const FirstFrame& frame, PictureParams& params) {
  params.FileType = PictureFileType::Gif;
  params.FormatDescription = kDescription;
  params.Width = size.width();
  params.Height = size.height();
  params.BitsPerSample = TableBits(frame.Colours);
  params.SamplesPerPixel = 1;
  params.DpiX = params.DpiY = kDefaultDpi;  // GIF stores no resolution
}

Picture ReadGif(ByteView data) {
  MemorySource source{data};
  GifReader reader = OpenGif(source);
  GifFileType* gif = reader.get();
  const FirstFrame frame = FindFirstFrame(gif);
  const QSize size = CanvasSize(gif, frame);
  CheckPictureSize(size.width(), size.height());

  // Palette of the frame; a file without any colour table gets a grey ramp.
  QRgb palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = qRgb(i, i, i);
  if (frame.Colours && frame.Colours->Colors) {
    for (int i = 0; i < std::min(frame.Colours->ColorCount, 256); ++i) {
      const GifColorType& c = frame.Colours->Colors[i];
      palette[i] = qRgb(c.Red, c.Green, c.Blue);
    }
  }
  const int transparent = frame.Transparent;

  // Indices of the whole canvas: what the frame does not cover shows the background colour,
  // or is transparent when the frame has a transparent colour.
  const int background = transparent != NO_TRANSPARENT_COLOR ? transparent : gif->SBackGroundColor;
  QImage indices = NewPictureImage(size.width(), size.height(), QImage::Format_Grayscale8);
  indices.fill(uint(background & 255));

  if (frame.Width > 0 && frame.Height > 0) {
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    // An interlaced frame stores rows 0, 8, 16, ..., then 4, 12, ..., then 2, 6, ..., then 1, 3,
    // ...
    static const int kStart[] = {0, 4, 2, 1};
    static const int kStep[] = {8, 8, 4, 2};
    const int passes = frame.Interlaced ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int start = frame.Interlaced ? kStart[pass] : 0;
      const int step = frame.Interlaced ? kStep[pass] : 1;
      for (int row = start; row < frame.Height; row += step) {
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) Fail(gif);
        std::memcpy(indices.scanLine(frame.Top + row) + frame.Left, line.data(), line.size());
      }
    }
  }

  Picture picture;
  FillParams(size, frame, picture.Params);
  picture.Image = NewPictureImage(size.width(), size.height());
  bool anyTransparent = false;
  for (int y = 0; y < size.height(); ++y) {
    const uchar* in = indices.constScanLine(y);
    uchar* out = picture.Image.scanLine(y);
    for (int x = 0; x < size.width(); ++x) {
      const QRgb c = palette[in[x]];
      out[3 * x] = uchar(qBlue(c));
      out[3 * x + 1] = uchar(qGreen(c));
      out[3 * x + 2] = uchar(qRed(c));
      anyTransparent = anyTransparent || in[x] == transparent;
    }
  }
  if (anyTransparent) {
    picture.Alpha = NewPictureImage(size.width(), size.height(), QImage::Format_Grayscale8);
    for (int y = 0; y < size.height(); ++y) {
      const uchar* in = indices.constScanLine(y);
      uchar* out = picture.Alpha.scanLine(y);
      for (int x = 0; x < size.width(); ++x) out[x] = in[x] == transparent ? 0 : 255;
    }
  }
  return picture;
}

// ---------------------------------------------------------------------------------------------
// Writing.

int WriteToDevice(GifFileType* gif, const GifByteType* buffer, int size) {
  auto* device = static_cast<QIODevice*>(gif->UserData);
  return int(device->write(reinterpret_cast<const char*>(buffer), size));
}

struct GifWriterCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    EGifCloseFile(gif, &error);
  }
};
using GifWriter = std::unique_ptr<GifFileType, GifWriterCloser>;

// The palette picture to write: an Indexed8 picture keeps its palette, a 1-bit picture its two
// colours, any other picture is reduced to 256 colours (kept exactly when it has no more).
// With transparency one palette entry is kept free for the transparent colour.
QImage IndexedFor(const Picture& picture, bool transparency) {
  const QImage& image = picture.Image;
  if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
      image.format() == QImage::Format_MonoLSB) {
    QImage indexed = image.convertToFormat(QImage::Format_Indexed8);
    if (indexed.colorCount() == 0) indexed.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    if (!transparency || indexed.colorCount() < 256) return indexed;
    // All 256 entries taken: the palette is made anew with one entry fewer.
    return ReduceColors(indexed.convertToFormat(QImage::Format_BGR888), 255);
  }
  return ReduceColors(image, transparency ? 255 : 256);
}

void WriteGif(const Picture& picture, QIODevice& out) {
  const bool transparency = picture.HasAlpha() && picture.Alpha.size() == picture.Image.size();
  QImage indexed = IndexedFor(picture, transparency);
  if (indexed.isNull())
    throw PictureError(QStringLiteral("Not enough memory to write the picture."));
  const int width = indexed.width();
  const int height = indexed.height();
  if (width > 65535 || height > 65535)
    throw PictureError(QStringLiteral("The picture is too large for a GIF file."));

  QList<QRgb> table = indexed.colorTable();
  const int colours = int(table.size());
  int transparentIndex = NO_TRANSPARENT_COLOR;
  QImage alpha;
  if (transparency) {
    alpha = picture.Alpha.convertToFormat(QImage::Format_Grayscale8);
    transparentIndex = colours;  // IndexedFor left this entry free
    table.append(qRgb(0, 0, 0));
  }

  // Colour table size: a power of two, from the requested bits when the palette fits in them.
  const int used = int(table.size());
  int bits = 1;
  while ((1 << bits) < used) ++bits;
  if (picture.Params.BitsPerSample > bits && picture.Params.BitsPerSample <= 8 &&
      picture.Params.SamplesPerPixel == 1)
    bits = picture.Params.BitsPerSample;
  std::vector<GifColorType> entries(std::size_t(1) << bits, GifColorType{0, 0, 0});
  for (int i = 0; i < used; ++i)
    entries[std::size_t(i)] = GifColorType{
        GifByteType(qRed(table[i])), GifByteType(qGreen(table[i])), GifByteType(qBlue(table[i]))};
  ColorMapObject* map = GifMakeMapObject(1 << bits, entries.data());
  if (!map) throw PictureError(QStringLiteral("Not enough memory to write the picture."));
  std::unique_ptr<ColorMapObject, void (*)(ColorMapObject*)> mapOwner(map, GifFreeMapObject);

  int error = 0;
  GifWriter writer(EGifOpen(&out, WriteToDevice, &error));
  if (!writer)
    throw PictureError(QStringLiteral("Cannot write the GIF file: %1").arg(GifErrorText(error)));
  GifFileType* gif = writer.get();
  auto check = [gif](int result) {
    if (result == GIF_ERROR)
      throw PictureError(
          QStringLiteral("Cannot write the GIF file: %1").arg(GifErrorText(gif->Error)));
  };

  EGifSetGifVersion(gif, transparency);  // the control extension needs GIF89a
  check(EGifPutScreenDesc(gif, width, height, bits, 0, map));
  if (transparency) {
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSAL_UNSPECIFIED;
    control.UserInputFlag = false;
    control.DelayTime = 0;
    control.TransparentColor = transparentIndex;
    GifByteType extension[4];
    const std::size_t length = EGifGCBToExtension(&control, extension);
    check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension));
  }
  check(EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr));
  std::vector<GifPixelType> line(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    const uchar* in = indexed.constScanLine(y);
    const uchar* a = transparency ? alpha.constScanLine(y) : nullptr;
    for (int x = 0; x < width; ++x) {
      int index = in[x] < colours ? in[x] : 0;  // an index beyond the palette: entry 0
      if (a && a[x] < 128) index = transparentIndex;
      line[std::size_t(x)] = GifPixelType(index);
    }
    check(EGifPutLine(gif, line.data(), width));  // giflib may change the line it is given
  }
  GifFileType* raw = writer.release();
  if (EGifCloseFile(raw, &error) == GIF_ERROR)
    throw PictureError(QStringLiteral("Cannot write the GIF file: %1").arg(GifErrorText(error)));
}

// ---------------------------------------------------------------------------------------------

class GifCodec final : public Codec {
 public:
  int FileType() const override { return PictureFileType::Gif; }
  QString Description() const override { return kDescription; }
  QStringList Extensions() const override { return {QStringLiteral("gif")}; }

  bool MatchesSignature(ByteView head) const override {
    return head.size() >= 6 && (std::memcmp(head.data(), "GIF87a", 6) == 0 ||
                                std::memcmp(head.data(), "GIF89a", 6) == 0);
  }

  HeaderFacts ReadHeader(ByteView data) const override {
    MemorySource source{data};
    GifReader reader = OpenGif(source);
    const FirstFrame frame = FindFirstFrame(reader.get());
    const QSize size = CanvasSize(reader.get(), frame);
    PictureParams params;
    FillParams(size, frame, params);
    HeaderFacts facts;
    facts.FileType = params.FileType;
    facts.FormatDescription = params.FormatDescription;
    facts.Width = params.Width;
    facts.Height = params.Height;
    facts.BitsPerSample = params.BitsPerSample;
    facts.SamplesPerPixel = params.SamplesPerPixel;
    facts.DpiX = params.DpiX;
    facts.DpiY = params.DpiY;
    return facts;
  }

  Picture Read(ByteView data, const ReadOptions&) const override { return ReadGif(data); }

  bool CanWrite() const override { return true; }

  void Write(const Picture& picture, QIODevice& out) const override {
    if (picture.IsNull()) throw PictureError(QStringLiteral("There is no picture to write."));
    CheckPictureSize(picture.Width(), picture.Height());
    WriteGif(picture, out);
  }
};

}  // namespace

std::unique_ptr<Codec> MakeGifCodec() { return std::make_unique<GifCodec>(); }
