#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <span>

#include "imaging/HeaderFacts.h"
#include "imaging/Picture.h"

// The bytes of a whole file. Readers never read outside it and never keep it.
using ByteView = std::span<const std::uint8_t>;

struct ReadOptions {
  // Reduce the picture while decoding, by 1/ScaleDenominator, where the format can do it for
  // free (JPEG's DCT scaling: 1, 2, 4 or 8; other formats ignore it). The params still hold the
  // dimensions stored in the file.
  int ScaleDenominator = 1;
};

// One file format: how to recognise it, read its header, read it and (optionally) write it.
// Codecs hold no state; one instance serves every thread.
//
// Errors: every operation that fails throws PictureError with a user-readable text. A codec
// never prints, never aborts, and turns its library's errors (longjmp, error handlers) into
// PictureError at its boundary. Readers check every length, index and dimension against the
// data, and check the picture size with CheckPictureSize before allocating.
class Codec {
 public:
  virtual ~Codec() = default;

  // PictureFileType code and the reader's name for the format.
  virtual int FileType() const = 0;
  virtual QString Description() const = 0;

  // Extensions, lower case, without the dot ("jpg", "jpeg", ...).
  virtual QStringList Extensions() const = 0;

  // Whether the first bytes of a file (up to 64, fewer for a short file) are this format's.
  // A format without a signature answers false and is found by its extension.
  virtual bool MatchesSignature(ByteView head) const = 0;

  // Facts from the header alone; throws PictureError for a file it cannot read.
  virtual HeaderFacts ReadHeader(ByteView data) const = 0;

  // The whole picture, as a Format_BGR888 image with its params (and alpha plane).
  virtual Picture Read(ByteView data, const ReadOptions& options) const = 0;

  virtual bool CanWrite() const { return false; }

  // Writes the picture in this format to a seekable device, honouring picture.Params.
  // Accepts images in Format_BGR888, Format_Indexed8 and Format_Mono (others are converted).
  virtual void Write(const Picture& picture, QIODevice& out) const;
};
