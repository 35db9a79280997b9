// videodecode.cpp — pictures and sound out of any file FFmpeg reads, for the
// movie textures and the video played over the view.
//
// FFmpeg itself runs in quillmoor-decode, a process started for each video
// and spoken to over a socket (media/decode/wire.h): the browser does not
// load FFmpeg's libraries at every start, and a file that crashes or hangs
// the decoder costs that video and a message. Everything here runs on the
// GUI thread, so every answer is waited for with a deadline, and the
// decoder is killed when it misses one or says anything out of bounds.
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "media/decode/wire.h"
#include "media/media.h"

extern char** environ;

namespace {

// The decoder's own deadlines (4 s to open, 1.5 s a picture) and a margin
// for starting it and for the pictures' trip over the socket.
constexpr int kOpenMs = 6000;
constexpr int kReadMs = 2500;

}  // namespace

struct ZvVideoDecoder {
  std::string who, file;
  pid_t pid = -1;
  int fd = -1;
  ZvVideoInfo info{};
  int outWidth = 0, outHeight = 0;
  bool ended = false, broken = false;
  ZvVideoSoundSink sink = nullptr;
  void* sinkUser = nullptr;
  zvwire::Message message;
};

namespace {

bool runnable(const std::filesystem::path& p) { return access(p.c_str(), X_OK) == 0; }

bool inside(const std::filesystem::path& p, const std::filesystem::path& dir) {
  auto [end, _] = std::mismatch(dir.begin(), dir.end(), p.begin(), p.end());
  return end == dir.end();
}

// QUILLMOOR_DECODER, else beside the program, else the data directory's
// ../../bin; programs of the build tree that sit elsewhere in it (tests)
// use the build tree's. Empty when there is none.
std::string decoderPath() {
  if (const char* env = std::getenv("QUILLMOOR_DECODER"); env && *env) return env;
  static std::string path;
  static bool looked = false;
  if (looked) return path;
  looked = true;
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && runnable(exe.parent_path() / "quillmoor-decode"))
    return path = (exe.parent_path() / "quillmoor-decode").string();
  if (const char* (*dir)(void) = zvSceneHooks().programDirectory) {
    if (const char* d = dir(); d && *d) {
      auto p = (std::filesystem::path(d) / "../../bin/quillmoor-decode").lexically_normal();
      if (runnable(p)) return path = p.string();
    }
  }
#ifdef QM_BUILD_DECODER
  if (!ec && inside(exe.lexically_normal(), std::filesystem::path(QM_BUILD_TREE).lexically_normal()) &&
      runnable(QM_BUILD_DECODER))
    return path = QM_BUILD_DECODER;
#endif
  return path;
}

// The decoder's text, kept to printable characters.
std::string printable(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (uint8_t c : bytes) s += c >= 32 && c < 127 ? char(c) : '?';
  return s;
}

// Ends the decoder process, whatever it is doing; the reason it died
// before, when it crashed, is answered.
std::string stop(ZvVideoDecoder* d) {
  std::string crash;
  if (d->fd >= 0) close(d->fd);
  d->fd = -1;
  if (d->pid > 0) {
    kill(d->pid, SIGKILL);
    int status = 0;
    while (waitpid(d->pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL)
      crash = " (it crashed with signal " + std::to_string(WTERMSIG(status)) + ")";
  }
  d->pid = -1;
  d->broken = true;
  return crash;
}

// After a message read wrongly or saying FAIL: one warning, and the
// decoder is gone.
void broke(ZvVideoDecoder* d, const std::string& why, bool fromDecoder) {
  std::string crash = stop(d);
  if (fromDecoder)
    zvWarning("%s: %s: %s", d->who.c_str(), d->file.c_str(), why.c_str());
  else
    zvWarning("%s: %s: the video decoder %s%s", d->who.c_str(), d->file.c_str(), why.c_str(), crash.c_str());
}

bool request(ZvVideoDecoder* d, uint32_t tag, int a, int b) {
  zvwire::Request q{tag, a, b};
  return d->fd >= 0 && zvwire::writeAll(d->fd, &q, sizeof q);
}

bool start(ZvVideoDecoder* d) {
  const std::string exe = decoderPath();
  if (exe.empty()) {
    zvWarning("%s: %s: there is no video decoder (quillmoor-decode) beside the program", d->who.c_str(),
              d->file.c_str());
    return false;
  }
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    zvWarning("%s: %s: the video decoder cannot be started (%s)", d->who.c_str(), d->file.c_str(),
              std::strerror(errno));
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
  posix_spawn_file_actions_adddup2(&actions, pair[1], 1);
  char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>(d->file.c_str()), nullptr};
  int r = posix_spawn(&d->pid, exe.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pair[1]);
  d->fd = pair[0];
  if (r != 0) {
    d->pid = -1;
    stop(d);
    zvWarning("%s: %s: the video decoder %s cannot be started (%s)", d->who.c_str(), d->file.c_str(), exe.c_str(),
              std::strerror(r));
    return false;
  }
  return true;
}

}  // namespace

ZvVideoDecoder* zvOpenVideo(const char* file, const char* who) {
  if (!who) who = "zvOpenVideo";
  if (!file || !*file) {
    zvWarning("%s: no file to play", who);
    return nullptr;
  }
  auto* d = new ZvVideoDecoder;
  d->who = who;
  d->file = file;
  if (!start(d)) {
    delete d;
    return nullptr;
  }
  std::string why;
  if (zvwire::readMessage(d->fd, zvwire::nowMs() + kOpenMs, 0, &d->message, &why) != 0 ||
      d->message.tag != zvwire::kInfo) {
    bool said = why.empty() && d->message.tag == zvwire::kFail;
    broke(d, said ? printable(d->message.payload) : why.empty() ? "sent no description" : why, said);
    delete d;
    return nullptr;
  }
  zvwire::Info info;
  std::memcpy(&info, d->message.payload.data(), sizeof info);
  d->info = {info.width, info.height, info.frameRate, info.duration, info.hasSound ? 1 : 0};
  d->outWidth = info.width;
  d->outHeight = info.height;
  return d;
}

void zvCloseVideo(ZvVideoDecoder* d) {
  if (!d) return;
  stop(d);
  delete d;
}

void zvGetVideoInfo(const ZvVideoDecoder* d, ZvVideoInfo* info) {
  if (!info) return;
  *info = d ? d->info : ZvVideoInfo{};
}

int zvSetVideoOutputSize(ZvVideoDecoder* d, int width, int height) {
  if (!d || width < 1 || height < 1 || width > zvwire::kLargestSide || height > zvwire::kLargestSide)
    return ZV_FAIL;
  d->outWidth = width;
  d->outHeight = height;
  // A decoder that is gone says so at the next picture.
  request(d, zvwire::kSize, width, height);
  return ZV_OK;
}

void zvSetVideoSoundSink(ZvVideoDecoder* d, ZvVideoSoundSink sink, void* user) {
  if (!d) return;
  d->sink = sink;
  d->sinkUser = user;
}

int zvReadVideoFrame(ZvVideoDecoder* d, uint8_t* rgba, double* seconds) {
  if (!d || !rgba) return -1;
  if (d->ended) return 0;
  if (d->broken) return -1;
  if (!request(d, zvwire::kNext, d->sink ? 1 : 0, 0)) {
    broke(d, "stopped", false);
    return -1;
  }
  size_t pictureBytes = size_t(d->outWidth) * size_t(d->outHeight) * 4;
  int64_t deadline = zvwire::nowMs() + kReadMs;
  for (;;) {
    std::string why;
    if (zvwire::readMessage(d->fd, deadline, pictureBytes, &d->message, &why) != 0) {
      broke(d, why, false);
      return -1;
    }
    const std::vector<uint8_t>& p = d->message.payload;
    switch (d->message.tag) {
      case zvwire::kSound:
        if (d->sink) {
          int32_t rc[2];
          std::memcpy(rc, p.data(), sizeof rc);
          int frames = int((p.size() - 8) / (2 * size_t(rc[1])));
          // The payload sits 8 bytes into a vector's storage, so aligned.
          if (frames > 0) d->sink(d->sinkUser, reinterpret_cast<const int16_t*>(p.data() + 8), frames, rc[1], rc[0]);
        }
        break;
      case zvwire::kPicture:
        if (seconds) {
          std::memcpy(seconds, p.data(), sizeof(double));
          if (!std::isfinite(*seconds) || std::fabs(*seconds) > 1e9) *seconds = 0;
        }
        std::memcpy(rgba, p.data() + sizeof(double), pictureBytes);
        return 1;
      case zvwire::kEnd:
        d->ended = true;
        stop(d);
        d->broken = false;
        return 0;
      case zvwire::kFail:
        broke(d, printable(p), true);
        return -1;
      default:
        broke(d, "sent a message that makes no sense", false);
        return -1;
    }
  }
}
