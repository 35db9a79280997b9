// wavefile.cpp — the WAVE reader. A file is read chunk by chunk: the RIFF
// form, the "fmt " block (at most 16 bytes of it) and the "data" chunk,
// each size checked against what the file really holds, so a lying header
// is a message and never a read past the end.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "media/soundpriv.h"
#include "scene/scene.h"

namespace {

constexpr int kPayloadBytes = 4048;

uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

int fail(ZvWaveFile* wave, const char* what, const char* why) {
  zvWarning("zvWaveOpen: %s: %s", what, why);
  if (wave->ownsFile && wave->fp) std::fclose(wave->fp);
  wave->fp = nullptr;
  return -1;
}

// Finds the chunk id between from and end; its body's start and size.
bool findChunk(FILE* fp, long from, long end, const char* id, long* body, long* size) {
  long at = from;
  while (at + 8 <= end) {
    unsigned char head[8];
    if (std::fseek(fp, at, SEEK_SET) != 0 || std::fread(head, 1, 8, fp) != 8) return false;
    uint32_t n = le32(head + 4);
    if (long(n) > end - at - 8) {
      // Only the chunk asked for may be the last and then must fit; any
      // other that claims more than is left ends the search.
      if (std::memcmp(head, id, 4) == 0) {
        *body = at + 8;
        *size = long(n);
        return true;
      }
      return false;
    }
    if (std::memcmp(head, id, 4) == 0) {
      *body = at + 8;
      *size = long(n);
      return true;
    }
    at += 8 + long(n) + (n & 1);  // chunks are padded to even sizes
  }
  return false;
}

}  // namespace

int zvWaveOpenStream(FILE* fp, const char* what, ZvWaveFile* wave) {
  *wave = ZvWaveFile{};
  wave->fp = fp;
  if (!fp) return fail(wave, what, "cannot be read");
  if (std::fseek(fp, 0, SEEK_END) != 0) return fail(wave, what, "cannot be read");
  long fileSize = std::ftell(fp);
  unsigned char riff[12];
  if (fileSize < 12 || std::fseek(fp, 0, SEEK_SET) != 0 || std::fread(riff, 1, 12, fp) != 12)
    return fail(wave, what, "too short for a RIFF header");
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
    return fail(wave, what, "not a RIFF WAVE file");
  uint32_t riffSize = le32(riff + 4);
  if (riffSize < 4 || long(riffSize) > fileSize - 8) return fail(wave, what, "the RIFF size runs past the end of the file");
  long end = 8 + long(riffSize);
  long body, size;
  if (!findChunk(fp, 12, end, "fmt ", &body, &size)) return fail(wave, what, "no \"fmt \" chunk");
  if (size < 16 || size > end - body) return fail(wave, what, "the \"fmt \" chunk is too short or runs past the end");
  unsigned char fmt[16];
  if (std::fseek(fp, body, SEEK_SET) != 0 || std::fread(fmt, 1, 16, fp) != 16)
    return fail(wave, what, "the \"fmt \" chunk cannot be read");
  int tag = le16(fmt);
  wave->channels = le16(fmt + 2);
  wave->rate = int(std::min<uint32_t>(le32(fmt + 4), 1000000));
  wave->blockAlign = le16(fmt + 12);
  wave->bits = le16(fmt + 14);
  if (tag != 1) return fail(wave, what, "not PCM samples");
  if (wave->channels < 1 || wave->channels > 2) return fail(wave, what, "neither mono nor stereo");
  if (wave->bits != 8 && wave->bits != 16) return fail(wave, what, "neither 8 nor 16 bits a sample");
  if (wave->rate < 1000 || wave->rate > 192000) return fail(wave, what, "a sample rate out of range");
  if (wave->blockAlign != wave->channels * wave->bits / 8) return fail(wave, what, "a block size that does not match");
  if (!findChunk(fp, body + size + (size & 1), end, "data", &body, &size)) return fail(wave, what, "no \"data\" chunk");
  if (size > end - body) return fail(wave, what, "the \"data\" chunk runs past the end of the file");
  size -= size % wave->blockAlign;
  if (size <= 0) return fail(wave, what, "no samples");
  wave->dataStart = wave->position = body;
  wave->dataEnd = body + size;
  if (std::fseek(fp, body, SEEK_SET) != 0) return fail(wave, what, "cannot be read");
  return 0;
}

int zvWaveOpenFile(const char* file, ZvWaveFile* wave) {
  struct stat st;
  if (!file || stat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
    *wave = ZvWaveFile{};
    zvWarning("zvWaveOpen: %s: cannot be read", file ? file : "(null)");
    return -1;
  }
  FILE* fp = std::fopen(file, "rb");
  if (fp == nullptr) {
    *wave = ZvWaveFile{};
    zvWarning("zvWaveOpen: %s: cannot be read", file);
    return -1;
  }
  int r = zvWaveOpenStream(fp, file, wave);
  if (r != 0) {
    std::fclose(fp);
    return -1;
  }
  wave->ownsFile = 1;
  return 0;
}

void zvWaveCloseFile(ZvWaveFile* wave) {
  if (wave->fp && wave->ownsFile) std::fclose(wave->fp);
  *wave = ZvWaveFile{};
}

int zvWaveReadPayload(ZvWaveFile* wave, int maxBytes, int volume, int16_t* out) {
  if (!wave->fp) return -1;
  if (wave->position >= wave->dataEnd) return 0;
  long n = std::min<long>(maxBytes, wave->dataEnd - wave->position);
  n -= n % wave->blockAlign;
  if (n <= 0) return 0;
  unsigned char raw[kPayloadBytes];
  if (n > long(sizeof raw)) n = long(sizeof raw) - long(sizeof raw) % wave->blockAlign;
  if (std::fseek(wave->fp, wave->position, SEEK_SET) != 0 || std::fread(raw, 1, size_t(n), wave->fp) != size_t(n))
    return -1;
  wave->position += n;
  long samples = wave->bits == 16 ? n / 2 : n;
  for (long i = 0; i < samples; ++i) {
    int s = wave->bits == 16 ? int16_t(le16(raw + 2 * i)) : (int(raw[i]) - 128) * 256;
    int v = (s * volume) >> 8;
    out[i] = int16_t(std::clamp(v, -32768, 32767));
  }
  return int(samples / wave->channels);
}

