// alloc.cpp — the one allocator of the model. Tests swap the underlying
// routines to fail on demand; everything above sees only zvMalloc & co.
#include <cstdlib>
#include <cstring>

#include "scene/objectpriv.h"
#include "scene/scene.h"

namespace {

void* defaultAlloc(size_t size, void*) { return std::malloc(size); }
void* defaultRealloc(void* ptr, size_t size, void*) { return std::realloc(ptr, size); }
void defaultFree(void* ptr, void*) { std::free(ptr); }

ZvAllocator allocator = {defaultAlloc, defaultRealloc, defaultFree, nullptr};

}  // namespace

void zvSetAllocator(const ZvAllocator* a) {
  if (a && a->alloc && a->realloc && a->free)
    allocator = *a;
  else
    allocator = {defaultAlloc, defaultRealloc, defaultFree, nullptr};
}

void* zvMalloc(size_t size) {
  if (size == 0) {
    zvWarning("zvMalloc: arguemnt size is 0 value.");
    return nullptr;
  }
  void* p = allocator.alloc(size, allocator.user);
  if (p) std::memset(p, 0, size);
  return p;
}

void* zvMallocUncleared(size_t size) {
  if (size == 0) {
    zvWarning("zvMalloc: arguemnt size is 0 value.");
    return nullptr;
  }
  return allocator.alloc(size, allocator.user);
}

void* zvRealloc(void* ptr, size_t size) {
  if (size == 0) {
    zvWarning("zvRealloc: argument size is 0 value.");
    return nullptr;
  }
  if (!ptr) return zvMalloc(size);
  return allocator.realloc(ptr, size, allocator.user);
}

void zvFree(void* ptr) {
  if (ptr) allocator.free(ptr, allocator.user);
}

char* zvStrdup(const char* text) {
  if (!text) return nullptr;
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(allocator.alloc(n, allocator.user));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}
