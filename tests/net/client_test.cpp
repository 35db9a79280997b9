// The client against a peer of the test's own on 127.0.0.1 that misbehaves
// on purpose: bytes one at a time, messages across the ring's end, oversize,
// unknown and unterminated messages, absurd lengths, a close mid-message,
// silence, and SOCKS stubs that grant and refuse. Every wait is bounded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/net.h"
#include "platform/window.h"
#include "scene/scene.h"
#include "script/script.h"
#include "tests/support/testsupport.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

std::vector<std::string> traced, chatted;

bool readExact(int fd, uint8_t* out, size_t count, int ms = 3000) {
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  size_t have = 0;
  while (have < count) {
    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, left) <= 0) return false;
    ssize_t got = ::recv(fd, out + have, count - have, 0);
    if (got <= 0) return false;
    have += size_t(got);
  }
  return true;
}

// A whole class 0 message as the peer reads it.
bool readMessage(int fd, Bytes* out, int ms = 3000) {
  out->assign(ZVCP_HEADER_SIZE, 0);
  if (!readExact(fd, out->data(), 1, ms)) return false;
  size_t size = (*out)[0] == 1 ? ZVCP_STEP_SIZE : (*out)[0] == 2 ? ZVCP_POSITION_SIZE : ZVCP_HEADER_SIZE;
  if (!readExact(fd, out->data() + 1, size - 1, ms)) return false;
  if ((*out)[0] != 0) {
    out->resize(size);
    return true;
  }
  uint32_t length = zvcpGetU32(out->data() + 13);
  if (length > 1000) return false;
  out->resize(ZVCP_HEADER_SIZE + length);
  return readExact(fd, out->data() + ZVCP_HEADER_SIZE, length, ms);
}

void writeAll(int fd, const Bytes& b, size_t chunk = 0) {
  for (size_t at = 0; at < b.size();) {
    size_t n = chunk ? std::min(chunk, b.size() - at) : b.size() - at;
    ssize_t sent = ::send(fd, b.data() + at, n, MSG_NOSIGNAL);
    if (sent <= 0) return;
    at += size_t(sent);
    if (chunk) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

template <class F>
Bytes built(F build) {
  uint8_t b[ZVCP_MAX_MESSAGE];
  int n = build(b);
  return n > 0 ? Bytes(b, b + n) : Bytes();
}

// One listening socket and one thread that serves one connection with the
// test's script; the script's verdicts come back through fields.
class Peer {
 public:
  explicit Peer(std::function<void(int)> script) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listenFd_, 4);
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, script] {
      pollfd p{listenFd_, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return;
      int fd = ::accept(listenFd_, nullptr, nullptr);
      if (fd < 0) return;
      script(fd);
      ::close(fd);
      done = true;
    });
  }
  ~Peer() {
    if (thread_.joinable()) thread_.join();
    ::close(listenFd_);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  uint16_t port() const { return port_; }
  std::atomic<bool> done{false};

 private:
  int listenFd_;
  uint16_t port_;
  std::thread thread_;
};

// The server's side of the hello: reads the hello and the join, answers
// with identifier 5 on channel 0x0C0FFEE0, the answer a byte at a time.
bool serverHello(int fd, std::string* joinText = nullptr) {
  uint8_t hello[ZVCP_HELLO_SIZE];
  if (!readExact(fd, hello, sizeof hello) || zvcpParseHello(hello, sizeof hello) != 0) return false;
  writeAll(fd, built([](uint8_t* b) { return zvcpBuildAnswer(b, 200, 5, 0x0C0FFEE0); }), 1);
  Bytes join;
  if (!readMessage(fd, &join)) return false;
  ZvcpMessage m;
  if (zvcpParse(join.data(), join.size(), &m) != 0 || m.op != ZVCP_OP_JOIN || m.sender != 5) return false;
  if (joinText) *joinText = std::string(m.text) + "|" + m.text2;
  return true;
}

// Waits (bounded) for the peer to have nothing more to say: the client's
// next message, if any, within ms.
bool nothingMore(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 0;
}

std::string dataDir;
const char* testDataDirectory() { return dataDir.c_str(); }

class NetClient : public ::testing::Test {
 protected:
  void SetUp() override {
    zvPlatformInitEvents();
    traced.clear();
    chatted.clear();
    zvNetInstall();
    zvNetHooks().trace = [](const char* line) { traced.push_back(line); };
    zvNetHooks().chatShow = [](const char* line) { chatted.push_back(line); };
    ZvNetSettings& s = zvNetSettings();
    std::snprintf(s.userName, sizeof s.userName, "ann");
    std::snprintf(s.avatarUrl, sizeof s.avatarUrl, "person.wrl");
    s.socksHost[0] = s.socksPort[0] = 0;
    s.multiUser = 1;
    zvNetSetTimeLimits(3000, 0);
    world = zvNewWorld("file:///tmp/shared.wrl");
    ASSERT_NE(world, nullptr);
    zvSetCurrentWorld(world);
    ASSERT_EQ(zvNewZvObj(world, &world->person, 0), ZV_OK);
    ASSERT_EQ(zvAddTopObject(world->person, "person.wrl"), ZV_OK);
  }
  void TearDown() override {
    zvVSCPExit();
    zvSetCurrentWorld(nullptr);
    zvDeleteWorld(world);
    zvNetHooks() = ZvNetHooks{};
  }
  // Serves the loop until cond holds or ms pass; whether it held.
  bool pump(const std::function<bool()>& cond, int ms = 3000) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      if (cond()) return true;
      if (!zvPlatformDoOneEvent(0)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return cond();
  }
  bool tracedLine(const std::string& line) {
    for (const auto& t : traced)
      if (t == line) return true;
    return false;
  }
  bool connect(Peer& peer) {
    if (zvNetConnectTo(world, peer.address().c_str()) != 0) return false;
    return pump([] { return zvNetState() == ZV_NET_CONNECTED; });
  }
  qmtest::RecordingSink sink;
  ZvWorld* world = nullptr;
};

TEST_F(NetClient, HelloJoinMyselfAndLeave) {
  std::string join;
  Bytes moved, leave;
  Peer peer([&](int fd) {
    if (!serverHello(fd, &join)) return;
    Bytes script;
    for (auto m : {built([](uint8_t* b) { return zvcpBuildYourId(b, 200, 0x0C0FFEE0, 0, 77); }),
                   built([](uint8_t* b) { return zvcpBuildMaster(b, 200, 0x0C0FFEE0, 0, 1); }),
                   built([](uint8_t* b) { return zvcpBuildMyself(b, 200, 0x0C0FFEE0, 0, 77); })})
      script.insert(script.end(), m.begin(), m.end());
    writeAll(fd, script, 1);  // one byte at a time
    readMessage(fd, &moved);
    readMessage(fd, &leave);
  });
  ASSERT_TRUE(connect(peer)) << sink.dump();
  EXPECT_TRUE(sink.hasText("Connected to a ZV Server."));
  ASSERT_TRUE(pump([&] { return world->person->id == 77; })) << sink.dump();
  EXPECT_EQ(zvNetClientId(), 77u);
  EXPECT_EQ(zvNetIsMaster(), 1);
  EXPECT_EQ(zvVSCPExit(), 0);
  EXPECT_EQ(world->person->id, 0);  // the identifier is given up
  EXPECT_TRUE(sink.hasText("Disconnected from a ZV Server."));
  EXPECT_EQ(zvNetState(), ZV_NET_DISCONNECTED);
  pump([&] { return peer.done.load(); });
  EXPECT_EQ(join, "ann|person.wrl");
  ZvcpMessage m;
  ASSERT_EQ(zvcpParse(moved.data(), moved.size(), &m), 0) << moved.size();
  EXPECT_TRUE(m.kind == ZVCP_KIND_ROTTRANS && m.id == 77u && m.sender == 77u && m.channel == 0x0C0FFEE0u)
      << m.kind << " " << m.id << " " << m.sender << " " << m.channel;
  ASSERT_EQ(zvcpParse(leave.data(), leave.size(), &m), 0);
  EXPECT_TRUE(m.op == ZVCP_OP_LEAVE && m.value == 3) << m.op << " " << m.value;
}

// Four hundred chat lines in chunks of odd sizes: some 16 KB through a
// 10 KB ring, so headers and bodies straddle its end more than once.
TEST_F(NetClient, ManyMessagesWrapTheRing) {
  const int count = 400;
  Peer peer([&](int fd) {
    if (!serverHello(fd)) return;
    Bytes all = built([](uint8_t* b) { return zvcpBuildMyself(b, 200, 1, 0, 9); });
    for (int i = 0; i < count; ++i) {
      std::string text = "line " + std::to_string(i) + std::string(size_t(i % 23), '.');
      Bytes m = built([&](uint8_t* b) { return zvcpBuildText(b, 200, 1, 0, 9, text.c_str()); });
      all.insert(all.end(), m.begin(), m.end());
    }
    writeAll(fd, all, 997);
    uint8_t sink[256];
    readExact(fd, sink, 74, 3000);  // the avatar's transform after myself
    nothingMore(fd, 300);
  });
  ASSERT_TRUE(connect(peer));
  ASSERT_TRUE(pump([&] { return chatted.size() == size_t(count); }, 5000)) << chatted.size() << sink.dump();
  EXPECT_EQ(chatted.front(), "line 0");
  EXPECT_EQ(chatted.back(), "line 399" + std::string(399 % 23, '.'));
}

// What cannot be read is skipped with a message and the stream goes on;
// what cannot be followed ends the connection.
TEST_F(NetClient, HostileMessagesAreSkippedOrDropTheConnection) {
  Peer peer([&](int fd) {
    if (!serverHello(fd)) return;
    Bytes oversize(ZVCP_HEADER_SIZE + 400, 'x');
    oversize[0] = 0;
    zvcpPutU32(&oversize[9], 6);
    zvcpPutU32(&oversize[13], 400);
    writeAll(fd, oversize, 50);
    Bytes unterminated = built([](uint8_t* b) { return zvcpBuildText(b, 200, 1, 0, 9, "abc"); });
    unterminated.back() = 'd';
    writeAll(fd, unterminated);
    Bytes unknownOp = built([](uint8_t* b) { return zvcpBuildMaster(b, 200, 1, 0, 1); });
    zvcpPutU32(&unknownOp[9], 42);
    writeAll(fd, unknownOp);
    writeAll(fd, built([](uint8_t* b) { return zvcpBuildText5(b, 200, 1, 0, 1, 2, "five"); }));
    writeAll(fd, built([](uint8_t* b) { return zvcpBuildMaster(b, 200, 1, 0, 2); }));
    writeAll(fd, built([](uint8_t* b) { return zvcpBuildAddObjects(b, 200, 1, 0, 40, 0, "file:///etc/passwd", nullptr); }));
    writeAll(fd, built([](uint8_t* b) { return zvcpBuildMaster(b, 200, 1, 0, 1); }));
    Bytes stray = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    writeAll(fd, stray);
    nothingMore(fd, 2000);
  });
  ASSERT_TRUE(connect(peer));
  ASSERT_TRUE(pump([] { return zvNetState() == ZV_NET_DISCONNECTED; })) << sink.dump();
  EXPECT_TRUE(sink.hasText("a message of more than 200 bytes was skipped")) << sink.dump();
  EXPECT_TRUE(sink.hasText("zvcpDispatch: a text without its end was skipped."));
  EXPECT_TRUE(sink.hasText("zvcpDispatch: an unknown class, operation or kind was skipped."));
  EXPECT_TRUE(sink.hasText("objects come only from http(s) URLs"));
  EXPECT_TRUE(sink.hasText("zvcpDispatch failed"));
  EXPECT_TRUE(tracedLine("master 1"));   // the last good message before the stray byte
  EXPECT_FALSE(tracedLine("master 2"));  // a master value of 2 is refused
  EXPECT_TRUE(sink.hasText("zvSockProc: the server sent what is not a message; disconnected."));
}

TEST_F(NetClient, HugeLengthAndCloseMidMessageEndTheConnection) {
  for (int variant = 0; variant < 2; ++variant) {
    sink.clear();
    Peer peer([&](int fd) {
      if (!serverHello(fd)) return;
      Bytes m = built([](uint8_t* b) { return zvcpBuildMyself(b, 200, 1, 0, 9); });
      if (variant == 0) {
        zvcpPutU32(&m[13], 0xFFFFFFF0u);
        writeAll(fd, m);
        nothingMore(fd, 2000);
      } else {
        m.resize(m.size() - 2);  // and then the close
        writeAll(fd, m, 1);
      }
    });
    ASSERT_TRUE(connect(peer));
    ASSERT_TRUE(pump([] { return zvNetState() == ZV_NET_DISCONNECTED; })) << variant;
    EXPECT_TRUE(sink.hasText(variant == 0 ? "the server sent what is not a message"
                                          : "zvSockProc: socket close detected."))
        << sink.dump();
    EXPECT_EQ(world->person->id, 0);
  }
}

// A server that accepts and never answers, one that answers "reject", one
// that answers nonsense, and one that goes quiet once connected.
TEST_F(NetClient, SilenceAndRefusalsAreNoticed) {
  zvNetSetTimeLimits(300, 0);
  // Answers the hello with bytes, then closes or holds the line open.
  auto answering = [](Bytes answer, bool hold) {
    return [answer, hold](int fd) {
      uint8_t hello[ZVCP_HELLO_SIZE];
      readExact(fd, hello, sizeof hello);
      writeAll(fd, answer);
      if (hold) nothingMore(fd, 1000);
    };
  };
  struct Case {
    std::function<void(int)> script;
    const char* message;
  } cases[] = {
      {[](int) { std::this_thread::sleep_for(std::chrono::milliseconds(1200)); }, "Connection failed."},
      {answering(built([](uint8_t* b) { return zvcpBuildReject(b, 200); }), false),
       "Connection to the server was rejected."},
      {answering(Bytes(14, 'z'), true), "Connection failed."},
  };
  for (auto& c : cases) {
    sink.clear();
    Peer peer(c.script);
    auto start = Clock::now();
    ASSERT_EQ(zvNetConnectTo(world, peer.address().c_str()), 0);
    ASSERT_TRUE(pump([] { return zvNetState() == ZV_NET_DISCONNECTED; }, 2000)) << c.message;
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_TRUE(sink.hasText(c.message)) << sink.dump();
  }

  sink.clear();
  zvNetSetTimeLimits(3000, 300);
  Peer quiet([](int fd) {
    if (serverHello(fd)) nothingMore(fd, 1500);
  });
  ASSERT_TRUE(connect(quiet));
  ASSERT_TRUE(pump([] { return zvNetState() == ZV_NET_DISCONNECTED; }, 2000));
  EXPECT_TRUE(sink.hasText("has been silent")) << sink.dump();

  sink.clear();
  EXPECT_EQ(zvNetConnectTo(world, "127.0.0.1"), -1);  // no port: never connects
  EXPECT_EQ(zvNetState(), ZV_NET_DISCONNECTED);
  EXPECT_EQ(zvNetConnectTo(world, "127.0.0.1:99999"), -1);
}

// A SOCKS 4 stub in front of the server: one grants and then plays the
// server, one refuses.
TEST_F(NetClient, SocksGrantAndRefuse) {
  for (int grant = 1; grant >= 0; --grant) {
    sink.clear();
    Bytes request;
    Peer socks([&](int fd) {
      request.assign(12, 0);
      if (!readExact(fd, request.data(), request.size())) return;  // 8 + "ann" + zero
      Bytes reply = {0, uint8_t(grant ? 90 : 91), 0, 0, 0, 0, 0, 0};
      writeAll(fd, reply, 1);
      if (grant && serverHello(fd)) nothingMore(fd, 1000);
    });
    ZvNetSettings& s = zvNetSettings();
    std::snprintf(s.socksHost, sizeof s.socksHost, "127.0.0.1");
    std::snprintf(s.socksPort, sizeof s.socksPort, "%u", unsigned(socks.port()));
    ASSERT_EQ(zvNetConnectTo(world, "127.0.0.1:7000"), 0);
    int want = grant ? ZV_NET_CONNECTED : ZV_NET_DISCONNECTED;
    ASSERT_TRUE(pump([&] { return zvNetState() == want; })) << sink.dump();
    EXPECT_TRUE(grant || sink.hasText("connect_tcp_stream: reject By SOCKS.")) << sink.dump();
    zvVSCPExit();
    const uint8_t want8[] = {4, 1, 0x1B, 0x58, 127, 0, 0, 1, 'a', 'n', 'n', 0};
    EXPECT_EQ(request, Bytes(want8, want8 + 12));
    s.socksHost[0] = s.socksPort[0] = 0;
  }
}

// Objects the server adds come from our data directory by bare name; their
// moves from the server are applied and not sent back, while a local move
// of the same object goes out.
TEST_F(NetClient, AddedObjectsMoveBothWaysWithoutEcho) {
  auto dir = std::filesystem::temp_directory_path() / ("qmnet" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  dataDir = dir.string();
  std::ofstream(dir / "cube.wrl") << "#VRML V1.0 ascii\nSeparator { Cube {} }\n";
  auto previous = zvSceneHooks().programDirectory;
  zvSceneHooks().programDirectory = testDataDirectory;
  Bytes local;
  bool quietAfterRemote = false;
  std::atomic<bool> movedLocally{false};
  Peer peer([&](int fd) {
    if (!serverHello(fd)) return;
    writeAll(fd, built([](uint8_t* b) { return zvcpBuildAddObjects(b, 200, 1, 0, 30, 0, "cube.wrl", "bob"); }));
    const float rot[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, tr[3] = {4, 5, 6};
    writeAll(fd, built([&](uint8_t* b) { return zvcpBuildRotTrans(b, 200, 1, 0, 30, rot, tr); }));
    quietAfterRemote = nothingMore(fd, 500);
    auto end = Clock::now() + std::chrono::seconds(3);
    while (!movedLocally && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    readMessage(fd, &local);
  });
  ASSERT_TRUE(connect(peer));
  ZvObj* cube = nullptr;
  ASSERT_TRUE(pump([&] { return (cube = zvGetObjById(world, 30)) && zvGetObjectWRT(cube)->m[3][2] > 5.9f; }))
      << sink.dump();
  EXPECT_STREQ(cube->strings[ZV_STR_COMMENT], "bob");
  EXPECT_NEAR(zvGetObjectWRT(cube)->m[3][1], 5.0f, 1e-3);
  pump([] { return false; }, 600);
  const float by[3] = {1, 0, 0};
  ASSERT_EQ(zvObjectTranslate(cube, by, ZV_COORD_WORLD, ZV_TRANSFORM_COMPOSE), ZV_OK);
  movedLocally = true;
  pump([&] { return peer.done.load(); });
  EXPECT_TRUE(quietAfterRemote);  // no echo of the server's move
  ZvcpMessage m;
  ASSERT_EQ(zvcpParse(local.data(), local.size(), &m), 0) << local.size();
  EXPECT_EQ(m.id, 30u);
  EXPECT_NEAR(m.reals[9], 5.0f, 1e-3);
  // Leaving takes back what the server added.
  zvVSCPExit();
  EXPECT_EQ(zvGetObjById(world, 30), nullptr);
  zvSceneHooks().programDirectory = previous;
  std::filesystem::remove_all(dir);
}

}  // namespace
