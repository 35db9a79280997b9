// shell.h — the program's start-up pieces that do not need a window: the
// command line (our long options first, then the word table and its
// options), and the exit-handler stack.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Command line
enum { ZV_MAX_WORDS = 32 };  // slot 0 stays empty: at most 31 words

struct ZvCommandLine {
  char* words[ZV_MAX_WORDS];
  int count;   // one past the last word; starts at 1
  int cursor;  // the next word to read; starts at 1
};

struct ZvShellOptions {
  int showNames;          // "-dname"
  int showComments;       // "-dcomment"
  int noLabelBackground;  // "-dscouter"
  int frameRateReport;    // "-dframerate"
  int memoryDebug;        // "-memdbg": accepted, nothing more
  int cacheMegabytes;     // "-dcachemb N": the world cache's budget; 0 for the default
  int scriptLimit;        // "-dscriptlimit MS": each script evaluation's time; 0 for the default
  const char* firstWorld; // the first word that is not an option
};

// Splits a command line in place: each run of non-blank characters is a
// word, and the first blank after it becomes its terminator. Answers the
// number of words stored; words past the 31st are dropped with a warning.
int zvSplitCommandLine(char* line, ZvCommandLine* table);
// Stores argument strings as words (not copied), one per argument, so that
// names with blanks in them survive.
int zvSetCommandLineWords(int argc, char** argv, ZvCommandLine* table);
// Reads options from the cursor on; stops at the first world name and
// leaves the cursor just after it.
void zvReadCommandLineOptions(ZvCommandLine* table, ZvShellOptions* options);
// The next unread word (a further world to open), or null.
const char* zvNextCommandLineWord(ZvCommandLine* table);

// Our own long options, recognised before anything else.
enum ZvLaunchMode {
  ZV_LAUNCH_BROWSE = 0,
  ZV_LAUNCH_VERSION,
  ZV_LAUNCH_HELP,
  ZV_LAUNCH_CHECK,
  ZV_LAUNCH_WRITE,
  ZV_LAUNCH_SCREENSHOT,
  ZV_LAUNCH_NET_CLIENT,
};
struct ZvLaunch {
  int mode;
  const char* error;   // set when a long option is malformed
  int firstWord;       // index in argv of the first word for the word table
  const char* output;  // --write OUT, --screenshot OUT, --headless-client HOST:PORT
  int width, height;   // --size, 640 x 480 unless given
  int afterMs;         // --after MS: simulated time the world runs before it is drawn; -1 when not given
};
void zvParseLongOptions(int argc, char** argv, ZvLaunch* launch);
const char* zvUsage(void);
const char* zvVersion(void);

// ---------------------------------------------------------------------------
// Headless modes
struct ZvWorld;
struct ZvObj;
struct ZvEvent;
// The headless modes' report sink: every report on standard output, errors
// marked as the window's message box would title them.
void zvPrintReport(int cls, const char* text, int first, void* user);
// Connects retrieval, the reader and image conversion to the scene model.
void zvInstallSubsystems(void);
// Reads a world file as the browser would (no person, no renderer); null
// when it cannot be read. ms: how long reading took.
// A URL (http, https, ftp) is fetched first and read under its URL.
ZvWorld* zvReadWorldFile(const char* path, double* ms);
// Reads a local file into a world known by url (null: the file's own URL).
ZvWorld* zvReadWorldFileAs(const char* path, const char* url, double* ms);
int zvIsRemoteUrl(const char* name);  // http, https, ftp and other schemes not file:
// --check: 0 when every world was read, 1 otherwise, 2 after an error.
int zvRunCheck(int count, char** worlds);
// --write: reads a world and writes it out.
int zvRunWrite(const char* output, const char* world);
// --screenshot: reads a world, adds the person, builds it in the renderer,
// draws one frame through the active camera and writes it as a PNG file.
// 0 on success, 1 when the world cannot be read or drawn, 2 after an error.
// afterMs >= 0: the world runs that long on a simulated clock first.
// Shared worlds: the client wired to characters and the program's exit.
void zvInstallSharedWorlds(void);
// --headless-client HOST:PORT [WORLD]: the real client without a window,
// driven by commands on standard input (see netclient.cpp). 0, or 1 when
// it could not connect.
int zvRunHeadlessClient(const char* server, const char* world);
// leave: once the world is deleted the process ends there
// (zvPlatformQuickExit) rather than closing the renderer and its driver.
int zvRunScreenshot(const char* output, int width, int height, const char* world, int afterMs = -1,
                    int leave = 0);
// Behaviour. The window and --screenshot run the worlds' scripts;
// --write keeps handlers and tasks to write them out, running no script;
// --check attaches none.
void zvInstallBehaviour(void);
void zvInstallRecordedBehaviour(void);
// --write's reader hooks: a handler or task is attached without its
// script file, which would be evaluated, and then given the file's entry
// so that it is written out with it.
struct ZvUrlHash;
void zvRecordHandlersOnly(void);
int zvRecordHandler(ZvObj* object, ZvUrlHash* file, uint32_t mask, int scriptType, const char* function,
                    const char* userData, const char* actionObject);
int zvRecordTask(ZvObj* object, ZvUrlHash* file, uint32_t interval, int scriptType, const char* function,
                 const char* userData, int periodic);
// Whether one of the shell's script calls is running (a nested loop is
// inside it); what would take a world away then waits for it to end.
int zvBehaviourBusy(void);
// The shell's own events and wake-ups, none started while a script of ours
// runs: an event of a type to the world's arrays; the due tasks; an
// interaction event to its target, or a key (null target) to what is under
// the pointer, else to the top objects that take it.
int zvSendWorldEvent(ZvWorld* world, uint32_t type);
int zvWakeWorldTasks(ZvWorld* world);
void zvDeliverInteraction(ZvWorld* world, ZvObj* target, ZvEvent* event);
// A world shown (Tk resumed, tasks re-armed, WORLD_IN) and left (WORLD_OUT,
// Tk suspended).
void zvShowWorldBehaviour(ZvWorld* world);
void zvLeaveWorldBehaviour(ZvWorld* world);
// Headless: the scripts' clock stands at start and moves only as
// zvRunWorldFor advances it: WORLD_IN, then a frame (due tasks, FRAME)
// every ZV_FRAME_INTERVAL_START milliseconds up to ms.
void zvUseSimulatedClock(uint64_t start);
void zvRunWorldFor(ZvWorld* world, int ms);
// Where person.wrl and the glyph files are: QUILLMOOR_DATA_DIR, else the
// installed share directory beside the program, else the build tree's.
const char* zvDataDirectory(void);

// ---------------------------------------------------------------------------
// The window: plain "quillmoor [options] [WORLD...]"
// Takes the single-instance lock, opens the window and runs the loop until
// the window is closed. 0 on a clean close, 255 when another instance runs,
// 1 when no window can be opened.
int zvRunWindow(ZvCommandLine* words, const ZvShellOptions* options);

// What the shell calls into the layers above it; each may stay null.
struct ZvShellHooks {
  void (*navStep)(void);  // once a frame, before drawing: move the person
  void (*jump)(void);     // Escape: back to the start viewpoint
  // Pointer in the view, only while a world runs (kind: ZV_POINTER_*).
  void (*pointer)(int kind, int x, int y, int button, uint32_t state);
};
ZvShellHooks* zvShellHooks(void);
// Hands the window's keys, pointer and frame ticks to the navigation.
void zvConnectNavigation(void);

// The frame period follows the rendering time: render and slice (the
// world's Tk time slice) in milliseconds. Answers 1 when the period changed
// and the timer must be re-armed with it.
enum { ZV_FRAME_INTERVAL_START = 20, ZV_FRAME_INTERVAL_MAX = 1000 };
int zvAdaptFrameInterval(uint32_t* interval, uint32_t render, uint32_t slice);
// The frame-rate report's lines for one frame; total may be 0.
void zvFormatFrameRate(char* out, int size, uint32_t render, uint32_t other, uint32_t total, int reset,
                       uint32_t interval);

// ---------------------------------------------------------------------------
// The world cache: worlds read stay loaded, the most recently shown first,
// keyed by their URL (exact, case-sensitive), within a memory budget.
// Removing a world deletes it.
int zvAddWorldToCache(ZvWorld* world);  // 0, or -1 when out of memory; costs 0 until sized
ZvWorld* zvGetCachedWorld(const char* url);  // the most recently shown match, or null
int zvRemoveCachedWorld(ZvWorld* world);  // by the world's URL; -1 when none
void zvClearWorldCache(void);             // deletes every world
void zvTouchCachedWorld(ZvWorld* world);  // just shown: the last to be let go
// What a cached world costs in bytes (zvHeapBytesInUse's growth while it
// was read and built); -1 when the world is not cached.
int zvSetCachedWorldSize(ZvWorld* world, size_t bytes);
size_t zvCachedWorldSize(const ZvWorld* world);  // 0 when not cached
// Deletes the least recently shown worlds, never keep nor the current
// world, until the worlds held fit the budget; answers how many went.
int zvTrimWorldCache(const ZvWorld* keep);
size_t zvWorldCacheBytes(void);  // what the worlds held cost together
int zvWorldCacheCount(void);
// The budget: a quarter of the machine's memory, at most 2 GB, unless set
// ("-dcachemb"); 0 goes back to that default.
size_t zvDefaultWorldCacheBudget(void);
void zvSetWorldCacheBudget(size_t bytes);
size_t zvGetWorldCacheBudget(void);
// The bytes the process has taken from malloc and not given back.
size_t zvHeapBytesInUse(void);

// The history: visited URLs in order, with the current one.
struct ZvHistoryEntry {
  ZvHistoryEntry* next;  // later, null at the tail
  ZvHistoryEntry* prev;  // earlier, null at the head
  char* url;             // owned
  int loaded;            // 1 once the entry's world was read
};
// Forgets every entry after the current one and appends url as the new
// tail (not loaded); the caller makes it current. Null when out of memory.
ZvHistoryEntry* zvAddHistoryEntry(const char* url);
void zvSetCurrentHistoryEntry(ZvHistoryEntry* entry);
ZvHistoryEntry* zvGetCurrentHistoryEntry(void);
ZvHistoryEntry* zvNextHistoryEntry(const ZvHistoryEntry* entry);  // null for null
ZvHistoryEntry* zvPrevHistoryEntry(const ZvHistoryEntry* entry);
void zvSetHistoryLoaded(ZvHistoryEntry* entry, int flag);
void zvClearHistory(void);
// Set by Reload: the next world read takes the current entry instead of
// appending one.
void zvSetHistoryReuse(int flag);
int zvGetHistoryReuse(void);

// ---------------------------------------------------------------------------
// Exit handlers: at most ten routines, run last first at shutdown.
typedef void (*ZvExitHandler)(void);
enum { ZV_MAX_EXIT_HANDLERS = 10 };
void zvClearExitHandlers(void);
int zvAddExitHandler(ZvExitHandler handler);  // -1 when ten are registered
void zvExit(void);
