// vrml.h — reading VRML 1.0 worlds into the scene model, and writing them
// back out.
//
// Depends on the scene model, retrieval (www/) for the files a world names,
// and zlib for compressed input. Behaviour, sound and characters are reached
// through the hook table below, which their subsystems fill at start-up.
#pragma once

#include <cstdint>
#include <cstdio>

#include "scene/scene.h"

// ---------------------------------------------------------------------------
// Reading
// Parse a file and make every object a top object of the world.
int zvParseVRML(const char* fileName, ZvWorld* world);
// The same into the current world; first is the first new top object.
int zvParseVRMLAddToWorld(const char* fileName, ZvObj** first);
// Parse into parent's world and add every object as a child of parent.
int zvParseVRMLAddToObj(const char* fileName, ZvObj* parent, ZvObj** first);
// Parse into the object (inlines): top-level Separators are flattened.
int zvParseVRMLInZvObj(const char* fileName, ZvObj* object);
// Parse an avatar file into the world; camera is its first camera or
// Switch object. Answers the first new cell of the top-object list.
ZvTopObjList* zvParseVRMLInZvCamera(ZvWorld* world, const char* fileName, ZvObj** camera);
// Text in memory instead of a file (additions from scripts and tests).
int zvParseVRMLString(const char* text, const char* url, ZvWorld* world);

// One top-level node per call.
int zvParseVRMLFileOpen(const char* fileName, ZvWorld* world);
int zvParseVRMLFileRead(ZvTopObjList** top);
int zvParseVRMLIsEof(void);
void zvParseVRMLFileClose(void);

// The special Info node hands a character file to the character loader.
void zvParseSetKinemationFile(const char* fileName);
void zvParseResetKinemation(void);

// Which event bit of a handler is read as which: by default a right-button
// press is a pick.
void zvSetEventMaskConversion(uint32_t fromBit, uint32_t toBit);
uint32_t zvConvertEventMask(uint32_t mask);

// Makes the reader the scene model's file reader (zvConstructWorld and the
// person).
void zvVrmlInstallHooks(void);

// ---------------------------------------------------------------------------
// Seams to the subsystems above the reader. A hook left null does nothing
// and succeeds, so a world reads the same without them.
struct ZvHandlerDesc {
  ZvUrlHash* file;  // script file, or null
  const char* function;
  const char* userData;
  const char* actionObject;
  uint32_t mask;      // event bits
  int scriptKind;
  int32_t millisecond;  // tasks only
};
struct ZvSoundDesc {
  ZvUrlHash* file;
  int kind;  // 1 wave, 2 MIDI notes, 3 MIDI sound set, 0 unknown
  int autoPlay;
  int loop;
  float bboxSize[3], bboxCenter[3];
};
// A Movie2 node: its file (fetched) and its options, for the movie record
// the media layer makes.
struct ZvMovieDesc {
  ZvUrlHash* file;
  int autoPlay;
  float framesPerSec;     // 4 unless set
  int32_t width, height;  // 128 unless set
  const char* sound;      // or null
};
// Movie2's option string: "framesPerSec 8, width 128, height 128,
// sound \"a.wav\"". Keys are tried by prefix in that order; parsing stops at
// the first entry that names none. The sound is the caller's to zvFree.
int qvParseMovieOption(const char* text, ZvMovieDesc* out);

struct ZvReaderHooks {
  int (*scriptEval)(ZvWorld* world, const char* procedure, int scriptKind);
  int (*addEventHandler)(ZvObj* object, const ZvHandlerDesc* handler);
  int (*callEventHandler)(ZvObj* object, uint32_t eventType);
  int (*addTimeOutHandler)(ZvObj* object, const ZvHandlerDesc* task, int periodic);
  int (*addSound)(ZvObj* object, const ZvSoundDesc* sound);
  void (*setGravity)(ZvWorld* world, int on);
  // Loads a character; 0 and the object, or -1.
  int (*loadKinemation)(ZvWorld* world, const char* characterFile, const char* url, ZvObj** object);
  // A movie record for a Movie2 node in effect at a shape; null on failure.
  // Unset, the shape shows the movie's file as a plain texture.
  ZvMovie* (*newMovie)(const ZvMovieDesc* movie);
};
ZvReaderHooks& zvReaderHooks(void);

// ---------------------------------------------------------------------------
// What a read world holds, for the batch check.
struct ZvWorldSummary {
  int objects;
  int leaves[23];  // by leaf type
  int cameras, lights, inlines;
  int texturesFound, texturesMissing;
};
void zvSummarizeWorld(ZvWorld* world, ZvWorldSummary* summary);

// ---------------------------------------------------------------------------
// Writing: a world, or one object and its subtree, from the scene model as
// VRML 1.0 text that our own reader reads again.
//
// Lossy by design: transforms come out as one Translation and one Rotation
// about the axes whose angles are not zero (exact for single-axis turns),
// text leaves are not written, inline worlds are written as the children of
// their WWWInline, and of the world settings only the title, viewer speed,
// background colour and texture and the shared-world server survive.
//
// One dump at a time, process-wide. Every failure is reported and the dump
// goes on with the next line or object; the result then says -1.
int zvDumpWorld(ZvWorld* world, const char* fileName);  // opened in binary mode
int zvDumpWorldToFile(ZvWorld* world, FILE* out);
// Into the dump in progress (at its indentation and transform level); with
// none the lines are formatted and dropped.
int zvDumpZvObj(ZvObj* object);
int zvDumpZvObjToFile(ZvObj* object, FILE* out);  // a subtree on its own
// Widens through the decimal text, so that 0.1f writes as 0.1, not as the
// double nearest to the float.
int zvDumpFloat2Double(float value, double* out);

// ---------------------------------------------------------------------------
// What the writer needs from the behaviour and media layers, whose records
// it cannot read. Each layer fills its entries at start-up; with an entry
// left null the writer writes nothing of that kind (scripts: see below).
struct ZvDumpHandler {
  ZvUrlHash* file;           // the script file, or null
  uint32_t eventMask;
  const char* userData;
  const char* function;      // null for native routines
  int32_t scriptType;        // 0 Python, 1 Tcl, 2 Java, 3 VB, 4 C, 5 inline
  const char* actionObject;  // or null
};
struct ZvDumpTask {
  int32_t taskType;  // 0 sporadic, 1 periodic
  ZvUrlHash* file;
  long millisecond;
  const char* userData;
  const char* function;
  int32_t scriptType;
};
struct ZvDumpSound {
  ZvUrlHash* file;
  float bboxSize[3], bboxCenter[3];
  int32_t autoPlay, loop;
};
struct ZvDumpMovie {
  ZvUrlHash* file;
  int32_t autoPlay;
  float framesPerSec;  // 4 unless set
  int32_t width, height;  // 128 unless set
  const char* sound;   // or null
};
typedef void (*ZvDumpHandlerSink)(const ZvDumpHandler* handler, void* arg);
typedef void (*ZvDumpTaskSink)(const ZvDumpTask* task, void* arg);
struct ZvDumpHooks {
  // Calls sink once per handler or task of the object, in list order.
  void (*eachHandler)(ZvObj* object, ZvDumpHandlerSink sink, void* arg);
  void (*eachTask)(ZvObj* object, ZvDumpTaskSink sink, void* arg);
  int (*soundOf)(ZvLeaf* leaf, ZvDumpSound* out);   // 0 when filled
  int (*movieOf)(ZvMovie* movie, ZvDumpMovie* out);  // 0 when filled
  // The kind of a script node; unset, scripts are Tcl, the one language the
  // browser runs.
  int (*scriptTypeOf)(ZvObj* object, const ZvScript* script);
};
ZvDumpHooks& zvDumpHooks(void);
