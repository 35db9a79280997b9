// objcmds.cpp — the script commands on objects: names and look-ups, the
// variables scripts keep on objects, switches, attributes by number, parts,
// deleting objects and adding them from files and text. The transform
// commands are in transformcmds.cpp, the reading in objread.cpp.
//
// Every failure here is a failed command with a message, never a report
// that marks the run as failed: what a world's script asks for wrongly is
// the world's fault, not the browser's.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "script/objcmdspriv.h"
#include "script/scriptpriv.h"
#include "www/www.h"

namespace {

// ---------------------------------------------------------------------------
// Names

int nameObject(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  const char* name = zvNameObject(object, call.argv[2]);
  if (!name) return call.fail("%s:%s failed.", call.name, call.argv[2]);
  return call.ok(name);
}

int getObjByName(ZvScriptCall& call) {
  ZvObj* found = nullptr;
  if (call.argc == 2) {
    found = zvGetObjByNameInWorld(call.world, call.argv[1]);
  } else {
    ZvObj* root = call.obj(1);
    if (!root) return TCL_ERROR;
    found = call.argc == 3 ? zvGetObjByPath(root, call.argv[2]) : zvFindObjByName(root, call.argv[2]);
  }
  return call.ok(zvScriptHandleOf(found, ZV_HANDLE_OBJ));
}

// ---------------------------------------------------------------------------
// Variables. Scripts see every value as text, so they are kept as strings.
// The model reports a misuse as a fault of the program; here it is the
// script's, so each is found out first and told as a message.

constexpr size_t kMaxValueText = 255;

ZvObjValue* findValue(ZvObj* object, const char* name) {
  for (auto* v = static_cast<ZvObjValue*>(zvGetObjExtension(object, zvObjectValue)); v; v = v->next)
    if (v->name && v->type == ZV_VALUE_STRING && std::strcmp(v->name, name) == 0) return v;
  return nullptr;
}

int newVariable(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  const char* name = call.argv[2];
  const char* value = call.argv[3];
  int writable = call.argc < 5 || std::strcmp(call.argv[4], "0") == 0;
  if (findValue(object, name)) {
    zvMessage("zvNewObjValue:[%s] already exists.", name);
    return call.fail("%s:zvNewObjValue failed.", call.name);
  }
  if (std::strlen(value) > kMaxValueText) {
    zvMessage("_zvObjValueStr2Ptr: string variable length too long.");
    return call.fail("%s:zvNewObjValue failed.", call.name);
  }
  const char* text = zvNewObjValue(object, ZV_VALUE_STRING, name, value, writable);
  if (!text) return call.fail("%s:zvNewObjValue failed.", call.name);
  return call.ok(text);
}

// With a value it sets, without one it reads.
int variable(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  const char* name = call.argv[2];
  ZvObjValue* cell = findValue(object, name);
  if (!cell) {
    zvMessage("can't find variable[%s].", name);
    return call.fail("%s [%s] failed.", call.name, name);
  }
  if (call.argc < 4) {
    const char* text = zvGetObjValue(object, ZV_VALUE_STRING, name);
    if (!text) return call.fail("%s [%s] failed.", call.name, name);
    return call.ok(text);
  }
  if (!cell->writable) {
    zvMessage("_zvSetObjValue:[%s] permision denied.", name);
    return call.fail("%s [%s] failed.", call.name, name);
  }
  if (std::strlen(call.argv[3]) > kMaxValueText) {
    zvMessage("_zvObjValueStr2Ptr: string variable length too long.");
    return call.fail("%s [%s] failed.", call.name, name);
  }
  const char* text = zvSetObjValue(object, ZV_VALUE_STRING, name, call.argv[3]);
  if (!text) return call.fail("%s [%s] failed.", call.name, name);
  return call.ok(text);
}

int delVariable(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  const char* name = call.argv[2];
  if (!findValue(object, name)) {
    zvMessage("can't find variable[%s].", name);
    return call.fail("%s:%s failed.", call.name, name);
  }
  if (zvDeleteObjValue(object, ZV_VALUE_STRING, name) != 0) return call.fail("%s:%s failed.", call.name, name);
  return call.ok();
}

// ---------------------------------------------------------------------------
// Switches

int setSwitch(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  long n = 0;
  if (call.integer(2, &n) != 0) return TCL_ERROR;
  // A hidden or empty switch answers -1 rather than failing: scripts flip
  // switches from handlers that should go on.
  return call.ok(long(zvSetSwitchObjByNo(object, int(n))));
}

int getSwitchInfo(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  if (call.setVar(2, long(zvGetSwitchObjNo(object))) != TCL_OK) return TCL_ERROR;
  if (call.argc > 3 && call.setVar(3, long(zvGetSwitchObjNum(object))) != TCL_OK) return TCL_ERROR;
  return call.ok();
}

int getSwitchChild(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  long n = 0;
  if (call.integer(2, &n) != 0) return TCL_ERROR;
  return call.ok(zvScriptHandleOf(zvGetSwitchObjByNo(object, int(n)), ZV_HANDLE_OBJ));
}

// ---------------------------------------------------------------------------
// Attributes. Numbers are one word; values of three floats are one word
// too, a list "r g b" (or "x y z").

int attributeNumber(ZvScriptCall& call, long* number) { return call.integer(2, number); }

int badAttribute(ZvScriptCall& call) { return call.fail("%s:bad attribute[%s]", call.name, call.argv[2]); }

// Reads n floats from one word.
bool floatsOf(ZvScriptCall& call, int i, int n, float* out) {
  int count = 0;
  const char** parts = nullptr;
  if (Tcl_SplitList(call.interp, call.argv[i], &count, &parts) != TCL_OK) return false;
  bool good = count == n;
  for (int k = 0; good && k < n; ++k) good = std::sscanf(parts[k], "%f", &out[k]) == 1;
  Tcl_Free(reinterpret_cast<char*>(parts));
  if (!good) call.fail("%s:bad value[%s]", call.name, call.argv[i]);
  return good;
}

int setFloats(ZvScriptCall& call, int i, const float* values, int n) {
  std::string text;
  char one[64];
  for (int k = 0; k < n; ++k) {
    std::snprintf(one, sizeof one, k ? " %f" : "%f", values[k]);
    text += one;
  }
  return call.setVar(i, text.c_str());
}

bool isTextAttribute(long number) { return number >= 3 && number <= 6; }

int getObjAttribute(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  long number = 0;
  if (!object || attributeNumber(call, &number) != 0) return TCL_ERROR;
  void* value = nullptr;
  if (zvGetObjAttribute(object, int(number), &value) != 0) return badAttribute(call);
  if (isTextAttribute(number)) {
    if (call.setVar(3, value ? static_cast<const char*>(value) : "") != TCL_OK) return TCL_ERROR;
  } else if (call.setVar(3, value ? long(*static_cast<const int32_t*>(value)) : 0L) != TCL_OK) {
    return TCL_ERROR;
  }
  return call.ok();
}

int setObjAttribute(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  long number = 0;
  if (!object || attributeNumber(call, &number) != 0) return TCL_ERROR;
  int r;
  if (isTextAttribute(number)) {
    r = zvSetObjAttribute(object, int(number), const_cast<char*>(call.argv[3]));
  } else {
    long word = 0;
    if (call.integer(3, &word) != 0) return TCL_ERROR;
    int32_t value = int32_t(word);
    r = zvSetObjAttribute(object, int(number), &value);
  }
  return r == 0 ? call.ok() : badAttribute(call);
}

// How many floats a light attribute holds: on is a word, colour, location
// and direction three floats, the rest one.
int lightFloats(long number) {
  return number == ZV_LIGHT_COLOR || number == ZV_LIGHT_LOCATION || number == ZV_LIGHT_DIRECTION ? 3 : 1;
}

int getLightAttribute(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  long number = 0;
  if (!object || attributeNumber(call, &number) != 0) return TCL_ERROR;
  void* value = nullptr;
  if (zvGetLightAttribute(object, int(number), &value) != 0 || !value) return badAttribute(call);
  int r = number == ZV_LIGHT_ON ? call.setVar(3, long(*static_cast<const int32_t*>(value)))
                                : setFloats(call, 3, static_cast<const float*>(value), lightFloats(number));
  return r == TCL_OK ? call.ok() : TCL_ERROR;
}

int setLightAttribute(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  long number = 0;
  if (!object || attributeNumber(call, &number) != 0) return TCL_ERROR;
  int r;
  if (number == ZV_LIGHT_ON) {
    long word = 0;
    if (call.integer(3, &word) != 0) return TCL_ERROR;
    int32_t on = word ? 1 : 0;
    r = zvSetLightAttribute(object, int(number), &on);
  } else {
    float values[3] = {0, 0, 0};
    if (!floatsOf(call, 3, lightFloats(number), values)) return TCL_ERROR;
    r = zvSetLightAttribute(object, int(number), values);
  }
  return r == 0 ? call.ok() : badAttribute(call);
}

int cameraFloats(long number) {
  return number == zvCameraAttrPosition || number == zvCameraAttrLookAt || number == zvCameraAttrBackgroundColor
             ? 3
             : 1;
}

int getCameraAttribute(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  long number = 0;
  if (!object || attributeNumber(call, &number) != 0) return TCL_ERROR;
  void* value = nullptr;
  if (zvGetCameraAttribute(object, int(number), &value) != 0 || !value) return badAttribute(call);
  if (setFloats(call, 3, static_cast<const float*>(value), cameraFloats(number)) != TCL_OK) return TCL_ERROR;
  return call.ok();
}

int setCameraAttribute(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  long number = 0;
  if (!object || attributeNumber(call, &number) != 0) return TCL_ERROR;
  if (number == zvCameraAttrBackgroundTexture) {
    // A script names the picture by URL; it joins the world's files like
    // any texture the world names, and an empty name takes it away.
    ZvUrlHash* entry = nullptr;
    if (*call.argv[3]) {
      char url[ZV_WWW_PATH_MAX];
      const char* base = object->world && object->world->url ? object->world->url : "";
      if (zvResolveUrl(base, call.argv[3], url, sizeof url) != 0 || !object->world)
        return call.fail("%s:bad value[%s]", call.name, call.argv[3]);
      // A world from the network shows no picture of the user's own.
      int scheme = zvUrlScheme(url), worldScheme = zvUrlScheme(base);
      bool local = scheme == ZV_SCHEME_FILE || scheme == ZV_SCHEME_NONE;
      if (local && (worldScheme == ZV_SCHEME_HTTP || worldScheme == ZV_SCHEME_OTHER))
        return call.fail("%s:bad value[%s]", call.name, call.argv[3]);
      entry = zvNewUrlHashEntry(object->world->urlTable, url, nullptr, ZV_TYPE_OTHER);
      if (!entry) return call.fail("%s:bad value[%s]", call.name, call.argv[3]);
    }
    return zvSetCameraAttribute(object, int(number), entry) == 0 ? call.ok() : badAttribute(call);
  }
  float values[3] = {0, 0, 0};
  if (!floatsOf(call, 3, cameraFloats(number), values)) return TCL_ERROR;
  return zvSetCameraAttribute(object, int(number), values) == 0 ? call.ok() : badAttribute(call);
}

// ---------------------------------------------------------------------------
// Parts

int getObjPart(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  long n = 0;
  if (!object || call.integer(2, &n) != 0) return TCL_ERROR;
  return call.ok(zvScriptHandleOf(zvGetNthLeaf(object, int(n)), ZV_HANDLE_LEAF));
}

int getFaceObjPart(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  long type = 0;
  if (!object || call.integer(2, &type) != 0) return TCL_ERROR;
  return call.ok(zvScriptHandleOf(zvFindLeafByType(object, int(type)), ZV_HANDLE_LEAF));
}

// ---------------------------------------------------------------------------
// Deleting and adding objects

bool withinPerson(const ZvObj* object) {
  const ZvObj* person = object->world ? object->world->person : nullptr;
  for (const ZvObj* o = object; o && person; o = o->parent)
    if (o == person) return true;
  return false;
}

int delObj(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  // The user's own body and eye are the browser's, not the world's.
  if (withinPerson(object)) return call.fail("%s:%s failed.", call.name, call.argv[1]);
  if (zvScriptInReader()) {
    zvMessage("A script may not delete objects while objects are being read.");
    return call.fail("%s:%s failed.", call.name, call.argv[1]);
  }
  // Handles die before the records they name, so that no script (nor this
  // handler, if the object is its own) can reach them after this command.
  std::vector<ZvObj*> pending{object};
  while (!pending.empty()) {
    ZvObj* o = pending.back();
    pending.pop_back();
    zvScriptForgetObjHandles(o);
    for (ZvObjList* c = o->children; c; c = c->next)
      if (c->object) pending.push_back(c->object);
  }
  if (zvDeleteZvObj(object) != 0) return call.fail("%s:%s failed.", call.name, call.argv[1]);
  return call.ok();
}

// The first argument: 0 for the world's top level, else a Separator.
bool addTarget(ZvScriptCall& call, ZvObj** parent) {
  *parent = nullptr;
  if (std::strcmp(call.argv[1], "0") == 0) return true;
  *parent = call.obj(1);
  if (!*parent) return false;
  if ((*parent)->nodeType != ZV_NODE_SEPARATOR) {
    call.fail("%s:Can't add child to [%s], must be a Separator.", call.name, call.argv[1]);
    return false;
  }
  return true;
}

int addObjFromFile(ZvScriptCall& call) {
  ZvObj* parent = nullptr;
  if (!addTarget(call, &parent)) return TCL_ERROR;
  ZvObj* first = nullptr;
  if (zvScriptReadObjFile(call.world, parent, call.argv[2], &first) != ZV_OBJREAD_OK)
    return call.fail("%s:[%s] failed.", call.name, call.argv[2]);
  return call.ok(zvScriptHandleOf(first, ZV_HANDLE_OBJ));
}

int addObjFromStr(ZvScriptCall& call) {
  ZvObj* parent = nullptr;
  if (!addTarget(call, &parent)) return TCL_ERROR;
  ZvObj* first = nullptr;
  std::string file;
  int r = zvScriptReadObjText(call.world, parent, call.argv[2], &first, &file);
  if (r == ZV_OBJREAD_UNREADABLE) return call.fail("%s:%s open error.", call.name, file.c_str());
  if (r != ZV_OBJREAD_OK) return call.fail("%s:[%s] failed.", call.name, file.c_str());
  return call.ok(zvScriptHandleOf(first, ZV_HANDLE_OBJ));
}

constexpr const char kRotateUsage[] =
    "ZvObj px py pz px1 py1 pz1 px2 py2 py2 ZvCoordSystem  ZvTransferMode";
constexpr const char kRotateAngleUsage[] = "ZvObj x y z  ZvCoordSystem ZvTransferMode";
constexpr const char kTranslateUsage[] = "ZvObj x y z  ZvCoordSystem  ZvTransferMode";
constexpr const char kRotateTransUsage[] =
    "ZvObj rx ry rz rx1 ry1 rz1 rx2 ry2 rz2 tx ty tz ZvCoordSystem ZvTransferMode";
constexpr const char kRotateAngleTransUsage[] = "ZvObj x y z tx ty tz ZvCoordSystem ZvTransferMode";
constexpr const char kWrtUsage[] = "ZvObj x y z  [rx ry rz rx1 ry1 rz1 rx2 ry2 rz2]";
constexpr const char kAddUsage[] = "{obj|0} VRMLfilename";

}  // namespace

extern const ZvScriptCommand zvScriptObjectCommands[] = {
    {"zvRotate", kRotateUsage, 12, 12, zvScriptCmdRotate},
    {"zvObjectRotate", kRotateUsage, 12, 12, zvScriptCmdRotate},
    {"zvRotateAngle", kRotateAngleUsage, 6, 6, zvScriptCmdRotateAngle},
    {"zvObjectRotateAngle", kRotateAngleUsage, 6, 6, zvScriptCmdRotateAngle},
    {"zvTranslate", kTranslateUsage, 6, 6, zvScriptCmdTranslate},
    {"zvObjectTranslate", kTranslateUsage, 6, 6, zvScriptCmdTranslate},
    {"zvRotateTranslate", kRotateTransUsage, 15, 15, zvScriptCmdRotateTranslate},
    {"zvObjectRotateTrans", kRotateTransUsage, 15, 15, zvScriptCmdRotateTranslate},
    {"zvRotateAngleTranslate", kRotateAngleTransUsage, 9, 9, zvScriptCmdRotateAngleTranslate},
    {"zvObjectRotateAngleTrans", kRotateAngleTransUsage, 9, 9, zvScriptCmdRotateAngleTranslate},
    {"zvObjectWRT", kWrtUsage, 4, 13, zvScriptCmdGetObjWRT},
    {"zvGetObjWRT", kWrtUsage, 4, 13, zvScriptCmdGetObjWRT},
    {"zvGetObjLRT", kWrtUsage, 4, 13, zvScriptCmdGetObjLRT},
    {"zvNameObject", "ZvObj name", 2, 2, nameObject},
    {"zvSetObjName", "ZvObj name", 2, 2, nameObject},
    {"zvGetObjByName", "[root_obj] name [-r]", 1, 3, getObjByName},
    {"zvGetObjPart", "Obj PartsName", 2, 2, getObjPart},
    {"zvGetFaceObjPart", "Obj PartsName", 2, 2, getFaceObjPart},
    {"zvAddObjFromFile", kAddUsage, 2, 2, addObjFromFile},
    {"zvAddObjFromStr", kAddUsage, 2, 2, addObjFromStr},
    {"zvDelObj", "obj", 1, 1, delObj},
    {"zvNewVariable", "obj name value [ro]", 3, 4, newVariable},
    {"zvSetVariable", "obj name [value]", 2, 3, variable},
    {"zvGetVariable", "obj name [value]", 2, 3, variable},
    {"zvDelVariable", "obj name", 2, 2, delVariable},
    {"zvSwitchObj", "obj childNo", 2, 2, setSwitch},
    {"zvSetSwitchObjByNo", "obj childNo", 2, 2, setSwitch},
    {"zvGetSwitchObjInfo", "swobj current [max]", 2, 3, getSwitchInfo},
    {"zvGetSwitchObjByNo", "swobj no", 2, 2, getSwitchChild},
    {"zvGetObjAttribute", "ZvObj ZvObjAttribute valret", 3, 3, getObjAttribute},
    {"zvSetObjAttribute", "ZvObj ZvObjAttribute val", 3, 3, setObjAttribute},
    {"zvGetLightAttribute", "ZvObj ZvLightAttribute val", 3, 3, getLightAttribute},
    {"zvSetLightAttribute", "ZvObj ZvLightAttribute val", 3, 3, setLightAttribute},
    {"zvGetCameraAttribute", "ZvObj ZvCameraAttribute val", 3, 3, getCameraAttribute},
    {"zvSetCameraAttribute", "ZvObj ZvCameraAttribute val", 3, 3, setCameraAttribute},
    {nullptr, nullptr, 0, 0, nullptr},
};
