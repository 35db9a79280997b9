// preferences.cpp — the Preferences dialog: sound, walking sound, multi
// user and texture loading as check boxes, the SOCKS proxy and the nick
// name as entries. It reads the seven settings when it opens and writes
// them back, in the same order, on OK; Cancel changes nothing.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/notify.h"
#include "platform/settings.h"
#include "platform/window.h"
#include "ui/ui.h"

namespace {

enum {
  kWidth = 340,
  kHeight = 290,
  kMargin = 12,
  kLine = 26,
  kLabelWidth = 90,
  kButtonWidth = 80,
  kButtonHeight = 28,
  kCancel = 9999,
  // Labels beside the entries, known by identifiers of their own.
  kHostLabel = 2004,
  kPortLabel = 2006,
  kNickLabel = 2008,
};

struct Check {
  int id, setting;
  const char* text;
  int32_t ZvPreferences::*field;
};
const Check kChecks[] = {
    {ZV_PREF_SOUND, ZV_SET_SOUND, "Sound", &ZvPreferences::sound},
    {ZV_PREF_WALKING_SOUND, ZV_SET_WALKING_SOUND, "Walking Sound", &ZvPreferences::walkingSound},
    {ZV_PREF_MULTI_USER, ZV_SET_MULTI_USER, "Multi User", &ZvPreferences::multiUser},
    {ZV_PREF_TEXTURE, ZV_SET_TEXTURE, "Load Texture", &ZvPreferences::loadTexture},
};

struct Dialog {
  ZvPlatformPopup* popup;
  int done;
};
Dialog* dialog;

void copyText(char* out, size_t size, const char* text) {
  std::string cut = text;
  size_t n = std::min(cut.size(), size - 1);
  while (n > 0 && n < cut.size() && (static_cast<unsigned char>(cut[n]) & 0xc0) == 0x80) --n;
  std::memcpy(out, cut.data(), n);
  out[n] = '\0';
}

void layOut(Dialog* d, int width, int height) {
  ZvPlatformPopup* p = d->popup;
  int y = kMargin, full = std::max(width - 2 * kMargin, 1);
  for (const Check& c : kChecks) {
    zvPlatformPlacePopupCommand(p, c.id, kMargin, y, full, kLine - 4);
    y += kLine;
  }
  y += kLine / 2;
  const int rows[3][2] = {{kHostLabel, ZV_PREF_SOCKS_HOST}, {kPortLabel, ZV_PREF_SOCKS_PORT},
                          {kNickLabel, ZV_PREF_NICK_NAME}};
  for (const auto& row : rows) {
    zvPlatformPlacePopupCommand(p, row[0], kMargin, y, kLabelWidth, kLine - 4);
    zvPlatformPlacePopupCommand(p, row[1], kMargin + kLabelWidth, y + 2, std::max(full - kLabelWidth, 1), kLine - 8);
    y += kLine;
  }
  int buttonY = std::max(height - kMargin - kButtonHeight, y);
  int x = std::max(width - kMargin - 2 * kButtonWidth - 10, 0);
  zvPlatformPlacePopupCommand(p, ZV_PREF_OK, x, buttonY, kButtonWidth, kButtonHeight);
  zvPlatformPlacePopupButton(p, x + kButtonWidth + 10, buttonY, kButtonWidth, kButtonHeight);
}

void resizePopup(void* user, int width, int height) { layOut(static_cast<Dialog*>(user), width, height); }
void cancel(void* user) { static_cast<Dialog*>(user)->done = kCancel; }
void command(void* user, int id) {
  // Return in an entry is OK, as in the dialogs of old.
  if (id == ZV_PREF_OK || id == ZV_PREF_SOCKS_HOST || id == ZV_PREF_SOCKS_PORT || id == ZV_PREF_NICK_NAME)
    static_cast<Dialog*>(user)->done = ZV_PREF_OK;
}

bool build(Dialog* d, const ZvPreferences& shown) {
  ZvPlatformPopup* p = d->popup;
  for (const Check& c : kChecks)
    if (zvPlatformAddPopupCheck(p, c.id, c.text) != 0 || zvPlatformSetPopupCheck(p, c.id, shown.*c.field) != 0)
      return false;
  const uint32_t text = 0x000000, background = 0xffffff;
  return zvPlatformAddPopupLabel(p, kHostLabel, "SOCKS Host:") == 0 &&
         zvPlatformAddPopupEntry(p, ZV_PREF_SOCKS_HOST, int(sizeof shown.socksHost) - 1, text, background) == 0 &&
         zvPlatformAddPopupLabel(p, kPortLabel, "Port:") == 0 &&
         zvPlatformAddPopupEntry(p, ZV_PREF_SOCKS_PORT, int(sizeof shown.socksPort) - 1, text, background) == 0 &&
         zvPlatformAddPopupLabel(p, kNickLabel, "Nick Name:") == 0 &&
         zvPlatformAddPopupEntry(p, ZV_PREF_NICK_NAME, int(sizeof shown.nickName) - 1, text, background) == 0 &&
         zvPlatformSetPopupEntry(p, ZV_PREF_SOCKS_HOST, shown.socksHost) >= 0 &&
         zvPlatformSetPopupEntry(p, ZV_PREF_SOCKS_PORT, shown.socksPort) >= 0 &&
         zvPlatformSetPopupEntry(p, ZV_PREF_NICK_NAME, shown.nickName) >= 0 &&
         zvPlatformAddPopupCommand(p, ZV_PREF_OK, "OK") == 0;
}

// What the controls say, in the record the settings are written from.
void take(Dialog* d, ZvPreferences* out) {
  for (const Check& c : kChecks) out->*c.field = zvPlatformPopupCheck(d->popup, c.id) == 1;
  if (zvPlatformGetPopupEntry(d->popup, ZV_PREF_SOCKS_HOST, out->socksHost, sizeof out->socksHost) < 0)
    out->socksHost[0] = '\0';
  if (zvPlatformGetPopupEntry(d->popup, ZV_PREF_SOCKS_PORT, out->socksPort, sizeof out->socksPort) < 0)
    out->socksPort[0] = '\0';
  if (zvPlatformGetPopupEntry(d->popup, ZV_PREF_NICK_NAME, out->nickName, sizeof out->nickName) < 0)
    out->nickName[0] = '\0';
}

}  // namespace

int zvReadPreferences(ZvPreferences* p) {
  if (!p) return -1;
  *p = ZvPreferences{};
  for (const Check& c : kChecks) p->*c.field = zvGetSettingFlag(c.setting) == 1;
  bool ok = zvGetSetting(ZV_SET_SOCKS_HOST, p->socksHost, sizeof p->socksHost) >= 0 &&
            zvGetSetting(ZV_SET_SOCKS_PORT, p->socksPort, sizeof p->socksPort) >= 0 &&
            zvGetSetting(ZV_SET_NICK_NAME, p->nickName, sizeof p->nickName) >= 0;
  return ok ? 0 : -1;
}

int zvWritePreferences(const ZvPreferences* p) {
  if (!p) return -1;
  int failures = 0;
  for (const Check& c : kChecks) failures += zvSetSettingFlag(c.setting, p->*c.field != 0) != 0;
  // The record may come from anywhere: every text is cut to its field.
  char host[sizeof p->socksHost], port[sizeof p->socksPort], nick[sizeof p->nickName];
  copyText(host, sizeof host, std::string(p->socksHost, strnlen(p->socksHost, sizeof p->socksHost)).c_str());
  copyText(port, sizeof port, std::string(p->socksPort, strnlen(p->socksPort, sizeof p->socksPort)).c_str());
  copyText(nick, sizeof nick, std::string(p->nickName, strnlen(p->nickName, sizeof p->nickName)).c_str());
  failures += zvSetSetting(ZV_SET_SOCKS_HOST, host) != 0;
  failures += zvSetSetting(ZV_SET_SOCKS_PORT, port) != 0;
  failures += zvSetSetting(ZV_SET_NICK_NAME, nick) != 0;
  return failures ? -1 : 0;
}

ZvPlatformPopup* zvPreferencesPopup(void) { return dialog ? dialog->popup : nullptr; }

int zvPreferencesDialog(ZvPlatformWindow* main) {
  if (dialog || !main) return -1;
  ZvPreferences shown;
  zvReadPreferences(&shown);
  auto* d = new Dialog{};
  ZvPopupCallbacks callbacks{cancel, resizePopup, d, command};
  d->popup = zvPlatformOpenPopup(main, "zvPreference", "Preferences", kWidth, kHeight, "Cancel", &callbacks);
  if (!d->popup || !build(d, shown)) {
    zvPlatformClosePopup(d->popup);
    delete d;
    return -1;
  }
  layOut(d, kWidth, kHeight);
  zvPlatformPlacePopupAbove(d->popup);
  zvPlatformShowPopup(d->popup);
  zvPlatformSetPopupModal(d->popup, 1);
  dialog = d;
  while (!d->done && zvPlatformWindowExists(main) && zvPlatformPopupShown(d->popup)) zvPlatformDoOneEvent(1);
  dialog = nullptr;
  int saved = 0;
  if (d->done == ZV_PREF_OK) {
    ZvPreferences chosen;
    take(d, &chosen);
    zvWritePreferences(&chosen);
    saved = 1;
  }
  zvPlatformSetPopupModal(d->popup, 0);
  zvPlatformClosePopup(d->popup);
  delete d;
  return saved;
}
