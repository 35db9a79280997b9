// camera.cpp — cameras: placement, projection, the frame bracket and the
// picture each camera keeps.
//
// Window mapping, which the GL projection matches exactly: for window point
// (x, y) relative to the viewport (vx, vy, vw, vh), y growing downwards, at
// the pixel centre,
//   sx = (x - vx + 0.5) / vw,  sy = (y - vy + 0.5) / vh
//   a  = -(2 sx - 1)   (screen-right is the camera's -x)
//   b  =  1 - 2 sy
// A perspective camera sees along the camera-space direction (a ww, b wh, 1)
// from its position; a parallel one along its +z from the point
// (a ww / 2, b wh / 2, 0) of its own plane. Clip distances are along +z.
#include <algorithm>
#include <cmath>
#include <new>

#include "rwlib/cpupriv.h"

namespace {

constexpr int kMaxSide = 16384;

int bad(int code = RW_E_BADPARAM) {
  rwSetError(code);
  return 0;
}

RwV3d row(const RwMatrix& m, int r) { return RwV3d{m.m[r][0], m.m[r][1], m.m[r][2]}; }
void setRow(RwMatrix& m, int r, RwV3d v) {
  m.m[r][0] = v.x;
  m.m[r][1] = v.y;
  m.m[r][2] = v.z;
}

// The image is the viewport's picture; until a picture that large exists
// (on the GPU it is read back at the end of a frame) there is none.
void syncImage(RwCamera* camera) {
  bool held = camera->pixels.size() >= size_t(camera->vw) * size_t(camera->vh) * 4;
  camera->image.width = held ? camera->vw : 0;
  camera->image.height = held ? camera->vh : 0;
  camera->image.stride = held ? 4 * camera->vw : 0;
  camera->image.pixels = held ? camera->pixels.data() : nullptr;
}

// Removes a component along a unit vector, and normalises the rest.
bool orthogonalTo(RwV3d* v, RwV3d unit) {
  float d = rwDotProduct(v, &unit);
  *v = RwV3d{v->x - d * unit.x, v->y - d * unit.y, v->z - d * unit.z};
  return rwNormalize(v) && std::fabs(rwDotProduct(v, &unit)) < 1e-3f;
}

}  // namespace

// Gram-Schmidt keeping the view direction, then the up direction; x is
// rebuilt so that the frame is a rotation (a mirror cannot place a camera).
bool rwOrthonormalise(RwMatrix* m) {
  RwV3d x = row(*m, 0), y = row(*m, 1), z = row(*m, 2);
  if (!rwNormalize(&z)) return false;
  if (!orthogonalTo(&y, z)) {
    RwV3d t;
    rwCrossProduct(&z, &x, &t);  // up from the x axis when y was lost
    y = t;
    if (!orthogonalTo(&y, z)) {
      y = std::fabs(z.y) < 0.9f ? RwV3d{0, 1, 0} : RwV3d{1, 0, 0};
      orthogonalTo(&y, z);
    }
  }
  rwCrossProduct(&y, &z, &x);
  setRow(*m, 0, x);
  setRow(*m, 1, y);
  setRow(*m, 2, z);
  m->m[0][3] = m->m[1][3] = m->m[2][3] = 0.0f;
  m->m[3][3] = 1.0f;
  return true;
}

RwCamera* rwCreateCamera(int maxWidth, int maxHeight, int /*flags*/) {
  if (maxWidth <= 0 || maxHeight <= 0 || maxWidth > kMaxSide || maxHeight > kMaxSide) {
    bad();
    return nullptr;
  }
  auto* camera = new (std::nothrow) RwCamera();
  if (!camera) {
    bad(RW_E_NOMEM);
    return nullptr;
  }
  // On the GPU the picture is read back at its viewport's size when a frame
  // ends; filling the largest one here would cost every camera of every
  // world megabytes it never uses.
  try {
    if (rwLibState() != RW_LIB_GPU) camera->pixels.assign(size_t(maxWidth) * size_t(maxHeight) * 4, 0);
  } catch (const std::bad_alloc&) {
    delete camera;
    bad(RW_E_NOMEM);
    return nullptr;
  }
  camera->maxWidth = maxWidth;
  camera->maxHeight = maxHeight;
  camera->projection = RW_PERSPECTIVE;
  camera->vw = maxWidth;
  camera->vh = maxHeight;
  camera->ww = 1.0f;
  camera->wh = 0.75f;
  camera->nearClip = 0.05f;
  camera->farClip = 1000.0f;
  camera->backdropRect[2] = maxWidth;
  camera->backdropRect[3] = maxHeight;
  rwIdentityMatrix(&camera->matrix);
  for (size_t i = 3; i < camera->pixels.size(); i += 4) camera->pixels[i] = 255;
  syncImage(camera);
  return camera;
}

int rwDestroyCamera(RwCamera* camera) {
  if (!camera) return bad();
  rwGpuForgetCamera(camera);
  if (rwUpdatingCamera() == camera) rwSetUpdatingCamera(nullptr);
  if (camera->backdrop) rwReleaseRaster(camera->backdrop);
  delete camera;
  return 1;
}

int rwSetCameraProjection(RwCamera* camera, int projection) {
  if (!camera || (projection != RW_PERSPECTIVE && projection != RW_PARALLEL)) return bad();
  camera->projection = projection;
  return 1;
}

int rwGetCameraProjection(const RwCamera* camera) {
  if (!camera) return bad();
  return camera->projection;
}

int rwSetCameraViewport(RwCamera* camera, int x, int y, int width, int height) {
  if (!camera || width <= 0 || height <= 0 || width > camera->maxWidth || height > camera->maxHeight)
    return bad();
  camera->vx = x;
  camera->vy = y;
  camera->vw = width;
  camera->vh = height;
  syncImage(camera);
  return 1;
}

int rwGetCameraViewport(const RwCamera* camera, int* x, int* y, int* width, int* height) {
  if (!camera) return bad();
  if (x) *x = camera->vx;
  if (y) *y = camera->vy;
  if (width) *width = camera->vw;
  if (height) *height = camera->vh;
  return 1;
}

int rwSetCameraViewwindow(RwCamera* camera, float width, float height) {
  if (!camera || !std::isfinite(width) || !std::isfinite(height) || !(width > 0.0f) || !(height > 0.0f))
    return bad();
  camera->ww = width;
  camera->wh = height;
  return 1;
}

int rwGetCameraViewwindow(const RwCamera* camera, float* width, float* height) {
  if (!camera) return bad();
  if (width) *width = camera->ww;
  if (height) *height = camera->wh;
  return 1;
}

int rwSetCameraBackColor(RwCamera* camera, float r, float g, float b) {
  if (!camera || !std::isfinite(r) || !std::isfinite(g) || !std::isfinite(b)) return bad();
  camera->back[0] = std::clamp(r, 0.0f, 1.0f);
  camera->back[1] = std::clamp(g, 0.0f, 1.0f);
  camera->back[2] = std::clamp(b, 0.0f, 1.0f);
  return 1;
}

int rwSetCameraNearClipping(RwCamera* camera, float distance) {
  if (!camera || !std::isfinite(distance) || !(distance > 0.0f)) return bad();
  camera->nearClip = distance;
  return 1;
}

int rwSetCameraFarClipping(RwCamera* camera, float distance) {
  if (!camera || !std::isfinite(distance) || !(distance > 0.0f)) return bad();
  camera->farClip = distance;
  return 1;
}

float rwGetCameraNearClipping(const RwCamera* camera) {
  if (!camera) return float(bad());
  return camera->nearClip;
}

float rwGetCameraFarClipping(const RwCamera* camera) {
  if (!camera) return float(bad());
  return camera->farClip;
}

int rwSetCameraBackdrop(RwCamera* camera, RwRaster* raster) {
  if (!camera) return bad();
  if (raster == camera->backdrop) return 1;
  if (raster) rwAddRasterRef(raster);
  if (camera->backdrop) rwReleaseRaster(camera->backdrop);
  camera->backdrop = raster;
  return 1;
}

RwRaster* rwGetCameraBackdrop(const RwCamera* camera) {
  if (!camera) {
    bad();
    return nullptr;
  }
  return camera->backdrop;
}

int rwSetCameraBackdropOffset(RwCamera* camera, int x, int y) {
  if (!camera) return bad();
  camera->backdropX = x;
  camera->backdropY = y;
  return 1;
}

int rwSetCameraBackdropViewportRect(RwCamera* camera, int x, int y, int width, int height) {
  if (!camera || width < 0 || height < 0) return bad();
  camera->backdropRect[0] = x;
  camera->backdropRect[1] = y;
  camera->backdropRect[2] = width;
  camera->backdropRect[3] = height;
  return 1;
}

int rwSetCameraPosition(RwCamera* camera, float x, float y, float z) {
  if (!camera || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return bad();
  setRow(camera->matrix, 3, RwV3d{x, y, z});
  return 1;
}

int rwMoveCamera(RwCamera* camera, float x, float y, float z) {
  if (!camera || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return bad();
  RwV3d d{x, y, z};
  rwTransformVector(&d, &camera->matrix);
  RwV3d to{camera->matrix.m[3][0] + d.x, camera->matrix.m[3][1] + d.y, camera->matrix.m[3][2] + d.z};
  // Two huge steps add up past the largest float: a camera at infinity
  // would turn every vertex of the frame into NaN.
  if (!std::isfinite(to.x) || !std::isfinite(to.y) || !std::isfinite(to.z)) return bad();
  setRow(camera->matrix, 3, to);
  return 1;
}

// A right-handed turn about the camera's own x axis takes +z towards -y:
// positive degrees look down.
int rwTiltCamera(RwCamera* camera, float degrees) {
  if (!camera || !std::isfinite(degrees)) return bad();
  if (!rwRotateMatrix(&camera->matrix, 1.0f, 0.0f, 0.0f, degrees, RW_PRECONCAT)) return 0;
  rwOrthonormalise(&camera->matrix);
  return 1;
}

int rwGetCameraPosition(const RwCamera* camera, RwV3d* out) {
  if (!camera || !out) return bad();
  *out = row(camera->matrix, 3);
  return 1;
}

int rwGetCameraLookAt(const RwCamera* camera, RwV3d* out) {
  if (!camera || !out) return bad();
  *out = row(camera->matrix, 2);
  rwNormalize(out);
  return 1;
}

int rwGetCameraLookUp(const RwCamera* camera, RwV3d* out) {
  if (!camera || !out) return bad();
  *out = row(camera->matrix, 1);
  rwNormalize(out);
  return 1;
}

int rwTransformCamera(RwCamera* camera, const RwMatrix* matrix, int combine) {
  if (!camera || !matrix) return bad();
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (!std::isfinite(matrix->m[r][c])) return bad();
  RwMatrix m;
  switch (combine) {
    case RW_REPLACE: m = *matrix; break;
    case RW_PRECONCAT: rwMultiplyMatrix(matrix, &camera->matrix, &m); break;
    case RW_POSTCONCAT: rwMultiplyMatrix(&camera->matrix, matrix, &m); break;
    default: return bad();
  }
  if (!rwOrthonormalise(&m)) return bad();  // no view direction left
  if (!std::isfinite(m.m[3][0]) || !std::isfinite(m.m[3][1]) || !std::isfinite(m.m[3][2])) return bad();
  camera->matrix = m;
  return 1;
}

int rwGetCameraMatrix(const RwCamera* camera, RwMatrix* out) {
  if (!camera || !out) return bad();
  *out = camera->matrix;
  return 1;
}

int rwSetCameraData(RwCamera* camera, void* data) {
  if (!camera) return bad();
  camera->data = data;
  return 1;
}

void* rwGetCameraData(const RwCamera* camera) {
  if (!camera) {
    bad();
    return nullptr;
  }
  return camera->data;
}

int rwInvalidateCameraViewport(RwCamera* camera) {
  if (!camera) return bad();
  return 1;
}

int rwBeginCameraUpdate(RwCamera* camera, void* /*window*/) {
  if (!camera) return bad();
  if (rwLibState() == RW_LIB_CLOSED) return bad(RW_E_NOTOPEN);
  if (rwUpdatingCamera()) return bad(RW_E_STATE);  // one frame at a time
  rwSetError(RW_E_NONE);  // so that the GL side's own NOMEM can be told apart
  if (rwLibState() == RW_LIB_GPU && !rwGpuBeginCamera(camera))
    return bad(rwGetError() == RW_E_NOMEM ? RW_E_NOMEM : RW_E_DEVICE);
  camera->updating = 1;
  rwSetUpdatingCamera(camera);
  return 1;
}

int rwClearCameraViewport(RwCamera* camera) {
  if (!camera) return bad();
  if (rwLibState() == RW_LIB_CLOSED) return bad(RW_E_NOTOPEN);
  if (!camera->updating) return bad(RW_E_STATE);
  if (rwLibState() == RW_LIB_GPU) {
    rwSetError(RW_E_NONE);
    if (!rwGpuClearCamera(camera)) return bad(rwGetError() == RW_E_NOMEM ? RW_E_NOMEM : RW_E_DEVICE);
    return 1;
  }
  uint8_t px[4] = {uint8_t(std::lround(camera->back[0] * 255.0f)),
                   uint8_t(std::lround(camera->back[1] * 255.0f)),
                   uint8_t(std::lround(camera->back[2] * 255.0f)), 255};
  size_t n = size_t(camera->vw) * size_t(camera->vh);
  uint8_t* p = camera->pixels.data();
  for (size_t i = 0; i < n; ++i, p += 4) std::copy(px, px + 4, p);
  return 1;
}

int rwEndCameraUpdate(RwCamera* camera) {
  if (!camera) return bad();
  if (!camera->updating) return bad(RW_E_STATE);
  camera->updating = 0;
  rwSetUpdatingCamera(nullptr);
  rwSetError(RW_E_NONE);
  if (rwLibState() == RW_LIB_GPU && !rwGpuEndCamera(camera))
    return bad(rwGetError() == RW_E_NOMEM ? RW_E_NOMEM : RW_E_DEVICE);
  return 1;
}

int rwShowCameraImage(RwCamera* camera, RwDeviceContext* dc) {
  if (!camera) return bad();
  if (!dc || !dc->show) return 1;
  return dc->show(dc, &camera->image, camera->vx, camera->vy);
}

RwImage* rwGetCameraImage(RwCamera* camera) {
  if (!camera) {
    bad();
    return nullptr;
  }
  return &camera->image;
}

int rwGetCameraRay(const RwCamera* camera, int x, int y, RwV3d* origin, RwV3d* direction) {
  if (!camera || !origin || !direction) return bad();
  double sx = (double(x) - camera->vx + 0.5) / camera->vw;
  double sy = (double(y) - camera->vy + 0.5) / camera->vh;
  double a = -(2.0 * sx - 1.0), b = 1.0 - 2.0 * sy;
  const RwMatrix& m = camera->matrix;
  if (camera->projection == RW_PARALLEL) {
    RwV3d o{float(a * camera->ww * 0.5), float(b * camera->wh * 0.5), 0.0f};
    rwTransformPoint(&o, &m);
    *origin = o;
    *direction = row(m, 2);
  } else {
    *origin = row(m, 3);
    RwV3d d{float(a * camera->ww), float(b * camera->wh), 1.0f};
    rwTransformVector(&d, &m);
    *direction = d;
  }
  rwNormalize(direction);
  return 1;
}
