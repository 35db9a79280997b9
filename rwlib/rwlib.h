// rwlib.h — Quillmoor's retained-mode rendering library.
//
// Scenes hold clumps (trees of polygon meshes) and lights; cameras render a
// scene into an image of their own, which is then shown through a device
// context the caller supplies. Geometry, materials, picking and shape files
// work without any GPU: only rendering needs the library opened on a real
// device. The library knows nothing of the scene model above it.
//
// Conventions
// - Handles are plain pointers; null (or 0 from an int function) is failure,
//   and rwGetError() says why.
// - Matrices multiply row vectors: p' = p * M. Rows 0..2 are the images of
//   the x, y and z axes, row 3 the translation; column 3 is (0, 0, 0, 1).
//   A = B * C applies B first, then C.
// - A camera looks along its own +z with +y up and screen-right along its
//   own -x (a left-handed screen). A camera made by rwCreateCamera sits at
//   the origin looking along world +z.
// - Vertex indices handed to rwAddPolygonToClump are 1-based, in the order
//   the vertices were added.
// - View windows are half extents at distance 1 for perspective cameras
//   (w = tan of half the horizontal field of view) and the full visible
//   width and height for parallel ones.
#pragma once

#include <cstdint>

struct RwScene;
struct RwClump;
struct RwPolygon;
struct RwLight;
struct RwCamera;
struct RwRaster;
struct RwTexture;
struct RwSurfaceState;

struct RwV3d { float x, y, z; };
struct RwMatrix { float m[4][4]; };

// The picture a camera made, RGBA 8 bits a channel, top row first. Overlays
// may draw into it between the end of an update and showing it.
struct RwImage {
  int32_t width, height, stride;  // stride in bytes
  uint8_t* pixels;
};

// Where shown images go: the shell fills one per window. Headless runs show
// nothing and read the camera image instead.
struct RwDeviceContext {
  int (*show)(RwDeviceContext* dc, const RwImage* image, int x, int y);
  void* user;
};

// Errors (rwGetError)
enum {
  RW_E_NONE = 0,
  RW_E_BADPARAM = 1,
  RW_E_NOTOPEN = 2,
  RW_E_NOMEM = 3,  // the bridge reports this one as out of memory
  RW_E_DEVICE = 4, // no GL context could be had
  RW_E_FILE = 5,   // a file cannot be opened
  RW_E_FORMAT = 6, // a file is not in a format the library reads
  RW_E_STATE = 7,  // called out of order (e.g. rendering outside an update)
};

// Combining a new transform with an existing one.
enum {
  RW_REPLACE = 0,
  RW_PRECONCAT = 1,   // M = T * M: T acts first, in the local frame
  RW_POSTCONCAT = 2,  // M = M * T: T acts last, in the parent frame
};

enum { RW_OFF = 0, RW_ON = 1 };
enum { RW_PERSPECTIVE = 1, RW_PARALLEL = 2 };
enum { RW_DIRECTIONAL = 1, RW_POINT = 2, RW_SPOT = 3 };  // light kinds
enum { RW_FACET = 1, RW_VERTEX = 2 };                     // light sampling
enum { RW_SOLID = 1, RW_WIREFRAME = 2 };                  // geometry sampling
// Polygon drawing modes: a new polygon starts at RW_DRAW_BOTH.
enum { RW_DRAW_FRONT = 2, RW_DRAW_BOTH = 3 };
// Clump hints. A batched clump may be merged with others into one GPU batch;
// clumps that come and go or move often draw better on their own.
enum { RW_HINT_BATCHED = 2 };
// Device information items.
enum {
  RW_INFO_OVERLAY_DEVICE = 1001,  // 4 bytes; 0: overlays draw into the camera image
};

// ---------------------------------------------------------------------------
// Library
// Opens the library. "MSWindows" (the bridge's name) and "EGL" open an EGL
// context: the GPU when there is one, Mesa's software rasteriser otherwise,
// with no window system needed. "Null" opens without GL: everything works
// except that rendering only clears the image to the background colour.
int rwOpen(const char* device);
// The same, but the GL device comes up on a thread of its own while the
// caller goes on (the driver takes tens of milliseconds to load: time to
// read and build a world in). Everything works at once; what needs the
// device waits for it. rwWaitDevice waits and tells whether it came up: 0
// with RW_E_DEVICE or RW_E_NOMEM when it did not, after which the library
// is still open but draws nothing; close it. Call both from one thread.
int rwOpenInBackground(const char* device);
int rwWaitDevice(void);
int rwClose(void);
int rwGetError(void);
int rwGetDeviceInfo(int item, void* buffer, int size);
const char* rwGetRendererName(void);  // what GL reported, for logs

// ---------------------------------------------------------------------------
// Scenes. Destroying a scene destroys every clump and light added to it.
RwScene* rwCreateScene(void);
int rwDestroyScene(RwScene* scene);
int rwAddClumpToScene(RwScene* scene, RwClump* clump);
int rwRemoveClumpFromScene(RwClump* clump);
int rwAddLightToScene(RwScene* scene, RwLight* light);
// 1.0 at creation: a polygon's ambient coefficient already carries the
// world's ambient and emissive light, so the scene's own is full strength.
int rwSetSceneAmbient(RwScene* scene, float intensity);
// Draws the scene into the camera being updated.
int rwRenderScene(RwScene* scene);
// While a device opened with rwOpenInBackground is still coming up, does the
// CPU half of the scene's first frame (its batched clumps laid out in world
// coordinates), so that the frame only hands it over. Does nothing
// otherwise. A change to the scene before the frame makes the work wasted,
// never wrong.
int rwPrepareScene(RwScene* scene);
int rwGetSceneClumpCount(const RwScene* scene);  // top-level clumps

// ---------------------------------------------------------------------------
// Cameras
RwCamera* rwCreateCamera(int maxWidth, int maxHeight, int flags);
int rwDestroyCamera(RwCamera* camera);
int rwSetCameraProjection(RwCamera* camera, int projection);
int rwGetCameraProjection(const RwCamera* camera);
int rwSetCameraViewport(RwCamera* camera, int x, int y, int width, int height);
int rwGetCameraViewport(const RwCamera* camera, int* x, int* y, int* width, int* height);
int rwSetCameraViewwindow(RwCamera* camera, float width, float height);
int rwGetCameraViewwindow(const RwCamera* camera, float* width, float* height);
int rwSetCameraBackColor(RwCamera* camera, float r, float g, float b);
int rwSetCameraNearClipping(RwCamera* camera, float distance);
int rwSetCameraFarClipping(RwCamera* camera, float distance);
float rwGetCameraNearClipping(const RwCamera* camera);
float rwGetCameraFarClipping(const RwCamera* camera);
// Backdrops: the camera holds a reference on its raster; null removes it.
int rwSetCameraBackdrop(RwCamera* camera, RwRaster* raster);
RwRaster* rwGetCameraBackdrop(const RwCamera* camera);
int rwSetCameraBackdropOffset(RwCamera* camera, int x, int y);
int rwSetCameraBackdropViewportRect(RwCamera* camera, int x, int y, int width, int height);
// Placement: position in world coordinates; move along the camera's own
// axes; tilt about its own x axis, positive degrees looking further down.
int rwSetCameraPosition(RwCamera* camera, float x, float y, float z);
int rwMoveCamera(RwCamera* camera, float x, float y, float z);
int rwTiltCamera(RwCamera* camera, float degrees);
int rwGetCameraPosition(const RwCamera* camera, RwV3d* out);
int rwGetCameraLookAt(const RwCamera* camera, RwV3d* out);  // unit, world
int rwGetCameraLookUp(const RwCamera* camera, RwV3d* out);  // unit, world
// Camera to world. Scale in the matrix is taken out: only rotation and
// translation place a camera.
int rwTransformCamera(RwCamera* camera, const RwMatrix* matrix, int combine);
int rwGetCameraMatrix(const RwCamera* camera, RwMatrix* out);
int rwSetCameraData(RwCamera* camera, void* data);
void* rwGetCameraData(const RwCamera* camera);
// A frame: invalidate, begin, clear, render scenes, end, then show.
int rwInvalidateCameraViewport(RwCamera* camera);
int rwBeginCameraUpdate(RwCamera* camera, void* window);
int rwClearCameraViewport(RwCamera* camera);
int rwEndCameraUpdate(RwCamera* camera);
int rwShowCameraImage(RwCamera* camera, RwDeviceContext* dc);
RwImage* rwGetCameraImage(RwCamera* camera);  // the viewport's picture

// ---------------------------------------------------------------------------
// Lights. Brightness scales the colour; position and vector are world
// coordinates; the cone angle is the half angle of a spot, in degrees.
RwLight* rwCreateLight(int kind, float x, float y, float z, float brightness);
int rwDestroyLight(RwLight* light);
int rwSetLightState(RwLight* light, int on);
int rwGetLightState(const RwLight* light);
int rwSetLightColor(RwLight* light, float r, float g, float b);
int rwSetLightPosition(RwLight* light, const RwV3d* position);
int rwSetLightVector(RwLight* light, const RwV3d* direction);
int rwSetLightConeAngle(RwLight* light, float degrees);
int rwSetLightData(RwLight* light, void* data);
void* rwGetLightData(const RwLight* light);

// ---------------------------------------------------------------------------
// Clumps. A child's transform is relative to its parent; a top-level
// clump's to the world. The counts are hints, not limits.
RwClump* rwCreateClump(int vertexCount, int polygonCount);
int rwDestroyClump(RwClump* clump);  // also its children; leaves parent and scene
int32_t rwAddVertexToClump(RwClump* clump, float x, float y, float z);  // 1-based index, 0 failure
int rwSetVertexNormal(RwClump* clump, int32_t vertex, float nx, float ny, float nz);
int rwSetVertexUV(RwClump* clump, int32_t vertex, float u, float v);
int32_t rwGetClumpVertexCount(const RwClump* clump);
int rwGetClumpVertex(const RwClump* clump, int32_t vertex, RwV3d* out);
// Own vertices, local; a clump with instances spans all of its copies.
int rwGetClumpBounds(const RwClump* clump, RwV3d* min, RwV3d* max);
// Instances: a clump with instances draws (and is picked at) a copy of its
// polygons at each offset, in its own frame, instead of once where they
// are; repeated shapes such as the glyphs of a text share one set of
// polygons this way. The offsets are copied.
int rwAddClumpInstances(RwClump* clump, int count, const RwV3d* offsets);
int32_t rwGetClumpInstanceCount(const RwClump* clump);
int rwGetClumpInstance(const RwClump* clump, int32_t index, RwV3d* out);  // 0-based
RwPolygon* rwAddPolygonToClump(RwClump* clump, int count, const int32_t* vertices);
int32_t rwGetClumpPolygonCount(const RwClump* clump);
int rwSetClumpState(RwClump* clump, int on);
int rwGetClumpState(const RwClump* clump);
int rwSetClumpData(RwClump* clump, void* data);
void* rwGetClumpData(const RwClump* clump);
int rwSetClumpTag(RwClump* clump, int32_t tag);
int32_t rwGetClumpTag(const RwClump* clump);
int rwTransformClump(RwClump* clump, const RwMatrix* matrix, int combine);
int rwGetClumpMatrix(const RwClump* clump, RwMatrix* out);  // local
int rwGetClumpLTM(const RwClump* clump, RwMatrix* out);     // local to world
int rwRemoveHint(RwClump* clump, int hint);
int rwAddHint(RwClump* clump, int hint);
// Calls fn for each polygon in order while it answers 1; answers 0 when fn stopped it.
int rwForAllPolygonsInClump(RwClump* clump, int (*fn)(RwPolygon* polygon, void* arg), void* arg);
RwClump* rwDuplicateClump(const RwClump* clump);  // with children, not added anywhere
int rwAddChildToClump(RwClump* parent, RwClump* child);
int rwRemoveChildFromClump(RwClump* child);
RwClump* rwGetClumpParent(const RwClump* clump);
RwClump* rwGetFirstChildClump(const RwClump* clump);
RwClump* rwGetNextSiblingClump(const RwClump* clump);
RwClump* rwFindTaggedClump(const RwClump* parent, int32_t tag);  // among its children
RwScene* rwGetClumpScene(const RwClump* clump);  // of its top-level ancestor

// ---------------------------------------------------------------------------
// Polygons
int rwSetPolygonSurface(RwPolygon* polygon, float ambient, float diffuse, float specular);
int rwSetPolygonColor(RwPolygon* polygon, float r, float g, float b);
int rwSetPolygonOpacity(RwPolygon* polygon, float opacity);
int rwSetPolygonLightSampling(RwPolygon* polygon, int sampling);
int rwSetPolygonGeometrySampling(RwPolygon* polygon, int sampling);
int rwSetPolygonDrawMode(RwPolygon* polygon, int mode);
int rwGetPolygonDrawMode(const RwPolygon* polygon);
// The polygon holds a reference on its texture; null removes it.
int rwSetPolygonTexture(RwPolygon* polygon, RwTexture* texture);
RwTexture* rwGetPolygonTexture(const RwPolygon* polygon);
// Texture coordinates per corner, in vertex order: 2 * count floats.
// They take precedence over the vertices' own coordinates.
int rwSetPolygonUV(RwPolygon* polygon, int count, const float* uv);
int rwSetPolygonData(RwPolygon* polygon, void* data);
void* rwGetPolygonData(const RwPolygon* polygon);
int rwSetPolygonTag(RwPolygon* polygon, int32_t tag);
int32_t rwGetPolygonTag(const RwPolygon* polygon);
RwClump* rwGetPolygonClump(const RwPolygon* polygon);
int rwGetPolygonNormal(const RwPolygon* polygon, RwV3d* out);  // unit, clump's local frame
int rwGetPolygonVertexCount(const RwPolygon* polygon);
// Its corners as 1-based vertex indices; answers how many were written.
int rwGetPolygonVertices(const RwPolygon* polygon, int32_t* out, int max);
// Its surface, colour, opacity and samplings in one record.
int rwGetPolygonSurface(const RwPolygon* polygon, RwSurfaceState* out);
// Turns the polygon to face the other way: corner order reversed, normal negated.
int rwFlipPolygon(RwPolygon* polygon);

// ---------------------------------------------------------------------------
// Modelling. Between rwModelBegin and rwModelEnd a current transform (the
// CTM, identity at begin) places what primitives emit; between
// rwClumpBegin and rwClumpEnd they emit into a new clump. The surface state
// below is sticky across brackets and applies to every polygon added after
// it is set, whether by a primitive or by rwAddPolygonToClump.
int rwModelBegin(void);
int rwModelEnd(void);
int rwClumpBegin(void);
RwClump* rwClumpEnd(void);
int rwIdentityCTM(void);
int rwTranslateCTM(float x, float y, float z);
int rwRotateCTM(float ax, float ay, float az, float degrees);
int rwSetSurface(float ambient, float diffuse, float specular);
int rwSetSurfaceColor(float r, float g, float b);
int rwSetSurfaceOpacity(float opacity);
int rwSetSurfaceLightSampling(int sampling);
int rwSetSurfaceGeometrySampling(int sampling);
// The whole sticky state at once, so a reader can leave it as it found it.
struct RwSurfaceState {
  float ambient, diffuse, specular;
  float color[3];
  float opacity;
  int lightSampling, geometrySampling;
};
int rwGetSurfaceState(RwSurfaceState* out);
int rwSetSurfaceState(const RwSurfaceState* state);
// Primitives span their local y axis from 0 up to their height. A disc lies
// in the plane y = offset and faces up, or down for a negative radius.
int rwCone(float height, float radius, int segments);
int rwCylinder(float height, float bottomRadius, float topRadius, int segments);
int rwDisc(float offset, float radius, int segments);
int rwSphere(float radius, int subdivisions);

// ---------------------------------------------------------------------------
// Matrices: a stack of scratch matrices, and operations on any matrix.
RwMatrix* rwPushScratchMatrix(void);  // a fresh identity on top
int rwPopScratchMatrix(void);
RwMatrix* rwScratchMatrix(void);      // the top, or null
int rwSetMatrixElement(RwMatrix* matrix, int row, int column, float value);
float rwGetMatrixElement(const RwMatrix* matrix, int row, int column);
int rwIdentityMatrix(RwMatrix* matrix);
int rwTranslateMatrix(RwMatrix* matrix, float x, float y, float z, int combine);
int rwRotateMatrix(RwMatrix* matrix, float ax, float ay, float az, float degrees, int combine);
int rwScaleMatrix(RwMatrix* matrix, float x, float y, float z, int combine);
int rwMultiplyMatrix(const RwMatrix* a, const RwMatrix* b, RwMatrix* out);  // a then b
int rwInvertMatrix(const RwMatrix* matrix, RwMatrix* out);  // 0 when singular
int rwTransformPoint(RwV3d* point, const RwMatrix* matrix);
int rwTransformVector(RwV3d* vector, const RwMatrix* matrix);  // no translation
int rwNormalize(RwV3d* vector);  // 0 for a zero vector
float rwDotProduct(const RwV3d* a, const RwV3d* b);
int rwCrossProduct(const RwV3d* a, const RwV3d* b, RwV3d* out);
int rwSubtractVector(const RwV3d* a, const RwV3d* b, RwV3d* out);
float rwLength(const RwV3d* vector);

// ---------------------------------------------------------------------------
// Rasters and textures. Rasters are counted: each holder (a camera
// backdrop, a texture mask, the caller of rwReadRaster) has one reference,
// and rwDestroyRaster gives one back. Files are BMP (1, 4, 8, 24 and 32
// bits, uncompressed or RLE) and Sun raster.
RwRaster* rwReadRaster(const char* file, int flags);
RwRaster* rwCreateRaster(int width, int height, const uint8_t* rgba);  // top row first
int rwDestroyRaster(RwRaster* raster);
int rwAddRasterRef(RwRaster* raster);
int rwGetRasterWidth(const RwRaster* raster);
int rwGetRasterHeight(const RwRaster* raster);
// Textures are registered by the file name they were read from; polygons
// hold references, so destroying a texture that polygons still show only
// unregisters it and drops the creator's reference.
RwTexture* rwReadNamedTexture(const char* file);
RwTexture* rwFindNamedTexture(const char* name);
// Registers a raster the caller decoded itself (takes one reference on it).
RwTexture* rwCreateNamedTexture(const char* name, RwRaster* raster);
int rwDestroyTexture(RwTexture* texture);
// A mask raster's brightness becomes the texture's opacity (black is
// transparent). 0 when its size does not match the texture's.
RwRaster* rwReadMaskRaster(const char* file);
int rwSetTextureMask(RwTexture* texture, RwRaster* mask);
// Movie strips: frames are square tiles stacked from the top.
int rwSetTextureFrameSize(RwTexture* texture, int width, int height);
int rwGetTextureFrameCount(const RwTexture* texture);
int rwTextureNextFrame(RwTexture* texture);
int rwSetTextureFrame(RwTexture* texture, int frame);

// ---------------------------------------------------------------------------
// Shape files: a small text format of one clump and its children.
//   # comment to the end of the line
//   clump [tag N]            starts a clump (a child when inside another)
//   surface A D S            sticky, as rwSetSurface
//   color R G B              sticky, as rwSetSurfaceColor
//   opacity O                sticky
//   sampling facet|vertex    sticky light sampling
//   transform m00 m01 m02 m10 ... m32   12 numbers: the clump's own matrix
//   v X Y Z [n NX NY NZ] [uv U V]       a vertex of the current clump
//   p I1 I2 I3 ...           a polygon over 1-based vertex indices
//   instance X Y Z           where one copy of the clump's polygons goes
//   end                      closes the current clump
// The surface state is saved on entry and restored on return.
RwClump* rwReadShape(const char* file);
int rwWriteShape(const RwClump* clump, const char* file);

// ---------------------------------------------------------------------------
// Picking. Shoots the ray through window point (x, y) of the camera's
// viewport into the scene; the nearest polygon of a switched-on clump (with
// every ancestor on) wins, seen from either side. Answers 1 and fills the
// record on a hit, 0 on a miss or failure (rwGetError tells which).
struct RwPickRecord {
  RwClump* clump;      // the clump that owns the polygon hit
  RwPolygon* polygon;
  RwV3d point;         // world coordinates
  float distance;      // from the camera position
};
int rwPickScene(RwScene* scene, int x, int y, RwCamera* camera, RwPickRecord* out);
// The ray through a window point, in world coordinates (direction unit).
int rwGetCameraRay(const RwCamera* camera, int x, int y, RwV3d* origin, RwV3d* direction);
