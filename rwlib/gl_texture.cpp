// gl_texture.cpp — rasters and textures as GL textures.
//
// A texture is uploaded as what polygons see: the current movie frame only
// (so repeat wrapping works on the tile), with the mask's brightness as
// alpha, mipmapped. It is uploaded again only when the texture, its raster,
// its mask or its frame changed. A raster used as a backdrop gets a plain
// texture of its own, sampled texel for pixel.
#include <algorithm>

#include "rwlib/gl_priv.h"

namespace {

bool rasterIsWhole(const RwRaster* raster) {
  return raster && raster->width > 0 && raster->height > 0 &&
         raster->rgba.size() >= size_t(raster->width) * size_t(raster->height) * 4;
}

// The texels a texture shows now, top row first, in `out`; false when there
// are none.
bool composeTexels(const RwTexture* texture, std::vector<uint8_t>& out, int& width, int& height) {
  const RwRaster* raster = texture->raster;
  if (!rasterIsWhole(raster)) return false;
  int x0 = 0, y0 = 0;
  width = raster->width;
  height = raster->height;
  if (texture->frameCount > 1 && texture->frameWidth > 0 && texture->frameHeight > 0) {
    int64_t top = int64_t(std::max(texture->frame, 0)) * texture->frameHeight;
    if (top >= raster->height) top = 0;
    y0 = int(top);
    width = std::min(texture->frameWidth, raster->width);
    height = std::min<int>(texture->frameHeight, raster->height - y0);
  }
  const RwRaster* mask = texture->mask;
  if (mask && (!rasterIsWhole(mask) || mask->width != raster->width || mask->height != raster->height))
    mask = nullptr;  // a mask that does not fit is ignored rather than misread
  out.resize(size_t(width) * size_t(height) * 4);
  for (int y = 0; y < height; ++y) {
    size_t from = (size_t(y0 + y) * size_t(raster->width) + size_t(x0)) * 4;
    uint8_t* row = &out[size_t(y) * size_t(width) * 4];
    std::copy_n(&raster->rgba[from], size_t(width) * 4, row);
    if (!mask) continue;
    const uint8_t* m = &mask->rgba[from];
    for (int x = 0; x < width; ++x, m += 4)
      row[x * 4 + 3] = uint8_t((299 * m[0] + 587 * m[1] + 114 * m[2] + 500) / 1000);
  }
  return true;
}

// Drivers have a size limit; larger pictures are shrunk by point sampling.
void fitTexels(std::vector<uint8_t>& texels, int& width, int& height, int limit) {
  if (limit <= 0 || (width <= limit && height <= limit)) return;
  int w = std::min(width, limit), h = std::min(height, limit);
  std::vector<uint8_t> out(size_t(w) * size_t(h) * 4);
  for (int y = 0; y < h; ++y) {
    size_t sy = size_t(int64_t(y) * height / h);
    for (int x = 0; x < w; ++x) {
      size_t sx = size_t(int64_t(x) * width / w);
      std::copy_n(&texels[(sy * size_t(width) + sx) * 4], 4, &out[(size_t(y) * size_t(w) + size_t(x)) * 4]);
    }
  }
  texels.swap(out);
  width = w;
  height = h;
}

// One mipmap level from the one above: each texel the average of a 2 x 2
// block (an odd last row or column is averaged with itself).
void halve(const std::vector<uint8_t>& in, int w, int h, std::vector<uint8_t>& out, int& ow, int& oh) {
  ow = std::max(1, w / 2);
  oh = std::max(1, h / 2);
  out.resize(size_t(ow) * size_t(oh) * 4);
  for (int y = 0; y < oh; ++y) {
    const uint8_t* r0 = &in[size_t(std::min(2 * y, h - 1)) * size_t(w) * 4];
    const uint8_t* r1 = &in[size_t(std::min(2 * y + 1, h - 1)) * size_t(w) * 4];
    uint8_t* o = &out[size_t(y) * size_t(ow) * 4];
    for (int x = 0; x < ow; ++x) {
      size_t a = size_t(std::min(2 * x, w - 1)) * 4, b = size_t(std::min(2 * x + 1, w - 1)) * 4;
      for (int c = 0; c < 4; ++c) o[x * 4 + c] = uint8_t((r0[a + c] + r0[b + c] + r1[a + c] + r1[b + c] + 2) / 4);
    }
  }
}

// The levels below the first. A software rasteriser makes them by drawing
// each level through a pipeline it first has to compile, tens of
// milliseconds before a textured world's first frame; averaging here takes
// well under one for a texture of a megabyte. A GPU does it at once.
void uploadMipmaps(std::vector<uint8_t> level, int width, int height) {
  if (!rwGlSoftwareRenderer()) {
    gl.GenerateMipmap(GL_TEXTURE_2D);
    return;
  }
  std::vector<uint8_t> next;
  for (int i = 1; width > 1 || height > 1; ++i) {
    int w = 0, h = 0;
    halve(level, width, height, next, w, h);
    gl.TexImage2D(GL_TEXTURE_2D, i, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, next.data());
    level.swap(next);
    width = w;
    height = h;
  }
}

bool anyTranslucent(const std::vector<uint8_t>& texels) {
  for (size_t i = 3; i < texels.size(); i += 4)
    if (texels[i] != 255) return true;
  return false;
}

struct RasterRecord : RwGlRecord {
  GLuint name;
  uint32_t version;
  bool uploaded;
};

void uploadTexture(RwGlTexture* record, RwTexture* texture) {
  record->uploaded = true;
  record->version = texture->version;
  record->raster = texture->raster;
  record->rasterVersion = texture->raster ? texture->raster->version : 0;
  record->mask = texture->mask;
  record->maskVersion = texture->mask ? texture->mask->version : 0;
  record->frame = texture->frame;
  std::vector<uint8_t> texels;
  int width = 0, height = 0;
  record->usable = composeTexels(texture, texels, width, height);
  if (!record->usable) return;
  fitTexels(texels, width, height, rwGlMaxTextureSize());
  record->translucent = anyTranslucent(texels);
  if (!record->name) gl.GenTextures(1, &record->name);
  gl.ActiveTexture(GL_TEXTURE0);
  gl.BindTexture(GL_TEXTURE_2D, record->name);
  rwGlOutOfMemory();
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  uploadMipmaps(std::move(texels), width, height);
  if (rwGlOutOfMemory()) record->usable = false;
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
}

}  // namespace

RwGlTexture* rwGlPrepareTexture(RwTexture* texture) {
  if (!texture || !rwGpuIsOpen()) return nullptr;
  auto* record = rwGlRecordOf<RwGlTexture>(texture->gpu);
  if (!record) {
    record = new RwGlTexture{};
    rwGlTrackRecord(record, RW_GL_TEXTURE, &texture->gpu);
  }
  const RwRaster* raster = texture->raster;
  const RwRaster* mask = texture->mask;
  bool current = record->uploaded && record->version == texture->version &&
                 record->raster == raster && record->rasterVersion == (raster ? raster->version : 0) &&
                 record->mask == mask && record->maskVersion == (mask ? mask->version : 0) &&
                 record->frame == texture->frame;
  if (!current) uploadTexture(record, texture);
  return record->usable ? record : nullptr;
}

GLuint rwGlPrepareRaster(RwRaster* raster) {
  if (!rwGpuIsOpen() || !rasterIsWhole(raster)) return 0;
  int limit = rwGlMaxTextureSize();
  if (raster->width > limit || raster->height > limit) return 0;
  auto* record = rwGlRecordOf<RasterRecord>(raster->gpu);
  if (!record) {
    record = new RasterRecord{};
    rwGlTrackRecord(record, RW_GL_RASTER, &raster->gpu);
  }
  if (!record->name) gl.GenTextures(1, &record->name);
  gl.ActiveTexture(GL_TEXTURE0);
  gl.BindTexture(GL_TEXTURE_2D, record->name);
  if (!record->uploaded || record->version != raster->version) {
    rwGlOutOfMemory();
    gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, raster->width, raster->height, 0, GL_RGBA,
                  GL_UNSIGNED_BYTE, raster->rgba.data());
    if (rwGlOutOfMemory()) return 0;  // tried again next frame
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    record->uploaded = true;
    record->version = raster->version;
  }
  return record->name;
}

void rwGlReleaseTexture(RwGlRecord* header) {
  auto* record = static_cast<RwGlTexture*>(header);
  if (record->name) gl.DeleteTextures(1, &record->name);
  rwGlUntrackRecord(header);
  delete record;
}

void rwGlReleaseRaster(RwGlRecord* header) {
  auto* record = static_cast<RasterRecord*>(header);
  if (record->name) gl.DeleteTextures(1, &record->name);
  rwGlUntrackRecord(header);
  delete record;
}

void rwGpuForgetTexture(RwTexture* texture) {
  if (texture && texture->gpu) rwGlReleaseTexture(rwGlRecordOf<RwGlTexture>(texture->gpu));
}

void rwGpuForgetRaster(RwRaster* raster) {
  if (raster && raster->gpu) rwGlReleaseRaster(rwGlRecordOf<RasterRecord>(raster->gpu));
}
