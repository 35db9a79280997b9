// report.cpp — the three report routines and the debug-class table. Every
// text of the program passes through one sink: stderr until windows exist,
// the messages window later, a recorder in tests.
#include <cstdio>
#include <cstring>

#include "scene/scene.h"

namespace {

struct DebugClass {
  char name[12];
  int32_t cls;
  int32_t on;
};

// Ends with a row whose class number is 0.
const DebugClass kInitialClasses[] = {
    {"warning", 1, 1}, {"error", 2, 1},   {"message", 3, 1},   {"zvdebug", 4, 0},
    {"rwdebug", 5, 0}, {"qvdebug", 6, 0}, {"tkdebug", 7, 0},   {"authdebug", 8, 0},
    {"", 0, 0},
};
DebugClass classes[sizeof kInitialClasses / sizeof kInitialClasses[0]];
bool classesReady = false;

void ensureClasses() {
  if (!classesReady) {
    std::memcpy(classes, kInitialClasses, sizeof classes);
    classesReady = true;
  }
}

ZvReportSink reportSink = nullptr;
void* reportUser = nullptr;
int errorCount = 0;
bool failed = false;

void stderrSink(int cls, const char* text, int first, void*) {
  if (cls == ZV_DEBUG_ERROR)
    std::fprintf(stderr, first ? "Fatal Error: %s\n" : "Error: %s\n", text);
  else
    std::fprintf(stderr, "%s\n", text);
}

// Texts passed in often end with "\n" already; the sink gets them without
// it so that every destination can lay lines out its own way.
void deliver(int cls, const char* text, int first) {
  char line[8192];
  std::snprintf(line, sizeof line, "%s", text);
  size_t n = std::strlen(line);
  while (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
  if (reportSink)
    reportSink(cls, line, first, reportUser);
  else
    stderrSink(cls, line, first, nullptr);
}

void vreport(int cls, bool always, const char* format, va_list args) {
  if (!always && !zvGetDebugFlag(cls)) return;
  char text[8192];
  std::vsnprintf(text, sizeof text, format ? format : "(null)", args);
  int first = 0;
  if (cls == ZV_DEBUG_ERROR) {
    failed = true;
    first = errorCount++ == 0;
  }
  deliver(cls, text, first);
}

}  // namespace

void zvSetReportSink(ZvReportSink sink, void* user) {
  reportSink = sink;
  reportUser = user;
}

void zvError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(ZV_DEBUG_ERROR, false, format, args);
  va_end(args);
}

void zvWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(ZV_DEBUG_WARNING, false, format, args);
  va_end(args);
}

void zvMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(ZV_DEBUG_MESSAGE, true, format, args);
  va_end(args);
}

void zvDebug(int cls, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(cls, false, format, args);
  va_end(args);
}

void zvErrorSS(const char* a, const char* b) { zvError("%s %s", a ? a : "", b ? b : ""); }
void zvErrorSD(const char* a, int b) { zvError("%s %d", a ? a : "", b); }
void zvMessageSS(const char* a, const char* b) { zvMessage("%s %s", a ? a : "", b ? b : ""); }
void zvMessageSD(const char* a, int b) { zvMessage("%s %d", a ? a : "", b); }

int zvReportFailed(void) { return failed; }
void zvClearReportFailed(void) {
  failed = false;
  errorCount = 0;
}

int zvGetDebugFlag(int cls) {
  ensureClasses();
  for (const DebugClass* c = classes; c->cls != 0; ++c)
    if (c->cls == cls) return c->on;
  return 0;
}

int zvSetDebugFlag(int cls, int on) {
  ensureClasses();
  for (DebugClass* c = classes; c->cls != 0; ++c)
    if (c->cls == cls) {
      c->on = on != 0;
      return 0;
    }
  return -1;
}

int zvSetDebugFlagByName(const char* name, int on) {
  ensureClasses();
  if (!name) return -1;
  for (DebugClass* c = classes; c->cls != 0; ++c)
    if (std::strcmp(c->name, name) == 0) {
      c->on = on != 0;
      return 0;
    }
  return -1;
}

const char* zvDebugClassName(int cls) {
  ensureClasses();
  for (const DebugClass* c = classes; c->cls != 0; ++c)
    if (c->cls == cls) return c->name;
  return nullptr;
}

void zvResetDebugFlags(void) {
  classesReady = false;
  ensureClasses();
}
