// reader_bench.cpp — reading the whole shared corpus in process: every
// file read as a world (gunzip, inlines, traversal into the scene model and
// deletion included), as the batch check does. Files sit in the page cache
// after the first pass.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "scene/scene.h"
#include "vrml/qvnodes.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace {

std::string corpusDir() {
  if (const char* env = std::getenv("QUILLMOOR_CORPUS")) return env;
  return std::string(QUILLMOOR_SOURCE_DIR) + "/../shared/corpus/vrml1";
}

struct CorpusFile {
  std::string path, url;
  size_t bytes;  // as text, after gunzip
};

size_t textSize(const std::string& path) {
  gzFile f = gzopen(path.c_str(), "rb");  // reads plain files as they are
  if (!f) return 0;
  char buf[65536];
  size_t n = 0;
  int got;
  while ((got = gzread(f, buf, sizeof buf)) > 0) n += size_t(got);
  gzclose(f);
  return n;
}

const std::vector<CorpusFile>& corpus() {
  static std::vector<CorpusFile> files = [] {
    std::vector<CorpusFile> out;
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(corpusDir(), ec)) {
      std::string p = e.path().string();
      if (!e.is_regular_file() || !(p.ends_with(".wrl") || p.ends_with(".gz") || p.ends_with(".wrz"))) continue;
      out.push_back({p, zvPathToFileUrl(std::filesystem::absolute(p).c_str()), textSize(p)});
    }
    std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.path < b.path; });
    return out;
  }();
  return files;
}

void quiet(int, const char*, int, void*) {}

void BM_ReadCorpus(benchmark::State& state) {
  const auto& files = corpus();
  if (files.empty()) {
    state.SkipWithError("no corpus (set QUILLMOOR_CORPUS)");
    return;
  }
  zvSetReportSink(quiet, nullptr);
  zvWwwInstallHooks();
  zvVrmlInstallHooks();
  size_t bytes = 0;
  int read = 0;
  for (auto _ : state) {
    read = 0;
    for (const CorpusFile& f : files) {
      ZvWorld* w = zvNewWorld(f.url.c_str());
      zvSetCurrentWorld(w);
      read += zvConstructWorld(f.path.c_str(), w) == ZV_OK;
      zvSetCurrentWorld(nullptr);
      zvDeleteWorld(w);
    }
  }
  for (const CorpusFile& f : files) bytes += f.bytes;
  state.SetBytesProcessed(int64_t(bytes) * state.iterations());
  state.counters["files"] = double(files.size());
  state.counters["read"] = read;
  state.counters["MB"] = double(bytes) / 1e6;
  zvSetReportSink(nullptr, nullptr);
}
BENCHMARK(BM_ReadCorpus)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The text alone: every file parsed into its node graph and released, no
// inlines and no scene model. Set against BM_ReadCorpus it splits the time
// between reading and traversal.
void BM_ParseCorpus(benchmark::State& state) {
  const auto& files = corpus();
  if (files.empty()) {
    state.SkipWithError("no corpus (set QUILLMOOR_CORPUS)");
    return;
  }
  zvSetReportSink(quiet, nullptr);
  size_t nodes = 0;
  for (auto _ : state) {
    nodes = 0;
    for (const CorpusFile& f : files) {
      QvResetCurrentFile(f.path.c_str());
      QvInput in(f.path.c_str());
      for (;;) {
        QvNode* n = nullptr;
        bool ok = QvDB::read(&in, n);
        if (ok && n) {
          n->ref();
          n->unref();
          ++nodes;
        } else if (!ok && QvGetLastError() == QV_ERR_UNKNOWN_NODE) {
          QvClearLastError();
          continue;
        }
        if (!ok || !n || in.isDataInFile() != 1) break;
      }
    }
  }
  size_t bytes = 0;
  for (const CorpusFile& f : files) bytes += f.bytes;
  state.SetBytesProcessed(int64_t(bytes) * state.iterations());
  state.counters["top nodes"] = double(nodes);
  zvSetReportSink(nullptr, nullptr);
}
BENCHMARK(BM_ParseCorpus)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The largest world alone: the one the frame-time figures are taken on.
void BM_ReadLargest(benchmark::State& state) {
  const auto& files = corpus();
  auto it = std::find_if(files.begin(), files.end(), [](auto& f) { return f.path.ends_with("cages/cages.wrl"); });
  if (it == files.end()) {
    state.SkipWithError("cages.wrl not in the corpus");
    return;
  }
  zvSetReportSink(quiet, nullptr);
  zvWwwInstallHooks();
  zvVrmlInstallHooks();
  for (auto _ : state) {
    ZvWorld* w = zvNewWorld(it->url.c_str());
    zvSetCurrentWorld(w);
    zvConstructWorld(it->path.c_str(), w);
    zvSetCurrentWorld(nullptr);
    zvDeleteWorld(w);
  }
  state.SetBytesProcessed(int64_t(it->bytes) * state.iterations());
  zvSetReportSink(nullptr, nullptr);
}
BENCHMARK(BM_ReadLargest)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  zvPlatformTuneMemory(argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
