// material.cpp — the per-leaf material of shapes: setting and reading its
// counted arrays, the accessor family scripts use on leaves, objects and
// subtrees, re-applying materials to the renderer, and ZvMFColor records.
#include <cstdint>
#include <cstring>

#include "scene/objectpriv.h"
#include "scene/scene.h"
#include "scene/subtree.h"

namespace {

// Counts reach here from files and scripts; a product that does not fit is
// answered as 0 so that the caller takes its allocation-failure path.
size_t arrayBytes(int32_t count, size_t element) {
  size_t bytes = 0;
  if (count <= 0 || __builtin_mul_overflow(static_cast<size_t>(count), element, &bytes)) return 0;
  return bytes;
}

ZvMFColor* colorSlot(ZvShape* shape, int attribute) {
  switch (attribute) {
    case ZV_MAT_AMBIENT: return &shape->material.ambient;
    case ZV_MAT_DIFFUSE: return &shape->material.diffuse;
    case ZV_MAT_SPECULAR: return &shape->material.specular;
    case ZV_MAT_EMISSIVE: return &shape->material.emissive;
    default: return nullptr;
  }
}

ZvMFFloat* floatSlot(ZvShape* shape, int attribute) {
  switch (attribute) {
    case ZV_MAT_SHININESS: return &shape->material.shininess;
    case ZV_MAT_TRANSPARENCY: return &shape->material.transparency;
    default: return nullptr;
  }
}

int updateRendering(ZvLeaf* leaf) {
  if (!zvSceneHooks().renderUpdateMaterial) return ZV_OK;
  return zvSceneHooks().renderUpdateMaterial(leaf);
}

// Stores count elements into a leaf's counted array. A new block is made only
// when the size changes, and before the old one goes, so that a failure
// leaves the leaf as it was and a script animating a colour every frame does
// not allocate at all.
template <typename Record, typename Element>
int storeElements(Record* slot, int32_t count, const Element* values, const char* failure) {
  if (slot->count != count) {
    Element* fresh = nullptr;
    if (count > 0) {
      size_t bytes = arrayBytes(count, sizeof(Element));
      fresh = bytes ? static_cast<Element*>(zvMalloc(bytes)) : nullptr;
      if (!fresh) {
        zvError("%s", failure);
        return ZV_FAIL;
      }
    }
    zvFree(slot->values);
    slot->values = fresh;
    slot->count = count;
  }
  if (count > 0 && slot->values != values)
    std::memcpy(slot->values, values, static_cast<size_t>(count) * sizeof(Element));
  return ZV_OK;
}

template <typename Record>
bool validRecord(const Record* record) {
  return record && record->count >= 0 && (record->count == 0 || record->values);
}

int setObj(ZvObj* object, const void* value, int attribute) {
  if (!zvIsShapeLeaf(object->leaf)) return ZV_OK;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next)
    if (zvSetLeafMaterial(leaf, value, attribute) != ZV_OK) return ZV_FAIL;
  return ZV_OK;
}

int setObjChecked(ZvObj* object, const void* value, int attribute, const char* name) {
  if (!object) {
    zvWarning("%s: NULL specified.\n", name);
    return ZV_FAIL;
  }
  return setObj(object, value, attribute);
}

int setObjAll(ZvObj* object, const void* value, int attribute, const char* name) {
  if (!object) {
    zvWarning("%s: NULL specified.\n", name);
    return ZV_FAIL;
  }
  int walked = zvWalkSubtree(object, [&](ZvObj* o) { return setObj(o, value, attribute) != ZV_OK; });
  if (walked == ZV_WALK_NOMEM) zvWarning("%s: tree too deep to walk\n", name);
  return walked == ZV_WALK_DONE ? ZV_OK : ZV_FAIL;
}

void* getObj(ZvObj* object, int attribute) {
  if (!object) return nullptr;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next)
    if (zvIsShapeLeaf(leaf)) return zvGetLeafMaterial(leaf, attribute);
  return nullptr;
}

void* getObjAll(ZvObj* object, int attribute) {
  void* found = nullptr;
  zvWalkSubtree(object, [&](ZvObj* o) {
    found = getObj(o, attribute);
    return found != nullptr;
  });
  return found;
}

int applyObj(ZvObj* object) {
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next)
    if (zvIsShapeLeaf(leaf) && updateRendering(leaf) != ZV_OK) return ZV_FAIL;
  return ZV_OK;
}

}  // namespace

int zvSetLeafMaterial(ZvLeaf* leaf, const void* value, int attribute) {
  switch (attribute) {
    case ZV_MAT_AMBIENT:
    case ZV_MAT_DIFFUSE:
    case ZV_MAT_SPECULAR:
    case ZV_MAT_EMISSIVE:
      return zvSetLeafMaterialColor(leaf, static_cast<const ZvMFColor*>(value), attribute);
    case ZV_MAT_SHININESS:
    case ZV_MAT_TRANSPARENCY:
      return zvSetLeafMaterialFloat(leaf, static_cast<const ZvMFFloat*>(value), attribute);
    default:
      zvWarning("zvSetLeafMaterial: attribute is invalid\n");
      return ZV_FAIL;
  }
}

int zvSetLeafMaterialColor(ZvLeaf* leaf, const ZvMFColor* colors, int attribute) {
  if (!zvIsShapeLeaf(leaf)) {
    zvWarning("zvSetLeafMaterialColor: LeafType is invalid\n");
    return ZV_FAIL;
  }
  if (zvUnpackLeafMaterial(static_cast<ZvShape*>(leaf)) != ZV_OK) return ZV_NOMEM;
  ZvMFColor* slot = colorSlot(static_cast<ZvShape*>(leaf), attribute);
  if (!slot) {
    zvWarning("zvSetLeafMaterialColor: attribute is invalid\n");
    return ZV_FAIL;
  }
  if (!validRecord(colors)) {
    zvWarning("zvSetLeafMaterialColor: colour array is invalid\n");
    return ZV_FAIL;
  }
  if (storeElements(slot, colors->count, colors->values,
                    "zvSetLeafMaterialColor : zvMalloc Failure\n") != ZV_OK)
    return ZV_FAIL;
  return updateRendering(leaf);
}

int zvSetLeafMaterialFloat(ZvLeaf* leaf, const ZvMFFloat* floats, int attribute) {
  if (!zvIsShapeLeaf(leaf)) {
    zvWarning("zvSetLeafMaterialFloat: LeafType is invalid\n");
    return ZV_FAIL;
  }
  if (zvUnpackLeafMaterial(static_cast<ZvShape*>(leaf)) != ZV_OK) return ZV_NOMEM;
  ZvMFFloat* slot = floatSlot(static_cast<ZvShape*>(leaf), attribute);
  if (!slot) {
    zvWarning("zvSetLeafMaterialFloat: attribute is invalid\n");
    return ZV_FAIL;
  }
  if (!validRecord(floats)) {
    zvWarning("zvSetLeafMaterialFloat: float array is invalid\n");
    return ZV_FAIL;
  }
  if (storeElements(slot, floats->count, floats->values,
                    "zvSetLeafMaterialFloat : zvMalloc Failure\n") != ZV_OK)
    return ZV_FAIL;
  return updateRendering(leaf);
}

void* zvGetLeafMaterial(ZvLeaf* leaf, int attribute) {
  if (!zvIsShapeLeaf(leaf)) return nullptr;
  auto* shape = static_cast<ZvShape*>(leaf);
  if (ZvMFColor* colors = colorSlot(shape, attribute)) return colors;
  if (ZvMFFloat* floats = floatSlot(shape, attribute)) return floats;
  zvWarning("zvGetLeafMaterial: attribute is invalid\n");
  return nullptr;
}

#define ZV_DEFINE_MATERIAL(A, V, N)                                                       \
  int zvSetObj##A(ZvObj* object, const V* value) {                                        \
    return setObjChecked(object, value, N, "zvSetObj" #A);                                       \
  }                                                                                       \
  int zvSetObjAll##A(ZvObj* object, const V* value) {                                     \
    return setObjAll(object, value, N, "zvSetObjAll" #A);                                 \
  }                                                                                       \
  int zvSetLeaf##A(ZvLeaf* leaf, const V* value) { return zvSetLeafMaterial(leaf, value, N); } \
  V* zvGetLeaf##A(ZvLeaf* leaf) { return static_cast<V*>(zvGetLeafMaterial(leaf, N)); }    \
  V* zvGetObj##A(ZvObj* object) { return static_cast<V*>(getObj(object, N)); }             \
  V* zvGetObjAll##A(ZvObj* object) { return static_cast<V*>(getObjAll(object, N)); }
ZV_DEFINE_MATERIAL(Ambient, ZvMFColor, ZV_MAT_AMBIENT)
ZV_DEFINE_MATERIAL(Diffuse, ZvMFColor, ZV_MAT_DIFFUSE)
ZV_DEFINE_MATERIAL(Specular, ZvMFColor, ZV_MAT_SPECULAR)
ZV_DEFINE_MATERIAL(Emissive, ZvMFColor, ZV_MAT_EMISSIVE)
ZV_DEFINE_MATERIAL(Shininess, ZvMFFloat, ZV_MAT_SHININESS)
ZV_DEFINE_MATERIAL(Transparency, ZvMFFloat, ZV_MAT_TRANSPARENCY)
#undef ZV_DEFINE_MATERIAL

int zvApplyObjMaterial(ZvObj* object) {
  if (!object) {
    zvWarning("zvApplyObjMaterial: NULL specified.\n");
    return ZV_FAIL;
  }
  return applyObj(object);
}

int zvApplyObjAllMaterial(ZvObj* object) {
  if (!object) {
    zvWarning("zvApplyObjAllMaterial: NULL specified.\n");
    return ZV_FAIL;
  }
  int walked = zvWalkSubtree(object, [](ZvObj* o) { return applyObj(o) != ZV_OK; });
  if (walked == ZV_WALK_NOMEM) zvWarning("zvApplyObjAllMaterial: tree too deep to walk\n");
  return walked == ZV_WALK_DONE ? ZV_OK : ZV_FAIL;
}

ZvMFColor* zvNewZvMFColor(int count) {
  if (count < 0) {
    zvWarning("zvNewZvMFColor: count is negative\n");
    return nullptr;
  }
  auto* colors = static_cast<ZvMFColor*>(zvMalloc(sizeof(ZvMFColor)));
  if (colors && count > 0) {
    size_t bytes = arrayBytes(count, sizeof(ZvSFColor));
    colors->values = bytes ? static_cast<ZvSFColor*>(zvMalloc(bytes)) : nullptr;
    if (!colors->values) {
      zvFree(colors);
      colors = nullptr;
    } else {
      colors->count = count;
    }
  }
  if (!colors) zvError("zvNewZvMFColor: zvMalloc failed\n");
  return colors;
}

void zvDeleteZvMFColor(ZvMFColor* colors) {
  if (!colors) return;
  zvFree(colors->values);
  zvFree(colors);
}

void zvSetZvMFColor(ZvMFColor* colors, int index, float r, float g, float b) {
  if (!colors || index < 0 || index >= colors->count || !colors->values) {
    zvWarning("zvSetZvMFColor: index %d is out of range\n", index);
    return;
  }
  colors->values[index] = {r, g, b};
}

void zvGetZvMFColor(const ZvMFColor* colors, int index, float* r, float* g, float* b) {
  if (!colors || index < 0 || index >= colors->count || !colors->values) {
    zvWarning("zvGetZvMFColor: index %d is out of range\n", index);
    return;
  }
  const ZvSFColor& c = colors->values[index];
  if (r) *r = c.r;
  if (g) *g = c.g;
  if (b) *b = c.b;
}

namespace {

constexpr size_t kPackedElement = 4 * sizeof(ZvSFColor) + 2 * sizeof(float);

}  // namespace

size_t zvPackedMaterialSize(int n) { return kPackedElement * size_t(n); }


int zvPackLeafMaterial(ZvShape* shape, int n) {
  if (!shape || n < 1 || size_t(n) > SIZE_MAX / kPackedElement) return ZV_FAIL;
  auto* block = static_cast<char*>(zvMalloc(kPackedElement * size_t(n)));
  if (!block) return ZV_NOMEM;
  ZvMaterial* m = &shape->material;
  // Whatever the leaf had goes first, so that nothing is lost or leaked.
  if (shape->flags & ZV_LEAF_PACKED_MATERIAL) {
    if (!zvMaterialInLeafBlock(shape)) zvFree(m->ambient.values);
  } else {
    zvFree(m->ambient.values);
    zvFree(m->diffuse.values);
    zvFree(m->specular.values);
    zvFree(m->emissive.values);
    zvFree(m->shininess.values);
    zvFree(m->transparency.values);
  }
  zvPlacePackedMaterial(shape, block, n);
  return ZV_OK;
}

int zvUnpackLeafMaterial(ZvShape* shape) {
  if (!shape || !(shape->flags & ZV_LEAF_PACKED_MATERIAL)) return ZV_OK;
  ZvMaterial* m = &shape->material;
  ZvMFColor* colors[] = {&m->ambient, &m->diffuse, &m->specular, &m->emissive};
  ZvMFFloat* floats[] = {&m->shininess, &m->transparency};
  void* copies[6] = {};
  bool ok = true;
  for (int i = 0; i < 4; ++i)
    if (colors[i]->count > 0 && !(copies[i] = zvMalloc(sizeof(ZvSFColor) * size_t(colors[i]->count)))) ok = false;
  for (int i = 0; i < 2; ++i)
    if (floats[i]->count > 0 && !(copies[4 + i] = zvMalloc(sizeof(float) * size_t(floats[i]->count)))) ok = false;
  if (!ok) {
    for (void* p : copies) zvFree(p);
    zvError("zvUnpackLeafMaterial: zvMalloc failed\n");
    return ZV_NOMEM;
  }
  void* block = zvMaterialInLeafBlock(shape) ? nullptr : m->ambient.values;
  for (int i = 0; i < 4; ++i) {
    if (copies[i]) std::memcpy(copies[i], colors[i]->values, sizeof(ZvSFColor) * size_t(colors[i]->count));
    colors[i]->values = static_cast<ZvSFColor*>(copies[i]);
  }
  for (int i = 0; i < 2; ++i) {
    if (copies[4 + i]) std::memcpy(copies[4 + i], floats[i]->values, sizeof(float) * size_t(floats[i]->count));
    floats[i]->values = static_cast<float*>(copies[4 + i]);
  }
  zvFree(block);
  shape->flags &= ~uint32_t(ZV_LEAF_PACKED_MATERIAL);
  return ZV_OK;
}
