// world.cpp — one ZvWorld per loaded URL: its top objects, identifier
// table, settings read from the file, and the exit handlers through which
// other subsystems release what they hung on it.
#include <cstdio>
#include <cstring>
#include <string>

#include "scene/scene.h"
#include "scene/objectpriv.h"

namespace {

ZvWorld* currentWorld = nullptr;

// Everything a world holds, released in the order the rest of the program
// expects: exit handlers first (they may still look at the objects), the
// viewer and the script context last.
int clearContents(ZvWorld* world) {
  ZvSceneHooks& hooks = zvSceneHooks();
  int result = ZV_OK;
  while (world->exitHandlerCount > 0) {
    ZvWorldExitHandler h = world->exitHandlers[--world->exitHandlerCount];
    world->exitHandlers[world->exitHandlerCount] = nullptr;
    if (h) h(world);
  }
  world->person = nullptr;
  while (ZvTopObjList* c = world->topObjects) {
    ZvObj* top = c->object;
    if (top && zvDeleteZvObj(top) == ZV_OK) continue;
    // A subsystem refused to let go of something. The world is going all
    // the same: take the subtree down without asking again.
    result = ZV_FAIL;
    if (world->topObjects == c) {
      if (top)
        zvDeleteZvObjContents(top);
      if (world->topObjects == c) {
        world->topObjects = c->next;
        zvFree(c->file);
        zvFree(c);
      }
    }
  }
  world->lastTopObject = nullptr;
  zvFree(world->ownedText);
  world->ownedText = nullptr;
  world->flag = 0;
  zvFree(world->title);
  world->title = nullptr;
  zvFree(world->ownedPointer);
  world->ownedPointer = nullptr;
  world->backgroundTexture = nullptr;  // an entry of the URL table, gone with it
  if (hooks.resetWorldSound) hooks.resetWorldSound(world);
  zvClearZvMFObj(&world->worldIn);
  zvClearZvMFObj(&world->worldOut);
  zvClearZvMFObj(&world->frame);
  // After the objects: their camera leaves have gone to the table by now.
  if (world->cameras) zvFreeCameraTable(world);
  if (hooks.deleteCameraTable) hooks.deleteCameraTable(world);
  if (hooks.deleteWorldTasks) hooks.deleteWorldTasks(world);
  zvDeleteHash(world->idHash);
  world->idHash = nullptr;
  if (world->viewer && hooks.renderCloseViewer && hooks.renderCloseViewer(world) != 0) result = ZV_FAIL;
  if (world->script && hooks.scriptDelete) {
    int r = hooks.scriptDelete(world);
    if (r != ZV_OK) result = r;
  }
  world->topObjectCount = 0;
  world->objectCount = 0;
  std::memset(world->counters, 0, sizeof world->counters);
  zvClearZvMFObj(&world->lods);
  while (ZvLeaf* kept = world->keptLeaves) {
    world->keptLeaves = kept->next;
    zvFree(kept);
  }
  if (hooks.deleteNavigation) hooks.deleteNavigation(world);
  if (hooks.emptyWorldSoundList) hooks.emptyWorldSoundList(world);
  zvFree(world->url);
  world->url = nullptr;
  return result;
}

}  // namespace

ZvWorld* zvGetCurrentWorld(void) { return currentWorld; }
void zvSetCurrentWorld(ZvWorld* world) { currentWorld = world; }

int zvAddWorldExitHandler(ZvWorld* world, ZvWorldExitHandler handler) {
  if (!world || !handler || world->exitHandlerCount >= ZV_WORLD_EXIT_HANDLERS) return ZV_FAIL;
  world->exitHandlers[world->exitHandlerCount++] = handler;
  return ZV_OK;
}

int zvInitWorld(ZvWorld* world, uint32_t buckets, const char* url) {
  if (!world) return ZV_FAIL;
  ZvSceneHooks& hooks = zvSceneHooks();
  int result = ZV_OK;
  world->exitHandlerCount = 0;
  world->topObjects = nullptr;
  world->lastTopObject = nullptr;
  world->topObjectCount = 0;
  world->objectCount = 0;
  world->viewerSpeed = 0.1f;
  world->url = zvStrdup(url ? url : "");
  if (!world->url) {
    zvWarning("zvInitWorld: zvStrdup failed");
    result = ZV_NOMEM;
  }
  world->worldIn = world->worldOut = world->frame = ZvMFObj{};
  if (hooks.newUrlTable && hooks.newUrlTable(world) == ZV_OK && hooks.deleteUrlTable)
    zvAddWorldExitHandler(world, hooks.deleteUrlTable);
  zvResetWorldIdCounters(world);
  std::memset(world->bboxMin, 0, sizeof world->bboxMin);
  std::memset(world->bboxMax, 0, sizeof world->bboxMax);
  zvTransformIdentity(&world->home);
  if (zvNewHash(buckets ? buckets : uint32_t(ZV_WORLD_ID_BUCKETS), &world->idHash, zvIdHashFunc) != ZV_OK) {
    zvWarning("zvInitWorld: zvNewHash failed\n");
    result = ZV_NOMEM;
  }
  if (hooks.initWorldEvents) hooks.initWorldEvents(world);
  if (hooks.scriptInit && hooks.scriptInit(world) != ZV_OK) zvWarning("zvInitWorld: zvScriptInit failed");
  return result;
}

ZvWorld* zvNewWorld(const char* url) {
  ZvWorld* world = static_cast<ZvWorld*>(zvMalloc(sizeof(ZvWorld)));
  if (!world) {
    zvError("zvNewWorld() : can not allocate memory for ZvWorld.");
    return nullptr;
  }
  if (zvInitWorld(world, ZV_WORLD_ID_BUCKETS, url) != ZV_OK) {
    // A world without its identifier table or URL cannot hold objects.
    clearContents(world);
    zvFree(world);
    zvError("zvNewWorld() : can not allocate memory for ZvWorld.");
    return nullptr;
  }
  zvUseIdRangesOf(world);
  return world;
}

int zvDeleteWorld(ZvWorld* world) {
  if (!world) return ZV_OK;
  if (clearContents(world) != ZV_OK) {
    zvWarning("zvDeleteWorld : fail to delete contents.");
    return ZV_FAIL;
  }
  if (currentWorld == world) currentWorld = nullptr;
  zvForgetIdRangesOf(world);
  zvFree(world);
  return ZV_OK;
}

int zvClearWorld(ZvWorld* world) {
  if (!world) return ZV_FAIL;
  if (clearContents(world) != ZV_OK) {
    zvWarning("zvClearWorld : fail to delete contents.");
    return ZV_FAIL;
  }
  return zvInitWorld(world, ZV_WORLD_ID_BUCKETS, "");
}

int zvConstructWorld(const char* file, ZvWorld* world) {
  if (!file || !world) return ZV_FAIL;
  zvUseIdRangesOf(world);
  if (zvSetWorldIdCounter(world, -10000, -1, ZV_ID_MODE_ALWAYS) != ZV_OK) {
    zvWarning("zvConstructWorld: fails to initialize ZvId.");
    return ZV_FAIL;
  }
  ZvSceneHooks& hooks = zvSceneHooks();
  if (!hooks.readFile) return ZV_FAIL;  // no reader in this program
  if (hooks.readFile(file, world) != ZV_OK) return ZV_FAIL;
  if (hooks.renderConstructWorld) return hooks.renderConstructWorld(world);
  return ZV_OK;
}

namespace {

ZvObj* findCameraObj(ZvObj* root) {
  ZvLeaf* leaf = zvFindLeafByType(root, ZV_LEAF_PERSPECTIVE_CAMERA);
  if (!leaf) leaf = zvFindLeafByType(root, ZV_LEAF_ORTHOGRAPHIC_CAMERA);
  return leaf ? leaf->owner : nullptr;
}

}  // namespace

int zvAddPersonToWorld(ZvWorld* world) {
  if (!world) return ZV_FAIL;
  ZvSceneHooks& hooks = zvSceneHooks();
  const char* dir = hooks.programDirectory ? hooks.programDirectory() : nullptr;
  if (!dir) {
    zvWarning("zvGetModuleFileName: error");
    return ZV_FAIL;
  }
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += "person.wrl";
  if (FILE* f = std::fopen(path.c_str(), "rb"))
    std::fclose(f);
  else {
    zvError("zvAddPersonToWorld: can not read file %s", path.c_str());
    return ZV_FAIL;
  }
  ZvTopObjList* before = world->lastTopObject;
  int32_t countBefore = world->topObjectCount;
  if (!hooks.readFile || hooks.readFile(path.c_str(), world) != ZV_OK || world->topObjectCount == countBefore) {
    zvError("zvAddPersonToWorld: can not read file %s", path.c_str());
    return ZV_FAIL;
  }
  // The person is the first object the file added.
  ZvTopObjList* first = before ? before->next : world->topObjects;
  ZvObj* person = first ? first->object : nullptr;
  if (!person) return ZV_FAIL;
  world->person = person;
  if (hooks.renderConstructObj) hooks.renderConstructObj(person);
  ZvObj* camera = findCameraObj(person);
  if (!camera) {
    if (!hooks.addCameraToPerson || hooks.addCameraToPerson(person) != ZV_OK) {
      zvWarning("zvAddPersonToWorld: person file (%s) has no camera ", path.c_str());
      return ZV_FAIL;
    }
    camera = findCameraObj(person);
    if (!camera) {
      zvWarning("zvAddPersonToWorld: person file (%s) cannot have a camera ", path.c_str());
      return ZV_FAIL;
    }
  }
  if (hooks.registerPersonCamera) return hooks.registerPersonCamera(camera);
  return ZV_OK;
}

void zvComputeWorldBoundingBox(ZvWorld* world) {
  if (!world) return;
  bool any = false;
  ZvTopObjList* cursor = world->topObjects;
  while (ZvObj* o = zvNextTopObject(&cursor)) {
    if (o == world->person) continue;
    float min[3], max[3];
    if (zvGetObjParentBoundingCube(o, min, max) != ZV_OK) continue;
    for (int i = 0; i < 3; ++i) {
      if (!any || min[i] < world->bboxMin[i]) world->bboxMin[i] = min[i];
      if (!any || max[i] > world->bboxMax[i]) world->bboxMax[i] = max[i];
    }
    any = true;
  }
}
