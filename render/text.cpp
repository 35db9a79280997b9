// text.cpp — AsciiText as a clump of glyph clumps. Each glyph is a shape
// file of the library, lib/fonts/NNN.rwx beside the program (NNN the byte as
// an unsigned number), drawn one em high with its baseline at y = 0; its
// tag / 100 is its advance in ems. Each glyph is read once a text and drawn
// as instances of that one clump, wherever the text uses it.
#include <cstdio>
#include <string>
#include <vector>

#include "render/renderpriv.h"

namespace {

constexpr float kMissingAdvance = 0.3f;  // ems, when even the space is missing
enum { kLeft = 1, kCenter = 2, kRight = 4 };  // the reader's justification codes

// Glyphs read once per text.
class GlyphCache {
 public:
  explicit GlyphCache(const char* directory) {
    if (!directory) return;
    dir_ = directory;
    if (!dir_.empty() && dir_.back() != '/') dir_ += '/';
    dir_ += "lib/fonts/";
  }
  ~GlyphCache() {
    for (int i = 0; i < 256; ++i)
      if (read_[i] && !used_[i]) rwDestroyClump(read_[i]);
  }
  // The clump of the character, handed over once; null when its file is
  // missing or it was handed over before.
  RwClump* take(unsigned char code) {
    if (!tried_[code]) {
      tried_[code] = true;
      char name[16];
      std::snprintf(name, sizeof name, "%03u.rwx", unsigned(code));
      read_[code] = dir_.empty() ? nullptr : rwReadShape((dir_ + name).c_str());
    }
    RwClump* c = read_[code];
    if (!c || used_[code]) return nullptr;
    used_[code] = true;
    return c;
  }
  float advance(unsigned char code) {
    if (!tried_[code]) {
      // Reads it without handing it out.
      RwClump* c = take(code);
      if (c) used_[code] = false;
    }
    return read_[code] ? float(rwGetClumpTag(read_[code])) / 100.0f : -1.0f;
  }

 private:
  std::string dir_;
  RwClump* read_[256] = {};
  bool tried_[256] = {};
  bool used_[256] = {};
};

// Places a glyph clump: scaled to the font size, its copies at their
// offsets in ems.
int placeGlyph(RwClump* glyph, float size, const std::vector<RwV3d>& offsets, const char* who) {
  RwMatrix* m = rwPushScratchMatrix();
  if (!m) return zvRenderError(who, "cannot push scratch matrix");
  int r = ZV_OK;
  if (!rwScaleMatrix(m, size, size, size, RW_REPLACE))
    r = zvRenderError(who, "cannot translate matrix");
  else if (!rwTransformClump(glyph, m, RW_REPLACE))
    r = zvRenderError(who, "cannot transform clump");
  else if (!rwAddClumpInstances(glyph, int(offsets.size()), offsets.data()))
    r = zvRenderError(who, "cannot place glyphs");
  if (!rwPopScratchMatrix()) r = zvRenderError(who, "cannot pop scratch matrix");
  return r;
}

// Lays out every line of the text under parent: one child a distinct
// glyph, drawn at each place the glyph stands. A text of a hundred thousand
// characters is then a hundred or so clumps and a list of offsets rather
// than a hundred thousand copies of outlines. -1 after a reported failure.
int layout(ZvText* text, RwClump* parent, const char* who) {
  const char* dir = zvSceneHooks().programDirectory ? zvSceneHooks().programDirectory() : nullptr;
  GlyphCache cache(dir);
  float spacing = text->spacing;
  float space = cache.advance(' ');
  if (space < 0) space = kMissingAdvance;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text->text ? text->text : "");
  // Per byte: its glyph clump and where it goes, in ems; the bytes in the
  // order first seen, so the children come in the order of the text.
  RwClump* glyph[256] = {};
  float advance[256];
  std::vector<RwV3d> places[256];
  std::vector<unsigned char> seen;
  bool asked[256] = {};
  auto release = [&] {
    for (unsigned char code : seen) rwDestroyClump(glyph[code]);
  };
  bool first = true;
  for (int lineNo = 0;; ++lineNo) {
    // The line's width decides where it starts, so it is measured first.
    float width = 0;
    const unsigned char* end = s;
    for (; *end && *end != '\n'; ++end) {
      unsigned char code = *end;
      if (!asked[code]) {
        asked[code] = true;
        glyph[code] = cache.take(code);
        if (glyph[code]) {
          seen.push_back(code);
          advance[code] = float(rwGetClumpTag(glyph[code])) / 100.0f;
        }
      }
      if (!glyph[code] && first) {
        release();
        return zvRenderError(who, "cannot create ascii text");
      }
      first = false;
      width += glyph[code] ? advance[code] : space;
    }
    float x = text->justification == kCenter ? -width / 2 : text->justification == kRight ? -width : 0;
    float y = -float(lineNo) * spacing;
    for (; s != end; ++s) {
      unsigned char code = *s;
      if (!glyph[code]) {
        x += space;
        continue;
      }
      places[code].push_back({x, y, 0});
      x += advance[code];
    }
    if (!*s) break;
    ++s;  // the newline
  }
  for (size_t i = 0; i < seen.size(); ++i) {
    unsigned char code = seen[i];
    int r = placeGlyph(glyph[code], text->font.size, places[code], who);
    if (r == ZV_OK && !rwAddChildToClump(parent, glyph[code])) r = zvRenderError(who, "cannot add child to clump");
    if (r != ZV_OK) {
      // This glyph and the ones not yet placed are ours to free.
      for (size_t j = i; j < seen.size(); ++j) rwDestroyClump(glyph[seen[j]]);
      return ZV_FAIL;
    }
  }
  return ZV_OK;
}

}  // namespace

int zvRwSetAsciiText(ZvObj* object) {
  const char* who = "zvRwSetAsciiText()";
  if (!object || !object->leaf || object->leaf->type != ZV_LEAF_TEXT) return ZV_FAIL;
  auto* text = static_cast<ZvText*>(object->leaf);
  RwClump* parent = rwCreateClump(0, 0);
  if (!parent) return zvRenderError(who, "cannot create clump");
  if (layout(text, parent, who) != ZV_OK) {
    rwDestroyClump(parent);
    return ZV_FAIL;
  }
  return zvRenderFinishShape(text, parent, "zvRwSetAscii()", nullptr, true, "cannot add ascii to the world");
}
