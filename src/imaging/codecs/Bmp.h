#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/Codec.h"

// Windows device-independent bitmaps (DIB): the part of a .bmp file that follows its 14-byte
// file header. Icons and cursors store their pictures in the same form, so the icon reader
// shares this decoder.

// The facts of a DIB header (BITMAPCOREHEADER, the OS/2 2.x header, BITMAPINFOHEADER and its
// V2 to V5 extensions).
struct DibHeader {
  std::uint32_t HeaderSize = 0;   // bytes; 12 for the OS/2 1.x core header
  int Width = 0;                  // pixels, > 0
  int Height = 0;                 // rows stored in the data, > 0 (the sign is in TopDown)
  bool TopDown = false;           // a negative height: the first stored row is the top one
  int BitCount = 0;               // 1, 2, 4, 8, 16, 24 or 32
  std::uint32_t Compression = 0;  // BI_RGB 0, BI_RLE8 1, BI_RLE4 2, BI_BITFIELDS 3, 6 alpha
  int XPelsPerMeter = 0;
  int YPelsPerMeter = 0;
  std::uint32_t ColorsUsed = 0;
  // Channel masks of 16- and 32-bit pixels (the format's defaults when the file gives none).
  std::uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0, AlphaMask = 0;
  std::size_t PaletteOffset = 0;  // where the palette begins, from the start of the DIB
  int PaletteEntrySize = 4;       // 3 for the core header
};

// Reads and checks the header at the start of dib (dimensions within the library's limits,
// a supported bit count and compression). Throws PictureError.
DibHeader ReadDibHeader(ByteView dib);

// Whether a DIB is a bitmap file's or an icon's. An icon's stored height counts the colour
// rows and the 1-bit AND mask rows that follow them; a set mask bit makes the pixel
// transparent.
enum class DibKind { BitmapFile, Icon };

// Where the pixels of an icon's DIB begin: right after its header and palette.
inline constexpr std::size_t kPixelsFollowPalette = static_cast<std::size_t>(-1);

// Decodes a whole DIB into a Format_BGR888 picture. pixelOffset is where the pixels begin,
// counted from the start of dib, or kPixelsFollowPalette. The params
// hold the dimensions, bits per sample x samples per pixel (1/2/4/8-bit: n x 1, 16-bit: 16 x 1,
// 24-bit: 8 x 3, 32-bit: 8 x 4) and the resolution; the caller sets the file type. The alpha
// plane is set when the picture has transparency: 32-bit pixels with a nonzero alpha byte
// somewhere (all-zero alpha counts as opaque), or an icon's AND mask. Throws PictureError for
// any damaged or unsupported data; never reads outside dib.
Picture DecodeDib(ByteView dib, DibKind kind, std::size_t pixelOffset = kPixelsFollowPalette);

// Dots per inch for a DIB resolution in pixels per metre (kDefaultDpi when it is not given).
int DpiFromPelsPerMeter(int pelsPerMeter);

// Bits per sample and samples per pixel that a DIB bit count is reported as.
void DibBitsToParams(int bitCount, int& bitsPerSample, int& samplesPerPixel);
