// shapefile.cpp — shape files: one clump and its children as text.
//
// Written over the public interface alone, so the file format is exactly
// what rwlib.h documents and nothing here leans on how clumps are stored.
//
// The reader takes every file as hostile: lines, counts, nesting and indices
// are bounded and checked, numbers must be finite. On any fault it destroys
// what it built and answers null; there is no public way to set the library
// error, so rwGetError() then tells only what a library call refused, if
// anything. The caller's sticky surface state is saved on entry and put back
// on every way out, since the file's surface lines are meant for its own
// polygons only.
//
// The writer puts out what the public getters give: positions (not explicit
// normals or per-vertex coordinates, which cannot be read back), polygon
// corners, and the surface lines only where they change from the polygon
// before, in file order, so reading the file again rebuilds the same state
// per polygon whatever the reader's caller had set.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "rwlib/rwlib.h"

namespace {

constexpr size_t kMaxLine = 65536;            // bytes, without the line end
constexpr size_t kMaxDepth = 64;              // nested clumps, the top one included
constexpr int32_t kMaxClumpVertices = 1000000;
constexpr int32_t kMaxClumpPolygons = 1000000;
constexpr int64_t kMaxFileVertices = 4000000;  // so many small clumps cannot add up
constexpr int64_t kMaxFilePolygons = 4000000;
constexpr int32_t kMaxClumps = 100000;
constexpr int kMaxCorners = 4096;

// Puts the caller's sticky surface state back however the reader leaves.
struct SurfaceGuard {
  RwSurfaceState saved{};
  bool held = false;
  SurfaceGuard() { held = rwGetSurfaceState(&saved) != 0; }
  ~SurfaceGuard() {
    if (held) rwSetSurfaceState(&saved);
  }
  SurfaceGuard(const SurfaceGuard&) = delete;
  SurfaceGuard& operator=(const SurfaceGuard&) = delete;
};

// ---------------------------------------------------------------------------
// Reading

// Lines of a file through one buffer; a line over kMaxLine or holding a NUL
// byte is a fault, so neither a binary file nor an endless line costs more
// than one bounded buffer.
struct LineSource {
  FILE* file = nullptr;
  char buffer[16384];
  size_t at = 0, filled = 0;
  bool failed = false;

  // 1 with a line (its end stripped), 0 at the end of the file, -1 on a fault.
  int next(std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
      if (at == filled) {
        filled = fread(buffer, 1, sizeof buffer, file);
        at = 0;
        if (filled == 0) {
          if (ferror(file)) return -1;
          return any ? 1 : 0;
        }
      }
      any = true;
      char c = buffer[at++];
      if (c == '\n') return 1;
      if (c == '\0' || line.size() >= kMaxLine) return -1;
      line.push_back(c);
    }
  }
};

// The words of a line before its comment; carriage returns count as space,
// so files with DOS line ends read the same.
void splitWords(std::string_view line, std::vector<std::string_view>& words) {
  words.clear();
  size_t hash = line.find('#');
  if (hash != std::string_view::npos) line = line.substr(0, hash);
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
}

// from_chars takes no leading '+', which hand-written files may have.
const char* skipPlus(const char* b, const char* e) {
  if (e - b >= 2 && *b == '+' && b[1] != '-' && b[1] != '+') return b + 1;
  return b;
}

bool parseFloat(std::string_view word, float& out) {
  const char* e = word.data() + word.size();
  double d = 0;
  auto [p, ec] = std::from_chars(skipPlus(word.data(), e), e, d);
  if (ec != std::errc() || p != e || !std::isfinite(d) || std::fabs(d) > FLT_MAX) return false;
  out = float(d);
  return true;
}

bool parseInt(std::string_view word, int32_t& out) {
  const char* e = word.data() + word.size();
  auto [p, ec] = std::from_chars(skipPlus(word.data(), e), e, out);
  return ec == std::errc() && p == e;
}

// words[first .. first + count) as floats.
bool parseFloats(const std::vector<std::string_view>& words, size_t first, size_t count,
                 float* out) {
  if (first + count > words.size()) return false;
  for (size_t i = 0; i < count; ++i)
    if (!parseFloat(words[first + i], out[i])) return false;
  return true;
}

struct OpenClump {
  RwClump* clump;
  int32_t vertices, polygons;
};

struct ShapeReader {
  RwClump* root = nullptr;
  std::vector<OpenClump> open;
  bool closed = false;  // the top clump has seen its end
  int32_t clumps = 0;
  int64_t vertices = 0, polygons = 0;
  std::vector<int32_t> corners;
};

bool readClump(ShapeReader& r, const std::vector<std::string_view>& words) {
  int32_t tag = 0;
  if (words.size() == 3 && words[1] == "tag") {
    if (!parseInt(words[2], tag)) return false;
  } else if (words.size() != 1) {
    return false;
  }
  // One clump a file; nesting and the clump count are bounded.
  if (r.closed || r.open.size() >= kMaxDepth || r.clumps >= kMaxClumps) return false;
  RwClump* clump = rwCreateClump(0, 0);
  if (!clump) return false;
  if (!r.root) {
    r.root = clump;
  } else if (!rwAddChildToClump(r.open.back().clump, clump)) {
    rwDestroyClump(clump);
    return false;
  }
  ++r.clumps;
  r.open.push_back({clump, 0, 0});
  return words.size() == 1 || rwSetClumpTag(clump, tag) != 0;
}

bool readTransform(ShapeReader& r, const std::vector<std::string_view>& words) {
  float v[12];
  if (r.open.empty() || words.size() != 13 || !parseFloats(words, 1, 12, v)) return false;
  RwMatrix m{};
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 3; ++col) m.m[row][col] = v[row * 3 + col];
    m.m[row][3] = row == 3 ? 1.0f : 0.0f;
  }
  return rwTransformClump(r.open.back().clump, &m, RW_REPLACE) != 0;
}

// v X Y Z [n NX NY NZ] [uv U V], the optional parts each at most once.
bool readVertex(ShapeReader& r, const std::vector<std::string_view>& words) {
  if (r.open.empty()) return false;
  OpenClump& c = r.open.back();
  if (c.vertices >= kMaxClumpVertices || r.vertices >= kMaxFileVertices) return false;
  float p[3], n[3], uv[2];
  if (!parseFloats(words, 1, 3, p)) return false;
  bool hasNormal = false, hasUV = false;
  size_t i = 4;
  while (i < words.size()) {
    if (words[i] == "n" && !hasNormal) {
      if (!parseFloats(words, i + 1, 3, n)) return false;
      hasNormal = true;
      i += 4;
    } else if (words[i] == "uv" && !hasUV) {
      if (!parseFloats(words, i + 1, 2, uv)) return false;
      hasUV = true;
      i += 3;
    } else {
      return false;
    }
  }
  int32_t index = rwAddVertexToClump(c.clump, p[0], p[1], p[2]);
  if (index == 0) return false;
  ++c.vertices;
  ++r.vertices;
  if (hasNormal && !rwSetVertexNormal(c.clump, index, n[0], n[1], n[2])) return false;
  if (hasUV && !rwSetVertexUV(c.clump, index, uv[0], uv[1])) return false;
  return true;
}

// Indices name the current clump's vertices read so far.
bool readPolygon(ShapeReader& r, const std::vector<std::string_view>& words) {
  if (r.open.empty()) return false;
  OpenClump& c = r.open.back();
  if (c.polygons >= kMaxClumpPolygons || r.polygons >= kMaxFilePolygons) return false;
  size_t count = words.size() - 1;
  if (count < 3 || count > size_t(kMaxCorners)) return false;
  r.corners.resize(count);
  for (size_t i = 0; i < count; ++i) {
    int32_t index = 0;
    if (!parseInt(words[i + 1], index) || index < 1 || index > c.vertices) return false;
    r.corners[i] = index;
  }
  if (!rwAddPolygonToClump(c.clump, int(count), r.corners.data())) return false;
  ++c.polygons;
  ++r.polygons;
  return true;
}

bool readLine(ShapeReader& r, const std::vector<std::string_view>& words) {
  std::string_view key = words[0];
  float v[3];
  if (key == "clump") return readClump(r, words);
  if (key == "end") {
    if (words.size() != 1 || r.open.empty()) return false;
    r.open.pop_back();
    r.closed = r.open.empty();
    return true;
  }
  if (key == "v") return readVertex(r, words);
  if (key == "p") return readPolygon(r, words);
  if (key == "instance") {
    if (r.open.empty() || words.size() != 4 || !parseFloats(words, 1, 3, v) || r.vertices >= kMaxFileVertices)
      return false;
    ++r.vertices;  // counted with the vertices against the file's limit
    RwV3d at{v[0], v[1], v[2]};
    return rwAddClumpInstances(r.open.back().clump, 1, &at) != 0;
  }
  if (key == "transform") return readTransform(r, words);
  if (key == "surface")
    return words.size() == 4 && parseFloats(words, 1, 3, v) && rwSetSurface(v[0], v[1], v[2]);
  if (key == "color")
    return words.size() == 4 && parseFloats(words, 1, 3, v) && rwSetSurfaceColor(v[0], v[1], v[2]);
  if (key == "opacity")
    return words.size() == 2 && parseFloats(words, 1, 1, v) && rwSetSurfaceOpacity(v[0]);
  if (key == "sampling" && words.size() == 2) {
    if (words[1] == "facet") return rwSetSurfaceLightSampling(RW_FACET) != 0;
    if (words[1] == "vertex") return rwSetSurfaceLightSampling(RW_VERTEX) != 0;
  }
  return false;
}

bool readShape(FILE* file, ShapeReader& r) {
  LineSource source;
  source.file = file;
  std::string line;
  std::vector<std::string_view> words;
  for (;;) {
    int got = source.next(line);
    if (got < 0) return false;
    if (got == 0) break;
    splitWords(line, words);
    if (!words.empty() && !readLine(r, words)) return false;
  }
  return r.closed;  // an empty or truncated file has no whole clump
}

// ---------------------------------------------------------------------------
// Writing

struct ShapeWriter {
  FILE* file = nullptr;
  bool haveState = false;  // nothing written yet: the first polygon writes it all
  RwSurfaceState state{};
  std::vector<int32_t> corners;
  std::string line;
  int depth = 0;
};

// Shortest text that reads back as the same float, whatever the locale.
void putFloat(std::string& line, float value) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  line.push_back(' ');
  if (ec == std::errc()) line.append(text, end);
}

void putInt(std::string& line, int32_t value) {
  char text[16];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  line.push_back(' ');
  if (ec == std::errc()) line.append(text, end);
}

bool putLine(ShapeWriter& w) {
  w.line.push_back('\n');
  std::string indent(size_t(w.depth) * 2, ' ');
  return fputs(indent.c_str(), w.file) >= 0 && fputs(w.line.c_str(), w.file) >= 0;
}

// A line of a keyword and three coordinates: a vertex or an instance.
bool putPoint(ShapeWriter& w, const char* keyword, const RwV3d& p) {
  w.line = keyword;
  putFloat(w.line, p.x);
  putFloat(w.line, p.y);
  putFloat(w.line, p.z);
  return putLine(w);
}

bool sameColor(const RwSurfaceState& a, const RwSurfaceState& b) {
  return a.color[0] == b.color[0] && a.color[1] == b.color[1] && a.color[2] == b.color[2];
}

bool writeSurface(ShapeWriter& w, const RwSurfaceState& s) {
  const RwSurfaceState& was = w.state;
  bool all = !w.haveState;
  if (all || s.ambient != was.ambient || s.diffuse != was.diffuse || s.specular != was.specular) {
    w.line = "surface";
    putFloat(w.line, s.ambient);
    putFloat(w.line, s.diffuse);
    putFloat(w.line, s.specular);
    if (!putLine(w)) return false;
  }
  if (all || !sameColor(s, was)) {
    w.line = "color";
    for (float c : s.color) putFloat(w.line, c);
    if (!putLine(w)) return false;
  }
  if (all || s.opacity != was.opacity) {
    w.line = "opacity";
    putFloat(w.line, s.opacity);
    if (!putLine(w)) return false;
  }
  if ((all || s.lightSampling != was.lightSampling) &&
      (s.lightSampling == RW_FACET || s.lightSampling == RW_VERTEX)) {
    w.line = s.lightSampling == RW_FACET ? "sampling facet" : "sampling vertex";
    if (!putLine(w)) return false;
  }
  w.state = s;
  w.haveState = true;
  return true;
}

int writePolygon(RwPolygon* polygon, void* arg) {
  ShapeWriter& w = *static_cast<ShapeWriter*>(arg);
  int count = rwGetPolygonVertexCount(polygon);
  if (count < 1) return 0;
  w.corners.resize(size_t(count));
  RwSurfaceState s{};
  if (rwGetPolygonVertices(polygon, w.corners.data(), count) != count ||
      !rwGetPolygonSurface(polygon, &s) || !writeSurface(w, s))
    return 0;
  w.line = "p";
  for (int32_t index : w.corners) putInt(w.line, index);
  return putLine(w) ? 1 : 0;
}

bool isIdentity(const RwMatrix& m) {
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 4; ++col)
      if (m.m[row][col] != (row == col ? 1.0f : 0.0f)) return false;
  return true;
}

bool writeClump(ShapeWriter& w, const RwClump* clump) {
  // Deeper trees would write files the reader refuses.
  if (size_t(w.depth) >= kMaxDepth) return false;
  w.line = "clump";
  if (int32_t tag = rwGetClumpTag(clump)) {
    w.line += " tag";
    putInt(w.line, tag);
  }
  if (!putLine(w)) return false;
  ++w.depth;
  RwMatrix m{};
  if (!rwGetClumpMatrix(clump, &m)) return false;
  if (!isIdentity(m)) {
    w.line = "transform";
    for (int row = 0; row < 4; ++row)
      for (int col = 0; col < 3; ++col) putFloat(w.line, m.m[row][col]);
    if (!putLine(w)) return false;
  }
  int32_t vertices = rwGetClumpVertexCount(clump);
  for (int32_t i = 1; i <= vertices; ++i) {
    RwV3d p{};
    if (!rwGetClumpVertex(clump, i, &p) || !putPoint(w, "v", p)) return false;
  }
  // The walk takes a clump it may hand on as changeable; writePolygon only reads.
  if (!rwForAllPolygonsInClump(const_cast<RwClump*>(clump), writePolygon, &w)) return false;
  for (int32_t i = 0, n = rwGetClumpInstanceCount(clump); i < n; ++i) {
    RwV3d at{};
    if (!rwGetClumpInstance(clump, i, &at) || !putPoint(w, "instance", at)) return false;
  }
  for (RwClump* child = rwGetFirstChildClump(clump); child; child = rwGetNextSiblingClump(child))
    if (!writeClump(w, child)) return false;
  --w.depth;
  w.line = "end";
  return putLine(w);
}

}  // namespace

RwClump* rwReadShape(const char* file) {
  if (!file) return nullptr;
  SurfaceGuard guard;
  if (!guard.held) return nullptr;
  FILE* f = fopen(file, "rb");
  if (!f) return nullptr;
  ShapeReader r;
  bool ok = readShape(f, r);
  fclose(f);
  if (ok) return r.root;
  if (r.root) rwDestroyClump(r.root);
  return nullptr;
}

int rwWriteShape(const RwClump* clump, const char* file) {
  if (!clump || !file) return 0;
  FILE* f = fopen(file, "wb");
  if (!f) return 0;
  ShapeWriter w;
  w.file = f;
  bool ok = writeClump(w, clump);
  ok = fclose(f) == 0 && ok;
  if (!ok) remove(file);  // no half-written shape left behind
  return ok ? 1 : 0;
}
