// The decoder process and its socket: the reader takes only what is well
// formed and within bounds, before its deadline; and a decoder that
// crashes, hangs, leaves or talks nonsense costs a message, not the
// browser (nor this test's process, which a SIGPIPE would end).
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>

#include "media/decode/wire.h"
#include "tests/media/movietest.h"

using movietest::MovieFixture;

namespace {

struct Pair {
  int fd[2] = {-1, -1};
  Pair() { socketpair(AF_UNIX, SOCK_STREAM, 0, fd); }
  ~Pair() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  void send(const std::string& bytes) { ASSERT_TRUE(zvwire::writeAll(fd[1], bytes.data(), bytes.size())); }
  void hangUp() {
    close(fd[1]);
    fd[1] = -1;
  }
};

std::string head(uint32_t tag, uint32_t length) {
  zvwire::Head h{tag, length};
  return std::string(reinterpret_cast<const char*>(&h), sizeof h);
}
template <typename T>
std::string bytes(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

TEST(MovieDecoderWire, TheReaderTakesOnlyWellFormedMessagesInBounds) {
  struct Case {
    const char* name;
    std::string bytes;
    size_t pictureBytes;
    const char* why;  // null: read
  };
  int32_t stereo44[2] = {44100, 2}, threeChannels[2] = {44100, 3}, noRate[2] = {0, 1};
  zvwire::Info good{64, 48, 1, 0, 25.0, 4.0}, wide{9000, 48, 0, 0, 25.0, 0}, nanRate{64, 48, 0, 0, 0.0 / 0.0, 0};
  double t = 0.5;
  const Case cases[] = {
      {"info", head(zvwire::kInfo, sizeof good) + bytes(good), 0, nullptr},
      {"picture", head(zvwire::kPicture, 8 + 16) + bytes(t) + std::string(16, 'x'), 16, nullptr},
      {"sound", head(zvwire::kSound, 8 + 8) + bytes(stereo44) + std::string(8, '\0'), 0, nullptr},
      {"end", head(zvwire::kEnd, 0), 0, nullptr},
      {"unknown tag", head(zvwire::tag("WHAT"), 0), 0, "makes no sense"},
      {"picture of another size", head(zvwire::kPicture, 8 + 12) + bytes(t) + std::string(12, 'x'), 16,
       "makes no sense"},
      {"huge sound", head(zvwire::kSound, 0xfffffff0u), 0, "makes no sense"},
      {"long text", head(zvwire::kFail, zvwire::kMostText + 1), 0, "makes no sense"},
      {"info too short", head(zvwire::kInfo, 8) + std::string(8, '\0'), 0, "makes no sense"},
      {"too wide", head(zvwire::kInfo, sizeof wide) + bytes(wide), 0, "no usable size"},
      {"rate not a number", head(zvwire::kInfo, sizeof nanRate) + bytes(nanRate), 0, "no usable size"},
      {"three channels", head(zvwire::kSound, 8 + 6) + bytes(threeChannels) + std::string(6, '\0'), 0,
       "sound that makes no sense"},
      {"no rate", head(zvwire::kSound, 8 + 2) + bytes(noRate) + std::string(2, '\0'), 0, "sound that makes no sense"},
      {"half a sample frame", head(zvwire::kSound, 8 + 6) + bytes(stereo44) + std::string(6, '\0'), 0,
       "sound that makes no sense"},
      {"cut short", head(zvwire::kPicture, 8 + 16) + bytes(t) + "xx", 16, "stopped"},
      {"half a head", "PIC", 0, "stopped"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p;
    p.send(c.bytes);
    p.hangUp();
    zvwire::Message m;
    std::string why;
    int r = zvwire::readMessage(p.fd[0], zvwire::nowMs() + 1000, c.pictureBytes, &m, &why);
    if (!c.why) {
      EXPECT_EQ(r, 0) << why;
      EXPECT_EQ(m.payload.size() + sizeof(zvwire::Head), c.bytes.size());
    } else {
      EXPECT_EQ(r, -1);
      EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
  }
}

TEST(MovieDecoderWire, ASilentPeerMeetsTheDeadline) {
  Pair p;
  p.send(head(zvwire::kPicture, 8 + 16) + "abc");  // and then nothing more
  zvwire::Message m;
  std::string why;
  int64_t start = zvwire::nowMs();
  EXPECT_EQ(zvwire::readMessage(p.fd[0], start + 200, 16, &m, &why), -1);
  int64_t took = zvwire::nowMs() - start;
  EXPECT_GE(took, 190);
  EXPECT_LT(took, 1500);
  EXPECT_EQ(why, "took too long");
}

// Stand-ins for quillmoor-decode, as shell scripts named by QUILLMOOR_DECODER.
class MovieDecoderProcess : public MovieFixture {
 protected:
  void TearDown() override {
    unsetenv("QUILLMOOR_DECODER");
    MovieFixture::TearDown();
  }
  void use(const std::string& script) {
    auto path = dir / "decoder.sh";
    std::ofstream(path) << "#!/bin/sh\n" << script << "\n";
    chmod(path.c_str(), 0755);
    setenv("QUILLMOOR_DECODER", path.c_str(), 1);
  }
  // printf's octal for a 64 x 48 picture's INFO message, with no sound.
  static std::string info() {
    return "printf 'INFO\\040\\0\\0\\0\\100\\0\\0\\0\\060\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0"
           "\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0'";
  }
  // Opens, then reads one picture: what the read answered, and how long it all took.
  int openAndRead(double* seconds) {
    auto start = std::chrono::steady_clock::now();
    int r = -2;
    if (ZvVideoDecoder* d = zvOpenVideo("any.mpg", "test")) {
      ZvVideoInfo i;
      zvGetVideoInfo(d, &i);
      EXPECT_EQ(std::pair(i.width, i.height), std::pair(64, 48));
      std::vector<uint8_t> rgba(64 * 48 * 4);
      r = zvReadVideoFrame(d, rgba.data(), nullptr);
      EXPECT_EQ(zvReadVideoFrame(d, rgba.data(), nullptr), -1) << "a broken decoder stays broken";
      zvCloseVideo(d);
    }
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
  }
};

TEST_F(MovieDecoderProcess, CrashHangGarbageAndLeavingEachCostAMessage) {
  struct Case {
    const char* name;
    std::string script;
    int read;  // -2: the open fails
    const char* text;
    double most;
  };
  const Case cases[] = {
      {"crash", "kill -SEGV $$", -2, "the video decoder stopped (it crashed with signal 11)", 2},
      {"garbage", "head -c 4096 /dev/zero | tr '\\0' 'Z'", -2, "makes no sense", 2},
      {"its own failure", "printf 'FAIL\\011\\0\\0\\0no frames'", -2, "test: any.mpg: no frames", 2},
      {"leaves after opening", info(), -1, "the video decoder stopped", 2},
      {"hangs after opening", info() + "; exec sleep 30", -1, "took too long", 5},
      {"a huge picture", info() + "; printf 'PICT\\377\\377\\377\\177'; exec sleep 30", -1, "makes no sense", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sink.clear();
    use(c.script);
    double took = 0;
    EXPECT_EQ(openAndRead(&took), c.read);
    EXPECT_LT(took, c.most);
    EXPECT_TRUE(sink.hasText(c.text)) << sink.dump();
    EXPECT_EQ(sink.count(ZV_DEBUG_WARNING), 1) << sink.dump();
  }
}

TEST_F(MovieDecoderProcess, AMissingDecoderIsAMessage) {
  setenv("QUILLMOOR_DECODER", (dir / "absent").c_str(), 1);
  EXPECT_EQ(zvOpenVideo("any.mpg", "test"), nullptr);
  EXPECT_TRUE(sink.hasText("test: any.mpg: the video decoder")) << sink.dump();
}

}  // namespace
