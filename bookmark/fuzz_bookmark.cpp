// fuzz_bookmark.cpp — libFuzzer entry: any bytes as landmark.htm. Reading
// must end without a crash or a leak, and every bookmark it keeps must
// format as a line again.
#include <cstdio>

#include "bookmark/bookmark.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] {
    zvSetReportSink([](int, const char*, int, void*) {}, nullptr);
    return true;
  }();
  (void)quiet;
  FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!in) return 0;
  zvReadBookmarkFrom(in);
  std::fclose(in);
  char line[ZV_BOOKMARK_LINE_MAX + 1];
  for (int i = 0; i <= zvGetBookmarkNum(); ++i) {
    ZvBookmark* b = zvGetBookmarkByIndex(i, nullptr);
    if (!b || !b->url || !b->title) __builtin_trap();
    zvFormatBookmarkLine(b, line, sizeof line);
  }
  zvDeleteAllBookmarks();
  return 0;
}
