#include "tests/image/imagetest.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

// clang-format off
#include <jpeglib.h>  // after <cstdio>: it uses FILE without declaring it
// clang-format on

namespace imagetest {

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }
uint16_t le16(const Bytes& b, size_t at) { return uint16_t(b.at(at) | b.at(at + 1) << 8); }
uint32_t le32(const Bytes& b, size_t at) { return le16(b, at) | uint32_t(le16(b, at + 2)) << 16; }

namespace {

// A plain dictionary encoder, written apart from the decoder so that the
// two do not share a misreading of when codes grow by a bit.
Bytes lzw(const Bytes& indices, int minCode, bool clearWhenFull) {
  const int clear = 1 << minCode;
  Bytes out;
  uint32_t acc = 0;
  int count = 0, next = clear + 2, size = minCode + 1, prefix = -1;
  bool firstAfterClear = true;
  auto put = [&](int code) {
    acc |= uint32_t(code) << count;
    for (count += size; count >= 8; count -= 8, acc >>= 8) out.push_back(uint8_t(acc));
  };
  std::map<std::pair<int, int>, int> table;
  put(clear);
  for (uint8_t p : indices) {
    auto found = table.find({prefix, p});
    if (prefix < 0 || found != table.end()) {
      prefix = prefix < 0 ? p : found->second;
      continue;
    }
    put(prefix);
    firstAfterClear = false;
    if (next < 4096) {
      table[{prefix, p}] = next;
      if (next++ == 1 << size && size < 12) ++size;
    } else if (clearWhenFull) {
      put(clear);
      table.clear();
      next = clear + 2;
      size = minCode + 1;
      firstAfterClear = true;
    }
    prefix = p;
  }
  put(prefix);
  if (!firstAfterClear && next == 1 << size && size < 12) ++size;  // the decoder's last entry
  put(clear + 1);
  if (count > 0) out.push_back(uint8_t(acc));
  return out;
}

}  // namespace

Bytes makeGif(const GifSpec& s) {
  Bytes g;
  for (char c : "GIF" + s.version) g.push_back(uint8_t(c));
  int bits = 0;
  while ((2 << bits) < s.tableSize) ++bits;
  uint8_t tableFlag = uint8_t(0x80 | bits);
  auto add16 = [&](int v) { g.insert(g.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  auto addTable = [&] {
    for (int i = 0; i < s.tableSize; ++i) g.insert(g.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
  };
  add16(s.width);
  add16(s.height);
  g.insert(g.end(), {uint8_t(s.local ? 0 : tableFlag), 0, 0});
  if (!s.local) addTable();
  g.insert(g.end(), {'!', 0xFE, 3, 'h', 'i', '!', 0});  // a comment to skip
  if (s.transparent >= 0) g.insert(g.end(), {'!', 0xF9, 4, 1, 0, 0, uint8_t(s.transparent), 0});
  g.insert(g.end(), {',', 0, 0, 0, 0});
  add16(s.width);
  add16(s.height);
  g.push_back(uint8_t((s.local ? tableFlag : 0) | (s.interlaced ? 0x40 : 0)));
  if (s.local) addTable();
  Bytes stream;  // rows in the order the interlace passes store them
  for (auto [start, step] : s.interlaced ? std::vector<std::pair<int, int>>{{0, 8}, {4, 8}, {2, 4}, {1, 2}}
                                         : std::vector<std::pair<int, int>>{{0, 1}})
    for (int y = start; y < s.height; y += step)
      stream.insert(stream.end(), s.pixels.begin() + y * s.width, s.pixels.begin() + (y + 1) * s.width);
  int minCode = std::max(2, bits + 1);
  g.push_back(uint8_t(minCode));
  Bytes data = lzw(stream, minCode, s.clearWhenFull);
  for (size_t at = 0; at < data.size(); at += size_t(s.blockSize)) {
    size_t n = std::min(data.size() - at, size_t(s.blockSize));
    g.push_back(uint8_t(n));
    g.insert(g.end(), data.begin() + long(at), data.begin() + long(at + n));
  }
  g.insert(g.end(), {0, ';'});
  return g;
}

Bytes makeJpeg(int width, int height, int components, const Painter& paint, bool progressive) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(width);
  c.image_height = JDIMENSION(height);
  c.input_components = components;
  // Two components have no colour space of their own: written unnamed.
  const J_COLOR_SPACE spaces[] = {JCS_UNKNOWN, JCS_GRAYSCALE, JCS_UNKNOWN, JCS_RGB, JCS_CMYK};
  c.in_color_space = spaces[components];
  jpeg_set_defaults(&c);
  if (components == 2) {
    jpeg_set_colorspace(&c, JCS_UNKNOWN);
    c.write_JFIF_header = FALSE;
  }
  jpeg_set_quality(&c, 95, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  Bytes row(size_t(width * components));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t value[4] = {0, 0, 0, 255};
      paint(x, y, value);
      std::copy_n(value, components, &row[size_t(x * components)]);
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes result(out, out + size);
  std::free(out);
  return result;
}

Bytes makePng(int width, int height, int colorType, int bitDepth, const Bytes& rows, int paletteSize, bool interlaced) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  auto write = [](png_structp p, png_bytep data, png_size_t n) {
    auto* to = static_cast<Bytes*>(png_get_io_ptr(p));
    to->insert(to->end(), data, data + n);
  };
  png_set_write_fn(png, &out, write, nullptr);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bitDepth, colorType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, 0, 0);
  std::vector<png_color> palette;
  for (int i = 0; i < paletteSize; ++i) palette.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
  if (paletteSize) png_set_PLTE(png, info, palette.data(), paletteSize);
  png_write_info(png, info);
  std::vector<png_bytep> pointers;
  for (int y = 0; y < height; ++y)
    pointers.push_back(const_cast<uint8_t*>(&rows[rows.size() / size_t(height) * size_t(y)]));
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

void fixPngCrc(Bytes& png, size_t at) {
  uint32_t length = uint32_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
  uLong crc = crc32(0, &png[at + 4], uInt(length + 4));
  for (int i = 0; i < 4; ++i) png[at + 8 + length + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
}

void ImageTest::SetUp() {
  SceneTest::SetUp();
  std::string pattern = (std::filesystem::temp_directory_path() / "qmimageXXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir = pattern;
}

void ImageTest::TearDown() {
  std::filesystem::remove_all(dir);
  zvSetImageLimits(0, 0);
  SceneTest::TearDown();
}

Bytes ImageTest::convert(const Bytes& input, int type, ZvImage* image) {
  writeFile(path("in"), input);
  EXPECT_EQ(zvConvertImageFile(path("in").c_str(), path("out.bmp").c_str(), type), ZV_OK) << sink.dump();
  if (image) {
    EXPECT_EQ(zvReadBmp(path("out.bmp").c_str(), image), ZV_OK) << sink.dump();
  }
  return readFile(path("out.bmp"));
}

void ImageTest::expectCleanFailure(const Bytes& input, int type, const std::string& text) {
  writeFile(path("in"), input);
  std::filesystem::remove(path("out.bmp"));
  sink.clear();
  EXPECT_NE(zvConvertImageFile(path("in").c_str(), path("out.bmp").c_str(), type), ZV_OK);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, text)) << sink.dump();
  EXPECT_FALSE(exists(path("out.bmp")));
  ZvImage image;
  EXPECT_NE(zvDecodeImageAs(type, input.data(), input.size(), &image), ZV_OK);
  EXPECT_EQ(image.pixels, nullptr);
}

void ImageTest::expectOutOfMemoryWalk(const std::function<int()>& run, const std::string& output) {
  for (long n = 0;; ++n) {
    memory.failAfter(n);
    int result = run();
    memory.failAfter(-1);
    EXPECT_EQ(memory.live(), 0) << n;
    if (result == ZV_OK) return;
    EXPECT_EQ(result, ZV_NOMEM) << n << ": " << sink.last();
    EXPECT_FALSE(!output.empty() && exists(output)) << n;
  }
}

}  // namespace imagetest
