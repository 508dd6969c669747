#include "imaging/Resample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "imaging/PictureError.h"
#include "imaging/PictureLimits.h"

// The AVX2 versions of the pixel loops are built with GCC or Clang for x86-64 and chosen at run
// time when the processor has AVX2; they give exactly the bytes of the plain loops.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define QUILLOMAR_RESAMPLE_AVX2 1
#include <immintrin.h>
#endif

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
std::atomic<bool> gVectorUnits{true};

// Whether the AVX2 loops run: the processor has them and they are not switched off.
bool UseAvx2() {
#ifdef QUILLOMAR_RESAMPLE_AVX2
  static const bool available = __builtin_cpu_supports("avx2");
  return available && gVectorUnits.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

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

// One output pixel of two 24-bit rows at once: n taps from p and q with the same weights.
inline void HorizontalPixelPair(const uint8_t* p, const uint8_t* q, const int32_t* weights, int n,
                                uint8_t* out0, uint8_t* out1) {
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

#ifdef QUILLOMAR_RESAMPLE_AVX2

// Horizontal pass of 24-bit rows, two rows at a time, for the output pixels whose taps are
// followed by at least one more source pixel in the row: each tap loads four bytes (the pixel
// and the next one's first byte) of both rows into eight 32-bit lanes, multiplies them by the
// weight and adds; lanes 3 and 7 are dropped. The arithmetic is that of the plain loop, lane by
// lane, so the bytes are the same. Pixels near the right edge take the plain loop.
__attribute__((target("avx2"))) void HorizontalPairsAvx2(ConstPlane src, Plane dst, int rowFrom,
                                                         int rowTo, int inWidth, int outWidth,
                                                         const AxisPlan& plan) {
  const int maxTaps = plan.MaxTaps;
  const __m256i half = _mm256_set1_epi32(kHalf);
  for (int r = rowFrom; r + 1 < rowTo; r += 2) {
    const uint8_t* in0 = src.Bits + qsizetype(r) * src.Stride;
    const uint8_t* in1 = in0 + src.Stride;
    uint8_t* out0 = dst.Bits + qsizetype(r - rowFrom) * dst.Stride;
    uint8_t* out1 = out0 + dst.Stride;
    const int32_t* weights = plan.Weights.data();
    for (int x = 0; x < outWidth; ++x, weights += maxTaps, out0 += 3, out1 += 3) {
      const int first = plan.First[size_t(x)];
      const int n = plan.Count[size_t(x)];
      const uint8_t* p = in0 + qsizetype(first) * 3;
      const uint8_t* q = in1 + qsizetype(first) * 3;
      if (first + n < inWidth) {
        __m256i acc = half;
        for (int t = 0; t < n; ++t, p += 3, q += 3) {
          uint32_t a, b;
          std::memcpy(&a, p, 4);
          std::memcpy(&b, q, 4);
          const __m128i bytes =
              _mm_cvtsi64_si128(static_cast<long long>((static_cast<uint64_t>(b) << 32) | a));
          const __m256i v = _mm256_cvtepu8_epi32(bytes);
          acc = _mm256_add_epi32(acc, _mm256_mullo_epi32(v, _mm256_set1_epi32(weights[t])));
        }
        acc = _mm256_srai_epi32(acc, kPrecisionBits);
        // Signed 32-bit to unsigned 16-bit to unsigned 8-bit, saturating: ClipToByte.
        const __m128i words =
            _mm_packus_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
        const uint64_t packed =
            static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_packus_epi16(words, words)));
        out0[0] = uint8_t(packed);
        out0[1] = uint8_t(packed >> 8);
        out0[2] = uint8_t(packed >> 16);
        out1[0] = uint8_t(packed >> 32);
        out1[1] = uint8_t(packed >> 40);
        out1[2] = uint8_t(packed >> 48);
      } else {
        HorizontalPixelPair(p, q, weights, n, out0, out1);
      }
    }
  }
}

// Vertical pass: 32 bytes of the output row at a time in four registers of eight 32-bit sums;
// the bytes of the row that do not fill 32 take the plain loop.
__attribute__((target("avx2"))) int VerticalRowAvx2(ConstPlane src, const uint8_t* firstRow,
                                                    uint8_t* out, int rowBytes, int n,
                                                    const int32_t* weights) {
  const __m256i half = _mm256_set1_epi32(kHalf);
  int from = 0;
  for (; from + 32 <= rowBytes; from += 32) {
    __m256i acc0 = half, acc1 = half, acc2 = half, acc3 = half;
    const uint8_t* row = firstRow + from;
    for (int t = 0; t < n; ++t, row += src.Stride) {
      const __m256i k = _mm256_set1_epi32(weights[t]);
      const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
      const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16));
      acc0 = _mm256_add_epi32(acc0, _mm256_mullo_epi32(_mm256_cvtepu8_epi32(lo), k));
      acc1 = _mm256_add_epi32(acc1,
                              _mm256_mullo_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(lo, 8)), k));
      acc2 = _mm256_add_epi32(acc2, _mm256_mullo_epi32(_mm256_cvtepu8_epi32(hi), k));
      acc3 = _mm256_add_epi32(acc3,
                              _mm256_mullo_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(hi, 8)), k));
    }
    acc0 = _mm256_srai_epi32(acc0, kPrecisionBits);
    acc1 = _mm256_srai_epi32(acc1, kPrecisionBits);
    acc2 = _mm256_srai_epi32(acc2, kPrecisionBits);
    acc3 = _mm256_srai_epi32(acc3, kPrecisionBits);
    // packus works within 128-bit lanes: the permute puts the bytes back in order.
    const __m256i words01 = _mm256_packus_epi32(acc0, acc1);
    const __m256i words23 = _mm256_packus_epi32(acc2, acc3);
    const __m256i bytes = _mm256_packus_epi16(words01, words23);
    const __m256i ordered =
        _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + from), ordered);
  }
  return from;
}

#endif  // QUILLOMAR_RESAMPLE_AVX2

// Horizontal pass over rows [rowFrom, rowTo) of src; row r lands in row r - rowFrom of dst.
template <int C>
void HorizontalRows(ConstPlane src, Plane dst, int rowFrom, int rowTo, int inWidth, int outWidth,
                    const AxisPlan& plan) {
  const int maxTaps = plan.MaxTaps;
  int r = rowFrom;
#ifdef QUILLOMAR_RESAMPLE_AVX2
  if constexpr (C == 3) {
    if (UseAvx2()) {
      HorizontalPairsAvx2(src, dst, rowFrom, rowTo, inWidth, outWidth, plan);
      r = rowFrom + ((rowTo - rowFrom) & ~1);
    }
  }
#else
  Q_UNUSED(inWidth);
#endif
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
        HorizontalPixelPair(p, q, weights, plan.Count[size_t(x)], out0, out1);
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
  const bool avx2 = UseAvx2();
  for (int y = yFrom; y < yTo; ++y) {
    const int32_t* weights = plan.Weights.data() + size_t(y) * size_t(plan.MaxTaps);
    const int n = plan.Count[size_t(y)];
    const uint8_t* firstRow = src.Bits + qsizetype(plan.First[size_t(y)] - rowOffset) * src.Stride;
    uint8_t* out = dst.Bits + qsizetype(y) * dst.Stride;
    int done = 0;
#ifdef QUILLOMAR_RESAMPLE_AVX2
    if (avx2) done = VerticalRowAvx2(src, firstRow, out, rowBytes, n, weights);
#else
    Q_UNUSED(avx2);
#endif
    for (int from = done; from < rowBytes; from += kStrip) {
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
                     HorizontalRows<C>(src, at, from, to, inWidth, outWidth, planX);
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
    ParallelRanges(outHeight, double(outHeight) * outWidth * C * planX.MaxTaps,
                   [&](int from, int to) {
                     Plane at{dst.Bits + qsizetype(from) * dst.Stride, dst.Stride};
                     HorizontalRows<C>(ConstPlane{mid.Bits, mid.Stride}, at, from, to, inWidth,
                                       outWidth, planX);
                   });
    return;
  }

  const qsizetype midStride = qsizetype(outWidth) * C;
  allocateMiddle(midStride * (rowHi - rowLo));
  Plane mid{middle.data(), midStride};
  ParallelRanges(rowHi - rowLo, double(rowHi - rowLo) * outWidth * C * planX.MaxTaps,
                 [&](int from, int to) {
                   Plane at{mid.Bits + qsizetype(from) * mid.Stride, mid.Stride};
                   HorizontalRows<C>(src, at, rowLo + from, rowLo + to, inWidth, outWidth, planX);
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

void SetResampleVectorUnits(bool on) { gVectorUnits.store(on); }
