#include "tests/image/imagetest.h"

namespace {

using namespace imagetest;

class ConvertTest : public ImageTest {};

TEST_F(ConvertTest, TypeCodesPickTheConverterAndBmpIsCopied) {
  const Bytes gif = makeGif(GifSpec{.pixels = {0, 1, 2, 3}}), jpeg = makeJpeg(8, 8, 1, [](int, int, uint8_t[4]) {}),
              png = makePng(1, 1, 0 /* grey */, 8, {7}), bmp = convert(gif, ZV_IMAGE_GIF);
  EXPECT_EQ(le16(convert(jpeg, ZV_IMAGE_JPEG), 28), 8);
  EXPECT_EQ(le16(convert(png, ZV_IMAGE_PNG), 28), 8);
  EXPECT_EQ(convert(bmp, ZV_IMAGE_BMP), bmp);
  EXPECT_EQ(zvConvertImageFile(path("in").c_str(), path("in").c_str(), ZV_IMAGE_BMP), ZV_OK);
  EXPECT_EQ(readFile(path("in")), bmp);
  for (auto [b, type] :
       {std::pair{&gif, ZV_IMAGE_GIF}, {&jpeg, ZV_IMAGE_JPEG}, {&png, ZV_IMAGE_PNG}, {&bmp, ZV_IMAGE_BMP}})
    EXPECT_EQ(zvImageTypeOfBytes(b->data(), b->size()), type);
  EXPECT_EQ(zvImageTypeOfBytes("GIF", 3), -1);
  expectCleanFailure(jpeg, ZV_IMAGE_GIF,
                     "zvReadGifHeader : failed to read GIF header.");  // named wrongly
  expectCleanFailure(gif, 11, "zvConvertImageFile : type 11 is not an image type.");
  ZvImage im;
  EXPECT_EQ(zvDecodeImage("plain text", 10, &im), ZV_FAIL);
  EXPECT_EQ(zvDecodeImage(nullptr, 0, &im), ZV_FAIL);
  EXPECT_EQ(zvConvertImageFile(nullptr, "x", ZV_IMAGE_GIF), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvConvertImageFile : no file name."));
}

TEST_F(ConvertTest, InMemoryDecodersSurviveMemoryFailures) {
  const Bytes inputs[] = {makeGif(GifSpec{.pixels = {0, 1, 2, 3}}), makeJpeg(8, 8, 3, [](int, int, uint8_t[4]) {}),
                          makePng(2, 2, 2 /* RGB */, 8, Bytes(12, 5))};
  for (int type : {ZV_IMAGE_GIF, ZV_IMAGE_JPEG, ZV_IMAGE_PNG})
    expectOutOfMemoryWalk(
        [&] {
          const Bytes& b = inputs[type == ZV_IMAGE_GIF ? 0 : type == ZV_IMAGE_JPEG ? 1 : 2];
          ZvImage im;
          int r = zvDecodeImage(b.data(), b.size(), &im);
          EXPECT_EQ(im.pixels == nullptr, r != ZV_OK);
          EXPECT_EQ(im.type, r == ZV_OK ? type : 0);
          zvFreeImage(&im);
          return r;
        },
        "");
}

}  // namespace
