#include "processing/OutputFormats.h"

#include <QFileInfo>
#include <QSaveFile>

#include "imaging/CodecRegistry.h"
#include "imaging/ColorReduce.h"
#include "imaging/Dither.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"
#include "util/Errors.h"

namespace {

struct OutputFormat {
  const char* Extension;
  const char* TempName;
  int FileType;
};

constexpr OutputFormat kFormats[] = {
    {".jpg", "Temp.jpg", PictureFileType::Jpeg}, {".bmp", "Temp.bmp", PictureFileType::Bmp},
    {".png", "Temp.png", PictureFileType::Png},  {".tif", "Temp.tif", PictureFileType::Tiff},
    {".gif", "Temp.gif", PictureFileType::Gif},  {".pcx", "Temp.pcx", PictureFileType::Pcx},
    {".tga", "Temp.tga", PictureFileType::Tga}};

constexpr int kBmp = 1, kGif = 4, kPcx = 5, kTga = 6;

const OutputFormat& FormatOf(int index) {
  return index >= 0 && index < static_cast<int>(std::size(kFormats)) ? kFormats[index]
                                                                     : kFormats[0];
}

void ReduceTo(Picture& picture, int colors, int bits) {
  picture.Image = ReduceColors(picture.Image, colors);
  picture.Params.BitsPerSample = bits;
  picture.Params.SamplesPerPixel = 1;
}

void BlackAndWhite(Picture& picture) {
  picture.Image = DitherToBlackAndWhite(picture.Image);
  picture.Params.BitsPerSample = 1;
  picture.Params.SamplesPerPixel = 1;
}

// "True Color": only a 1-bit picture is converted; every picture is then written as 8 x 3.
bool TrueColor(Picture& picture) {
  bool changed = false;
  const QImage::Format format = picture.Image.format();
  if (format == QImage::Format_Mono || format == QImage::Format_MonoLSB) {
    picture.Image = MonoToBgr(picture.Image);
    changed = true;
  }
  picture.Params.BitsPerSample = 8;
  picture.Params.SamplesPerPixel = 3;
  return changed;
}

}  // namespace

QString OutputExtension(int formatIndex) {
  return QString::fromLatin1(FormatOf(formatIndex).Extension);
}

int OutputFileType(int formatIndex) { return FormatOf(formatIndex).FileType; }

QString TempPicturePath(const QString& folder, int formatIndex) {
  return folder + QString::fromLatin1(FormatOf(formatIndex).TempName);
}

QString ChangeExtension(const QString& name, const QString& extension) {
  const qsizetype separator =
      std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot <= separator) return name + extension;
  return name.left(dot) + extension;
}

QString SafeFileName(const QString& name) {
  QString safe = name;
  for (QChar& c : safe) {
    const char16_t u = c.unicode();
    if (u == u'/' || u == u'\\' || u < 0x20) c = QLatin1Char('_');
#ifdef Q_OS_WIN
    if (u == u':' || u == u'*' || u == u'?' || u == u'"' || u == u'<' || u == u'>' || u == u'|')
      c = QLatin1Char('_');
#endif
  }
  if (safe == QStringLiteral(".") || safe == QStringLiteral("..")) safe.fill(QLatin1Char('_'));
  return safe;
}

bool ApplyColorDepth(Picture& picture, const JobSettings& settings) {
  const int format = settings.Int(JobField::OutputFormat);
  switch (format) {
    case kBmp:
      switch (settings.Int(JobField::BmpColor)) {
        case 1:
          BlackAndWhite(picture);
          return true;
        case 2:
          ReduceTo(picture, 16, 4);
          return true;
        case 3:
          ReduceTo(picture, 256, 8);
          return true;
        case 4:
          return TrueColor(picture);
        default:
          return false;
      }
    case kGif: {
      const int choice = settings.Int(JobField::GIFColor);
      if (choice == 1) {
        BlackAndWhite(picture);
        return true;
      }
      if (choice >= 2 && choice <= 8) {
        // 2 "4 Colors" ... 8 "256 Colors": 2^choice colours with choice bits.
        ReduceTo(picture, 1 << choice, choice);
        return true;
      }
      return false;
    }
    case kPcx:
    case kTga:
      switch (settings.Int(format == kPcx ? JobField::PCXColor : JobField::TGAColor)) {
        case 1:
          ReduceTo(picture, 256, 8);
          return true;
        case 2:
          return TrueColor(picture);
        default:
          return false;
      }
    default:
      return false;
  }
}

void SetEncoderOptions(Picture& picture, int targetFileType, const JobSettings& settings) {
  switch (targetFileType) {
    case PictureFileType::Tiff: {
      const int kind = settings.Int(JobField::TIFFComp);
      if (kind >= 0 && kind <= 5) picture.Params.TiffCompressionKind = kind;
      if (kind == 6) picture.Params.TiffCompressionKind = TiffCompression::PackBits;
      break;
    }
    case PictureFileType::Png: {
      const int level = settings.Int(JobField::PNGComp);
      if (level >= 0) picture.Params.PngLevel = level;
      break;
    }
    case PictureFileType::Jpeg: {
      const QString text = settings.ChoiceText(JobField::JPEGQuality);
      bool ok = false;
      const int quality = text.toInt(&ok);
      if (!ok) throw QuillomarError(QStringLiteral("'%1' is not a valid integer value").arg(text));
      picture.Params.JpegQuality = quality;
      break;
    }
    default:
      break;
  }
}

namespace {

// Whether the path's extension chooses the encoder: no file type is given, or the extension
// names that very file type.
bool ExtensionChoosesFormat(const QString& path, int fileType) {
  if (fileType == PictureFileType::Unknown) return true;
  const Codec* byExtension = CodecRegistry::Instance().ForExtension(QFileInfo(path).suffix());
  return byExtension && byExtension->FileType() == fileType;
}

}  // namespace

void WriteOutputPicture(const Picture& picture, const QString& path, int fileType) {
  if (ExtensionChoosesFormat(path, fileType))
    WritePicture(picture, path);
  else
    WriteEncodedPicture(EncodeOutputPicture(picture, path, fileType), path);
}

QByteArray EncodeOutputPicture(const Picture& picture, const QString& path, int fileType) {
  const CodecRegistry& registry = CodecRegistry::Instance();
  if (ExtensionChoosesFormat(path, fileType)) {
    const QString suffix = QFileInfo(path).suffix();
    const Codec* byExtension = registry.ForExtension(suffix);
    if (!byExtension || !byExtension->CanWrite())
      throw PictureError(
          QStringLiteral("Cannot write %1: .%2 files cannot be written.").arg(path, suffix));
    return EncodePicture(picture, suffix);
  }
  const Codec* codec = registry.ForFileType(fileType);
  if (!codec || !codec->CanWrite() || codec->Extensions().isEmpty())
    throw PictureError(QStringLiteral("Cannot write %1: the format cannot be written.").arg(path));
  return EncodePicture(picture, codec->Extensions().first());
}

void WriteEncodedPicture(const QByteArray& bytes, const QString& path) {
  if (bytes.isEmpty())
    throw PictureError(QStringLiteral("Cannot write %1: nothing was written.").arg(path));
  QSaveFile out(path);
  if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
    throw PictureError(QStringLiteral("Cannot write %1: %2").arg(path, out.errorString()));
}
