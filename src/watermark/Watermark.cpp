#include "watermark/Watermark.h"

// Not built yet: both leave the picture as it is.

bool AddImageWatermark(Picture&, const QString&) { return false; }

bool AddTextWatermark(Picture&, const QString&, int, int, int, const WatermarkFont&,
                      const QString&) {
  return false;
}
