// names.cpp — finding objects by name. Scripts and anchors address objects
// with dotted paths ("house.door.handle"); each step picks the first child
// with that name, so duplicate names are legal and the earlier one wins.
#include <cstring>

#include "scene/scene.h"
#include "scene/subtree.h"

namespace {

// One segment of a dotted path. A single '.' in front of it is a separator
// and is skipped, so ".a", "a." and "a" all name the same thing, while "a..b"
// holds an empty segment between the dots that no real name matches.
struct Segment {
  const char* text;
  size_t length;
};

// Reads the next segment at *cursor and advances past it; false when the
// path is used up.
bool nextSegment(const char** cursor, Segment* segment) {
  const char* p = *cursor;
  if (*p == '.') ++p;
  if (*p == '\0') {
    *cursor = p;
    return false;
  }
  const char* end = std::strchr(p, '.');
  if (!end) end = p + std::strlen(p);
  segment->text = p;
  segment->length = static_cast<size_t>(end - p);
  *cursor = end;
  return true;
}

bool nameEquals(const ZvObj* object, const char* text, size_t length) {
  const char* name = object->strings[ZV_STR_NAME];
  return name && std::strncmp(name, text, length) == 0 && name[length] == '\0';
}

bool nameEquals(const ZvObj* object, const char* name) {
  return nameEquals(object, name, std::strlen(name));
}

ZvObj* childNamed(ZvObj* parent, const Segment& segment) {
  ZvObjList* cursor = parent->children;
  while (cursor) {
    ZvObj* child = zvNextChild(&cursor);
    if (child && nameEquals(child, segment.text, segment.length)) return child;
  }
  return nullptr;
}

ZvObj* resolveBelow(ZvObj* root, const char* path) {
  ZvObj* current = root;
  Segment segment;
  while (nextSegment(&path, &segment)) {
    current = childNamed(current, segment);
    if (!current) return nullptr;
  }
  return current;
}

// Pre-order: the object itself, then each child's subtree in child order.
ZvObj* searchSubtree(ZvObj* root, const char* name) {
  ZvObj* found = nullptr;
  int r = zvWalkSubtree(root, [&](ZvObj* o) {
    if (!nameEquals(o, name)) return false;
    found = o;
    return true;
  });
  if (r == ZV_WALK_NOMEM) zvWarning("zvFindObjByName: cannot allocate memory.");
  return found;
}

}  // namespace

const char* zvNameObject(ZvObj* object, const char* name) {
  if (!object || !name) return nullptr;
  // The old name stays when the copy fails, so a failed rename loses nothing.
  char* copy = zvStrdup(name);
  if (!copy) return nullptr;
  zvFree(object->strings[ZV_STR_NAME]);
  object->strings[ZV_STR_NAME] = copy;
  return copy;
}

const char* zvGetObjName(const ZvObj* object) {
  for (const ZvObj* o = object; o; o = o->parent)
    if (o->strings[ZV_STR_NAME]) return o->strings[ZV_STR_NAME];
  return nullptr;
}

const char* zvGetObjComment(const ZvObj* object) {
  for (const ZvObj* o = object; o; o = o->parent)
    if (o->strings[ZV_STR_COMMENT]) return o->strings[ZV_STR_COMMENT];
  return nullptr;
}

ZvObj* zvGetObjByName(const char* path) { return zvGetObjByNameInWorld(zvGetCurrentWorld(), path); }

ZvObj* zvGetObjByNameInWorld(ZvWorld* world, const char* path) {
  if (!world || !path) return nullptr;
  Segment first;
  if (!nextSegment(&path, &first)) return nullptr;
  ZvTopObjList* cursor = world->topObjects;
  while (cursor) {
    ZvObj* top = zvNextTopObject(&cursor);
    if (top && nameEquals(top, first.text, first.length)) return resolveBelow(top, path);
  }
  return nullptr;
}

ZvObj* zvGetObjByPath(ZvObj* root, const char* path) {
  if (!root || !path) return nullptr;
  return resolveBelow(root, path);
}

ZvObj* zvFindObjByName(ZvObj* root, const char* name) {
  if (!root || !name) return nullptr;
  if (root->children) return searchSubtree(root, name);
  if (nameEquals(root, name)) return root;
  // A childless object widens the search to the siblings that follow it, so
  // a search started from a shape object still reaches the rest of its group.
  if (!root->parent) return nullptr;
  ZvObjList* cursor = root->parent->children;
  bool after = false;
  while (cursor) {
    ZvObj* sibling = zvNextChild(&cursor);
    if (!sibling) continue;
    if (!after) {
      after = sibling == root;
      continue;
    }
    if (ZvObj* found = searchSubtree(sibling, name)) return found;
  }
  return nullptr;
}
