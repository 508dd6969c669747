#pragma once

// The picture library's file type codes. The numbering is the one shown by the picture list
// (FileTypeName): a loaded picture's code comes from its content, not from its extension.
namespace PictureFileType {
inline constexpr int Unknown = 0;
inline constexpr int Tiff = 1;
inline constexpr int Gif = 2;
inline constexpr int Jpeg = 3;
inline constexpr int Pcx = 4;
inline constexpr int Bmp = 5;
inline constexpr int Ico = 6;
inline constexpr int Cur = 7;
inline constexpr int Png = 8;
inline constexpr int Wmf = 9;
inline constexpr int Emf = 10;
inline constexpr int Tga = 11;
inline constexpr int Pxm = 12;
inline constexpr int Jp2 = 13;
inline constexpr int J2k = 14;
inline constexpr int Avi = 15;
inline constexpr int Wbmp = 16;
inline constexpr int Ps = 17;
inline constexpr int Pdf = 18;
inline constexpr int Dcx = 19;
// Codes of our own, above the shared table (the list shows them as "USER Define").
inline constexpr int CameraRaw = 20;
}  // namespace PictureFileType

// TIFF compression kinds, numbered as the output options number them (0-5 and 8; 6 and 7 are
// the JPEG kinds, which are read but never offered for writing).
namespace TiffCompression {
inline constexpr int None = 0;
inline constexpr int Ccitt1D = 1;   // CCITT modified Huffman run length
inline constexpr int G3Fax1D = 2;   // Group 3 fax, 1-D
inline constexpr int G3Fax2D = 3;   // Group 3 fax, 2-D
inline constexpr int G4Fax = 4;     // Group 4 fax
inline constexpr int Lzw = 5;
inline constexpr int OldJpeg = 6;
inline constexpr int Jpeg = 7;
inline constexpr int PackBits = 8;
inline constexpr int Deflate = 9;   // read only
inline constexpr int Other = 10;    // any other compression libtiff reads
}  // namespace TiffCompression
