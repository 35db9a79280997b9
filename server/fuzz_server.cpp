// fuzz_server.cpp — the server's message reader under libFuzzer.
//
// The input is what one client sends, cut into reads at the points its
// first bytes choose, to a world that already holds another user and a
// shared object. Nothing is opened: the other user's bytes only pile up in
// its backlog. Whatever comes in, the reader must neither crash nor keep
// more than one message of it between reads.
#include "server/server.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static SvServer *s = [] {
    auto *srv = new SvServer;
    srv->opt.quiet = true;
    auto *w = new SvWorld;
    w->server = srv;
    w->port = 7000;
    w->number = 7000;
    SvObject ball;
    ball.id = 1;
    ball.url = "http://127.0.0.1/ball.wrl";
    w->objects.push_back(ball);
    srv->worlds.push_back(w);
    return srv;
  }();
  SvWorld *w = s->worlds[0];
  if (size < 2) return 0;
  size_t cut1 = data[0], cut2 = data[1];
  data += 2;
  size -= 2;

  SvClient other;
  other.world = w;
  other.state = SV_LIVE;
  other.id = 20000;
  other.seq = 1;
  other.outLimit = 1 << 20;
  SvMember om;
  om.id = other.id;
  om.seq = other.seq;
  om.client = &other;
  om.name = "other";
  om.avatar = "person.wrl";
  w->members[om.id] = om;

  auto *c = new SvClient;
  c->world = w;
  c->outLimit = 1 << 20;
  c->tokens = 1e9;
  s->opt.rate = 1e9;
  // Three reads, as the socket might deliver them.
  size_t cuts[4] = {0, cut1 < size ? cut1 : size, 0, size};
  cuts[2] = cuts[1] + cut2 < size ? cuts[1] + cut2 : size;
  for (int i = 0; i < 3 && c->state != SV_DEAD; i++) {
    size_t from = cuts[i], to = cuts[i + 1];
    uint8_t buf[65536 + SV_MAX_MESSAGE];
    size_t have = c->inLen;
    if (to - from > 65536) to = from + 65536;
    memcpy(buf, c->in, have);
    memcpy(buf + have, data + from, to - from);
    have += to - from;
    c->inLen = 0;
    long used = svConsume(c, buf, have);
    if (used < 0 || c->state == SV_DEAD) break;
    size_t rest = have - size_t(used);
    if (rest > sizeof c->in) break;  // the loop drops such a client
    memcpy(c->in, buf + used, rest);
    c->inLen = rest;
  }
  // What the server does when a connection goes.
  svLeave(c);
  delete c;
  w->members.clear();
  w->master = 0;
  w->objects[0].transform.clear();
  s->dead.clear();
  s->flush.clear();
  return 0;
}
