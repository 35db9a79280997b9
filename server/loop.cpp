// loop.cpp — the epoll loop: listening sockets, connections, their buffers
// and time-outs.
//
// Level-triggered, one read of at most SV_READ bytes per ready client a
// turn, so a client that floods gets no more of the loop than the others.
// What the protocol layer queues for a client is sent once at the end of
// the turn (one send per client however many relays it got); what the
// socket will not take waits in the client's bounded backlog with EPOLLOUT
// armed, and a client whose backlog overflows is dropped.
#include "server/server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t SV_READ = 16384;
constexpr int SV_ACCEPTS_PER_TURN = 256;

void svFlushOne(SvClient *c) {
  while (c->outOff < c->out.size()) {
    ssize_t k = send(c->fd, c->out.data() + c->outOff, c->out.size() - c->outOff, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (k > 0) {
      c->outOff += size_t(k);
      continue;
    }
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    svDrop(c, "write failed");
    return;
  }
  SvServer *s = c->world->server;
  if (c->outOff == c->out.size()) {
    c->out.clear();
    c->outOff = 0;
    // An idle connection keeps no big buffer: 10,000 of them must fit.
    if (c->out.capacity() > 8192) c->out.shrink_to_fit();
    if (c->outLimit > s->opt.outLimit) c->outLimit = s->opt.outLimit;
    if (c->writeArmed) {
      c->writeArmed = false;
      svWatch(s, c->fd, &c->handle, EPOLLIN, EPOLL_CTL_MOD);
    }
    return;
  }
  if (c->outOff > c->out.size() / 2) {
    c->out.erase(c->out.begin(), c->out.begin() + long(c->outOff));
    c->outOff = 0;
  }
  if (!c->writeArmed) {
    c->writeArmed = true;
    svWatch(s, c->fd, &c->handle, EPOLLIN | EPOLLOUT, EPOLL_CTL_MOD);
  }
}

void svReadOne(SvClient *c) {
  uint8_t buf[SV_READ];
  size_t have = c->inLen;
  memcpy(buf, c->in, have);
  c->inLen = 0;  // they are in buf now; what is left over goes back below
  ssize_t k = recv(c->fd, buf + have, sizeof buf - have, MSG_DONTWAIT);
  if (k == 0) {
    svDrop(c, "closed");
    return;
  }
  if (k < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) svDrop(c, "read failed");
    c->inLen = have;
    return;
  }
  c->heard = svNow();
  have += size_t(k);
  long used = svConsume(c, buf, have);
  if (c->state == SV_DEAD) return;
  if (used < 0) {
    svDrop(c, c->why ? c->why : "broke the protocol");
    return;
  }
  size_t rest = have - size_t(used);
  if (rest > sizeof c->in) {  // only while it waits for its number and talks on
    svDrop(c, "talked before its answer");
    return;
  }
  memmove(c->in, buf + used, rest);
  c->inLen = rest;
}

void svAccept(SvWorld *w) {
  SvServer *s = w->server;
  for (int i = 0; i < SV_ACCEPTS_PER_TURN; i++) {
    sockaddr_in6 addr{};
    socklen_t len = sizeof addr;
    int fd = accept4(w->fd, reinterpret_cast<sockaddr *>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE) svLog(s, "accept: out of descriptors");
      return;
    }
    // Hard limit on what we hold; the reject over --max-clients is polite
    // and needs the connection for a moment, this is not.
    if (s->live >= size_t(s->opt.maxClients) + 64) {
      close(fd);
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto *c = new SvClient;
    c->fd = fd;
    c->world = w;
    c->since = c->heard = svNow();
    c->outLimit = s->opt.outLimit;
    c->tokens = s->opt.burst;
    c->tokensAt = c->since;
    char host[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (addr.sin6_family == AF_INET) {
      auto *a4 = reinterpret_cast<sockaddr_in *>(&addr);
      inet_ntop(AF_INET, &a4->sin_addr, host, sizeof host);
      port = ntohs(a4->sin_port);
    } else if (addr.sin6_family == AF_INET6) {
      inet_ntop(AF_INET6, &addr.sin6_addr, host, sizeof host);
      port = ntohs(addr.sin6_port);
    }
    c->peer = std::string(host) + ":" + std::to_string(port);
    s->clients[fd] = c;
    s->live++;
    if (svWatch(s, fd, &c->handle, EPOLLIN, EPOLL_CTL_ADD) < 0) {
      svDrop(c, "epoll failed");
      continue;
    }
    svLog(s, "connect %s on port %d (%zu connections)", c->peer.c_str(), w->port, s->live);
  }
}

void svCloseOne(SvServer *s, SvClient *c) {
  auto m = c->id ? c->world->members.find(c->id) : c->world->members.end();
  std::string name = m != c->world->members.end() && m->second.client == c ? m->second.name : "";
  svLog(s, "leave %s on port %d id %u \"%s\" (%s, %zu connections)", c->peer.c_str(), c->world->port, c->id,
        name.c_str(), c->why ? c->why : "closed", s->live - 1);
  svLeave(c);
  svRedisForget(s, c);
  // Last words (a rejection) go if the socket takes them now; nobody waits.
  if (c->outOff < c->out.size())
    (void)!send(c->fd, c->out.data() + c->outOff, c->out.size() - c->outOff, MSG_NOSIGNAL | MSG_DONTWAIT);
  epoll_ctl(s->epfd, EPOLL_CTL_DEL, c->fd, nullptr);
  close(c->fd);
  s->clients.erase(c->fd);
  s->live--;
  c->fd = -1;
}

void svSweep(SvServer *s, int64_t now) {
  for (auto &[fd, c] : s->clients) {
    if (c->state == SV_DEAD) continue;
    if (c->state == SV_LIVE) {
      if (now - c->heard > s->opt.timeoutMs) svDrop(c, "silent");
    } else if (now - c->since > s->opt.handshakeMs) {
      svDrop(c, "no hello or join in time");
    }
  }
}

}  // namespace

int64_t svNow() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void svLog(SvServer *s, const char *fmt, ...) {
  if (s->opt.quiet) return;
  char line[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  time_t t = time(nullptr);
  struct tm tm;
  gmtime_r(&t, &tm);
  char when[32];
  strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
  fprintf(stderr, "%s quillmoor-server: %s\n", when, line);
}

int svWatch(SvServer *s, int fd, SvHandle *h, uint32_t events, int op) {
  epoll_event ev{};
  ev.events = events;
  ev.data.ptr = h;
  return epoll_ctl(s->epfd, op, fd, &ev);
}

void svSend(SvClient *c, const uint8_t *bytes, size_t n) {
  if (c->state == SV_DEAD) return;
  if (c->out.size() - c->outOff + n > c->outLimit) {
    svDrop(c, "too slow: its backlog is full");
    return;
  }
  c->out.insert(c->out.end(), bytes, bytes + n);
  if (!c->dirty) {
    c->dirty = true;
    c->world->server->flush.push_back(c);
  }
}

void svDrop(SvClient *c, const char *why) {
  if (c->state == SV_DEAD) return;
  if (!c->why) c->why = why;
  c->state = SV_DEAD;
  c->world->server->dead.push_back(c);
}

int svOpen(SvServer *s) {
  s->epfd = epoll_create1(EPOLL_CLOEXEC);
  if (s->epfd < 0) return -1;
  in6_addr any6{};
  bool v6 = inet_pton(AF_INET6, s->opt.bind.c_str(), &any6) == 1;
  in_addr any4{};
  if (!v6 && inet_pton(AF_INET, s->opt.bind.c_str(), &any4) != 1) {
    fprintf(stderr, "quillmoor-server: --bind %s is not an address\n", s->opt.bind.c_str());
    return -1;
  }
  for (int port = s->opt.firstPort; port <= s->opt.lastPort; port++) {
    auto *w = new SvWorld;
    w->server = s;
    w->port = port;
    w->number = uint32_t(s->opt.world >= 0 ? s->opt.world + (port - s->opt.firstPort) : port);
    s->worlds.push_back(w);
    int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    int rc;
    if (v6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = any6;
      a.sin6_port = htons(uint16_t(port));
      rc = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr = any4;
      a.sin_port = htons(uint16_t(port));
      rc = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    if (rc < 0 || listen(fd, 4096) < 0) {
      fprintf(stderr, "quillmoor-server: cannot listen on %s port %d: %s\n", s->opt.bind.c_str(), port,
              strerror(errno));
      close(fd);
      return -1;
    }
    w->fd = fd;
    if (svWatch(s, fd, &w->handle, EPOLLIN, EPOLL_CTL_ADD) < 0) return -1;
    // The shared objects of this world, numbered from 1 in the order given.
    uint32_t next = 1;
    for (auto &[p, given] : s->opt.objects) {
      if (p != 0 && p != port) continue;
      if (next >= SV_FIRST_USER_ID) break;
      SvObject o;
      o.id = next++;
      size_t hash = given.find('#');
      o.url = given.substr(0, hash);
      if (hash != std::string::npos) o.name = given.substr(hash + 1);
      w->objects.push_back(std::move(o));
    }
  }
  if (svRedisOpen(s) < 0) return -1;
  svLog(s, "listening on %s ports %d-%d%s%s", s->opt.bind.c_str(), s->opt.firstPort, s->opt.lastPort,
        s->redis ? ", worlds shared through Redis at " : "", s->redis ? s->opt.redis.c_str() : "");
  return 0;
}

int svRun(SvServer *s) {
  epoll_event evs[256];
  int64_t lastSweep = svNow();
  while (!s->stop) {
    int n = epoll_wait(s->epfd, evs, 256, 250);
    if (n < 0 && errno != EINTR) return -1;
    for (int i = 0; i < n; i++) {
      auto *h = static_cast<SvHandle *>(evs[i].data.ptr);
      switch (h->kind) {
      case SV_LISTENER:
        svAccept(static_cast<SvWorld *>(h->owner));
        break;
      case SV_CLIENT: {
        auto *c = static_cast<SvClient *>(h->owner);
        if (c->state == SV_DEAD) break;
        if (evs[i].events & EPOLLOUT) svFlushOne(c);
        if (c->state != SV_DEAD && (evs[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))) svReadOne(c);
        break;
      }
      case SV_REDIS:
        svRedisEvent(s, h, evs[i].events);
        break;
      }
    }
    int64_t now = svNow();
    if (now - lastSweep >= 500) {
      lastSweep = now;
      svSweep(s, now);
      svRedisTick(s);
    }
    // Closing tells the others, which queues bytes; flushing may find more
    // dead: go round until both are empty.
    // The closed are freed only after that, since the flush list may still
    // name them.
    std::vector<SvClient *> closed;
    while (!s->flush.empty() || !s->dead.empty()) {
      std::vector<SvClient *> dead;
      dead.swap(s->dead);
      for (SvClient *c : dead) {
        svCloseOne(s, c);
        closed.push_back(c);
      }
      std::vector<SvClient *> flush;
      flush.swap(s->flush);
      for (SvClient *c : flush) {
        c->dirty = false;
        if (c->state != SV_DEAD) svFlushOne(c);
      }
    }
    for (SvClient *c : closed) delete c;
  }
  return 0;
}

void svClose(SvServer *s) {
  svRedisClose(s);
  for (auto &[fd, c] : s->clients) {
    close(fd);
    delete c;
  }
  s->clients.clear();
  for (SvWorld *w : s->worlds) {
    if (w->fd >= 0) close(w->fd);
    delete w;
  }
  s->worlds.clear();
  if (s->epfd >= 0) close(s->epfd);
  s->epfd = -1;
}
