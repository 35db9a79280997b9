// client.cpp — the connection to a shared-world server: name lookup on a
// thread of its own, a non-blocking connect, the SOCKS 4 exchange, the hello
// and join, then the receive procedure that feeds the ring and dispatches
// whole messages. Every phase runs from the loop and every phase is under
// one time limit, so a server that never answers costs a warning, not the
// window.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/netpriv.h"
#include "platform/window.h"

namespace {

enum Phase {
  kIdle,
  kResolving,
  kConnecting,
  kSocksReply,
  kAnswer,
  kOnline,
};

// A lookup outlives the connection that asked for it when the user leaves
// first: the thread then writes into a socket nobody reads and goes.
struct Lookup {
  std::string server, socks;
  uint32_t serverAddress = 0, socksAddress = 0;  // host order
  bool ok = false;
};

constexpr size_t kMaxPending = 64 * 1024;  // unsent bytes before we give up on the server
constexpr int kRoundsPerCall = 64;         // reads and dispatches before the loop gets a turn

struct Client {
  int fd = -1;
  int state = ZV_NET_DISCONNECTED;
  Phase phase = kIdle;
  uint32_t channel = 0, clientId = 0, initialId = 0;
  int master = 0;
  bool receiving = false;
  unsigned generation = 0;  // a new connection, or this one gone
  ZvWorld* world = nullptr;
  std::string host;
  uint16_t port = 0;
  bool viaSocks = false;
  uint16_t socksPort = 0;
  uint32_t serverAddress = 0;
  std::vector<uint8_t> pending;  // bytes the socket did not take yet
  uint8_t answer[ZVCP_ANSWER_SIZE];
  size_t answerHave = 0;
  int lookupFd = -1;
  std::shared_ptr<Lookup> lookup;
  ZvPlatformTimer deadline{}, again{}, silence{};
  int connectLimit = 15000, silenceLimit = 0;
  std::chrono::steady_clock::time_point lastHeard;
};

Client client;
ZvcpRing ring;
ZvNetSettings settings = {"(nik)", "person.wrl", "", "", 1};
ZvNetHooks hooks;

void onSocket(void* user, int fd, int ready);
void receiveProcedure();

void setState(int state) {
  if (client.state == state) return;
  client.state = state;
  if (hooks.stateChanged) hooks.stateChanged(state);
}

void watch() {
  if (client.fd < 0) return;
  int mask = 0;
  switch (client.phase) {
    case kConnecting:
      mask = ZV_FD_WRITE;
      break;
    case kSocksReply:
    case kAnswer:
    case kOnline:
      mask = ZV_FD_READ;
      break;
    default:
      break;
  }
  if (!client.pending.empty()) mask |= ZV_FD_WRITE;
  zvPlatformWatchFd(client.fd, mask, onSocket, nullptr);
}

void closeLookup() {
  if (client.lookupFd < 0) return;
  zvPlatformWatchFd(client.lookupFd, 0, nullptr, nullptr);
  ::close(client.lookupFd);
  client.lookupFd = -1;
  client.lookup.reset();
}

// The socket goes, whatever phase it was in; the state ends at 0.
void closeSocket() {
  zvPlatformDisarmTimer(&client.deadline);
  zvPlatformDisarmTimer(&client.again);
  zvPlatformDisarmTimer(&client.silence);
  closeLookup();
  if (client.fd >= 0) {
    setState(ZV_NET_CLOSING);
    zvPlatformWatchFd(client.fd, 0, nullptr, nullptr);
    ::close(client.fd);
    client.fd = -1;
  }
  client.pending.clear();
  client.phase = kIdle;
  client.receiving = false;
  ++client.generation;
  setState(ZV_NET_DISCONNECTED);
}

// A connection that never came up: its warning, and nothing left behind.
void failConnect(const char* text) {
  zvWarning("%s", text);
  closeSocket();
  client.world = nullptr;
  if (hooks.trace) hooks.trace("failed");
}

// The connection went away under us (end of stream, an error, a stream we
// cannot follow): everything the server gave is taken back as on a leave,
// but no leave message goes to a socket that is gone.
void dropConnection() {
  closeSocket();
  zvNetForgetServerObjects(client.world);
  client.world = nullptr;
  client.master = 0;
  if (hooks.trace) hooks.trace("disconnected");
}

// Hands bytes to the socket, keeping what it does not take for later.
int queueBytes(const uint8_t* bytes, size_t count) {
  if (client.fd < 0) return -1;
  if (client.pending.empty()) {
    ssize_t sent = ::send(client.fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
      sent = 0;
    }
    bytes += sent;
    count -= size_t(sent);
    if (!count) return 0;
  }
  if (client.pending.size() + count > kMaxPending) return -1;
  client.pending.insert(client.pending.end(), bytes, bytes + count);
  watch();
  return 0;
}

int flushPending() {
  while (!client.pending.empty()) {
    ssize_t sent =
        ::send(client.fd, client.pending.data(), client.pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      return -1;
    }
    client.pending.erase(client.pending.begin(), client.pending.begin() + sent);
  }
  watch();
  return 0;
}

void onDeadline(void*) {
  if (client.state != ZV_NET_CONNECTING) return;
  failConnect(client.phase == kResolving ? "connect_tcp_stream: gethostbyname failed."
                                         : "Connection failed.");
}

void onAgain(void*) {
  if (client.state == ZV_NET_CONNECTED) receiveProcedure();
}

void armSilence() {
  if (client.silenceLimit > 0 && client.state == ZV_NET_CONNECTED)
    zvPlatformArmTimer(&client.silence, client.silenceLimit);
}

void onSilence(void*) {
  if (client.state != ZV_NET_CONNECTED) return;
  auto quiet = std::chrono::steady_clock::now() - client.lastHeard;
  if (quiet < std::chrono::milliseconds(client.silenceLimit)) {
    zvPlatformArmTimer(&client.silence,
                       client.silenceLimit - int(std::chrono::duration_cast<std::chrono::milliseconds>(quiet).count()));
    return;
  }
  zvWarning("zvSockProc: the server has been silent for %d ms; disconnected.", client.silenceLimit);
  dropConnection();
}

// The answer is in: the hello is answered with the join, and the
// connection is up.
void finishHandshake() {
  uint32_t first = 0, channel = 0;
  int verdict = zvcpParseAnswer(client.answer, client.answerHave, &first, &channel);
  if (verdict == 1) return failConnect("Connection to the server was rejected.");
  if (verdict != 0) return failConnect("Connection failed.");
  client.initialId = client.clientId = first;
  client.channel = channel;
  uint8_t join[ZVCP_MAX_MESSAGE];
  const char* avatar = settings.avatarUrl[0] ? settings.avatarUrl : "person.wrl";
  int n = zvcpBuildJoin(join, sizeof join, channel, first, settings.userName, avatar);
  if (n < 0 || queueBytes(join, size_t(n)) != 0) return failConnect("Connection failed.");
  zvPlatformDisarmTimer(&client.deadline);
  client.phase = kOnline;
  zvcpRingReset(&ring);
  client.lastHeard = std::chrono::steady_clock::now();
  setState(ZV_NET_CONNECTED);
  watch();
  armSilence();
  zvMessage("%s", "Connected to a ZV Server.");
  if (hooks.trace) hooks.trace("connected");
}

void sendHello() {
  uint8_t hello[ZVCP_HELLO_SIZE];
  zvcpBuildHello(hello, sizeof hello);
  client.answerHave = 0;
  client.phase = kAnswer;
  if (queueBytes(hello, sizeof hello) != 0) return failConnect("Connection failed.");
  watch();
}

void connected() {
  int one = 1;
  if (::setsockopt(client.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0)
    zvWarning("%s", "connect_tcp_stream: setsockopt failed.");
  // A server that vanished without a word is found by the keep-alive.
  ::setsockopt(client.fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  int idle = 30, interval = 10, count = 3;
  ::setsockopt(client.fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(client.fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(client.fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  if (!client.viaSocks) return sendHello();
  uint8_t request[8 + 257];
  int n = zvcpBuildSocks4(request, sizeof request, client.port, client.serverAddress, settings.userName);
  if (n < 0) return failConnect("connect_tcp_stream: malloc for SOCKS failed.");
  client.answerHave = 0;
  client.phase = kSocksReply;
  if (queueBytes(request, size_t(n)) != 0) return failConnect("connect_tcp_stream: send to SOCKS failed.");
  watch();
}

void startConnect(uint32_t address, uint16_t port) {
  client.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (client.fd < 0) return failConnect("connect_tcp_stream: socket failed.");
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(address);
  client.phase = kConnecting;
  if (::connect(client.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return connected();
  if (errno != EINPROGRESS) return failConnect("connect_tcp_stream: connect failed.");
  watch();
}

// Reads what the exchange still lacks; true once want bytes are in. A
// peer that closes early leaves what it sent for the caller to judge.
bool readExchange(size_t want, bool* closed) {
  *closed = false;
  while (client.answerHave < want) {
    ssize_t got = ::recv(client.fd, client.answer + client.answerHave, want - client.answerHave, 0);
    if (got > 0) {
      client.answerHave += size_t(got);
      continue;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return false;
    *closed = true;
    return false;
  }
  return true;
}

void onSocket(void*, int fd, int ready) {
  if (fd != client.fd) return;
  unsigned generation = client.generation;
  if ((ready & ZV_FD_WRITE) && !client.pending.empty()) {
    if (flushPending() != 0) {
      if (client.state == ZV_NET_CONNECTED) {
        zvWarning("%s", "zvSockProc: the server does not take what we send; disconnected.");
        return dropConnection();
      }
      return failConnect(client.phase == kSocksReply ? "connect_tcp_stream: send to SOCKS failed."
                                                     : "Connection failed.");
    }
  }
  if (generation != client.generation) return;
  switch (client.phase) {
    case kConnecting: {
      if (!(ready & ZV_FD_WRITE)) return;
      int error = 0;
      socklen_t length = sizeof error;
      if (::getsockopt(client.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
        return failConnect("connect_tcp_stream: connect failed.");
      return connected();
    }
    case kSocksReply: {
      if (!(ready & ZV_FD_READ)) return;
      bool closed;
      if (!readExchange(ZVCP_SOCKS_REPLY_SIZE, &closed)) {
        if (closed) {
          zvWarning("%s", "err from SOCKS .");
          failConnect("connect_tcp_stream: recv to SOCKS failed.");
        }
        return;
      }
      if (zvcpParseSocks4Reply(client.answer, client.answerHave) != 0)
        return failConnect("connect_tcp_stream: reject By SOCKS.");
      return sendHello();
    }
    case kAnswer: {
      if (!(ready & ZV_FD_READ)) return;
      bool closed;
      if (readExchange(ZVCP_ANSWER_SIZE, &closed) || closed) finishHandshake();
      return;
    }
    case kOnline:
      if (ready & ZV_FD_READ) receiveProcedure();
      return;
    default:
      return;
  }
}

void onLookup(void*, int fd, int ready) {
  if (fd != client.lookupFd || !(ready & ZV_FD_READ)) return;
  std::shared_ptr<Lookup> lookup = client.lookup;
  closeLookup();
  if (client.phase != kResolving) return;
  if (!lookup->ok) return failConnect("connect_tcp_stream: gethostbyname failed.");
  client.serverAddress = lookup->serverAddress;
  if (client.viaSocks)
    startConnect(lookup->socksAddress, client.socksPort);
  else
    startConnect(lookup->serverAddress, client.port);
}

bool dotted(const std::string& host, uint32_t* address) {
  in_addr a{};
  if (::inet_pton(AF_INET, host.c_str(), &a) != 1) return false;
  *address = ntohl(a.s_addr);
  return true;
}

bool resolve(const std::string& host, uint32_t* address) {
  if (dotted(host, address)) return true;
  addrinfo hints{}, *found = nullptr;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  *address = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(found);
  return true;
}

// Dotted numbers need no lookup; names go to a thread, whose answer comes
// back through a socket pair the loop watches.
void startLookup(const std::string& socksHost) {
  auto lookup = std::make_shared<Lookup>();
  lookup->server = client.host;
  lookup->socks = socksHost;
  uint32_t server = 0, socks = 0;
  if (dotted(client.host, &server) && (!client.viaSocks || dotted(socksHost, &socks))) {
    client.serverAddress = server;
    return startConnect(client.viaSocks ? socks : server, client.viaSocks ? client.socksPort : client.port);
  }
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return failConnect("connect_tcp_stream: socket failed.");
  client.lookupFd = pair[0];
  client.phase = kResolving;
  int writeEnd = pair[1];
  try {
    std::thread([lookup, writeEnd] {
      bool ok = resolve(lookup->server, &lookup->serverAddress);
      if (ok && !lookup->socks.empty()) ok = resolve(lookup->socks, &lookup->socksAddress);
      lookup->ok = ok;
      char done = 1;
      ::send(writeEnd, &done, 1, MSG_NOSIGNAL);
      ::close(writeEnd);
    }).detach();
  } catch (...) {
    ::close(writeEnd);
    return failConnect("connect_tcp_stream: gethostbyname failed.");
  }
  client.lookup = lookup;
  zvPlatformWatchFd(client.lookupFd, ZV_FD_READ, onLookup, nullptr);
}

bool parsePort(const char* text, uint16_t* port) {
  if (!text || !*text) return false;
  long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > 65535) return false;
  }
  if (value == 0) return false;
  *port = uint16_t(value);
  return true;
}

// The receive procedure: reads what is there, dispatches whole messages,
// stops after an add-objects message (its fetch may run the loop) and after
// a bounded number of rounds, coming back through a zero timer for the rest.
void receiveProcedure() {
  if (client.receiving || client.state != ZV_NET_CONNECTED || client.fd < 0) return;
  client.receiving = true;
  unsigned generation = client.generation;
  bool socketEmpty = false;
  uint8_t message[ZVCP_MAX_MESSAGE];
  for (int round = 0; round < kRoundsPerCall; ++round) {
    int n = zvcpRingNext(&ring, message);
    if (n > 0) {
      bool adds = message[0] == 0 && zvcpGetU32(message + 9) == ZVCP_OP_ADD_OBJECTS;
      if (zvNetDispatch(message, size_t(n)) < 0) zvWarning("%s", "zvcpDispatch failed");
      if (generation != client.generation) return;  // the dispatch left the server
      if (adds) {
        zvPlatformArmTimer(&client.again, 0);
        client.receiving = false;
        return;
      }
      continue;
    }
    if (n == ZVCP_E_TOO_LONG) {
      zvWarning("%s", "zvcpDispatch: a message of more than 200 bytes was skipped.");
      continue;
    }
    if (n == ZVCP_E_STREAM) {
      zvWarning("%s", "zvSockProc: the server sent what is not a message; disconnected.");
      client.receiving = false;
      return dropConnection();
    }
    if (socketEmpty) break;
    uint8_t bytes[4096];
    size_t room = std::min(sizeof bytes, zvcpRingFree(&ring));
    ssize_t got = ::recv(client.fd, bytes, room, MSG_DONTWAIT);
    if (got == 0) {
      zvWarning("%s", "zvSockProc: socket close detected.");
      client.receiving = false;
      return dropConnection();
    }
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        socketEmpty = true;
        continue;  // one more look at the ring, then out
      }
      zvWarning("zvSockProc: recv failed: %s", std::strerror(errno));
      client.receiving = false;
      return dropConnection();
    }
    client.lastHeard = std::chrono::steady_clock::now();
    int put = zvcpRingPut(&ring, bytes, size_t(got));
    if (put != ZVCP_OK) zvWarning("zvcpPutData: failed %d", put);  // cannot be: room was asked
  }
  client.receiving = false;
  if (!socketEmpty) zvPlatformArmTimer(&client.again, 0);
}

}  // namespace

// ---------------------------------------------------------------------------

ZvNetSettings& zvNetSettings(void) { return settings; }
ZvNetHooks& zvNetHooks(void) { return hooks; }
int zvNetState(void) { return client.state; }
ZvWorld* zvNetWorld(void) { return client.state == ZV_NET_CONNECTED ? client.world : nullptr; }
int zvNetIsMaster(void) { return client.master; }
uint32_t zvNetClientId(void) { return client.clientId; }
void zvNetSetClientId(uint32_t id) { client.clientId = id; }
void zvNetSetMaster(int master) { client.master = master; }
ZvWorld* zvNetTargetWorld(void) { return client.world; }

void zvNetSetTimeLimits(int connectMs, int silenceMs) {
  if (connectMs > 0) client.connectLimit = connectMs;
  client.silenceLimit = silenceMs > 0 ? silenceMs : 0;
}

int zvNetConnect(ZvWorld* world) {
  if (!world || !world->ownedText || !*world->ownedText) return 0;
  return zvNetConnectTo(world, world->ownedText);
}

int zvNetConnectTo(ZvWorld* world, const char* server) {
  if (client.state != ZV_NET_DISCONNECTED || !world || !server) return -1;
  if (!settings.multiUser) return 0;
  const char* colon = std::strchr(server, ':');
  uint16_t port = 0;
  if (!colon || colon == server || !parsePort(colon + 1, &port)) {
    zvWarning("%s : not a server (host:port)", server);
    return -1;
  }
  client.deadline = {onDeadline, nullptr, nullptr};
  client.again = {onAgain, nullptr, nullptr};
  client.silence = {onSilence, nullptr, nullptr};
  client.host.assign(server, size_t(colon - server));
  client.port = port;
  client.world = world;
  client.master = 0;
  client.channel = client.clientId = client.initialId = 0;
  client.pending.clear();
  std::string socksHost = settings.socksHost;
  client.viaSocks = !socksHost.empty() && settings.socksPort[0] && parsePort(settings.socksPort, &client.socksPort);
  if (!client.viaSocks) socksHost.clear();
  zvcpRingReset(&ring);
  ++client.generation;
  zvNetWatchWorld(world);
  setState(ZV_NET_CONNECTING);
  zvPlatformArmTimer(&client.deadline, client.connectLimit);
  startLookup(socksHost);
  return client.state == ZV_NET_DISCONNECTED ? -1 : 0;
}

int zvVSCPExit(void) {
  switch (client.state) {
    case ZV_NET_DISCONNECTED:
      return 0;
    case ZV_NET_CONNECTING:
      // Not a blocking call here: whatever phase it is in simply stops.
      closeSocket();
      client.world = nullptr;
      return 0;
    case ZV_NET_CONNECTED: {
      uint8_t leave[ZVCP_HEADER_SIZE + 1];
      int n = zvcpBuildLeave(leave, sizeof leave, client.channel, client.clientId, ZVCP_LEAVE_DISCONNECT);
      if (client.fd >= 0 && n > 0) {
        flushPending();
        ::send(client.fd, leave, size_t(n), MSG_NOSIGNAL | MSG_DONTWAIT);
      }
      ZvWorld* world = client.world;
      closeSocket();
      client.world = nullptr;
      client.master = 0;
      zvMessage("%s", "Disconnected from a ZV Server.");
      if (hooks.trace) hooks.trace("disconnected");
      return zvNetForgetServerObjects(world);
    }
    default:
      zvWarning("zvVSCPExit: strange! %d", client.state);
      return -1;
  }
}

int zvNetSendBytes(const uint8_t* bytes, int size) {
  if (size <= 0 || client.state != ZV_NET_CONNECTED || client.fd < 0) return -1;
  if (queueBytes(bytes, size_t(size)) != 0) {
    zvWarning("%s", "zvSockProc: the server does not take what we send; disconnected.");
    dropConnection();
    return -1;
  }
  return size;
}

uint32_t zvNetChannel(void) { return client.channel; }

int zvNetWait(int milliseconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (client.state == ZV_NET_CONNECTING && std::chrono::steady_clock::now() < end) {
    if (!zvPlatformDoOneEvent(0)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return client.state;
}
