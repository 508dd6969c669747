#pragma once

#include <QSize>

#include "imaging/Picture.h"

// Resizing the working picture. W and H are pixels; align, valign, type and filter are list
// indices as the settings hold them (-1 when nothing is selected).

// Changes the canvas to width x height without scaling. align: 0 left, 1 centre, 2 right;
// valign: 0 top, 1 middle, 2 bottom. New areas are white and opaque. False (picture untouched)
// when width or height is below 2, or when the library fails.
bool CutToSize(Picture& picture, int width, int height, int align, int valign);

// Resamples the picture to the size that the resize type derives from the width x height box
// (0 both, 1 height keeping the aspect, 2 width keeping the aspect, 3 inside the box keeping
// the aspect) with the filter number. False when width or height is below 2 or on failure.
//
// sizeAsStored, when valid, is the size of the picture in its file when it was decoded reduced
// (JPEG DCT scaling): the new size is then computed from it, so that the result has exactly the
// size a whole decode would have given.
bool FillToSize(Picture& picture, int width, int height, int type, int filter,
                QSize sizeAsStored = {});

// Changes the resolution to newDpi dots per inch keeping the physical size (the picture is
// resampled). Nothing happens when the picture's resolution is unknown (0). Throws
// PictureError when the new size is beyond the picture limits; the picture is unchanged then.
void ChangeDpi(Picture& picture, int newDpi);

// The size FillToSize gives a pictureWidth x pictureHeight picture for the box width x height
// and a resize type (0..3; anything else counts as 3). The quotients are taken in extended
// precision (64-bit significand) and truncated, so 640 x 480 fitted to width 600 gives
// 600 x 449. A computed 0 keeps the picture's own dimension. A dimension too large for an int
// comes back as INT_MAX (the resampler refuses it).
QSize FillSize(int pictureWidth, int pictureHeight, int width, int height, int type);

// The new height and the new horizontal resolution of a ChangeDpi from (dpiX, dpiY) to newDpi
// for a picture pictureHeight pixels high, both rounded to nearest with ties to even; the
// height is at least 1.
int DpiChangedHeight(int pictureHeight, int dpiY, int newDpi);
int DpiChangedDpiX(int dpiX, int dpiY, int newDpi);
