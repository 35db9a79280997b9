// writer.cpp — the VRML writer. It reads the scene model only: each object
// becomes its node between "# S" and "# E" comment lines, preceded by its
// behaviours, its placement and the property nodes its leaves need, and only
// field values that differ from the VRML defaults are written.
//
// Objects at one grouping level are written one after another, so their
// Translation and Rotation nodes accumulate as the reader applies them: each
// level remembers the last transform written and the next object writes the
// difference. A Group adds no level of its own, as the reader gives none.
#include "vrml/vrml.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "www/www.h"

namespace {

// ---------------------------------------------------------------------------
// Writer state

struct StackRT {  // one grouping level
  ZvTransform last;
  int32_t written;
  StackRT* below;
};

struct DumpState {
  FILE* out = nullptr;
  int indent = 0;
  StackRT* rt = nullptr;
  bool failed = false;  // something was reported during this dump
};
DumpState dump;

void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void fail(const char* format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  zvWarning("%s", text);
  dump.failed = true;
}

std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::string text(n > 0 ? size_t(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), size_t(n) + 1, format, again);
  va_end(again);
  return text;
}

// One output line: a TAB per indentation level, the text, a single LF.
void emit(int extra, const std::string& text) {
  if (!dump.out) return;
  for (int i = 0; i < dump.indent + extra; ++i) std::fputc('\t', dump.out);
  std::fputs(text.c_str(), dump.out);
  std::fputc('\n', dump.out);
}
void line(const std::string& text) { emit(0, text); }

int dumpPushRT() {
  auto* level = static_cast<StackRT*>(zvMalloc(sizeof(StackRT)));
  if (!level) {
    fail("dumpPushRT(): Couldn't allocate memory for STACKRT.");
    return ZV_NOMEM;
  }
  zvTransformIdentity(&level->last);
  level->below = dump.rt;
  dump.rt = level;
  return ZV_OK;
}

void dumpPopRT() {
  if (StackRT* level = dump.rt) {
    dump.rt = level->below;
    zvFree(level);
  }
}

int dumpIsRT(int* written) {
  if (!dump.rt) {
    fail("dumpIsRT(): stack RT data is empty.");
    return ZV_FAIL;
  }
  *written = dump.rt->written;
  return ZV_OK;
}

int dumpSetSW() {
  if (!dump.rt) {
    fail("dumpSetSW(): stack RT data is empty.");
    return ZV_FAIL;
  }
  dump.rt->written = 1;
  return ZV_OK;
}

int dumpGetRT(ZvTransform* out) {
  if (!out) {
    fail("dumpGetRT(): Invaild argument.");
    return ZV_FAIL;
  }
  if (!dump.rt) {
    fail("dumpGetRT(): stack RT data is empty.");
    return ZV_FAIL;
  }
  *out = dump.rt->last;
  return ZV_OK;
}

int dumpSetRT(const ZvTransform* t) {
  if (!t) {
    fail("dumpSetRT(): Invaild argument.");
    return ZV_FAIL;
  }
  if (!dump.rt) {
    fail("dumpSetRT(): stack RT data is empty.");
    return ZV_FAIL;
  }
  dump.rt->last = *t;
  return ZV_OK;
}

// ---------------------------------------------------------------------------
// Numbers and strings

double widen(float value) {
  double d = 0;
  zvDumpFloat2Double(value, &d);
  return d;
}

// A value that rounds to zero is written as zero: "-0.000" would make a
// default look changed and reads no differently.
std::string num(double value, int precision) {
  char text[128];
  std::snprintf(text, sizeof text, "%.*f", precision, value);
  if (text[0] == '-' && std::strspn(text + 1, "0.") == std::strlen(text + 1)) return text + 1;
  return text;
}
std::string num3(float value) { return num(widen(value), 3); }
std::string num6(float value) { return num(widen(value), 6); }
bool differs(float value, double byDefault, int precision) {
  return num(widen(value), precision) != num(byDefault, precision);
}
std::string triple(const float v[3]) { return num3(v[0]) + " " + num3(v[1]) + " " + num3(v[2]); }

// Our reader knows one escape in a string: \" for a quote.
std::string quoted(const char* text) {
  std::string out = "\"";
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p == '"') out += '\\';
    out += *p;
  }
  return out + "\"";
}

// ---------------------------------------------------------------------------
// Node bodies: the field lines between the braces, each with its own extra
// indentation below the node's.

struct Body {
  std::vector<std::pair<int, std::string>> lines;
  void add(std::string text, int extra = 0) { lines.emplace_back(extra, std::move(text)); }
};

// Multi-value fields in aligned columns: per column the widest integer part
// and the most fraction digits any row needs at the field's precision.
void addRows(Body& body, const std::string& label, const std::vector<float>& values, int width, int precision) {
  int rows = width > 0 ? int(values.size()) / width : 0;
  if (rows == 0) return;
  std::vector<double> exact(values.size());
  std::vector<int> integer(size_t(width), 1), fraction(size_t(width), 0);
  for (size_t i = 0; i < values.size(); ++i) {
    std::string text = num(widen(values[i]), precision);
    exact[i] = std::strtod(text.c_str(), nullptr);
    size_t dot = text.find('.');
    int whole = int(dot == std::string::npos ? text.size() : dot);
    int digits = 0;
    if (dot != std::string::npos) {
      size_t last = text.find_last_not_of('0');
      digits = last > dot ? int(last - dot) : 0;
    }
    size_t c = i % size_t(width);
    if (whole > integer[c]) integer[c] = whole;
    if (digits > fraction[c]) fraction[c] = digits;
  }
  std::vector<std::string> formats;
  for (int c = 0; c < width; ++c) {
    char f[32];
    if (fraction[size_t(c)] == 0)
      std::snprintf(f, sizeof f, "%s%d.%d%s", "%", integer[size_t(c)], 0, "f");
    else
      std::snprintf(f, sizeof f, "%s%d.%d%s", "%", integer[size_t(c)] + fraction[size_t(c)] + 1, fraction[size_t(c)], "f");
    formats.emplace_back(f);
  }
  std::string lead = label + "[ ";
  for (int r = 0; r < rows; ++r) {
    std::string row = r == 0 ? lead : std::string(lead.size(), ' ');
    for (int c = 0; c < width; ++c) {
      char v[160];
      std::snprintf(v, sizeof v, formats[size_t(c)].c_str(), exact[size_t(r * width + c)]);
      if (c) row += ' ';
      row += v;
    }
    row += r + 1 < rows ? "," : " ]";
    body.add(row);
  }
}

// Index lists, one line per face or polyline, each closed by -1.
void addIndexLines(Body& body, const std::string& label, const std::vector<std::vector<int>>& items) {
  if (items.empty()) return;
  body.add(label + "[");
  for (size_t i = 0; i < items.size(); ++i) {
    std::string row;
    for (int index : items[i]) row += format("%d, ", index);
    row += i + 1 < items.size() ? "-1," : "-1 ]";
    body.add(row, 1);
  }
}

std::string defPrefix(const ZvObj* object) {
  const char* name = object ? object->strings[ZV_STR_NAME] : nullptr;
  if (!name || !*name) return "";
  if (std::strpbrk(name, " \t")) return format("DEF \"%s\" ", name);
  return format("DEF %s ", name);
}

// The node line, "{}" when there is nothing inside; otherwise opens the
// braces, writes the fields and answers true with the braces still open.
bool openNode(const std::string& def, const char* type, const Body& body, bool children) {
  if (body.lines.empty() && !children) {
    line(def + type + "{}");
    return false;
  }
  line(def + type + "{");
  ++dump.indent;
  for (const auto& [extra, text] : body.lines) emit(extra, text);
  return true;
}
void closeNode() {
  --dump.indent;
  line("}");
}
void writeNode(const std::string& def, const char* type, const Body& body) {
  if (openNode(def, type, body, false)) closeNode();
}

// ---------------------------------------------------------------------------
// Enumerations

std::string zvDumpBoolean(const char* label, int value) {
  if (value == 1) return format("%sTRUE", label);
  if (value == 0) return format("%sFALSE", label);
  fail("zvDumpBoolean() : invalid value.");
  return "";
}

std::string zvDumpBindingType(const char* label, int value) {
  static const char* const kNames[] = {"DEFAULT", "OVERALL", "PER_PART", "PER_PART_INDEXED",
                                       "PER_FACE", "PER_FACE_INDEXED", "PER_VERTEX", "PER_VERTEX_INDEXED"};
  if (value < 0 || value > 7) {
    fail("zvDumpBindingType() : invalid binding type.");
    return "";
  }
  return format("%s  %s", label, kNames[value]);
}

std::string zvDumpWrapType(const char* label, int value) {
  if (value == 0) return format("%sREPEAT", label);
  if (value == 1) return format("%sCLAMP", label);
  fail("zvDumpWrapType() : invalid wrap type.");
  return "";
}

const char* const kScriptNames[] = {"PYTHON", "TCL", "JAVA", "VB", "C", "INLINE"};

std::string zvDumpScript(int type) {
  if (type < 0 || type > 5) {
    fail("zvDumpScript(): unknwon script type.");
    return "";
  }
  return format("scriptType %s", kScriptNames[type]);
}

std::string zvDumpScriptTypeOfZvTimeOutHandlerList(int type) {
  if (type < 0 || type > 5) {
    fail("zvDumpScriptTypeOfZvTimeOutHandlerList(): Unknwon script type.");
    return "";
  }
  return format("scriptType  %s", kScriptNames[type]);
}

void addIfSet(Body& body, std::string text) {
  if (!text.empty()) body.add(std::move(text));
}

// ---------------------------------------------------------------------------
// File names: the URL form of the file the entry was fetched into.

void addFileName(Body& body, const char* label, ZvUrlHash* entry) {
  if (!entry) return;
  const char* local = zvGetLocalFile(entry);
  if (!local) {
    fail("dumpAbs2UrlOfFileName(): zvGetLocalFile() failed.");
    return;
  }
  if (!*local) return;
  const char* url = local[0] == '/' ? zvPathToFileUrl(local) : local;
  body.add(std::string(label) + quoted(url ? url : local));
}

// ---------------------------------------------------------------------------
// Behaviours

struct EventName {
  uint32_t bit;
  const char* name;
};
const EventName kEvents[] = {
    {0x1, "KEY_DOWN"},          {0x2, "KEY_UP"},
    {0x4, "COLLISION"},         {0x8, "LEFT_BUTTON_UP"},
    {0x10, "LEFT_BUTTON_DOWN"}, {0x20, "MIDDLE_BUTTON_UP"},
    {0x40, "MIDDLE_BUTTON_DOWN"}, {0x80, "RIGHT_BUTTON_UP"},
    {0x100, "RIGHT_BUTTON_DOWN"}, {0x200, "WORLD_IN"},
    {0x400, "WORLD_OUT"},       {0x800, "CREATE_NOTIFY"},
    {0x1000, "DELETE_NOTIFY"},  {0x2000, "TIME_OUT"},
    {0x4000, "FRAME"},          {0x8000, "DRAG"},
    {0x10000, "PICK"},          {0x20000, "GRAB"},
    {0x40000, "RELEASE"},       {0x80000, "CREATE_WORLD"},
    {0x200000, "DELETE_WORLD"},
};
constexpr uint32_t kKeyBits = 0x1 | 0x2;
constexpr uint32_t kButtonUpBits = 0x8 | 0x20 | 0x80;
constexpr uint32_t kButtonDownBits = 0x10 | 0x40 | 0x100;

// The reader's group names first (KEY, BUTTON, BUTTON_UP, BUTTON_DOWN), the
// single names of what is left after them.
std::string eventTypeText(uint32_t mask) {
  const char* group = nullptr;
  uint32_t grouped = 0;
  if ((mask & kKeyBits) == kKeyBits) {
    group = "KEY", grouped = kKeyBits;
  } else if ((mask & (kButtonUpBits | kButtonDownBits)) == (kButtonUpBits | kButtonDownBits)) {
    group = "BUTTON", grouped = kButtonUpBits | kButtonDownBits;
  } else if ((mask & kButtonUpBits) == kButtonUpBits) {
    group = "BUTTON_UP", grouped = kButtonUpBits;
  } else if ((mask & kButtonDownBits) == kButtonDownBits) {
    group = "BUTTON_DOWN", grouped = kButtonDownBits;
  }
  std::vector<const char*> names;
  if (group) names.push_back(group);
  for (const EventName& e : kEvents)
    if ((mask & e.bit) && !(grouped & e.bit)) names.push_back(e.name);
  if (names.empty()) return "";
  if (names.size() == 1) return names[0];
  std::string text = "( ";
  for (size_t i = 0; i < names.size(); ++i) text += (i ? " | " : "") + std::string(names[i]);
  return text + " )";
}

void writeScript(ZvObj* object) {
  auto* script = static_cast<ZvScript*>(zvGetObjExtension(object, zvScriptNode));
  if (!script) return;
  ZvDumpHooks& hooks = zvDumpHooks();
  int type = hooks.scriptTypeOf ? hooks.scriptTypeOf(object, script) : 1;
  Body body;
  if (script->text && *script->text) body.add("procedure  " + quoted(script->text));
  addIfSet(body, zvDumpScript(type));
  writeNode("", "Script", body);
}

void writeAttributes(ZvObj* object) {
  const char* comment = object->strings[ZV_STR_COMMENT];
  ZvShape* shape = zvIsShapeLeaf(object->leaf) ? static_cast<ZvShape*>(object->leaf) : nullptr;
  uint32_t f = object->flags;
  // Written only for what a plain object read without an Attributes node
  // would not have: the reader's defaults there are all TRUE, the model's
  // mobile and backface flags start clear.
  bool plain = !(comment && *comment) && (f & ZV_OBJ_VISIBLE) && (f & ZV_OBJ_GRASP) && (f & ZV_OBJ_SOLID) &&
               (f & ZV_OBJ_COLLISION) && !(f & ZV_OBJ_MOBILE) &&
               (!shape || (!(shape->flags & ZV_LEAF_BACKFACE) && (shape->flags & ZV_LEAF_GOURAUD)));
  if (plain) return;
  Body body;
  if (comment && *comment) body.add("comment   " + quoted(comment));
  if (!(f & ZV_OBJ_VISIBLE)) body.add("visible   FALSE");
  if (!(f & ZV_OBJ_GRASP)) body.add("grasp     FALSE");
  if (!(f & ZV_OBJ_SOLID)) body.add("solid     FALSE");
  if (!(f & ZV_OBJ_COLLISION)) body.add("collision FALSE");
  if (!(f & ZV_OBJ_MOBILE)) body.add("mobile    FALSE");
  if (shape && !(shape->flags & ZV_LEAF_BACKFACE)) body.add("backface  FALSE");
  if (shape && !(shape->flags & ZV_LEAF_GOURAUD)) body.add("gouraud   FALSE");
  writeNode("", "Attributes", body);
}

void writeHandler(const ZvDumpHandler* h, void*) {
  if (!h || h->scriptType == 4) return;  // native routines have no text to write
  Body body;
  addFileName(body, "filename    ", h->file);
  std::string events = eventTypeText(h->eventMask);
  if (!events.empty()) body.add("eventType  " + events);
  body.add("userData   " + quoted(h->userData));
  body.add("function   " + quoted(h->function));
  addIfSet(body, zvDumpScript(h->scriptType));
  if (h->actionObject && *h->actionObject) body.add("actionObject " + quoted(h->actionObject));
  writeNode("", "EventHandler", body);
}

struct TaskPass {
  int32_t taskType;
};

void writeTask(const ZvDumpTask* t, void* arg) {
  if (!t || t->taskType != static_cast<TaskPass*>(arg)->taskType) return;
  Body body;
  addFileName(body, "filename    ", t->file);
  body.add(format("millisecond %ld", t->millisecond));
  body.add("userData    " + quoted(t->userData));
  addIfSet(body, zvDumpScriptTypeOfZvTimeOutHandlerList(t->scriptType));
  if (t->scriptType == 4)
    body.add("# 'function' is CB.");
  else
    body.add("function    " + quoted(t->function));
  writeNode("", t->taskType == 0 ? "SporadicTask" : "PeriodicTask", body);
}

void writeBehaviours(ZvObj* object) {
  ZvDumpHooks& hooks = zvDumpHooks();
  writeScript(object);
  writeAttributes(object);
  if (hooks.eachHandler) hooks.eachHandler(object, writeHandler, nullptr);
  if (hooks.eachTask) {
    TaskPass sporadic{0}, periodic{1};
    hooks.eachTask(object, writeTask, &sporadic);
    hooks.eachTask(object, writeTask, &periodic);
  }
}

// ---------------------------------------------------------------------------
// Placement

bool isIdentity(const ZvTransform& t) {
  static const float kIdentity[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 3; ++c)
      if (differs(t.m[r][c], kIdentity[r][c], 6)) return false;
  return true;
}

// Angles about x, y and z of a rotation applied x first, then y, then z. A
// turn about one axis alone is recognised first, so that its angle keeps its
// whole range instead of coming back as a mix of half turns.
void rotationAngles(const ZvTransform& t, double angle[3]) {
  const float (*m)[3] = t.m;
  auto unit = [&](int r) {
    for (int c = 0; c < 3; ++c)
      if (std::fabs(m[r][c] - (r == c ? 1.0f : 0.0f)) > 1e-6f) return false;
    return true;
  };
  angle[0] = angle[1] = angle[2] = 0;
  if (unit(0)) {
    angle[0] = std::atan2(m[1][2], m[1][1]);
  } else if (unit(1)) {
    angle[1] = std::atan2(m[2][0], m[2][2]);
  } else if (unit(2)) {
    angle[2] = std::atan2(m[0][1], m[0][0]);
  } else if (std::fabs(m[0][2]) < 1.0f - 1e-6f) {
    angle[1] = std::asin(-m[0][2]);
    angle[0] = std::atan2(m[1][2], m[2][2]);
    angle[2] = std::atan2(m[0][1], m[0][0]);
  } else {  // y at a quarter turn: only the sum of the other two is known
    angle[1] = m[0][2] < 0 ? std::numbers::pi / 2 : -std::numbers::pi / 2;
    angle[0] = std::atan2(-m[2][1], m[1][1]);
  }
}

ZvObj* dumpRootObj = nullptr;

// A Group makes no level of its own, and the reader keeps its children
// relative to it: in the level's frame a child sits at the Groups' own
// placements composed with its own.
ZvTransform levelTransform(ZvObj* object) {
  ZvTransform t = object->lrt;
  if (object == dumpRootObj) return t;
  for (ZvObj* g = object->parent; g && g->nodeType == ZV_NODE_GROUP; g = g->parent) {
    zvTransformCompose(&t, &g->lrt, &t);
    if (g == dumpRootObj) break;
  }
  return t;
}

void writeTransform(ZvObj* object) {
  ZvTransform placed = levelTransform(object);
  ZvTransform relative = placed;
  int written = 0;
  if (dumpIsRT(&written) == ZV_OK && written) {
    ZvTransform last, inverse;
    if (dumpGetRT(&last) == ZV_OK) {
      zvTransformInvert(&inverse, &last);
      zvTransformCompose(&relative, &inverse, &placed);
    }
  }
  dumpSetRT(&placed);
  dumpSetSW();
  if (isIdentity(relative)) return;
  const float* t = relative.m[3];
  if (differs(t[0], 0, 6) || differs(t[1], 0, 6) || differs(t[2], 0, 6))
    line(format("Translation{ translation %s %s %s }", num3(t[0]).c_str(), num3(t[1]).c_str(), num3(t[2]).c_str()));
  double angle[3];
  rotationAngles(relative, angle);
  int axis[3];
  double first = 0;
  for (int i = 0; i < 3; ++i) {
    axis[i] = num(angle[i], 3) != "0.000";
    if (axis[i] && first == 0) first = angle[i];
  }
  if (num(first, 4) != "0.0000")
    line(format("Rotation{ rotation %d %d %d %s }", axis[0], axis[1], axis[2], num(first, 6).c_str()));
}

void writeScale(ZvObj* object) {
  const float* s = object->bcubeScale;
  if (differs(s[0], 1, 3) || differs(s[1], 1, 3) || differs(s[2], 1, 3))
    line(format("Scale{ scaleFactor %s %s %s }", num3(s[0]).c_str(), num3(s[1]).c_str(), num3(s[2]).c_str()));
}

// ---------------------------------------------------------------------------
// Property nodes written before a shape

void writeTexture(const ZvTexture& texture) {
  Body body;
  if (texture.movie) {
    ZvDumpMovie movie{nullptr, 1, 4.0f, 128, 128, nullptr};
    ZvDumpHooks& hooks = zvDumpHooks();
    if (!hooks.movieOf || hooks.movieOf(texture.movie, &movie) != ZV_OK) {
      fail("zvDumpZvObj(): the movie of a texture cannot be read.");
      return;
    }
    addFileName(body, "filename  ", movie.file);
    if (!movie.autoPlay) body.add("autoPlay FALSE");
    std::vector<std::string> parts;
    if (differs(movie.framesPerSec, 4.0, 3)) parts.push_back("framesPerSec " + num3(movie.framesPerSec));
    if (movie.width != 128) parts.push_back(format("width %d", movie.width));
    if (movie.height != 128) parts.push_back(format("height %d", movie.height));
    if (movie.sound && *movie.sound) parts.push_back(format("sound\\\"%s\\\"", movie.sound));
    if (!parts.empty()) {
      std::string option = "option   \"";
      for (size_t i = 0; i < parts.size(); ++i) option += (i ? ", " : "") + parts[i];
      body.add(option + "\"");
    }
    writeNode("", "Movie2", body);
    return;
  }
  if (!texture.texture) return;
  if (texture.mask) {
    addFileName(body, "filename      ", texture.texture);
    addFileName(body, "maskFilename  ", texture.mask);
    if (texture.wrapS != 0) addIfSet(body, zvDumpWrapType("wrapS         ", texture.wrapS));
    if (texture.wrapT != 0) addIfSet(body, zvDumpWrapType("wrapT        ", texture.wrapT));
    writeNode("", "TransparentTexture2", body);
    return;
  }
  addFileName(body, "filename  ", texture.texture);
  if (texture.wrapS != 0) addIfSet(body, zvDumpWrapType("wrapS     ", texture.wrapS));
  if (texture.wrapT != 0) addIfSet(body, zvDumpWrapType("wrapT    ", texture.wrapT));
  writeNode("", "Texture2", body);
}

// The arrays of one Material node, flattened.
struct Materials {
  std::vector<float> color[4];  // ambient, diffuse, specular, emissive
  std::vector<float> scalar[2];  // shininess, transparency
};
const float kDefaultColor[4][3] = {{0.2f, 0.2f, 0.2f}, {0.8f, 0.8f, 0.8f}, {0, 0, 0}, {0, 0, 0}};
const float kDefaultScalar[2] = {0.2f, 0};

// One record of a face or line: its arrays may be shorter than the records
// asked of them, and then repeat their last value, as the reader does, or
// give the default.
void appendRecord(Materials& out, const ZvMaterial& m, int record) {
  const ZvMFColor* colors[4] = {&m.ambient, &m.diffuse, &m.specular, &m.emissive};
  for (int a = 0; a < 4; ++a) {
    const ZvMFColor* c = colors[a];
    if (c->count > 0 && c->values) {
      const ZvSFColor& v = c->values[record < c->count ? record : c->count - 1];
      out.color[a].insert(out.color[a].end(), {v.r, v.g, v.b});
    } else {
      out.color[a].insert(out.color[a].end(), kDefaultColor[a], kDefaultColor[a] + 3);
    }
  }
  const ZvMFFloat* scalars[2] = {&m.shininess, &m.transparency};
  for (int a = 0; a < 2; ++a) {
    const ZvMFFloat* s = scalars[a];
    out.scalar[a].push_back(s->count > 0 && s->values ? s->values[record < s->count ? record : s->count - 1]
                                                      : kDefaultScalar[a]);
  }
}

// A shape's own arrays as they are; an empty one is the default.
void appendAll(Materials& out, const ZvMaterial& m) {
  const ZvMFColor* colors[4] = {&m.ambient, &m.diffuse, &m.specular, &m.emissive};
  for (int a = 0; a < 4; ++a) {
    if (colors[a]->count <= 0 || !colors[a]->values) {
      out.color[a].insert(out.color[a].end(), kDefaultColor[a], kDefaultColor[a] + 3);
      continue;
    }
    for (int i = 0; i < colors[a]->count; ++i) {
      const ZvSFColor& v = colors[a]->values[i];
      out.color[a].insert(out.color[a].end(), {v.r, v.g, v.b});
    }
  }
  const ZvMFFloat* scalars[2] = {&m.shininess, &m.transparency};
  for (int a = 0; a < 2; ++a) {
    if (scalars[a]->count <= 0 || !scalars[a]->values)
      out.scalar[a].push_back(kDefaultScalar[a]);
    else
      out.scalar[a].insert(out.scalar[a].end(), scalars[a]->values, scalars[a]->values + scalars[a]->count);
  }
}

void writeMaterial(const Materials& m) {
  static const char* const kColorLabels[4] = {"ambientColor   ", "diffuseColor   ", "specularColor  ",
                                              "emissiveColor  "};
  static const char* const kScalarLabels[2] = {"shininess      ", "transparency   "};
  Body body;
  for (int a = 0; a < 4; ++a) {
    bool changed = false;
    for (size_t i = 0; i < m.color[a].size(); ++i) changed |= differs(m.color[a][i], kDefaultColor[a][i % 3], 3);
    if (changed) addRows(body, kColorLabels[a], m.color[a], 3, 3);
  }
  for (int a = 0; a < 2; ++a) {
    bool changed = false;
    for (float v : m.scalar[a]) changed |= differs(v, kDefaultScalar[a], 3);
    if (changed) addRows(body, kScalarLabels[a], m.scalar[a], 1, 3);
  }
  // Written even when empty: materials of earlier siblings would otherwise
  // carry over to this shape when read back.
  writeNode("", "Material", body);
}

void writeShapeProperties(ZvShape* shape) {
  if (!shape) return;
  writeTexture(shape->texture);
  Materials m;
  appendAll(m, shape->material);
  writeMaterial(m);
}

// ---------------------------------------------------------------------------
// Node writers: each fills the body of its node and writes the property
// nodes its leaves need before it.

void strayLeaf(const ZvObj* object, const ZvLeaf* leaf) {
  fail("zvDumpZvObj(): '%s' carries a leaf of type %d.", zvNodeTypeName(object->nodeType), leaf->type);
}

void fillCone(ZvObj* object, Body& body) {
  ZvConeSide* side = nullptr;
  ZvCircle* bottom = nullptr;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next) {
    if (leaf->type == ZV_LEAF_CONE_SIDE && !side)
      side = static_cast<ZvConeSide*>(leaf);
    else if (leaf->type == ZV_LEAF_CONE_BOTTOM && !bottom)
      bottom = static_cast<ZvCircle*>(leaf);
    else
      strayLeaf(object, leaf);
  }
  if (!side && !bottom) return;
  writeShapeProperties(side ? static_cast<ZvShape*>(side) : bottom);
  if (!bottom) body.add("parts        SIDES");
  if (!side) body.add("parts        BOTTOM");
  float radius = side ? side->bottomRadius : bottom->radius;
  float height = side ? side->height : bottom->height;
  if (differs(radius, 1, 3)) body.add("bottomRadius " + num3(radius));
  if (differs(height, 2, 3)) body.add("height       " + num3(height));
}

void fillCylinder(ZvObj* object, Body& body) {
  ZvCylinderSide* side = nullptr;
  ZvCircle* ends[2] = {};  // in chain order
  std::vector<const char*> endNames;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next) {
    if (leaf->type == ZV_LEAF_CYLINDER_SIDE && !side) {
      side = static_cast<ZvCylinderSide*>(leaf);
    } else if ((leaf->type == ZV_LEAF_CYLINDER_TOP || leaf->type == ZV_LEAF_CYLINDER_BOTTOM) && endNames.size() < 2) {
      ends[endNames.size()] = static_cast<ZvCircle*>(leaf);
      endNames.push_back(leaf->type == ZV_LEAF_CYLINDER_TOP ? "TOP" : "BOTTOM");
    } else {
      strayLeaf(object, leaf);
    }
  }
  if (!side && endNames.empty()) return;
  writeShapeProperties(side ? static_cast<ZvShape*>(side) : ends[0]);
  std::vector<const char*> parts;
  if (side) parts.push_back("SIDES");
  parts.insert(parts.end(), endNames.begin(), endNames.end());
  if (parts.size() == 1) body.add(format("parts  %s", parts[0]));
  if (parts.size() == 2) body.add(format("parts  ( %s | %s )", parts[0], parts[1]));
  float radius = side ? side->bottomRadius : ends[0]->radius;
  float height = side ? side->height : ends[0]->height;
  if (differs(radius, 1, 3)) body.add("radius  " + num3(radius));
  if (differs(height, 2, 3)) body.add("height  " + num3(height));
}

void fillSphere(ZvObj* object, Body& body) {
  ZvSphere* sphere = nullptr;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next)
    if (leaf->type == ZV_LEAF_SPHERE && !sphere)
      sphere = static_cast<ZvSphere*>(leaf);
    else
      strayLeaf(object, leaf);
  if (!sphere) return;
  writeShapeProperties(sphere);
  if (differs(sphere->radius, 1, 3)) body.add("radius  " + num3(sphere->radius));
}

std::vector<ZvFace*> facesOf(ZvObj* object) {
  std::vector<ZvFace*> faces;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next)
    if (leaf->type == ZV_LEAF_FACE)
      faces.push_back(static_cast<ZvFace*>(leaf));
    else
      strayLeaf(object, leaf);
  return faces;
}

// A cube is its six faces: its size is their extent.
void fillCube(ZvObj* object, Body& body) {
  std::vector<ZvFace*> faces = facesOf(object);
  if (faces.empty()) return;
  float min[3] = {}, max[3] = {};
  bool any = false;
  for (ZvFace* face : faces)
    for (int v = 0; v < face->vertexCount && face->vertices; ++v) {
      const float p[3] = {face->vertices[v].x, face->vertices[v].y, face->vertices[v].z};
      for (int i = 0; i < 3; ++i) {
        if (!any || p[i] < min[i]) min[i] = p[i];
        if (!any || p[i] > max[i]) max[i] = p[i];
      }
      any = true;
    }
  writeShapeProperties(faces[0]);
  if (!any) return;
  static const char* const kLabels[3] = {"width   ", "height  ", "depth   "};
  for (int i = 0; i < 3; ++i)
    if (differs(max[i] - min[i], 2, 3)) body.add(kLabels[i] + num3(max[i] - min[i]));
}

// The material binding of a set as its leaves hold it, folded to the three
// the conversion leaves behind: overall, per item, per vertex.
enum Binding { kOverall, kPerItem, kPerVertex };
Binding bindingOf(int code) {
  switch (code) {
    case 0: case 1: return kOverall;
    case 2: case 3: case 4: case 5: return kPerItem;
    case 6: case 7: return kPerVertex;
    default:
      fail("zvDumpBindingType() : invalid binding type.");
      return kOverall;
  }
}

// The materials of a set's leaves and the binding that reads them back in
// the same order.
void writeSetMaterials(const std::vector<ZvShape*>& leaves, const std::vector<int>& vertexCounts,
                       Binding binding) {
  Materials m;
  if (binding == kOverall) {
    appendAll(m, leaves[0]->material);
  } else {
    for (size_t i = 0; i < leaves.size(); ++i) {
      int records = binding == kPerItem ? 1 : vertexCounts[i];
      for (int r = 0; r < records; ++r) appendRecord(m, leaves[i]->material, r);
    }
  }
  writeMaterial(m);
  Body body;
  static const int kValue[3] = {1, 4, 6};  // OVERALL, PER_FACE, PER_VERTEX
  if (leaves[0]->texture.materialBinding != 0 || binding != kOverall)
    addIfSet(body, zvDumpBindingType("value", kValue[binding]));
  writeNode("", "MaterialBinding", body);
}

bool faceNormal(const ZvFace* face, float n[3]) {
  if (face->vertexCount < 3 || !face->vertices) return false;
  const ZvSFVec3f* v = face->vertices;
  float a[3] = {v[1].x - v[0].x, v[1].y - v[0].y, v[1].z - v[0].z};
  float b[3] = {v[2].x - v[0].x, v[2].y - v[0].y, v[2].z - v[0].z};
  n[0] = a[1] * b[2] - a[2] * b[1];
  n[1] = a[2] * b[0] - a[0] * b[2];
  n[2] = a[0] * b[1] - a[1] * b[0];
  float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (length == 0) return false;
  for (int i = 0; i < 3; ++i) n[i] /= length;
  return true;
}

// Normals are written only when they are not what the reader computes by
// itself: one per face, from its first three vertices.
void writeSetNormals(const std::vector<ZvFace*>& faces) {
  bool computed = true;
  for (ZvFace* f : faces) {
    if (f->normalBinding != 0 && f->normalBinding != 7) computed = false;
    float n[3];
    bool has = faceNormal(f, n);
    for (int i = 0; i < f->normalCount && f->normals && computed; ++i) {
      const ZvSFVec3f& v = f->normals[i];
      computed = has && std::fabs(v.x - n[0]) < 1e-4f && std::fabs(v.y - n[1]) < 1e-4f && std::fabs(v.z - n[2]) < 1e-4f;
    }
  }
  Body body;
  if (!computed) {
    Binding binding = faces[0]->normalBinding == 1 ? kOverall
                      : (faces[0]->normalBinding == 4 || faces[0]->normalBinding == 5) ? kPerItem
                                                                                        : kPerVertex;
    std::vector<float> vectors;
    for (ZvFace* f : faces) {
      float n[3] = {0, 0, 1};
      faceNormal(f, n);
      int wanted = binding == kPerVertex ? f->vertexCount : 1;
      for (int i = 0; i < wanted; ++i) {
        if (f->normals && f->normalCount > 0) {
          const ZvSFVec3f& v = f->normals[i < f->normalCount ? i : f->normalCount - 1];
          vectors.insert(vectors.end(), {v.x, v.y, v.z});
        } else {
          vectors.insert(vectors.end(), n, n + 3);
        }
      }
      if (binding == kOverall) break;
    }
    Body normals;
    addRows(normals, "vector ", vectors, 3, 3);
    writeNode("", "Normal", normals);
    static const int kValue[3] = {1, 4, 6};
    addIfSet(body, zvDumpBindingType("value", kValue[binding]));
  }
  writeNode("", "NormalBinding", body);
}

void fillIndexedFaceSet(ZvObj* object, Body& body) {
  std::vector<ZvFace*> faces = facesOf(object);
  if (faces.empty()) return;
  std::vector<float> points, uvs;
  std::vector<std::vector<int>> index;
  std::vector<int> counts;
  bool textured = false;
  for (ZvFace* f : faces) {
    std::vector<int> item;
    int n = f->vertices ? f->vertexCount : 0;
    for (int v = 0; v < n; ++v) {
      item.push_back(int(points.size() / 3));
      points.insert(points.end(), {f->vertices[v].x, f->vertices[v].y, f->vertices[v].z});
      ZvSFVec2f uv{0, 0};
      if (f->texture.uv && f->texture.uvCount > 0) uv = f->texture.uv[v < f->texture.uvCount ? v : f->texture.uvCount - 1];
      textured |= differs(uv.x, 0, 3) || differs(uv.y, 0, 3);
      uvs.insert(uvs.end(), {uv.x, uv.y});
    }
    index.push_back(item);
    counts.push_back(n);
  }
  Body coords;
  addRows(coords, "point ", points, 3, 3);
  writeNode("", "Coordinate3", coords);
  writeSetNormals(faces);
  if (textured) {
    Body texture;
    addRows(texture, "point ", uvs, 2, 3);
    writeNode("", "TextureCoordinate2", texture);
  }
  writeTexture(faces[0]->texture);
  std::vector<ZvShape*> shapes(faces.begin(), faces.end());
  writeSetMaterials(shapes, counts, bindingOf(faces[0]->texture.materialBinding));
  addIndexLines(body, "coordIndex ", index);
  if (textured) addIndexLines(body, "textureCoordIndex ", index);
}

// A line leaf holds its points and, optionally, index lists cut by -1 into
// polylines; without indices its points are one polyline.
void fillIndexedLineSet(ZvObj* object, Body& body) {
  std::vector<ZvShape*> lines;
  std::vector<float> points;
  std::vector<std::vector<int>> index;
  std::vector<int> counts;     // vertices per leaf, for per-vertex materials
  std::vector<int> lineOfLeaf;  // first polyline of each leaf
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next) {
    if (leaf->type != ZV_LEAF_LINE_SET) {
      strayLeaf(object, leaf);
      continue;
    }
    auto* set = static_cast<ZvLineSet*>(leaf);
    int base = int(points.size() / 3);
    int n = set->points ? set->pointCount : 0;
    for (int i = 0; i < n; ++i) points.insert(points.end(), {set->points[i].x, set->points[i].y, set->points[i].z});
    lines.push_back(set);
    lineOfLeaf.push_back(int(index.size()));
    int vertices = 0;
    if (set->indices && set->indexCount > 0) {
      std::vector<int> item;
      for (int i = 0; i < set->indexCount; ++i) {
        int k = set->indices[i];
        if (k == -1) {
          if (!item.empty()) index.push_back(item);
          item.clear();
        } else if (k < 0 || k >= n) {
          fail("zvDumpZvObj(): 'IndexedLineSet' has an index out of its points.");
        } else {
          item.push_back(base + k);
          ++vertices;
        }
      }
      if (!item.empty()) index.push_back(item);
    } else if (n > 0) {
      std::vector<int> item;
      for (int i = 0; i < n; ++i) item.push_back(base + i);
      index.push_back(item);
      vertices = n;
    }
    counts.push_back(vertices);
  }
  if (lines.empty()) return;
  Body coords;
  addRows(coords, "point ", points, 3, 3);
  writeNode("", "Coordinate3", coords);
  writeTexture(lines[0]->texture);
  Binding binding = bindingOf(lines[0]->texture.materialBinding);
  writeSetMaterials(lines, counts, binding);
  addIndexLines(body, "coordIndex        ", index);
  // Material indices: one record per polyline or per vertex, in the order
  // the records were written.
  if (binding == kOverall) {
    body.add("materialIndex      0");
  } else {
    std::vector<std::vector<int>> materials;
    int record = 0;
    for (size_t leaf = 0; leaf < lines.size(); ++leaf) {
      size_t end = leaf + 1 < lines.size() ? size_t(lineOfLeaf[leaf + 1]) : index.size();
      for (size_t l = size_t(lineOfLeaf[leaf]); l < end; ++l) {
        std::vector<int> item;
        if (binding == kPerItem) {
          item.push_back(int(leaf));
        } else {
          for (size_t v = 0; v < index[l].size(); ++v) item.push_back(record++);
        }
        materials.push_back(item);
      }
    }
    addIndexLines(body, "materialIndex     ", materials);
  }
}

// The leaf a light, camera or sound object is about; any other is reported.
template <typename T>
T* firstLeafOf(ZvObj* object, int type) {
  T* found = nullptr;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next)
    if (leaf->type == type && !found)
      found = static_cast<T*>(leaf);
    else
      strayLeaf(object, leaf);
  if (!found) fail("zvDumpZvObj(): '%s' has no leaf of its kind.", zvNodeTypeName(object->nodeType));
  return found;
}

void addLightFields(const ZvLight* light, Body& body, const char* on, const char* intensity, const char* color) {
  if (light->on != 1) addIfSet(body, zvDumpBoolean(on, light->on));
  if (differs(light->intensity, 1, 3)) body.add(intensity + num3(light->intensity));
  const float c[3] = {light->color.r, light->color.g, light->color.b};
  if (differs(c[0], 1, 3) || differs(c[1], 1, 3) || differs(c[2], 1, 3)) body.add(color + triple(c));
}

void fillDirectionalLight(ZvObj* object, Body& body) {
  if (auto* light = firstLeafOf<ZvLight>(object, ZV_LEAF_DIRECTIONAL_LIGHT))
    addLightFields(light, body, "on         ", "intensity  ", "color      ");
  body.add("# 'direction' is realized by MatrixTransform above.");
}

void fillPointLight(ZvObj* object, Body& body) {
  if (auto* light = firstLeafOf<ZvLight>(object, ZV_LEAF_POINT_LIGHT))
    addLightFields(light, body, "on           ", "intensity    ", "color        ");
  body.add("location    0 0 0 # CAUTION! It's different from the VRML default.");
}

void fillSpotLight(ZvObj* object, Body& body) {
  auto* light = firstLeafOf<ZvSpotLight>(object, ZV_LEAF_SPOT_LIGHT);
  if (light) addLightFields(light, body, "on           ", "intensity    ", "color        ");
  body.add("location    0 0 0 # CAUTION! It's different from the VRML default.");
  if (!light) return;
  if (differs(light->dropOffRate, 0, 6)) body.add("dropOffRate  " + num6(light->dropOffRate));
  if (differs(light->cutOffAngle, 0.785398, 6)) body.add("cutOffAngle  " + num6(light->cutOffAngle));
}

void fillCamera(ZvObj* object, Body& body, int type) {
  auto* camera = firstLeafOf<ZvCamera>(object, type);
  body.add("position      0 0 0 # CAUTION! It's different from the VRML default.");
  body.add("# 'orientation' is realized above.");
  if (!camera) return;
  if (differs(camera->focalDistance, 5, 3)) body.add("focalDistance  " + num3(camera->focalDistance));
  if (type == ZV_LEAF_ORTHOGRAPHIC_CAMERA && differs(camera->height, 2, 3))
    body.add("height         " + num3(camera->height));
  if (type == ZV_LEAF_PERSPECTIVE_CAMERA && differs(camera->height, std::numbers::pi / 4, 6))
    body.add("heightAngle    " + num6(camera->height));
}
void fillOrthographicCamera(ZvObj* o, Body& b) { fillCamera(o, b, ZV_LEAF_ORTHOGRAPHIC_CAMERA); }
void fillPerspectiveCamera(ZvObj* o, Body& b) { fillCamera(o, b, ZV_LEAF_PERSPECTIVE_CAMERA); }

void fillAmbientSound(ZvObj* object, Body& body) {
  auto* leaf = firstLeafOf<ZvLeaf>(object, ZV_LEAF_SOUND);
  if (!leaf) return;
  ZvDumpSound sound{nullptr, {0, 0, 0}, {0, 0, 0}, 1, 1};
  ZvDumpHooks& hooks = zvDumpHooks();
  if (!hooks.soundOf || hooks.soundOf(leaf, &sound) != ZV_OK) {
    fail("zvDumpZvObj(): the sound of 'AmbientSound' cannot be read.");
    return;
  }
  addFileName(body, "filename   ", sound.file);
  const float* size = sound.bboxSize;
  const float* center = sound.bboxCenter;
  if (differs(size[0], 0, 3) || differs(size[1], 0, 3) || differs(size[2], 0, 3))
    body.add("bboxSize   " + triple(size));
  if (differs(center[0], 0, 3) || differs(center[1], 0, 3) || differs(center[2], 0, 3))
    body.add("bboxCenter " + triple(center));
  if (!sound.autoPlay) body.add("autoPlay   FALSE");
  if (!sound.loop) body.add("loop       FALSE");
}

void fillSwitch(ZvObj* object, Body& body) {
  auto* which = static_cast<int32_t*>(zvGetObjExtension(object, zvSwitchWhichChild));
  if (which && *which != -1) body.add(format("whichChild %ld", long(*which)));
}

void fillLOD(ZvObj* object, Body& body) {
  auto* lod = static_cast<ZvLOD*>(zvGetObjExtension(object, zvLODNode));
  if (!lod) return;
  int n = lod->ranges ? lod->rangeCount : 0;
  if (n > 1 || (n == 1 && differs(lod->ranges[0], 0, 3))) {
    if (n == 1) {
      body.add(format("range  [%s]", num3(lod->ranges[0]).c_str()));
    } else {
      body.add(format("range  [%s,", num3(lod->ranges[0]).c_str()));
      for (int i = 1; i < n; ++i) body.add(std::string(8, ' ') + num3(lod->ranges[i]) + (i + 1 < n ? "," : "]"));
    }
  }
  const float* c = lod->center;
  if (differs(c[0], 0, 3) || differs(c[1], 0, 3) || differs(c[2], 0, 3)) body.add("center " + triple(c));
}

void addUrl(ZvObj* object, int kind, Body& body) {
  auto* entry = static_cast<ZvUrlHash*>(zvGetObjExtension(object, kind));
  if (!entry) return;
  const char* url = zvGetUrl(entry);
  if (url && *url) body.add("name " + quoted(url));
}

void fillWWWInline(ZvObj* object, Body& body) {
  addUrl(object, zvWWWInline, body);
  body.add("# 'bboxSize'   is unsupported yet.");
  body.add("# 'bboxCenter' is unsupported yet.");
}
void fillWWWAnchor(ZvObj* object, Body& body) { addUrl(object, zvWWWAnchor, body); }
void fillNothing(ZvObj*, Body&) {}

struct Writer {
  int type;
  void (*fill)(ZvObj* object, Body& body);
  bool group;  // children go inside the braces
  bool level;  // and get a transform level of their own
};
const Writer kWriters[] = {
    {ZV_NODE_AMBIENT_SOUND, fillAmbientSound, false, false},
    {ZV_NODE_CONE, fillCone, false, false},
    {ZV_NODE_CUBE, fillCube, false, false},
    {ZV_NODE_CYLINDER, fillCylinder, false, false},
    {ZV_NODE_DIRECTIONAL_LIGHT, fillDirectionalLight, false, false},
    {ZV_NODE_GROUP, fillNothing, true, false},
    {ZV_NODE_INFO, fillNothing, false, false},
    {ZV_NODE_INDEXED_FACE_SET, fillIndexedFaceSet, false, false},
    {ZV_NODE_INDEXED_LINE_SET, fillIndexedLineSet, false, false},
    {ZV_NODE_LOD, fillLOD, true, true},
    {ZV_NODE_ORTHOGRAPHIC_CAMERA, fillOrthographicCamera, false, false},
    {ZV_NODE_PERSPECTIVE_CAMERA, fillPerspectiveCamera, false, false},
    {ZV_NODE_POINT_LIGHT, fillPointLight, false, false},
    {ZV_NODE_SPOT_LIGHT, fillSpotLight, false, false},
    {ZV_NODE_SEPARATOR, fillNothing, true, true},
    {ZV_NODE_SPHERE, fillSphere, false, false},
    {ZV_NODE_SWITCH, fillSwitch, true, true},
    {ZV_NODE_WWW_ANCHOR, fillWWWAnchor, true, true},
    {ZV_NODE_WWW_INLINE, fillWWWInline, true, true},
};

const Writer* writerFor(int type) {
  for (const Writer& w : kWriters)
    if (w.type == type) return &w;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Walking a subtree: with a stack of its own, as the scene model does, so
// that a world nested deeper than the thread stack is written like any other.

struct Frame {
  ZvObj* object;
  const Writer* writer;  // null: nothing was written for it
  ZvObjList* next;       // children still to write
  bool open;             // braces to close
  bool level;            // transform level to pop
};

Frame beginObject(ZvObj* object) {
  Frame frame{object, nullptr, nullptr, false, false};
  if (object->nodeType == ZV_NODE_NONE) {
    fail("zvDumpZvObj(): No output is done for zvNULLVRMLType.");
    return frame;
  }
  const char* type = zvNodeTypeName(object->nodeType);
  frame.writer = writerFor(object->nodeType);
  if (!frame.writer) {
    fail("zvDumpZvObj(): '%s' is non-supported ZvObj type.", type ? type : std::to_string(object->nodeType).c_str());
    return frame;
  }
  line(format("# S %s", type));
  writeBehaviours(object);
  writeTransform(object);
  writeScale(object);
  Body body;
  frame.writer->fill(object, body);
  bool children = frame.writer->group && object->children;
  frame.open = openNode(defPrefix(object), type, body, children);
  if (frame.open && frame.writer->group) {
    frame.next = object->children;
    frame.level = frame.writer->level && dumpPushRT() == ZV_OK;
  }
  return frame;
}

void endObject(const Frame& frame) {
  if (!frame.writer) return;
  if (frame.level) dumpPopRT();
  if (frame.open) closeNode();
  line(format("# E %s", zvNodeTypeName(frame.object->nodeType)));
}

int dumpSubtree(ZvObj* root) {
  dumpRootObj = root;
  bool before = dump.failed;
  dump.failed = false;
  // No tree of the world holds more objects than the world has; more means
  // a child list that loops back.
  long budget = root->world && root->world->objectCount > 0 ? root->world->objectCount : -1;
  bool broken = false;
  std::vector<Frame> stack;
  stack.push_back(beginObject(root));
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next && !broken) {
      ZvObjList* cell = top.next;
      top.next = cell->next;
      if (!cell->object) {
        fail("zvDumpZvObj(): a child list holds a null entry.");
        continue;
      }
      if (budget >= 0 && --budget < 0) {
        fail("zvDumpZvObj(): the object tree loops; the rest is not written.");
        broken = true;
        continue;
      }
      stack.push_back(beginObject(cell->object));  // top is not used after this
      continue;
    }
    endObject(top);
    stack.pop_back();
  }
  bool failed = dump.failed;
  dump.failed = before || failed;
  return failed ? ZV_FAIL : ZV_OK;
}

// ---------------------------------------------------------------------------
// World settings

bool isAuthoringObject(const ZvObj* object) {
  if (object->nodeType != ZV_NODE_SEPARATOR || !object->children || !object->children->object) return false;
  const char* name = object->children->object->strings[ZV_STR_NAME];
  return name && (std::strcmp(name, "ZvAuthoringCamera") == 0 || std::strcmp(name, "ZvAuthoringFloor") == 0);
}

void zvDumpBackgroundTextureInfo(ZvWorld* world) {
  if (!world->backgroundTexture) return;
  const char* local = zvGetLocalFile(world->backgroundTexture);
  if (!local) {
    fail("zvDumpBackgroundTextureInfo: zvGetLocalFile() failed.");
    return;
  }
  line(format("DEF BackgroundTexture Info{ string %s }", quoted(local).c_str()));
}

void writeWorldSettings(ZvWorld* world) {
  if (world->title && *world->title) line(format("DEF Title Info{ string %s }", quoted(world->title).c_str()));
  if (differs(world->viewerSpeed, 1.2, 3))
    line(format("DEF ViewerSpeed Info{ string \"%s\" }", num3(world->viewerSpeed).c_str()));
  const float c[3] = {world->background.r, world->background.g, world->background.b};
  if (differs(c[0], 0, 3) || differs(c[1], 0, 3) || differs(c[2], 0, 3))
    line(format("DEF BackgroundColor Info{ string \"%s %s %s\" }", num3(c[0]).c_str(), num3(c[1]).c_str(),
                num3(c[2]).c_str()));
  zvDumpBackgroundTextureInfo(world);
  // The world keeps the "ZvServer" string of its file in its owned text.
  if (world->ownedText && *world->ownedText)
    line(format("DEF ZvServer Info{ string %s }", quoted(world->ownedText).c_str()));
}

void releaseStack() {
  while (dump.rt) dumpPopRT();
}

int dumpWorld(ZvWorld* world, FILE* out) {
  dump = DumpState{};
  dump.out = out;
  dumpPushRT();
  line(format("#VRML V%s ascii", "1.0"));
  line("#");
  line("# this file is generated from ZV objects.");
  line(format("# Quillmoor VRML writer, Copyright (C) %s Tarnwick Corporation.", "1995,1996"));
  line("");
  line("Separator{");
  ++dump.indent;
  writeWorldSettings(world);
  for (ZvTopObjList* cell = world->topObjects; cell; cell = cell->next) {
    ZvObj* top = cell->object;
    if (!top) {
      fail("zvDumpWorld: the top-object list holds a null entry.");
      continue;
    }
    if (top == world->person || isAuthoringObject(top)) continue;
    dumpSubtree(top);
  }
  --dump.indent;
  line("}");
  releaseStack();
  bool failed = dump.failed || (out && std::ferror(out));
  dump = DumpState{};
  return failed ? ZV_FAIL : ZV_OK;
}

}  // namespace

// ---------------------------------------------------------------------------

ZvDumpHooks& zvDumpHooks(void) {
  static ZvDumpHooks hooks{};
  return hooks;
}

int zvDumpFloat2Double(float value, double* out) {
  if (!out) {
    zvWarning("zvDumpFloat2Double(): argument pointer to QvTdouble is null.");
    return ZV_FAIL;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%e", double(value));
  if (std::sscanf(text, "%le", out) != 1) *out = value;
  return ZV_OK;
}

int zvDumpWorldToFile(ZvWorld* world, FILE* out) {
  if (!world || !out) {
    zvWarning("zvDumpWorldToFile: %s is null.", world ? "file" : "world");
    return ZV_FAIL;
  }
  return dumpWorld(world, out);
}

int zvDumpWorld(ZvWorld* world, const char* fileName) {
  if (!world) {
    zvWarning("%s: %s", "zvDumpWorld", "world is null.");
    return ZV_FAIL;
  }
  if (!fileName || !*fileName) {
    zvWarning("%s: %s", "zvDumpWorld", "filename is null.");
    return ZV_FAIL;
  }
  FILE* out = std::fopen(fileName, "wb");
  if (!out) {
    zvWarning("%s: cannot open the dump '%s' file.", "zvSFdumpFileOpen", fileName);
    return ZV_FAIL;
  }
  int r = dumpWorld(world, out);
  if (std::fclose(out) != 0) {
    zvWarning("%s: cannot write the dump '%s' file.", "zvDumpWorld", fileName);
    r = ZV_FAIL;
  }
  return r;
}

int zvDumpZvObj(ZvObj* object) {
  if (!object) {
    zvWarning("zvDumpZvObj(): object is null.");
    return ZV_FAIL;
  }
  return dumpSubtree(object);
}

int zvDumpZvObjToFile(ZvObj* object, FILE* out) {
  if (!object || !out) {
    zvWarning("zvDumpZvObjToFile: %s is null.", object ? "file" : "object");
    return ZV_FAIL;
  }
  dump = DumpState{};
  dump.out = out;
  int r = dumpPushRT();
  if (dumpSubtree(object) != ZV_OK) r = ZV_FAIL;
  releaseStack();
  if (std::ferror(out)) r = ZV_FAIL;
  dump = DumpState{};
  return r;
}
