// Textures named for another format, or for none, reach the decoder their
// bytes call for through retrieval's preprocessing; broken ones still fail
// with the decoder's own report and leave nothing behind.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/image/imagetest.h"
#include "www/www.h"

namespace {

using namespace imagetest;

class SniffTest : public ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    setenv("XDG_CACHE_HOME", path("cache").c_str(), 1);
    zvWwwSetImageConverter(zvConvertImageFile);
  }
  void TearDown() override {
    zvWwwSetImageConverter(nullptr);
    unsetenv("XDG_CACHE_HOME");
    ImageTest::TearDown();
  }
  // The usable file for an input written under name, read back as a BMP;
  // width 0 when preprocessing or reading failed.
  ZvImage usable(const std::string& name, const Bytes& bytes) {
    writeFile(path(name), bytes);
    char out[ZV_WWW_PATH_MAX];
    ZvImage image{};
    if (zvPreProcessFile(ZV_SCHEME_FILE, path(name).c_str(), out, sizeof out, ZV_TYPE_VRML) == ZV_OK)
      zvReadBmp(out, &image);
    return image;
  }
  bool cacheEmpty() {
    auto files = std::filesystem::recursive_directory_iterator(path("cache"));
    return std::none_of(begin(files), end(files), [](auto& f) { return f.is_regular_file(); });
  }
};

TEST_F(SniffTest, MisnamedTexturesAreReadAsWhatTheyAre) {
  const Bytes gif = makeGif(GifSpec{.width = 3, .height = 1, .pixels = {0, 1, 2}}),
              jpeg = makeJpeg(8, 4, 3, [](int, int, uint8_t[4]) {}),
              png = makePng(2, 5, 0 /* grey */, 8, Bytes(5 * 3, 0));
  struct Case {
    const char* name;
    const Bytes* bytes;
    int width, height;
  } cases[] = {{"jpeg.gif", &jpeg, 8, 4}, {"png.bmp", &png, 2, 5}, {"gif", &gif, 3, 1}, {"gif.jpg", &gif, 3, 1}};
  for (const Case& c : cases) {
    ZvImage image = usable(c.name, *c.bytes);
    EXPECT_EQ(image.width, c.width) << c.name << "\n" << sink.dump();
    EXPECT_EQ(image.height, c.height) << c.name;
    zvFreeImage(&image);
  }
  // A BMP called .png is used as it is, where it lies.
  ZvImage bmp = usable("bmp.png", convert(gif, ZV_IMAGE_GIF));
  EXPECT_EQ(bmp.width, 3);
  zvFreeImage(&bmp);
}

TEST_F(SniffTest, BrokenTexturesFailWithTheirDecodersReport) {
  Bytes png = makePng(4, 4, 0, 8, Bytes(4 * 5, 9));
  png.resize(png.size() / 2);
  EXPECT_EQ(usable("cut.gif", png).width, 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvPng2Bmp")) << sink.dump();
  sink.clear();
  Bytes jpeg = makeJpeg(8, 8, 1, [](int, int, uint8_t[4]) {});
  jpeg.resize(40);
  EXPECT_EQ(usable("cut.png", jpeg).width, 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvJpg2Bmp")) << sink.dump();
  sink.clear();
  // No signature at all: the name decides, and the GIF decoder says no.
  EXPECT_EQ(usable("noise.gif", Bytes{'n', 'o', 'i', 's', 'e', 0, 1, 2}).width, 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvReadGifHeader : failed to read GIF header.")) << sink.dump();
  EXPECT_TRUE(cacheEmpty());
}

}  // namespace
