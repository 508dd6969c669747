#include "util/Random.h"

#include <chrono>
#include <mutex>

namespace {
std::mutex gMutex;
std::uint32_t gSeed = 0;
}  // namespace

int RandomInt(int n) {
  std::lock_guard lock(gMutex);
  gSeed = gSeed * 134775813u + 1u;
  if (n <= 0) return 0;
  return static_cast<int>((static_cast<std::uint64_t>(gSeed) * static_cast<std::uint32_t>(n)) >> 32);
}

void Randomize() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto ticks = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  SetRandomSeed(static_cast<std::uint32_t>(ticks ^ (ticks >> 32)));
}

void SetRandomSeed(std::uint32_t seed) {
  std::lock_guard lock(gMutex);
  gSeed = seed;
}

std::uint32_t RandomSeed() {
  std::lock_guard lock(gMutex);
  return gSeed;
}
