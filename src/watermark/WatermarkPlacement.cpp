#include "watermark/WatermarkPlacement.h"

#include <algorithm>
#include <climits>

#include "util/Random.h"

QPoint GetWatermarkPos(QSize pictureSize, int width, int height, int position) {
  Randomize();
  // 64-bit differences: a huge watermark on a huge picture must not overflow.
  const long long dx = static_cast<long long>(pictureSize.width()) - width;
  const long long dy = static_cast<long long>(pictureSize.height()) - height;
  const auto clampInt = [](long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
  };
  // C++ integer division truncates toward zero, which is the halving wanted here.
  const int left = 0, center = clampInt(dx / 2), right = clampInt(dx);
  const int top = 0, middle = clampInt(dy / 2), bottom = clampInt(dy);
  switch (position) {
    case kWmTopLeft:
      return {left, top};
    case kWmTopCenter:
      return {center, top};
    case kWmTopRight:
      return {right, top};
    case kWmMiddleLeft:
      return {left, middle};
    case kWmMiddleCenter:
      return {center, middle};
    case kWmMiddleRight:
      return {right, middle};
    case kWmBottomLeft:
      return {left, bottom};
    case kWmBottomCenter:
      return {center, bottom};
    case kWmBottomRight:
      return {right, bottom};
    default: {
      // x is drawn before y. RandomInt gives 0 for a count that is not positive, so a
      // watermark as large as the picture (or larger) sits at 0 on that axis.
      const int x = RandomInt(right);
      const int y = RandomInt(bottom);
      return {x, y};
    }
  }
}

QPoint GetWatermarkPos(const Picture& picture, int width, int height, int position) {
  return GetWatermarkPos(QSize(picture.Width(), picture.Height()), width, height, position);
}
