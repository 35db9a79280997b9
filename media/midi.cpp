// midi.cpp — MIDI through FluidSynth: short messages for note sounds and
// sound sets, a Standard MIDI File as a background track, and the profile
// files that describe notes and sound sets.
//
// Both synthesizers render into the audio layer's mix on the GUI thread
// (as its generator), so every FluidSynth call happens on that one thread
// and the synthesizers need no locking of their own.
#include <fluidsynth.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "media/soundpriv.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "scene/scene.h"

namespace {

constexpr int kBlock = 256;
constexpr long kProfileLimit = 1 << 20;  // a profile is a few lines; more is not one
constexpr long kTrackLimit = 16 << 20;

// FluidSynth, bound at the first synthesizer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#define QM_FLUID_ENTRIES(X)                                                                                  \
  X(delete_fluid_player) X(delete_fluid_settings) X(delete_fluid_synth) X(fluid_player_add)                  \
  X(fluid_player_get_status) X(fluid_player_play) X(fluid_player_set_loop) X(fluid_player_stop)              \
  X(fluid_set_log_function) X(fluid_settings_setint) X(fluid_settings_setnum) X(fluid_synth_all_sounds_off)  \
  X(fluid_synth_cc) X(fluid_synth_noteoff) X(fluid_synth_noteon) X(fluid_synth_program_change)               \
  X(fluid_synth_set_gain) X(fluid_synth_set_sample_rate) X(fluid_synth_sfload) X(fluid_synth_system_reset)   \
  X(fluid_synth_write_s16) X(new_fluid_player) X(new_fluid_settings) X(new_fluid_synth)
struct FluidSynth {
  QM_FLUID_ENTRIES(ZV_LIBRARY_POINTER)
} fs;
#pragma GCC diagnostic pop

// Without the library MIDI is silent, as without a soundfont.
bool bindFluidSynth() {
  FluidSynth& api = fs;
  const ZvLibraryEntry entries[] = {QM_FLUID_ENTRIES(ZV_LIBRARY_ENTRY)};
  std::string why;
  if (zvPlatformBindLibrary("libfluidsynth.so.3", entries, std::size(entries), &why)) return true;
  zvWarning("FluidSynth: %s", why.c_str());
  return false;
}

struct Synth {
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  int rate = 0;
};

struct Midi {
  int state = 0;  // 0 not yet opened, 1 open, 2 failed (never retried)
  Synth notes, track;
  fluid_player_t* player = nullptr;
  float trackGain = 0.2f;
  std::vector<int16_t> scratch;
};
Midi midi;

// A General MIDI soundfont from the system: the larger one when present.
const char* soundFont(void) {
  static const char* const candidates[] = {
      "/usr/share/sounds/sf2/FluidR3_GM.sf2",
      "/usr/share/sounds/sf2/TimGM6mb.sf2",
      "/usr/share/sounds/sf2/default-GM.sf2",
      "/usr/share/sounds/sf3/default-GM.sf3",
  };
  if (const char* own = std::getenv("QUILLMOOR_SOUNDFONT")) return own;
  struct stat st;
  for (const char* c : candidates)
    if (stat(c, &st) == 0) return c;
  return nullptr;
}

void quietLog(int level, const char* message, void*) {
  if (level <= FLUID_ERR) zvWarning("FluidSynth: %s", message);
}

void deleteSynth(Synth* s) {
  if (s->synth) fs.delete_fluid_synth(s->synth);
  if (s->settings) fs.delete_fluid_settings(s->settings);
  *s = Synth{};
}

int makeSynth(Synth* s, int rate) {
  if (!bindFluidSynth()) return -1;
  static bool logSet = false;
  if (!logSet) {
    for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level) fs.fluid_set_log_function(level, quietLog, nullptr);
    logSet = true;
  }
  const char* font = soundFont();
  if (!font) return -1;
  s->settings = fs.new_fluid_settings();
  if (!s->settings) return -1;
  fs.fluid_settings_setnum(s->settings, "synth.sample-rate", rate);
  // Only the GUI thread ever calls it.
  fs.fluid_settings_setint(s->settings, "synth.threadsafe-api", 0);
  fs.fluid_settings_setint(s->settings, "synth.cpu-cores", 1);
  s->synth = fs.new_fluid_synth(s->settings);
  if (!s->synth || fs.fluid_synth_sfload(s->synth, font, 1) == FLUID_FAILED) {
    deleteSynth(s);
    return -1;
  }
  s->rate = rate;
  return 0;
}

// The device may have been opened again in another rate since the
// synthesizer was made.
void followRate(Synth* s, int rate) {
  if (!s->synth || s->rate == rate) return;
  fs.fluid_synth_set_sample_rate(s->synth, float(rate));
  s->rate = rate;
}

void render(Synth* s, int16_t* out, int frames, int channels, int rate) {
  followRate(s, rate);
  if (channels == 2) {
    fs.fluid_synth_write_s16(s->synth, frames, out, 0, 2, out, 1, 2);
    return;
  }
  int16_t* stereo = midi.scratch.data();
  fs.fluid_synth_write_s16(s->synth, frames, stereo, 0, 2, stereo, 1, 2);
  for (int i = 0; i < frames; ++i) out[i] = int16_t((stereo[2 * i] + stereo[2 * i + 1]) / 2);
}

void generate(int16_t* out, int frames, int channels, int rate, void*) {
  size_t n = size_t(frames) * size_t(channels);
  if (midi.scratch.size() < size_t(kBlock) * 4) midi.scratch.resize(size_t(kBlock) * 4);
  if (midi.notes.synth)
    render(&midi.notes, out, frames, channels, rate);
  else
    std::memset(out, 0, n * sizeof *out);
  if (midi.track.synth && midi.player) {
    static std::vector<int16_t> more(size_t(kBlock) * 2);
    if (more.size() < n) more.resize(n);
    render(&midi.track, more.data(), frames, channels, rate);
    for (size_t i = 0; i < n; ++i) out[i] = int16_t(std::clamp(out[i] + more[i], -32768, 32767));
  }
}

// The output runs whenever MIDI does; MIDI alone opens it in CD format.
int ensureOutput(void) {
  if (zvAudioIsOpen()) return 0;
  ZvAudioFormat format{44100, 2};
  return zvAudioOpen(&format);
}

bool readable(const char* file, long limit, long* size) {
  struct stat st;
  if (!file || stat(file, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit) return false;
  *size = long(st.st_size);
  return true;
}

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

bool sameText(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

int zvMidiOpen(void) {
  if (midi.state == 1) return ensureOutput() == 0 ? 0 : -1;
  if (midi.state == 2) return -1;
  ZvAudioFormat format;
  if (ensureOutput() != 0 || zvAudioGetFormat(&format) != 0 || makeSynth(&midi.notes, format.rate) != 0) {
    zvWarning("Can't open MIDI device");
    midi.state = 2;
    return -1;
  }
  midi.state = 1;
  zvAudioSetGenerator(generate, nullptr);
  return 0;
}

void zvMidiShort(int status, int data1, int data2) {
  zvAudioRecordMidi(uint32_t(status & 0xFF) | uint32_t(data1 & 0x7F) << 8 | uint32_t(data2 & 0x7F) << 16);
  if (midi.state != 1 || !midi.notes.synth) return;
  int channel = status & 0x0F;
  switch (status & 0xF0) {
    case 0x80: fs.fluid_synth_noteoff(midi.notes.synth, channel, data1 & 0x7F); break;
    case 0x90: fs.fluid_synth_noteon(midi.notes.synth, channel, data1 & 0x7F, data2 & 0x7F); break;
    case 0xB0: fs.fluid_synth_cc(midi.notes.synth, channel, data1 & 0x7F, data2 & 0x7F); break;
    case 0xC0: fs.fluid_synth_program_change(midi.notes.synth, channel, data1 & 0x7F); break;
    default: break;
  }
}

void zvMidiClose(void) {
  if (midi.state != 1) return;
  zvMidiShort(0xB0, 123, 127);  // all notes off, first channel
  zvMidiTrackStop();
  zvAudioSetGenerator(nullptr, nullptr);
  deleteSynth(&midi.notes);
  deleteSynth(&midi.track);
  midi.state = 0;
}

int zvMidiTrackStart(const char* file, int loop, int volume) {
  zvMidiTrackStop();
  long size;
  unsigned char head[4] = {0, 0, 0, 0};
  FILE* fp = readable(file, kTrackLimit, &size) ? std::fopen(file, "rb") : nullptr;
  bool midiFile = fp && std::fread(head, 1, 4, fp) == 4 && std::memcmp(head, "MThd", 4) == 0;
  if (fp) std::fclose(fp);
  if (!midiFile) {
    zvWarning("zvSoundStart: %s is not a MIDI file", file ? file : "(null)");
    return -1;
  }
  if (zvMidiOpen() != 0) return -1;
  ZvAudioFormat format;
  zvAudioGetFormat(&format);
  if (!midi.track.synth && makeSynth(&midi.track, format.rate) != 0) return -1;
  fs.fluid_synth_system_reset(midi.track.synth);
  midi.player = fs.new_fluid_player(midi.track.synth);
  if (!midi.player || fs.fluid_player_add(midi.player, file) != FLUID_OK) {
    if (midi.player) fs.delete_fluid_player(midi.player);
    midi.player = nullptr;
    zvWarning("zvSoundStart: %s cannot be played", file);
    return -1;
  }
  fs.fluid_player_set_loop(midi.player, loop ? -1 : 1);
  zvMidiTrackVolume(volume);
  fs.fluid_player_play(midi.player);
  return 0;
}

void zvMidiTrackStop(void) {
  if (!midi.player) return;
  fs.fluid_player_stop(midi.player);
  fs.delete_fluid_player(midi.player);
  midi.player = nullptr;
  if (midi.track.synth) fs.fluid_synth_all_sounds_off(midi.track.synth, -1);
}

void zvMidiTrackVolume(int volume) {
  // FluidSynth's own gain is 0.2; a volume of 256 keeps it.
  midi.trackGain = 0.2f * float(std::clamp(volume, 0, 1024)) / 256.0f;
  if (midi.track.synth) fs.fluid_synth_set_gain(midi.track.synth, midi.trackGain);
}

int zvMidiTrackPlaying(void) { return midi.player && fs.fluid_player_get_status(midi.player) == FLUID_PLAYER_PLAYING; }

void zvMidiSoundSet(const char* file, const char* section) {
  int set = zvProfileInt(file, section, "SOUNDSET", -1);
  int channel = zvProfileInt(file, section, "CHANNEL", 16);
  if (set == -1) return;
  if (channel < 1 || channel > 16 || set < 1 || set > 128) {
    zvWarning("zvSoundSet: %s: sound set %d on channel %d is out of range", file, set, channel);
    return;
  }
  if (zvMidiOpen() != 0) return;
  zvMidiShort(0xC0 + channel - 1, set - 1, 0);
}

int zvProfileInt(const char* file, const char* section, const char* key, int fallback) {
  long size;
  if (!readable(file, kProfileLimit, &size)) return fallback;
  FILE* fp = std::fopen(file, "rb");
  if (!fp) return fallback;
  std::string text(size_t(size), '\0');
  size_t got = std::fread(text.data(), 1, text.size(), fp);
  std::fclose(fp);
  text.resize(got);
  bool inSection = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = trim(text.substr(at, end - at));
    at = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      inSection = close != std::string::npos && sameText(trim(line.substr(1, close - 1)), section ? section : "");
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos || !sameText(trim(line.substr(0, eq)), key)) continue;
    // As the system's profile reader: leading digits with a sign, anything
    // else reads as 0.
    std::string value = trim(line.substr(eq + 1));
    size_t i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
    long v = 0;
    while (i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])) && v < 100000000)
      v = v * 10 + (value[i++] - '0');
    return int(negative ? -v : v);
  }
  return fallback;
}
