// media_bench.cpp — sound at the size of a busy world: the per-frame
// update with 200 sound objects, and the cost of a second of sound in the
// device's callback and in the mixing on the GUI thread that feeds it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/media.h"
#include "platform/audio.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace {

std::string dir;

void writeFile(const std::string& name, const std::string& bytes) {
  FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string u32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

// A second of a 440 Hz-ish square wave, 22,050 Hz 16-bit mono.
void writeWave(const std::string& name) {
  std::string data;
  for (int i = 0; i < 22050; ++i) {
    int16_t s = (i / 25) % 2 ? 8000 : -8000;
    data += char(s & 0xFF);
    data += char((s >> 8) & 0xFF);
  }
  std::string fmt = std::string("\x01\0\x01\0", 4) + u32(22050) + u32(44100) + std::string("\x02\0\x10\0", 4);
  std::string body = "WAVE" + std::string("fmt ") + u32(16) + fmt + "data" + u32(uint32_t(data.size())) + data;
  writeFile(name, "RIFF" + u32(uint32_t(body.size())) + body);
}

ZvWorld* setUp(int sounds) {
  zvSetDebugFlag(ZV_DEBUG_WARNING, 0);
  char pattern[] = "/tmp/qm-media-bench-XXXXXX";
  if (!mkdtemp(pattern)) std::abort();
  dir = pattern;
  zvVrmlInstallHooks();
  zvWwwInstallHooks();
  zvSoundInstallHooks();
  zvAudioRecord(1);
  writeWave("w.wav");
  std::string profile, text = "#VRML V1.0 ascii\nSeparator {\nDEF Eye PerspectiveCamera { position 0 1.7 0 }\n";
  for (int i = 0; i < sounds; ++i) {
    // Three in four are waves, the rest MIDI notes; half have boxes that
    // the camera is in or out of, the rest are heard everywhere.
    bool note = i % 4 == 3;
    std::string name = "S" + std::to_string(i);
    if (note) profile += "[" + name + "]\nCHANNEL=" + std::to_string(1 + i % 16) + "\nNOTE=" + std::to_string(40 + i % 40) + "\n";
    text += "Separator { Translation { translation " + std::to_string((i % 20) * 3 - 30) + " 0 " +
            std::to_string((i / 20) * 3 - 15) + " }\n DEF " + name + " AmbientSound { filename \"" +
            (note ? "n.sna" : "w.wav") + "\"" + (i % 2 ? " bboxSize 20 10 20" : "") + " } }\n";
  }
  text += "}\n";
  writeFile("n.sna", profile);
  writeFile("w.wrl", text);
  std::string path = dir + "/w.wrl";
  ZvWorld* world = zvNewWorld(zvPathToFileUrl(path.c_str()));
  zvSetCurrentWorld(world);
  if (zvConstructWorld(path.c_str(), world) != 0) std::abort();
  zvSetActiveCameraID(world, 3);
  return world;
}

void tearDown(ZvWorld* world) {
  zvSoundShutdown();
  zvAudioRecord(0);
  zvDeleteWorld(world);
  zvSetCurrentWorld(nullptr);
  std::filesystem::remove_all(dir);
}

// The frame's update with 200 sound objects while the camera walks among
// them: audibility, distance volume, the candidates sorted, one wave voice
// and sixteen notes chosen, and the volume changes sent.
void BM_SoundUpdate200Objects(benchmark::State& state) {
  ZvWorld* world = setUp(200);
  ZvObj* eye = zvGetObjByNameInWorld(world, "Eye");
  zvSoundUpdate(world);  // the first one starts the voices and the synthesizer
  int frame = 0;
  for (auto _ : state) {
    eye->lrt.m[3][0] = float(frame % 400) * 0.1f - 20.0f;
    zvInvalidateWRT(eye);
    zvSoundUpdate(world);
    ++frame;
  }
  tearDown(world);
}
BENCHMARK(BM_SoundUpdate200Objects)->Unit(benchmark::kMicrosecond);

// One second of 44,100 Hz stereo as SDL asks for it (1024 frames a call),
// with a wave sound and a MIDI note playing: only the callback's time,
// which is a copy out of the ring.
void BM_AudioCallbackPerSecondOfSound(benchmark::State& state) {
  ZvWorld* world = setUp(0);
  writeFile("n.sna", "[N]\nCHANNEL=1\nNOTE=60\n");
  zvAudioRecording()->ring = 1;
  ZvAudioFormat format{44100, 2};
  zvAudioOpen(&format);
  std::vector<uint8_t> buffer(1024 * 4);
  for (auto _ : state) {
    double seconds = 0;
    for (int call = 0; call < 44100 / 1024 + 1; ++call) {
      zvAudioPump();
      auto start = std::chrono::steady_clock::now();
      zvAudioDeviceFill(buffer.data(), int(buffer.size()));
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.SetIterationTime(seconds);
  }
  tearDown(world);
}
BENCHMARK(BM_AudioCallbackPerSecondOfSound)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The GUI thread's side of the same second: mixing the wave voice and
// rendering FluidSynth (one note sounding) into the ring.
void BM_MixingPerSecondOfSound(benchmark::State& state) {
  ZvWorld* world = setUp(0);
  zvAudioRecording()->ring = 1;
  ZvAudioFormat format{44100, 2};
  zvAudioOpen(&format);
  writeFile("n.sna", "[N]\nCHANNEL=1\nNOTE=60\n");
  writeWave("w.wav");
  std::string text = "#VRML V1.0 ascii\nSeparator { DEF W AmbientSound { filename \"w.wav\" }\n"
                     "DEF N AmbientSound { filename \"n.sna\" } }\n";
  writeFile("m.wrl", text);
  std::string path = dir + "/m.wrl";
  if (zvConstructWorld(path.c_str(), world) != 0) std::abort();
  zvSoundUpdate(world);
  std::vector<uint8_t> buffer(1024 * 4);
  for (auto _ : state) {
    for (int call = 0; call < 44100 / 1024 + 1; ++call) {
      zvAudioPump();
      zvAudioDeviceFill(buffer.data(), int(buffer.size()));
    }
  }
  tearDown(world);
}
BENCHMARK(BM_MixingPerSecondOfSound)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
