// raster.cpp — rasters with reference counts, the named texture registry,
// texture masks and movie frames, and the BMP and Sun raster readers.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>

#include "rwlib/cpupriv.h"

namespace {

constexpr int kMaxSide = 16384;

int bad(int code = RW_E_BADPARAM) {
  rwSetError(code);
  return 0;
}

std::map<std::string, RwTexture*> gTextures;

RwRaster* newRaster(int width, int height) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  auto* raster = new (std::nothrow) RwRaster();
  if (!raster) {
    rwSetError(RW_E_NOMEM);
    return nullptr;
  }
  try {
    raster->rgba.assign(size_t(width) * size_t(height) * 4, 0);
  } catch (const std::bad_alloc&) {
    delete raster;
    rwSetError(RW_E_NOMEM);
    return nullptr;
  }
  raster->width = width;
  raster->height = height;
  raster->refs = 1;
  return raster;
}

RwRaster* readRasterFile(const char* file);

}  // namespace

// ---------------------------------------------------------------------------
// Rasters

RwRaster* rwCreateRaster(int width, int height, const uint8_t* rgba) {
  RwRaster* raster = newRaster(width, height);
  if (raster && rgba) std::memcpy(raster->rgba.data(), rgba, raster->rgba.size());
  return raster;
}

void rwReleaseRaster(RwRaster* raster) {
  if (--raster->refs > 0) return;
  rwGpuForgetRaster(raster);
  delete raster;
}

int rwDestroyRaster(RwRaster* raster) {
  if (!raster || raster->refs <= 0) return bad();
  rwReleaseRaster(raster);
  return 1;
}

int rwAddRasterRef(RwRaster* raster) {
  if (!raster || raster->refs <= 0) return bad();
  ++raster->refs;
  return 1;
}

int rwGetRasterWidth(const RwRaster* raster) {
  if (!raster) return bad();
  return raster->width;
}

int rwGetRasterHeight(const RwRaster* raster) {
  if (!raster) return bad();
  return raster->height;
}

RwRaster* rwReadRaster(const char* file, int /*flags*/) {
  if (!file) {
    bad();
    return nullptr;
  }
  return readRasterFile(file);
}

RwRaster* rwReadMaskRaster(const char* file) { return rwReadRaster(file, 0); }

// ---------------------------------------------------------------------------
// Textures

void rwReleaseTexture(RwTexture* texture) {
  if (--texture->refs > 0) return;
  rwGpuForgetTexture(texture);
  if (!texture->name.empty()) {  // the last polygon went before the creator
    auto it = gTextures.find(texture->name);
    if (it != gTextures.end() && it->second == texture) gTextures.erase(it);
  }
  rwReleaseRaster(texture->raster);
  if (texture->mask) rwReleaseRaster(texture->mask);
  delete texture;
}

RwTexture* rwCreateNamedTexture(const char* name, RwRaster* raster) {
  if (!name || !*name || !raster || raster->refs <= 0 || gTextures.count(name)) {
    bad();
    return nullptr;
  }
  auto* texture = new (std::nothrow) RwTexture();
  if (!texture) {
    bad(RW_E_NOMEM);
    return nullptr;
  }
  try {
    texture->name = name;
    gTextures[texture->name] = texture;
  } catch (const std::bad_alloc&) {
    delete texture;
    bad(RW_E_NOMEM);
    return nullptr;
  }
  ++raster->refs;
  texture->raster = raster;
  texture->refs = 1;
  texture->frameWidth = raster->width;
  texture->frameHeight = raster->height;
  texture->frameCount = 1;
  return texture;
}

RwTexture* rwFindNamedTexture(const char* name) {
  if (!name) {
    bad();
    return nullptr;
  }
  auto it = gTextures.find(name);
  return it == gTextures.end() ? nullptr : it->second;
}

RwTexture* rwReadNamedTexture(const char* file) {
  if (!file || !*file) {
    bad();
    return nullptr;
  }
  if (RwTexture* known = rwFindNamedTexture(file)) return known;
  RwRaster* raster = rwReadRaster(file, 0);
  if (!raster) return nullptr;
  RwTexture* texture = rwCreateNamedTexture(file, raster);
  rwReleaseRaster(raster);  // the texture holds the only reference now
  return texture;
}

// Only the creator destroys: polygons give their references back through
// rwSetPolygonTexture and by going with their clump.
int rwDestroyTexture(RwTexture* texture) {
  if (!texture || texture->name.empty()) return bad();
  auto it = gTextures.find(texture->name);
  if (it != gTextures.end() && it->second == texture) gTextures.erase(it);
  texture->name.clear();
  rwReleaseTexture(texture);
  return 1;
}

int rwSetTextureMask(RwTexture* texture, RwRaster* mask) {
  if (!texture) return bad();
  if (mask && (mask->width != texture->raster->width || mask->height != texture->raster->height)) return bad();
  if (mask == texture->mask) return 1;
  if (mask) ++mask->refs;
  if (texture->mask) rwReleaseRaster(texture->mask);
  texture->mask = mask;
  ++texture->version;
  return 1;
}

int rwSetTextureFrameSize(RwTexture* texture, int width, int height) {
  if (!texture || width != texture->raster->width || height <= 0 || texture->raster->height % height) return bad();
  texture->frameWidth = width;
  texture->frameHeight = height;
  texture->frameCount = texture->raster->height / height;
  texture->frame = 0;
  ++texture->version;
  return 1;
}

int rwGetTextureFrameCount(const RwTexture* texture) {
  if (!texture) return bad();
  return texture->frameCount;
}

int rwTextureNextFrame(RwTexture* texture) {
  if (!texture) return bad();
  if (texture->frameCount > 1) {
    texture->frame = (texture->frame + 1) % texture->frameCount;
    ++texture->version;
  }
  return 1;
}

int rwSetTextureFrame(RwTexture* texture, int frame) {
  if (!texture || frame < 0 || frame >= texture->frameCount) return bad();
  if (frame != texture->frame) {
    texture->frame = frame;
    ++texture->version;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Readers. Every count and offset in a file is checked before it is used;
// a file that promises more than it holds is refused, not padded.

namespace {

// Pictures larger than this are refused even when each side is in range,
// so that a few bytes of run-length data cannot claim a gigabyte.
constexpr uint64_t kMaxPixels = uint64_t(1) << 26;
constexpr long kMaxFileSize = 1L << 30;

struct Bytes {
  const uint8_t* p;
  size_t size;
  uint32_t le16(size_t at) const { return at + 2 <= size ? uint32_t(p[at] | p[at + 1] << 8) : 0; }
  uint32_t le32(size_t at) const {
    return at + 4 <= size ? uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 | uint32_t(p[at + 2]) << 16 |
                                uint32_t(p[at + 3]) << 24
                          : 0;
  }
  uint32_t be32(size_t at) const {
    return at + 4 <= size ? uint32_t(p[at]) << 24 | uint32_t(p[at + 1]) << 16 | uint32_t(p[at + 2]) << 8 |
                                uint32_t(p[at + 3])
                          : 0;
  }
};

RwRaster* fail(int code) {
  rwSetError(code);
  return nullptr;
}

bool sizeOk(int64_t w, int64_t h) {
  return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && uint64_t(w) * uint64_t(h) <= kMaxPixels;
}

void put(RwRaster* r, int x, int y, uint8_t red, uint8_t green, uint8_t blue) {
  uint8_t* px = &r->rgba[(size_t(y) * size_t(r->width) + size_t(x)) * 4];
  px[0] = red;
  px[1] = green;
  px[2] = blue;
  px[3] = 255;
}

// One channel of a bit-field pixel, scaled to 8 bits.
uint8_t channel(uint32_t pixel, uint32_t mask) {
  if (!mask) return 0;
  int shift = __builtin_ctz(mask);
  uint32_t max = mask >> shift;
  return uint8_t(uint64_t((pixel & mask) >> shift) * 255 / max);
}

struct Palette {
  uint8_t rgb[256][3] = {};
  uint32_t count = 0;
  void apply(RwRaster* r, int x, int y, uint32_t index) const {
    if (index < count)
      put(r, x, y, rgb[index][0], rgb[index][1], rgb[index][2]);
    else
      put(r, x, y, 0, 0, 0);
  }
};

// Run-length data (8 or 4 bits a pixel) into palette indices, rows in file
// order. Pixels the runs never reach keep index 0.
void decodeRle(const Bytes& b, size_t at, int bits, int w, int h, std::vector<uint8_t>& idx) {
  int x = 0, y = 0;
  auto set = [&](uint32_t v) {
    if (x < w && y < h) idx[size_t(y) * size_t(w) + size_t(x)] = uint8_t(v);
    ++x;
  };
  while (at + 2 <= b.size && y < h) {
    uint32_t n = b.p[at], c = b.p[at + 1];
    at += 2;
    if (n) {
      for (uint32_t k = 0; k < n; ++k) set(bits == 8 ? c : (k & 1) ? c & 15 : c >> 4);
    } else if (c == 0) {
      x = 0;
      ++y;
    } else if (c == 1) {
      return;
    } else if (c == 2) {
      if (at + 2 > b.size) return;
      x += b.p[at];
      y += b.p[at + 1];
      at += 2;
    } else {
      size_t bytes = bits == 8 ? c : (c + 1) / 2;
      if (at + bytes > b.size) return;
      for (uint32_t k = 0; k < c; ++k) set(bits == 8 ? b.p[at + k] : (k & 1) ? b.p[at + k / 2] & 15 : b.p[at + k / 2] >> 4);
      at += (bytes + 1) & ~size_t(1);
    }
  }
}

RwRaster* readBmp(const Bytes& b) {
  if (b.size < 26) return fail(RW_E_FORMAT);
  uint32_t offBits = b.le32(10), headerSize = b.le32(14);
  int64_t w, h;
  uint32_t bpp, compression = 0, colorsUsed = 0, entry;
  if (headerSize == 12) {
    w = b.le16(18);
    h = int16_t(b.le16(20));
    bpp = b.le16(24);
    entry = 3;
  } else if (headerSize >= 40 && headerSize <= 124) {
    if (b.size < 14 + uint64_t(headerSize)) return fail(RW_E_FORMAT);
    w = int32_t(b.le32(18));
    h = int32_t(b.le32(22));
    bpp = b.le16(28);
    compression = b.le32(30);
    colorsUsed = b.le32(46);
    entry = 4;
  } else {
    return fail(RW_E_FORMAT);
  }
  bool topDown = h < 0;
  if (topDown) h = -h;
  if (!sizeOk(w, h) || offBits >= b.size) return fail(RW_E_FORMAT);
  bool known = (compression == 0 && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32)) ||
               (compression == 1 && bpp == 8) || (compression == 2 && bpp == 4) ||
               (compression == 3 && (bpp == 16 || bpp == 32));
  if (!known) return fail(RW_E_FORMAT);

  uint32_t masks[3] = {0x7c00, 0x03e0, 0x001f};
  if (bpp == 32) masks[0] = 0xff0000, masks[1] = 0xff00, masks[2] = 0xff;
  size_t paletteAt = 14 + size_t(headerSize);
  if (compression == 3) {
    if (b.size < 66) return fail(RW_E_FORMAT);
    for (int i = 0; i < 3; ++i) masks[i] = b.le32(54 + size_t(i) * 4);
    if (headerSize == 40) paletteAt += 12;
  }
  Palette pal;
  if (bpp <= 8) {
    uint64_t n = colorsUsed ? colorsUsed : 1u << bpp;
    n = std::min<uint64_t>(n, 1u << bpp);
    if (paletteAt < b.size) n = std::min<uint64_t>(n, (b.size - paletteAt) / entry);
    else n = 0;
    if (!n) return fail(RW_E_FORMAT);
    pal.count = uint32_t(n);
    for (uint32_t i = 0; i < pal.count; ++i) {
      const uint8_t* e = b.p + paletteAt + size_t(i) * entry;
      pal.rgb[i][0] = e[2];
      pal.rgb[i][1] = e[1];
      pal.rgb[i][2] = e[0];
    }
  }

  int W = int(w), H = int(h);
  auto outRow = [&](int fileRow) { return topDown ? fileRow : H - 1 - fileRow; };
  if (compression == 1 || compression == 2) {
    std::vector<uint8_t> idx;
    try {
      idx.assign(size_t(W) * size_t(H), 0);
    } catch (const std::bad_alloc&) {
      return fail(RW_E_NOMEM);
    }
    decodeRle(b, offBits, bpp, W, H, idx);
    RwRaster* r = newRaster(W, H);
    if (!r) return nullptr;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) pal.apply(r, x, outRow(y), idx[size_t(y) * size_t(W) + size_t(x)]);
    return r;
  }

  uint64_t stride = (uint64_t(W) * bpp + 31) / 32 * 4;
  if (stride * uint64_t(H) > b.size - offBits) return fail(RW_E_FORMAT);
  RwRaster* r = newRaster(W, H);
  if (!r) return nullptr;
  for (int y = 0; y < H; ++y) {
    const uint8_t* row = b.p + offBits + size_t(stride) * size_t(y);
    int oy = outRow(y);
    for (int x = 0; x < W; ++x) {
      switch (bpp) {
        case 1: pal.apply(r, x, oy, (row[x >> 3] >> (7 - (x & 7))) & 1); break;
        case 4: pal.apply(r, x, oy, (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4); break;
        case 8: pal.apply(r, x, oy, row[x]); break;
        case 16: {
          uint32_t v = uint32_t(row[2 * x] | row[2 * x + 1] << 8);
          put(r, x, oy, channel(v, masks[0]), channel(v, masks[1]), channel(v, masks[2]));
          break;
        }
        case 24: put(r, x, oy, row[3 * x + 2], row[3 * x + 1], row[3 * x]); break;
        default: {
          const uint8_t* q = row + 4 * x;
          uint32_t v = uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 | uint32_t(q[3]) << 24;
          put(r, x, oy, channel(v, masks[0]), channel(v, masks[1]), channel(v, masks[2]));
        }
      }
    }
  }
  return r;
}

RwRaster* readSun(const Bytes& b) {
  if (b.size < 32) return fail(RW_E_FORMAT);
  int64_t w = int32_t(b.be32(4)), h = int32_t(b.be32(8));
  uint32_t depth = b.be32(12), type = b.be32(20), mapType = b.be32(24), mapLength = b.be32(28);
  if (!sizeOk(w, h) || (depth != 1 && depth != 8 && depth != 24 && depth != 32) || type > 3 || mapType > 2 ||
      mapLength > b.size - 32)
    return fail(RW_E_FORMAT);
  Palette pal;
  if (mapType == 1 && mapLength) {
    uint32_t n = mapLength / 3;
    if (n > 256) return fail(RW_E_FORMAT);
    pal.count = n;
    for (uint32_t i = 0; i < n; ++i)
      for (int c = 0; c < 3; ++c) pal.rgb[i][c] = b.p[32 + size_t(c) * n + i];
  }
  int W = int(w), H = int(h);
  size_t stride = (size_t(W) * depth + 15) / 16 * 2;
  size_t need = stride * size_t(H);
  const uint8_t* data = b.p + 32 + mapLength;
  size_t avail = b.size - 32 - mapLength;
  std::vector<uint8_t> unpacked;
  if (type == 2) {
    try {
      unpacked.resize(need);
    } catch (const std::bad_alloc&) {
      return fail(RW_E_NOMEM);
    }
    size_t in = 0, out = 0;
    while (out < need && in < avail) {
      uint8_t v = data[in++];
      if (v != 0x80) {
        unpacked[out++] = v;
        continue;
      }
      if (in >= avail) break;
      size_t n = data[in++];
      if (n == 0) {
        unpacked[out++] = 0x80;
        continue;
      }
      if (in >= avail) break;
      v = data[in++];
      for (size_t k = 0; k <= n && out < need; ++k) unpacked[out++] = v;
    }
    if (out < need) return fail(RW_E_FORMAT);
    data = unpacked.data();
  } else if (avail < need) {
    return fail(RW_E_FORMAT);
  }
  RwRaster* r = newRaster(W, H);
  if (!r) return nullptr;
  bool rgbOrder = type == 3;
  for (int y = 0; y < H; ++y) {
    const uint8_t* row = data + stride * size_t(y);
    for (int x = 0; x < W; ++x) {
      switch (depth) {
        case 1: {
          uint32_t bit = (row[x >> 3] >> (7 - (x & 7))) & 1;
          if (pal.count >= 2)
            pal.apply(r, x, y, bit);
          else
            put(r, x, y, bit ? 0 : 255, bit ? 0 : 255, bit ? 0 : 255);  // 1 is ink
          break;
        }
        case 8:
          if (pal.count)
            pal.apply(r, x, y, row[x]);
          else
            put(r, x, y, row[x], row[x], row[x]);
          break;
        case 24: {
          const uint8_t* q = row + 3 * x;
          rgbOrder ? put(r, x, y, q[0], q[1], q[2]) : put(r, x, y, q[2], q[1], q[0]);
          break;
        }
        default: {
          const uint8_t* q = row + 4 * x + 1;  // after the pad byte
          rgbOrder ? put(r, x, y, q[0], q[1], q[2]) : put(r, x, y, q[2], q[1], q[0]);
        }
      }
    }
  }
  return r;
}

RwRaster* readRasterFile(const char* file) {
  FILE* f = std::fopen(file, "rb");
  if (!f) return fail(RW_E_FILE);
  std::vector<uint8_t> data;
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  if (size < 0 || size > kMaxFileSize || std::fseek(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    return fail(size > kMaxFileSize ? RW_E_FORMAT : RW_E_FILE);
  }
  try {
    data.resize(size_t(size));
  } catch (const std::bad_alloc&) {
    std::fclose(f);
    return fail(RW_E_NOMEM);
  }
  size_t got = data.empty() ? 0 : std::fread(data.data(), 1, data.size(), f);
  std::fclose(f);
  if (got != data.size()) return fail(RW_E_FILE);
  Bytes b{data.data(), data.size()};
  if (b.size >= 2 && b.p[0] == 'B' && b.p[1] == 'M') return readBmp(b);
  if (b.be32(0) == 0x59a66a95u) return readSun(b);
  return fail(RW_E_FORMAT);
}

}  // namespace
