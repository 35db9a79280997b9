// tkpriv.h — what the platform's Tk windows share.
#pragma once

#include <tcl.h>

#include <initializer_list>
#include <string>

// Runs one Tcl command given as separate words (no quoting needed), at
// global level; at most 24 words.
int zvPlatformEvalWords(Tcl_Interp* interp, std::initializer_list<std::string> words);
