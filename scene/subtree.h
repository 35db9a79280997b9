// subtree.h — depth-first walks over an object and its descendants for the
// leaf searches and the material accessors. The walk keeps its own stack, so
// a world nested deeper than the thread stack is searched like any other.
#pragma once

#include "scene/scene.h"
#include "scene/walkstack.h"

enum { ZV_WALK_DONE = 0, ZV_WALK_STOPPED = 1, ZV_WALK_NOMEM = -1 };

// Calls visit(object) on root, then on each child's subtree in order, until
// visit answers true (ZV_WALK_STOPPED). A child cell without an object is
// passed over.
template <typename Visit>
int zvWalkSubtree(ZvObj* root, Visit&& visit) {
  if (!root) return ZV_WALK_DONE;
  if (visit(root)) return ZV_WALK_STOPPED;
  ZvWalkStack<ZvObjList*> pending;
  if (!pending.push(root->children)) return ZV_WALK_NOMEM;
  while (!pending.empty()) {
    if (!pending.top()) {
      pending.pop();
      continue;
    }
    ZvObj* child = zvNextChild(&pending.top());
    if (!child) continue;
    if (visit(child)) return ZV_WALK_STOPPED;
    if (child->children && !pending.push(child->children)) return ZV_WALK_NOMEM;
  }
  return ZV_WALK_DONE;
}
