// viewpoint.cpp — what a world shows before anyone moves: the box around
// the geometry a user can see at the start, from which the first view of a
// world without a camera is framed.
//
// The model's own bounding cubes count every child of a Switch and every
// level of detail, and give text no size at all; a world built of hidden
// copies, or of words alone, would be framed as something it does not show.
#include <vector>

#include "nav/nav.h"
#include "render/render.h"

namespace {

struct Box {
  float min[3], max[3];
  bool any = false;
  void add(const float p[3]) {
    for (int i = 0; i < 3; ++i) {
      if (!any || p[i] < min[i]) min[i] = p[i];
      if (!any || p[i] > max[i]) max[i] = p[i];
    }
    any = true;
  }
};

// The child a Switch or level of detail shows at the start; -3 all, -1 none.
int shownChild(const ZvObj* o) {
  auto* which = static_cast<const int32_t*>(zvGetObjExtension(o, zvSwitchWhichChild));
  if (o->nodeType == ZV_NODE_LOD) return which ? *which : 0;  // not yet evaluated: the finest level
  return which ? *which : -1;
}

bool textExtent(const ZvText* text, float mn[3], float mx[3]) {
  if (!text->text || !*text->text) return false;
  int lines = 1;
  size_t longest = 0, run = 0;
  for (const char* c = text->text; *c; ++c) {
    if (*c == '\n') {
      ++lines;
      run = 0;
    } else if (++run > longest) {
      longest = run;
    }
  }
  float size = text->font.size, width = float(longest) * 0.6f * size;
  float left = text->justification == 2 ? -width / 2 : text->justification == 4 ? -width : 0;
  mn[0] = left, mx[0] = left + width;
  mx[1] = 0.8f * size;
  mn[1] = -float(lines - 1) * size * text->spacing - 0.2f * size;
  mn[2] = mx[2] = 0;
  return true;
}

void addLeaf(ZvObj* o, Box* box) {
  ZvLeaf* leaf = o->leaf;
  if (!zvIsShapeLeaf(leaf) || !(o->flags & ZV_OBJ_VISIBLE)) return;
  float mn[3], mx[3];
  ZvTransform frame;
  if (leaf->type == ZV_LEAF_TEXT) {
    if (zvRenderGetShapeWorldBounds(leaf, mn, mx) == ZV_OK) {
      box->add(mn), box->add(mx);
      return;
    }
    // Not laid out yet: its lines at an average advance of 0.6 em, the
    // first standing on y = 0, the rest below it.
    if (!textExtent(static_cast<ZvText*>(leaf), mn, mx) || zvGetObjectDrawnWRT(o, &frame) != ZV_OK) return;
  } else {
    // The own cube is in the frame of the world transform.
    if (zvGetObjBoundingCube(o, mn, mx) != ZV_OK) return;
    frame = *zvGetObjectWRT(o);
  }
  const ZvTransform* wrt = &frame;
  for (int corner = 0; corner < 8; ++corner) {
    const float p[3] = {corner & 1 ? mx[0] : mn[0], corner & 2 ? mx[1] : mn[1], corner & 4 ? mx[2] : mn[2]};
    float q[3];
    zvTransformPoint(wrt, p, q);
    box->add(q);
  }
}

}  // namespace

int zvNavVisibleBounds(ZvWorld* world, float min[3], float max[3]) {
  if (!world || !min || !max) return ZV_FAIL;
  Box box;
  std::vector<ZvObj*> pending;
  ZvTopObjList* cursor = world->topObjects;
  while (ZvObj* o = zvNextTopObject(&cursor))
    if (o != world->person) pending.push_back(o);
  while (!pending.empty()) {
    ZvObj* o = pending.back();
    pending.pop_back();
    if (o->nodeType == ZV_NODE_SWITCH || o->nodeType == ZV_NODE_LOD) {
      if (!(o->flags & ZV_OBJ_VISIBLE)) continue;
      int shown = shownChild(o), i = 0;
      for (ZvObjList* c = o->children; c; c = c->next, ++i)
        if (c->object && (shown == -3 || shown == i)) pending.push_back(c->object);
      continue;
    }
    if (o->children) {
      for (ZvObjList* c = o->children; c; c = c->next)
        if (c->object) pending.push_back(c->object);
      continue;
    }
    if (o->leaf) addLeaf(o, &box);
  }
  if (!box.any) return ZV_FAIL;
  for (int i = 0; i < 3; ++i) min[i] = box.min[i], max[i] = box.max[i];
  return ZV_OK;
}
