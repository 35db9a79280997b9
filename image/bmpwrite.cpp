// bmpwrite.cpp — the BMP files every converter writes: two headers, a colour
// table below 24 bits, then rows bottom-up, each padded to four bytes.
// Integers are written byte by byte so that the file does not depend on
// the host's order or on structure padding.
#include <sys/stat.h>

#include <cstring>

#include "image/imagepriv.h"
#include "scene/scene.h"

namespace {

void put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

bool validDepth(int bitCount) {
  return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 24;
}

}  // namespace

int zvBMPRowSize(int width, int bitCount) {
  if (width < 1 || !validDepth(bitCount)) return 0;
  return int((int64_t(width) * bitCount + 31) / 32 * 4);
}

int zvBMPColorTableSize(const ZvBmpInfoHeader* info) {
  if (!info || info->bitCount >= 24) return 0;
  return info->clrUsed ? int(info->clrUsed) : 1 << info->bitCount;
}

int zvSetBMPHeader(ZvBmpFileHeader* file, ZvBmpInfoHeader* info, int width, int height,
                   int bitCount, int compression, int colors) {
  if (!file || !info) return ZV_FAIL;
  if (width < 1) {
    zvWarning("zvSetBMPHeader : invalid width for bitmap\n");
    return ZV_FAIL;
  }
  if (height < 1) {
    zvWarning("zvSetBMPHeader : invalid height for bitmap.\n");
    return ZV_FAIL;
  }
  if (!validDepth(bitCount)) {
    zvWarning("zvSetBMPHeader : invalid depth for bitmap\n");
    return ZV_FAIL;
  }
  // Row sizes and the file size are 32-bit fields; the limits keep far
  // below that, but a caller outside them must not wrap the header.
  if (width > ZV_IMAGE_MAX_SIDE || height > ZV_IMAGE_MAX_SIDE ||
      int64_t(width) * height > ZV_IMAGE_MAX_PIXELS) {
    zvWarning("zvSetBMPHeader : bitmap of %d x %d pixels is too large.\n", width, height);
    return ZV_FAIL;
  }
  if (compression != 0)
    zvWarning("zvSetBMPHeader : RLE and Bitfield encoding are not supported..use BI_RGB\n");
  if (colors < 0 || int64_t(colors) > (int64_t(1) << bitCount)) {
    zvWarning("zvSetBMPHeaders : invalid number for #colors...reset to default.\n");
    colors = 0;
  }
  *info = ZvBmpInfoHeader{};
  info->size = 40;
  info->width = width;
  info->height = height;
  info->planes = 1;
  info->bitCount = uint16_t(bitCount);
  info->compression = 0;
  info->sizeImage = uint32_t(zvBMPRowSize(width, bitCount)) * uint32_t(height);
  info->clrUsed = uint32_t(colors);
  info->clrImportant = 0;
  uint32_t offset = ZV_BMP_HEADERS_SIZE + 4 * uint32_t(zvBMPColorTableSize(info));
  *file = ZvBmpFileHeader{};
  file->type[0] = 'B';
  file->type[1] = 'M';
  file->offset = offset;
  file->size = offset + info->sizeImage;
  return ZV_OK;
}

int zvWriteBMPHeaders(FILE* out, const ZvBmpFileHeader* file, const ZvBmpInfoHeader* info,
                      const ZvRgbQuad* colors) {
  if (!out || !file || !info) return ZV_FAIL;
  uint8_t h[ZV_BMP_HEADERS_SIZE] = {};
  h[0] = uint8_t(file->type[0]);
  h[1] = uint8_t(file->type[1]);
  put32(h + 2, file->size);
  put16(h + 6, file->reserved1);
  put16(h + 8, file->reserved2);
  put32(h + 10, file->offset);
  put32(h + 14, info->size);
  put32(h + 18, uint32_t(info->width));
  put32(h + 22, uint32_t(info->height));
  put16(h + 26, info->planes);
  put16(h + 28, info->bitCount);
  put32(h + 30, info->compression);
  put32(h + 34, info->sizeImage);
  put32(h + 38, uint32_t(info->xPelsPerMeter));
  put32(h + 42, uint32_t(info->yPelsPerMeter));
  put32(h + 46, info->clrUsed);
  put32(h + 50, info->clrImportant);
  if (std::fwrite(h, 1, sizeof h, out) != sizeof h) {
    zvWarning("zvWriteBMPHeaders : failed to write header to file.\n");
    return ZV_FAIL;
  }
  int entries = zvBMPColorTableSize(info);
  for (int i = 0; i < entries; ++i) {
    uint8_t q[4] = {};
    if (colors) {
      q[0] = colors[i].blue;
      q[1] = colors[i].green;
      q[2] = colors[i].red;
    }
    if (std::fwrite(q, 1, 4, out) != 4) {
      zvWarning("zvWriteBMPHeaders : failed to write colormap to file.\n");
      return ZV_FAIL;
    }
  }
  return ZV_OK;
}

int zvWriteBMPRow(FILE* out, const uint8_t* pixels, int width, int bitCount) {
  int rowSize = zvBMPRowSize(width, bitCount);
  if (!out || !pixels || rowSize == 0) return ZV_FAIL;
  size_t dataBytes = (size_t(width) * size_t(bitCount) + 7) / 8;
  if (bitCount >= 8) {
    if (std::fwrite(pixels, 1, dataBytes, out) != dataBytes) {
      zvWarning("zvWriteBMPRow : failed to write imagedata to file.\n");
      return ZV_FAIL;
    }
  } else {
    // Pack in chunks; a partial last byte keeps zero bits after the last pixel.
    uint8_t chunk[512];
    int perByte = 8 / bitCount, mask = (1 << bitCount) - 1;
    size_t done = 0;
    while (done < dataBytes) {
      size_t n = dataBytes - done < sizeof chunk ? dataBytes - done : sizeof chunk;
      std::memset(chunk, 0, n);
      for (size_t b = 0; b < n; ++b)
        for (int k = 0; k < perByte; ++k) {
          size_t x = (done + b) * size_t(perByte) + size_t(k);
          if (x >= size_t(width)) break;
          chunk[b] |= uint8_t((pixels[x] & mask) << (8 - bitCount * (k + 1)));
        }
      if (std::fwrite(chunk, 1, n, out) != n) {
        zvWarning("zvWriteBMPRow : failed to write imagedata to file.\n");
        return ZV_FAIL;
      }
      done += n;
    }
  }
  static const uint8_t zeros[4] = {};
  size_t padding = size_t(rowSize) - dataBytes;
  if (padding && std::fwrite(zeros, 1, padding, out) != padding) {
    zvWarning("zvWriteBMPRow : failed to write padding data to file.\n");
    return ZV_FAIL;
  }
  return ZV_OK;
}

namespace zvimage {

int depthForColors(int colors) { return colors == 2 ? 1 : colors <= 16 ? 4 : 8; }

void removeOutput(const char* path) {
  struct stat st;
  if (path && stat(path, &st) == 0 && S_ISREG(st.st_mode)) std::remove(path);
}

bool bmpOpen(BmpOut* out, const char* path) {
  out->path = path;
  out->file = path ? std::fopen(path, "wb") : nullptr;
  out->opened = out->file != nullptr;
  return out->opened;
}

BmpResult bmpBegin(BmpOut* out, int width, int height, int bitCount, int colors,
                   const ZvRgbQuad* palette) {
  if (zvSetBMPHeader(&out->fileHeader, &out->info, width, height, bitCount, 0, colors) != ZV_OK ||
      zvWriteBMPHeaders(out->file, &out->fileHeader, &out->info, palette) != ZV_OK)
    return BmpResult::write;
  out->rowSize = zvBMPRowSize(width, bitCount);
  return BmpResult::ok;
}

BmpResult bmpPutRow(BmpOut* out, int displayRow, const uint8_t* pixels) {
  if (displayRow < 0 || displayRow >= out->info.height) return BmpResult::seek;
  long at = long(out->fileHeader.offset) + long(out->info.height - 1 - displayRow) * out->rowSize;
  if (std::fseek(out->file, at, SEEK_SET) != 0) return BmpResult::seek;
  if (zvWriteBMPRow(out->file, pixels, out->info.width, out->info.bitCount) != ZV_OK)
    return BmpResult::write;
  return BmpResult::ok;
}

BmpResult bmpClose(BmpOut* out) {
  FILE* f = out->file;
  out->file = nullptr;
  // Buffered writes fail for good only here (a full disk, say).
  return f && std::fclose(f) == 0 ? BmpResult::ok : BmpResult::close;
}

void bmpAbandon(BmpOut* out) {
  if (out->file) std::fclose(out->file);
  out->file = nullptr;
  if (out->opened) removeOutput(out->path);
  out->opened = false;
}

}  // namespace zvimage
