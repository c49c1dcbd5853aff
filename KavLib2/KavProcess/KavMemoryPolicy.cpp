#include "KavLib2/KavProcess/KavMemoryPolicy.h"

#include <malloc.h>

namespace kav {

bool SetLongRunHeapPolicy() {
#if defined(M_MMAP_THRESHOLD) && defined(M_ARENA_MAX)
  // Setting the threshold also stops glibc from moving it.
  const bool threshold = mallopt(M_MMAP_THRESHOLD, int(kLargeBlockBytes)) == 1;
  const bool arenas = mallopt(M_ARENA_MAX, kHeapArenas) == 1;
  return threshold && arenas;
#else
  return false;
#endif
}

bool TrimHeap() {
#if defined(__GLIBC__)
  return malloc_trim(0) == 1;
#else
  return false;
#endif
}

}  // namespace kav
