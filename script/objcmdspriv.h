// objcmdspriv.h — what the files of the object command group share: the
// transform handlers (transformcmds.cpp) and the reading of objects from
// files and text (objread.cpp).
//
// The reading side includes the reader's header, whose script kinds would
// clash with this layer's, so what it offers here uses scene types only.
#pragma once

#include <string>

#include "scene/scene.h"

struct ZvScriptCall;

int zvScriptCmdRotate(ZvScriptCall& call);
int zvScriptCmdRotateAngle(ZvScriptCall& call);
int zvScriptCmdTranslate(ZvScriptCall& call);
int zvScriptCmdRotateTranslate(ZvScriptCall& call);
int zvScriptCmdRotateAngleTranslate(ZvScriptCall& call);
int zvScriptCmdGetObjWRT(ZvScriptCall& call);
int zvScriptCmdGetObjLRT(ZvScriptCall& call);

// Results of the readers below.
enum {
  ZV_OBJREAD_OK = 0,
  ZV_OBJREAD_REFUSED = -1,  // the world may not read that file
  ZV_OBJREAD_UNREADABLE = -2,  // not found, not fetched, or not written
  ZV_OBJREAD_PARSE = -3,  // read, but no objects came of it
};
// Reads a VRML file as children of parent (null: as top objects of the
// world) and builds them in the renderer when the world has been built.
// The name is a URL or path as a world's script writes it: resolved
// against the world's URL and fetched through retrieval, or a local file
// the world may read. first: the first new object (null when none).
int zvScriptReadObjFile(ZvWorld* world, ZvObj* parent, const char* name, ZvObj** first);
// The same from VRML text, through a temporary file of the cache directory
// (its name goes to file, for the message when it cannot be written).
int zvScriptReadObjText(ZvWorld* world, ZvObj* parent, const char* text, ZvObj** first, std::string* file);
// Whether the world's scripts may read the local file: inside the user
// files or the data directory, a file the world fetched from the network,
// or below the directory of a world that is itself a local file.
bool zvScriptMayReadLocal(ZvWorld* world, const char* path);
