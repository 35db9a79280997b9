// soundcmds.cpp — the script commands that play, stop, pause, resume and
// set the volume of sound objects, by name or by handle.
#include <cstdlib>
#include <cstring>
#include <string>

#include "media/soundpriv.h"
#include "script/script.h"

namespace {

// The object of a handle the script layer has already checked.
ZvObj* objectOf(ZvWorld* world, const char* text) {
  auto* object = static_cast<ZvObj*>(zvScriptHandleRecord(text, ZV_HANDLE_OBJ));
  return object && object->world == world ? object : nullptr;
}

int answer(int value, std::string* result) {
  *result = std::to_string(value);
  return 0;
}

int badObject(const char* const* argv, std::string* result) {
  *result = std::string(argv[0]) + ":bad ZvObj[" + argv[1] + "]";
  return 1;
}

int number(const char* text) { return int(std::strtol(text, nullptr, 10)); }

int playByName(ZvWorld* world, int, const char* const* argv, std::string* result) {
  int ambient = std::strcmp(argv[0], "zvPlayAmbientSoundByName") == 0;
  return answer(zvSoundPlayByName(world, argv[1], ambient, number(argv[2]) != 0), result);
}

int play(ZvWorld* world, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectOf(world, argv[1]);
  if (!object) return badObject(argv, result);
  int ambient = std::strcmp(argv[0], "zvPlayAmbientSound") == 0;
  return answer(zvSoundPlay(object, ambient, number(argv[2]) != 0), result);
}

int stopByName(ZvWorld* world, int, const char* const* argv, std::string* result) {
  return answer(zvSoundStopByName(world, argv[1]), result);
}
int stop(ZvWorld* world, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectOf(world, argv[1]);
  return object ? answer(zvSoundStop(object), result) : badObject(argv, result);
}

int volumeByName(ZvWorld* world, int, const char* const* argv, std::string* result) {
  return answer(zvSoundSetVolumeByName(world, argv[1], number(argv[2])), result);
}
int volume(ZvWorld* world, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectOf(world, argv[1]);
  return object ? answer(zvSoundSetBaseVolume(object, number(argv[2])), result) : badObject(argv, result);
}

int suspendByName(ZvWorld* world, int, const char* const* argv, std::string* result) {
  return answer(zvSoundPauseByName(world, argv[1]), result);
}
int suspend(ZvWorld* world, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectOf(world, argv[1]);
  return object ? answer(zvSoundPause(object), result) : badObject(argv, result);
}

int resumeByName(ZvWorld* world, int, const char* const* argv, std::string* result) {
  return answer(zvSoundResumeByName(world, argv[1]), result);
}
int resume(ZvWorld* world, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectOf(world, argv[1]);
  return object ? answer(zvSoundResume(object), result) : badObject(argv, result);
}

int suspendAll(ZvWorld*, int, const char* const*, std::string* result) {
  zvSoundPauseAll();
  return answer(0, result);
}
int resumeAll(ZvWorld*, int, const char* const*, std::string* result) {
  zvSoundResumeAll();
  return answer(0, result);
}

}  // namespace

void zvMediaInstallSound(void) {
  zvSoundInstallHooks();
  // The synthesizer and the device go before the libraries unload.
  static bool once = false;
  if (!once) std::atexit(zvSoundShutdown);
  once = true;
  static const struct {
    const char* name;
    ZvScriptCommandProc proc;
  } commands[] = {
      {"zvPlayAmbientSoundByName", playByName}, {"zvPlaySpotSoundByName", playByName},
      {"zvPlayAmbientSound", play},             {"zvPlaySpotSound", play},
      {"zvStopSoundByName", stopByName},        {"zvStopSound", stop},
      {"zvSetSoundVolumeByName", volumeByName}, {"zvSetSoundVolume", volume},
      {"zvSuspendSoundByName", suspendByName},  {"zvSuspendSound", suspend},
      {"zvResumeSoundByName", resumeByName},    {"zvResumeSound", resume},
      {"zvSuspendAllSound", suspendAll},        {"zvResumeAllSound", resumeAll},
  };
  for (const auto& c : commands) zvScriptProvideCommand(c.name, c.proc);
}
