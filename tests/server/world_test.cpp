// One server, three users: what each is told when it joins, what reaches
// the others, who is master, and what is seen when someone leaves.
#include "tests/server/serverkit.h"

using namespace svtest;

namespace {

TEST(ServerWorld, JoinMoveChatObjectMasterLeave) {
  Server server;
  ASSERT_TRUE(server.start({"--object", "http://127.0.0.1/ball.wrl#ball"}));
  Client a, b, c;
  ASSERT_EQ(a.join(server.port, "alice"), 0);
  // Told who it is, that it is master, and of the shared object.
  ASSERT_TRUE(a.waitOp(ZVCP_OP_YOUR_ID, a.id));
  ASSERT_TRUE(a.waitOp(ZVCP_OP_MYSELF, a.id));
  ASSERT_TRUE(a.waitFor([](auto &m) { return isMaster(m, 1); }));
  const Msg *ball = a.waitFor([](auto &m) { return isAdd(m, 1); });
  ASSERT_TRUE(ball);
  EXPECT_STREQ(ball->m.text, "http://127.0.0.1/ball.wrl");
  EXPECT_STREQ(ball->m.text2, "ball");
  EXPECT_GE(a.id, 10000u);

  ASSERT_EQ(b.join(server.port, "bob", "http://127.0.0.1/boy.wrl"), 0);
  EXPECT_NE(a.id, b.id);
  EXPECT_EQ(a.channel, b.channel);
  // Each sees the other's avatar with its name.
  const Msg *bobSeen = a.waitFor([&](auto &m) { return isAdd(m, b.id); });
  ASSERT_TRUE(bobSeen);
  EXPECT_STREQ(bobSeen->m.text, "http://127.0.0.1/boy.wrl");
  EXPECT_STREQ(bobSeen->m.text2, "bob");
  const Msg *aliceSeen = b.waitFor([&](auto &m) { return isAdd(m, a.id); });
  ASSERT_TRUE(aliceSeen);
  EXPECT_STREQ(aliceSeen->m.text2, "alice");

  // A move of alice's reaches bob, stamped as hers; a late joiner is told
  // where she stands right after her avatar.
  ASSERT_TRUE(a.sendPosition(a.id, 1.0f, 2.0f, -3.5f));
  const Msg *moved = b.waitFor([&](auto &m) { return isPosition(m, a.id); });
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->m.sender, a.id);
  EXPECT_NEAR(moved->m.reals[0], 1.0, 1e-3);
  EXPECT_NEAR(moved->m.reals[2], -3.5, 1e-3);

  // Bob moves the shared object; chat from bob.
  const float to[3] = {4, 5, 6};
  ASSERT_TRUE(b.sendRotTrans(1, to));
  ASSERT_TRUE(a.waitFor([](auto &m) { return m.messageClass == 0 && m.op == ZVCP_OP_UPDATE && m.kind == 2 && m.id == 1; }));
  ASSERT_TRUE(b.sendText(b.id, "bob: hello all"));
  const Msg *chat = a.waitFor([&](auto &m) { return m.op == ZVCP_OP_UPDATE && m.kind == ZVCP_KIND_TEXT; });
  ASSERT_TRUE(chat);
  EXPECT_STREQ(chat->m.text, "bob: hello all");
  EXPECT_EQ(chat->m.id, b.id);

  ASSERT_EQ(c.join(server.port, "carol"), 0);
  ASSERT_TRUE(c.waitFor([&](auto &m) { return isAdd(m, a.id); }));
  const Msg *where = c.waitFor([&](auto &m) { return isPosition(m, a.id); });
  ASSERT_TRUE(where);
  EXPECT_NEAR(where->m.reals[1], 2.0, 1e-3);
  const Msg *ballNow = c.waitFor([](auto &m) { return m.op == ZVCP_OP_UPDATE && m.kind == 2 && m.id == 1; });
  ASSERT_TRUE(ballNow);
  EXPECT_NEAR(ballNow->m.reals[9], 4.0, 1e-3);
  EXPECT_NEAR(ballNow->m.reals[11], 6.0, 1e-3);
  ASSERT_TRUE(a.waitFor([&](auto &m) { return isAdd(m, c.id); }));
  ASSERT_TRUE(b.waitFor([&](auto &m) { return isAdd(m, c.id); }));

  // Alice's whole transform replaces her position as what newcomers hear.
  const float there[3] = {2, 2, 2};
  ASSERT_TRUE(a.sendRotTrans(a.id, there));
  ASSERT_TRUE(b.waitFor([&](auto &m) { return m.kind == 2 && m.id == a.id; }));
  uint32_t dave;
  {
    Client d;
    ASSERT_EQ(d.join(server.port, "dave"), 0);
    dave = d.id;
    const Msg *placed = d.waitFor([&](auto &m) { return m.kind == 2 && m.id == a.id; });
    ASSERT_TRUE(placed);
    EXPECT_NEAR(placed->m.reals[9], 2.0, 1e-3);
    EXPECT_EQ(d.count([&](auto &m) { return isPosition(m, a.id); }), 0);
  }
  ASSERT_TRUE(c.waitOp(ZVCP_OP_SWITCH, dave));  // and gone again

  // Nobody moves another's avatar or speaks for it: not passed on.
  ASSERT_TRUE(c.sendPosition(a.id, 9, 9, 9));
  ASSERT_TRUE(c.sendText(a.id, "carol pretending"));
  const float far[3] = {7, 7, 7};
  ASSERT_TRUE(c.sendRotTrans(b.id, far));
  ASSERT_TRUE(c.sendPosition(c.id, 0.5f, 0, 0));  // a legal one behind them
  ASSERT_TRUE(b.waitFor([&](auto &m) { return isPosition(m, c.id); }));
  EXPECT_EQ(b.count([&](auto &m) { return isPosition(m, a.id) && m.reals[0] > 8; }), 0);
  EXPECT_EQ(b.count([&](auto &m) { return m.kind == ZVCP_KIND_TEXT && m.id == a.id; }), 0);
  EXPECT_EQ(a.count([&](auto &m) { return m.kind == 2 && m.id == b.id; }), 0);
  // Nobody hears its own messages back.
  EXPECT_EQ(a.count([&](auto &m) { return isPosition(m, a.id); }), 0);

  // Alice, the master, leaves: the others see her avatar switched off and
  // bob, the next oldest, becomes master; carol does not.
  a.drop();
  ASSERT_TRUE(b.waitOp(ZVCP_OP_SWITCH, a.id));
  ASSERT_TRUE(c.waitOp(ZVCP_OP_SWITCH, a.id));
  ASSERT_TRUE(b.waitFor([](auto &m) { return isMaster(m, 1); }));
  c.pump(200);
  EXPECT_EQ(c.count([](auto &m) { return isMaster(m, 1); }), 0);
  // Bob leaves with op 7, as the browser does; carol is master.
  uint8_t leave[ZVCP_MAX_MESSAGE];
  int n = zvcpBuildLeave(leave, sizeof leave, b.channel, b.id, ZVCP_LEAVE_DISCONNECT);
  ASSERT_TRUE(b.sendAll(leave, size_t(n)));
  ASSERT_TRUE(c.waitOp(ZVCP_OP_SWITCH, b.id));
  ASSERT_TRUE(c.waitFor([](auto &m) { return isMaster(m, 1); }));
  // Never op 7 to a browser: it would leave the world at once.
  EXPECT_FALSE(a.sawLeave || b.sawLeave || c.sawLeave);
  EXPECT_FALSE(a.garbled || b.garbled || c.garbled);
}

TEST(ServerWorld, EachPortIsAWorldAndFullIsRejected) {
  Server server;
  ASSERT_TRUE(server.start({"--max-clients", "3"}, 2));
  Client a, b, c, d;
  ASSERT_EQ(a.join(server.port, "a"), 0);
  ASSERT_EQ(b.join(server.port + 1, "b"), 0);
  ASSERT_EQ(c.join(server.port + 1, "c"), 0);
  ASSERT_TRUE(b.waitFor([&](auto &m) { return isAdd(m, c.id); }));
  a.pump(300);
  EXPECT_EQ(a.count([&](auto &m) { return isAdd(m, b.id) || isAdd(m, c.id); }), 0);
  EXPECT_NE(a.channel, b.channel);
  // Both worlds are masters of their own.
  ASSERT_TRUE(a.waitFor([](auto &m) { return isMaster(m, 1); }));
  ASSERT_TRUE(b.waitFor([](auto &m) { return isMaster(m, 1); }));
  // A fourth connection is over --max-clients: the answer reads "reject".
  EXPECT_EQ(d.join(server.port, "d"), 1);
}

TEST(ServerWorld, NamesAndAvatarsAreMadeToFit) {
  Server server;
  ASSERT_TRUE(server.start());
  Client a, b;
  ASSERT_EQ(a.join(server.port, "a"), 0);
  // A name with a control character and an avatar URL too long to be sent
  // on with it: the name is cleaned, the avatar replaced by the default.
  std::string longUrl = "http://127.0.0.1/" + std::string(154, 'x') + ".wrl";
  ASSERT_EQ(b.join(server.port, "b\x01ob", longUrl), 0);
  const Msg *seen = a.waitFor([&](auto &m) { return isAdd(m, b.id); });
  ASSERT_TRUE(seen);
  EXPECT_STREQ(seen->m.text, "person.wrl");
  EXPECT_STREQ(seen->m.text2, "b?ob");
}

}  // namespace
