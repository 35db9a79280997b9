// What the retrieval tests share: a private temporary tree with a cache
// directory (XDG_CACHE_HOME) and a folder of "user" files, the module's
// process-wide settings reset around each test, and small file helpers.
#pragma once

#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/testsupport.h"
#include "www/www.h"

namespace wwwtest {

namespace fs = std::filesystem;

inline std::string put(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}
inline std::string get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
// Every regular file under dir (none if it does not exist).
inline std::vector<std::string> filesUnder(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it); it.increment(ec))
    if (it->is_regular_file()) out.push_back(it->path().string());
  return out;
}
inline std::string gzip(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, uLong(data.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

class WwwTest : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    char pattern[] = "/tmp/qmwwwXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    if (const char* old = std::getenv("XDG_CACHE_HOME")) savedXdg = old;
    setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
    fs::create_directories(root + "/user");
    resetModule();
  }
  void TearDown() override {
    resetModule();
    savedXdg ? setenv("XDG_CACHE_HOME", savedXdg->c_str(), 1) : unsetenv("XDG_CACHE_HOME");
    std::error_code ec;
    fs::remove_all(root, ec);
    SceneTest::TearDown();
  }

  std::string cache() const { return root + "/cache/quillmoor/"; }
  std::string user(const std::string& name) const { return root + "/user/" + name; }

  static void resetModule() {
    zvWwwSetBaseUrl(nullptr);
    zvWwwSetFetcher(nullptr);
    zvWwwSetImageConverter(nullptr);
    zvWwwSetScriptRunner(nullptr);
    zvWwwSetSizeLimit(size_t(512) << 20);
  }

  std::string root;
  std::optional<std::string> savedXdg;
};

}  // namespace wwwtest
