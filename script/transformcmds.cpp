// transformcmds.cpp — the script commands that move and turn objects and
// read their transforms back. Every move goes through the scene model's
// transform routines, which queue the object for the renderer when it
// really moved.
#include <cmath>
#include <cstdio>

#include "script/objcmdspriv.h"
#include "script/scriptpriv.h"

namespace {

// Reads count floats from the arguments starting at first. A placement of
// "nan" or "inf" would spread through every box and view it reaches.
bool reals(ZvScriptCall& call, int first, int count, float* out) {
  for (int i = 0; i < count; ++i) {
    if (call.real(first + i, &out[i]) != 0) return false;
    if (!std::isfinite(out[i])) {
      call.fail("%s:bad number[%s]", call.name, call.argv[first + i]);
      return false;
    }
  }
  return true;
}

// The coordinate system and the transfer mode, the last two arguments.
bool systemAndMode(ZvScriptCall& call, int first, int* system, int* mode) {
  long s = 0, m = 0;
  if (call.integer(first, &s) != 0 || call.integer(first + 1, &m) != 0) return false;
  *system = int(s);
  *mode = int(m);
  return true;
}

int moved(ZvScriptCall& call, int result) {
  if (result != 0) return call.fail("%s:[%s] failed.", call.name, call.argv[1]);
  return call.ok();
}

// Rows of the turn by angles (radians, as VRML rotations) about x, then y,
// then z, in the model's row-per-axis layout.
void anglesToRotation(const float angle[3], ZvTransform* out) {
  ZvTransform axis[3];
  for (int a = 0; a < 3; ++a) {
    zvTransformIdentity(&axis[a]);
    float c = std::cos(angle[a]), s = std::sin(angle[a]);
    int u = (a + 1) % 3, v = (a + 2) % 3;  // the two axes the turn moves
    axis[a].m[u][u] = c;
    axis[a].m[u][v] = s;
    axis[a].m[v][u] = -s;
    axis[a].m[v][v] = c;
  }
  ZvTransform yx;
  zvTransformCompose(&yx, &axis[1], &axis[0]);
  zvTransformCompose(out, &axis[2], &yx);
}

// The translation alone, or with the rotation rows: 4 or 13 words.
bool countOk(ZvScriptCall& call) {
  if (call.argc == 5 || call.argc == 14) return true;
  const ZvScriptCommand* c = zvScriptFindCommand(call.name);
  call.fail("%s:wrong args:%s %s\n", call.name, call.name, c ? c->usage : "");
  return false;
}

int writeTransform(ZvScriptCall& call, const ZvTransform* t) {
  if (!t) return call.fail("%s:[%s] failed.", call.name, call.argv[1]);
  for (int i = 0; i < 3; ++i)
    if (call.setVarFloat(2 + i, t->m[3][i]) != TCL_OK) return TCL_ERROR;
  if (call.argc == 14)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        if (call.setVarFloat(5 + r * 3 + c, t->m[r][c]) != TCL_OK) return TCL_ERROR;
  return call.ok();
}

}  // namespace

int zvScriptCmdRotate(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  float rotation[9];
  int system, mode;
  if (!reals(call, 2, 9, rotation) || !systemAndMode(call, 11, &system, &mode)) return TCL_ERROR;
  return moved(call, zvObjectRotate(object, rotation, system, mode));
}

int zvScriptCmdRotateAngle(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  float angle[3];
  int system, mode;
  if (!reals(call, 2, 3, angle) || !systemAndMode(call, 5, &system, &mode)) return TCL_ERROR;
  ZvTransform t;
  anglesToRotation(angle, &t);
  return moved(call, zvObjectRotate(object, &t.m[0][0], system, mode));
}

int zvScriptCmdTranslate(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  float move[3];
  int system, mode;
  if (!reals(call, 2, 3, move) || !systemAndMode(call, 5, &system, &mode)) return TCL_ERROR;
  return moved(call, zvObjectTranslate(object, move, system, mode));
}

int zvScriptCmdRotateTranslate(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  float values[12];
  int system, mode;
  if (!reals(call, 2, 12, values) || !systemAndMode(call, 14, &system, &mode)) return TCL_ERROR;
  ZvTransform t;
  for (int i = 0; i < 12; ++i) t.m[i / 3][i % 3] = values[i];
  return moved(call, zvObjectRotateTrans(object, &t, system, mode));
}

int zvScriptCmdRotateAngleTranslate(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  float values[6];
  int system, mode;
  if (!reals(call, 2, 6, values) || !systemAndMode(call, 8, &system, &mode)) return TCL_ERROR;
  ZvTransform t;
  anglesToRotation(values, &t);
  for (int i = 0; i < 3; ++i) t.m[3][i] = values[3 + i];
  return moved(call, zvObjectRotateTrans(object, &t, system, mode));
}

int zvScriptCmdGetObjWRT(ZvScriptCall& call) {
  if (!countOk(call)) return TCL_ERROR;
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  return writeTransform(call, zvGetObjectWRT(object));
}

int zvScriptCmdGetObjLRT(ZvScriptCall& call) {
  if (!countOk(call)) return TCL_ERROR;
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  return writeTransform(call, zvGetObjectLRT(object));
}
