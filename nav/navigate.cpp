// navigate.cpp — moving the person each frame: from the arrow keys or a
// mouse drag, kept out of walls and on the floor by casting rays, with its
// head tilt, the hop, footstep sounds and position reports to a shared
// world; and the trackball that turns objects under the pointer.
#include <chrono>
#include <cstring>
#include <string>

#include "nav/navpriv.h"
#include "render/render.h"

using namespace zvnav;

namespace {

constexpr float kDegToRad = 0.017453292f;
constexpr float kPitchLimit = 80;
constexpr float kWallGap = 0.1f;  // how far before a wall the person stops

ZvNavHooks hooks{};
int keyRepeat = 0;  // frames the arrow keys have been held

// Shared-world reports: the transform last sent and when the next are due.
struct Reports {
  ZvTransform sent;
  bool haveSent;
  long shortSec, shortMsec, longSec, longMsec;
} reports{};

float clampPitch(float p) { return p < -kPitchLimit ? -kPitchLimit : p > kPitchLimit ? kPitchLimit : p; }

ZvNavigation* currentNavigation(ZvWorld** world) {
  *world = zvGetCurrentWorld();
  return zvGetNavigation(*world);
}

// Eye height: how far the camera stands above the lowest point of the figure.
float eyeHeight(ZvObj* person, ZvObj* camera) {
  if (!person->world) return 1.5f;
  float min[3], max[3];
  if (zvGetObjBoundingCube(person, min, max) != 0) min[1] = 0;
  ZvTransform inv;
  if (!invertAffine(zvGetObjectWRT(person), &inv)) return 1.5f;
  float local[3];
  zvTransformPoint(&inv, zvGetObjectWRT(camera)->m[3], local);
  return local[1] - min[1];
}

void alert(void) {
  if (hooks.playWave) {
    const char* dir = zvSceneHooks().programDirectory ? zvSceneHooks().programDirectory() : nullptr;
    std::string file = dir ? dir : "";
    if (!file.empty() && file.back() != '/') file += '/';
    file += "alert.wav";
    hooks.playWave(file.c_str());
  }
  if (hooks.postMainMessage) hooks.postMainMessage(1029, 0, 255);
}

// Shortens a world move that would run into something: it stops 0.1 before
// the hit along the flattened direction of motion.
void collide(ZvObj* person, ZvObj* camera, float move[3]) {
  float dir[3] = {move[0], 0, move[2]};
  float len2 = dir[0] * dir[0] + dir[2] * dir[2];
  if (!(len2 > 1e-12f) || !normalize(dir)) return;
  // From the middle of the figure: low steps are left to gravity.
  float start[3];
  std::memcpy(start, zvGetObjectWRT(person)->m[3], sizeof start);
  start[1] += eyeHeight(person, camera) / 2;
  const float end[3] = {start[0] + dir[0], start[1], start[2] + dir[2]};
  float t = -1;
  if (!zvFindZvObjByPerson(person->world, start, end, &t, nullptr, nullptr, nullptr, nullptr)) return;
  if (t * t >= len2) return;
  move[0] = dir[0] * (t - kWallGap);
  move[2] = dir[2] * (t - kWallGap);
  alert();
}

// Stands the person's eye its eye height above whatever lies below it.
void fall(ZvObj* person, ZvObj* camera) {
  float eye[3];
  std::memcpy(eye, zvGetObjectWRT(camera)->m[3], sizeof eye);
  const float below[3] = {eye[0], eye[1] - 1, eye[2]};
  float t = -1, hit[3];
  if (!zvFindZvObjByPerson(person->world, eye, below, &t, nullptr, nullptr, nullptr, hit)) return;
  float lift[3] = {0, hit[1] + eyeHeight(person, camera) - eye[1], 0};
  if (lift[1] != 0) zvObjectTranslate(person, lift, ZV_COORD_WORLD, ZV_TRANSFORM_COMPOSE);
}

// A move in the person's own coordinates, carried into the world.
void walk(ZvNavigation* nav, ZvObj* person, ZvObj* camera, const float own[3], bool keepLevel) {
  float move[3];
  zvTransformVector(zvGetObjectWRT(person), own, move);
  if (nav->collision && (nav->animationMode == 0 || nav->animationMode == 3)) collide(person, camera, move);
  zvObjectTranslate(person, move, ZV_COORD_WORLD, ZV_TRANSFORM_COMPOSE);
  if (nav->gravity && nav->animationMode == 0 && keepLevel) fall(person, camera);
}

void turn(ZvObj* person, float degrees) {
  float a = degrees * kDegToRad, c = std::cos(a), s = std::sin(a);
  const float r[9] = {c, 0, -s, 0, 1, 0, s, 0, c};
  zvObjectRotate(person, r, ZV_COORD_OWN, ZV_TRANSFORM_COMPOSE);
}

// The camera looks where the person faces (a half turn about y), tilted
// about its own x by minus the pitch.
void applyPitch(ZvObj* camera, float pitch) {
  float a = -pitch * kDegToRad, c = std::cos(a), s = std::sin(a);
  // Rows: the tilt first (in the camera's own frame), then the half turn.
  const float r[9] = {-1, 0, 0, 0, c, -s, 0, -s, -c};
  const ZvTransform* lrt = zvGetObjectLRT(camera);
  if (std::memcmp(lrt->m, r, sizeof r) == 0) return;
  zvObjectRotate(camera, r, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
}

void readKeys(ZvNavKeys* keys) {
  *keys = ZvNavKeys{};
  if (hooks.readKeys) hooks.readKeys(keys);
}

// The keyboard's share of a frame: answers the mode the frame moves in.
int keyboard(ZvNavigation* nav) {
  ZvNavKeys k;
  readKeys(&k);
  if (!(k.up || k.down || k.left || k.right)) {
    keyRepeat = 0;
    return nav->dragMode;
  }
  ++keyRepeat;
  int mode = k.shift && k.control ? 4 : k.shift ? 3 : (k.up || k.down) ? 5 : 1;
  nav->forwardSpeed = nav->turnSpeed = nav->turnAngle = 0;
  float d = nav->step * (nav->animationMode ? 2 : 1) * float(zvNavKeyMultiplier(keyRepeat));
  float pitchChange = 0;
  if (k.left) nav->turnSpeed = d, nav->turnAngle = 4;
  if (k.right) nav->turnSpeed = -d, nav->turnAngle = -4;
  if (k.up) nav->forwardSpeed = d, pitchChange = -2;
  if (k.down) nav->forwardSpeed = -d, pitchChange = 2;
  if (mode == 3) nav->pitch = clampPitch(nav->pitch + pitchChange);
  return mode;
}

void move(ZvNavigation* nav, ZvObj* person, ZvObj* camera, int mode) {
  float f = nav->forwardSpeed, s = nav->turnSpeed;
  switch (mode) {
    case 1:
      if (std::fabs(s) / 3 < std::fabs(f)) {
        const float v[3] = {0, 0, f};
        walk(nav, person, camera, v, true);
      }
      if (std::fabs(f) < 3 * std::fabs(s)) turn(person, nav->turnAngle);
      break;
    case 3: {
      const float v[3] = {s, 0, 0};
      if (s != 0) walk(nav, person, camera, v, true);
      break;
    }
    case 4: {
      // Flying up or down: gravity would take it straight back.
      const float v[3] = {s, f, 0};
      if (s != 0 || f != 0) walk(nav, person, camera, v, false);
      break;
    }
    case 5: {
      const float v[3] = {0, 0, f};
      if (f != 0) walk(nav, person, camera, v, true);
      break;
    }
    default: break;
  }
}

void animate(ZvNavigation* nav, ZvObj* person) {
  if (nav->animationMode == 0) return;
  if (nav->animationSteps <= 0) {
    nav->animationMode = 0;
    return;
  }
  int left = nav->animationSteps;
  if (nav->animationMode == 3) {
    float dy = left >= 7 ? nav->hopStep : left <= 4 ? -nav->hopStep : 0;
    if (dy != 0) {
      const float v[3] = {0, dy, 0};
      zvObjectTranslate(person, v, ZV_COORD_WORLD, ZV_TRANSFORM_COMPOSE);
    }
  } else {
    // An approach: from animation[0] to animation[1] in equal steps, the
    // head following the change of height, then settling for the last four.
    float d[3];
    for (int i = 0; i < 3; ++i) d[i] = (nav->animation[1][i] - nav->animation[0][i]) / float(left);
    zvObjectTranslate(person, d, ZV_COORD_WORLD, ZV_TRANSFORM_COMPOSE);
    std::memcpy(nav->animation[0], zvGetObjectWRT(person)->m[3], sizeof nav->animation[0]);
    if (nav->animationMode == 1) {
      nav->pitch = clampPitch(-d[1] * float(left) / 50 / kDegToRad);
      if (left <= 5) nav->animationMode = 2;
    } else {
      nav->pitch *= 0.7f;
    }
  }
  if (--nav->animationSteps <= 0) {
    nav->animationSteps = 0;
    nav->animationMode = 0;
  }
}

void nowTime(long* sec, long* msec) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                .count();
  *sec = long(ms / 1000);
  *msec = long(ms % 1000);
}

bool due(long sec, long msec, long nowSec, long nowMsec) {
  return nowSec > sec || (nowSec == sec && nowMsec >= msec);
}

void later(long* sec, long* msec, long nowSec, long nowMsec, long add) {
  long m = nowMsec + add;
  *sec = nowSec + m / 1000;
  *msec = m % 1000;
}

void report(ZvObj* person) {
  if (!hooks.sharedPerson || !hooks.sendPosition || !hooks.sharedPerson(person)) return;
  long s, ms;
  nowTime(&s, &ms);
  const ZvTransform* wrt = zvGetObjectWRT(person);
  if (due(reports.shortSec, reports.shortMsec, s, ms)) {
    later(&reports.shortSec, &reports.shortMsec, s, ms, 250);
    if (!reports.haveSent || std::memcmp(&reports.sent, wrt, sizeof *wrt) != 0) {
      hooks.sendPosition(person, 2, wrt->m[3], 3);
      reports.sent = *wrt;
      reports.haveSent = true;
    }
  }
  if (due(reports.longSec, reports.longMsec, s, ms)) {
    later(&reports.longSec, &reports.longMsec, s, ms, 1250);
    hooks.sendPosition(person, 0, &wrt->m[0][0], 12);
    reports.sent = *wrt;
    reports.haveSent = true;
  }
}

void sound(ZvWorld* world, const char* name, bool play) {
  if (hooks.ambientSound) hooks.ambientSound(world, name, play ? 1 : 0);
}

}  // namespace

ZvNavHooks& zvNavHooks(void) { return hooks; }
void zvNavSetKeyReader(void (*read)(ZvNavKeys* keys)) { hooks.readKeys = read; }

int zvNavKeyMultiplier(int framesHeld) {
  if (framesHeld <= 5) return 1;
  int m = framesHeld / 5;
  return m > 5 ? 5 : m;
}

int zvNavStep(void) {
  ZvWorld* world;
  ZvNavigation* nav = currentNavigation(&world);
  ZvObj* camera = zvGetPersonCamera(world);
  ZvObj* person = world ? world->person : nullptr;
  if (!nav || !camera || !person) return ZV_OK;
  int mode = nav->userOff ? 0 : keyboard(nav);
  move(nav, person, camera, mode);
  animate(nav, person);
  if (nav->animationMode == 0 && nav->forwardSpeed != 0 && nav->pitch != 0 && (mode == 1 || mode == 5)) {
    nav->pitch *= 0.8f;
    if (nav->pitch > -5 && nav->pitch < 5) nav->pitch = 0;
  }
  nav->pitch = clampPitch(nav->pitch);
  applyPitch(camera, nav->pitch);
  report(person);
  return ZV_OK;
}

int zvNavButtonPress(int x, int y, int shift, int control) {
  ZvWorld* world;
  ZvNavigation* nav = currentNavigation(&world);
  if (!nav || nav->pointerOff || nav->userOff || nav->dragMode != 0) return ZV_OK;
  nav->dragMode = shift && control ? 4 : shift ? 3 : 1;
  nav->press[0] = x, nav->press[1] = y;
  nav->forwardSpeed = nav->turnSpeed = nav->turnAngle = 0;
  return ZV_OK;
}

int zvNavPointerMotion(int x, int y) {
  ZvWorld* world;
  ZvNavigation* nav = currentNavigation(&world);
  if (!nav || nav->pointerOff || nav->dragMode == 0) return ZV_OK;
  nav->turnSpeed = float(nav->press[0] - x) / 100;
  if (nav->dragMode == 3) {
    nav->forwardSpeed = 0;
    nav->pitch = clampPitch(nav->pitch + float(y - nav->press[1]) * 3 / 100);
  } else {
    nav->forwardSpeed = float(nav->press[1] - y) / 100;
    nav->turnAngle = nav->turnSpeed * 3;
  }
  zvUpdateFootsteps();
  return ZV_OK;
}

int zvNavButtonRelease(void) {
  ZvWorld* world;
  ZvNavigation* nav = currentNavigation(&world);
  if (!nav) return ZV_OK;
  nav->dragMode = 0;
  nav->forwardSpeed = nav->turnSpeed = nav->turnAngle = 0;
  zvUpdateFootsteps();
  return ZV_OK;
}

namespace {
// A drag in progress ends; the capture belongs to the shown world only.
void endDrag(ZvWorld* world, ZvNavigation* nav) {
  bool shown = world == zvGetCurrentWorld();
  if (nav->dragMode != 0) {
    nav->dragMode = 0;
    nav->forwardSpeed = nav->turnSpeed = nav->turnAngle = 0;
    if (shown) zvUpdateFootsteps();
  }
  if (shown && hooks.releaseCapture) hooks.releaseCapture();
}
}  // namespace

int zvNavPointerHandlingOff(void) {
  ZvWorld* world;
  ZvNavigation* nav = currentNavigation(&world);
  if (!nav) return 0;
  int previous = nav->pointerOff;
  nav->pointerOff = 1;
  endDrag(world, nav);
  return previous;
}

int zvNavSetUserNavigation(ZvWorld* world, int on) {
  ZvNavigation* nav = world ? navigationRecord(world) : nullptr;
  if (!nav) return ZV_FAIL;
  int previous = nav->userOff ? 0 : 1;
  nav->userOff = on ? 0 : 1;
  if (!on) endDrag(world, nav);
  return previous;
}

int zvNavUserNavigation(ZvWorld* world) {
  ZvNavigation* nav = zvGetNavigation(world);
  return nav && nav->userOff ? 0 : 1;
}

int zvNavPointerHandlingOn(void) {
  ZvWorld* world;
  ZvNavigation* nav = currentNavigation(&world);
  if (!nav) return 0;
  int previous = nav->pointerOff;
  nav->pointerOff = 0;
  return previous;
}

int zvNavJump(ZvObj* person, float height) {
  ZvNavigation* nav = person ? zvGetNavigation(person->world) : nullptr;
  if (!nav || nav->animationMode != 0 || !std::isfinite(height)) return ZV_FAIL;
  nav->hopStep = height / 4;
  nav->animationMode = 3;
  nav->animationSteps = 10;
  return ZV_OK;
}

// The eye stops short of the point and keeps its height, so that the
// object fills the view rather than the eye going inside it or the floor.
int zvNavApproach(ZvObj* person, const float point[3]) {
  ZvNavigation* nav = person ? zvGetNavigation(person->world) : nullptr;
  if (!nav || nav->animationMode != 0 || !point) return ZV_FAIL;
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(point[i])) return ZV_FAIL;
  ZvObj* camera = zvGetPersonCamera(person->world);
  const ZvTransform* body = zvGetObjectWRT(person);
  const ZvTransform* eye = camera ? zvGetObjectWRT(camera) : body;
  float d[3] = {point[0] - eye->m[3][0], 0, point[2] - eye->m[3][2]};
  float length = std::sqrt(d[0] * d[0] + d[2] * d[2]);
  if (length < 1e-4f) return ZV_FAIL;
  float keep = std::fmin(length, std::fmax(nav->step * 5, 0.5f));
  float s = (length - keep) / length;
  std::memcpy(nav->animation[0], body->m[3], sizeof nav->animation[0]);
  nav->animation[1][0] = body->m[3][0] + d[0] * s;
  nav->animation[1][1] = body->m[3][1];
  nav->animation[1][2] = body->m[3][2] + d[2] * s;
  nav->animationMode = 1;
  nav->animationSteps = 20;
  return ZV_OK;
}

void zvUpdateFootsteps(void) {
  ZvWorld* world = zvGetCurrentWorld();
  ZvNavigation* nav = zvGetNavigation(world);
  const char* steps[3] = {"man_slow", "man_middle", "man_fast"};
  int chosen = -1;
  bool turning = false;
  if (nav && nav->dragMode == 1 && nav->animationMode == 0) {
    float v = std::fabs(nav->forwardSpeed);
    chosen = v >= 1.8f ? 2 : v >= 0.9f ? 1 : v >= 0.2f ? 0 : -1;
    turning = nav->turnSpeed > 0.9f || nav->turnSpeed < -0.9f;
  }
  for (int i = 0; i < 3; ++i)
    if (i != chosen) sound(world, steps[i], false);
  if (chosen >= 0) sound(world, steps[chosen], true);
  sound(world, "man_turn", turning);
}

// ---------------------------------------------------------------------------
// Window points

namespace {

// A window point on the active camera's view plane at z = -0.5, in the
// camera's own coordinates; also whether the camera is parallel.
bool viewPlanePoint(ZvWorld* world, int x, int y, float out[3], ZvObj** camera, bool* parallel) {
  ZvObj* cam = zvGetActiveCamera(world);
  if (!cam || !cam->leaf) return false;
  int vx = 0, vy = 0, vw = 0, vh = 0;
  float ww = 0, wh = 0;
  if (zvRenderGetActiveCameraViewport(world, &vx, &vy, &vw, &vh) != ZV_OK || vw <= 0 || vh <= 0) {
    vx = vy = 0;
    zvRenderGetViewSize(&vw, &vh);
    if (vw <= 0 || vh <= 0) return false;
  }
  if (zvRenderGetActiveCameraViewWindow(world, &ww, &wh) != ZV_OK || !(ww > 0) || !(wh > 0)) return false;
  out[0] = float(x - vx) * ww / float(vw) - ww / 2;
  out[1] = wh / 2 - float(y - vy) * wh / float(vh);
  out[2] = -0.5f;
  *camera = cam;
  *parallel = cam->leaf->type == ZV_LEAF_ORTHOGRAPHIC_CAMERA;
  return true;
}

}  // namespace

int zvNavWindowPointToRay(ZvWorld* world, int x, int y, float origin[3], float direction[3]) {
  float p[3];
  ZvObj* camera;
  bool parallel;
  if (!origin || !direction || !viewPlanePoint(world, x, y, p, &camera, &parallel)) return ZV_FAIL;
  const ZvTransform* wrt = zvGetObjectWRT(camera);
  if (parallel) {
    const float onPlane[3] = {p[0], p[1], 0}, ahead[3] = {0, 0, -1};
    zvTransformPoint(wrt, onPlane, origin);
    zvTransformVector(wrt, ahead, direction);
  } else {
    std::memcpy(origin, wrt->m[3], 3 * sizeof(float));
    zvTransformVector(wrt, p, direction);
  }
  return normalize(direction) ? ZV_OK : ZV_FAIL;
}

int zvApplyVirtualTrackball(int mode, ZvObj* object, int x1, int y1, int x2, int y2) {
  if (mode != 0 && mode != 1) {
    zvWarning("zvApplyVirtualTrackball: unknown mode");
    return ZV_FAIL;
  }
  if (!object || !object->world) return ZV_FAIL;
  ZvObj* target = object;
  if (mode == 1)
    while (target->parent) target = target->parent;
  float a[3], b[3];
  ZvObj* camera;
  bool parallel;
  if (!viewPlanePoint(object->world, x1, y1, a, &camera, &parallel) ||
      !viewPlanePoint(object->world, x2, y2, b, &camera, &parallel))
    return ZV_FAIL;
  const ZvTransform* cw = zvGetObjectWRT(camera);
  float wa[3], wb[3];
  zvTransformPoint(cw, a, wa);
  zvTransformPoint(cw, b, wb);
  // The centre of the target's cube, in the world.
  float min[3], max[3], centre[3];
  if (zvGetObjBoundingCube(target, min, max) == 0) {
    const float local[3] = {(min[0] + max[0]) / 2, (min[1] + max[1]) / 2, (min[2] + max[2]) / 2};
    zvTransformPoint(zvGetObjectWRT(target), local, centre);
  } else {
    std::memcpy(centre, zvGetObjectWRT(target)->m[3], sizeof centre);
  }
  float u[3], v[3], axis[3];
  sub(wa, centre, u);
  sub(wb, centre, v);
  if (!normalize(u) || !normalize(v)) return ZV_FAIL;
  cross(u, v, axis);
  // The ball turns by the angle between the two directions.
  float sine = length(axis), cosine = dot(u, v);
  if (!normalize(axis)) return ZV_OK;  // no drag, or straight through the centre
  float angle = std::atan2(sine, cosine), c = std::cos(angle), s = std::sin(angle), k = 1 - c;
  float x = axis[0], y = axis[1], z = axis[2];
  // Rows are the images of the axes (row-vector convention).
  ZvTransform r;
  const float rows[3][3] = {{c + x * x * k, x * y * k + z * s, x * z * k - y * s},
                            {y * x * k - z * s, c + y * y * k, y * z * k + x * s},
                            {z * x * k + y * s, z * y * k - x * s, c + z * z * k}};
  std::memcpy(r.m, rows, sizeof rows);
  // About the centre: p -> (p - centre) R + centre.
  for (int j = 0; j < 3; ++j)
    r.m[3][j] = centre[j] - (centre[0] * rows[0][j] + centre[1] * rows[1][j] + centre[2] * rows[2][j]);
  return zvObjectRotateTrans(target, &r, ZV_COORD_WORLD, ZV_TRANSFORM_COMPOSE);
}
