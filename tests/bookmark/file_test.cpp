// landmark.htm: what is written reads back, what was edited by hand or
// damaged reads as far as it makes sense, and a failed write keeps the
// previous file.
#include <sys/resource.h>

#include <clocale>
#include <csignal>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tests/bookmark/bookmarktest.h"

namespace {

using qmtest::BookmarkTest;

class BookmarkFile : public BookmarkTest {};

TEST_F(BookmarkFile, SavedBookmarksReadBackWithTheirMatrices) {
  world = enter("file:///worlds/hall.wrl", "Great (Hall) of  Kings");
  ZvTransform turned;
  zvTransformIdentity(&turned);
  // A view turned about x and y, so that rows and columns differ.
  const float c = std::cos(0.3f), s = std::sin(0.3f), c2 = std::cos(1.1f), s2 = std::sin(1.1f);
  const float m[3][3] = {{c2, 0, -s2}, {s * s2, c, s * c2}, {c * s2, -s, c * c2}};
  std::memcpy(turned.m, m, sizeof m);
  turned.m[3][0] = 12.5f, turned.m[3][1] = -3.25f, turned.m[3][2] = 1000.125f;
  ASSERT_EQ(zvPlacePerson(world->person, &turned), ZV_OK);
  const char* title = zvAddBookmark(world);
  ASSERT_NE(title, nullptr) << sink.dump();
  EXPECT_STREQ(title, "Great (Hall) of  Kings(12.500000,-3.250000,1000.125000)");
  ASSERT_NE(zvAddBookmark(world), nullptr);
  EXPECT_EQ(zvGetBookmarkNum(), 1);
  ASSERT_EQ(zvSaveBookmark(), 0) << sink.dump();

  // Keep copies, then read the list from the file alone.
  ZvBookmark saved = *zvGetBookmarkByIndex(0, nullptr);
  std::string url = saved.url, savedTitle = saved.title;
  zvDeleteAllBookmarks();
  EXPECT_EQ(zvGetBookmarkNum(), -1);
  ASSERT_NE(zvReadBookmark(), nullptr);
  EXPECT_EQ(zvGetBookmarkNum(), 1);
  const ZvBookmark* back = zvGetBookmarkByIndex(0, nullptr);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->url, url);
  EXPECT_EQ(back->title, savedTitle);
  // The bookmark's matrix is the camera where the person was put.
  const ZvTransform* eye = zvGetObjectWRT(zvGetPersonCamera(world));
  for (int i = 0; i < 12; ++i) {
    EXPECT_NEAR(back->location[i], saved.location[i], 1e-5f) << "number " << i;
    EXPECT_NEAR(back->location[i], (&eye->m[0][0])[i], 1e-4f) << "number " << i;
  }

  // The file is the HTML page of the design: header, a line each, footer.
  std::string text = file();
  EXPECT_EQ(text.rfind(header(), 0), 0u);
  EXPECT_NE(text.find("\t<DT><A HREF=\"file:///worlds/hall.wrl\" LOC=\"12.500000 -3.250000 1000.125000 "),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 9), "</DL><P>\n");
}

TEST_F(BookmarkFile, QuotesBreaksAndMarkupInTitlesAndUrlsReadBack) {
  world = enter("http://h/a\"b\nc.wrl", "Say \"hi\" <b>&</b>\r\nnext line");
  ASSERT_NE(zvAddBookmark(world), nullptr);
  world->url[0] = 'H';  // a second bookmark after it must survive too
  ASSERT_NE(zvAddBookmark(world), nullptr);
  ASSERT_EQ(zvSaveBookmark(), 0);
  zvDeleteAllBookmarks();
  zvReadBookmark();
  ASSERT_EQ(zvGetBookmarkNum(), 1) << file();
  const ZvBookmark* b = zvGetBookmarkByIndex(0, nullptr);
  EXPECT_STREQ(b->url, "http://h/a%22b%0Ac.wrl");
  EXPECT_EQ(std::string(b->title).rfind("Say \"hi\" <b>&</b>  next line(", 0), 0u) << b->title;
  EXPECT_STREQ(zvGetBookmarkByIndex(1, nullptr)->url, "Http://h/a%22b%0Ac.wrl");
}

TEST_F(BookmarkFile, ATitleTooLongForALineIsShortenedAndAUrlTooLongIsRefused) {
  std::string title(700, 'x');
  world = enter("file:///w.wrl", title.c_str());
  ASSERT_NE(zvAddBookmark(world), nullptr);
  ASSERT_EQ(zvSaveBookmark(), 0);
  zvDeleteAllBookmarks();
  zvReadBookmark();
  ASSERT_EQ(zvGetBookmarkNum(), 0);
  std::string back = zvGetBookmarkByIndex(0, nullptr)->title;
  EXPECT_GT(back.size(), 300u);
  EXPECT_EQ(back.find_first_not_of('x'), std::string::npos);

  std::string url = "file:///" + std::string(600, 'u');
  other = enter(url.c_str());
  EXPECT_EQ(zvAddBookmark(other), nullptr);
  EXPECT_EQ(zvGetBookmarkNum(), 0);
}

TEST_F(BookmarkFile, EdgeCasesOfTheList) {
  // The fourth line closes the list: nothing in it.
  writeFile(header() + "</DL><P>\n\t<DT><A HREF=\"x\" LOC=\"0 0 0 1 0 0 0 1 0 0 0 1\">late\n");
  EXPECT_EQ(zvReadBookmark(), nullptr);
  EXPECT_EQ(zvGetBookmarkNum(), -1);
  // An empty list saves as an empty file, which reads as an empty list.
  ASSERT_EQ(zvSaveBookmark(), 0);
  EXPECT_EQ(std::filesystem::file_size(zvBookmarkFilePath()), 0u);
  EXPECT_EQ(zvReadBookmark(), nullptr);
  // A '>' in a title written by hand keeps what follows its last one.
  writeFile(header() + "\t<DT><A HREF=\"u.wrl\" LOC=\"1 2 3 1 0 0 0 1 0 0 0 1\">a > b>c d\n</DL><P>\n");
  ASSERT_NE(zvReadBookmark(), nullptr);
  EXPECT_STREQ(zvGetBookmarkByIndex(0, nullptr)->title, "c d");
  const float* loc = zvGetBookmarkByIndex(0, nullptr)->location;
  EXPECT_FLOAT_EQ(loc[9], 1);
  EXPECT_FLOAT_EQ(loc[11], 3);
  // One past the last is no bookmark; the previous of the first is none.
  EXPECT_EQ(zvGetBookmarkByIndex(1, nullptr), nullptr);
  EXPECT_EQ(zvGetBookmarkByIndex(-1, nullptr), nullptr);
  ZvBookmark* previous = reinterpret_cast<ZvBookmark*>(this);
  EXPECT_NE(zvGetBookmarkByIndex(0, &previous), nullptr);
  EXPECT_EQ(previous, nullptr);
  // A world read from no URL gives no bookmark and leaves the list alone.
  world = enter("file:///w.wrl");
  zvFree(world->url);
  world->url = nullptr;
  EXPECT_EQ(zvAddBookmark(world), nullptr);
  EXPECT_TRUE(sink.hasText("zvSetBookmark: url is NULL")) << sink.dump();
  EXPECT_EQ(zvGetBookmarkNum(), 0);
  EXPECT_EQ(zvAddBookmark(nullptr), nullptr);
  EXPECT_TRUE(sink.hasText("zvAddBookmark: NULL world"));
}

TEST_F(BookmarkFile, ADamagedFileKeepsWhatCameBeforeTheDamage) {
  const std::string good = "\t<DT><A HREF=\"a.wrl\" LOC=\"1 2 3 1 0 0 0 1 0 0 0 1\">A\n";
  const char* damaged[] = {
      "\t<DT><A HREF=\"b.wrl\" LOC=\"1 2 3\">too few numbers\n",
      "\t<DT><A HREF=\"b.wrl\" LOC=\"1 2 3 1 0 0 0 1 0 0 0 1\">no newline",
      "\t<DT><A HREF=\"b.wrl\" LOC=\"1e39 2 3 1 0 0 0 1 0 0 0 1\">out of range\n",
      "\t<DT><A HREF=\"b.wrl\" LOC=\"nan 2 3 1 0 0 0 1 0 0 0 1\">not a number\n",
      "\t<DT><A HREF=\"b.wrl",
  };
  for (const char* line : damaged) {
    zvDeleteAllBookmarks();
    // What follows a line without its newline would join it.
    std::string text = line;
    writeFile(header() + good + good + text + (text.back() == '\n' ? good + "</DL><P>\n" : ""));
    zvReadBookmark();
    EXPECT_EQ(zvGetBookmarkNum(), 1) << line;
  }
  // A line longer than a read is two reads, neither of them a bookmark.
  zvDeleteAllBookmarks();
  writeFile(header() + good + "\t<DT><A HREF=\"" + std::string(2000, 'u') + "\" LOC=\"0 0 0 1 0 0 0 1 0 0 0 1\">t\n" +
            good);
  zvReadBookmark();
  EXPECT_EQ(zvGetBookmarkNum(), 0);
  // A number longer than any written one ends the reading too.
  zvDeleteAllBookmarks();
  writeFile(header() + "\t<DT><A HREF=\"a\" LOC=\"" + std::string(300, '1') + " 0 0 1 0 0 0 1 0 0 0 1\">t\n");
  EXPECT_EQ(zvReadBookmark(), nullptr);
  // Only so many are kept, however long the file.
  zvDeleteAllBookmarks();
  std::string many = header();
  for (int i = 0; i < ZV_BOOKMARK_MAX + 5; ++i) many += good;
  writeFile(many);
  zvReadBookmark();
  EXPECT_EQ(zvGetBookmarkNum(), ZV_BOOKMARK_MAX - 1);
}

TEST_F(BookmarkFile, ReadingStopsCleanlyWhenMemoryRunsOut) {
  writeFile(header() + "\t<DT><A HREF=\"a\" LOC=\"1 2 3 1 0 0 0 1 0 0 0 1\">A\n" +
            "\t<DT><A HREF=\"b\" LOC=\"1 2 3 1 0 0 0 1 0 0 0 1\">B\n</DL><P>\n");
  memory.failAfter(4);  // the first record and its two texts, then one more
  zvReadBookmark();
  EXPECT_EQ(zvGetBookmarkNum(), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvAddBookmark: zvMalloc failed")) << sink.dump();
  zvClearReportFailed();
}

TEST_F(BookmarkFile, AFailedWriteKeepsThePreviousFile) {
  world = enter("file:///w.wrl");
  ASSERT_NE(zvAddBookmark(world), nullptr);
  ASSERT_EQ(zvSaveBookmark(), 0);
  const std::string before = file();
  for (int i = 0; i < 20; ++i) ASSERT_NE(zvAddBookmark(world), nullptr);

  // The disk fills up after a few hundred bytes.
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = before.size() + 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int result = zvSaveBookmark();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(sink.hasText("zvSaveBookmark: maybe disk full")) << sink.dump();
  EXPECT_EQ(file(), before);
  // No temporary file is left behind.
  int files = 0;
  for (auto& entry : std::filesystem::directory_iterator(dir)) files += entry.is_regular_file();
  EXPECT_EQ(files, 1);

  // Nor when the file cannot be replaced at all.
  std::filesystem::remove(zvBookmarkFilePath());
  std::filesystem::create_directory(zvBookmarkFilePath());
  EXPECT_EQ(zvSaveBookmark(), -1);
  EXPECT_TRUE(std::filesystem::is_directory(zvBookmarkFilePath()));
}

TEST_F(BookmarkFile, TheDirectoryIsMadeAndNumbersIgnoreTheLocale) {
  zvSetBookmarkDirectory((dir + "/deep/er").c_str());
  world = enter("file:///w.wrl");
  ZvTransform at;
  zvTransformIdentity(&at);
  at.m[3][0] = 1.5f;
  ASSERT_EQ(zvPlacePerson(world->person, &at), ZV_OK);
  // A locale with a decimal comma, where the machine has one.
  const char* comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  if (!comma) comma = std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
  ASSERT_NE(zvAddBookmark(world), nullptr);
  EXPECT_EQ(zvSaveBookmark(), 0);
  zvDeleteAllBookmarks();
  zvReadBookmark();
  std::setlocale(LC_NUMERIC, "C");
  ASSERT_EQ(zvGetBookmarkNum(), 0);
  EXPECT_NEAR(zvGetBookmarkByIndex(0, nullptr)->location[9], 1.5f, 1e-4f);
  EXPECT_NE(file().find("LOC=\"1.500000 "), std::string::npos);
}

TEST_F(BookmarkFile, TheDefaultPlaceIsTheUsersDataDirectory) {
  zvSetBookmarkDirectory(nullptr);
  const char* saved = std::getenv("XDG_DATA_HOME");
  std::string keep = saved ? saved : "";
  setenv("XDG_DATA_HOME", (dir + "/xdg").c_str(), 1);
  EXPECT_EQ(std::string(zvBookmarkFilePath()), dir + "/xdg/quillmoor/landmark.htm");
  char snapshot[256];
  ASSERT_EQ(zvBookmarkSnapshotPath(7, snapshot, sizeof snapshot), 0);
  EXPECT_EQ(std::string(snapshot), dir + "/xdg/quillmoor/mark07.bmp");
  // A relative XDG_DATA_HOME is to be ignored.
  setenv("XDG_DATA_HOME", "relative", 1);
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", dir.c_str(), 1);
  EXPECT_EQ(std::string(zvBookmarkDirectory()), dir + "/.local/share/quillmoor");
  setenv("HOME", home.c_str(), 1);
  if (saved)
    setenv("XDG_DATA_HOME", keep.c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");
}

}  // namespace
