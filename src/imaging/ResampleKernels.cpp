#include "imaging/ResampleKernels.h"

#include <array>
#include <cmath>
#include <numbers>

#include "imaging/PictureError.h"

namespace {

// Every kernel below is even (k(-x) = k(x)) except the box, and has k(0) = 1 up to a factor;
// the resampler normalises the weights of each output pixel, so the factor does not matter.

// Tent: 1 - |x| on |x| < 1. Support 1.
double TentWeight(double x) {
  x = std::fabs(x);
  return x < 1.0 ? 1.0 - x : 0.0;
}

// Cubic Hermite: 2|x|^3 - 3x^2 + 1 on |x| < 1 (a smooth step, no negative lobe). Support 1.
double HermiteWeight(double x) {
  x = std::fabs(x);
  return x < 1.0 ? (2.0 * x - 3.0) * x * x + 1.0 : 0.0;
}

// Bell, the quadratic B-spline: 3/4 - x^2 on |x| < 1/2, (|x| - 3/2)^2 / 2 on 1/2 <= |x| < 3/2.
// Support 1.5.
double BellWeight(double x) {
  x = std::fabs(x);
  if (x < 0.5) return 0.75 - x * x;
  if (x < 1.5) return 0.5 * (x - 1.5) * (x - 1.5);
  return 0.0;
}

// Cubic B-spline: (3|x|^3 - 6x^2 + 4) / 6 on |x| < 1, (2 - |x|)^3 / 6 on 1 <= |x| < 2. Smooth and
// never negative, so it blurs slightly. Support 2.
double BSplineWeight(double x) {
  x = std::fabs(x);
  if (x < 1.0) return (0.5 * x - 1.0) * x * x + 2.0 / 3.0;
  if (x < 2.0) {
    const double t = 2.0 - x;
    return t * t * t / 6.0;
  }
  return 0.0;
}

double Sinc(double x) {
  if (x == 0.0) return 1.0;
  x *= std::numbers::pi;
  return std::sin(x) / x;
}

// Lanczos with 3 lobes: sinc(x) * sinc(x / 3) on |x| < 3, sinc(x) = sin(pi x) / (pi x). Support 3.
double Lanczos3Weight(double x) {
  if (x <= -3.0 || x >= 3.0) return 0.0;
  return Sinc(x) * Sinc(x / 3.0);
}

// The Mitchell-Netravali cubic with B = C = 1/3:
//   ((12 - 9B - 6C)|x|^3 + (-18 + 12B + 6C)x^2 + (6 - 2B)) / 6             on |x| < 1,
//   ((-B - 6C)|x|^3 + (6B + 30C)x^2 + (-12B - 48C)|x| + (8B + 24C)) / 6    on 1 <= |x| < 2.
// Support 2.
double MitchellWeight(double x) {
  constexpr double b = 1.0 / 3.0;
  constexpr double c = 1.0 / 3.0;
  x = std::fabs(x);
  if (x < 1.0) {
    return ((12.0 - 9.0 * b - 6.0 * c) * x * x * x + (-18.0 + 12.0 * b + 6.0 * c) * x * x +
            (6.0 - 2.0 * b)) /
           6.0;
  }
  if (x < 2.0) {
    return ((-b - 6.0 * c) * x * x * x + (6.0 * b + 30.0 * c) * x * x + (-12.0 * b - 48.0 * c) * x +
            (8.0 * b + 24.0 * c)) /
           6.0;
  }
  return 0.0;
}

// Box: 1 on -1/2 < x <= 1/2. The half-open interval gives a pixel lying exactly on the border to
// one side only. Support 0.5.
double BoxWeight(double x) { return (x > -0.5 && x <= 0.5) ? 1.0 : 0.0; }

// Keys cubic convolution with a = -0.5:
//   (a + 2)|x|^3 - (a + 3)x^2 + 1         on |x| < 1,
//   a|x|^3 - 5a x^2 + 8a|x| - 4a          on 1 <= |x| < 2.
// Support 2; a small negative lobe sharpens edges.
double BicubicWeight(double x) {
  constexpr double a = -0.5;
  x = std::fabs(x);
  if (x < 1.0) return ((a + 2.0) * x - (a + 3.0)) * x * x + 1.0;
  if (x < 2.0) return ((a * x - 5.0 * a) * x + 8.0 * a) * x - 4.0 * a;
  return 0.0;
}

const std::array<ResampleKernel, ResampleFilter::Count> kKernels = {{
    {nullptr, 0.0, false, 0},        // None
    {TentWeight, 1.0, true, 0},      // Triangle
    {HermiteWeight, 1.0, true, 0},   // Hermite
    {BellWeight, 1.5, true, 0},      // Bell
    {BSplineWeight, 2.0, true, 0},   // BSpline
    {Lanczos3Weight, 3.0, true, 0},  // Lanczos3
    {MitchellWeight, 2.0, true, 0},  // Mitchell
    {BoxWeight, 0.5, true, 0},       // Nearest
    {TentWeight, 1.0, false, 0},     // Linear
    {TentWeight, 1.0, false, 16},    // FastLinear
    {TentWeight, 1.0, true, 0},      // Bilinear
    {BicubicWeight, 2.0, true, 0},   // Bicubic
}};

}  // namespace

const ResampleKernel& KernelOfFilter(int filter) {
  if (filter < 0 || filter >= ResampleFilter::Count) {
    throw PictureError(QStringLiteral("Unknown resampling filter %1").arg(filter));
  }
  return kKernels[size_t(filter)];
}
