// state.cpp — the link to the web browser's side. Every remote document is
// asked for and handed back in the transactions a web browser answers:
// register as the viewer of a type, open a URL, progress calls, the
// document delivered to its viewer (or an alert), the URL of a file, and
// cancel. Here the browser's side is our own fetch agent (agent.cpp) in the
// same process, reached by plain calls instead of a conversation with
// another program, so the order and the items stay what a browser would see.
//
// A world's inlines, textures and scripts are fetched while the reader
// waits for them: the fetch runs a nested event loop until its document or
// an alert arrives. A document opened as the current world is not waited
// for: its delivery goes to the shell, which opens it from its own loop.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/window.h"
#include "www/wwwpriv.h"

namespace {

const char kService[] = "Quillmoor";
const char kVrmlMime[] = "x-world/x-vrml";
enum { kMessageSize = 512, kFileSize = ZV_WWW_PATH_MAX };

struct Link {
  int up;            // the agent answered the start-up registration
  int busy;          // a request is being served
  int notRunning;    // "Netscape is not running." shown once
  uint32_t counter;  // progress transactions begun
  int stopped;       // Stop was given: fetches fail until the next open
  // The fetch that waits in its nested loop, if any.
  int waiting;
  std::string waitUrl;
  int waitResult;  // 0 waiting, 1 delivered, -1 failed
  std::string waitFile;
  // The document being opened as the current world (no one waits for it).
  std::string documentUrl;
  // The shared record of the last delivered document.
  std::string recordFile;
  std::string recordUrl;
};

Link state;
ZvWwwLinkHooks hooks;

void trace(const char* side, const char* topic, const char* item) {
  if (hooks.transaction) hooks.transaction(side, topic, item ? item : "");
}

// One request to the browser's side; 1 when it was served.
int request(const char* topic, const char* item, int type, std::string* reply = nullptr) {
  if (!state.up) {
    if (!state.notRunning) {
      state.notRunning = 1;
      zvWarning("Netscape is not running.");
    }
    return 0;
  }
  trace("client", topic, item);
  state.busy = 1;
  std::string answer;
  int ok = www::agentServe(topic, item, type, answer);
  state.busy = 0;
  if (reply) *reply = answer;
  return ok;
}

// The browser's side is done with url: the wait that asked for it ends,
// and a document nobody waits for goes to the shell to be opened.
void deliver(const std::string& file, const std::string& url) {
  if (state.waiting && state.waitResult == 0 && url == state.waitUrl) {
    state.waitResult = 1;
    state.waitFile = file;
    return;
  }
  if (url == state.documentUrl) state.documentUrl.clear();
  if (hooks.document)
    hooks.document(file.c_str(), url.c_str());
  else
    www::removeIfOurs(file);
}

void failed(const char* reason, int kind) {
  if (state.waiting && state.waitResult == 0) {
    state.waitResult = -1;
    zvMessage("%s", reason);
    return;
  }
  // A document that is not a world goes to the user's own browser.
  if (kind == ZV_ALERT_NOT_VIEWED && !state.documentUrl.empty()) {
    std::string url = state.documentUrl;
    state.documentUrl.clear();
    zvWwwShowInBrowser(url.c_str());
    if (hooks.loadError) hooks.loadError(nullptr);
    return;
  }
  state.documentUrl.clear();
  if (hooks.loadError) hooks.loadError(reason);
}

bool isVrml(int type, const char* url) {
  return type == ZV_TYPE_VRML || (type == ZV_TYPE_GZIP && zvInnerSuffixToType(url) == ZV_TYPE_VRML);
}

bool fetchable(const char* url) {
  return strncasecmp(url, "http://", 7) == 0 || strncasecmp(url, "https://", 8) == 0 ||
         strncasecmp(url, "ftp://", 6) == 0;
}

}  // namespace

ZvWwwLinkHooks& zvWwwLinkHooks(void) { return hooks; }

// ---------------------------------------------------------------------------
// The fields of an item: field n follows the n-th comma; a field that
// begins with a double quote runs to the next one, any other to the next
// comma. Null when the item ends before the field does.
const char* zvDdeGetField(const char* item, int n, char* out, size_t size) {
  if (!item || !out || size == 0 || n < 0) return nullptr;
  size_t length = strnlen(item, kMessageSize + 1);
  if (length > kMessageSize) {
    zvWarning("getNthMessage : message buffer is invalid");
    return nullptr;
  }
  const char* p = item;
  const char* end = item + length;
  for (int i = 0; i < n; ++i) {
    // Commas inside a quoted field do not count.
    if (*p == '"') {
      const char* close = static_cast<const char*>(std::memchr(p + 1, '"', size_t(end - p - 1)));
      if (!close) break;
      p = close + 1;
    }
    const char* comma = static_cast<const char*>(std::memchr(p, ',', size_t(end - p)));
    if (!comma) {
      zvWarning("getNthMessage : message buffer is invalid");
      return nullptr;
    }
    p = comma + 1;
  }
  const char* stop;
  if (*p == '"') {
    ++p;
    stop = static_cast<const char*>(std::memchr(p, '"', size_t(end - p)));
    if (!stop) {
      zvWarning("getNthMessage : message buffer is invalid");
      return nullptr;
    }
  } else {
    stop = static_cast<const char*>(std::memchr(p, ',', size_t(end - p)));
    if (!stop) stop = end;
  }
  size_t n2 = size_t(stop - p);
  if (n2 >= size) n2 = size - 1;
  std::memcpy(out, p, n2);
  out[n2] = '\0';
  return out;
}

// The browser's calls to our side. The reply is what a conversation would
// carry back: text, or the bytes of a number.
int zvDdeServe(const char* topic, const char* item, std::string* reply) {
  if (!topic) return 0;
  trace("server", topic, item);
  std::string answer;
  char field[kMessageSize + 1];
  if (std::strcmp(topic, "WWW_ViewDocFile") == 0) {
    char file[kMessageSize + 1], url[kMessageSize + 1], mime[kMessageSize + 1];
    if (!item || item[0] != '"' || !zvDdeGetField(item, 0, file, sizeof file) ||
        !zvDdeGetField(item, 1, url, sizeof url) || !zvDdeGetField(item, 2, mime, sizeof mime)) {
      zvWarning("WWW_ViewDocFile : the item names no document");
    } else {
      char usable[kFileSize];
      int type = zvMimeNameToType(mime);
      if (type == ZV_TYPE_OTHER || type == ZV_TYPE_GZIP) type = ZV_TYPE_VRML;
      if (zvPreProcessFile(ZV_SCHEME_HTTP, file, usable, sizeof usable, type) != ZV_OK) {
        www::removeIfOurs(file);
        failed((std::string(url) + " : the document cannot be used").c_str(), ZV_ALERT_FAILED);
      } else {
        state.recordFile = usable;
        state.recordUrl = url;
        // What a world will ask for next starts coming now.
        if (zvFileToType(usable) == ZV_TYPE_VRML) zvWwwPrefetchFrom(usable, url);
        deliver(state.recordFile, state.recordUrl);
      }
    }
  } else if (std::strcmp(topic, "WWW_BeginProgress") == 0) {
    ++state.counter;
    answer.assign(reinterpret_cast<const char*>(&state.counter), 4);
  } else if (std::strcmp(topic, "WWW_MakingProgress") == 0) {
    // Ours: the item carries the bytes so far and the whole, for the
    // location bar.
    char done[32], total[32];
    if (hooks.progress && item && zvDdeGetField(item, 2, done, sizeof done) &&
        zvDdeGetField(item, 3, total, sizeof total))
      hooks.progress(std::atol(done), std::atol(total));
    answer.assign(2, '\0');
  } else if (std::strcmp(topic, "WWW_Alert") == 0) {
    int32_t gzip = item && std::strstr(item, "x-gzip") ? 1 : 0;
    answer.assign(reinterpret_cast<const char*>(&gzip), 4);
    if (!gzip) {
      const char* text = item ? zvDdeGetField(item, 0, field, sizeof field) : nullptr;
      char kindText[32];
      int kind = item && zvDdeGetField(item, 1, kindText, sizeof kindText) ? std::atoi(kindText) : 0;
      failed(text ? text : "the document could not be fetched", kind);
    }
  }
  if (reply) *reply = answer;
  return 1;
}

// ---------------------------------------------------------------------------
int zvWwwStartLink(void) {
  if (state.up) return ZV_OK;
  if (www::agentStart() != ZV_OK) return ZV_FAIL;
  state.up = 1;
  char item[128];
  std::snprintf(item, sizeof item, "%s,%s,0x4", kService, kVrmlMime);
  if (!request("WWW_RegisterViewer", item, ZV_DDE_REQUEST)) {
    state.up = 0;
    www::agentStop();
    return ZV_FAIL;
  }
  zvWwwSetFetcher(zvWwwLinkFetch);
  return ZV_OK;
}

void zvWwwShutdownLink(void) {
  if (!state.up) return;
  char item[128];
  std::snprintf(item, sizeof item, "%s,%s", kService, kVrmlMime);
  request("WWW_UnRegisterViewer", item, ZV_DDE_REQUEST);
  www::agentStop();
  if (zvWwwSetFetcher(nullptr) != zvWwwLinkFetch) zvWwwSetFetcher(nullptr);
  state = Link{};
}

int zvWwwLinkBusy(void) { return state.busy || state.waiting; }
int zvWwwFetchWaiting(void) { return state.waiting; }
uint32_t zvWwwProgressCounter(void) { return state.counter; }

int zvWwwCancelProgress(void) {
  state.stopped = 1;
  state.documentUrl.clear();
  char item[32];
  std::snprintf(item, sizeof item, "0x%X", state.counter);
  return request("WWW_CancelProgress", item, ZV_DDE_POKE) ? ZV_OK : ZV_FAIL;
}

void zvWwwClearStop(void) { state.stopped = 0; }

int zvWwwLinkFetch(const char* url, int type, char* out, size_t size) {
  if (!url || !out) return ZV_FAIL;
  if (!fetchable(url)) {
    zvMessage("%s : only http, https and ftp URLs are fetched", url);
    return ZV_FAIL;
  }
  if (state.stopped) {
    zvMessage("%s : not fetched, loading was stopped", url);
    return ZV_FAIL;
  }
  // One wait at a time: what the nested loop runs (a world's Tk event, say)
  // cannot start another.
  if (state.waiting) {
    zvMessage("%s : not fetched while another fetch waits", url);
    return ZV_FAIL;
  }
  const char* mime = type == ZV_TYPE_VRML ? nullptr : zvTypeToMimeName(url);
  char item[kMessageSize + 64];
  if (mime) {
    std::snprintf(item, sizeof item, "%s,%s,0x4", kService, mime);
    request("WWW_RegisterViewer", item, ZV_DDE_REQUEST);
  }
  state.waiting = 1;
  state.waitUrl = url;
  state.waitResult = 0;
  state.waitFile.clear();
  std::snprintf(item, sizeof item, "%s,,0xFFFFFFFF,0x04,,,%s", url, kService);
  if (request("WWW_OpenURL", item, ZV_DDE_REQUEST)) {
    while (state.waitResult == 0) {
      // The window going away ends the wait; what was asked for is dropped.
      if (zvPlatformLoopEnding()) {
        zvWwwCancelProgress();
        if (state.waitResult == 0) state.waitResult = -1;
        break;
      }
      zvPlatformDoOneEvent(1);
    }
  } else {
    state.waitResult = -1;
  }
  state.waiting = 0;
  if (mime) {
    std::snprintf(item, sizeof item, "%s,%s", kService, mime);
    request("WWW_UnRegisterViewer", item, ZV_DDE_REQUEST);
  }
  if (state.waitResult != 1 || state.waitFile.size() >= size) return ZV_FAIL;
  std::memcpy(out, state.waitFile.c_str(), state.waitFile.size() + 1);
  return ZV_OK;
}

int zvOpenUrl(const char* url) {
  const char* resolved = url ? zvDdeParseAnchor(zvWwwGetBaseUrl(), url) : nullptr;
  if (!resolved) return ZV_FAIL;
  std::string absolute = resolved;
  int type = zvSuffixToType(absolute.c_str());
  int scheme = zvUrlScheme(absolute.c_str());
  bool vrml = isVrml(type, absolute.c_str());
  state.stopped = 0;
  if (scheme == ZV_SCHEME_FILE || scheme == ZV_SCHEME_NONE) {
    const char* path = scheme == ZV_SCHEME_FILE ? zvFileUrlToPath(absolute.c_str()) : absolute.c_str();
    if (!path) return ZV_FAIL;
    std::string local = path;
    if (!vrml) return zvWwwShowInBrowser(absolute.c_str());
    if (hooks.startFetch) hooks.startFetch();
    char usable[kFileSize];
    zvWwwSetBaseUrl(absolute.c_str());
    if (zvPreProcessFile(ZV_SCHEME_FILE, local.c_str(), usable, sizeof usable, ZV_TYPE_VRML) != ZV_OK) return ZV_FAIL;
    state.recordFile = usable;
    state.recordUrl = absolute;
    if (hooks.document) hooks.document(usable, absolute.c_str());
    return ZV_OK;
  }
  if (!fetchable(absolute.c_str())) {
    zvMessage("%s : only http, https and ftp URLs are fetched", absolute.c_str());
    return ZV_FAIL;
  }
  // Pages, pictures and sounds by their names are the web browser's.
  if (!vrml && type != ZV_TYPE_OTHER) return zvWwwShowInBrowser(absolute.c_str());
  if (vrml && hooks.startFetch) hooks.startFetch();
  state.documentUrl = absolute;
  char item[kMessageSize + 64];
  std::snprintf(item, sizeof item, "%s,,0xFFFFFFFF,0x04,,,%s", absolute.c_str(), kService);
  if (!request("WWW_OpenURL", item, ZV_DDE_REQUEST)) {
    state.documentUrl.clear();
    return ZV_FAIL;
  }
  return ZV_OK;
}

const char* zvWwwFilenameToUrl(const char* file) {
  static std::string result;
  if (!file) return nullptr;
  size_t length = std::strlen(file);
  if (length > 255)
    zvWarning("%s: FileLength=%u: url buffer 256 size is overflow.", "zvWwwFilenameToUrl", unsigned(length));
  std::string answer;
  if (request("WWW_QueryURLFile", file, ZV_DDE_REQUEST, &answer) && answer.size() > 2) {
    result = answer.substr(1, answer.size() - 2);
    if (!result.empty()) return result.c_str();
  }
  const char* url = zvPathToFileUrl(file);
  if (!url) return nullptr;
  result = url;
  return result.c_str();
}

// The user's own browser shows what is not a world. Only URLs we could
// fetch ourselves or files of this disk go there, and never anything that
// could pass for an option.
int zvWwwShowInBrowser(const char* url) {
  if (!url || !*url || url[0] == '-' || std::strlen(url) > 4096) return ZV_FAIL;
  int scheme = zvUrlScheme(url);
  if (!fetchable(url) && scheme != ZV_SCHEME_FILE) {
    zvMessage("%s : not shown, only web and local documents open in the web browser", url);
    return ZV_FAIL;
  }
  const char* command = std::getenv("QUILLMOOR_OPEN_COMMAND");
  if (!command || !*command) command = "xdg-open";
  trace("browser", command, url);
  // Twice forked, so the browser is nobody's child of ours to wait for.
  pid_t child = fork();
  if (child < 0) {
    zvMessage("%s : the web browser cannot be started", url);
    return ZV_FAIL;
  }
  if (child == 0) {
    if (fork() == 0) {
      execlp(command, command, url, static_cast<char*>(nullptr));
      _exit(127);
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  zvMessage("%s : opened in the web browser", url);
  return ZV_OK;
}
