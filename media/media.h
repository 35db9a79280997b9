// media.h — sound, MIDI, movies, movie textures and motion-captured
// characters: what worlds play and animate.
//
// Everything here runs on the GUI thread except the audio device's
// callback (platform/), which reads what the GUI thread queued and never
// blocks, allocates or touches the scene.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scene/scene.h"

// Connects the media subsystems to the reader, the writer, the scene
// model, navigation and the script commands. The window and --screenshot
// call it; --check does not.
void zvMediaInstall(void);

// --- sound ---
// Sound objects (AmbientSound nodes) of the current sound world: every
// frame decides which are audible, how loud from the active camera, and
// which get the voices (one streamed wave, 16 MIDI notes, one MIDI file).
// Sound output goes through platform/audio.h; another stream (a movie's
// sound) queues its PCM there with zvAudioQueueStream.
void zvMediaInstallSound(void);  // hooks and script commands
void zvSoundInstallHooks(void);  // the reader, scene, navigation and writer hooks alone
// Once a frame: the world shown becomes the sound world (stopping what the
// previous one played), then audibility, volumes, selection, voices.
void zvSoundUpdate(ZvWorld* world);
void zvSoundSetWorld(ZvWorld* world);  // stops everything, applies its sound set
ZvWorld* zvSoundGetWorld(void);
int zvSoundAutoPlay(ZvWorld* world);  // states from the autoplay flags, radii
// By object (0, or -1 without a sound leaf) and by name (in world, or the
// current sound world when null; a name that is not a sound is reported).
int zvSoundPlay(ZvObj* object, int ambient, int loop);
int zvSoundStop(ZvObj* object);
int zvSoundSetBaseVolume(ZvObj* object, int volume);  // 256 is unity for waves
int zvSoundPause(ZvObj* object);
int zvSoundResume(ZvObj* object);
int zvSoundPlayByName(ZvWorld* world, const char* name, int ambient, int loop);
int zvSoundStopByName(ZvWorld* world, const char* name);
int zvSoundSetVolumeByName(ZvWorld* world, const char* name, int volume);
int zvSoundPauseByName(ZvWorld* world, const char* name);
int zvSoundResumeByName(ZvWorld* world, const char* name);
// Pause-all also runs an update and lets the device go; resume-all resumes
// exactly what pause-all paused (a movie brackets itself with these).
void zvSoundPauseAll(void);
// What a sound object is doing: 0, or -1 without a sound leaf.
struct ZvSoundStatus {
  int kind;    // 1 wave, 2 MIDI file, 3 MIDI note, 0 unknown
  int state;   // 0 stopped, 1 playing, 2 out of range, 3 paused
  int ambient, loop;
  int baseVolume, volume;
  float radius;
  int voiced;  // holds a voice now
};
int zvSoundGetStatus(ZvObj* object, ZvSoundStatus* out);
void zvSoundResumeAll(void);
void zvSoundShutdown(void);  // every sound stopped, devices closed

// --- movies ---
// Movie textures: a texture whose image is a strip of 128 x 128 frames
// stacked from the top (a BMP or Sun raster 128 wide, its height a multiple
// of 128 above 128), or the file of a Movie2 node, which may also be any
// video FFmpeg reads (decoded once, frame by frame, into such a strip).
// Each is stepped by a periodic native task on its object at its frame
// rate times its speed. And videos played over the whole view in the
// window, with their sound, until a click or their end.
struct ZvTimeOutHandlerList;
struct ZvUrlHash;
struct ZvPlatformWindow;
struct ZvMovieDesc;

struct ZvMovie {
  int32_t autoStart;     // 1: starts when its texture is applied
  int32_t frameWidth;    // 128
  int32_t frameHeight;   // 128
  float frameRate;       // 4 frames a second
  int32_t reserved;
  int32_t stopped;       // 1 once stopped
  int32_t loop;          // 1: wraps at the ends
  float speed;           // times the frame rate; negative plays backwards
  int32_t frameCount;    // 0 until known
  int32_t current;       // from 0
  ZvTimeOutHandlerList* timer;  // the stepping task while playing
  // What a Movie2 node said, kept to be written back; a strip found by its
  // shape alone has none of these.
  int32_t fromNode;
  ZvUrlHash* file;
  float nodeRate;
  int32_t nodeWidth, nodeHeight;
  char* sound;  // owned
};

// Connects movie textures (the renderer's refresh, the reader's Movie2,
// the writer, leaf deletion) and the movie script commands.
void zvMediaInstallMovies(void);

// A record with the initial values; null when out of memory.
ZvMovie* zvNewMovie(void);
// The record a Movie2 node makes (the reader's hook).
ZvMovie* zvNewNodeMovie(const ZvMovieDesc* desc);
// Frees the record (stopping it first when it plays).
void zvDeleteTextureMovie(ZvMovie* movie);
// Probes the texture's local file: 0 and the strip's shape when it is a
// movie strip, -1 otherwise. Every out-parameter may be null.
int zvViewerMovieFormat(ZvUrlHash* texture, int* frameWidth, int* frameHeight, int* frameCount, float* frameRate,
                        ZvUrlHash** reference);
// The renderer's refresh: stops the object's movie, attaches a record to a
// strip texture or completes one (its frames cut or decoded into the
// texture), and starts it when it starts by itself.
void zvMovieRefresh(ZvObj* object);

// Per object, on its first leaf's movie record; -1 when there is none.
int zvMovieStart(ZvObj* object);
int zvMovieStop(ZvObj* object);
int zvMovieStepForward(ZvObj* object);
int zvMovieStepBackward(ZvObj* object);
int zvMovieSetFrame(ZvObj* object, int frame);  // clamped to the strip
int zvMovieGetFrame(ZvObj* object);
int zvMovieGetFrameCount(ZvObj* object);
int zvMovieGetLoop(ZvObj* object);
int zvMovieSetLoop(ZvObj* object, int loop);
float zvMovieGetSpeed(ZvObj* object);  // -1 when there is no record
int zvMovieSetSpeed(ZvObj* object, float speed);
ZvMovie* zvMovieOf(ZvObj* object);

// Decoding, for both uses, in the quillmoor-decode process (FFmpeg), so the
// browser neither loads FFmpeg at every start nor dies with a decoder that
// crashes. Opening and every read after it have a deadline, and a read
// that finds no picture in a bounded number of packets fails, so a broken
// or hostile file costs a message, never a hang.
struct ZvVideoDecoder;
struct ZvVideoInfo {
  int width, height;  // of the pictures in the file
  double frameRate;   // as the file gives it, 0 when unknown
  double duration;    // seconds, 0 when unknown
  int hasSound;
};
// who prefixes the messages. Null after a message when the file cannot be
// opened or holds no picture.
ZvVideoDecoder* zvOpenVideo(const char* file, const char* who);
void zvCloseVideo(ZvVideoDecoder* decoder);
void zvGetVideoInfo(const ZvVideoDecoder* decoder, ZvVideoInfo* info);
// The size pictures are scaled to (the file's until set).
int zvSetVideoOutputSize(ZvVideoDecoder* decoder, int width, int height);
// The next picture as RGBA (width x height of the output size, rows
// packed) and its time in seconds: 1, 0 at the end of the file, -1 after a
// message.
int zvReadVideoFrame(ZvVideoDecoder* decoder, uint8_t* rgba, double* seconds);
// The file's sound, decoded as it is met, goes to this sink as 16-bit
// interleaved samples (null: not decoded).
typedef void (*ZvVideoSoundSink)(void* user, const int16_t* samples, int frames, int channels, int rate);
void zvSetVideoSoundSink(ZvVideoDecoder* decoder, ZvVideoSoundSink sink, void* user);

// Playing a video over the view. The shell gives the window and the
// label switches; the sound layer the pause and resume of all sounds and
// the sink for the video's own sound. Any of them may stay null.
struct ZvVideoHooks {
  ZvPlatformWindow* window;
  void (*hideLabels)(void);
  void (*showLabels)(void);
  void (*pauseAllSounds)(void);
  void (*resumeAllSounds)(void);
  ZvVideoSoundSink playSound;  // the video's sound, as it is decoded
  void* soundUser;
};
ZvVideoHooks& zvVideoHooks(void);
// Plays a local file over the view: 0, or -1 after a message.
int zvVideoPlay(const char* file);
// Closes the playing video (a click, its end, or the program leaving).
void zvVideoClose(void);
int zvVideoPlaying(void);

// --- characters ---
// Motion-captured characters: a body of segments read from a character file
// (".wkn"), built as one object per segment under the character object,
// each with a stick-figure bone or a part of a VRML skin, and posed frame
// by frame. Frames wrap at both ends.

// Hooks, and the character commands for scripts.
void zvMediaInstallCharacters(void);
// Builds a character from the file at characterUrl. With a skin (a VRML
// file whose parts are named like the segments), a new object; without
// one, on *object, or on a new object when *object is null. Relative URLs
// resolve against the skin, else against the world. 0, -1 or -5.
int zvKinNew(ZvWorld* world, const char* characterUrl, const char* skinUrl, ZvObj** object);
// Forgets the body; the objects stay as they are posed.
int zvKinDelete(ZvObj* object);
int zvKinSetFrame(ZvObj* object, int frame);  // 0, -4 out of range, -1
int zvKinNextFrame(ZvObj* object);  // forward, after the last the first
int zvKinPrevFrame(ZvObj* object);  // back, before the first the last
int zvKinGetFrame(ZvObj* object, int* current, int* count);  // current -1 before the first frame

// Shared worlds: every local step is told to the step hook, so that it can
// go to the other users; a step from another user comes back through
// zvKinReceiveStep, which tells nobody. Directions as on the wire.
enum { ZV_KIN_STEP_FORWARD = 1, ZV_KIN_STEP_BACK = 255 };
typedef void (*ZvKinStepHook)(ZvObj* object, int direction);
ZvKinStepHook zvKinSetStepHook(ZvKinStepHook hook);  // answers the previous
int zvKinReceiveStep(ZvObj* object, int direction);  // other directions do nothing
