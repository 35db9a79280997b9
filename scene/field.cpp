// field.cpp — generic field values: arrays of single values and counted
// multi-value records, as the reader and the script binding pass them round.
// Running out of memory here is not fatal; the caller gets null or -5.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "scene/scene.h"

namespace {

// Element counts come straight from files; a product that does not fit in
// size_t is answered as 0 and so treated like an allocation failure.
size_t arrayBytes(long long count, size_t element) {
  size_t bytes = 0;
  if (count <= 0 || __builtin_mul_overflow(static_cast<unsigned long long>(count), element, &bytes))
    return 0;
  return bytes;
}

template <typename T>
T* newArray(int n, const char* routine, const char* type) {
  if (n < 1) return nullptr;
  size_t bytes = arrayBytes(n, sizeof(T));
  T* values = bytes ? static_cast<T*>(zvMalloc(bytes)) : nullptr;
  if (!values) zvMessage("%s: cannot allocate memory for %s.", routine, type);
  return values;
}

template <typename R>
R* newRecord(int n, const char* routine, const char* type) {
  using E = std::remove_pointer_t<decltype(R::values)>;
  auto* record = static_cast<R*>(zvMalloc(sizeof(R)));
  if (record && n > 0) {
    size_t bytes = arrayBytes(n, sizeof(E));
    record->values = bytes ? static_cast<E*>(zvMalloc(bytes)) : nullptr;
    if (record->values) {
      record->count = n;
    } else {
      zvFree(record);
      record = nullptr;
    }
  }
  if (!record) zvMessage("%s: cannot allocate memory for %s.", routine, type);
  return record;
}

// The destination keeps its storage when the source is no longer: records
// that are refilled every frame then stop allocating after the first fill.
template <typename R>
int copyRecord(R* destination, const R* source, const char* routine, const char* type) {
  using E = std::remove_pointer_t<decltype(R::values)>;
  if (!destination || !source) {
    zvWarning("%s: Invalid argument.", routine);
    return ZV_FAIL;
  }
  if (source->count <= 0 || !source->values) {
    zvWarning("%s: Invalid argument's pSrc.", routine);
    return ZV_FAIL;
  }
  if (source->count > destination->count || !destination->values) {
    size_t bytes = arrayBytes(source->count, sizeof(E));
    E* grown = bytes ? static_cast<E*>(zvRealloc(destination->values, bytes)) : nullptr;
    if (!grown) {
      zvMessage("%s: cannot allocate memory for %s.", routine, type);
      return ZV_NOMEM;
    }
    destination->values = grown;
  }
  std::memmove(destination->values, source->values, static_cast<size_t>(source->count) * sizeof(E));
  destination->count = source->count;
  return ZV_OK;
}

template <typename R>
R* newCopyRecord(const R* source, const char* routine, const char* newRoutine, const char* type) {
  using E = std::remove_pointer_t<decltype(R::values)>;
  if (!source || source->count < 0 || (source->count > 0 && !source->values)) {
    zvWarning("%s: Invalid argument.", routine);
    return nullptr;
  }
  R* copy = newRecord<R>(source->count, newRoutine, type);
  if (copy && source->count > 0)
    std::memcpy(copy->values, source->values, static_cast<size_t>(source->count) * sizeof(E));
  return copy;
}

template <typename R>
void clearRecord(R* record) {
  if (!record) return;
  zvFree(record->values);
  record->values = nullptr;
  record->count = 0;
}

}  // namespace

#define ZV_DEFINE_SF(T)                                             \
  ZvSF##T* zvGFnewSF##T(int n) {                                    \
    return newArray<ZvSF##T>(n, "zvGFnewSF" #T, "ZvSF" #T);         \
  }
ZV_DEFINE_SF(BitMask)
ZV_DEFINE_SF(Bool)
ZV_DEFINE_SF(Color)
ZV_DEFINE_SF(Float)
ZV_DEFINE_SF(Image)
ZV_DEFINE_SF(Int32)
ZV_DEFINE_SF(Matrix)
ZV_DEFINE_SF(Rotation)
ZV_DEFINE_SF(Time)
ZV_DEFINE_SF(Vec2f)
ZV_DEFINE_SF(Vec3f)
#undef ZV_DEFINE_SF

void zvGFsetSFColor(ZvSFColor* c, float r, float g, float b) {
  if (c) *c = {r, g, b};
}
void zvGFsetSFRotation(ZvSFRotation* r, float x, float y, float z, float angle) {
  if (r) *r = {x, y, z, angle};
}
void zvGFsetSFVec2f(ZvSFVec2f* v, float x, float y) {
  if (v) *v = {x, y};
}
void zvGFsetSFVec3f(ZvSFVec3f* v, float x, float y, float z) {
  if (v) *v = {x, y, z};
}
void zvGFsetSFTime(ZvSFTime* t, int32_t sec, int32_t msec) {
  if (t) *t = {sec, msec};
}

#define ZV_DEFINE_MF(T)                                                                  \
  ZvMF##T* zvGFnewMF##T(int n) { return newRecord<ZvMF##T>(n, "zvGFnewMF" #T, "ZvMF" #T); } \
  int zvGFcopyMF##T(ZvMF##T* destination, const ZvMF##T* source) {                       \
    return copyRecord(destination, source, "zvGFcopyMF" #T, "ZvMF" #T);                  \
  }                                                                                      \
  ZvMF##T* zvGFnewCopyMF##T(const ZvMF##T* source) {                                     \
    return newCopyRecord(source, "zvGFnewCopyMF" #T, "zvGFnewMF" #T, "ZvMF" #T);         \
  }                                                                                      \
  void zvGFclearMF##T(ZvMF##T* record) { clearRecord(record); }                          \
  void zvGFdeleteMF##T(ZvMF##T* record) {                                                \
    clearRecord(record);                                                                 \
    zvFree(record);                                                                      \
  }
ZV_DEFINE_MF(Color)
ZV_DEFINE_MF(Float)
ZV_DEFINE_MF(Int32)
ZV_DEFINE_MF(Vec2f)
ZV_DEFINE_MF(Vec3f)
#undef ZV_DEFINE_MF

ZvMFString* zvGFnewMFString(void) {
  auto* record = static_cast<ZvMFString*>(zvMalloc(sizeof(ZvMFString)));
  if (!record) zvMessage("%s: cannot allocate memory for ZvMFString.", "zvGFnewMFString");
  return record;
}

// On failure the string stays the caller's, so that it can still free it.
int zvGFaddMFString(ZvMFString* record, char* string) {
  if (!record || !string || record->count < 0) {
    zvWarning("zvGFaddMFString: Invalid argument.");
    return ZV_FAIL;
  }
  size_t bytes = record->count < INT32_MAX ? arrayBytes(record->count + 1LL, sizeof(char*)) : 0;
  char** grown = bytes ? static_cast<char**>(zvRealloc(record->values, bytes)) : nullptr;
  if (!grown) {
    zvMessage("%s: cannot allocate memory for strings of ZvMFString.", "zvGFaddMFString");
    return ZV_NOMEM;
  }
  grown[record->count] = string;
  record->values = grown;
  ++record->count;
  return ZV_OK;
}

void zvGFclearMFString(ZvMFString* record) {
  if (!record) return;
  if (record->values)
    for (int32_t i = record->count - 1; i >= 0; --i) zvFree(record->values[i]);
  zvFree(record->values);
  record->values = nullptr;
  record->count = 0;
}

void zvGFdeleteMFString(ZvMFString* record) {
  zvGFclearMFString(record);
  zvFree(record);
}
