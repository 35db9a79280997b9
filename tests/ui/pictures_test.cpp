// Button pictures: every name draws a real symbol at its size and nowhere
// else, and the states and mirrored pairs look the way the toolbar needs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/ui.h"

namespace {

const char* const mainNames[] = {"BAK1", "BAK2", "BAK3", "FWD1", "FWD2", "FWD3", "HOM1", "HOM2", "HOM3",
                                 "UND1", "UND2", "UND3", "BMK1", "BMK2", "BMK3", "SCT1", "SCT2", "SCT3",
                                 "SCT4", "SCT5", "JMP1", "JMP2", "JMP3", "JMP4", "JMP5", "STP1", "STP2", "STP3"};
const char* const padNames[] = {"LT1", "LT3", "LW1", "LW3", "FW1", "FW3", "BK1", "BK3", "RW1", "RW3", "RT1", "RT3"};

struct Picture {
  int w = 0, h = 0;
  std::vector<uint8_t> px;
  const uint8_t* at(int x, int y) const { return &px[size_t(4 * (y * w + x))]; }
  int lum(int x, int y) const { return (299 * at(x, y)[0] + 587 * at(x, y)[1] + 114 * at(x, y)[2]) / 1000; }
  // Inside the bevel (two pixels on the main bar, one on the pad), where
  // only the face and the symbol are.
  template <class F> void eachInside(F f) const {
    const int b = w > 20 ? 2 : 1;
    for (int y = b; y < h - b; ++y)
      for (int x = b; x < w - b; ++x) f(x, y);
  }
  void extremes(int* lo, int* hi) const {
    *lo = 255, *hi = 0;
    eachInside([&](int x, int y) { *lo = std::min(*lo, lum(x, y)), *hi = std::max(*hi, lum(x, y)); });
  }
  int range() const {
    int lo, hi;
    extremes(&lo, &hi);
    return hi - lo;
  }
  bool bright(int x, int y, int level = 180) const { return lum(x, y) > level; }
};

Picture draw(const char* name) {
  Picture p;
  EXPECT_EQ(zvButtonPictureSize(name, &p.w, &p.h), 0) << name;
  p.px.assign(size_t(4 * p.w * p.h), 0);
  EXPECT_EQ(zvDrawButtonPicture(name, p.px.data(), p.w, p.h, 4 * p.w), 0) << name;
  return p;
}

TEST(ButtonPictures, EveryNameDrawsASymbolAtItsSizeOnly) {
  std::vector<std::string> names(std::begin(mainNames), std::end(mainNames));
  names.insert(names.end(), std::begin(padNames), std::end(padNames));
  for (const std::string& name : names) {
    Picture p;
    ASSERT_EQ(zvButtonPictureSize(name.c_str(), &p.w, &p.h), 0) << name;
    EXPECT_TRUE(name.size() == 4 ? p.w == 41 && p.h == 34 : p.w == 20 && p.h == 15) << name;
    // A larger buffer with a ragged stride: the picture goes top-left, the
    // rest keeps the fill.
    const int bw = p.w + 3, bh = p.h + 2, stride = 4 * bw + 5;
    std::vector<uint8_t> buffer(size_t(stride * bh), 0xAB);
    ASSERT_EQ(zvDrawButtonPicture(name.c_str(), buffer.data(), bw, bh, stride), 0) << name;
    for (int y = 0; y < bh; ++y)
      for (int x = 0; x < stride; ++x) {
        uint8_t v = buffer[size_t(y * stride + x)];
        if (y < p.h && x < 4 * p.w) {
          p.px.push_back(v);
          ASSERT_TRUE(x % 4 != 3 || v == 255) << name << " not opaque";
        } else {
          ASSERT_EQ(v, 0xAB) << name << " wrote outside at " << x << "," << y;
        }
      }
    int lo, hi, light = 0, inside = 0;
    p.extremes(&lo, &hi);
    p.eachInside([&](int x, int y) { light += p.lum(x, y) > (lo + hi) / 2, ++inside; });
    EXPECT_GE(hi - lo, 40) << name;
    EXPECT_GT(light, inside / 25) << name;     // a symbol, not a speck
    EXPECT_LT(light, inside * 3 / 5) << name;  // nor a lit button
  }
}

TEST(ButtonPictures, PressedShiftsTheSymbolDownRight) {
  const char* pairs[][2] = {{"BAK1", "BAK2"}, {"HOM1", "HOM2"}, {"UND1", "UND2"}, {"STP1", "STP2"}, {"SCT4", "SCT5"},
                            {"JMP4", "JMP5"}, {"LT1", "LT3"},   {"FW1", "FW3"},   {"RW1", "RW3"}};
  for (auto& pair : pairs) {
    Picture up = draw(pair[0]), down = draw(pair[1]);
    EXPECT_NE(up.px, down.px) << pair[1];
    double cx[2] = {0, 0}, cy[2] = {0, 0}, n[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
      const Picture& p = i ? down : up;
      p.eachInside([&](int x, int y) {
        if (p.bright(x, y)) cx[i] += x, cy[i] += y, n[i] += 1;
      });
      ASSERT_GT(n[i], 0) << pair[i];
    }
    EXPECT_NEAR(cx[1] / n[1] - cx[0] / n[0], 1.0, 0.25) << pair[1];
    EXPECT_NEAR(cy[1] / n[1] - cy[0] / n[0], 1.0, 0.25) << pair[1];
  }
}

TEST(ButtonPictures, DisabledIsDimAndSwitchedOnIsAmber) {
  for (const char* base : {"BAK", "FWD", "HOM", "UND", "BMK", "SCT", "JMP", "STP"}) {
    std::string name(base);
    EXPECT_LT(draw((name + "3").c_str()).range() * 2, draw((name + "1").c_str()).range()) << base;
  }
  // Red minus blue over the brightest pixels: the symbol's own colour.
  auto warmth = [](const Picture& p) {
    int lo, hi;
    p.extremes(&lo, &hi);
    double sum = 0, n = 0;
    p.eachInside([&](int x, int y) {
      if (p.lum(x, y) >= hi - 30) sum += p.at(x, y)[0] - p.at(x, y)[2], n += 1;
    });
    return sum / n;
  };
  for (const char* name : {"SCT4", "SCT5", "JMP4", "JMP5"}) EXPECT_GT(warmth(draw(name)), 100) << name;
  for (const char* name : {"SCT1", "JMP1"}) EXPECT_LT(std::abs(warmth(draw(name))), 20) << name;
}

TEST(ButtonPictures, OppositeDirectionsAreMirrorImages) {
  struct Pair {
    const char *a, *b;
    bool vertical;
  };
  for (const Pair& pair : {Pair{"BAK1", "FWD1", false}, Pair{"LT1", "RT1", false}, Pair{"LW1", "RW1", false},
                           Pair{"FW1", "BK1", true}}) {
    Picture a = draw(pair.a), b = draw(pair.b);
    int mirrored = 0, direct = 0, lit = 0;
    a.eachInside([&](int x, int y) {
      int mx = pair.vertical ? x : a.w - 1 - x, my = pair.vertical ? a.h - 1 - y : y;
      mirrored += a.bright(x, y, 120) != b.bright(mx, my, 120);
      direct += a.bright(x, y, 120) != b.bright(x, y, 120);
      lit += a.bright(x, y, 120);
    });
    EXPECT_GT(direct, lit / 4) << pair.a << " and " << pair.b << " are the same way round";
    EXPECT_LE(mirrored * 10, lit) << pair.a << " and " << pair.b << " are not mirror images";
  }
  // Back's head, the only part far above or below the middle row, is on
  // the left; forward's on the right.
  auto headCentre = [](const Picture& p) {
    double sum = 0, n = 0;
    p.eachInside([&](int x, int y) {
      if (p.bright(x, y) && std::abs(2 * y + 1 - p.h) > 8) sum += x + 0.5, n += 1;
    });
    return n ? sum / n - p.w / 2.0 : 0.0;
  };
  EXPECT_LT(headCentre(draw("BAK1")), -2);
  EXPECT_GT(headCentre(draw("FWD1")), 2);
}

TEST(ButtonPictures, BadNamesAndSmallBuffersFailWithoutWriting) {
  std::vector<uint8_t> buffer(size_t(4 * 41 * 34), 0x5A);
  const std::vector<uint8_t> untouched = buffer;
  for (const char* name : {"BAK4", "bak1", "LT2", "", "BAK1 ", static_cast<const char*>(nullptr)}) {
    int w = 7, h = 9;
    EXPECT_EQ(zvButtonPictureSize(name, &w, &h), -1);
    EXPECT_TRUE(w == 7 && h == 9);
    EXPECT_EQ(zvDrawButtonPicture(name, buffer.data(), 41, 34, 4 * 41), -1);
  }
  EXPECT_EQ(zvDrawButtonPicture("HOM1", buffer.data(), 40, 34, 4 * 41), -1);
  EXPECT_EQ(zvDrawButtonPicture("HOM1", buffer.data(), 41, 33, 4 * 41), -1);
  EXPECT_EQ(zvDrawButtonPicture("HOM1", buffer.data(), 41, 34, 4 * 41 - 1), -1);
  EXPECT_EQ(zvDrawButtonPicture("HOM1", buffer.data(), 41, 34, -4 * 41), -1);
  EXPECT_EQ(zvDrawButtonPicture("FW1", buffer.data(), 19, 34, 4 * 41), -1);
  EXPECT_EQ(zvDrawButtonPicture("FW1", nullptr, 20, 15, 80), -1);
  EXPECT_EQ(buffer, untouched);
}

}  // namespace
