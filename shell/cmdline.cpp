// cmdline.cpp — the word table and its options. Our long options are taken
// off the front; everything after them is read the way the browser has
// always read its command line.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scene/scene.h"
#include "shell/shell.h"

namespace {

enum { kMaxCacheMegabytes = 1 << 20 };  // a terabyte: anything more is a typing slip
// An hour either way: a script allowed longer is as good as hung, and a
// picture taken later than that is a typing slip.
enum { kMaxScriptLimit = 3600000, kMaxAfter = 3600000 };

// A whole number from 1 (0 with zeroOk) to max, or -1.
long wholeNumber(const char* text, long max, bool zeroOk) {
  if (!text || !std::isdigit(static_cast<unsigned char>(text[0]))) return -1;
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (*end != '\0' || n > max || n < (zeroOk ? 0 : 1)) return -1;
  return n;
}

void resetTable(ZvCommandLine* table) {
  std::memset(table, 0, sizeof *table);
  table->count = 1;
  table->cursor = 1;
}

bool storeWord(ZvCommandLine* table, char* word, bool* warned) {
  if (table->count >= ZV_MAX_WORDS) {
    if (!*warned) zvWarning("Too many words on the command line; the rest are ignored.");
    *warned = true;
    return false;
  }
  table->words[table->count++] = word;
  return true;
}

}  // namespace

int zvSplitCommandLine(char* line, ZvCommandLine* table) {
  if (!table) return 0;
  resetTable(table);
  if (!line) return 0;
  bool warned = false;
  char* p = line;
  for (;;) {
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (!*p) break;
    char* word = p;
    while (*p && !std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool more = *p != '\0';
    if (more) *p++ = '\0';
    if (!storeWord(table, word, &warned)) break;
    if (!more) break;
  }
  return table->count - 1;
}

int zvSetCommandLineWords(int argc, char** argv, ZvCommandLine* table) {
  if (!table) return 0;
  resetTable(table);
  bool warned = false;
  for (int i = 0; argv && i < argc; ++i)
    if (argv[i] && !storeWord(table, argv[i], &warned)) break;
  return table->count - 1;
}

void zvReadCommandLineOptions(ZvCommandLine* table, ZvShellOptions* options) {
  if (!table || !options) return;
  while (table->cursor < table->count) {
    const char* w = table->words[table->cursor++];
    if (std::strcmp(w, "-dname") == 0) {
      options->showNames = 1;
    } else if (std::strcmp(w, "-dcomment") == 0) {
      options->showComments = 1;
    } else if (std::strcmp(w, "-dscouter") == 0) {
      options->noLabelBackground = 1;
    } else if (std::strcmp(w, "-dframerate") == 0) {
      options->frameRateReport = 1;
    } else if (std::strcmp(w, "-memdbg") == 0) {
      options->memoryDebug = 1;
    } else if (std::strcmp(w, "-dcachemb") == 0) {
      // A size that is not a whole number of megabytes leaves the default
      // and the word to be read as what it is.
      const char* n = table->cursor < table->count ? table->words[table->cursor] : "";
      long mb = wholeNumber(n, kMaxCacheMegabytes, false);
      if (mb > 0) {
        options->cacheMegabytes = int(mb);
        ++table->cursor;
      } else {
        zvMessage("-dcachemb needs a size from 1 to %d megabytes.", int(kMaxCacheMegabytes));
      }
    } else if (std::strcmp(w, "-dscriptlimit") == 0) {
      const char* n = table->cursor < table->count ? table->words[table->cursor] : "";
      long ms = wholeNumber(n, kMaxScriptLimit, false);
      if (ms > 0) {
        options->scriptLimit = int(ms);
        ++table->cursor;
      } else {
        zvMessage("-dscriptlimit needs a time from 1 to %d milliseconds.", int(kMaxScriptLimit));
      }
    } else if (std::strcmp(w, "-dflags") == 0) {
      while (table->cursor < table->count && table->words[table->cursor][0] != '-')
        zvSetDebugFlagByName(table->words[table->cursor++], 1);
    } else {
      options->firstWorld = w;
      return;
    }
  }
}

const char* zvNextCommandLineWord(ZvCommandLine* table) {
  if (!table || table->cursor >= table->count) return nullptr;
  return table->words[table->cursor++];
}

void zvParseLongOptions(int argc, char** argv, ZvLaunch* launch) {
  if (!launch) return;
  *launch = ZvLaunch{ZV_LAUNCH_BROWSE, nullptr, argc > 0 ? 1 : 0, nullptr, 640, 480, -1};
  int i = launch->firstWord;
  for (; i < argc && argv[i] && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--") == 0) {  // everything after is the word table's
      ++i;
      break;
    }
    if (std::strcmp(a, "--version") == 0)
      launch->mode = ZV_LAUNCH_VERSION;
    else if (std::strcmp(a, "--help") == 0)
      launch->mode = ZV_LAUNCH_HELP;
    else if (std::strcmp(a, "--check") == 0)
      launch->mode = ZV_LAUNCH_CHECK;
    else if (std::strcmp(a, "--write") == 0) {
      if (i + 1 >= argc || !argv[i + 1]) {
        launch->error = a;
        break;
      }
      launch->mode = ZV_LAUNCH_WRITE;
      launch->output = argv[++i];
    } else if (std::strcmp(a, "--screenshot") == 0) {
      if (i + 1 >= argc || !argv[i + 1]) {
        launch->error = a;
        break;
      }
      launch->mode = ZV_LAUNCH_SCREENSHOT;
      launch->output = argv[++i];
    } else if (std::strcmp(a, "--headless-client") == 0) {
      if (i + 1 >= argc || !argv[i + 1]) {
        launch->error = a;
        break;
      }
      launch->mode = ZV_LAUNCH_NET_CLIENT;
      launch->output = argv[++i];
    } else if (std::strcmp(a, "--size") == 0) {
      // The view is at most 1024 x 768: the cameras are made for that.
      int w = 0, h = 0;
      char tail = 0;
      if (i + 1 >= argc || !argv[i + 1] || std::sscanf(argv[i + 1], "%dx%d%c", &w, &h, &tail) != 2 || w < 1 ||
          h < 1 || w > 1024 || h > 768) {
        launch->error = a;
        break;
      }
      launch->width = w, launch->height = h;
      ++i;
    } else if (std::strcmp(a, "--after") == 0) {
      long ms = i + 1 < argc ? wholeNumber(argv[i + 1], kMaxAfter, true) : -1;
      if (ms < 0) {
        launch->error = a;
        break;
      }
      launch->afterMs = int(ms);
      ++i;
    } else
      break;  // not ours: the word table takes it, as a world's name
  }
  launch->firstWord = i;
  // Only a picture waits for the world to run.
  if (!launch->error && launch->afterMs >= 0 && launch->mode != ZV_LAUNCH_SCREENSHOT) launch->error = "--after";
}

const char* zvVersion(void) { return "Quillmoor 0.1.0"; }

const char* zvUsage(void) {
  return "usage: quillmoor [--version] [--help] [-dname] [-dcomment] [-dscouter]\n"
         "                 [-dframerate] [-memdbg] [-dcachemb N] [-dscriptlimit MS]\n"
         "                 [-dflags CLASS...] [WORLD...]\n"
         "       quillmoor --check WORLD...\n"
         "       quillmoor --write OUT.wrl WORLD\n"
         "       quillmoor --screenshot OUT.png [--size WxH] [--after MS] WORLD\n"
         "       quillmoor --headless-client HOST:PORT [WORLD]\n"
         "\n"
         "  --version         print the version and exit\n"
         "  --help            print this text and exit\n"
         "  --check           read each world, print its messages and a summary\n"
         "  --write OUT.wrl   read a world and write it out as VRML\n"
         "  --screenshot OUT.png  draw one frame of a world into a PNG file\n"
         "  --headless-client HOST:PORT  join a shared-world server without a window,\n"
         "                    commands on standard input, events on standard output\n"
         "  --size WxH        the picture's size, at most 1024x768 (640x480)\n"
         "  --after MS        run the world's scripts for MS milliseconds of\n"
         "                    simulated time before drawing\n"
         "  -dname            show object names under the pointer\n"
         "  -dcomment         show object comments under the pointer\n"
         "  -dscouter         draw labels without a background\n"
         "  -dframerate       report rendering times\n"
         "  -dcachemb N       keep the worlds visited within N megabytes (a quarter\n"
         "                    of the memory, at most 2048, unless given)\n"
         "  -dscriptlimit MS  stop a world's script that runs longer than MS\n"
         "                    milliseconds (1000)\n"
         "  -dflags CLASS...  switch debug classes on: warning error message\n"
         "                    zvdebug rwdebug qvdebug tkdebug authdebug\n"
         "  WORLD             VRML files to open, one after the other\n";
}
