// movie.cpp — the renderer's side of movie textures: a texture registered
// under a shape's file shows one square of a strip of frames at a time.
// Which frame, and when, is the media layer's business.
#include <string>

#include "render/renderpriv.h"
#include "www/www.h"

namespace {

// The texture registered under the object's first leaf's file; null after
// saying why, prefixed with who.
RwTexture* movieTexture(ZvObj* object, const char* who) {
  std::string w = who;
  ZvLeaf* leaf = object ? object->leaf : nullptr;
  if (!leaf || leaf->type < ZV_LEAF_TEXT || leaf->type > ZV_LEAF_SPHERE) {
    zvWarning("%s : invalid leaf type.\n", who);
    return nullptr;
  }
  ZvUrlHash* entry = static_cast<ZvShape*>(leaf)->texture.texture;
  const char* file = entry ? entry->local_filename : nullptr;
  if (!file) {
    zvWarning("%s : Texture is not mapped.\n", who);
    return nullptr;
  }
  RwTexture* texture = rwFindNamedTexture(file);
  if (!texture) zvWarning("%s : invalid Texture Name.\n", who);
  return texture;
}

}  // namespace

int zvRenderVideoNextFrame(ZvObj* object) {
  RwTexture* texture = movieTexture(object, "zvRenderVideoNextFrame");
  if (!texture) return ZV_FAIL;
  if (!rwTextureNextFrame(texture)) {
    zvWarning("zvRenderVideoNextFrame : fail in the rendering library.\n");
    return ZV_FAIL;
  }
  return ZV_OK;
}

int zvRenderVideoSetFrame(ZvObj* object, int frame) {
  RwTexture* texture = movieTexture(object, "zvRenderVideoSetFrame");
  if (!texture) return ZV_FAIL;
  if (!rwSetTextureFrame(texture, frame)) {
    zvWarning("zvRenderVideoSetFrame : fail in the rendering library.\n");
    return ZV_FAIL;
  }
  return ZV_OK;
}

int zvRenderSetMovieFrameSize(ZvObj* object, int width, int height) {
  ZvLeaf* leaf = object ? object->leaf : nullptr;
  if (!leaf || !zvIsShapeLeaf(leaf)) return -1;
  const char* file = zvRenderLocalFile(static_cast<ZvShape*>(leaf)->texture.texture);
  RwTexture* texture = file ? rwReadNamedTexture(file) : nullptr;
  if (!texture) return -1;
  // A texture shared by several objects is cut once; cutting it again would
  // send the others back to their first frame.
  if (rwGetTextureFrameCount(texture) > 1) return rwGetTextureFrameCount(texture);
  if (!rwSetTextureFrameSize(texture, width, height)) return -1;
  return rwGetTextureFrameCount(texture);
}

int zvRenderSetMovieFrames(ZvObj* object, const uint8_t* rgba, int width, int height, int frames) {
  ZvLeaf* leaf = object ? object->leaf : nullptr;
  if (!leaf || !zvIsShapeLeaf(leaf) || !rgba || width < 1 || height < 1 || frames < 1) return -1;
  ZvUrlHash* entry = static_cast<ZvShape*>(leaf)->texture.texture;
  const char* file = entry ? entry->local_filename : nullptr;
  if (!file) return -1;
  if (RwTexture* known = rwFindNamedTexture(file)) return rwGetTextureFrameCount(known);
  RwRaster* raster = rwCreateRaster(width, height * frames, rgba);
  if (!raster) return -1;
  RwTexture* texture = rwCreateNamedTexture(file, raster);
  rwDestroyRaster(raster);  // the texture holds its own reference
  if (!texture) return -1;
  if (!rwSetTextureFrameSize(texture, width, height)) return -1;
  return rwGetTextureFrameCount(texture);
}

int zvRenderMovieFramesKnown(ZvObj* object) {
  ZvLeaf* leaf = object ? object->leaf : nullptr;
  if (!leaf || !zvIsShapeLeaf(leaf)) return 0;
  ZvUrlHash* entry = static_cast<ZvShape*>(leaf)->texture.texture;
  RwTexture* texture = entry && entry->local_filename ? rwFindNamedTexture(entry->local_filename) : nullptr;
  return texture ? rwGetTextureFrameCount(texture) : 0;
}
