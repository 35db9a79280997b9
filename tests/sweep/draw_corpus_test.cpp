// Every world of the shared corpus drawn once through --screenshot: none may
// crash, and a world that the start viewpoint frames whole (it brings no
// camera of its own) and that holds shapes must not come out blank.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "image/image.h"
#include "tests/shell/runprogram.h"

namespace fs = std::filesystem;

namespace {

fs::path corpusDir() {
  const char* env = std::getenv("QUILLMOOR_CORPUS");
  if (env && *env) return env;
  return fs::path(QUILLMOOR_SOURCE_DIR) / "../shared/corpus/vrml1";
}

// Pixels that differ from the top-left one; -1 when the file does not decode.
long differingPixels(const fs::path& png) {
  std::ifstream in(png, std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  ZvImage image{};
  if (bytes.empty() || zvDecodeImage(bytes.data(), bytes.size(), &image) != 0) return -1;
  long n = 0;
  const uint8_t* p = image.pixels;
  for (long i = 0; i < long(image.width) * image.height; ++i)
    if (std::abs(p[i * 4] - p[0]) + std::abs(p[i * 4 + 1] - p[1]) + std::abs(p[i * 4 + 2] - p[2]) > 12) ++n;
  zvFreeImage(&image);
  return n;
}

TEST(CorpusSweep, EveryWorldDraws) {
  fs::path corpus = corpusDir();
  std::error_code ec;
  if (!fs::is_directory(corpus, ec)) GTEST_SKIP() << "no corpus at " << corpus;
  fs::path dir = fs::temp_directory_path() / ("qm-sweep-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  setenv("XDG_CACHE_HOME", dir.c_str(), 1);
  std::vector<fs::path> worlds;
  for (auto& e : fs::recursive_directory_iterator(corpus, ec)) {
    std::string name = e.path().filename().string();
    if (e.is_regular_file() && (name.ends_with(".wrl") || name.ends_with(".wrl.gz") || name.ends_with(".wrz")))
      worlds.push_back(e.path());
  }
  std::sort(worlds.begin(), worlds.end());
  ASSERT_FALSE(worlds.empty());
  const std::regex shapes(R"((cone|cylinder|face|line set|point set|sphere|text))");
  const std::regex cameras(R"(; (\d+) cameras)");
  int drawn = 0, framedBlank = 0;
  for (const fs::path& world : worlds) {
    fs::path png = dir / "frame.png";
    fs::remove(png, ec);
    auto r = qmtest::runProgram("--screenshot " + png.string() + " --size 160x120 '" + world.string() + "'");
    ASSERT_GE(r.status, 0) << world << " ended by a signal\n" << r.out;
    ASSERT_LE(r.status, 2) << world << "\n" << r.out;
    EXPECT_EQ(r.out.find("runtime error"), std::string::npos) << world << "\n" << r.out;
    if (r.status != 0) continue;
    ++drawn;
    auto check = qmtest::runProgram("--check '" + world.string() + "'");
    std::smatch m;
    bool hasShapes = std::regex_search(check.out, shapes);
    bool ownCamera = std::regex_search(check.out, m, cameras) && std::stoi(m[1]) > 0;
    long differing = differingPixels(png);
    EXPECT_GE(differing, 0) << world << ": the PNG does not decode";
    if (hasShapes && !ownCamera && differing == 0) {
      ++framedBlank;
      ADD_FAILURE() << world << ": framed whole but blank\n" << r.out;
    }
  }
  fs::remove_all(dir, ec);
  std::printf("corpus sweep: %zu worlds, %d drawn, %d framed but blank\n", worlds.size(), drawn, framedBlank);
  EXPECT_GT(drawn, int(worlds.size() * 9 / 10));
}

}  // namespace
