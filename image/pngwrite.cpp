// pngwrite.cpp — RGBA pictures to PNG files: what --screenshot leaves behind.
// libpng reports errors by longjmp, so nothing that needs a destructor may
// live between setjmp and the end of the write.
#include <png.h>

#include <csetjmp>
#include <cstdio>

#include "image/image.h"
#include "scene/scene.h"

namespace {

void writeError(png_structp png, png_const_charp text) {
  zvWarning("zvWritePng : %s.", text ? text : "PNG error");
  png_longjmp(png, 1);
}
void writeWarning(png_structp, png_const_charp) {}

}  // namespace

int zvWritePng(const char* path, int width, int height, int stride, const uint8_t* rgba) {
  if (!path || !rgba || width < 1 || height < 1 || stride < width * 4) {
    zvWarning("zvWritePng : Invalid argument.");
    return ZV_FAIL;
  }
  FILE* out = std::fopen(path, "wb");
  if (!out) {
    zvWarning("zvWritePng : cannot open %s", path);
    return ZV_FAIL;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, writeError, writeWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    std::fclose(out);
    return ZV_NOMEM;
  }
  volatile int status = ZV_FAIL;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, out);
    // A screenshot is written once per run and read by tools: the fastest
    // deflate with one fixed filter costs well under half of the adaptive
    // choice, and rendered frames (flat fills, vertical runs) lose little.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_IHDR(png, info, uint32_t(width), uint32_t(height), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, rgba + size_t(y) * size_t(stride));
    png_write_end(png, nullptr);
    status = ZV_OK;
  }
  png_destroy_write_struct(&png, &info);
  if (std::fclose(out) != 0 && status == ZV_OK) {
    zvWarning("zvWritePng : cannot write %s", path);
    status = ZV_FAIL;
  }
  return status;
}
