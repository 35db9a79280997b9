// ui.h — what the browser shows besides the 3D picture: fonts drawn into
// camera images, text blocks (paragraphs broken into lines no wider than a
// given width), object labels painted over the view after each frame, log
// windows that scroll through a text block, and the "Messages" window where
// warnings and messages appear.
//
// Fonts are found through fontconfig by the face names worlds and the
// browser have always used ("Courier New", "ARIAL Italic", "SYSTEM", ...)
// and rendered with FreeType. Colours are 0xRRGGBB.
#pragma once

#include <cstdint>

#include "rwlib/rwlib.h"
#include "scene/scene.h"

// ---------------------------------------------------------------------------
// Fonts
enum { ZV_FONT_SHADOW = 1, ZV_FONT_STRIPED = 2 };

struct ZvFontFace;  // the FreeType face and its advance cache
struct ZvTextFont {
  ZvFontFace* face;
  int32_t height;      // as requested
  int32_t lineHeight;  // from the face's metrics at that height
  int32_t ascent;      // baseline below the top of a line
  uint32_t background;
  uint32_t textColor;
  uint32_t flags;      // ZV_FONT_*
};
// Null when no installed font matches or the height is not 1..512.
ZvTextFont* zvNewFont(const char* face, int height, uint32_t background, uint32_t textColor, uint32_t flags);
void zvDeleteFont(ZvTextFont* font);
// The width in pixels of count bytes of text (UTF-8; a byte that starts no
// valid sequence is one character).
int zvFontTextWidth(const ZvTextFont* font, const char* text, int count);
// Blends count bytes of text into the image with the top of the line at
// (x, y); whatever falls outside the image is clipped.
void zvFontDrawText(const ZvTextFont* font, RwImage* image, int x, int y, const char* text, int count, uint32_t color);
// How many bytes make the character at text (at most left): 1..4.
int zvCharacterLength(const char* text, int left);

// ---------------------------------------------------------------------------
// Text blocks
struct ZvTextParagraph;
struct ZvTextLine {
  ZvTextLine* next;
  ZvTextLine* previous;
  ZvTextParagraph* paragraph;
  int32_t width;
  int32_t height;
  int32_t start;     // first byte in the paragraph's text
  int32_t drawn;     // bytes drawn
  int32_t consumed;  // bytes used up, line ends included
};
struct ZvTextParagraph {
  ZvTextParagraph* next;
  ZvTextParagraph* previous;
  ZvTextLine* lines;
  int32_t widest;
  int32_t height;
  int32_t lineCount;
  char* text;
  int32_t length;
  int32_t position;  // where layout goes on
  int32_t firstLine;
};
struct ZvTextBlock {
  void* window;  // kept for callers; measuring needs only the font
  ZvTextFont* font;  // not owned
  int32_t widest;
  int32_t height;
  int32_t paragraphCount;
  int32_t lineCount;
  int32_t wrapWidth;
  int32_t capacity;
  int32_t firstLine;
  int32_t escapes;  // 1: backslash-n ends a line
  ZvTextParagraph* first;
  ZvTextParagraph* last;
};
enum { ZV_TEXT_RENUMBER_AT = 32000 };

ZvTextBlock* zvNewTextBlock(ZvTextFont* font);  // wrap 320, capacity 100
void zvDeleteTextBlock(ZvTextBlock* block);
void zvTextSetWindow(ZvTextBlock* block, void* window);
void zvTextSetEscapes(ZvTextBlock* block, int on);
int zvTextSetWidth(ZvTextBlock* block, int width, int capacity);
int zvTextAddParagraph(ZvTextBlock* block, const char* text);  // -1 on failure
// Puts text in place of the newest paragraph, laid out anew; the old one
// stays when that fails (-1), as it does in an empty block.
int zvTextReplaceLast(ZvTextBlock* block, const char* text);
void zvTextClear(ZvTextBlock* block);
int zvTextFindLine(ZvTextBlock* block, int number, ZvTextParagraph** paragraph, ZvTextLine** line);
int zvTextWidest(const ZvTextBlock* block);
int zvTextHeight(const ZvTextBlock* block);
int zvTextLineCount(const ZvTextBlock* block);
int zvTextFirstLine(const ZvTextBlock* block);
int zvTextLastLine(const ZvTextBlock* block);

// ---------------------------------------------------------------------------
// Labels
enum {
  ZV_LABEL_FOLLOWS = 1,
  ZV_LABEL_ONE_PLACE = 2,  // destroyed rather than moved
  ZV_LABEL_TIMED = 4,
  ZV_LABEL_HIDDEN = 8,
};
enum { ZV_LABEL_HOVER = 1, ZV_LABEL_TEXT = 2 };
enum {
  ZV_ANCHOR_CENTRE = 0,
  ZV_ANCHOR_TOP = 1,
  ZV_ANCHOR_BOTTOM = 2,
  ZV_ANCHOR_POINT = 3,
};
enum { ZV_LABEL_WIDTH = 320, ZV_HOVER_TIME = 3000 };

struct ZvLabel {
  ZvLabel* next;
  ZvLabel* previous;
  uint32_t flags;
  int32_t kind;
  int32_t placed;
  ZvTextFont* font;  // not owned
  ZvTextBlock* text;
  int32_t width, height;
  int32_t x, y;  // -1 until placed
  float point[3];
  ZvObj* object;
  ZvLeaf* leaf;
  int32_t anchor;
  int32_t expirySeconds, expiryMilliseconds;
};

ZvLabel* zvNewLabel(ZvObj* object, ZvLeaf* leaf, ZvTextFont* font, int kind);
void zvDeleteLabel(ZvLabel* label);
void zvDeleteAllLabels(void);
void zvDeleteObjectLabels(ZvObj* object);
ZvLabel* zvFindLabel(ZvObj* object, int kind);  // kind 0: any
ZvLabel* zvFirstLabel(void);                      // newest first
int zvSetLabelText(ZvLabel* label, const char* text);
void zvSetLabelPoint(ZvLabel* label, const float point[3]);
void zvSetLabelAnchor(ZvLabel* label, int mode);
void zvSetLabelFlags(ZvLabel* label, uint32_t bits);
void zvClearLabelFlags(ZvLabel* label, uint32_t bits);
void zvSetLabelTime(ZvLabel* label, int milliseconds);
// 0 placed or unchanged, 1 unplaced (behind the camera), 2 destroyed
// (a one-place label that would move), -1 failure.
int zvPlaceLabel(ZvLabel* label);
void zvUpdateLabels(void);
void zvDrawLabels(RwImage* image);
void zvShowLabels(void);
void zvHideLabels(void);
int zvLabelsVisible(void);
// The top-left corner for a label of the given size whose anchor is at
// (ax, ay); pulled into a view of viewWidth x viewHeight when clamp is set.
void zvLabelCorner(int ax, int ay, int width, int height, int clamp, int viewWidth, int viewHeight, int* x, int* y);

// Hover labels: on every pointer move over the view of a running world.
void zvSetHoverLabels(int on);
int zvHoverLabelsOn(void);
void zvLabelPointerMotion(ZvWorld* world, int x, int y);
// The hover label's choice of text for a hit object: the object that
// carries it (itself or an ancestor), or null with no text to show.
ZvObj* zvHoverLabelSource(ZvObj* hit, int showNames, int showComments, const char** text);

// Text labels: a line sent for another user's object, over it. A new label
// shows for 30 s, a changed text for 5 s more; the same text again leaves
// the label as it is. 0, or -1 when it cannot be shown.
enum { ZV_TEXT_NEW_TIME = 30000, ZV_TEXT_REPLACED_TIME = 5000 };
int zvShowTextLabel(ZvObj* object, const char* text);

// Seams, each defaulting to the real thing: where "now" comes from and how
// a world point reaches the view (0 with visible set, or -1).
typedef void (*ZvLabelClock)(int32_t* seconds, int32_t* milliseconds);
typedef int (*ZvLabelProjector)(ZvWorld* world, const float point[3], int* x, int* y, int* visible);
void zvSetLabelClock(ZvLabelClock clock);          // null: the steady clock
void zvSetLabelProjector(ZvLabelProjector project);  // null: the active camera

// Options "-dname", "-dcomment", "-dscouter"; installs the frame painter
// (labels re-placed and drawn into every frame) and the scene model's hook
// that drops an object's labels with it. Uninstalling frees every label
// and the label fonts.
void zvInstallLabels(int showNames, int showComments, int noBackground);
void zvUninstallLabels(void);

// ---------------------------------------------------------------------------
// Log windows: a scrolling child window that shows the latest lines of a
// text block, painted by us. The scroll model is a plain record that tests
// drive without a window; the window only reports what the user did.
struct ZvPlatformWindow;
struct ZvPlatformPopup;
struct ZvPlatformLogView;

enum { ZV_LOG_WIDTH = 480, ZV_LOG_HEIGHT = 400 };
enum {
  ZV_LOG_LINE_UP = 1,
  ZV_LOG_LINE_DOWN,
  ZV_LOG_PAGE_UP,
  ZV_LOG_PAGE_DOWN,
  ZV_LOG_THUMB,  // position: the top line counted from the first
  ZV_LOG_TOP,
  ZV_LOG_BOTTOM,
};

struct ZvLogView {
  ZvTextBlock* text;  // owned; its font is not
  int32_t width, height;  // the client area
  int32_t capacity;       // paragraphs kept
  int32_t firstLine;      // the block's first line number
  int32_t topLine;        // the line at the top of the client area
  int32_t linesPerPage;   // client height / line height, at least 1
  // Coalescing: a run of one text shows once, with " (×N)" after it.
  int32_t coalesce;
  int32_t repeats;  // how often the newest text came in a row
  char* lastText;   // the newest text as it came (owned), while coalescing
};
struct ZvLogWindow {
  ZvPlatformLogView* window;
  ZvLogView view;
  ZvTextFont* font;  // owned
  RwImage image;     // the client area as last painted
};

// "SYSTEM" at 12, white on black, shadowed.
ZvTextFont* zvNewLogFont(void);

int zvInitLogView(ZvLogView* view, ZvTextFont* font, int capacity, int width, int height);  // -1 on failure
void zvFreeLogView(ZvLogView* view);
// Adds a paragraph; the view follows the end only while the last line was
// in view. -1 on failure.
int zvLogViewAppend(ZvLogView* view, const char* text);
// With coalescing on, a text that repeats the one before it adds no line:
// the line it made shows the count instead, e.g. "... (×120)".
void zvLogViewSetCoalesce(ZvLogView* view, int on);
void zvLogViewClear(ZvLogView* view);
// Re-wraps at the new width, keeping the top line's paragraph at the top.
void zvLogViewResize(ZvLogView* view, int width, int height);
// ZV_LOG_*; 1 when the top line moved, 0 when it stayed, -1 for no action.
int zvLogViewScroll(ZvLogView* view, int action, int position);
// The scroll bar: range 0..maximum (the line count), position the top line
// counted from the first.
void zvLogViewScrollRange(const ZvLogView* view, int* maximum, int* position);
// Fills the image with the background and draws the lines from the top
// line down until the client height is filled.
void zvLogViewPaint(const ZvLogView* view, RwImage* image);

// A ZV_LOG_WIDTH x ZV_LOG_HEIGHT child with a border and a vertical scroll
// bar, in the pop-up (null: in the main window), at its top left until
// placed. Paints once the loop is idle.
ZvLogWindow* zvNewLogWindow(ZvPlatformWindow* main, ZvPlatformPopup* parent, int capacity);
void zvDeleteLogWindow(ZvLogWindow* log);
int zvLogAppend(ZvLogWindow* log, const char* text);
void zvLogClear(ZvLogWindow* log);
// The client area's new size (the window reports its own).
void zvLogResize(ZvLogWindow* log, int width, int height);
// Moves and sizes the window, border and scroll bar included.
int zvLogPlace(ZvLogWindow* log, int x, int y, int width, int height);

// ---------------------------------------------------------------------------
// The "Messages" window (needs the main window for its interpreter)
enum { ZV_NOTIFY_CAPACITY = 100 };
int zvNotifyCreate(ZvPlatformWindow* main);  // hidden until the first text
void zvNotifyDestroy(void);
void zvNotifyAppend(const char* text);
void zvNotifyShow(void);
void zvNotifyHide(void);
int zvNotifyShown(void);
int zvNotifyLineCount(void);  // lines held

// ---------------------------------------------------------------------------
// Button pictures: the toolbar's and navigation pad's, drawn by name
// ("BAK1" back, "BAK2" pressed, "BAK3" disabled, "SCT4"/"SCT5" switched on,
// "LT1"/"LT3" the pad's turn left, ...) so no image files are needed.

// The size a named button picture is drawn at (41 x 34 for the main bar,
// 20 x 15 for the pad); 0 and the size, -1 for an unknown name.
int zvButtonPictureSize(const char* name, int* width, int* height);
// Draws the named picture into rgba (width x height, stride bytes per row,
// 4 bytes a pixel R,G,B,A, top row first). -1 for an unknown name or a
// buffer smaller than the picture's size. A larger buffer gets the picture
// in its top-left corner and the rest is left alone.
int zvDrawButtonPicture(const char* name, uint8_t* rgba, int width, int height, int stride);

// ---------------------------------------------------------------------------
// The chat window of shared worlds: a log of the lines said (the user's
// own and the others') above a one-line entry. It exists from start-up on
// and is shown or hidden by the Chat command.
enum {
  ZV_CHAT_WIDTH = 480,
  ZV_CHAT_HEIGHT = 400,
  ZV_CHAT_CAPACITY = 300,  // lines kept
  ZV_CHAT_MAX_LINE = 173,  // bytes of "name: text" that fit one message
  ZV_CHAT_ENTRY = 2,       // the entry's identifier in the pop-up
};
struct ZvChatHooks {
  // The shared-world client's "send a line": the user's line, "name: text",
  // goes to the server as text for the user's avatar. The window has logged
  // it already. Null: the line is only logged.
  int (*sendLine)(const char* line);
  // Whether a world is shown; a line entered without one goes nowhere.
  // Null: always.
  int (*hasWorld)(void);
  // The window's close box: the main window's Chat command, which hides the
  // window and clears its check mark. Null: the window hides itself.
  void (*closeRequested)(void);
};
ZvChatHooks& zvChatHooks(void);
// How many characters the entry takes for a user of that name: room for
// the name and ": " in one message.
int zvChatEntryLimit(const char* userName);
// "name: text", cut at a character boundary to ZV_CHAT_MAX_LINE bytes; the
// length, or -1 for an empty text or a buffer too small.
int zvChatMakeLine(const char* userName, const char* text, char* out, int size);
int zvChatCreate(ZvPlatformWindow* main);  // hidden; -1 when it cannot be made
void zvChatDestroy(void);
int zvChatShow(void);
int zvChatHide(void);
int zvChatShown(void);
// Shows a hidden window, hides a shown one; whether it is shown now.
int zvChatToggle(void);
// "Show a line": a line said by someone, added to the log (-1 without the
// window).
int zvChatAppend(const char* line);
// What Return in the entry does with its text: the line is logged and sent
// and the entry emptied. The line's length, 0 for nothing to say, -1 when
// it went nowhere (no window, no world).
int zvChatEnter(const char* text);
int zvChatLineCount(void);          // lines the log holds
ZvPlatformPopup* zvChatPopup(void);  // for tests and the pop-up calls

// ---------------------------------------------------------------------------
// Avatars: the figures we ship in the data directory, each with a preview
// picture made from it at build time. The choice is kept for the run and
// announced when the next shared world is joined.
enum { ZV_AVATAR_MAX = 8, ZV_AVATAR_PREVIEW_WIDTH = 96 };
struct ZvAvatarInfo {
  const char* file;     // "person.wrl"
  const char* preview;  // "person.png"
  const char* title;    // shown beside the picture
};
int zvAvatarCount(void);
const ZvAvatarInfo* zvAvatarAt(int index);  // null outside 0..count-1
// The avatar files of ours that the directory holds, in our order, with the
// current choice selected (-1 when it is not among them).
struct ZvAvatarList {
  int32_t count;
  int32_t rows[ZV_AVATAR_MAX];  // indexes into our list
  int32_t selected;             // a row, or -1
};
int zvListAvatars(const char* directory, ZvAvatarList* list);  // count, or -1
int zvAvatarListSelect(ZvAvatarList* list, int row);  // -1 outside the rows
// "person.wrl" until another is chosen.
const char* zvChosenAvatar(void);
// Only our own avatar files may be chosen; -1 for any other name.
int zvChooseAvatar(const char* file);
// Reads a preview picture (PNG or BMP) scaled to width with its aspect kept,
// at most maxHeight rows, as RGBA into out (width x maxHeight x 4 bytes);
// the rows drawn in height. -1 for a missing or broken picture.
int zvLoadAvatarPreview(const char* path, int width, int maxHeight, uint8_t* out, int* height);
// The "ViewAvatar" dialog over the main window: OK takes the selected row's
// avatar. 1 when the choice changed, 0 when not, -1 when it could not open.
int zvViewAvatarDialog(ZvPlatformWindow* main, const char* directory);
ZvPlatformPopup* zvAvatarDialogPopup(void);  // while it is open
enum { ZV_AVATAR_LIST = 2001, ZV_AVATAR_OK = 1 };

// ---------------------------------------------------------------------------
// Preferences: what the dialog shows and saves, read from and written to
// the settings (platform/settings.h) in the dialog's order.
struct ZvPreferences {
  int32_t sound, walkingSound, multiUser, loadTexture;
  char socksHost[256];
  char socksPort[256];
  char nickName[32];
};
int zvReadPreferences(ZvPreferences* preferences);
// Writes the seven settings back; -1 when any could not be stored (the
// others are written all the same).
int zvWritePreferences(const ZvPreferences* preferences);
// The "Preferences" dialog: 1 when OK saved, 0 on Cancel, -1 when it could
// not open.
int zvPreferencesDialog(ZvPlatformWindow* main);
ZvPlatformPopup* zvPreferencesPopup(void);  // while it is open
enum {
  ZV_PREF_OK = 1,
  ZV_PREF_SOUND = 1000,
  ZV_PREF_WALKING_SOUND = 1001,
  ZV_PREF_MULTI_USER = 1003,
  ZV_PREF_SOCKS_HOST = 1004,
  ZV_PREF_TEXTURE = 1005,
  ZV_PREF_SOCKS_PORT = 1006,
  ZV_PREF_NICK_NAME = 1008,
};

// ---------------------------------------------------------------------------
// Rows we draw ourselves into a log view's picture (the bookmark and avatar
// dialogs): equal heights, a picture and text on each, one scrolled range.
struct ZvRowCanvas {
  int width, height;  // the drawing area
  int rowHeight;
  int top;    // the first row shown
  int count;  // rows in all
  uint8_t* pixels;  // RGBA, width x height, owned
};
int zvRowsPerPage(const ZvRowCanvas* rows);
void zvRowsClampTop(ZvRowCanvas* rows);
void zvRowsShow(ZvRowCanvas* rows, int row);  // scrolled just enough for it to be whole
// A scroll bar's request (ZV_SCROLL_*); 0, or -1 for a kind it does not know.
int zvRowsScroll(ZvRowCanvas* rows, int kind, double amount);
void zvRowsResize(ZvRowCanvas* rows, int width, int height);
int zvRowsAt(const ZvRowCanvas* rows, int y);  // the row at a height, or -1
// Clears the picture to black at its current size; -1 when it cannot.
int zvRowsBegin(ZvRowCanvas* rows);
void zvRowsFill(ZvRowCanvas* rows, int x, int y, int width, int height, uint32_t rgb);
// Copies an RGBA picture in, clipped to the area.
void zvRowsBlit(ZvRowCanvas* rows, int x, int y, const uint8_t* rgba, int width, int height);
void zvRowsFocus(ZvRowCanvas* rows, int y);  // the dotted focus frame round a row at y
RwImage zvRowsImage(ZvRowCanvas* rows);
void zvRowsFree(ZvRowCanvas* rows);
