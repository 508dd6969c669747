#pragma once

// The twelve resampling kernels, numbered as the filter list of the Resize page numbers them.
// The resampler (Resample.h) turns a kernel into fixed-point weights once per axis; nothing here
// runs per pixel.

namespace ResampleFilter {
enum : int {
  None = 0,        // no filter: the source pixel under the output pixel's centre
  Triangle = 1,    // tent, widened when reducing
  Hermite = 2,     // cubic Hermite
  Bell = 3,        // quadratic B-spline
  BSpline = 4,     // cubic B-spline
  Lanczos3 = 5,    // Lanczos, 3 lobes
  Mitchell = 6,    // Mitchell-Netravali, B = C = 1/3
  Nearest = 7,     // box: nearest neighbour when enlarging, area average when reducing
  Linear = 8,      // linear interpolation between the two nearest pixels, never widened
  FastLinear = 9,  // linear interpolation at positions snapped to 1/16 pixel, never widened
  Bilinear = 10,   // tent, widened when reducing (the same weights as Triangle)
  Bicubic = 11,    // Keys cubic convolution, a = -0.5
};
inline constexpr int Count = 12;
}  // namespace ResampleFilter

// How one filter number samples the source.
struct ResampleKernel {
  // Weight at a distance x from the sample position, in source pixels (in output pixels when
  // the kernel is widened). Null for point sampling.
  double (*Weight)(double x) = nullptr;
  double Support = 0;  // Weight is 0 for |x| >= Support
  // When reducing, the kernel is stretched by the reduction factor so that every source pixel
  // contributes (antialiasing); when false it keeps its width and only interpolates.
  bool Widened = true;
  // When above 0 the sample position is snapped to 1/SnapSteps of a source pixel.
  int SnapSteps = 0;
};

// The kernel of a filter number 0..11. Throws PictureError for any other number.
const ResampleKernel& KernelOfFilter(int filter);
