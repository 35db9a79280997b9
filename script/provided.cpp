// provided.cpp — the script commands whose work belongs to parts of the
// program outside this layer: sound, movies, characters, retrieval, shared
// worlds, history and menus. Each part gives its implementation with
// zvScriptProvideCommand; until it has, a script calling one of these gets
// "%s: not available". Usage texts and argument counts are checked here, so
// a script sees the same words whoever provides the command.
#include <cstring>

#include "script/scriptpriv.h"

namespace {

// An object handle is read here, before any provider sees it, so a forged
// one is refused the same way whether the command is there yet or not.
int runProvided(ZvScriptCall& call) {
  const ZvScriptCommand* command = zvScriptFindCommand(call.name);
  if (command && std::strncmp(command->usage, "ZvObj", 5) == 0 && !call.obj(1)) return TCL_ERROR;
  return zvScriptRunProvided(call);
}

}  // namespace

#define PROVIDED(name, usage, least, most) {name, usage, least, most, runProvided}

extern const ZvScriptCommand zvScriptProvidedCommands[] = {
    // retrieval
    PROVIDED("zvWwwOpenUrl", "URL", 1, 1),
    PROVIDED("zvWwwLoadFile", "URL \nreturn: local filename", 1, 1),
    PROVIDED("zvWwwGetFile", "URL \nreturn: local filename", 1, 1),
    PROVIDED("zvWwwOpenFile", "WrlFileName", 1, 1),
    // movies
    PROVIDED("zvVideoNextFrame", "ZvObj", 1, 1),
    PROVIDED("zvPlay3DVideo", "ZvObj", 1, 1),
    PROVIDED("zvVideoPlay", "VideoFileName", 1, 1),
    PROVIDED("zvPlay2DVideo", "VideoFileName", 1, 1),
    PROVIDED("zvPlay3DMovie", "ZvObj", 1, 1),
    PROVIDED("zvPause3DMovie", "ZvObj", 1, 1),
    PROVIDED("zvSet3DMovieSpeed", "ZvObj speed", 2, 2),
    PROVIDED("zvGet3DMovieSpeed", "ZvObj", 1, 1),
    PROVIDED("zvGet3DMovieInfo", "ZvObj cur [max] [loop]", 2, 4),
    PROVIDED("zvSet3DMovieFrame", "ZvObj frameNo", 2, 2),
    PROVIDED("zvSet3DMovieLoop", "ZvObj [$zvTrue/$zvFalse]", 1, 2),
    PROVIDED("zvSet3DMovieNextFrame", "ZvObj", 1, 1),
    PROVIDED("zvSet3DMoviePrevFrame", "ZvObj", 1, 1),
    // sound
    PROVIDED("zvPlayAmbientSoundByName", "name ZvBoolean", 2, 2),
    PROVIDED("zvPlaySpotSoundByName", "name ZvBoolean", 2, 2),
    PROVIDED("zvPlayAmbientSound", "ZvObj ZvBoolean", 2, 2),
    PROVIDED("zvPlaySpotSound", "ZvObj ZvBoolean", 2, 2),
    PROVIDED("zvStopSoundByName", "name", 1, 1),
    PROVIDED("zvStopSound", "ZvObj", 1, 1),
    PROVIDED("zvSetSoundVolumeByName", "name volume", 2, 2),
    PROVIDED("zvSetSoundVolume", "ZvObj volume", 2, 2),
    PROVIDED("zvSuspendSoundByName", "name", 1, 1),
    PROVIDED("zvSuspendSound", "ZvObj", 1, 1),
    PROVIDED("zvResumeSoundByName", "name", 1, 1),
    PROVIDED("zvResumeSound", "ZvObj", 1, 1),
    PROVIDED("zvSuspendAllSound", "no args", 0, 0),
    PROVIDED("zvResumeAllSound", "no args", 0, 0),
    // shared worlds
    PROVIDED("zvcpSendApplEvent", "ZvObj ZvBitmask ZvString", 3, 3),
    PROVIDED("zvcpAmIMaster", "", 0, 0),
    PROVIDED("zvcpSendApplSpecificMsg", "ZvObj function string", 3, 3),
    PROVIDED("zvcpSendApplSpecificMsgWithDist", "ZvObj function string DestFlg", 4, 4),
    PROVIDED("zvcpUpdateObj", "ZvObj", 1, 1),
    PROVIDED("zvcpSendChatStr", "ZvObj Str", 2, 2),
    PROVIDED("zvChatDisplay", "ZvObj Str", 2, 2),
    PROVIDED("zvGetUserName", "", 0, 0),
    // history and menus
    PROVIDED("zvForwardPage", "", 0, 0),
    PROVIDED("zvBackwardPage", "", 0, 0),
    PROVIDED("zvMenuExec", "ZvMenuId", 1, 1),
    // characters
    PROVIDED("zvKinNew", "SkinUrl(wrl) ZvObj_return", 2, 2),
    PROVIDED("zvKinDelete", "ZvObj", 1, 1),
    PROVIDED("zvKinNextPosture", "ZvObj", 1, 1),
    PROVIDED("zvKinPrevPosture", "ZvObj", 1, 1),
    PROVIDED("zvKinSetFrame", "ZvObj  frameno", 2, 2),
    PROVIDED("zvKinGetFrame", "ZvObj cur [max]", 2, 3),
    PROVIDED("zvDebugFunc", "function [function arguments]", 1, -1),
    {nullptr, nullptr, 0, 0, nullptr},
};
