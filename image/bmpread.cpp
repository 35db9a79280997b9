// bmpread.cpp — reads the uncompressed BMPs we write and the ordinary ones
// found on the web: 1, 4, 8, 24 and 32 bits, BI_RGB, bottom-up or top-down.
#include "image/imagepriv.h"
#include "scene/scene.h"

namespace zvimage {

int decodeBmp(const char* who, const uint8_t* b, size_t size, ZvImage* out) {
  if (size < 26 || b[0] != 'B' || b[1] != 'M') {
    zvWarning("%s : not a BMP file.\n", who);
    return ZV_FAIL;
  }
  uint32_t offset = le32(b + 10), infoSize = le32(b + 14);
  // Windows headers only (40 bytes and the later, longer ones); the 12-byte
  // OS/2 header is not read.
  if (infoSize < 40 || infoSize > size - 14) {
    zvWarning("%s : unsupported or truncated BMP header.\n", who);
    return ZV_FAIL;
  }
  int32_t width = int32_t(le32(b + 18)), rawHeight = int32_t(le32(b + 22));
  unsigned bits = le16(b + 28);
  uint32_t compression = le32(b + 30), colorsUsed = le32(b + 46);
  bool topDown = rawHeight < 0;
  int64_t height = topDown ? -int64_t(rawHeight) : rawHeight;
  if (!imageSizeOk(who, width, long(height))) return ZV_FAIL;
  if (compression != 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
    zvWarning("%s : BMP of %u bits with compression %u is not supported.\n", who, bits,
              unsigned(compression));
    return ZV_FAIL;
  }
  uint8_t palette[256][3] = {};
  uint32_t colors = 0;
  if (bits <= 8) {
    uint32_t most = 1u << bits;
    colors = colorsUsed == 0 || colorsUsed > most ? most : colorsUsed;
    size_t at = 14 + size_t(infoSize);
    if (at + size_t(colors) * 4 > size) {
      zvWarning("%s : BMP colour table is truncated.\n", who);
      return ZV_FAIL;
    }
    for (uint32_t i = 0; i < colors; ++i) {
      palette[i][0] = b[at + 4 * i + 2];
      palette[i][1] = b[at + 4 * i + 1];
      palette[i][2] = b[at + 4 * i];
    }
  }
  size_t rowSize = (size_t(width) * bits + 31) / 32 * 4;
  size_t lastRow = (size_t(width) * bits + 7) / 8;  // the last row may lack its padding
  if (offset > size || size - offset < lastRow ||
      (size - offset - lastRow) / rowSize < size_t(height - 1)) {
    zvWarning("%s : BMP pixel data is truncated.\n", who);
    return ZV_FAIL;
  }
  uint8_t* rgba = newRgba(who, width, int(height));
  if (!rgba) return ZV_NOMEM;
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* row = b + offset + size_t(topDown ? y : height - 1 - y) * rowSize;
    uint8_t* o = rgba + size_t(y) * size_t(width) * 4;
    for (int32_t x = 0; x < width; ++x, o += 4) {
      if (bits >= 24) {
        const uint8_t* p = row + size_t(x) * (bits / 8);
        o[0] = p[2];
        o[1] = p[1];
        o[2] = p[0];
      } else {
        unsigned perByte = 8 / bits;
        unsigned shift = 8 - bits * (unsigned(x) % perByte + 1);
        unsigned index = (row[unsigned(x) / perByte] >> shift) & ((1u << bits) - 1);
        // An index past the table is black, as in the GIFs we convert.
        if (index < colors) {
          o[0] = palette[index][0];
          o[1] = palette[index][1];
          o[2] = palette[index][2];
        }
      }
      o[3] = 0xFF;
    }
  }
  out->width = width;
  out->height = int32_t(height);
  out->pixels = rgba;
  return ZV_OK;
}

}  // namespace zvimage
