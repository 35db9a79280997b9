// Runs the real program, as a script or a user would, and collects what it
// printed and how it ended.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace qmtest {

struct Outcome {
  int status;
  std::string out;
};

inline Outcome runProgramOnce(const std::string& args) {
  std::string cmd = std::string(QUILLMOOR_EXE) + " " + args + " 2>&1";
  Outcome r{-1, ""};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// Under the sanitizers, the leak checker's own thread-stopping at exit can
// fail on a loaded machine ("LeakSanitizer has encountered a fatal error")
// after the program did all its work; that run says nothing about us, so it
// is made once more. Any other ending stands.
inline Outcome runProgram(const std::string& args) {
  Outcome r = runProgramOnce(args);
  if (r.out.find("LeakSanitizer has encountered a fatal error") != std::string::npos) r = runProgramOnce(args);
  return r;
}

// A scratch directory per test that also takes the program's cache, so
// that runs never touch the user's own.
class ProgramTest : public ::testing::Test {
 protected:
  explicit ProgramTest(const char* name) : name_(name) {}
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("qm-" + std::string(name_) + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    setenv("XDG_CACHE_HOME", dir.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;

 private:
  const char* name_;
};

}  // namespace qmtest
