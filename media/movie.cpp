// movie.cpp — movie textures: the record a textured leaf gets when its
// image is a strip of frames (or the file of a Movie2 node), the probe
// that tells a strip by its shape, and the periodic task that steps it.
//
// The record lives on the leaf; its frames live in the texture registered
// under the file's name, so objects that share a file share its pictures.
// Stepping is on the object's first leaf's record only.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "media/media.h"
#include "render/render.h"
#include "script/script.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace {

constexpr int kStripSide = 128;
constexpr float kStripRate = 4.0f;
constexpr float kStillSpeed = 0.0001f;
// A video decoded into a texture keeps at most this many bytes of frames
// and spends at most this long decoding them; the rest of a long file is
// not shown.
constexpr size_t kVideoBytes = size_t(32) << 20;
constexpr int kVideoFrames = 512;
constexpr int kVideoDecodeMs = 4000;

uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint32_t be32(const unsigned char* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

ZvMovie* firstMovie(ZvObj* object) {
  ZvLeaf* leaf = object ? object->leaf : nullptr;
  if (!leaf || !zvIsShapeLeaf(leaf)) return nullptr;
  return static_cast<ZvShape*>(leaf)->texture.movie;
}

int stepRoutine(ZvObj* object, ZvEvent*, const char*);

void stopMovie(ZvObj* object, ZvMovie* m) {
  m->stopped = 1;
  if (m->timer) {
    zvRemoveTimeOutHandler(object, m->timer);
    m->timer = nullptr;
  }
}

// Shows the record's frame when the texture is there; a texture that could
// not be read is only a still shape, not a message on every step.
void showFrame(ZvObj* object, ZvMovie* m) {
  if (zvRenderMovieFramesKnown(object) > m->current) zvRenderVideoSetFrame(object, m->current);
}

// 1 when the step stopped the movie (a non-looping one at its end).
int stepForward(ZvObj* object, ZvMovie* m) {
  if (m->current + 1 > m->frameCount - 1) {
    if (!m->loop) {
      m->stopped = 1;
      return 1;
    }
    m->current = 0;
  } else {
    ++m->current;
  }
  showFrame(object, m);
  return 0;
}

int stepBackward(ZvObj* object, ZvMovie* m) {
  if (m->current - 1 < 0) {
    if (m->frameCount >= 1) {
      m->current = m->frameCount - 1;
    } else if (m->loop) {
      m->current = 0;
    } else {
      m->stopped = 1;
      return 1;
    }
  } else {
    --m->current;
  }
  showFrame(object, m);
  return 0;
}

int stepRoutine(ZvObj* object, ZvEvent*, const char*) {
  ZvMovie* m = firstMovie(object);
  if (!m || !m->timer) return 1;
  int ended = m->speed >= 0 ? stepForward(object, m) : stepBackward(object, m);
  if (ended) {
    // The task ends by this answer; removing it from inside would pull it
    // from under the dispatcher.
    m->timer = nullptr;
    return 1;
  }
  return 0;
}

// Decodes a Movie2 node's video into a strip texture of its frame size.
int decodeVideo(ZvObj* object, ZvMovie* m, const char* file) {
  if (int known = zvRenderMovieFramesKnown(object)) return known;
  ZvVideoDecoder* d = zvOpenVideo(file, "Movie2");
  if (!d) return 0;
  ZvVideoInfo info;
  zvGetVideoInfo(d, &info);
  int w = m->frameWidth, h = m->frameHeight;
  size_t frameBytes = size_t(w) * size_t(h) * 4;
  size_t most = std::min<size_t>(kVideoFrames, kVideoBytes / frameBytes);
  std::vector<uint8_t> strip;
  zvSetVideoOutputSize(d, w, h);
  const auto start = std::chrono::steady_clock::now();
  auto elapsedMs = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  };
  int frames = 0;
  while (size_t(frames) < most && elapsedMs() < kVideoDecodeMs) {
    strip.resize(frameBytes * size_t(frames + 1));
    if (zvReadVideoFrame(d, strip.data() + frameBytes * size_t(frames), nullptr) != 1) break;
    ++frames;
  }
  zvCloseVideo(d);
  if (frames == 0) {
    zvWarning("Movie2: %s: no picture could be decoded", file);
    return 0;
  }
  // The file's own rate, unless the node asked for one.
  if (m->nodeRate == kStripRate && info.frameRate > 0) m->frameRate = float(std::min(60.0, info.frameRate));
  return zvRenderSetMovieFrames(object, strip.data(), w, h, frames);
}

// Fills in the frames of a record: cut from a strip, or decoded.
void completeMovie(ZvObj* object, ZvMovie* m, ZvUrlHash* texture) {
  int fw = 0, fh = 0, count = 0;
  float rate = kStripRate;
  if (zvViewerMovieFormat(texture, &fw, &fh, &count, &rate, nullptr) == ZV_OK) {
    m->frameWidth = fw;
    m->frameHeight = fh;
    if (m->frameCount == 0) m->frameCount = count;
    zvRenderSetMovieFrameSize(object, fw, fh);
    return;
  }
  if (!m->fromNode) return;
  const char* file = zvGetLocalFile(texture);
  if (!file) return;
  int frames = decodeVideo(object, m, file);
  if (m->frameCount == 0) m->frameCount = frames;
}

int dumpMovie(ZvMovie* m, ZvDumpMovie* out) {
  if (!m || !out) return ZV_FAIL;
  out->file = m->file;
  out->autoPlay = m->autoStart;
  out->framesPerSec = m->fromNode ? m->nodeRate : m->frameRate;
  out->width = m->fromNode ? m->nodeWidth : m->frameWidth;
  out->height = m->fromNode ? m->nodeHeight : m->frameHeight;
  out->sound = m->sound;
  return ZV_OK;
}

void deleteLeafMovie(ZvLeaf* leaf) {
  if (!leaf || !zvIsShapeLeaf(leaf)) return;
  ZvTexture* t = &static_cast<ZvShape*>(leaf)->texture;
  if (!t->movie) return;
  ZvMovie* m = t->movie;
  t->movie = nullptr;
  // Only the first leaf's record has a task; the object's tasks may be gone
  // already, which the removal finds out without reading the handle.
  if (m->timer && leaf->owner) zvRemoveTimeOutHandler(leaf->owner, m->timer);
  m->timer = nullptr;
  zvDeleteTextureMovie(m);
}

}  // namespace

// ---------------------------------------------------------------------------
// Records

ZvMovie* zvNewMovie(void) {
  auto* m = static_cast<ZvMovie*>(zvMalloc(sizeof(ZvMovie)));
  if (!m) return nullptr;
  m->autoStart = 1;
  m->frameWidth = m->frameHeight = kStripSide;
  m->frameRate = kStripRate;
  m->loop = 1;
  m->speed = 1.0f;
  m->nodeRate = kStripRate;
  m->nodeWidth = m->nodeHeight = kStripSide;
  return m;
}

ZvMovie* zvNewNodeMovie(const ZvMovieDesc* desc) {
  if (!desc) return nullptr;
  ZvMovie* m = zvNewMovie();
  if (!m) return nullptr;
  m->fromNode = 1;
  m->file = desc->file;
  m->autoStart = desc->autoPlay ? 1 : 0;
  m->nodeRate = desc->framesPerSec;
  m->nodeWidth = desc->width;
  m->nodeHeight = desc->height;
  if (std::isfinite(desc->framesPerSec) && desc->framesPerSec > 0) m->frameRate = desc->framesPerSec;
  // The size a video is decoded to; a strip's frames are its own.
  if (desc->width >= 8 && desc->width <= 512) m->frameWidth = desc->width;
  if (desc->height >= 8 && desc->height <= 512) m->frameHeight = desc->height;
  if (desc->sound) {
    m->sound = zvStrdup(desc->sound);
    if (!m->sound) {
      zvFree(m);
      return nullptr;
    }
  }
  return m;
}

void zvDeleteTextureMovie(ZvMovie* movie) {
  if (!movie) {
    zvWarning("zvDeleteTextureMovie: NULL specified\n");
    return;
  }
  zvFree(movie->sound);
  zvFree(movie);
}

ZvMovie* zvMovieOf(ZvObj* object) { return firstMovie(object); }

int zvViewerMovieFormat(ZvUrlHash* texture, int* frameWidth, int* frameHeight, int* frameCount, float* frameRate,
                        ZvUrlHash** reference) {
  if (!texture) return ZV_FAIL;
  const char* file = zvGetLocalFile(texture);
  if (!file) return ZV_FAIL;
  int kind = texture->type;
  if (kind != ZV_TYPE_BMP && kind != ZV_TYPE_RAS) return ZV_FAIL;
  FILE* in = std::fopen(file, "rb");
  if (!in) {
    zvWarning("zvViewerMovieFormat:Can't open file");
    return ZV_FAIL;
  }
  unsigned char head[54] = {};
  size_t want = kind == ZV_TYPE_BMP ? 54 : 32;
  size_t got = std::fread(head, 1, want, in);
  std::fclose(in);
  if (got != want) return ZV_FAIL;
  int64_t width, height;
  if (kind == ZV_TYPE_BMP) {
    if (head[0] != 'B' || head[1] != 'M') return ZV_FAIL;
    // The information header follows the 14-byte file header; a negative
    // height (rows top first) is a strip all the same.
    width = int32_t(le32(head + 14 + 4));
    height = int32_t(le32(head + 14 + 8));
    if (height < 0) height = -height;
  } else {
    if (be32(head) != 0x59a66a95u) return ZV_FAIL;
    width = be32(head + 4);
    height = be32(head + 8);
  }
  if (width != kStripSide || height <= kStripSide || height % kStripSide != 0) return ZV_FAIL;
  if (frameWidth) *frameWidth = kStripSide;
  if (frameHeight) *frameHeight = kStripSide;
  if (frameCount) *frameCount = int(height / kStripSide);
  if (frameRate) *frameRate = kStripRate;
  if (reference) *reference = texture;
  return ZV_OK;
}

void zvMovieRefresh(ZvObj* object) {
  ZvLeaf* leaf = object ? object->leaf : nullptr;
  if (!leaf || !zvIsShapeLeaf(leaf)) return;
  ZvTexture* t = &static_cast<ZvShape*>(leaf)->texture;
  if (!t->texture) return;
  if (t->movie) stopMovie(object, t->movie);
  if (!t->movie) {
    int fw, fh, count;
    float rate;
    if (zvViewerMovieFormat(t->texture, &fw, &fh, &count, &rate, nullptr) != ZV_OK) return;
    ZvMovie* m = zvNewMovie();
    if (!m) return;
    m->frameWidth = fw;
    m->frameHeight = fh;
    m->frameCount = count;
    m->frameRate = rate;
    t->movie = m;
  }
  ZvMovie* m = t->movie;
  // Every application: the texture may have been read again since (a
  // rebuilt object), uncut.
  completeMovie(object, m, t->texture);
  if (m->current >= m->frameCount) m->current = 0;
  showFrame(object, m);
  if (m->autoStart) zvMovieStart(object);
}

// ---------------------------------------------------------------------------
// Playing

int zvMovieStart(ZvObj* object) {
  ZvMovie* m = firstMovie(object);
  if (!m) return ZV_FAIL;
  if (m->timer) {
    zvRemoveTimeOutHandler(object, m->timer);
    m->timer = nullptr;
  }
  m->stopped = 0;
  float speed = std::fabs(m->speed);
  if (!(speed >= kStillSpeed) || !(m->frameRate > 0)) return ZV_OK;
  double period = std::trunc(1000.0 / double(m->frameRate) / double(speed));
  // A rate too high for the clock steps on every turn of the loop; one
  // too low still comes round once an hour.
  uint32_t ms = period < 1 ? 1 : period > 3600000 ? 3600000 : uint32_t(period);
  m->timer = zvAddNativeTimeOutHandler(object, ms, stepRoutine, "", ZV_TASK_PERIODIC);
  return m->timer ? ZV_OK : ZV_FAIL;
}

int zvMovieStop(ZvObj* object) {
  ZvMovie* m = firstMovie(object);
  if (!m) return ZV_FAIL;
  stopMovie(object, m);
  return ZV_OK;
}

int zvMovieStepForward(ZvObj* object) {
  ZvMovie* m = firstMovie(object);
  if (!m) return ZV_FAIL;
  if (stepForward(object, m)) stopMovie(object, m);
  return ZV_OK;
}

int zvMovieStepBackward(ZvObj* object) {
  ZvMovie* m = firstMovie(object);
  if (!m) return ZV_FAIL;
  if (stepBackward(object, m)) stopMovie(object, m);
  return ZV_OK;
}

int zvMovieSetFrame(ZvObj* object, int frame) {
  ZvMovie* m = firstMovie(object);
  if (!m) return ZV_FAIL;
  if (frame > m->frameCount - 1) frame = m->frameCount - 1;
  if (frame < 0) frame = 0;
  m->current = frame;
  showFrame(object, m);
  return ZV_OK;
}

int zvMovieGetFrame(ZvObj* object) {
  ZvMovie* m = firstMovie(object);
  return m ? m->current : ZV_FAIL;
}

int zvMovieGetFrameCount(ZvObj* object) {
  ZvMovie* m = firstMovie(object);
  return m ? m->frameCount : ZV_FAIL;
}

int zvMovieGetLoop(ZvObj* object) {
  ZvMovie* m = firstMovie(object);
  return m ? m->loop : ZV_FAIL;
}

int zvMovieSetLoop(ZvObj* object, int loop) {
  ZvMovie* m = firstMovie(object);
  if (!m) return ZV_FAIL;
  m->loop = loop ? 1 : 0;
  return ZV_OK;
}

float zvMovieGetSpeed(ZvObj* object) {
  ZvMovie* m = firstMovie(object);
  return m ? m->speed : -1.0f;
}

int zvMovieSetSpeed(ZvObj* object, float speed) {
  ZvMovie* m = firstMovie(object);
  if (!m || !std::isfinite(speed)) return ZV_FAIL;
  // Playing: stepping, or started at a speed too slow to step.
  bool playing = m->timer || (!m->stopped && std::fabs(m->speed) < kStillSpeed);
  m->speed = speed;
  return playing ? zvMovieStart(object) : ZV_OK;
}

// ---------------------------------------------------------------------------

void zvMovieInstallCommands(void);

void zvMediaInstallMovies(void) {
  zvRenderSetMovieRefresh(zvMovieRefresh);
  zvReaderHooks().newMovie = zvNewNodeMovie;
  zvDumpHooks().movieOf = dumpMovie;
  zvSceneHooks().deleteLeafMedia = deleteLeafMovie;
  zvMovieInstallCommands();
}
