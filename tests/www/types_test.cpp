// Type codes by suffix, inner suffix and MIME name; scheme codes.
#include "tests/www/wwwtest.h"

namespace {

TEST(WwwTypes, SuffixTakesTheLastDotAfterTheFirstCharacter) {
  EXPECT_EQ(zvSuffixToType("a.b.wrl"), ZV_TYPE_VRML);
  EXPECT_EQ(zvSuffixToType(".wrl"), ZV_TYPE_OTHER);
  EXPECT_EQ(zvSuffixToType("x.JPG"), ZV_TYPE_JPEG);
  EXPECT_EQ(zvSuffixToType("x.Jpeg"), ZV_TYPE_JPEG);
  EXPECT_EQ(zvSuffixToType("x.wrl.gz"), ZV_TYPE_GZIP);
  EXPECT_EQ(zvSuffixToType("x.wrz"), ZV_TYPE_GZIP);
  EXPECT_EQ(zvSuffixToType("x.png"), ZV_TYPE_PNG);
  EXPECT_EQ(zvSuffixToType("dir.wrl/file"), ZV_TYPE_OTHER);
  EXPECT_EQ(zvSuffixToType("x.wrlx"), ZV_TYPE_OTHER);
  EXPECT_EQ(zvSuffixToType(nullptr), ZV_TYPE_OTHER);
}

TEST(WwwTypes, InnerSuffixIsComparedExactly) {
  EXPECT_EQ(zvInnerSuffixToType("x.wrl.gz"), ZV_TYPE_VRML);
  EXPECT_EQ(zvInnerSuffixToType("x.WRL.gz"), ZV_TYPE_OTHER);
  EXPECT_EQ(zvInnerSuffixToType("t.gif.gz"), ZV_TYPE_GIF);
  EXPECT_EQ(zvInnerSuffixToType("x.tar.gz"), ZV_TYPE_OTHER);
  EXPECT_EQ(zvInnerSuffixToType("x.gz"), ZV_TYPE_OTHER);
  EXPECT_EQ(zvInnerSuffixToType(".wrl.gz"), ZV_TYPE_OTHER);  // the first dot is never counted
}

TEST(WwwTypes, MimeNamesGoBothWays) {
  const char* names[] = {"a.bmp", "a.ras", "a.avi", "a.wav", "a.wrl", "a.tcl", "a.wkn",
                         "a.jpg", "a.gif", "a.gz",  "a.lzh", "a.png"};
  for (const char* name : names) {
    const char* mime = zvTypeToMimeName(name);
    ASSERT_NE(mime, nullptr) << name;
    EXPECT_EQ(zvMimeNameToType(mime), zvSuffixToType(name)) << name;
  }
  EXPECT_STREQ(zvTypeToMimeName("w.wrl"), "x-world/x-vrml");
  EXPECT_STREQ(zvTypeToMimeName("p.png"), "image/png");
  EXPECT_EQ(zvTypeToMimeName("a.txt"), nullptr);
  EXPECT_EQ(zvMimeNameToType("IMAGE/GIF"), ZV_TYPE_OTHER);
  EXPECT_STREQ(zvTypeToSuffix(99), "");
}

TEST(WwwTypes, SchemeCodes) {
  EXPECT_EQ(zvUrlScheme("file:///x.wrl"), ZV_SCHEME_FILE);
  EXPECT_EQ(zvUrlScheme("FILE:/x"), ZV_SCHEME_FILE);
  EXPECT_EQ(zvUrlScheme("HtTp://h/x"), ZV_SCHEME_HTTP);
  EXPECT_EQ(zvUrlScheme("https://h/x"), ZV_SCHEME_OTHER);
  EXPECT_EQ(zvUrlScheme("x.wrl"), ZV_SCHEME_NONE);
  EXPECT_EQ(zvUrlScheme("/home/me/a:b.wrl"), ZV_SCHEME_NONE);  // a path, not a scheme
  EXPECT_EQ(zvUrlScheme(":x"), ZV_SCHEME_NONE);
  EXPECT_EQ(zvUrlScheme(nullptr), -1);
}

}  // namespace
