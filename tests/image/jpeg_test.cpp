#include <cstdlib>

#include "tests/image/imagetest.h"

namespace {

using namespace imagetest;

class JpegTest : public ImageTest {};

// Red top-left, green top-right, blue bottom-left, white bottom-right.
void quadrants(int x, int y, uint8_t rgb[4]) {
  static const uint8_t colors[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  std::copy_n(colors[(y >= 16 ? 2 : 0) + (x >= 16 ? 1 : 0)], 3, rgb);
}

void expectNear(const ZvImage& im, int x, int y, int r, int g, int b) {
  const uint8_t* p = im.pixels + (size_t(y) * size_t(im.width) + size_t(x)) * 4;
  EXPECT_LT(std::abs(p[0] - r) + std::abs(p[1] - g) + std::abs(p[2] - b), 60)
      << x << "," << y << ": " << int(p[0]) << " " << int(p[1]) << " " << int(p[2]);
  EXPECT_EQ(p[3], 255);
}

void expectQuadrants(const ZvImage& im) {
  ASSERT_NE(im.pixels, nullptr);
  expectNear(im, 2, 2, 255, 0, 0);
  expectNear(im, im.width - 3, 2, 0, 255, 0);
  expectNear(im, 2, im.height - 3, 0, 0, 255);
  expectNear(im, im.width - 3, im.height - 3, 255, 255, 255);
}

TEST_F(JpegTest, ColourBecomesAnEightBitMappedBmpTheRightWayUp) {
  for (bool progressive : {false, true}) {
    Bytes jpeg = makeJpeg(32, 32, 3, quadrants, progressive);
    ZvImage bmp, mem;
    Bytes file = convert(jpeg, ZV_IMAGE_JPEG, &bmp);
    EXPECT_EQ(le16(file, 28), 8);
    EXPECT_GE(le32(file, 46), 4u);
    EXPECT_LE(le32(file, 46), 256u);
    EXPECT_EQ(le32(file, 10), 54 + 4 * le32(file, 46));
    ASSERT_EQ(zvDecodeImage(jpeg.data(), jpeg.size(), &mem), ZV_OK);
    for (ZvImage* im : {&bmp, &mem}) {
      expectQuadrants(*im);
      zvFreeImage(im);
    }
  }
}

TEST_F(JpegTest, OptionsAndSourcesChangeDepthPaletteAndSize) {
  writeFile(path("c.jpg"), makeJpeg(32, 32, 3, quadrants));
  writeFile(path("g.jpg"), makeJpeg(31, 9, 1, [](int x, int, uint8_t v[4]) { v[0] = uint8_t(x * 8); }));
  // libjpeg marks CMYK as Adobe's, stored inverted: (255, 0, 0, 255) is red.
  writeFile(path("k.jpg"), makeJpeg(32, 32, 4, [](int, int, uint8_t v[4]) { v[1] = v[2] = 0, v[0] = 255; }));
  struct Case {
    const char* file;
    void (*set)(ZvJpegOptions*);
    int bits, width;
    bool grey;
    unsigned colors;
  };
  const Case cases[] = {
      {"g.jpg", [](ZvJpegOptions*) {}, 8, 31, true, 256},
      {"k.jpg", [](ZvJpegOptions*) {}, 24, 32, false, 0},
      {"c.jpg", [](ZvJpegOptions* o) { o->colors = 0; }, 24, 32, false, 0},
      {"c.jpg", [](ZvJpegOptions* o) { o->greyscale = 1, o->scaleDenom = 2; }, 8, 16, true, 256},
      {"c.jpg", [](ZvJpegOptions* o) { o->colors = 0, o->fast = 1; }, 8, 32, false, 216},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    ZvJpegOptions o;
    zvDefaultJpegOptions(&o);
    c.set(&o);
    ASSERT_EQ(zvJpg2Bmp(path(c.file).c_str(), path("o.bmp").c_str(), 0, &o), ZV_OK) << sink.dump();
    Bytes b = readFile(path("o.bmp"));
    ASSERT_GE(b.size(), 54u + 4 * le32(b, 46));
    EXPECT_EQ(le16(b, 28), c.bits);
    EXPECT_EQ(le32(b, 18), uint32_t(c.width));
    EXPECT_LE(le32(b, 46), c.colors);
    for (uint32_t i = 0; c.grey && i < le32(b, 46); ++i)
      EXPECT_TRUE(b[54 + 4 * i] == b[55 + 4 * i] && b[55 + 4 * i] == b[56 + 4 * i]) << i;
    ZvImage im;
    ASSERT_EQ(zvReadBmp(path("o.bmp").c_str(), &im), ZV_OK);
    if (c.file[0] == 'g') {
      expectNear(im, 0, 0, 0, 0, 0);
      expectNear(im, 30, 8, 240, 240, 240);
    } else if (c.file[0] == 'k') {
      expectNear(im, 8, 8, 255, 0, 0);
    } else if (!c.grey) {
      expectQuadrants(im);
    }
    zvFreeImage(&im);
  }
  ZvImage cmyk;
  Bytes k = readFile(path("k.jpg"));
  ASSERT_EQ(zvDecodeImage(k.data(), k.size(), &cmyk), ZV_OK);
  expectNear(cmyk, 8, 8, 255, 0, 0);
  zvFreeImage(&cmyk);
  EXPECT_NE(zvJpg2Bmp(path("c.jpg").c_str(), path("o2.bmp").c_str(), 1, nullptr), ZV_OK);  // OS/2
  EXPECT_FALSE(exists(path("o2.bmp")));
}

TEST_F(JpegTest, BrokenFilesFailCleanly) {
  Bytes good = makeJpeg(48, 40, 3, quadrants);
  for (size_t cut = 0; cut < good.size(); cut += 5) {
    SCOPED_TRACE(cut);
    expectCleanFailure(Bytes(good.begin(), good.begin() + long(cut)), ZV_IMAGE_JPEG, "zvJpg2Bmp: ");
  }
  expectCleanFailure(Bytes(good.begin(), good.end() - 2), ZV_IMAGE_JPEG, "JPEG internal warning");
  size_t sof = 2;  // frame header: height and width at +5 and +7
  while (sof + 9 < good.size() && !(good[sof] == 0xFF && good[sof + 1] == 0xC0)) ++sof;
  ASSERT_LT(sof + 9, good.size());
  Bytes huge = good, empty = good;
  huge[sof + 5] = huge[sof + 7] = 0xEA;  // 60000
  huge[sof + 6] = huge[sof + 8] = 0x60;
  empty[sof + 5] = empty[sof + 6] = 0;
  expectCleanFailure(huge, ZV_IMAGE_JPEG, "zvJpg2Bmp : image of 60000 x 60000 pixels is too large");
  expectCleanFailure(empty, ZV_IMAGE_JPEG, "zvJpg2Bmp: ");
  EXPECT_NE(zvJpg2Bmp(nullptr, "x.bmp", 0, nullptr), ZV_OK);
  EXPECT_NE(zvJpg2Bmp("x.jpg", nullptr, 0, nullptr), ZV_OK);
  EXPECT_NE(zvJpg2Bmp(path("absent.jpg").c_str(), path("x.bmp").c_str(), 0, nullptr), ZV_OK);
  writeFile(path("g.jpg"), good);
  std::string nowhere = path("no/such.bmp");
  EXPECT_NE(zvJpg2Bmp(path("g.jpg").c_str(), nowhere.c_str(), 0, nullptr), ZV_OK);
  for (const std::string& t :
       std::vector<std::string>{"zvJpg2Bmp: jpegfile name is not given.", "zvJpg2Bmp: bmpfile name is not given.",
                                "zvJpg2Bmp: can't open jpegfile.", "zvJpg2Bmp: can't open bmpfile " + nowhere})
    EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, t)) << t;
  expectOutOfMemoryWalk([&] { return zvJpg2Bmp(path("g.jpg").c_str(), path("g.bmp").c_str(), 0, nullptr); },
                        path("g.bmp"));
  // Two unnamed components: no colours to map, so no picture either.
  expectCleanFailure(makeJpeg(16, 16, 2, quadrants), ZV_IMAGE_JPEG, "zvJpg2Bmp");
}

}  // namespace
