// main.cpp — the quillmoor executable.
#include <cstdio>

#include "platform/platform.h"

#include "scene/scene.h"
#include "shell/shell.h"

int main(int argc, char** argv) {
  zvPlatformTuneMemory(argv);
  zvSetDebugFlag(ZV_DEBUG_WARNING, 0);
  ZvLaunch launch;
  zvParseLongOptions(argc, argv, &launch);
  if (launch.error) {
    std::fprintf(stderr, "quillmoor: %s: unknown, malformed or out of place\n%s", launch.error, zvUsage());
    return 1;
  }
  if (launch.mode == ZV_LAUNCH_VERSION) {
    std::printf("%s\n", zvVersion());
    return 0;
  }
  if (launch.mode == ZV_LAUNCH_HELP) {
    std::printf("%s\n%s", zvVersion(), zvUsage());
    return 0;
  }
  if (launch.mode == ZV_LAUNCH_CHECK) {
    if (launch.firstWord >= argc) {
      std::fprintf(stderr, "quillmoor: --check needs a world\n%s", zvUsage());
      return 1;
    }
    return zvRunCheck(argc - launch.firstWord, argv + launch.firstWord);
  }
  if (launch.mode == ZV_LAUNCH_WRITE) {
    if (launch.firstWord + 1 != argc) {
      std::fprintf(stderr, "quillmoor: --write needs one world\n%s", zvUsage());
      return 1;
    }
    return zvRunWrite(launch.output, argv[launch.firstWord]);
  }
  if (launch.mode == ZV_LAUNCH_SCREENSHOT) {
    if (launch.firstWord + 1 != argc) {
      std::fprintf(stderr, "quillmoor: --screenshot needs one world\n%s", zvUsage());
      return 1;
    }
    return zvRunScreenshot(launch.output, launch.width, launch.height, argv[launch.firstWord], launch.afterMs, 1);
  }

  if (launch.mode == ZV_LAUNCH_NET_CLIENT) {
    if (launch.firstWord + 1 < argc) {
      std::fprintf(stderr, "quillmoor: --headless-client takes at most one world\n%s", zvUsage());
      return 1;
    }
    return zvRunHeadlessClient(launch.output, launch.firstWord < argc ? argv[launch.firstWord] : nullptr);
  }

  ZvCommandLine words;
  zvSetCommandLineWords(argc - launch.firstWord, argv + launch.firstWord, &words);
  ZvShellOptions options{};
  zvReadCommandLineOptions(&words, &options);
  zvClearExitHandlers();

  int status = zvRunWindow(&words, &options);
  if (status == 255) return status;  // nothing started that needs closing
  zvExit();
  return zvReportFailed() ? 2 : status;
}
