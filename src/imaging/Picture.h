#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include "imaging/PictureFileType.h"

// Resolution reported for a file that does not store one, and used when writing a picture
// whose resolution is unknown.
inline constexpr int kDefaultDpi = 96;

// The reader's and writer's parameters of a picture. A reader fills them from the file; the
// processing steps change them; a writer honours them (each writer maps BitsPerSample x
// SamplesPerPixel to the nearest form its format can hold).
struct PictureParams {
  int FileType = PictureFileType::Unknown;  // code of the format the picture was read from
  QString FormatDescription;                // the reader's name for that format
  int Width = 0;                            // dimensions stored in the source file, pixels
  int Height = 0;
  int BitsPerSample = 8;
  int SamplesPerPixel = 3;
  int DpiX = kDefaultDpi;  // dots per inch
  int DpiY = kDefaultDpi;

  // Metadata kept from the source and written back where the output format can hold it.
  // Exif is the TIFF-structured EXIF block beginning with its byte-order mark ("II*\0" or
  // "MM\0*"), without the "Exif\0\0" prefix of a JPEG APP1 segment.
  QByteArray Exif;
  QByteArray Iptc;
  QByteArray Xmp;
  QByteArray IccProfile;
  QStringList Comments;

  // Encoder parameters.
  int JpegQuality = 80;                          // 1..100; estimated from the tables on read
  int PngLevel = 6;                              // 0..9
  int TiffCompressionKind = TiffCompression::None;  // a TiffCompression code

  // Removes every kind of metadata (EXIF, IPTC, XMP, ICC profile, comments).
  void ClearMetadata() {
    Exif.clear();
    Iptc.clear();
    Xmp.clear();
    IccProfile.clear();
    Comments.clear();
  }
};

// A picture as the program works on it: the pixels and the reader's parameters.
//
// Image is QImage::Format_BGR888 while the picture is processed (24-bit blue-green-red); after
// a colour reduction it may be Format_Indexed8 or Format_Mono, and every writer accepts those
// too. Alpha, when the source had transparency, is a Format_Grayscale8 plane of the same size
// (255 opaque); a null Alpha means fully opaque.
struct Picture {
  QImage Image;
  QImage Alpha;
  PictureParams Params;

  bool IsNull() const { return Image.isNull(); }
  int Width() const { return Image.width(); }
  int Height() const { return Image.height(); }
  bool HasAlpha() const { return !Alpha.isNull(); }
};
