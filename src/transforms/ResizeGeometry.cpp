#include "transforms/ResizeGeometry.h"

#include <QColor>
#include <climits>
#include <cmath>
#include <limits>
#include <new>

#include "imaging/Canvas.h"
#include "imaging/PictureError.h"
#include "imaging/Resample.h"

// The sizes below depend on quotients rounded to a 64-bit significand (640 x 480 fitted to
// width 600 gives 449 rows, not 450); a compiler whose long double is a plain double would
// silently change them.
static_assert(std::numeric_limits<long double>::digits == 64,
              "the size arithmetic needs the x87 extended long double");

namespace {

// a / b rounded once to the 64-bit significand of long double (x87 extended on x86). The
// volatile store keeps the compiler from carrying the quotient in any other precision.
long double Quotient(long double a, long double b) {
  volatile long double q = a / b;
  return q;
}

long double Product(long double a, long double b) {
  volatile long double p = a * b;
  return p;
}

// trunc of a non-negative size, saturated to INT_MAX.
int TruncSize(long double value) {
  if (!(value < static_cast<long double>(INT_MAX))) return INT_MAX;
  return static_cast<int>(value);
}

int RoundHalfEven(long double value) {
  if (!(std::fabs(value) < static_cast<long double>(INT_MAX))) return value < 0 ? INT_MIN : INT_MAX;
  // The default rounding mode rounds to nearest with ties to even.
  return static_cast<int>(std::nearbyintl(value));
}

}  // namespace

QSize FillSize(int pictureWidth, int pictureHeight, int width, int height, int type) {
  const long double w0 = pictureWidth;
  const long double h0 = pictureHeight;
  // The new width when the height is given, and the new height when the width is given.
  auto widthFor = [&](int h) { return TruncSize(Quotient(w0, Quotient(h0, h))); };
  auto heightFor = [&](int w) { return TruncSize(Quotient(h0, Quotient(w0, w))); };
  int w = width;
  int h = height;
  switch (type) {
    case 0:
      break;
    case 1:
      w = widthFor(height);
      break;
    case 2:
      h = heightFor(width);
      break;
    default: {  // inside the box, the box turned to the picture's orientation
      const bool portrait = pictureHeight > pictureWidth;
      const bool landscape = pictureHeight < pictureWidth;
      if ((portrait && w > h) || (landscape && w < h)) std::swap(w, h);
      // The height is the tighter bound (ties included): it is kept.
      if (Quotient(h0, h) >= Quotient(w0, w)) {
        w = widthFor(h);
      } else {
        h = heightFor(w);
      }
      break;
    }
  }
  return QSize(w == 0 ? pictureWidth : w, h == 0 ? pictureHeight : h);
}

int DpiChangedHeight(int pictureHeight, int dpiY, int newDpi) {
  return std::max(1, RoundHalfEven(Product(Quotient(pictureHeight, dpiY), newDpi)));
}

int DpiChangedDpiX(int dpiX, int dpiY, int newDpi) {
  return RoundHalfEven(Product(Quotient(dpiX, dpiY), newDpi));
}

bool CutToSize(Picture& picture, int width, int height, int align, int valign) {
  if (width < 2 || height < 2) return false;
  if (align < 0) align = 0;
  if (valign < 0) valign = 0;
  try {
    ResizePictureCanvas(picture, width, height, align, valign, QColor(255, 255, 255));
  } catch (const PictureError&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool FillToSize(Picture& picture, int width, int height, int type, int filter, QSize sizeAsStored) {
  if (width < 2 || height < 2) return false;
  if (type < 0) type = 3;
  if (filter < 0) filter = ResampleFilter::Nearest;
  if (picture.IsNull()) return false;
  const QSize from = sizeAsStored.isValid() ? sizeAsStored : picture.Image.size();
  const QSize size = FillSize(from.width(), from.height(), width, height, type);
  try {
    ResamplePicture(picture, size.width(), size.height(), filter);
  } catch (const PictureError&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void ChangeDpi(Picture& picture, int newDpi) {
  const int dpiX = picture.Params.DpiX;
  const int dpiY = picture.Params.DpiY;
  // An unknown resolution gives nothing to keep; a new resolution below 1 has no meaning.
  if (dpiX <= 0 || dpiY <= 0 || newDpi < 1 || picture.IsNull()) return;
  const int h = DpiChangedHeight(picture.Height(), dpiY, newDpi);
  const qint64 w = std::max<qint64>(1, qint64(h) * picture.Width() / picture.Height());
  ResamplePicture(picture, int(std::min<qint64>(w, INT_MAX)), h, ResampleFilter::Triangle);
  picture.Params.DpiX = DpiChangedDpiX(dpiX, dpiY, newDpi);
  picture.Params.DpiY = newDpi;
}
