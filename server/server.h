// server.h — quillmoor-server, the shared-world server.
//
// One process, one thread, one epoll loop. Every listening port is one
// world; every client of a port is in that world. The wire layouts come from
// net/ (the wire module the browser uses), nothing else of the browser is
// linked. Optionally several servers share their worlds through Redis
// (server/redis.cpp): joins, relayed messages and leaves go out on one
// channel per world and come back in from the other servers.
//
// Identifiers: 1 … SV_FIRST_USER_ID−1 name the shared objects given on the
// command line (the n-th object of a world is n on every server), users
// take SV_FIRST_USER_ID … 2^31−1 in join order, from Redis INCR when Redis
// is used, so they are unique across servers. The same number is a user's
// client identifier and its avatar's object identifier.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr uint32_t SV_FIRST_USER_ID = 10000;
constexpr uint32_t SV_LAST_ID = 0x7fffffffu;
constexpr size_t SV_MAX_MESSAGE = 200;  // what the browser's dispatch accepts

struct SvWorld;
struct SvServer;

// What epoll's data pointer points at: one of these heads every record
// that owns a descriptor in the loop.
enum SvKind { SV_LISTENER, SV_CLIENT, SV_REDIS };
struct SvHandle {
  SvKind kind;
  void *owner;
};

enum SvClientState {
  SV_HELLO,    // waiting for the 7 bytes of the client's hello
  SV_NUMBER,   // hello taken, waiting for an identifier from Redis
  SV_JOIN,     // answer sent, waiting for the join message
  SV_LIVE,     // joined: messages flow
  SV_DEAD,     // closed at the end of this turn of the loop
};

// One user of a world, local (client != nullptr) or on another server.
struct SvMember {
  uint32_t id = 0;
  uint64_t seq = 0;          // join order across all servers: the oldest is master
  uint32_t server = 0;       // the server that holds the connection
  std::string name, avatar;
  uint8_t position[27] = {}; // the last position message, for those who join later
  bool hasPosition = false;
  struct SvClient *client = nullptr;
};

struct SvClient {
  SvHandle handle{SV_CLIENT, this};
  int fd = -1;
  SvWorld *world = nullptr;
  SvClientState state = SV_HELLO;
  uint32_t id = 0;
  uint64_t seq = 0;
  std::string peer;          // address:port, for the log
  // A partial message between reads; a complete one is never longer than
  // SV_MAX_MESSAGE, so this never needs to grow.
  uint8_t in[SV_MAX_MESSAGE];
  size_t inLen = 0;
  // Bytes waiting to go out. Bounded: a client whose backlog passes outLimit
  // is dropped rather than allowed to hold the others up.
  std::vector<uint8_t> out;
  size_t outOff = 0;
  size_t outLimit = 0;
  bool writeArmed = false;   // EPOLLOUT is on
  bool dirty = false;        // on the server's flush list
  int64_t heard = 0;         // ms: the last byte from it
  int64_t since = 0;         // ms: accepted
  double tokens = 0;         // the rate budget for relayed messages
  int64_t tokensAt = 0;
  uint64_t dropped = 0;      // messages over the budget since droppedSince
  int64_t droppedSince = 0;
  const char *why = nullptr; // why it is being closed
};

struct SvObject {            // a shared object of a world
  uint32_t id = 0;
  std::string url, name;
  std::vector<uint8_t> transform;  // its last op-6 kind-2 message, when it moved
};

struct SvWorld {
  SvHandle handle{SV_LISTENER, this};
  SvServer *server = nullptr;
  int port = 0;
  int fd = -1;
  uint32_t number = 0;       // the world's name on Redis and its channel word
  std::map<uint32_t, SvMember> members;
  std::vector<SvObject> objects;
  uint32_t master = 0;       // id of the member that is master, 0 when none
  int64_t lastBeat = 0;
};

struct SvOptions {
  std::string bind = "0.0.0.0";
  int firstPort = 7000, lastPort = 7000;
  long world = -1;           // Redis world number of the first port (default: the port)
  int maxClients = 10000;
  std::string redis;         // HOST:PORT, empty for none
  int timeoutMs = 30000;     // silence after which a client is dropped
  int handshakeMs = 10000;   // hello and join must be done by then
  double rate = 40;          // relayed messages a second a client may send …
  double burst = 120;        // … and how many at once
  size_t outLimit = 64 * 1024;
  bool quiet = false;        // no per-connection log lines
  std::vector<std::pair<int, std::string>> objects;  // port (0: all), "URL[#name]"
};

struct SvRedis;

struct SvServer {
  SvOptions opt;
  int epfd = -1;
  std::vector<SvWorld *> worlds;
  std::vector<SvClient *> flush;   // clients with bytes to send this turn
  std::vector<SvClient *> dead;    // clients to close at the end of this turn
  std::map<int, SvClient *> clients;
  size_t live = 0;                 // connections held
  uint32_t nextLocal = 0;          // identifiers without Redis
  uint64_t seqLocal = 0;
  SvRedis *redis = nullptr;
  uint32_t serverId = 0;           // this server's number on Redis
  bool stop = false;
  // Counters for the log and the benchmark.
  uint64_t relayed = 0;
};

// main.cpp / options
int svParseOptions(int argc, char **argv, SvOptions *opt, std::string *error);

// loop.cpp
int64_t svNow();
int svOpen(SvServer *s);              // listen on every port; 0 or -1
int svRun(SvServer *s);               // until s->stop
void svClose(SvServer *s);
void svLog(SvServer *s, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void svSend(SvClient *c, const uint8_t *bytes, size_t n);  // queue; drops c when over its limit
void svDrop(SvClient *c, const char *why);                 // closed at the end of the turn
int svWatch(SvServer *s, int fd, SvHandle *h, uint32_t events, int op);

// world.cpp: the protocol over one client
// Takes bytes from the socket; returns the number consumed (the rest waits
// for more), or -1 when the client broke the protocol (c->why says how).
long svConsume(SvClient *c, const uint8_t *bytes, size_t n);
void svNumbered(SvClient *c, uint64_t seq);   // an identifier arrived: answer the hello
void svLeave(SvClient *c);                    // the connection is going: tell the world
void svElect(SvWorld *w);                     // the oldest member is master
uint32_t svIdOfSeq(uint64_t seq);
// From another server, through Redis.
void svRemoteJoin(SvWorld *w, const SvMember &m);
void svRemoteLeave(SvWorld *w, uint32_t id);
void svRemoteMessage(SvWorld *w, uint32_t sender, const uint8_t *msg, size_t n);
void svRemoteServerGone(SvWorld *w, uint32_t server);
// What a server that has just subscribed must hear from this one.
void svDescribeWorld(SvWorld *w);

// redis.cpp (all of it does nothing when no Redis was asked for)
int svRedisOpen(SvServer *s);
void svRedisEvent(SvServer *s, SvHandle *h, uint32_t events);
void svRedisTick(SvServer *s);
bool svRedisReady(SvServer *s);
int svRedisNumber(SvServer *s, SvClient *c);  // asks for an identifier; 0 or -1
void svRedisForget(SvServer *s, SvClient *c); // a pending answer must not reach c
void svRedisJoin(SvWorld *w, const SvMember &m);
void svRedisLeave(SvWorld *w, uint32_t id);
void svRedisMessage(SvWorld *w, uint32_t sender, const uint8_t *msg, size_t n);
void svRedisClose(SvServer *s);
