// writer.h — the VRML writer: dumps a world, or one object and its subtree,
// from the scene model as VRML 1.0 text that our own reader reads again.
//
// Lossy by design: transforms come out as one Translation and one Rotation
// about the axes whose angles are not zero (exact for single-axis turns),
// text leaves are not written, inline worlds are written as the children of
// their WWWInline, and of the world settings only the title, viewer speed,
// background colour and texture and the shared-world server survive.
//
// One dump at a time, process-wide. Every failure is reported and the dump
// goes on with the next line or object; the result then says -1.
#pragma once

#include <cstdint>
#include <cstdio>

#include "scene/scene.h"

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
