// library.cpp — shared libraries opened when first needed.
#include <dlfcn.h>

#include <vector>

#include "platform/platform.h"

bool zvPlatformBindLibrary(const char* soname, const ZvLibraryEntry* entries, size_t count, std::string* error) {
  // Local: the library's symbols must not stand in for anyone else's.
  void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    if (error) *error = dlerror();
    return false;
  }
  std::vector<void*> found(count);
  for (size_t i = 0; i < count; ++i) {
    found[i] = dlsym(library, entries[i].name);
    if (!found[i]) {
      if (error) *error = std::string(soname) + " has no " + entries[i].name;
      dlclose(library);
      return false;
    }
  }
  for (size_t i = 0; i < count; ++i) *entries[i].slot = found[i];
  return true;
}
