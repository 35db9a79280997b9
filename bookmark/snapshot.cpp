// snapshot.cpp — the pictures beside the bookmarks: markNN.bmp holds the
// view as it was when bookmark NN was taken, so the numbers must follow
// the list. A removed bookmark takes its picture along and the later ones
// move down a number.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "bookmark/bookmark.h"
#include "image/image.h"
#include "render/render.h"

namespace {

enum { kPathMax = 4096 };

bool writeBmp(FILE* out, const RwImage* image) {
  ZvBmpFileHeader file;
  ZvBmpInfoHeader info;
  if (zvSetBMPHeader(&file, &info, image->width, image->height, 24, 0, 0) != 0) return false;
  if (zvWriteBMPHeaders(out, &file, &info, nullptr) != 0) return false;
  std::vector<uint8_t> row(size_t(image->width) * 3);
  // Bottom row first, blue-green-red.
  for (int y = image->height - 1; y >= 0; --y) {
    const uint8_t* p = image->pixels + size_t(y) * size_t(image->stride);
    for (int x = 0; x < image->width; ++x) {
      row[3 * x] = p[4 * x + 2];
      row[3 * x + 1] = p[4 * x + 1];
      row[3 * x + 2] = p[4 * x];
    }
    if (zvWriteBMPRow(out, row.data(), image->width, 24) != 0) return false;
  }
  return true;
}

}  // namespace

int zvWriteBookmarkSnapshot(int index, const RwImage* image) {
  char path[kPathMax];
  if (!image || !image->pixels || image->width < 1 || image->height < 1 || image->stride < 4 * image->width ||
      zvBookmarkSnapshotPath(index, path, sizeof path) != 0)
    return -1;
  if (zvMakeBookmarkDirectory() != 0) {
    zvWarning("%s : the snapshot cannot be written", path);
    return -1;
  }
  std::string temporary = std::string(path) + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  FILE* out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!out) {
    if (fd >= 0) close(fd), unlink(temporary.c_str());
    zvWarning("%s : the snapshot cannot be written", path);
    return -1;
  }
  bool ok = writeBmp(out, image);
  ok = std::fclose(out) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path) == 0) return 0;
  unlink(temporary.c_str());
  zvWarning("%s : the snapshot cannot be written", path);
  return -1;
}

int zvSaveBookmarkSnapshot(ZvWorld* world, int index) {
  RwImage* image = world ? rwGetCameraImage(zvRenderGetActiveRwCamera(world)) : nullptr;
  if (image && image->pixels && image->width > 0 && image->height > 0)
    return zvWriteBookmarkSnapshot(index, image);
  char path[kPathMax];
  if (zvBookmarkSnapshotPath(index, path, sizeof path) == 0) unlink(path);
  return -1;
}

int zvRemoveBookmarkSnapshot(int index, int count) {
  char from[kPathMax], to[kPathMax];
  if (index < 0 || zvBookmarkSnapshotPath(index, to, sizeof to) != 0) return 0;
  unlink(to);
  int failed = 0;
  for (int i = index + 1; i < count; ++i) {
    if (zvBookmarkSnapshotPath(i, from, sizeof from) != 0 || zvBookmarkSnapshotPath(i - 1, to, sizeof to) != 0) {
      ++failed;
      continue;
    }
    if (std::rename(from, to) != 0) {
      // A bookmark without a picture must not show its neighbour's.
      if (access(from, F_OK) == 0) ++failed;
      unlink(to);
    }
  }
  return failed;
}

int zvLoadBookmarkThumb(int index, uint8_t* out) {
  char path[kPathMax];
  if (!out || zvBookmarkSnapshotPath(index, path, sizeof path) != 0 || access(path, R_OK) != 0) return -1;
  ZvImage image{};
  if (zvReadBmp(path, &image) != 0 || !image.pixels || image.width < 1 || image.height < 1) {
    zvFreeImage(&image);
    return -1;
  }
  // Each thumbnail pixel averages the box of the picture it covers.
  const int tw = ZV_BOOKMARK_THUMB_WIDTH, th = ZV_BOOKMARK_THUMB_HEIGHT;
  for (int ty = 0; ty < th; ++ty) {
    int y0 = int(int64_t(ty) * image.height / th), y1 = std::max(int(int64_t(ty + 1) * image.height / th), y0 + 1);
    for (int tx = 0; tx < tw; ++tx) {
      int x0 = int(int64_t(tx) * image.width / tw), x1 = std::max(int(int64_t(tx + 1) * image.width / tw), x0 + 1);
      // At most a few thousand pixels a box for any picture a view makes;
      // a huge file is sampled on a grid instead.
      int sy = std::max((y1 - y0) / 16, 1), sx = std::max((x1 - x0) / 16, 1);
      uint32_t sum[3] = {0, 0, 0}, n = 0;
      for (int y = y0; y < y1 && y < image.height; y += sy)
        for (int x = x0; x < x1 && x < image.width; x += sx) {
          const uint8_t* p = image.pixels + (size_t(y) * size_t(image.width) + size_t(x)) * 4;
          sum[0] += p[0], sum[1] += p[1], sum[2] += p[2], ++n;
        }
      uint8_t* q = out + (size_t(ty) * tw + tx) * 4;
      for (int c = 0; c < 3; ++c) q[c] = uint8_t(n ? sum[c] / n : 0);
      q[3] = 0xff;
    }
  }
  zvFreeImage(&image);
  return 0;
}
