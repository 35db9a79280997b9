// imagepriv.h — what the converters share inside image/: whole-file reads,
// the size limit, little-endian access and a BMP file whose rows can be
// written in any order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image/image.h"

namespace zvimage {

// Compressed files are small next to what they decode to; anything larger
// than the biggest decoded image we accept is not a texture.
constexpr size_t kMaxFileBytes = size_t(ZV_IMAGE_MAX_PIXELS) * 4;

enum class ReadResult { ok, noName, open, io, noMemory, tooBig };
// The whole file in one zvMalloc block (at least one byte long, so that an
// empty file still gets a pointer to free).
ReadResult readWholeFile(const char* path, uint8_t** bytes, size_t* size);

// Reports "<who> : ..." and answers false for an empty or oversized image.
bool imageSizeOk(const char* who, long width, long height);

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Removes a half-written output, but only a regular file: an output path
// may name a device.
void removeOutput(const char* path);

// A BMP being written. Rows arrive in display order (top first, or in GIF
// interlace order) and are placed by seeking, so no converter has to hold
// the whole image just to turn it upside down.
struct BmpOut {
  FILE* file = nullptr;
  const char* path = nullptr;
  bool opened = false;  // by us, so ours to remove on failure
  ZvBmpFileHeader fileHeader{};
  ZvBmpInfoHeader info{};
  long rowSize = 0;
};
enum class BmpResult { ok, seek, write, close };
bool bmpOpen(BmpOut* out, const char* path);
// Headers and colour table; zvSetBMPHeader and zvWriteBMPHeaders report.
BmpResult bmpBegin(BmpOut* out, int width, int height, int bitCount, int colors,
                   const ZvRgbQuad* palette);
BmpResult bmpPutRow(BmpOut* out, int displayRow, const uint8_t* pixels);
BmpResult bmpClose(BmpOut* out);
void bmpAbandon(BmpOut* out);  // closes and removes what bmpOpen created

// The BMP depth for a palette of this many colours: 2 gives 1 bit, up to 16
// gives 4, more 8.
int depthForColors(int colors);

// Decoders behind zvDecodeImageAs; who names the caller in reports.
int decodeGif(const char* who, const uint8_t* bytes, size_t size, ZvImage* out);
int decodeJpeg(const char* who, const uint8_t* bytes, size_t size, ZvImage* out);
int decodePng(const char* who, const uint8_t* bytes, size_t size, ZvImage* out);
int decodeBmp(const char* who, const uint8_t* bytes, size_t size, ZvImage* out);

// An RGBA buffer for an image whose size imageSizeOk has accepted; null
// (and a report) when memory runs out.
uint8_t* newRgba(const char* who, int width, int height);

}  // namespace zvimage
