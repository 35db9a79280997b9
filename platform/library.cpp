// library.cpp — shared libraries opened when first needed.
#include <dlfcn.h>

#include <map>
#include <vector>

#include "platform/platform.h"

namespace {

// Every entry or none: a half-bound table would fail later, far from here.
bool bind(void* library, const char* soname, const ZvLibraryEntry* entries, size_t count, std::string* error) {
  std::vector<void*> found(count);
  for (size_t i = 0; i < count; ++i) {
    found[i] = dlsym(library, entries[i].name);
    if (!found[i]) {
      if (error) *error = std::string(soname) + " has no " + entries[i].name;
      return false;
    }
  }
  for (size_t i = 0; i < count; ++i) *entries[i].slot = found[i];
  return true;
}

}  // namespace

bool zvPlatformBindLibrary(const char* soname, const ZvLibraryEntry* entries, size_t count, std::string* error) {
  struct Opened {
    void* library = nullptr;
    std::string error;
  };
  static std::map<std::string, Opened> tried;
  auto [it, first] = tried.try_emplace(soname);
  Opened& opened = it->second;
  if (first) {
    // Local: the library's symbols must not stand in for anyone else's.
    opened.library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!opened.library) opened.error = dlerror();
  }
  if (!opened.library) {
    if (error) *error = opened.error;
    return false;
  }
  return bind(opened.library, soname, entries, count, error);
}
