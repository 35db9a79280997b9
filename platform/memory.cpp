// memory.cpp — the heap's shape for a program that builds big worlds.
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace {

constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
// Below the mmap threshold set here, so that the pieces come from the heap.
constexpr size_t kPiece = size_t(60) << 20;

}  // namespace

void zvPlatformTuneMemory(char** argv) {
  (void)argv;
  // Grow the heap in large steps and keep it: a world is made in one go
  // and freed in one go.
  mallopt(M_TOP_PAD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  // The heap is grown once, now, by two pieces taken and given back (with
  // the top pad, some 120 MB that stay with the heap, untouched until used),
  // and all of it is marked for huge pages. glibc would mark what it grows
  // only if told before the process starts, and starting the program again
  // to tell it cost more than a small world takes to read.
  // Through a pointer the compiler cannot see through: a block taken and
  // given back unused would otherwise be no call at all.
  void* (*volatile take)(size_t) = std::malloc;
  char* from = static_cast<char*>(sbrk(0));
  void* a = take(kPiece);
  void* b = take(kPiece);
  std::free(b);
  std::free(a);
  char* to = static_cast<char*>(sbrk(0));
  if (from == reinterpret_cast<char*>(-1) || to == reinterpret_cast<char*>(-1) || to <= from) return;
  uintptr_t start = (reinterpret_cast<uintptr_t>(from) + kHugePage - 1) & ~(kHugePage - 1);
  uintptr_t end = reinterpret_cast<uintptr_t>(to) & ~(kHugePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

void zvPlatformQuickExit(int status) {
#if defined(__SANITIZE_ADDRESS__)
  (void)status;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  (void)status;
#else
  std::fflush(nullptr);
  std::quick_exit(status);
#endif
#else
  std::fflush(nullptr);
  std::quick_exit(status);
#endif
}
