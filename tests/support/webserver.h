// A web server of the tests' own on 127.0.0.1 (httpserver.py beside this
// file): started on a free port, serving tests/data/web unless told
// otherwise, killed with the object.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace qmtest {

class WebServer {
 public:
  static std::string sourceDir() { return QM_TESTS_DIR; }
  explicit WebServer(std::string root = sourceDir() + "/data/web") {
    portFile_ = std::filesystem::temp_directory_path() / ("qm-web-" + std::to_string(::getpid()) + "-" +
                                                          std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::remove(portFile_);
    std::string script = sourceDir() + "/support/httpserver.py";
    pid_ = fork();
    if (pid_ == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execlp("python3", "python3", script.c_str(), root.c_str(), portFile_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200 && port_ == 0; ++i) {
      std::ifstream in(portFile_);
      if (!(in >> port_)) port_ = 0;
      if (!port_) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  ~WebServer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::filesystem::remove(portFile_);
  }
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;
  bool up() const { return port_ != 0; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::filesystem::path portFile_;
};

}  // namespace qmtest
