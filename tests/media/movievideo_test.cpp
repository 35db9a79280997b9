// Videos through FFmpeg: a clip we make with ffmpeg's test sources gives
// exactly its frames and its sound, then the end; broken files give a
// message and no hang; a Movie2 video becomes a strip texture; and the
// program's screenshot of a strip shows different frames at two times.
#include <chrono>
#include <cstdlib>

#include "image/image.h"
#include "tests/media/movietest.h"

using movietest::MovieFixture;

namespace {

// Runs ffmpeg quietly; false when it is missing or fails.
bool ffmpeg(const std::string& args) {
  return std::system(("ffmpeg -v error -nostdin -y " + args + " >/dev/null 2>&1").c_str()) == 0;
}

class MovieVideo : public MovieFixture {
 protected:
  // Ten 64 x 48 pictures at ten a second, with one second of 22,050 Hz
  // 16-bit mono sound kept as PCM, so the sample count is exact.
  std::string clip() {
    std::string out = (dir / "clip.mkv").string();
    if (!ffmpeg("-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -f lavfi -i sine=sample_rate=22050:duration=1 "
                "-c:v mpeg4 -c:a pcm_s16le " + out))
      return "";
    return out;
  }
  static void countSound(void* user, const int16_t*, int frames, int channels, int rate) {
    auto* c = static_cast<Sound*>(user);
    c->frames += frames;
    c->channels = channels;
    c->rate = rate;
  }
  struct Sound {
    long frames = 0;
    int channels = 0, rate = 0;
  };
};

TEST_F(MovieVideo, AClipGivesItsFramesItsSoundAndThenTheEnd) {
  std::string file = clip();
  if (file.empty()) GTEST_SKIP() << "no ffmpeg";
  ZvVideoDecoder* d = zvOpenVideo(file.c_str(), "test");
  ASSERT_NE(d, nullptr) << sink.dump();
  ZvVideoInfo info;
  zvGetVideoInfo(d, &info);
  EXPECT_EQ(std::pair(info.width, info.height), std::pair(64, 48));
  EXPECT_DOUBLE_EQ(info.frameRate, 10.0);
  EXPECT_EQ(info.hasSound, 1);
  Sound sound;
  zvSetVideoSoundSink(d, countSound, &sound);
  ASSERT_EQ(zvSetVideoOutputSize(d, 32, 32), ZV_OK);
  std::vector<uint8_t> rgba(32 * 32 * 4);
  std::vector<double> times;
  double t = -1;
  int r;
  while ((r = zvReadVideoFrame(d, rgba.data(), &t)) == 1) times.push_back(t);
  EXPECT_EQ(r, 0);
  ASSERT_EQ(times.size(), 10u);
  for (size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(times[i], 0.1 * double(i), 1e-6);
  EXPECT_EQ(zvReadVideoFrame(d, rgba.data(), &t), 0) << "the end stays the end";
  EXPECT_EQ(sound.frames, 22050);
  EXPECT_EQ(sound.channels, 1);
  EXPECT_EQ(sound.rate, 22050);
  zvCloseVideo(d);
  EXPECT_EQ(sink.count(ZV_DEBUG_WARNING), 0) << sink.dump();
}

TEST_F(MovieVideo, BrokenFilesGiveMessagesQuickly) {
  std::string file = clip();
  if (file.empty()) GTEST_SKIP() << "no ffmpeg";
  std::ifstream in(file, std::ios::binary);
  std::string whole((std::istreambuf_iterator<char>(in)), {});
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string noise(20000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919 + 13) % 251);
  std::string scribbled = whole;
  for (size_t i = 200; i < scribbled.size(); i += 37) scribbled[i] = char(scribbled[i] ^ 0x5a);
  const Case cases[] = {
      {"empty.avi", ""},
      {"noise.mpg", noise},
      {"riff.avi", "RIFF\xff\xff\xff\x7f" "AVI LIST\xff\xff\xff\x7f" + noise},
      {"head.mkv", whole.substr(0, 600)},
      {"half.mkv", whole.substr(0, whole.size() / 2)},
      {"scribbled.mkv", scribbled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sink.clear();
    std::ofstream(dir / c.name, std::ios::binary) << c.bytes;
    auto start = std::chrono::steady_clock::now();
    ZvVideoDecoder* d = zvOpenVideo((dir / c.name).c_str(), "test");
    int frames = 0, r = 0;
    if (d) {
      std::vector<uint8_t> rgba(64 * 48 * 4);
      while ((r = zvReadVideoFrame(d, rgba.data(), nullptr)) == 1 && frames < 100) ++frames;
      zvCloseVideo(d);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0);
    EXPECT_LE(frames, 10);
    // What cannot be opened says so; what opens ends, or says what broke.
    EXPECT_TRUE(d || sink.hasText("test: ")) << sink.dump();
    EXPECT_TRUE(!d || r != -1 || sink.count(ZV_DEBUG_WARNING) > 0) << sink.dump();
  }
  EXPECT_EQ(zvOpenVideo((dir / "absent.mpg").c_str(), "test"), nullptr);
  EXPECT_TRUE(sink.hasText("cannot be opened as a video")) << sink.dump();
}

TEST_F(MovieVideo, AMovie2VideoIsDecodedIntoAStripTexture) {
  std::string file = clip();
  if (file.empty()) GTEST_SKIP() << "no ffmpeg";
  ASSERT_EQ(read("DEF Screen Separator { Movie2 { filename \"clip.mkv\" option \"width 32, height 16\" } Cube { } }"),
            ZV_OK)
      << sink.dump();
  ZvObj* o = shape("Screen");
  ZvMovie* m = zvMovieOf(o);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->frameCount, 10);
  EXPECT_EQ(zvRenderMovieFramesKnown(o), 10);
  EXPECT_EQ(std::pair(m->frameWidth, m->frameHeight), std::pair(32, 16));
  EXPECT_FLOAT_EQ(m->frameRate, 10.0f) << "the file's own rate when the node gives none";
  ASSERT_NE(m->timer, nullptr);
  EXPECT_EQ(m->timer->cycle, 100u);
  advance(950);
  EXPECT_EQ(zvMovieGetFrame(o), 9);
  advance(100);
  EXPECT_EQ(zvMovieGetFrame(o), 0);
}

// The program itself: a two-frame strip, red then blue, fills the view; a
// screenshot at once shows red, one after 300 ms of the world's clock blue.
TEST_F(MovieVideo, ScreenshotsAtTwoTimesShowTwoFrames) {
  movietest::writeStripBmp(dir / "two.bmp", 128, 256, {{255, 0, 0}, {0, 0, 255}});
  auto world = dir / "strip.wrl";
  std::ofstream(world) << "#VRML V1.0 ascii\nSeparator {\n"
                          "PerspectiveCamera { position 0 0 2 }\n"
                          "Material { diffuseColor 1 1 1 emissiveColor 1 1 1 }\n"
                          "Texture2 { filename \"two.bmp\" }\n"
                          "Cube { width 4 height 4 depth 0.1 }\n}\n";
  auto centre = [&](int after) {
    auto png = dir / ("shot" + std::to_string(after) + ".png");
    std::string cmd = std::string(QUILLMOOR_EXE) + " --screenshot " + png.string() + " --size 80x60" +
                      (after > 0 ? " --after " + std::to_string(after) : "") + " " + world.string() +
                      " >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(png, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ZvImage image{};
    EXPECT_EQ(zvDecodeImage(bytes.data(), bytes.size(), &image), 0);
    movietest::Rgb c{0, 0, 0};
    if (image.width == 80 && image.height == 60) {
      const uint8_t* p = image.pixels + (size_t(30) * 80 + 40) * 4;
      c = {p[0], p[1], p[2]};
    }
    zvFreeImage(&image);
    return c;
  };
  movietest::Rgb first = centre(0), later = centre(300);
  EXPECT_GT(first.r, 150);
  EXPECT_LT(first.b, 80);
  EXPECT_GT(later.b, 150);
  EXPECT_LT(later.r, 80);
}

}  // namespace
