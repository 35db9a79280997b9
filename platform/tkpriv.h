// tkpriv.h — what the platform's Tk windows share.
#pragma once

#include <tcl.h>
#include <tk.h>

#include <cstdint>

#include <initializer_list>
#include <string>

struct ZvPlatformWindow;

// The main window's interpreter, or null once its window is gone.
Tcl_Interp* zvPlatformWindowInterp(ZvPlatformWindow* w);

// Runs one Tcl command given as separate words (no quoting needed), at
// global level; at most 24 words.
int zvPlatformEvalWords(Tcl_Interp* interp, std::initializer_list<std::string> words);

// Puts an RGBA picture (top row first, stride bytes a row) into a photo
// image at its top left, every pixel opaque whatever its alpha byte.
int zvPlatformPutPicture(Tcl_Interp* interp, Tk_PhotoHandle photo, const uint8_t* rgba, int width, int height,
                         int stride);
