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
void zvPlacePackedMaterial(ZvShape* shape, void* block, int n);
// A packed face may carry its packed material in its own block, right
// after the texture coordinates; that block is never freed on its own.
bool zvMaterialInLeafBlock(const ZvShape* shape);

// Like zvMalloc, through the same allocator, but not zero-filled: for
// blocks whose maker writes every byte that is ever read.
void* zvMallocUncleared(size_t size);
