// The dialog's list, removing bookmarks with their snapshots, and jumping.
#include <cmath>
#include <cstring>
#include <vector>

#include "image/image.h"
#include "tests/bookmark/bookmarktest.h"

namespace {

using qmtest::BookmarkTest;

class BookmarkList : public BookmarkTest {
 protected:
  // count bookmarks in the world, each with a one-colour snapshot whose
  // red channel is its number times ten.
  void take(int count) {
    if (!world) world = enter("file:///w.wrl");
    std::vector<uint8_t> pixels(16 * 12 * 4);
    for (int i = 0; i < count; ++i) {
      ZvTransform at;
      zvTransformIdentity(&at);
      at.m[3][0] = float(i);
      ASSERT_EQ(zvPlacePerson(world->person, &at), ZV_OK);
      ASSERT_NE(zvAddBookmark(world), nullptr) << sink.dump();
      for (size_t p = 0; p < pixels.size(); p += 4) pixels[p] = uint8_t(10 * i), pixels[p + 3] = 255;
      RwImage image{16, 12, 16 * 4, pixels.data()};
      ASSERT_EQ(zvWriteBookmarkSnapshot(zvGetBookmarkNum(), &image), 0);
    }
  }
  // The bookmarks' x positions and the snapshots' red values, in order;
  // -1 for a missing snapshot.
  std::vector<int> places() {
    std::vector<int> out;
    for (int i = 0; i <= zvGetBookmarkNum(); ++i) out.push_back(int(std::lround(zvGetBookmarkByIndex(i, nullptr)->location[9])));
    return out;
  }
  std::vector<int> snapshots(int upTo) {
    std::vector<int> out;
    for (int i = 0; i < upTo; ++i) {
      char name[512];
      zvBookmarkSnapshotPath(i, name, sizeof name);
      ZvImage image{};
      out.push_back(std::filesystem::exists(name) && zvReadBmp(name, &image) == 0 ? image.pixels[0] / 10 : -1);
      zvFreeImage(&image);
    }
    return out;
  }
};

TEST_F(BookmarkList, DeleteAndUndoMoveTheSelectionAsTheListChanges) {
  take(3);
  ZvBookmarkList list;
  ASSERT_EQ(zvInitBookmarkList(&list), ZV_OK);
  EXPECT_EQ(list.count, 3);
  EXPECT_EQ(list.selected, 0);
  ASSERT_EQ(zvBookmarkListSelect(&list, 2), ZV_OK);
  EXPECT_EQ(zvBookmarkListSelect(&list, 3), ZV_FAIL);
  // Deleting the last selects the one before it ...
  ASSERT_EQ(zvBookmarkListDelete(&list), ZV_OK);
  EXPECT_EQ(list.selected, 1);
  // ... deleting another selects the one that moved into its place.
  ASSERT_EQ(zvBookmarkListSelect(&list, 0), ZV_OK);
  ASSERT_EQ(zvBookmarkListDelete(&list), ZV_OK);
  EXPECT_EQ(list.count, 1);
  EXPECT_EQ(list.items[0], 1);
  EXPECT_EQ(list.selected, 0);
  // Undo puts back the last deleted at its place, selected.
  ASSERT_EQ(zvBookmarkListUndo(&list), ZV_OK);
  EXPECT_EQ(list.items[0], 0);
  EXPECT_EQ(list.items[1], 1);
  EXPECT_EQ(list.selected, 0);
  ASSERT_EQ(zvBookmarkListUndo(&list), ZV_OK);
  EXPECT_EQ(list.items[2], 2);
  EXPECT_EQ(list.selected, 2);
  EXPECT_EQ(zvBookmarkListUndo(&list), ZV_FAIL);
  // Nothing reached the bookmarks themselves.
  EXPECT_EQ(zvGetBookmarkNum(), 2);
  zvFreeBookmarkList(&list);
  // An empty list has nothing to delete.
  zvDeleteAllBookmarks();
  ASSERT_EQ(zvInitBookmarkList(&list), ZV_OK);
  EXPECT_EQ(list.selected, -1);
  EXPECT_EQ(zvBookmarkListDelete(&list), ZV_FAIL);
  zvFreeBookmarkList(&list);
}

TEST_F(BookmarkList, OkRemovesInTheOrderDeletedAndRenumbersTheSnapshots) {
  take(5);
  ZvBookmarkList list;
  ASSERT_EQ(zvInitBookmarkList(&list), ZV_OK);
  // Delete the second, then what is now the third (the fourth taken),
  // then the first.
  zvBookmarkListSelect(&list, 1);
  zvBookmarkListDelete(&list);
  zvBookmarkListSelect(&list, 2);
  zvBookmarkListDelete(&list);
  zvBookmarkListSelect(&list, 0);
  zvBookmarkListDelete(&list);
  EXPECT_EQ(zvBookmarkListApply(&list), 3);
  zvFreeBookmarkList(&list);
  EXPECT_EQ(places(), (std::vector<int>{2, 4}));
  // Bookmark i keeps the snapshot numbered i; the numbers past the end are gone.
  EXPECT_EQ(snapshots(5), (std::vector<int>{2, 4, -1, -1, -1}));
}

TEST_F(BookmarkList, RemovingKeepsTheListsEndsRight) {
  take(3);
  EXPECT_EQ(zvRemoveBookmark(3), -1);
  ASSERT_EQ(zvRemoveBookmark(2), 0);  // the tail
  take(1);                            // appended after the new tail
  ASSERT_EQ(zvRemoveBookmark(0), 0);  // the head
  EXPECT_EQ(places(), (std::vector<int>{1, 0}));
  ASSERT_EQ(zvRemoveBookmark(1), 0);
  ASSERT_EQ(zvRemoveBookmark(0), 0);
  EXPECT_EQ(zvGetBookmarkNum(), -1);
  EXPECT_EQ(zvGetBookmarkByIndex(0, nullptr), nullptr);
  take(1);
  EXPECT_EQ(zvGetBookmarkNum(), 0);
}

TEST_F(BookmarkList, AMissingSnapshotInTheMiddleStaysMissing) {
  take(4);
  char name[512];
  zvBookmarkSnapshotPath(2, name, sizeof name);
  std::filesystem::remove(name);
  ASSERT_EQ(zvRemoveBookmark(0), 0);
  EXPECT_EQ(zvRemoveBookmarkSnapshot(0, 4), 0);
  // The third bookmark has no picture; the fourth's is not taken for it.
  EXPECT_EQ(snapshots(4), (std::vector<int>{1, -1, 3, -1}));
}

TEST_F(BookmarkList, ThumbnailsAreTheSnapshotScaledDown) {
  // Left half red, right half blue, at 160 x 120.
  std::vector<uint8_t> pixels(160 * 120 * 4);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) {
      uint8_t* p = &pixels[(y * 160 + x) * 4];
      p[0] = x < 80 ? 255 : 0, p[2] = x < 80 ? 0 : 255, p[3] = 255;
    }
  RwImage image{160, 120, 160 * 4, pixels.data()};
  // The first snapshot may come before the list was ever saved.
  zvSetBookmarkDirectory((dir + "/not/yet").c_str());
  ASSERT_EQ(zvWriteBookmarkSnapshot(0, &image), 0);
  std::vector<uint8_t> thumb(ZV_BOOKMARK_THUMB_WIDTH * ZV_BOOKMARK_THUMB_HEIGHT * 4);
  ASSERT_EQ(zvLoadBookmarkThumb(0, thumb.data()), 0);
  EXPECT_EQ(thumb[0], 255);
  EXPECT_EQ(thumb[2], 0);
  const uint8_t* right = &thumb[(59 * 80 + 79) * 4];
  EXPECT_EQ(right[0], 0);
  EXPECT_EQ(right[2], 255);
  EXPECT_EQ(zvLoadBookmarkThumb(1, thumb.data()), -1);
  // A broken file is no picture, not a failure of the dialog.
  std::ofstream(path("not/yet/mark02.bmp")) << "BM broken";
  EXPECT_EQ(zvLoadBookmarkThumb(2, thumb.data()), -1);
}

TEST_F(BookmarkList, JumpingPlacesThePersonOrOpensTheOtherWorld) {
  take(2);
  ZvTransform there;
  zvBookmarkTransform(zvGetBookmarkByIndex(0, nullptr), &there);
  ASSERT_EQ(zvJumpToBookmark(0), 0);
  const ZvTransform* eye = zvGetObjectWRT(zvGetPersonCamera(world));
  EXPECT_NEAR(eye->m[3][0], 0, 1e-4f);
  ASSERT_EQ(zvJumpToBookmark(1), 0);
  EXPECT_NEAR(zvGetObjectWRT(zvGetPersonCamera(world))->m[3][0], 1, 1e-4f);
  EXPECT_EQ(zvJumpToBookmark(2), -1);

  // In another world the shell opens the bookmark's with its viewpoint.
  static std::string opened;
  static ZvTransform given;
  zvBookmarkHooks().openUrlAt = [](const char* url, const ZvTransform* at) {
    opened = url;
    given = *at;
  };
  other = enter("file:///elsewhere.wrl");
  ASSERT_EQ(zvJumpToBookmark(1), 0);
  EXPECT_EQ(opened, "file:///w.wrl");
  EXPECT_FLOAT_EQ(given.m[3][0], 1);
  // Without a shell to open it, the jump fails.
  zvBookmarkHooks().openUrlAt = nullptr;
  EXPECT_EQ(zvJumpToBookmark(0), -1);
}

}  // namespace
