// Raster files written byte by byte here, hostile variants of them, and
// the reference counts that keep rasters and textures alive.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "rwlib/rwpriv.h"

namespace {

using Bytes = std::vector<uint8_t>;

void le16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void le32(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); }

// A BMP with a 40-byte header; palette entries are 0xRRGGBB.
Bytes bmp(int32_t w, int32_t h, int bpp, int compression, const std::vector<uint32_t>& palette, const Bytes& pixels) {
  Bytes b = {'B', 'M'};
  uint32_t off = 14 + 40 + 4 * uint32_t(palette.size()), size = uint32_t(pixels.size());
  for (uint32_t v : {off + size, 0u, off, 40u, uint32_t(w), uint32_t(h)}) le32(b, v);
  le16(b, 1);
  le16(b, uint32_t(bpp));
  for (uint32_t v : {uint32_t(compression), size, 2835u, 2835u, uint32_t(palette.size()), 0u}) le32(b, v);
  for (uint32_t c : palette) le32(b, c);
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

Bytes sun(int32_t w, int32_t h, int depth, int type, const Bytes& map, const Bytes& data) {
  Bytes b;
  for (uint32_t v : {0x59a66a95u, uint32_t(w), uint32_t(h), uint32_t(depth), uint32_t(data.size()), uint32_t(type),
                     map.empty() ? 0u : 1u, uint32_t(map.size())})
    b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
  b.insert(b.end(), map.begin(), map.end());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

class RwRasterFiles : public ::testing::Test {
 protected:
  // Named per process and test: CTest runs these tests side by side.
  std::string path(const char* name) {
    return ::testing::TempDir() + "rwlib_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name;
  }
  void TearDown() override {
    for (const std::string& p : written) std::remove(p.c_str());
  }
  std::vector<std::string> written;
  std::string write(const char* name, const Bytes& b) {
    std::string p = path(name);
    written.push_back(p);
    FILE* f = std::fopen(p.c_str(), "wb");
    if (f) {
      if (!b.empty()) std::fwrite(b.data(), 1, b.size(), f);
      std::fclose(f);
    }
    return p;
  }
  // Reads and checks one pixel's RGBA (x, y from the top left), then frees.
  void expectPixels(const Bytes& file, int w, int h, const std::vector<std::tuple<int, int, uint32_t>>& want) {
    RwRaster* r = rwReadRaster(write("pixels", file).c_str(), 0);
    ASSERT_NE(r, nullptr) << "error " << rwGetError();
    EXPECT_EQ(rwGetRasterWidth(r), w);
    EXPECT_EQ(rwGetRasterHeight(r), h);
    for (auto [x, y, rgb] : want) {
      const uint8_t* p = &r->rgba[(size_t(y) * size_t(w) + size_t(x)) * 4];
      EXPECT_EQ(uint32_t(p[0] << 16 | p[1] << 8 | p[2]), rgb) << "at " << x << "," << y;
      EXPECT_EQ(p[3], 255);
    }
    rwDestroyRaster(r);
  }
  void expectRefused(const Bytes& file, int code = RW_E_FORMAT) {
    EXPECT_EQ(rwReadRaster(write("bad", file).c_str(), 0), nullptr);
    EXPECT_EQ(rwGetError(), code);
  }
};

const std::vector<uint32_t> kPalette = {0x000000, 0xff0000, 0x00ff00, 0x0000ff};

TEST_F(RwRasterFiles, BmpPaletteTrueColourAndRunLengths) {
  // 8 bits, 3x2, bottom-up: the first stored row is the bottom one.
  expectPixels(bmp(3, 2, 8, 0, kPalette, {1, 2, 3, 0, 3, 3, 2, 0}), 3, 2,
               {{0, 1, 0xff0000}, {2, 1, 0x0000ff}, {0, 0, 0x0000ff}, {2, 0, 0x00ff00}});
  // 24 bits, 2x2, rows padded to 8 bytes, BGR order.
  Bytes px = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0, 0, 0xaa, 0xbb, 0xcc, 1, 2, 3, 0, 0};
  expectPixels(bmp(2, 2, 24, 0, {}, px), 2, 2, {{0, 1, 0x302010}, {1, 1, 0x605040}, {0, 0, 0xccbbaa}});
  // The same rows top-down.
  expectPixels(bmp(2, -2, 24, 0, {}, px), 2, 2, {{0, 0, 0x302010}, {1, 0, 0x605040}, {1, 1, 0x030201}});
  // 1 bit: rows of 4 bytes, the high bit first.
  expectPixels(bmp(9, 1, 1, 0, {0x000000, 0xffffff}, {0x80, 0x80, 0, 0}), 9, 1,
               {{0, 0, 0xffffff}, {1, 0, 0}, {8, 0, 0xffffff}});
  // RLE8: bottom row a run of three 1s and an absolute run [2 3 2 ...];
  // top row a run of two 3s, then end of bitmap; what is left keeps index 0.
  Bytes rle = {3, 1, 0, 3, 2, 3, 2, 0, 0, 0, 2, 3, 0, 1};
  expectPixels(bmp(6, 2, 8, 1, kPalette, rle), 6, 2,
               {{0, 1, 0xff0000}, {2, 1, 0xff0000}, {3, 1, 0x00ff00}, {4, 1, 0x0000ff}, {5, 1, 0x00ff00},
                {1, 0, 0x0000ff}, {2, 0, 0x000000}});
  // RLE4: a run of 5 alternating 1, 2.
  expectPixels(bmp(5, 1, 4, 2, kPalette, {5, 0x12, 0, 1}), 5, 1, {{0, 0, 0xff0000}, {1, 0, 0x00ff00}, {4, 0, 0xff0000}});
}

TEST_F(RwRasterFiles, SunRasterStandardAndByteEncoded) {
  // 24 bits BGR, rows padded to 16 bits.
  expectPixels(sun(1, 2, 24, 1, {}, {1, 2, 3, 0, 4, 5, 6, 0}), 1, 2, {{0, 0, 0x030201}, {0, 1, 0x060504}});
  // The RGB type keeps the bytes in order.
  expectPixels(sun(1, 1, 24, 3, {}, {1, 2, 3, 0}), 1, 1, {{0, 0, 0x010203}});
  // 8 bits through a two-entry colour map (reds, greens, blues), run-length
  // encoded: four 1s (the first row and its pad byte), an escaped 0x80
  // (past the map: black), a 0, and a run of two 0s.
  Bytes map = {0x11, 0xff, 0x22, 0x80, 0x33, 0x40};
  expectPixels(sun(3, 2, 8, 2, map, {0x80, 3, 1, 0x80, 0x00, 0x00, 0x80, 1, 0}), 3, 2,
               {{0, 0, 0xff8040}, {2, 0, 0xff8040}, {0, 1, 0x000000}, {1, 1, 0x112233}});
  // 1 bit with no map: set bits are black.
  expectPixels(sun(2, 1, 1, 1, {}, {0x80, 0}), 2, 1, {{0, 0, 0}, {1, 0, 0xffffff}});
}

TEST_F(RwRasterFiles, HostileFilesFailCleanly) {
  Bytes good = bmp(3, 2, 8, 0, kPalette, {1, 2, 3, 0, 3, 3, 2, 0});
  // Every truncation either fails or reads; none may crash.
  for (size_t n = 0; n < good.size(); ++n) {
    Bytes cut(good.begin(), good.begin() + std::ptrdiff_t(n));
    RwRaster* r = rwReadRaster(write("cut", cut).c_str(), 0);
    EXPECT_EQ(r, nullptr) << n;
    if (r) rwDestroyRaster(r);
  }
  expectRefused(bmp(1000000, 1, 24, 0, {}, {0, 0, 0, 0}));
  expectRefused(bmp(16384, 16384, 24, 0, {}, {0, 0, 0, 0}));  // far more than the file holds
  expectRefused(bmp(1, INT_MIN, 24, 0, {}, {0, 0, 0, 0}));
  expectRefused(bmp(0, 1, 24, 0, {}, {0, 0, 0, 0}));
  expectRefused(bmp(1, 1, 7, 0, {}, {0, 0, 0, 0}));
  expectRefused(bmp(1, 1, 24, 1, {}, {0, 0, 0, 0}));  // RLE8 needs 8 bits
  Bytes offset = good;
  offset[10] = 0xff, offset[11] = 0xff;  // pixel data past the end
  expectRefused(offset);
  Bytes header = good;
  header[14] = 200;  // an unknown header size
  expectRefused(header);
  // Runs that overflow rows, deltas off the picture and a missing end are
  // clipped, not written out of bounds.
  Bytes wild = {255, 1, 0, 2, 200, 200, 0, 9, 1, 2};
  RwRaster* r = rwReadRaster(write("wild", bmp(4, 4, 8, 1, kPalette, wild)).c_str(), 0);
  ASSERT_NE(r, nullptr);
  rwDestroyRaster(r);
  // A Sun run-length file that ends early, and a colour map past the end.
  expectRefused(sun(4, 4, 8, 2, {}, {0x80, 3, 1}));
  Bytes longMap = sun(1, 1, 8, 1, {}, {0, 0});
  longMap[31] = 200;
  expectRefused(longMap);
  expectRefused({'G', 'I', 'F', '8', '9', 'a'});
  EXPECT_EQ(rwReadRaster(path("does-not-exist").c_str(), 0), nullptr);
  EXPECT_EQ(rwGetError(), RW_E_FILE);
}

TEST(RwRasterRefs, TexturesLiveWhilePolygonsUseThem) {
  const uint8_t pixels[4 * 4 * 2] = {};
  RwRaster* raster = rwCreateRaster(2, 4, pixels);
  ASSERT_NE(raster, nullptr);
  RwTexture* t = rwCreateNamedTexture("brick.bmp", raster);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(raster->refs, 2);
  EXPECT_EQ(rwCreateNamedTexture("brick.bmp", raster), nullptr);  // the name is taken
  EXPECT_EQ(rwFindNamedTexture("brick.bmp"), t);

  RwClump* c = rwCreateClump(3, 1);
  for (int i = 0; i < 3; ++i) rwAddVertexToClump(c, float(i), float(i * i), 0);
  const int32_t idx[3] = {1, 2, 3};
  RwPolygon* p = rwAddPolygonToClump(c, 3, idx);
  rwSetPolygonTexture(p, t);
  EXPECT_EQ(t->refs, 2);
  RwClump* copy = rwDuplicateClump(c);
  EXPECT_EQ(t->refs, 3);
  rwSetPolygonTexture(&copy->polygons[0], nullptr);
  EXPECT_EQ(t->refs, 2);
  rwFlipPolygon(p);
  EXPECT_EQ(rwGetPolygonTexture(p), t);

  ASSERT_TRUE(rwDestroyTexture(t));
  EXPECT_EQ(rwFindNamedTexture("brick.bmp"), nullptr);
  EXPECT_FALSE(rwDestroyTexture(t));  // the creator's reference is gone already
  EXPECT_TRUE(t->refs == 1 && t->raster == raster);  // the polygon still shows it
  rwDestroyClump(c);                  // and now it goes, with its raster reference
  EXPECT_EQ(raster->refs, 1);
  rwDestroyClump(copy);

  // A name can be used again once its texture is unregistered.
  RwTexture* again = rwCreateNamedTexture("brick.bmp", raster);
  ASSERT_NE(again, nullptr);
  rwDestroyRaster(raster);  // the texture keeps it
  EXPECT_EQ(again->raster->refs, 1);
  rwDestroyTexture(again);
}

TEST(RwRasterRefs, MasksFramesAndBackdrops) {
  RwRaster* strip = rwCreateRaster(4, 12, nullptr);
  RwTexture* t = rwCreateNamedTexture("strip", strip);
  EXPECT_EQ(rwGetTextureFrameCount(t), 1);
  EXPECT_FALSE(rwSetTextureFrameSize(t, 4, 5));  // 12 is no multiple of 5
  EXPECT_FALSE(rwSetTextureFrameSize(t, 3, 4));
  uint32_t v = t->version;
  ASSERT_TRUE(rwSetTextureFrameSize(t, 4, 4));
  EXPECT_EQ(rwGetTextureFrameCount(t), 3);
  EXPECT_GT(t->version, v);
  for (int i = 0; i < 3; ++i) rwTextureNextFrame(t);
  EXPECT_EQ(t->frame, 0);  // wrapped
  EXPECT_FALSE(rwSetTextureFrame(t, 3));
  EXPECT_TRUE(rwSetTextureFrame(t, 2));
  EXPECT_EQ(t->frame, 2);

  RwRaster* wrong = rwCreateRaster(4, 4, nullptr);
  RwRaster* mask = rwCreateRaster(4, 12, nullptr);
  EXPECT_FALSE(rwSetTextureMask(t, wrong));
  EXPECT_EQ(rwGetError(), RW_E_BADPARAM);
  v = t->version;
  ASSERT_TRUE(rwSetTextureMask(t, mask));
  EXPECT_EQ(mask->refs, 2);
  EXPECT_GT(t->version, v);

  RwCamera* cam = rwCreateCamera(8, 8, 0);
  rwSetCameraBackdrop(cam, wrong);
  EXPECT_EQ(wrong->refs, 2);
  EXPECT_EQ(rwGetCameraBackdrop(cam), wrong);
  rwSetCameraBackdrop(cam, nullptr);
  EXPECT_EQ(wrong->refs, 1);
  rwSetCameraBackdrop(cam, wrong);
  rwDestroyCamera(cam);
  EXPECT_EQ(wrong->refs, 1);

  rwDestroyRaster(wrong);
  rwDestroyRaster(mask);
  rwDestroyRaster(strip);
  rwDestroyTexture(t);  // frees the mask and the strip with it
}

TEST_F(RwRasterFiles, NamedTexturesReadOnce) {
  std::string file = write("named.bmp", bmp(2, 1, 24, 0, {}, {1, 2, 3, 4, 5, 6, 0, 0}));
  RwTexture* t = rwReadNamedTexture(file.c_str());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->refs, 1);
  EXPECT_EQ(t->raster->refs, 1);
  EXPECT_EQ(rwReadNamedTexture(file.c_str()), t);
  EXPECT_EQ(t->refs, 1);
  EXPECT_EQ(rwFindNamedTexture(file.c_str()), t);
  rwDestroyTexture(t);
  EXPECT_EQ(rwReadNamedTexture(path("missing.bmp").c_str()), nullptr);
  EXPECT_EQ(rwGetError(), RW_E_FILE);
}

}  // namespace
