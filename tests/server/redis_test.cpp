// Two servers, one world, through a redis-server of the test's own on a
// free loopback port (skipped where there is none).
#include "tests/server/serverkit.h"

using namespace svtest;

namespace {

TEST(ServerRedis, TwoServersShareAWorld) {
  if (!redisServer()) GTEST_SKIP() << "no redis-server";
  Redis redis;
  ASSERT_TRUE(redis.start());
  // Different ports on one machine, the same world number on Redis.
  Server one, two;
  ASSERT_TRUE(one.start({"--redis", redis.address(), "--world", "42", "--object", "http://127.0.0.1/ball.wrl"}));
  ASSERT_TRUE(two.start({"--redis", redis.address(), "--world", "42", "--object", "http://127.0.0.1/ball.wrl"}));

  Client a, b, c;
  ASSERT_EQ(a.join(one.port, "alice"), 0);
  ASSERT_TRUE(a.waitFor([](auto &m) { return isMaster(m, 1); }));
  ASSERT_TRUE(a.sendPosition(a.id, 3, 0, 0));
  ASSERT_TRUE(a.pump(200));
  ASSERT_EQ(b.join(two.port, "bob"), 0);
  EXPECT_EQ(a.channel, b.channel);  // the world's number, on both servers
  EXPECT_NE(a.id, b.id);           // identifiers from one counter
  // Bob, on the other server, is told of alice and where she stands, and
  // alice of bob.
  const Msg *alice = b.waitFor([&](auto &m) { return isAdd(m, a.id); });
  ASSERT_TRUE(alice);
  EXPECT_STREQ(alice->m.text2, "alice");
  ASSERT_TRUE(b.waitFor([&](auto &m) { return isPosition(m, a.id) && m.reals[0] > 2.9f; }));
  ASSERT_TRUE(a.waitFor([&](auto &m) { return isAdd(m, b.id); }));
  // Alice joined first, on any server: bob is not master.
  b.pump(300);
  EXPECT_EQ(b.count([](auto &m) { return isMaster(m, 1); }), 0);

  // Moves, chat and the shared object cross over.
  ASSERT_TRUE(b.sendPosition(b.id, 0, 1.5f, 0));
  ASSERT_TRUE(a.waitFor([&](auto &m) { return isPosition(m, b.id) && m.reals[1] > 1.4f; }));
  ASSERT_TRUE(a.sendText(a.id, "alice: over there"));
  const Msg *chat = b.waitFor([](auto &m) { return m.op == ZVCP_OP_UPDATE && m.kind == ZVCP_KIND_TEXT; });
  ASSERT_TRUE(chat);
  EXPECT_STREQ(chat->m.text, "alice: over there");
  const float to[3] = {1, 2, 3};
  ASSERT_TRUE(b.sendRotTrans(1, to));
  ASSERT_TRUE(a.waitFor([](auto &m) { return m.op == ZVCP_OP_UPDATE && m.kind == 2 && m.id == 1; }));
  // Only the own avatar moves, here as on one server.
  ASSERT_TRUE(b.sendPosition(a.id, 9, 9, 9));
  b.pump(200);

  // A third user on server one sees bob from server two, and the ball
  // where bob put it.
  ASSERT_EQ(c.join(one.port, "carol"), 0);
  ASSERT_TRUE(c.waitFor([&](auto &m) { return isAdd(m, b.id); }));
  const Msg *ball = c.waitFor([](auto &m) { return m.op == ZVCP_OP_UPDATE && m.kind == 2 && m.id == 1; });
  ASSERT_TRUE(ball);
  EXPECT_NEAR(ball->m.reals[10], 2.0, 1e-3);
  EXPECT_EQ(a.count([&](auto &m) { return isPosition(m, a.id) && m.reals[0] > 8; }), 0);

  // Alice leaves: bob, on the other server, sees her go and is master now.
  a.drop();
  ASSERT_TRUE(b.waitOp(ZVCP_OP_SWITCH, a.id));
  ASSERT_TRUE(b.waitFor([](auto &m) { return isMaster(m, 1); }));
  c.pump(200);
  EXPECT_EQ(c.count([](auto &m) { return isMaster(m, 1); }), 0);

  // A server that is killed outright takes its users with it once its
  // heartbeat has been missed for ten seconds.
  one.proc.stop(SIGKILL);
  ASSERT_TRUE(b.waitOp(ZVCP_OP_SWITCH, c.id, 15000));
  EXPECT_FALSE(b.sawLeave || c.sawLeave || b.garbled);
}

TEST(ServerRedis, ANewServerLearnsWhoIsThere) {
  if (!redisServer()) GTEST_SKIP() << "no redis-server";
  Redis redis;
  ASSERT_TRUE(redis.start());
  Server one, two;
  ASSERT_TRUE(one.start({"--redis", redis.address(), "--world", "7"}));
  Client a;
  ASSERT_EQ(a.join(one.port, "alice"), 0);
  ASSERT_TRUE(a.sendPosition(a.id, 0, 0, 4));
  ASSERT_TRUE(a.pump(200));
  // Server two starts after alice joined: it asks, and server one answers.
  ASSERT_TRUE(two.start({"--redis", redis.address(), "--world", "7"}));
  const Msg *alice = nullptr;
  for (int i = 0; i < 20 && !alice; i++) {  // until server two has heard the answer
    Client probe;
    if (probe.join(two.port, "probe") != 0) {
      usleep(100000);
      continue;
    }
    alice = probe.waitFor([&](auto &m) { return isAdd(m, a.id); }, 300);
    if (alice) {
      EXPECT_TRUE(probe.waitFor([&](auto &m) { return isPosition(m, a.id) && m.reals[2] > 3.9f; }));
      EXPECT_EQ(probe.count([](auto &m) { return isMaster(m, 1); }), 0);
    }
  }
  EXPECT_TRUE(alice);
}

}  // namespace
