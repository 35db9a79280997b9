// overlay.h — a black child window over the whole view that shows one
// picture centred in it and reports clicks: where a video plays over the
// 3D view. Tk may destroy it behind our back (the main window going takes
// its children); it then only answers failure.
#pragma once

#include <cstdint>

struct ZvPlatformWindow;
struct ZvPlatformOverlay;

// A left-button press or a right-button release on the overlay or its
// picture.
typedef void (*ZvOverlayClick)(void* user);

// Opens the overlay above the view (and above anything placed over it).
// Null when the window has no view.
ZvPlatformOverlay* zvPlatformOpenOverlay(ZvPlatformWindow* window, ZvOverlayClick click, void* user);
void zvPlatformCloseOverlay(ZvPlatformOverlay* overlay);
// The overlay's size now (the view's).
void zvPlatformOverlaySize(const ZvPlatformOverlay* overlay, int* width, int* height);
// Shows an RGBA picture (top row first, stride bytes a row) centred. 0 or -1.
int zvPlatformShowOverlayPicture(ZvPlatformOverlay* overlay, const uint8_t* rgba, int width, int height, int stride);
