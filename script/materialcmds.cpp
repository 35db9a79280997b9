// materialcmds.cpp — the commands that read and change the materials of
// shapes, on one leaf, an object's leaves or a whole subtree, and the colour
// arrays scripts keep for themselves.
//
// Every change goes through the scene's material setters, which hand the
// leaf to the renderer, so a script's colour shows in the next frame.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "script/scriptpriv.h"

namespace {

// ---------------------------------------------------------------------------
// Colour arrays. Each belongs to the interpreter that made it and goes with
// it, so a world whose scripts never delete theirs leaks nothing. A script
// could ask for any size, so sizes and each interpreter's total are bounded.

constexpr long kMaxColors = 1L << 20;  // per array and per interpreter
const char kColorsKey[] = "quillmoor-colors";

std::unordered_map<ZvMFColor*, Tcl_Interp*>& colorArrays() {
  static auto* arrays = new std::unordered_map<ZvMFColor*, Tcl_Interp*>;
  return *arrays;
}
std::unordered_map<Tcl_Interp*, long>& colorTotals() {
  static auto* totals = new std::unordered_map<Tcl_Interp*, long>;
  return *totals;
}

void dropColors(ZvMFColor* colors) {
  auto& arrays = colorArrays();
  auto it = arrays.find(colors);
  if (it != arrays.end()) {
    colorTotals()[it->second] -= colors->count;
    arrays.erase(it);
  }
  zvScriptForgetHandle(colors);
  zvDeleteZvMFColor(colors);
}

void interpGone(ClientData, Tcl_Interp* interp) {
  std::vector<ZvMFColor*> mine;
  for (auto& [colors, owner] : colorArrays())
    if (owner == interp) mine.push_back(colors);
  for (ZvMFColor* colors : mine) dropColors(colors);
  colorTotals().erase(interp);
}

// A position in an array: 0 and the index, or -1 with the result set.
int position(ZvScriptCall& call, const ZvMFColor* colors, int i, int* out) {
  long pos = 0;
  if (call.integer(i, &pos) != 0) return -1;
  if (pos < 0) {
    call.fail("%s:bad number[%s]", call.name, call.argv[i]);
    return -1;
  }
  if (pos >= colors->count) {
    call.fail("%s:%s too big.", call.name, call.argv[i]);
    return -1;
  }
  *out = int(pos);
  return 0;
}

int newColors(ZvScriptCall& call) {
  long size = 0;
  if (call.integer(1, &size) != 0) return TCL_ERROR;
  long& total = colorTotals()[call.interp];
  if (size < 0 || size > kMaxColors || total + size > kMaxColors)
    return call.fail("%s:bad size[%s]", call.name, call.argv[1]);
  ZvMFColor* colors = zvNewZvMFColor(int(size));
  if (!colors) return call.fail("%s:no memory for [%s]", call.name, call.argv[1]);
  if (!Tcl_GetAssocData(call.interp, kColorsKey, nullptr))
    Tcl_SetAssocData(call.interp, kColorsKey, interpGone, call.interp);
  colorArrays()[colors] = call.interp;
  total += size;
  return call.ok(zvScriptHandleOf(colors, ZV_HANDLE_COLORS));
}

int deleteColors(ZvScriptCall& call) {
  ZvMFColor* colors = call.colors(1);
  if (!colors) return TCL_ERROR;
  dropColors(colors);
  return call.ok();
}

int getColor(ZvScriptCall& call) {
  ZvMFColor* colors = call.colors(1);
  int pos = 0;
  if (!colors || position(call, colors, 2, &pos) != 0) return TCL_ERROR;
  const ZvSFColor& c = colors->values[pos];
  const float parts[3] = {c.r, c.g, c.b};
  for (int k = 0; k < 3 && 3 + k < call.argc; ++k)
    if (call.setVarFloat(3 + k, parts[k]) != TCL_OK) return TCL_ERROR;
  return call.ok();
}

// ---------------------------------------------------------------------------
// Value lists. Values may come as separate words or as lists ("{r g b}"),
// each number read as %f; a number that is not finite would poison the
// renderer's lighting, so it is refused like any other bad number.

int readValues(ZvScriptCall& call, int first, int end, std::vector<float>* out) {
  for (int i = first; i < end; ++i) {
    int n = 0;
    const char** words = nullptr;
    if (Tcl_SplitList(call.interp, call.argv[i], &n, &words) != TCL_OK) return -1;
    for (int k = 0; k < n; ++k) {
      float v = 0;
      if (std::sscanf(words[k], "%f", &v) != 1 || !std::isfinite(v)) {
        call.fail("%s:bad number[%s]", call.name, words[k]);
        Tcl_Free(reinterpret_cast<char*>(words));
        return -1;
      }
      out->push_back(v);
    }
    Tcl_Free(reinterpret_cast<char*>(words));
  }
  return 0;
}

int setColor(ZvScriptCall& call) {
  ZvMFColor* colors = call.colors(1);
  int pos = 0;
  if (!colors || position(call, colors, 2, &pos) != 0) return TCL_ERROR;
  std::vector<float> v;
  if (readValues(call, 3, call.argc, &v) != 0) return TCL_ERROR;
  if (v.size() != 3) return call.fail("%s:bad num of color[%zu]", call.name, v.size());
  zvSetZvMFColor(colors, pos, v[0], v[1], v[2]);
  return call.ok();
}

bool isColorAttribute(int attribute) { return attribute >= ZV_MAT_AMBIENT && attribute <= ZV_MAT_EMISSIVE; }

// The values after the fixed arguments as the attribute's record: colours
// in threes, floats at least one. 0, or -1 with the result set.
struct Values {
  std::vector<float> numbers;
  ZvMFColor colors{};
  ZvMFFloat floats{};
  const void* record = nullptr;  // colors or floats, as the attribute wants
};
int materialValues(ZvScriptCall& call, int attribute, int first, int end, Values* out) {
  if (readValues(call, first, end, &out->numbers) != 0) return -1;
  size_t n = out->numbers.size();
  if (isColorAttribute(attribute)) {
    if (n % 3 != 0) {
      call.fail("%s:bad num of color[%zu]", call.name, n);
      return -1;
    }
    static ZvSFColor none;
    out->colors.count = int32_t(n / 3);
    out->colors.values = n ? reinterpret_cast<ZvSFColor*>(out->numbers.data()) : &none;
    out->record = &out->colors;
  } else {
    if (n < 1) {
      call.fail("%s:bad num of float[%zu]", call.name, n);
      return -1;
    }
    out->floats.count = int32_t(n);
    out->floats.values = out->numbers.data();
    out->record = &out->floats;
  }
  return 0;
}
static_assert(sizeof(ZvSFColor) == 3 * sizeof(float), "colour values are read as plain floats");

// Writes what a record holds into the variables argv[first..]: each colour
// component, or each float, as far as both the variables and the record go.
// Answers the record's number of elements.
int writeValues(ZvScriptCall& call, int attribute, const void* record, int first) {
  int vars = call.argc - first;
  if (isColorAttribute(attribute)) {
    const auto* colors = static_cast<const ZvMFColor*>(record);
    int n = std::min(vars, colors->count * 3);
    for (int k = 0; k < n; ++k) {
      const ZvSFColor& c = colors->values[k / 3];
      float part = k % 3 == 0 ? c.r : k % 3 == 1 ? c.g : c.b;
      if (call.setVarFloat(first + k, part) != TCL_OK) return TCL_ERROR;
    }
    return call.ok(long(colors->count));
  }
  const auto* floats = static_cast<const ZvMFFloat*>(record);
  int n = std::min(vars, int(floats->count));
  for (int k = 0; k < n; ++k)
    if (call.setVarFloat(first + k, floats->values[k]) != TCL_OK) return TCL_ERROR;
  return call.ok(long(floats->count));
}

// ---------------------------------------------------------------------------
// The generic commands: a handle, an attribute number and values (or
// variables). Scripts follow the usage text as well, "ZvObj {r g b} 2":
// three words whose second is not a number and whose third is read that way.

bool plainInteger(const char* text, long* out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end) return false;
  *out = v;
  return true;
}

// 0 with the attribute and the range of value words, or -1.
int genericArgs(ZvScriptCall& call, int* attribute, int* first, int* end) {
  long a = 0;
  int at = 2;
  *first = 3, *end = call.argc;
  if (call.argc == 4 && !plainInteger(call.argv[2], &a) && plainInteger(call.argv[3], &a)) {
    at = 3;
    *first = 2, *end = 3;
  }
  if (!plainInteger(call.argv[at], &a) || a < ZV_MAT_AMBIENT || a > ZV_MAT_TRANSPARENCY) {
    call.fail("%s:bad attribute[%s]", call.name, call.argv[at]);
    return -1;
  }
  *attribute = int(a);
  return 0;
}

// The object forms of the scene's accessor family, by attribute number.
using SetObjColor = int (*)(ZvObj*, const ZvMFColor*);
using SetObjFloat = int (*)(ZvObj*, const ZvMFFloat*);
const SetObjColor kSetObjColor[] = {zvSetObjAmbient, zvSetObjDiffuse, zvSetObjSpecular, zvSetObjEmissive};
const SetObjColor kSetObjAllColor[] = {zvSetObjAllAmbient, zvSetObjAllDiffuse, zvSetObjAllSpecular,
                                       zvSetObjAllEmissive};
const SetObjFloat kSetObjFloat[] = {zvSetObjShininess, zvSetObjTransparency};
const SetObjFloat kSetObjAllFloat[] = {zvSetObjAllShininess, zvSetObjAllTransparency};

void* getObjAll(ZvObj* object, int attribute) {
  switch (attribute) {
    case ZV_MAT_AMBIENT: return zvGetObjAllAmbient(object);
    case ZV_MAT_DIFFUSE: return zvGetObjAllDiffuse(object);
    case ZV_MAT_SPECULAR: return zvGetObjAllSpecular(object);
    case ZV_MAT_EMISSIVE: return zvGetObjAllEmissive(object);
    case ZV_MAT_SHININESS: return zvGetObjAllShininess(object);
    default: return zvGetObjAllTransparency(object);
  }
}

int setObj(ZvScriptCall& call, ZvObj* object, int attribute, const Values& v, bool subtree) {
  int r;
  if (isColorAttribute(attribute))
    r = (subtree ? kSetObjAllColor : kSetObjColor)[attribute - ZV_MAT_AMBIENT](object, &v.colors);
  else
    r = (subtree ? kSetObjAllFloat : kSetObjFloat)[attribute - ZV_MAT_SHININESS](object, &v.floats);
  return r == 0 ? call.ok() : call.fail("%s:[%s] failed.", call.name, call.argv[1]);
}

template <bool Subtree>
int setObjMaterial(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  int attribute = 0, first = 0, end = 0;
  Values v;
  if (!object || genericArgs(call, &attribute, &first, &end) != 0 ||
      materialValues(call, attribute, first, end, &v) != 0)
    return TCL_ERROR;
  return setObj(call, object, attribute, v, Subtree);
}

int setLeaf(ZvScriptCall& call, ZvLeaf* leaf, int attribute, const Values& v) {
  if (zvSetLeafMaterial(leaf, v.record, attribute) != 0)
    return call.fail("%s:[%s] failed.", call.name, call.argv[1]);
  return call.ok();
}

int setPartMaterial(ZvScriptCall& call) {
  ZvLeaf* leaf = call.leaf(1);
  int attribute = 0, first = 0, end = 0;
  Values v;
  if (!leaf || genericArgs(call, &attribute, &first, &end) != 0 ||
      materialValues(call, attribute, first, end, &v) != 0)
    return TCL_ERROR;
  return setLeaf(call, leaf, attribute, v);
}

int getObjMaterial(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  int attribute = 0, first = 0, end = 0;
  if (!object || genericArgs(call, &attribute, &first, &end) != 0) return TCL_ERROR;
  void* record = getObjAll(object, attribute);
  if (!record) return call.fail("%s:no material[%s]", call.name, call.argv[1]);
  return writeValues(call, attribute, record, first);
}

int getLeaf(ZvScriptCall& call, ZvLeaf* leaf, int attribute, int first) {
  void* record = zvGetLeafMaterial(leaf, attribute);
  if (!record) return call.fail("%s:no material[%s]", call.name, call.argv[1]);
  return writeValues(call, attribute, record, first);
}

int getPartMaterial(ZvScriptCall& call) {
  ZvLeaf* leaf = call.leaf(1);
  int attribute = 0, first = 0, end = 0;
  if (!leaf || genericArgs(call, &attribute, &first, &end) != 0) return TCL_ERROR;
  return getLeaf(call, leaf, attribute, first);
}

// ---------------------------------------------------------------------------
// One attribute of one leaf: the handle, then values or variables.

template <int Attribute>
int setPart(ZvScriptCall& call) {
  ZvLeaf* leaf = call.leaf(1);
  Values v;
  if (!leaf || materialValues(call, Attribute, 2, call.argc, &v) != 0) return TCL_ERROR;
  return setLeaf(call, leaf, Attribute, v);
}

template <int Attribute>
int getPart(ZvScriptCall& call) {
  ZvLeaf* leaf = call.leaf(1);
  if (!leaf) return TCL_ERROR;
  return getLeaf(call, leaf, Attribute, 2);
}

#define ZV_OBJ_GENERIC "ZvObj {r g b ...rn gn bn}|{f ...fn} attribute"
#define ZV_PART_GENERIC "Parts {r g b ...rn gn bn}|{f ...fn} attribute"

}  // namespace

extern const ZvScriptCommand zvScriptMaterialCommands[] = {
    {"zvNewZvMFColor", "size", 1, 1, newColors},
    {"zvDeleteZvMFColor", "ZvMFColor", 1, 1, deleteColors},
    {"zvGetZvMFColor", "ZvMFColor pos r g b", 2, 5, getColor},
    {"zvSetZvMFColor", "ZvMFColor pos r g b", 5, 5, setColor},
    {"zvSetObjMaterial", ZV_OBJ_GENERIC, 2, -1, setObjMaterial<false>},
    {"zvSetObjAllMaterial", ZV_OBJ_GENERIC, 2, -1, setObjMaterial<true>},
    {"zvSetPartMaterial", ZV_PART_GENERIC, 2, -1, setPartMaterial},
    {"zvGetObjMaterial", ZV_OBJ_GENERIC, 2, -1, getObjMaterial},
    {"zvGetPartMaterial", ZV_PART_GENERIC, 2, -1, getPartMaterial},
    {"zvSetPartAmbient", "Parts r g b", 1, -1, setPart<ZV_MAT_AMBIENT>},
    {"zvSetPartDiffuse", "Parts r g b", 1, -1, setPart<ZV_MAT_DIFFUSE>},
    {"zvSetPartSpecular", "Parts r g b", 1, -1, setPart<ZV_MAT_SPECULAR>},
    {"zvSetPartEmissive", "Parts r g b", 1, -1, setPart<ZV_MAT_EMISSIVE>},
    {"zvSetPartShininess", "Parts f ... fn", 1, -1, setPart<ZV_MAT_SHININESS>},
    {"zvSetPartTransparency", "Parts f ... fn", 1, -1, setPart<ZV_MAT_TRANSPARENCY>},
    {"zvGetPartAmbient", "Parts r g b", 1, -1, getPart<ZV_MAT_AMBIENT>},
    {"zvGetPartDiffuse", "Parts r g b", 1, -1, getPart<ZV_MAT_DIFFUSE>},
    {"zvGetPartSpecular", "Parts r g b", 1, -1, getPart<ZV_MAT_SPECULAR>},
    {"zvGetPartEmissive", "Parts r g b", 1, -1, getPart<ZV_MAT_EMISSIVE>},
    {"zvGetPartShininess", "Parts f ", 1, -1, getPart<ZV_MAT_SHININESS>},
    {"zvGetPartTransparency", "Parts f ", 1, -1, getPart<ZV_MAT_TRANSPARENCY>},
    {nullptr, nullptr, 0, 0, nullptr},
};
