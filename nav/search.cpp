// search.cpp — the nearest object along a segment, through the object tree:
// bounding cubes first, so that whole subtrees behind a known hit (or off
// the segment) are never opened. Gravity and collision ask this every frame.
#include <algorithm>
#include <vector>

#include "nav/navpriv.h"

using namespace zvnav;

namespace {

struct Result {
  float distance;
  ZvObj* object;
  ZvLeaf* leaf;
  int part;
};

// The children of a switch or level of detail that are searched: the one
// chosen, all for -3, none for no choice.
bool chosenChild(const ZvObj* parent, int index) {
  if (parent->nodeType != ZV_NODE_SWITCH && parent->nodeType != ZV_NODE_LOD) return true;
  auto* which = static_cast<int32_t*>(zvGetObjExtension(parent, zvSwitchWhichChild));
  // A level of detail not yet evaluated shows its first child.
  int chosen = which ? *which : parent->nodeType == ZV_NODE_LOD ? 0 : -1;
  return chosen == -3 || chosen == index;
}

// Depth first with a stack of our own: generated worlds nest deeper than
// the thread's stack would allow.
void search(std::vector<ZvObj*>& pending, const float start[3], const float end[3], Result* best,
            const ZvObj* skip) {
  while (!pending.empty()) {
    ZvObj* o = pending.back();
    pending.pop_back();
    if (!o || o == skip) continue;
    float boxT;
    float boxPoint[3];
    if (!zvIntersectLineAndObjBox(start, end, o, &boxT, boxPoint)) continue;
    if (best->distance != -1.0f && boxT >= best->distance) continue;
    if (o->children) {
      size_t at = pending.size();
      int i = 0;
      for (ZvObjList* c = o->children; c; c = c->next, ++i)
        if (c->object && chosenChild(o, i)) pending.push_back(c->object);
      // Pushed in order; reversed so that the first child is searched first.
      for (size_t a = at, b = pending.size(); a + 1 < b; ++a, --b) std::swap(pending[a], pending[b - 1]);
      continue;
    }
    if (!o->leaf) {
      *best = Result{boxT, o, nullptr, 0};
      continue;
    }
    float d = best->distance;
    ZvLeaf* leaf = nullptr;
    int part = 0;
    if (zvIntersectLineAndLeafObj(start, end, &d, o, &leaf, &part, nullptr)) *best = Result{d, o, leaf, part};
  }
}

ZvObj* finish(const Result& best, const float start[3], const float end[3], float* distance, ZvObj** object,
              ZvLeaf** leaf, int* part, float point[3]) {
  if (!best.object) return nullptr;
  float t = best.distance < 0 ? 0 : best.distance;
  if (distance) *distance = t;
  if (object) *object = best.object;
  if (leaf) *leaf = best.leaf;
  if (part) *part = best.part;
  if (point) pointAt(start, end, t, point);
  return best.object;
}

Result startFrom(const float* distance) {
  Result r{distance && *distance >= 0 ? *distance : -1.0f, nullptr, nullptr, 0};
  return r;
}

}  // namespace

ZvObj* zvFindZvObjByLine(ZvObjList* objects, const float start[3], const float end[3], float* distance,
                         ZvObj** object, ZvLeaf** leaf, int* part, float point[3]) {
  if (!start || !end) return nullptr;
  Result best = startFrom(distance);
  std::vector<ZvObj*> pending;
  for (ZvObjList* c = objects; c; c = c->next) pending.push_back(c->object);
  std::reverse(pending.begin(), pending.end());
  search(pending, start, end, &best, nullptr);
  return finish(best, start, end, distance, object, leaf, part, point);
}

ZvObj* zvFindZvObjByPerson(ZvWorld* world, const float start[3], const float end[3], float* distance,
                           ZvObj** object, ZvLeaf** leaf, int* part, float point[3]) {
  if (!world) {
    zvWarning("zvFindZvObjByPerson: world is NULL");
    return nullptr;
  }
  if (!start || !end) return nullptr;
  // The top-level object that holds the person is never in the way.
  ZvObj* own = world->person;
  while (own && own->parent) own = own->parent;
  Result best = startFrom(distance);
  std::vector<ZvObj*> pending;
  for (ZvTopObjList* t = world->topObjects; t; t = t->next)
    if (t->object != own) pending.push_back(t->object);
  std::reverse(pending.begin(), pending.end());
  search(pending, start, end, &best, own);
  return finish(best, start, end, distance, object, leaf, part, point);
}
