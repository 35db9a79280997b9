// memory.cpp — the heap's shape for a program that builds big worlds.
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

void zvPlatformTuneMemory(char** argv) {
  // Grow the heap in large steps and keep it: a world is made in one go
  // and freed in one go.
  mallopt(M_TOP_PAD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  if (!argv || std::getenv("QUILLMOOR_TUNED")) return;
  const char* old = std::getenv("GLIBC_TUNABLES");
  if (old && std::strstr(old, "glibc.malloc.hugetlb")) return;  // the user chose
  std::string tunables = old && *old ? std::string(old) + ":glibc.malloc.hugetlb=1" : "glibc.malloc.hugetlb=1";
  setenv("GLIBC_TUNABLES", tunables.c_str(), 1);
  setenv("QUILLMOOR_TUNED", "1", 1);
  execv("/proc/self/exe", argv);
  // Could not start again: go on as we are, without huge pages.
  unsetenv("QUILLMOOR_TUNED");
}
