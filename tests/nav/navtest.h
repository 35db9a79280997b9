// What the navigation tests share: the program's data directory in the
// source tree, where person.wrl lives.
#pragma once

#include <cstdlib>
#include <string>

namespace qmtest {

inline const char* sourceDataDir() {
  static std::string dir =
      std::string(std::getenv("QUILLMOOR_SOURCE_DIR") ? std::getenv("QUILLMOOR_SOURCE_DIR") : ".") + "/data/";
  return dir.c_str();
}

}  // namespace qmtest
