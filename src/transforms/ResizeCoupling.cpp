#include "transforms/ResizeCoupling.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// value * numerator / denominator in extended precision, rounded to nearest with ties to even.
int ScaledRounded(int value, int numerator, int denominator) {
  volatile long double product = static_cast<long double>(value) * numerator;
  volatile long double quotient = product / denominator;
  return static_cast<int>(std::nearbyintl(quotient));
}

}  // namespace

int CoupledHeight(int width, int referenceWidth, int referenceHeight) {
  if (referenceWidth == 0) referenceWidth = kReferenceWidth;
  if (referenceHeight == 0) referenceHeight = kReferenceHeight;
  return ScaledRounded(width, referenceHeight, referenceWidth);
}

int CoupledWidth(int height, int referenceWidth, int referenceHeight) {
  if (referenceWidth == 0) referenceWidth = kReferenceWidth;
  if (referenceHeight == 0) referenceHeight = kReferenceHeight;
  return ScaledRounded(height, referenceWidth, referenceHeight);
}

int ClampToSizeField(int value) { return std::clamp(value, kSizeFieldMin, kSizeFieldMax); }

QSize SizePreset(int number) {
  static constexpr std::array<std::array<int, 2>, 6> kPresets = {{
      {100, 75},    // "Avatar (100x75)"
      {160, 120},   // "Thumbnail (160x120)"
      {320, 240},   // "Website/Email (320x240)"
      {640, 480},   // "Message Board (640x480)"
      {800, 600},   // "15\" Screen (800x600)"
      {1024, 768},  // "17\" Screen (1024x768)"
  }};
  if (number < 1 || number > int(kPresets.size())) return QSize();
  const auto& preset = kPresets[size_t(number - 1)];
  return QSize(preset[0], preset[1]);
}
