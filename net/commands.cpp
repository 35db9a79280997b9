// commands.cpp — the shared-world script commands (zvcp…, zvChatDisplay,
// zvGetUserName), provided to the script layer, and the one call that wires
// the client into the scene, navigation and scripts.
#include <cstdlib>
#include <string>

#include "net/netpriv.h"
#include "script/script.h"

namespace {

ZvObj* objectArg(const char* text, std::string* result) {
  ZvObj* object = static_cast<ZvObj*>(zvScriptHandleRecord(text, ZV_HANDLE_OBJ));
  if (!object) *result = std::string("bad object handle: ") + text;
  return object;
}

bool wordArg(const char* text, unsigned long most, unsigned long* out) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 0);
  if (!*text || *end || value > most) return false;
  *out = value;
  return true;
}

// A sender's answer is the script's: the bytes sent, or -1 without a
// connection. Scripts of a world that names no server run all the same.
int answer(int sent, std::string* result) {
  *result = std::to_string(sent);
  return 0;
}

int sendApplEvent(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectArg(argv[1], result);
  unsigned long code;
  if (!object) return 1;
  if (!wordArg(argv[2], 0xFFFFFFFFul, &code)) {
    *result = std::string("bad bitmask: ") + argv[2];
    return 1;
  }
  return answer(zvNetSendEvent(object, uint32_t(code), argv[3]), result);
}

int amIMaster(ZvWorld*, int, const char* const*, std::string* result) {
  *result = zvNetIsMaster() ? "1" : "0";
  return 0;
}

int sendAppl(ZvWorld*, int argc, const char* const* argv, std::string* result) {
  ZvObj* object = objectArg(argv[1], result);
  if (!object) return 1;
  unsigned long flag = zvNetIsMaster() ? ZVCP_FLAG_APPL_MASTER : ZVCP_FLAG_APPL;
  if (argc > 4 && !wordArg(argv[4], 255, &flag)) {
    *result = std::string("bad destination flag: ") + argv[4];
    return 1;
  }
  return answer(zvNetSendAppl(object, int(flag), argv[2], argv[3]), result);
}

int updateObj(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectArg(argv[1], result);
  return object ? answer(zvNetSendObjectMoved(object), result) : 1;
}

int sendChatStr(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectArg(argv[1], result);
  return object ? answer(zvNetSendText(object, argv[2]), result) : 1;
}

int chatDisplay(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectArg(argv[1], result);
  return object ? answer(zvNetShowText(object, argv[2]), result) : 1;
}

int getUserName(ZvWorld*, int, const char* const*, std::string* result) {
  *result = zvNetSettings().userName;
  return 0;
}

}  // namespace

void zvNetInstallCommands(void) {
  zvScriptProvideCommand("zvcpSendApplEvent", sendApplEvent);
  zvScriptProvideCommand("zvcpAmIMaster", amIMaster);
  zvScriptProvideCommand("zvcpSendApplSpecificMsg", sendAppl);
  zvScriptProvideCommand("zvcpSendApplSpecificMsgWithDist", sendAppl);
  zvScriptProvideCommand("zvcpUpdateObj", updateObj);
  zvScriptProvideCommand("zvcpSendChatStr", sendChatStr);
  zvScriptProvideCommand("zvChatDisplay", chatDisplay);
  zvScriptProvideCommand("zvGetUserName", getUserName);
}

void zvNetInstall(void) {
  zvNetInstallHooks();
  zvNetInstallCommands();
}
