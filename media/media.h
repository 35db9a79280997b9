// media.h — sound, MIDI, movies, movie textures and motion-captured
// characters: what worlds play and animate.
//
// Everything here runs on the GUI thread except the audio device's
// callback (platform/), which reads what the GUI thread queued and never
// blocks, allocates or touches the scene.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scene/scene.h"

// Connects the media subsystems to the reader, the writer, the scene
// model, navigation and the script commands. The window and --screenshot
// call it; --check does not.
void zvMediaInstall(void);

// --- sound ---
// Sound objects (AmbientSound nodes) of the current sound world: every
// frame decides which are audible, how loud from the active camera, and
// which get the voices (one streamed wave, 16 MIDI notes, one MIDI file).
// Sound output goes through platform/audio.h; another stream (a movie's
// sound) queues its PCM there with zvAudioQueueStream.
void zvMediaInstallSound(void);  // hooks and script commands
void zvSoundInstallHooks(void);  // the reader, scene, navigation and writer hooks alone
// Once a frame: the world shown becomes the sound world (stopping what the
// previous one played), then audibility, volumes, selection, voices.
void zvSoundUpdate(ZvWorld* world);
void zvSoundSetWorld(ZvWorld* world);  // stops everything, applies its sound set
ZvWorld* zvSoundGetWorld(void);
int zvSoundAutoPlay(ZvWorld* world);  // states from the autoplay flags, radii
// By object (0, or -1 without a sound leaf) and by name (in world, or the
// current sound world when null; a name that is not a sound is reported).
int zvSoundPlay(ZvObj* object, int ambient, int loop);
int zvSoundStop(ZvObj* object);
int zvSoundSetBaseVolume(ZvObj* object, int volume);  // 256 is unity for waves
int zvSoundPause(ZvObj* object);
int zvSoundResume(ZvObj* object);
int zvSoundPlayByName(ZvWorld* world, const char* name, int ambient, int loop);
int zvSoundStopByName(ZvWorld* world, const char* name);
int zvSoundSetVolumeByName(ZvWorld* world, const char* name, int volume);
int zvSoundPauseByName(ZvWorld* world, const char* name);
int zvSoundResumeByName(ZvWorld* world, const char* name);
// Pause-all also runs an update and lets the device go; resume-all resumes
// exactly what pause-all paused (a movie brackets itself with these).
void zvSoundPauseAll(void);
// What a sound object is doing: 0, or -1 without a sound leaf.
struct ZvSoundStatus {
  int kind;    // 1 wave, 2 MIDI file, 3 MIDI note, 0 unknown
  int state;   // 0 stopped, 1 playing, 2 out of range, 3 paused
  int ambient, loop;
  int baseVolume, volume;
  float radius;
  int voiced;  // holds a voice now
};
int zvSoundGetStatus(ZvObj* object, ZvSoundStatus* out);
void zvSoundResumeAll(void);
void zvSoundShutdown(void);  // every sound stopped, devices closed

// --- movies ---

// --- characters ---
