// mkglyphs.cpp — makes the glyph shape files that ascii text is built from.
//
//   mkglyphs FONT OUTDIR
//
// Writes OUTDIR/NNN.rwx for every byte 32..255, read as ISO-8859-1 (so the
// byte is the Unicode code point). Each file is one clump in the rendering
// library's shape-file format: the glyph's filled outline as triangles, flat
// in z = 0 and facing +z, in units of the em with the baseline at y = 0, and
// `clump tag N` with N the advance in hundredths of an em. Glyphs without an
// outline (space) are a clump with no polygons; bytes the font has no glyph
// for (the control codes 127..159) draw nothing and take no room.
//
// A host tool run at build time; it writes the text itself rather than
// going through the library, so glyphs can be made before the library is.
#include <GL/glu.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

// Curves are flattened to within this distance of the true outline; a
// thousandth of an em is below a pixel at any size text is read at.
constexpr double kTolerance = 1.0 / 1000;
// Positions are written, and vertices merged, on a grid this fine (em units).
constexpr double kGrid = 1.0 / 10000;
constexpr int kMaxSteps = 64;

struct Point {
  double x, y;
};

// A contour point, or one the tessellator made where edges cross.
struct TessVertex {
  double xyz[3];
};

struct Glyph {
  double em = 1;  // font units per em
  std::vector<std::vector<Point>> contours;
  std::deque<TessVertex> points;  // stable addresses for the tessellator
  std::vector<const TessVertex*> corners;  // three a triangle
  bool failed = false;
};

Point toEm(const Glyph& g, const FT_Vector* v) { return {v->x / g.em, v->y / g.em}; }

int moveTo(const FT_Vector* to, void* user) {
  Glyph& g = *static_cast<Glyph*>(user);
  g.contours.emplace_back();
  g.contours.back().push_back(toEm(g, to));
  return 0;
}

int lineTo(const FT_Vector* to, void* user) {
  Glyph& g = *static_cast<Glyph*>(user);
  if (g.contours.empty()) return 1;
  g.contours.back().push_back(toEm(g, to));
  return 0;
}

// Uniform steps, as many as keep the chord within kTolerance: for a curve
// whose second derivative is at most D the chord error of a step h is
// D h^2 / 8.
int stepsFor(double secondDerivative) {
  double n = std::ceil(std::sqrt(secondDerivative / (8 * kTolerance)));
  return std::clamp(int(n), 1, kMaxSteps);
}

int conicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  Glyph& g = *static_cast<Glyph*>(user);
  if (g.contours.empty()) return 1;
  Point p0 = g.contours.back().back(), p1 = toEm(g, control), p2 = toEm(g, to);
  double dx = p0.x - 2 * p1.x + p2.x, dy = p0.y - 2 * p1.y + p2.y;
  int n = stepsFor(2 * std::hypot(dx, dy));
  for (int i = 1; i <= n; ++i) {
    double t = double(i) / n, s = 1 - t;
    g.contours.back().push_back({s * s * p0.x + 2 * s * t * p1.x + t * t * p2.x,
                                 s * s * p0.y + 2 * s * t * p1.y + t * t * p2.y});
  }
  return 0;
}

int cubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  Glyph& g = *static_cast<Glyph*>(user);
  if (g.contours.empty()) return 1;
  Point p0 = g.contours.back().back(), p1 = toEm(g, c1), p2 = toEm(g, c2), p3 = toEm(g, to);
  double a = std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y);
  double b = std::hypot(p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y);
  int n = stepsFor(6 * std::max(a, b));
  for (int i = 1; i <= n; ++i) {
    double t = double(i) / n, s = 1 - t;
    double k0 = s * s * s, k1 = 3 * s * s * t, k2 = 3 * s * t * t, k3 = t * t * t;
    g.contours.back().push_back({k0 * p0.x + k1 * p1.x + k2 * p2.x + k3 * p3.x,
                                 k0 * p0.y + k1 * p1.y + k2 * p2.y + k3 * p3.y});
  }
  return 0;
}

// The tessellator's callbacks. With an edge-flag callback set it hands out
// plain triangles only, never fans or strips.
void GLAPIENTRY onBegin(GLenum, void*) {}
void GLAPIENTRY onEdgeFlag(GLboolean, void*) {}
void GLAPIENTRY onEnd(void*) {}

void GLAPIENTRY onVertex(void* vertex, void* user) {
  static_cast<Glyph*>(user)->corners.push_back(static_cast<const TessVertex*>(vertex));
}

void GLAPIENTRY onCombine(GLdouble xyz[3], void*[4], GLfloat[4], void** out, void* user) {
  Glyph& g = *static_cast<Glyph*>(user);
  g.points.push_back({{xyz[0], xyz[1], xyz[2]}});
  *out = &g.points.back();
}

void GLAPIENTRY onError(GLenum, void* user) { static_cast<Glyph*>(user)->failed = true; }

template <typename F>
_GLUfuncptr callback(F* fn) {
  return reinterpret_cast<_GLUfuncptr>(fn);
}

bool tessellate(Glyph& g, bool evenOdd) {
  GLUtesselator* tess = gluNewTess();
  if (!tess) return false;
  gluTessCallback(tess, GLU_TESS_BEGIN_DATA, callback(onBegin));
  gluTessCallback(tess, GLU_TESS_EDGE_FLAG_DATA, callback(onEdgeFlag));
  gluTessCallback(tess, GLU_TESS_VERTEX_DATA, callback(onVertex));
  gluTessCallback(tess, GLU_TESS_END_DATA, callback(onEnd));
  gluTessCallback(tess, GLU_TESS_COMBINE_DATA, callback(onCombine));
  gluTessCallback(tess, GLU_TESS_ERROR_DATA, callback(onError));
  gluTessProperty(tess, GLU_TESS_WINDING_RULE,
                  evenOdd ? GLU_TESS_WINDING_ODD : GLU_TESS_WINDING_NONZERO);
  gluTessNormal(tess, 0, 0, 1);
  gluTessBeginPolygon(tess, &g);
  for (const std::vector<Point>& contour : g.contours) {
    if (contour.size() < 3) continue;
    gluTessBeginContour(tess);
    for (const Point& p : contour) {
      g.points.push_back({{p.x, p.y, 0}});
      gluTessVertex(tess, g.points.back().xyz, &g.points.back());
    }
    gluTessEndContour(tess);
  }
  gluTessEndPolygon(tess);
  gluDeleteTess(tess);
  return !g.failed && g.corners.size() % 3 == 0;
}

bool sameOnGrid(const Point& a, const Point& b) {
  return std::lround(a.x / kGrid) == std::lround(b.x / kGrid) &&
         std::lround(a.y / kGrid) == std::lround(b.y / kGrid);
}

// Drops the closing point FreeType repeats and steps that round to nothing.
void tidyContours(Glyph& g) {
  for (std::vector<Point>& contour : g.contours) {
    std::vector<Point> kept;
    for (const Point& p : contour)
      if (kept.empty() || !sameOnGrid(p, kept.back())) kept.push_back(p);
    while (kept.size() > 1 && sameOnGrid(kept.front(), kept.back())) kept.pop_back();
    contour = std::move(kept);
  }
}

// A grid position as the shortest decimal that names it.
std::string gridText(long units) {
  char text[48];
  snprintf(text, sizeof text, "%.4f", double(units) * kGrid);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

// The shape-file text of a glyph: vertices merged on the grid, triangles
// counter-clockwise seen from +z, those with no area left out.
std::string shapeText(const Glyph& g, const char* font, unsigned code, long advanceTag) {
  std::map<std::pair<long, long>, int> indexOf;
  std::vector<std::pair<long, long>> vertices;
  std::vector<int> triangles;
  for (size_t i = 0; i + 2 < g.corners.size(); i += 3) {
    int t[3];
    std::pair<long, long> q[3];
    for (int k = 0; k < 3; ++k) {
      const TessVertex* v = g.corners[i + k];
      q[k] = {std::lround(v->xyz[0] / kGrid), std::lround(v->xyz[1] / kGrid)};
      auto [it, added] = indexOf.emplace(q[k], int(vertices.size()) + 1);
      if (added) vertices.push_back(q[k]);
      t[k] = it->second;
    }
    long long cross = (long long)(q[1].first - q[0].first) * (q[2].second - q[0].second) -
                      (long long)(q[1].second - q[0].second) * (q[2].first - q[0].first);
    if (cross == 0) continue;
    if (cross < 0) std::swap(t[1], t[2]);
    triangles.insert(triangles.end(), t, t + 3);
  }
  std::string out;
  char line[160];
  snprintf(line, sizeof line, "# U+%04X from %.100s\nclump tag %ld\n", code, font, advanceTag);
  out += line;
  // Vertices only triangles use: a merged sliver can leave one unused.
  std::vector<int> renumber(vertices.size() + 1, 0);
  int used = 0;
  for (int index : triangles)
    if (renumber[size_t(index)] == 0) renumber[size_t(index)] = -1;
  for (size_t i = 1; i <= vertices.size(); ++i) {
    if (renumber[i] == 0) continue;
    renumber[i] = ++used;
    out += "v " + gridText(vertices[i - 1].first) + " " + gridText(vertices[i - 1].second) + " 0\n";
  }
  for (size_t i = 0; i < triangles.size(); i += 3) {
    snprintf(line, sizeof line, "p %d %d %d\n", renumber[size_t(triangles[i])],
             renumber[size_t(triangles[i + 1])], renumber[size_t(triangles[i + 2])]);
    out += line;
  }
  out += "end\n";
  return out;
}

bool writeFile(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  return fclose(f) == 0 && ok;
}

// 0 on success; prints why not otherwise.
int makeGlyph(FT_Face face, unsigned code, const std::string& dir) {
  Glyph g;
  g.em = face->units_per_EM;
  long tag = 0;
  FT_UInt index = FT_Get_Char_Index(face, code);
  if (index != 0) {
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) ||
        face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
      fprintf(stderr, "mkglyphs: glyph U+%04X cannot be loaded as an outline\n", code);
      return 1;
    }
    tag = std::lround(double(face->glyph->metrics.horiAdvance) / g.em * 100);
    FT_Outline_Funcs funcs = {moveTo, lineTo, conicTo, cubicTo, 0, 0};
    FT_Outline* outline = &face->glyph->outline;
    if (FT_Outline_Decompose(outline, &funcs, &g)) {
      fprintf(stderr, "mkglyphs: the outline of U+%04X is malformed\n", code);
      return 1;
    }
    tidyContours(g);
    if (!tessellate(g, (outline->flags & FT_OUTLINE_EVEN_ODD_FILL) != 0)) {
      fprintf(stderr, "mkglyphs: the outline of U+%04X cannot be tessellated\n", code);
      return 1;
    }
  }
  char name[16];
  snprintf(name, sizeof name, "/%03u.rwx", code);
  const char* font = face->family_name ? face->family_name : "?";
  if (!writeFile(dir + name, shapeText(g, font, code, tag))) {
    fprintf(stderr, "mkglyphs: cannot write %s%s\n", dir.c_str(), name);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: mkglyphs FONT OUTDIR\n");
    return 2;
  }
  FT_Library library;
  if (FT_Init_FreeType(&library)) {
    fprintf(stderr, "mkglyphs: FreeType cannot start\n");
    return 1;
  }
  FT_Face face;
  if (FT_New_Face(library, argv[1], 0, &face)) {
    fprintf(stderr, "mkglyphs: %s is not a font FreeType reads\n", argv[1]);
    FT_Done_FreeType(library);
    return 1;
  }
  int failed = 0;
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0 ||
      FT_Select_Charmap(face, FT_ENCODING_UNICODE)) {
    fprintf(stderr, "mkglyphs: %s is not an outline font with a Unicode map\n", argv[1]);
    failed = 1;
  }
  for (unsigned code = 32; code <= 255 && !failed; ++code) failed = makeGlyph(face, code, argv[2]);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return failed;
}
