// worldcmds.cpp — the commands about the world around the objects: how far
// apart two objects are and whether they touch, the person and its
// steering, the cameras, where a world point shows in the view, and the
// clock and dice scripts use.
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>

#include "nav/nav.h"
#include "render/render.h"
#include "script/scriptpriv.h"

namespace {

int calcDistance(ZvScriptCall& call) {
  ZvObj* a = call.obj(1);
  ZvObj* b = a ? call.obj(2) : nullptr;
  if (!b) return TCL_ERROR;
  const float* p = zvGetObjectWRT(a)->m[3];
  const float* q = zvGetObjectWRT(b)->m[3];
  double dx = double(p[0]) - q[0], dy = double(p[1]) - q[1], dz = double(p[2]) - q[2];
  char text[64];
  std::snprintf(text, sizeof text, "%f", std::sqrt(dx * dx + dy * dy + dz * dz));
  return call.ok(text);
}

// A ZvBoolean as the collision walk takes it: only 1 asks to be told.
int notifyFlag(ZvScriptCall& call, int i, int* out) {
  long v = 0;
  if (call.integer(i, &v) != 0) return -1;
  *out = v == 1 ? 1 : 0;
  return 0;
}

// Both queries answer the first handler value and write into ret whether
// anything collided at all; only top objects may be asked about.
int intersectWorld(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  int me = 0, others = 0;
  if (!object || notifyFlag(call, 2, &me) != 0 || notifyFlag(call, 3, &others) != 0) return TCL_ERROR;
  if (object->parent) return call.fail("%s:[%s] is not a top object.", call.name, call.argv[1]);
  int collided = 0;
  int value = zvCollisionObjAndWorldNotify(object, me, others, &collided);
  if (call.setVar(4, long(collided)) != TCL_OK) return TCL_ERROR;
  return call.ok(long(value));
}

int intersectObjects(ZvScriptCall& call) {
  ZvObj* a = call.obj(1);
  ZvObj* b = a ? call.obj(2) : nullptr;
  int notifyA = 0, notifyB = 0;
  if (!b || notifyFlag(call, 3, &notifyA) != 0 || notifyFlag(call, 4, &notifyB) != 0) return TCL_ERROR;
  for (int i = 1; i <= 2; ++i)
    if ((i == 1 ? a : b)->parent) return call.fail("%s:[%s] is not a top object.", call.name, call.argv[i]);
  int collided = 0;
  int value = zvCollisionObjAndObjNotify(a, b, notifyA, notifyB, &collided);
  if (call.setVar(5, long(collided)) != TCL_OK) return TCL_ERROR;
  return call.ok(long(value));
}

int getPerson(ZvScriptCall& call) { return call.ok(zvScriptHandleOf(call.world->person, ZV_HANDLE_OBJ)); }

int setNavigation(ZvScriptCall& call) {
  long on = 0;
  if (call.integer(1, &on) != 0) return TCL_ERROR;
  if (zvNavSetUserNavigation(call.world, on == 1 ? 1 : 0) < 0) return call.fail("%s:failed.", call.name);
  return call.ok();
}

int setActiveCamera(ZvScriptCall& call) {
  long id = 0;
  if (call.integer(1, &id) != 0) return TCL_ERROR;
  // Without a table the scene would complain in the Messages window about
  // what is only a script asking for a camera the world does not have.
  if (!call.world->cameras || id < 0 || id > 3 || zvSetActiveCameraID(call.world, int(id)) != 0)
    return call.fail("%s:no camera[%s]", call.name, call.argv[1]);
  return call.ok();
}

// The identifier the renderer draws through: 1, its own camera, while the
// world has no table. With an object, of that object's world.
int getActiveCamera(ZvScriptCall& call) {
  ZvWorld* world = call.world;
  if (call.argc > 1) {
    ZvObj* object = call.obj(1);
    if (!object) return TCL_ERROR;
    if (object->world) world = object->world;
  }
  return call.ok(long(world->cameras ? zvGetActiveCameraID(world) : 1));
}

// The window point of a world point through the active camera: the result
// says whether it lies in the view; behind the eye nothing is written.
int projectPoint(ZvScriptCall& call) {
  float p[3];
  for (int i = 0; i < 3; ++i)
    if (call.real(1 + i, &p[i]) != 0) return TCL_ERROR;
  // The renderer writes x and y only for a point in front of the eye.
  const int unset = -0x7fffffff;
  int x = unset, y = unset, visible = 0;
  if (zvRenderProjectPoint(call.world, p, &x, &y, &visible) != 0) return call.fail("%s:cannot project.", call.name);
  bool front = x != unset;
  if (front && (call.setVar(4, long(x)) != TCL_OK || call.setVar(5, long(y)) != TCL_OK)) return TCL_ERROR;
  return call.ok(long(visible));
}

int getLocalTime(ZvScriptCall& call) {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  if (!localtime_r(&now, &t)) return call.fail("%s:no local time.", call.name);
  const long fields[9] = {t.tm_sec, t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon,
                          t.tm_year, t.tm_wday, t.tm_yday, t.tm_isdst};
  for (int i = 1; i < call.argc; ++i)
    if (call.setVar(i, fields[i - 1]) != TCL_OK) return TCL_ERROR;
  return call.ok();
}

int getCTime(ZvScriptCall& call) {
  std::time_t now = std::time(nullptr);
  char text[64];
  if (!ctime_r(&now, text)) return call.fail("%s:no local time.", call.name);
  text[std::strcspn(text, "\n")] = '\0';
  return call.ok(text);
}

// Scripts written for the browser scale by 32767, the largest value of the
// C library they were written against; they get the same range here.
int randomNumber(ZvScriptCall& call) {
  static std::minstd_rand engine{std::random_device{}()};
  return call.ok(long(engine() % 32768));
}

}  // namespace

extern const ZvScriptCommand zvScriptWorldCommands[] = {
    {"zvCalcDistance", "ZvObj ZvObj", 2, 2, calcDistance},
    {"zvIntersectZvTopObjAndZvWorld", "ZvObj  ZvBoolean ZvBoolean ret", 3, 4, intersectWorld},
    {"zvIntersectZvTopObjAndZvTopObj", "ZvObj ZvObj ZvBoolean ZvBoolean ret", 4, 5, intersectObjects},
    {"zvGetPerson", "", 0, 0, getPerson},
    {"zvSetNavigation", "$zvTrue|$zvFalse", 1, 1, setNavigation},
    {"zvSetActiveCamera", "ZvCameraID", 1, 1, setActiveCamera},
    {"zvGetActiveCamera", "ZvObj", 0, 1, getActiveCamera},
    {"zv3DPosTo2DPos", "3dx 3dy 3dz 2dx 2dy", 3, 5, projectPoint},
    {"zvGetLocalTime", "sec min hour mday mon year wday yday isdst", 0, 9, getLocalTime},
    {"zvGetCTime", "", 0, 0, getCTime},
    {"zvRand", "", 0, 0, randomNumber},
    {nullptr, nullptr, 0, 0, nullptr},
};
