#include <cstring>
#include <random>

#include "tests/image/imagetest.h"

namespace {

using namespace imagetest;

class GifTest : public ImageTest {
 public:
  // Memory and BMP paths both give each pixel its GifSpec colour.
  void expectDecodes(const GifSpec& s, const Bytes& gif) {
    ZvImage mem, bmp;
    ASSERT_EQ(zvDecodeImage(gif.data(), gif.size(), &mem), ZV_OK) << sink.dump();
    convert(gif, ZV_IMAGE_GIF, &bmp);
    ASSERT_TRUE(mem.width == s.width && mem.height == s.height && bmp.pixels);
    for (size_t i = 0; i < s.pixels.size(); ++i) {
      uint8_t v = s.pixels[i], want[4] = {v, uint8_t(255 - v), uint8_t(v * 7), uint8_t(v == s.transparent ? 0 : 255)};
      ASSERT_EQ(0, std::memcmp(mem.pixels + 4 * i, want, 4)) << i;
      want[3] = 255;  // the BMP keeps the transparent colour's colour
      ASSERT_EQ(0, std::memcmp(bmp.pixels + 4 * i, want, 4)) << i;
    }
    zvFreeImage(&mem);
    zvFreeImage(&bmp);
  }
};

Bytes noise(size_t n, int colors, unsigned start) {
  std::mt19937 rng(start);
  Bytes b(n);
  for (auto& v : b) v = uint8_t(rng() % unsigned(colors));
  return b;
}

TEST_F(GifTest, PublishedSampleFromAnotherEncoder) {
  // The 10 x 10 red, blue and white sample often used to explain GIF's LZW.
  const Bytes gif = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x0A, 0x00, 0x0A, 0x00, 0x91, 0x00, 0x00, 0xFF,
                     0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x0A, 0x00,
                     0x00, 0x02, 0x16, 0x8C, 0x2D, 0x99, 0x87, 0x2A, 0x1C, 0xDC, 0x33, 0xA0, 0x02, 0x75,
                     0xEC, 0x95, 0xFA, 0xA8, 0xDE, 0x60, 0x8C, 0x04, 0x91, 0x4C, 0x01, 0x00, 0x3B};
  const char* rows[] = {"RRRRRBBBBB", "RRRRRBBBBB", "RRRRRBBBBB", "RRRWWWWBBB", "RRRWWWWBBB",
                        "BBBWWWWRRR", "BBBWWWWRRR", "BBBBBRRRRR", "BBBBBRRRRR", "BBBBBRRRRR"};
  ZvImage im;
  ASSERT_EQ(zvDecodeImage(gif.data(), gif.size(), &im), ZV_OK) << sink.dump();
  ASSERT_EQ(im.width * im.height, 100);
  for (int i = 0; i < 100; ++i) {
    const uint8_t* p = im.pixels + 4 * i;
    EXPECT_EQ(p[1] == 255 ? 'W' : p[0] == 255 ? 'R' : 'B', rows[i / 10][i % 10]) << i;
  }
  zvFreeImage(&im);
}

TEST_F(GifTest, DepthTableAndPaddedBottomUpRows) {
  for (auto [table, bits] : {std::pair{2, 1}, {4, 4}, {16, 4}, {32, 8}, {256, 8}}) {
    SCOPED_TRACE(table);
    GifSpec s{.width = 5, .height = 3, .pixels = noise(15, table, unsigned(table)), .tableSize = table};
    s.local = table == 16;
    Bytes gif = makeGif(s), bmp = convert(gif, ZV_IMAGE_GIF);
    expectDecodes(s, gif);
    int row = (5 * bits + 31) / 32 * 4, offset = 54 + 4 * table, used = (5 * bits + 7) / 8;
    ASSERT_EQ(bmp.size(), size_t(offset + row * 3));
    EXPECT_EQ(std::string(bmp.begin(), bmp.begin() + 2), "BM");
    const uint32_t fields[] = {uint32_t(bmp.size()), 0, uint32_t(offset), 40, 5, 3};
    for (int f = 0; f < 6; ++f) EXPECT_EQ(le32(bmp, size_t(2 + 4 * f)), fields[f]) << f;
    EXPECT_EQ(le16(bmp, 26), 1);
    EXPECT_EQ(le16(bmp, 28), bits);
    EXPECT_EQ(le32(bmp, 30), 0u);
    EXPECT_EQ(le32(bmp, 34), uint32_t(row * 3));
    EXPECT_EQ(le32(bmp, 46), uint32_t(table));
    for (int i = 0; i < table; ++i)  // blue, green, red, 0
      EXPECT_EQ(le32(bmp, size_t(54 + 4 * i)), uint32_t(i * 7 & 255) | uint32_t(255 - i) << 8 | uint32_t(i) << 16);
    int bottomLeft = bmp[size_t(offset)] >> (8 - bits);
    EXPECT_EQ(bottomLeft, s.pixels[10]);
    for (int y = 0; y < 3; ++y) {  // zero past the last pixel, in its byte and in the padding
      const uint8_t* r = &bmp[size_t(offset + y * row)];
      EXPECT_EQ(r[used - 1] & (bits == 4 ? 0x0F : bits == 1 ? 0x07 : 0), 0);
      for (int k = used; k < row; ++k) EXPECT_EQ(r[k], 0);
    }
  }
}

TEST_F(GifTest, InterlacedRowsComeOutInDisplayOrder) {
  for (int h : {1, 2, 4, 5, 8, 9, 17}) {
    SCOPED_TRACE(h);
    GifSpec s{.width = 3, .height = h, .tableSize = 32, .interlaced = true};
    for (int y = 0; y < h; ++y) s.pixels.insert(s.pixels.end(), 3, uint8_t(y));
    expectDecodes(s, makeGif(s));
  }
}

TEST_F(GifTest, CodeTableFillsToTheLimitThenClearsOrStaysFull) {
  // Noise fills the 4096 codes long before the end; sub-blocks of 7 bytes
  // split codes. One colour is LZW at its best and must also pass the check
  // that the data could hold the image at all.
  for (bool clear : {true, false}) {
    for (auto [w, h, colors] : {std::tuple{157, 120, 256}, {401, 300, 2}}) {
      GifSpec s{.width = w, .height = h, .pixels = noise(size_t(w * h), colors, 7), .tableSize = colors};
      s.clearWhenFull = clear;
      s.blockSize = colors == 2 ? 7 : 255;
      expectDecodes(s, makeGif(s));
    }
    GifSpec flat{.width = 600, .height = 500, .pixels = Bytes(300000, 1), .tableSize = 2};
    flat.clearWhenFull = clear;
    expectDecodes(flat, makeGif(flat));
  }
}

TEST_F(GifTest, TransparencyBecomesAlphaOrAMask) {
  GifSpec s{.pixels = {0, 1, 1, 2}, .transparent = 1};
  expectDecodes(s, makeGif(s));
  ASSERT_EQ(zvGif2Bmp(path("in").c_str(), path("t.bmp").c_str(), path("m.bmp").c_str()), ZV_OK);
  Bytes mask = readFile(path("m.bmp"));
  ASSERT_EQ(mask.size(), 54u + 8u + 8u);
  EXPECT_EQ(le16(mask, 28), 1);
  EXPECT_EQ(mask[62] >> 6, 0b01);  // bottom row 1, 2: transparent, opaque
  EXPECT_EQ(mask[66] >> 6, 0b10);  // top row 0, 1
}

TEST_F(GifTest, BadHeadersFailWithTheHeaderMessage) {
  Bytes good = makeGif(GifSpec{.pixels = {0, 1, 2, 3}});
  ASSERT_EQ(good[32], ',');  // the image descriptor, after the table and a comment
  auto patched = [&](size_t at, Bytes bytes) {
    Bytes b = good;
    std::copy(bytes.begin(), bytes.end(), b.begin() + long(at));
    return b;
  };
  Bytes noImage(good.begin(), good.begin() + 25);
  noImage.push_back(';');
  const Bytes bad[] = {patched(3, {'8', '9', 'b'}),
                       noImage,
                       patched(37, {0, 0}),
                       patched(37, {0xFF, 0xFF}),              // past the side limit
                       patched(37, {0x80, 0x3E, 0x80, 0x3E}),  // 16000 x 16000: past the pixel limit
                       patched(42, {9}),                       // minimum code size
                       Bytes(),
                       Bytes{'<', 'h', 't', 'm', 'l', '>'}};
  for (const Bytes& b : bad) {
    SCOPED_TRACE(&b - bad);
    expectCleanFailure(b, ZV_IMAGE_GIF, "zvReadGifHeader : failed to read GIF header.");
    EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGif2Bmp : caught error from subroutine."));
    EXPECT_EQ(sink.has(ZV_DEBUG_WARNING, "image of 16000 x 16000 pixels is too large"), &b - bad == 4);
  }
  zvSetImageLimits(8, 100);
  expectCleanFailure(makeGif(GifSpec{.width = 9, .height = 1, .pixels = Bytes(9, 0)}), ZV_IMAGE_GIF,
                     "image of 9 x 1 pixels is too large");
}

TEST_F(GifTest, BrokenImageDataFailsCleanly) {
  Bytes good = makeGif(GifSpec{.width = 40, .height = 30, .pixels = noise(1200, 16, 3), .tableSize = 16});
  const size_t data = 13 + 3 * 16 + 7 + 10 + 1;         // header, table, comment, descriptor, code size
  for (size_t cut = 0; cut + 2 < good.size(); ++cut) {  // anywhere before the data's terminator
    SCOPED_TRACE(cut);
    expectCleanFailure(
        Bytes(good.begin(), good.begin() + long(cut)), ZV_IMAGE_GIF,
        cut < data ? "zvReadGifHeader : failed to read GIF header." : "zvGif2Bmp : failed to read data from file.");
  }
  Bytes tiny = makeGif(GifSpec{.pixels = {0, 1, 2, 3}});
  Bytes huge = tiny;
  huge[37] = huge[39] = 0xA0;  // 4000 x 4000 from a few bytes: refused before decoding
  huge[38] = huge[40] = 0x0F;
  expectCleanFailure(huge, ZV_IMAGE_GIF, "zvGif2Bmp : failed to read data from file.");
  // Codes of 3 bits after clear (4): a code beyond the table, a table code
  // first, the end code (5) before the last pixel, data that just stops.
  for (Bytes codes : {Bytes{0xC4, 0x01}, Bytes{0x34, 0x00}, Bytes{0x44, 0x01}, Bytes{0x04}}) {
    Bytes b(tiny.begin(), tiny.begin() + 43);
    b.push_back(uint8_t(codes.size()));
    b.insert(b.end(), codes.begin(), codes.end());
    b.insert(b.end(), {0, ';'});
    expectCleanFailure(b, ZV_IMAGE_GIF, "ReadGifImage : ");
    EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGif2Bmp : caught error from subroutine."));
  }
}

TEST_F(GifTest, NamesFilesAndMemory) {
  EXPECT_NE(zvGif2Bmp(nullptr, "x.bmp", nullptr), 0);
  EXPECT_NE(zvGif2Bmp(path("absent.gif").c_str(), path("x.bmp").c_str(), nullptr), 0);
  writeFile(path("a.gif"), makeGif(GifSpec{.pixels = {0, 1, 2, 3}}));
  EXPECT_NE(zvGif2Bmp(path("a.gif").c_str(), path("no/dir.bmp").c_str(), nullptr), 0);
  for (const char* t : {"zvGif2Bmp : no file name.", "zvGif2Bmp : failed to open file."})
    EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, t)) << t;
  EXPECT_FALSE(exists(path("x.bmp")));
  expectOutOfMemoryWalk([&] { return zvGif2Bmp(path("a.gif").c_str(), path("a.bmp").c_str(), nullptr); },
                        path("a.bmp"));
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGif2Bmp : cannot allocate memory."));
}

}  // namespace
