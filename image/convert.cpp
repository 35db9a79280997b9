// convert.cpp — the entries that pick a decoder or converter by type, and
// the plumbing they share: whole-file reads, the size limit, RGBA buffers.
#include <cstring>

#include "image/imagepriv.h"
#include "scene/scene.h"

namespace zvimage {

ReadResult readWholeFile(const char* path, uint8_t** bytes, size_t* size) {
  *bytes = nullptr;
  *size = 0;
  if (!path || !*path) return ReadResult::noName;
  FILE* f = std::fopen(path, "rb");
  if (!f) return ReadResult::open;
  long length = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
  if (length < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    return ReadResult::io;
  }
  if (size_t(length) > kMaxFileBytes) {
    std::fclose(f);
    return ReadResult::tooBig;
  }
  uint8_t* buffer = static_cast<uint8_t*>(zvMalloc(size_t(length) + 1));
  if (!buffer) {
    std::fclose(f);
    return ReadResult::noMemory;
  }
  size_t got = std::fread(buffer, 1, size_t(length), f);
  std::fclose(f);
  if (got != size_t(length)) {
    zvFree(buffer);
    return ReadResult::io;
  }
  *bytes = buffer;
  *size = got;
  return ReadResult::ok;
}

namespace {
int32_t maxSide = ZV_IMAGE_MAX_SIDE, maxPixels = ZV_IMAGE_MAX_PIXELS;
}

bool imageSizeOk(const char* who, long width, long height) {
  if (width < 1 || height < 1) {
    zvWarning("%s : image of %ld x %ld pixels is empty.\n", who, width, height);
    return false;
  }
  if (width > maxSide || height > maxSide || int64_t(width) * height > maxPixels) {
    zvWarning("%s : image of %ld x %ld pixels is too large (at most %d on a side, %d in all).\n",
              who, width, height, int(maxSide), int(maxPixels));
    return false;
  }
  return true;
}

uint8_t* newRgba(const char* who, int width, int height) {
  auto* p = static_cast<uint8_t*>(zvMalloc(size_t(width) * size_t(height) * 4));
  if (!p) zvWarning("%s : cannot allocate memory.\n", who);
  return p;
}

}  // namespace zvimage

using namespace zvimage;

void zvSetImageLimits(int32_t side, int32_t pixels) {
  maxSide = side >= 1 && side <= ZV_IMAGE_MAX_SIDE ? side : ZV_IMAGE_MAX_SIDE;
  maxPixels = pixels >= 1 && pixels <= ZV_IMAGE_MAX_PIXELS ? pixels : ZV_IMAGE_MAX_PIXELS;
}

int zvImageTypeOfBytes(const void* bytes, size_t size) {
  const auto* b = static_cast<const uint8_t*>(bytes);
  if (!b) return -1;
  if (size >= 4 && std::memcmp(b, "GIF8", 4) == 0) return ZV_IMAGE_GIF;
  if (size >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return ZV_IMAGE_JPEG;
  if (size >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0) return ZV_IMAGE_PNG;
  if (size >= 2 && b[0] == 'B' && b[1] == 'M') return ZV_IMAGE_BMP;
  return -1;
}

int zvDecodeImageAs(int type, const void* bytes, size_t size, ZvImage* out) {
  static const char who[] = "zvDecodeImage";
  if (!out) return ZV_FAIL;
  *out = ZvImage{};
  if (!bytes) {
    zvWarning("%s : no image data.\n", who);
    return ZV_FAIL;
  }
  const auto* b = static_cast<const uint8_t*>(bytes);
  int result;
  switch (type) {
    case ZV_IMAGE_GIF:
      result = decodeGif(who, b, size, out);
      break;
    case ZV_IMAGE_JPEG:
      result = decodeJpeg(who, b, size, out);
      break;
    case ZV_IMAGE_PNG:
      result = decodePng(who, b, size, out);
      break;
    case ZV_IMAGE_BMP:
      result = decodeBmp(who, b, size, out);
      break;
    default:
      zvWarning("%s : type %d is not an image type.\n", who, type);
      return ZV_FAIL;
  }
  if (result != ZV_OK) {
    zvFreeImage(out);
    return result;
  }
  out->type = type;
  return ZV_OK;
}

int zvDecodeImage(const void* bytes, size_t size, ZvImage* out) {
  if (!out) return ZV_FAIL;
  *out = ZvImage{};
  int type = zvImageTypeOfBytes(bytes, size);
  if (type < 0) {
    zvWarning("zvDecodeImage : not a GIF, JPEG, PNG or BMP image.\n");
    return ZV_FAIL;
  }
  return zvDecodeImageAs(type, bytes, size, out);
}

void zvFreeImage(ZvImage* image) {
  if (!image) return;
  zvFree(image->pixels);
  *image = ZvImage{};
}

int zvReadBmp(const char* path, ZvImage* out) {
  static const char who[] = "zvReadBmp";
  if (!out) return ZV_FAIL;
  *out = ZvImage{};
  uint8_t* bytes;
  size_t size;
  switch (readWholeFile(path, &bytes, &size)) {
    case ReadResult::ok:
      break;
    case ReadResult::noName:
      zvWarning("%s : no file name.\n", who);
      return ZV_FAIL;
    case ReadResult::open:
      zvWarning("%s : failed to open file.\n", who);
      return ZV_FAIL;
    case ReadResult::noMemory:
      zvWarning("%s : cannot allocate memory.\n", who);
      return ZV_NOMEM;
    case ReadResult::tooBig:
      zvWarning("%s : file is too large.\n", who);
      return ZV_FAIL;
    case ReadResult::io:
      zvWarning("%s : failed to read data from file.\n", who);
      return ZV_FAIL;
  }
  int result = decodeBmp(who, bytes, size, out);
  zvFree(bytes);
  if (result != ZV_OK)
    zvFreeImage(out);
  else
    out->type = ZV_IMAGE_BMP;
  return result;
}

namespace {

int copyFile(const char* src, const char* dst) {
  static const char who[] = "zvConvertImageFile";
  uint8_t* bytes;
  size_t size;
  ReadResult r = readWholeFile(src, &bytes, &size);
  if (r != ReadResult::ok) {
    zvWarning("%s : failed to read %s.\n", who, src);
    return r == ReadResult::noMemory ? ZV_NOMEM : ZV_FAIL;
  }
  FILE* f = std::fopen(dst, "wb");
  bool ok = f && std::fwrite(bytes, 1, size, f) == size;
  if (f && std::fclose(f) != 0) ok = false;
  zvFree(bytes);
  if (!ok) {
    zvWarning("%s : failed to write %s.\n", who, dst);
    if (f) removeOutput(dst);
    return ZV_FAIL;
  }
  return ZV_OK;
}

}  // namespace

int zvConvertImageFile(const char* src, const char* dst, int typeCode) {
  if (!src || !dst) {
    zvWarning("zvConvertImageFile : no file name.\n");
    return ZV_FAIL;
  }
  switch (typeCode) {
    case ZV_IMAGE_GIF:
      return zvGif2Bmp(src, dst, nullptr);
    case ZV_IMAGE_JPEG: {
      ZvJpegOptions options;
      zvDefaultJpegOptions(&options);
      return zvJpg2Bmp(src, dst, 0, &options);
    }
    case ZV_IMAGE_PNG:
      return zvPng2Bmp(src, dst);
    case ZV_IMAGE_BMP:
      return std::strcmp(src, dst) == 0 ? ZV_OK : copyFile(src, dst);
    default:
      zvWarning("zvConvertImageFile : type %d is not an image type.\n", typeCode);
      return ZV_FAIL;
  }
}
