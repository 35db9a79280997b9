// The real program in its batch modes, as a script or a user runs it.
#include <fstream>
#include <string>

#include "tests/shell/runprogram.h"

namespace {

using qmtest::Outcome;
constexpr auto run = qmtest::runProgram;
std::string data(const char* name) { return std::string(QUILLMOOR_SOURCE_DIR) + "/tests/data/" + name; }

class Batch : public qmtest::ProgramTest {
 protected:
  Batch() : ProgramTest("batch") {}
};

TEST_F(Batch, CheckSummarisesEachWorldAndSaysWhetherAllWereRead) {
  Outcome ok = run("--check " + data("lamp_and_box.wrl"));
  EXPECT_EQ(ok.status, 0) << ok.out;
  EXPECT_NE(ok.out.find("lamp_and_box.wrl: "), std::string::npos);
  EXPECT_NE(ok.out.find("1 cameras, 1 lights, 0 inlines"), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find("7 face"), std::string::npos) << ok.out;  // six for the box, one floor
  Outcome bad = run("--check " + data("lamp_and_box.wrl") + " " + data("broken_header.wrl"));
  EXPECT_EQ(bad.status, 1) << bad.out;
  EXPECT_NE(bad.out.find("File does not have a valid header string."), std::string::npos) << bad.out;
  EXPECT_NE(bad.out.find("broken_header.wrl: not read"), std::string::npos);
  EXPECT_EQ(run("--check").status, 1);
  EXPECT_EQ(run("--check " + (dir / "nowhere.wrl").string()).status, 1);
}

TEST_F(Batch, WriteProducesAWorldThatReadsAgain) {
  std::string out = (dir / "again.wrl").string();
  Outcome w = run("--write " + out + " " + data("lamp_and_box.wrl"));
  ASSERT_EQ(w.status, 0) << w.out;
  std::ifstream f(out);
  std::string first;
  std::getline(f, first);
  EXPECT_EQ(first, "#VRML V1.0 ascii");
  Outcome again = run("--check " + out);
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_NE(again.out.find("1 cameras, 1 lights"), std::string::npos) << again.out;
  EXPECT_EQ(run("--write " + out).status, 1);  // no world named
}

TEST_F(Batch, VersionAndHelp) {
  Outcome v = run("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("Quillmoor ", 0), 0u);
  EXPECT_NE(run("--help").out.find("--check"), std::string::npos);
}

}  // namespace
