#include <png.h>

#include <cstring>

#include "tests/image/imagetest.h"

namespace {

using namespace imagetest;

class PngTest : public ImageTest {};

TEST_F(PngTest, PalettesFollowTheGifDepthRule) {
  for (auto [colors, depth, interlaced] : {std::tuple{2, 1, false}, {16, 4, true}, {17, 8, false}}) {
    SCOPED_TRACE(colors);
    Bytes indices(15), rows(size_t((5 * depth + 7) / 8 * 3));
    for (size_t i = 0; i < 15; ++i) {  // packed most significant first
      indices[i] = uint8_t((i * 5 + 1) % size_t(colors));
      rows[i / 5 * rows.size() / 3 + i % 5 * size_t(depth) / 8] |=
          uint8_t(indices[i] << (8 - depth - int(i % 5) * depth % 8));
    }
    Bytes png = makePng(5, 3, PNG_COLOR_TYPE_PALETTE, depth, rows, colors, interlaced);
    ZvImage bmp, mem;
    Bytes file = convert(png, ZV_IMAGE_PNG, &bmp);
    EXPECT_EQ(le16(file, 28), depth);
    EXPECT_EQ(le32(file, 46), uint32_t(colors));
    ASSERT_EQ(zvDecodeImage(png.data(), png.size(), &mem), ZV_OK);
    ASSERT_NE(bmp.pixels, nullptr);
    for (size_t i = 0; i < indices.size(); ++i) {
      const uint8_t want[4] = {indices[i], uint8_t(255 - indices[i]), uint8_t(indices[i] * 7), 255};
      EXPECT_EQ(0, std::memcmp(mem.pixels + 4 * i, want, 4)) << i;
      EXPECT_EQ(0, std::memcmp(bmp.pixels + 4 * i, want, 4)) << i;
    }
    zvFreeImage(&bmp);
    zvFreeImage(&mem);
  }
}

TEST_F(PngTest, ColourAndGreyKeepTheirValuesAlphaOnlyInMemory) {
  const Bytes rgba = {255, 0, 0, 0, 0, 255, 0, 128, 0, 0, 255, 255, 9, 8, 7, 255};
  Bytes png = makePng(2, 2, PNG_COLOR_TYPE_RGB_ALPHA, 8, rgba, 0, true);
  ZvImage bmp, mem;
  EXPECT_EQ(le16(convert(png, ZV_IMAGE_PNG, &bmp), 28), 24);
  ASSERT_EQ(zvDecodeImage(png.data(), png.size(), &mem), ZV_OK);
  ASSERT_NE(bmp.pixels, nullptr);
  EXPECT_EQ(Bytes(mem.pixels, mem.pixels + 16), rgba);
  Bytes opaque = rgba;
  opaque[3] = opaque[7] = 255;
  EXPECT_EQ(Bytes(bmp.pixels, bmp.pixels + 16), opaque);
  zvFreeImage(&bmp);
  zvFreeImage(&mem);
  // 16-bit grey: 8 bits through a 256-entry grey table; 1-bit grey: 1 bit.
  Bytes file = convert(makePng(2, 1, PNG_COLOR_TYPE_GRAY, 16, {0x80, 0x00, 0xFF, 0xFF}), ZV_IMAGE_PNG, &bmp);
  EXPECT_EQ(le32(file, 46), 256u);
  ASSERT_NE(bmp.pixels, nullptr);
  EXPECT_EQ(Bytes(bmp.pixels, bmp.pixels + 8), (Bytes{128, 128, 128, 255, 255, 255, 255, 255}));
  zvFreeImage(&bmp);
  file = convert(makePng(3, 1, PNG_COLOR_TYPE_GRAY, 1, {0xA0}), ZV_IMAGE_PNG);
  ASSERT_EQ(file.size(), 54u + 8u + 4u);
  EXPECT_EQ(le16(file, 28), 1);
  EXPECT_EQ(le32(file, 58), 0xFFFFFFu);  // white second
  EXPECT_EQ(file[62], 0xA0);
}

TEST_F(PngTest, BrokenFilesFailCleanly) {
  Bytes rows(24 * 20 * 3);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8_t(i * 31);
  Bytes good = makePng(24, 20, PNG_COLOR_TYPE_RGB, 8, rows);
  for (size_t cut = 0; cut < good.size(); cut += 3) {  // up to IEND
    SCOPED_TRACE(cut);
    expectCleanFailure(Bytes(good.begin(), good.begin() + long(cut)), ZV_IMAGE_PNG, "zvPng2Bmp : ");
  }
  Bytes huge = good, badCrc = good;
  huge[18] = huge[22] = 0x4E;  // IHDR: 20000 x 20000
  huge[19] = huge[23] = 0x20;
  fixPngCrc(huge, 8);
  expectCleanFailure(huge, ZV_IMAGE_PNG, "zvPng2Bmp : image of 20000 x 20000 pixels is too large");
  huge[18] = huge[22] = 0x1F;  // 8000 x 8000: within the limits, far beyond the file
  huge[19] = huge[23] = 0x40;
  fixPngCrc(huge, 8);
  expectCleanFailure(huge, ZV_IMAGE_PNG, "zvPng2Bmp : file too short for its image.");
  badCrc[45] ^= 0x55;  // inside IDAT
  expectCleanFailure(badCrc, ZV_IMAGE_PNG, "zvPng2Bmp : ");
  writeFile(path("g.png"), good);
  // libpng allocates through zvMalloc too.
  expectOutOfMemoryWalk([&] { return zvPng2Bmp(path("g.png").c_str(), path("g.bmp").c_str()); }, path("g.bmp"));
}

}  // namespace
