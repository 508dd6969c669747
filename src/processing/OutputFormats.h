#pragma once

#include <QString>

#include "imaging/Picture.h"
#include "settings/JobSettings.h"

// The seven output formats by the index of "OutputFormat": 0 JPG, 1 BMP, 2 PNG, 3 TIF, 4 GIF,
// 5 PCX, 6 TGA. Any other index (-1: nothing selected) is treated as JPG.

// The extension with its dot: ".jpg", ".bmp", ".png", ".tif", ".gif", ".pcx", ".tga".
QString OutputExtension(int formatIndex);

// The picture file type code of the format: 3, 5, 8, 1, 2, 4, 11.
int OutputFileType(int formatIndex);

// folder (ending with the separator) + the format's temporary file name ("Temp.jpg", ...).
QString TempPicturePath(const QString& folder, int formatIndex);

// The name with the dot of its extension and everything after it replaced by extension (which
// brings its own dot); a name without a dot gets the extension appended.
// "newname_00001.jpeg" + ".png" gives "newname_00001.png"; "a.b.c.jpg" + ".tif" "a.b.c.tif".
QString ChangeExtension(const QString& name, const QString& extension);

// A file name that stays inside its folder: path separators ("/" and "\") and characters no
// file name can hold are replaced by "_", and a name that is "." or ".." becomes "_" or "__".
QString SafeFileName(const QString& name);

// Converts the picture to the colour depth that the output format's colour list asks for (the
// format index and the list are read from settings) and sets Params.BitsPerSample and
// Params.SamplesPerPixel for the writer:
//   BMP: 1 black and white (ordered dithering) 1x1; 2 16 colours 4x1; 3 256 colours 8x1;
//        4 true colour 8x3 (a 1-bit picture becomes 24-bit);
//   GIF: 1 black and white 1x1; 2..8 4, 8, 16, 32, 64, 128, 256 colours, 2..8 bits x 1;
//   PCX, TGA: 1 256 colours 8x1; 2 true colour 8x3;
//   index 0 ("Use colors of original"), nothing selected, and JPG, PNG, TIF: no change.
// Returns true when the pixels changed (the view should be repainted). Throws PictureError
// when the reduction fails.
bool ApplyColorDepth(Picture& picture, const JobSettings& settings);

// Sets the encoder parameter of the target file type code from settings: TIFF (1) the
// compression kind of "TIFFComp" (0-5 as they are, 6 PackBits as library code 8; nothing
// selected keeps the source's kind), PNG (8) the level of "PNGComp" (nothing selected keeps
// it), JPEG (3) the quality shown by "JPEGQuality" (10 + 5 x index). Other codes: nothing.
// Throws QuillomarError when the JPEG quality list has nothing selected: there is no number.
void SetEncoderOptions(Picture& picture, int targetFileType, const JobSettings& settings);

// Writes the picture to path through a temporary file beside it, as WritePicture does. With
// fileType 0 the path's extension chooses the format. With a file type code, the picture is
// written in that format whatever the extension names: a PNG file that keeps its own name
// "photo.jpg" is written as PNG. Throws PictureError.
void WriteOutputPicture(const Picture& picture, const QString& path, int fileType);

// The bytes WriteOutputPicture would write to path, in memory. Throws PictureError.
QByteArray EncodeOutputPicture(const Picture& picture, const QString& path, int fileType);

// Writes encoded bytes to path through a temporary file beside it: an existing file is replaced
// only by a complete one, and no bytes at all is an error. Throws PictureError.
void WriteEncodedPicture(const QByteArray& bytes, const QString& path);
