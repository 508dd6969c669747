#include "imaging/Resample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"

namespace {

// Weights carry 22 fraction bits. A sum of 8-bit samples times weights whose absolute values add
// up to less than 2 (Lanczos3, the widest of the negative-lobed kernels, stays near 1.3) fits a
// signed 32-bit accumulator: 255 * 2 * 2^22 < 2^31. Fewer bits would show as banding in smooth
// gradients after two passes.
constexpr int kPrecisionBits = 22;
constexpr int32_t kOne = int32_t(1) << kPrecisionBits;
constexpr int32_t kHalf = int32_t(1) << (kPrecisionBits - 1);

std::atomic<int> gThreadCount{0};
thread_local int tThreadCount = 0;

inline uint8_t ClipToByte(int32_t accumulator) {
  const int32_t v = accumulator >> kPrecisionBits;
  return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// The weights of one axis: output pixel i takes Count[i] source pixels from First[i] on, with
// the weights Weights[i * MaxTaps ...].
struct AxisPlan {
  int MaxTaps = 0;
  std::vector<int> First;
  std::vector<int> Count;
  std::vector<int32_t> Weights;
};

AxisPlan PlanAxis(int inSize, int outSize, const ResampleKernel& kernel) {
  AxisPlan plan;
  plan.First.resize(size_t(outSize));
  plan.Count.resize(size_t(outSize));
  const double scale = double(inSize) / double(outSize);

  if (!kernel.Weight) {
    // Point sampling: the source pixel that contains the output pixel's centre.
    plan.MaxTaps = 1;
    plan.Weights.assign(size_t(outSize), kOne);
    for (int i = 0; i < outSize; ++i) {
      const int at = int(std::floor((i + 0.5) * scale));
      plan.First[size_t(i)] = std::clamp(at, 0, inSize - 1);
      plan.Count[size_t(i)] = 1;
    }
    return plan;
  }

  // Reducing stretches a widened kernel by the reduction factor, so that it averages every
  // source pixel under the output pixel instead of skipping some.
  const double filterScale = kernel.Widened ? std::max(scale, 1.0) : 1.0;
  const double support = kernel.Support * filterScale;
  plan.MaxTaps = int(std::ceil(support)) * 2 + 1;
  plan.Weights.assign(size_t(outSize) * size_t(plan.MaxTaps), 0);
  std::vector<double> w(size_t(plan.MaxTaps) + 1);

  for (int i = 0; i < outSize; ++i) {
    // Source coordinates here put pixel j's centre at j + 0.5.
    double centre = (i + 0.5) * scale;
    if (kernel.SnapSteps > 0) {
      const double steps = kernel.SnapSteps;
      centre = std::nearbyint((centre - 0.5) * steps) / steps + 0.5;
    }
    int lo = std::max(0, int(std::floor(centre - support + 0.5)));
    int hi = std::min(inSize, int(std::floor(centre + support + 0.5)));
    hi = std::min(hi, lo + plan.MaxTaps);
    double sum = 0;
    for (int j = lo; j < hi; ++j) {
      const double k = kernel.Weight((j + 0.5 - centre) / filterScale);
      w[size_t(j - lo)] = k;
      sum += k;
    }
    // Taps of weight 0 at either end cost time and add nothing.
    int first = 0;
    int last = hi - lo;
    while (first < last && w[size_t(first)] == 0.0) ++first;
    while (last > first && w[size_t(last - 1)] == 0.0) --last;
    int32_t* out = plan.Weights.data() + size_t(i) * size_t(plan.MaxTaps);
    if (last == first || sum == 0.0) {
      // No source pixel under the kernel (cannot happen with the kernels above): take the
      // nearest one rather than produce black.
      plan.First[size_t(i)] = std::clamp(int(std::floor(centre)), 0, inSize - 1);
      plan.Count[size_t(i)] = 1;
      out[0] = kOne;
      continue;
    }
    plan.First[size_t(i)] = lo + first;
    plan.Count[size_t(i)] = last - first;
    for (int t = first; t < last; ++t) {
      out[t - first] = int32_t(std::lround(w[size_t(t)] / sum * kOne));
    }
  }
  return plan;
}

// Runs body(from, to) over [0, count) split into one contiguous range per thread. Small jobs
// (work counts multiply-adds) stay on the calling thread.
template <class Body>
void ParallelRanges(int count, double work, const Body& body) {
  int threads = tThreadCount > 0 ? tThreadCount : gThreadCount.load();
  if (threads <= 0) threads = int(std::max(1u, std::thread::hardware_concurrency()));
  constexpr double kWorkPerThread = 200000;
  threads = std::min({threads, count, std::max(1, int(work / kWorkPerThread))});
  if (threads <= 1) {
    body(0, count);
    return;
  }
  std::vector<std::thread> workers;
  workers.reserve(size_t(threads - 1));
  for (int t = 1; t < threads; ++t) {
    const int from = int(qint64(count) * t / threads);
    const int to = int(qint64(count) * (t + 1) / threads);
    try {
      workers.emplace_back([&body, from, to] { body(from, to); });
    } catch (const std::system_error&) {
      body(from, to);  // no thread to be had: this range runs here
    }
  }
  body(0, int(qint64(count) / threads));
  for (std::thread& worker : workers) worker.join();
}

struct ConstPlane {
  const uint8_t* Bits;
  qsizetype Stride;
};
struct Plane {
  uint8_t* Bits;
  qsizetype Stride;
};

// Horizontal pass over rows [rowFrom, rowTo) of src; row r lands in row r - rowFrom of dst.
template <int C>
void HorizontalRows(ConstPlane src, Plane dst, int rowFrom, int rowTo, int outWidth,
                    const AxisPlan& plan) {
  const int maxTaps = plan.MaxTaps;
  int r = rowFrom;
  if constexpr (C == 3) {
    // Two rows at a time share each weight load and the loop overhead.
    for (; r + 1 < rowTo; r += 2) {
      const uint8_t* in0 = src.Bits + qsizetype(r) * src.Stride;
      const uint8_t* in1 = in0 + src.Stride;
      uint8_t* out0 = dst.Bits + qsizetype(r - rowFrom) * dst.Stride;
      uint8_t* out1 = out0 + dst.Stride;
      const int32_t* weights = plan.Weights.data();
      for (int x = 0; x < outWidth; ++x, weights += maxTaps, out0 += 3, out1 += 3) {
        const qsizetype first = qsizetype(plan.First[size_t(x)]) * 3;
        const uint8_t* p = in0 + first;
        const uint8_t* q = in1 + first;
        const int n = plan.Count[size_t(x)];
        int32_t a0 = kHalf, a1 = kHalf, a2 = kHalf, b0 = kHalf, b1 = kHalf, b2 = kHalf;
        for (int t = 0; t < n; ++t, p += 3, q += 3) {
          const int32_t k = weights[t];
          a0 += p[0] * k;
          a1 += p[1] * k;
          a2 += p[2] * k;
          b0 += q[0] * k;
          b1 += q[1] * k;
          b2 += q[2] * k;
        }
        out0[0] = ClipToByte(a0);
        out0[1] = ClipToByte(a1);
        out0[2] = ClipToByte(a2);
        out1[0] = ClipToByte(b0);
        out1[1] = ClipToByte(b1);
        out1[2] = ClipToByte(b2);
      }
    }
  }
  for (; r < rowTo; ++r) {
    const uint8_t* in = src.Bits + qsizetype(r) * src.Stride;
    uint8_t* out = dst.Bits + qsizetype(r - rowFrom) * dst.Stride;
    const int32_t* weights = plan.Weights.data();
    for (int x = 0; x < outWidth; ++x, weights += maxTaps, out += C) {
      const uint8_t* p = in + qsizetype(plan.First[size_t(x)]) * C;
      const int n = plan.Count[size_t(x)];
      if constexpr (C == 3) {
        int32_t a0 = kHalf, a1 = kHalf, a2 = kHalf;
        for (int t = 0; t < n; ++t, p += 3) {
          const int32_t k = weights[t];
          a0 += p[0] * k;
          a1 += p[1] * k;
          a2 += p[2] * k;
        }
        out[0] = ClipToByte(a0);
        out[1] = ClipToByte(a1);
        out[2] = ClipToByte(a2);
      } else {
        int32_t a0 = kHalf;
        for (int t = 0; t < n; ++t) a0 += p[t] * weights[t];
        out[0] = ClipToByte(a0);
      }
    }
  }
}

// Vertical pass for output rows [yFrom, yTo); source row j of the plan is row j - rowOffset of
// src. Each output row is a weighted sum of whole source rows, accumulated a strip at a time
// so that the accumulators stay in the first-level cache.
void VerticalRows(ConstPlane src, int rowOffset, Plane dst, int yFrom, int yTo, int rowBytes,
                  const AxisPlan& plan) {
  constexpr int kStrip = 2048;
  int32_t acc[kStrip];
  for (int y = yFrom; y < yTo; ++y) {
    const int32_t* weights = plan.Weights.data() + size_t(y) * size_t(plan.MaxTaps);
    const int n = plan.Count[size_t(y)];
    const uint8_t* firstRow = src.Bits + qsizetype(plan.First[size_t(y)] - rowOffset) * src.Stride;
    uint8_t* out = dst.Bits + qsizetype(y) * dst.Stride;
    for (int from = 0; from < rowBytes; from += kStrip) {
      const int len = std::min(kStrip, rowBytes - from);
      std::fill(acc, acc + len, kHalf);
      const uint8_t* row = firstRow + from;
      for (int t = 0; t < n; ++t, row += src.Stride) {
        const int32_t k = weights[t];
        for (int e = 0; e < len; ++e) acc[e] += row[e] * k;
      }
      for (int e = 0; e < len; ++e) out[from + e] = ClipToByte(acc[e]);
    }
  }
}

template <int C>
void Resample(ConstPlane src, int inWidth, int inHeight, Plane dst, int outWidth, int outHeight,
              const ResampleKernel& kernel) {
  const bool horizontal = outWidth != inWidth;
  const bool vertical = outHeight != inHeight;
  AxisPlan planX, planY;
  if (horizontal) planX = PlanAxis(inWidth, outWidth, kernel);
  if (vertical) planY = PlanAxis(inHeight, outHeight, kernel);

  if (horizontal && !vertical) {
    ParallelRanges(outHeight, double(outHeight) * outWidth * C * planX.MaxTaps,
                   [&](int from, int to) {
                     Plane at{dst.Bits + qsizetype(from) * dst.Stride, dst.Stride};
                     HorizontalRows<C>(src, at, from, to, outWidth, planX);
                   });
    return;
  }
  if (!horizontal) {
    ParallelRanges(
        outHeight, double(outHeight) * outWidth * C * planY.MaxTaps,
        [&](int from, int to) { VerticalRows(src, 0, dst, from, to, outWidth * C, planY); });
    return;
  }

  // Both axes: the horizontal pass covers only the source rows that some output row uses.
  int rowLo = inHeight;
  int rowHi = 0;
  for (int y = 0; y < outHeight; ++y) {
    rowLo = std::min(rowLo, planY.First[size_t(y)]);
    rowHi = std::max(rowHi, planY.First[size_t(y)] + planY.Count[size_t(y)]);
  }
  std::vector<uint8_t> middle;
  auto allocateMiddle = [&middle](qsizetype bytes) {
    try {
      middle.resize(size_t(bytes));
    } catch (const std::bad_alloc&) {
      throw PictureError(QStringLiteral("Not enough memory to resize the picture."));
    }
  };

  // Multiply-adds of either order. Horizontal first is the rule; the other order is taken
  // only when it is clearly cheaper, as for a tall thin picture turned wide and flat, where
  // horizontal first would build an intermediate picture far larger than either end.
  const double horizontalFirst =
      (double(rowHi - rowLo) * planX.MaxTaps + double(outHeight) * planY.MaxTaps) * outWidth;
  const double verticalFirst =
      double(outHeight) * inWidth * planY.MaxTaps + double(outHeight) * outWidth * planX.MaxTaps;
  if (verticalFirst < 0.5 * horizontalFirst) {
    const qsizetype midStride = qsizetype(inWidth) * C;
    allocateMiddle(midStride * outHeight);
    Plane mid{middle.data(), midStride};
    ParallelRanges(
        outHeight, double(outHeight) * inWidth * C * planY.MaxTaps,
        [&](int from, int to) { VerticalRows(src, 0, mid, from, to, inWidth * C, planY); });
    ParallelRanges(
        outHeight, double(outHeight) * outWidth * C * planX.MaxTaps, [&](int from, int to) {
          Plane at{dst.Bits + qsizetype(from) * dst.Stride, dst.Stride};
          HorizontalRows<C>(ConstPlane{mid.Bits, mid.Stride}, at, from, to, outWidth, planX);
        });
    return;
  }

  const qsizetype midStride = qsizetype(outWidth) * C;
  allocateMiddle(midStride * (rowHi - rowLo));
  Plane mid{middle.data(), midStride};
  ParallelRanges(rowHi - rowLo, double(rowHi - rowLo) * outWidth * C * planX.MaxTaps,
                 [&](int from, int to) {
                   Plane at{mid.Bits + qsizetype(from) * mid.Stride, mid.Stride};
                   HorizontalRows<C>(src, at, rowLo + from, rowLo + to, outWidth, planX);
                 });
  ParallelRanges(
      outHeight, double(outHeight) * outWidth * C * planY.MaxTaps, [&](int from, int to) {
        VerticalRows(ConstPlane{mid.Bits, mid.Stride}, rowLo, dst, from, to, outWidth * C, planY);
      });
}

}  // namespace

QImage ResampleImage(const QImage& sourceIn, int width, int height, int filter) {
  const ResampleKernel& kernel = KernelOfFilter(filter);
  if (sourceIn.isNull()) throw PictureError(QStringLiteral("There is no picture to resize."));
  CheckPictureSize(width, height);
  QImage source = sourceIn;
  if (source.format() != QImage::Format_BGR888 && source.format() != QImage::Format_Grayscale8) {
    source = source.convertToFormat(QImage::Format_BGR888);
    if (source.isNull())
      throw PictureError(QStringLiteral("Not enough memory to resize the picture."));
  }
  if (width == source.width() && height == source.height()) return source;

  QImage result = NewPictureImage(width, height, source.format());
  const ConstPlane src{source.constBits(), source.bytesPerLine()};
  const Plane dst{result.bits(), result.bytesPerLine()};
  if (source.format() == QImage::Format_Grayscale8) {
    Resample<1>(src, source.width(), source.height(), dst, width, height, kernel);
  } else {
    Resample<3>(src, source.width(), source.height(), dst, width, height, kernel);
  }
  return result;
}

void ResamplePicture(Picture& picture, int width, int height, int filter) {
  if (picture.IsNull()) throw PictureError(QStringLiteral("There is no picture to resize."));
  const int w0 = picture.Width();
  const int h0 = picture.Height();
  if (width < -1 || height < -1) {
    throw PictureError(
        QStringLiteral("Cannot resize a picture to %1 x %2.").arg(width).arg(height));
  }
  qint64 w = width == 0 ? w0 : width;
  qint64 h = height == 0 ? h0 : height;
  if (w == -1 && h == -1) {
    w = w0;
    h = h0;
  } else if (w == -1) {
    w = std::max<qint64>(1, h * w0 / h0);
  } else if (h == -1) {
    h = std::max<qint64>(1, w * h0 / w0);
  }
  CheckPictureSize(w, h);
  QImage image = ResampleImage(picture.Image, int(w), int(h), filter);
  QImage alpha;
  if (picture.HasAlpha()) {
    alpha = ResampleImage(picture.Alpha.convertToFormat(QImage::Format_Grayscale8), int(w), int(h),
                          filter);
  }
  picture.Image = std::move(image);
  picture.Alpha = std::move(alpha);
}

void SetResampleThreads(int count) { gThreadCount.store(std::max(0, count)); }

void SetResampleThreadsForThisThread(int count) { tThreadCount = std::max(0, count); }
