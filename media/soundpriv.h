// soundpriv.h — what the sound world, the wave voice and the MIDI side
// share inside media/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "media/media.h"

struct ZvUrlHash;

// The WAVE reader: a RIFF file read chunk by chunk, every size checked
// against the file before it is used.
struct ZvWaveFile {
  FILE* fp;
  int ownsFile;
  int channels, rate, bits, blockAlign;
  long dataStart, dataEnd, position;
};
// 0, or -1 with a message naming what (file name or "memory") was wrong.
int zvWaveOpenStream(FILE* fp, const char* what, ZvWaveFile* wave);
int zvWaveOpenFile(const char* file, ZvWaveFile* wave);
void zvWaveCloseFile(ZvWaveFile* wave);
// Reads at most maxBytes of sample data from the position on, widened to
// 16-bit and scaled by volume / 256; frames read, 0 at the end, -1 on a
// read error. loop seeks back to the data start at the end instead.
int zvWaveReadPayload(ZvWaveFile* wave, int maxBytes, int volume, int16_t* out);

// The one wave voice.
int zvWaveVoiceOpen(const char* file, int loop, void* owner);  // 0, or -1 (busy, bad file, no device)
void zvWaveVoiceClose(void);           // stops it, dropping what is queued
int zvWaveVoiceState(void);            // 0 free, 2 playing, 3 finished
void* zvWaveVoiceOwner(void);
void zvWaveVoiceSetVolume(int volume);
void zvWaveVoiceStream(void);          // fills and queues payloads up to 16
int zvWaveOutputFailed(void);          // the device never opened: sounds stay silent
void zvWaveVoiceReset(void);           // closed, and the device may be tried again

// MIDI: the synthesizer (opened on first use), short messages, the
// per-world sound set and the background track.
int zvMidiOpen(void);  // 0, or -1 once failed (never retried)
void zvMidiShort(int status, int data1, int data2);
void zvMidiClose(void);  // all notes off, then the synthesizer goes
int zvMidiNotesSounding(void);
int zvMidiTrackStart(const char* file, int loop, int volume);  // 0 or -1
void zvMidiTrackStop(void);
void zvMidiTrackVolume(int volume);
int zvMidiTrackPlaying(void);
void zvMidiSoundSet(const char* file, const char* section);
// The profile reader: the integer under key in [section], or fallback.
int zvProfileInt(const char* file, const char* section, const char* key, int fallback);

// The audio output closes when nothing at all uses it.
void zvSoundReleaseOutput(void);
