// gl_camera.cpp — a camera's frame on the GPU: its own framebuffer the size
// of its viewport, the clear with the backdrop, and reading the picture back
// into the camera's image, top row first.
#include <algorithm>
#include <cstring>
#include <new>

#include "rwlib/gl_priv.h"

namespace {

struct CameraRecord : RwGlRecord {
  GLuint framebuffer, color, depth;
  int32_t width, height;
};

void deleteTargets(CameraRecord* record) {
  if (record->framebuffer) gl.DeleteFramebuffers(1, &record->framebuffer);
  if (record->color) gl.DeleteRenderbuffers(1, &record->color);
  if (record->depth) gl.DeleteRenderbuffers(1, &record->depth);
  record->framebuffer = record->color = record->depth = 0;
  record->width = record->height = 0;
}

bool makeTargets(CameraRecord* record, int32_t width, int32_t height) {
  deleteTargets(record);
  rwGlOutOfMemory();
  gl.GenFramebuffers(1, &record->framebuffer);
  gl.GenRenderbuffers(1, &record->color);
  gl.GenRenderbuffers(1, &record->depth);
  gl.BindRenderbuffer(GL_RENDERBUFFER, record->color);
  gl.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  gl.BindRenderbuffer(GL_RENDERBUFFER, record->depth);
  gl.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
  gl.BindRenderbuffer(GL_RENDERBUFFER, 0);
  if (rwGlOutOfMemory()) {
    deleteTargets(record);
    return false;
  }
  gl.BindFramebuffer(GL_FRAMEBUFFER, record->framebuffer);
  gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, record->color);
  gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, record->depth);
  if (gl.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    deleteTargets(record);
    return false;
  }
  record->width = width;
  record->height = height;
  return true;
}

// The camera's framebuffer, bound, with the viewport set; null when the
// camera has none that fits its viewport.
CameraRecord* bindCamera(RwCamera* camera) {
  if (!camera || !rwGpuIsOpen()) return nullptr;
  auto* record = rwGlRecordOf<CameraRecord>(camera->gpu);
  if (!record || !record->framebuffer || record->width != camera->vw || record->height != camera->vh)
    return nullptr;
  gl.BindFramebuffer(GL_FRAMEBUFFER, record->framebuffer);
  gl.Viewport(0, 0, record->width, record->height);
  return record;
}

void drawBackdrop(RwCamera* camera) {
  RwRaster* raster = camera->backdrop;
  GLuint texture = rwGlPrepareRaster(raster);
  if (!texture) return;
  int64_t rx = camera->backdropRect[0], ry = camera->backdropRect[1];
  int64_t rw = camera->backdropRect[2], rh = camera->backdropRect[3];
  if (rx == 0 && ry == 0 && rw == 0 && rh == 0) rw = camera->vw, rh = camera->vh;
  // The rect in GL's bottom-up window coordinates, clipped to the viewport.
  int64_t left = std::max<int64_t>(rx, 0), right = std::min<int64_t>(rx + rw, camera->vw);
  int64_t top = std::max<int64_t>(ry, 0), bottom = std::min<int64_t>(ry + rh, camera->vh);
  if (left >= right || top >= bottom) return;
  int64_t originX = (int64_t(camera->backdropX) - rx) % raster->width;
  if (originX < 0) originX += raster->width;
  int64_t originY = std::clamp<int64_t>(int64_t(camera->backdropY) - ry, -(int64_t(1) << 30), int64_t(1) << 30);

  gl.Enable(GL_SCISSOR_TEST);
  gl.Scissor(GLint(left), GLint(camera->vh - bottom), GLsizei(right - left), GLsizei(bottom - top));
  gl.Disable(GL_DEPTH_TEST);
  gl.DepthMask(GL_FALSE);
  gl.UseProgram(rwGlPrograms.backdrop.program);
  gl.Uniform2i(rwGlPrograms.backdrop.origin, GLint(originX), GLint(originY));
  gl.Uniform1i(rwGlPrograms.backdrop.viewHeight, camera->vh);
  gl.BindVertexArray(rwGlPrograms.emptyVao);
  gl.DrawArrays(GL_TRIANGLES, 0, 3);
  gl.BindVertexArray(0);
  gl.UseProgram(0);
  gl.DepthMask(GL_TRUE);
  gl.Enable(GL_DEPTH_TEST);
  gl.Disable(GL_SCISSOR_TEST);
}

bool beginCamera(RwCamera* camera) {
  if (!camera || !rwGpuIsOpen()) return false;
  int limit = rwGlMaxRenderbufferSize();
  if (camera->vw <= 0 || camera->vh <= 0 || camera->vw > limit || camera->vh > limit) return false;
  auto* record = rwGlRecordOf<CameraRecord>(camera->gpu);
  if (!record) {
    record = new CameraRecord{};
    rwGlTrackRecord(record, RW_GL_CAMERA, &camera->gpu);
  }
  if (record->width != camera->vw || record->height != camera->vh || !record->framebuffer) {
    if (!makeTargets(record, camera->vw, camera->vh)) return false;
  }
  return bindCamera(camera) != nullptr;
}

bool clearCamera(RwCamera* camera) {
  if (!bindCamera(camera)) return false;
  gl.ClearColor(std::clamp(camera->back[0], 0.0f, 1.0f), std::clamp(camera->back[1], 0.0f, 1.0f),
                std::clamp(camera->back[2], 0.0f, 1.0f), 1.0f);
  gl.ClearDepth(1.0);
  gl.DepthMask(GL_TRUE);
  gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (camera->backdrop) drawBackdrop(camera);
  return true;
}

bool endCamera(RwCamera* camera) {
  CameraRecord* record = bindCamera(camera);
  if (!record) return false;
  size_t stride = size_t(record->width) * 4;
  size_t size = stride * size_t(record->height);
  camera->pixels.resize(size);
  gl.ReadPixels(0, 0, record->width, record->height, GL_RGBA, GL_UNSIGNED_BYTE, camera->pixels.data());
  // GL's rows run bottom-up; the image's run top-down.
  std::vector<uint8_t> row(stride);
  for (int32_t y = 0, other = record->height - 1; y < other; ++y, --other) {
    uint8_t* a = &camera->pixels[size_t(y) * stride];
    uint8_t* b = &camera->pixels[size_t(other) * stride];
    memcpy(row.data(), a, stride);
    memcpy(a, b, stride);
    memcpy(b, row.data(), stride);
  }
  gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
  camera->image.width = record->width;
  camera->image.height = record->height;
  camera->image.stride = int32_t(stride);
  camera->image.pixels = camera->pixels.data();
  return true;
}

// Out of memory is a failed frame, not the end of the program.
bool guarded(bool (*step)(RwCamera*), RwCamera* camera) {
  if (!rwGpuAwait()) return false;  // a device that never came up
  try {
    return step(camera);
  } catch (const std::bad_alloc&) {
    rwSetError(RW_E_NOMEM);
    return false;
  }
}

}  // namespace

bool rwGlBindCamera(RwCamera* camera) { return bindCamera(camera) != nullptr; }

bool rwGpuBeginCamera(RwCamera* camera) { return guarded(beginCamera, camera); }
bool rwGpuClearCamera(RwCamera* camera) { return guarded(clearCamera, camera); }
bool rwGpuEndCamera(RwCamera* camera) { return guarded(endCamera, camera); }

void rwGlReleaseCamera(RwGlRecord* header) {
  auto* record = static_cast<CameraRecord*>(header);
  deleteTargets(record);
  rwGlUntrackRecord(header);
  delete record;
}

void rwGpuForgetCamera(RwCamera* camera) {
  if (camera && camera->gpu) rwGlReleaseCamera(rwGlRecordOf<CameraRecord>(camera->gpu));
}
