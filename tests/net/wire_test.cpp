// The wire module: layouts byte for byte, round trips, the fixed-point rule,
// the ring's wrap-around and every way a hostile message is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/net.h"

namespace {

std::vector<uint8_t> bytesOf(int size, const uint8_t* data) { return std::vector<uint8_t>(data, data + size); }

// A class 0 message with an arbitrary body, lengths as given.
std::vector<uint8_t> rawMessage(uint32_t op, const std::vector<uint8_t>& body, uint32_t length) {
  std::vector<uint8_t> m(ZVCP_HEADER_SIZE);
  m[0] = 0;
  zvcpPutU32(&m[1], 7);
  zvcpPutU32(&m[5], 9);
  zvcpPutU32(&m[9], op);
  zvcpPutU32(&m[13], length);
  m.insert(m.end(), body.begin(), body.end());
  return m;
}

TEST(WireValues, FixedPointIsAsymmetric) {
  int32_t w = 0;
  ASSERT_EQ(zvcpRealToWire(1.0, &w), ZVCP_OK);
  EXPECT_EQ(w, 65535);
  ASSERT_EQ(zvcpRealToWire(-2.5, &w), ZVCP_OK);
  EXPECT_EQ(w, -163837);  // truncated toward zero
  EXPECT_DOUBLE_EQ(zvcpWireToReal(65536), 1.0);
  EXPECT_DOUBLE_EQ(zvcpWireToReal(-32768), -0.5);
  EXPECT_EQ(zvcpRealToWire(40000.0, &w), ZVCP_E_RANGE);
  EXPECT_EQ(zvcpRealToWire(0.0 / 0.0, &w), ZVCP_E_RANGE);
  EXPECT_EQ(zvcpRealToWire(1e300, &w), ZVCP_E_RANGE);
  ASSERT_EQ(zvcpRealToWire(32767.0, &w), ZVCP_OK);
}

TEST(WireLayout, HandshakeAndSocks) {
  uint8_t b[300];
  ASSERT_EQ(zvcpBuildHello(b, sizeof b), 7);
  EXPECT_EQ(std::memcmp(b, "hello\1\1", 7), 0);
  EXPECT_EQ(zvcpParseHello(b, 7), 0);
  EXPECT_EQ(zvcpParseHello(b, 6), -1);

  ASSERT_EQ(zvcpBuildAnswer(b, sizeof b, 42, 0xA1B2C3D4), 14);
  uint32_t first = 0, channel = 0;
  EXPECT_EQ(zvcpParseAnswer(b, 14, &first, &channel), 0);
  EXPECT_EQ(first, 42u);
  EXPECT_EQ(channel, 0xA1B2C3D4u);
  EXPECT_EQ(zvcpParseAnswer(b, 13, nullptr, nullptr), -1);  // cut short
  ASSERT_EQ(zvcpBuildReject(b, sizeof b), 7);
  EXPECT_EQ(zvcpParseAnswer(b, 7, nullptr, nullptr), 1);
  EXPECT_EQ(zvcpParseAnswer(reinterpret_cast<const uint8_t*>("goodbye\0\0\0\0\0\0\0"), 14, nullptr, nullptr), -1);

  ASSERT_EQ(zvcpBuildSocks4(b, sizeof b, 7000, 0x7F000001, "ann"), 12);
  const uint8_t want[] = {4, 1, 0x1B, 0x58, 127, 0, 0, 1, 'a', 'n', 'n', 0};
  EXPECT_EQ(bytesOf(12, b), bytesOf(12, want));
  uint8_t granted[8] = {0, 90}, refused[8] = {0, 91};
  EXPECT_EQ(zvcpParseSocks4Reply(granted, 8), 0);
  EXPECT_EQ(zvcpParseSocks4Reply(refused, 8), -1);
  EXPECT_EQ(zvcpParseSocks4Reply(granted, 7), -1);
}

TEST(WireLayout, HeaderAndFixedClasses) {
  uint8_t b[200];
  ASSERT_EQ(zvcpBuildYourId(b, sizeof b, 0x01020304, 0x05060708, 77), 21);
  const uint8_t head[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 77};
  EXPECT_EQ(bytesOf(21, b), bytesOf(21, head));

  const float t[3] = {1.0f, -1.0f, 0.5f};
  ASSERT_EQ(zvcpBuildPosition(b, sizeof b, 1, 2, 3, t), 27);
  EXPECT_EQ(b[0], 2);
  EXPECT_EQ(int32_t(zvcpGetU32(b + 13)), 65535);
  EXPECT_EQ(int32_t(zvcpGetU32(b + 17)), -65535);
  EXPECT_EQ(zvcpGetU16(b + 25), 1);
  ZvcpMessage m;
  ASSERT_EQ(zvcpParse(b, 27, &m), 0);
  EXPECT_EQ(m.id, 3u);
  EXPECT_NEAR(m.reals[0], 65535 / 65536.0, 1e-7);

  ASSERT_EQ(zvcpBuildStep(b, sizeof b, 1, 2, 3, ZVCP_STEP_BACK), 14);
  ASSERT_EQ(zvcpParse(b, 14, &m), 0);
  EXPECT_EQ(m.messageClass, 1);
  EXPECT_EQ(m.value, 255);

  const float far[3] = {1e6f, 0, 0};
  EXPECT_EQ(zvcpBuildPosition(b, sizeof b, 1, 2, 3, far), ZVCP_E_RANGE);
  EXPECT_EQ(zvcpBuildPosition(b, 26, 1, 2, 3, t), ZVCP_E_NOFIT);
}

TEST(WireLayout, EveryOperationRoundTrips) {
  uint8_t b[200];
  ZvcpMessage m;
  // The message the first n bytes of b parse into.
  auto parsed = [&](int n) {
    EXPECT_EQ(zvcpParse(b, n, &m), 0) << n;
    return m;
  };
  ASSERT_EQ(zvcpBuildJoin(b, sizeof b, 5, 6, "ann", "person.wrl"),
            zvcpBuildJoin(nullptr, 0, 5, 6, "ann", "person.wrl"));
  parsed(zvcpBuildJoin(b, sizeof b, 5, 6, "ann", "person.wrl"));
  EXPECT_STREQ(m.text, "ann");
  EXPECT_STREQ(m.text2, "person.wrl");

  parsed(zvcpBuildAddObjects(b, sizeof b, 5, 6, 12, 99, "http://h/a.wrl", "bob"));
  EXPECT_TRUE(m.op == 2u && m.id == 12u && m.word == 99u) << m.op << " " << m.id << " " << m.word;
  EXPECT_STREQ(m.text, "http://h/a.wrl");
  EXPECT_STREQ(m.text2, "bob");
  EXPECT_EQ(parsed(zvcpBuildAddObjects(b, sizeof b, 5, 6, 12, 99, "http://h/a.wrl", nullptr)).text2, nullptr);

  EXPECT_EQ(parsed(zvcpBuildSwitch(b, sizeof b, 5, 6, 8)).op, 3u);
  parsed(zvcpBuildMyself(b, sizeof b, 5, 6, 8));
  EXPECT_TRUE(m.op == 4u && m.id == 8u) << m.op << " " << m.id;
  EXPECT_EQ(parsed(zvcpBuildLeave(b, sizeof b, 5, 6, 3)).value, 3);
  EXPECT_EQ(parsed(zvcpBuildMaster(b, sizeof b, 5, 6, 1)).op, 8u);
  EXPECT_STREQ(parsed(zvcpBuildText5(b, sizeof b, 5, 6, 1, 2, "x")).text, "x");

  const float rot[9] = {1, 0, 0, 0, 0, -1, 0, 1, 0}, tr[3] = {2, 3, -4};
  ASSERT_EQ(zvcpBuildRotTrans(b, sizeof b, 5, 6, 9, rot, tr), 74);
  parsed(74);
  EXPECT_TRUE(m.kind == 2u && m.flag == 1) << m.kind << " " << m.flag;
  ASSERT_EQ(m.realCount, 12);
  EXPECT_NEAR(m.reals[5], -1.0, 1e-4);
  EXPECT_NEAR(m.reals[11], -4.0, 1e-3);
  EXPECT_EQ(parsed(zvcpBuildTranslation(b, sizeof b, 5, 6, 9, tr)).realCount, 3);
  EXPECT_EQ(parsed(zvcpBuildRotation(b, sizeof b, 5, 6, 9, rot)).realCount, 9);

  parsed(zvcpBuildEvent(b, sizeof b, 5, 6, 9, 1234, "go"));
  EXPECT_TRUE(m.kind == 11u && m.code == 1234u) << m.kind << " " << m.code;
  EXPECT_STREQ(m.text, "go");
  parsed(zvcpBuildAppl(b, sizeof b, 5, 6, 9, 1, "zvApplDoor", "open wide"));
  EXPECT_EQ(m.flag, 4);
  EXPECT_STREQ(m.text, "zvApplDoor");
  EXPECT_STREQ(m.text2, "open wide");
  EXPECT_EQ(parsed(zvcpBuildAppl(b, sizeof b, 5, 6, 9, 0, "p", "")).flag, 2);
}

TEST(WireLimits, TextsKeepWithinTwoHundredBytes) {
  uint8_t b[400];
  std::string longest(ZVCP_MAX_TEXT, 'a');
  EXPECT_EQ(zvcpBuildText(b, sizeof b, 1, 2, 3, longest.c_str()), 200);
  longest += 'a';
  EXPECT_EQ(zvcpBuildText(b, sizeof b, 1, 2, 3, longest.c_str()), ZVCP_E_TOO_LONG);
  std::string url(190, 'u');
  EXPECT_EQ(zvcpBuildAddObjects(b, sizeof b, 1, 2, 3, 4, url.c_str(), nullptr), ZVCP_E_TOO_LONG);
}

TEST(WireLimits, HostileBodiesAreRefused) {
  ZvcpMessage m;
  auto parse = [&](std::vector<uint8_t> v) { return zvcpParse(v.data(), v.size(), &m); };
  // Unterminated strings, wherever they sit.
  EXPECT_EQ(parse(rawMessage(0, {'a', 'b'}, 2)), ZVCP_E_STRING);
  EXPECT_EQ(parse(rawMessage(0, {'a', 0, 'b'}, 3)), ZVCP_E_STRING);
  EXPECT_EQ(parse(rawMessage(2, {0, 0, 0, 1, 0, 0, 0, 0, 'h', 't'}, 10)), ZVCP_E_STRING);
  EXPECT_EQ(parse(rawMessage(2, {0, 0, 0, 1, 0, 0, 0, 0, 'h', 0, 'n'}, 11)), ZVCP_E_STRING);
  EXPECT_EQ(parse(rawMessage(6, {0, 0, 0, 1, 0, 0, 0, 9, 0, 'x'}, 10)), ZVCP_E_STRING);
  EXPECT_EQ(parse(rawMessage(6, {0, 0, 0, 1, 0, 0, 0x27, 0x10, 2, 'p', 0, 'a'}, 12)), ZVCP_E_STRING);
  // Bodies too short or too long for their layout.
  EXPECT_EQ(parse(rawMessage(1, {0, 0, 1}, 3)), ZVCP_E_BODY);
  EXPECT_EQ(parse(rawMessage(4, {0, 0, 0, 1, 0}, 5)), ZVCP_E_BODY);
  EXPECT_EQ(parse(rawMessage(8, {}, 0)), ZVCP_E_BODY);
  EXPECT_EQ(parse(rawMessage(6, {0, 0, 0, 1, 0, 0, 0, 2, 1, 0, 0}, 11)), ZVCP_E_BODY);
  EXPECT_EQ(parse(rawMessage(6, {0, 0, 0, 1}, 4)), ZVCP_E_BODY);
  // Unknown operation and kind.
  EXPECT_EQ(parse(rawMessage(9, {0}, 1)), ZVCP_E_UNKNOWN);
  EXPECT_EQ(parse(rawMessage(0xFFFFFFFF, {0}, 1)), ZVCP_E_UNKNOWN);
  EXPECT_EQ(parse(rawMessage(6, {0, 0, 0, 1, 0, 0, 0, 3, 1}, 9)), ZVCP_E_UNKNOWN);
  // A length that disagrees with the bytes given, a huge one, a bad class.
  EXPECT_EQ(parse(rawMessage(4, {0, 0, 0, 1}, 8)), ZVCP_E_INCOMPLETE);
  EXPECT_EQ(parse(rawMessage(4, {0, 0, 0, 1}, 2)), ZVCP_E_BODY);
  EXPECT_EQ(parse(rawMessage(4, {0, 0, 0, 1}, 0xFFFFFFFF)), ZVCP_E_INCOMPLETE);
  std::vector<uint8_t> big = rawMessage(9, std::vector<uint8_t>(190, 0), 190);
  EXPECT_EQ(parse(big), ZVCP_E_TOO_LONG);
  std::vector<uint8_t> bad = rawMessage(4, {0, 0, 0, 1}, 4);
  bad[0] = 3;
  EXPECT_EQ(parse(bad), ZVCP_E_UNKNOWN);
  // A rotation element beyond any sensible scale.
  uint8_t b[200];
  const float rot[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, tr[3] = {0, 0, 0};
  int n = zvcpBuildRotTrans(b, sizeof b, 1, 2, 3, rot, tr);
  zvcpPutU32(b + ZVCP_HEADER_SIZE + 9, 300 * 65536);
  EXPECT_EQ(zvcpParse(b, n, &m), ZVCP_E_RANGE);
}

// A message of every class fed through the ring from every starting offset
// near the end, so that headers and bodies straddle the wrap.
TEST(WireRing, MessagesAcrossTheEnd) {
  static ZvcpRing ring;
  uint8_t msg[200], out[200];
  const float rot[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, tr[3] = {1, 2, 3};
  std::vector<std::vector<uint8_t>> msgs;
  msgs.push_back(bytesOf(zvcpBuildRotTrans(msg, sizeof msg, 1, 2, 3, rot, tr), msg));
  msgs.push_back(bytesOf(zvcpBuildStep(msg, sizeof msg, 1, 2, 3, 1), msg));
  msgs.push_back(bytesOf(zvcpBuildPosition(msg, sizeof msg, 1, 2, 3, tr), msg));
  msgs.push_back(bytesOf(zvcpBuildText(msg, sizeof msg, 1, 2, 3, "hi"), msg));
  for (int start = ZVCP_RING_SIZE - 80; start < ZVCP_RING_SIZE; ++start) {
    zvcpRingReset(&ring);
    ring.read = ring.write = uint32_t(start);
    for (const auto& m : msgs) {
      // One byte at a time: nothing comes out before the last byte.
      for (size_t i = 0; i < m.size(); ++i) {
        ASSERT_EQ(zvcpRingNext(&ring, out), 0) << "start " << start;
        ASSERT_EQ(zvcpRingPut(&ring, &m[i], 1), 0);
      }
      ASSERT_EQ(zvcpRingMessageSize(&ring), int64_t(m.size()));
      ASSERT_EQ(zvcpRingNext(&ring, out), int(m.size()));
      ASSERT_EQ(bytesOf(int(m.size()), out), m) << "start " << start;
    }
    EXPECT_EQ(zvcpRingUsed(&ring), 0u);
  }
}

TEST(WireRing, FillsToOneShortOfItsSize) {
  static ZvcpRing ring;
  zvcpRingReset(&ring);
  std::vector<uint8_t> chunk(ZVCP_RING_SIZE - 1, 1);
  EXPECT_EQ(zvcpRingPut(&ring, chunk.data(), chunk.size() + 1), ZVCP_E_NOFIT);
  ASSERT_EQ(zvcpRingPut(&ring, chunk.data(), chunk.size()), 0);
  EXPECT_EQ(zvcpRingFree(&ring), 0u);
  EXPECT_EQ(zvcpRingPut(&ring, chunk.data(), 1), ZVCP_E_NOFIT);
  uint8_t two[2];
  ASSERT_EQ(zvcpRingGet(&ring, two, 2), 0);
  EXPECT_EQ(zvcpRingFree(&ring), 2u);
  static uint8_t all[ZVCP_RING_SIZE];
  EXPECT_EQ(zvcpRingGet(&ring, all, ZVCP_RING_SIZE - 2), ZVCP_E_SHORT);
}

// An oversize message is thrown away as it arrives and the next one read;
// a class byte nobody knows or an absurd length ends the stream.
TEST(WireRing, OversizeIsSkippedAndUnknownEndsTheStream) {
  static ZvcpRing ring;
  uint8_t out[200], msg[200];
  zvcpRingReset(&ring);
  std::vector<uint8_t> big = rawMessage(6, std::vector<uint8_t>(1000, 'x'), 1000);
  ASSERT_EQ(zvcpRingPut(&ring, big.data(), 300), 0);
  EXPECT_EQ(zvcpRingNext(&ring, out), ZVCP_E_TOO_LONG);
  EXPECT_EQ(zvcpRingNext(&ring, out), 0);
  ASSERT_EQ(zvcpRingPut(&ring, big.data() + 300, big.size() - 300), 0);
  int n = zvcpBuildMaster(msg, sizeof msg, 1, 2, 1);
  ASSERT_EQ(zvcpRingPut(&ring, msg, n), 0);
  EXPECT_EQ(zvcpRingNext(&ring, out), n);
  EXPECT_EQ(zvcpRingUsed(&ring), 0u);

  uint8_t stray = 3;
  ASSERT_EQ(zvcpRingPut(&ring, &stray, 1), 0);
  EXPECT_EQ(zvcpRingNext(&ring, out), ZVCP_E_STREAM);

  zvcpRingReset(&ring);
  std::vector<uint8_t> huge = rawMessage(6, {}, 0xFFFFFFF0);
  ASSERT_EQ(zvcpRingPut(&ring, huge.data(), huge.size()), 0);
  EXPECT_EQ(zvcpRingNext(&ring, out), ZVCP_E_STREAM);
}

}  // namespace
