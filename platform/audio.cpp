// audio.cpp — the sound device (SDL2, audio subsystem only), the mixer that
// feeds it from the GUI thread, and the recording sink the tests use.
#include "platform/audio.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstring>
#include <deque>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "platform/window.h"

namespace {

constexpr int kBlockFrames = 256;
constexpr int kAheadMs = 120;
constexpr int kPumpMs = 20;

struct Payload {
  std::vector<int16_t> samples;
  size_t read = 0;
};

struct Converter {
  SDL_AudioStream* stream = nullptr;
  int rate = 0, channels = 0;
};

// The wave voice's own converter: linear interpolation that carries its
// place from one payload to the next and holds nothing back, so a sound's
// last payload ends where the sound does (SDL's stream keeps some).
struct Resampler {
  int rate = 0, channels = 0;
  double pos = 0;  // in input frames from the payload's first; -1 .. 0 reaches the carried frame
  int16_t last[2] = {0, 0};
  std::vector<int16_t> mapped;
};

struct Output {
  int open = 0;
  int recordNext = 0;  // the sink replaces the device at the next open
  int recording = 0;   // this opening is the sink
  ZvAudioFormat format{0, 0};
  SDL_AudioDeviceID device = 0;
  // The ring: written by the GUI thread (head), read by SDL's (tail), in
  // samples; both only grow, the capacity is a power of two.
  std::vector<int16_t> ring;
  size_t mask = 0;
  std::atomic<uint64_t> head{0}, tail{0};
  std::atomic<long> underruns{0};
  std::deque<Payload> wave;
  Resampler waveConverter;
  Converter streams[ZV_AUDIO_STREAMS];
  ZvAudioGenerator generator = nullptr;
  void* generatorUser = nullptr;
  void (*waveDone)(void) = nullptr;
  std::vector<int32_t> sum;
  std::vector<int16_t> scratch;
  std::vector<int16_t> block;
  ZvPlatformTimer timer{};
  std::string error;
  ZvAudioRecording record;
};

// SDL, bound at the first sound.
#define QM_SDL_ENTRIES(X)                                                                                     \
  X(SDL_AudioStreamAvailable) X(SDL_AudioStreamGet) X(SDL_AudioStreamPut) X(SDL_CloseAudioDevice)          \
  X(SDL_FreeAudioStream) X(SDL_GetError) X(SDL_InitSubSystem) X(SDL_NewAudioStream) X(SDL_OpenAudioDevice) \
  X(SDL_PauseAudioDevice) X(SDL_WasInit)
struct Sdl {
  QM_SDL_ENTRIES(ZV_LIBRARY_POINTER)
} sdl;

// False, with the reason in *error, where SDL cannot be had: no sound then,
// as with no device.
bool bindSdl(std::string* error) {
  Sdl& api = sdl;
  const ZvLibraryEntry entries[] = {QM_SDL_ENTRIES(ZV_LIBRARY_ENTRY)};
  return zvPlatformBindLibrary("libSDL2-2.0.so.0", entries, std::size(entries), error);
}

Output& out() {
  static Output* o = new Output;  // never destroyed: SDL's thread may outlive static destruction
  return *o;
}

void callback(void*, Uint8* stream, int len) { zvAudioDeviceFill(stream, len); }

void freeConverter(Converter* c) {
  if (c->stream) sdl.SDL_FreeAudioStream(c->stream);
  *c = Converter{};
}

void resample(Resampler* r, const int16_t* in, int frames, int rate, int channels, const ZvAudioFormat& f,
              std::vector<int16_t>* out) {
  if (r->rate != rate || r->channels != channels) *r = Resampler{rate, channels, 0, {0, 0}, {}};
  const int och = f.channels;
  // Channels first: stereo to mono is the mean, mono to stereo doubles.
  r->mapped.resize(size_t(frames) * size_t(och));
  for (int i = 0; i < frames; ++i) {
    if (channels == och) {
      for (int c = 0; c < och; ++c) r->mapped[size_t(i * och + c)] = in[i * channels + c];
    } else if (och == 1) {
      r->mapped[size_t(i)] = int16_t((in[2 * i] + in[2 * i + 1]) / 2);
    } else {
      r->mapped[size_t(2 * i)] = r->mapped[size_t(2 * i + 1)] = in[i];
    }
  }
  const double step = double(rate) / double(f.rate);
  auto at = [&](long i, int c) -> double { return i < 0 ? r->last[c] : r->mapped[size_t(i * och + c)]; };
  out->clear();
  if (frames == 0) return;
  out->reserve(size_t(double(frames) / step + 2) * size_t(och));
  while (r->pos <= double(frames - 1)) {
    long i0 = long(std::floor(r->pos));
    double frac = r->pos - double(i0);
    for (int c = 0; c < och; ++c) {
      double v = frac > 0 ? at(i0, c) * (1 - frac) + at(i0 + 1, c) * frac : at(i0, c);
      out->push_back(int16_t(std::lround(v)));
    }
    r->pos += step;
  }
  r->pos -= double(frames);
  for (int c = 0; c < och; ++c) r->last[c] = r->mapped[size_t((frames - 1) * och + c)];
}

bool validFormat(int rate, int channels) { return rate >= 1000 && rate <= 384000 && (channels == 1 || channels == 2); }

void addSaturated(int32_t* sum, const int16_t* in, size_t n) {
  for (size_t i = 0; i < n; ++i) sum[i] += in[i];
}

// One block of the device's format into o.block; answers whether a wave
// payload was used up (the voice wants refilling).
bool mixBlock(Output& o, int frames) {
  const int ch = o.format.channels;
  const size_t n = size_t(frames) * size_t(ch);
  std::fill(o.sum.begin(), o.sum.begin() + long(n), 0);
  bool payloadDone = false;
  size_t filled = 0;
  while (filled < n && !o.wave.empty()) {
    Payload& p = o.wave.front();
    size_t take = std::min(n - filled, p.samples.size() - p.read);
    addSaturated(o.sum.data() + filled, p.samples.data() + p.read, take);
    filled += take;
    p.read += take;
    if (p.read >= p.samples.size()) {
      o.wave.pop_front();
      payloadDone = true;
    }
  }
  for (Converter& s : o.streams) {
    if (!s.stream) continue;
    int got = sdl.SDL_AudioStreamGet(s.stream, o.scratch.data(), int(n * sizeof(int16_t)));
    if (got > 0) addSaturated(o.sum.data(), o.scratch.data(), size_t(got) / sizeof(int16_t));
  }
  if (o.generator) {
    o.generator(o.scratch.data(), frames, ch, o.format.rate, o.generatorUser);
    addSaturated(o.sum.data(), o.scratch.data(), n);
  }
  for (size_t i = 0; i < n; ++i) o.block[i] = int16_t(std::clamp(o.sum[i], -32768, 32767));
  return payloadDone;
}

// Mixes frames into dest (which may be the ring, wrapping) block by block,
// telling the wave voice after each block that finished a payload.
template <class Sink>
void mixFrames(Output& o, int frames, Sink sink) {
  while (frames > 0 && o.open) {
    int f = std::min(frames, kBlockFrames);
    bool done = mixBlock(o, f);
    sink(o.block.data(), size_t(f) * size_t(o.format.channels));
    frames -= f;
    if (done && o.waveDone) o.waveDone();
  }
}

void pumpTimer(void*) {
  Output& o = out();
  if (!o.open || o.recording) return;
  zvAudioPump();
  if (o.open) zvPlatformArmTimer(&o.timer, kPumpMs);
}

}  // namespace

int zvAudioOpen(const ZvAudioFormat* format) {
  Output& o = out();
  if (!format || !validFormat(format->rate, format->channels)) {
    o.error = "unsupported format";
    return -1;
  }
  if (o.open) {
    if (o.format.rate == format->rate && o.format.channels == format->channels) return 0;
    o.error = "the device is open in another format";
    return -1;
  }
  o.format = *format;
  o.recording = o.recordNext;
  size_t blockSamples = size_t(kBlockFrames) * size_t(format->channels);
  o.sum.assign(blockSamples, 0);
  // A stream's converter may hand back a little more than asked for at a
  // rate change; room for twice the block is plenty.
  o.scratch.assign(blockSamples * 2, 0);
  o.block.assign(blockSamples, 0);
  o.head = 0;
  o.tail = 0;
  if (!o.recording || o.record.ring) {
    size_t want = size_t(format->rate) * size_t(format->channels) / 2;  // half a second
    size_t capacity = 1;
    while (capacity < want) capacity <<= 1;
    o.ring.assign(capacity, 0);
    o.mask = capacity - 1;
  }
  if (!o.recording) {
    if (!bindSdl(&o.error)) return -1;
    if (!sdl.SDL_WasInit(SDL_INIT_AUDIO) && sdl.SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      o.error = sdl.SDL_GetError();
      return -1;
    }
    SDL_AudioSpec want_spec{}, have{};
    want_spec.freq = format->rate;
    want_spec.format = AUDIO_S16SYS;
    want_spec.channels = Uint8(format->channels);
    want_spec.samples = 1024;
    want_spec.callback = callback;
    // No changes allowed: SDL converts to whatever the hardware takes, so
    // the ring always holds our own format.
    o.device = sdl.SDL_OpenAudioDevice(nullptr, 0, &want_spec, &have, 0);
    if (!o.device) {
      o.error = sdl.SDL_GetError();
      return -1;
    }
  }
  o.open = 1;
  if (!o.recording) {
    // Not primed: whoever opened the device queues its sound next, and the
    // callback gives silence until then.
    sdl.SDL_PauseAudioDevice(o.device, 0);
    o.timer = ZvPlatformTimer{pumpTimer, nullptr, nullptr};
    zvPlatformArmTimer(&o.timer, kPumpMs);
  }
  return 0;
}

void zvAudioClose(void) {
  Output& o = out();
  if (!o.open) return;
  // Closing waits for a callback in progress, so the ring can go after it.
  if (o.device) sdl.SDL_CloseAudioDevice(o.device);
  o.device = 0;
  zvPlatformDisarmTimer(&o.timer);
  o.open = 0;
  o.wave.clear();
  o.waveConverter = Resampler{};
  for (Converter& s : o.streams) freeConverter(&s);
  o.head = 0;
  o.tail = 0;
}

int zvAudioIsOpen(void) { return out().open; }

int zvAudioGetFormat(ZvAudioFormat* format) {
  if (!out().open) return -1;
  if (format) *format = out().format;
  return 0;
}

const char* zvAudioError(void) { return out().error.c_str(); }

int zvAudioQueueWave(const int16_t* samples, int frames, int rate, int channels, int last) {
  Output& o = out();
  if (!o.open || frames < 0 || (frames > 0 && !samples) || !validFormat(rate, channels)) return -1;
  Payload p;
  if (rate == o.format.rate && channels == o.format.channels) {
    p.samples.assign(samples, samples + size_t(frames) * size_t(channels));
  } else {
    resample(&o.waveConverter, samples, frames, rate, channels, o.format, &p.samples);
  }
  if (last) o.waveConverter = Resampler{};
  if (o.recording) {
    o.record.payloads++;
    o.record.wave.insert(o.record.wave.end(), p.samples.begin(), p.samples.end());
  }
  o.wave.push_back(std::move(p));
  return 0;
}

int zvAudioWaveQueued(void) { return int(out().wave.size()); }

void zvAudioClearWave(void) {
  out().wave.clear();
  out().waveConverter = Resampler{};
}

void zvAudioSetWaveDone(void (*done)(void)) { out().waveDone = done; }

int zvAudioQueueStream(int stream, const int16_t* samples, int frames, int rate, int channels) {
  Output& o = out();
  if (stream < 1 || stream > ZV_AUDIO_STREAMS || frames < 0 || (frames > 0 && !samples)) return -1;
  if (!validFormat(rate, channels)) return -1;
  if (!o.open) {
    ZvAudioFormat f{rate, channels};
    if (zvAudioOpen(&f) != 0) return -1;
  }
  Converter& c = o.streams[stream - 1];
  // Streams always go through a converter: it is their queue as well.
  if (!c.stream || c.rate != rate || c.channels != channels) {
    freeConverter(&c);
    if (!bindSdl(&o.error)) return -1;
    c.stream = sdl.SDL_NewAudioStream(AUDIO_S16SYS, Uint8(channels), rate, AUDIO_S16SYS,
                                      Uint8(o.format.channels), o.format.rate);
    if (!c.stream) {
      o.error = sdl.SDL_GetError();
      return -1;
    }
    c.rate = rate, c.channels = channels;
  }
  if (frames == 0) return 0;
  int bytes = int(size_t(frames) * size_t(channels) * sizeof(int16_t));
  return sdl.SDL_AudioStreamPut(c.stream, samples, bytes) == 0 ? 0 : -1;
}

long zvAudioStreamQueued(int stream) {
  Output& o = out();
  if (stream < 1 || stream > ZV_AUDIO_STREAMS || !o.open || !o.streams[stream - 1].stream) return 0;
  return sdl.SDL_AudioStreamAvailable(o.streams[stream - 1].stream) / long(sizeof(int16_t) * size_t(o.format.channels));
}

void zvAudioClearStream(int stream) {
  if (stream < 1 || stream > ZV_AUDIO_STREAMS) return;
  freeConverter(&out().streams[stream - 1]);
}

void zvAudioSetGenerator(ZvAudioGenerator generator, void* user) {
  out().generator = generator;
  out().generatorUser = user;
}

void zvAudioPump(void) {
  Output& o = out();
  if (!o.open || (o.recording && !o.record.ring)) return;
  const size_t ch = size_t(o.format.channels);
  const size_t target = std::min(size_t(o.format.rate) * ch * kAheadMs / 1000, o.ring.size() - kBlockFrames * ch);
  for (;;) {
    uint64_t head = o.head.load(std::memory_order_relaxed);
    size_t pending = size_t(head - o.tail.load(std::memory_order_acquire));
    if (pending >= target) break;
    int frames = int(std::min<size_t>((target - pending) / ch, kBlockFrames));
    if (frames <= 0) break;
    mixFrames(o, frames, [&o](const int16_t* s, size_t n) {
      uint64_t h = o.head.load(std::memory_order_relaxed);
      for (size_t i = 0; i < n; ++i) o.ring[(h + i) & o.mask] = s[i];
      o.head.store(h + n, std::memory_order_release);
    });
  }
}

long zvAudioPending(void) {
  Output& o = out();
  if (!o.open || (o.recording && !o.record.ring)) return 0;
  return long((o.head.load() - o.tail.load()) / uint64_t(o.format.channels));
}

void zvAudioRecord(int on) {
  Output& o = out();
  if (!on && o.recording) zvAudioClose();
  o.recordNext = on ? 1 : 0;
  if (on) {
    o.record.payloads = 0;
    o.record.wave.clear();
    o.record.midi.clear();
    o.record.mixed.clear();
    o.record.keepMixed = 0;
    o.record.ring = 0;
  }
}

ZvAudioRecording* zvAudioRecording(void) { return out().recordNext ? &out().record : nullptr; }

void zvAudioRecordMidi(uint32_t message) {
  if (out().recordNext) out().record.midi.push_back(message);
}

int zvAudioRender(int16_t* dest, int frames) {
  Output& o = out();
  if (!o.open || frames < 0) return -1;
  size_t at = 0;
  mixFrames(o, frames, [&](const int16_t* s, size_t n) {
    if (dest) std::memcpy(dest + at, s, n * sizeof(int16_t));
    at += n;
    if (o.recording && o.record.keepMixed) o.record.mixed.insert(o.record.mixed.end(), s, s + n);
  });
  return 0;
}

void zvAudioDeviceFill(uint8_t* stream, int bytes) {
  Output& o = out();
  auto* dest = reinterpret_cast<int16_t*>(stream);
  size_t want = size_t(bytes) / sizeof(int16_t);
  uint64_t tail = o.tail.load(std::memory_order_relaxed);
  size_t have = size_t(o.head.load(std::memory_order_acquire) - tail);
  size_t n = std::min(want, have);
  if (n > 0 && !o.ring.empty()) {
    size_t start = size_t(tail & o.mask);
    size_t first = std::min(n, o.ring.size() - start);
    std::memcpy(dest, o.ring.data() + start, first * sizeof(int16_t));
    std::memcpy(dest + first, o.ring.data(), (n - first) * sizeof(int16_t));
  } else {
    n = 0;
  }
  if (n < want) {
    std::memset(dest + n, 0, (want - n) * sizeof(int16_t));
    o.underruns.fetch_add(1, std::memory_order_relaxed);
  }
  o.tail.store(tail + n, std::memory_order_release);
}

long zvAudioUnderruns(void) { return out().underruns.load(); }
