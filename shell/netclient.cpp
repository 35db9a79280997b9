// netclient.cpp — shared worlds in the shell: the client wired to
// characters and the program's exit, and the headless client, which runs
// the real client code without a window for the server's tests.
//
// The headless client reads commands from standard input, one a line, and
// writes what the server made happen to standard output, one event a line
// (the client's trace lines, "chat LINE" for chat, "state N" on changes):
//   move X Y Z          the own avatar goes there (a position message)
//   turn                its whole transform is sent (object moved)
//   update ID X Y Z     a shared object goes there (sent by the moved hook)
//   chat TEXT           a chat line, as the chat window sends it
//   step ID 1|255       a character step
//   appl ID PROC ARG    an application-specific message
//   wait MS             serves the loop for MS milliseconds
//   until WORD MS       serves the loop until an event line starting with
//                       WORD has been written (or MS pass: "timeout WORD")
//   quit                leaves the server and ends (so does end of input)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "media/media.h"
#include "nav/nav.h"
#include "net/net.h"
#include "platform/window.h"
#include "shell/shell.h"
#include "vrml/vrml.h"

namespace {

void kinStepped(ZvObj* object, int direction) { zvNetSendStep(object, direction); }

void leaveAtExit(void) { zvVSCPExit(); }

std::vector<std::string> printed;  // since the last "until"

void printLine(const char* prefix, const char* line) {
  std::printf("%s%s\n", prefix, line);
  std::fflush(stdout);
  if (printed.size() < 10000) printed.push_back(std::string(prefix) + line);
}

bool seen(const std::string& word) {
  for (const auto& line : printed)
    if (line.compare(0, word.size(), word) == 0) return true;
  return false;
}

struct Headless {
  std::string input;
  bool quit = false;
  bool inputEnded = false;
  ZvWorld* world = nullptr;
};
Headless headless;

void serveFor(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end && !headless.quit)
    if (!zvPlatformDoOneEvent(0)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void command(const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  ZvWorld* world = headless.world;
  ZvObj* person = world->person;
  if (verb == "move") {
    float p[3] = {0, 0, 0};
    if (!(in >> p[0] >> p[1] >> p[2])) return printLine("error ", line.c_str());
    zvObjectTranslate(person, p, ZV_COORD_WORLD, ZV_TRANSFORM_SET);
    zvNetSendPosition(person);
  } else if (verb == "turn") {
    zvNetSendObjectMoved(person);
  } else if (verb == "update") {
    long id;
    float p[3];
    if (!(in >> id >> p[0] >> p[1] >> p[2]) || id <= 0 || id > INT32_MAX) return printLine("error ", line.c_str());
    ZvObj* object = zvGetObjById(world, int32_t(id));
    if (!object) return printLine("error no object ", line.c_str());
    zvObjectTranslate(object, p, ZV_COORD_WORLD, ZV_TRANSFORM_SET);
  } else if (verb == "chat") {
    std::string text;
    std::getline(in >> std::ws, text);
    zvNetChatSend(text.c_str());
  } else if (verb == "step" || verb == "appl") {
    long id;
    if (!(in >> id) || id <= 0 || id > INT32_MAX) return printLine("error ", line.c_str());
    ZvObj* object = zvGetObjById(world, int32_t(id));
    if (!object) return printLine("error no object ", line.c_str());
    if (verb == "step") {
      int direction = 0;
      in >> direction;
      zvNetSendStep(object, direction);
    } else {
      std::string procedure, argument;
      in >> procedure;
      std::getline(in >> std::ws, argument);
      zvNetSendAppl(object, zvNetIsMaster() ? ZVCP_FLAG_APPL_MASTER : ZVCP_FLAG_APPL, procedure.c_str(),
                    argument.c_str());
    }
  } else if (verb == "wait") {
    int ms = 0;
    in >> ms;
    serveFor(std::min(std::max(ms, 0), 60000));
  } else if (verb == "until") {
    std::string word;
    int ms = 0;
    in >> word >> ms;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::min(std::max(ms, 0), 60000));
    while (!seen(word) && std::chrono::steady_clock::now() < end && zvNetState() == ZV_NET_CONNECTED)
      if (!zvPlatformDoOneEvent(0)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!seen(word)) printLine("timeout ", word.c_str());
    printed.clear();
  } else if (verb == "quit") {
    headless.quit = true;
  } else if (!verb.empty()) {
    printLine("error unknown ", line.c_str());
  }
}

void onInput(void*, int fd, int) {
  char bytes[4096];
  ssize_t got = ::read(fd, bytes, sizeof bytes);
  if (got <= 0) {
    zvPlatformWatchFd(fd, 0, nullptr, nullptr);
    headless.inputEnded = true;
    return;
  }
  headless.input.append(bytes, size_t(got));
  if (headless.input.size() > 1 << 20) headless.input.clear();  // no line is that long
}

}  // namespace

void zvInstallSharedWorlds(void) {
  zvNetInstall();
  zvNetHooks().kinStep = zvKinReceiveStep;
  zvKinSetStepHook(kinStepped);
  zvAddExitHandler(leaveAtExit);
}

int zvRunHeadlessClient(const char* server, const char* path) {
  zvSetReportSink(zvPrintReport, nullptr);
  zvInstallSubsystems();
  zvInstallBehaviour();
  zvMediaInstall();
  zvInstallSharedWorlds();
  zvNavInstallHooks();
  zvSceneHooks().programDirectory = zvDataDirectory;
  zvPlatformInitEvents();
  ZvNetHooks& hooks = zvNetHooks();
  hooks.trace = [](const char* line) { printLine("", line); };
  hooks.chatShow = [](const char* line) { printLine("chat ", line); };
  hooks.stateChanged = [](int state) {
    char line[16];
    std::snprintf(line, sizeof line, "%d", state);
    printLine("state ", line);
  };
  if (const char* name = std::getenv("QUILLMOOR_USER")) {
    std::snprintf(zvNetSettings().userName, sizeof zvNetSettings().userName, "%s", name);
  }
  if (const char* avatar = std::getenv("QUILLMOOR_AVATAR")) {
    std::snprintf(zvNetSettings().avatarUrl, sizeof zvNetSettings().avatarUrl, "%s", avatar);
  }

  ZvWorld* world = nullptr;
  if (path) {
    world = zvReadWorldFile(path, nullptr);
  } else {
    world = zvNewWorld("quillmoor:headless-client");
    if (world && zvParseVRMLString(
        "#VRML V1.0 ascii\n"  // a speck far below: a world needs one object
        "Separator { Translation { translation 0 -1000 0 } Cube { width 0.001 height 0.001 depth 0.001 } }\n", world->url, world) != ZV_OK) {
      zvDeleteWorld(world);
      world = nullptr;
    }
  }
  if (!world || zvAddPersonToWorld(world) != ZV_OK) {
    std::fprintf(stderr, "quillmoor: the headless client has no world\n");
    if (world) zvDeleteWorld(world);
    return 1;
  }
  zvSetCurrentWorld(world);
  headless.world = world;
  int status = 0;
  if (zvNetConnectTo(world, server) != 0 || zvNetWait(20000) != ZV_NET_CONNECTED) {
    status = 1;
  } else {
    zvPlatformWatchFd(0, ZV_FD_READ, onInput, nullptr);
    while (!headless.quit && zvNetState() == ZV_NET_CONNECTED) {
      size_t end;
      while (!headless.quit && (end = headless.input.find('\n')) != std::string::npos) {
        std::string line = headless.input.substr(0, end);
        headless.input.erase(0, end + 1);
        command(line);
      }
      if (headless.inputEnded && headless.input.find('\n') == std::string::npos) break;
      if (!zvPlatformDoOneEvent(0)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    zvPlatformWatchFd(0, 0, nullptr, nullptr);
  }
  zvVSCPExit();
  zvSetCurrentWorld(nullptr);
  zvDeleteWorld(world);
  return status;
}
