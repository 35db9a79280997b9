// Runs the real program, as a script or a user would, and collects what it
// printed and how it ended.
#pragma once

#include <array>
#include <cstdio>
#include <string>

#include <sys/wait.h>

namespace qmtest {

struct Outcome {
  int status;
  std::string out;
};

inline Outcome runProgram(const std::string& args) {
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

}  // namespace qmtest
