#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"

// Feeds one input to the header reader and the full reader of the codec registered for ext.
// A PictureError is the expected answer to a bad file; anything else (a crash, a sanitizer
// report, another exception) is a finding.
inline int FuzzCodec(const char* ext, const std::uint8_t* data, std::size_t size) {
  const Codec* codec = CodecRegistry::Instance().ForExtension(QString::fromLatin1(ext));
  if (!codec) std::abort();
  const ByteView bytes(data, size);
  try {
    codec->ReadHeader(bytes);
  } catch (const PictureError&) {
  }
  try {
    const Picture picture = codec->Read(bytes, {});
    if (picture.IsNull()) std::abort();
  } catch (const PictureError&) {
  }
  return 0;
}

#define QUILLOMAR_FUZZ_CODEC(ext)                                                     \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
    return FuzzCodec(ext, data, size);                                                \
  }
