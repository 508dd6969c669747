#include "imaging/CodecRegistry.h"

#include "imaging/PictureError.h"
#include "imaging/codecs/Codecs.h"

void Codec::Write(const Picture&, QIODevice&) const {
  throw PictureError(QStringLiteral("Writing %1 files is not supported.").arg(Description()));
}

const CodecRegistry& CodecRegistry::Instance() {
  static const CodecRegistry registry;
  return registry;
}

CodecRegistry::CodecRegistry() {
  // Content detection tries the codecs in this order; formats with strong signatures first,
  // those with weak or no signature (TGA, WBMP, RAW) last.
  std::unique_ptr<Codec> (*const factories[])() = {
      MakeJpegCodec, MakePngCodec, MakeGifCodec, MakeTiffCodec, MakeBmpCodec, MakeJp2Codec,
      MakeJ2kCodec,  MakeIcoCodec, MakeCurCodec, MakePcxCodec, MakeDcxCodec, MakePnmCodec,
      MakeRawCodec,  MakeTgaCodec, MakeWbmpCodec};
  for (auto factory : factories) {
    if (auto codec = factory()) {
      All.push_back(codec.get());
      Owned.push_back(std::move(codec));
    }
  }
}

const Codec* CodecRegistry::ForExtension(const QString& ext) const {
  QString e = ext.toLower();
  if (e.startsWith(QLatin1Char('.'))) e.remove(0, 1);
  if (e.isEmpty()) return nullptr;
  for (const Codec* codec : All)
    if (codec->Extensions().contains(e)) return codec;
  return nullptr;
}

const Codec* CodecRegistry::ForContent(ByteView head) const {
  if (head.empty()) return nullptr;
  for (const Codec* codec : All)
    if (codec->MatchesSignature(head)) return codec;
  return nullptr;
}

const Codec* CodecRegistry::ForFileType(int fileType) const {
  for (const Codec* codec : All)
    if (codec->FileType() == fileType) return codec;
  return nullptr;
}
