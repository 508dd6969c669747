#pragma once

#include <QString>
#include <vector>

#include "imaging/Codec.h"

// Every codec of the library, registered in one place (CodecRegistry.cpp).
class CodecRegistry {
 public:
  static const CodecRegistry& Instance();

  const std::vector<const Codec*>& Codecs() const { return All; }

  // The codec whose extension list holds ext (with or without the dot, any letter case);
  // nullptr when none reads it.
  const Codec* ForExtension(const QString& ext) const;

  // The codec whose signature matches the first bytes of a file; nullptr when none does.
  const Codec* ForContent(ByteView head) const;

  // The codec for a file code (for writing by format); nullptr when none.
  const Codec* ForFileType(int fileType) const;

 private:
  CodecRegistry();
  std::vector<std::unique_ptr<Codec>> Owned;
  std::vector<const Codec*> All;
};
