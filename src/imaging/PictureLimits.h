#pragma once

#include <QImage>

// Largest picture the library accepts, whatever the format allows: 32767 pixels in either
// direction and 400 megapixels in all. A header that claims more is refused before anything is
// allocated, so a hostile file cannot exhaust memory.
inline constexpr int kMaxPictureSide = 32767;
inline constexpr long long kMaxPicturePixels = 400LL * 1000 * 1000;

// Throws PictureError when width x height is empty or beyond the limits above.
void CheckPictureSize(long long width, long long height);

// A new width x height picture in the given format (default 24-bit BGR), after
// CheckPictureSize; throws PictureError when the memory cannot be had. Pixels are not cleared.
QImage NewPictureImage(int width, int height, QImage::Format format = QImage::Format_BGR888);
