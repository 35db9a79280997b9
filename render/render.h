// render.h — the renderer bridge: turns the scene model into the rendering
// library's scenes, clumps, lights and cameras, keeps them in step with the
// model (transforms, visibility, materials, textures, attributes) and draws
// one frame of a world through its active camera.
//
// Depends on the scene model (scene/), the rendering library (rwlib/) and
// retrieval (www/) for the local files behind texture and backdrop
// references. Nothing here touches GL: a world can be built, queried and
// picked with the library opened on "Null".
//
// Conventions as in the scene model: 0 success, -1 failure, -5 out of
// memory. Failing steps report "%s : %s" (operation, step) through zvError
// or, where noted, zvWarning.
//
// Back-references on what is built, for picking:
//   shape clump   data = the owning object, tag = the leaf's 1-based position
//                 in its object's leaf chain (the first leaf for a face set);
//                 (lines: no data); zvRenderGetClumpLeaf turns it back
//   face polygon  data = its face leaf, tag = the position mark 0..3
//   line segment  child of the line leaf's clump, tag = segment index
//   point         child of the point-set clump, tag = point index
//   glyph         child of the text clump, one a distinct character, drawn
//                 at each of its instances; tag = advance x 100
//   light, camera data = the leaf
//   marker clump  data = the object (bounding-box marker, extension 3)
#pragma once

#include <cstdint>

#include "rwlib/rwlib.h"
#include "scene/scene.h"

// ---------------------------------------------------------------------------
// The per-world rendering structure, held in ZvWorld::viewer.
struct ZvTransferNode {
  ZvTransferNode* next;
  ZvObj* object;
};
struct ZvRenderingStruct {
  RwScene* scene;               // every clump and light of the world
  RwCamera* defaultCamera;      // drawn through while the active camera id is 1
  void* window;                 // handed to rwBeginCameraUpdate
  RwDeviceContext* deviceContext;  // where finished images are shown
  intptr_t renderingEnabled;    // 0 while objects are built or destroyed
  ZvTransferNode* transferred;  // objects whose world transform changed
  RwRaster* backdrop;           // the world's background image, or null
};
ZvRenderingStruct* zvRenderGetStruct(ZvWorld* world);  // null when none

// ---------------------------------------------------------------------------
// Library and module settings
// Starts opening the library on "MSWindows" while the caller goes on (the
// driver loads on a thread of its own); zvRenderInitViewer then waits for
// it and reports a failure as it always does. Call both from one thread.
void zvRenderStartViewer(void);
// Meanwhile, lays out what the world's first frame will draw (rwPrepareScene).
void zvRenderPrepareWorld(ZvWorld* world);
int zvRenderInitViewer(void);  // opens the library on "MSWindows"
int zvRenderInitViewerOn(const char* device);  // the same on a named device
int zvRenderCloseViewer(void);
// Fills the render* entries of zvSceneHooks().
void zvRenderInstallHooks(void);
// Client size of the main view window (640 x 480 until set).
void zvRenderSetViewSize(int width, int height);
void zvRenderGetViewSize(int* width, int* height);
// Seams to the shell, null until set: repainting the world's window during
// progressive display, and painting the two-dimensional overlays into a
// camera image before it is shown.
typedef void (*ZvRenderRepaint)(ZvWorld* world, void* window);
typedef void (*ZvRenderOverlayPainter)(ZvWorld* world, RwImage* image);
void zvRenderSetRepaint(ZvRenderRepaint repaint);
void zvRenderSetOverlayPainter(ZvRenderOverlayPainter painter);
// Seam to the media layer: stops an object's movie texture and attaches or
// refreshes its movie record, each time the object's texture is applied.
// Null (no movies) until the media layer sets it.
typedef void (*ZvRenderMovieRefresh)(ZvObj* object);
void zvRenderSetMovieRefresh(ZvRenderMovieRefresh refresh);
// Movie frames of the texture registered under the object's first leaf's
// file: the next one (wrapping), or one by number. 0 or -1.
int zvRenderVideoNextFrame(ZvObj* object);
int zvRenderVideoSetFrame(ZvObj* object, int frame);
// Cuts that texture (read now when it is not registered yet) into frames of
// the given size; the frame count, or -1.
int zvRenderSetMovieFrameSize(ZvObj* object, int width, int height);
// Registers frames decoded elsewhere (stacked top to bottom, RGBA) under the
// file, unless a texture of that name is there already; the frame count of
// what is registered, or -1.
int zvRenderSetMovieFrames(ZvObj* object, const uint8_t* rgba, int width, int height, int frames);
// The frame count of the texture registered under the file, 0 when none.
int zvRenderMovieFramesKnown(ZvObj* object);

// ---------------------------------------------------------------------------
// Per world
int zvRenderConstructWorldInViewer(ZvWorld* world);
int zvRwInitRWStruct(ZvWorld* world);
int zvRwSetDefaultCamera(ZvWorld* world);
int zvRwSetScene(ZvWorld* world);
int zvRenderDestroyWorldInViewer(ZvWorld* world);
int zvRenderBeforeIncrementalLoading(ZvWorld* world);
int zvRenderSetWindow(ZvWorld* world, void* window, RwDeviceContext* deviceContext);
int zvRenderSuspend(ZvWorld* world);
int zvRenderResume(ZvWorld* world);
void zvRenderBeginProgressiveDisplay(void);
void zvRenderEndProgressiveDisplay(void);

// ---------------------------------------------------------------------------
// Per object subtree
int zvRenderConstructPartInViewer(ZvObj* object);
int zvRenderConstructPersonInViewer(ZvObj* object);
int zvRenderDestroyPartInViewer(ZvObj* object);
int zvRenderDestroyLeafTexture(ZvLeaf* leaf);
int zvRenderSetBoundingBoxInViewer(ZvObj* object);
int zvRenderDeleteBoundingBoxInViewer(ZvObj* object);
// World-space box around what was built for a shape leaf, children included;
// -1 when nothing was built or it has no vertices.
int zvRenderGetShapeWorldBounds(ZvLeaf* leaf, float min[3], float max[3]);
int zvRenderSetShapeState(ZvObj* object, int on);
int zvRenderSetLightState(ZvObj* object, int on);
int zvRenderSetObjState(ZvObj* object, int on);
int zvRenderSetObjLeafMode(ZvObj* object, int solid);
int zvRwSetLeafMode(ZvLeaf* leaf, int solid);
// The clump a shape leaf was built into (a face leaf's through its polygon).
RwClump* zvRenderGetLeafClump(ZvLeaf* leaf);
// The leaf of the object that a shape clump's tag names (a line segment's
// parent, a point set's or text's clump, any other shape clump).
ZvLeaf* zvRenderGetClumpLeaf(ZvObj* object, RwClump* clump);

// ---------------------------------------------------------------------------
// Frames and cameras
int zvRenderShowWorld(ZvWorld* world);
int TrackBackdropToCamera(RwCamera* camera, RwRaster* backdrop);
int zvRenderEvaluateLOD(ZvWorld* world, RwCamera* camera);
// The renderer camera of the world's active camera, or null.
RwCamera* zvRenderGetActiveRwCamera(ZvWorld* world);
// The camera object behind it (a Switch entry gives the camera it has
// chosen); null while the default camera is active, or when there is none.
ZvObj* zvRenderGetActiveCameraObj(ZvWorld* world);
int zvRenderSetCameraViewport(ZvWorld* world, int x, int y, int width, int height);
int zvRenderGetCameraViewport(ZvObj* camera, int* x, int* y, int* width, int* height);
int zvRenderGetActiveCameraViewport(ZvWorld* world, int* x, int* y, int* width, int* height);
int zvRenderGetCameraViewWindow(ZvObj* camera, float* width, float* height);
int zvRenderGetActiveCameraViewWindow(ZvWorld* world, float* width, float* height);
int zvRenderGetCameraNearClipping(ZvObj* camera, float* distance);
int zvRenderGetActiveCameraNearClipping(ZvWorld* world, float* distance);
int zvRenderGetCameraFarClipping(ZvObj* camera, float* distance);
int zvRenderGetActiveCameraFarClipping(ZvWorld* world, float* distance);
int zvRenderGetCameraLookAt(ZvObj* camera, float xyz[3]);
int zvRenderGetActiveCameraLookAt(ZvWorld* world, float xyz[3]);
int zvRenderGetCameraLookUp(ZvObj* camera, float xyz[3]);
int zvRenderGetActiveCameraLookUp(ZvWorld* world, float xyz[3]);
int zvRenderProjectPoint(ZvWorld* world, const float point[3], int* x, int* y, int* visible);
int zvRenderSetLightAttribute(ZvObj* object, int code, void* value);
int zvRenderSetCameraAttribute(ZvObj* object, int code, void* value);

// Plan views through a camera of the caller's.
RwCamera* zvAuthNewCamera(void);
int zvAuthSetCameraViewport(RwCamera* camera, int x, int y, int width, int height);
int zvAuthShowWorld(ZvWorld* world, RwCamera* camera, void* window, RwDeviceContext* deviceContext);

// ---------------------------------------------------------------------------
// Transforms
int zvRenderAddObjToTransferedObjList(ZvObj* object);
void zvRenderForgetTransferedObj(ZvWorld* world, ZvObj* object);
int zvRenderTransformZvShape(ZvLeaf* leaf);
int zvRenderTransformZvLight(ZvLeaf* leaf);
int zvRenderTransformZvCamera(ZvLeaf* leaf, RwCamera* camera);
RwMatrix* zvRwGetObjectWRT(ZvObj* object, RwMatrix* matrix);

// ---------------------------------------------------------------------------
// Leaf builders: each takes the object whose first leaf decides the kind.
int zvRwSetAsciiText(ZvObj* object);
int zvRwSetCone(ZvObj* object);
int zvRwSetCylinder(ZvObj* object);
int zvRwSetFace(ZvObj* object);
int zvRwSetLine(ZvObj* object);
RwClump* zvRwSetLineSegment(ZvLineSet* leaf, int index);
int zvRwSetPointSet(ZvObj* object);
int zvRwSetSphere(ZvObj* object);
int zvRwSetPointLight(ZvObj* object);
int zvRwSetSpotLight(ZvObj* object);
int zvRwSetDirectionalLight(ZvObj* object);
int zvRwSetLight(ZvLeaf* leaf, RwLight* light);
int zvRwSetOrthographicCamera(ZvObj* object);
int zvRwSetPerspectiveCamera(ZvObj* object);
int zvRwSetCamera(ZvLeaf* leaf, RwCamera* camera);

// ---------------------------------------------------------------------------
// Materials
struct ZvRenderMaterial {
  float ambient, diffuse, specular;  // surface
  int32_t lightSampling;             // RW_FACET or RW_VERTEX
  float color[3];
  float opacity;
};
int zvRenderSetMaterial(ZvLeaf* leaf);
int zvRenderSetConeSideMaterial(ZvLeaf* leaf);
int zvRenderSetCircleMaterial(ZvLeaf* leaf);
int zvRenderSetCylinderSideMaterial(ZvLeaf* leaf);
int zvRenderSetFaceMaterial(ZvLeaf* leaf);
int zvRenderSetLineMaterial(ZvLeaf* leaf);
int zvRenderSetPointSetMaterial(ZvLeaf* leaf);
int zvRenderSetSphereMaterial(ZvLeaf* leaf);
int zvRwCalcMaterial(ZvRenderMaterial* out, const ZvMaterial* material, int index);
int zvRwCalcMeanMaterial(ZvRenderMaterial* out, const ZvMaterial* material, int first, int count);
int zvRwSetMaterialToPolygon(RwPolygon* polygon, const ZvRenderMaterial* material);

// ---------------------------------------------------------------------------
// Textures
int zvRenderSetObjTexture(ZvObj* object);
int zvRenderSetLeafTexture(ZvLeaf* leaf);
int zvRwSetAsciiTextTexture(ZvLeaf* leaf);
int zvRwSetConeTexture(ZvLeaf* first);
int zvRwSetConeSideTexture(ZvLeaf* leaf);
int zvRwSetCylinderTexture(ZvLeaf* first);
int zvRwSetCylinderSideTexture(ZvLeaf* leaf);
int zvRwSetCircleTexture(ZvLeaf* leaf);
int zvRwSetSphereTexture(ZvLeaf* leaf);
int zvRwSetFaceSetTexture(ZvLeaf* first);
int zvRwSetFaceTexture(ZvLeaf* leaf);
// Hands (u, v) pairs, one per corner in vertex order, to the polygon.
int zvRwTexturizePolygon(RwPolygon* polygon, int count, const ZvSFVec2f* uv);
// Pending textures: held back while a world loads, applied in one pass.
enum { ZV_PENDING_TEXTURES = 1024 };
int zvVFaddPendingTextures(ZvObj* object);
int zvVFloadAllPendingTextures(void);
void zvVFresetPendingTextures(void);
int zvVFpendingTextureCount(void);
