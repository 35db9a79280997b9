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
// Motion-captured characters: a body of segments read from a character file
// (".wkn"), built as one object per segment under the character object,
// each with a stick-figure bone or a part of a VRML skin, and posed frame
// by frame. Frames wrap at both ends.

// Hooks, and the character commands for scripts.
void zvMediaInstallCharacters(void);
// Builds a character from the file at characterUrl. With a skin (a VRML
// file whose parts are named like the segments), a new object; without
// one, on *object, or on a new object when *object is null. Relative URLs
// resolve against the skin, else against the world. 0, -1 or -5.
int zvKinNew(ZvWorld* world, const char* characterUrl, const char* skinUrl, ZvObj** object);
// Forgets the body; the objects stay as they are posed.
int zvKinDelete(ZvObj* object);
int zvKinSetFrame(ZvObj* object, int frame);  // 0, -4 out of range, -1
int zvKinNextFrame(ZvObj* object);  // forward, after the last the first
int zvKinPrevFrame(ZvObj* object);  // back, before the first the last
int zvKinGetFrame(ZvObj* object, int* current, int* count);  // current -1 before the first frame

// Shared worlds: every local step is told to the step hook, so that it can
// go to the other users; a step from another user comes back through
// zvKinReceiveStep, which tells nobody. Directions as on the wire.
enum { ZV_KIN_STEP_FORWARD = 1, ZV_KIN_STEP_BACK = 255 };
typedef void (*ZvKinStepHook)(ZvObj* object, int direction);
ZvKinStepHook zvKinSetStepHook(ZvKinStepHook hook);  // answers the previous
int zvKinReceiveStep(ZvObj* object, int direction);  // other directions do nothing
