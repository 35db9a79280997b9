// audio.h — the sound output: one device through SDL2's audio subsystem.
//
// Everything is mixed on the GUI thread: the wave voice's payloads, the
// sound of other streams (a movie's), and whatever a generator adds (the
// MIDI synthesizer). The mix goes into a lock-free ring a little ahead of
// the device; SDL's callback only copies out of that ring, so it never
// blocks on the GUI thread, never allocates and never sees the scene.
//
// Instead of a device the output can be a recording sink that keeps every
// payload and MIDI message in memory and mixes only when asked: the tests
// and benchmarks run on it without a sound card.
#pragma once

#include <cstdint>
#include <vector>

// Signed 16-bit samples, channels interleaved; 1 or 2 channels.
struct ZvAudioFormat {
  int rate;
  int channels;
};

// Opens the device in this format (SDL converts to what the hardware
// takes). 0, or -1 with the reason in zvAudioError(). Already open: 0 when
// the format is the same, else -1.
int zvAudioOpen(const ZvAudioFormat* format);
// Drops everything queued and closes the device.
void zvAudioClose(void);
int zvAudioIsOpen(void);
int zvAudioGetFormat(ZvAudioFormat* out);  // 0 while open
const char* zvAudioError(void);

// The wave voice: one payload of interleaved samples in its own format,
// converted here when that differs from the device's (linear interpolation,
// carried across payloads). last ends the sound: the next one starts afresh.
int zvAudioQueueWave(const int16_t* samples, int frames, int rate, int channels, int last);
int zvAudioWaveQueued(void);  // payloads not yet mixed
void zvAudioClearWave(void);  // drops the voice's queued payloads
// Called on the GUI thread after payloads were mixed: the voice refills.
void zvAudioSetWaveDone(void (*done)(void));

// Other streams (1 to ZV_AUDIO_STREAMS, e.g. a movie's sound): decoded PCM
// in any rate and channel count, converted and mixed beside the wave voice.
// The device must be open (zvAudioOpen; a stream alone may open it in its
// own format). zvAudioStreamQueued tells how many device frames wait, so a
// decoder can stay a little ahead without flooding memory.
enum { ZV_AUDIO_STREAMS = 4 };
int zvAudioQueueStream(int stream, const int16_t* samples, int frames, int rate, int channels);
long zvAudioStreamQueued(int stream);
void zvAudioClearStream(int stream);

// A generator adds its own sound to every block: it overwrites out with
// frames × channels samples of the device's format.
typedef void (*ZvAudioGenerator)(int16_t* out, int frames, int channels, int rate, void* user);
void zvAudioSetGenerator(ZvAudioGenerator generator, void* user);

// Mixes until the ring holds about 120 ms ahead of the device. The frame
// tick calls it, and so does a timer of the layer's own while the device
// is open. Does nothing on the recording sink (zvAudioRender drives that).
void zvAudioPump(void);
long zvAudioPending(void);  // frames mixed and not yet played (0 on the sink)

// The recording sink replaces the device from the next zvAudioOpen on, or
// at once when on is 0 (which closes it). zvAudioRender mixes frames of
// the device's format into out (and into the recording); 0, or -1 when
// nothing is open.
struct ZvAudioRecording {
  int payloads;                   // wave payloads queued
  std::vector<int16_t> wave;      // their samples, as queued (after conversion)
  std::vector<uint32_t> midi;     // short messages: status | data1 << 8 | data2 << 16
  std::vector<int16_t> mixed;     // what zvAudioRender produced, when keepMixed
  int keepMixed;
  int ring;  // set before opening: zvAudioPump fills the ring, the caller drains it as the device would
};
void zvAudioRecord(int on);
ZvAudioRecording* zvAudioRecording(void);  // null unless recording
void zvAudioRecordMidi(uint32_t message);  // kept when recording
int zvAudioRender(int16_t* out, int frames);

// The body of SDL's callback: copies from the ring, silence where it runs
// short. Public for the benchmark.
void zvAudioDeviceFill(uint8_t* stream, int bytes);
long zvAudioUnderruns(void);  // callbacks that found the ring short
