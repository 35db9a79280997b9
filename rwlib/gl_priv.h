// gl_priv.h — what the GL side's files share: the table of GL entry points,
// the shader programs, and the records the GL side hangs on the library's
// objects (their `gpu` fields). Only gl*.cpp include this.
//
// Every record is listed, so that closing the context can free the GL
// objects while the context is still current and null the owners' fields:
// a record never outlives the context it was made in.
#pragma once

#include <GL/glcorearb.h>

#include <cstdint>
#include <vector>

#include "rwlib/rwpriv.h"

// ---------------------------------------------------------------------------
// GL entry points, loaded through eglGetProcAddress when the context opens.
#define RW_GL_ENTRIES(X)                                          \
  X(PFNGLGETSTRINGPROC, GetString)                                \
  X(PFNGLGETINTEGERVPROC, GetIntegerv)                            \
  X(PFNGLGETERRORPROC, GetError)                                  \
  X(PFNGLCLEARPROC, Clear)                                        \
  X(PFNGLCLEARCOLORPROC, ClearColor)                              \
  X(PFNGLCLEARDEPTHPROC, ClearDepth)                              \
  X(PFNGLVIEWPORTPROC, Viewport)                                  \
  X(PFNGLSCISSORPROC, Scissor)                                    \
  X(PFNGLENABLEPROC, Enable)                                      \
  X(PFNGLDISABLEPROC, Disable)                                    \
  X(PFNGLDEPTHMASKPROC, DepthMask)                                \
  X(PFNGLDEPTHFUNCPROC, DepthFunc)                                \
  X(PFNGLBLENDFUNCPROC, BlendFunc)                                \
  X(PFNGLCULLFACEPROC, CullFace)                                  \
  X(PFNGLFRONTFACEPROC, FrontFace)                                \
  X(PFNGLPIXELSTOREIPROC, PixelStorei)                            \
  X(PFNGLREADPIXELSPROC, ReadPixels)                              \
  X(PFNGLGENFRAMEBUFFERSPROC, GenFramebuffers)                    \
  X(PFNGLDELETEFRAMEBUFFERSPROC, DeleteFramebuffers)              \
  X(PFNGLBINDFRAMEBUFFERPROC, BindFramebuffer)                    \
  X(PFNGLFRAMEBUFFERRENDERBUFFERPROC, FramebufferRenderbuffer)    \
  X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, CheckFramebufferStatus)      \
  X(PFNGLGENRENDERBUFFERSPROC, GenRenderbuffers)                  \
  X(PFNGLDELETERENDERBUFFERSPROC, DeleteRenderbuffers)            \
  X(PFNGLBINDRENDERBUFFERPROC, BindRenderbuffer)                  \
  X(PFNGLRENDERBUFFERSTORAGEPROC, RenderbufferStorage)            \
  X(PFNGLGENTEXTURESPROC, GenTextures)                            \
  X(PFNGLDELETETEXTURESPROC, DeleteTextures)                      \
  X(PFNGLBINDTEXTUREPROC, BindTexture)                            \
  X(PFNGLACTIVETEXTUREPROC, ActiveTexture)                        \
  X(PFNGLTEXIMAGE2DPROC, TexImage2D)                              \
  X(PFNGLTEXPARAMETERIPROC, TexParameteri)                        \
  X(PFNGLGENERATEMIPMAPPROC, GenerateMipmap)                      \
  X(PFNGLGENBUFFERSPROC, GenBuffers)                              \
  X(PFNGLDELETEBUFFERSPROC, DeleteBuffers)                        \
  X(PFNGLBINDBUFFERPROC, BindBuffer)                              \
  X(PFNGLBUFFERDATAPROC, BufferData)                              \
  X(PFNGLBUFFERSUBDATAPROC, BufferSubData)                        \
  X(PFNGLGENVERTEXARRAYSPROC, GenVertexArrays)                    \
  X(PFNGLDELETEVERTEXARRAYSPROC, DeleteVertexArrays)              \
  X(PFNGLBINDVERTEXARRAYPROC, BindVertexArray)                    \
  X(PFNGLENABLEVERTEXATTRIBARRAYPROC, EnableVertexAttribArray)    \
  X(PFNGLVERTEXATTRIBPOINTERPROC, VertexAttribPointer)            \
  X(PFNGLCREATESHADERPROC, CreateShader)                          \
  X(PFNGLSHADERSOURCEPROC, ShaderSource)                          \
  X(PFNGLCOMPILESHADERPROC, CompileShader)                        \
  X(PFNGLGETSHADERIVPROC, GetShaderiv)                            \
  X(PFNGLGETSHADERINFOLOGPROC, GetShaderInfoLog)                  \
  X(PFNGLDELETESHADERPROC, DeleteShader)                          \
  X(PFNGLCREATEPROGRAMPROC, CreateProgram)                        \
  X(PFNGLATTACHSHADERPROC, AttachShader)                          \
  X(PFNGLLINKPROGRAMPROC, LinkProgram)                            \
  X(PFNGLGETPROGRAMIVPROC, GetProgramiv)                          \
  X(PFNGLGETPROGRAMINFOLOGPROC, GetProgramInfoLog)                \
  X(PFNGLDELETEPROGRAMPROC, DeleteProgram)                        \
  X(PFNGLUSEPROGRAMPROC, UseProgram)                              \
  X(PFNGLGETUNIFORMLOCATIONPROC, GetUniformLocation)              \
  X(PFNGLUNIFORM1IPROC, Uniform1i)                                \
  X(PFNGLUNIFORM1FPROC, Uniform1f)                                \
  X(PFNGLUNIFORM2IPROC, Uniform2i)                                \
  X(PFNGLUNIFORM3FPROC, Uniform3f)                                \
  X(PFNGLUNIFORM3FVPROC, Uniform3fv)                              \
  X(PFNGLUNIFORM4FVPROC, Uniform4fv)                              \
  X(PFNGLUNIFORMMATRIX3FVPROC, UniformMatrix3fv)                  \
  X(PFNGLUNIFORMMATRIX4FVPROC, UniformMatrix4fv)                  \
  X(PFNGLDRAWARRAYSPROC, DrawArrays)                              \
  X(PFNGLDRAWELEMENTSPROC, DrawElements)                          \
  X(PFNGLDRAWELEMENTSINSTANCEDPROC, DrawElementsInstanced)        \
  X(PFNGLVERTEXATTRIBDIVISORPROC, VertexAttribDivisor)            \
  X(PFNGLMULTIDRAWELEMENTSPROC, MultiDrawElements)

struct RwGlEntries {
#define RW_GL_MEMBER(type, name) type name;
  RW_GL_ENTRIES(RW_GL_MEMBER)
#undef RW_GL_MEMBER
};
extern RwGlEntries gl;

// Takes the pending GL errors; true when one was running out of memory, so
// a buffer or texture that was asked for does not exist.
bool rwGlOutOfMemory(void);
int rwGlMaxTextureSize(void);
// Whether GL draws on the CPU (Mesa's llvmpipe or softpipe): some work is
// then cheaper done by hand than through the pipeline.
bool rwGlSoftwareRenderer(void);
int rwGlMaxRenderbufferSize(void);

// ---------------------------------------------------------------------------
// Shader programs (gl_shader.cpp), made when the context opens.
enum { RW_GL_MAX_LIGHTS = 16 };

struct RwGlSurfaceProgram {
  GLuint program;
  GLint viewProj, model, normalMatrix;
  GLint lit, twoSided, texture;
  GLint ambient, lightCount, lightPos, lightDir, lightColor;
  GLint eye, parallel, viewDir;
};
struct RwGlBackdropProgram {
  GLuint program;
  GLint raster, origin, viewHeight;
};
struct RwGlPrograms {
  RwGlSurfaceProgram surface[2];  // untextured, textured
  RwGlBackdropProgram backdrop;
  GLuint emptyVao;  // core profile draws need one bound even without attributes
};
extern RwGlPrograms rwGlPrograms;

bool rwGlCreatePrograms(void);
void rwGlDeletePrograms(void);

// ---------------------------------------------------------------------------
// Records. Each derives from the header, so the context can list them all.
enum { RW_GL_CAMERA = 1, RW_GL_RASTER, RW_GL_TEXTURE, RW_GL_SCENE };

struct RwGlRecord {
  int kind;
  void** slot;  // the owner's gpu field
  RwGlRecord* prev;
  RwGlRecord* next;
};
void rwGlTrackRecord(RwGlRecord* record, int kind, void** slot);
template <typename T>
T* rwGlRecordOf(void* gpu) {
  return static_cast<T*>(static_cast<RwGlRecord*>(gpu));
}
void rwGlUntrackRecord(RwGlRecord* record);

// Frees one record of each kind: its GL objects, the record, the owner's field.
void rwGlReleaseCamera(RwGlRecord* record);
void rwGlReleaseRaster(RwGlRecord* record);
void rwGlReleaseTexture(RwGlRecord* record);
void rwGlReleaseScene(RwGlRecord* record);

// Binds the framebuffer of a camera that has begun its update (gl_camera.cpp).
bool rwGlBindCamera(RwCamera* camera);

// ---------------------------------------------------------------------------
// Textures (gl_texture.cpp).
struct RwGlTexture : RwGlRecord {
  GLuint name;
  bool uploaded;     // what the fields below describe is in `name`
  bool usable;       // the raster could be shown at all
  bool translucent;  // some texel is not fully opaque
  uint32_t version;
  const RwRaster* raster;
  uint32_t rasterVersion;
  const RwRaster* mask;
  uint32_t maskVersion;
  int32_t frame;
};
// Uploads the texture when it changed; null when it cannot be shown.
RwGlTexture* rwGlPrepareTexture(RwTexture* texture);
// The raster as a plain texture for backdrops (texel-exact, no mipmaps), or 0.
GLuint rwGlPrepareRaster(RwRaster* raster);

// ---------------------------------------------------------------------------
// Small matrix helpers in the library's row-vector convention.
void rwGlMultiply(const RwMatrix& a, const RwMatrix& b, RwMatrix& out);  // a then b
// Inverse of an affine matrix; false when singular.
bool rwGlInvertAffine(const RwMatrix& m, RwMatrix& out);
// The matrix that carries normals through m's upper 3x3 (inverse transpose),
// row-major, as n' = n * N; false when singular.
bool rwGlNormalMatrix(const RwMatrix& m, float out[9]);
float rwGlDeterminant3(const RwMatrix& m);  // its sign only: -1, 0 or 1

// ---------------------------------------------------------------------------
// Meshes (gl_batch.cpp): vertex and index buffers cut into parts, one part
// per look, so a mesh draws in a handful of calls whatever its size.
struct RwGlVertex {
  float position[3];
  float normal[3];
  uint8_t color[4];    // r, g, b, opacity
  uint8_t surface[4];  // ambient, diffuse, specular, unused
  float uv[2];
};

// What a polygon's look needs from the GL state; one part per key.
struct RwGlKey {
  RwTexture* texture;  // null: untextured
  uint8_t alpha;       // opacity below one: drawn blended
  uint8_t both;        // both sides drawn
  uint8_t lines;       // wireframe edges
};
bool operator<(const RwGlKey& a, const RwGlKey& b);

// A run of one clump's indices inside a part; owner null once that clump left.
struct RwGlRange {
  void* owner;
  uint32_t first, count;
};

struct RwGlPart {
  RwGlKey key;
  uint32_t first, count;           // indices, in the mesh's index buffer
  std::vector<RwGlRange> ranges;   // absolute index positions, in order
  // Translucent triangle parts keep their triangles on the CPU as well, so
  // they can be drawn back to front: three indices and a centroid (in the
  // mesh's coordinates) a triangle. Empty for everything else.
  std::vector<uint32_t> indices;
  std::vector<float> centroids;
  bool sortable() const { return !centroids.empty(); }
};

struct RwGlMesh {
  GLuint vao, vbo, ibo;
  std::vector<RwGlPart> parts;     // sorted by key
  uint64_t indexCount;
  bool hasBounds;
  RwV3d min, max;                  // of its vertices, in its own coordinates
  // The translucent triangles in the order last sorted, drawn through a
  // second vertex array over the same vertices; made on first use.
  GLuint sortVao, sortIbo;
  size_t sortCapacity;             // indices sortIbo holds room for
  // A clump with instances: their offsets, one a copy, drawn in one call.
  GLuint instanceVbo;
  uint32_t instanceCount;
};

// Collects clumps' polygons, then uploads them as one mesh.
struct RwGlBuilder {
  struct Bucket {
    RwGlKey key;
    std::vector<uint32_t> indices;
    std::vector<RwGlRange> ranges;  // first relative to the bucket
    uint32_t lastSerial;
  };
  std::vector<RwGlVertex> vertices;
  std::vector<Bucket> buckets;
  uint32_t serial = 0;
  size_t lastBucket = SIZE_MAX;
  // Bounds of what the last rwGlAddClump emitted, in the mesh's coordinates.
  bool clumpHasBounds = false;
  RwV3d clumpMin = {}, clumpMax = {};
  // Scratch.
  std::vector<uint32_t> triangles;    // from rwTriangulate
  std::vector<uint32_t> cornerIndex;  // a polygon's corners as vertex indices
  std::vector<uint32_t> slots;        // the clump's vertices by their attributes
};

// Makes room for that many more corners, sparing regrowth on big builds.
void rwGlReserve(RwGlBuilder& builder, size_t corners);
// Adds a clump's own polygons (not its children's). With `bake`, vertices
// are carried into that frame (the world); otherwise they stay local.
// `owner` tags the index runs, for drawing a subset later.
void rwGlAddClump(RwGlBuilder& builder, RwClump* clump, const RwMatrix* bake, void* owner);
// Uploads what was collected into `mesh`, replacing its buffers; false when
// there was nothing to draw (the mesh is then empty).
bool rwGlFinishMesh(RwGlBuilder& builder, RwGlMesh& mesh);
void rwGlDeleteMesh(RwGlMesh& mesh);
// Gives a clump's own mesh its instances: each copy is drawn at its offset,
// and the bounds grow to hold them all. Instanced parts are not sorted: a
// translucent text draws its glyphs in the order they were laid out.
bool rwGlAttachInstances(RwGlMesh& mesh, const RwClump* clump);
// Replaces the mesh's sorted indices; false when the buffer cannot be had.
bool rwGlUploadSorted(RwGlMesh& mesh, const std::vector<uint32_t>& indices);
