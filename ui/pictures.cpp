// pictures.cpp — the pictures on the toolbar and navigation pad buttons.
// They are drawn here rather than loaded: each symbol is a few polygons and
// circles laid out in a unit square, rasterised with 4x4 supersampling onto
// a bevelled button face, so the browser ships no image files and every
// state of a button is the same symbol in a different light.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "ui/ui.h"

namespace {

constexpr float kPi = 3.14159265f;

struct Point {
  float x, y;
};
// A circle when the outline is empty. The parts of one shape are united
// before coverage is counted, so overlaps leave no seams.
struct Part {
  std::vector<Point> outline;
  Point centre;
  float radius;
};
using Shape = std::vector<Part>;
struct Layer {
  Shape shape;
  float ink;  // 1 paints the symbol, 0 cuts it away again
};
using Symbol = std::vector<Layer>;

Part polygon(std::initializer_list<Point> points) { return Part{points, {0, 0}, 0}; }
Part rect(float x0, float y0, float x1, float y1) { return polygon({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}); }
Part circle(float x, float y, float r) { return Part{{}, {x, y}, r}; }

// A thick polyline; round joins keep the bends from cracking open.
void addBand(Shape& shape, const std::vector<Point>& path, float width) {
  float half = width / 2;
  for (size_t i = 0; i + 1 < path.size(); ++i) {
    Point a = path[i], b = path[i + 1];
    float dx = b.x - a.x, dy = b.y - a.y, length = std::hypot(dx, dy);
    if (length <= 0) continue;
    float nx = -dy / length * half, ny = dx / length * half;
    shape.push_back(polygon({{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}}));
    if (i > 0) shape.push_back(circle(a.x, a.y, half));
  }
}

// Degrees, with y down: -90 is straight up.
void addArc(std::vector<Point>& path, Point c, float r, float from, float to, int steps) {
  for (int i = 0; i <= steps; ++i) {
    float a = (from + (to - from) * float(i) / float(steps)) * kPi / 180;
    path.push_back({c.x + r * std::cos(a), c.y + r * std::sin(a)});
  }
}

// An eye's outline: two parabolic lids meeting in points at x = +-a.
Part lens(float cy, float a, float h) {
  Part p{{}, {0, 0}, 0};
  for (int i = 0; i <= 16; ++i) {
    float t = -1 + float(i) / 8;
    p.outline.push_back({a * t, cy - h * (1 - t * t)});
  }
  for (int i = 15; i > 0; --i) {
    float t = -1 + float(i) / 8;
    p.outline.push_back({a * t, cy + h * (1 - t * t)});
  }
  return p;
}

// Symbols in a square from -1 to 1, y down. Mirror images come from the
// frame they are drawn in, so a pair cannot drift apart.
Symbol arrowLeft() {
  return {{{polygon({{-0.95f, 0}, {-0.1f, -0.8f}, {-0.1f, -0.3f}, {0.9f, -0.3f}, {0.9f, 0.3f}, {-0.1f, 0.3f}, {-0.1f, 0.8f}})}, 1}};
}

Symbol house() {
  return {{{polygon({{0, -0.95f}, {0.95f, -0.05f}, {-0.95f, -0.05f}}), rect(-0.62f, -0.15f, 0.62f, 0.9f),
            rect(0.38f, -0.85f, 0.62f, -0.4f)},
           1},
          {{rect(-0.17f, 0.35f, 0.17f, 0.9f)}, 0}};
}

Symbol undoArrow() {
  std::vector<Point> path{{-0.5f, 0.62f}};
  addArc(path, {0.1f, 0.05f}, 0.57f, 90, -90, 12);
  path.push_back({-0.3f, -0.52f});
  Layer band{{polygon({{-0.95f, -0.52f}, {-0.3f, -0.95f}, {-0.3f, -0.09f}})}, 1};
  addBand(band.shape, path, 0.28f);
  return {band};
}

Symbol ribbon() {
  return {{{polygon({{-0.55f, -0.95f}, {0.55f, -0.95f}, {0.55f, 0.95f}, {0, 0.45f}, {-0.55f, 0.95f}})}, 1},
          {{rect(-0.25f, -0.6f, 0.25f, -0.45f)}, 0}};
}

Symbol labelBubble() {
  Layer bubble{{rect(-0.95f, -0.5f, 0.95f, 0.1f), rect(-0.65f, -0.8f, 0.65f, 0.4f),
                circle(-0.65f, -0.5f, 0.3f), circle(0.65f, -0.5f, 0.3f), circle(-0.65f, 0.1f, 0.3f),
                circle(0.65f, 0.1f, 0.3f), polygon({{-0.5f, 0.3f}, {-0.05f, 0.3f}, {-0.65f, 0.95f}})},
               1};
  Layer text{{rect(-0.64f, -0.33f, -0.22f, -0.07f), rect(-0.08f, -0.33f, 0.18f, -0.07f),
              rect(0.32f, -0.33f, 0.64f, -0.07f)},
             0};
  return {bubble, text};
}

Symbol jumpingEye() {
  return {{{lens(0.3f, 0.98f, 0.52f), polygon({{0, -1}, {0.36f, -0.6f}, {-0.36f, -0.6f}}),
            rect(-0.1f, -0.65f, 0.1f, -0.34f)},
           1},
          {{lens(0.3f, 0.72f, 0.3f)}, 0},
          {{circle(0, 0.3f, 0.3f)}, 1},
          {{circle(0, 0.3f, 0.1f)}, 0}};
}

Symbol octagon() {
  Part p{{}, {0, 0}, 0};
  for (int i = 0; i < 8; ++i) {
    float a = (22.5f + 45 * float(i)) * kPi / 180;
    p.outline.push_back({0.92f * std::cos(a), 0.92f * std::sin(a)});
  }
  return {{{p}, 1}, {{rect(-0.55f, -0.14f, 0.55f, 0.14f)}, 0}};
}

Symbol turnLeft() {
  std::vector<Point> path{{0.55f, 0.95f}, {0.55f, 0.05f}};
  addArc(path, {-0.05f, 0.05f}, 0.6f, 0, -90, 8);
  path.push_back({-0.3f, -0.55f});
  Layer band{{polygon({{-0.95f, -0.55f}, {-0.25f, -1}, {-0.25f, -0.1f}})}, 1};
  addBand(band.shape, path, 0.36f);
  return {band};
}

Symbol slideLeft() {
  return {{{polygon({{-0.95f, 0}, {-0.15f, -0.8f}, {-0.15f, 0.8f}}), rect(-0.2f, -0.25f, 0.4f, 0.25f),
            rect(0.6f, -0.8f, 0.9f, 0.8f)},
           1}};
}

Symbol triangleUp() { return {{{polygon({{0, -0.85f}, {0.9f, 0.65f}, {-0.9f, 0.65f}})}, 1}}; }

enum { NORMAL, PRESSED, DISABLED, ON, ON_PRESSED };
struct Design {
  Symbol (*draw)();
  bool mirrored, upsideDown, pad;
};
const Design designs[] = {
    {arrowLeft, false, false, false},  {arrowLeft, true, false, false},   {house, false, false, false},
    {undoArrow, false, false, false},  {ribbon, false, false, false},     {labelBubble, false, false, false},
    {jumpingEye, false, false, false}, {octagon, false, false, false},    {turnLeft, false, false, true},
    {slideLeft, false, false, true},   {triangleUp, false, false, true},  {triangleUp, false, true, true},
    {slideLeft, true, false, true},    {turnLeft, true, false, true},
};
struct Picture {
  const char* name;
  int design;
  int state;
};
const Picture pictures[] = {
    {"BAK1", 0, NORMAL}, {"BAK2", 0, PRESSED},   {"BAK3", 0, DISABLED},   {"FWD1", 1, NORMAL},
    {"FWD2", 1, PRESSED}, {"FWD3", 1, DISABLED}, {"HOM1", 2, NORMAL},     {"HOM2", 2, PRESSED},
    {"HOM3", 2, DISABLED}, {"UND1", 3, NORMAL},  {"UND2", 3, PRESSED},    {"UND3", 3, DISABLED},
    {"BMK1", 4, NORMAL}, {"BMK2", 4, PRESSED},   {"BMK3", 4, DISABLED},   {"SCT1", 5, NORMAL},
    {"SCT2", 5, PRESSED}, {"SCT3", 5, DISABLED}, {"SCT4", 5, ON},         {"SCT5", 5, ON_PRESSED},
    {"JMP1", 6, NORMAL}, {"JMP2", 6, PRESSED},   {"JMP3", 6, DISABLED},   {"JMP4", 6, ON},
    {"JMP5", 6, ON_PRESSED}, {"STP1", 7, NORMAL}, {"STP2", 7, PRESSED},   {"STP3", 7, DISABLED},
    {"LT1", 8, NORMAL},  {"LT3", 8, PRESSED},    {"LW1", 9, NORMAL},      {"LW3", 9, PRESSED},
    {"FW1", 10, NORMAL}, {"FW3", 10, PRESSED},   {"BK1", 11, NORMAL},     {"BK3", 11, PRESSED},
    {"RW1", 12, NORMAL}, {"RW3", 12, PRESSED},   {"RT1", 13, NORMAL},     {"RT3", 13, PRESSED},
};

const Picture* findPicture(const char* name) {
  if (!name) return nullptr;
  for (const Picture& p : pictures)
    if (std::strcmp(p.name, name) == 0) return &p;
  return nullptr;
}

void pictureSize(const Picture& p, int* width, int* height) {
  bool pad = designs[p.design].pad;
  *width = pad ? 20 : 41;
  *height = pad ? 15 : 34;
}

// Where the unit square lands in pixels; a negative scale mirrors.
struct Frame {
  float cx, cy, sx, sy;
  Point map(Point p) const { return {cx + sx * p.x, cy + sy * p.y}; }
};

bool insidePolygon(const std::vector<Point>& p, float x, float y) {
  int winding = 0;
  for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
    const Point& a = p[j];
    const Point& b = p[i];
    float side = (b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y);
    if (a.y <= y) {
      if (b.y > y && side > 0) ++winding;
    } else if (b.y <= y && side < 0) {
      --winding;
    }
  }
  return winding != 0;
}

bool insideShape(const Shape& shape, float x, float y) {
  for (const Part& part : shape) {
    if (part.outline.empty()) {
      float dx = x - part.centre.x, dy = y - part.centre.y;
      if (dx * dx + dy * dy <= part.radius * part.radius) return true;
    } else if (insidePolygon(part.outline, x, y)) {
      return true;
    }
  }
  return false;
}

// Blends one layer's coverage into the symbol's: the fraction of the 16
// samples in a pixel that fall inside the shape takes the layer's ink.
void paintLayer(std::vector<float>& cover, int w, int h, const Frame& frame, const Layer& layer) {
  Shape shape;
  float x0 = float(w), y0 = float(h), x1 = 0, y1 = 0;
  auto grow = [&](Point p, float r) {
    x0 = std::min(x0, p.x - r), y0 = std::min(y0, p.y - r);
    x1 = std::max(x1, p.x + r), y1 = std::max(y1, p.y + r);
  };
  for (const Part& part : layer.shape) {
    Part mapped{{}, frame.map(part.centre), part.radius * std::fabs(frame.sx)};
    for (Point p : part.outline) mapped.outline.push_back(frame.map(p));
    if (mapped.outline.empty()) grow(mapped.centre, mapped.radius);
    for (Point p : mapped.outline) grow(p, 0);
    shape.push_back(std::move(mapped));
  }
  int left = std::max(0, int(std::floor(x0))), right = std::min(w, int(std::ceil(x1)));
  int top = std::max(0, int(std::floor(y0))), bottom = std::min(h, int(std::ceil(y1)));
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) {
      int hits = 0;
      for (int i = 0; i < 16; ++i)
        hits += insideShape(shape, float(x) + (float(i % 4) + 0.5f) / 4, float(y) + (float(i / 4) + 0.5f) / 4);
      if (!hits) continue;
      float a = float(hits) / 16;
      float& c = cover[size_t(y * w + x)];
      c = c * (1 - a) + layer.ink * a;
    }
}

struct Rgb {
  float r, g, b;
};
Rgb mix(Rgb a, Rgb b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }
Rgb scale(Rgb a, float f) { return {a.r * f, a.g * f, a.b * f}; }

struct Look {
  Rgb face, light, dark, ink;
  bool sunk, glow, shadow;
};
const Look looks[] = {
    {{46, 48, 54}, {150, 154, 164}, {6, 6, 8}, {226, 230, 238}, false, false, true},
    {{36, 37, 42}, {150, 154, 164}, {6, 6, 8}, {226, 230, 238}, true, false, true},
    {{40, 41, 46}, {28, 28, 32}, {28, 28, 32}, {86, 88, 94}, false, false, false},
    {{64, 48, 28}, {206, 164, 100}, {10, 7, 4}, {255, 188, 60}, false, true, true},
    {{52, 39, 22}, {206, 164, 100}, {10, 7, 4}, {255, 188, 60}, true, true, true},
};

// The button under the symbol: a face darkening slightly towards the
// bottom, framed by a bevel whose outer ring is the stronger one.
Rgb buttonPixel(const Look& look, int x, int y, int w, int h, int bevel) {
  int ring = std::min({x, y, w - 1 - x, h - 1 - y});
  Rgb face = scale(look.face, 1.08f - 0.16f * float(y) / float(h));
  if (ring >= bevel) return face;
  bool lit = (x == ring || y == ring) && x < w - 1 - ring && y < h - 1 - ring;
  if (look.sunk) lit = !lit;
  Rgb edge = lit ? look.light : look.dark;
  return ring == 0 ? edge : mix(edge, face, 0.5f);
}

float coverAt(const std::vector<float>& cover, int w, int h, int x, int y) {
  return x < 0 || y < 0 || x >= w || y >= h ? 0 : cover[size_t(y * w + x)];
}

// A soft halo around a switched-on symbol: the coverage averaged over 5x5.
float glowAt(const std::vector<float>& cover, int w, int h, int x, int y) {
  float sum = 0;
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) sum += coverAt(cover, w, h, x + dx, y + dy);
  return sum / 25;
}

uint8_t channel(float v) { return uint8_t(std::clamp(v, 0.0f, 255.0f) + 0.5f); }

}  // namespace

int zvButtonPictureSize(const char* name, int* width, int* height) {
  const Picture* p = findPicture(name);
  if (!p) return -1;
  int w, h;
  pictureSize(*p, &w, &h);
  if (width) *width = w;
  if (height) *height = h;
  return 0;
}

int zvDrawButtonPicture(const char* name, uint8_t* rgba, int width, int height, int stride) {
  const Picture* p = findPicture(name);
  if (!p || !rgba) return -1;
  int w, h;
  pictureSize(*p, &w, &h);
  if (width < w || height < h || int64_t(stride) < int64_t(width) * 4) return -1;

  const Design& design = designs[p->design];
  const Look& look = looks[p->state];
  int bevel = design.pad ? 1 : 2;
  float unit = design.pad ? 5.5f : 10.5f;
  float shift = look.sunk ? 1 : 0;
  Frame frame{float(w) / 2 + shift, float(h) / 2 + shift, design.mirrored ? -unit : unit,
              design.upsideDown ? -unit : unit};
  std::vector<float> cover(size_t(w * h), 0.0f);
  for (const Layer& layer : design.draw()) paintLayer(cover, w, h, frame, layer);

  const Rgb black{0, 0, 0}, amber{255, 150, 30};
  for (int y = 0; y < h; ++y) {
    uint8_t* row = rgba + size_t(y) * size_t(stride);
    for (int x = 0; x < w; ++x) {
      Rgb c = buttonPixel(look, x, y, w, h, bevel);
      if (look.glow) c = mix(c, amber, 0.6f * glowAt(cover, w, h, x, y));
      if (look.shadow) c = mix(c, black, 0.6f * coverAt(cover, w, h, x - 1, y - 1));
      c = mix(c, look.ink, cover[size_t(y * w + x)]);
      uint8_t* px = row + 4 * x;
      px[0] = channel(c.r), px[1] = channel(c.g), px[2] = channel(c.b), px[3] = 255;
    }
  }
  return 0;
}
