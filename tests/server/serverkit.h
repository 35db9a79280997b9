// What the server tests share: the server started as its own process on a
// free loopback port, and a client made of the wire module that reads
// what the server sends into a list of messages. Every wait has a deadline.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "net/net.h"

namespace svtest {

inline int64_t nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A port nobody listens on now (and, for a range, the count after it).
inline int freePort(int count = 1) {
  for (int attempt = 0; attempt < 50; attempt++) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    close(fd);
    int port = ntohs(a.sin_port);
    if (port + count > 65535) continue;
    bool all = true;
    for (int p = port + 1; p < port + count && all; p++) {
      int t = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in b = a;
      b.sin_port = htons(uint16_t(p));
      all = bind(t, reinterpret_cast<sockaddr *>(&b), sizeof b) == 0;
      close(t);
    }
    if (all) return port;
  }
  return 0;
}

inline int connectTo(int port, int timeoutMs = 3000) {
  int64_t end = nowMs() + timeoutMs;
  while (nowMs() < end) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return fd;
    }
    close(fd);
    usleep(20000);
  }
  return -1;
}

// A program of the test's own, ended with SIGTERM (or SIGKILL) at the end.
class Process {
 public:
  Process() = default;
  Process(const Process &) = delete;
  ~Process() { stop(); }
  bool start(const std::vector<std::string> &args, bool quiet = true) {
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      if (quiet) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid_ > 0;
  }
  int stop(int sig = SIGTERM) {
    if (pid_ <= 0) return -1;
    kill(pid_, sig);
    int status = 0;
    for (int i = 0; i < 300; i++) {  // 3 s, then it is made to go
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      usleep(10000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
};

// quillmoor-server on a free port (or range); ready once it accepts.
struct Server {
  Process proc;
  int port = 0;
  bool start(std::vector<std::string> extra = {}, int ports = 1, int usePort = 0) {
    port = usePort ? usePort : freePort(ports);
    std::vector<std::string> args = {QUILLMOOR_SERVER_EXE, "--bind", "127.0.0.1", "--port",
                                     ports > 1 ? std::to_string(port) + "-" + std::to_string(port + ports - 1)
                                               : std::to_string(port)};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!proc.start(args, getenv("QM_SERVER_LOG") == nullptr)) return false;
    int fd = connectTo(port, 5000);
    if (fd < 0) return false;
    close(fd);
    return true;
  }
};

struct Msg {
  std::vector<uint8_t> bytes;
  ZvcpMessage m{};
};

// A user of a world, speaking the protocol through the wire module.
class Client {
 public:
  Client() = default;
  Client(const Client &) = delete;
  ~Client() { drop(); }
  void drop() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  // Hello, answer and join; 0 when joined, 1 rejected, -1 otherwise.
  int join(int port, const std::string &name, const std::string &avatar = "person.wrl") {
    fd = connectTo(port);
    if (fd < 0) return -1;
    uint8_t buf[ZVCP_MAX_MESSAGE];
    int n = zvcpBuildHello(buf, sizeof buf);
    if (!sendAll(buf, size_t(n))) return -1;
    uint8_t answer[ZVCP_ANSWER_SIZE];
    if (!readExactly(answer, sizeof answer, 3000)) return -1;
    int rc = zvcpParseAnswer(answer, sizeof answer, &id, &channel);
    if (rc != 0) return rc;
    n = zvcpBuildJoin(buf, sizeof buf, channel, id, name.c_str(), avatar.c_str());
    return n > 0 && sendAll(buf, size_t(n)) ? 0 : -1;
  }
  bool sendAll(const void *p, size_t n) {
    auto *b = static_cast<const uint8_t *>(p);
    while (n) {
      ssize_t k = send(fd, b, n, MSG_NOSIGNAL);
      if (k <= 0) return false;
      b += k;
      n -= size_t(k);
    }
    return true;
  }
  uint8_t out[ZVCP_MAX_MESSAGE];
  bool sendBuilt(int n) { return n > 0 && sendAll(out, size_t(n)); }
  bool sendPosition(uint32_t object, float x, float y, float z) {
    const float t[3] = {x, y, z};
    return sendBuilt(zvcpBuildPosition(out, sizeof out, channel, id, object, t));
  }
  bool sendText(uint32_t object, const std::string &text) {
    return sendBuilt(zvcpBuildText(out, sizeof out, channel, id, object, text.c_str()));
  }
  bool sendRotTrans(uint32_t object, const float t[3]) {
    const float r[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    return sendBuilt(zvcpBuildRotTrans(out, sizeof out, channel, id, object, r, t));
  }
  // Reads what has come within ms into msgs; false when the server closed
  // the connection or sent something the wire module cannot take apart.
  bool pump(int ms) {
    int64_t end = nowMs() + ms;
    do {
      pollfd p{fd, POLLIN, 0};
      int left = int(end - nowMs());
      if (poll(&p, 1, left > 0 ? left : 0) <= 0) return true;
      uint8_t buf[65536];
      ssize_t k = recv(fd, buf, sizeof buf, 0);
      if (k <= 0) {
        closed = true;
        return false;
      }
      pending.insert(pending.end(), buf, buf + k);
      for (;;) {
        int64_t size = zvcpMessageSize(pending.data(), pending.size());
        if (size == ZVCP_E_INCOMPLETE || (size > 0 && size_t(size) > pending.size())) break;
        if (size < 0 || size > ZVCP_MAX_MESSAGE) {
          garbled = true;
          return false;
        }
        Msg msg;
        msg.bytes.assign(pending.begin(), pending.begin() + size);
        pending.erase(pending.begin(), pending.begin() + size);
        msgs.push_back(std::move(msg));
        Msg &last = msgs.back();
        if (zvcpParse(last.bytes.data(), last.bytes.size(), &last.m) != ZVCP_OK) garbled = true;
        if (last.m.messageClass == 0 && last.m.op == ZVCP_OP_LEAVE) sawLeave = true;
      }
    } while (nowMs() < end);
    return true;
  }
  // Waits (at most ms) until some message satisfies pred; it is answered.
  const Msg *waitFor(const std::function<bool(const ZvcpMessage &)> &pred, int ms = 3000) {
    int64_t end = nowMs() + ms;
    size_t seen = 0;
    for (;;) {
      for (; seen < msgs.size(); seen++)
        if (pred(msgs[seen].m)) return &msgs[seen];
      if (nowMs() >= end || closed) return nullptr;
      int64_t left = end - nowMs();
      if (!pump(int(left < 50 ? left : 50)) && seen == msgs.size()) return nullptr;
    }
  }
  const Msg *waitOp(uint32_t op, uint32_t objectId, int ms = 3000) {
    return waitFor([&](const ZvcpMessage &m) { return m.messageClass == 0 && m.op == op && m.id == objectId; }, ms);
  }
  int count(const std::function<bool(const ZvcpMessage &)> &pred) const {
    int n = 0;
    for (auto &msg : msgs) n += pred(msg.m);
    return n;
  }
  // The server closed it within ms.
  bool closedWithin(int ms) {
    int64_t end = nowMs() + ms;
    while (!closed && nowMs() < end) pump(50);
    return closed;
  }
  bool readExactly(uint8_t *p, size_t n, int ms) {
    int64_t end = nowMs() + ms;
    while (n) {
      pollfd pf{fd, POLLIN, 0};
      if (poll(&pf, 1, int(end - nowMs())) <= 0) return false;
      ssize_t k = recv(fd, p, n, 0);
      if (k <= 0) return false;
      p += k;
      n -= size_t(k);
    }
    return true;
  }

  int fd = -1;
  uint32_t id = 0, channel = 0;
  std::vector<uint8_t> pending;
  std::vector<Msg> msgs;
  bool closed = false, garbled = false, sawLeave = false;
};

// A redis-server of the test's own on a free loopback port.
inline const char *redisServer() {
  for (const char *p : {"/usr/bin/redis-server", "/usr/local/bin/redis-server"})
    if (access(p, X_OK) == 0) return p;
  return nullptr;
}

struct Redis {
  Process proc;
  int port = 0;
  bool start() {
    port = freePort();
    if (!proc.start({redisServer(), "--port", std::to_string(port), "--bind", "127.0.0.1", "--save", "",
                     "--appendonly", "no", "--protected-mode", "no"}))
      return false;
    int fd = connectTo(port, 5000);
    if (fd < 0) return false;
    close(fd);
    return true;
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }
};

inline bool isPosition(const ZvcpMessage &m, uint32_t id) { return m.messageClass == 2 && m.id == id; }
inline bool isAdd(const ZvcpMessage &m, uint32_t id) { return m.messageClass == 0 && m.op == ZVCP_OP_ADD_OBJECTS && m.id == id; }
inline bool isMaster(const ZvcpMessage &m, uint8_t v) { return m.messageClass == 0 && m.op == ZVCP_OP_MASTER && m.value == v; }

}  // namespace svtest
