// platform.h — the few things of ours that talk to the operating system
// directly rather than through a library.
#pragma once

// Large worlds are hundreds of thousands of small records; on machines
// where first touching a page is dear, the heap should come in huge pages.
// This grows the heap once and asks for huge pages on it, in this process;
// argv is no longer used.
void zvPlatformTuneMemory(char** argv);
// Ends the process with status through std::quick_exit: the standard
// streams are flushed and the at_quick_exit handlers run (register there
// what must happen on the way out, such as removing temporary files), but
// no static destructor and no library's own teardown, which for a GL
// driver and a hundred shared libraries costs more than a headless run's
// last step. Builds with a leak checker return instead, so that the long
// way out stays checked.
void zvPlatformQuickExit(int status);

#include <cstddef>

// The bytes the process has taken from malloc and not given back (the
// sanitizer's allocator when it stands in for malloc).
size_t zvPlatformHeapBytesInUse(void);

#include <string>

// Libraries that only some worlds need (sound, MIDI, the web) are opened at
// their first use, not at start-up: the three bring some seventy more with
// them, which every start would otherwise load and relocate before main.
struct ZvLibraryEntry {
  const char* name;
  void** slot;
};
// Opens the library by its soname and fills each entry's slot with the
// named symbol. On false nothing is bound and *error says what was missing.
// A library is opened once (from the loop's thread): a later call finds it
// open, or fails again without trying; once open it stays for the life of
// the process.
bool zvPlatformBindLibrary(const char* soname, const ZvLibraryEntry* entries, size_t count, std::string* error);

// The usual way to use it: a struct of pointers named after the functions,
// declared with ZV_LIBRARY_POINTER and listed with ZV_LIBRARY_ENTRY from one
// list of names, the struct being called `api` where the entries are made.
#define ZV_LIBRARY_POINTER(f) decltype(&::f) f;
#define ZV_LIBRARY_ENTRY(f) {#f, reinterpret_cast<void**>(&api.f)},
