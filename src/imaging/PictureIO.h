#pragma once

#include <QString>
#include <functional>

#include "imaging/Codec.h"

// Reading and writing picture files through the codec registry.

// Whether the library has a reader for the extension of path (or for a bare extension, with
// or without the dot); letter case does not matter.
bool CanReadExtension(const QString& pathOrExtension);

// The facts of a file's header. Never fails: a file that cannot be read (missing, empty,
// unknown or damaged) gives facts with FileType 0 and no dimensions.
HeaderFacts ReadHeaderFacts(const QString& path);

// Reads a whole picture. The format is detected from the content; when no signature matches,
// the codec of the extension is used. Throws PictureError with a user-readable text.
Picture ReadPicture(const QString& path, const ReadOptions& options = {});

// The same, with the read options chosen from the facts of the file's header (the file is
// opened once): a caller that needs the picture only at a smaller size can ask for a reduced
// decode. Throws PictureError.
Picture ReadPicture(const QString& path,
                    const std::function<ReadOptions(const HeaderFacts&)>& chooseOptions);

// The same for a file already in memory; extensionHint (may be empty) stands in for the
// extension. Throws PictureError.
Picture ReadPictureFromMemory(ByteView data, const QString& extensionHint = {},
                              const ReadOptions& options = {});
HeaderFacts ReadHeaderFactsFromMemory(ByteView data, const QString& extensionHint = {});

// Writes the picture with the format chosen by the extension of path, honouring its params.
// The bytes go to a temporary file beside the target, which replaces the target only when the
// whole write succeeded and produced at least one byte; an existing file is never damaged by a
// failed write. Throws PictureError.
void WritePicture(const Picture& picture, const QString& path);

// Encodes the picture in the format of the given extension into memory. Throws PictureError.
QByteArray EncodePicture(const Picture& picture, const QString& extension);
