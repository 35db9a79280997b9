// settings.h — the user's settings: a small INI file reader and writer, the
// settings table that the browser reads by index (sound, multi-user, SOCKS
// proxy, user name...), and the login name the user name starts from.
//
// The file is $XDG_CONFIG_HOME/quillmoor/quillmoor.ini (~/.config when the
// variable is unset). Whatever it holds is taken as hostile: a file that is
// too big, a line that is too long, a name or value with control bytes is
// left out, never trusted, and the row keeps its default.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// INI files: "[Section]" lines, "key=value" lines, ';' and '#' comments.
// Keys before the first section belong to the section "".
enum {
  ZV_INI_MAX_FILE = 64 * 1024,  // bytes read at most
  ZV_INI_MAX_LINE = 2048,
  ZV_INI_MAX_NAME = 64,  // section and key names, bytes
  ZV_INI_MAX_VALUE = 1024,
  ZV_INI_MAX_ENTRIES = 256,
};

struct ZvIni;
ZvIni* zvNewIni(void);
void zvDeleteIni(ZvIni* ini);
// Takes the text's entries in, a later one of the same name replacing an
// earlier one; the number of lines left out (malformed, too long, over the
// entry limit), or -1 for a null argument.
int zvIniParse(ZvIni* ini, const char* text, size_t length);
// 0 read, 1 no such file (the record left empty), -1 unreadable or bigger
// than ZV_INI_MAX_FILE (the record left empty).
int zvIniLoad(ZvIni* ini, const char* path);
// Writes every entry through a temporary file beside path and a rename, the
// directories made first; a failed write keeps the file that was there.
int zvIniSave(const ZvIni* ini, const char* path);
// The value, or null when there is no such entry.
const char* zvIniGet(const ZvIni* ini, const char* section, const char* key);
// -1 when a name is empty or too long or holds '[', ']', '=' or a control
// byte, the value is too long or holds a control byte, or the record is
// full; 0 otherwise.
int zvIniSet(ZvIni* ini, const char* section, const char* key, const char* value);
int zvIniCount(const ZvIni* ini);

// ---------------------------------------------------------------------------
// The settings table
enum {
  ZV_SET_SOUND = 0,         // yes/no, "yes"
  ZV_SET_WALKING_SOUND = 1, // yes/no, "yes"
  ZV_SET_MULTI_USER = 2,    // yes/no, "yes"
  ZV_SET_TEXTURE = 3,       // yes/no, "yes"
  ZV_SET_USER_NAME = 4,     // text of 32, "(usr)"
  ZV_SET_NICK_NAME = 5,     // text of 32, "(nik)"
  ZV_SET_SOCKS_HOST = 6,    // text of 256, empty
  ZV_SET_SOCKS_PORT = 7,    // text of 256, empty
  ZV_SET_BIRTHDAY = 8,      // 4 bytes, zero
  ZV_SETTING_COUNT = 9,
};
enum { ZV_SETTING_YESNO = 1, ZV_SETTING_TEXT = 2, ZV_SETTING_BINARY = 3 };
enum { ZV_USER_NAME_SIZE = 32 };  // the terminator included

// The row's kind, -1 for an index outside the table.
int zvSettingKind(int index);
// Where the row lives: section (the registry subkey of old) and key.
const char* zvSettingSection(int index);
const char* zvSettingKey(int index);
// Size of the row's value, its terminator included (yes/no: 4).
int zvSettingSize(int index);
// Copies the value into out (at most size - 1 bytes and a terminator;
// yes/no rows as "yes" or "no", binary rows as hexadecimal digits). The
// value's length, or -1 for a bad index or buffer.
int zvGetSetting(int index, char* out, int size);
// 1 when a yes/no row says "yes", 0 when it says anything else, -1 for a
// row of another kind.
int zvGetSettingFlag(int index);
// Stores a new value: control bytes are dropped and the text cut to the
// row's size at a character boundary; yes/no rows take "yes" or "no" only,
// binary rows hexadecimal digits. The file is written only when the value
// differs from the one held. 0, or -1 (bad index or value, or the write
// failed, the value being kept for this run all the same).
int zvSetSetting(int index, const char* value);
int zvSetSettingFlag(int index, int on);
int zvGetSettingBinary(int index, uint8_t* out, int size);  // bytes copied or -1
int zvSetSettingBinary(int index, const uint8_t* bytes, int size);

// The file in use; zvSetSettingsPath(null) goes back to the XDG place.
const char* zvSettingsPath(void);
void zvSetSettingsPath(const char* path);
// Forgets every value held, so that the next use reads the file again.
void zvForgetSettings(void);
// What went wrong when the file was last read, or null: for the caller to
// show, since this layer has no message window.
const char* zvSettingsProblem(void);

// ---------------------------------------------------------------------------
// The user name
// The login name of the user running us (password database, then
// getlogin, then $USER), printable bytes only, cut to size - 1; 0, or -1
// when none can be had.
int zvPlatformLoginName(char* out, int size);
// At start-up: while "NickName" still holds "(nik)", the login name is
// stored as both "Name" and "NickName". 1 when it was set, 0 when left
// alone, -1 on failure.
int zvInitUserName(void);
// The "NickName" setting.
int zvGetUserName(char* out, int size);
int zvSetUserName(const char* name);
