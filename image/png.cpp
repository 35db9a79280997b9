// png.cpp — PNG through libpng, to BMP the way GIF and JPEG go (palettes
// kept, alpha dropped) or to RGBA for the renderer. libpng allocates through
// zvMalloc, so its blocks are counted like ours, and its errors jump back
// here through setjmp instead of ending the process.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "image/imagepriv.h"
#include "scene/scene.h"

namespace {

using namespace zvimage;

// Ancillary chunks (text, profiles) are not ours to bound by the image
// limit; this stops a file from asking for an absurd one.
constexpr png_alloc_size_t kMaxChunk = 8 * 1024 * 1024;

enum class PngMode { rgba, bmp };

// Everything that must survive a longjmp lives here; the caller of the
// function holding the setjmp releases it.
struct PngJob {
  const char* who;
  const uint8_t* bytes;
  size_t size, pos;
  png_structp png;
  png_infop info;
  uint8_t* image;  // rowBytes * height
  png_bytepp rows;
  int colorType, bitDepth;  // as stored, before our transforms
  bool noMemory;
};

void pngError(png_structp png, png_const_charp text) {
  auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
  zvWarning("%s : %s.\n", job->who, text ? text : "PNG error");
  png_longjmp(png, 1);
}

// libpng warns about harmless oddities (a stray profile, say); they are not
// worth the messages window.
void pngWarning(png_structp png, png_const_charp text) {
  auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
  zvDebug(ZV_DEBUG_ZV, "%s : %s.\n", job->who, text ? text : "PNG warning");
}

png_voidp pngMalloc(png_structp png, png_alloc_size_t size) {
  void* p = zvMalloc(size ? size : 1);
  if (!p) static_cast<PngJob*>(png_get_mem_ptr(png))->noMemory = true;
  return p;
}

void pngFree(png_structp, png_voidp p) { zvFree(p); }

void pngRead(png_structp png, png_bytep data, png_size_t length) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  if (job->size - job->pos < length) png_error(png, "file ends early");
  std::memcpy(data, job->bytes + job->pos, length);
  job->pos += length;
}

void releaseJob(PngJob* job) {
  if (job->png) png_destroy_read_struct(&job->png, job->info ? &job->info : nullptr, nullptr);
  zvFree(job->rows);
  zvFree(job->image);
  job->rows = nullptr;
  job->image = nullptr;
}

// The BMP form: one palette index (or grey level) a byte, or blue-green-red.
void setBmpTransforms(png_structp png, png_infop info) {
  int type = png_get_color_type(png, info);
  png_set_strip_16(png);
  png_set_packing(png);
  if (type & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(png);
  if (type == PNG_COLOR_TYPE_RGB || type == PNG_COLOR_TYPE_RGB_ALPHA) png_set_bgr(png);
}

void setRgbaTransforms(png_structp png, png_infop info) {
  png_set_expand(png);  // palette and low-bit grey to 8 bits, tRNS to alpha
  png_set_strip_16(png);
  int type = png_get_color_type(png, info);
  if (!(type & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);  // only where there is none
}

// Reads the whole image into job->image, transformed for mode. 0, -1 or -5.
int decodeRows(PngJob* job, PngMode mode) {
  if (setjmp(png_jmpbuf(job->png))) return job->noMemory ? ZV_NOMEM : ZV_FAIL;
  png_set_read_fn(job->png, job, pngRead);
  png_set_chunk_malloc_max(job->png, kMaxChunk);
  png_read_info(job->png, job->info);
  png_uint_32 width = png_get_image_width(job->png, job->info);
  png_uint_32 height = png_get_image_height(job->png, job->info);
  if (!imageSizeOk(job->who, long(width), long(height))) return ZV_FAIL;
  job->colorType = png_get_color_type(job->png, job->info);
  job->bitDepth = png_get_bit_depth(job->png, job->info);
  // Deflate expands at most about 1032 to 1; a file too short for the
  // pixels it declares is refused before their buffer is made.
  uint64_t storedBits =
      uint64_t(width) * height * png_get_channels(job->png, job->info) * unsigned(job->bitDepth);
  if (storedBits / 8 / 1100 > job->size - job->pos)
    png_error(job->png, "file too short for its image");
  if (mode == PngMode::bmp)
    setBmpTransforms(job->png, job->info);
  else
    setRgbaTransforms(job->png, job->info);
  png_set_interlace_handling(job->png);
  png_read_update_info(job->png, job->info);
  size_t rowBytes = png_get_rowbytes(job->png, job->info);
  if (rowBytes == 0 || rowBytes > size_t(width) * 4) png_error(job->png, "unexpected row size");
  job->image = static_cast<uint8_t*>(zvMalloc(rowBytes * height));
  job->rows = static_cast<png_bytepp>(zvMalloc(sizeof(png_bytep) * height));
  if (!job->image || !job->rows) {
    job->noMemory = true;
    zvWarning("%s : cannot allocate memory.\n", job->who);
    return ZV_NOMEM;
  }
  for (png_uint_32 y = 0; y < height; ++y) job->rows[y] = job->image + size_t(y) * rowBytes;
  png_read_image(job->png, job->rows);
  // Up to IEND, so that a file cut anywhere fails.
  png_read_end(job->png, nullptr);
  return ZV_OK;
}

int startJob(PngJob* job, const char* who, const uint8_t* bytes, size_t size) {
  std::memset(job, 0, sizeof *job);
  job->who = who;
  job->bytes = bytes;
  job->size = size;
  if (size < 8 || png_sig_cmp(bytes, 0, 8) != 0) {
    zvWarning("%s : not a PNG file.\n", who);
    return ZV_FAIL;
  }
  job->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, job, pngError, pngWarning, job,
                                      pngMalloc, pngFree);
  if (job->png) job->info = png_create_info_struct(job->png);
  if (!job->png || !job->info) {
    zvWarning("%s : cannot allocate memory.\n", who);
    return ZV_NOMEM;
  }
  return ZV_OK;
}

int writeBmp(PngJob* job, BmpOut* bmp) {
  png_structp png = job->png;
  png_infop info = job->info;
  int width = int(png_get_image_width(png, info)), height = int(png_get_image_height(png, info));
  int type = job->colorType, bits = 24, colors = 0;
  ZvRgbQuad palette[256] = {};
  if (type == PNG_COLOR_TYPE_PALETTE) {
    png_colorp entries = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &entries, &count) == 0 || count < 1) count = 0;
    for (int i = 0; i < count && i < 256; ++i)
      palette[i] = {entries[i].blue, entries[i].green, entries[i].red, 0};
    colors = count > 0 ? count : 256;
    bits = depthForColors(colors);
  } else if (!(type & PNG_COLOR_MASK_COLOR)) {
    // Grey levels after stripping to at most 8 bits.
    int depth = job->bitDepth;
    colors = 1 << (depth > 8 ? 8 : depth);
    for (int i = 0; i < colors; ++i) {
      auto g = uint8_t(i * 255 / (colors - 1));
      palette[i] = {g, g, g, 0};
    }
    bits = depthForColors(colors);
  }
  if (bmpBegin(bmp, width, height, bits, colors, palette) != BmpResult::ok) return ZV_FAIL;
  int limit = bits == 24 ? 256 : 1 << bits;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = job->rows[y];
    // Indices the table lacks take entry 0, as for GIF.
    if (bits < 8)
      for (int x = 0; x < width; ++x)
        if (row[x] >= limit) row[x] = 0;
    if (bmpPutRow(bmp, y, row) != BmpResult::ok) return ZV_FAIL;
  }
  return bmpClose(bmp) == BmpResult::ok ? ZV_OK : ZV_FAIL;
}

}  // namespace

int zvPng2Bmp(const char* png, const char* bmp) {
  static const char who[] = "zvPng2Bmp";
  if (!png || !*png || !bmp || !*bmp) {
    zvWarning("%s : no file name.\n", who);
    return ZV_FAIL;
  }
  uint8_t* bytes;
  size_t size;
  switch (readWholeFile(png, &bytes, &size)) {
    case ReadResult::ok:
      break;
    case ReadResult::noMemory:
      zvWarning("%s : cannot allocate memory.\n", who);
      return ZV_NOMEM;
    case ReadResult::tooBig:
      zvWarning("%s : pngfile is too large.\n", who);
      return ZV_FAIL;
    default:
      zvWarning("%s : can't open pngfile %s\n", who, png);
      return ZV_FAIL;
  }
  PngJob job;
  int result = startJob(&job, who, bytes, size);
  if (result == ZV_OK) result = decodeRows(&job, PngMode::bmp);
  BmpOut out;
  if (result == ZV_OK && !bmpOpen(&out, bmp)) {
    zvWarning("%s : can't open bmpfile %s\n", who, bmp);
    result = ZV_FAIL;
  } else if (result == ZV_OK) {
    result = writeBmp(&job, &out);
    if (result != ZV_OK) {
      zvWarning("%s : failed to write bmpfile.\n", who);
      bmpAbandon(&out);
    }
  }
  releaseJob(&job);
  zvFree(bytes);
  return result;
}

namespace zvimage {

int decodePng(const char* who, const uint8_t* bytes, size_t size, ZvImage* out) {
  PngJob job;
  int result = startJob(&job, who, bytes, size);
  if (result == ZV_OK) result = decodeRows(&job, PngMode::rgba);
  if (result == ZV_OK) {
    out->width = int32_t(png_get_image_width(job.png, job.info));
    out->height = int32_t(png_get_image_height(job.png, job.info));
    out->pixels = job.image;
    job.image = nullptr;  // the image owns it now
  }
  releaseJob(&job);
  return result;
}

}  // namespace zvimage
