// Preparing local files: inflating gzip by suffix or signature, refusing
// broken or oversized streams without leaving anything behind, naming
// products so that they never collide, and the image converter seam.
#include <cstdio>
#include <cstring>

#include "tests/www/wwwtest.h"

namespace {

using namespace wwwtest;

const std::string kWorld = "#VRML V1.0 ascii\nSeparator { Cube {} }\n";

class PreprocessTest : public WwwTest {
 protected:
  // zvPreProcessFile for a world; the usable name, or "" on failure.
  std::string run(const std::string& source, int local = ZV_SCHEME_FILE, int type = ZV_TYPE_VRML) {
    char out[ZV_WWW_PATH_MAX];
    return zvPreProcessFile(local, source.c_str(), out, sizeof out, type) == ZV_OK ? out : "";
  }
  static std::string base(const std::string& path) { return fs::path(path).filename().string(); }
  // The product's name without the hash of its source in front.
  static std::string stem(const std::string& path) {
    std::string b = base(path);
    EXPECT_GT(b.size(), 17u);
    EXPECT_EQ(b[16], '-') << b;
    return b.substr(17);
  }
  void expectRefused(const std::string& source) {
    sink.clear();
    EXPECT_EQ(run(source), "");
    EXPECT_EQ(sink.last(), "Decompress() : gzip failure");
    EXPECT_TRUE(filesUnder(cache()).empty()) << "left behind: " << filesUnder(cache())[0];
  }
};

TEST_F(PreprocessTest, GzipBySuffixGoesToTheCacheAndTheUsersFileStays) {
  std::string source = put(user("a/world.wrl.gz"), gzip(kWorld));
  std::string out = run(source);
  ASSERT_NE(out, "") << sink.dump();
  EXPECT_EQ(out.rfind(cache(), 0), 0u);
  EXPECT_EQ(stem(out), "world.wrl");
  EXPECT_EQ(get(out), kWorld);
  EXPECT_TRUE(fs::exists(source));
  EXPECT_EQ(stem(run(put(user("x_wrl.gz"), gzip(kWorld)))), "x.wrl");
  EXPECT_EQ(stem(run(put(user("x.tar.gz"), gzip(kWorld)))), "x.tar");
  EXPECT_EQ(stem(run(put(user("plain.gz"), gzip(kWorld)))), "plain.wrl");
  EXPECT_EQ(stem(run(put(user("w.wrz"), gzip(kWorld)))), "w.wrl");
}

TEST_F(PreprocessTest, GzipBySignatureKeepsANameThatSaysWhatItIs) {
  std::string out = run(put(user("w.wrl"), gzip(kWorld)));
  EXPECT_EQ(stem(out), "w.wrl");
  EXPECT_EQ(get(out), kWorld);
  EXPECT_EQ(stem(run(put(user("data"), gzip(kWorld)))), "data.wrl");
  std::string plain = put(user("p.wrl"), kWorld);
  EXPECT_EQ(run(plain), plain);  // nothing to do: the file itself
  EXPECT_EQ(get(run(put(user("two.gz"), gzip("ab") + gzip("cd") + std::string(4, '\0')))), "abcd");
}

TEST_F(PreprocessTest, SameBaseNameFromTwoFoldersGivesTwoFiles) {
  std::string one = run(put(user("a/world.wrl.gz"), gzip("one")));
  std::string two = run(put(user("b/world.wrl.gz"), gzip("two")));
  std::string again = run(user("a/world.wrl.gz"));
  ASSERT_NE(one, "");
  EXPECT_NE(one, two);
  EXPECT_NE(one, again);  // each load owns its copy and may delete it
  EXPECT_EQ(get(one), "one");
  EXPECT_EQ(get(two), "two");
  EXPECT_EQ(get(again), "one");
}

TEST_F(PreprocessTest, BrokenGzipFailsAndLeavesNothing) {
  std::string good = gzip(kWorld + std::string(5000, 'x'));
  expectRefused(put(user("cut.wrl.gz"), good.substr(0, good.size() - 9)));
  expectRefused(put(user("half.wrl.gz"), good.substr(0, good.size() / 2)));
  std::string corrupt = good;
  for (size_t i = 20; i < 40; ++i) corrupt[i] = char(corrupt[i] ^ 0x5a);
  expectRefused(put(user("corrupt.wrl.gz"), corrupt));
  expectRefused(put(user("empty.wrl.gz"), ""));
  expectRefused(put(user("notgzip.wrl.gz"), kWorld));
  expectRefused(put(user("trailing.wrl.gz"), good + "garbage"));
  expectRefused(user("missing.wrl.gz"));
}

TEST_F(PreprocessTest, InflateStopsAtTheSizeLimit) {
  zvWwwSetSizeLimit(100000);
  expectRefused(put(user("bomb.wrl.gz"), gzip(std::string(100001, '\0'))));
  EXPECT_EQ(get(run(put(user("fits.wrl.gz"), gzip(std::string(100000, 'a'))))).size(), 100000u);
}

TEST_F(PreprocessTest, DownloadsAreUsedUpButTheUsersFilesNever) {
  std::string download = put(cache() + "dl/w.wrl.gz", gzip(kWorld));
  std::string out = run(download, ZV_SCHEME_HTTP);
  EXPECT_EQ(out.rfind(cache() + "dl/", 0), 0u) << out;
  EXPECT_FALSE(fs::exists(download));
  std::string mine = put(user("w.wrl.gz"), gzip(kWorld));
  EXPECT_NE(run(mine, ZV_SCHEME_HTTP), "");
  EXPECT_TRUE(fs::exists(mine));
  // Where a file is counts, not how it is named: through a link from the
  // user's folder a download is still used up, and a name that climbs out
  // of the cache still leaves the user's file.
  std::string far = put(cache() + "dl2/far.wrl.gz", gzip(kWorld));
  fs::create_directory_symlink(cache() + "dl2", user("via"));
  EXPECT_NE(run(user("via/far.wrl.gz"), ZV_SCHEME_HTTP), "");
  EXPECT_FALSE(fs::exists(far));
  std::string kept = put(user("kept.wrl.gz"), gzip(kWorld));
  EXPECT_NE(run(cache() + "../../user/kept.wrl.gz", ZV_SCHEME_HTTP), "");
  EXPECT_TRUE(fs::exists(kept));
}

int writeBmp(const char* src, const char* dst, int type) {
  std::FILE* f = std::fopen(dst, "wb");
  std::fprintf(f, "BMP of %s type %d", fs::path(src).filename().c_str(), type);
  std::fclose(f);
  return 0;
}
int failHalfway(const char* src, const char* dst, int type) {
  writeBmp(src, dst, type);
  return -1;
}

TEST_F(PreprocessTest, ImagesGoThroughTheConverter) {
  std::string gif = put(user("t.gif"), "GIF89a");
  EXPECT_EQ(run(gif), "");
  EXPECT_EQ(sink.last(), "zvConvertImage() : image conversion is not available");

  zvWwwSetImageConverter(writeBmp);
  std::string bmp = run(gif);
  EXPECT_EQ(stem(bmp), "t.bmp");
  EXPECT_EQ(get(bmp), "BMP of t.gif type 8");
  EXPECT_TRUE(fs::exists(gif));

  // A gzipped JPEG: inflated, converted, and only the BMP stays.
  std::string fromGz = run(put(user("j.jpg.gz"), gzip("jpeg")));
  EXPECT_EQ(stem(fromGz), "j.bmp");
  EXPECT_EQ(filesUnder(cache()).size(), 2u);

  for (const std::string& f : filesUnder(cache())) fs::remove(f);
  zvWwwSetImageConverter(failHalfway);
  EXPECT_EQ(run(gif), "");
  EXPECT_EQ(run(put(user("k.gif.gz"), gzip("gif"))), "");
  EXPECT_TRUE(filesUnder(cache()).empty());
}

// The real decoders behind these names are tried in tests/image/sniff_test.
TEST_F(PreprocessTest, TheFirstBytesSayWhatAnImageIsWhateverItsName) {
  zvWwwSetImageConverter(writeBmp);
  EXPECT_EQ(get(run(put(user("odd.wrl"), "\x89PNG\r\n\x1a\n rest"))), "BMP of odd.wrl type 12");
  std::string fromGz = get(run(put(user("g.jpg.gz"), gzip("GIF89a rest"))));  // the inflated bytes decide
  EXPECT_NE(fromGz.find("-g.jpg type 8"), std::string::npos) << fromGz;
  // Too little of a signature leaves the name to decide.
  EXPECT_EQ(get(run(put(user("short.png"), "GIF8"))), "BMP of short.png type 12");
  EXPECT_EQ(zvFileToType(put(user("w.wrl"), kWorld).c_str()), ZV_TYPE_VRML);
  EXPECT_EQ(zvFileToType(user("missing.jpg").c_str()), ZV_TYPE_JPEG);
}

TEST_F(PreprocessTest, OutputNamesAndTheirFailures) {
  char out[ZV_WWW_PATH_MAX];
  ASSERT_NE(zvMakeFilenameFromMime(ZV_SCHEME_FILE, "/x/a.b.gif", out, sizeof out, ZV_TYPE_BMP), nullptr);
  EXPECT_EQ(std::string(out).rfind(cache(), 0), 0u);
  EXPECT_EQ(stem(out), "a.bmp");
  EXPECT_EQ(zvMakeFilenameFromMime(ZV_SCHEME_FILE, "/x/", out, sizeof out, 0), nullptr);
  EXPECT_EQ(sink.last(), "zvMakeFilenameFromMime: invalid filename");

  char tiny[24];
  std::string source = put(user("long-enough-name.wrl.gz"), gzip(kWorld));
  EXPECT_EQ(zvPreProcessFile(ZV_SCHEME_FILE, source.c_str(), tiny, sizeof tiny, ZV_TYPE_VRML), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvPreProcessFile: convertedLength="));
  EXPECT_TRUE(filesUnder(cache()).empty());

  put(root + "/blocker", "a file where the cache folder should be");
  setenv("XDG_CACHE_HOME", (root + "/blocker").c_str(), 1);
  EXPECT_EQ(zvMakeFilenameFromMime(ZV_SCHEME_FILE, "/x/a.gif", out, sizeof out, 0), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "can not make temp directory"));
  EXPECT_EQ(sink.last(), "zvMakeFilenameFromMime: zvGetModuleDirName failed");
}

class CopyTest : public WwwTest {};

// A world opened again and again, and two at once, never fills the cache:
// each copy goes with the world that made it, even when only the file's
// signature said it was compressed.
TEST_F(CopyTest, CopiesGoWithTheirWorldsHoweverOftenAFileIsOpened) {
  zvWwwInstallHooks();
  std::string url = zvPathToFileUrl(put(user("again/world.wrl"), gzip(kWorld)).c_str());
  auto open = [&](ZvWorld** w) {
    *w = zvNewWorld(url.c_str());
    zvSetCurrentWorld(*w);
    const char* local = zvGetLocalFile(zvWwwLoadFile(url.c_str()));
    return std::string(local ? local : "");
  };
  ZvWorld* a = nullptr;
  ZvWorld* b = nullptr;
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(open(&a), "");
    zvDeleteWorld(a);
  }
  EXPECT_TRUE(filesUnder(cache()).empty());
  std::string first = open(&a), second = open(&b);
  EXPECT_NE(first, second);
  EXPECT_EQ(get(second), kWorld);
  zvDeleteWorld(a);
  zvDeleteWorld(b);
  zvSetCurrentWorld(nullptr);
  EXPECT_TRUE(filesUnder(cache()).empty());
  EXPECT_TRUE(fs::exists(fs::path(zvFileUrlToPath(url.c_str()))));  // the user's own file stays
}

}  // namespace
