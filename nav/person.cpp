// person.cpp — the user's person: its eye camera, where it starts in a world,
// and how it is put at a viewpoint.
//
// The person faces its own +z. Its camera is a scene camera (looking along
// its own -z) turned a half turn about y, so that it looks where the person
// faces; pitch tilts the camera alone, the person stays upright.
#include <cmath>
#include <cstring>

#include "nav/navpriv.h"
#include "render/render.h"

namespace {

constexpr float kRadToDeg = 57.29578f;

bool isCamera(const ZvObj* o) {
  return o && o->leaf &&
         (o->leaf->type == ZV_LEAF_PERSPECTIVE_CAMERA || o->leaf->type == ZV_LEAF_ORTHOGRAPHIC_CAMERA);
}

void freeNavigation(ZvWorld* world) {
  zvFree(world->navigation);
  world->navigation = nullptr;
}

// Switching a light that the renderer has not built yet only records the
// state; the builder reads it.
void setLightOn(ZvObj* object, int on) {
  auto* light = static_cast<ZvLight*>(object->leaf);
  if (light->rendering)
    zvRenderSetObjState(object, on);
  else
    light->on = on;
}

ZvLeaf* firstLightLeaf(ZvObj* root) {
  if (!root) return nullptr;
  for (ZvLeaf* l = root->leaf; l; l = l->next)
    if (zvIsLightLeaf(l)) return l;
  for (ZvObjList* c = root->children; c; c = c->next)
    if (ZvLeaf* l = firstLightLeaf(c->object)) return l;
  return nullptr;
}

// The view window of a camera leaf, as the renderer's camera would have it.
bool viewWindowOf(ZvObj* camera, float* w, float* h) {
  if (!isCamera(camera)) return false;
  auto* leaf = static_cast<ZvCamera*>(camera->leaf);
  float t;
  if (leaf->type == ZV_LEAF_ORTHOGRAPHIC_CAMERA) {
    t = leaf->height;
  } else {
    t = std::tan(leaf->height / 2);
    if (t < 0) t = 768;
  }
  *w = t * 1.3333334f;
  *h = t;
  return t > 0;
}

void normalize(float v[3]) {
  float l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (l > 0) v[0] /= l, v[1] /= l, v[2] /= l;
}

}  // namespace

ZvObj* zvGetPersonCamera(ZvWorld* world) {
  if (!world) return nullptr;
  ZvObj* camera = zvGetCameraFromCameraTable(world, ZV_PERSON_CAMERA);
  return isCamera(camera) ? camera : nullptr;
}

int zvRegisterPersonCamera(ZvObj* camera) {
  if (!camera || !camera->world) return ZV_FAIL;
  int r = zvReginsterToCameraTable(camera, ZV_PERSON_CAMERA);
  if (r != ZV_OK) return r;
  return zvSetActiveCameraID(camera->world, ZV_PERSON_CAMERA);
}

int zvAddCameraToPerson(ZvObj* person) {
  if (!person || !person->world) return ZV_FAIL;
  ZvCamera* leaf = zvNewPerspectiveCameraLeaf();
  if (!leaf) {
    zvWarning("zvAddCameraToPerson: zvNewPerspectiveCameraLeaf failed.");
    return ZV_NOMEM;
  }
  ZvObj* camera = nullptr;
  int r = zvNewZvObj(person->world, &camera, 0);
  if (r != ZV_OK || !camera) {
    zvWarning("zvAddCameraToPerson: zvNewZvObj failed.");
    zvDeleteLeaf(leaf);
    return r != ZV_OK ? r : ZV_FAIL;
  }
  camera->nodeType = ZV_NODE_PERSPECTIVE_CAMERA;
  camera->strings[ZV_STR_LABEL] = zvStrdup("PerspectiveCamera");
  zvAttachLeaf(camera, leaf);
  if (zvAddChild(person, camera) != ZV_OK) {
    zvWarning("zvAddCameraToPerson: zvAddChild failed");
    zvDeleteZvObj(camera);
    return ZV_FAIL;
  }
  // The eye sits at the top of the figure, a little in front of its middle.
  float min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
  zvGetObjBoundingCube(person, min, max);
  ZvTransform place;
  zvTransformIdentity(&place);
  place.m[0][0] = -1;
  place.m[2][2] = -1;
  place.m[3][1] = max[1] - zvGetObjectLRT(camera)->m[3][1];
  place.m[3][2] = -0.1f;
  zvObjectRotateTrans(camera, &place, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
  if (person->world->viewer && zvSceneHooks().renderConstructObj) zvSceneHooks().renderConstructObj(camera);
  return zvRegisterPersonCamera(camera);
}

int zvPlacePerson(ZvObj* person, const ZvTransform* target) {
  if (!person || !target || !person->world) return ZV_FAIL;
  ZvObj* camera = zvGetPersonCamera(person->world);
  if (!camera) return ZV_FAIL;

  // Heading: where the target looks, flattened to the ground. Looking
  // straight down (or up), the top (or bottom) of the picture is ahead.
  float ahead[3] = {-target->m[2][0], 0, -target->m[2][2]};
  if (ahead[0] * ahead[0] + ahead[2] * ahead[2] < 1e-10f) {
    float s = target->m[2][1] > 0 ? 1.0f : -1.0f;
    ahead[0] = s * target->m[1][0], ahead[2] = s * target->m[1][2];
  }
  normalize(ahead);
  if (ahead[0] * ahead[0] + ahead[2] * ahead[2] < 0.5f) ahead[0] = 0, ahead[2] = 1;
  ZvTransform turn = *zvGetObjectWRT(person);
  const float rows[3][3] = {{ahead[2], 0, -ahead[0]}, {0, 1, 0}, {ahead[0], 0, ahead[2]}};
  std::memcpy(turn.m, rows, sizeof rows);
  int r = zvObjectRotateTrans(person, &turn, ZV_COORD_WORLD, ZV_TRANSFORM_SET);
  if (r != ZV_OK) return r;

  // The camera takes the target's rotation where it now stands ...
  ZvTransform eye = *target;
  std::memcpy(eye.m[3], zvGetObjectWRT(camera)->m[3], sizeof eye.m[3]);
  r = zvObjectRotateTrans(camera, &eye, ZV_COORD_WORLD, ZV_TRANSFORM_SET);
  if (r != ZV_OK) return r;
  // ... and the person carries it to the target's position.
  float d[3];
  for (int i = 0; i < 3; ++i) d[i] = target->m[3][i] - zvGetObjectWRT(camera)->m[3][i];
  r = zvObjectTranslate(person, d, ZV_COORD_WORLD, ZV_TRANSFORM_COMPOSE);
  if (r != ZV_OK) return r;

  if (ZvNavigation* nav = zvGetNavigation(person->world)) {
    float up = -target->m[2][1];  // the viewing direction's rise
    nav->pitch = -std::asin(up < -1 ? -1 : up > 1 ? 1 : up) * kRadToDeg;
  }
  return ZV_OK;
}

int zvAdjustPersonToActiveCamera(ZvObj* person) {
  if (!person || !person->world) return ZV_FAIL;
  ZvWorld* world = person->world;

  // The headlight only lights a world that brings no light of its own.
  for (ZvLeaf* l = firstLightLeaf(person); l; l = nullptr) {
    ZvLeaf* first = nullptr;
    for (ZvTopObjList* t = world->topObjects; t && !first; t = t->next)
      if (t->object != person) first = firstLightLeaf(t->object);
    setLightOn(l->owner, first ? 0 : 1);
  }

  ZvTransform start;
  zvTransformIdentity(&start);
  ZvObj* worldCamera = zvGetCameraFromCameraTable(world, ZV_WORLD_CAMERA);
  ZvObj* viewpoint = worldCamera && !isCamera(worldCamera) ? nullptr : worldCamera;
  if (worldCamera && !viewpoint) {
    // A Switch of cameras: the child it has chosen.
    int which = zvGetSwitchObjNo(worldCamera);
    ZvObj* chosen = zvGetSwitchObjByNo(worldCamera, which == -3 || which < 0 ? 0 : which);
    viewpoint = isCamera(chosen) ? chosen : nullptr;
  }
  ZvObj* eye = zvGetPersonCamera(world);
  if (viewpoint) {
    start = *zvGetObjectWRT(viewpoint);
    if (eye && eye->leaf->type == viewpoint->leaf->type)
      static_cast<ZvCamera*>(eye->leaf)->height = static_cast<ZvCamera*>(viewpoint->leaf)->height;
    if (eye && eye->leaf->rendering) {
      float h = static_cast<ZvCamera*>(eye->leaf)->height;
      zvRenderSetCameraAttribute(eye, eye->leaf->type == ZV_LEAF_ORTHOGRAPHIC_CAMERA ? zvCameraAttrHeight
                                                                                     : zvCameraAttrHeightAngle,
                                 &h);
    }
  } else {
    ZvObj* active = zvGetActiveCamera(world);
    if (!active) {
      zvWarning("zvAdjustPersonToActiveCamera : cannot get a camera");
      return ZV_FAIL;
    }
    float w, h;
    if (!viewWindowOf(active, &w, &h)) {
      zvWarning("zvAdjustPersonToActiveCamera : cannot get a view window");
      return ZV_FAIL;
    }
    // Framed from in front of what can be seen: centred on it across, the
    // eye at the camera's height unless the box lies wholly above or below
    // it, then level with the box's middle.
    float y = zvGetObjectWRT(active)->m[3][1];
    float mn[3], mx[3];
    if (zvNavVisibleBounds(world, mn, mx) != ZV_OK) {
      for (int i = 0; i < 3; ++i) mn[i] = world->bboxMin[i], mx[i] = world->bboxMax[i];
    }
    float x = (mn[0] + mx[0]) / 2;
    if (y > mx[1] || y < mn[1]) y = (mn[1] + mx[1]) / 2;
    float a = std::fmax(std::fabs(mx[0] - x), std::fabs(mn[0] - x));
    float b = std::fmax(std::fabs(mx[1] - y), std::fabs(mn[1] - y));
    start.m[3][0] = x;
    start.m[3][1] = y;
    start.m[3][2] = b <= a ? a * 4 / (2 * w) + mx[2] : b * 4 / (2 * h) + mx[2];
  }
  world->home = start;
  if (!world->navigation) {
    ZvWorld* current = zvGetCurrentWorld();
    zvSetCurrentWorld(world);
    zvNavInit();
    zvSetCurrentWorld(current);
  }
  return zvPlacePerson(person, &start);
}

ZvNavigation* zvGetNavigation(ZvWorld* world) { return world ? world->navigation : nullptr; }

ZvNavigation* zvnav::navigationRecord(ZvWorld* world) {
  if (!world->navigation) {
    world->navigation = static_cast<ZvNavigation*>(zvMalloc(sizeof(ZvNavigation)));
    if (!world->navigation) return nullptr;
    world->navigation->gravity = 1;
    world->navigation->collision = 1;
  }
  return world->navigation;
}

int zvNavInit(void) {
  ZvWorld* world = zvGetCurrentWorld();
  if (!world) {
    zvWarning("zvNavInit: can't get current world");
    return ZV_FAIL;
  }
  ZvNavigation* nav = zvnav::navigationRecord(world);
  if (!nav) return ZV_NOMEM;
  nav->dragMode = 0;
  nav->animationSteps = 0;
  nav->forwardSpeed = nav->turnSpeed = nav->turnAngle = 0;
  float min[3], max[3];
  if (world->person && zvGetObjBoundingCube(world->person, min, max) == 0)
    nav->step = std::fabs(max[1] - min[1]) / 5;
  else
    nav->step = 0.1f;
  return ZV_OK;
}

void zvNavInstallHooks(void) {
  ZvSceneHooks& hooks = zvSceneHooks();
  hooks.addCameraToPerson = zvAddCameraToPerson;
  hooks.registerPersonCamera = zvRegisterPersonCamera;
  hooks.deleteNavigation = freeNavigation;
}

int zvNavGoHome(ZvWorld* world) {
  if (!world || !world->person) return ZV_FAIL;
  if (ZvNavigation* nav = world->navigation) {
    nav->animationMode = 0;
    nav->animationSteps = 0;
    nav->dragMode = 0;
    nav->forwardSpeed = nav->turnSpeed = nav->turnAngle = 0;
  }
  return zvPlacePerson(world->person, &world->home);
}

int zvNavHeadLight(ZvWorld* world) {
  ZvLeaf* light = world ? firstLightLeaf(world->person) : nullptr;
  if (!light) return -1;
  return static_cast<ZvLight*>(light)->on ? 1 : 0;
}

int zvNavSetHeadLight(ZvWorld* world, int on) {
  ZvLeaf* light = world ? firstLightLeaf(world->person) : nullptr;
  if (!light) return ZV_FAIL;
  setLightOn(light->owner, on ? 1 : 0);
  static_cast<ZvLight*>(light)->on = on ? 1 : 0;
  return ZV_OK;
}
