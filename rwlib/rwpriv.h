// rwpriv.h — the rendering library's records, shared by its CPU side
// (geometry, modelling, picking, files) and its GL side (gl*.cpp, the only
// files that include GL or EGL).
//
// Change tracking: every operation that changes what a clump looks like
// calls rwTouch with what changed, which also bumps the scene's version and
// queues the clump on its scene, so the GL side can bring only what changed
// up to date instead of walking every clump each frame.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "rwlib/rwlib.h"

void rwSetError(int code);

struct RwVertex {
  RwV3d p;
  RwV3d n;         // explicit normal when hasNormal, else the computed one
  float u, v;      // when hasUV
  uint8_t hasNormal, hasUV;
};

struct RwPolygon {
  RwClump* clump;
  uint32_t first;   // its corners are clump->corners[first .. first + count)
  uint32_t count;
  RwV3d normal;     // unit, local; (0,0,0) for a degenerate polygon
  float ambient, diffuse, specular;
  float color[3];
  float opacity;
  int16_t lightSampling;     // RW_FACET / RW_VERTEX
  int16_t geometrySampling;  // RW_SOLID / RW_WIREFRAME
  int16_t drawMode;          // RW_DRAW_FRONT / RW_DRAW_BOTH
  int16_t hasUV;             // per-corner coordinates in clump->cornerUV
  RwTexture* texture;        // referenced
  void* data;
  int32_t tag;
  uint32_t index;            // position in clump->polygons
};

enum {
  RW_TOUCH_GEOMETRY = 1,   // vertices, polygons, surfaces, textures, coordinates
  RW_TOUCH_TRANSFORM = 2,  // the clump's matrix (so every descendant's LTM)
  RW_TOUCH_STATE = 4,      // on/off
  RW_TOUCH_TREE = 8,       // children added or removed, scene membership
};

struct RwClump {
  RwScene* scene;     // set on top-level clumps in a scene
  RwClump* parent;
  std::vector<RwClump*> children;
  std::vector<RwVertex> vertices;
  std::vector<uint32_t> corners;   // 0-based vertex indices
  std::vector<float> cornerUV;     // 2 per corner; sized with corners
  std::deque<RwPolygon> polygons;  // stable addresses
  std::vector<RwV3d> instances;    // offsets of its copies; empty: drawn once, in place
  RwV3d instanceMin, instanceMax;  // the offsets' box, while there are any
  RwMatrix matrix;                 // local
  int on;
  void* data;
  int32_t tag;
  uint32_t hints;
  uint32_t geometryVersion;   // bumped by RW_TOUCH_GEOMETRY
  uint32_t transformVersion;  // bumped by RW_TOUCH_TRANSFORM
  bool normalsValid;          // computed vertex normals are current
  bool boundsValid;
  RwV3d boundsMin, boundsMax;  // own vertices, local
  void* gpu;                   // the GL side's record, or null
  RwScene* queuedIn;           // whose touched list holds it, or null
  uint32_t touched;            // RW_TOUCH_* bits since it was queued
};

struct RwLight {
  RwScene* scene;
  int kind;
  RwV3d position, vector;
  float brightness;
  float color[3];
  int on;
  float coneAngle;  // half angle, degrees
  void* data;
};

struct RwScene {
  std::vector<RwClump*> clumps;  // top level, in the order added
  std::vector<RwLight*> lights;
  float ambient;
  uint32_t version;  // bumped by any change below it
  // Clumps touched since the GL side last looked (null: destroyed since),
  // unless treeChanged: then clumps came or went, or too many were touched
  // to list, and the whole tree must be looked at.
  std::vector<RwClump*> touched;
  bool treeChanged = true;
  void* gpu;
};
// Empties the scene's touched list once the GL side has looked at it.
void rwClearTouched(RwScene* scene);

struct RwRaster {
  int32_t width, height;
  std::vector<uint8_t> rgba;  // top row first
  int32_t refs;
  uint32_t version;
  void* gpu;
};

struct RwTexture {
  std::string name;     // empty once unregistered
  RwRaster* raster;     // owned reference
  RwRaster* mask;       // owned reference, or null
  int32_t refs;         // the creator's plus one per polygon
  int32_t frameWidth, frameHeight, frameCount, frame;  // frameCount 1: still
  uint32_t version;     // bumped when pixels, mask or frame change
  void* gpu;
};

struct RwCamera {
  int32_t maxWidth, maxHeight;
  int projection;
  int32_t vx, vy, vw, vh;
  float ww, wh;
  float back[3];
  float nearClip, farClip;
  RwRaster* backdrop;  // referenced
  int32_t backdropX, backdropY;
  int32_t backdropRect[4];
  RwMatrix matrix;     // camera to world, orthonormal
  void* data;
  int updating;        // between begin and end
  RwImage image;
  std::vector<uint8_t> pixels;
  void* gpu;
};

// Marks what changed on a clump and on the scene it belongs to.
// Clumps that come and go (RW_TOUCH_TREE) mark the whole scene.
void rwTouch(RwClump* clump, unsigned what);

// Geometry helpers shared with the GL side.
// Triangles of a polygon as corner offsets (0 .. count-1), three a triangle;
// concave polygons are ear-clipped in the polygon's plane.
void rwTriangulate(const RwClump* clump, const RwPolygon* polygon, std::vector<uint32_t>& out);
// Fills the computed normals of vertices without an explicit one (the mean
// of the normals of the polygons that use them).
void rwUpdateVertexNormals(RwClump* clump);
void rwUpdateBounds(RwClump* clump);
// Inverse of an affine matrix (column 3 taken as 0, 0, 0, 1). Singular when
// its axes are flattened onto a plane or a line, judged by the angles
// between them and not by their lengths, so a uniformly tiny or huge scale
// still inverts. The picture and the pick both decide with it, so a clump
// is either drawn and pickable or neither.
bool rwInvertAffine(const RwMatrix& m, RwMatrix& out);

// The GL side. rwOpen calls rwGpuOpen unless the device is "Null"; every
// other entry is safe to call when no GL context is open.
// rwGpuOpenInBackground starts an open on a thread of its own (true when it
// started, or when it could only be done at once and succeeded);
// rwGpuAwait waits for it and tells whether the context is open. The
// entries that use GL await it themselves; forgetting needs no wait, since
// only what was drawn has anything on the GL side.
bool rwGpuOpen(void);
bool rwGpuOpenInBackground(void);
bool rwGpuAwait(void);
bool rwGpuOpening(void);  // an open is under way in the background
// The CPU half of the next frame of a scene, without GL.
void rwGpuPrepareScene(RwScene* scene);
void rwGpuClose(void);
bool rwGpuIsOpen(void);
const char* rwGpuRendererName(void);
bool rwGpuBeginCamera(RwCamera* camera);
bool rwGpuClearCamera(RwCamera* camera);
bool rwGpuRenderScene(RwScene* scene, RwCamera* camera);
bool rwGpuEndCamera(RwCamera* camera);  // reads the picture into camera->image
void rwGpuForgetClump(RwClump* clump);
void rwGpuForgetScene(RwScene* scene);
void rwGpuForgetRaster(RwRaster* raster);
void rwGpuForgetTexture(RwTexture* texture);
void rwGpuForgetCamera(RwCamera* camera);
