// redis.cpp — several servers, the same worlds, through Redis.
//
// Two non-blocking hiredis connections driven by the server's own epoll
// loop: one for commands (INCR for identifiers, PUBLISH), one subscribed
// to the channel of every world this server listens for. A world's channel
// is "quillmoor:world:N" for its number N; on it each server publishes, in
// small binary records, its clients' joins, every message it relays, their
// leaves, a sync request when it subscribes (answered by every other server
// with its members) and a heartbeat every two seconds. A server whose
// heartbeat stops for ten seconds is taken to be gone, with its users.
//
//   'J' server u32, id u32, seq u64, name\0, avatar\0
//   'L' server u32, id u32
//   'M' server u32, sender u32, one wire message (sender 0: a shared object's state)
//   'S' server u32      (tell me your members)
//   'H' server u32      (still here)
//
// Identifiers come from INCR of "quillmoor:ids", so they are unique across
// the servers and their order is the worlds' join order (the oldest is
// master on every server alike).
#include "net/net.h"
#include "server/server.h"

#include <cstdlib>
#include <cstring>
#include <hiredis/async.h>
#include <hiredis/hiredis.h>
#include <sys/epoll.h>

namespace {

constexpr int64_t SV_BEAT_MS = 2000;
constexpr int64_t SV_GONE_MS = 10000;
constexpr int64_t SV_RETRY_MS = 2000;

struct SvRedisConn {
  SvHandle handle{SV_REDIS, this};
  SvServer *s = nullptr;
  redisAsyncContext *ac = nullptr;
  int fd = -1;
  uint32_t events = 0;      // what epoll watches for it now
  bool registered = false;
  bool up = false;
  bool subscriber = false;
};

}  // namespace

struct SvRedis {
  std::string host;
  int port = 0;
  SvRedisConn pub, sub;
  size_t subscribed = 0;
  bool announced = false;   // the sync request went out since the last connect
  int64_t lastTry = 0, lastBeat = 0;
  uint64_t nextTicket = 1;
  std::map<uint64_t, SvClient *> waiting;           // INCR asked, not answered
  std::map<SvWorld *, std::map<uint32_t, int64_t>> beats;  // other servers, last heard
};

namespace {

void svRedisUpdate(SvRedisConn *k) {
  SvServer *s = k->s;
  if (k->events == 0) {
    if (k->registered) epoll_ctl(s->epfd, EPOLL_CTL_DEL, k->fd, nullptr);
    k->registered = false;
    return;
  }
  svWatch(s, k->fd, &k->handle, k->events, k->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD);
  k->registered = true;
}

void svAddRead(void *p) {
  auto *k = static_cast<SvRedisConn *>(p);
  k->events |= EPOLLIN;
  svRedisUpdate(k);
}
void svDelRead(void *p) {
  auto *k = static_cast<SvRedisConn *>(p);
  k->events &= ~uint32_t(EPOLLIN);
  svRedisUpdate(k);
}
void svAddWrite(void *p) {
  auto *k = static_cast<SvRedisConn *>(p);
  k->events |= EPOLLOUT;
  svRedisUpdate(k);
}
void svDelWrite(void *p) {
  auto *k = static_cast<SvRedisConn *>(p);
  k->events &= ~uint32_t(EPOLLOUT);
  svRedisUpdate(k);
}
void svCleanup(void *p) {
  auto *k = static_cast<SvRedisConn *>(p);
  k->events = 0;
  svRedisUpdate(k);
  k->ac = nullptr;
  k->up = false;
}

std::string svChannel(const SvWorld *w) { return "quillmoor:world:" + std::to_string(w->number); }

void svPublish(SvWorld *w, const std::string &record) {
  SvRedis *r = w->server->redis;
  if (!r || !r->pub.up) return;
  std::string ch = svChannel(w);
  redisAsyncCommand(r->pub.ac, nullptr, nullptr, "PUBLISH %b %b", ch.data(), ch.size(), record.data(), record.size());
}

std::string svRecord(char type, uint32_t server) {
  std::string rec(5, '\0');
  rec[0] = type;
  zvcpPutU32(reinterpret_cast<uint8_t *>(&rec[1]), server);
  return rec;
}

void svPutWord(std::string &rec, uint32_t v) {
  uint8_t b[4];
  zvcpPutU32(b, v);
  rec.append(reinterpret_cast<char *>(b), 4);
}

void svAnnounceAll(SvServer *s) {
  SvRedis *r = s->redis;
  if (r->announced || !r->pub.up || !s->serverId || r->subscribed < s->worlds.size()) return;
  r->announced = true;
  for (SvWorld *w : s->worlds) {
    svPublish(w, svRecord('S', s->serverId));
    svDescribeWorld(w);  // and, for those who came up before us, ours
  }
  svLog(s, "redis: sharing %zu worlds as server %u", s->worlds.size(), s->serverId);
}

// One record from another server on a world's channel.
void svTake(SvWorld *w, const uint8_t *b, size_t n) {
  SvServer *s = w->server;
  if (n < 5) return;
  uint32_t from = zvcpGetU32(b + 1);
  if (from == s->serverId || from == 0) return;
  s->redis->beats[w][from] = svNow();
  switch (b[0]) {
  case 'J': {
    if (n < 5 + 16 + 2) return;
    SvMember m;
    m.server = from;
    m.id = zvcpGetU32(b + 5);
    m.seq = uint64_t(zvcpGetU32(b + 9)) << 32 | zvcpGetU32(b + 13);
    const char *name = reinterpret_cast<const char *>(b + 17);
    const char *nameEnd = static_cast<const char *>(memchr(name, 0, n - 17));
    if (!nameEnd) return;
    const char *avatar = nameEnd + 1;
    size_t left = n - size_t(avatar - reinterpret_cast<const char *>(b));
    if (!left || !memchr(avatar, 0, left)) return;
    m.name = name;
    m.avatar = avatar;
    if (m.id < SV_FIRST_USER_ID || m.id > SV_LAST_ID || m.name.size() + m.avatar.size() > 173) return;
    svRemoteJoin(w, m);
    break;
  }
  case 'L':
    if (n >= 9) svRemoteLeave(w, zvcpGetU32(b + 5));
    break;
  case 'M':
    if (n > 9) svRemoteMessage(w, zvcpGetU32(b + 5), b + 9, n - 9);
    break;
  case 'S':
    svDescribeWorld(w);
    break;
  default:  // 'H' and whatever a later server may add
    break;
  }
}

void svOnMessage(redisAsyncContext *ac, void *reply, void *priv) {
  auto *k = static_cast<SvRedisConn *>(ac->data);
  auto *rep = static_cast<redisReply *>(reply);
  auto *w = static_cast<SvWorld *>(priv);
  if (!rep || rep->type != REDIS_REPLY_ARRAY || rep->elements < 3) return;
  redisReply *kind = rep->element[0];
  if (kind->type != REDIS_REPLY_STRING) return;
  if (strcmp(kind->str, "subscribe") == 0) {
    k->s->redis->subscribed++;
    svAnnounceAll(k->s);
  } else if (strcmp(kind->str, "message") == 0 && rep->element[2]->type == REDIS_REPLY_STRING) {
    svTake(w, reinterpret_cast<const uint8_t *>(rep->element[2]->str), rep->element[2]->len);
  }
}

void svOnServerId(redisAsyncContext *ac, void *reply, void *) {
  auto *k = static_cast<SvRedisConn *>(ac->data);
  auto *rep = static_cast<redisReply *>(reply);
  if (!rep || rep->type != REDIS_REPLY_INTEGER || rep->integer <= 0) return;
  // The server number only has to differ between servers that run at once.
  k->s->serverId = uint32_t((uint64_t(rep->integer) - 1) % 0xfffffffeu) + 1;
  svAnnounceAll(k->s);
}

void svOnNumber(redisAsyncContext *ac, void *reply, void *priv) {
  auto *k = static_cast<SvRedisConn *>(ac->data);
  SvRedis *r = k->s->redis;
  auto it = r->waiting.find(reinterpret_cast<uintptr_t>(priv));
  if (it == r->waiting.end()) return;
  SvClient *c = it->second;
  r->waiting.erase(it);
  auto *rep = static_cast<redisReply *>(reply);
  if (!rep || rep->type != REDIS_REPLY_INTEGER || rep->integer <= 0) {
    svDrop(c, "no identifier from Redis");
    return;
  }
  svNumbered(c, uint64_t(rep->integer));
}

void svOnConnect(const redisAsyncContext *ac, int status) {
  auto *k = static_cast<SvRedisConn *>(ac->data);
  SvServer *s = k->s;
  if (status != REDIS_OK) {
    svLog(s, "redis: cannot connect to %s: %s", s->opt.redis.c_str(), ac->errstr ? ac->errstr : "?");
    return;  // hiredis frees the context and calls the cleanup hook
  }
  k->up = true;
  auto *mac = const_cast<redisAsyncContext *>(ac);
  if (k->subscriber) {
    for (SvWorld *w : s->worlds) {
      std::string ch = svChannel(w);
      redisAsyncCommand(mac, svOnMessage, w, "SUBSCRIBE %b", ch.data(), ch.size());
    }
  } else if (!s->serverId) {
    redisAsyncCommand(mac, svOnServerId, nullptr, "INCR quillmoor:servers");
  }
  svAnnounceAll(s);
}

void svOnDisconnect(const redisAsyncContext *ac, int) {
  auto *k = static_cast<SvRedisConn *>(ac->data);
  SvServer *s = k->s;
  k->up = false;
  k->ac = nullptr;
  if (k->subscriber) s->redis->subscribed = 0;
  s->redis->announced = false;
  svLog(s, "redis: connection to %s lost", s->opt.redis.c_str());
}

void svConnect(SvServer *s, SvRedisConn *k) {
  SvRedis *r = s->redis;
  redisAsyncContext *ac = redisAsyncConnect(r->host.c_str(), r->port);
  if (!ac) return;
  if (ac->err) {
    svLog(s, "redis: cannot connect to %s: %s", s->opt.redis.c_str(), ac->errstr);
    redisAsyncFree(ac);
    return;
  }
  k->ac = ac;
  k->fd = ac->c.fd;
  k->events = 0;
  k->registered = false;
  ac->data = k;
  ac->ev.data = k;
  ac->ev.addRead = svAddRead;
  ac->ev.delRead = svDelRead;
  ac->ev.addWrite = svAddWrite;
  ac->ev.delWrite = svDelWrite;
  ac->ev.cleanup = svCleanup;
  redisAsyncSetConnectCallback(ac, svOnConnect);
  redisAsyncSetDisconnectCallback(ac, svOnDisconnect);
  // hiredis waits for the socket to become writable to learn the connect's end.
  svAddWrite(k);
}

}  // namespace

int svRedisOpen(SvServer *s) {
  if (s->opt.redis.empty()) return 0;
  auto *r = new SvRedis;
  size_t colon = s->opt.redis.rfind(':');
  r->host = s->opt.redis.substr(0, colon);
  r->port = atoi(s->opt.redis.c_str() + colon + 1);
  r->pub.s = r->sub.s = s;
  r->sub.subscriber = true;
  s->redis = r;
  r->lastTry = svNow();
  svConnect(s, &r->pub);
  svConnect(s, &r->sub);
  return 0;
}

void svRedisEvent(SvServer *, SvHandle *h, uint32_t events) {
  auto *k = static_cast<SvRedisConn *>(h->owner);
  if (k->ac && (events & (EPOLLIN | EPOLLERR | EPOLLHUP))) redisAsyncHandleRead(k->ac);
  if (k->ac && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) redisAsyncHandleWrite(k->ac);
}

void svRedisTick(SvServer *s) {
  SvRedis *r = s->redis;
  if (!r) return;
  int64_t now = svNow();
  if ((!r->pub.ac || !r->sub.ac) && now - r->lastTry >= SV_RETRY_MS) {
    r->lastTry = now;
    if (!r->pub.ac) svConnect(s, &r->pub);
    if (!r->sub.ac) svConnect(s, &r->sub);
  }
  if (now - r->lastBeat >= SV_BEAT_MS && r->announced) {
    r->lastBeat = now;
    for (SvWorld *w : s->worlds) svPublish(w, svRecord('H', s->serverId));
  }
  for (SvWorld *w : s->worlds) {
    auto &beats = r->beats[w];
    for (auto it = beats.begin(); it != beats.end();) {
      if (now - it->second > SV_GONE_MS) {
        uint32_t gone = it->first;
        it = beats.erase(it);
        svRemoteServerGone(w, gone);
      } else {
        ++it;
      }
    }
  }
}

bool svRedisReady(SvServer *s) { return !s->redis || (s->redis->pub.up && s->serverId != 0); }

int svRedisNumber(SvServer *s, SvClient *c) {
  SvRedis *r = s->redis;
  if (!r->pub.up) return -1;
  uint64_t ticket = r->nextTicket++;
  if (redisAsyncCommand(r->pub.ac, svOnNumber, reinterpret_cast<void *>(uintptr_t(ticket)), "INCR quillmoor:ids") !=
      REDIS_OK)
    return -1;
  r->waiting[ticket] = c;
  return 0;
}

void svRedisForget(SvServer *s, SvClient *c) {
  if (!s->redis || c->state != SV_DEAD) return;
  for (auto it = s->redis->waiting.begin(); it != s->redis->waiting.end(); ++it) {
    if (it->second == c) {
      s->redis->waiting.erase(it);
      return;
    }
  }
}

void svRedisJoin(SvWorld *w, const SvMember &m) {
  if (!w->server->redis) return;
  std::string rec = svRecord('J', w->server->serverId);
  svPutWord(rec, m.id);
  svPutWord(rec, uint32_t(m.seq >> 32));
  svPutWord(rec, uint32_t(m.seq));
  rec += m.name;
  rec += '\0';
  rec += m.avatar;
  rec += '\0';
  svPublish(w, rec);
}

void svRedisLeave(SvWorld *w, uint32_t id) {
  if (!w->server->redis) return;
  std::string rec = svRecord('L', w->server->serverId);
  svPutWord(rec, id);
  svPublish(w, rec);
}

void svRedisMessage(SvWorld *w, uint32_t sender, const uint8_t *msg, size_t n) {
  if (!w->server->redis) return;
  std::string rec = svRecord('M', w->server->serverId);
  svPutWord(rec, sender);
  rec.append(reinterpret_cast<const char *>(msg), n);
  svPublish(w, rec);
}

void svRedisClose(SvServer *s) {
  SvRedis *r = s->redis;
  if (!r) return;
  for (SvWorld *w : s->worlds)
    for (auto &[id, m] : w->members)
      if (m.client) svRedisLeave(w, id);
  // Whatever is still queued for Redis goes now; the leaves above matter.
  if (r->pub.ac) {
    redisAsyncContext *ac = r->pub.ac;
    for (int i = 0; i < 100 && r->pub.ac && (r->pub.events & EPOLLOUT); i++) redisAsyncHandleWrite(ac);
  }
  s->redis = nullptr;
  if (r->sub.ac) redisAsyncFree(r->sub.ac);
  if (r->pub.ac) redisAsyncFree(r->pub.ac);
  delete r;
}
