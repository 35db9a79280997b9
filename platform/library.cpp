// library.cpp — shared libraries opened when first needed.
#include <dlfcn.h>

#include <map>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace {

bool bind(const char* soname, const ZvLibraryEntry* entries, size_t count, std::string& error) {
  // Local: the library's symbols must not stand in for anyone else's.
  void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    error = dlerror();
    return false;
  }
  std::vector<void*> found(count);
  for (size_t i = 0; i < count; ++i) {
    found[i] = dlsym(library, entries[i].name);
    if (!found[i]) {
      error = std::string(soname) + " has no " + entries[i].name;
      dlclose(library);
      return false;
    }
  }
  for (size_t i = 0; i < count; ++i) *entries[i].slot = found[i];
  return true;
}

}  // namespace

bool zvPlatformBindLibrary(const char* soname, const ZvLibraryEntry* entries, size_t count, std::string* error) {
  static std::map<std::string, std::pair<bool, std::string>> tried;
  auto [it, first] = tried.try_emplace(soname);
  if (first) it->second.first = bind(soname, entries, count, it->second.second);
  if (!it->second.first && error) *error = it->second.second;
  return it->second.first;
}
