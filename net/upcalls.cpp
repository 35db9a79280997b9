// upcalls.cpp — what received messages do to the scene, and what local
// changes of shared objects send back. An object is shared when it holds an
// identifier; the own avatar once the server has named it.
//
// A change that came from the server is applied with the echo guard up, so
// the object-moved hook that the transform code calls does not send it back.
#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "nav/nav.h"
#include "net/netpriv.h"
#include "render/render.h"
#include "script/script.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace {

bool fromServer = false;  // the echo guard
std::vector<int32_t> serverObjects;  // identifiers of what op 2 added

struct EchoGuard {
  bool was = fromServer;
  EchoGuard() { fromServer = true; }
  ~EchoGuard() { fromServer = was; }
};

void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void trace(const char* format, ...) {
  if (!zvNetHooks().trace) return;
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  zvNetHooks().trace(line);
}

// Identifiers travel as 32 bits; ours are positive 31-bit numbers.
bool validId(uint32_t id) { return id != 0 && id <= uint32_t(INT32_MAX); }

ZvObj* objectOf(ZvWorld* world, uint32_t id) {
  return validId(id) ? zvGetObjById(world, int32_t(id)) : nullptr;
}

bool shared(ZvObj* object) {
  return object && object->id > 0 && zvNetState() == ZV_NET_CONNECTED && object->world == zvNetWorld();
}

void forget(int32_t id) {
  for (size_t i = 0; i < serverObjects.size(); ++i)
    if (serverObjects[i] == id) {
      serverObjects.erase(serverObjects.begin() + long(i));
      return;
    }
}

// A bare file name of ours ("person.wrl") is in the data directory; the
// rest must come from the web. Nothing a server names is read through file:.
bool whereFrom(const char* url, std::string* local, bool* remote) {
  *remote = false;
  if (!url || !*url) return false;
  int scheme = zvUrlScheme(url);
  if (scheme == ZV_SCHEME_HTTP) {
    *remote = true;
    return true;
  }
  if (scheme != ZV_SCHEME_NONE) return false;
  for (const char* p = url; *p; ++p)
    if (!(std::isalnum(static_cast<unsigned char>(*p)) || *p == '_' || *p == '-' || *p == '.')) return false;
  if (url[0] == '.') return false;
  const char* directory = zvSceneHooks().programDirectory ? zvSceneHooks().programDirectory() : nullptr;
  if (!directory) return false;
  *local = std::string(directory) + "/" + url;
  return true;
}

ZvObj* firstSwitch(ZvObj* object) {
  for (int depth = 0; object && depth < 64; ++depth) {
    if (object->nodeType == ZV_NODE_SWITCH) return object;
    object = object->children ? object->children->object : nullptr;
  }
  return nullptr;
}

int upcallAddObjects(ZvWorld* world, const ZvcpMessage& m) {
  if (!validId(m.id)) {
    zvWarning("zvcpUpcallAddObjects: identifier %" PRIu32 " is out of range.", m.id);
    return ZVCP_E_RANGE;
  }
  if (ZvObj* existing = objectOf(world, m.id)) {
    if (ZvObj* s = firstSwitch(existing)) zvSetSwitchObjByNo(s, 1);
    return 0;
  }
  std::string local;
  bool remote;
  if (!whereFrom(m.text, &local, &remote)) {
    zvWarning("zvcpUpcallAddObjects: %s : objects come only from http(s) URLs.", m.text);
    return -1;
  }
  if (remote) {
    ZvUrlHash* entry = zvWwwLoadFile(m.text);
    const char* file = entry ? zvGetLocalFile(entry) : nullptr;
    if (!file) {
      zvWarning("%s", "zvcpUpcallAddObjects: The file cannot be fetched.");
      return -1;
    }
    local = file;
  }
  // The fetch ran the loop: the world may have been left meanwhile.
  if (zvGetCurrentWorld() != world || zvNetWorld() != world) return -1;
  ZvTopObjList* before = world->lastTopObject;
  ZvObj* first = nullptr;
  if (zvParseVRMLAddToWorld(local.c_str(), &first) != ZV_OK || !first) {
    zvWarning("%s", "zvcpUpcallAddObjects: zvParseVRMLAddToWorld failed.");
    return -1;
  }
  if (zvObjAssignId(first, int32_t(m.id)) != ZV_OK) return -1;
  serverObjects.push_back(int32_t(m.id));
  zvFree(first->strings[ZV_STR_COMMENT]);
  first->strings[ZV_STR_COMMENT] = zvStrdup(m.text2 ? m.text2 : "");
  if (world->viewer) {
    ZvTopObjList* cell = before ? before->next : world->topObjects;
    for (; cell; cell = cell->next)
      if (cell->object && zvRenderConstructPartInViewer(cell->object) != ZV_OK) {
        zvWarning("%s", "zvcpUpcallAddObjects: zvConstructPartInViewer failed.");
        return -1;
      }
  }
  trace("add %" PRIu32 " %s %s", m.id, m.text, m.text2 ? m.text2 : "");
  return 0;
}

int upcallMyself(ZvWorld* world, const ZvcpMessage& m) {
  if (!world) {
    zvWarning("%s", "zvcpUpcallMyself: zvGetCurrentWorld() failed.");
    return -1;
  }
  if (!validId(m.id) || !world->person) return ZVCP_E_RANGE;
  ZvObj* other = objectOf(world, m.id);
  if (other && other != world->person) {
    forget(int32_t(m.id));
    if (zvDeleteZvObj(other) != ZV_OK) return -1;
  }
  if (zvObjAssignId(world->person, int32_t(m.id)) != ZV_OK) {
    zvWarning("%s", "zvcpUpcallMyself: zvObjAssignId failed.");
    return -1;
  }
  trace("myself %" PRIu32, m.id);
  zvNetSendObjectMoved(world->person);
  return 0;
}

int upcallRotTrans(ZvWorld* world, const ZvcpMessage& m) {
  ZvObj* object = objectOf(world, m.id);
  if (!object) {
    zvWarning("%s", "zvcpUpcallRotTrans: target obj is not found.");
    return -1;
  }
  ZvTransform t;
  std::memcpy(&t.m[0][0], m.reals, sizeof t.m);
  EchoGuard guard;
  if (zvObjectRotateTrans(object, &t, ZV_COORD_WORLD, ZV_TRANSFORM_SET) != ZV_OK) return -1;
  trace("moved %" PRIu32 " %g %g %g", m.id, double(m.reals[9]), double(m.reals[10]), double(m.reals[11]));
  return 0;
}

int upcallPosition(ZvWorld* world, const ZvcpMessage& m) {
  ZvObj* object = objectOf(world, m.id);
  if (!object) {
    zvWarning("zvcpUpcallSys2: object id=%d not found.", int(m.id));
    return -1;
  }
  EchoGuard guard;
  if (zvObjectTranslate(object, m.reals, ZV_COORD_WORLD, ZV_TRANSFORM_SET) != ZV_OK) return -1;
  trace("position %" PRIu32 " %g %g %g", m.id, double(m.reals[0]), double(m.reals[1]), double(m.reals[2]));
  return 0;
}

int upcallStep(ZvWorld* world, const ZvcpMessage& m) {
  ZvObj* object = objectOf(world, m.id);
  if (!object) {
    zvWarning("%s", "zvcpUpcallSys1: myself is not found.");
    return -1;
  }
  if (m.value != ZVCP_STEP_FORWARD && m.value != ZVCP_STEP_BACK) return 0;
  trace("step %" PRIu32 " %d", m.id, m.value);
  if (!zvNetHooks().kinStep) return -1;
  EchoGuard guard;
  return zvNetHooks().kinStep(object, m.value) == 0 ? 0 : -1;
}

bool applName(const char* name) {
  size_t prefix = std::strlen(ZV_NET_APPL_PREFIX);
  if (!name || std::strncmp(name, ZV_NET_APPL_PREFIX, prefix) != 0 || std::strlen(name) > 64) return false;
  for (const char* p = name; *p; ++p)
    if (!(std::isalnum(static_cast<unsigned char>(*p)) || *p == '_')) return false;
  return true;
}

int upcallAppl(ZvWorld* world, const ZvcpMessage& m) {
  ZvObj* object = objectOf(world, m.id);
  if (!object) {
    zvWarning("%s", "zvcpUpcallApplSpecific: target object is not found.");
    return -1;
  }
  if (!applName(m.text) || !zvScriptIsProcedure(world, m.text)) {
    zvWarning("zvcpUpcallApplSpecific: %.64s is not a procedure of the world's (" ZV_NET_APPL_PREFIX "…).", m.text);
    return -1;
  }
  trace("appl %" PRIu32 " %s %s", m.id, m.text, m.text2);
  ZvEvent event;
  zvInitEvent(&event, 0x100000);
  event.object = object;
  int answer = 0;
  EchoGuard guard;
  return zvScriptTclEvalFunction(world, 1, m.text, object, &event, m.text2, &answer) == 0 ? 0 : -1;
}

int upcallUpdate(ZvWorld* world, const ZvcpMessage& m) {
  switch (m.kind) {
    case ZVCP_KIND_ROTTRANS:
      return upcallRotTrans(world, m);
    case ZVCP_KIND_TEXT: {
      ZvObj* object = objectOf(world, m.id);
      if (!object) {
        zvWarning("%s", "zvcpUpcallApplSendText: target object is not found.");
        return -1;
      }
      trace("text %" PRIu32 " %s", m.id, m.text);
      return zvNetShowText(object, m.text);
    }
    case ZVCP_KIND_APPL:
      return upcallAppl(world, m);
    default:  // kinds 0, 1 and 11 go only to the server
      return ZVCP_E_UNKNOWN;
  }
}

const char* refusal(int code) {
  switch (code) {
    case ZVCP_E_UNKNOWN: return "an unknown class, operation or kind";
    case ZVCP_E_STRING: return "a text without its end";
    case ZVCP_E_BODY: return "a body that does not fit its operation";
    case ZVCP_E_RANGE: return "a value out of range";
    case ZVCP_E_TOO_LONG: return "more than 200 bytes";
    default: return "a message that cannot be read";
  }
}

// ---------------------------------------------------------------------------
// The hooks the scene, navigation and characters call

void objectMoved(ZvObj* object) {
  if (fromServer || !shared(object) || object == object->world->person) return;
  zvNetSendObjectMoved(object);
}

int sharedPerson(ZvObj* person) { return shared(person) ? 1 : 0; }

void sendPosition(ZvObj* person, int messageClass, const float* values, int count) {
  if (!shared(person) || !values) return;
  uint8_t b[ZVCP_MAX_MESSAGE];
  int n = -1;
  if (messageClass == 2 && count == 3)
    n = zvcpBuildPosition(b, sizeof b, zvNetChannel(), zvNetClientId(), uint32_t(person->id), values);
  else if (messageClass == 0 && count == 12)
    n = zvcpBuildRotTrans(b, sizeof b, zvNetChannel(), zvNetClientId(), uint32_t(person->id), values, values + 9);
  if (n > 0) zvNetSendBytes(b, n);
}

void worldGoes(ZvWorld* world) {
  if (world == zvNetTargetWorld()) zvVSCPExit();
}

}  // namespace

// ---------------------------------------------------------------------------

int zvNetDispatch(const uint8_t* message, size_t size) {
  ZvcpMessage m;
  int r = zvcpParse(message, size, &m);
  if (r != ZVCP_OK) {
    zvWarning("zvcpDispatch: %s was skipped.", refusal(r));
    return r;
  }
  ZvWorld* world = zvGetCurrentWorld();
  if (!world) return -1;
  switch (m.messageClass) {
    case 1:
      return upcallStep(world, m);
    case 2:
      return upcallPosition(world, m);
    default:
      break;
  }
  switch (m.op) {
    case ZVCP_OP_JOIN:
      return 0;
    case ZVCP_OP_YOUR_ID:
      zvNetSetClientId(m.id);
      trace("id %" PRIu32, m.id);
      return 0;
    case ZVCP_OP_ADD_OBJECTS:
      return upcallAddObjects(world, m);
    case ZVCP_OP_SWITCH:
      if (ZvObj* object = objectOf(world, m.id); object && object->nodeType == ZV_NODE_SWITCH)
        zvSetSwitchObjByNo(object, 0);
      return 0;
    case ZVCP_OP_MYSELF:
      return upcallMyself(world, m);
    case ZVCP_OP_UPDATE:
      return upcallUpdate(world, m);
    case ZVCP_OP_LEAVE:
      trace("leave %d", m.value);
      zvVSCPExit();
      return 0;
    case ZVCP_OP_MASTER:
      if (m.value > 1) return ZVCP_E_RANGE;
      zvNetSetMaster(m.value);
      trace("master %d", m.value);
      return 0;
    default:  // op 5 is not handled on receipt
      return ZVCP_E_UNKNOWN;
  }
}

int zvNetForgetServerObjects(ZvWorld* world) {
  std::vector<int32_t> ids;
  ids.swap(serverObjects);
  if (!world) return 0;
  int result = 0;
  for (int32_t id : ids) {
    ZvObj* object = zvGetObjById(world, id);
    if (!object || object == world->person) continue;
    trace("removed %d", int(id));
    if (zvDeleteZvObj(object) != ZV_OK) result = -1;
  }
  if (world->person && world->person->id != 0 && zvObjAssignId(world->person, 0) != ZV_OK) result = -1;
  return result;
}

int zvNetSendObjectMoved(ZvObj* object) {
  if (!shared(object)) return -1;
  const ZvTransform* t = zvGetObjectWRT(object);
  uint8_t b[ZVCP_MAX_MESSAGE];
  int n = zvcpBuildRotTrans(b, sizeof b, zvNetChannel(), zvNetClientId(), uint32_t(object->id), &t->m[0][0], t->m[3]);
  return n > 0 ? zvNetSendBytes(b, n) : -1;
}

int zvNetSendPosition(ZvObj* object) {
  if (!shared(object)) return -1;
  uint8_t b[ZVCP_POSITION_SIZE];
  int n = zvcpBuildPosition(b, sizeof b, zvNetChannel(), zvNetClientId(), uint32_t(object->id),
                            zvGetObjectWRT(object)->m[3]);
  return n > 0 ? zvNetSendBytes(b, n) : -1;
}

int zvNetSendStep(ZvObj* object, int direction) {
  if (fromServer || !shared(object) || (direction != ZVCP_STEP_FORWARD && direction != ZVCP_STEP_BACK)) return -1;
  uint8_t b[ZVCP_STEP_SIZE];
  int n = zvcpBuildStep(b, sizeof b, zvNetChannel(), zvNetClientId(), uint32_t(object->id), uint8_t(direction));
  return zvNetSendBytes(b, n);
}

int zvNetSendText(ZvObj* object, const char* text) {
  if (!shared(object) || !text) return -1;
  uint8_t b[ZVCP_MAX_MESSAGE];
  std::string cut(text, strnlen(text, ZVCP_MAX_TEXT));
  int n = zvcpBuildText(b, sizeof b, zvNetChannel(), zvNetClientId(), uint32_t(object->id), cut.c_str());
  return n > 0 ? zvNetSendBytes(b, n) : -1;
}

int zvNetSendEvent(ZvObj* object, uint32_t code, const char* text) {
  if (!shared(object)) return -1;
  uint8_t b[ZVCP_MAX_MESSAGE];
  int n = zvcpBuildEvent(b, sizeof b, zvNetChannel(), zvNetClientId(), uint32_t(object->id), code, text);
  return n > 0 ? zvNetSendBytes(b, n) : -1;
}

int zvNetSendAppl(ZvObj* object, int flag, const char* procedure, const char* argument) {
  if (!shared(object) || flag < 0 || flag > 255) return -1;
  uint8_t b[ZVCP_MAX_MESSAGE];
  int n = zvcpBuildAppl(b, sizeof b, zvNetChannel(), zvNetClientId(), uint32_t(object->id), 0, procedure, argument);
  if (n <= 0) return -1;
  b[ZVCP_HEADER_SIZE + 8] = uint8_t(flag);
  return zvNetSendBytes(b, n);
}

int zvNetShowText(ZvObj* object, const char* text) {
  if (!object || !text) return -1;
  if (zvNetHooks().chatShow) zvNetHooks().chatShow(text);
  if (object->world && object == object->world->person) return 0;
  if (zvNetHooks().showLabel) zvNetHooks().showLabel(object, text, 30000);
  return 0;
}

int zvNetChatSend(const char* text) {
  ZvWorld* world = zvGetCurrentWorld();
  if (!world || !text) return -1;
  const char* name = zvNetSettings().userName;
  // "name: " and the text within the longest text a message carries.
  size_t room = ZVCP_MAX_TEXT > std::strlen(name) + 2 ? ZVCP_MAX_TEXT - std::strlen(name) - 2 : 0;
  std::string line = std::string(name) + ": " + std::string(text, strnlen(text, room));
  if (world->person) zvNetShowText(world->person, line.c_str());
  else if (zvNetHooks().chatShow) zvNetHooks().chatShow(line.c_str());
  return world->person ? zvNetSendText(world->person, line.c_str()) : -1;
}

void zvNetInstallHooks(void) {
  zvSceneHooks().objectMoved = objectMoved;
  zvNavHooks().sharedPerson = sharedPerson;
  zvNavHooks().sendPosition = sendPosition;
}

int zvNetWatchWorld(ZvWorld* world) {
  for (int i = 0; i < world->exitHandlerCount; ++i)
    if (world->exitHandlers[i] == worldGoes) return 0;
  return zvAddWorldExitHandler(world, worldGoes);
}
