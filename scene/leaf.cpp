// leaf.cpp — the leaves an object shows or does: shapes, lights, cameras and
// sounds; their constructors, the cone and cylinder builders, chains of
// leaves on objects and the searches over them.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scene/camerapriv.h"
#include "scene/objectpriv.h"
#include "scene/scene.h"
#include "scene/subtree.h"

namespace {

// The radians of the default spot cut-off and perspective height angle.
constexpr float kQuarterPi = 0.785398f;

bool isShapeType(int type) { return type >= ZV_LEAF_TEXT && type <= ZV_LEAF_SPHERE; }
bool isLightType(int type) { return type >= ZV_LEAF_POINT_LIGHT && type <= ZV_LEAF_DIRECTIONAL_LIGHT; }
bool isCameraType(int type) {
  return type == ZV_LEAF_ORTHOGRAPHIC_CAMERA || type == ZV_LEAF_PERSPECTIVE_CAMERA;
}
bool isCircleType(int type) {
  return type == ZV_LEAF_CONE_BOTTOM || type == ZV_LEAF_CYLINDER_BOTTOM ||
         type == ZV_LEAF_CYLINDER_TOP || type == ZV_LEAF_CIRCLE;
}

}  // namespace

namespace {

constexpr size_t kFaceAlign = alignof(ZvFace);
constexpr size_t kFaceBlockHeader = (sizeof(ZvFaceBlock) + kFaceAlign - 1) / kFaceAlign * kFaceAlign;
// Room at the end of every block for the one material record its faces may
// share (zvPlaceFaceBlockMaterial).
constexpr size_t kSharedMaterialBytes = (4 * sizeof(ZvSFColor) + 2 * sizeof(float) + kFaceAlign - 1) / kFaceAlign * kFaceAlign;

void dropFaceShare(ZvFaceBlock* block) {
  if (--block->shares == 0) zvFree(block);
}

// A material count of 0 is a face of a block that shares the block's record.
bool validFaceCounts(int normalCount, int vertexCount, int uvCount, int materialCount) {
  return normalCount >= 1 && vertexCount >= 1 && uvCount >= 1 && materialCount >= 0;
}

// The arrays of a face whose header is in place, right after it.
void placeFaceArrays(ZvFace* face, int normalCount, int vertexCount, int uvCount) {
  static_assert(sizeof(ZvFace) % alignof(ZvSFVec3f) == 0 && alignof(ZvSFVec2f) <= alignof(ZvSFVec3f));
  face->normals = reinterpret_cast<ZvSFVec3f*>(face + 1);
  face->normalCount = normalCount;
  face->vertices = face->normals + normalCount;
  face->vertexCount = vertexCount;
  face->texture.uv = reinterpret_cast<ZvSFVec2f*>(face->vertices + vertexCount);
  face->texture.uvCount = uvCount;
}

// Lays out a packed face whose block starts at the record: header fields
// set, arrays placed right after it (their contents left to the caller).
ZvFace* layOutPackedFace(void* at, int normalCount, int vertexCount, int uvCount, int materialCount) {
  auto* face = static_cast<ZvFace*>(at);
  std::memset(static_cast<void*>(face), 0, sizeof(ZvFace));
  face->type = ZV_LEAF_FACE;
  face->flags = ZV_LEAF_GOURAUD | ZV_LEAF_PACKED_FACE;
  float identity[6] = {1, 0, 0, 1, 0, 0};
  for (int i = 0; i < 6; ++i) face->texture.transform[i] = identity[i];
  face->faceType = 1;
  placeFaceArrays(face, normalCount, vertexCount, uvCount);
  zvPlacePackedMaterial(face, face->texture.uv + uvCount, materialCount);
  face->material.maxElement = materialCount;
  return face;
}

void freeMaterialArrays(ZvShape* shape) {
  ZvMaterial* m = &shape->material;
  bool packed = shape->flags & ZV_LEAF_PACKED_MATERIAL;
  if (packed) {
    // One block, based at the first array; the others point into it.
    if (!zvMaterialInLeafBlock(shape)) zvFree(m->ambient.values);
    m->ambient.values = nullptr;
    shape->flags &= ~uint32_t(ZV_LEAF_PACKED_MATERIAL);
  }
  ZvMFColor* colors[] = {&m->ambient, &m->diffuse, &m->specular, &m->emissive};
  for (ZvMFColor* c : colors) {
    if (!packed) zvFree(c->values);
    c->values = nullptr;
    c->count = 0;
  }
  ZvMFFloat* floats[] = {&m->shininess, &m->transparency};
  for (ZvMFFloat* f : floats) {
    if (!packed) zvFree(f->values);
    f->values = nullptr;
    f->count = 0;
  }
  zvFree(m->specularPower.values);  // never in the block
  m->specularPower.values = nullptr;
  m->specularPower.count = 0;
}

// Everything a shape owns except what other modules keep about it; shared by
// zvDeleteLeaf and by the builders, whose half-made leaves nobody else has
// seen yet.
void releaseShape(ZvShape* shape, bool tellMedia) {
  if (shape->type == ZV_LEAF_FACE && static_cast<ZvFace*>(shape)->block) {
    // A face of a shared block owns only what was given to it since: a world
    // going away deletes hundreds of thousands of these, so the common case
    // reads the face and writes nothing but the block's count.
    if (zvMaterialInLeafBlock(shape)) {
      zvFree(shape->material.specularPower.values);
    } else {
      freeMaterialArrays(shape);
    }
    if (tellMedia && zvSceneHooks().deleteLeafMedia) zvSceneHooks().deleteLeafMedia(shape);
    dropFaceShare(static_cast<ZvFace*>(shape)->block);
    return;
  }
  freeMaterialArrays(shape);  // before the texture coordinates, which tell where the block is
  if (shape->flags & ZV_LEAF_PACKED_FACE) {
    // The arrays are part of the block freed last.
    auto* face = static_cast<ZvFace*>(shape);
    face->normals = face->vertices = nullptr;
    shape->texture.uv = nullptr;
    shape->texture.uvCount = 0;
  }
  if (tellMedia && zvSceneHooks().deleteLeafMedia) zvSceneHooks().deleteLeafMedia(shape);
  zvDeleteTexture(&shape->texture);
  switch (shape->type) {
    case ZV_LEAF_TEXT:
      zvFree(static_cast<ZvText*>(shape)->text);
      break;
    case ZV_LEAF_FACE: {
      auto* face = static_cast<ZvFace*>(shape);
      zvFree(face->normals);
      zvFree(face->vertices);
      break;
    }
    case ZV_LEAF_LINE_SET: {
      auto* lines = static_cast<ZvLineSet*>(shape);
      zvFree(lines->points);
      zvFree(lines->indices);
      break;
    }
    case ZV_LEAF_POINT_SET: {
      auto* points = static_cast<ZvPointSet*>(shape);
      zvFree(points->indices);
      zvFree(points->points);
      break;
    }
    default:
      break;
  }
  if (shape->type == ZV_LEAF_FACE && static_cast<ZvFace*>(shape)->block)
    dropFaceShare(static_cast<ZvFace*>(shape)->block);
  else
    zvFree(shape);
}

void releaseBuiltChain(ZvLeaf* first) {
  while (first) {
    ZvLeaf* next = first->next;
    releaseShape(static_cast<ZvShape*>(first), false);
    first = next;
  }
}

// Appends to a chain under construction; false when the leaf could not be
// made, so that the builders can undo what they have.
bool appendBuilt(ZvLeaf** head, ZvLeaf** tail, ZvLeaf* leaf) {
  if (!leaf) return false;
  if (*tail)
    (*tail)->next = leaf;
  else
    *head = leaf;
  *tail = leaf;
  return true;
}

}  // namespace

int zvLeafSize(int type) {
  switch (type) {
    case ZV_LEAF_TEXT: return sizeof(ZvText);
    case ZV_LEAF_CONE_SIDE: return sizeof(ZvConeSide);
    case ZV_LEAF_CONE_BOTTOM:
    case ZV_LEAF_CYLINDER_BOTTOM:
    case ZV_LEAF_CYLINDER_TOP:
    case ZV_LEAF_CIRCLE: return sizeof(ZvCircle);
    case ZV_LEAF_CYLINDER_SIDE: return sizeof(ZvCylinderSide);
    case ZV_LEAF_FACE: return sizeof(ZvFace);
    case ZV_LEAF_LINE_SET: return sizeof(ZvLineSet);
    case ZV_LEAF_POINT_SET: return sizeof(ZvPointSet);
    case ZV_LEAF_SPHERE: return sizeof(ZvSphere);
    case ZV_LEAF_POINT_LIGHT:
    case ZV_LEAF_DIRECTIONAL_LIGHT: return sizeof(ZvLight);
    case ZV_LEAF_SPOT_LIGHT: return sizeof(ZvSpotLight);
    case ZV_LEAF_ORTHOGRAPHIC_CAMERA:
    case ZV_LEAF_PERSPECTIVE_CAMERA: return sizeof(ZvCamera);
    case ZV_LEAF_SOUND: return sizeof(ZvSoundLeaf);
    default:
      zvMessageSD("Undefined ZV leaf", type);
      return 0;
  }
}

ZvShape* zvNewShape(int type) {
  // Only shape records have the texture and material this fills in; any other
  // size would be overrun below.
  if (!isShapeType(type)) {
    if (zvLeafSize(type) != 0) zvWarning("zvNewShape: leaf type %d is not a shape\n", type);
    return nullptr;
  }
  auto* shape = static_cast<ZvShape*>(zvMalloc(zvLeafSize(type)));
  if (!shape) {
    zvErrorSD("zvNewShape: zvMalloc failed\n", type);
    return nullptr;
  }
  shape->type = type;
  shape->flags = ZV_LEAF_GOURAUD;
  float identity[6] = {1, 0, 0, 1, 0, 0};
  for (int i = 0; i < 6; ++i) shape->texture.transform[i] = identity[i];
  return shape;
}

ZvText* zvNewTextLeaf(void) {
  auto* text = static_cast<ZvText*>(zvNewShape(ZV_LEAF_TEXT));
  if (!text) return nullptr;
  text->font = {10.0f, 0, 1};
  text->spacing = 1.0f;
  return text;
}

ZvConeSide* zvNewConeSideLeaf(float bottomRadius, float height) {
  auto* side = static_cast<ZvConeSide*>(zvNewShape(ZV_LEAF_CONE_SIDE));
  if (!side) return nullptr;
  side->bottomRadius = bottomRadius;
  side->height = height;
  return side;
}

ZvCircle* zvNewCircleLeaf(int type, float radius, float height) {
  if (!isCircleType(type)) {
    zvWarning("zvNewCircleLeaf: leaf type %d is not a circle\n", type);
    return nullptr;
  }
  auto* circle = static_cast<ZvCircle*>(zvNewShape(type));
  if (!circle) return nullptr;
  circle->radius = radius;
  circle->height = height;
  return circle;
}

ZvCylinderSide* zvNewCylinderSideLeaf(float topRadius, float bottomRadius, float height) {
  auto* side = static_cast<ZvCylinderSide*>(zvNewShape(ZV_LEAF_CYLINDER_SIDE));
  if (!side) return nullptr;
  side->topRadius = topRadius;
  side->bottomRadius = bottomRadius;
  side->height = height;
  return side;
}

ZvFace* zvNewFaceLeaf(void) {
  auto* face = static_cast<ZvFace*>(zvNewShape(ZV_LEAF_FACE));
  if (!face) return nullptr;
  face->faceType = 1;
  return face;
}

size_t zvFaceLeafBytes(int normalCount, int vertexCount, int uvCount, int materialCount) {
  if (!validFaceCounts(normalCount, vertexCount, uvCount, materialCount)) return 0;
  size_t bytes = sizeof(ZvFace) + sizeof(ZvSFVec3f) * (size_t(normalCount) + size_t(vertexCount)) +
                 sizeof(ZvSFVec2f) * size_t(uvCount) + zvPackedMaterialSize(materialCount);
  // Rounded so that the next face in a shared block is aligned.
  return (bytes + kFaceAlign - 1) / kFaceAlign * kFaceAlign;
}

ZvFace* zvNewPackedFaceLeaf(int normalCount, int vertexCount, int uvCount, int materialCount) {
  size_t bytes = materialCount >= 1 ? zvFaceLeafBytes(normalCount, vertexCount, uvCount, materialCount) : 0;
  if (bytes == 0) {
    zvWarning("zvNewPackedFaceLeaf: invalid array length\n");
    return nullptr;
  }
  void* at = zvMalloc(bytes);
  if (!at) {
    zvErrorSD("zvNewShape: zvMalloc failed\n", ZV_LEAF_FACE);
    return nullptr;
  }
  return layOutPackedFace(at, normalCount, vertexCount, uvCount, materialCount);
}

ZvFaceBlock* zvNewFaceBlock(size_t bytes) {
  if (bytes > SIZE_MAX - kFaceBlockHeader - kSharedMaterialBytes) return nullptr;
  auto* block = static_cast<ZvFaceBlock*>(zvMallocUncleared(kFaceBlockHeader + bytes + kSharedMaterialBytes));
  if (!block) return nullptr;
  block->shares = 1;
  block->used = kFaceBlockHeader;
  block->capacity = kFaceBlockHeader + bytes;
  block->material = nullptr;
  return block;
}

int zvPlaceFaceBlockMaterial(ZvFaceBlock* block, ZvFace* model) {
  if (!block || !model || block->material) return ZV_FAIL;
  block->material = reinterpret_cast<char*>(block) + block->capacity;
  zvPlacePackedMaterial(model, block->material, 1);
  model->material.maxElement = 1;
  return ZV_OK;
}

ZvFace* zvPlaceFaceLeaf(ZvFaceBlock* block, int normalCount, int vertexCount, int uvCount, int materialCount) {
  size_t bytes = materialCount >= 1 ? zvFaceLeafBytes(normalCount, vertexCount, uvCount, materialCount) : 0;
  if (!block || bytes == 0 || bytes > block->capacity - block->used) {
    zvWarning("zvPlaceFaceLeaf: invalid array length or block full\n");
    return nullptr;
  }
  ZvFace* face =
      layOutPackedFace(reinterpret_cast<char*>(block) + block->used, normalCount, vertexCount, uvCount, materialCount);
  face->block = block;
  block->used += bytes;
  block->shares++;
  return face;
}

ZvFace* zvPlaceFaceLeafAs(ZvFaceBlock* block, const ZvFace* model, int normalCount, int vertexCount, int uvCount,
                          int materialCount) {
  size_t bytes = zvFaceLeafBytes(normalCount, vertexCount, uvCount, materialCount);
  bool shares = materialCount == 0;
  if (!block || !model || bytes == 0 || bytes > block->capacity - block->used ||
      (shares && (!block->material || model->material.ambient.values != block->material))) {
    zvWarning("zvPlaceFaceLeaf: invalid array length or block full\n");
    return nullptr;
  }
  auto* face = reinterpret_cast<ZvFace*>(reinterpret_cast<char*>(block) + block->used);
  // In two pieces: copied whole, the header is past the size the compiler
  // copies with plain moves and becomes a string instruction, whose start-up
  // cost was most of placing a face.
  constexpr size_t kFirstPiece = 256;
  static_assert(sizeof(ZvFace) > kFirstPiece && sizeof(ZvFace) <= 2 * kFirstPiece);
  std::memcpy(static_cast<void*>(face), model, kFirstPiece);
  std::memcpy(reinterpret_cast<char*>(face) + kFirstPiece, reinterpret_cast<const char*>(model) + kFirstPiece,
              sizeof(ZvFace) - kFirstPiece);
  face->type = ZV_LEAF_FACE;
  face->next = nullptr;
  face->rendering = nullptr;
  face->flags |= ZV_LEAF_PACKED_FACE;
  face->texture.movie = nullptr;
  face->material.specularPower = {};
  placeFaceArrays(face, normalCount, vertexCount, uvCount);
  if (!shares) {
    zvPlacePackedMaterial(face, face->texture.uv + uvCount, materialCount);
    face->material.maxElement = materialCount;
  }
  face->block = block;
  block->used += bytes;
  block->shares++;
  return face;
}

void zvReleaseFaceBlock(ZvFaceBlock* block) {
  if (block) dropFaceShare(block);
}

ZvLineSet* zvNewLineSetLeaf(void) { return static_cast<ZvLineSet*>(zvNewShape(ZV_LEAF_LINE_SET)); }

ZvPointSet* zvNewPointSetLeaf(void) {
  return static_cast<ZvPointSet*>(zvNewShape(ZV_LEAF_POINT_SET));
}

ZvSphere* zvNewSphereLeaf(void) {
  auto* sphere = static_cast<ZvSphere*>(zvNewShape(ZV_LEAF_SPHERE));
  if (!sphere) return nullptr;
  sphere->radius = 1.0f;
  return sphere;
}

namespace {

void initLight(ZvLight* light, int type) {
  light->type = type;
  light->on = 1;
  light->intensity = 1.0f;
  light->color = {1.0f, 1.0f, 1.0f};
}

ZvCamera* newCamera(int type, float height, const char* failure) {
  auto* camera = static_cast<ZvCamera*>(zvMalloc(sizeof(ZvCamera)));
  if (!camera) {
    zvError("%s", failure);
    return nullptr;
  }
  camera->type = type;
  camera->focalDistance = 5.0f;
  camera->height = height;
  return camera;
}

}  // namespace

ZvLight* zvNewPointLight(void) {
  auto* light = static_cast<ZvLight*>(zvMalloc(sizeof(ZvLight)));
  if (!light) {
    zvError("zvNewPointLight: zvMalloc failed\n");
    return nullptr;
  }
  initLight(light, ZV_LEAF_POINT_LIGHT);
  return light;
}

ZvSpotLight* zvNewSpotLight(void) {
  auto* light = static_cast<ZvSpotLight*>(zvMalloc(sizeof(ZvSpotLight)));
  if (!light) {
    zvError("zvNewSpotLight: zvMalloc failed\n");
    return nullptr;
  }
  initLight(light, ZV_LEAF_SPOT_LIGHT);
  light->dropOffRate = 0.0f;
  light->cutOffAngle = kQuarterPi;
  return light;
}

ZvLight* zvNewDirectionalLight(void) {
  auto* light = static_cast<ZvLight*>(zvMalloc(sizeof(ZvLight)));
  if (!light) {
    // No text of its own; what matters is that the run ends on the fatal path.
    zvError("%s", "");
    return nullptr;
  }
  initLight(light, ZV_LEAF_DIRECTIONAL_LIGHT);
  return light;
}

ZvCamera* zvNewOrthographicCameraLeaf(void) {
  return newCamera(ZV_LEAF_ORTHOGRAPHIC_CAMERA, 2.0f,
                   "ZvNewOrthographicCamera: ZvMalloc failed\n");
}

ZvCamera* zvNewPerspectiveCameraLeaf(void) {
  // Both camera constructors have always shared the one failure text.
  return newCamera(ZV_LEAF_PERSPECTIVE_CAMERA, kQuarterPi,
                   "ZvNewOrthographicCamera: ZvMalloc failed\n");
}

ZvSoundLeaf* zvNewSoundLeaf(void) {
  auto* sound = static_cast<ZvSoundLeaf*>(zvMalloc(sizeof(ZvSoundLeaf)));
  if (!sound) {
    zvError("zvNewSoundLeaf: zvMalloc failed\n");
    return nullptr;
  }
  sound->type = ZV_LEAF_SOUND;
  return sound;
}

ZvLeaf* zvNewCone(int parts, float bottomRadius, float height) {
  bool side = parts & (ZV_PART_ALL | ZV_PART_SIDES);
  bool bottom = parts & (ZV_PART_ALL | ZV_PART_BOTTOM);
  ZvLeaf* head = nullptr;
  ZvLeaf* tail = nullptr;
  if ((side && !appendBuilt(&head, &tail, zvNewConeSideLeaf(bottomRadius, height))) ||
      (bottom &&
       !appendBuilt(&head, &tail, zvNewCircleLeaf(ZV_LEAF_CONE_BOTTOM, bottomRadius, height)))) {
    releaseBuiltChain(head);
    return nullptr;
  }
  return head;
}

ZvLeaf* zvNewCylinder(int parts, float topRadius, float bottomRadius, float height) {
  bool all = parts & ZV_PART_ALL;
  bool side = all || (parts & ZV_PART_SIDES);
  bool top = all || (parts & ZV_PART_TOP);
  bool bottom = all || (parts & ZV_PART_BOTTOM);
  ZvLeaf* head = nullptr;
  ZvLeaf* tail = nullptr;
  if ((side &&
       !appendBuilt(&head, &tail, zvNewCylinderSideLeaf(topRadius, bottomRadius, height))) ||
      (top &&
       !appendBuilt(&head, &tail, zvNewCircleLeaf(ZV_LEAF_CYLINDER_TOP, topRadius, height))) ||
      (bottom && !appendBuilt(&head, &tail,
                              zvNewCircleLeaf(ZV_LEAF_CYLINDER_BOTTOM, bottomRadius, height)))) {
    releaseBuiltChain(head);
    return nullptr;
  }
  return head;
}

namespace {

int attachChain(ZvObj* object, ZvLeaf* chain, bool owned) {
  if (!object || !chain) {
    zvWarning("zvAttachLeaf: NULL specified.\n");
    return ZV_FAIL;
  }
  ZvLeaf** end = &object->leaf;
  while (*end) {
    // Attaching a chain twice would close it into a ring that every walk
    // over the leaves would then spin on.
    if (*end == chain) {
      zvWarning("zvAttachLeaf: leaf is already attached.\n");
      return ZV_FAIL;
    }
    end = &(*end)->next;
  }
  if (!owned)
    for (ZvLeaf* leaf = chain; leaf; leaf = leaf->next) leaf->owner = object;
  *end = chain;
  // New geometry: a cube computed before no longer holds.
  object->flags &= ~uint32_t(ZV_OBJ_CUBE_VALID | ZV_OBJ_HAS_CUBE | ZV_OBJ_LEAF_BOX);
  zvInvalidateBoundingCube(object);
  return ZV_OK;
}

}  // namespace

int zvAttachLeaf(ZvObj* object, ZvLeaf* chain) { return attachChain(object, chain, false); }

int zvAttachFaceLeaves(ZvObj* object, ZvLeaf* chain, const float min[3], const float max[3]) {
  bool first = object && !object->leaf;
  // A chain made with its owner already named (zvPlaceFaceLeafAs) is not
  // walked again: for a large set that walk is a miss per face.
  int result = attachChain(object, chain, chain && object && chain->owner == object);
  if (result != ZV_OK || !first || !min || !max) return result;
  std::memcpy(object->leafBoxMin, min, sizeof object->leafBoxMin);
  std::memcpy(object->leafBoxMax, max, sizeof object->leafBoxMax);
  object->flags |= ZV_OBJ_LEAF_BOX;
  return ZV_OK;
}

ZvLeaf* zvDeleteLeaf(ZvLeaf* leaf) {
  if (!leaf) {
    zvWarning("zvDeleteLeaf: NULL leaf pointer argument.\n");
    return nullptr;
  }
  ZvLeaf* next = leaf->next;
  if (leaf->owner) leaf->owner->flags &= ~uint32_t(ZV_OBJ_LEAF_BOX);
  if (isShapeType(leaf->type)) {
    releaseShape(static_cast<ZvShape*>(leaf), true);
  } else if (isLightType(leaf->type) || isCameraType(leaf->type)) {
    // The renderer's lights and the camera table may still refer to these,
    // so the record outlives the chain: a world's camera table takes camera
    // records over and frees them with itself. Otherwise only the links into
    // a chain and an object that are going away are cut.
    // A record that belonged to a world is kept by the world (or its
    // camera table) and freed with it; a loose one is left to its maker.
    ZvWorld* world = leaf->owner ? leaf->owner->world : nullptr;
    if (zvKeepCameraLeaf(leaf)) {
    } else if (world) {
      leaf->owner = nullptr;
      leaf->next = world->keptLeaves;
      world->keptLeaves = leaf;
    } else {
      leaf->next = nullptr;
      leaf->owner = nullptr;
    }
  } else if (leaf->type == ZV_LEAF_SOUND) {
    if (zvSceneHooks().deleteSoundLeaf)
      zvSceneHooks().deleteSoundLeaf(leaf);
    else
      zvFree(leaf);
  } else {
    zvWarning("zvDeleteLeaf: unknown leaf type.\n");
    return nullptr;
  }
  return next;
}

void zvDeleteAllLeaf(ZvLeaf* first) {
  if (!first) {
    zvWarning("zvDeleteAllLeaf: NULL specified.\n");
    return;
  }
  for (ZvLeaf* leaf = first; leaf;) {
    // A chain is a list: each leaf is found only through the one before,
    // so the next one's record is asked for while this one is released.
    if (const char* next = reinterpret_cast<const char*>(leaf->next))
      for (int line = 0; line < 5; ++line) __builtin_prefetch(next + 64 * line);
    leaf = zvDeleteLeaf(leaf);
  }
}

int zvDeleteTexture(ZvTexture* texture) {
  if (!texture) {
    zvWarning("zvDeleteTexture: NULL specified\n");
    return ZV_FAIL;
  }
  if (texture->uvCount != 0) {
    if (!texture->uv) {
      zvWarning("zvDeleteTexture: uv data invalid\n");
      return ZV_FAIL;
    }
    zvFree(texture->uv);
    texture->uv = nullptr;
    texture->uvCount = 0;
  }
  return ZV_OK;
}

int zvIsShapeLeaf(const ZvLeaf* leaf) { return leaf && isShapeType(leaf->type); }
int zvIsLightLeaf(const ZvLeaf* leaf) { return leaf && isLightType(leaf->type); }
int zvIsCameraLeaf(const ZvLeaf* leaf) { return leaf && isCameraType(leaf->type); }
int zvIsShapeObj(const ZvObj* object) { return object && zvIsShapeLeaf(object->leaf); }
int zvIsLightObj(const ZvObj* object) { return object && zvIsLightLeaf(object->leaf); }
int zvIsCameraObj(const ZvObj* object) { return object && zvIsCameraLeaf(object->leaf); }

ZvLeaf* zvFindLeafByType(ZvObj* object, int type) {
  ZvLeaf* found = nullptr;
  int walked = zvWalkSubtree(object, [&](ZvObj* o) {
    for (ZvLeaf* leaf = o->leaf; leaf && !found; leaf = leaf->next)
      if (leaf->type == type) found = leaf;
    return found != nullptr;
  });
  if (walked == ZV_WALK_NOMEM) zvWarning("zvFindLeafByType: tree too deep to search\n");
  return found;
}

ZvLeaf* zvGetNthLeaf(ZvObj* object, int n) {
  if (n < 0) return nullptr;
  ZvLeaf* found = nullptr;
  int walked = zvWalkSubtree(object, [&](ZvObj* o) {
    int i = 0;
    for (ZvLeaf* leaf = o->leaf; leaf && !found; leaf = leaf->next, ++i)
      if (i == n) found = leaf;
    return found != nullptr;
  });
  if (walked == ZV_WALK_NOMEM) zvWarning("zvGetNthLeaf: tree too deep to search\n");
  return found;
}
