// extension.cpp — the typed extension list of an object. Optional data that
// only a few objects carry (LOD ranges, a switch choice, script variables,
// the renderer's box) hangs here instead of widening every ZvObj.
#include <cstring>

#include "scene/scene.h"
#include "scene/valuetext.h"

namespace {

bool knownType(int type) { return type >= zvKinemationBody && type <= zvWWWAnchor; }

void freeLOD(void* data) {
  auto* lod = static_cast<ZvLOD*>(data);
  if (!lod) return;
  zvFree(lod->ranges);
  zvFree(lod);
}

void freeScript(void* data) {
  auto* script = static_cast<ZvScript*>(data);
  if (!script) return;
  zvFree(script->text);
  zvFree(script);
}

ZvObjExtension* findCell(const ZvObj* object, int type) {
  for (ZvObjExtension* cell = object->extensions; cell; cell = cell->next)
    if (cell->type == type) return cell;
  return nullptr;
}

// Registers data copied for a duplicate; on failure the copy is the
// caller's to free. Answers the register result, with the message for -5.
int registerCopy(ZvObj* destination, int type, void* data, const char* who) {
  int r = zvRegisterObjExtension(destination, type, data);
  if (r == ZV_NOMEM) zvWarning("%s : cannot allocate memory.", who);
  return r;
}

}  // namespace

int zvRegisterObjExtension(ZvObj* object, int type, void* data) {
  if (!object) return ZV_FAIL;
  if (!knownType(type)) {
    zvWarning("zvRegisterObjExtension : unknown extension type %d", type);
    return ZV_FAIL;
  }
  if (findCell(object, type)) {
    zvWarning("zvRegisterObjExtension : extension type %d already exists", type);
    return ZV_FAIL;
  }
  auto* cell = static_cast<ZvObjExtension*>(zvMalloc(sizeof(ZvObjExtension)));
  if (!cell) {
    zvWarning("zvRegisterObjExtension : cannot allocate memory.");
    return ZV_NOMEM;
  }
  cell->type = type;
  cell->data = data;
  ZvObjExtension** tail = &object->extensions;
  while (*tail) tail = &(*tail)->next;
  *tail = cell;
  return ZV_OK;
}

void* zvGetObjExtension(const ZvObj* object, int type) {
  if (!object) return nullptr;
  ZvObjExtension* cell = findCell(object, type);
  return cell ? cell->data : nullptr;
}

int zvRemoveObjExtension(ZvObj* object, int type) {
  if (!object) return ZV_FAIL;
  for (ZvObjExtension** link = &object->extensions; *link; link = &(*link)->next) {
    ZvObjExtension* cell = *link;
    if (cell->type != type) continue;
    *link = cell->next;
    // The LOD record is built by this model (reader and copy alike), so it
    // goes with its cell; every other kind of data belongs to its subsystem.
    if (type == zvLODNode) freeLOD(cell->data);
    zvFree(cell);
    return ZV_OK;
  }
  return ZV_FAIL;
}

void zvRemoveAllObjExtension(ZvObj* object) {
  if (!object) return;
  ZvObjExtension* cell = object->extensions;
  object->extensions = nullptr;
  while (cell) {
    ZvObjExtension* next = cell->next;
    zvFree(cell);
    cell = next;
  }
}

int zvReleaseObjExtension(ZvObj* object) {
  if (!object) return ZV_FAIL;
  // A failing subsystem does not stop the rest: the object is going away
  // either way, and whatever we can still free should not leak.
  int result = ZV_OK;
  zvDeleteAllObjValue(object);
  ZvSceneHooks& hooks = zvSceneHooks();
  if (hooks.releaseKinemation && hooks.releaseKinemation(object) != 0) result = ZV_FAIL;
  if (hooks.releaseAuthInfo && hooks.releaseAuthInfo(object) != 0) result = ZV_FAIL;
  if (object->nodeType == ZV_NODE_LOD) zvRemoveObjExtension(object, zvLODNode);
  if (object->nodeType == ZV_NODE_LOD || object->nodeType == ZV_NODE_SWITCH) {
    if (ZvObjExtension* cell = findCell(object, zvSwitchWhichChild)) {
      zvFree(cell->data);
      cell->data = nullptr;
    }
  }
  // Our own copies of script nodes carry an owned text; nobody else would
  // free them.
  if (ZvObjExtension* cell = findCell(object, zvScriptNode)) {
    freeScript(cell->data);
    cell->data = nullptr;
  }
  if (hooks.renderRemoveBoundingBox && hooks.renderRemoveBoundingBox(object) != 0) result = ZV_FAIL;
  zvRemoveAllObjExtension(object);
  return result;
}

int allocAndCopyZvObjExtensionForObjVal(ZvObj* destination, const ZvObjExtension* source) {
  if (!destination || !source) return ZV_FAIL;
  if (source->type != zvObjectValue) {
    zvWarning("allocAndCopyZvObjExtensionForObjVal : not object value.");
    return ZV_FAIL;
  }
  // Values travel through their text form, exactly as a script would set
  // them; zvNewObjValue reads the text before it reuses the buffer, and
  // reports its own failures.
  for (const ZvObjValue* value = static_cast<const ZvObjValue*>(source->data); value; value = value->next) {
    if (!value->name) continue;
    const char* text = value->value ? zvObjValueText(value) : nullptr;
    if (!zvNewObjValue(destination, value->type, value->name, text, value->writable)) return ZV_FAIL;
  }
  return ZV_OK;
}

int allocAndCopyZvObjExtensionForLOD(ZvObj* destination, const ZvObjExtension* source) {
  if (!destination || !source) return ZV_FAIL;
  if (source->type != zvLODNode) {
    zvWarning("allocAndCopyZvObjExtensionForLOD : not LOD.");
    return ZV_FAIL;
  }
  const auto* from = static_cast<const ZvLOD*>(source->data);
  if (!from) return ZV_FAIL;
  auto* copy = static_cast<ZvLOD*>(zvMalloc(sizeof(ZvLOD)));
  if (!copy) {
    zvWarning("allocAndCopyZvObjExtensionForLOD : cannot allocate memory.");
    return ZV_NOMEM;
  }
  *copy = *from;
  copy->ranges = nullptr;
  if (from->rangeCount > 0 && from->ranges) {
    copy->ranges = static_cast<float*>(zvMalloc(sizeof(float) * static_cast<size_t>(from->rangeCount)));
    if (!copy->ranges) {
      zvFree(copy);
      zvWarning("allocAndCopyZvObjExtensionForLOD : cannot allocate memory.");
      return ZV_NOMEM;
    }
    std::memcpy(copy->ranges, from->ranges, sizeof(float) * static_cast<size_t>(from->rangeCount));
  } else {
    copy->rangeCount = 0;
  }
  int r = registerCopy(destination, zvLODNode, copy, "allocAndCopyZvObjExtensionForLOD");
  if (r != ZV_OK) freeLOD(copy);
  return r;
}

int allocAndCopyZvObjExtensionForScript(ZvObj* destination, const ZvObjExtension* source) {
  if (!destination || !source) return ZV_FAIL;
  if (source->type != zvScriptNode) {
    zvWarning("allocAndCopyZvObjExtensionForScript : not Script.");
    return ZV_FAIL;
  }
  const auto* from = static_cast<const ZvScript*>(source->data);
  if (!from) return ZV_FAIL;
  auto* copy = static_cast<ZvScript*>(zvMalloc(sizeof(ZvScript)));
  if (!copy) {
    zvWarning("allocAndCopyZvObjExtensionForScript : cannot allocate memory.");
    return ZV_NOMEM;
  }
  copy->data = from->data;
  if (from->text) {
    copy->text = zvStrdup(from->text);
    if (!copy->text) {
      zvFree(copy);
      zvWarning("allocAndCopyZvObjExtensionForScript : cannot allocate memory.");
      return ZV_NOMEM;
    }
  }
  int r = registerCopy(destination, zvScriptNode, copy, "allocAndCopyZvObjExtensionForScript");
  if (r != ZV_OK) freeScript(copy);
  return r;
}
