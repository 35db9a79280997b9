// sound.cpp — the sound world: which sound objects are audible, how loud,
// and which of them get the few voices (one streamed wave, sixteen MIDI
// notes, one MIDI file as a background track), decided once a frame.
#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "media/soundpriv.h"
#include "nav/nav.h"
#include "platform/audio.h"
#include "scene/scene.h"
#include "vrml/vrml.h"
#include "www/www.h"

struct ZvSound {
  ZvObj* object;
  ZvWorld* world;
  int kind;  // 1 wave, 2 MIDI file (a background track), 3 MIDI note, else unknown
  ZvUrlHash* file;
  int autoPlay, loop;
  int state;    // 0 stopped, 1 playing, 2 playing but out of range, 3 paused
  int ambient;  // 1: always at the base volume
  int channel;  // MIDI channel 1..16 while a note sounds
  long startTick;
  int baseVolume, volume, lastVolume;
  int note, velocity;
  float radius;
  float bboxSize[3], bboxCenter[3];
  uint64_t candidateSince;  // 0 while not a candidate
  int pausedByAll;
};

namespace {

enum { kClassWave, kClassTrack, kClassNote, kClasses };
constexpr int kClassVoices[kClasses] = {1, 1, 16};
// 255, not 256: the MIDI volume controller takes volume >> 1 in seven bits.
constexpr int kDefaultVolume = 255;

struct SoundWorld {
  std::vector<ZvSound*> sounds;
};

struct State {
  ZvWorld* world = nullptr;  // the current sound world
  std::vector<ZvSound*> playing[kClasses];
  uint64_t candidates = 0;  // order in which sounds became candidates
  std::vector<ZvSound*> order;                // scratch, kept to spare allocation
  std::vector<ZvSound*> selected[kClasses];   // likewise
};
State sound;

SoundWorld* soundWorldOf(ZvWorld* world, bool make) {
  if (!world) return nullptr;
  if (!world->soundList && make) world->soundList = new SoundWorld;
  return static_cast<SoundWorld*>(world->soundList);
}

int classOf(const ZvSound* s) {
  return s->kind == 1 ? kClassWave : s->kind == 2 ? kClassTrack : s->kind == 3 ? kClassNote : -1;
}

ZvSoundLeaf* soundLeafOf(ZvObj* object) {
  for (ZvLeaf* leaf = object ? object->leaf : nullptr; leaf; leaf = leaf->next)
    if (leaf->type == ZV_LEAF_SOUND) return static_cast<ZvSoundLeaf*>(leaf);
  return nullptr;
}

ZvSound* soundOf(ZvObj* object) {
  ZvSoundLeaf* leaf = soundLeafOf(object);
  return leaf ? static_cast<ZvSound*>(leaf->sound) : nullptr;
}

long nowMs(void) {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return long(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

const char* localFile(ZvSound* s) { return s->file ? zvGetLocalFile(s->file) : nullptr; }

bool isPlaying(const ZvSound* s, int cls) {
  for (ZvSound* p : sound.playing[cls])
    if (p == s) return true;
  return false;
}

// The sound's own box when the file gave one, else the object's cube.
bool cubeOf(ZvSound* s, float min[3], float max[3]) {
  if (s->bboxSize[0] > 0 || s->bboxSize[1] > 0 || s->bboxSize[2] > 0) {
    for (int i = 0; i < 3; ++i) {
      min[i] = s->bboxCenter[i] - s->bboxSize[i] / 2;
      max[i] = s->bboxCenter[i] + s->bboxSize[i] / 2;
    }
    return true;
  }
  return zvGetObjBoundingCube(s->object, min, max) == 0;
}

void computeRadius(ZvSound* s) {
  float min[3], max[3];
  if (!cubeOf(s, min, max)) {
    s->radius = 20.0f;
    return;
  }
  float dx = max[0] - min[0], dy = max[1] - min[1], dz = max[2] - min[2];
  s->radius = std::sqrt(dx * dx + dy * dy + dz * dz) / 2.0f;
}

// --- the device side of one sound ------------------------------------------

void sendNoteVolume(ZvSound* s, int volume) {
  int v = std::clamp(volume, 0, 255);
  zvMidiShort(0xB0 + s->channel - 1, 7, (v >> 1) & 127);
  zvMidiShort(0xB0 + s->channel - 1, 39, (v << 6) & 127);
}

int setVolume(ZvSound* s, int volume) {
  if (!s) {
    zvWarning("zvSoundSetVolume: parameter is NULL");
    return -1;
  }
  switch (s->kind) {
    case 1:
      if (zvWaveVoiceOwner() == s) zvWaveVoiceSetVolume(volume);
      break;
    case 2:
      zvMidiTrackVolume(volume);
      break;
    case 3:
      if (s->channel >= 1) sendNoteVolume(s, volume);
      break;
    default:
      break;
  }
  s->lastVolume = volume;
  return 0;
}

int startNote(ZvSound* s) {
  const char* file = localFile(s);
  const char* section = zvGetObjName(s->object);
  int channel = zvProfileInt(file, section, "CHANNEL", 0);
  int note = zvProfileInt(file, section, "NOTE", 0);
  int velocity = zvProfileInt(file, section, "VEROCITY", 127);
  // Without a channel the note would be built on channel -1: channel 1.
  if (channel == 0) channel = 1;
  if (channel < 1 || channel > 16 || note < 0 || note > 127 || velocity < 0 || velocity > 127) {
    zvWarning("zvSoundStart: %s: [%s] has channel %d, note %d, velocity %d out of range", file ? file : "(null)",
              section ? section : "", channel, note, velocity);
    return -1;
  }
  if (zvMidiOpen() != 0) return -1;  // a failed device plays nothing, silently
  s->channel = channel;
  s->note = note;
  s->velocity = velocity;
  setVolume(s, s->volume);
  zvMidiShort(0x90 + channel - 1, note, velocity);
  s->startTick = nowMs();
  return 0;
}

int start(ZvSound* s) {
  int r;
  switch (s->kind) {
    case 1: {
      const char* file = localFile(s);
      r = zvWaveVoiceOpen(file, s->loop, s);
      if (r == 0) {
        setVolume(s, s->volume);
        zvWaveVoiceStream();
      }
      break;
    }
    case 2:
      r = zvMidiTrackStart(localFile(s), s->loop, s->baseVolume);
      if (r == 0) s->lastVolume = s->volume;
      break;
    case 3:
      r = startNote(s);
      break;
    default:
      zvWarning("zvSoundStart: unknown sound type");
      r = -1;
  }
  if (r != 0) s->state = 0;
  return r;
}

void stop(ZvSound* s) {
  switch (s->kind) {
    case 1:
      if (zvWaveVoiceOwner() == s) zvWaveVoiceClose();
      break;
    case 2:
      zvMidiTrackStop();
      break;
    case 3:
      if (s->channel >= 1) zvMidiShort(0x80 + s->channel - 1, s->note, 0);
      s->channel = 0;
      break;
    default:
      break;
  }
}

bool devicePlays(const ZvSound* s) {
  switch (s->kind) {
    case 1: return zvWaveVoiceState() == 2 && zvWaveVoiceOwner() == s;
    case 2: return zvMidiTrackPlaying();
    case 3: return true;
    default:
      zvWarning("zvSoundGetStatusPhysical: unknown sound type");
      return false;
  }
}

void forget(ZvSound* s) {
  for (auto& list : sound.playing) list.erase(std::remove(list.begin(), list.end(), s), list.end());
}

void stopAll(void) {
  for (auto& list : sound.playing) {
    for (ZvSound* s : list) stop(s);
    list.clear();
  }
}

// --- by name ----------------------------------------------------------------

ZvSound* byName(ZvWorld* world, const char* name, bool quiet) {
  ZvObj* object = world && name ? zvGetObjByNameInWorld(world, name) : nullptr;
  if (!object) {
    if (!quiet) zvWarning("zvAmbientSoundPlay: obj is not a sound %s", name ? name : "(null)");
    return nullptr;
  }
  ZvSound* s = soundOf(object);
  if (!s) {
    if (!quiet) zvWarning("zvAmbientSoundPlay: sound object %s has no sound leaf", name);
    return nullptr;
  }
  return s;
}

void play(ZvSound* s, int ambient, int loop) {
  s->state = 1;
  s->ambient = ambient;
  s->loop = loop;
  s->pausedByAll = 0;
}

void pause(ZvSound* s) {
  if (s->state == 1 || s->state == 2) s->state = 3;
}

void resume(ZvSound* s) {
  if (s->state == 3) s->state = 1;
  s->pausedByAll = 0;
}

// --- hooks ------------------------------------------------------------------

int addSound(ZvObj* object, const ZvSoundDesc* desc) {
  ZvSoundLeaf* leaf = soundLeafOf(object);
  if (!leaf || !desc) return -1;
  ZvWorld* world = object->world ? object->world : zvGetCurrentWorld();
  SoundWorld* sw = soundWorldOf(world, true);
  if (!sw) return -1;
  auto* s = new ZvSound{};
  s->object = object;
  s->world = world;
  s->kind = desc->kind;
  s->file = desc->file;
  s->autoPlay = desc->autoPlay ? 1 : 0;
  s->loop = desc->loop ? 1 : 0;
  // Playing from the start when the world asks for it; a world's sounds
  // only sound while it is the sound world.
  s->state = s->autoPlay;
  s->baseVolume = s->volume = kDefaultVolume;
  s->lastVolume = -1;
  s->radius = 20.0f;
  std::memcpy(s->bboxSize, desc->bboxSize, sizeof s->bboxSize);
  std::memcpy(s->bboxCenter, desc->bboxCenter, sizeof s->bboxCenter);
  leaf->sound = s;
  sw->sounds.push_back(s);
  return 0;
}

void deleteSoundLeaf(ZvLeaf* leaf) {
  auto* s = static_cast<ZvSound*>(static_cast<ZvSoundLeaf*>(leaf)->sound);
  if (s) {
    if (isPlaying(s, kClassWave) || isPlaying(s, kClassTrack) || isPlaying(s, kClassNote)) stop(s);
    forget(s);
    if (SoundWorld* sw = soundWorldOf(s->world, false))
      sw->sounds.erase(std::remove(sw->sounds.begin(), sw->sounds.end(), s), sw->sounds.end());
    delete s;
  }
  zvFree(leaf);
}

void resetWorldSound(ZvWorld* world) {
  if (world && world == sound.world) {
    stopAll();
    sound.world = nullptr;
  }
}

void emptyWorldSoundList(ZvWorld* world) {
  if (!world) return;
  resetWorldSound(world);
  if (SoundWorld* sw = soundWorldOf(world, false)) {
    for (ZvSound* s : sw->sounds) s->world = nullptr;  // leaves still held elsewhere forget their world
    delete sw;
  }
  world->soundList = nullptr;
}

void playWave(const char* file) {
  // Replaces nothing: with the voice busy the alert is simply not heard.
  if (zvWaveVoiceOpen(file, 0, nullptr) == 0) zvWaveVoiceStream();
}

void ambientSound(ZvWorld* world, const char* name, int on) {
  // Footsteps are optional in a world: a name it does not have is quiet.
  ZvSound* s = byName(world, name, true);
  if (!s) return;
  if (!on) {
    s->state = 0;
  } else if (s->state != 1 && s->state != 2) {
    play(s, 1, 1);
  }
}

int soundOfLeaf(ZvLeaf* leaf, ZvDumpSound* out) {
  auto* s = leaf && leaf->type == ZV_LEAF_SOUND ? static_cast<ZvSound*>(static_cast<ZvSoundLeaf*>(leaf)->sound)
                                                  : nullptr;
  if (!s || !out) return -1;
  out->file = s->file;
  std::memcpy(out->bboxSize, s->bboxSize, sizeof out->bboxSize);
  std::memcpy(out->bboxCenter, s->bboxCenter, sizeof out->bboxCenter);
  out->autoPlay = s->autoPlay;
  out->loop = s->loop;
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------

void zvSoundSetWorld(ZvWorld* world) {
  stopAll();
  sound.world = world;
  // The world's sound set: the object named "soundset" with a sound leaf.
  ZvObj* set = world ? zvGetObjByNameInWorld(world, "soundset") : nullptr;
  ZvSound* s = soundOf(set);
  if (s) zvMidiSoundSet(localFile(s), zvGetObjName(set));
}

ZvWorld* zvSoundGetWorld(void) { return sound.world; }

int zvSoundAutoPlay(ZvWorld* world) {
  if (!world) {
    zvWarning("zvSoundAutoPlay: world is NULL");
    return -1;
  }
  SoundWorld* sw = soundWorldOf(world, false);
  if (!sw) return 0;
  for (ZvSound* s : sw->sounds) {
    if (!soundLeafOf(s->object)) {
      zvWarning("zvSoundAutoPlay: sound is NULL");
      continue;
    }
    s->state = s->autoPlay ? 1 : 0;
    computeRadius(s);
  }
  return 0;
}

int zvSoundPlay(ZvObj* object, int ambient, int loop) {
  ZvSound* s = soundOf(object);
  if (!s) return -1;
  play(s, ambient, loop);
  return 0;
}
int zvSoundStop(ZvObj* object) {
  ZvSound* s = soundOf(object);
  if (!s) return -1;
  s->state = 0;
  return 0;
}
int zvSoundSetBaseVolume(ZvObj* object, int volume) {
  ZvSound* s = soundOf(object);
  if (!s) return -1;
  s->baseVolume = volume;
  return 0;
}
int zvSoundPause(ZvObj* object) {
  ZvSound* s = soundOf(object);
  if (!s) return -1;
  pause(s);
  return 0;
}
int zvSoundResume(ZvObj* object) {
  ZvSound* s = soundOf(object);
  if (!s) return -1;
  resume(s);
  return 0;
}

int zvSoundPlayByName(ZvWorld* world, const char* name, int ambient, int loop) {
  ZvSound* s = byName(world ? world : sound.world, name, false);
  if (!s) return -1;
  play(s, ambient, loop);
  return 0;
}
int zvSoundStopByName(ZvWorld* world, const char* name) {
  ZvSound* s = byName(world ? world : sound.world, name, false);
  return s ? zvSoundStop(s->object) : -1;
}
int zvSoundSetVolumeByName(ZvWorld* world, const char* name, int volume) {
  ZvSound* s = byName(world ? world : sound.world, name, false);
  return s ? zvSoundSetBaseVolume(s->object, volume) : -1;
}
int zvSoundPauseByName(ZvWorld* world, const char* name) {
  ZvSound* s = byName(world ? world : sound.world, name, false);
  return s ? zvSoundPause(s->object) : -1;
}
int zvSoundResumeByName(ZvWorld* world, const char* name) {
  ZvSound* s = byName(world ? world : sound.world, name, false);
  return s ? zvSoundResume(s->object) : -1;
}

int zvSoundGetStatus(ZvObj* object, ZvSoundStatus* out) {
  ZvSound* s = soundOf(object);
  if (!s || !out) return -1;
  int cls = classOf(s);
  *out = ZvSoundStatus{s->kind, s->state, s->ambient, s->loop, s->baseVolume, s->volume, s->radius,
                       cls >= 0 && isPlaying(s, cls)};
  return 0;
}

void zvSoundPauseAll(void) {
  if (SoundWorld* sw = soundWorldOf(sound.world, false))
    for (ZvSound* s : sw->sounds)
      if (s->state == 1 || s->state == 2) {
        s->state = 3;
        s->pausedByAll = 1;
      }
  zvSoundUpdate(sound.world);
  zvSoundReleaseOutput();
}

void zvSoundResumeAll(void) {
  // Exactly what pause-all paused: a sound paused on its own stays paused.
  if (SoundWorld* sw = soundWorldOf(sound.world, false))
    for (ZvSound* s : sw->sounds)
      if (s->state == 3 && s->pausedByAll) resume(s);
}

void zvSoundUpdate(ZvWorld* world) {
  if (world != sound.world) zvSoundSetWorld(world);
  SoundWorld* sw = soundWorldOf(world, false);
  if (!sw) {
    zvAudioPump();
    zvSoundReleaseOutput();
    return;
  }
  // 1. Finished sounds.
  for (auto& list : sound.playing)
    for (ZvSound* s : list)
      if (!devicePlays(s)) s->state = 0;

  // 2. Audibility and volume.
  float camera[3] = {0, 0, 0};
  // A world without a camera table is normal here, not worth a warning a frame.
  ZvObj* cam = world->cameras ? zvGetActiveCamera(world) : nullptr;
  if (cam) std::memcpy(camera, zvGetObjectWRT(cam)->m[3], sizeof camera);
  for (ZvSound* s : sw->sounds) {
    if (s->state != 1 && s->state != 2) continue;
    const ZvTransform* wrt = zvGetObjectWRT(s->object);
    float min[3], max[3];
    if (cubeOf(s, min, max)) {
      computeRadius(s);
      float local[3];
      ZvTransform inverse;
      bool inside = false;
      if (cam && zvTransformInvertAffine(&inverse, wrt) == 0) {
        zvTransformPoint(&inverse, camera, local);
        inside = local[0] >= min[0] && local[0] <= max[0] && local[1] >= min[1] && local[1] <= max[1] &&
                 local[2] >= min[2] && local[2] <= max[2];
      }
      s->state = inside ? 1 : 2;
    } else {
      s->radius = 20.0f;
      s->state = 1;
    }
    if (s->state != 1) continue;
    if (s->ambient || !cam) {
      s->volume = s->baseVolume;
      continue;
    }
    float source[3];
    zvTransformPoint(wrt, s->bboxCenter, source);
    float dx = camera[0] - source[0], dy = camera[1] - source[1], dz = camera[2] - source[2];
    float d = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (d < 1.0f) {
      s->volume = s->baseVolume;
    } else {
      int v = int(((s->radius - d) / s->radius) * float(s->baseVolume));
      s->volume = v < 0 ? 0 : v;
    }
  }

  // 3. Candidates, loudest first; among equals, the earlier candidate.
  sound.order.clear();
  for (ZvSound* s : sw->sounds) {
    if (s->state != 1) {
      s->candidateSince = 0;
      continue;
    }
    if (!s->candidateSince) s->candidateSince = ++sound.candidates;
    sound.order.push_back(s);
  }
  std::stable_sort(sound.order.begin(), sound.order.end(), [](const ZvSound* a, const ZvSound* b) {
    return a->volume != b->volume ? a->volume > b->volume : a->candidateSince < b->candidateSince;
  });

  // 4. Selection per class.
  for (auto& list : sound.selected) list.clear();
  for (ZvSound* s : sound.order) {
    int cls = classOf(s);
    if (cls < 0) {
      start(s);  // reports the unknown kind and stops it
      continue;
    }
    if (int(sound.selected[cls].size()) < kClassVoices[cls]) sound.selected[cls].push_back(s);
  }

  // 5. Reconciliation: stops first, so that a freed voice can be taken.
  for (int cls = 0; cls < kClasses; ++cls) {
    auto& selected = sound.selected[cls];
    for (ZvSound* s : sound.playing[cls])
      if (std::find(selected.begin(), selected.end(), s) == selected.end()) stop(s);
    auto& playing = sound.playing[cls];
    std::vector<ZvSound*> now;
    now.swap(playing);
    for (ZvSound* s : selected) {
      bool was = std::find(now.begin(), now.end(), s) != now.end();
      if (!was) {
        if (start(s) != 0) continue;
      } else {
        int wanted = cls == kClassTrack ? s->baseVolume : s->volume;
        if (wanted != s->lastVolume) setVolume(s, wanted);
      }
      playing.push_back(s);
    }
  }
  zvWaveVoiceStream();
  zvAudioPump();
  zvSoundReleaseOutput();
}

void zvSoundReleaseOutput(void) {
  if (!zvAudioIsOpen() || zvWaveVoiceState() != 0 || zvAudioWaveQueued() > 0 || zvAudioPending() > 0) return;
  for (auto& list : sound.playing)
    if (!list.empty()) return;
  if (zvMidiTrackPlaying()) return;
  for (int i = 1; i <= ZV_AUDIO_STREAMS; ++i)
    if (zvAudioStreamQueued(i) > 0) return;
  zvAudioClose();
}

void zvSoundShutdown(void) {
  stopAll();
  zvWaveVoiceReset();
  zvMidiClose();
  zvAudioClose();
  sound.world = nullptr;
}

void zvSoundInstallHooks(void) {
  zvReaderHooks().addSound = addSound;
  zvSceneHooks().deleteSoundLeaf = deleteSoundLeaf;
  zvSceneHooks().resetWorldSound = resetWorldSound;
  zvSceneHooks().emptyWorldSoundList = emptyWorldSoundList;
  zvNavHooks().playWave = playWave;
  zvNavHooks().ambientSound = ambientSound;
  zvDumpHooks().soundOf = soundOfLeaf;
}
