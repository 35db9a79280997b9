// install.cpp — one call that connects every media subsystem, and the
// video's sound to the audio layer.
#include "media/media.h"
#include "platform/audio.h"

namespace {

// A video's sound is the first of the audio layer's extra streams.
constexpr int kVideoStream = 1;

void queueVideoSound(void*, const int16_t* samples, int frames, int channels, int rate) {
  zvAudioQueueStream(kVideoStream, samples, frames, rate, channels);
}

void pauseForVideo(void) {
  zvAudioClearStream(kVideoStream);
  zvSoundPauseAll();
}

// What the video had queued and not played ends with it.
void resumeAfterVideo(void) {
  zvAudioClearStream(kVideoStream);
  zvSoundResumeAll();
}

}  // namespace

void zvMediaInstall(void) {
  zvMediaInstallSound();
  zvMediaInstallMovies();
  zvMediaInstallCharacters();
  ZvVideoHooks& video = zvVideoHooks();
  video.pauseAllSounds = pauseForVideo;
  video.resumeAllSounds = resumeAfterVideo;
  video.playSound = queueVideoSound;
  video.soundUser = nullptr;
}
