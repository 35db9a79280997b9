// renderpriv.h — what the bridge's files share and nobody else needs: the
// report helpers, the subtree walk, the scratch-matrix bracket and the
// module settings.
#pragma once

#include <vector>

#include "render/render.h"

// "%s : %s" through zvError or zvWarning; both answer -1 so that a failing
// step can return what they say.
int zvRenderError(const char* who, const char* what);
int zvRenderWarning(const char* who, const char* what);

// The world's structure for an object, or null.
ZvRenderingStruct* zvRenderStructOfObj(const ZvObj* object);

// The local file behind a URL cache entry, fetched on demand; null when the
// entry is null or no file can be had (a missing image counts as absent).
const char* zvRenderLocalFile(ZvUrlHash* entry);

// The leaf's 1-based position in its object's leaf chain.
int32_t zvRenderLeafPosition(const ZvLeaf* leaf);

// Applies the module's view size as a camera's viewport.
int zvRenderApplyViewSize(RwCamera* camera);

// Depth-first over the object and its descendants, parents first, with a
// stack of our own: worlds from generators nest deeper than the thread stack.
// Stops when visit answers false; answers whether the walk ran to its end.
template <typename Visit>
bool zvRenderWalk(ZvObj* root, Visit&& visit) {
  if (!root) return true;
  std::vector<ZvObj*> pending{root};
  while (!pending.empty()) {
    ZvObj* o = pending.back();
    pending.pop_back();
    if (!visit(o)) return false;
    size_t at = pending.size();
    for (ZvObjList* c = o->children; c; c = c->next)
      if (c->object) pending.push_back(c->object);
    // Children were pushed in order; reverse them so the first is visited first.
    for (size_t i = at, j = pending.size(); i + 1 < j; ++i, --j) std::swap(pending[i], pending[j - 1]);
  }
  return true;
}

// A scratch matrix holding the object's world transform, popped on every
// path; ok() is false (and the failure reported under who) when it could
// not be pushed or filled. Shapes ask for the drawn frame, which carries
// the object's Scale; lights, cameras and the box marker do not.
class ZvScratchWRT {
 public:
  ZvScratchWRT(ZvObj* object, const char* who, bool drawn = false);
  ~ZvScratchWRT();
  ZvScratchWRT(const ZvScratchWRT&) = delete;
  ZvScratchWRT& operator=(const ZvScratchWRT&) = delete;
  bool ok() const { return matrix_ != nullptr; }
  RwMatrix* matrix() const { return matrix_; }
  // Pops now; false (reported) when the library refuses.
  bool pop();

 private:
  const char* who_;
  RwMatrix* matrix_ = nullptr;
  bool pushed_ = false;
};

// Drops every queued pending texture of the object, so that a destroyed
// object is never textured later.
void zvRenderForgetPendingTexturesOf(ZvObj* object);
// The same for every object of a world whose structure goes: its objects
// are deleted afterwards without the bridge being asked.
void zvRenderForgetPendingTexturesOfWorld(const ZvWorld* world);

// Face-set construction keeps the first computed material on the clump being
// built; the face material setter reads it back for the faces that follow.
struct ZvRenderKeptMaterial {
  RwClump* clump;
  bool valid;
  ZvRenderMaterial material;
};
ZvRenderKeptMaterial& zvRenderKeptMaterial(void);

// Reports the step under who when ok is 0; answers whether it went well.
inline bool zvRenderCheck(int ok, const char* who, const char* what) {
  if (ok) return true;
  zvRenderError(who, what);
  return false;
}

// A pixel offset truncated to an integer, held within a range that the
// window arithmetic around it cannot overflow (NaN gives the low end): a
// point far off to the side lands far off the window, not anywhere.
inline int zvRenderTruncate(float v) {
  constexpr float kLimit = 1e8f;
  return int(v < kLimit ? (v > -kLimit ? v : -kLimit) : (v == v ? kLimit : -kLimit));
}

// Whether the object is hidden (shown bit 0x800 clear).
inline bool zvRenderHidden(const ZvObj* object) { return !(object->flags & ZV_OBJ_VISIBLE); }

// The common finish of a shape clump: switched off when the object is
// hidden, stored as the leaf's handle, tagged with the leaf's position, the
// object as data, placed by matrix (or the object's world transform when
// null), given the leaf's material, the object's texture when texture is
// set, and added to the scene. A clump that failed before joining the
// scene is destroyed and the handle cleared.
int zvRenderFinishShape(ZvLeaf* leaf, RwClump* clump, const char* who, const RwMatrix* matrix, bool texture,
                        const char* addFailure);

// One primitive in a modelling bracket: translated by (tx, ty, tz), emitted
// by emit() (which reports its own failure and answers false), into a clump
// of its own. Null after a reported failure; modelling is always ended.
template <typename Emit>
RwClump* zvRenderModel(const char* who, float tx, float ty, float tz, Emit&& emit) {
  if (!rwModelBegin()) {
    zvRenderError(who, "cannot begin modeling");
    return nullptr;
  }
  RwClump* clump = nullptr;
  if ((tx != 0 || ty != 0 || tz != 0) && !rwTranslateCTM(tx, ty, tz)) {
    zvRenderError(who, "cannot translate CTM");
  } else if (!rwClumpBegin()) {
    zvRenderError(who, "cannot begin clump definition");
  } else {
    bool ok = emit();
    clump = rwClumpEnd();
    if (!clump) {
      if (ok) zvRenderError(who, "cannot end clump definition");
    } else if (!ok) {
      rwDestroyClump(clump);
      clump = nullptr;
    }
  }
  if (!rwModelEnd()) {
    zvRenderError(who, "cannot end modeling");
    if (clump) rwDestroyClump(clump);
    clump = nullptr;
  }
  return clump;
}
