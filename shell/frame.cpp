// frame.cpp — the frame timer's arithmetic: how the period follows the
// measured rendering time, and the frame-rate report.
#include <algorithm>
#include <cstdio>

#include "shell/shell.h"

int zvAdaptFrameInterval(uint32_t* interval, uint32_t render, uint32_t slice) {
  // Ten milliseconds beyond the rendering (and the world's Tk slice) leave
  // the loop room for input between frames.
  uint64_t wanted = uint64_t(slice) + 10 + render;
  if (render > *interval) {
    *interval = uint32_t(std::min<uint64_t>(wanted, ZV_FRAME_INTERVAL_MAX));
    return 1;
  }
  if (wanted < *interval) {
    *interval = uint32_t(wanted);
    return 1;
  }
  return 0;
}

void zvFormatFrameRate(char* out, int size, uint32_t render, uint32_t other, uint32_t total, int reset,
                       uint32_t interval) {
  if (!out || size < 1) return;
  // Two frames within the same millisecond must not divide by zero.
  uint32_t rate = 100000 / std::max<uint32_t>(total, 1);
  int n = std::snprintf(out, size_t(size), "Rendering %4d msec. Other %4d msec. Total %d msec. (%2d.%02d fps)\n",
                        int(render), int(other), int(total), int(rate / 100), int(rate % 100));
  if (reset && n >= 0 && n < size)
    std::snprintf(out + n, size_t(size - n), "timer interval will be reset to [%d ms]\n", int(interval));
}
