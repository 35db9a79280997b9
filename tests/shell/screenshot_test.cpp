// Pictures: small worlds drawn through --screenshot on the software
// rasteriser, judged by the colours of regions rather than exact pixels.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/image.h"
#include "tests/shell/runprogram.h"

namespace {

struct Rgb {
  double r, g, b;
};

class Picture {
 public:
  bool load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    zvFreeImage(&image_);
    return !bytes.empty() && zvDecodeImage(bytes.data(), bytes.size(), &image_) == 0;
  }
  ~Picture() { zvFreeImage(&image_); }
  int width() const { return image_.width; }
  int height() const { return image_.height; }
  // Mean colour of the box around (fx, fy), given as fractions of the size.
  Rgb at(double fx, double fy, int radius = 2) const {
    int cx = int(fx * width()), cy = int(fy * height());
    Rgb sum{0, 0, 0};
    int n = 0;
    for (int y = cy - radius; y <= cy + radius; ++y)
      for (int x = cx - radius; x <= cx + radius; ++x) {
        if (x < 0 || y < 0 || x >= width() || y >= height()) continue;
        const uint8_t* p = image_.pixels + (size_t(y) * width() + x) * 4;
        sum.r += p[0], sum.g += p[1], sum.b += p[2];
        ++n;
      }
    return n ? Rgb{sum.r / n, sum.g / n, sum.b / n} : sum;
  }
  // Pixels in a band of rows that differ from the colour given.
  int countOther(Rgb background, double fy0, double fy1) const {
    int n = 0;
    for (int y = int(fy0 * height()); y < int(fy1 * height()); ++y)
      for (int x = 0; x < width(); ++x) {
        const uint8_t* p = image_.pixels + (size_t(y) * width() + x) * 4;
        if (std::abs(p[0] - background.r) + std::abs(p[1] - background.g) + std::abs(p[2] - background.b) > 30) ++n;
      }
    return n;
  }

 private:
  ZvImage image_{};
};

bool isRed(Rgb c) { return c.r > 80 && c.r > 2 * c.g && c.r > 2 * c.b; }
bool isGreen(Rgb c) { return c.g > 80 && c.g > 2 * c.r && c.g > 2 * c.b; }
bool isBlue(Rgb c) { return c.b > 80 && c.b > 2 * c.r && c.b > 2 * c.g; }
bool isYellow(Rgb c) { return c.r > 80 && c.g > 80 && c.r > 2 * c.b && c.g > 2 * c.b; }
bool near(Rgb c, Rgb want, double tolerance = 12) {
  return std::abs(c.r - want.r) <= tolerance && std::abs(c.g - want.g) <= tolerance &&
         std::abs(c.b - want.b) <= tolerance;
}
std::string show(Rgb c) {
  return "(" + std::to_string(int(c.r)) + "," + std::to_string(int(c.g)) + "," + std::to_string(int(c.b)) + ")";
}
const Rgb kBlack{0, 0, 0};

class Screenshot : public qmtest::ProgramTest {
 protected:
  Screenshot() : ProgramTest("shot") {}

  // Draws tests/data/render/<world> at 320 x 240 into picture.
  void draw(const char* world, const char* size = "320x240") {
    std::string out = (dir / "shot.png").string();
    std::string src = std::string(QUILLMOOR_SOURCE_DIR) + "/tests/data/render/" + world;
    auto r = qmtest::runProgram("--screenshot " + out + " --size " + size + " " + src);
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_TRUE(picture.load(out)) << r.out;
  }
  // Writes the body as a world of the scratch directory and draws it into
  // picture; what the program said is kept.
  void drawText(const std::string& body, Picture* into = nullptr, const char* size = "320x240") {
    std::string src = (dir / "world.wrl").string(), out = (dir / "shot.png").string();
    std::ofstream(src) << "#VRML V1.0 ascii\n" << body;
    said = qmtest::runProgram("--screenshot " + out + " --size " + size + " " + src);
    ASSERT_EQ(said.status, 0) << said.out;
    ASSERT_TRUE((into ? into : &picture)->load(out)) << said.out;
  }
  Picture picture;
  qmtest::Outcome said;
};

TEST_F(Screenshot, BackgroundColourFillsTheView) {
  draw("background.wrl", "200x100");
  EXPECT_EQ(picture.width(), 200);
  EXPECT_EQ(picture.height(), 100);
  for (double f : {0.05, 0.5, 0.95}) EXPECT_TRUE(near(picture.at(f, f), {51, 102, 153})) << show(picture.at(f, f));
}

// Each world judged at a few points: a red cube on black; +x on the right
// (x = +3 at distance 10 with a 45 degree view is about 0.86 of the width);
// the texture's top left texel at the square's top left; a Switch and an LOD
// choosing; a backdrop image behind the world; a transparent material
// letting the background through.
TEST_F(Screenshot, EachWorldShowsWhatItShouldWhereItShould) {
  using Is = bool (*)(Rgb);
  const struct {
    const char* world;
    double fx, fy;
    Is is;
  } spots[] = {
      {"red_cube.wrl", 0.5, 0.5, isRed},
      {"red_cube.wrl", 0.05, 0.05, [](Rgb c) { return near(c, kBlack); }},
      {"orientation.wrl", 0.86, 0.5, isRed},
      {"orientation.wrl", 0.14, 0.5, isGreen},
      {"textured_square.wrl", 0.40, 0.35, isRed},
      {"textured_square.wrl", 0.60, 0.35, isGreen},
      {"textured_square.wrl", 0.40, 0.65, isBlue},
      {"textured_square.wrl", 0.60, 0.65, [](Rgb c) { return c.r + c.g + c.b > 600; }},
      {"switch_lod.wrl", 0.37, 0.5, isGreen},
      {"switch_lod.wrl", 0.63, 0.5, isBlue},
      {"backdrop.wrl", 0.5, 0.5, [](Rgb c) { return near(c, {250, 140, 20}, 20); }},
      {"transparent.wrl", 0.5, 0.5, [](Rgb c) { return c.r > 60 && c.b > 60; }},
  };
  std::string drawn;
  for (const auto& spot : spots) {
    if (drawn != spot.world) draw(spot.world), drawn = spot.world;
    Rgb c = picture.at(spot.fx, spot.fy);
    EXPECT_TRUE(spot.is(c)) << spot.world << " at " << spot.fx << "," << spot.fy << ": " << show(c);
  }
}

TEST_F(Screenshot, LitFaceIsBrighter) {
  draw("lit_side.wrl");
  // The light travels toward -x, so the face turned toward +x (on the right) is lit.
  Rgb left = picture.at(0.42, 0.5), right = picture.at(0.58, 0.5);
  EXPECT_GT(right.r, left.r + 40) << show(left) << " " << show(right);
}

TEST_F(Screenshot, LineAndPointSetsDraw) {
  draw("line_set.wrl");
  EXPECT_GT(picture.countOther(kBlack, 0.45, 0.55), 200);
  EXPECT_EQ(picture.countOther(kBlack, 0.0, 0.3), 0);
  draw("point_set.wrl");
  Rgb middle = picture.at(0.5, 0.5, 1);
  EXPECT_GT(middle.g + middle.b, 200) << show(middle);
  EXPECT_TRUE(near(picture.at(0.35, 0.5, 1), kBlack)) << "nothing between the points";
}

TEST_F(Screenshot, AsciiTextShowsEveryLine) {
  draw("ascii_text.wrl");
  // Left-justified from x = 0: the first line sits above the centre and to
  // its right, the second below it.
  int above = picture.countOther(kBlack, 0.35, 0.5), below = picture.countOther(kBlack, 0.5, 0.68);
  EXPECT_GT(above, 300);
  EXPECT_GT(below, 300);
}

TEST_F(Screenshot, UnreadableWorldFailsWithItsMessages) {
  std::string out = (dir / "none.png").string();
  auto r = qmtest::runProgram("--screenshot " + out + " " + std::string(QUILLMOOR_SOURCE_DIR) +
                              "/tests/data/broken_header.wrl");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_FALSE(std::filesystem::exists(out));
  auto bad = qmtest::runProgram("--screenshot " + out + " --size 2000x10 x.wrl");
  EXPECT_EQ(bad.status, 1);
}

// A Scale scales its object's whole subtree about the object's origin:
// drawn, the scaled model and the same model built at the larger size are
// one picture; a camera fixes the view so the first view cannot hide it.
TEST_F(Screenshot, ScaleScalesTheWholeSubtree) {
  const std::string camera = "PerspectiveCamera { position 0 0 30 }\nMaterial { diffuseColor 1 0 0 }\n";
  Picture scaled, sized;
  drawText(camera + "Scale { scaleFactor 2 2 2 }\nSeparator { Translation { translation 3 0 0 } Sphere { } }\n",
           &scaled);
  drawText(camera + "Separator { Translation { translation 6 0 0 } Sphere { radius 2 } }\n", &sized);
  for (double fx = 0.05; fx < 1; fx += 0.05) {
    Rgb a = scaled.at(fx, 0.5, 0), b = sized.at(fx, 0.5, 0);
    EXPECT_EQ(isRed(a), isRed(b)) << "at " << fx << ": " << show(a) << " vs " << show(b);
  }
  // And it is only the next object's: the second sphere keeps its size.
  drawText(camera +
           "Scale { scaleFactor 4 4 4 }\nSphere { }\nSeparator { Translation { translation 8 0 0 } Sphere { } }\n");
  // 12.4 units above the centre is the top edge at this distance.
  EXPECT_TRUE(isRed(picture.at(0.5, 0.5 - 0.12, 0)));     // the big one reaches 3 up
  EXPECT_TRUE(isRed(picture.at(0.742, 0.5, 0)));          // the small one is there
  EXPECT_FALSE(isRed(picture.at(0.742, 0.5 - 0.06, 0)));  // but not 1.5 up
}

// Worlds without a camera are framed on what they show: far from the
// origin, below the eye, or beside copies a Switch keeps hidden.
TEST_F(Screenshot, TheFirstViewFindsTheModel) {
  const Rgb back{0, 0, 0};
  for (const char* body : {
           "Separator { Translation { translation 4000 -900 -300 } Cube { width 10 height 10 depth 10 } }\n",
           "Separator { Translation { translation 0 -50 0 } Sphere { radius 4 } }\n",
           "Switch { whichChild 0 Cube { }\n"
           "  Separator { Translation { translation 500 0 0 } Cube { } }\n"
           "  Separator { Translation { translation -500 0 0 } Cube { } } }\n",
           "AsciiText { string [ \"Hello\", \"world\" ] }\n",
       }) {
    drawText(body);
    int filled = picture.countOther(back, 0, 1);
    EXPECT_GT(filled, 320 * 240 / 20) << body;
    EXPECT_LT(filled, 320 * 240) << body;
  }
}

// A shape the reader cannot dress still draws, with the default material,
// and the world around it is whole; the message says why.
TEST_F(Screenshot, AnUnusualShapeCostsNothingButItsMessage) {
  drawText("Material { diffuseColor 0 0 1 }\n"
           "Separator { Translation { translation -3 0 0 } Cylinder { parts ( SIDES | ALL ) } }\n"
           "Separator { Translation { translation 3 0 0 } Cube { } }\n");
  EXPECT_NE(said.out.find("unknown parts"), std::string::npos) << said.out;
  EXPECT_EQ(said.out.find("Fatal"), std::string::npos) << said.out;
  Rgb cylinder = picture.at(0.3, 0.5), cube = picture.at(0.7, 0.5);
  EXPECT_FALSE(near(cylinder, kBlack)) << show(cylinder);
  EXPECT_FALSE(isBlue(cylinder)) << show(cylinder);  // its parts got no material of the scene
  EXPECT_TRUE(isBlue(cube)) << show(cube);
}

// More objects than a world's identifiers: every one is kept and drawn,
// and the person is still added.
TEST_F(Screenshot, ABigWorldIsReadAndDrawnWhole) {
  std::string body;
  body.reserve(2'000'000);
  for (int i = 0; i < 25000; ++i) {
    int x = i % 250, y = i / 250;
    body += "Separator { Translation { translation " + std::to_string(x) + " " + std::to_string(y) +
            " 0 } Cube { width 0.8 height 0.8 depth 0.8 } }\n";
  }
  drawText(body);
  EXPECT_NE(said.out.find("used up"), std::string::npos) << said.out.substr(0, 2000);
  // The grid, 250 by 100, is framed whole: a tenth of the picture, and its
  // last row (made after the identifiers ran out) is drawn.
  EXPECT_GT(picture.countOther(kBlack, 0, 1), 320 * 240 / 16);
  EXPECT_GT(picture.countOther(kBlack, 0.2, 0.3), 320 * 24 / 10);
  auto check = qmtest::runProgram("--check " + (dir / "world.wrl").string());
  EXPECT_NE(check.out.find("25000 objects"), std::string::npos) << check.out.substr(0, 2000);
}

// Behaviour on the simulated clock of --after: where each cube of the
// timed world is (as fractions of the picture) and what it looks like.
class Behaviour : public Screenshot {
 protected:
  void SetUp() override {
    Screenshot::SetUp();
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  }
  void run(const std::string& options, const char* world = "timed.wrl") {
    std::string out = (dir / "shot.png").string();
    said = qmtest::runProgram("--screenshot " + out + " --size 320x240 " + options + " " +
                              std::string(QUILLMOOR_SOURCE_DIR) + "/tests/data/behaviour/" + world);
    ASSERT_EQ(said.status, 0) << said.out;
    ASSERT_TRUE(picture.load(out)) << said.out;
  }
  std::filesystem::path userFile(const char* name) { return dir / "data/quillmoor/usrfiles" / name; }
  // The cubes stand 3 across and 2 up at 10 away: x 0.5 -+ 0.27, y 0.5 -+ 0.24.
  Rgb lowerLeft() { return picture.at(0.227, 0.742); }
  Rgb lowerRight() { return picture.at(0.773, 0.742); }
  Rgb upperRight() { return picture.at(0.773, 0.258); }
  Rgb upper(double fx) { return picture.at(fx, 0.258); }
};

TEST_F(Behaviour, TasksAndHandlersChangeColourPositionAndVisibilityOnTime) {
  run("");  // no --after: read, drawn, no world event
  EXPECT_TRUE(isRed(lowerLeft())) << show(lowerLeft());
  EXPECT_FALSE(isYellow(upperRight())) << show(upperRight());

  run("--after 0");  // only WORLD_IN
  EXPECT_TRUE(isRed(lowerLeft())) << show(lowerLeft());
  EXPECT_TRUE(isYellow(upperRight())) << show(upperRight());
  EXPECT_TRUE(isBlue(lowerRight())) << show(lowerRight());
  EXPECT_FALSE(near(upper(0.227), kBlack)) << "the slider starts on the left";

  run("--after 250");  // the 100 ms task ran, the periodic one twice
  EXPECT_TRUE(isGreen(lowerLeft())) << show(lowerLeft());
  EXPECT_TRUE(isBlue(lowerRight())) << show(lowerRight());

  // 30 frames of a tenth: the slider went from x = -3 to 0.
  run("--after 600");
  EXPECT_TRUE(near(lowerRight(), kBlack)) << "hidden at the third run: " << show(lowerRight());
  EXPECT_FALSE(near(upper(0.5), kBlack)) << show(upper(0.5));
  EXPECT_TRUE(near(upper(0.227), kBlack)) << "the slider left its place: " << show(upper(0.227));
  Picture first;
  ASSERT_TRUE(first.load((dir / "shot.png").string()));
  run("--after 600");  // the same time gives the same picture
  for (double f = 0.1; f < 1; f += 0.1) EXPECT_TRUE(near(first.at(f, 0.258, 0), picture.at(f, 0.258, 0), 0)) << f;
}

TEST_F(Behaviour, OnlyTheModesThatShowAWorldRunItsScripts) {
  std::string world = std::string(QUILLMOOR_SOURCE_DIR) + "/tests/data/behaviour/modes.wrl";
  auto check = qmtest::runProgram("--check " + world);
  EXPECT_EQ(check.status, 0) << check.out;
  std::string written = (dir / "out.wrl").string();
  auto write = qmtest::runProgram("--write " + written + " " + world);
  EXPECT_EQ(write.status, 0) << write.out;
  EXPECT_FALSE(std::filesystem::exists(userFile("ran.txt"))) << check.out << write.out;
  std::ifstream in(written);
  std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_NE(text.find("EventHandler"), std::string::npos) << text;
  EXPECT_NE(text.find("turnBlue"), std::string::npos) << text;
  EXPECT_NE(text.find("behaviour.tcl"), std::string::npos) << text;
  run("", "modes.wrl");
  EXPECT_TRUE(std::filesystem::exists(userFile("ran.txt"))) << said.out;
  auto late = qmtest::runProgram("--check --after 10 " + world);
  EXPECT_EQ(late.status, 1) << "--after belongs to --screenshot";
}

TEST_F(Behaviour, ScriptsFetchBesideTheirWorldAndTheWindowsCommandsWaitForIt) {
  run("", "fetch.wrl");
  std::ifstream in(userFile("fetched.txt"));
  std::string fetched, why;
  std::getline(in, fetched);
  std::getline(in, why);
  EXPECT_NE(fetched.find("tests/data/behaviour/behaviour.tcl"), std::string::npos) << fetched << said.out;
  EXPECT_EQ(why, "zvWwwOpenUrl: not available") << said.out;
}

}  // namespace
