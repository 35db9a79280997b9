// world.cpp — the protocol as the browser reads it, over one world.
//
// A client says hello, gets its identifier and the world's channel word,
// joins with its name and avatar, and is then told who it is (op 1 and op 4),
// who else is there (op 2 with each avatar, and where it stands) and which
// shared objects there are (op 2, and the last transform each was given).
// Afterwards its positions, steps, updates and chat lines go to the others
// of its world, checked first: a client moves only its own avatar and the
// shared objects, and nothing it sends is passed on that a browser would
// refuse. The oldest member of a world is its master.
//
// A departed user is never sent op 7 (a browser that receives it leaves the
// world itself): its avatar is switched off with op 3, which hides avatars
// rooted in a Switch, and is then put far below the world, which hides the
// ones that are not.
#include "net/net.h"
#include "server/server.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr size_t SV_MAX_NAME = 31;  // the browser keeps 32 bytes of a user name
constexpr float SV_AWAY = -30000.0f;  // a departed avatar's height; still fits the fixed point

void svSendBuilt(SvClient *c, const uint8_t *msg, int size) {
  if (size > 0) svSend(c, msg, size_t(size));
}

// The header of a message passed on names the world's channel and the
// member that sent it, whatever the sender wrote there.
void svStamp(SvWorld *w, uint8_t *msg, uint32_t sender) {
  zvcpPutU32(msg + 1, w->number);
  zvcpPutU32(msg + 5, sender);
}

void svToOthers(SvWorld *w, const uint8_t *msg, size_t n, const SvClient *except) {
  for (auto &[id, m] : w->members) {
    if (m.client && m.client != except && m.client->state == SV_LIVE) {
      svSend(m.client, msg, n);
      w->server->relayed++;
    }
  }
}

void svAnnounce(SvWorld *w, const SvMember &m, SvClient *to) {
  uint8_t msg[SV_MAX_MESSAGE];
  svSendBuilt(to, msg, zvcpBuildAddObjects(msg, sizeof msg, w->number, 0, m.id, 0, m.avatar.c_str(), m.name.c_str()));
  if (m.hasPosition) svSend(to, m.position, sizeof m.position);
}

void svHide(SvWorld *w, uint32_t id) {
  uint8_t sw[SV_MAX_MESSAGE], away[SV_MAX_MESSAGE];
  int n1 = zvcpBuildSwitch(sw, sizeof sw, w->number, 0, id);
  const float where[3] = {0.0f, SV_AWAY, 0.0f};
  int n2 = zvcpBuildPosition(away, sizeof away, w->number, id, id, where);
  for (auto &[mid, m] : w->members) {
    if (!m.client || m.client->state != SV_LIVE) continue;
    svSendBuilt(m.client, sw, n1);
    svSendBuilt(m.client, away, n2);
  }
}

bool svIsObject(const SvWorld *w, uint32_t id) { return id >= 1 && id <= w->objects.size(); }

// The rate budget: a client may relay opt.rate messages a second with
// bursts of opt.burst; what is over is not passed on, and a client that
// sends far over it is dropped, so that one flood neither fills the
// others' backlogs nor gets them dropped as slow.
bool svSpend(SvClient *c) {
  const SvOptions &o = c->world->server->opt;
  int64_t now = svNow();
  c->tokens += double(now - c->tokensAt) * o.rate / 1000.0;
  c->tokensAt = now;
  if (c->tokens > o.burst) c->tokens = o.burst;
  if (c->tokens >= 1.0) {
    c->tokens -= 1.0;
    return true;
  }
  // Ten times the rate refused within one second is no browser.
  if (now - c->droppedSince > 1000) {
    c->droppedSince = now;
    c->dropped = 0;
  }
  if (++c->dropped > uint64_t(o.rate * 10)) svDrop(c, "flooding");
  return false;
}

std::string svClean(const char *text, size_t limit) {
  std::string s;
  for (const char *p = text; *p && s.size() < limit; p++) s += (unsigned char)*p < 0x20 || *p == 0x7f ? '?' : *p;
  return s;
}

void svJoin(SvClient *c, const char *name, const char *avatar) {
  SvWorld *w = c->world;
  SvMember m;
  m.id = c->id;
  m.seq = c->seq;
  m.server = w->server->serverId;
  m.client = c;
  // What others are sent about us must fit their add-objects message: URL
  // and name take at most 173 bytes together.
  m.avatar = svClean(avatar ? avatar : "", 172);
  if (m.avatar.empty() || m.avatar.size() != strlen(avatar ? avatar : "")) m.avatar = "person.wrl";
  m.name = svClean(name ? name : "", SV_MAX_NAME);
  if (m.avatar.size() + m.name.size() > 173) m.name.resize(173 - m.avatar.size());
  c->state = SV_LIVE;

  uint8_t msg[SV_MAX_MESSAGE];
  svSendBuilt(c, msg, zvcpBuildYourId(msg, sizeof msg, w->number, 0, c->id));
  svSendBuilt(c, msg, zvcpBuildMyself(msg, sizeof msg, w->number, 0, c->id));
  // What a newcomer is told at once may pass the backlog's usual bound.
  c->outLimit = SIZE_MAX;
  for (auto &[id, other] : w->members) svAnnounce(w, other, c);
  for (const SvObject &o : w->objects) {
    svSendBuilt(c, msg, zvcpBuildAddObjects(msg, sizeof msg, w->number, 0, o.id, 0, o.url.c_str(),
                                            o.name.empty() ? nullptr : o.name.c_str()));
    if (!o.transform.empty()) svSend(c, o.transform.data(), o.transform.size());
  }
  c->outLimit = c->out.size() - c->outOff + w->server->opt.outLimit;
  auto &mine = w->members[m.id] = m;
  for (auto &[id, other] : w->members)
    if (other.client && other.client != c && other.client->state == SV_LIVE) svAnnounce(w, mine, other.client);
  svLog(w->server, "join %s on port %d id %u \"%s\" avatar %s", c->peer.c_str(), w->port, c->id, mine.name.c_str(),
        mine.avatar.c_str());
  svRedisJoin(w, mine);
  svElect(w);
}

void svMessage(SvClient *c, uint8_t *msg, size_t size) {
  SvWorld *w = c->world;
  ZvcpMessage m;
  int rc = zvcpParse(msg, size, &m);
  if (c->state == SV_JOIN) {
    if (rc == ZVCP_OK && m.messageClass == 0 && m.op == ZVCP_OP_JOIN)
      svJoin(c, m.text, m.text2);
    else
      svDrop(c, "no join after the hello");
    return;
  }
  // A message the browser would refuse (bad text, bad layout, unknown op or
  // kind) is not passed on; the stream is still in step, so the client stays.
  if (rc != ZVCP_OK) return;
  bool own = m.id == c->id;
  switch (m.messageClass) {
  case 1:  // a character's step
    if (!own && !svIsObject(w, m.id)) return;
    if (m.value != ZVCP_STEP_FORWARD && m.value != ZVCP_STEP_BACK) return;
    break;
  case 2: {  // a position: of the own avatar only
    if (!own) return;
    if (!svSpend(c)) return;
    svStamp(w, msg, c->id);
    auto it = w->members.find(c->id);
    if (it != w->members.end()) {
      memcpy(it->second.position, msg, sizeof it->second.position);
      it->second.hasPosition = true;
    }
    svToOthers(w, msg, size, c);
    svRedisMessage(w, c->id, msg, size);
    return;
  }
  case 0:
    if (m.op == ZVCP_OP_LEAVE) {
      svDrop(c, "left");
      return;
    }
    if (m.op != ZVCP_OP_UPDATE) return;  // joins again, or what only a server sends
    // Kinds 0, 1 and 11 are refused by every browser: not worth the wire.
    if (m.kind != ZVCP_KIND_ROTTRANS && m.kind != ZVCP_KIND_TEXT && m.kind != ZVCP_KIND_APPL) return;
    if (!own && !svIsObject(w, m.id)) return;
    break;
  default:
    return;
  }
  if (!svSpend(c)) return;
  svStamp(w, msg, c->id);
  if (m.messageClass == 0 && m.kind == ZVCP_KIND_ROTTRANS && svIsObject(w, m.id))
    w->objects[m.id - 1].transform.assign(msg, msg + size);
  svToOthers(w, msg, size, c);
  svRedisMessage(w, c->id, msg, size);
}

void svRemove(SvWorld *w, uint32_t id) {
  w->members.erase(id);
  svHide(w, id);
  svElect(w);
}

}  // namespace

uint32_t svIdOfSeq(uint64_t seq) {
  uint64_t span = uint64_t(SV_LAST_ID) - SV_FIRST_USER_ID + 1;
  return SV_FIRST_USER_ID + uint32_t((seq - 1) % span);
}

long svConsume(SvClient *c, const uint8_t *bytes, size_t n) {
  SvServer *s = c->world->server;
  size_t off = 0;
  while (off < n && c->state != SV_DEAD) {
    if (c->state == SV_HELLO) {
      if (n - off < ZVCP_HELLO_SIZE) break;
      if (zvcpParseHello(bytes + off, ZVCP_HELLO_SIZE) != 0) {
        c->why = "no hello";
        return -1;
      }
      off += ZVCP_HELLO_SIZE;
      const char *full = s->live > size_t(s->opt.maxClients) ? "rejected: full"
                         : !svRedisReady(s)                  ? "rejected: Redis is not reachable"
                                                             : nullptr;
      if (full) {
        // Seven bytes make the rejection; the answer a browser waits for is
        // fourteen, so it gets fourteen and reads "reject" in them.
        uint8_t msg[ZVCP_ANSWER_SIZE] = {};
        zvcpBuildReject(msg, sizeof msg);
        svSend(c, msg, sizeof msg);
        svDrop(c, full);
        return long(off);
      }
      if (s->redis) {
        c->state = SV_NUMBER;
        if (svRedisNumber(s, c) != 0) {
          c->why = "no identifier from Redis";
          return -1;
        }
      } else {
        uint64_t seq = ++s->seqLocal;
        while (c->world->members.count(svIdOfSeq(seq))) seq = ++s->seqLocal;
        svNumbered(c, seq);
      }
      continue;
    }
    if (c->state == SV_NUMBER) break;  // what it says next waits for its number
    int64_t size = zvcpMessageSize(bytes + off, n - off);
    if (size == ZVCP_E_INCOMPLETE) break;
    if (size < 0) {
      c->why = "unknown message class";
      return -1;
    }
    if (size > int64_t(SV_MAX_MESSAGE)) {
      c->why = "a message over 200 bytes";
      return -1;
    }
    if (n - off < size_t(size)) break;
    uint8_t msg[SV_MAX_MESSAGE];
    memcpy(msg, bytes + off, size_t(size));
    svMessage(c, msg, size_t(size));
    off += size_t(size);
  }
  return long(off);
}

void svNumbered(SvClient *c, uint64_t seq) {
  if (c->state == SV_DEAD) return;
  c->seq = seq;
  c->id = svIdOfSeq(seq);
  c->state = SV_JOIN;
  uint8_t msg[ZVCP_ANSWER_SIZE];
  svSendBuilt(c, msg, zvcpBuildAnswer(msg, sizeof msg, c->id, c->world->number));
  if (c->inLen) {  // it spoke on while we waited for the number
    uint8_t held[SV_MAX_MESSAGE];
    size_t n = c->inLen;
    memcpy(held, c->in, n);
    c->inLen = 0;
    long used = svConsume(c, held, n);
    if (used < 0) {
      svDrop(c, c->why ? c->why : "broke the protocol");
      return;
    }
    memcpy(c->in, held + used, n - size_t(used));
    c->inLen = n - size_t(used);
  }
}

void svLeave(SvClient *c) {
  if (!c->id) return;
  SvWorld *w = c->world;
  auto it = w->members.find(c->id);
  if (it == w->members.end() || it->second.client != c) return;
  svRedisLeave(w, c->id);
  svRemove(w, c->id);
}

void svElect(SvWorld *w) {
  const SvMember *oldest = nullptr;
  for (auto &[id, m] : w->members)
    if (!oldest || m.seq < oldest->seq || (m.seq == oldest->seq && m.id < oldest->id)) oldest = &m;
  uint32_t now = oldest ? oldest->id : 0;
  if (now == w->master) return;
  uint8_t msg[SV_MAX_MESSAGE];
  auto before = w->members.find(w->master);
  if (before != w->members.end() && before->second.client)
    svSendBuilt(before->second.client, msg, zvcpBuildMaster(msg, sizeof msg, w->number, 0, 0));
  w->master = now;
  if (oldest && oldest->client) {
    svSendBuilt(oldest->client, msg, zvcpBuildMaster(msg, sizeof msg, w->number, 0, 1));
    svLog(w->server, "master of port %d is id %u \"%s\"", w->port, now, oldest->name.c_str());
  }
}

void svRemoteJoin(SvWorld *w, const SvMember &m) {
  auto it = w->members.find(m.id);
  if (it != w->members.end()) return;  // heard of already (a second answer to a sync)
  auto &mine = w->members[m.id] = m;
  mine.client = nullptr;
  for (auto &[id, other] : w->members)
    if (other.client && other.client->state == SV_LIVE) svAnnounce(w, mine, other.client);
  svElect(w);
}

void svRemoteLeave(SvWorld *w, uint32_t id) {
  auto it = w->members.find(id);
  if (it == w->members.end() || it->second.client) return;
  svRemove(w, id);
}

void svRemoteServerGone(SvWorld *w, uint32_t server) {
  std::vector<uint32_t> gone;
  for (auto &[id, m] : w->members)
    if (!m.client && m.server == server) gone.push_back(id);
  for (uint32_t id : gone) svRemove(w, id);
  if (!gone.empty()) svLog(w->server, "port %d: server %u is gone, and %zu users with it", w->port, server, gone.size());
}

void svRemoteMessage(SvWorld *w, uint32_t sender, const uint8_t *bytes, size_t n) {
  if (n > SV_MAX_MESSAGE || zvcpMessageSize(bytes, n) != int64_t(n)) return;
  uint8_t msg[SV_MAX_MESSAGE];
  memcpy(msg, bytes, n);
  ZvcpMessage m;
  if (zvcpParse(msg, n, &m) != ZVCP_OK) return;
  auto it = w->members.find(sender);
  if (sender != 0 && (it == w->members.end() || it->second.client)) return;  // not theirs to speak for
  svStamp(w, msg, sender);
  if (m.messageClass == 2) {
    if (m.id != sender) return;
    memcpy(it->second.position, msg, sizeof it->second.position);
    it->second.hasPosition = true;
  } else if (m.messageClass == 0 && m.op == ZVCP_OP_UPDATE && m.kind == ZVCP_KIND_ROTTRANS && svIsObject(w, m.id)) {
    w->objects[m.id - 1].transform.assign(msg, msg + n);
  }
  if (sender == 0) return;  // a shared object's state told to a newcomer server: not news
  svToOthers(w, msg, n, nullptr);
}

void svDescribeWorld(SvWorld *w) {
  for (auto &[id, m] : w->members) {
    if (!m.client) continue;
    svRedisJoin(w, m);
    if (m.hasPosition) svRedisMessage(w, m.id, m.position, sizeof m.position);
  }
  for (const SvObject &o : w->objects)
    if (!o.transform.empty()) svRedisMessage(w, 0, o.transform.data(), o.transform.size());
}
