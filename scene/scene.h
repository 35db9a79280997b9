// scene.h — the scene model: worlds, the object tree, identifiers, leaves,
// materials, field values, names, object values, attributes, extensions,
// bounding cubes and object transforms; plus the two things every layer
// needs and nobody else may own: the allocator and the report routines.
//
// Depends on nothing but the C++ standard library. Where the model must tell
// a higher layer something (an object is deleted, a transform changed), it
// calls through the hook table at the end of this header; a hook left null
// does nothing.
//
// Conventions: integer results are 0 success, -1 failure, -5 out of memory,
// -6 identifiers exhausted; pointer results are null on failure. Null
// arguments are answered, never dereferenced. Records own their strings and
// arrays; deleting a record frees what it owns.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Result codes
enum {
  ZV_OK = 0,
  ZV_FAIL = -1,
  ZV_NULL_CHILD = -3,  // a child list holds a null entry
  ZV_NOMEM = -5,
  ZV_NOID = -6,
};

// ---------------------------------------------------------------------------
// Allocation. Every record of the model comes from here, so that tests can
// swap in a failing allocator and walk the out-of-memory paths.
struct ZvAllocator {
  void* (*alloc)(size_t size, void* user);               // need not zero
  void* (*realloc)(void* ptr, size_t size, void* user);  // ptr never null
  void (*free)(void* ptr, void* user);
  void* user;
};
void zvSetAllocator(const ZvAllocator* allocator);  // null restores malloc
void* zvMalloc(size_t size);                         // zero-filled
void* zvRealloc(void* ptr, size_t size);
void zvFree(void* ptr);
char* zvStrdup(const char* text);

// ---------------------------------------------------------------------------
// Reporting. All text goes through one sink; the default writes to stderr.
enum ZvDebugClass {
  ZV_DEBUG_WARNING = 1,
  ZV_DEBUG_ERROR = 2,
  ZV_DEBUG_MESSAGE = 3,
  ZV_DEBUG_ZV = 4,
  ZV_DEBUG_RW = 5,
  ZV_DEBUG_QV = 6,
  ZV_DEBUG_TK = 7,
  ZV_DEBUG_AUTH = 8,
};
// cls is the debug class of the text; first is 1 for the first error of the
// process (the one that gets the "Fatal Error" box).
typedef void (*ZvReportSink)(int cls, const char* text, int first, void* user);
void zvSetReportSink(ZvReportSink sink, void* user);  // null: stderr
void zvError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void zvWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void zvMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
void zvDebug(int cls, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The two-argument helpers: "%s %s" and "%s %d" to the fatal path or to the
// message window.
void zvErrorSS(const char* a, const char* b);
void zvErrorSD(const char* a, int b);
void zvMessageSS(const char* a, const char* b);
void zvMessageSD(const char* a, int b);
// A zvError marks the run as failed; headless runs end with status 2.
int zvReportFailed(void);
void zvClearReportFailed(void);

// Debug-class table: eight rows, looked up by number or by name.
int zvGetDebugFlag(int cls);                       // unknown number reads 0
int zvSetDebugFlag(int cls, int on);               // -1 for an unknown number
int zvSetDebugFlagByName(const char* name, int on);  // -1, nothing changed, if unknown
const char* zvDebugClassName(int cls);
void zvResetDebugFlags(void);  // the table as at process start

// ---------------------------------------------------------------------------
// Chained hash table. Keys are copied; values belong to the caller.
typedef uint32_t (*ZvHashFunc)(const void* key, int32_t length, uint32_t buckets);
struct ZvHashEntry {
  ZvHashEntry* next;
  void* key;  // owned copy, in the entry's own block
  int32_t length;
  void* value;
};
struct ZvHash {
  uint32_t buckets;
  ZvHashEntry** heads;
  ZvHashFunc hash;
};
int zvNewHash(uint32_t buckets, ZvHash** out, ZvHashFunc hash);
int zvNewHashEntry(ZvHash* table, const void* key, int32_t length, void* value);
int zvLookupHash(const ZvHash* table, const void* key, int32_t length, void** value);
int zvRemoveHashEntry(ZvHash* table, const void* key, int32_t length);
int zvFindHashKey(const ZvHash* table, const void* value, const void** key, int32_t* length);
// Stops and answers -1 as soon as fn answers 0.
int zvForEachHash(ZvHash* table, int (*fn)(void* value, void* arg), void* arg);
// fn answers ZV_HASH_REMOVE, ZV_HASH_REMOVE_STOP or ZV_HASH_KEEP; anything
// else stops with -1.
enum { ZV_HASH_REMOVE = 0, ZV_HASH_REMOVE_STOP = 1, ZV_HASH_KEEP = 2 };
int zvFilterHash(ZvHash* table, int (*fn)(void* value, void* arg), void* arg);
void zvDeleteHash(ZvHash* table);
uint32_t zvIdHashFunc(const void* key, int32_t length, uint32_t buckets);

// ---------------------------------------------------------------------------
// Field values
typedef uint32_t ZvSFBitMask;
typedef int32_t ZvSFBool;
struct ZvSFColor { float r, g, b; };
typedef float ZvSFFloat;
struct ZvSFImage {
  uint16_t width, height;
  int32_t components;
  unsigned char* pixels;  // width * height * components bytes, owned
};
typedef int32_t ZvSFInt32;
struct ZvSFMatrix { float m[4][4]; };
struct ZvSFRotation { float x, y, z, angle; };
struct ZvSFTime { int32_t sec, msec; };
struct ZvSFVec2f { float x, y; };
struct ZvSFVec3f { float x, y, z; };

struct ZvMFColor { int32_t count; ZvSFColor* values; };
struct ZvMFFloat { int32_t count; float* values; };
struct ZvMFInt32 { int32_t count; int32_t* values; };
struct ZvMFVec2f { int32_t count; ZvSFVec2f* values; };
struct ZvMFVec3f { int32_t count; ZvSFVec3f* values; };
struct ZvMFString { int32_t count; char** values; };

ZvSFBitMask* zvGFnewSFBitMask(int n);
ZvSFBool* zvGFnewSFBool(int n);
ZvSFColor* zvGFnewSFColor(int n);
ZvSFFloat* zvGFnewSFFloat(int n);
ZvSFImage* zvGFnewSFImage(int n);
ZvSFInt32* zvGFnewSFInt32(int n);
ZvSFMatrix* zvGFnewSFMatrix(int n);
ZvSFRotation* zvGFnewSFRotation(int n);
ZvSFTime* zvGFnewSFTime(int n);
ZvSFVec2f* zvGFnewSFVec2f(int n);
ZvSFVec3f* zvGFnewSFVec3f(int n);
void zvGFsetSFColor(ZvSFColor* c, float r, float g, float b);
void zvGFsetSFRotation(ZvSFRotation* r, float x, float y, float z, float angle);
void zvGFsetSFVec2f(ZvSFVec2f* v, float x, float y);
void zvGFsetSFVec3f(ZvSFVec3f* v, float x, float y, float z);
void zvGFsetSFTime(ZvSFTime* t, int32_t sec, int32_t msec);

#define ZV_DECLARE_MF(T, E)                                  \
  ZvMF##T* zvGFnewMF##T(int n);                              \
  int zvGFcopyMF##T(ZvMF##T* destination, const ZvMF##T* source); \
  ZvMF##T* zvGFnewCopyMF##T(const ZvMF##T* source);          \
  void zvGFclearMF##T(ZvMF##T* record);                      \
  void zvGFdeleteMF##T(ZvMF##T* record);
ZV_DECLARE_MF(Color, ZvSFColor)
ZV_DECLARE_MF(Float, float)
ZV_DECLARE_MF(Int32, int32_t)
ZV_DECLARE_MF(Vec2f, ZvSFVec2f)
ZV_DECLARE_MF(Vec3f, ZvSFVec3f)
#undef ZV_DECLARE_MF
ZvMFString* zvGFnewMFString(void);
int zvGFaddMFString(ZvMFString* record, char* string);  // takes ownership
void zvGFclearMFString(ZvMFString* record);
void zvGFdeleteMFString(ZvMFString* record);

// ---------------------------------------------------------------------------
// Transforms: 3x3 rotation stored row by row (row r is the image of axis r),
// then the translation as row 3. A point p maps to
// p.x*m[0] + p.y*m[1] + p.z*m[2] + m[3].
struct ZvTransform { float m[4][3]; };
void zvTransformIdentity(ZvTransform* t);
// out = a ∘ b: b applied first, then a. out may alias a or b.
void zvTransformCompose(ZvTransform* out, const ZvTransform* a, const ZvTransform* b);
// Transposes the rotation: exact for rigid transforms only.
void zvTransformInvert(ZvTransform* out, const ZvTransform* t);  // rigid transforms only
int zvTransformInvertAffine(ZvTransform* out, const ZvTransform* t);  // -1 when singular
void zvTransformPoint(const ZvTransform* t, const float in[3], float out[3]);
void zvTransformVector(const ZvTransform* t, const float in[3], float out[3]);

// ---------------------------------------------------------------------------
// Node types: the VRML node an object or leaf kind was made from.
enum ZvNodeType {
  ZV_NODE_NONE = 0,
  ZV_NODE_AMBIENT_SOUND = 1, ZV_NODE_CONE, ZV_NODE_COORDINATE3, ZV_NODE_CUBE,
  ZV_NODE_CYLINDER, ZV_NODE_DIRECTIONAL_LIGHT, ZV_NODE_GROUP,
  ZV_NODE_INDEXED_FACE_SET, ZV_NODE_INDEXED_LINE_SET, ZV_NODE_INFO, ZV_NODE_LOD,
  ZV_NODE_MATERIAL, ZV_NODE_MATERIAL_BINDING, ZV_NODE_MATRIX_TRANSFORM,
  ZV_NODE_NORMAL, ZV_NODE_NORMAL_BINDING, ZV_NODE_ORTHOGRAPHIC_CAMERA,
  ZV_NODE_PERSPECTIVE_CAMERA, ZV_NODE_POINT_LIGHT, ZV_NODE_POINT_SET,
  ZV_NODE_ROTATION, ZV_NODE_SCALE, ZV_NODE_SEPARATOR, ZV_NODE_SHAPE_HINTS,
  ZV_NODE_SPHERE, ZV_NODE_SPOT_LIGHT, ZV_NODE_SWITCH, ZV_NODE_TEXTURE2,
  ZV_NODE_TEXTURE2_TRANSFORM, ZV_NODE_TEXTURE_COORDINATE2, ZV_NODE_TRANSFORM,
  ZV_NODE_TRANSFORM_SEPARATOR, ZV_NODE_TRANSLATION,
  ZV_NODE_TRANSPARENT_TEXTURE2, ZV_NODE_WWW_ANCHOR, ZV_NODE_WWW_INLINE,
  ZV_NODE_ASCII_TEXT, ZV_NODE_KIN_JOINT,
  ZV_NODE_LAST = ZV_NODE_KIN_JOINT,
};
int zvNodeTypeByName(const char* name);  // 0 when unknown
const char* zvNodeTypeName(int type);    // null for 0 or out of range

// ---------------------------------------------------------------------------
// Records owned by other subsystems; the model only holds and frees them
// through hooks.
struct ZvEventHandlerList;
struct ZvTimeOutHandlerList;
struct ZvCameraTable;
struct ZvUrlHash;
struct ZvUrlHashTable;
struct ZvMovie;
struct ZvNavigation;

// ---------------------------------------------------------------------------
// Leaves
enum ZvLeafType {
  ZV_LEAF_TEXT = 1,
  ZV_LEAF_CONE_SIDE = 2,
  ZV_LEAF_CONE_BOTTOM = 3,
  ZV_LEAF_CYLINDER_SIDE = 4,
  ZV_LEAF_CYLINDER_BOTTOM = 5,
  ZV_LEAF_CYLINDER_TOP = 6,
  ZV_LEAF_CIRCLE = 7,
  ZV_LEAF_FACE = 8,
  ZV_LEAF_LINE_SET = 9,
  ZV_LEAF_POINT_SET = 10,
  ZV_LEAF_SPHERE = 11,
  ZV_LEAF_POINT_LIGHT = 14,
  ZV_LEAF_SPOT_LIGHT = 15,
  ZV_LEAF_DIRECTIONAL_LIGHT = 16,
  ZV_LEAF_ORTHOGRAPHIC_CAMERA = 19,
  ZV_LEAF_PERSPECTIVE_CAMERA = 20,
  ZV_LEAF_SOUND = 22,
};
enum {  // shape leaf flags
  ZV_LEAF_GOURAUD = 0x40,
  ZV_LEAF_BACKFACE = 0x80,
  // The six material arrays live in one block based at ambient.values: the
  // reader makes hundreds of thousands of faces, each with its own material.
  // Changing an array first gives each its own block again.
  ZV_LEAF_PACKED_MATERIAL = 0x100,
  // The face's normals, vertices and texture coordinates live in the leaf's
  // own block (zvNewPackedFaceLeaf), for the same reason; they go with it
  // and are never freed or replaced on their own.
  ZV_LEAF_PACKED_FACE = 0x200,
};
enum {  // cone and cylinder part bits
  ZV_PART_ALL = 1,
  ZV_PART_SIDES = 2,
  ZV_PART_TOP = 4,
  ZV_PART_BOTTOM = 8,
};

struct ZvObj;
struct ZvWorld;
struct ZvFaceBlock;

struct ZvLeaf {
  int32_t type;
  ZvObj* owner;
  ZvLeaf* next;
  void* rendering;  // the renderer's structure, null until constructed
};

struct ZvTexture {
  ZvUrlHash* texture;  // image, from the world's URL table (not owned)
  ZvUrlHash* mask;     // transparency mask (not owned)
  float transform[6];  // texture transform, identity 1 0 0 1 0 0
  int32_t uvCount;
  ZvSFVec2f* uv;       // owned when uvCount > 0
  int32_t materialBinding;  // as the face and line conversion codes it
  int16_t wrapS, wrapT;     // 0 repeat, 1 clamp
  ZvMovie* movie;
};

// Material attribute numbers used by the accessors and by scripts.
enum {
  ZV_MAT_AMBIENT = 1,
  ZV_MAT_DIFFUSE = 2,
  ZV_MAT_SPECULAR = 3,
  ZV_MAT_EMISSIVE = 4,
  ZV_MAT_SHININESS = 5,
  ZV_MAT_TRANSPARENCY = 6,
};
struct ZvMaterial {
  int32_t maxElement;
  ZvMFColor ambient, diffuse, specular, emissive;
  ZvMFFloat shininess, transparency, specularPower;
};

struct ZvShape : ZvLeaf {
  uint32_t flags;
  ZvTexture texture;
  ZvMaterial material;
};
struct ZvFont { float size; int32_t family, style; };
struct ZvText : ZvShape {
  ZvFont font;  // size 10, codes 0 and 1
  int32_t justification;
  char* text;   // lines separated by '\n', owned
  float spacing;
  int32_t width;
};
struct ZvConeSide : ZvShape { float bottomRadius, height; };
struct ZvCircle : ZvShape { float radius, height; };  // types 3, 5, 6, 7
struct ZvCylinderSide : ZvShape { float topRadius, bottomRadius, height; };
struct ZvFace : ZvShape {
  int32_t convex;  // 1: known convex, drawn without splitting
  int32_t normalCount;
  ZvSFVec3f* normals;  // owned
  int32_t normalBinding;
  int32_t orthoNormalValid;
  ZvSFVec3f orthoNormal;
  int32_t faceType;  // 1 at creation
  int32_t vertexCount;
  ZvSFVec3f* vertices;  // owned
  ZvFaceBlock* block;   // the shared block it was placed in, or null
};
struct ZvLineSet : ZvShape {
  int32_t pointCount;
  ZvSFVec3f* points;   // owned
  int32_t indexCount;
  int32_t* indices;    // owned; -1 ends a polyline
  int32_t lineCount;
  int32_t reserved;
};
struct ZvPointSet : ZvShape {
  int32_t startIndex;
  int32_t indexCount;
  int32_t* indices;    // owned
  int32_t numPoints;
  int32_t pointCount;
  ZvSFVec3f* points;   // owned
};
struct ZvSphere : ZvShape { float radius; };

struct ZvLight : ZvLeaf {
  int32_t on;
  float intensity;
  ZvSFColor color;
};
struct ZvSpotLight : ZvLight {
  float dropOffRate;
  float cutOffAngle;  // radians
};
struct ZvCamera : ZvLeaf {
  float focalDistance;
  float height;  // view height (orthographic) or height angle (perspective)
};
struct ZvSoundLeaf : ZvLeaf {
  void* sound;  // the sound module's record
};

int zvLeafSize(int type);  // 0 and "Undefined ZV leaf" for holes
ZvShape* zvNewShape(int type);
ZvText* zvNewTextLeaf(void);
ZvConeSide* zvNewConeSideLeaf(float bottomRadius, float height);
ZvCircle* zvNewCircleLeaf(int type, float radius, float height);
ZvCylinderSide* zvNewCylinderSideLeaf(float topRadius, float bottomRadius, float height);
ZvFace* zvNewFaceLeaf(void);
// A face with zeroed arrays of these lengths (each at least 1) in its own
// block: ZV_LEAF_PACKED_FACE, and ZV_LEAF_PACKED_MATERIAL with the material
// arrays in the same block (changing one gives them a block of their own).
ZvFace* zvNewPackedFaceLeaf(int normalCount, int vertexCount, int uvCount, int materialCount);
// Many packed faces in one block, for a set that makes a face per polygon:
// the block is sized up front from zvFaceLeafBytes of each face, and
// zvPlaceFaceLeaf lays the next face out in it (null when the counts are
// invalid or the block is full). Unlike zvNewPackedFaceLeaf, the arrays are
// not zeroed: the maker writes every element. Each face is deleted like any
// other leaf, alone or with its chain, in any order; the block goes when the
// maker has released it and the last of its faces is deleted.
size_t zvFaceLeafBytes(int normalCount, int vertexCount, int uvCount, int materialCount);
ZvFaceBlock* zvNewFaceBlock(size_t bytes);
ZvFace* zvPlaceFaceLeaf(ZvFaceBlock* block, int normalCount, int vertexCount, int uvCount, int materialCount);
// zvPlaceFaceLeaf with every other header field copied from model (owner,
// texture record, bindings, flags): a set's faces differ only in their
// arrays. A material count of 0 shares the block's one material record,
// which zvPlaceFaceBlockMaterial placed and pointed model's arrays at
// (count 1, filled by the maker); zvFaceLeafBytes takes 0 the same way.
ZvFace* zvPlaceFaceLeafAs(ZvFaceBlock* block, const ZvFace* model, int normalCount, int vertexCount, int uvCount,
                          int materialCount);
int zvPlaceFaceBlockMaterial(ZvFaceBlock* block, ZvFace* model);
void zvReleaseFaceBlock(ZvFaceBlock* block);
ZvLineSet* zvNewLineSetLeaf(void);
ZvPointSet* zvNewPointSetLeaf(void);
ZvSphere* zvNewSphereLeaf(void);
ZvLight* zvNewPointLight(void);
ZvSpotLight* zvNewSpotLight(void);
ZvLight* zvNewDirectionalLight(void);
ZvCamera* zvNewOrthographicCameraLeaf(void);
ZvCamera* zvNewPerspectiveCameraLeaf(void);
ZvSoundLeaf* zvNewSoundLeaf(void);
// Chains of the requested parts (ZV_PART_*), null if none or out of memory.
ZvLeaf* zvNewCone(int parts, float bottomRadius, float height);
ZvLeaf* zvNewCylinder(int parts, float topRadius, float bottomRadius, float height);

int zvAttachLeaf(ZvObj* object, ZvLeaf* chain);  // appends, sets owners
// zvAttachLeaf for a chain of faces whose vertices the maker boxed while it
// wrote them, in chain order as a cube does (the first vertex, then each
// smaller or larger coordinate): when the object had no leaves, its next
// cube takes the box instead of walking every vertex again. Any change to
// the object's leaves before then drops the box. A chain whose first leaf
// already names object as its owner is taken to be owned whole.
int zvAttachFaceLeaves(ZvObj* object, ZvLeaf* chain, const float min[3], const float max[3]);
ZvLeaf* zvDeleteLeaf(ZvLeaf* leaf);               // answers the next leaf
void zvDeleteAllLeaf(ZvLeaf* first);
int zvDeleteTexture(ZvTexture* texture);
int zvIsShapeLeaf(const ZvLeaf* leaf);
int zvIsLightLeaf(const ZvLeaf* leaf);
int zvIsCameraLeaf(const ZvLeaf* leaf);
int zvIsShapeObj(const ZvObj* object);
int zvIsLightObj(const ZvObj* object);
int zvIsCameraObj(const ZvObj* object);
ZvLeaf* zvFindLeafByType(ZvObj* object, int type);
ZvLeaf* zvGetNthLeaf(ZvObj* object, int n);

// Materials
int zvSetLeafMaterial(ZvLeaf* leaf, const void* value, int attribute);
int zvSetLeafMaterialColor(ZvLeaf* leaf, const ZvMFColor* colors, int attribute);
int zvSetLeafMaterialFloat(ZvLeaf* leaf, const ZvMFFloat* floats, int attribute);
void* zvGetLeafMaterial(ZvLeaf* leaf, int attribute);  // ZvMFColor* or ZvMFFloat*
// Material arrays of n elements in one block (ZV_LEAF_PACKED_MATERIAL), and
// back to one block each; -5 when memory runs out (the leaf unchanged).
int zvPackLeafMaterial(ZvShape* shape, int n);
int zvUnpackLeafMaterial(ZvShape* shape);
#define ZV_DECLARE_MATERIAL(A, V)                   \
  int zvSetObj##A(ZvObj* object, const V* value);   \
  int zvSetObjAll##A(ZvObj* object, const V* value); \
  int zvSetLeaf##A(ZvLeaf* leaf, const V* value);   \
  V* zvGetLeaf##A(ZvLeaf* leaf);                    \
  V* zvGetObj##A(ZvObj* object);                    \
  V* zvGetObjAll##A(ZvObj* object);
ZV_DECLARE_MATERIAL(Ambient, ZvMFColor)
ZV_DECLARE_MATERIAL(Diffuse, ZvMFColor)
ZV_DECLARE_MATERIAL(Specular, ZvMFColor)
ZV_DECLARE_MATERIAL(Emissive, ZvMFColor)
ZV_DECLARE_MATERIAL(Shininess, ZvMFFloat)
ZV_DECLARE_MATERIAL(Transparency, ZvMFFloat)
#undef ZV_DECLARE_MATERIAL
int zvApplyObjMaterial(ZvObj* object);     // the renderer's update, each shape leaf
int zvApplyObjAllMaterial(ZvObj* object);  // and the whole subtree
ZvMFColor* zvNewZvMFColor(int count);
void zvDeleteZvMFColor(ZvMFColor* colors);
void zvSetZvMFColor(ZvMFColor* colors, int index, float r, float g, float b);
void zvGetZvMFColor(const ZvMFColor* colors, int index, float* r, float* g, float* b);

// ---------------------------------------------------------------------------
// Objects
enum {  // object flags
  ZV_OBJ_NOT_QUEUED = 0x40,  // not in the renderer's list of moved objects
  ZV_OBJ_MOBILE = 0x80,
  ZV_OBJ_COLLISION = 0x100,
  ZV_OBJ_SOLID = 0x200,
  ZV_OBJ_GRASP = 0x400,
  ZV_OBJ_VISIBLE = 0x800,
  ZV_OBJ_WRT_VALID = 0x1000,
  ZV_OBJ_PCUBE_VALID = 0x2000,  // cube in the parent's frame up to date
  ZV_OBJ_CUBE_VALID = 0x4000,   // own cube up to date
  ZV_OBJ_HAS_CUBE = 0x8000,
  ZV_OBJ_TOP = 0x10000,  // listed among the world's top objects
  ZV_OBJ_LEAF_BOX = 0x20000,  // leafBoxMin/Max hold the box of the leaves' vertices
};
enum {  // the four strings
  ZV_STR_LABEL = 0,
  ZV_STR_NAME = 1,
  ZV_STR_TEXT = 2,
  ZV_STR_COMMENT = 3,
};

struct ZvObjList { ZvObjList* next; ZvObj* object; };
struct ZvTopObjList { ZvTopObjList* next; ZvObj* object; char* file; };
struct ZvMFObj { int32_t count; ZvObj** objects; };
struct ZvObjExtension;

struct ZvObj {
  int32_t id;  // 0: none
  ZvWorld* world;
  ZvObj* parent;
  ZvObjList* children;
  ZvTransform wrt;  // cache, valid while ZV_OBJ_WRT_VALID
  ZvTransform lrt;
  float bcubeScale[3];
  uint32_t eventMask;
  ZvEventHandlerList* handlers;
  int32_t index;  // -1 at creation
  char* strings[4];
  int32_t nodeType;
  ZvLeaf* leaf;
  float cubeMin[3], cubeMax[3];    // own frame
  float pcubeMin[3], pcubeMax[3];  // parent's frame
  ZvObjExtension* extensions;
  uint32_t flags;
  void* rendering;  // the renderer's structure, null until constructed
  ZvObjList* lastChild;  // so appending stays O(1) in wide trees
  float leafBoxMin[3], leafBoxMax[3];  // while ZV_OBJ_LEAF_BOX; taken by the next cube
};

int zvNewZvObj(ZvWorld* world, ZvObj** out, int wantsId);
int zvAddChild(ZvObj* parent, ZvObj* child);
int zvAddTopObject(ZvObj* object, const char* file);
ZvObj* zvNextChild(ZvObjList** cursor);
ZvObj* zvNextTopObject(ZvTopObjList** cursor);
int zvObjAssignId(ZvObj* object, int32_t id);
ZvObj* zvGetObjById(ZvWorld* world, int32_t id);
int zvCutZvObj(ZvObj* object);
int zvDeleteZvObj(ZvObj* object);
int zvClearZvObjContents(ZvObj* object);
int zvIsVisible(ZvObj* object);
int zvIsSolid(ZvObj* object);
int zvGetSwitchObjNum(ZvObj* object);
int zvGetSwitchObjNo(ZvObj* object);
ZvObj* zvGetSwitchObjByNo(ZvObj* object, int n);
int zvSetSwitchObjByNo(ZvObj* object, int n);
int zvAddZvObjToZvMFObj(ZvMFObj* array, ZvObj* object);
int zvRemoveZvObjFromZvMFObj(ZvMFObj* array, ZvObj* object);
void zvClearZvMFObj(ZvMFObj* array);

// Identifier ranges: a stack of five per world, so that a world taken from
// the cache and extended later never hands out a number that another
// world's objects hold. The forms without a world act on the world most
// recently made or constructed (the one being read).
enum { ZV_ID_MODE_ALWAYS = 0, ZV_ID_MODE_ON_REQUEST = 1, ZV_ID_RANGES = 5 };
struct ZvIdRange {
  int32_t mode;
  int32_t first, last;
  int64_t next;  // may step one past INT32_MAX: that is how a range runs out
};
int zvPushIdCounter(int32_t first, int32_t last, int mode);
int zvPopIdCounter(void);
int zvSetIdCounter(int32_t first, int32_t last, int mode);  // replaces the top
void zvResetIdCounters(void);
int zvGetIdCounterTop(void);
int zvPushWorldIdCounter(ZvWorld* world, int32_t first, int32_t last, int mode);
int zvPopWorldIdCounter(ZvWorld* world);
int zvSetWorldIdCounter(ZvWorld* world, int32_t first, int32_t last, int mode);
void zvUseIdRangesOf(ZvWorld* world);  // the world the forms without one act on

// ---------------------------------------------------------------------------
// Worlds
enum { ZV_WORLD_ID_BUCKETS = 500, ZV_WORLD_EXIT_HANDLERS = 10 };
typedef void (*ZvWorldExitHandler)(ZvWorld* world);

struct ZvWorld {
  ZvTopObjList* topObjects;
  int32_t flag;
  char* ownedText;
  ZvCameraTable* cameras;
  ZvTimeOutHandlerList* timeouts;
  ZvHash* idHash;
  ZvSFColor background;
  ZvObj* person;
  void* viewer;
  void* script;
  char* title;
  float viewerSpeed;  // 0.1 at creation
  char* url;
  ZvMFObj worldIn, worldOut, frame;  // objects with handlers for these events
  ZvUrlHashTable* urlTable;
  int32_t topObjectCount;
  int32_t objectCount;
  int32_t counters[5];
  void* ownedPointer;
  ZvWorldExitHandler exitHandlers[ZV_WORLD_EXIT_HANDLERS];
  int16_t exitHandlerCount;
  ZvUrlHash* backgroundTexture;
  ZvMFObj lods;
  ZvTransform home;
  float bboxMin[3], bboxMax[3];
  ZvNavigation* navigation;
  void* soundList;
  ZvTopObjList* lastTopObject;
  ZvLeaf* keptLeaves;  // light and camera records whose objects are gone, freed with the world
  ZvIdRange idRanges[ZV_ID_RANGES];
  int32_t idTop;
  int32_t idsUsedUp;  // the one warning about an exhausted range was given
};

ZvWorld* zvNewWorld(const char* url);
int zvInitWorld(ZvWorld* world, uint32_t buckets, const char* url);
int zvDeleteWorld(ZvWorld* world);
int zvClearWorld(ZvWorld* world);
ZvWorld* zvGetCurrentWorld(void);
void zvSetCurrentWorld(ZvWorld* world);
int zvAddWorldExitHandler(ZvWorld* world, ZvWorldExitHandler handler);
int zvConstructWorld(const char* file, ZvWorld* world);
int zvAddPersonToWorld(ZvWorld* world);
void zvComputeWorldBoundingBox(ZvWorld* world);

// ---------------------------------------------------------------------------
// Names
const char* zvNameObject(ZvObj* object, const char* name);
const char* zvGetObjName(const ZvObj* object);     // up through the parents
const char* zvGetObjComment(const ZvObj* object);  // likewise
ZvObj* zvGetObjByName(const char* path);           // in the current world
ZvObj* zvGetObjByNameInWorld(ZvWorld* world, const char* path);
ZvObj* zvGetObjByPath(ZvObj* root, const char* path);
ZvObj* zvFindObjByName(ZvObj* root, const char* name);

// ---------------------------------------------------------------------------
// Extensions: at most one cell per type on an object.
enum ZvObjExtensionType {
  zvKinemationBody = 0,
  zvKinemationSegment = 1,
  zvKinemationPosition = 2,
  zvRenderBoundingBox = 3,
  zvSwitchWhichChild = 4,
  zvAuthInfoId = 5,
  zvScriptNode = 6,
  zvObjectValue = 7,
  zvLODNode = 8,
  zvWWWInline = 9,   // the inline's URL: an entry of the world's URL table
  zvWWWAnchor = 10,  // the anchor's URL: likewise, not owned
};
struct ZvObjExtension {
  ZvObjExtension* next;
  int32_t type;
  void* data;
};
struct ZvLOD {
  int32_t rangeCount;
  float* ranges;  // owned
  float center[3];
};
struct ZvScript {
  char* text;  // owned
  void* data;
};
int zvRegisterObjExtension(ZvObj* object, int type, void* data);
void* zvGetObjExtension(const ZvObj* object, int type);
int zvRemoveObjExtension(ZvObj* object, int type);
void zvRemoveAllObjExtension(ZvObj* object);
int zvReleaseObjExtension(ZvObj* object);
int allocAndCopyZvObjExtensionForObjVal(ZvObj* destination, const ZvObjExtension* source);
int allocAndCopyZvObjExtensionForLOD(ZvObj* destination, const ZvObjExtension* source);
int allocAndCopyZvObjExtensionForScript(ZvObj* destination, const ZvObjExtension* source);

// ---------------------------------------------------------------------------
// Object values: typed, named variables of an object, held by extension 7.
enum {
  ZV_VALUE_FREE = -1,
  ZV_VALUE_LONG = 0,
  ZV_VALUE_INT = 1,
  ZV_VALUE_FLOAT = 2,
  ZV_VALUE_STRING = 3,
};
struct ZvObjValue {
  void* value;  // owned
  char* name;   // owned; null marks a free cell
  int32_t type;
  int32_t writable;
  ZvObjValue* next;
};
// The text forms answered live in one buffer that the next call reuses.
const char* zvNewObjValue(ZvObj* object, int type, const char* name, const char* initial, int writable);
const char* zvSetObjValue(ZvObj* object, int type, const char* name, const char* text);
const char* zvGetObjValue(ZvObj* object, int type, const char* name);
int zvDeleteObjValue(ZvObj* object, int type, const char* name);
void zvDeleteAllObjValue(ZvObj* object);

// ---------------------------------------------------------------------------
// Attributes by number, as scripts use them.
int zvGetObjAttribute(ZvObj* object, int number, void** value);
int zvSetObjAttribute(ZvObj* object, int number, void* value);
enum {
  ZV_LIGHT_ON = 0,
  ZV_LIGHT_INTENSITY = 1,
  ZV_LIGHT_COLOR = 2,
  ZV_LIGHT_LOCATION = 3,
  ZV_LIGHT_DIRECTION = 4,
  ZV_LIGHT_DROP_OFF_RATE = 5,
  ZV_LIGHT_CUT_OFF_ANGLE = 6,
};
int zvGetLightAttribute(ZvObj* object, int number, void** value);
int zvSetLightAttribute(ZvObj* object, int number, void* value);
enum {
  zvCameraAttrPosition = 0,
  zvCameraAttrLookAt = 1,
  zvCameraAttrFocalDistance = 2,
  zvCameraAttrHeight = 3,
  zvCameraAttrHeightAngle = 4,
  zvCameraAttrBackgroundColor = 5,
  zvCameraAttrBackgroundTexture = 6,
};
int zvGetCameraAttribute(ZvObj* object, int number, void** value);
int zvSetCameraAttribute(ZvObj* object, int number, void* value);
// The camera's place in the world, from its world transform: the
// translation, the viewing direction (z axis) and the up direction (y axis).
int zvGetCameraPosition(ZvObj* camera, float xyz[3]);
int zvGetCameraLookAt(ZvObj* camera, float xyz[3]);
int zvGetCameraLookUp(ZvObj* camera, float xyz[3]);

// ---------------------------------------------------------------------------
// Bounding cubes, computed on demand. 0 when the object has a cube.
int zvGetObjBoundingCube(ZvObj* object, float min[3], float max[3]);
int zvGetObjParentBoundingCube(ZvObj* object, float min[3], float max[3]);
void zvInvalidateBoundingCube(ZvObj* object);  // the object moved

// ---------------------------------------------------------------------------
// Object transforms
enum {
  ZV_COORD_OWN = 0,
  ZV_COORD_WORLD = 1,
  ZV_COORD_PARENT = 2,
};
enum { ZV_TRANSFORM_SET = 0, ZV_TRANSFORM_COMPOSE = 1 };
int zvObjectRotateTrans(ZvObj* object, const ZvTransform* transform, int system, int mode);
int zvObjectRotate(ZvObj* object, const float rotation[9], int system, int mode);
int zvObjectTranslate(ZvObj* object, const float translation[3], int system, int mode);
const ZvTransform* zvGetObjectWRT(ZvObj* object);
// The frame the object's own leaf and its children are drawn in: the world
// transform with the object's Scale applied about its origin.
int zvGetObjectDrawnWRT(ZvObj* object, ZvTransform* out);
const ZvTransform* zvGetObjectLRT(const ZvObj* object);
int zvValidateChildWRT(ZvObj* object);
// Marks the cached world transform of the object and its subtree stale, as
// when the object is linked under another parent.
int zvInvalidateWRT(ZvObj* object);
int zvIsPointInObjBox(const float point[3], ZvObj* object);

// ---------------------------------------------------------------------------
// Camera table: a world's cameras under small identifiers, one of them
// active. 1 is the renderer's default camera and never has an entry, 2 the
// person's camera, 3 a camera of the world. Created on demand, freed with the
// world. The table is also where camera leaf records end up when their
// objects let go of them (zvDeleteLeaf keeps them alive): it frees them with
// itself. A world without a table leaves such records to whoever made them.
struct ZvCameraList {
  int32_t id;
  ZvObj* camera;
  ZvCameraList* next;
};
struct ZvCameraTable {
  int32_t activeId;       // 1 at creation; a value outside 0..3 reads as 0
  ZvCameraList* entries;  // in registration order
  ZvLeaf* kept;           // released camera leaves, chained through next
};
int zvSetCameraTableToWorld(ZvWorld* world);             // -1 if it has one, -5
int zvReginsterToCameraTable(ZvObj* camera, int id);     // replaces or appends
ZvCameraList* zvNewZvCameraList(int id, ZvObj* camera);  // a detached entry
int zvSetActiveCameraID(ZvWorld* world, int id);         // only an id with an entry
int zvGetActiveCameraID(ZvWorld* world);                 // -1 without a table
ZvObj* zvGetCameraFromCameraTable(ZvWorld* world, int id);
int zvDeleteCameraFromCameraTable(ZvWorld* world, int id);
int zvFreeCameraTable(ZvWorld* world);
// The camera to draw through: the active entry's object when it is a camera;
// none for a Switch; otherwise its child chosen by its which-child value.
ZvObj* zvGetActiveCamera(ZvWorld* world);

// ---------------------------------------------------------------------------
// Events: what input, collisions, time and the shell hand to the handlers
// of objects. The kinds are the bits of a handler's mask.
enum : uint32_t {
  ZV_EVENT_KEY_DOWN = 0x1,
  ZV_EVENT_KEY_UP = 0x2,
  ZV_EVENT_COLLISION = 0x4,
  ZV_EVENT_LEFT_BUTTON_UP = 0x8,
  ZV_EVENT_LEFT_BUTTON_DOWN = 0x10,
  ZV_EVENT_MIDDLE_BUTTON_UP = 0x20,
  ZV_EVENT_MIDDLE_BUTTON_DOWN = 0x40,
  ZV_EVENT_RIGHT_BUTTON_UP = 0x80,
  ZV_EVENT_RIGHT_BUTTON_DOWN = 0x100,
  ZV_EVENT_WORLD_IN = 0x200,
  ZV_EVENT_WORLD_OUT = 0x400,
  ZV_EVENT_CREATE_NOTIFY = 0x800,
  ZV_EVENT_DELETE_NOTIFY = 0x1000,
  ZV_EVENT_TIME_OUT = 0x2000,
  ZV_EVENT_FRAME = 0x4000,
  ZV_EVENT_DRAG = 0x8000,
  ZV_EVENT_PICK = 0x10000,
  ZV_EVENT_GRAB = 0x20000,
  ZV_EVENT_RELEASE = 0x40000,
  ZV_EVENT_CREATE_WORLD = 0x80000,
  ZV_EVENT_DELETE_WORLD = 0x200000,
  ZV_EVENT_GRAB_MASK = ZV_EVENT_DRAG | ZV_EVENT_GRAB | ZV_EVENT_RELEASE,  // 0x68000
};

// The languages of handlers, tasks and script nodes.
enum {
  ZV_SCRIPT_PYTHON = 0,
  ZV_SCRIPT_TCL = 1,
  ZV_SCRIPT_JAVA = 2,
  ZV_SCRIPT_VB = 3,
  ZV_SCRIPT_C = 4,  // a routine of the program itself; never from a world
  ZV_SCRIPT_INLINE = 5,
};

// Modifier bits of an event.
enum { ZV_EVENT_SHIFT = 1, ZV_EVENT_CONTROL = 4, ZV_EVENT_ALT = 8 };

// Key codes carried by key events.
enum {
  ZV_KEYCODE_UP = 0x48,
  ZV_KEYCODE_DOWN = 0x49,
  ZV_KEYCODE_LEFT = 0x4A,
  ZV_KEYCODE_RIGHT = 0x4B,
  ZV_KEYCODE_ESCAPE = 0x45,
  ZV_KEYCODE_ALT = 0x46,
  ZV_KEYCODE_OTHER = 0x4C,
};

// The record a handler receives.
struct ZvEvent {
  uint32_t type;
  float point3[3];  // the picked point, world coordinates
  float point2[2];  // the pointer in the view
  uint32_t modifiers;
  uint32_t key;
  ZvLeaf* part;  // the leaf that was hit, or null
  uint32_t seconds, milliseconds;
  ZvObj* object;  // the object whose handler runs (set by the dispatcher)
};

// ---------------------------------------------------------------------------
// Hooks upward. Each higher subsystem fills its own entries at start-up.
struct ZvSceneHooks {
  // renderer bridge
  int (*renderDeleteObj)(ZvObj* object);  // drop the object's renderer structure
  void (*renderForgetMovedObj)(ZvWorld* world, ZvObj* object);
  int (*renderAddMovedObj)(ZvObj* object);  // a transform changed
  int (*renderUpdateMaterial)(ZvLeaf* leaf);
  int (*renderSetVisible)(ZvObj* object, int visible);
  int (*renderSetSolid)(ZvObj* object, int solid);
  int (*renderSetLightAttribute)(ZvObj* object, int number, void* value);
  int (*renderSetCameraAttribute)(ZvObj* object, int number, void* value);
  int (*renderRemoveBoundingBox)(ZvObj* object);
  int (*renderCloseViewer)(ZvWorld* world);
  int (*renderConstructWorld)(ZvWorld* world);
  int (*renderConstructObj)(ZvObj* object);
  // navigation
  int (*cameraSetLookAt)(ZvObj* camera, const float xyz[3]);
  int (*addCameraToPerson)(ZvObj* person);  // builds the person's camera
  int (*registerPersonCamera)(ZvObj* camera);  // camera 2, made active
  void (*deleteCameraTable)(ZvWorld* world);
  void (*deleteNavigation)(ZvWorld* world);
  // behaviour
  void (*deleteObjTasks)(ZvWorld* world, ZvObj* object);
  void (*deleteObjHandlers)(ZvObj* object);
  void (*deleteWorldTasks)(ZvWorld* world);
  void (*initWorldEvents)(ZvWorld* world);
  int (*scriptInit)(ZvWorld* world);
  int (*scriptDelete)(ZvWorld* world);
  // labels
  void (*destroyObjLabels)(ZvObj* object);
  // media
  void (*deleteLeafMedia)(ZvLeaf* leaf);
  void (*deleteSoundLeaf)(ZvLeaf* leaf);
  void (*resetWorldSound)(ZvWorld* world);
  void (*emptyWorldSoundList)(ZvWorld* world);
  int (*releaseKinemation)(ZvObj* object);
  // shared worlds
  int (*releaseAuthInfo)(ZvObj* object);
  // An object's transform changed here (not through the reader): a shared
  // object's new place goes to the server.
  void (*objectMoved)(ZvObj* object);
  // retrieval
  int (*newUrlTable)(ZvWorld* world);
  void (*deleteUrlTable)(ZvWorld* world);
  // reader: parse a file into the world (top objects); 0 or -1
  int (*readFile)(const char* file, ZvWorld* world);
  // where person.wrl lives; null when the directory is unknown
  const char* (*programDirectory)(void);
};
ZvSceneHooks& zvSceneHooks(void);
