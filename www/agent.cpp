// agent.cpp — the browser's side of the link: a fetch agent over libcurl's
// multi interface, driven by the platform's event loop (descriptor watches
// and one timer), so no second thread ever runs. It answers the requests of
// link.cpp as a web browser would, downloads into the cache directory, and
// calls back with progress and the document (or an alert).
//
// Everything from a server is bounded: the schemes (http, https, ftp, on
// redirects too), at most ten redirects, the time to connect, the time a
// transfer may stall, the size of a document and of its headers. A server
// that never answers, trickles, truncates or sends garbage costs an alert.
//
// Beyond one document at a time: a world just delivered is scanned for its
// inlines and textures, which start downloading at once; when the reader
// then asks for one, its transfer is already under way or done.
// Called through pointers bound at the first fetch, which its type-checking
// macros would not let through.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/window.h"
#include "www/wwwpriv.h"

namespace {

enum {
  kMaxHeaderBytes = 64 * 1024,  // all headers of one response
  kMaxHeaders = 200,
  kMaxMime = 100,
  kMaxItem = 512,               // the longest item a transaction carries
  kMaxUnclaimed = 256,          // prefetched documents nobody asked for yet
  kMaxPrefetch = 256,           // per document scanned
  kPrefetchScanBytes = 8 << 20,
  kProgressStepMs = 100,
};

// libcurl, bound at the first fetch: most sessions never make one.
#define QM_CURL_ENTRIES(X)                                                                               \
  X(curl_easy_cleanup) X(curl_easy_getinfo) X(curl_easy_init) X(curl_easy_setopt) X(curl_easy_strerror)  \
  X(curl_global_init) X(curl_multi_add_handle) X(curl_multi_cleanup) X(curl_multi_info_read)             \
  X(curl_multi_init) X(curl_multi_remove_handle) X(curl_multi_setopt) X(curl_multi_socket_action)
struct LibCurl {
  QM_CURL_ENTRIES(ZV_LIBRARY_POINTER)
} libcurl;

struct Transfer {
  CURL* easy = nullptr;
  std::string url;
  std::string file;
  int fd = -1;
  size_t bytes = 0;
  size_t headerBytes = 0;
  int headers = 0;
  long total = -1;
  uint32_t id = 0;       // the progress transaction, once begun
  bool wanted = false;   // an open asked for it; else a prefetch so far
  bool done = false;
  bool tooBig = false;
  bool cancelled = false;
  std::string failure;   // why it failed, once done
  std::string mime;
  uint32_t lastProgress = 0;
  char error[CURL_ERROR_SIZE] = "";
};

struct Agent {
  bool started = false;
  CURLM* multi = nullptr;
  std::vector<Transfer*> transfers;  // running, and done but not yet claimed
  std::set<std::string> viewers;
  std::deque<std::pair<std::string, std::string>> fileUrls;  // delivered file, its URL
  ZvPlatformTimer timer{};
  ZvPlatformTimer announce{};  // answers opens of documents already here
  std::deque<Transfer*> ready;
  int connectSeconds = 15;
  int stallSeconds = 20;
  size_t maxBytes = size_t(64) << 20;
};

Agent agent;

uint32_t nowMs() {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Items carry texts in double quotes: a quote or a control character
// inside one would end it early.
std::string itemText(const std::string& text, size_t max) {
  std::string out;
  for (char c : text) {
    if (out.size() >= max) break;
    unsigned char u = static_cast<unsigned char>(c);
    out += c == '"' ? '\'' : (u < 0x20 || u == 0x7f) ? ' ' : c;
  }
  return out;
}

bool plainUrl(const std::string& url) {
  if (url.empty() || url.size() > 400) return false;
  for (char c : url) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f || c == '"') return false;
  }
  return strncasecmp(url.c_str(), "http://", 7) == 0 || strncasecmp(url.c_str(), "https://", 8) == 0 ||
         strncasecmp(url.c_str(), "ftp://", 6) == 0;
}

// The cache name of a URL: a hash of all of it and its last path segment,
// cut to safe characters.
std::string baseName(const std::string& url) {
  std::string path = url.substr(0, url.find_first_of("?#"));
  size_t scheme = path.find("://");
  size_t slash = path.rfind('/');
  std::string base = slash != std::string::npos && slash > scheme + 2 ? path.substr(slash + 1) : std::string();
  std::string out;
  for (char c : base) {
    if (out.size() >= 64) break;
    out += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ? c : '_';
  }
  while (!out.empty() && out[0] == '.') out.erase(0, 1);
  return out.empty() ? std::string("document") : out;
}

std::string hashOf(const std::string& url) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : url) h = (h ^ c) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

void serve(const char* topic, const std::string& item, std::string* reply = nullptr) {
  zvDdeServe(topic, item.c_str(), reply);
}

void beginProgress(Transfer* t) {
  if (t->id) return;
  std::string reply;
  serve("WWW_BeginProgress", "\"" + itemText(t->url, 400) + "\",\"Loading\"", &reply);
  if (reply.size() == 4) std::memcpy(&t->id, reply.data(), 4);
}

void makingProgress(Transfer* t, bool force) {
  if (!t->wanted || !t->id) return;
  uint32_t now = nowMs();
  if (!force && now - t->lastProgress < kProgressStepMs) return;
  t->lastProgress = now;
  char item[96];
  std::snprintf(item, sizeof item, "%u,\"Loading\",%zu,%ld", t->id, t->bytes, t->total);
  serve("WWW_MakingProgress", item);
}

size_t onData(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (t->bytes + n > agent.maxBytes) {
    t->tooBig = true;
    return 0;
  }
  for (size_t at = 0; at < n;) {
    ssize_t w = write(t->fd, data + at, n - at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return 0;
    at += size_t(w);
  }
  t->bytes += n;
  curl_off_t length = -1;
  if (t->total < 0 && libcurl.curl_easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
      length >= 0)
    t->total = long(length);
  makingProgress(t, false);
  return n;
}

size_t onHeader(char*, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  t->headerBytes += n;
  if (t->headerBytes > kMaxHeaderBytes || ++t->headers > kMaxHeaders) {
    std::snprintf(t->error, sizeof t->error, "the server's headers are too long");
    return 0;
  }
  return n;
}

// The document's type, by what the server says, else by its name, else
// by its first bytes: what a browser would hand to its viewer.
int documentType(Transfer* t) {
  int type = t->mime.empty() ? ZV_TYPE_OTHER : zvMimeNameToType(t->mime.c_str());
  if (t->mime == "model/vrml" || t->mime == "x-world/x-vrml") type = ZV_TYPE_VRML;
  bool generic = t->mime.empty() || t->mime == "text/plain" || t->mime == "application/octet-stream" ||
                 t->mime == "application/x-gzip" || t->mime == "application/gzip";
  if (type == ZV_TYPE_OTHER && generic) {
    type = zvSuffixToType(baseName(t->url).c_str());
    if (type == ZV_TYPE_OTHER) type = zvFileToType(t->file.c_str());
    if (type == ZV_TYPE_OTHER) {
      char head[6] = "";
      int fd = open(t->file.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) {
        if (read(fd, head, 5) == 5 && std::memcmp(head, "#VRML", 5) == 0) type = ZV_TYPE_VRML;
        close(fd);
      }
    }
  }
  return type;
}

void discard(Transfer* t) {
  if (t->easy) {
    libcurl.curl_multi_remove_handle(agent.multi, t->easy);
    libcurl.curl_easy_cleanup(t->easy);
    t->easy = nullptr;
  }
  if (t->fd >= 0) close(t->fd);
  t->fd = -1;
  www::removeIfOurs(t->file);
  auto it = std::find(agent.transfers.begin(), agent.transfers.end(), t);
  if (it != agent.transfers.end()) agent.transfers.erase(it);
  agent.ready.erase(std::remove(agent.ready.begin(), agent.ready.end(), t), agent.ready.end());
  delete t;
}

// Tells the link how an open ended: progress over, then the document or
// the alert. The transfer is gone afterwards.
void answer(Transfer* t) {
  beginProgress(t);
  makingProgress(t, true);
  serve("WWW_EndProgress", std::to_string(t->id));
  if (!t->failure.empty()) {
    serve("WWW_Alert", "\"" + itemText(t->failure, 400) + "\"," + std::to_string(ZV_ALERT_FAILED));
    discard(t);
    return;
  }
  int type = documentType(t);
  const char* mime = zvTypeToMimeName(std::string("x").append(zvTypeToSuffix(type)).c_str());
  if (type == ZV_TYPE_GZIP) mime = "application/x-compressed";
  if (type == ZV_TYPE_LHA) mime = "application/x-lha";
  if (type == ZV_TYPE_OTHER || !mime) {
    serve("WWW_Alert", "\"" + itemText(t->url, 300) + " : not a document this browser shows (" +
                           itemText(t->mime.empty() ? "no type" : t->mime, kMaxMime) + ")\"," +
                           std::to_string(ZV_ALERT_NOT_VIEWED));
    discard(t);
    return;
  }
  // A name that does not say what the file is gets the suffix that does.
  if (zvSuffixToType(t->file.c_str()) != type && *zvTypeToSuffix(type)) {
    std::string named = t->file + zvTypeToSuffix(type);
    if (link(t->file.c_str(), named.c_str()) == 0) {
      unlink(t->file.c_str());
      t->file = named;
    }
  }
  std::string item = "\"" + t->file + "\",\"" + itemText(t->url, 400) + "\",\"" + mime + "\"";
  if (item.size() >= kMaxItem) {
    serve("WWW_Alert", "\"" + itemText(t->url, 300) + " : the name is too long\"," + std::to_string(ZV_ALERT_FAILED));
    discard(t);
    return;
  }
  agent.fileUrls.emplace_back(t->file, t->url);
  if (agent.fileUrls.size() > 1024) agent.fileUrls.pop_front();
  std::string file = t->file;
  t->file.clear();  // the viewer owns it now
  discard(t);
  serve("WWW_ViewDocFile", item);
}

void finish(Transfer* t, CURLcode code) {
  t->done = true;
  long status = 0;
  libcurl.curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
  long redirects = 0;
  libcurl.curl_easy_getinfo(t->easy, CURLINFO_REDIRECT_COUNT, &redirects);
  char* type = nullptr;
  if (libcurl.curl_easy_getinfo(t->easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) {
    std::string mime;
    for (const char* p = type; *p && *p != ';' && mime.size() < kMaxMime; ++p)
      if (!std::isspace(static_cast<unsigned char>(*p))) mime += char(std::tolower(static_cast<unsigned char>(*p)));
    t->mime = mime;
  }
  libcurl.curl_multi_remove_handle(agent.multi, t->easy);
  libcurl.curl_easy_cleanup(t->easy);
  t->easy = nullptr;
  if (t->fd >= 0) close(t->fd);
  t->fd = -1;
  std::string url = itemText(t->url, 300);
  if (t->cancelled)
    t->failure = url + " : stopped";
  else if (t->tooBig || code == CURLE_FILESIZE_EXCEEDED)
    t->failure = url + " : larger than " + std::to_string(agent.maxBytes >> 10) + " KB, not fetched";
  else if (code == CURLE_OPERATION_TIMEDOUT)
    t->failure = url + " : the server stopped answering";
  else if (code == CURLE_TOO_MANY_REDIRECTS)
    t->failure = url + " : too many redirects";
  else if (code == CURLE_UNSUPPORTED_PROTOCOL && redirects > 0)
    t->failure = url + " : redirected to a scheme that is not fetched";
  else if (code != CURLE_OK)
    t->failure = url + " : " + itemText(t->error[0] ? t->error : libcurl.curl_easy_strerror(code), 200);
  else if (status >= 400)
    t->failure = url + " : the server answered " + std::to_string(status);
  else if (status != 0 && (status < 200 || status >= 300))
    t->failure = url + " : the server answered " + std::to_string(status) + " and no document";
  if (!t->failure.empty()) {
    www::removeIfOurs(t->file);
    t->file.clear();
  }
  if (t->wanted) {
    answer(t);
  } else {
    // Kept for the open that is likely to come; a failed prefetch is simply
    // tried again by that open.
    if (!t->failure.empty()) discard(t);
  }
}

void readDone() {
  int left = 0;
  while (CURLMsg* m = libcurl.curl_multi_info_read(agent.multi, &left)) {
    if (m->msg != CURLMSG_DONE) continue;
    Transfer* t = nullptr;
    libcurl.curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &t);
    CURLcode code = m->data.result;
    if (t) finish(t, code);
  }
}

void onSocketReady(void*, int fd, int ready) {
  int flags = (ready & ZV_FD_READ ? CURL_CSELECT_IN : 0) | (ready & ZV_FD_WRITE ? CURL_CSELECT_OUT : 0);
  int running = 0;
  libcurl.curl_multi_socket_action(agent.multi, fd, flags, &running);
  readDone();
}

void onTimer(void*) {
  int running = 0;
  libcurl.curl_multi_socket_action(agent.multi, CURL_SOCKET_TIMEOUT, 0, &running);
  readDone();
}

int socketCallback(CURL*, curl_socket_t s, int what, void*, void*) {
  int mask = what == CURL_POLL_IN ? ZV_FD_READ
             : what == CURL_POLL_OUT ? ZV_FD_WRITE
             : what == CURL_POLL_INOUT ? ZV_FD_READ | ZV_FD_WRITE
                                       : 0;
  zvPlatformWatchFd(int(s), mask, mask ? onSocketReady : nullptr, nullptr);
  return 0;
}

int timerCallback(CURLM*, long ms, void*) {
  if (ms < 0)
    zvPlatformDisarmTimer(&agent.timer);
  else
    zvPlatformArmTimer(&agent.timer, int(std::min(ms, 60000L)));
  return 0;
}

void onAnnounce(void*) {
  while (!agent.ready.empty()) {
    Transfer* t = agent.ready.front();
    agent.ready.pop_front();
    answer(t);
  }
}

Transfer* findTransfer(const std::string& url) {
  for (Transfer* t : agent.transfers)
    if (t->url == url) return t;
  return nullptr;
}

// The transfers' multi handle, made at the first fetch; false, with the
// reason in *why, where libcurl cannot be had.
bool multiReady(std::string* why) {
  if (agent.multi) return true;
  LibCurl& api = libcurl;
  const ZvLibraryEntry entries[] = {QM_CURL_ENTRIES(ZV_LIBRARY_ENTRY)};
  if (!zvPlatformBindLibrary("libcurl.so.4", entries, std::size(entries), why)) return false;
  if (libcurl.curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK || !(agent.multi = libcurl.curl_multi_init())) {
    *why = "libcurl cannot start";
    return false;
  }
  libcurl.curl_multi_setopt(agent.multi, CURLMOPT_SOCKETFUNCTION, socketCallback);
  libcurl.curl_multi_setopt(agent.multi, CURLMOPT_TIMERFUNCTION, timerCallback);
  libcurl.curl_multi_setopt(agent.multi, CURLMOPT_MAX_HOST_CONNECTIONS, 6L);
  libcurl.curl_multi_setopt(agent.multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, 12L);
  return true;
}

// Starts a download; false (with the reason in t->failure) when it
// cannot even begin.
Transfer* startTransfer(const std::string& url, bool wanted) {
  auto* t = new Transfer;
  t->url = url;
  t->wanted = wanted;
  agent.transfers.push_back(t);
  std::string dir, why;
  if (!plainUrl(url)) {
    t->failure = itemText(url, 300) + " : only plain http, https and ftp URLs are fetched";
  } else if (!www::cacheDir(dir) || (t->fd = www::reserveProduct(dir, hashOf(url), baseName(url), t->file)) < 0) {
    t->failure = itemText(url, 300) + " : no room for it in the cache directory";
  } else if (!multiReady(&why)) {
    t->failure = itemText(url, 300) + " : the fetch agent cannot start: " + why;
  } else if (!(t->easy = libcurl.curl_easy_init())) {
    t->failure = itemText(url, 300) + " : out of memory";
  }
  if (!t->failure.empty()) {
    t->done = true;
    if (t->fd >= 0) close(t->fd);
    t->fd = -1;
    www::removeIfOurs(t->file);
    t->file.clear();
    return t;
  }
  CURL* e = t->easy;
  libcurl.curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  libcurl.curl_easy_setopt(e, CURLOPT_PRIVATE, t);
  libcurl.curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  libcurl.curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
  libcurl.curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  libcurl.curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  libcurl.curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, long(agent.connectSeconds));
  // Stalled: less than a byte a second over the stall time.
  libcurl.curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  libcurl.curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, long(agent.stallSeconds));
  libcurl.curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(agent.maxBytes));
  libcurl.curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");  // gzip and deflate, decoded
  libcurl.curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  libcurl.curl_easy_setopt(e, CURLOPT_USERAGENT, "Quillmoor/1.0");
  libcurl.curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onData);
  libcurl.curl_easy_setopt(e, CURLOPT_WRITEDATA, t);
  libcurl.curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
  libcurl.curl_easy_setopt(e, CURLOPT_HEADERDATA, t);
  libcurl.curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->error);
  libcurl.curl_easy_setopt(e, CURLOPT_FAILONERROR, 0L);
  if (libcurl.curl_multi_add_handle(agent.multi, e) != CURLM_OK) {
    t->failure = itemText(url, 300) + " : cannot be fetched";
    t->done = true;
  }
  return t;
}

void dropOldUnclaimed() {
  size_t unclaimed = 0;
  for (Transfer* t : agent.transfers)
    if (!t->wanted) ++unclaimed;
  while (unclaimed > kMaxUnclaimed) {
    auto it = std::find_if(agent.transfers.begin(), agent.transfers.end(), [](Transfer* t) { return !t->wanted; });
    if (it == agent.transfers.end()) break;
    discard(*it);
    --unclaimed;
  }
}

// The URL of an open: the item is "URL,,window,flags,,,server", and a URL
// may hold commas itself, so the six fields after it are counted from the
// end.
std::string openedUrl(const char* item) {
  std::string s = item ? item : "";
  size_t at = s.size();
  for (int i = 0; i < 6; ++i) {
    if (at == 0) return std::string();
    at = s.rfind(',', at - 1);
    if (at == std::string::npos) return std::string();
  }
  return s.substr(0, at);
}

void openDocument(const std::string& url) {
  Transfer* t = findTransfer(url);
  if (t && !t->wanted) {
    t->wanted = true;
    beginProgress(t);
    // Already here: answered from the loop, as a download would be.
    if (t->done) {
      agent.ready.push_back(t);
      zvPlatformArmTimer(&agent.announce, 0);
    }
    return;
  }
  t = startTransfer(url, true);
  beginProgress(t);
  if (t->done) {
    agent.ready.push_back(t);
    zvPlatformArmTimer(&agent.announce, 0);
  }
}

void cancelAll() {
  std::vector<Transfer*> all = agent.transfers;
  for (Transfer* t : all) {
    if (!t->wanted) {
      discard(t);
      continue;
    }
    if (t->done) continue;  // its answer is on its way
    t->cancelled = true;
    if (t->easy) libcurl.curl_multi_remove_handle(agent.multi, t->easy);
    finish(t, CURLE_ABORTED_BY_CALLBACK);
  }
}

// The node a quoted string belongs to decides whether it is something a
// world fetches on reading: an inline's name or a texture's file name.
void scanForFetches(const std::string& text, const std::string& base, std::vector<std::string>& out) {
  std::vector<std::string> nodes;
  std::string word, lastWord;
  for (size_t i = 0; i < text.size() && out.size() < kMaxPrefetch; ++i) {
    char c = text[i];
    if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
      continue;
    }
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      word += c;
      continue;
    }
    if (!word.empty()) {
      lastWord = word;
      word.clear();
    }
    if (c == '{') {
      if (nodes.size() < 256) nodes.push_back(lastWord);
      lastWord.clear();
    } else if (c == '}') {
      if (!nodes.empty()) nodes.pop_back();
      lastWord.clear();
    } else if (c == '"') {
      size_t end = i + 1;
      std::string value;
      while (end < text.size() && text[end] != '"' && value.size() < 1024) {
        if (text[end] == '\\' && end + 1 < text.size()) ++end;
        value += text[end++];
      }
      i = end;
      const std::string node = nodes.empty() ? std::string() : nodes.back();
      if ((node == "WWWInline" && lastWord == "name") || (node == "Texture2" && lastWord == "filename")) {
        char resolved[ZV_WWW_PATH_MAX];
        if (!value.empty() && zvResolveUrl(base.c_str(), value.c_str(), resolved, sizeof resolved) == 0 &&
            plainUrl(resolved))
          out.push_back(resolved);
      }
      lastWord.clear();
    }
  }
}

}  // namespace

namespace www {

int agentStart() {
  if (agent.started) return ZV_OK;
  agent.timer = ZvPlatformTimer{onTimer, nullptr, nullptr};
  agent.announce = ZvPlatformTimer{onAnnounce, nullptr, nullptr};
  // The limits may be narrowed for a run: "connect:stall:bytes".
  if (const char* limits = std::getenv("QUILLMOOR_FETCH_LIMITS")) {
    int connect = 0, stall = 0;
    unsigned long long bytes = 0;
    if (std::sscanf(limits, "%d:%d:%llu", &connect, &stall, &bytes) >= 1)
      zvWwwSetFetchLimits(connect, stall, size_t(bytes));
  }
  agent.started = true;
  return ZV_OK;
}

void agentStop() {
  if (!agent.started) return;
  std::vector<Transfer*> all = agent.transfers;
  for (Transfer* t : all) discard(t);
  zvPlatformDisarmTimer(&agent.timer);
  zvPlatformDisarmTimer(&agent.announce);
  if (agent.multi) libcurl.curl_multi_cleanup(agent.multi);
  agent.multi = nullptr;
  agent.viewers.clear();
  agent.fileUrls.clear();
  agent.ready.clear();
  agent.started = false;
}

int agentServe(const char* topic, const char* item, int, std::string& reply) {
  reply.clear();
  if (!agent.started || !topic) return 0;
  char field[kMaxItem + 1];
  int32_t one = 1;
  if (std::strcmp(topic, "WWW_RegisterViewer") == 0) {
    if (item && zvDdeGetField(item, 1, field, sizeof field)) agent.viewers.insert(field);
    reply.assign(reinterpret_cast<const char*>(&one), 4);
  } else if (std::strcmp(topic, "WWW_UnRegisterViewer") == 0) {
    if (item && zvDdeGetField(item, 1, field, sizeof field)) agent.viewers.erase(field);
    reply.assign(reinterpret_cast<const char*>(&one), 4);
  } else if (std::strcmp(topic, "WWW_OpenURL") == 0) {
    std::string url = openedUrl(item);
    if (url.empty()) return 0;
    openDocument(url);
    reply.assign(reinterpret_cast<const char*>(&one), 4);
  } else if (std::strcmp(topic, "WWW_CancelProgress") == 0) {
    // Stop means every transfer, not only the one numbered.
    cancelAll();
  } else if (std::strcmp(topic, "WWW_QueryURLFile") == 0) {
    for (auto it = agent.fileUrls.rbegin(); item && it != agent.fileUrls.rend(); ++it)
      if (it->first == item) {
        reply = "\"" + it->second + "\"";
        break;
      }
  } else {
    return 0;
  }
  return 1;
}

}  // namespace www

void zvWwwSetFetchLimits(int connectSeconds, int stallSeconds, size_t maxBytes) {
  if (connectSeconds > 0) agent.connectSeconds = connectSeconds;
  if (stallSeconds > 0) agent.stallSeconds = stallSeconds;
  if (maxBytes > 0) agent.maxBytes = maxBytes;
}

int zvWwwViewerRegistered(const char* mime) { return mime && agent.viewers.count(mime) ? 1 : 0; }

void zvWwwPrefetchFrom(const char* file, const char* url) {
  if (!agent.started || !file || !url || !plainUrl(url)) return;
  int fd = open(file, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  std::string text;
  char buf[65536];
  ssize_t n;
  while (text.size() < kPrefetchScanBytes && (n = read(fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  close(fd);
  if (text.compare(0, 5, "#VRML") != 0) return;
  std::vector<std::string> urls;
  scanForFetches(text, url, urls);
  for (const std::string& u : urls) {
    if (findTransfer(u)) continue;
    Transfer* t = startTransfer(u, false);
    if (t->done) discard(t);  // the open, if it comes, says why
  }
  dropOldUnclaimed();
}
