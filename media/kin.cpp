// kin.cpp — characters in the scene: loading one (the file, an optional
// VRML skin, the tree of objects), posing it frame by frame, stepping it,
// and letting it go.
//
// The character object carries the body and the position record; every
// segment object carries its segment. Segment records live in the body, so
// a walk from the character only believes a child's segment when it lies in
// that same body.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "media/kinpriv.h"
#include "media/media.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace {

ZvKinStepHook stepHook = nullptr;
std::string skinOverride;  // the skin a script named, while the reader reads it

bool remoteUrl(const char* url) {
  int scheme = zvUrlScheme(url);
  return scheme == ZV_SCHEME_HTTP || scheme == ZV_SCHEME_OTHER;
}

// name against base; a file named from the network stays on the network.
bool resolve(const char* base, const char* name, std::string& out) {
  if (!name || !*name) return false;
  out = name;
  if (base && *base && zvUrlScheme(name) == ZV_SCHEME_NONE) {
    char resolved[ZV_WWW_PATH_MAX];
    if (zvResolveUrl(base, name, resolved, sizeof resolved) != 0) return false;
    out = resolved;
  }
  if (base && remoteUrl(base) && !remoteUrl(out.c_str())) {
    zvMessage("A world from %s may not read %s.", base, name);
    return false;
  }
  return true;
}

// The local file of an absolute URL, through the world's URL table so that
// a file fetched once serves again.
bool fetch(ZvWorld* world, const std::string& url, std::string& local) {
  if (world->urlTable) {
    ZvUrlHash* entry = zvNewUrlHashEntry(world->urlTable, url.c_str(), nullptr, ZV_TYPE_OTHER);
    const char* file = entry ? zvGetLocalFile(entry) : nullptr;
    if (!file) return false;
    local = file;
    return true;
  }
  int scheme = zvUrlScheme(url.c_str());
  if (scheme == ZV_SCHEME_FILE) {
    const char* path = zvFileUrlToPath(url.c_str());
    if (!path) return false;
    local = path;
    return true;
  }
  if (scheme != ZV_SCHEME_NONE) return false;
  local = url;
  return true;
}

bool readWhole(const char* path, std::string& data) {
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode) || size_t(st.st_size) > kZvKinFileMax) return false;
  FILE* in = std::fopen(path, "rb");
  if (!in) return false;
  data.resize(size_t(st.st_size));
  size_t got = data.empty() ? 0 : std::fread(data.data(), 1, data.size(), in);
  std::fclose(in);
  data.resize(got);
  return true;
}

// The segment a child object carries, when it belongs to this body.
ZvKinSegment* segmentOf(const ZvObj* object, const ZvKinBody* body) {
  auto* s = static_cast<ZvKinSegment*>(zvGetObjExtension(object, zvKinemationSegment));
  if (!s || body->segments.empty()) return nullptr;
  auto at = reinterpret_cast<uintptr_t>(s);
  auto first = reinterpret_cast<uintptr_t>(body->segments.data());
  auto last = reinterpret_cast<uintptr_t>(body->segments.data() + body->segments.size());
  if (at < first || at >= last || (at - first) % sizeof(ZvKinSegment) != 0) return nullptr;
  return s;
}

void setBoneMaterial(ZvShape* shape) {
  ZvMaterial& m = shape->material;
  m.maxElement = 1;
  // The first colour's green of 8 is what characters have always had.
  m.ambient.values[0] = {0.2f, 8.0f, 0.2f};
  m.diffuse.values[0] = {0.0f, 1.0f, 0.0f};
  m.specular.values[0] = {0.0f, 1.0f, 0.0f};
  m.emissive.values[0] = {0.0f, 0.0f, 0.0f};
  m.shininess.values[0] = 1.0f;
  m.transparency.values[0] = 0.0f;
}

// A line to the one site, or a polygon from the origin through them all.
ZvShape* makeBoneLeaf(const ZvKinBody* body, const ZvKinSegment& segment) {
  const float* a = body->sites[size_t(segment.attach)].translation;
  auto offset = [&](int site) {
    const float* t = body->sites[size_t(site)].translation;
    return ZvSFVec3f{t[0] - a[0], t[1] - a[1], t[2] - a[2]};
  };
  size_t n = segment.sites.size();
  ZvShape* shape = nullptr;
  if (n == 1) {
    ZvLineSet* line = zvNewLineSetLeaf();
    if (!line) return nullptr;
    shape = line;
    line->points = static_cast<ZvSFVec3f*>(zvMalloc(2 * sizeof(ZvSFVec3f)));
    if (line->points) {
      line->points[0] = {0, 0, 0};
      line->points[1] = offset(segment.sites[0]);
      line->pointCount = 2;
      line->lineCount = 1;
    }
    if (!line->points) {
      zvDeleteLeaf(line);
      return nullptr;
    }
  } else {
    ZvFace* face = zvNewFaceLeaf();
    if (!face) return nullptr;
    shape = face;
    face->flags |= ZV_LEAF_BACKFACE;  // a flat bone is seen from both sides
    face->vertices = static_cast<ZvSFVec3f*>(zvMalloc((n + 1) * sizeof(ZvSFVec3f)));
    face->normals = static_cast<ZvSFVec3f*>(zvMalloc(sizeof(ZvSFVec3f)));
    if (!face->vertices || !face->normals) {
      zvDeleteLeaf(face);
      return nullptr;
    }
    face->vertexCount = int32_t(n + 1);
    face->vertices[0] = {0, 0, 0};
    for (size_t i = 0; i < n; ++i) face->vertices[i + 1] = offset(segment.sites[i]);
    const ZvSFVec3f& p = face->vertices[1];
    const ZvSFVec3f& q = face->vertices[2];
    ZvSFVec3f c{p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x};
    float length = std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
    if (length > 0) c = {c.x / length, c.y / length, c.z / length};
    face->normals[0] = c;
    face->normalCount = 1;
    face->orthoNormal = c;
    face->orthoNormalValid = length > 0;
  }
  if (zvPackLeafMaterial(shape, 1) != ZV_OK) {
    zvDeleteLeaf(shape);
    return nullptr;
  }
  setBoneMaterial(shape);
  shape->material.specularPower.values = static_cast<float*>(zvMalloc(sizeof(float)));
  if (shape->material.specularPower.values) {
    shape->material.specularPower.values[0] = 1.0f;
    shape->material.specularPower.count = 1;
  }
  return shape;
}

bool makeBone(ZvWorld* world, const ZvKinBody* body, const ZvKinSegment& segment, ZvObj* object) {
  if (segment.sites.empty()) {
    zvMessage("%s", "MakeKinLeaf: Undefined 'no shape'.");
    return false;
  }
  ZvObj* bone = nullptr;
  if (zvNewZvObj(world, &bone, 0) != ZV_OK) return false;
  bone->nodeType = segment.sites.size() == 1 ? ZV_NODE_INDEXED_LINE_SET : ZV_NODE_INDEXED_FACE_SET;
  ZvShape* leaf = makeBoneLeaf(body, segment);
  if (!leaf || !zvNameObject(bone, (segment.name + ".bone").c_str()) || zvAttachLeaf(bone, leaf) != ZV_OK) {
    if (leaf && !leaf->owner) zvDeleteLeaf(leaf);
    zvDeleteZvObj(bone);
    return false;
  }
  if (zvAddChild(object, bone) != ZV_OK) {
    zvDeleteZvObj(bone);
    return false;
  }
  return true;
}

// The skin's part for the segment moves under the segment's object and
// stays where it was in the world.
bool adoptSkin(ZvObj* skin, const ZvKinSegment& segment, ZvObj* object) {
  ZvObj* part = zvFindObjByName(skin, segment.name.c_str());
  if (!part || part == skin) {
    zvMessage("%s", "MakeSkin: zvGetObjByName failed.");
    return false;
  }
  ZvObj* first = part->children ? part->children->object : nullptr;
  if (!first) {
    zvMessage("%s", "MakeSkin: incorrect structure in ZvObj tree.");
    return false;
  }
  ZvTransform placed = *zvGetObjectWRT(first);
  ZvTransform frame, inverse;
  zvGetObjectDrawnWRT(object, &frame);
  if (zvTransformInvertAffine(&inverse, &frame) != ZV_OK || zvCutZvObj(first) != ZV_OK) {
    zvMessage("%s", "MakeSkin: incorrect structure in ZvObj tree.");
    return false;
  }
  zvTransformCompose(&first->lrt, &inverse, &placed);
  if (zvAddChild(object, first) != ZV_OK) {
    zvMessage("%s", "MakeSkin: zvAddChild failed.");
    zvDeleteZvObj(first);
    return false;
  }
  zvInvalidateWRT(first);
  return true;
}

void setRotation(ZvTransform* t, const float rotation[9]) { std::memcpy(&t->m[0][0], rotation, 9 * sizeof(float)); }

// One object per placed segment, the root's being the character itself.
bool buildTree(ZvWorld* world, ZvKinBody* body, ZvObj* character, ZvObj* skin) {
  std::vector<ZvObj*> objects(body->segments.size(), nullptr);
  for (int s : body->order) {
    ZvKinSegment& segment = body->segments[size_t(s)];
    ZvObj* object = character;
    if (s != body->rootSegment) {
      object = nullptr;
      if (zvNewZvObj(world, &object, 0) != ZV_OK) return false;
      object->nodeType = ZV_NODE_KIN_JOINT;
      if (zvAddChild(objects[size_t(segment.parent)], object) != ZV_OK) {
        zvDeleteZvObj(object);
        return false;
      }
    }
    objects[size_t(s)] = object;
    ZvTransform t;
    float rotation[9];
    zvKinMultiply(segment.attachTranspose, segment.rotation, rotation);
    setRotation(&t, rotation);
    std::memcpy(t.m[3], segment.position, sizeof t.m[3]);
    if (!zvNameObject(object, segment.name.c_str()) || zvObjectRotateTrans(object, &t, ZV_COORD_OWN, ZV_TRANSFORM_SET) != ZV_OK ||
        zvRegisterObjExtension(object, zvKinemationSegment, &segment) != ZV_OK)
      return false;
  }
  for (int s : body->order) {
    const ZvKinSegment& segment = body->segments[size_t(s)];
    if (skin ? !adoptSkin(skin, segment, objects[size_t(s)]) : !makeBone(world, body, segment, objects[size_t(s)]))
      return false;
  }
  return true;
}

// Takes back what a failed build left on an object we did not make.
void stripCharacter(ZvObj* character, const std::vector<ZvObj*>& before) {
  std::vector<ZvObj*> added;
  for (ZvObjList* c = character->children; c; c = c->next)
    if (c->object && std::find(before.begin(), before.end(), c->object) == before.end()) added.push_back(c->object);
  for (ZvObj* o : added) zvDeleteZvObj(o);
  zvRemoveObjExtension(character, zvKinemationSegment);
}

ZvKinBody* bodyOf(ZvObj* object) { return static_cast<ZvKinBody*>(zvGetObjExtension(object, zvKinemationBody)); }
ZvKinPosition* positionOf(ZvObj* object) {
  return static_cast<ZvKinPosition*>(zvGetObjExtension(object, zvKinemationPosition));
}

// Every segment below the character takes the frame's joint rotation.
int moveSegments(ZvObj* character, const ZvKinBody* body, int frame) {
  std::vector<ZvObj*> pending;
  for (ZvObjList* c = character->children; c; c = c->next) pending.push_back(c->object);
  int result = ZV_OK;
  while (!pending.empty()) {
    ZvObj* o = pending.back();
    pending.pop_back();
    const ZvKinSegment* segment = o ? segmentOf(o, body) : nullptr;
    if (!segment) continue;  // a bone or a skin: nothing below moves by itself
    float rotation[9];
    if (segment->joint) {
      float turned[9];
      zvKinMultiply(segment->attachTranspose, segment->joint + 9 * size_t(frame), turned);
      zvKinMultiply(turned, segment->rotation, rotation);
    } else {
      zvKinMultiply(segment->attachTranspose, segment->rotation, rotation);
    }
    if (zvObjectRotate(o, rotation, ZV_COORD_OWN, ZV_TRANSFORM_SET) != ZV_OK) {
      zvMessage("%s", "zvKinObjMoveRecursive: zvOjbectRotate failed.");
      result = ZV_FAIL;
    }
    for (ZvObjList* c = o->children; c; c = c->next) pending.push_back(c->object);
  }
  return result;
}

enum { kModeSet = 0, kModeForward = 1, kModeBack = 2 };

int applyFrame(ZvObj* object, ZvKinBody* body, ZvKinPosition* position, int frame, int mode) {
  if (frame < 0 || frame >= body->frames) {
    zvMessage("KinSetFrame: out of range (max_frame = %d)", body->frames);
    return -4;
  }
  position->frame = frame;
  const ZvKinSegment& root = body->segments[size_t(body->rootSegment)];
  float current[9], a[9], b[9], rotation[9];
  std::memcpy(current, &object->lrt.m[0][0], sizeof current);
  zvKinMultiply(position->matrix, current, a);
  zvKinMultiply(root.attachTranspose, body->frameRotation + 9 * size_t(frame), b);
  zvKinTranspose(b, position->matrix);
  zvKinMultiply(b, a, rotation);
  ZvTransform t = object->lrt;
  setRotation(&t, rotation);
  if (mode != kModeSet) {
    const float* d = body->frameDisplacement + 3 * size_t(frame);
    float sign = mode == kModeForward ? 1.0f : -1.0f;
    for (int j = 0; j < 3; ++j) t.m[3][j] += sign * (d[0] * a[j] + d[1] * a[3 + j] + d[2] * a[6 + j]);
  }
  if (zvObjectRotateTrans(object, &t, ZV_COORD_OWN, ZV_TRANSFORM_SET) != ZV_OK) {
    zvMessage("%s", "KinSetFrame: zvObjectRotateTrans failed.");
    return ZV_FAIL;
  }
  return moveSegments(object, body, frame);
}

int step(ZvObj* object, int direction) {
  ZvKinBody* body = bodyOf(object);
  if (!body) {
    zvMessage("%s", "zvKinSetFrame: cannot get kinemation body.");
    return ZV_FAIL;
  }
  ZvKinPosition* position = positionOf(object);
  if (!position) {
    zvMessage("%s", "zvKinSetFrame: cannot get kinemation position.");
    return ZV_FAIL;
  }
  int frame = position->frame + (direction == kModeForward ? 1 : -1);
  if (frame >= body->frames) frame = 0;
  if (frame < 0) frame = body->frames - 1;
  return applyFrame(object, body, position, frame, direction);
}

int releaseCharacter(ZvObj* object) {
  if (!object) return ZV_FAIL;
  if (ZvKinBody* body = bodyOf(object)) {
    zvRemoveObjExtension(object, zvKinemationBody);
    zvKinFreeBody(body);
  }
  if (ZvKinPosition* position = positionOf(object)) {
    zvRemoveObjExtension(object, zvKinemationPosition);
    zvFree(position);
  }
  // Segment records belong to the body.
  zvRemoveObjExtension(object, zvKinemationSegment);
  return ZV_OK;
}

// The reader found a character file named in a VRML file: the file itself
// is the skin.
int loadFromReader(ZvWorld* world, const char* characterFile, const char* url, ZvObj** object) {
  // The reader's own copy of the name goes when the skin is read.
  std::string file = characterFile ? characterFile : "";
  std::string skin = zvKinSkinUrlOverride() ? zvKinSkinUrlOverride() : url ? url : "";
  *object = nullptr;
  return zvKinNew(world, file.c_str(), skin.empty() ? nullptr : skin.c_str(), object);
}

}  // namespace

const char* zvKinSkinUrlOverride(void) { return skinOverride.empty() ? nullptr : skinOverride.c_str(); }
void zvKinSetSkinUrlOverride(const char* url) { skinOverride = url ? url : ""; }

int zvKinNew(ZvWorld* world, const char* characterUrl, const char* skinUrl, ZvObj** object) {
  if (!world || !characterUrl || !object) return ZV_FAIL;
  ZvObj* skin = nullptr;
  ZvObj* character = nullptr;
  std::string local;
  if (skinUrl && *skinUrl) {
    if (!fetch(world, skinUrl, local)) {
      zvMessage("%s", "zvKinNew: zvWwwLoadFile failed.");
      return ZV_FAIL;
    }
    if (zvNewZvObj(world, &skin, 0) != ZV_OK) return ZV_NOMEM;
    if (zvParseVRMLInZvObj(local.c_str(), skin) != ZV_OK) {
      zvMessage("%s", "zvKinNew: zvParseVRMLInZvObj failed.");
      zvDeleteZvObj(skin);
      return ZV_FAIL;
    }
    if (zvValidateChildWRT(skin) != ZV_OK) {
      zvMessage("%s", "zvKinNew: zvValidateChildWRT failed.");
      zvDeleteZvObj(skin);
      return ZV_FAIL;
    }
  }
  auto fail = [&](int result) {
    if (skin) zvDeleteZvObj(skin);
    return result;
  };
  std::string url, data;
  if (!resolve(skin ? skinUrl : world->url, characterUrl, url) || !fetch(world, url, local)) {
    zvMessage("%s", "zvKinNew: zvWwwLoadFile failed.");
    return fail(ZV_FAIL);
  }
  if (!readWhole(local.c_str(), data)) {
    zvMessage("zvKinNew: %s open failed.", local.c_str());
    return fail(ZV_FAIL);
  }
  ZvKinBody* body = zvKinParse(data.data(), data.size());
  if (!body) return fail(ZV_FAIL);
  if (!skin) character = *object;
  int r = zvKinBuild(world, body, skin, &character);
  if (skin) zvDeleteZvObj(skin);
  if (r == ZV_OK) *object = character;
  return r;
}

int zvKinBuild(ZvWorld* world, ZvKinBody* body, ZvObj* skin, ZvObj** object) {
  if (!world || !body || !object) {
    zvKinFreeBody(body);
    return ZV_FAIL;
  }
  ZvObj* character = *object;
  bool made = false;
  if (!character) {
    if (zvNewZvObj(world, &character, 1) != ZV_OK) {
      zvKinFreeBody(body);
      return ZV_NOMEM;
    }
    made = true;
    character->nodeType = ZV_NODE_KIN_JOINT;
  }
  std::vector<ZvObj*> before;
  for (ZvObjList* c = character->children; c; c = c->next) before.push_back(c->object);
  auto* position = static_cast<ZvKinPosition*>(zvMalloc(sizeof(ZvKinPosition)));
  bool ok = position && buildTree(world, body, character, skin);
  if (ok) {
    position->frame = -1;
    float rotation[9];
    std::memcpy(rotation, &character->lrt.m[0][0], sizeof rotation);
    zvKinTranspose(rotation, position->matrix);
    ok = zvRegisterObjExtension(character, zvKinemationBody, body) == ZV_OK;
    if (ok && zvRegisterObjExtension(character, zvKinemationPosition, position) != ZV_OK) {
      zvRemoveObjExtension(character, zvKinemationBody);
      ok = false;
    }
  }
  if (!ok) {
    zvMessage("%s", "zvKinNew: faild.");
    zvFree(position);
    if (made)
      zvDeleteZvObj(character);
    else
      stripCharacter(character, before);
    zvKinFreeBody(body);
    return ZV_FAIL;
  }
  *object = character;
  return ZV_OK;
}

int zvKinDelete(ZvObj* object) {
  if (!object || !bodyOf(object)) return ZV_FAIL;
  ZvKinBody* body = bodyOf(object);
  // The segment objects stay, as plain objects.
  std::vector<ZvObj*> pending{object};
  while (!pending.empty()) {
    ZvObj* o = pending.back();
    pending.pop_back();
    if (!segmentOf(o, body)) continue;
    zvRemoveObjExtension(o, zvKinemationSegment);
    for (ZvObjList* c = o->children; c; c = c->next)
      if (c->object) pending.push_back(c->object);
  }
  return releaseCharacter(object);
}

int zvKinSetFrame(ZvObj* object, int frame) {
  ZvKinBody* body = object ? bodyOf(object) : nullptr;
  if (!body) {
    zvMessage("%s", "KinSetFrame: cannot get kinemation body.");
    return ZV_FAIL;
  }
  ZvKinPosition* position = positionOf(object);
  if (!position) {
    zvMessage("%s", "KinSetFrame: cannot get kinemation position.");
    return ZV_FAIL;
  }
  return applyFrame(object, body, position, frame, kModeSet);
}

int zvKinNextFrame(ZvObj* object) {
  int r = object ? step(object, kModeForward) : ZV_FAIL;
  if (r == ZV_OK && stepHook) stepHook(object, ZV_KIN_STEP_FORWARD);
  return r;
}

int zvKinPrevFrame(ZvObj* object) {
  int r = object ? step(object, kModeBack) : ZV_FAIL;
  if (r == ZV_OK && stepHook) stepHook(object, ZV_KIN_STEP_BACK);
  return r;
}

int zvKinReceiveStep(ZvObj* object, int direction) {
  if (!object || !bodyOf(object)) return ZV_FAIL;
  if (direction == ZV_KIN_STEP_FORWARD) return step(object, kModeForward);
  if (direction == ZV_KIN_STEP_BACK) return step(object, kModeBack);
  return ZV_OK;
}

int zvKinGetFrame(ZvObj* object, int* current, int* count) {
  ZvKinBody* body = object ? bodyOf(object) : nullptr;
  ZvKinPosition* position = object ? positionOf(object) : nullptr;
  if (!body || !position) return ZV_FAIL;
  if (current) *current = position->frame;
  if (count) *count = body->frames;
  return ZV_OK;
}

ZvKinStepHook zvKinSetStepHook(ZvKinStepHook hook) {
  ZvKinStepHook before = stepHook;
  stepHook = hook;
  return before;
}

void zvKinInstallHooks(void) {
  zvReaderHooks().loadKinemation = loadFromReader;
  zvSceneHooks().releaseKinemation = releaseCharacter;
}
