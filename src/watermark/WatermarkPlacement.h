#pragma once

#include <QPoint>
#include <QSize>

#include "imaging/Picture.h"

// Where a watermark lands on a picture: one rule for the text and the image logo.

// Position indexes of a watermark (the order of the position list of the Watermark page).
enum WatermarkPosition {
  kWmRandom = 0,
  kWmTopLeft = 1,
  kWmTopCenter = 2,
  kWmTopRight = 3,
  kWmMiddleLeft = 4,
  kWmMiddleCenter = 5,
  kWmMiddleRight = 6,
  kWmBottomLeft = 7,
  kWmBottomCenter = 8,
  kWmBottomRight = 9,
};

// The top-left corner, in pixels of the picture, at which a watermark of width x height pixels
// is laid on a picture of pictureSize. With dx = picture width - width and dy = picture height -
// height, the fixed positions put the watermark flush against the edges (x is 0, dx div 2 or dx;
// y is 0, dy div 2 or dy; the halves truncate toward zero, also for a negative difference, so a
// watermark larger than the picture gets negative coordinates). Any index outside 1..9 (e.g. -1
// for no selection) is the random position: x uniform in 0..dx-1, then y in 0..dy-1, each 0 when
// its difference is not positive.
//
// Every call reseeds the program's one pseudo-random generator from the clock (also for the
// fixed positions), so the random draws differ from call to call. Never fails.
QPoint GetWatermarkPos(QSize pictureSize, int width, int height, int position);

// The same for a picture; only its width and height are read.
QPoint GetWatermarkPos(const Picture& picture, int width, int height, int position);
