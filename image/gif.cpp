// gif.cpp — our own GIF87a/GIF89a decoder: header and block walk, the
// variable-length LZW code, interlace, and the conversion of the first image
// to BMP. The whole file is read into memory first (textures are small and
// capped), and decoded rows go straight to their place in the output, so
// no scratch file is needed.
#include <cstring>

#include "image/imagepriv.h"
#include "scene/scene.h"

namespace {

using namespace zvimage;

// The converter's failure texts, by code; 6 to 8 belonged to a scratch
// file this decoder does without.
enum GifError {
  kGifOk = -1,
  kGifNoMemory = 0,
  kGifNoName = 1,
  kGifOpen = 2,
  kGifRead = 3,
  kGifWrite = 4,
  kGifSeek = 5,
  kGifSubroutine = 9,
};
const char* const kGifMessages[] = {
    "cannot allocate memory.\n",
    "no file name.\n",
    "failed to open file.\n",
    "failed to read data from file.\n",
    "failed to write data to file.\n",
    "failed to move file pointer.\n",
    "failed to make temporary file.\n",
    "failed to get module directory name.\n",
    "failed to make temporary directory.\n",
    "caught error from subroutine.\n",
};

constexpr int kMaxCodes = 4096;  // 12-bit codes

struct GifInfo {
  int width = 0, height = 0;
  bool interlaced = false;
  int transparent = -1;
  int colors = 0;  // palette entries the image declares
  uint8_t palette[256][3] = {};
  int minCodeSize = 0;
  size_t data = 0;  // offset of the first LZW data sub-block
};

struct Reader {
  const uint8_t* b;
  size_t size, pos;
  const uint8_t* take(size_t n) {
    if (size - pos < n) return nullptr;
    pos += n;
    return b + pos - n;
  }
};

bool readColorTable(Reader* r, int entries, GifInfo* info) {
  const uint8_t* t = r->take(size_t(entries) * 3);
  if (!t) return false;
  std::memset(info->palette, 0, sizeof info->palette);
  std::memcpy(info->palette, t, size_t(entries) * 3);
  info->colors = entries;
  return true;
}

bool readGifHeaderBody(Reader* r, GifInfo* info) {
  const uint8_t* h = r->take(13);
  if (!h || std::memcmp(h, "GIF", 3) != 0 ||
      (std::memcmp(h + 3, "87a", 3) != 0 && std::memcmp(h + 3, "89a", 3) != 0))
    return false;
  uint8_t packed = h[10];
  GifInfo global;
  bool hasGlobal = packed & 0x80;
  if (hasGlobal && !readColorTable(r, 2 << (packed & 7), &global)) return false;
  for (;;) {
    const uint8_t* kind = r->take(1);
    if (!kind) return false;
    if (*kind == ';') return false;  // no image at all
    if (*kind == '!') {
      const uint8_t* label = r->take(1);
      if (!label) return false;
      for (;;) {
        const uint8_t* n = r->take(1);
        if (!n) return false;
        if (*n == 0) break;
        const uint8_t* block = r->take(*n);
        if (!block) return false;
        // Graphic Control Extension: packed, delay (2), transparent index.
        if (*label == 0xF9 && *n >= 4) info->transparent = block[0] & 1 ? block[3] : -1;
      }
      continue;
    }
    if (*kind != ',') return false;
    const uint8_t* d = r->take(9);
    if (!d) return false;
    info->width = le16(d + 4);
    info->height = le16(d + 6);
    info->interlaced = d[8] & 0x40;
    if (d[8] & 0x80) {
      if (!readColorTable(r, 2 << (d[8] & 7), info)) return false;
    } else if (hasGlobal) {
      std::memcpy(info->palette, global.palette, sizeof info->palette);
      info->colors = global.colors;
    }
    const uint8_t* m = r->take(1);
    if (!m || *m < 2 || *m > 8) return false;
    info->minCodeSize = *m;
    // Without any colour table every index is black; the table is as large
    // as the codes can address.
    if (info->colors == 0) info->colors = 1 << info->minCodeSize;
    info->data = r->pos;
    return true;
  }
}

bool zvReadGifHeader(const uint8_t* bytes, size_t size, GifInfo* info) {
  Reader r{bytes, size, 0};
  bool ok =
      readGifHeaderBody(&r, info) && imageSizeOk("zvReadGifHeader", info->width, info->height);
  if (!ok) zvWarning("zvReadGifHeader : failed to read GIF header.\n");
  return ok;
}

// Bits of the LZW stream, least significant first, across data sub-blocks.
struct CodeReader {
  const uint8_t* b;
  size_t size, pos;
  unsigned blockLeft = 0;
  uint32_t bits = 0;
  int count = 0;
  bool ended = false;  // the zero-length terminator has been read
};
enum { kCodeTruncated = -1, kCodeEnded = -2 };

int nextCode(CodeReader* r, int codeSize) {
  while (r->count < codeSize) {
    if (r->blockLeft == 0) {
      if (r->ended) return kCodeEnded;
      if (r->pos >= r->size) return kCodeTruncated;
      unsigned n = r->b[r->pos++];
      if (n == 0) {
        r->ended = true;
        return kCodeEnded;
      }
      // A sub-block must be there whole, or the file is cut short.
      if (r->size - r->pos < n) return kCodeTruncated;
      r->blockLeft = n;
    }
    r->bits |= uint32_t(r->b[r->pos++]) << r->count;
    r->count += 8;
    --r->blockLeft;
  }
  int code = int(r->bits & ((1u << codeSize) - 1));
  r->bits >>= codeSize;
  r->count -= codeSize;
  return code;
}

// Past the last pixel: the rest of the data sub-blocks up to the terminator.
bool skipRest(CodeReader* r) {
  if (r->ended) return true;
  r->pos += r->blockLeft;
  for (;;) {
    if (r->pos >= r->size) return false;
    unsigned n = r->b[r->pos++];
    if (n == 0) return true;
    if (r->size - r->pos < n) return false;
    r->pos += n;
  }
}

typedef GifError (*RowSink)(void* user, int displayRow, const uint8_t* indices);

struct LzwTables {
  uint16_t prefix[kMaxCodes];
  uint8_t suffix[kMaxCodes];
  uint8_t stack[kMaxCodes + 1];
};

GifError corrupt(const char* what) {
  zvWarning("ReadGifImage : %s.\n", what);
  return kGifSubroutine;
}

GifError decodeLzw(const uint8_t* bytes, size_t size, const GifInfo& info, LzwTables* t,
                   uint8_t* row, RowSink sink, void* user) {
  static const int kPassStart[4] = {0, 4, 2, 1}, kPassStep[4] = {8, 8, 4, 2};
  CodeReader r{bytes, size, info.data};
  const int clear = 1 << info.minCodeSize, eoi = clear + 1;
  int next = clear + 2, codeSize = info.minCodeSize + 1, prev = -1;
  uint8_t prevFirst = 0;
  const int64_t total = int64_t(info.width) * info.height;
  int64_t done = 0;
  int x = 0, y = 0, pass = 0;
  while (done < total) {
    int code = nextCode(&r, codeSize);
    if (code == kCodeTruncated) return kGifRead;
    if (code == kCodeEnded || code == eoi) return corrupt("image data ends before the last pixel");
    if (code == clear) {
      next = clear + 2;
      codeSize = info.minCodeSize + 1;
      prev = -1;
      continue;
    }
    int sp = 0;
    uint8_t first;
    if (prev < 0) {
      if (code > eoi) return corrupt("undefined LZW code");
      first = uint8_t(code);
      t->stack[sp++] = first;
    } else {
      int c = code;
      if (code == next) {  // the string just being defined: prev's plus its own first byte
        t->stack[sp++] = prevFirst;
        c = prev;
      } else if (code > next) {
        return corrupt("undefined LZW code");
      }
      // Every entry's prefix is an older code, so this walk ends within the table.
      while (c > eoi) {
        t->stack[sp++] = t->suffix[c];
        c = t->prefix[c];
      }
      first = uint8_t(c);
      t->stack[sp++] = first;
      // A full table stays as it is until the encoder sends a clear code.
      if (next < kMaxCodes) {
        t->prefix[next] = uint16_t(prev);
        t->suffix[next] = first;
        if (++next == 1 << codeSize && codeSize < 12) ++codeSize;
      }
    }
    prev = code;
    prevFirst = first;
    while (sp > 0 && done < total) {
      row[x++] = t->stack[--sp];
      ++done;
      if (x < info.width) continue;
      GifError e = sink(user, y, row);
      if (e != kGifOk) return e;
      x = 0;
      if (!info.interlaced) {
        ++y;
      } else {
        y += kPassStep[pass];
        while (y >= info.height && pass < 3) y = kPassStart[++pass];
      }
    }
  }
  return skipRest(&r) ? kGifOk : kGifRead;
}

// Whether the rest of the file could hold the image at all: after a clear
// the i-th code stands for at most i pixels (never more than the table
// holds), and no code is shorter than minCodeSize + 1 bits. A few bytes
// declaring a huge image are refused before its buffer is made.
bool dataCanFill(size_t size, const GifInfo& info) {
  uint64_t codes = uint64_t(size - info.data) * 8 / unsigned(info.minCodeSize + 1);
  uint64_t ramp = codes < kMaxCodes ? codes : kMaxCodes;
  uint64_t most = ramp * (ramp + 1) / 2 + (codes - ramp) * kMaxCodes;
  return most >= uint64_t(info.width) * uint64_t(info.height);
}

GifError ReadGifImage(const uint8_t* bytes, size_t size, const GifInfo& info, RowSink sink,
                      void* user) {
  if (!dataCanFill(size, info)) return kGifRead;
  auto* tables = static_cast<LzwTables*>(zvMalloc(sizeof(LzwTables)));
  auto* row = static_cast<uint8_t*>(zvMalloc(size_t(info.width)));
  GifError e = tables && row ? decodeLzw(bytes, size, info, tables, row, sink, user) : kGifNoMemory;
  zvFree(row);
  zvFree(tables);
  return e;
}

// --- GIF to BMP ------------------------------------------------------------

struct BmpSink {
  BmpOut* bmp;
  BmpOut* mask;  // null when no mask is asked for
  int limit;     // indices the BMP's depth can hold
  int transparent;
  uint8_t* scratch;
};

GifError toBmp(BmpOut* out, int y, const uint8_t* pixels) {
  switch (bmpPutRow(out, y, pixels)) {
    case BmpResult::ok:
      return kGifOk;
    case BmpResult::seek:
      return kGifSeek;
    default:
      return kGifSubroutine;
  }
}

GifError bmpRow(void* user, int y, const uint8_t* indices) {
  auto* s = static_cast<BmpSink*>(user);
  int width = s->bmp->info.width;
  // A 1- or 4-bit BMP cannot hold an index the GIF's minimum code size
  // allows but its table lacks; such pixels take entry 0.
  for (int x = 0; x < width; ++x) s->scratch[x] = indices[x] < s->limit ? indices[x] : 0;
  GifError e = toBmp(s->bmp, y, s->scratch);
  if (e != kGifOk || !s->mask) return e;
  for (int x = 0; x < width; ++x) s->scratch[x] = indices[x] != s->transparent;
  return toBmp(s->mask, y, s->scratch);
}

int gifFailure(GifError e) {
  zvWarning("zvGif2Bmp : %s", kGifMessages[e]);
  return e == kGifNoMemory ? ZV_NOMEM : ZV_FAIL;
}

GifError readGifFile(const char* path, uint8_t** bytes, size_t* size) {
  switch (readWholeFile(path, bytes, size)) {
    case ReadResult::ok:
      return kGifOk;
    case ReadResult::noName:
      return kGifNoName;
    case ReadResult::open:
      return kGifOpen;
    case ReadResult::noMemory:
      return kGifNoMemory;
    default:
      return kGifRead;
  }
}

GifError convert(const uint8_t* bytes, size_t size, const GifInfo& info, BmpOut* bmp,
                 BmpOut* mask) {
  int bits = depthForColors(info.colors);
  ZvRgbQuad palette[256] = {};
  for (int i = 0; i < 256; ++i)
    palette[i] = {info.palette[i][2], info.palette[i][1], info.palette[i][0], 0};
  if (bmpBegin(bmp, info.width, info.height, bits, info.colors, palette) != BmpResult::ok)
    return kGifSubroutine;
  if (mask) {
    const ZvRgbQuad blackWhite[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    if (bmpBegin(mask, info.width, info.height, 1, 2, blackWhite) != BmpResult::ok)
      return kGifSubroutine;
  }
  BmpSink sink{bmp, mask, 1 << bits, info.transparent,
               static_cast<uint8_t*>(zvMalloc(size_t(info.width)))};
  if (!sink.scratch) return kGifNoMemory;
  GifError e = ReadGifImage(bytes, size, info, bmpRow, &sink);
  zvFree(sink.scratch);
  if (e != kGifOk) return e;
  if (bmpClose(bmp) != BmpResult::ok) return kGifWrite;
  if (mask && bmpClose(mask) != BmpResult::ok) return kGifWrite;
  return kGifOk;
}

// --- GIF to RGBA -------------------------------------------------------------

struct RgbaSink {
  const GifInfo* info;
  uint8_t* rgba;
};

GifError rgbaRow(void* user, int y, const uint8_t* indices) {
  auto* s = static_cast<RgbaSink*>(user);
  int width = s->info->width;
  uint8_t* o = s->rgba + size_t(y) * size_t(width) * 4;
  for (int x = 0; x < width; ++x, o += 4) {
    const uint8_t* c = s->info->palette[indices[x]];
    o[0] = c[0];
    o[1] = c[1];
    o[2] = c[2];
    o[3] = indices[x] == s->info->transparent ? 0 : 0xFF;
  }
  return kGifOk;
}

}  // namespace

int zvGif2Bmp(const char* gif, const char* bmp, const char* mask) {
  if (!gif || !*gif || !bmp || !*bmp) return gifFailure(kGifNoName);
  uint8_t* bytes;
  size_t size;
  GifError e = readGifFile(gif, &bytes, &size);
  if (e != kGifOk) return gifFailure(e);
  GifInfo info;
  if (!zvReadGifHeader(bytes, size, &info)) {
    zvFree(bytes);
    return gifFailure(kGifSubroutine);
  }
  BmpOut out, maskOut;
  bool wantMask = mask && *mask;
  if (!bmpOpen(&out, bmp) || (wantMask && !bmpOpen(&maskOut, mask)))
    e = kGifOpen;
  else
    e = convert(bytes, size, info, &out, wantMask ? &maskOut : nullptr);
  zvFree(bytes);
  if (e == kGifOk) return ZV_OK;
  bmpAbandon(&out);
  if (wantMask) bmpAbandon(&maskOut);
  return gifFailure(e);
}

namespace zvimage {

int decodeGif(const char* who, const uint8_t* bytes, size_t size, ZvImage* out) {
  GifInfo info;
  if (!zvReadGifHeader(bytes, size, &info)) return ZV_FAIL;
  if (!dataCanFill(size, info)) {
    zvWarning("%s : %s", who, kGifMessages[kGifRead]);
    return ZV_FAIL;
  }
  RgbaSink sink{&info, newRgba(who, info.width, info.height)};
  if (!sink.rgba) return ZV_NOMEM;
  GifError e = ReadGifImage(bytes, size, info, rgbaRow, &sink);
  if (e != kGifOk) {
    zvFree(sink.rgba);
    zvWarning("%s : %s", who, kGifMessages[e]);
    return e == kGifNoMemory ? ZV_NOMEM : ZV_FAIL;
  }
  out->width = info.width;
  out->height = info.height;
  out->pixels = sink.rgba;
  return ZV_OK;
}

}  // namespace zvimage
