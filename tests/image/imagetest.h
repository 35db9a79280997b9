// imagetest.h — shared by the image tests: a scratch directory per test and
// encoders that make GIF (with our own dictionary LZW), JPEG and PNG inputs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/image.h"
#include "tests/support/testsupport.h"

namespace imagetest {

using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
bool exists(const std::string& path);
uint32_t le32(const Bytes& b, size_t at);
uint16_t le16(const Bytes& b, size_t at);

struct GifSpec {
  int width = 2, height = 2;
  Bytes pixels{};     // palette indices, top row first
  int tableSize = 4;  // a power of two; colour i is (i, 255 - i, i * 7)
  bool local = false, interlaced = false;
  int transparent = -1;
  std::string version = "89a";
  bool clearWhenFull = true;  // else the full table is kept
  int blockSize = 255;
};
Bytes makeGif(const GifSpec& layout);

using Painter = std::function<void(int x, int y, uint8_t value[4])>;
Bytes makeJpeg(int width, int height, int components, const Painter& paint, bool progressive = false);
// rows as PNG stores them; palette colour i as in GifSpec.
Bytes makePng(int width, int height, int colorType, int bitDepth, const Bytes& rows, int paletteSize = 0,
              bool interlaced = false);
void fixPngCrc(Bytes& png, size_t chunkStart);

class ImageTest : public qmtest::SceneTest {
 protected:
  void SetUp() override;
  void TearDown() override;

 public:
  std::string path(const std::string& name) const { return dir + "/" + name; }
  // Converts through zvConvertImageFile, reads the BMP back into image.
  Bytes convert(const Bytes& input, int type, ZvImage* image = nullptr);
  // Failure, a warning containing text, no BMP left, and the in-memory
  // decoder failing too.
  void expectCleanFailure(const Bytes& input, int type, const std::string& text);
  // Fails each allocation of run in turn: -5, no output, no leak.
  void expectOutOfMemoryWalk(const std::function<int()>& run, const std::string& output);
  std::string dir;
};

}  // namespace imagetest
