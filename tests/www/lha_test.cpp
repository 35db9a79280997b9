// LHA archives, built here byte by byte (stored members, level 0 and 1
// headers): members entered under their archive names, and hostile archives
// refused before anything is written.
#include <cstring>

#include "tests/www/wwwtest.h"

namespace {

using namespace wwwtest;

uint16_t crc16(const std::string& data) {
  uint16_t crc = 0;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

void le(std::string& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += char((v >> (8 * i)) & 0xff);
}

struct Member {
  std::string name, data;
  int level = 0;
  const char* method = "-lh0-";
  int crcDelta = 0;
  uint32_t declaredLength = UINT32_MAX;  // the data's own length unless set
};

std::string member(const Member& m) {
  std::string h = m.method;
  le(h, uint32_t(m.data.size()), 4);
  le(h, m.declaredLength != UINT32_MAX ? m.declaredLength : uint32_t(m.data.size()), 4);
  le(h, 0x5a210000, 4);  // a DOS date in 2025
  h += char(0x20);
  h += char(m.level);
  h += char(m.name.size());
  h += m.name;
  le(h, uint16_t(crc16(m.data) + m.crcDelta), 2);
  if (m.level == 1) {
    h += 'U';
    le(h, 0, 2);  // no extended headers
  }
  unsigned sum = 0;
  for (unsigned char c : h) sum += c;
  return std::string(1, char(h.size())) + char(sum & 0xff) + h + m.data;
}

std::string archive(std::initializer_list<Member> members) {
  std::string out;
  for (const Member& m : members) out += member(m);
  return out + '\0';
}

class LhaTest : public WwwTest {
 protected:
  void SetUp() override {
    WwwTest::SetUp();
    zvWwwInstallHooks();
    world = zvNewWorld("w.wrl");
    ASSERT_NE(world, nullptr);
    zvSetCurrentWorld(world);
    zvWwwSetBaseUrl(zvPathToFileUrl(user("w.wrl").c_str()));
  }
  void TearDown() override {
    zvDeleteWorld(world);
    WwwTest::TearDown();
  }
  int extract(const std::string& bytes, const char* name = "pack.lzh") {
    put(user(name), bytes);
    return zvExtractLha(name);
  }
  ZvUrlHash* entry(const char* name) { return zvFindUrlHashEntry(world->urlTable, name); }
  // Nothing may be written anywhere but the cache: not beside the archive,
  // not above the temporary tree.
  void expectNothingWritten() {
    EXPECT_TRUE(filesUnder(cache()).empty()) << filesUnder(cache())[0];
    EXPECT_EQ(filesUnder(root + "/user").size(), 1u);
    EXPECT_FALSE(fs::exists(root + "/evil"));
    EXPECT_FALSE(fs::exists(cache() + "evil"));
  }
  ZvWorld* world = nullptr;
};

ZvWorld* ranIn;
std::string ranFile;
int recordScript(ZvWorld* world, const char* file) {
  ranIn = world;
  ranFile = file;
  return 0;
}

TEST_F(LhaTest, MembersAreEnteredUnderTheirArchiveNamesAndScriptsRun) {
  zvWwwSetScriptRunner(recordScript);
  std::string world1 = "#VRML V1.0 ascii\n";
  ASSERT_EQ(extract(archive({{"a.wrl", world1, 0},
                             {"tex\\t.txt", "text", 0},
                             {"sub/w.wrl.gz", gzip(world1), 1},
                             {"./dot.tcl", "puts hi", 1}})),
            ZV_OK)
      << sink.dump();
  ZvUrlHash* a = entry("a.wrl");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->type, ZV_TYPE_VRML);
  EXPECT_EQ(std::string(a->local_filename).rfind(cache() + "lha/", 0), 0u) << a->local_filename;
  EXPECT_EQ(get(a->local_filename), world1);
  ASSERT_NE(entry("tex/t.txt"), nullptr);
  EXPECT_EQ(get(entry("tex/t.txt")->local_filename), "text");
  ASSERT_NE(entry("sub/w.wrl.gz"), nullptr);
  EXPECT_EQ(entry("sub/w.wrl.gz")->type, ZV_TYPE_VRML);  // inflated on the way in
  EXPECT_EQ(get(entry("sub/w.wrl.gz")->local_filename), world1);
  ASSERT_NE(entry("dot.tcl"), nullptr);
  EXPECT_EQ(entry("dot.tcl")->type, ZV_TYPE_TCL);
  EXPECT_EQ(ranIn, world);
  EXPECT_EQ(get(ranFile), "puts hi");
}

TEST_F(LhaTest, NamesThatClimbOutRefuseTheWholeArchive) {
  for (const char* evil : {"../evil", "ok/../../evil", "..\\evil", "/tmp/qm-www-abs-evil", "\\evil"}) {
    sink.clear();
    EXPECT_EQ(extract(archive({{"fine.wrl", "x", 0}, {evil, "pwned", 0}})), ZV_FAIL) << evil;
    EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvExtractLha: invalid LHA file")) << evil << sink.dump();
    EXPECT_EQ(entry("fine.wrl"), nullptr);
    expectNothingWritten();
  }
  EXPECT_FALSE(fs::exists("/tmp/qm-www-abs-evil"));
}

TEST_F(LhaTest, DamagedArchivesTakeBackWhatTheyWrote) {
  EXPECT_EQ(extract(archive({{"a.wrl", "aaaa", 0}, {"b.wrl", "bbbb", 0, "-lh0-", 1}})), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvExtractLha: CRC error.");
  EXPECT_EQ(entry("a.wrl"), nullptr);
  expectNothingWritten();

  std::string whole = archive({{"a.wrl", std::string(3000, 'a'), 1}});
  EXPECT_EQ(extract(whole.substr(0, 1500)), ZV_FAIL);
  expectNothingWritten();

  EXPECT_EQ(extract("this is not an archive at all"), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvExtractLha: invalid LHA file"));
  EXPECT_EQ(extract(archive({{"dir/", "", 0, "-lhd-"}})), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvExtractLha: there is no file in"));
  expectNothingWritten();
}

TEST_F(LhaTest, SizesAreCheckedBeforeAndWhileWriting) {
  zvWwwSetSizeLimit(1000);
  EXPECT_EQ(extract(archive({{"a.wrl", std::string(600, 'a'), 0}, {"b.wrl", std::string(600, 'b'), 0}})),
            ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvExtractLha: lack of disk space.");
  // A header that understates its member cannot smuggle more bytes through.
  Member liar{"c.wrl", std::string(900, 'c'), 0};
  liar.declaredLength = 10;
  EXPECT_EQ(extract(archive({liar})), ZV_FAIL);
  expectNothingWritten();
}

TEST_F(LhaTest, NeedsAWorldAndAnArchive) {
  EXPECT_EQ(zvExtractLha("absent.lzh"), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvExtractLha: can not open file absent.lzh");
  zvSetCurrentWorld(nullptr);
  EXPECT_EQ(extract(archive({{"a.wrl", "a", 0}})), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvWwwLoadFile: world is NULL");
  zvSetCurrentWorld(world);
  memory.failAfter(0);
  EXPECT_EQ(zvExtractLha("pack.lzh"), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvExtractLha: can not allocate menory");
  memory.failAfter(-1);
  expectNothingWritten();
}

}  // namespace
