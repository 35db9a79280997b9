// videoplay.cpp — a video played over the whole 3D view: pictures decoded
// one ahead and shown at their times on a one-shot timer, its sound handed
// to the sound layer as it is decoded. While it plays, the world's sounds
// are paused and the labels over objects hidden; a left click, a right
// button's release or the end of the file closes it and gives both back.
#include <algorithm>
#include <chrono>
#include <vector>

#include "media/media.h"
#include "platform/overlay.h"
#include "platform/window.h"

namespace {

struct Playing {
  ZvVideoDecoder* decoder;
  ZvPlatformOverlay* overlay;
  ZvPlatformTimer timer;
  std::vector<uint8_t> picture;
  int width, height;
  bool pending;   // a decoded picture waits for its time
  bool started;
  int64_t base;   // the clock's reading at the file's time 0
  bool closing;
  bool pausedSounds, hidLabels;
};
Playing* playing;

int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The largest size of the picture's shape that fits the view, even on both
// sides for the scaler.
void fitPicture(const ZvVideoInfo& info, int viewWidth, int viewHeight, int* width, int* height) {
  if (viewWidth < 2 || viewHeight < 2) {
    viewWidth = info.width;
    viewHeight = info.height;
  }
  double scale = std::min(double(viewWidth) / info.width, double(viewHeight) / info.height);
  *width = std::max(2, int(info.width * scale) & ~1);
  *height = std::max(2, int(info.height * scale) & ~1);
}

void tick(void*);

void clicked(void*) {
  if (!playing || playing->closing) return;
  // Closed from the loop, not from inside the binding that reported it.
  playing->closing = true;
  zvPlatformArmTimer(&playing->timer, 0);
}

void tick(void*) {
  Playing* p = playing;
  if (!p) return;
  if (p->closing) {
    zvVideoClose();
    return;
  }
  if (p->pending) {
    zvPlatformShowOverlayPicture(p->overlay, p->picture.data(), p->width, p->height, 4 * p->width);
    p->pending = false;
  }
  double seconds = 0;
  int r = zvReadVideoFrame(p->decoder, p->picture.data(), &seconds);
  if (r != 1) {  // the end, or a message said what broke
    zvVideoClose();
    return;
  }
  int64_t now = nowMs();
  if (!p->started) {
    p->started = true;
    p->base = now - int64_t(seconds * 1000);
  }
  int64_t wait = p->base + int64_t(seconds * 1000) - now;
  // A picture whose time is far off is a jump in the file's clock, not a
  // reason to show nothing for minutes.
  if (wait > 1000) {
    p->base -= wait;
    wait = 0;
  }
  p->pending = true;
  zvPlatformArmTimer(&p->timer, int(std::max<int64_t>(0, wait)));
}

}  // namespace

ZvVideoHooks& zvVideoHooks(void) {
  static ZvVideoHooks hooks{};
  return hooks;
}

int zvVideoPlaying(void) { return playing != nullptr; }

int zvVideoPlay(const char* file) {
  if (playing) zvVideoClose();
  ZvVideoHooks& hooks = zvVideoHooks();
  if (!hooks.window) {
    zvWarning("zvVideoPlay: there is no window to play %s in", file ? file : "");
    return ZV_FAIL;
  }
  ZvVideoDecoder* decoder = zvOpenVideo(file, "zvVideoPlay");
  if (!decoder) return ZV_FAIL;
  ZvPlatformOverlay* overlay = zvPlatformOpenOverlay(hooks.window, clicked, nullptr);
  if (!overlay) {
    zvWarning("zvVideoPlay: the video window cannot be opened");
    zvCloseVideo(decoder);
    return ZV_FAIL;
  }
  auto* p = new Playing{};
  p->decoder = decoder;
  p->overlay = overlay;
  p->timer = ZvPlatformTimer{tick, nullptr, nullptr};
  ZvVideoInfo info;
  zvGetVideoInfo(decoder, &info);
  int vw, vh;
  zvPlatformOverlaySize(overlay, &vw, &vh);
  fitPicture(info, vw, vh, &p->width, &p->height);
  zvSetVideoOutputSize(decoder, p->width, p->height);
  p->picture.resize(size_t(p->width) * size_t(p->height) * 4);
  if (hooks.playSound) zvSetVideoSoundSink(decoder, hooks.playSound, hooks.soundUser);
  if (hooks.pauseAllSounds) {
    hooks.pauseAllSounds();
    p->pausedSounds = true;
  }
  if (hooks.hideLabels) {
    hooks.hideLabels();
    p->hidLabels = true;
  }
  playing = p;
  zvPlatformArmTimer(&p->timer, 0);
  return ZV_OK;
}

void zvVideoClose(void) {
  Playing* p = playing;
  if (!p) return;
  playing = nullptr;
  zvPlatformDisarmTimer(&p->timer);
  zvPlatformCloseOverlay(p->overlay);
  zvCloseVideo(p->decoder);
  ZvVideoHooks& hooks = zvVideoHooks();
  if (p->hidLabels && hooks.showLabels) hooks.showLabels();
  if (p->pausedSounds && hooks.resumeAllSounds) hooks.resumeAllSounds();
  delete p;
}
