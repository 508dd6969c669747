#include "imaging/codecs/JpegQuality.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

// The example tables of the JPEG standard, Annex K.1 and K.2, in natural order.
// clang-format off
constexpr QuantTable kBaseTables[2] = {
    {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
     14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
     18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
     49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99},
    {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
     24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99}};
// clang-format on

// Percentage by which the base tables are scaled for a quality: 5000/q below 50, 200-2q above.
long QualityScaling(int quality) {
  quality = std::clamp(quality, 1, 100);
  return quality < 50 ? 5000 / quality : 200 - quality * 2;
}

long Distance(const std::uint16_t* table, const QuantTable& candidate) {
  long sum = 0;
  for (int i = 0; i < 64; ++i) sum += std::labs(long(table[i]) - long(candidate[i]));
  return sum;
}

}  // namespace

QuantTable ScaledQuantTable(int component, int quality, bool forceBaseline) {
  const QuantTable& base = kBaseTables[component == 0 ? 0 : 1];
  const long scale = QualityScaling(quality);
  const long limit = forceBaseline ? 255 : 32767;
  QuantTable table{};
  for (int i = 0; i < 64; ++i)
    table[i] = std::uint16_t(std::clamp((base[i] * scale + 50) / 100, 1L, limit));
  return table;
}

int EstimateJpegQuality(const std::uint16_t* luminance, const std::uint16_t* chrominance) {
  if (!luminance) return 0;
  int best = 100;
  long bestDistance = std::numeric_limits<long>::max();
  // From the highest quality down, so that of two equally close qualities the higher wins.
  for (int q = 100; q >= 1; --q) {
    long distance = std::numeric_limits<long>::max();
    // Writers differ in whether they limit the tables to baseline (255); take the closer.
    for (bool baseline : {true, false}) {
      long d = Distance(luminance, ScaledQuantTable(0, q, baseline));
      if (chrominance) d += Distance(chrominance, ScaledQuantTable(1, q, baseline));
      distance = std::min(distance, d);
    }
    if (distance < bestDistance) {
      bestDistance = distance;
      best = q;
    }
  }
  return best;
}
