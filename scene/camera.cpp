// camera.cpp — the camera table of a world: which camera objects the world
// knows under which identifier, and which one the renderer draws through.
// It also keeps the camera leaf records that zvDeleteLeaf spares, so that a
// world with a table leaks none of them when it goes.
#include "scene/camerapriv.h"
#include "scene/scene.h"

namespace {

ZvCameraTable* tableOf(ZvWorld* world, const char* who) {
  if (!world) {
    zvWarning("%s : pointer to world is NULL", who);
    return nullptr;
  }
  if (!world->cameras) zvWarning("%s : there is no camera table", who);
  return world->cameras;
}

ZvCameraList* findEntry(ZvCameraTable* table, int id) {
  for (ZvCameraList* e = table->entries; e; e = e->next)
    if (e->id == id) return e;
  return nullptr;
}

ZvObj* nthChild(ZvObj* object, int n) {
  int i = 0;
  for (ZvObjList* c = object->children; c; c = c->next, ++i)
    if (i == n) return c->object;
  return nullptr;
}

}  // namespace

int zvSetCameraTableToWorld(ZvWorld* world) {
  if (!world) {
    zvWarning("zvSetCameraTableToWorld : pointer to world is NULL");
    return ZV_FAIL;
  }
  if (world->cameras) {
    zvWarning("zvSetCameraTableToWorld : camera table is already exists");
    return ZV_FAIL;
  }
  auto* table = static_cast<ZvCameraTable*>(zvMalloc(sizeof(ZvCameraTable)));
  if (!table) {
    zvError("zvSetCameraTableToWorld : cannot allocate memory");
    return ZV_NOMEM;
  }
  table->activeId = 1;
  world->cameras = table;
  return ZV_OK;
}

ZvCameraList* zvNewZvCameraList(int id, ZvObj* camera) {
  auto* entry = static_cast<ZvCameraList*>(zvMalloc(sizeof(ZvCameraList)));
  if (!entry) {
    zvError("zvNewZvCameraList : cannot allocate memory");
    return nullptr;
  }
  entry->id = id;
  entry->camera = camera;
  return entry;
}

int zvReginsterToCameraTable(ZvObj* camera, int id) {
  if (!camera || !camera->world) {
    zvWarning("zvReginsterToCameraTable : NULL obj or pointer to world is NULL");
    return ZV_FAIL;
  }
  ZvWorld* world = camera->world;
  if (!world->cameras) {
    int r = zvSetCameraTableToWorld(world);
    if (r != ZV_OK) return r;
  }
  ZvCameraTable* table = world->cameras;
  if (ZvCameraList* entry = findEntry(table, id)) {
    entry->camera = camera;
    return ZV_OK;
  }
  ZvCameraList* entry = zvNewZvCameraList(id, camera);
  if (!entry) return ZV_NOMEM;
  ZvCameraList** tail = &table->entries;
  while (*tail) tail = &(*tail)->next;
  *tail = entry;
  return ZV_OK;
}

int zvSetActiveCameraID(ZvWorld* world, int id) {
  ZvCameraTable* table = tableOf(world, "zvSetActiveCameraID");
  if (!table || !findEntry(table, id)) return ZV_FAIL;
  table->activeId = id;
  return ZV_OK;
}

int zvGetActiveCameraID(ZvWorld* world) {
  ZvCameraTable* table = tableOf(world, "zvGetActiveCameraID");
  if (!table) return ZV_FAIL;
  // Scripts can poke the record; only the identifiers in use mean anything.
  return table->activeId >= 0 && table->activeId <= 3 ? table->activeId : 0;
}

ZvObj* zvGetCameraFromCameraTable(ZvWorld* world, int id) {
  ZvCameraTable* table = tableOf(world, "zvGetCameraFromCameraTable");
  if (!table) return nullptr;
  ZvCameraList* entry = findEntry(table, id);
  return entry ? entry->camera : nullptr;
}

int zvDeleteCameraFromCameraTable(ZvWorld* world, int id) {
  ZvCameraTable* table = tableOf(world, "zvDeleteCameraFromCameraTable");
  if (!table) return ZV_FAIL;
  for (ZvCameraList** link = &table->entries; *link; link = &(*link)->next)
    if ((*link)->id == id) {
      ZvCameraList* entry = *link;
      *link = entry->next;
      zvFree(entry);
      return ZV_OK;
    }
  zvWarning("zvDeleteCameraFromCameraTable : specified camera is not found");
  return ZV_FAIL;
}

int zvFreeCameraTable(ZvWorld* world) {
  ZvCameraTable* table = tableOf(world, "zvFreeCameraTable");
  if (!table) return ZV_FAIL;
  while (ZvCameraList* entry = table->entries) {
    table->entries = entry->next;
    zvFree(entry);
  }
  while (ZvLeaf* leaf = table->kept) {
    table->kept = leaf->next;
    zvFree(leaf);
  }
  zvFree(table);
  world->cameras = nullptr;
  return ZV_OK;
}

ZvObj* zvGetActiveCamera(ZvWorld* world) {
  ZvCameraTable* table = tableOf(world, "zvGetActiveCamera");
  if (!table) return nullptr;
  ZvCameraList* entry = findEntry(table, zvGetActiveCameraID(world));
  ZvObj* object = entry ? entry->camera : nullptr;
  if (!object || zvIsCameraObj(object)) return object;
  if (object->nodeType == ZV_NODE_SWITCH || !object->children) return nullptr;
  auto* which = static_cast<int32_t*>(zvGetObjExtension(object, zvSwitchWhichChild));
  if (!which) return nullptr;
  return nthChild(object, *which == -3 ? 0 : *which);
}

void zvForgetCameraObj(ZvWorld* world, ZvObj* object) {
  if (!world || !world->cameras) return;
  for (ZvCameraList** link = &world->cameras->entries; *link;) {
    ZvCameraList* entry = *link;
    if (entry->camera == object) {
      *link = entry->next;
      zvFree(entry);
    } else {
      link = &entry->next;
    }
  }
}

bool zvKeepCameraLeaf(ZvLeaf* leaf) {
  ZvWorld* world = leaf && leaf->owner ? leaf->owner->world : nullptr;
  if (!world || !world->cameras || !zvIsCameraLeaf(leaf)) return false;
  leaf->owner = nullptr;
  leaf->next = world->cameras->kept;
  world->cameras->kept = leaf;
  return true;
}
