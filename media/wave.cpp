// wave.cpp — the one wave voice, which streams a WAVE file (wavefile.cpp).
//
// The voice hands the audio layer payloads of 4048 bytes of the
// file's data, every sample scaled by the voice's volume, at most 16 of
// them ahead; the audio layer tells it when one has been played.
#include <algorithm>
#include <cstring>
#include <string>

#include "media/soundpriv.h"
#include "platform/audio.h"
#include "scene/scene.h"

namespace {

constexpr int kPayloadBytes = 4048;
constexpr int kPayloadsQueued = 16;

struct Voice {
  int state = 0;  // 0 free, 2 playing, 3 finished
  ZvWaveFile file{};
  int volume = 256;
  int loop = 0;
  void* owner = nullptr;
  int failed = 0;  // the output never opened: one message, then silence
  std::vector<int16_t> buffer;
};
Voice voice;

void onPayloadPlayed(void) {
  // A finished voice is free once its last payload has played.
  if (voice.state == 3 && zvAudioWaveQueued() == 0) {
    voice.state = 0;
    voice.owner = nullptr;
  }
  zvWaveVoiceStream();
  zvSoundReleaseOutput();
}

}  // namespace

int zvWaveVoiceOpen(const char* file, int loop, void* owner) {
  if (voice.state != 0 || voice.failed) return -1;
  ZvWaveFile wave;
  if (zvWaveOpenFile(file, &wave) != 0) return -1;
  if (!zvAudioIsOpen()) {
    // The first wave opened decides the device's format; later ones are
    // converted to it.
    ZvAudioFormat format{wave.rate, wave.channels};
    if (zvAudioOpen(&format) != 0) {
      zvWarning("zvWaveOpen: no sound device (%s); sounds stay silent", zvAudioError());
      voice.failed = 1;
      zvWaveCloseFile(&wave);
      return -1;
    }
  }
  zvAudioSetWaveDone(onPayloadPlayed);
  voice.file = wave;
  voice.loop = loop;
  voice.owner = owner;
  voice.volume = 256;
  voice.state = 2;
  voice.buffer.resize(kPayloadBytes);
  return 0;
}

void zvWaveVoiceClose(void) {
  if (voice.state == 2) zvAudioClearWave();
  zvWaveCloseFile(&voice.file);
  voice.state = 0;
  voice.owner = nullptr;
}

int zvWaveVoiceState(void) { return voice.state; }
void* zvWaveVoiceOwner(void) { return voice.owner; }
void zvWaveVoiceSetVolume(int volume) { voice.volume = volume; }
int zvWaveOutputFailed(void) { return voice.failed; }
void zvWaveVoiceReset(void) {
  zvWaveVoiceClose();
  voice.failed = 0;
}

void zvWaveVoiceStream(void) {
  while (voice.state == 2 && zvAudioWaveQueued() < kPayloadsQueued) {
    int frames = zvWaveReadPayload(&voice.file, kPayloadBytes, voice.volume, voice.buffer.data());
    if (frames < 0) {
      zvWarning("zvWaveOpen: a read failed while playing");
      frames = 0;
      voice.loop = 0;
    }
    bool atEnd = voice.file.position >= voice.file.dataEnd || frames == 0;
    bool last = atEnd && !voice.loop;
    if (frames > 0 || last)
      zvAudioQueueWave(voice.buffer.data(), frames, voice.file.rate, voice.file.channels, last ? 1 : 0);
    if (atEnd) {
      if (voice.loop) {
        voice.file.position = voice.file.dataStart;
      } else {
        // Finished: what is queued still plays; the file can go now.
        zvWaveCloseFile(&voice.file);
        voice.state = 3;
      }
    }
  }
}
