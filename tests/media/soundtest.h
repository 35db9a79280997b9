// What the sound tests share: a directory of generated sound files and
// worlds, the recording sink in place of a device, and a world read with
// the sound hooks in place.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "media/media.h"
#include "platform/audio.h"
#include "tests/support/testsupport.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace qmtest {

class SoundTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    char pattern[] = "/tmp/qm-sound-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    zvVrmlInstallHooks();
    zvWwwInstallHooks();
    zvSoundInstallHooks();
    zvAudioRecord(1);
  }
  void TearDown() override {
    zvSoundShutdown();
    zvAudioRecord(0);
    if (world) zvDeleteWorld(world);
    zvSetCurrentWorld(nullptr);
    std::filesystem::remove_all(dir);
    SceneTest::TearDown();
  }

  std::string path(const std::string& name) const { return dir + "/" + name; }
  std::string file(const std::string& name, const std::string& bytes) const {
    FILE* f = std::fopen(path(name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path(name);
  }

  // A PCM WAVE file; sample(i) gives the i-th sample (interleaved), as
  // an 8- or 16-bit value.
  static std::string waveBytes(int rate, int bits, int channels, int frames, const std::function<int(int)>& sample) {
    std::string data;
    for (int i = 0; i < frames * channels; ++i) {
      int v = sample(i);
      if (bits == 8) {
        data += char(v);
      } else {
        data += char(v & 0xFF);
        data += char((v >> 8) & 0xFF);
      }
    }
    auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto u16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    int align = channels * bits / 8;
    std::string fmt = u16(1) + u16(uint16_t(channels)) + u32(uint32_t(rate)) + u32(uint32_t(rate * align)) +
                      u16(uint16_t(align)) + u16(uint16_t(bits));
    std::string body = "WAVE" + std::string("fmt ") + u32(16) + fmt + "data" + u32(uint32_t(data.size())) + data;
    return "RIFF" + u32(uint32_t(body.size())) + body;
  }
  std::string wave(const std::string& name, int rate, int bits, int channels, double seconds, int value) {
    return file(name, waveBytes(rate, bits, channels, int(rate * seconds), [value](int) { return value; }));
  }

  // Reads the world from text; its sounds are added through the hooks. The
  // camera "Eye" (if any) is made the active one.
  void read(const std::string& body) {
    std::string p = file("w.wrl", "#VRML V1.0 ascii\nSeparator {\n" + body + "\n}\n");
    world = zvNewWorld(zvPathToFileUrl(p.c_str()));
    ASSERT_NE(world, nullptr);
    zvSetCurrentWorld(world);
    ASSERT_EQ(zvConstructWorld(p.c_str(), world), ZV_OK) << sink.dump();
    if (zvGetObjByNameInWorld(world, "Eye")) zvSetActiveCameraID(world, 3);
  }
  ZvObj* obj(const char* name) { return zvGetObjByNameInWorld(world, name); }
  void placeEye(float x, float y, float z) {
    ZvObj* eye = obj("Eye");
    ASSERT_NE(eye, nullptr);
    eye->lrt.m[3][0] = x, eye->lrt.m[3][1] = y, eye->lrt.m[3][2] = z;
    zvInvalidateWRT(eye);
  }
  ZvAudioRecording* rec() { return zvAudioRecording(); }
  // Plays frames of the device's format, as the device would take them.
  void play(int frames) {
    std::vector<int16_t> out(size_t(frames) * 2);
    zvAudioRender(out.data(), frames);
  }

  std::string dir;
  ZvWorld* world = nullptr;
};

}  // namespace qmtest
