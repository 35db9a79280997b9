// fuzz_dispatch.cpp — libFuzzer entry: any bytes as what a server sends
// after the hello, fed through the receive ring in uneven pieces and every
// whole message dispatched to the upcalls against a world with an avatar,
// a switch and a plain object. A crash, a hang or a leak is a finding.
// Objects from the web are not fetched here: the fetch would go out to
// the network.
#include <cstddef>
#include <cstdint>

#include "net/net.h"
#include "scene/scene.h"
#include "www/www.h"

namespace {

void quiet(int, const char*, int, void*) {}

bool wouldFetch(const uint8_t* message, size_t size) {
  ZvcpMessage m;
  return zvcpParse(message, size, &m) == ZVCP_OK && m.messageClass == 0 && m.op == ZVCP_OP_ADD_OBJECTS &&
         zvUrlScheme(m.text) != ZV_SCHEME_NONE;
}

ZvObj* object(ZvWorld* world, int32_t id, int nodeType) {
  ZvObj* o = nullptr;
  if (zvNewZvObj(world, &o, 0) != ZV_OK) return nullptr;
  zvAddTopObject(o, "fuzz.wrl");
  o->nodeType = nodeType;
  zvObjAssignId(o, id);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    zvSetReportSink(quiet, nullptr);
    zvNetInstall();
    return true;
  }();
  (void)ready;
  ZvWorld* world = zvNewWorld("file:///fuzz/shared.wrl");
  if (!world) return 0;
  zvSetCurrentWorld(world);
  world->person = object(world, 7, ZV_NODE_SEPARATOR);
  object(world, 8, ZV_NODE_SWITCH);
  object(world, 9, ZV_NODE_SEPARATOR);

  static ZvcpRing ring;
  zvcpRingReset(&ring);
  uint8_t message[ZVCP_MAX_MESSAGE];
  size_t at = 0;
  for (int rounds = 0; rounds < 100000; ++rounds) {
    int n = zvcpRingNext(&ring, message);
    if (n > 0) {
      if (!wouldFetch(message, size_t(n))) zvNetDispatch(message, size_t(n));
      continue;
    }
    if (n == ZVCP_E_STREAM || at >= size) break;
    // Pieces of 1 to 64 bytes, sized by the data itself.
    size_t piece = 1 + data[at] % 64;
    if (piece > size - at) piece = size - at;
    if (piece > zvcpRingFree(&ring)) piece = zvcpRingFree(&ring);
    zvcpRingPut(&ring, data + at, piece);
    at += piece;
  }
  zvSetCurrentWorld(nullptr);
  zvDeleteWorld(world);
  return 0;
}
