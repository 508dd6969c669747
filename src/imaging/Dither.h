#pragma once

#include <QImage>

// Black-and-white conversion by ordered dithering, and back to colour.

// A 1-bit version of picture (any format; alpha is ignored) made by ordered dithering with an
// 8 x 8 Bayer matrix on the luminance (0.299 R + 0.587 G + 0.114 B). Pure black stays black and
// pure white stays white. Returns Format_Mono with the colour table {black, white} (index 0
// black), the same size as the picture; a null picture gives a null image. Throws PictureError
// when the memory cannot be had.
QImage DitherToBlackAndWhite(const QImage& picture);

// The 24-bit version (Format_BGR888) of a 1-bit picture, each pixel taking the colour of its
// palette entry (black and white when the picture has no colour table). Other formats are
// converted as they are. A null picture gives a null image. Throws PictureError when the memory
// cannot be had.
QImage MonoToBgr(const QImage& mono);
