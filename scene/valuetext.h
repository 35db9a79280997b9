// valuetext.h — the text form of one object value, shared by the value
// routines and the copy made when an object is duplicated. The answer lives
// in the one static buffer of the value routines.
#pragma once

#include "scene/scene.h"

const char* zvObjValueText(const ZvObjValue* value);
