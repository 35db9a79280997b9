// text.cpp — fonts for what is drawn over the view: a Windows face name is
// turned into a fontconfig request (the faces worlds name are not installed
// here), the match is opened with FreeType, and glyphs are blended straight
// into the camera image.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "ui/ui.h"

struct ZvFontFace {
  FT_Face face;
  int16_t advance[256];  // -1 until measured
};

namespace {

FT_Library library;
int libraryUsers;

std::string lower(const char* s) {
  std::string out(s ? s : "");
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Fixed-pitch faces become a monospace, everything else a sans.
bool findFontFile(const char* faceName, std::string* file, int* index) {
  std::string name = lower(faceName);
  bool mono = name.find("courier") != std::string::npos || name.find("fixedsys") != std::string::npos ||
              name.find("mono") != std::string::npos || name.find("terminal") != std::string::npos;
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return false;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(mono ? "monospace" : "sans-serif"));
  if (name.find("italic") != std::string::npos) FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ITALIC);
  if (name.find("bold") != std::string::npos) FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_BOLD);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return false;
  FcChar8* path = nullptr;
  int i = 0;
  bool ok = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path;
  if (ok) {
    *file = reinterpret_cast<const char*>(path);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &i) != FcResultMatch) i = 0;
    *index = i;
  }
  FcPatternDestroy(match);
  return ok;
}

void releaseLibrary() {
  if (--libraryUsers == 0) {
    FT_Done_FreeType(library);
    library = nullptr;
  }
}

// A code point from a UTF-8 sequence of the given length; a lone byte is
// taken as Latin-1, as the worlds' own 8-bit texts are.
uint32_t decode(const unsigned char* s, int length) {
  if (length == 1) return s[0];
  uint32_t c = s[0] & (0x7f >> length);
  for (int i = 1; i < length; ++i) c = (c << 6) | (s[i] & 0x3f);
  return c;
}

int advanceOf(const ZvTextFont* font, uint32_t code) {
  ZvFontFace* f = font->face;
  if (code < 256 && f->advance[code] >= 0) return f->advance[code];
  int advance = 0;
  if (FT_Load_Char(f->face, code, FT_LOAD_DEFAULT) == 0) advance = int(f->face->glyph->advance.x >> 6);
  if (code < 256) f->advance[code] = int16_t(std::clamp(advance, 0, 32767));
  return advance;
}

void blendPixel(uint8_t* p, uint32_t color, unsigned coverage) {
  const unsigned rgb[3] = {(color >> 16) & 0xff, (color >> 8) & 0xff, color & 0xff};
  for (int i = 0; i < 3; ++i) p[i] = uint8_t((p[i] * (255 - coverage) + rgb[i] * coverage + 127) / 255);
}

}  // namespace

int zvCharacterLength(const char* text, int left) {
  if (left <= 0) return 0;
  auto c = static_cast<unsigned char>(text[0]);
  int length = c < 0x80 ? 1 : c >= 0xf0 && c < 0xf8 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 1;
  if (length > left) return 1;
  for (int i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80) return 1;
  return length;
}

ZvTextFont* zvNewFont(const char* faceName, int height, uint32_t background, uint32_t textColor, uint32_t flags) {
  if (height < 1 || height > 512) return nullptr;
  std::string file;
  int index = 0;
  if (!findFontFile(faceName, &file, &index)) return nullptr;
  if (libraryUsers == 0 && FT_Init_FreeType(&library) != 0) return nullptr;
  ++libraryUsers;
  FT_Face face = nullptr;
  if (FT_New_Face(library, file.c_str(), index, &face) != 0 || FT_Set_Pixel_Sizes(face, 0, FT_UInt(height)) != 0) {
    if (face) FT_Done_Face(face);
    releaseLibrary();
    return nullptr;
  }
  auto* font = static_cast<ZvTextFont*>(zvMalloc(sizeof(ZvTextFont)));
  auto* f = static_cast<ZvFontFace*>(zvMalloc(sizeof(ZvFontFace)));
  if (!font || !f) {
    zvFree(font);
    zvFree(f);
    FT_Done_Face(face);
    releaseLibrary();
    return nullptr;
  }
  f->face = face;
  std::fill(std::begin(f->advance), std::end(f->advance), int16_t(-1));
  font->face = f;
  font->height = height;
  font->ascent = int(face->size->metrics.ascender >> 6);
  font->lineHeight = std::max(1, int((face->size->metrics.height + 63) >> 6));
  font->background = background & 0xffffff;
  font->textColor = textColor & 0xffffff;
  font->flags = flags;
  return font;
}

void zvDeleteFont(ZvTextFont* font) {
  if (!font) return;
  FT_Done_Face(font->face->face);
  zvFree(font->face);
  zvFree(font);
  releaseLibrary();
}

int zvFontTextWidth(const ZvTextFont* font, const char* text, int count) {
  if (!font || !text) return 0;
  int width = 0;
  for (int i = 0; i < count;) {
    int n = zvCharacterLength(text + i, count - i);
    width += advanceOf(font, decode(reinterpret_cast<const unsigned char*>(text + i), n));
    i += n;
  }
  return width;
}

void zvFontDrawText(const ZvTextFont* font, RwImage* image, int x, int y, const char* text, int count, uint32_t color) {
  if (!font || !image || !image->pixels || !text || image->stride < 4 * image->width) return;
  FT_Face face = font->face->face;
  int penX = x, baseline = y + font->ascent;
  for (int i = 0; i < count;) {
    int n = zvCharacterLength(text + i, count - i);
    uint32_t code = decode(reinterpret_cast<const unsigned char*>(text + i), n);
    i += n;
    if (penX >= image->width) break;
    if (FT_Load_Char(face, code, FT_LOAD_RENDER) != 0) continue;
    FT_GlyphSlot g = face->glyph;
    const FT_Bitmap& bm = g->bitmap;
    if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
      int left = penX + g->bitmap_left, top = baseline - g->bitmap_top;
      for (int row = 0; row < int(bm.rows); ++row) {
        int py = top + row;
        if (py < 0 || py >= image->height) continue;
        uint8_t* line = image->pixels + size_t(py) * size_t(image->stride);
        const unsigned char* src = bm.buffer + row * bm.pitch;
        for (int col = 0; col < int(bm.width); ++col) {
          int px = left + col;
          if (px < 0 || px >= image->width || src[col] == 0) continue;
          blendPixel(line + 4 * px, color, src[col]);
        }
      }
    }
    penX += int(g->advance.x >> 6);
  }
}
