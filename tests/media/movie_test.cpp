// Movie strips: telling one by its shape, stepping it on the script clock
// (frames, loop, speed, set and get), the script commands over it, and the
// Movie2 node read, kept and written back.
#include <cstdio>

#include "tests/media/movietest.h"

using movietest::MovieFixture;
using movietest::Rgb;

namespace {

const std::vector<Rgb> kColours{{255, 0, 0}, {0, 0, 255}, {0, 255, 0}, {255, 255, 0}};

class MovieStripFormat : public MovieFixture {
 protected:
  ZvUrlHashTable* table = nullptr;
  void SetUp() override {
    MovieFixture::SetUp();
    ASSERT_EQ(zvNewUrlHash(ZV_URL_BUCKETS, &table), ZV_OK);
  }
  void TearDown() override {
    zvDeleteUrlHash(table);
    MovieFixture::TearDown();
  }
  int probe(const std::string& name, int type, int* count = nullptr) {
    std::string path = (dir / name).string();
    ZvUrlHash* entry = zvNewUrlHashEntry(table, ("file://" + path).c_str(), path.c_str(), type);
    int fw = 0, fh = 0;
    float rate = 0;
    int r = zvViewerMovieFormat(entry, &fw, &fh, count, &rate, nullptr);
    if (r == ZV_OK) {
      EXPECT_EQ(std::pair(fw, fh), std::pair(128, 128));
      EXPECT_EQ(rate, 4.0f);
    }
    return r;
  }
};

TEST_F(MovieStripFormat, OnlyStripsOf128SquareFramesAreMovies) {
  movietest::writeStripBmp(dir / "four.bmp", 128, 512, kColours);
  movietest::writeStripBmp(dir / "still.bmp", 128, 128, kColours);
  movietest::writeStripBmp(dir / "wide.bmp", 256, 512, kColours);
  movietest::writeStripBmp(dir / "ragged.bmp", 128, 200, kColours);
  movietest::writeSunRaster(dir / "three.ras", 128, 384);
  movietest::writeSunRaster(dir / "short.ras", 64, 384);
  int count = 0;
  EXPECT_EQ(probe("four.bmp", ZV_TYPE_BMP, &count), ZV_OK);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(probe("three.ras", ZV_TYPE_RAS, &count), ZV_OK);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(probe("still.bmp", ZV_TYPE_BMP), ZV_FAIL);
  EXPECT_EQ(probe("wide.bmp", ZV_TYPE_BMP), ZV_FAIL);
  EXPECT_EQ(probe("ragged.bmp", ZV_TYPE_BMP), ZV_FAIL);
  EXPECT_EQ(probe("short.ras", ZV_TYPE_RAS), ZV_FAIL);
  // The kind comes from retrieval: a strip said to be a PNG is not probed,
  // and a raster's header is not read as a BMP's.
  std::filesystem::copy_file(dir / "four.bmp", dir / "four.png");
  std::filesystem::copy_file(dir / "three.ras", dir / "three.bmp");
  EXPECT_EQ(probe("four.png", ZV_TYPE_PNG), ZV_FAIL);
  EXPECT_EQ(probe("three.bmp", ZV_TYPE_BMP), ZV_FAIL);
  EXPECT_FALSE(sink.hasText("Can't open file"));
}

TEST_F(MovieStripFormat, BrokenAndMissingFilesAreNotMovies) {
  std::ofstream(dir / "cut.bmp", std::ios::binary) << "BM\x10\0\0\0";
  EXPECT_EQ(probe("cut.bmp", ZV_TYPE_BMP), ZV_FAIL);
  EXPECT_FALSE(sink.hasText("Can't open file"));
  // A negative height is a top-down strip, the same frames.
  movietest::writeStripBmp(dir / "down.bmp", 128, 256, kColours);
  {
    std::fstream f(dir / "down.bmp", std::ios::in | std::ios::out | std::ios::binary);
    int32_t h = -256;
    f.seekp(22);
    f.write(reinterpret_cast<const char*>(&h), 4);
  }
  int count = 0;
  EXPECT_EQ(probe("down.bmp", ZV_TYPE_BMP, &count), ZV_OK);
  EXPECT_EQ(count, 2);
  movietest::writeStripBmp(dir / "locked.bmp", 128, 512, kColours);
  std::filesystem::permissions(dir / "locked.bmp", std::filesystem::perms::none);
  if (::geteuid() != 0) {  // root reads whatever the permissions say
    EXPECT_EQ(probe("locked.bmp", ZV_TYPE_BMP), ZV_FAIL);
    EXPECT_TRUE(sink.hasText("zvViewerMovieFormat:Can't open file")) << sink.dump();
  }
  EXPECT_EQ(zvViewerMovieFormat(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), ZV_FAIL);
}

// A strip on a cube, stepped by its task as the script clock moves.
class MovieStrip : public MovieFixture {
 protected:
  ZvObj* strip(int frames, const std::string& extra = "") {
    movietest::writeStripBmp(dir / "strip.bmp", 128, 128 * frames, kColours);
    EXPECT_EQ(read(extra + "DEF Drum Separator { Texture2 { filename \"strip.bmp\" } Cube { } }"), ZV_OK);
    return shape("Drum");
  }
};

TEST_F(MovieStrip, StepsAtItsRateAndWraps) {
  ZvObj* o = strip(4);
  ZvMovie* m = zvMovieOf(o);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->frameCount, 4);
  EXPECT_EQ(zvRenderMovieFramesKnown(o), 4);
  ASSERT_NE(m->timer, nullptr);
  EXPECT_EQ(m->timer->cycle, 250u);
  advance(240);
  EXPECT_EQ(zvMovieGetFrame(o), 0);
  advance(20);
  EXPECT_EQ(zvMovieGetFrame(o), 1);
  advance(750);
  EXPECT_EQ(zvMovieGetFrame(o), 0) << "wraps after the last frame";
  // Twice the speed halves the period of a playing movie at once.
  EXPECT_EQ(zvMovieSetSpeed(o, 2.0f), ZV_OK);
  ASSERT_NE(m->timer, nullptr);
  EXPECT_EQ(m->timer->cycle, 125u);
  advance(130);
  EXPECT_EQ(zvMovieGetFrame(o), 1);
}

TEST_F(MovieStrip, WithoutLoopItStopsAtTheEndAndBackwardsItWraps) {
  ZvObj* o = strip(4);
  ZvMovie* m = zvMovieOf(o);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(zvMovieSetLoop(o, 0), ZV_OK);
  advance(1000);
  EXPECT_EQ(zvMovieGetFrame(o), 3);
  EXPECT_EQ(m->stopped, 1);
  EXPECT_EQ(m->timer, nullptr);
  advance(1000);
  EXPECT_EQ(zvMovieGetFrame(o), 3) << "stopped stays";
  // Backwards wraps to the last frame even without loop: 0 -> 3 -> 2.
  EXPECT_EQ(zvMovieSetFrame(o, 0), ZV_OK);
  EXPECT_EQ(zvMovieSetSpeed(o, -1.0f), ZV_OK);
  EXPECT_EQ(zvMovieStart(o), ZV_OK);
  std::vector<int> seen;
  for (int i = 0; i < 4; ++i) {
    advance(250);
    seen.push_back(zvMovieGetFrame(o));
  }
  EXPECT_EQ(seen, (std::vector<int>{3, 2, 1, 0}));
  EXPECT_EQ(zvMovieStepBackward(o), ZV_OK);
  EXPECT_EQ(zvMovieGetFrame(o), 3);
}

TEST_F(MovieStrip, SetFrameClampsAndSlowSpeedsScheduleNothing) {
  ZvObj* o = strip(4);
  EXPECT_EQ(zvMovieSetFrame(o, 99), ZV_OK);
  EXPECT_EQ(zvMovieGetFrame(o), 3);
  EXPECT_EQ(zvMovieSetFrame(o, -5), ZV_OK);
  EXPECT_EQ(zvMovieGetFrame(o), 0);
  EXPECT_EQ(zvMovieSetSpeed(o, 0.00005f), ZV_OK);
  EXPECT_EQ(zvMovieOf(o)->timer, nullptr);
  advance(5000);
  EXPECT_EQ(zvMovieGetFrame(o), 0);
  // Still playing, so a usable speed steps again.
  EXPECT_EQ(zvMovieSetSpeed(o, 1.0f), ZV_OK);
  advance(260);
  EXPECT_EQ(zvMovieGetFrame(o), 1);
  EXPECT_EQ(zvMovieStop(o), ZV_OK);
  EXPECT_EQ(zvMovieSetSpeed(o, 4.0f), ZV_OK);
  EXPECT_EQ(zvMovieOf(o)->timer, nullptr) << "a stopped movie only keeps the speed";
  EXPECT_FLOAT_EQ(zvMovieGetSpeed(o), 4.0f);
}

TEST_F(MovieStrip, StillTexturesAndShapesWithoutTextureHaveNoMovie) {
  movietest::writeStripBmp(dir / "still.bmp", 128, 128, kColours);
  ASSERT_EQ(read("DEF Still Separator { Texture2 { filename \"still.bmp\" } Cube { } }"
                 "DEF Plain Separator { Cube { } }"),
            ZV_OK);
  for (const char* name : {"Still", "Plain"}) {
    ZvObj* o = shape(name);
    EXPECT_EQ(zvMovieOf(o), nullptr);
    EXPECT_EQ(zvMovieStart(o), ZV_FAIL);
    EXPECT_EQ(zvMovieGetFrame(o), ZV_FAIL);
    EXPECT_FLOAT_EQ(zvMovieGetSpeed(o), -1.0f);
  }
}

TEST_F(MovieStrip, DeletingTheObjectEndsItsTask) {
  ZvObj* o = strip(4);
  ASSERT_NE(zvMovieOf(o), nullptr);
  ASSERT_EQ(zvDeleteZvObj(o), ZV_OK);
  advance(1000);  // no task may step a freed record
}

TEST_F(MovieStrip, ScriptCommandsDriveIt) {
  ZvObj* o = strip(4);
  std::string h = std::to_string(zvScriptHandleOf(o, ZV_HANDLE_OBJ));
  EXPECT_EQ(tcl("zvSet3DMovieFrame " + h + " 2"), "0");
  EXPECT_EQ(tcl("zvGet3DMovieInfo " + h + " cur max loop; list $cur $max $loop"), "2 4 1");
  EXPECT_EQ(tcl("zvSet3DMovieLoop " + h + " 0; zvGet3DMovieInfo " + h + " c m l; set l"), "0");
  EXPECT_EQ(tcl("zvSet3DMovieNextFrame " + h + "; zvSet3DMovieNextFrame " + h + "; zvGet3DMovieInfo " + h +
                " c; set c"),
            "3");
  EXPECT_EQ(tcl("zvSet3DMoviePrevFrame " + h + "; zvGet3DMovieInfo " + h + " c; set c"), "2");
  EXPECT_EQ(tcl("zvPause3DMovie " + h), "0");
  EXPECT_EQ(zvMovieOf(o)->timer, nullptr);
  EXPECT_EQ(tcl("zvSet3DMovieSpeed " + h + " -2; zvPlay3DMovie " + h + "; zvGet3DMovieSpeed " + h), "-2.000000");
  ASSERT_NE(zvMovieOf(o)->timer, nullptr);
  EXPECT_EQ(zvMovieOf(o)->timer->cycle, 125u);
  EXPECT_EQ(tcl("zvSet3DMovieSpeed " + h + " fast"), "error: zvSet3DMovieSpeed: the speed is not a number");
  // An object without a movie, and a handle that is not an object.
  ASSERT_EQ(zvNewZvObj(world, &o, 1), ZV_OK);
  ASSERT_EQ(zvAddTopObject(o, "w.wrl"), ZV_OK);
  std::string bare = std::to_string(zvScriptHandleOf(o, ZV_HANDLE_OBJ));
  EXPECT_EQ(tcl("zvPlay3DMovie " + bare), "error: zvPlay3DMovie: the object shows no movie");
  EXPECT_EQ(tcl("zvVideoNextFrame " + bare), "error: zvVideoNextFrame: no movie texture to advance");
  EXPECT_EQ(tcl("zvPlay3DMovie 12x"), "error: zvPlay3DMovie:bad ZvObj[12x]");
}

// ---------------------------------------------------------------------------
// Movie2

TEST(MovieOption, KeysByPrefixUntilOneIsUnknown) {
  qmtest::RecordingSink sink;
  ZvMovieDesc d{};
  ASSERT_EQ(qvParseMovieOption("framesPerSec 12.5, width=64 ,height 32, sound\"a b.wav\"", &d), ZV_OK);
  EXPECT_FLOAT_EQ(d.framesPerSec, 12.5f);
  EXPECT_EQ(std::pair(d.width, d.height), std::pair(64, 32));
  ASSERT_NE(d.sound, nullptr);
  EXPECT_STREQ(d.sound, "a b.wav");
  zvFree(const_cast<char*>(d.sound));
  ASSERT_EQ(qvParseMovieOption("height 32, colour 5, width 16", &d), ZV_OK);
  EXPECT_EQ(d.height, 32);
  EXPECT_EQ(d.width, 128) << "parsing stops at the unknown key";
  ASSERT_EQ(qvParseMovieOption("framesPerSec fast, width x", &d), ZV_OK);
  EXPECT_FLOAT_EQ(d.framesPerSec, 4.0f);
  EXPECT_EQ(d.width, 128);
  EXPECT_TRUE(sink.hasText("cb_framesPerSec: fails to get value."));
  EXPECT_TRUE(sink.hasText("cb_width: fails to get value."));
}

class MovieNode : public MovieFixture {};

TEST_F(MovieNode, ReadKeptAndWrittenBack) {
  movietest::writeStripBmp(dir / "reel.bmp", 128, 384, kColours);
  const std::string node =
      "Movie2 { filename \"reel.bmp\" autoPlay FALSE option \"framesPerSec 8, width 64, sound\\\"hum.wav\\\"\" }";
  ASSERT_EQ(read("DEF Reel Separator { " + node + " Cube { } }"), ZV_OK);
  ZvObj* o = shape("Reel");
  ZvMovie* m = zvMovieOf(o);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->fromNode, 1);
  EXPECT_EQ(m->autoStart, 0);
  EXPECT_EQ(m->timer, nullptr) << "autoPlay FALSE waits for a script";
  EXPECT_FLOAT_EQ(m->frameRate, 8.0f);
  EXPECT_EQ(m->frameCount, 3) << "a strip keeps its own frames";
  ASSERT_NE(m->sound, nullptr);
  EXPECT_STREQ(m->sound, "hum.wav");

  auto out = dir / "out.wrl";
  FILE* f = std::fopen(out.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(zvDumpWorldToFile(world, f), ZV_OK);
  std::fclose(f);
  std::ifstream in(out);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("Movie2{"), std::string::npos) << text;
  EXPECT_NE(text.find("autoPlay FALSE"), std::string::npos);
  EXPECT_NE(text.find("framesPerSec 8"), std::string::npos);
  EXPECT_NE(text.find("width 64"), std::string::npos);

  // Read again: the same record.
  ASSERT_EQ(load(out), ZV_OK);
  ZvMovie* again = zvMovieOf(shape("Reel"));
  ASSERT_NE(again, nullptr) << text;
  EXPECT_EQ(again->autoStart, 0);
  EXPECT_FLOAT_EQ(again->frameRate, 8.0f);
  EXPECT_EQ(std::pair(again->nodeWidth, again->nodeHeight), std::pair(64, 128));
  ASSERT_NE(again->sound, nullptr);
  EXPECT_STREQ(again->sound, "hum.wav");
  EXPECT_EQ(again->frameCount, 3);
}

TEST_F(MovieNode, AFileThatIsNeitherStripNorVideoIsAStillShape) {
  std::ofstream(dir / "junk.mpg") << "not a video at all";
  // The shape is built; only its texture fails, with the renderer's message.
  read("DEF Junk Separator { Movie2 { filename \"junk.mpg\" } Cube { } }");
  ZvMovie* m = zvMovieOf(shape("Junk"));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->frameCount, 0);
  EXPECT_TRUE(sink.hasText("Movie2: ")) << sink.dump();
  advance(1000);
}

}  // namespace
