// settings.cpp — the user's settings in an INI file. The browser has always
// kept a small table of settings by index and read each on first use; here
// the table is backed by one file, read once and written whole (read again
// first, so that another instance's change to another row survives) each
// time a row's value changes.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/settings.h"

struct ZvIniEntry {
  std::string section, key, value;
};
struct ZvIni {
  std::vector<ZvIniEntry> entries;
};

namespace {

bool controlByte(unsigned char c) { return c < 0x20 || c == 0x7f; }

std::string trimmed(const char* begin, const char* end) {
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
  return std::string(begin, end);
}

bool goodName(const std::string& name, bool mayBeEmpty) {
  if (name.size() > ZV_INI_MAX_NAME || (name.empty() && !mayBeEmpty)) return false;
  for (unsigned char c : name)
    if (controlByte(c) || c == '[' || c == ']' || c == '=') return false;
  // Spaces inside a name are kept ("SOCKS Host"), at its ends they would
  // not come back from the file.
  return name.empty() || (name.front() != ' ' && name.back() != ' ' && name.front() != ';' && name.front() != '#');
}

bool goodValue(const std::string& value) {
  if (value.size() > ZV_INI_MAX_VALUE) return false;
  for (unsigned char c : value)
    if (controlByte(c)) return false;
  return true;
}

ZvIniEntry* find(ZvIni* ini, const std::string& section, const std::string& key) {
  for (ZvIniEntry& e : ini->entries)
    if (e.section == section && e.key == key) return &e;
  return nullptr;
}

// Makes the directory and its parents, as mkdir -p would.
int makeDirectories(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && makeDirectories(path.substr(0, slash)) != 0) return -1;
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST ? 0 : -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// INI files

ZvIni* zvNewIni(void) { return new ZvIni{}; }
void zvDeleteIni(ZvIni* ini) { delete ini; }
int zvIniCount(const ZvIni* ini) { return ini ? int(ini->entries.size()) : 0; }

int zvIniParse(ZvIni* ini, const char* text, size_t length) {
  if (!ini || (!text && length)) return -1;
  int skipped = 0;
  std::string section;
  bool sectionGood = true;
  const char* end = text + length;
  for (const char* line = text; line < end;) {
    const char* stop = static_cast<const char*>(std::memchr(line, '\n', size_t(end - line)));
    if (!stop) stop = end;
    const char* next = stop < end ? stop + 1 : end;
    const char* last = stop;
    if (last > line && last[-1] == '\r') --last;
    size_t rawLength = size_t(last - line);
    std::string body = rawLength > ZV_INI_MAX_LINE ? std::string("?") : trimmed(line, last);
    line = next;
    if (body.empty() || body[0] == ';' || body[0] == '#') continue;
    if (rawLength > ZV_INI_MAX_LINE || std::memchr(body.data(), '\0', body.size())) {
      ++skipped;
      continue;
    }
    if (body[0] == '[') {
      // A malformed header must not let its keys fall into the section
      // before it: they are left out until the next good header.
      sectionGood = body.back() == ']';
      std::string name = sectionGood ? trimmed(body.data() + 1, body.data() + body.size() - 1) : std::string();
      sectionGood = sectionGood && goodName(name, true);
      if (sectionGood) section = name;
      else ++skipped;
      continue;
    }
    size_t equals = body.find('=');
    if (!sectionGood || equals == std::string::npos) {
      ++skipped;
      continue;
    }
    std::string key = trimmed(body.data(), body.data() + equals);
    std::string value = trimmed(body.data() + equals + 1, body.data() + body.size());
    if (!goodName(key, false) || !goodValue(value)) {
      ++skipped;
      continue;
    }
    if (ZvIniEntry* e = find(ini, section, key)) {
      e->value = value;
    } else if (ini->entries.size() < ZV_INI_MAX_ENTRIES) {
      ini->entries.push_back({section, key, value});
    } else {
      ++skipped;
    }
  }
  return skipped;
}

int zvIniLoad(ZvIni* ini, const char* path) {
  if (!ini || !path) return -1;
  ini->entries.clear();
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? 1 : -1;
  struct stat st;
  // A fifo or a device would never end, or end only when it pleases.
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > ZV_INI_MAX_FILE) {
    close(fd);
    return -1;
  }
  std::string text(size_t(st.st_size), '\0');
  size_t got = 0;
  while (got < text.size()) {
    ssize_t n = read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  close(fd);
  text.resize(got);  // a file that shrank meanwhile gives what it had
  zvIniParse(ini, text.data(), text.size());
  return 0;
}

int zvIniSave(const ZvIni* ini, const char* path) {
  if (!ini || !path || !*path) return -1;
  std::string target = path;
  size_t slash = target.find_last_of('/');
  std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  if (makeDirectories(directory) != 0) return -1;
  std::string text = "; Quillmoor's settings, written by the browser.\n";
  // Keys of the section "" first: they must stand before any header.
  std::vector<std::string> sections{""};
  for (const ZvIniEntry& e : ini->entries)
    if (std::find(sections.begin(), sections.end(), e.section) == sections.end()) sections.push_back(e.section);
  for (const std::string& s : sections) {
    if (!s.empty()) text += "\n[" + s + "]\n";
    for (const ZvIniEntry& e : ini->entries)
      if (e.section == s) text += e.key + "=" + e.value + "\n";
  }
  std::string temporary = directory + "/.quillmoor.ini.XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) return -1;
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += size_t(n);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path) == 0) return 0;
  unlink(temporary.c_str());
  return -1;
}

const char* zvIniGet(const ZvIni* ini, const char* section, const char* key) {
  if (!ini || !section || !key) return nullptr;
  for (const ZvIniEntry& e : ini->entries)
    if (e.section == section && e.key == key) return e.value.c_str();
  return nullptr;
}

int zvIniSet(ZvIni* ini, const char* section, const char* key, const char* value) {
  if (!ini || !section || !key || !value) return -1;
  std::string s = section, k = key, v = trimmed(value, value + std::strlen(value));
  if (!goodName(s, true) || !goodName(k, false) || !goodValue(v)) return -1;
  if (ZvIniEntry* e = find(ini, s, k)) {
    e->value = v;
    return 0;
  }
  if (ini->entries.size() >= ZV_INI_MAX_ENTRIES) return -1;
  ini->entries.push_back({s, k, v});
  return 0;
}

// ---------------------------------------------------------------------------
// The settings table

namespace {

struct Row {
  const char* section;
  const char* key;
  int kind;
  int size;
  const char* fallback;
};
// The order is the index every caller uses.
const Row kRows[ZV_SETTING_COUNT] = {
    {"Sound", "Sound", ZV_SETTING_YESNO, 4, "yes"},
    {"Sound", "WalkingSound", ZV_SETTING_YESNO, 4, "yes"},
    {"MultiUser", "MultiUser", ZV_SETTING_YESNO, 4, "yes"},
    {"Texture", "Texture", ZV_SETTING_YESNO, 4, "yes"},
    {"User", "Name", ZV_SETTING_TEXT, ZV_USER_NAME_SIZE, "(usr)"},
    {"User", "NickName", ZV_SETTING_TEXT, ZV_USER_NAME_SIZE, "(nik)"},
    {"MultiUser", "SOCKS Host", ZV_SETTING_TEXT, 256, ""},
    {"MultiUser", "SOCKS Port", ZV_SETTING_TEXT, 256, ""},
    {"", "Birthday", ZV_SETTING_BINARY, 4, "00000000"},
};

struct Held {
  bool read;
  std::string value;
};
Held held[ZV_SETTING_COUNT];
std::string pathOverride, pathText, problem;

bool validIndex(int index) { return index >= 0 && index < ZV_SETTING_COUNT; }

// Cut to at most limit bytes without splitting a UTF-8 sequence.
std::string cutAt(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xc0) == 0x80) --n;
  return text.substr(0, n);
}

bool hexDigits(const std::string& text, size_t count) {
  if (text.size() != count) return false;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// What the file may hold for a row; anything else leaves the default.
bool acceptable(int index, const std::string& value) {
  const Row& r = kRows[index];
  switch (r.kind) {
    case ZV_SETTING_YESNO: return value == "yes" || value == "no";
    case ZV_SETTING_BINARY: return hexDigits(value, size_t(r.size) * 2);
    default: return true;
  }
}

ZvIni* loadFile() {
  ZvIni* ini = zvNewIni();
  int result = zvIniLoad(ini, zvSettingsPath());
  if (result < 0)
    problem = std::string("the settings file ") + zvSettingsPath() + " cannot be read; the defaults are used";
  return ini;
}

void readRow(int index) {
  Held& h = held[index];
  if (h.read) return;
  const Row& r = kRows[index];
  h.value = r.fallback;
  h.read = true;
  ZvIni* ini = loadFile();
  if (const char* stored = zvIniGet(ini, r.section, r.key)) {
    std::string value = cutAt(stored, size_t(r.size - 1));
    if (r.kind == ZV_SETTING_BINARY) value = stored;
    if (acceptable(index, value)) h.value = value;
  }
  zvDeleteIni(ini);
}

int storeRow(int index, const std::string& value) {
  readRow(index);
  Held& h = held[index];
  if (h.value == value) return 0;
  h.value = value;
  ZvIni* ini = loadFile();
  const Row& r = kRows[index];
  int result = zvIniSet(ini, r.section, r.key, value.c_str()) == 0 ? zvIniSave(ini, zvSettingsPath()) : -1;
  zvDeleteIni(ini);
  if (result != 0) problem = std::string("the settings cannot be written to ") + zvSettingsPath();
  return result;
}

}  // namespace

int zvSettingKind(int index) { return validIndex(index) ? kRows[index].kind : -1; }
const char* zvSettingSection(int index) { return validIndex(index) ? kRows[index].section : nullptr; }
const char* zvSettingKey(int index) { return validIndex(index) ? kRows[index].key : nullptr; }
int zvSettingSize(int index) { return validIndex(index) ? kRows[index].size : -1; }

int zvGetSetting(int index, char* out, int size) {
  if (!validIndex(index) || !out || size < 1) return -1;
  readRow(index);
  const std::string shown = cutAt(held[index].value, size_t(size - 1));
  std::memcpy(out, shown.c_str(), shown.size() + 1);
  return int(shown.size());
}

int zvGetSettingFlag(int index) {
  if (zvSettingKind(index) != ZV_SETTING_YESNO) return -1;
  readRow(index);
  return held[index].value == "yes" ? 1 : 0;
}

int zvSetSetting(int index, const char* value) {
  if (!validIndex(index) || !value) return -1;
  std::string clean;
  for (const char* p = value; *p; ++p)
    if (!controlByte(static_cast<unsigned char>(*p))) clean += *p;
  clean = trimmed(clean.data(), clean.data() + clean.size());
  const Row& r = kRows[index];
  if (r.kind == ZV_SETTING_TEXT) clean = cutAt(clean, size_t(r.size - 1));
  if (!acceptable(index, clean)) return -1;
  if (r.kind == ZV_SETTING_BINARY)
    for (char& c : clean) c = char(std::tolower(static_cast<unsigned char>(c)));
  return storeRow(index, clean);
}

int zvSetSettingFlag(int index, int on) {
  if (zvSettingKind(index) != ZV_SETTING_YESNO) return -1;
  return storeRow(index, on ? "yes" : "no");
}

int zvGetSettingBinary(int index, uint8_t* out, int size) {
  if (zvSettingKind(index) != ZV_SETTING_BINARY || !out || size < 0) return -1;
  readRow(index);
  const std::string& hex = held[index].value;
  int count = std::min(size, int(hex.size() / 2));
  for (int i = 0; i < count; ++i) out[i] = uint8_t(std::strtoul(hex.substr(size_t(i) * 2, 2).c_str(), nullptr, 16));
  return count;
}

int zvSetSettingBinary(int index, const uint8_t* bytes, int size) {
  if (zvSettingKind(index) != ZV_SETTING_BINARY || !bytes || size != kRows[index].size) return -1;
  std::string hex;
  char pair[3];
  for (int i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    hex += pair;
  }
  return storeRow(index, hex);
}

const char* zvSettingsPath(void) {
  if (!pathOverride.empty()) {
    pathText = pathOverride;
  } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    pathText = std::string(xdg) + "/quillmoor/quillmoor.ini";
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    pathText = std::string(home) + "/.config/quillmoor/quillmoor.ini";
  } else {
    pathText = "/tmp/quillmoor-" + std::to_string(getuid()) + "/quillmoor.ini";
  }
  return pathText.c_str();
}

void zvSetSettingsPath(const char* path) {
  pathOverride = path ? path : "";
  zvForgetSettings();
}

void zvForgetSettings(void) {
  for (Held& h : held) h = Held{};
  problem.clear();
}

const char* zvSettingsProblem(void) { return problem.empty() ? nullptr : problem.c_str(); }

// ---------------------------------------------------------------------------
// The user name

int zvPlatformLoginName(char* out, int size) {
  if (!out || size < 2) return -1;
  std::string name;
  std::vector<char> buffer(16384);
  struct passwd entry, *found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
    name = found->pw_name;
  if (name.empty())
    if (const char* login = getlogin()) name = login;
  if (name.empty())
    if (const char* user = std::getenv("USER")) name = user;
  std::string clean;
  for (char c : name)
    if (c > 0x20 && c < 0x7f) clean += c;
  if (clean.empty()) return -1;
  clean = clean.substr(0, size_t(size - 1));
  std::memcpy(out, clean.c_str(), clean.size() + 1);
  return 0;
}

int zvInitUserName(void) {
  char nick[ZV_USER_NAME_SIZE];
  if (zvGetSetting(ZV_SET_NICK_NAME, nick, sizeof nick) < 0) return -1;
  if (std::strcmp(nick, kRows[ZV_SET_NICK_NAME].fallback) != 0) return 0;
  char login[ZV_USER_NAME_SIZE];
  if (zvPlatformLoginName(login, sizeof login) != 0) return -1;
  int a = zvSetSetting(ZV_SET_USER_NAME, login), b = zvSetSetting(ZV_SET_NICK_NAME, login);
  return a == 0 && b == 0 ? 1 : -1;
}

int zvGetUserName(char* out, int size) { return zvGetSetting(ZV_SET_NICK_NAME, out, size); }

int zvSetUserName(const char* name) { return zvSetSetting(ZV_SET_NICK_NAME, name); }
