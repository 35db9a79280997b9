// objectpriv.h — object operations for the model's own use only.
#pragma once

#include "scene/scene.h"

// Unlinks and deletes the subtree without asking the renderer first: for a
// world that is being cleared whatever its objects' structures say.
int zvDeleteZvObjContents(ZvObj* object);

// A new or cleared world starts with one empty range; a world going away
// stops being the one the range calls without a world act on.
void zvResetWorldIdCounters(ZvWorld* world);
void zvForgetIdRangesOf(ZvWorld* world);

// Packed material arrays (ZV_LEAF_PACKED_MATERIAL): the bytes n elements
// take, and laying them out in such a block.
size_t zvPackedMaterialSize(int n);
inline void zvPlacePackedMaterial(ZvShape* shape, void* block, int n) {
  ZvMaterial* m = &shape->material;
  ZvSFColor* c = static_cast<ZvSFColor*>(block);
  m->ambient = {n, c};
  m->diffuse = {n, c + n};
  m->specular = {n, c + 2 * n};
  m->emissive = {n, c + 3 * n};
  float* f = reinterpret_cast<float*>(c + 4 * n);
  m->shininess = {n, f};
  m->transparency = {n, f + n};
  shape->flags |= ZV_LEAF_PACKED_MATERIAL;
}
// A shared block of faces: the header, then the faces one after another,
// each followed by its arrays, and past capacity the room for one material
// record the faces may share. Every placed face holds a share, and so does
// the maker until it releases the block.
struct ZvFaceBlock {
  size_t shares;
  size_t used;      // bytes taken, from the start of the block
  size_t capacity;  // bytes for faces, from the start of the block
  void* material;   // the shared record once placed, or null
};

// A packed face may carry its packed material in its own block, right
// after the texture coordinates, or share its shared block's record; such
// a block is never freed on its own.
inline bool zvMaterialInLeafBlock(const ZvShape* shape) {
  if (!(shape->flags & ZV_LEAF_PACKED_FACE) || !(shape->flags & ZV_LEAF_PACKED_MATERIAL)) return false;
  // A block of its own cannot start where the leaf's block goes on.
  const void* values = shape->material.ambient.values;
  if (values == static_cast<const void*>(shape->texture.uv + shape->texture.uvCount)) return true;
  const ZvFaceBlock* block = shape->type == ZV_LEAF_FACE ? static_cast<const ZvFace*>(shape)->block : nullptr;
  return block && block->material && values == block->material;
}

// Like zvMalloc, through the same allocator, but not zero-filled: for
// blocks whose maker writes every byte that is ever read.
void* zvMallocUncleared(size_t size);
