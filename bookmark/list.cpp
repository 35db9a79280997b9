// list.cpp — the bookmark list and landmark.htm. The file is the list's
// only memory between runs, and anyone may have edited it: the reader takes
// lines of bounded length, a bounded number of them, and stops quietly at
// the first line it does not understand, keeping what it read. The writer
// goes through a temporary file and a rename so that a failed write keeps
// the previous list, and writes numbers in the C locale whatever the
// user's, so the file reads back anywhere.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "bookmark/bookmark.h"
#include "nav/nav.h"

namespace {

ZvBookmark* head;
ZvBookmark* tail;
int counter = -1;
ZvBookmarkHooks hooks;

const char kHeader[] = "<TITLE>Personal 3D Bookmarks</TITLE>\n<H1>Personal 3D Bookmarks</H1>\n<DL><P>\n";
const char kFooter[] = "</DL><P>\n";
const char kFormat[] = "\t<DT><A HREF=\"%s\" LOC=\"%f %f %f %f %f %f %f %f %f %f %f %f\">%s\n";
enum { kLineBuffer = ZV_BOOKMARK_LINE_MAX + 1, kTokenMax = 256, kFields = 14 };

// The order the twelve numbers are written in: translation, then the
// rotation by columns.
const int kWriteOrder[12] = {9, 10, 11, 0, 3, 6, 1, 4, 7, 2, 5, 8};

std::string directoryOverride;
std::string directoryText, fileText;

// ---------------------------------------------------------------------------
// Numbers, always with a point

// printf's "%f": six decimals.
void appendNumber(std::string* out, float value) {
  char text[64];
  auto r = std::to_chars(text, text + sizeof text, double(value), std::chars_format::fixed, 6);
  out->append(text, r.ec == std::errc() ? r.ptr : text);
}

// atof's reading of a token: leading blanks and a plus sign allowed,
// whatever follows the number ignored, 0 for no number. Out of range is
// not a number we can stand a person at.
bool parseNumber(const char* token, float* out) {
  while (*token == ' ' || *token == '\t') ++token;
  if (*token == '+') ++token;
  double value = 0;
  auto r = std::from_chars(token, token + std::strlen(token), value);
  if (r.ec == std::errc::result_out_of_range) return false;
  if (r.ec != std::errc()) value = 0;
  if (!std::isfinite(value) || std::fabs(value) > 3.0e38) return false;
  *out = float(value);
  return true;
}

// ---------------------------------------------------------------------------
// The reader's scanner: only %f and %s, and every other character of the
// format stands for exactly one character of the input, whatever it is.
// The conversions made, or -1 when the input ends inside one. strings[]
// are kLineBuffer bytes each.
int scanLine(const char* input, const char* format, float* numbers, int numberCount, char* strings[], int stringCount) {
  int made = 0, numberAt = 0, stringAt = 0;
  const char* in = input;
  const char* f = format;
  while (*in && *f) {
    if (f[0] == '%' && (f[1] == 'f' || f[1] == 's')) {
      char stop = f[2];
      char token[kTokenMax];
      char* to = f[1] == 'f' ? token : (stringAt < stringCount ? strings[stringAt] : nullptr);
      size_t room = f[1] == 'f' ? sizeof token : size_t(kLineBuffer);
      if (!to) return -1;
      size_t n = 0;
      while (*in && *in != stop) {
        if (n + 1 >= room) return -1;  // longer than any number we write
        to[n++] = *in++;
      }
      if (!*in) return -1;
      to[n] = '\0';
      if (f[1] == 'f') {
        if (numberAt >= numberCount || !parseNumber(token, &numbers[numberAt])) return -1;
        ++numberAt;
      } else {
        ++stringAt;
      }
      ++made;
      f += 2;
      continue;
    }
    ++in;
    ++f;
  }
  return made;
}

// The entities the writer puts in a title, back.
std::string unescapeTitle(const char* text) {
  std::string out;
  for (const char* c = text; *c; ++c) {
    if (*c == '&') {
      if (std::strncmp(c, "&gt;", 4) == 0) { out += '>'; c += 3; continue; }
      if (std::strncmp(c, "&lt;", 4) == 0) { out += '<'; c += 3; continue; }
      if (std::strncmp(c, "&amp;", 5) == 0) { out += '&'; c += 4; continue; }
    }
    out += *c;
  }
  return out;
}

void append(ZvBookmark* record) {
  record->next = nullptr;
  if (tail)
    tail->next = record;
  else
    head = record;
  tail = record;
  ++counter;
}

ZvBookmark* newRecord(const char* title, const char* url) {
  auto* record = static_cast<ZvBookmark*>(zvMalloc(sizeof(ZvBookmark)));
  if (!record) return nullptr;
  record->title = zvStrdup(title);
  record->url = zvStrdup(url);
  if (!record->title || !record->url) {
    zvFree(record->title);
    zvFree(record->url);
    zvFree(record);
    return nullptr;
  }
  return record;
}

// One line read: 1 appended, 0 the end of the list, -1 stop.
int readLine(const char* line) {
  if (std::strcmp(line, kFooter) == 0) return 0;
  float numbers[12];
  char url[kLineBuffer], title[kLineBuffer];
  char* strings[2] = {url, title};
  if (scanLine(line, kFormat, numbers, 12, strings, 2) != kFields) return -1;
  // The title again, as the text after the line's last '>': a title with
  // a '>' of its own keeps what follows it.
  const char* last = std::strrchr(line, '>');
  std::string text = last ? last + 1 : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  ZvBookmark* record = newRecord(unescapeTitle(text.c_str()).c_str(), url);
  if (!record) {
    zvError("zvAddBookmark: zvMalloc failed");
    return -1;
  }
  for (int i = 0; i < 12; ++i) record->location[kWriteOrder[i]] = numbers[i];
  append(record);
  return 1;
}

// Makes the directory and its parents, as mkdir -p would.
int makeDirectories(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && makeDirectories(path.substr(0, slash)) != 0) return -1;
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST ? 0 : -1;
}

void cleanUrlInto(std::string* out, const char* url) {
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(url); *c; ++c) {
    if (*c == '"' || *c < 0x20 || *c == 0x7f) {
      char esc[4];
      std::snprintf(esc, sizeof esc, "%%%02X", *c);
      *out += esc;
    } else {
      *out += char(*c);
    }
  }
}

// The title as written: markup characters as entities, line breaks and
// other control characters as blanks.
std::string cleanTitle(const char* title) {
  std::string out;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(title); *c; ++c) {
    if (*c == '>') out += "&gt;";
    else if (*c == '<') out += "&lt;";
    else if (*c == '&') out += "&amp;";
    else if (*c < 0x20 || *c == 0x7f) out += ' ';
    else out += char(*c);
  }
  return out;
}

// Cuts a cleaned title to at most n bytes without splitting an entity or
// a UTF-8 sequence.
void shortenTitle(std::string* title, size_t n) {
  if (title->size() <= n) return;
  size_t cut = n;
  size_t amp = title->rfind('&', cut);
  if (amp != std::string::npos && title->find(';', amp) >= cut) cut = amp;
  while (cut > 0 && (static_cast<unsigned char>((*title)[cut]) & 0xc0) == 0x80) --cut;
  title->resize(cut);
}

bool writeAll(FILE* out, const std::string& text) { return std::fwrite(text.data(), 1, text.size(), out) == text.size(); }

}  // namespace

ZvBookmarkHooks& zvBookmarkHooks(void) { return hooks; }

// ---------------------------------------------------------------------------
// Files

void zvSetBookmarkDirectory(const char* directory) { directoryOverride = directory ? directory : ""; }

const char* zvBookmarkDirectory(void) {
  if (!directoryOverride.empty()) {
    directoryText = directoryOverride;
  } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    directoryText = std::string(xdg) + "/quillmoor";
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    directoryText = std::string(home) + "/.local/share/quillmoor";
  } else {
    directoryText = "/tmp/quillmoor-" + std::to_string(getuid());
  }
  return directoryText.c_str();
}

const char* zvBookmarkFilePath(void) {
  fileText = std::string(zvBookmarkDirectory()) + "/landmark.htm";
  return fileText.c_str();
}

int zvMakeBookmarkDirectory(void) { return makeDirectories(zvBookmarkDirectory()); }

int zvBookmarkSnapshotPath(int index, char* out, size_t size) {
  if (!out || index < 0) return -1;
  int n = std::snprintf(out, size, "%s/mark%02d.bmp", zvBookmarkDirectory(), index);
  return n > 0 && size_t(n) < size ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Reading and writing

ZvBookmark* zvReadBookmarkFrom(FILE* in) {
  if (!in) return head;
  char line[kLineBuffer];
  for (int i = 0; i < 3; ++i)
    if (!std::fgets(line, sizeof line, in)) return head;
  while (std::fgets(line, sizeof line, in)) {
    if (counter + 1 >= ZV_BOOKMARK_MAX) {
      zvWarning("zvReadBookmark: only the first %d bookmarks are kept", int(ZV_BOOKMARK_MAX));
      break;
    }
    if (readLine(line) <= 0) break;
  }
  return head;
}

ZvBookmark* zvReadBookmark(void) {
  FILE* in = std::fopen(zvBookmarkFilePath(), "r");
  if (!in) return head;
  zvReadBookmarkFrom(in);
  std::fclose(in);
  return head;
}

int zvFormatBookmarkLine(const ZvBookmark* record, char* out, size_t size) {
  if (!record || !record->url || !out || size == 0) return -1;
  std::string line = "\t<DT><A HREF=\"";
  cleanUrlInto(&line, record->url);
  line += "\" LOC=\"";
  for (int i = 0; i < 12; ++i) {
    if (i) line += ' ';
    appendNumber(&line, record->location[kWriteOrder[i]]);
  }
  line += "\">";
  std::string title = cleanTitle(record->title ? record->title : "");
  if (line.size() + 1 > size_t(ZV_BOOKMARK_LINE_MAX)) return -1;
  shortenTitle(&title, ZV_BOOKMARK_LINE_MAX - line.size() - 1);
  line += title;
  line += '\n';
  if (line.size() >= size) return -1;
  std::memcpy(out, line.c_str(), line.size() + 1);
  return int(line.size());
}

int zvSaveBookmark(void) {
  const char* path = zvBookmarkFilePath();
  std::string directory = zvBookmarkDirectory();
  if (zvMakeBookmarkDirectory() != 0) {
    zvWarning("zvSaveBookmark: can not open bookmark file");
    return -1;
  }
  std::string temporary = directory + "/.landmark.htm.XXXXXX";
  int fd = mkstemp(temporary.data());
  FILE* out = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (!out) {
    if (fd >= 0) {
      close(fd);
      unlink(temporary.c_str());
    }
    zvWarning("zvSaveBookmark: can not open bookmark file");
    return -1;
  }
  // An empty list is an empty file.
  bool ok = true;
  if (counter >= 0 && head) {
    ok = writeAll(out, kHeader);
    char line[kLineBuffer];
    for (ZvBookmark* b = head; b && ok; b = b->next) {
      if (zvFormatBookmarkLine(b, line, sizeof line) < 0) {
        zvWarning("zvSaveBookmark: %.80s : the URL is too long to keep", b->url ? b->url : "");
        continue;
      }
      ok = std::fputs(line, out) >= 0;
    }
    ok = ok && writeAll(out, kFooter);
  }
  ok = std::fflush(out) == 0 && ok;
  ok = fsync(fileno(out)) == 0 && ok;
  ok = std::fclose(out) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path) == 0) return 0;
  unlink(temporary.c_str());
  // The file as it was is kept: only this save is lost.
  zvWarning("zvSaveBookmark: maybe disk full, %s", path);
  return -1;
}

// ---------------------------------------------------------------------------
// The list

int zvSetBookmark(ZvBookmark* record, ZvWorld* world, ZvObj* camera) {
  if (!record || !world || !camera) return -1;
  if (!world->url) {
    zvWarning("zvSetBookmark: url is NULL");
    return -1;
  }
  const ZvTransform* wrt = zvGetObjectWRT(camera);
  if (!wrt) return -1;
  std::memcpy(record->location, wrt->m, sizeof record->location);
  std::string title = world->title && *world->title ? world->title : "Unknown World";
  title += '(';
  for (int i = 0; i < 3; ++i) {
    if (i) title += ',';
    appendNumber(&title, record->location[9 + i]);
  }
  title += ')';
  record->title = zvStrdup(title.c_str());
  record->url = zvStrdup(world->url);
  char line[kLineBuffer];
  int fits = record->title && record->url ? zvFormatBookmarkLine(record, line, sizeof line) : 0;
  if (!record->title || !record->url || fits < 0) {
    if (fits < 0) zvWarning("zvSetBookmark: %.80s : the URL is too long to keep", world->url);
    zvFree(record->title);
    zvFree(record->url);
    record->title = record->url = nullptr;
    return -1;
  }
  return 0;
}

const char* zvAddBookmark(ZvWorld* world) {
  if (!world) {
    zvWarning("zvAddBookmark: NULL world");
    return nullptr;
  }
  ZvObj* camera = zvGetActiveCamera(world);
  if (!camera) {
    zvWarning("zvAddBookmark: NULL camera");
    return nullptr;
  }
  if (counter + 1 >= ZV_BOOKMARK_MAX) {
    zvWarning("zvAddBookmark: no more than %d bookmarks are kept", int(ZV_BOOKMARK_MAX));
    return nullptr;
  }
  auto* record = static_cast<ZvBookmark*>(zvMalloc(sizeof(ZvBookmark)));
  if (!record) {
    zvError("zvAddBookmark: zvMalloc failed");
    return nullptr;
  }
  if (zvSetBookmark(record, world, camera) != 0) {
    zvFree(record);
    return nullptr;
  }
  append(record);
  return record->title;
}

ZvBookmark* zvGetBookmarkByIndex(int index, ZvBookmark** previous) {
  if (previous) *previous = nullptr;
  if (index < 0 || index > counter) return nullptr;
  ZvBookmark* before = nullptr;
  ZvBookmark* b = head;
  for (int i = 0; b && i < index; ++i) {
    before = b;
    b = b->next;
  }
  if (b && previous) *previous = before;
  return b;
}

void zvBookmarkTransform(const ZvBookmark* record, ZvTransform* out) {
  std::memcpy(out->m, record->location, sizeof out->m);
}

int zvJumpToBookmark(int index) {
  ZvBookmark* b = zvGetBookmarkByIndex(index, nullptr);
  if (!b || !b->url) return -1;
  ZvTransform place;
  zvBookmarkTransform(b, &place);
  ZvWorld* world = zvGetCurrentWorld();
  if (world && world->url && std::strcmp(world->url, b->url) == 0)
    return zvPlacePerson(world->person, &place) == ZV_OK ? 0 : -1;
  if (!hooks.openUrlAt) return -1;
  hooks.openUrlAt(b->url, &place);
  return 0;
}

int zvRemoveBookmark(int index) {
  ZvBookmark* previous = nullptr;
  ZvBookmark* b = zvGetBookmarkByIndex(index, &previous);
  if (!b) return -1;
  if (previous)
    previous->next = b->next;
  else
    head = b->next;
  if (tail == b) tail = previous;
  zvDeleteBookmark(b);
  --counter;
  return 0;
}

int zvGetBookmarkNum(void) { return counter; }

void zvDeleteBookmark(ZvBookmark* record) {
  if (!record) return;
  if (!record->url) zvWarning("zvDeleteBookmark: irregal bookmark. url is null");
  if (!record->title) zvWarning("zvDeleteBookmark: irregal bookmark. title is null");
  zvFree(record->url);
  zvFree(record->title);
  zvFree(record);
}

void zvDeleteAllBookmarks(void) {
  for (ZvBookmark* b = head; b;) {
    ZvBookmark* next = b->next;
    zvDeleteBookmark(b);
    b = next;
  }
  head = tail = nullptr;
  counter = -1;
}
