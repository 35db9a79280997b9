// cpupriv.h — what the CPU side's files share among themselves and the GL
// side never needs: the library's open state, the sticky surface state,
// reference release helpers and the pick cache's lifetime hook.
#pragma once

#include "rwlib/rwpriv.h"

// Library state (lib.cpp).
enum { RW_LIB_CLOSED = 0, RW_LIB_NULL = 1, RW_LIB_GPU = 2 };
int rwLibState(void);
RwCamera* rwUpdatingCamera(void);  // the camera between begin and end, or null
void rwSetUpdatingCamera(RwCamera* camera);

// The sticky surface state that new polygons take (model.cpp).
const RwSurfaceState* rwCurrentSurface(void);

// Drops one reference; frees the record at zero (raster.cpp).
void rwReleaseRaster(RwRaster* raster);
void rwReleaseTexture(RwTexture* texture);

// Newell's normal of corners [first, first + count) of a clump, not
// normalised: its length is twice the polygon's area (geometry.cpp).
RwV3d rwNewellNormal(const RwClump* clump, uint32_t first, uint32_t count);

// A clump's local to world matrix (clump.cpp).
void rwComputeLTM(const RwClump* clump, RwMatrix* out);

// Called before a clump's memory goes, so no cache outlives it (pick.cpp).
void rwPickForgetClump(const RwClump* clump);

// A polygon over 0-based corners, with the sticky surface (clump.cpp).
RwPolygon* rwNewPolygon(RwClump* clump, int count, const uint32_t* corners);

// The camera to world matrix with its rotation made orthonormal (camera.cpp).
bool rwOrthonormalise(RwMatrix* matrix);
