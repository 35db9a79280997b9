// MIDI notes, sound sets and MIDI files: the short messages the recording
// sink keeps, and what FluidSynth makes of them.
#include <algorithm>
#include <cstdlib>

#include "media/soundpriv.h"
#include "tests/media/soundtest.h"

namespace {

using qmtest::SoundTest;

uint32_t msg(int status, int a, int b) { return uint32_t(status) | uint32_t(a) << 8 | uint32_t(b) << 16; }

class MidiTest : public SoundTest {
 protected:
  bool sent(uint32_t m) const {
    const auto& all = zvAudioRecording()->midi;
    return std::find(all.begin(), all.end(), m) != all.end();
  }
  int peak() const {
    int p = 0;
    for (int16_t s : zvAudioRecording()->mixed) p = std::max(p, std::abs(int(s)));
    return p;
  }
  // A Standard MIDI File: one note on channel 1 for a second.
  std::string smf(const std::string& name) {
    std::string events = std::string("\x00\xC0\x00", 3) + std::string("\x00\x90\x3C\x64", 4) +
                         std::string("\x83\x60\x80\x3C\x00", 5) + std::string("\x00\xFF\x2F\x00", 4);
    std::string track = "MTrk" + std::string{0, 0, 0, char(events.size())} + events;
    return file(name, std::string("MThd\0\0\0\x06\0\0\0\x01\0\x60", 14) + track);
  }
};

// Channels in profiles count from 1: channel 10 is status 0x99. The volume
// goes first as controllers 7 and 39; stopping sends the note-off.
TEST_F(MidiTest, ProfileNotesBecomeShortMessages) {
  file("n.sna", "[Drum]\nCHANNEL=10\nNOTE=38\nVEROCITY=100\n\n[Plain]\n");
  read("DEF Drum AmbientSound { filename \"n.sna\" }\nDEF Plain AmbientSound { filename \"n.sna\" }");
  zvSoundSetBaseVolume(obj("Plain"), 256);
  zvSoundUpdate(world);
  ASSERT_TRUE(sent(msg(0x99, 38, 100))) << sink.dump();
  EXPECT_TRUE(sent(msg(0xB9, 7, 127)));  // 255 >> 1
  EXPECT_TRUE(sent(msg(0xB9, 39, 64)));  // 255 << 6, seven bits
  // No CHANNEL: channel 1, note 0, full velocity; 256 is held to 255.
  EXPECT_TRUE(sent(msg(0x90, 0, 127)));
  EXPECT_TRUE(sent(msg(0xB0, 7, 127)));
  zvSoundSetBaseVolume(obj("Drum"), 100);
  zvSoundUpdate(world);
  EXPECT_TRUE(sent(msg(0xB9, 7, 50)));
  EXPECT_TRUE(sent(msg(0xB9, 39, 0)));
  zvSoundStop(obj("Drum"));
  zvSoundUpdate(world);
  EXPECT_TRUE(sent(msg(0x89, 38, 0)));
}

// Sixteen notes at most: the two quietest of eighteen wait.
TEST_F(MidiTest, SixteenNotesAtMostTheLoudestFirst) {
  std::string profile, world;
  for (int i = 0; i < 18; ++i) {
    profile += "[N" + std::to_string(i) + "]\nCHANNEL=1\nNOTE=" + std::to_string(40 + i) + "\n";
    world += "DEF N" + std::to_string(i) + " AmbientSound { filename \"n.sna\" }\n";
  }
  file("n.sna", profile);
  read(world);
  zvSoundSetBaseVolume(obj("N3"), 10);
  zvSoundSetBaseVolume(obj("N7"), 20);
  zvSoundUpdate(this->world);
  int ons = 0;
  for (uint32_t m : zvAudioRecording()->midi) ons += (m & 0xF0) == 0x90;
  EXPECT_EQ(ons, 16);
  EXPECT_FALSE(sent(msg(0x90, 43, 127)));
  EXPECT_FALSE(sent(msg(0x90, 47, 127)));
  // One of the sixteen stops: the louder of the two waiting takes its place.
  zvSoundStop(obj("N0"));
  zvSoundUpdate(this->world);
  EXPECT_TRUE(sent(msg(0x80, 40, 0)));
  EXPECT_TRUE(sent(msg(0x90, 47, 127)));
  EXPECT_FALSE(sent(msg(0x90, 43, 127)));
}

// The world's sound set: a program change on its channel; the default
// channel is 16.
TEST_F(MidiTest, TheSoundSetIsAProgramChange) {
  file("s.sna", "[soundset]\nSOUNDSET=15\n");
  read("DEF soundset AmbientSound { filename \"s.sna\" autoPlay FALSE }");
  zvSoundUpdate(world);
  EXPECT_TRUE(sent(msg(0xCF, 14, 0))) << sink.dump();
}

TEST_F(MidiTest, TheSynthesizerSoundsAfterANoteOn) {
  file("n.sna", "[Bell]\nCHANNEL=1\nNOTE=72\nVEROCITY=120\n");
  read("DEF Bell AmbientSound { filename \"n.sna\" autoPlay FALSE }");
  ASSERT_EQ(zvMidiOpen(), 0) << sink.dump();
  zvAudioRecording()->keepMixed = 1;
  play(2205);
  EXPECT_LE(peak(), 2);  // FluidSynth dithers its 16-bit output
  zvSoundPlay(obj("Bell"), 1, 1);
  zvSoundUpdate(world);
  zvAudioRecording()->mixed.clear();
  play(4410);
  EXPECT_GT(peak(), 500);
}

// A .mid file is a background track at its base volume: the loudest one
// plays, and it is heard.
TEST_F(MidiTest, AMidiFilePlaysAsTheBackgroundTrack) {
  smf("a.mid");
  smf("b.mid");
  read("DEF A AmbientSound { filename \"a.mid\" }\nDEF B AmbientSound { filename \"b.mid\" }");
  zvSoundSetBaseVolume(obj("A"), 100);
  zvSoundUpdate(world);
  ZvSoundStatus a, b;
  zvSoundGetStatus(obj("A"), &a);
  zvSoundGetStatus(obj("B"), &b);
  EXPECT_FALSE(a.voiced);
  EXPECT_TRUE(b.voiced) << sink.dump();
  EXPECT_TRUE(zvMidiTrackPlaying());
  zvAudioRecording()->keepMixed = 1;
  play(8820);
  EXPECT_GT(peak(), 300);
  // Not a MIDI file: a message, and the sound stops.
  file("b.mid", "MTrk garbage");
  zvSoundStop(obj("B"));
  zvSoundUpdate(world);
  zvSoundPlay(obj("B"), 0, 0);
  zvSoundSetBaseVolume(obj("B"), 300);
  zvSoundUpdate(world);
  EXPECT_TRUE(sink.hasText("is not a MIDI file")) << sink.dump();
  zvSoundGetStatus(obj("B"), &b);
  EXPECT_EQ(b.state, 0);
}

// Profiles out of range or not text at all: a message or the defaults,
// never a crash or a status byte built from nonsense.
TEST_F(MidiTest, MalformedProfilesGiveMessages) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += char((i * 7919) & 0xFF);
  file("bad.sna", "[High]\nCHANNEL=17\n[Low]\nCHANNEL=-3\n[Loud]\nNOTE=200\n[Odd]\nCHANNEL = 2x\nNOTE=abc\n");
  file("bin.sna", binary);
  read("DEF High AmbientSound { filename \"bad.sna\" }\nDEF Low AmbientSound { filename \"bad.sna\" }\n"
       "DEF Loud AmbientSound { filename \"bad.sna\" }\nDEF Odd AmbientSound { filename \"bad.sna\" }\n"
       "DEF Bin AmbientSound { filename \"bin.sna\" }\nDEF Gone AmbientSound { filename \"missing.sna\" }");
  zvSoundUpdate(world);
  for (const char* name : {"High", "Low", "Loud"}) {
    ZvSoundStatus s;
    zvSoundGetStatus(obj(name), &s);
    EXPECT_EQ(s.state, 0) << name;
    EXPECT_TRUE(sink.hasText(std::string("[") + name + "] has channel")) << name << sink.dump();
  }
  // "2x" reads as 2, "abc" as 0, as the system's profile reader has it.
  EXPECT_TRUE(sent(msg(0x91, 0, 127)));
  for (uint32_t m : zvAudioRecording()->midi) {
    int status = int(m & 0xFF);
    EXPECT_TRUE(status >= 0x80 && status <= 0xCF) << std::hex << m;
  }
  EXPECT_EQ(zvProfileInt(path("bin.sna").c_str(), "Bin", "NOTE", -7), -7);
  EXPECT_EQ(zvProfileInt(path("none.sna").c_str(), "X", "NOTE", 5), 5);
  EXPECT_EQ(zvProfileInt(path("bad.sna").c_str(), "odd", "channel", 5), 2);  // names ignore case
}

}  // namespace
