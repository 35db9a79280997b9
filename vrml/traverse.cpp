// traverse.cpp — one walk over a parsed node graph builds objects, leaves,
// transforms and world settings. Property nodes push elements on the state;
// objects are made by groups, shapes, lights, cameras, sounds and text.
#include "vrml/traverse.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "vrml/vrml.h"
#include "www/www.h"

// The parse entry points, for inlines and the character hook.
int qvParseInline(const char* file, const char* url, ZvObj* object, QvState* parent);
bool qvKinemationHookOn();

namespace {

uint32_t maskFrom = 0x100, maskTo = 0x10000;
int inlinesThisParse = 0;

// General affine inverse (the 3x3 part may scale): a Group's children are
// re-expressed relative to the group, whose placement may include a Scale.
bool invertAffine(ZvTransform* out, const ZvTransform* t) {
  const float(*m)[3] = t->m;
  double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  if (std::fabs(det) < 1e-20) return false;
  double inv[3][3] = {
      {(m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det, (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det,
       (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det},
      {(m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det, (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det,
       (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det},
      {(m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det, (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det,
       (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det},
  };
  ZvTransform r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = float(inv[i][j]);
  float neg[3] = {-m[3][0], -m[3][1], -m[3][2]};
  zvTransformVector(&r, neg, r.m[3]);
  *out = r;
  return true;
}

// The node's transform, applied first to what follows it.
void applyTransform(QvState* state, const ZvTransform& t) {
  for (int k : {QV_STACK_WORLD_RT, QV_STACK_LOCAL_RT}) {
    QvElement* e = state->getTopElement(k);
    if (e) zvTransformCompose(&e->rt, &e->rt, &t);
  }
}

// Rotation that takes the default light direction (0 0 -1) to d.
void directionTransform(ZvTransform* out, const float d[3]) {
  zvTransformIdentity(out);
  double len = std::sqrt(double(d[0]) * d[0] + double(d[1]) * d[1] + double(d[2]) * d[2]);
  if (len < 1e-12) return;
  float n[3] = {float(d[0] / len), float(d[1] / len), float(d[2] / len)};
  // axis = (0,0,-1) x n, angle = acos(-n.z)
  float axis[3] = {n[1], -n[0], 0};
  double s = std::sqrt(double(axis[0]) * axis[0] + double(axis[1]) * axis[1]);
  double angle = std::acos(std::fmax(-1.0, std::fmin(1.0, double(-n[2]))));
  if (s < 1e-9) {
    if (n[2] > 0) {  // straight back: half a turn about y
      const float y[3] = {0, 1, 0};
      qvRotationTransform(out, y, float(M_PI));
    }
    return;
  }
  qvRotationTransform(out, axis, float(angle));
}

// Some exporters aim a camera with direction and up vectors instead of an
// orientation. The first of each counts. The camera looks down its -z with
// +y up, so the turn takes z to -direction and y to up made square to it;
// an up missing or along the direction gives way to the axis furthest from
// it. False without a usable direction: the orientation holds.
bool aimAlong(const QvMFVec3f& direction, const QvMFVec3f& upField, ZvTransform* out) {
  if (direction.num() < 1) return false;
  const float* dv = direction.values[0].v;
  double d[3] = {dv[0], dv[1], dv[2]};
  double dl = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  if (!(dl > 1e-12) || !std::isfinite(dl)) return false;
  for (double& x : d) x /= dl;
  double u[3] = {0, 1, 0};
  if (upField.num() > 0) u[0] = upField.values[0].v[0], u[1] = upField.values[0].v[1], u[2] = upField.values[0].v[2];
  auto square = [&] {  // u minus its part along d, made unit; false when nothing is left
    double along = u[0] * d[0] + u[1] * d[1] + u[2] * d[2];
    for (int i = 0; i < 3; ++i) u[i] -= along * d[i];
    double ul = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    if (!(ul > 1e-6) || !std::isfinite(ul)) return false;
    for (double& x : u) x /= ul;
    return true;
  };
  if (!square()) {
    int far = 0;
    for (int i = 1; i < 3; ++i)
      if (std::fabs(d[i]) < std::fabs(d[far])) far = i;
    u[0] = u[1] = u[2] = 0;
    u[far] = 1;
    square();
  }
  const double r[3] = {d[1] * u[2] - d[2] * u[1], d[2] * u[0] - d[0] * u[2], d[0] * u[1] - d[1] * u[0]};
  zvTransformIdentity(out);
  for (int i = 0; i < 3; ++i) {
    out->m[0][i] = float(r[i]);
    out->m[1][i] = float(u[i]);
    out->m[2][i] = float(-d[i]);
  }
  return true;
}

int scriptKindOf(const QvSFEnum& f, const char* who) {
  switch (f.value) {
    case 1: return ZV_SCRIPT_PYTHON;
    case 2: return ZV_SCRIPT_TCL;
    case 3: return ZV_SCRIPT_JAVA;
    case 4: return ZV_SCRIPT_VB;
    case 5: return ZV_SCRIPT_C;
    case 6: return ZV_SCRIPT_INLINE;
    default: zvMessage("%s: Unknown scriptType.", who); return 0;
  }
}

void deleteObj(ZvObj* o) {
  if (o) zvDeleteZvObj(o);
}

// A new object placed where the state says.
ZvObj* createZvObj(QvState* state, QvNode* node, const char* typeName) {
  int wantsId = 0;
  if (auto* a = static_cast<QvAttributes*>(state->topNode(QV_STACK_ATTRIBUTES))) wantsId = a->assignId.value;
  ZvObj* o = nullptr;
  int r = zvNewZvObj(state->world, &o, wantsId);
  if (r != ZV_OK) {
    // A used-up identifier range gives objects without a number, not none.
    zvMessage("%s: %s", "QvNode::createZvObj()", "Couldn't allocate memory for ZvObj.");
    return nullptr;
  }
  if (QvElement* w = state->getTopElement(QV_STACK_WORLD_RT)) o->wrt = w->rt;
  if (QvElement* l = state->getTopElement(QV_STACK_LOCAL_RT)) o->lrt = l->rt;
  // A Scale node applies to the next object only.
  if (auto* s = static_cast<QvScale*>(state->topNode(QV_STACK_SCALE))) {
    std::memcpy(o->bcubeScale, s->scaleFactor.value, sizeof o->bcubeScale);
    state->popElement(QV_STACK_SCALE);
  }
  o->nodeType = zvNodeTypeByName(typeName);
  o->strings[ZV_STR_NAME] = zvStrdup(node->getName().c_str());
  if (!o->strings[ZV_STR_NAME]) {
    zvMessage("%s", "Couldn't allocate memory for comment[1] of ZvObj.");
    zvDeleteZvObj(o);
    return nullptr;
  }
  o->flags |= ZV_OBJ_WRT_VALID;
  return o;
}

// Attributes, scripts, handlers and tasks waiting for the next object.
int applyBehaviours(QvState* state, ZvObj* o, ZvLeaf* leaf) {
  ZvReaderHooks& hooks = zvReaderHooks();
  if (auto* a = static_cast<QvAttributes*>(state->topNode(QV_STACK_ATTRIBUTES))) {
    if (!zvNameObject(o, o->strings[ZV_STR_NAME] ? o->strings[ZV_STR_NAME] : "")) {
      zvMessage("%s", "zvNameObject() failed.");
    } else {
      if (!a->comment.value.empty()) {
        zvFree(o->strings[ZV_STR_COMMENT]);
        o->strings[ZV_STR_COMMENT] = zvStrdup(a->comment.value.c_str());
      }
      auto flag = [&](uint32_t bit, int on) {
        if (on)
          o->flags |= bit;
        else
          o->flags &= ~bit;
      };
      flag(ZV_OBJ_VISIBLE, a->visible.value);
      flag(ZV_OBJ_GRASP, a->grasp.value);
      flag(ZV_OBJ_SOLID, a->solid.value);
      flag(ZV_OBJ_COLLISION, a->collision.value);
      flag(ZV_OBJ_MOBILE, a->mobile.value);
      if (leaf && zvIsShapeLeaf(leaf)) {
        auto* shape = static_cast<ZvShape*>(leaf);
        shape->flags = a->backface.value ? shape->flags | ZV_LEAF_BACKFACE : shape->flags & ~uint32_t(ZV_LEAF_BACKFACE);
        shape->flags = a->gouraud.value ? shape->flags | ZV_LEAF_GOURAUD : shape->flags & ~uint32_t(ZV_LEAF_GOURAUD);
      }
    }
    state->popElement(QV_STACK_ATTRIBUTES);
  }
  while (auto* s = static_cast<QvScript*>(state->topNode(QV_STACK_SCRIPT))) {
    if (s->procedure.value.empty()) {
      zvMessage("%s", "procedure is ignore for non-strings.");
      break;
    }
    int kind = scriptKindOf(s->scriptType, "QvScript");
    if (hooks.scriptEval && hooks.scriptEval(state->world, s->procedure.value.c_str(), kind) != 0)
      zvMessage("%s", "QvNode::setZvScript(): zvScriptEvalStr() failed.");
    state->popElement(QV_STACK_SCRIPT);
  }
  bool handlersOk = true;
  while (auto* h = static_cast<QvEventHandler*>(state->topNode(QV_STACK_EVENT_HANDLER))) {
    ZvHandlerDesc d{};
    d.file = h->filename.value.empty() ? nullptr : qvLoadFile(state, "QvEventHandler", h->filename.value.c_str());
    d.function = h->function.value.c_str();
    d.userData = h->userData.value.c_str();
    d.actionObject = h->actionObject.value.c_str();
    d.mask = zvConvertEventMask(uint32_t(h->eventType.value));
    d.scriptKind = scriptKindOf(h->scriptType, "QvEventHandler");
    int r = hooks.addEventHandler ? hooks.addEventHandler(o, &d) : 0;
    state->popElement(QV_STACK_EVENT_HANDLER);
    if (r != 0) {
      zvMessage("%s", "zvAddEventHandler() failed.");
      handlersOk = false;
      break;
    }
  }
  if (handlersOk && hooks.callEventHandler && hooks.callEventHandler(o, 0x800) != 0)
    zvMessage("%s", "zvCallEventHandler() failed.");
  for (int kind : {QV_STACK_SPORADIC_TASK, QV_STACK_PERIODIC_TASK}) {
    while (QvNode* n = state->topNode(kind)) {
      ZvHandlerDesc d{};
      int periodic = kind == QV_STACK_PERIODIC_TASK;
      const QvSFString& file = periodic ? static_cast<QvPeriodicTask*>(n)->filename : static_cast<QvSporadicTask*>(n)->filename;
      d.file = file.value.empty() ? nullptr : qvLoadFile(state, n->typeName(), file.value.c_str());
      if (periodic) {
        auto* t = static_cast<QvPeriodicTask*>(n);
        d.function = t->function.value.c_str();
        d.userData = t->userData.value.c_str();
        d.millisecond = t->millisecond.value;
        d.scriptKind = scriptKindOf(t->scriptType, "QvPeriodicTask");
      } else {
        auto* t = static_cast<QvSporadicTask*>(n);
        d.function = t->function.value.c_str();
        d.userData = t->userData.value.c_str();
        d.millisecond = t->millisecond.value;
        d.scriptKind = scriptKindOf(t->scriptType, "QvSporadicTask");
      }
      int r = hooks.addTimeOutHandler ? hooks.addTimeOutHandler(o, &d, periodic) : 0;
      state->popElement(kind);
      if (r != 0) {
        zvMessage("%s", "zvAddTimeOutHandler() failed.");
        break;
      }
    }
  }
  while (state->topNode(QV_STACK_CALENDAR_TASK)) {
    zvMessage("%s", "The CalendarTask cannot set in the ZvObj.");
    state->popElement(QV_STACK_CALENDAR_TASK);
  }
  return ZV_OK;
}

// The bounding cube of a finished object; an empty one is reported.
void checkBoundingCube(ZvObj* o, const char* typeName, long line) {
  if (!o->children && !o->leaf) {
    QvLineMessage("zvSetBoundingCube(): child and leaf is null.", typeName, line);
    return;
  }
  float mn[3], mx[3];
  zvGetObjParentBoundingCube(o, mn, mx);
}

int addChildOrDelete(ZvObj* parent, ZvObj* child, const char* who) {
  if (zvAddChild(parent, child) == ZV_OK) return ZV_OK;
  zvMessage("%s: zvAddChild() failed.", who);
  zvDeleteZvObj(child);
  return ZV_FAIL;
}

// Children into the object, each failure skipped; the abort flag stops.
int traverseChildren(QvGroup* g, QvState* state, ZvObj* o, bool relativeToGroup);

bool aborted = false;

int traverseStacking(QvGroup* g, QvState* state, ZvObj* o) {
  state->push();
  ZvTransform world = state->getTopElement(QV_STACK_WORLD_RT)->rt, identity;
  zvTransformIdentity(&identity);
  state->addRT(QV_STACK_WORLD_RT, world);
  state->addRT(QV_STACK_LOCAL_RT, identity);
  int r = traverseChildren(g, state, o, false);
  state->pop();
  return r;
}

int traverseChildren(QvGroup* g, QvState* state, ZvObj* o, bool relativeToGroup) {
  for (QvNode* child : g->children) {
    if (aborted) return 1;
    ZvObj* c = nullptr;
    int r = qvTraverse(child, state, &c);
    if (r == 1) {
      deleteObj(c);
      return 1;
    }
    if (r != 0 || !c) continue;
    if (relativeToGroup) {
      // A Group keeps the enclosing frame going, so its children were placed
      // relative to that frame; re-express them relative to the group.
      ZvTransform inv;
      if (invertAffine(&inv, &o->lrt)) zvTransformCompose(&c->lrt, &inv, &c->lrt);
    }
    if (addChildOrDelete(o, c, "QvGroup::traverseStacking()") != ZV_OK) return ZV_FAIL;
  }
  return ZV_OK;
}

// Makes an object for a shape-like node: leaf, behaviours, own placement,
// cube and registrations.
int finishLeafObject(QvState* state, QvNode* node, ZvObj* o, ZvLeaf* leaf, const ZvTransform* own) {
  applyBehaviours(state, o, leaf);
  if (own) {
    zvTransformCompose(&o->wrt, &o->wrt, own);
    zvTransformCompose(&o->lrt, &o->lrt, own);
  }
  if (leaf) zvAttachLeaf(o, leaf);
  checkBoundingCube(o, node->typeName(), node->startLine());
  return ZV_OK;
}

// A cube is six faces, counter-clockwise seen from outside, each with the
// four corners of the texture when the scene names no coordinates.
ZvLeaf* makeCube(QvState* state, QvCube* cube) {
  float x = cube->width.value / 2, y = cube->height.value / 2, z = cube->depth.value / 2;
  const float faces[6][4][3] = {
      {{-x, -y, z}, {x, -y, z}, {x, y, z}, {-x, y, z}},      // front
      {{x, -y, -z}, {-x, -y, -z}, {-x, y, -z}, {x, y, -z}},  // back
      {{x, -y, z}, {x, -y, -z}, {x, y, -z}, {x, y, z}},      // right
      {{-x, -y, -z}, {-x, -y, z}, {-x, y, z}, {-x, y, -z}},  // left
      {{-x, y, z}, {x, y, z}, {x, y, -z}, {-x, y, -z}},      // top
      {{-x, -y, -z}, {x, -y, -z}, {x, -y, z}, {-x, -y, z}},  // bottom
  };
  const float normals[6][3] = {{0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
  ZvLeaf* head = nullptr;
  ZvLeaf** tail = &head;
  for (int f = 0; f < 6; ++f) {
    ZvFace* face = zvNewFaceLeaf();
    if (!face) {
      zvDeleteAllLeaf(head);
      return nullptr;
    }
    *tail = face;
    tail = &face->next;
    face->convex = 1;
    face->vertices = static_cast<ZvSFVec3f*>(zvMalloc(sizeof(ZvSFVec3f) * 4));
    face->normals = static_cast<ZvSFVec3f*>(zvMalloc(sizeof(ZvSFVec3f)));
    if (!face->vertices || !face->normals) {
      zvDeleteAllLeaf(head);
      return nullptr;
    }
    face->vertexCount = 4;
    for (int v = 0; v < 4; ++v) face->vertices[v] = {faces[f][v][0], faces[f][v][1], faces[f][v][2]};
    face->normalCount = 1;
    face->normals[0] = {normals[f][0], normals[f][1], normals[f][2]};
    face->normalBinding = 1;  // one normal for the face
    face->orthoNormal = face->normals[0];
    face->orthoNormalValid = 1;
    face->texture.materialBinding = 1;
    if (qvSetLeafMaterial(state, face) != ZV_OK || qvSetLeafTexture(state, face, "QvCube") != ZV_OK ||
        qvSetDefaultCubeUV(face) < 0) {
      zvDeleteAllLeaf(head);
      return nullptr;
    }
  }
  return head;
}

// Part codes of the scene model's cone and cylinder builders.
int conePartCode(int bits) {
  int code = (bits & QV_CONE_SIDES ? 2 : 0) + (bits & QV_CONE_BOTTOM ? 8 : 0);
  return code + (bits & QV_CONE_ALL ? 1 : 0);
}
int cylinderPartCode(int bits) {
  return 2 * (bits & (QV_CYL_SIDES | QV_CYL_TOP | QV_CYL_BOTTOM)) + (bits & QV_CYL_ALL ? 1 : 0);
}

int dressParts(QvState* state, ZvLeaf* chain, bool known, const char* who) {
  if (!known) {
    if (std::strcmp(who, "QvCone") == 0)
      zvMessage("%s", "QvCone::setTextureAndMaterial(): unknown parts.");
    else
      zvMessage("%s: %s", "QvCylinder::setTextureAndMaterial()", "unknown parts.");
    return ZV_OK;
  }
  for (ZvLeaf* l = chain; l; l = l->next) {
    auto* s = static_cast<ZvShape*>(l);
    int r = qvSetLeafMaterial(state, s);
    if (r == ZV_OK) r = qvSetLeafTexture(state, s, who);
    if (r != ZV_OK) return r;
  }
  return ZV_OK;
}

ZvLeaf* makePointSet(QvState* state, QvPointSet* ps) {
  auto* coords = static_cast<QvCoordinate3*>(state->topNode(QV_STACK_COORDINATE3));
  int total = coords ? coords->point.num() : 0;
  int start = ps->startIndex.value;
  if (start < 0 || start > total) start = total;
  int n = ps->numPoints.value;
  if (n < 0 || n > total - start) n = total - start;
  ZvPointSet* leaf = zvNewPointSetLeaf();
  if (!leaf) return nullptr;
  leaf->startIndex = start;
  leaf->numPoints = n;
  if (n > 0) {
    leaf->points = static_cast<ZvSFVec3f*>(zvMalloc(sizeof(ZvSFVec3f) * size_t(n)));
    if (!leaf->points) {
      zvDeleteLeaf(leaf);
      return nullptr;
    }
    for (int i = 0; i < n; ++i) {
      const float* p = coords->point.values[size_t(start + i)].v;
      leaf->points[i] = {p[0], p[1], p[2]};
    }
    leaf->pointCount = n;
  }
  if (qvSetLeafMaterial(state, leaf) != ZV_OK || qvSetLeafTexture(state, leaf, "QvPointSet") != ZV_OK) {
    zvDeleteLeaf(leaf);
    return nullptr;
  }
  return leaf;
}

// Kept out of line: their URL buffers must not sit in every frame of the
// recursive walk.
__attribute__((noinline)) void infoSetting(QvState* state, QvInfo* info) {
  ZvWorld* w = state->world;
  const std::string& name = info->getName();
  const char* s = info->string.value.c_str();
  if (name == "BackgroundColor") {
    float r, g, b;
    if (std::sscanf(s, "%f%f%f", &r, &g, &b) == 3)
      w->background = {r, g, b};
    else
      zvMessage("%s", "fails to get background color.");
  } else if (name == "Kinemation") {
    if (*s) {
      zvParseSetKinemationFile(s);
      if (qvKinemationHookOn()) aborted = true;
    }
  } else if (name == "Title") {
    if (!w->title) w->title = zvStrdup(s);
  } else if (name == "ViewerSpeed") {
    double v;
    if (std::sscanf(s, "%lf", &v) == 1) {
      w->viewerSpeed = float(v);
    } else {
      w->viewerSpeed = 1.2f;
      zvMessage("%s", "fails to get ViewerSpeed value.");
    }
  } else if (name == "ZvServer") {
    if (!w->ownedText) w->ownedText = zvStrdup(s);
  } else if (name == "BackgroundTexture" || name == "BackgroundImage") {
    if (!w->backgroundTexture) w->backgroundTexture = qvLoadFile(state, "QvInfo", s);
  } else if (name == "Gravity") {
    if (zvReaderHooks().setGravity) zvReaderHooks().setGravity(w, std::strcmp(s, "on") == 0);
  } else if (name == "Archive") {
    char url[4096];
    const char* target = s;
    if (!state->baseUrl.empty() && zvUrlScheme(s) == ZV_SCHEME_NONE &&
        zvResolveUrl(state->baseUrl.c_str(), s, url, sizeof url) == 0)
      target = url;
    zvExtractLha(target);
  } else if (name == "BackgroundTextureType" || name == "BackgroundImageType") {
    long v;
    if (std::sscanf(s, "%ld", &v) == 1)
      w->counters[0] = int32_t(v);
    else {
      w->counters[0] = 0;
      zvMessage("%s", "fails to get BackgroundTextureType value.");
    }
  }
}

// Resolves a URL named in the file against the file's own URL.
__attribute__((noinline)) std::string absoluteUrl(QvState* state, const std::string& name) {
  char out[4096];
  if (!state->baseUrl.empty() && zvUrlScheme(name.c_str()) == ZV_SCHEME_NONE &&
      zvResolveUrl(state->baseUrl.c_str(), name.c_str(), out, sizeof out) == 0)
    return out;
  return name;
}

constexpr int kMaxInlinesPerParse = 2000;

// The URL with its "." and ".." segments worked out.
std::string normalUrl(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : url.find('/', start + 3);
  if (start == std::string::npos) return url;
  std::vector<std::string> parts;
  size_t i = start + 1;
  while (i <= url.size()) {
    size_t j = url.find('/', i);
    if (j == std::string::npos) j = url.size();
    std::string seg = url.substr(i, j - i);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (seg != "." && !(seg.empty() && j < url.size())) {
      parts.push_back(seg);
    }
    i = j + 1;
  }
  std::string out = url.substr(0, start);
  for (const std::string& p : parts) out += "/" + p;
  return out;
}

// An inline that cannot be had is dropped with its message; the file
// around it still reads, as a missing picture does not stop a page.
int traverseInline(QvWWWInline* node, QvState* state, ZvObj** out);
int inlineOrNothing(QvWWWInline* node, QvState* state, ZvObj** out) {
  int r = traverseInline(node, state, out);
  if (r == ZV_FAIL) {
    *out = nullptr;
    return ZV_OK;
  }
  return r;
}

__attribute__((noinline)) int traverseInline(QvWWWInline* node, QvState* state, ZvObj** out) {
  ZvObj* o = createZvObj(state, node, "WWWInline");
  if (!o) return ZV_FAIL;
  std::string url = absoluteUrl(state, node->name.value);
  if (zvSetNameOfWWW(o, zvWWWInline, url.c_str()) != ZV_OK) {
    zvMessage("%s: zvSetNameOfWWW() failed.", "QvWWWInline::traverse");
    deleteObj(o);
    return ZV_FAIL;
  }
  const char* file = nullptr;
  if (zvGetLocalNameOfWWW(o, zvWWWInline, &file) != ZV_OK) {
    zvMessage("%s: zvGetLocalNameOfWWW() failed.", "QvWWWInline::traverse");
    deleteObj(o);
    return ZV_FAIL;
  }
  if (file && *file) {
    // A file that inlines itself, directly or round a loop, or inlines
    // nested past all reason, is stopped here.
    // Names are compared with "." and ".." taken out, so "sub/../self.wrl"
    // is seen for the file it is; and a file may pull in only so many
    // inlines in all, however they branch.
    std::string plain = normalUrl(url);
    bool loop = state->inlineDepth >= 16 || ++inlinesThisParse > kMaxInlinesPerParse;
    for (const std::string& u : state->inlineChain) loop = loop || normalUrl(u) == plain;
    if (loop) {
      zvMessage("%s: %s: recursion too deep, node skipped.", "QvWWWInline::traverse", url.c_str());
      deleteObj(o);
      return ZV_FAIL;
    }
    int r = node->index < 1 ? zvPushWorldIdCounter(state->world, 0, 0, ZV_ID_MODE_ALWAYS)
                            : zvPushWorldIdCounter(state->world, -2000 * (5 * node->index + 5),
                                                   -2000 * (5 * node->index + 5) + 9999, ZV_ID_MODE_ALWAYS);
    if (r != ZV_OK) {
      zvMessage("%s", "QvWWWInline::traverse: zvPushIdCounter() failed.");
      deleteObj(o);
      return ZV_FAIL;
    }
    int parsed = qvParseInline(file, url.c_str(), o, state);
    if (zvPopWorldIdCounter(state->world) != ZV_OK) zvMessage("%s", "QvWWWInline::traverse: zvPopIdCounter() failed.");
    if (parsed != ZV_OK) {
      zvMessage("%s: %s%s%s", "QvWWWInline::traverse", "zvParseVRMLInZvObj(\"", file, "\") failed.");
      deleteObj(o);
      return ZV_FAIL;
    }
  }
  *out = o;
  return ZV_OK;
}

}  // namespace

void zvSetEventMaskConversion(uint32_t fromBit, uint32_t toBit) {
  maskFrom = fromBit;
  maskTo = toBit;
}

uint32_t zvConvertEventMask(uint32_t mask) {
  uint32_t kept = mask & 0x3FFFFF;
  if (kept & maskFrom) kept = (kept & ~maskFrom) | maskTo;
  return kept;
}

bool qvTraversalAborted() { return aborted; }
void qvResetInlineBudget() { inlinesThisParse = 0; }
void qvClearTraversalAbort() { aborted = false; }

namespace {

// How deep the walk is, across inlines too: USE and inlines can build a
// depth the reader never saw in one file.
int traversalDepth = 0;

int traverseNode(QvNode* node, QvState* state, ZvObj** out);

}  // namespace

int qvTraverse(QvNode* node, QvState* state, ZvObj** out) {
  *out = nullptr;
  if (!node) return ZV_OK;
  if (traversalDepth >= QV_MAX_NESTING) {
    zvMessage("%s: recursion too deep, node skipped.", node->typeName());
    return ZV_OK;
  }
  ++traversalDepth;
  int r = traverseNode(node, state, out);
  --traversalDepth;
  // The children were placed from the state's frame, which knows nothing of
  // their parent's Scale; it applies to them too, so their cached world
  // transforms are recomputed through the scaled parent when next asked.
  ZvObj* o = *out;
  if (o && o->children && (o->bcubeScale[0] != 1.0f || o->bcubeScale[1] != 1.0f || o->bcubeScale[2] != 1.0f)) {
    ZvObjList* cursor = o->children;
    while (ZvObj* child = zvNextChild(&cursor)) zvInvalidateWRT(child);
  }
  return r;
}

namespace {

int traverseNode(QvNode* node, QvState* state, ZvObj** out) {
  ZvObj* o = nullptr;
  switch (node->kind()) {
    // Property nodes: an element for the next shapes.
    case QV_KIND_QvCoordinate3: state->addElement(QV_STACK_COORDINATE3, node); return ZV_OK;
    case QV_KIND_QvMaterial: state->addElement(QV_STACK_MATERIAL, node); return ZV_OK;
    case QV_KIND_QvMaterialBinding: state->addElement(QV_STACK_MATERIAL_BINDING, node); return ZV_OK;
    case QV_KIND_QvNormal: state->addElement(QV_STACK_NORMAL, node); return ZV_OK;
    case QV_KIND_QvNormalBinding: state->addElement(QV_STACK_NORMAL_BINDING, node); return ZV_OK;
    case QV_KIND_QvShapeHints: state->addElement(QV_STACK_SHAPE_HINTS, node); return ZV_OK;
    case QV_KIND_QvTextureCoordinate2: state->addElement(QV_STACK_TEXTURE_COORDINATE2, node); return ZV_OK;
    case QV_KIND_QvTexture2: state->addElement(QV_STACK_TEXTURE2, node); return ZV_OK;
    case QV_KIND_QvTexture2Transform: state->addElement(QV_STACK_TEXTURE2_TRANSFORM, node); return ZV_OK;
    case QV_KIND_QvTransparentTexture2: state->addElement(QV_STACK_TRANSPARENT_TEXTURE2, node); return ZV_OK;
    case QV_KIND_QvAttributes: state->addElement(QV_STACK_ATTRIBUTES, node); return ZV_OK;
    case QV_KIND_QvScript: state->addElement(QV_STACK_SCRIPT, node); return ZV_OK;
    case QV_KIND_QvEventHandler: state->addElement(QV_STACK_EVENT_HANDLER, node); return ZV_OK;
    case QV_KIND_QvSporadicTask: state->addElement(QV_STACK_SPORADIC_TASK, node); return ZV_OK;
    case QV_KIND_QvPeriodicTask: state->addElement(QV_STACK_PERIODIC_TASK, node); return ZV_OK;
    case QV_KIND_QvCalendarTask: state->addElement(QV_STACK_CALENDAR_TASK, node); return ZV_OK;
    case QV_KIND_QvMovie2: state->addElement(QV_STACK_MOVIE2, node); return ZV_OK;
    case QV_KIND_QvFontStyle: state->addElement(QV_STACK_FONT_STYLE, node); return ZV_OK;
    case QV_KIND_QvScale: state->addElement(QV_STACK_SCALE, node); return ZV_OK;

    // Transforms.
    case QV_KIND_QvTranslation: {
      auto* t = static_cast<QvTranslation*>(node);
      ZvTransform m;
      qvTranslationTransform(&m, t->translation.value[0], t->translation.value[1], t->translation.value[2]);
      applyTransform(state, m);
      return ZV_OK;
    }
    case QV_KIND_QvRotation: {
      auto* r = static_cast<QvRotation*>(node);
      ZvTransform m;
      qvRotationTransform(&m, r->rotation.axis, r->rotation.angle);
      applyTransform(state, m);
      return ZV_OK;
    }
    case QV_KIND_QvTransform: {
      auto* t = static_cast<QvTransform*>(node);
      ZvTransform m, step;
      const float* c = t->center.value;
      qvTranslationTransform(&m, t->translation.value[0], t->translation.value[1], t->translation.value[2]);
      qvTranslationTransform(&step, c[0], c[1], c[2]);
      zvTransformCompose(&m, &m, &step);
      qvRotationTransform(&step, t->rotation.axis, t->rotation.angle);
      zvTransformCompose(&m, &m, &step);
      qvRotationTransform(&step, t->scaleOrientation.axis, t->scaleOrientation.angle);
      zvTransformCompose(&m, &m, &step);
      qvScaleTransform(&step, t->scaleFactor.value[0], t->scaleFactor.value[1], t->scaleFactor.value[2]);
      zvTransformCompose(&m, &m, &step);
      qvRotationTransform(&step, t->scaleOrientation.axis, -t->scaleOrientation.angle);
      zvTransformCompose(&m, &m, &step);
      qvTranslationTransform(&step, -c[0], -c[1], -c[2]);
      zvTransformCompose(&m, &m, &step);
      applyTransform(state, m);
      return ZV_OK;
    }
    case QV_KIND_QvMatrixTransform: {
      auto* t = static_cast<QvMatrixTransform*>(node);
      const float(*v)[4] = t->matrix.value;
      if (v[0][3] != 0 || v[1][3] != 0 || v[2][3] != 0 || v[3][3] != 1)
        zvMessage("%s", "QvMatrixTransform::traverse(): invalid matrix.");
      ZvTransform m;
      for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 3; ++k) m.m[r][k] = v[r][k];
      applyTransform(state, m);
      return ZV_OK;
    }

    case QV_KIND_QvInfo:
      infoSetting(state, static_cast<QvInfo*>(node));
      return ZV_OK;

    // Groups.
    case QV_KIND_QvGroupNode: {
      o = createZvObj(state, node, "Group");
      if (!o) return ZV_FAIL;
      if (traverseChildren(static_cast<QvGroup*>(node), state, o, true) == 1) {
        *out = o;
        return 1;
      }
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvSeparator:
    case QV_KIND_QvSwitch:
    case QV_KIND_QvLOD: {
      o = createZvObj(state, node, node->typeName());
      if (!o) return ZV_FAIL;
      if (node->kind() != QV_KIND_QvLOD) applyBehaviours(state, o, nullptr);
      int r = traverseStacking(static_cast<QvGroup*>(node), state, o);
      if (r == 1) {
        *out = o;
        return 1;
      }
      if (r != ZV_OK) {
        deleteObj(o);
        return ZV_FAIL;
      }
      if (node->kind() == QV_KIND_QvSeparator) checkBoundingCube(o, "Separator", node->startLine());
      if (node->kind() == QV_KIND_QvSwitch) {
        auto* sw = static_cast<QvSwitch*>(node);
        bool camera = false;
        for (ZvObjList* c = o->children; c; c = c->next)
          camera = camera || (c->object && (c->object->nodeType == ZV_NODE_ORTHOGRAPHIC_CAMERA ||
                                            c->object->nodeType == ZV_NODE_PERSPECTIVE_CAMERA));
        if (camera && zvReginsterToCameraTable(o, 3) != ZV_OK) {
          zvMessage("%s", "zvRegisterCamera() failed.");
          deleteObj(o);
          return ZV_FAIL;
        }
        auto* which = static_cast<int32_t*>(zvMalloc(sizeof(int32_t)));
        if (!which || zvRegisterObjExtension(o, zvSwitchWhichChild, which) != ZV_OK) {
          zvMessage("%s: %s", "QvSwitch::setZvSpecialNode()",
                    which ? "zvRegisterObjExtension() failed." : "Couldn't allocate memory for whichChild.");
          zvFree(which);
          deleteObj(o);
          return ZV_FAIL;
        }
        *which = sw->whichChild.value;
      }
      if (node->kind() == QV_KIND_QvLOD) {
        auto* lod = static_cast<QvLOD*>(node);
        auto* rec = static_cast<ZvLOD*>(zvMalloc(sizeof(ZvLOD)));
        int n = lod->range.num();
        float* ranges = n > 0 ? static_cast<float*>(zvMalloc(sizeof(float) * size_t(n))) : nullptr;
        if (!rec || (n > 0 && !ranges) || zvRegisterObjExtension(o, zvLODNode, rec) != ZV_OK) {
          zvMessage("%s: %s", "QvLOD::setZvSpecialNode()",
                    !rec ? "Couldn't allocate memory for ZvLOD."
                         : (n > 0 && !ranges) ? "Couldn't allocate memory for ZvScalar." : "zvRegisterObjExtension() failed.");
          zvFree(ranges);
          zvFree(rec);
          deleteObj(o);
          return ZV_FAIL;
        }
        rec->rangeCount = n;
        rec->ranges = ranges;
        if (n > 0) std::memcpy(ranges, lod->range.values.data(), sizeof(float) * size_t(n));
        std::memcpy(rec->center, lod->center.value, sizeof rec->center);
        if (zvAddZvObjToZvMFObj(&state->world->lods, o) != ZV_OK)
          zvMessage("%s: zvAddZvObjToZvMFObj() failed.", "QvLOD::setZvSpecialNode()");
      }
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvTransformSeparator: {
      o = createZvObj(state, node, "TransformSeparator");
      if (!o) return ZV_FAIL;
      applyBehaviours(state, o, nullptr);
      ZvTransform world = state->getTopElement(QV_STACK_WORLD_RT)->rt, identity;
      zvTransformIdentity(&identity);
      size_t wdepth = state->stack(QV_STACK_WORLD_RT).size(), ldepth = state->stack(QV_STACK_LOCAL_RT).size();
      state->addRT(QV_STACK_WORLD_RT, world);
      state->addRT(QV_STACK_LOCAL_RT, identity);
      int r = traverseChildren(static_cast<QvGroup*>(node), state, o, false);
      // Exactly the two pushed elements go; anything deeper is a fault.
      if (state->stack(QV_STACK_WORLD_RT).size() != wdepth + 1)
        zvWarning("%s: worldRT stack is inconsistent.", "QvTransformSeparator::traverse()");
      if (state->stack(QV_STACK_LOCAL_RT).size() != ldepth + 1)
        zvWarning("%s: LocalRT stack is inconsistent.", "QvTransformSeparator::traverse()");
      state->stack(QV_STACK_WORLD_RT).resize(wdepth);
      state->stack(QV_STACK_LOCAL_RT).resize(ldepth);
      *out = o;
      return r == 1 ? 1 : ZV_OK;
    }
    case QV_KIND_QvWWWAnchor: {
      auto* a = static_cast<QvWWWAnchor*>(node);
      o = createZvObj(state, node, "WWWAnchor");
      if (!o) return ZV_FAIL;
      std::string url = absoluteUrl(state, a->name.value);
      if (zvSetNameOfWWW(o, zvWWWAnchor, url.c_str()) != ZV_OK)
        zvMessage("%s: zvSetNameOfWWW() failed.", "QvWWWAnchor::traverse");
      applyBehaviours(state, o, nullptr);
      state->push();
      ZvTransform world = state->getTopElement(QV_STACK_WORLD_RT)->rt, identity;
      zvTransformIdentity(&identity);
      state->addRT(QV_STACK_WORLD_RT, world);
      state->addRT(QV_STACK_LOCAL_RT, identity);
      state->addElement(QV_STACK_WWW_ANCHOR, node);
      int r = traverseChildren(a, state, o, false);
      state->pop();
      *out = o;
      return r == 1 ? 1 : ZV_OK;
    }
    case QV_KIND_QvWWWInline:
      return inlineOrNothing(static_cast<QvWWWInline*>(node), state, out);

    // Shapes, lights, cameras, sounds and text.
    case QV_KIND_QvCube: {
      o = createZvObj(state, node, "Cube");
      if (!o) return ZV_FAIL;
      ZvLeaf* leaf = makeCube(state, static_cast<QvCube*>(node));
      if (!leaf) break;
      finishLeafObject(state, node, o, leaf, nullptr);
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvCone: {
      auto* c = static_cast<QvCone*>(node);
      int code = conePartCode(c->parts.value);
      bool known = code == 1 || code == 2 || code == 8 || code == 10;
      o = createZvObj(state, node, "Cone");
      if (!o) return ZV_FAIL;
      ZvLeaf* leaf = zvNewCone(code ? code : ZV_PART_ALL, c->bottomRadius.value, c->height.value);
      if (!leaf || dressParts(state, leaf, known, "QvCone") != ZV_OK) {
        if (leaf) zvDeleteAllLeaf(leaf);
        break;
      }
      finishLeafObject(state, node, o, leaf, nullptr);
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvCylinder: {
      auto* c = static_cast<QvCylinder*>(node);
      int code = cylinderPartCode(c->parts.value);
      bool known = code == 1 || code == 2 || code == 4 || code == 8 || code == 6 || code == 10 || code == 12 || code == 14;
      o = createZvObj(state, node, "Cylinder");
      if (!o) return ZV_FAIL;
      ZvLeaf* leaf = zvNewCylinder(code ? code : ZV_PART_ALL, c->radius.value, c->radius.value, c->height.value);
      if (!leaf || dressParts(state, leaf, known, "QvCylinder") != ZV_OK) {
        if (leaf) zvDeleteAllLeaf(leaf);
        break;
      }
      finishLeafObject(state, node, o, leaf, nullptr);
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvSphere: {
      o = createZvObj(state, node, "Sphere");
      if (!o) return ZV_FAIL;
      ZvSphere* s = zvNewSphereLeaf();
      if (!s) break;
      s->radius = static_cast<QvSphere*>(node)->radius.value;
      if (qvSetLeafMaterial(state, s) != ZV_OK || qvSetLeafTexture(state, s, "QvSphere") != ZV_OK) {
        zvDeleteLeaf(s);
        break;
      }
      finishLeafObject(state, node, o, s, nullptr);
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvPointSet: {
      o = createZvObj(state, node, "PointSet");
      if (!o) return ZV_FAIL;
      ZvLeaf* leaf = makePointSet(state, static_cast<QvPointSet*>(node));
      if (!leaf) break;
      finishLeafObject(state, node, o, leaf, nullptr);
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvAsciiText: {
      auto* t = static_cast<QvAsciiText*>(node);
      o = createZvObj(state, node, "AsciiText");
      if (!o) return ZV_FAIL;
      ZvText* leaf = zvNewTextLeaf();
      if (!leaf) break;
      if (t->string.value.empty()) zvMessage("%s: non-strings.", "QvAsciiText::createZvLeaf()");
      leaf->text = zvStrdup(t->string.value.c_str());
      leaf->justification = t->justification.value;
      leaf->spacing = t->spacing.value;
      leaf->width = int32_t(t->width.value);
      if (auto* f = static_cast<QvFontStyle*>(state->topNode(QV_STACK_FONT_STYLE)))
        leaf->font = {f->size.value, f->family.value, f->style.value};
      if (!leaf->text || qvSetLeafMaterial(state, leaf) != ZV_OK || qvSetLeafTexture(state, leaf, "QvAsciiText") != ZV_OK) {
        zvDeleteLeaf(leaf);
        break;
      }
      finishLeafObject(state, node, o, leaf, nullptr);
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvPointLight:
    case QV_KIND_QvDirectionalLight:
    case QV_KIND_QvSpotLight: {
      o = createZvObj(state, node, node->typeName());
      if (!o) return ZV_FAIL;
      ZvLight* light = nullptr;
      const QvSFBool* on;
      const QvSFFloat* intensity;
      const QvSFColor* color;
      ZvTransform own, step;
      zvTransformIdentity(&own);
      if (node->kind() == QV_KIND_QvPointLight) {
        auto* p = static_cast<QvPointLight*>(node);
        light = zvNewPointLight();
        on = &p->on, intensity = &p->intensity, color = &p->color;
        qvTranslationTransform(&own, p->location.value[0], p->location.value[1], p->location.value[2]);
      } else if (node->kind() == QV_KIND_QvDirectionalLight) {
        auto* d = static_cast<QvDirectionalLight*>(node);
        light = zvNewDirectionalLight();
        on = &d->on, intensity = &d->intensity, color = &d->color;
        directionTransform(&own, d->direction.value);
      } else {
        auto* s = static_cast<QvSpotLight*>(node);
        ZvSpotLight* spot = zvNewSpotLight();
        light = spot;
        on = &s->on, intensity = &s->intensity, color = &s->color;
        if (spot) {
          spot->dropOffRate = s->dropOffRate.value;
          spot->cutOffAngle = s->cutOffAngle.value;
        }
        qvTranslationTransform(&own, s->location.value[0], s->location.value[1], s->location.value[2]);
        directionTransform(&step, s->direction.value);
        zvTransformCompose(&own, &own, &step);
      }
      if (!light) break;
      if (on->value == 0 || on->value == 1)
        light->on = on->value;
      else
        zvMessage("%s: invalid value in 'on'.", node->typeName());
      light->intensity = intensity->value;
      light->color = {color->value[0], color->value[1], color->value[2]};
      finishLeafObject(state, node, o, light, &own);
      // Lights have a small cube of their own so that they can be picked.
      for (int i = 0; i < 3; ++i) {
        o->cubeMin[i] = o->pcubeMin[i] = -0.5f;
        o->cubeMax[i] = o->pcubeMax[i] = 0.5f;
      }
      o->flags |= ZV_OBJ_HAS_CUBE | ZV_OBJ_CUBE_VALID | ZV_OBJ_PCUBE_VALID;
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvOrthographicCamera:
    case QV_KIND_QvPerspectiveCamera: {
      o = createZvObj(state, node, node->typeName());
      if (!o) return ZV_FAIL;
      ZvCamera* cam;
      const QvSFVec3f* position;
      const QvSFRotation* orientation;
      const QvMFVec3f *direction, *up;
      if (node->kind() == QV_KIND_QvOrthographicCamera) {
        auto* c = static_cast<QvOrthographicCamera*>(node);
        cam = zvNewOrthographicCameraLeaf();
        if (cam) cam->focalDistance = c->focalDistance.value, cam->height = c->height.value;
        position = &c->position, orientation = &c->orientation, direction = &c->direction, up = &c->up;
      } else {
        auto* c = static_cast<QvPerspectiveCamera*>(node);
        cam = zvNewPerspectiveCameraLeaf();
        if (cam) cam->focalDistance = c->focalDistance.value, cam->height = c->heightAngle.value;
        position = &c->position, orientation = &c->orientation, direction = &c->direction, up = &c->up;
      }
      if (!cam) break;
      ZvTransform own, turn;
      qvTranslationTransform(&own, position->value[0], position->value[1], position->value[2]);
      if (!aimAlong(*direction, *up, &turn)) qvRotationTransform(&turn, orientation->axis, orientation->angle);
      zvTransformCompose(&own, &own, &turn);
      finishLeafObject(state, node, o, cam, &own);
      // The last camera read holds the world's viewpoint.
      if (zvReginsterToCameraTable(o, 3) != ZV_OK) {
        zvMessage("%s", "zvRegisterCamera() failed.");
        deleteObj(o);
        return ZV_FAIL;
      }
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvAmbientSound: {
      auto* a = static_cast<QvAmbientSound*>(node);
      o = createZvObj(state, node, "AmbientSound");
      if (!o) return ZV_FAIL;
      ZvSoundDesc d{};
      d.file = qvLoadFile(state, "QvAmbientSound", a->filename.value.c_str());
      if (!d.file) {
        zvMessage("%s", "callZvWwwLoadFile() failed.");
        break;
      }
      const std::string& f = a->filename.value;
      std::string suffix = f.size() >= 4 ? f.substr(f.size() - 4) : "";
      d.kind = suffix == ".wav" ? 1 : suffix == ".mid" ? 2 : suffix == ".sna" ? 3 : 0;
      if (d.kind == 0)
        zvMessage("%s: %s%s%s", "QvAmbientSound::createZvLeaf()", "Unknown '", suffix.c_str(), "' suffixes of filename.");
      d.autoPlay = a->autoPlay.value;
      d.loop = a->loop.value;
      std::memcpy(d.bboxSize, a->bboxSize.value, sizeof d.bboxSize);
      std::memcpy(d.bboxCenter, a->bboxCenter.value, sizeof d.bboxCenter);
      ZvSoundLeaf* leaf = zvNewSoundLeaf();
      if (!leaf) break;
      finishLeafObject(state, node, o, leaf, nullptr);
      if (zvReaderHooks().addSound && zvReaderHooks().addSound(o, &d) != 0) {
        zvMessage("%s", "zvAddSoundObj() failed.");
        deleteObj(o);
        return ZV_FAIL;
      }
      *out = o;
      return ZV_OK;
    }
    case QV_KIND_QvIndexedFaceSet:
    case QV_KIND_QvIndexedLineSet: {
      bool faces = node->kind() == QV_KIND_QvIndexedFaceSet;
      const char* name = faces ? "IndexedFaceSet" : "IndexedLineSet";
      o = createZvObj(state, node, name);
      if (!o) return ZV_FAIL;
      int r = faces ? qvCreateFaceLeaves(state, static_cast<QvIndexedFaceSet*>(node), o)
                    : qvCreateLineLeaves(state, static_cast<QvIndexedLineSet*>(node), o);
      if (r != ZV_OK) {
        zvMessage("%s::traverse(): %s", faces ? "QvIndexedFaceSet" : "QvIndexedLineSet", "createAndAddLeaves() failed.");
        zvMessage("%s::traverse(): at line %ld", faces ? "QvIndexedFaceSet" : "QvIndexedLineSet", node->startLine());
        deleteObj(o);
        return ZV_FAIL;
      }
      checkBoundingCube(o, name, node->startLine());
      applyBehaviours(state, o, o->leaf);
      *out = o;
      return ZV_OK;
    }
    default:
      return ZV_OK;
  }
  // A leaf could not be made.
  zvMessage("%s: %s", node->typeName(), "Couldn't allocate memory for ZvLeaf.");
  deleteObj(o);
  return ZV_FAIL;
}

}  // namespace
