// Clients that do not play by the rules, against a server that must go on
// serving the others: after each, two well-behaved users still hear each
// other's moves.
#include "tests/server/serverkit.h"

#include <memory>

using namespace svtest;

namespace {

struct Pair {
  Client a, b;
  float step = 0;
  bool join(int port) {
    return a.join(port, "a") == 0 && b.join(port, "b") == 0 &&
           a.waitFor([&](auto &m) { return m.op == ZVCP_OP_ADD_OBJECTS && m.id == b.id; });
  }
  // A move of a's reaches b, within a second.
  bool stillServed() {
    step += 1;
    float x = step;
    if (!a.sendPosition(a.id, x, 0, 0)) return false;
    bool ok = b.waitFor([&](auto &m) { return isPosition(m, a.id) && m.reals[0] > x - 0.01f && m.reals[0] < x + 0.01f; }, 1000) != nullptr;
    a.pump(0);  // a's own messages must not pile up unread
    return ok;
  }
};

std::vector<uint8_t> header(uint8_t cls, uint32_t op, uint32_t length) {
  std::vector<uint8_t> h(ZVCP_HEADER_SIZE);
  h[0] = cls;
  zvcpPutU32(&h[9], op);
  zvcpPutU32(&h[13], length);
  return h;
}

// A raw connection that has said hello and read its answer.
int helloed(int port, uint32_t *id = nullptr) {
  Client c;
  uint8_t hello[ZVCP_HELLO_SIZE];
  zvcpBuildHello(hello, sizeof hello);
  c.fd = connectTo(port);
  uint8_t answer[ZVCP_ANSWER_SIZE];
  if (c.fd < 0 || !c.sendAll(hello, sizeof hello) || !c.readExactly(answer, sizeof answer, 2000)) return -1;
  if (id) zvcpParseAnswer(answer, sizeof answer, id, nullptr);
  int fd = c.fd;
  c.fd = -1;
  return fd;
}

TEST(ServerHostile, MalformedStreamsAreDroppedAndTheOthersServed) {
  Server server;
  ASSERT_TRUE(server.start());
  Pair p;
  ASSERT_TRUE(p.join(server.port));

  struct Case {
    const char *what;
    std::vector<uint8_t> bytes;
    bool joinFirst;
  };
  std::vector<uint8_t> joined;
  {
    uint8_t j[ZVCP_MAX_MESSAGE];
    int n = zvcpBuildJoin(j, sizeof j, 0, 0, "x", "person.wrl");
    joined.assign(j, j + n);
  }
  auto after = [&](std::vector<uint8_t> tail) {
    std::vector<uint8_t> v = joined;
    v.insert(v.end(), tail.begin(), tail.end());
    return v;
  };
  std::vector<Case> cases = {
      {"no hello", {'h', 'e', 'l', 'p', '!', 1, 1}, false},
      {"unknown class", after({7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), true},
      {"oversize", after(header(0, ZVCP_OP_UPDATE, 1000)), true},
      {"huge length", after(header(0, ZVCP_OP_UPDATE, 0xffffffffu)), true},
      {"unterminated join", [] {
         auto h = header(0, ZVCP_OP_JOIN, 20);
         h.insert(h.end(), 20, 'a');
         return h;
       }(), true},
      {"something before the join", header(0, ZVCP_OP_UPDATE, 0), true},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    Client h;
    if (k.joinFirst) {
      h.fd = helloed(server.port);
      ASSERT_GE(h.fd, 0);
    } else {
      h.fd = connectTo(server.port);
    }
    ASSERT_TRUE(h.sendAll(k.bytes.data(), k.bytes.size()));
    EXPECT_TRUE(h.closedWithin(2000));
    EXPECT_TRUE(p.stillServed());
  }
}

TEST(ServerHostile, SlowWritersBadTextsAndHalfMessages) {
  Server server;
  ASSERT_TRUE(server.start());
  Pair p;
  ASSERT_TRUE(p.join(server.port));

  // Byte at a time, hello to chat line: slow is not wrong.
  Client h;
  h.fd = connectTo(server.port);
  uint8_t buf[ZVCP_MAX_MESSAGE];
  std::vector<uint8_t> all;
  int n = zvcpBuildHello(buf, sizeof buf);
  for (int i = 0; i < n; i++) {
    ASSERT_TRUE(h.sendAll(buf + i, 1));
    usleep(2000);
  }
  uint8_t answer[ZVCP_ANSWER_SIZE];
  ASSERT_TRUE(h.readExactly(answer, sizeof answer, 2000));
  ASSERT_EQ(zvcpParseAnswer(answer, sizeof answer, &h.id, &h.channel), 0);
  n = zvcpBuildJoin(buf, sizeof buf, h.channel, h.id, "slow", "person.wrl");
  all.assign(buf, buf + n);
  n = zvcpBuildText(buf, sizeof buf, h.channel, h.id, h.id, "slow: hi");
  all.insert(all.end(), buf, buf + n);
  for (uint8_t byte : all) {
    ASSERT_TRUE(h.sendAll(&byte, 1));
    usleep(1000);
  }
  const Msg *chat = p.b.waitFor([&](auto &m) { return m.kind == ZVCP_KIND_TEXT && m.id == h.id; });
  ASSERT_TRUE(chat);
  EXPECT_STREQ(chat->m.text, "slow: hi");

  // A chat line without its zero is not passed on, and the writer stays.
  auto bad = header(0, ZVCP_OP_UPDATE, 9 + 5);
  zvcpPutU32(&bad[5], h.id);
  uint8_t body[14] = {};
  zvcpPutU32(body, h.id);
  zvcpPutU32(body + 4, ZVCP_KIND_TEXT);
  memcpy(body + 9, "abcde", 5);
  bad.insert(bad.end(), body, body + sizeof body);
  ASSERT_TRUE(h.sendAll(bad.data(), bad.size()));
  ASSERT_TRUE(h.sendText(h.id, "slow: still here"));
  ASSERT_TRUE(p.b.waitFor([](auto &m) { return m.kind == ZVCP_KIND_TEXT && strcmp(m.text, "slow: still here") == 0; }));
  EXPECT_EQ(p.b.count([](auto &m) { return m.kind == ZVCP_KIND_TEXT && strncmp(m.text, "abcde", 5) == 0; }), 0);
  EXPECT_FALSE(p.b.garbled);

  // Closed in the middle of a message: it leaves like anybody else.
  n = zvcpBuildText(buf, sizeof buf, h.channel, h.id, h.id, "never finished");
  ASSERT_TRUE(h.sendAll(buf, size_t(n) / 2));
  h.drop();
  ASSERT_TRUE(p.b.waitOp(ZVCP_OP_SWITCH, h.id));
  EXPECT_EQ(p.b.count([](auto &m) { return m.kind == ZVCP_KIND_TEXT && strcmp(m.text, "never finished") == 0; }), 0);
  EXPECT_TRUE(p.stillServed());
}

TEST(ServerHostile, SilenceIsNoticed) {
  Server server;
  ASSERT_TRUE(server.start({"--timeout", "1"}));
  Client quiet, mute;
  ASSERT_EQ(quiet.join(server.port, "quiet"), 0);  // joins, then says nothing
  mute.fd = connectTo(server.port);                // never even says hello
  int64_t t0 = nowMs();
  EXPECT_TRUE(quiet.closedWithin(4000));
  EXPECT_TRUE(mute.closedWithin(4000));
  EXPECT_LT(nowMs() - t0, 4000);
  EXPECT_FALSE(quiet.sawLeave);
}

TEST(ServerHostile, AFloodNeitherStarvesNorDropsTheOthers) {
  Server server;
  ASSERT_TRUE(server.start({"--rate", "40"}));
  Pair p;
  ASSERT_TRUE(p.join(server.port));
  Client flood;
  ASSERT_EQ(flood.join(server.port, "flood"), 0);
  ASSERT_TRUE(p.b.waitFor([&](auto &m) { return m.op == ZVCP_OP_ADD_OBJECTS && m.id == flood.id; }));
  // 20,000 positions as fast as the socket takes them, while a and b talk.
  uint8_t one[ZVCP_MAX_MESSAGE];
  const float t[3] = {0, 0, 0};
  int n = zvcpBuildPosition(one, sizeof one, flood.channel, flood.id, flood.id, t);
  std::vector<uint8_t> burst;
  for (int i = 0; i < 1000; i++) burst.insert(burst.end(), one, one + n);
  int64_t t0 = nowMs();
  bool cut = false;
  for (int i = 0; i < 20 && !cut; i++) {
    cut = !flood.sendAll(burst.data(), burst.size());
    EXPECT_TRUE(p.stillServed());
  }
  // The flooder is cut off, and what got through of it stayed near its
  // budget: a burst of 120 and 40 a second.
  EXPECT_TRUE(flood.closedWithin(3000));
  double seconds = double(nowMs() - t0) / 1000.0 + 1;
  p.b.pump(200);
  EXPECT_LE(p.b.count([&](auto &m) { return isPosition(m, flood.id); }), int(120 + 40 * seconds));
  EXPECT_FALSE(p.b.closed);
  EXPECT_TRUE(p.stillServed());
}

TEST(ServerHostile, AReaderThatStopsIsDroppedNotWaitedFor) {
  Server server;
  ASSERT_TRUE(server.start({"--rate", "100000"}));
  Pair p;
  ASSERT_TRUE(p.join(server.port));
  // A user whose window froze: it never reads again, with a small buffer.
  Client frozen;
  int small = 4096;
  ASSERT_EQ(frozen.join(server.port, "frozen"), 0);
  setsockopt(frozen.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ASSERT_TRUE(p.b.waitFor([&](auto &m) { return m.op == ZVCP_OP_ADD_OBJECTS && m.id == frozen.id; }));
  // a talks a lot; b keeps reading; frozen does not.
  std::string line(150, 'z');
  uint8_t one[ZVCP_MAX_MESSAGE];
  int n = zvcpBuildText(one, sizeof one, p.a.channel, p.a.id, p.a.id, line.c_str());
  std::vector<uint8_t> burst;
  for (int i = 0; i < 200; i++) burst.insert(burst.end(), one, one + n);
  bool gone = false;
  for (int i = 0; i < 400 && !gone; i++) {  // up to 13 MB
    ASSERT_TRUE(p.a.sendAll(burst.data(), burst.size()));
    p.a.pump(0);
    gone = p.b.waitOp(ZVCP_OP_SWITCH, frozen.id, 1) != nullptr;
    p.b.msgs.clear();
  }
  EXPECT_TRUE(gone);
  EXPECT_FALSE(p.b.closed);
  EXPECT_TRUE(p.stillServed());
}

TEST(ServerHostile, AThousandConnectsAndDisconnects) {
  Server server;
  ASSERT_TRUE(server.start());
  Pair p;
  ASSERT_TRUE(p.join(server.port));
  int joined = 0;
  int64_t t0 = nowMs();
  for (int i = 0; i < 1000 && nowMs() - t0 < 30000; i++) {
    Client c;
    switch (i % 3) {
    case 0:  // connect and go
      c.fd = connectTo(server.port);
      break;
    case 1:  // hello and go
      c.fd = helloed(server.port);
      break;
    default:  // join and go
      joined += c.join(server.port, "passing") == 0;
      break;
    }
    if (i % 100 == 0) {
      p.b.pump(0);
      p.b.msgs.clear();
    }
  }
  EXPECT_GE(joined, 300);
  p.b.msgs.clear();
  EXPECT_TRUE(p.stillServed());
  // Nobody passing through is still there: a newcomer is told of a and b only.
  Client last;
  ASSERT_EQ(last.join(server.port, "last"), 0);
  last.pump(500);
  EXPECT_EQ(last.count([](auto &m) { return m.op == ZVCP_OP_ADD_OBJECTS && m.messageClass == 0; }), 2);
}

}  // namespace
