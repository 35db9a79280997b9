// Relative URL resolution and file: URLs.
#include <cstring>

#include "tests/www/wwwtest.h"

namespace {

class UrlTest : public qmtest::SceneTest {
 protected:
  std::string resolve(const char* base, const char* url) {
    const char* r = zvDdeParseAnchor(base, url);
    return r ? r : "<null>";
  }
};

TEST_F(UrlTest, RelativeAgainstHttpBase) {
  const char* base = "http://host/d/e/a.wrl";
  EXPECT_EQ(resolve(base, "b.wrl"), "http://host/d/e/b.wrl");
  EXPECT_EQ(resolve(base, "../b.wrl"), "http://host/d/b.wrl");
  EXPECT_EQ(resolve(base, "../../b.wrl"), "http://host/b.wrl");
  EXPECT_EQ(resolve(base, "/b.wrl"), "http://host/b.wrl");
  EXPECT_EQ(resolve(base, "./c.wrl"), "http://host/d/e/./c.wrl");
  EXPECT_EQ(resolve(base, "//other/x.wrl"), "http://other/x.wrl");
  EXPECT_EQ(resolve(base, "ftp://x/y.wrl"), "ftp://x/y.wrl");
  EXPECT_EQ(resolve("http://host/d/", "b.wrl"), "http://host/d/b.wrl");
  EXPECT_EQ(resolve("http://host/d/", "../b.wrl"), "http://host/b.wrl");
  EXPECT_EQ(resolve("http://host", "b.wrl"), "http://host/b.wrl");
  EXPECT_EQ(sink.count(ZV_DEBUG_WARNING), 0) << sink.dump();
  char out[17];
  EXPECT_EQ(zvResolveUrl("http://h/a/b.wrl", "c.wrl", out, sizeof out), ZV_OK);
  EXPECT_STREQ(out, "http://h/a/c.wrl");
  EXPECT_EQ(zvResolveUrl("http://h/a/b.wrl", "cc.wrl", out, sizeof out), ZV_FAIL);
}

TEST_F(UrlTest, ClimbingAboveTheRootFailsWithTheWarning) {
  EXPECT_EQ(zvDdeParseAnchor("http://host/d/e/a.wrl", "../../../b.wrl"), nullptr);
  EXPECT_EQ(sink.last().rfind("zvDdeParseAnchor: absolute : http://host/d/e/a.wrl, relative : ../../../b.wrl", 0), 0u);
  EXPECT_EQ(zvDdeParseAnchor("file:///home/w.wrl", "../../x.wrl"), nullptr);
  EXPECT_EQ(zvDdeParseAnchor("/home/w.wrl", "../../x.wrl"), nullptr);
  EXPECT_EQ(zvDdeParseAnchor("", "x.wrl"), nullptr);  // nothing to be relative to
  EXPECT_EQ(sink.count(ZV_DEBUG_WARNING), 4);
}

TEST_F(UrlTest, FileUrlsAndPlainPathsAsBase) {
  EXPECT_EQ(resolve("file:///home/u/w.wrl", "../x.wrl"), "file:///home/x.wrl");
  EXPECT_EQ(resolve("file:///home/u/w.wrl", "../../x.wrl"), "file:///x.wrl");
  EXPECT_EQ(resolve("file:///home/u/w.wrl", "/t.gif"), "file:///t.gif");
  EXPECT_EQ(resolve("/home/u/w.wrl", "tex/a.gif"), "/home/u/tex/a.gif");
  EXPECT_EQ(resolve("/home/u/w.wrl", "/etc/x.wrl"), "/etc/x.wrl");
  EXPECT_EQ(resolve("", "/abs/x.wrl"), "/abs/x.wrl");
}

TEST_F(UrlTest, FileUrlToPathDecodesEscapes) {
  EXPECT_STREQ(zvFileUrlToPath("file:///a%20b/c.wrl"), "/a b/c.wrl");
  EXPECT_STREQ(zvFileUrlToPath("file://localhost/x%2ay.wrl"), "/x*y.wrl");
  EXPECT_STREQ(zvFileUrlToPath("FILE:/x.wrl"), "/x.wrl");
  EXPECT_EQ(zvFileUrlToPath("file://otherhost/etc/passwd"), nullptr);  // not a file of ours
  EXPECT_STREQ(zvFileUrlToPath("file://LocalHost/x.wrl"), "/x.wrl");
  EXPECT_STREQ(zvFileUrlToPath("file:///bad%zz%4"), "/bad%zz%4");
  EXPECT_STREQ(zvFileUrlToPath("file:///etc/passwd%00.wrl"), "/etc/passwd%00.wrl");
  EXPECT_EQ(zvFileUrlToPath("http://h/x.wrl"), nullptr);
  EXPECT_EQ(zvFileUrlToPath("file://hostonly"), nullptr);
}

TEST_F(UrlTest, PathAndFileUrlRoundTrip) {
  const char* paths[] = {"/tmp/my world/100%/x#1.wrl", "/a/b:c|d.wrl", "/\xc3\xa9t\xc3\xa9/q?.wrl", "/plain/x.wrl"};
  for (const char* path : paths) {
    std::string url = zvPathToFileUrl(path);
    EXPECT_EQ(url.compare(0, 8, "file:///"), 0) << url;
    EXPECT_EQ(url.find_first_of(" #?\x80\xc3"), std::string::npos) << url;
    EXPECT_STREQ(zvFileUrlToPath(url.c_str()), path) << url;
  }
  EXPECT_STREQ(zvPathToFileUrl("/a b/c.wrl"), "file:///a%20b/c.wrl");
  EXPECT_STREQ(zvPathToFileUrl(zvFileUrlToPath("file:///a%20b/c%25d.wrl")), "file:///a%20b/c%25d.wrl");
}

}  // namespace
