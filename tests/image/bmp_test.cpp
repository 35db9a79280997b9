#include <cstdio>
#include <cstring>

#include "tests/image/imagetest.h"

namespace {

using namespace imagetest;

class BmpTest : public ImageTest {};

TEST_F(BmpTest, SetHeaderRefusesAndRepairs) {
  ZvBmpFileHeader f;
  ZvBmpInfoHeader i;
  EXPECT_EQ(zvSetBMPHeader(&f, &i, 0, 1, 8, 0, 0), ZV_FAIL);
  EXPECT_EQ(zvSetBMPHeader(&f, &i, 1, 0, 8, 0, 0), ZV_FAIL);
  EXPECT_EQ(zvSetBMPHeader(&f, &i, 1, 1, 16, 0, 0), ZV_FAIL);
  ASSERT_EQ(zvSetBMPHeader(&f, &i, 3, 2, 4, 1, 17), ZV_OK);  // RLE asked, too many colours
  for (const char* t : {"zvSetBMPHeader : invalid width for bitmap", "zvSetBMPHeader : invalid height for bitmap.",
                        "zvSetBMPHeader : invalid depth for bitmap",
                        "zvSetBMPHeader : RLE and Bitfield encoding are not supported..use BI_RGB",
                        "zvSetBMPHeaders : invalid number for #colors...reset to default."})
    EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, t)) << t;
  EXPECT_EQ(i.compression, 0u);
  EXPECT_EQ(i.clrUsed, 0u);
  EXPECT_EQ(zvBMPColorTableSize(&i), 16);  // the default for 4 bits
  EXPECT_EQ(f.size, 54u + 64u + 8u);       // two rows of 2 bytes padded to 4
}

TEST_F(BmpTest, WriteFailuresAreReported) {
  FILE* full = std::fopen("/dev/full", "wb");
  if (!full) GTEST_SKIP() << "no /dev/full";
  std::setvbuf(full, nullptr, _IONBF, 0);  // so that each write meets the full disk
  ZvBmpFileHeader f;
  ZvBmpInfoHeader i;
  ASSERT_EQ(zvSetBMPHeader(&f, &i, 4, 1, 8, 0, 2), ZV_OK);
  const uint8_t row[4] = {};
  EXPECT_EQ(zvWriteBMPHeaders(full, &f, &i, nullptr), ZV_FAIL);
  EXPECT_EQ(zvWriteBMPRow(full, row, 4, 8), ZV_FAIL);
  std::fclose(full);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvWriteBMPHeaders : failed to write header to file."));
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvWriteBMPRow : failed to write imagedata to file."));
}

// A BMP as other programs write them.
Bytes bmpFile(int width, int height, int bits, int colors, const Bytes& table, const Bytes& data) {
  Bytes b(54);
  auto put32 = [&](size_t at, uint32_t v) {
    for (size_t k = 0; k < 4; ++k) b[at + k] = uint8_t(v >> (8 * k));
  };
  b[0] = 'B', b[1] = 'M', b[26] = 1, b[28] = uint8_t(bits);
  put32(10, uint32_t(54 + table.size()));
  put32(14, 40);
  put32(18, uint32_t(width));
  put32(22, uint32_t(height));
  put32(46, uint32_t(colors));
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

TEST_F(BmpTest, ReadsOrdinaryFilesAndRefusesBrokenOnes) {
  Bytes topDown = bmpFile(1, -2, 32, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0});
  Bytes indexed = bmpFile(2, 1, 8, 2, {0, 0, 255, 0, 255, 0, 0, 0}, {1, 7, 0, 0});  // 7: past the table
  ZvImage im;
  ASSERT_EQ(zvDecodeImage(topDown.data(), topDown.size(), &im), ZV_OK) << sink.dump();
  EXPECT_EQ(0, std::memcmp(im.pixels, "\3\2\1\xff\6\5\4\xff", 8));  // first row in the file on top
  zvFreeImage(&im);
  writeFile(path("i.bmp"), indexed);
  ASSERT_EQ(zvReadBmp(path("i.bmp").c_str(), &im), ZV_OK) << sink.dump();
  EXPECT_EQ(0, std::memcmp(im.pixels, "\0\0\xff\xff\0\0\0\xff", 8));  // blue, then black
  zvFreeImage(&im);
  Bytes rle = indexed;
  rle[30] = 1;
  const Bytes bad[] = {rle, Bytes(indexed.begin(), indexed.end() - 3), Bytes(indexed.begin(), indexed.begin() + 60),
                       bmpFile(0, 1, 24, 0, {}, {0, 0, 0, 0}), bmpFile(100000, 1, 24, 0, {}, {})};
  for (const Bytes& b : bad) {
    EXPECT_EQ(zvDecodeImageAs(ZV_IMAGE_BMP, b.data(), b.size(), &im), ZV_FAIL);
    EXPECT_EQ(im.pixels, nullptr);
  }
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvDecodeImage : BMP pixel data is truncated."));
  EXPECT_EQ(zvReadBmp(path("absent.bmp").c_str(), &im), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvReadBmp : failed to open file."));
}

}  // namespace
