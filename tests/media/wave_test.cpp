// The wave voice and the sound world, through the recording sink.
#include <cmath>
#include <cstdint>

#include "media/soundpriv.h"
#include "nav/nav.h"
#include "script/script.h"
#include "tests/media/soundtest.h"

namespace {

using qmtest::SoundTest;

class WaveTest : public SoundTest {
 protected:
  ZvSoundStatus status(const char* name) {
    ZvSoundStatus s{};
    EXPECT_EQ(zvSoundGetStatus(obj(name), &s), 0) << name;
    return s;
  }
};

// A second of 22,050 Hz 16-bit mono is 44,100 bytes: ten full payloads of
// 4048 bytes and one of 3620. Every sample comes out scaled by volume/256.
TEST_F(WaveTest, OneSecondFillsElevenPayloadsScaledByTheVolume) {
  wave("tone.wav", 22050, 16, 1, 1.0, 1000);
  read("DEF Tone AmbientSound { filename \"tone.wav\" loop FALSE }");
  ASSERT_EQ(zvSoundSetBaseVolume(obj("Tone"), 128), 0);
  zvSoundUpdate(world);
  ASSERT_TRUE(status("Tone").voiced) << sink.dump();
  EXPECT_EQ(rec()->payloads, 11);
  ASSERT_EQ(rec()->wave.size(), 22050u);
  for (int16_t s : rec()->wave) ASSERT_EQ(s, 500);
  EXPECT_EQ(zvAudioWaveQueued(), 11);

  // Played out, the sound is stopped at the next update and the device
  // let go.
  play(22050);
  zvSoundUpdate(world);
  EXPECT_EQ(status("Tone").state, 0);
  EXPECT_FALSE(status("Tone").voiced);
  EXPECT_FALSE(zvAudioIsOpen());
}

// A looping sound keeps sixteen payloads queued and wraps to the data
// start; a negative sample stays negative and a loud one saturates.
TEST_F(WaveTest, LoopingKeepsSixteenQueuedAndGainSaturates) {
  file("saw.wav", waveBytes(22050, 16, 1, 3000, [](int i) { return i % 2 ? -20000 : 20000; }));
  read("DEF Saw AmbientSound { filename \"saw.wav\" }");
  zvSoundSetBaseVolume(obj("Saw"), 512);
  zvSoundUpdate(world);
  EXPECT_EQ(zvAudioWaveQueued(), 16);
  ASSERT_GE(rec()->wave.size(), 6000u);
  EXPECT_EQ(rec()->wave[0], 32767);
  EXPECT_EQ(rec()->wave[1], -32768);
  EXPECT_EQ(rec()->wave[3000], 32767);  // the second time round
  int before = rec()->payloads;
  play(4000);
  EXPECT_EQ(zvAudioWaveQueued(), 16);
  EXPECT_GT(rec()->payloads, before);
  EXPECT_EQ(status("Saw").state, 1);
}

// Spot volume: full within 1.0, falling off linearly to 0 at the radius
// (half the diagonal of the sound's box), and still holding the voice.
TEST_F(WaveTest, SpotVolumeFallsOffToZeroAtTheRadius) {
  wave("a.wav", 11025, 16, 1, 0.5, 100);
  read("DEF Eye PerspectiveCamera { position 0 0 0 }\n"
       "DEF Spot AmbientSound { filename \"a.wav\" bboxSize 6 0 8 }");
  ZvSoundStatus s;
  placeEye(0.5f, 0, 0);
  zvSoundUpdate(world);
  s = status("Spot");
  EXPECT_FLOAT_EQ(s.radius, 5.0f);
  EXPECT_EQ(s.volume, 255);
  EXPECT_TRUE(s.voiced);
  placeEye(2.0f, 0, 0);
  zvSoundUpdate(world);
  EXPECT_EQ(status("Spot").volume, int((5.0f - 2.0f) / 5.0f * 255));
  // At the radius (the box's corner): volume 0, yet it keeps the voice.
  placeEye(3, 0, 4);
  zvSoundUpdate(world);
  s = status("Spot");
  EXPECT_EQ(s.volume, 0);
  EXPECT_TRUE(s.voiced);
  // Ambient: the base volume wherever the camera is.
  zvSoundPlay(obj("Spot"), 1, 1);
  zvSoundUpdate(world);
  EXPECT_EQ(status("Spot").volume, 255);
}

// Leaving the box: state 2, the voice goes; coming back starts it again.
TEST_F(WaveTest, LeavingTheBoxStopsAndReturningStartsAgain) {
  wave("a.wav", 11025, 16, 1, 0.5, 100);
  read("DEF Eye PerspectiveCamera { position 0 0 0 }\n"
       "DEF Spot AmbientSound { filename \"a.wav\" bboxSize 4 4 4 }");
  zvSoundUpdate(world);
  EXPECT_TRUE(status("Spot").voiced);
  placeEye(10, 0, 0);
  zvSoundUpdate(world);
  EXPECT_EQ(status("Spot").state, 2);
  EXPECT_FALSE(status("Spot").voiced);
  EXPECT_EQ(zvWaveVoiceState(), 0);
  placeEye(1, 0, 0);
  zvSoundUpdate(world);
  EXPECT_EQ(status("Spot").state, 1);
  EXPECT_TRUE(status("Spot").voiced);
}

// One wave voice: of equal volumes the earlier candidate keeps it; a
// louder one takes it; a sound started later at equal volume waits.
TEST_F(WaveTest, OneVoiceGoesToTheLoudestAndEarliest) {
  wave("a.wav", 11025, 16, 1, 0.5, 100);
  wave("b.wav", 11025, 16, 1, 0.5, 200);
  read("DEF B AmbientSound { filename \"b.wav\" autoPlay FALSE }\n"
       "DEF A AmbientSound { filename \"a.wav\" }");
  zvSoundUpdate(world);
  EXPECT_TRUE(status("A").voiced);
  zvSoundPlay(obj("B"), 1, 1);  // later, the same volume
  zvSoundUpdate(world);
  EXPECT_TRUE(status("A").voiced);
  EXPECT_FALSE(status("B").voiced);
  EXPECT_EQ(status("B").state, 1);
  zvSoundSetBaseVolume(obj("A"), 100);  // now B is louder
  zvSoundUpdate(world);
  EXPECT_FALSE(status("A").voiced);
  EXPECT_TRUE(status("B").voiced);
  EXPECT_EQ(zvWaveVoiceOwner() != nullptr, true);
}

// Later files in other formats are converted to the format the device
// was opened with: 8-bit samples widen with their sign, rates change.
TEST_F(WaveTest, OtherFormatsAreConvertedToTheDevicesFormat) {
  wave("first.wav", 22050, 16, 1, 0.1, 300);
  file("eight.wav", waveBytes(11025, 8, 2, 11025, [](int) { return 192; }));
  read("DEF First AmbientSound { filename \"first.wav\" loop FALSE }\n"
       "DEF Eight AmbientSound { filename \"eight.wav\" loop FALSE autoPlay FALSE }");
  zvSoundSetBaseVolume(obj("First"), 256);
  zvSoundUpdate(world);
  ZvAudioFormat f;
  ASSERT_EQ(zvAudioGetFormat(&f), 0);
  EXPECT_EQ(f.rate, 22050);
  EXPECT_EQ(f.channels, 1);
  zvSoundStop(obj("First"));
  zvSoundUpdate(world);
  rec()->wave.clear();
  zvSoundPlay(obj("Eight"), 1, 0);
  zvSoundSetBaseVolume(obj("Eight"), 256);
  zvSoundUpdate(world);
  ASSERT_TRUE(status("Eight").voiced) << sink.dump();
  // One second of 11,025 Hz stereo becomes about 22,050 mono samples of
  // (192 - 128) × 256.
  EXPECT_NEAR(double(rec()->wave.size()), 22050.0, 200.0);
  size_t mid = rec()->wave.size() / 2;
  EXPECT_NEAR(rec()->wave[mid], 16384, 200);
}

// Pause-all pauses what plays and resume-all resumes exactly that: a
// sound paused on its own stays paused.
TEST_F(WaveTest, ResumeAllResumesExactlyWhatPauseAllPaused) {
  wave("a.wav", 11025, 16, 1, 0.5, 100);
  read("DEF A AmbientSound { filename \"a.wav\" }\n"
       "DEF B AmbientSound { filename \"a.wav\" }\n"
       "DEF C AmbientSound { filename \"a.wav\" autoPlay FALSE }");
  zvSoundUpdate(world);
  EXPECT_EQ(zvSoundPauseByName(world, "B"), 0);
  zvSoundPauseAll();
  EXPECT_EQ(status("A").state, 3);
  EXPECT_FALSE(status("A").voiced);
  EXPECT_FALSE(zvAudioIsOpen());  // nothing uses the device: it is let go
  zvSoundResumeAll();
  EXPECT_EQ(status("A").state, 1);
  EXPECT_EQ(status("B").state, 3);
  EXPECT_EQ(status("C").state, 0);
  EXPECT_EQ(zvSoundResumeByName(world, "B"), 0);
  EXPECT_EQ(status("B").state, 1);
}

// Names that are no sound are reported with the messages scripts see;
// footsteps that a world lacks are quiet.
TEST_F(WaveTest, NamesThatAreNoSoundAreReported) {
  wave("a.wav", 11025, 16, 1, 0.5, 100);
  read("DEF Box Separator { Cube { } }\nDEF man_fast AmbientSound { filename \"a.wav\" autoPlay FALSE }");
  EXPECT_EQ(zvSoundPlayByName(world, "Nothing", 0, 1), -1);
  EXPECT_TRUE(sink.hasText("zvAmbientSoundPlay: obj is not a sound Nothing")) << sink.dump();
  EXPECT_EQ(zvSoundStopByName(world, "Box"), -1);
  EXPECT_TRUE(sink.hasText("zvAmbientSoundPlay: sound object Box has no sound leaf")) << sink.dump();
  sink.clear();
  zvNavHooks().ambientSound(world, "man_slow", 1);
  EXPECT_TRUE(sink.reports().empty()) << sink.dump();
  zvNavHooks().ambientSound(world, "man_fast", 1);
  ZvSoundStatus s = status("man_fast");
  EXPECT_EQ(s.state, 1);
  EXPECT_EQ(s.ambient, 1);
  EXPECT_EQ(s.loop, 1);
  zvSoundUpdate(world);
  EXPECT_TRUE(status("man_fast").voiced);
  zvNavHooks().ambientSound(world, "man_fast", 0);
  zvSoundUpdate(world);
  EXPECT_FALSE(status("man_fast").voiced);
  EXPECT_EQ(zvSoundAutoPlay(nullptr), -1);
  EXPECT_TRUE(sink.hasText("zvSoundAutoPlay: world is NULL"));
}

TEST_F(WaveTest, AlertTakesOnlyAFreeVoice) {
  std::string alert = wave("alert.wav", 22050, 16, 1, 0.2, 700);
  read("");
  zvNavHooks().playWave(alert.c_str());
  EXPECT_EQ(zvWaveVoiceState(), 3);  // all of it read at once: finished, still queued
  int payloads = rec()->payloads;
  EXPECT_EQ(payloads, 3);
  zvNavHooks().playWave(alert.c_str());
  EXPECT_EQ(rec()->payloads, payloads);
  play(22050);
  EXPECT_EQ(zvWaveVoiceState(), 0);
  // The one the program ships is a sound this reader takes.
  ZvWaveFile shipped;
  ASSERT_EQ(zvWaveOpenFile((std::string(std::getenv("QUILLMOOR_SOURCE_DIR")) + "/data/alert.wav").c_str(), &shipped), 0);
  EXPECT_EQ(shipped.bits, 16);
  zvWaveCloseFile(&shipped);
}

// Hostile headers: each is refused with a message, nothing is read past
// the end, and a sound whose file is refused stops.
TEST_F(WaveTest, MalformedFilesAreRefusedWithAMessage) {
  std::string good = waveBytes(8000, 16, 1, 100, [](int) { return 1; });
  auto patched = [&](size_t at, const std::string& bytes) {
    std::string b = good;
    b.replace(at, bytes.size(), bytes);
    return b;
  };
  const std::string u32max = "\xff\xff\xff\xff";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"short", "RIFF"},
      {"not riff", patched(0, "RIFX")},
      {"not wave", patched(8, "AVI ")},
      {"riff too big", patched(4, u32max)},
      {"fmt too big", patched(16, u32max)},
      {"fmt too small", patched(16, std::string("\x08\0\0\0", 4))},
      {"not pcm", patched(20, std::string("\x02\0", 2))},
      {"no channels", patched(22, std::string("\0\0", 2))},
      {"24 bits", patched(34, std::string("\x18\0", 2))},
      {"rate zero", patched(24, std::string("\0\0\0\0", 4))},
      {"bad block", patched(32, std::string("\x07\0", 2))},
      {"data too big", patched(40, u32max)},
      {"no data", good.substr(0, 36)},
      {"truncated", good.substr(0, good.size() - 50)},
  };
  for (const auto& [name, bytes] : cases) {
    sink.clear();
    std::string p = file("bad.wav", bytes);
    ZvWaveFile w;
    EXPECT_EQ(zvWaveOpenFile(p.c_str(), &w), -1) << name;
    EXPECT_TRUE(sink.hasText("zvWaveOpen: ")) << name << ": " << sink.dump();
  }
  // The truncated file, as a world's sound: stopped, the next one goes on.
  wave("ok.wav", 8000, 16, 1, 0.1, 5);
  read("DEF Bad AmbientSound { filename \"bad.wav\" }\nDEF Ok AmbientSound { filename \"ok.wav\" }");
  zvSoundSetBaseVolume(obj("Ok"), 100);
  zvSoundUpdate(world);
  EXPECT_EQ(status("Bad").state, 0);
  zvSoundUpdate(world);
  EXPECT_TRUE(status("Ok").voiced);
}

TEST_F(WaveTest, TheWriterWritesTheSound) {
  wave("a.wav", 11025, 16, 1, 0.5, 100);
  read("DEF Spot AmbientSound { filename \"a.wav\" bboxSize 2 3 4 bboxCenter 0 1 0 autoPlay FALSE }");
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  ASSERT_EQ(zvDumpWorldToFile(world, out), 0) << sink.dump();
  std::fclose(out);
  std::string written(text, size);
  std::free(text);
  EXPECT_NE(written.find("a.wav"), std::string::npos) << written;
  EXPECT_NE(written.find("bboxSize   2.000 3.000 4.000"), std::string::npos) << written;
  EXPECT_NE(written.find("bboxCenter 0.000 1.000 0.000"), std::string::npos) << written;
  EXPECT_NE(written.find("autoPlay   FALSE"), std::string::npos) << written;
  EXPECT_EQ(written.find("loop       FALSE"), std::string::npos) << written;
}

// The real output on SDL's dummy driver: the ring fills about 120 ms
// ahead and the voice refills as payloads are mixed. Without any device
// the program goes on silently after one message.
TEST_F(WaveTest, DeviceOnTheDummyDriverAndSilenceWithoutOne) {
  zvAudioRecord(0);
  wave("a.wav", 22050, 16, 1, 1.0, 100);
  read("DEF A AmbientSound { filename \"a.wav\" }\nDEF B AmbientSound { filename \"a.wav\" }");
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  zvSoundUpdate(world);
  EXPECT_EQ(sink.count(ZV_DEBUG_WARNING), 1) << sink.dump();
  EXPECT_TRUE(sink.hasText("no sound device")) << sink.dump();
  zvSoundPlay(obj("B"), 1, 1);
  zvSoundUpdate(world);
  zvSoundUpdate(world);
  EXPECT_EQ(sink.count(ZV_DEBUG_WARNING), 1) << sink.dump();

  zvSoundShutdown();
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  zvSoundPlay(obj("A"), 1, 1);
  zvSoundUpdate(world);
  ASSERT_TRUE(zvAudioIsOpen()) << sink.dump() << zvAudioError();
  EXPECT_NEAR(double(zvAudioPending()), 22050 * 0.12, 256 + 1);
  // Payloads of 2024 frames: one is gone into the ring and refilled.
  EXPECT_EQ(zvAudioWaveQueued(), 16);
  zvSoundShutdown();
  EXPECT_FALSE(zvAudioIsOpen());
}

std::string run(ZvWorld* world, std::vector<const char*> argv, int* code = nullptr) {
  ZvScriptCommandProc proc = zvScriptProvideCommand(argv[0], nullptr);
  zvScriptProvideCommand(argv[0], proc);
  EXPECT_NE(proc, nullptr) << argv[0];
  if (!proc) return "";
  std::string result;
  int r = proc(world, int(argv.size()), argv.data(), &result);
  if (code) *code = r;
  return result;
}

// The script commands, by name and by handle; a handle from another world
// is refused like a bad one.
TEST_F(WaveTest, ScriptCommandsPlayStopPauseAndSetVolume) {
  zvMediaInstallSound();
  wave("a.wav", 11025, 16, 1, 0.5, 100);
  read("DEF A AmbientSound { filename \"a.wav\" autoPlay FALSE }");
  EXPECT_EQ(run(world, {"zvPlaySpotSoundByName", "A", "0"}), "0");
  ZvSoundStatus s;
  zvSoundGetStatus(obj("A"), &s);
  EXPECT_EQ(s.state, 1);
  EXPECT_EQ(s.ambient, 0);
  EXPECT_EQ(s.loop, 0);
  std::string handle = std::to_string(zvScriptHandleOf(obj("A"), ZV_HANDLE_OBJ));
  EXPECT_EQ(run(world, {"zvSetSoundVolume", handle.c_str(), "99"}), "0");
  EXPECT_EQ(run(world, {"zvPlayAmbientSound", handle.c_str(), "1"}), "0");
  EXPECT_EQ(run(world, {"zvSuspendSound", handle.c_str()}), "0");
  zvSoundGetStatus(obj("A"), &s);
  EXPECT_EQ(s.baseVolume, 99);
  EXPECT_EQ(s.ambient, 1);
  EXPECT_EQ(s.state, 3);
  EXPECT_EQ(run(world, {"zvSuspendAllSound"}), "0");
  EXPECT_EQ(run(world, {"zvResumeSoundByName", "A"}), "0");
  EXPECT_EQ(run(world, {"zvStopSoundByName", "A"}), "0");
  zvSoundGetStatus(obj("A"), &s);
  EXPECT_EQ(s.state, 0);
  EXPECT_EQ(run(world, {"zvStopSoundByName", "Nobody"}), "-1");
  EXPECT_TRUE(sink.hasText("zvAmbientSoundPlay: obj is not a sound Nobody"));

  ZvWorld* other = zvNewWorld("file:///other.wrl");
  int code = 0;
  EXPECT_EQ(run(other, {"zvStopSound", handle.c_str()}, &code), "zvStopSound:bad ZvObj[" + handle + "]");
  EXPECT_NE(code, 0);
  zvDeleteWorld(other);
}

}  // namespace
