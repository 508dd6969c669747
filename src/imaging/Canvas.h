#pragma once

#include <QColor>
#include <QImage>

#include "imaging/Picture.h"

// Changing the canvas of a picture: the size changes, the pixels are not scaled.

// Alignment of the old picture on the new canvas, on either axis.
namespace CanvasAlign {
enum : int {
  Start = 0,   // left or top edges together
  Centre = 1,  // centred; an odd pixel falls to the right or bottom side
  End = 2,     // right or bottom edges together
};
}

// Where the old picture's first column (or row) lands on a canvas of newSize pixels: 0 for
// Start, newSize - oldSize for End, (newSize - oldSize) / 2 truncated toward zero for Centre.
// Negative when the canvas shrinks (the old picture's first columns are cut away). An align
// outside 0..2 counts as Start.
int CanvasOffset(int oldSize, int newSize, int align);

// A copy of source on a width x height canvas with the given alignments; new areas take the
// fill colour. Format_BGR888 and Format_Grayscale8 (filled with the fill colour's grey value)
// keep their format; other formats are converted to Format_BGR888. Throws PictureError for a
// null source or a size that is not positive or beyond the picture limits.
QImage ResizeCanvas(const QImage& source, int width, int height, int align, int valign,
                    const QColor& fill);

// Changes the picture's canvas; its alpha plane, when present, follows, with the new areas
// opaque. Throws PictureError as ResizeCanvas does; the picture is unchanged then.
void ResizePictureCanvas(Picture& picture, int width, int height, int align, int valign,
                         const QColor& fill);
