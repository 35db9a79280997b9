// moviecmds.cpp — the script commands of movie textures and of videos
// played over the view. Argument counts and object handles are checked by
// the script layer before these run.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "media/media.h"
#include "render/render.h"
#include "script/script.h"
#include "www/www.h"

namespace {

ZvObj* objectArg(const char* text) { return static_cast<ZvObj*>(zvScriptHandleRecord(text, ZV_HANDLE_OBJ)); }

int answer(std::string* result, long value) {
  *result = std::to_string(value);
  return 0;
}

int failure(std::string* result, const char* name, const char* what) {
  *result = std::string(name) + ": " + what;
  return 1;
}

// The object's movie, or a failure said in the result.
ZvObj* movieObject(const char* const* argv, std::string* result) {
  ZvObj* o = objectArg(argv[1]);
  if (!o || !zvMovieOf(o)) {
    failure(result, argv[0], "the object shows no movie");
    return nullptr;
  }
  return o;
}

bool readNumber(const char* text, double* out) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

int nextFrame(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* o = objectArg(argv[1]);
  if (zvRenderVideoNextFrame(o) != ZV_OK) return failure(result, argv[0], "no movie texture to advance");
  // The texture wrapped by itself; the record follows it.
  if (ZvMovie* m = zvMovieOf(o); m && m->frameCount > 0) m->current = (m->current + 1) % m->frameCount;
  return answer(result, 0);
}

int play(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* o = movieObject(argv, result);
  return o ? answer(result, zvMovieStart(o)) : 1;
}

int pause(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* o = movieObject(argv, result);
  return o ? answer(result, zvMovieStop(o)) : 1;
}

int setSpeed(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* o = movieObject(argv, result);
  if (!o) return 1;
  double speed;
  if (!readNumber(argv[2], &speed)) return failure(result, argv[0], "the speed is not a number");
  return answer(result, zvMovieSetSpeed(o, float(speed)));
}

int getSpeed(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* o = movieObject(argv, result);
  if (!o) return 1;
  char text[64];
  std::snprintf(text, sizeof text, "%f", double(zvMovieGetSpeed(o)));
  *result = text;
  return 0;
}

int getInfo(ZvWorld* world, int argc, const char* const* argv, std::string* result) {
  ZvObj* o = movieObject(argv, result);
  if (!o) return 1;
  const int values[3] = {zvMovieGetFrame(o), zvMovieGetFrameCount(o), zvMovieGetLoop(o)};
  for (int i = 2; i < argc && i < 5; ++i)
    if (zvScriptSetVariable(world, argv[i], std::to_string(values[i - 2]).c_str(), result) != 0) return 1;
  return answer(result, 0);
}

int setFrame(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* o = movieObject(argv, result);
  if (!o) return 1;
  double frame;
  if (!readNumber(argv[2], &frame)) return failure(result, argv[0], "the frame is not a number");
  frame = std::fmax(-1.0, std::fmin(frame, 1e9));
  return answer(result, zvMovieSetFrame(o, int(frame)));
}

int setLoop(ZvWorld*, int argc, const char* const* argv, std::string* result) {
  ZvObj* o = movieObject(argv, result);
  if (!o) return 1;
  double on = 1;
  if (argc > 2 && !readNumber(argv[2], &on)) return failure(result, argv[0], "the loop flag is not a number");
  return answer(result, zvMovieSetLoop(o, on != 0));
}

int stepNext(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* o = movieObject(argv, result);
  return o ? answer(result, zvMovieStepForward(o)) : 1;
}

int stepPrevious(ZvWorld*, int, const char* const* argv, std::string* result) {
  ZvObj* o = movieObject(argv, result);
  return o ? answer(result, zvMovieStepBackward(o)) : 1;
}

// A video named by a world's script: one of the world's URLs, or a local
// file the world's scripts may read. A world from the network never gets
// an arbitrary local file played.
int playVideo(ZvWorld* world, int, const char* const* argv, std::string* result) {
  const char* name = argv[1];
  if (!world || !name || !*name) return failure(result, argv[0], "no video named");
  std::string url = name;
  int scheme = zvUrlScheme(name);
  if (scheme == ZV_SCHEME_NONE && name[0] != '/') {
    char resolved[ZV_WWW_PATH_MAX];
    if (!world->url || zvResolveUrl(world->url, name, resolved, sizeof resolved) != 0)
      return failure(result, argv[0], "the name cannot be resolved");
    url = resolved;
    scheme = zvUrlScheme(url.c_str());
  }
  std::string local;
  if (scheme == ZV_SCHEME_FILE || scheme == ZV_SCHEME_NONE) {
    const char* path = scheme == ZV_SCHEME_FILE ? zvFileUrlToPath(url.c_str()) : url.c_str();
    local = path ? path : "";
    if (local.empty() || !zvScriptMayReadLocal(world, local.c_str())) {
      zvMessage("A script of %s may not read %s.", world->url ? world->url : "this world", name);
      return failure(result, argv[0], "this world may not play that file");
    }
  } else {
    ZvUrlHash* entry = world->urlTable ? zvNewUrlHashEntry(world->urlTable, url.c_str(), nullptr, ZV_TYPE_AVI)
                                       : nullptr;
    const char* file = entry ? zvGetLocalFile(entry) : nullptr;
    if (!file) return failure(result, argv[0], "the video cannot be fetched");
    local = file;
  }
  return answer(result, zvVideoPlay(local.c_str()));
}

}  // namespace

void zvMovieInstallCommands(void) {
  static const struct {
    const char* name;
    ZvScriptCommandProc proc;
  } kCommands[] = {
      {"zvVideoNextFrame", nextFrame},      {"zvPlay3DVideo", nextFrame},
      {"zvVideoPlay", playVideo},           {"zvPlay2DVideo", playVideo},
      {"zvPlay3DMovie", play},              {"zvPause3DMovie", pause},
      {"zvSet3DMovieSpeed", setSpeed},      {"zvGet3DMovieSpeed", getSpeed},
      {"zvGet3DMovieInfo", getInfo},        {"zvSet3DMovieFrame", setFrame},
      {"zvSet3DMovieLoop", setLoop},        {"zvSet3DMovieNextFrame", stepNext},
      {"zvSet3DMoviePrevFrame", stepPrevious},
  };
  for (const auto& c : kCommands) zvScriptProvideCommand(c.name, c.proc);
}
