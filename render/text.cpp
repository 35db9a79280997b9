// text.cpp — AsciiText as a clump of glyph clumps. Each glyph is a shape
// file of the library, lib/fonts/NNN.rwx beside the program (NNN the byte as
// an unsigned number), drawn one em high with its baseline at y = 0; its
// tag / 100 is its advance in ems.
#include <cstdio>
#include <string>
#include <vector>

#include "render/renderpriv.h"

namespace {

constexpr float kMissingAdvance = 0.3f;  // ems, when even the space is missing
enum { kLeft = 1, kCenter = 2, kRight = 4 };  // the reader's justification codes

// Glyphs read once per text and duplicated for repeated characters.
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
  // A clump of its own for the character, or null when its file is missing.
  RwClump* take(unsigned char code) {
    if (!tried_[code]) {
      tried_[code] = true;
      char name[16];
      std::snprintf(name, sizeof name, "%03u.rwx", unsigned(code));
      read_[code] = dir_.empty() ? nullptr : rwReadShape((dir_ + name).c_str());
    }
    RwClump* c = read_[code];
    if (!c) return nullptr;
    if (!used_[code]) {
      used_[code] = true;
      return c;
    }
    return rwDuplicateClump(c);
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

struct Glyph {
  RwClump* clump;  // null: skipped, only advances
  float advance;   // ems
};

int placeGlyph(RwClump* glyph, float size, float x, float y, const char* who) {
  RwMatrix* m = rwPushScratchMatrix();
  if (!m) return zvRenderError(who, "cannot push scratch matrix");
  int r = ZV_OK;
  if (!rwScaleMatrix(m, size, size, size, RW_REPLACE) || !rwTranslateMatrix(m, x, y, 0, RW_POSTCONCAT))
    r = zvRenderError(who, "cannot translate matrix");
  else if (!rwTransformClump(glyph, m, RW_REPLACE))
    r = zvRenderError(who, "cannot transform clump");
  if (!rwPopScratchMatrix()) r = zvRenderError(who, "cannot pop scratch matrix");
  return r;
}

// Lays out every line of the text under parent. -1 after a reported failure.
int layout(ZvText* text, RwClump* parent, const char* who) {
  const char* dir = zvSceneHooks().programDirectory ? zvSceneHooks().programDirectory() : nullptr;
  GlyphCache cache(dir);
  float size = text->font.size;
  float spacing = text->spacing;
  float space = cache.advance(' ');
  if (space < 0) space = kMissingAdvance;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text->text ? text->text : "");
  bool first = true;
  std::vector<Glyph> line;
  for (int lineNo = 0;; ++lineNo) {
    line.clear();
    float width = 0;
    for (; *s && *s != '\n'; ++s) {
      RwClump* c = cache.take(*s);
      if (!c && first) return zvRenderError(who, "cannot create ascii text");
      first = false;
      float advance = c ? float(rwGetClumpTag(c)) / 100.0f : space;
      line.push_back({c, advance});
      width += advance;
    }
    float x = text->justification == kCenter ? -width * size / 2 : text->justification == kRight ? -width * size : 0;
    float y = -float(lineNo) * size * spacing;
    for (size_t i = 0; i < line.size(); ++i) {
      Glyph& g = line[i];
      if (g.clump) {
        int r = placeGlyph(g.clump, size, x, y, who);
        if (r == ZV_OK && !rwAddChildToClump(parent, g.clump)) r = zvRenderError(who, "cannot add child to clump");
        if (r != ZV_OK) {
          // This glyph and the ones not yet placed are ours to free.
          for (size_t j = i; j < line.size(); ++j)
            if (line[j].clump) rwDestroyClump(line[j].clump);
          return ZV_FAIL;
        }
      }
      x += g.advance * size;
    }
    if (!*s) return ZV_OK;
    ++s;  // the newline
  }
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
