// heap.cpp — how much the process holds from malloc: the world cache's
// budget and the scripts' memory limit both go by it.
#include <malloc.h>

#include <cstddef>

#include "platform/platform.h"

#if defined(__SANITIZE_ADDRESS__)
#define QM_ASAN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_ASAN_ALLOCATOR 1
#endif
#endif
#if defined(QM_ASAN_ALLOCATOR)
// The sanitizer runtime has it whichever compiler built us; only clang
// ships the header that declares it.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

size_t zvPlatformHeapBytesInUse(void) {
#if defined(QM_ASAN_ALLOCATOR)
  // The sanitizer's allocator stands in for malloc's arenas.
  return __sanitizer_get_current_allocated_bytes();
#else
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}
