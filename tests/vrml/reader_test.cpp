// The reader's input and node layers on small texts.
#include <zlib.h>

#include <cstring>
#include <random>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>
#include <string>

#include "tests/support/testsupport.h"
#include "vrml/qvnodes.h"

namespace {

class ReaderTest : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    qmtest::SceneTest::SetUp();
    QvResetCurrentFile("test.wrl");
  }
  // Reads every top-level node of the text; unknown ones are skipped.
  std::vector<QvNode*> readAll(const std::string& text, bool* failed = nullptr) {
    input = std::make_unique<QvInput>("test.wrl", text);
    std::vector<QvNode*> nodes;
    if (failed) *failed = false;
    for (;;) {
      QvNode* n = nullptr;
      if (!QvDB::read(input.get(), n)) {
        if (QvGetLastError() == QV_ERR_UNKNOWN_NODE) {
          QvClearLastError();
          continue;
        }
        if (failed) *failed = true;
        break;
      }
      if (!n) break;
      n->ref();
      nodes.push_back(n);
    }
    owned.insert(owned.end(), nodes.begin(), nodes.end());
    return nodes;
  }
  QvNode* readOne(const std::string& text) {
    auto nodes = readAll("#VRML V1.0 ascii\n" + text);
    return nodes.empty() ? nullptr : nodes[0];
  }
  void TearDown() override {
    for (QvNode* n : owned) n->unref();
    input.reset();
    qmtest::SceneTest::TearDown();
  }
  std::unique_ptr<QvInput> input;
  std::vector<QvNode*> owned;
};

TEST_F(ReaderTest, HeaderMustBeExact) {
  EXPECT_NE(readAll("#VRML V1.0 ascii\r\nCube { }").size(), 0u);
  EXPECT_NE(readAll("\n\n  #VRML V1.0 ascii\nCube { }").size(), 0u);
  for (const char* bad : {"#VRML V1.0 ascii \nCube { }", "#VRML V2.0 utf8\nCube { }"}) {
    sink.clear();
    bool failed;
    EXPECT_TRUE(readAll(bad, &failed).empty()) << bad;
    EXPECT_TRUE(failed);
    EXPECT_TRUE(sink.hasText("File does not have a valid header string.\n\tNG:   ")) << sink.dump();
    EXPECT_TRUE(sink.hasText("\tOK:   #VRML V1.0 ascii"));
  }
  sink.clear();
  EXPECT_TRUE(readAll("Cube { }").empty());
  EXPECT_TRUE(sink.hasText("The header string is not found."));
}

TEST_F(ReaderTest, StringsKeepQuotesBackslashesAndLines) {
  auto* info = static_cast<QvInfo*>(readOne("Info { string \"a \\\"quoted\\\" word\" }"));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->string.value, "a \"quoted\" word");
  info = static_cast<QvInfo*>(readOne("Info { string \"C:\\dir\nnext\" } Cube { }"));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->string.value, "C:\\dir\nnext");
  EXPECT_EQ(static_cast<QvInfo*>(readOne("Info { }"))->string.value, "<Undefined info>");
  // A list of strings gives the lines of a text.
  auto* text = static_cast<QvAsciiText*>(readOne("AsciiText { string [ \"one\", \"two\" ] justification CENTER }"));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->string.value, "one\ntwo");
  EXPECT_EQ(text->justification.value, 2);
  auto* style = static_cast<QvFontStyle*>(readOne("FontStyle { size 2.5 family TYPEWRITER style ( BOLD | ITALIC ) }"));
  ASSERT_NE(style, nullptr);
  EXPECT_FLOAT_EQ(style->size.value, 2.5f);
  EXPECT_EQ(style->family.value, 2);
  EXPECT_EQ(style->style.value, 3);
}

TEST_F(ReaderTest, MultipleValuesWithAndWithoutBrackets) {
  auto* c = static_cast<QvCoordinate3*>(readOne("Coordinate3 { point [ 1 2 3, 4 5 6, ] }"));
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->point.num(), 2);
  EXPECT_FLOAT_EQ(c->point.values[1].v[2], 6);
  auto* f = static_cast<QvIndexedFaceSet*>(readOne("IndexedFaceSet { coordIndex [ ] materialIndex 5 }"));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->coordIndex.num(), 0);
  ASSERT_EQ(f->materialIndex.num(), 1);
  EXPECT_EQ(f->materialIndex.values[0], 5);
  EXPECT_EQ(f->normalIndex.values[0], -1);  // untouched default
  sink.clear();
  EXPECT_EQ(readOne("IndexedFaceSet { coordIndex [ 1 2 ] }"), nullptr);
  EXPECT_TRUE(sink.hasText("Expected ',' or ']' but got '2' while reading value 1")) << sink.dump();
  // Numbers in every spelling the grammar allows.
  c = static_cast<QvCoordinate3*>(readOne("Coordinate3 { point [ -1.5e2 +.5 7., 010 1E+1 0 ] }"));
  ASSERT_NE(c, nullptr);
  EXPECT_FLOAT_EQ(c->point.values[0].v[0], -150);
  EXPECT_FLOAT_EQ(c->point.values[0].v[1], 0.5f);
  EXPECT_FLOAT_EQ(c->point.values[0].v[2], 7);
  auto* idx = static_cast<QvIndexedLineSet*>(readOne("IndexedLineSet { coordIndex [ 0x10, 010, -3 ] }"));
  ASSERT_NE(idx, nullptr);
  EXPECT_EQ(idx->coordIndex.values, (std::vector<int32_t>{16, 8, -3}));
}

// Integer lists take a quick way through their plain stretches; whatever
// else a list holds must read as it always did, lines counted the same.
TEST_F(ReaderTest, IntegerListsMixPlainAndOtherForms) {
  auto* f = static_cast<QvIndexedFaceSet*>(readOne(
      "IndexedFaceSet { coordIndex [ 1, 2,\n 3, -1, # a note\n 4, 0x5, 06 , +7 ,\n 1234567890, -0 ]\n"
      " materialIndex [ 3, 4, # trailing comma, then a comment\n ] normalIndex [ 8 # one\n ] }"));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->coordIndex.values, (std::vector<int32_t>{1, 2, 3, -1, 4, 5, 6, 7, 1234567890, 0}));
  EXPECT_EQ(f->materialIndex.values, (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(f->normalIndex.values, (std::vector<int32_t>{8}));
  // A fault after a plain stretch names its element and line.
  sink.clear();
  EXPECT_EQ(readOne("IndexedFaceSet { coordIndex [ 1,\n2,\n\n3 x ] }"), nullptr);
  EXPECT_TRUE(sink.hasText("Expected ',' or ']' but got 'x' while reading value 3")) << sink.dump();
  EXPECT_TRUE(sink.hasText("Occurred at line 5")) << sink.dump();
  sink.clear();
  EXPECT_EQ(readOne("IndexedFaceSet { coordIndex [ 1, 2,\n 3.5, 4 ] }"), nullptr);
  EXPECT_TRUE(sink.hasText("Expected ',' or ']' but got '.' while reading value 3")) << sink.dump();
  sink.clear();
  EXPECT_EQ(readOne("IndexedFaceSet { coordIndex [ 1, 2,\n, 4 ] }"), nullptr);
  EXPECT_TRUE(sink.hasText("Couldn't read value 3 of field")) << sink.dump();
  sink.clear();
  EXPECT_EQ(readOne("IndexedFaceSet { coordIndex [ 1, 2, "), nullptr);
  EXPECT_TRUE(sink.hasText("Couldn't read value 3 of field")) << sink.dump();
}

// Float lists too: a number read from a plain stretch is the very float
// the general reader gives it alone, and other forms fall back whole.
TEST_F(ReaderTest, FloatListsReadEachNumberAsTheGeneralReaderDoes) {
  std::mt19937 random(7);
  std::vector<std::string> numbers = {"0", "-0.0", ".5", "5.", "+3.25", "0.1", "1e3", "123456789012345678901",
                                      "9007199254740993", "0.0000000000000000000000001", "-7.000001"};
  for (int i = 0; i < 600; ++i) {
    std::string n = random() % 3 ? "" : "-";
    for (unsigned d = random() % 8; d > 0; --d) n += char('0' + random() % 10);
    n += ".";
    for (unsigned d = random() % 12; d > 0; --d) n += char('0' + random() % 10);
    if (n == "." || n == "-.") n += "5";
    numbers.push_back(n);
  }
  while (numbers.size() % 3) numbers.push_back("1");
  std::string list = "Coordinate3 { point [";
  for (size_t i = 0; i < numbers.size(); i += 3)
    list += " " + numbers[i] + " " + numbers[i + 1] + "\t" + numbers[i + 2] + (i % 2 ? ",\n" : ",");
  auto* all = static_cast<QvCoordinate3*>(readOne(list + " ] }"));
  ASSERT_NE(all, nullptr);
  ASSERT_EQ(all->point.values.size(), numbers.size() / 3);
  for (size_t i = 0; i < numbers.size(); i += 3) {
    auto* one = static_cast<QvCoordinate3*>(
        readOne("Coordinate3 { point " + numbers[i] + " " + numbers[i + 1] + " " + numbers[i + 2] + " }"));
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(std::memcmp(one->point.values[0].v, all->point.values[i / 3].v, sizeof(QvVec3)), 0)
        << numbers[i] << " " << numbers[i + 1] << " " << numbers[i + 2];
  }
  // Comments inside elements, numbers run together, exponents, and a fault
  // on the right line with the right element.
  auto* t = static_cast<QvTextureCoordinate2*>(
      readOne("TextureCoordinate2 { point [ 0.5 0.25, 1 # u\n 2, 1-2, 3e1 .5e-1, ] }"));
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->point.values.size(), 4u);
  EXPECT_FLOAT_EQ(t->point.values[1].v[1], 2);
  EXPECT_FLOAT_EQ(t->point.values[2].v[1], -2);
  EXPECT_FLOAT_EQ(t->point.values[3].v[1], 0.05f);
  sink.clear();
  EXPECT_EQ(readOne("Material { transparency [ 0.5,\n 0.25,\n 0.75 x ] }"), nullptr);
  EXPECT_TRUE(sink.hasText("Expected ',' or ']' but got 'x' while reading value 3")) << sink.dump();
  EXPECT_TRUE(sink.hasText("Occurred at line 4")) << sink.dump();
  sink.clear();
  EXPECT_EQ(readOne("Coordinate3 { point [ 1 2 3, 4 5, 6 7 8 ] }"), nullptr);
  EXPECT_TRUE(sink.hasText("Couldn't read value 2 of field")) << sink.dump();
}

TEST_F(ReaderTest, BitMasksEnumsAndBooleans) {
  auto* cone = static_cast<QvCone*>(readOne("Cone { parts ( SIDES | BOTTOM ) }"));
  ASSERT_NE(cone, nullptr);
  EXPECT_EQ(cone->parts.value, 3);
  EXPECT_EQ(static_cast<QvCone*>(readOne("Cone { parts ALL }"))->parts.value, 4);
  EXPECT_EQ(static_cast<QvCone*>(readOne("Cone { }"))->parts.value, 4);
  EXPECT_EQ(readOne("Cone { parts ( SIDES BOTTOM ) }"), nullptr);
  EXPECT_TRUE(sink.hasText("Expected '|' or ')', got 'B' in QvSFBitMask value"));
  EXPECT_EQ(static_cast<QvPointLight*>(readOne("PointLight { on 0 }"))->on.value, 0);
  EXPECT_EQ(static_cast<QvPointLight*>(readOne("PointLight { on TRUE }"))->on.value, 1);
  EXPECT_EQ(readOne("PointLight { on 2 }"), nullptr);
  EXPECT_TRUE(sink.hasText("Illegal value for QvSFBool: 2 (must be 0 or 1)"));
  EXPECT_EQ(readOne("PointLight { on yes }"), nullptr);
  EXPECT_TRUE(sink.hasText("Unknown value (\"yes\") for QvSFBool (must be TRUE or FALSE)"));
  EXPECT_EQ(readOne("MaterialBinding { value PER_SOMETHING }"), nullptr);
  EXPECT_TRUE(sink.hasText("Unknown QvSFEnum enumeration value \"PER_SOMETHING\""));
  auto* h = static_cast<QvEventHandler*>(readOne("EventHandler { eventType ( BUTTON_DOWN | KEY ) }"));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->eventType.value, 336 | 3);
}

TEST_F(ReaderTest, DefUseAndReferences) {
  auto* sep = static_cast<QvSeparator*>(readOne("Separator { DEF \"my cube\" Cube { width 3 } USE \"my cube\" }"));
  ASSERT_NE(sep, nullptr);
  ASSERT_EQ(sep->getNumChildren(), 2);
  EXPECT_EQ(sep->getChild(0), sep->getChild(1));  // shared, not copied
  EXPECT_EQ(sep->getChild(0)->getName(), "my cube");
  sink.clear();
  auto nodes = readAll("#VRML V1.0 ascii\nSeparator { USE Foo Cube { } }");
  EXPECT_TRUE(sink.hasText("Unknown reference \"Foo\"")) << sink.dump();
  // A node that uses itself is refused instead of making the graph a loop.
  sink.clear();
  auto* loop = static_cast<QvSeparator*>(readOne("DEF A Separator { Cube { } USE A Sphere { } }"));
  ASSERT_NE(loop, nullptr);
  EXPECT_TRUE(sink.hasText("USE A: recursion too deep, node skipped.")) << sink.dump();
  EXPECT_EQ(loop->getNumChildren(), 2);
  // A DEF inside a node that fails stays usable only as long as the input.
  auto later = readAll("#VRML V1.0 ascii\nSeparator { DEF In Cube { width x } } Separator { USE In }");
  EXPECT_EQ(later.size(), 2u);
}

TEST_F(ReaderTest, UnknownNodesAndFieldsAreSkipped) {
  auto* sep = static_cast<QvSeparator*>(readOne("Separator { Bogus { a 1 { b \"}\" } } Cube { } }"));
  ASSERT_NE(sep, nullptr);
  ASSERT_EQ(sep->getNumChildren(), 1);
  EXPECT_STREQ(sep->getChild(0)->typeName(), "Cube");
  auto nodes = readAll("#VRML V1.0 ascii\nFog { color 1 1 1 } Cube { } Sphere { }");
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_STREQ(nodes[1]->typeName(), "Sphere");
  sink.clear();
  auto* cube = static_cast<QvCube*>(readOne("Cube { solid 1 2 [ 3 4 ] ( 5 ) \"six\" width 4 }"));
  ASSERT_NE(cube, nullptr);
  EXPECT_TRUE(sink.hasText("Unknown field \"solid\""));
  EXPECT_FLOAT_EQ(cube->width.value, 4);
  // A declared field list of an extension node is read and checked.
  auto* h = static_cast<QvEventHandler*>(
      readOne("EventHandler { fields [ SFString filename, SFString function, ] filename \"a.tcl\" }"));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->filename.value, "a.tcl");
  EXPECT_EQ(readOne("EventHandler { fields [ SFString ] }"), nullptr);
  EXPECT_TRUE(sink.hasText("Bad field specifications for node"));
}

TEST_F(ReaderTest, LimitsAreReportedNotExceeded) {
  std::string body;
  for (int i = 0; i < 31; ++i) body += (i % 2 ? "width 1 " : "height 1 ");
  // Every set counts, repeats included: the 31st is reported, still read.
  auto* cube = static_cast<QvCube*>(readOne("Cube { " + body + "depth 7 }"));
  ASSERT_NE(cube, nullptr);
  EXPECT_EQ(cube->fieldOrderCount(), 30);
  EXPECT_TRUE(sink.hasText("The number of fields exceeds the limit."));
  EXPECT_FLOAT_EQ(cube->depth.value, 7);
  std::string longName(300, 'x');
  sink.clear();
  zvSetDebugFlag(ZV_DEBUG_WARNING, 1);
  readAll("#VRML V1.0 ascii\n" + longName + " { }");
  EXPECT_TRUE(sink.hasText("buffer 256 size is overflow.")) << sink.dump();
  // Nesting past the limit is skipped with a message, not a stack overflow.
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "Separator { ";
  deep += "Cube { }";
  for (int i = 0; i < 5000; ++i) deep += " }";
  sink.clear();
  QvNode* top = readOne(deep);
  EXPECT_NE(top, nullptr);
  EXPECT_TRUE(sink.hasText("recursion too deep, node skipped."));
  // Truncated and empty inputs end cleanly.
  for (const char* cut : {"#VRML V1.0 ascii\nSeparator { Cube {", "#VRML V1.0 ascii\nCoordinate3 { point [ 1 2",
                          "#VRML V1.0 ascii\nInfo { string \"open", "#VRML V1.0 ascii\n# only a comment",
                          "#VRML V1.0 ascii\nDEF", "#VRML V1.0 ascii\nUSE", ""}) {
    bool failed = false;
    readAll(cut, &failed);
  }
}

TEST_F(ReaderTest, TopLevelReadsOneNodeAtATime) {
  input = std::make_unique<QvInput>("t.wrl", "#VRML V1.0 ascii\nCube { } Sphere { } }");
  QvNode* n = nullptr;
  ASSERT_TRUE(QvDB::read(input.get(), n));
  ASSERT_NE(n, nullptr);
  n->ref();
  owned.push_back(n);
  EXPECT_STREQ(n->typeName(), "Cube");
  EXPECT_EQ(input->isDataInFile(), 1);
  ASSERT_TRUE(QvDB::read(input.get(), n));
  n->ref();
  owned.push_back(n);
  EXPECT_STREQ(n->typeName(), "Sphere");
  EXPECT_EQ(input->isDataInFile(), 0);
  EXPECT_FALSE(QvDB::read(input.get(), n));
  EXPECT_TRUE(sink.hasText("Extra characters ('}') found in input"));
}

// The gzip bytes of text, as one member.
std::string gzipped(const std::string& text) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, uLong(text.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = uInt(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The radii of the spheres read from a file of these bytes; the name says
// nothing of compression, so only the signature can.
std::vector<float> spheresOf(const std::string& bytes) {
  auto dir = std::filesystem::temp_directory_path() / ("qm-gzip-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string path = (dir / "plain-name.wrl").string();
  std::ofstream(path, std::ios::binary) << bytes;
  std::vector<float> radii;
  {
    QvInput in(path.c_str());
    for (QvNode* n = nullptr; in.ok() && QvDB::read(&in, n) && n; n = nullptr) {
      n->ref();
      if (std::strcmp(n->typeName(), "Sphere") == 0) radii.push_back(static_cast<QvSphere*>(n)->radius.value);
      n->unref();
    }
  }
  std::filesystem::remove_all(dir);
  return radii;
}

TEST_F(ReaderTest, CompressedFilesUnpackWhateverTheirTrailerSays) {
  const std::string one = gzipped("#VRML V1.0 ascii\nSphere { radius 4 }\n");
  EXPECT_EQ(spheresOf(one), std::vector<float>{4});
  // A truncated stream is refused whole.
  EXPECT_TRUE(spheresOf(one.substr(0, one.size() / 2)).empty());
  EXPECT_TRUE(sink.hasText("the compressed file is corrupt or too large."));
  // Packs far better than the first guess at its size; the padding after
  // the member hides the size the trailer gives.
  std::string text = "#VRML V1.0 ascii\n";
  for (int i = 0; i < 20000; ++i) text += "Sphere { radius 4 }\n";
  EXPECT_EQ(spheresOf(gzipped(text) + std::string(8, '\0')).size(), 20000u);
  // A second member is not read, as it never was.
  EXPECT_EQ(spheresOf(gzipped(text) + gzipped("Sphere { }\n")).size(), 20000u);

  // A header checksum that does not match is refused, one that does is read.
  std::string header = one.substr(0, 10);
  header[3] = char(header[3] | 0x02);
  uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(header.data()), 10));
  std::string good = header + char(crc & 0xff) + char((crc >> 8) & 0xff) + one.substr(10);
  EXPECT_EQ(spheresOf(good), std::vector<float>{4});
  std::string bad = good;
  bad[10] = char(bad[10] ^ 0x55);
  sink.clear();
  EXPECT_TRUE(spheresOf(bad).empty());
  EXPECT_TRUE(sink.hasText("the compressed file is corrupt or too large."));
}

// Numbers of every length up to past the quick conversions' limits, in
// every form and before every kind of separator: read as the C library
// reads each alone.
TEST_F(ReaderTest, NumbersOfEveryLengthReadAsTheLibraryReadsThem) {
  std::string ints = "#VRML V1.0 ascii\nIndexedFaceSet { coordIndex [", floats = "Coordinate3 { point [";
  std::vector<long long> wantInts;
  std::vector<float> wantFloats;
  const char* separators[] = {",", " ,", "\n, ", ",\t"};
  for (int n = 1; n <= 10; ++n) {
    std::string number = (n % 2 ? "-" : "") + std::string("9081726354").substr(0, size_t(n));
    ints += number + separators[n % 4];
    wantInts.push_back(std::strtoll(number.c_str(), nullptr, 10));
  }
  ints += "7]}\n";
  wantInts.push_back(7);
  int k = 0;
  for (int whole = 0; whole <= 12; ++whole)
    for (int frac = 0; frac <= 12; frac += 3)
      for (const char* form : {"", "-", "e2"}) {
        if (whole + frac == 0) continue;
        std::string number = std::string("1234567890123").substr(0, size_t(whole));
        if (frac) number += "." + std::string("9876543210987").substr(0, size_t(frac));
        number = *form == '-' ? "-" + number : number + form;
        floats += number + " 0\n0" + separators[k++ % 4];
        wantFloats.push_back(std::strtof(number.c_str(), nullptr));
      }
  floats += "0 0 0]}\n";
  wantFloats.push_back(0);
  auto nodes = readAll(ints + floats);
  ASSERT_EQ(nodes.size(), 2u) << sink.dump();
  auto& gotInts = static_cast<QvIndexedFaceSet*>(nodes[0])->coordIndex.values;
  ASSERT_EQ(gotInts.size(), wantInts.size());
  // Ten digits are past a 32-bit integer's quick way, not past its range.
  for (size_t i = 0; i < wantInts.size(); ++i) EXPECT_EQ(gotInts[i], int32_t(wantInts[i])) << i;
  auto& points = static_cast<QvCoordinate3*>(nodes[1])->point.values;
  ASSERT_EQ(points.size(), wantFloats.size());
  for (size_t i = 0; i < wantFloats.size(); ++i) EXPECT_EQ(points[i].v[0], wantFloats[i]) << i;
}

}  // namespace
