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
