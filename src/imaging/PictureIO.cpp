#include "imaging/PictureIO.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <new>

#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"

namespace {

QString ExtensionOf(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.mid(dot + 1);
}

// A file's bytes, memory-mapped where possible so that a header read touches only the pages
// it needs.
class MappedFile {
 public:
  explicit MappedFile(const QString& path) : File(path) {
    if (!File.open(QIODevice::ReadOnly))
      throw PictureError(QStringLiteral("Cannot open %1: %2").arg(path, File.errorString()));
    const qint64 size = File.size();
    if (size <= 0) throw PictureError(QStringLiteral("The file %1 is empty.").arg(path));
    if (uchar* p = File.map(0, size)) {
      Data = ByteView(p, static_cast<std::size_t>(size));
    } else {
      Copy = File.readAll();
      if (Copy.size() != size) throw PictureError(QStringLiteral("Cannot read %1.").arg(path));
      Data = ByteView(reinterpret_cast<const std::uint8_t*>(Copy.constData()),
                      static_cast<std::size_t>(Copy.size()));
    }
  }
  ByteView Bytes() const { return Data; }

 private:
  QFile File;
  QByteArray Copy;
  ByteView Data;
};

// The codec that reads data: by content first, by extension when no signature matches. A
// camera RAW extension wins over the TIFF container that many RAW formats use.
const Codec* ReaderFor(ByteView data, const QString& ext) {
  const CodecRegistry& registry = CodecRegistry::Instance();
  const Codec* byExt = registry.ForExtension(ext);
  if (byExt && byExt->FileType() == PictureFileType::CameraRaw) return byExt;
  const Codec* byContent = registry.ForContent(data.first(std::min<std::size_t>(data.size(), 64)));
  return byContent ? byContent : byExt;
}

// Runs a codec call, turning every failure into PictureError.
template <typename F>
auto Guarded(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const PictureError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw PictureError(QStringLiteral("Not enough memory to read the picture."));
  } catch (const std::exception& e) {
    throw PictureError(QString::fromLocal8Bit(e.what()));
  }
}

}  // namespace

bool CanReadExtension(const QString& pathOrExtension) {
  QString ext = pathOrExtension;
  if (ext.contains(QLatin1Char('/')) || ext.contains(QLatin1Char('\\')) ||
      ext.lastIndexOf(QLatin1Char('.')) > 0)
    ext = ExtensionOf(pathOrExtension);
  return CodecRegistry::Instance().ForExtension(ext) != nullptr;
}

Picture ReadPictureFromMemory(ByteView data, const QString& extensionHint,
                              const ReadOptions& options) {
  if (data.empty()) throw PictureError(QStringLiteral("The file is empty."));
  const Codec* codec = ReaderFor(data, extensionHint);
  if (!codec) throw PictureError(QStringLiteral("Unknown picture format."));
  return Guarded([&] { return codec->Read(data, options); });
}

HeaderFacts ReadHeaderFactsFromMemory(ByteView data, const QString& extensionHint) {
  if (data.empty()) return {};
  const Codec* codec = ReaderFor(data, extensionHint);
  if (!codec) return {};
  try {
    return codec->ReadHeader(data);
  } catch (...) {
    return {};
  }
}

Picture ReadPicture(const QString& path, const ReadOptions& options) {
  const MappedFile file(path);
  return ReadPictureFromMemory(file.Bytes(), ExtensionOf(path), options);
}

Picture ReadPicture(const QString& path,
                    const std::function<ReadOptions(const HeaderFacts&)>& chooseOptions) {
  const MappedFile file(path);
  const QString ext = ExtensionOf(path);
  const ReadOptions options = chooseOptions(ReadHeaderFactsFromMemory(file.Bytes(), ext));
  return ReadPictureFromMemory(file.Bytes(), ext, options);
}

HeaderFacts ReadHeaderFacts(const QString& path) {
  try {
    const MappedFile file(path);
    return ReadHeaderFactsFromMemory(file.Bytes(), ExtensionOf(path));
  } catch (...) {
    return {};
  }
}

QByteArray EncodePicture(const Picture& picture, const QString& extension) {
  const Codec* codec = CodecRegistry::Instance().ForExtension(extension);
  if (!codec || !codec->CanWrite())
    throw PictureError(QStringLiteral("Cannot write .%1 files.").arg(extension));
  if (picture.IsNull()) throw PictureError(QStringLiteral("There is no picture to write."));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  Guarded([&] { codec->Write(picture, buffer); });
  return bytes;
}

void WritePicture(const Picture& picture, const QString& path) {
  const QString ext = ExtensionOf(path);
  const Codec* codec = CodecRegistry::Instance().ForExtension(ext);
  if (!codec || !codec->CanWrite())
    throw PictureError(
        QStringLiteral("Cannot write %1: .%2 files cannot be written.").arg(path, ext));
  if (picture.IsNull()) throw PictureError(QStringLiteral("There is no picture to write."));

  QSaveFile out(path);
  if (!out.open(QIODevice::WriteOnly))
    throw PictureError(QStringLiteral("Cannot write %1: %2").arg(path, out.errorString()));
  try {
    Guarded([&] { codec->Write(picture, out); });
  } catch (...) {
    out.cancelWriting();
    throw;
  }
  if (out.size() <= 0) {
    out.cancelWriting();
    throw PictureError(QStringLiteral("Cannot write %1: nothing was written.").arg(path));
  }
  if (!out.commit())
    throw PictureError(QStringLiteral("Cannot write %1: %2").arg(path, out.errorString()));
}
