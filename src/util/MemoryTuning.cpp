#include "util/MemoryTuning.h"

#include <cstdlib>  // with glibc, defines __GLIBC__

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ReturnFreedMemoryPromptly() {
#if defined(__GLIBC__)
  constexpr int kThreshold = 1 << 20;
  mallopt(M_MMAP_THRESHOLD, kThreshold);
  mallopt(M_TRIM_THRESHOLD, kThreshold);
#endif
}
