// service.cpp — the "Quillmoor" service: the browser that holds the
// instance lock listens on a Unix socket beside it, and a later start hands
// it one document (a URL or an absolute path) instead of opening a second
// window. Whatever arrives is another process's input: the socket lives in
// the user's private runtime directory, the peer's credentials are checked
// besides, a message is one short line that is checked byte by byte, a
// connection that says nothing is dropped, and only a few are served at
// once.
//
// The exchange: the caller writes "OPEN <document>\n" and the browser
// answers "OK\n" when it takes the document or "NO\n" when it does not,
// then closes.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <tcl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/window.h"

namespace {

const char kOpen[] = "OPEN ";
enum {
  kMaxConnections = 8,
  kIdleMs = 2000,  // a caller writes at once; one that does not is dropped
  kAnswerWaitS = 10,  // the browser may be busy reading a large world
};
constexpr size_t kMaxMessage = sizeof kOpen - 1 + ZV_SERVICE_MAX_DOCUMENT + 1;

struct Connection {
  int fd = -1;
  std::string data;
  Tcl_TimerToken idle = nullptr;
};

int listenFd = -1;
std::string boundPath;
ZvServiceProc serviceProc = nullptr;
void* serviceUser = nullptr;
std::vector<Connection*> connections;

bool sameUser(int fd) {
  struct ucred cred {};
  socklen_t len = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::getuid();
}

bool fillAddress(sockaddr_un* addr, const char* path) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (!*path || std::strlen(path) >= sizeof addr->sun_path) return false;
  std::strcpy(addr->sun_path, path);
  return true;
}

void closeConnection(Connection* c) {
  Tcl_DeleteFileHandler(c->fd);
  if (c->idle) Tcl_DeleteTimerHandler(c->idle);
  ::close(c->fd);
  for (auto it = connections.begin(); it != connections.end(); ++it)
    if (*it == c) {
      connections.erase(it);
      break;
    }
  delete c;
}

void idleFired(ClientData data) {
  auto* c = static_cast<Connection*>(data);
  c->idle = nullptr;
  closeConnection(c);
}

// The document of a whole message, or empty when the message is not one
// line of the expected form.
std::string documentOf(const std::string& message) {
  size_t head = sizeof kOpen - 1;
  if (message.size() < head + 2 || message.compare(0, head, kOpen) != 0 || message.back() != '\n') return {};
  std::string doc = message.substr(head, message.size() - head - 1);
  return zvPlatformServiceDocumentOk(doc.c_str(), doc.size()) ? doc : std::string();
}

// Reads what has come; a whole line, an end of input or too much ends the
// connection with an answer.
void readReady(ClientData data, int) {
  auto* c = static_cast<Connection*>(data);
  char buf[512];
  ssize_t n = ::recv(c->fd, buf, sizeof buf, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n > 0) c->data.append(buf, size_t(n));
  size_t newline = c->data.find('\n');
  bool whole = newline != std::string::npos;
  if (n > 0 && !whole && c->data.size() <= kMaxMessage) return;
  // Anything after the line is a second document, and there is only one.
  std::string doc = whole && newline + 1 == c->data.size() ? documentOf(c->data) : std::string();
  const char* answer = doc.empty() ? "NO\n" : "OK\n";
  (void)!::send(c->fd, answer, 3, MSG_NOSIGNAL | MSG_DONTWAIT);
  closeConnection(c);
  if (!doc.empty() && serviceProc) serviceProc(serviceUser, doc.c_str());
}

void acceptReady(ClientData, int) {
  for (;;) {
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (connections.size() >= kMaxConnections || !sameUser(fd)) {
      ::close(fd);
      continue;
    }
    auto* c = new Connection;
    c->fd = fd;
    connections.push_back(c);
    Tcl_CreateFileHandler(fd, TCL_READABLE, readReady, c);
    c->idle = Tcl_CreateTimerHandler(kIdleMs, idleFired, c);
  }
}

}  // namespace

int zvPlatformServiceDocumentOk(const char* document, size_t length) {
  if (!document || length == 0 || length > ZV_SERVICE_MAX_DOCUMENT) return 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned char ch = static_cast<unsigned char>(document[i]);
    if (ch < 0x20 || ch == 0x7f) return 0;
  }
  return 1;
}

const char* zvPlatformServicePath(void) {
  static std::string path;
  std::string lock = zvPlatformLockPath();
  size_t slash = lock.rfind('/');
  path = slash == std::string::npos ? std::string() : lock.substr(0, slash + 1) + "quillmoor.sock";
  return path.c_str();
}

int zvPlatformServeDocuments(ZvServiceProc proc, void* user) {
  zvPlatformStopServing();
  zvPlatformInitEvents();
  sockaddr_un addr;
  if (!fillAddress(&addr, zvPlatformServicePath())) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Whoever holds the lock owns the name: a socket left there is from a
  // browser that ended without closing it.
  ::unlink(addr.sun_path);
  mode_t old = ::umask(077);
  int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::umask(old);
  if (bound != 0 || ::listen(fd, kMaxConnections) != 0) {
    ::close(fd);
    return -1;
  }
  listenFd = fd;
  boundPath = addr.sun_path;
  serviceProc = proc;
  serviceUser = user;
  Tcl_CreateFileHandler(fd, TCL_READABLE, acceptReady, nullptr);
  return 0;
}

void zvPlatformStopServing(void) {
  while (!connections.empty()) closeConnection(connections.back());
  if (listenFd < 0) return;
  Tcl_DeleteFileHandler(listenFd);
  ::close(listenFd);
  ::unlink(boundPath.c_str());
  listenFd = -1;
  boundPath.clear();
  serviceProc = nullptr;
  serviceUser = nullptr;
}

int zvPlatformSendDocument(const char* document) {
  size_t length = document ? std::strlen(document) : 0;
  if (!zvPlatformServiceDocumentOk(document, length)) return -2;
  sockaddr_un addr;
  if (!fillAddress(&addr, zvPlatformServicePath())) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval wait{kAnswerWaitS, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  // The other end must be ours too: a document is not handed to a stranger.
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || !sameUser(fd)) {
    ::close(fd);
    return -1;
  }
  std::string message = std::string(kOpen) + document + "\n";
  size_t sent = 0;
  while (sent < message.size()) {
    ssize_t n = ::send(fd, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (n <= 0 && errno != EINTR) break;
    if (n > 0) sent += size_t(n);
  }
  char answer[4] = {};
  size_t got = 0;
  while (sent == message.size() && got < 3) {
    ssize_t n = ::recv(fd, answer + got, 3 - got, 0);
    if (n <= 0 && (n == 0 || errno != EINTR)) break;
    if (n > 0) got += size_t(n);
  }
  ::close(fd);
  if (got == 3) return std::strcmp(answer, "OK\n") == 0 ? 0 : -2;
  return sent == message.size() ? -3 : -1;
}
