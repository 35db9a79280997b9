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
