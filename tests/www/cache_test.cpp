// The per-world URL cache: buckets, lookup, ownership of files, the local
// fetch behind zvGetLocalFile and the WWW extensions of objects.
#include <cstdio>
#include <cstring>

#include "tests/www/wwwtest.h"

namespace {

using namespace wwwtest;

class CacheTest : public WwwTest {
 protected:
  void TearDown() override {
    zvDeleteUrlHash(table);
    if (world) zvDeleteWorld(world);
    WwwTest::TearDown();
  }
  void newWorld() {
    zvWwwInstallHooks();
    world = zvNewWorld("w.wrl");
    ASSERT_NE(world, nullptr);
    zvSetCurrentWorld(world);
  }
  ZvUrlHashTable* table = nullptr;
  ZvWorld* world = nullptr;
};

TEST_F(CacheTest, BucketFollowsTheExactCharacters) {
  EXPECT_EQ(zvUrlHashBucket("ab", 203), (97u + 98u * 8u) % 203u);
  EXPECT_EQ(zvUrlHashBucket("\xff", 203), 1u);  // -1 as a signed byte, then its absolute value
  ASSERT_NE(zvUrlHashBucket("World.WRL", 203), zvUrlHashBucket("world.wrl", 203));
  ASSERT_EQ(zvNewUrlHash(ZV_URL_BUCKETS, &table), ZV_OK);
  ASSERT_NE(zvNewUrlHashEntry(table, "World.WRL", nullptr, ZV_TYPE_OTHER), nullptr);
  EXPECT_EQ(zvFindUrlHashEntry(table, "world.wrl"), nullptr);
}

TEST_F(CacheTest, FindIgnoresCaseDeleteDoesNotAndOldEntriesStay) {
  ASSERT_EQ(zvNewUrlHash(1, &table), ZV_OK);  // one bucket: every URL meets every other
  ZvUrlHash* a = zvNewUrlHashEntry(table, "A.wrl", "/l1", ZV_TYPE_VRML);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(zvFindUrlHashEntry(table, "a.WRL"), a);
  EXPECT_EQ(zvNewUrlHashEntry(table, "a.wrl", "/l2", ZV_TYPE_GIF), a);
  EXPECT_STREQ(a->local_filename, "/l1");
  EXPECT_EQ(a->type, ZV_TYPE_VRML);
  ZvUrlHash* b = zvNewUrlHashEntry(table, "b.wrl", nullptr, ZV_TYPE_OTHER);
  EXPECT_EQ(table->heads[0], b);  // new entries go in front
  zvDeleteUrlHashEntry(table, "a.WRL");
  EXPECT_EQ(zvFindUrlHashEntry(table, "A.wrl"), a);
  zvDeleteUrlHashEntry(table, "A.wrl");
  EXPECT_EQ(zvFindUrlHashEntry(table, "A.wrl"), nullptr);
  EXPECT_EQ(zvFindUrlHashEntry(table, "b.wrl"), b);
}

TEST_F(CacheTest, NullArgumentsAndAllocationFailures) {
  EXPECT_EQ(zvNewUrlHashEntry(nullptr, "x", nullptr, 0), nullptr);
  EXPECT_EQ(sink.last(), "zvNewUrlHashEntry: URL or pHashtable is NULL");
  zvDeleteUrlHashEntry(nullptr, "x");
  EXPECT_EQ(sink.last(), "zvDeleteUrlHashEntry: pHashtable is NULL");
  for (long n = 0; n < 2; ++n) {
    memory.failAfter(n);
    EXPECT_EQ(zvNewUrlHash(5, &table), ZV_NOMEM);
    EXPECT_EQ(sink.last(), "zvNewHash: Memory Allocation Failed.");
    EXPECT_EQ(table, nullptr);
  }
  memory.failAfter(-1);
  ASSERT_EQ(zvNewUrlHash(5, &table), ZV_OK);
  zvDeleteUrlHashEntry(table, nullptr);
  EXPECT_EQ(sink.last(), "zvDeleteUrlHashEntry: URL is NULL");
  for (long n = 0; n < 3; ++n) {
    memory.failAfter(n);
    EXPECT_EQ(zvNewUrlHashEntry(table, "x.wrl", "/local", ZV_TYPE_VRML), nullptr);
    EXPECT_EQ(sink.last(), "zvAddHashedFilenameEntry: Memory Allocation Failed.");
    memory.failAfter(-1);
    EXPECT_EQ(zvFindUrlHashEntry(table, "x.wrl"), nullptr);
  }
}

TEST_F(CacheTest, EveryWorldGetsItsTableAndLocalFilesResolveAgainstTheBase) {
  EXPECT_EQ(zvWwwLoadFile("a.wrl"), nullptr);
  EXPECT_EQ(sink.last(), "zvWwwLoadFile: world is NULL");
  newWorld();
  ASSERT_NE(world->urlTable, nullptr);
  EXPECT_EQ(world->urlTable->buckets, 203u);
  sink.clear();
  put(user("my dir/w.wrl"), "#VRML V1.0 ascii\n");
  put(user("my dir/tex/t.bmp"), "BM");
  zvWwwSetBaseUrl(zvPathToFileUrl(user("my dir/w.wrl").c_str()));
  ZvUrlHash* tex = zvWwwLoadFile("tex/t.bmp");
  EXPECT_EQ(zvGetLocalFile(tex), user("my dir/tex/t.bmp"));
  EXPECT_EQ(tex->type, ZV_TYPE_BMP);
  ZvUrlHash* escaped = zvWwwLoadFile("tex/%74.bmp");
  EXPECT_EQ(zvGetMimeType(escaped), ZV_TYPE_BMP);
  zvWwwSetBaseUrl(user("my dir/w.wrl").c_str());  // a plain path works as a base too
  EXPECT_EQ(zvGetMimeType(zvWwwLoadFile("w.wrl")), ZV_TYPE_VRML);
  EXPECT_EQ(sink.count(ZV_DEBUG_WARNING), 0) << sink.dump();
}

TEST_F(CacheTest, AFailedFetchLeavesTheEntryForANextTry) {
  newWorld();
  zvWwwSetBaseUrl(user("w.wrl").c_str());
  ZvUrlHash* e = zvWwwLoadFile("late.wrl");
  EXPECT_EQ(zvGetLocalFile(e), nullptr);
  EXPECT_EQ(sink.last(), "zvGetLocalFile(): NULL");
  EXPECT_EQ(e->local_filename, nullptr);
  EXPECT_EQ(e->type, ZV_TYPE_OTHER);
  EXPECT_EQ(zvGetLocalFile(zvWwwLoadFile("")), nullptr);  // a directory is no file
  put(user("late.wrl"), "#VRML V1.0 ascii\n");
  EXPECT_EQ(zvGetLocalFile(e), user("late.wrl"));
  EXPECT_EQ(zvGetMimeType(nullptr), ZV_TYPE_OTHER);
  EXPECT_EQ(sink.last(), "zvGetMimeType: argument pointer to ZvUrlHash is null.");
  EXPECT_EQ(zvGetLocalFile(nullptr), nullptr);
  EXPECT_EQ(sink.last(), "zvGetLocalFile: argument pointer to ZvUrlHash is null.");
}

std::string downloadDir;
int fakeFetch(const char* url, int, char* out, size_t size) {
  std::string name = downloadDir + (std::strstr(url, ".gz") ? "dl.wrl.gz" : "dl.wrl");
  put(name, std::strstr(url, ".gz") ? gzip("#VRML V1.0 ascii\n") : "#VRML V1.0 ascii\n");
  std::snprintf(out, size, "%s", name.c_str());
  return 0;
}

TEST_F(CacheTest, RemoteUrlsNeedTheFetcherAndTheirFilesGoWithTheEntry) {
  ASSERT_EQ(zvNewUrlHash(7, &table), ZV_OK);
  ZvUrlHash* remote = zvNewUrlHashEntry(table, "http://h/w.wrl.gz", nullptr, ZV_TYPE_OTHER);
  EXPECT_EQ(zvGetLocalFile(remote), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvWwwFetch: no fetcher for http://h/w.wrl.gz"));

  downloadDir = cache() + "downloads/";
  zvWwwSetFetcher(fakeFetch);
  const char* local = zvGetLocalFile(remote);
  ASSERT_NE(local, nullptr) << sink.dump();
  std::string product = local;
  EXPECT_EQ(product.rfind(cache(), 0), 0u) << product;
  EXPECT_EQ(get(product), "#VRML V1.0 ascii\n");
  EXPECT_EQ(remote->type, ZV_TYPE_VRML);
  EXPECT_FALSE(fs::exists(downloadDir + "dl.wrl.gz"));  // used up by the inflate
  ZvUrlHash* plain = zvNewUrlHashEntry(table, "http://h/p.wrl", nullptr, ZV_TYPE_OTHER);
  ASSERT_NE(zvGetLocalFile(plain), nullptr);

  // The user's own file under a URL that would own a converted copy.
  std::string mine = put(user("own.gif"), "GIF89a");
  zvNewUrlHashEntry(table, "file:///own.gif", mine.c_str(), ZV_TYPE_GIF);
  zvDeleteUrlHash(table);
  table = nullptr;
  EXPECT_FALSE(fs::exists(product));
  EXPECT_FALSE(fs::exists(downloadDir + "dl.wrl"));
  EXPECT_TRUE(fs::exists(mine));
}

TEST_F(CacheTest, WwwExtensionsOfObjects) {
  newWorld();
  ZvObj* o = nullptr;
  ASSERT_EQ(zvNewZvObj(world, &o, 1), ZV_OK);
  ASSERT_EQ(zvAddTopObject(o, "w.wrl"), ZV_OK);
  const char* text = nullptr;
  EXPECT_EQ(zvGetUrlNameOfWWW(o, zvWWWAnchor, &text), ZV_FAIL);  // none yet, and no warning
  EXPECT_EQ(zvSetNameOfWWW(o, zvWWWInline, "in.wrl"), ZV_OK);
  EXPECT_EQ(zvGetUrlNameOfWWW(o, zvWWWInline, &text), ZV_OK);
  EXPECT_STREQ(text, "in.wrl");
  EXPECT_EQ(zvFindUrlHashEntry(world->urlTable, "in.wrl"), zvGetObjExtension(o, zvWWWInline));
  EXPECT_EQ(zvSetNameOfWWW(o, zvWWWInline, "again.wrl"), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvSetNameOfWWW: zvRegisterObjExtension() failed.");

  zvWwwSetBaseUrl(user("w.wrl").c_str());
  EXPECT_EQ(zvGetLocalNameOfWWW(o, zvWWWInline, &text), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvGetLocalNameOfWWW: zvGetLocalFile() failed.");
  put(user("in.wrl"), "#VRML V1.0 ascii\n");
  EXPECT_EQ(zvGetLocalNameOfWWW(o, zvWWWInline, &text), ZV_OK);
  EXPECT_EQ(text, user("in.wrl"));

  EXPECT_EQ(zvGetUrlNameOfWWW(o, zvLODNode, &text), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvGetUrlNameOfWWW: Invalid argument.");
  EXPECT_EQ(zvSetNameOfWWW(o, zvWWWAnchor, nullptr), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvSetNameOfWWW: Invalid argument.");
}

}  // namespace
