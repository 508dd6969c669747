#pragma once

#include <QImage>

// Colour reduction of a picture to a palette of at most N colours.

// The picture with at most `colors` colours (clamped to 2..256), as Format_Indexed8 whose colour
// table holds only the colours in use (at most `colors` entries).
//
// A picture that already has no more than `colors` distinct colours keeps them exactly (the
// palette lists them in order of first appearance). Otherwise libimagequant chooses the palette
// from a sample of about a million pixels, and each pixel is mapped to its nearest palette entry
// (found at 6 bits per channel), with Floyd-Steinberg error diffusion when dither is true. bgr may
// be in any format (Format_BGR888 avoids a conversion); alpha is ignored. The result is a new image
// owned by the caller; a null picture gives a null image. Throws PictureError when the quantiser
// fails or memory cannot be had.
QImage ReduceColors(const QImage& bgr, int colors, bool dither = true);

// The number of distinct colours of a Format_BGR888 picture, counting stops as soon as it
// exceeds limit (it then returns limit + 1).
int CountColors(const QImage& bgr, int limit);
