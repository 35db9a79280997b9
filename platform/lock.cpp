// lock.cpp — one browser per user. The lock is an flock on a file in the
// runtime directory; the kernel drops it when the process ends however it
// ends, so a crash never keeps the next start out.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/window.h"

namespace {

std::string runtimeDirectory() {
  if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir == '/') return dir;
  std::string dir = "/tmp/quillmoor-" + std::to_string(::getuid());
  // Private to the user: a directory someone else made first is not ours.
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return dir;
  struct stat st;
  if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()) return dir;
  return std::string();
}

}  // namespace

const char* zvPlatformLockPath(void) {
  static std::string path;
  std::string dir = runtimeDirectory();
  path = dir.empty() ? std::string() : dir + "/quillmoor.lock";
  return path.c_str();
}

int zvPlatformTakeInstanceLock(void) {
  const char* path = zvPlatformLockPath();
  if (!*path) return -2;
  int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -2;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;  // kept open: the lock lasts as long as the process
}
