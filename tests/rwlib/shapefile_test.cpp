// Shape files: what is written reads back the same, hostile files fail
// without leaving anything behind or disturbing the sticky surface state,
// and the glyph files made at build time are usable text.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "rwlib/rwlib.h"

namespace {

class ShapeFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(rwOpen("Null"), 1);
    std::string pattern = ::testing::TempDir() + "shapeXXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    std::filesystem::remove_all(dir);
    rwClose();
  }
  std::string put(const std::string& text) {
    std::string path = dir + "/f" + std::to_string(files++) + ".rwx";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::string dir;
  int files = 0;
};

std::vector<int32_t> corners(RwPolygon* p) {
  std::vector<int32_t> out(size_t(rwGetPolygonVertexCount(p)));
  out.resize(size_t(rwGetPolygonVertices(p, out.data(), int(out.size()))));
  return out;
}

struct Polygons {
  std::vector<std::vector<int32_t>> corners;
  std::vector<RwSurfaceState> surfaces;
};

Polygons polygonsOf(RwClump* c) {
  Polygons out;
  rwForAllPolygonsInClump(
      c,
      [](RwPolygon* p, void* arg) {
        auto& o = *static_cast<Polygons*>(arg);
        o.corners.push_back(corners(p));
        o.surfaces.emplace_back();
        rwGetPolygonSurface(p, &o.surfaces.back());
        return 1;
      },
      &out);
  return out;
}

bool sameState(const RwSurfaceState& a, const RwSurfaceState& b) {
  return a.ambient == b.ambient && a.diffuse == b.diffuse && a.specular == b.specular &&
         a.color[0] == b.color[0] && a.color[1] == b.color[1] && a.color[2] == b.color[2] &&
         a.opacity == b.opacity && a.lightSampling == b.lightSampling;
}

// Two clumps agree in tag, matrix, vertices, polygons and surfaces, and so do their children.
void expectSameClump(RwClump* a, RwClump* b) {
  ASSERT_TRUE(a && b);
  EXPECT_EQ(rwGetClumpTag(a), rwGetClumpTag(b));
  RwMatrix ma, mb;
  rwGetClumpMatrix(a, &ma);
  rwGetClumpMatrix(b, &mb);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(ma.m[r][c], mb.m[r][c]) << r << "," << c;
  ASSERT_EQ(rwGetClumpVertexCount(a), rwGetClumpVertexCount(b));
  for (int32_t i = 1; i <= rwGetClumpVertexCount(a); ++i) {
    RwV3d pa, pb;
    rwGetClumpVertex(a, i, &pa);
    rwGetClumpVertex(b, i, &pb);
    EXPECT_TRUE(pa.x == pb.x && pa.y == pb.y && pa.z == pb.z) << "vertex " << i;
  }
  Polygons pa = polygonsOf(a), pb = polygonsOf(b);
  ASSERT_EQ(pa.corners, pb.corners);
  for (size_t i = 0; i < pa.surfaces.size(); ++i) {
    EXPECT_TRUE(sameState(pa.surfaces[i], pb.surfaces[i])) << "surface of polygon " << i;
  }
  RwClump *ca = rwGetFirstChildClump(a), *cb = rwGetFirstChildClump(b);
  for (; ca && cb; ca = rwGetNextSiblingClump(ca), cb = rwGetNextSiblingClump(cb))
    expectSameClump(ca, cb);
  EXPECT_TRUE(!ca && !cb) << "child counts differ";
}

RwClump* quad(int32_t tag, float z) {
  RwClump* c = rwCreateClump(4, 1);
  rwSetClumpTag(c, tag);
  const float xy[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0.1f, 0.7f}};
  for (auto& p : xy) rwAddVertexToClump(c, p[0], p[1], z);
  return c;
}

TEST_F(ShapeFile, WrittenTreeReadsBackTheSameWithSurfaceLinesOnlyWhereTheyChange) {
  RwClump* root = quad(7, 0.25f);
  const int32_t tri1[3] = {1, 2, 3}, tri2[3] = {1, 3, 4}, all[4] = {1, 2, 3, 4};
  rwSetSurface(0.3f, 0.6f, 0.1f);
  rwSetSurfaceColor(0, 0, 0);  // written even so: the reader's caller may have another
  rwSetSurfaceLightSampling(RW_VERTEX);
  rwAddPolygonToClump(root, 3, tri1);
  rwAddPolygonToClump(root, 3, tri2);  // same surface: nothing new written
  rwSetSurfaceColor(0, 0.5f, 1.0f / 3);
  rwSetSurfaceOpacity(0.4f);
  RwClump* child = quad(-3, 2);
  rwAddPolygonToClump(child, 4, all);
  RwMatrix m;
  rwRotateMatrix(&m, 0, 1, 0, 33, RW_REPLACE);
  rwTranslateMatrix(&m, 1.5f, -2, 1e-7f, RW_POSTCONCAT);
  rwTransformClump(child, &m, RW_REPLACE);
  rwAddChildToClump(root, child);
  rwAddChildToClump(child, rwCreateClump(0, 0));  // an empty grandchild
  rwAddChildToClump(root, quad(9, -1));           // a second child without polygons
  const RwV3d copies[2] = {{0.5f, -1, 0}, {3, 0.25f, 1e-3f}};
  rwAddClumpInstances(child, 2, copies);

  std::string path = dir + "/tree.rwx";
  ASSERT_EQ(rwWriteShape(root, path.c_str()), 1);
  std::ifstream in(path);
  int colorLines = 0, surfaceLines = 0;
  for (std::string line; std::getline(in, line);) {
    colorLines += line.find("color") != std::string::npos;
    surfaceLines += line.find("surface") != std::string::npos;
  }
  EXPECT_EQ(colorLines, 2);
  EXPECT_EQ(surfaceLines, 1);

  // The reader's caller has another state set: the file's own must win.
  rwSetSurface(0.9f, 0.9f, 0.9f);
  rwSetSurfaceColor(0.2f, 0.2f, 0.2f);
  rwSetSurfaceLightSampling(RW_FACET);
  RwSurfaceState before;
  rwGetSurfaceState(&before);
  RwClump* back = rwReadShape(path.c_str());
  expectSameClump(root, back);
  RwClump* copied = rwGetFirstChildClump(back);
  ASSERT_EQ(rwGetClumpInstanceCount(copied), 2);
  RwV3d at{};
  ASSERT_TRUE(rwGetClumpInstance(copied, 1, &at));
  EXPECT_FLOAT_EQ(at.y, 0.25f);
  EXPECT_FLOAT_EQ(at.z, 1e-3f);
  RwSurfaceState after;
  rwGetSurfaceState(&after);
  EXPECT_TRUE(sameState(before, after));
  rwDestroyClump(back);
  rwDestroyClump(root);
}

TEST_F(ShapeFile, ReadsCommentsOptionalVertexPartsAndDosLineEnds) {
  RwClump* c = rwReadShape(put("# a quad\r\nclump tag +12 # trailing comment\r\n"
                               "opacity 0.5\r\nsampling facet\r\n"
                               "v 0 0 0 uv 0 0 n 0 0 1\r\nv 1 0 0 n 0 0 1\r\n\t v 1 1 0 uv 1 1\r\n"
                               "v 0 1 0\r\np 1 2 3 4\r\nend\r\n")
                               .c_str());
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(rwGetClumpTag(c) == 12 && rwGetClumpVertexCount(c) == 4);
  Polygons p = polygonsOf(c);
  ASSERT_EQ(p.corners.size(), 1u);
  EXPECT_TRUE(p.surfaces[0].opacity == 0.5f && p.surfaces[0].lightSampling == RW_FACET);
  rwDestroyClump(c);
}

TEST_F(ShapeFile, HostileFilesFailCleanlyAndLeaveTheSurfaceStateAlone) {
  const std::string quadText = "v 0 0 0\nv 1 0 0\nv 1 1 0\n";
  auto nested = [](int depth) {
    std::string clumps, ends;
    for (int i = 0; i < depth; ++i) clumps += "clump\n", ends += "end\n";
    return clumps + ends;
  };
  const std::vector<std::string> bad = {
      "",                                             // nothing
      "# only a comment\n",
      "clump\n" + quadText,                           // truncated: no end
      "clump\n" + quadText + "p 1 2",                 // truncated mid-line, no end
      "clump\n" + quadText + "p 1 2 4\nend\n",        // index past the vertices
      "clump\n" + quadText + "p 0 1 2\nend\n",        // indices are 1-based
      "clump\n" + quadText + "p 1 2 -3\nend\n",
      "clump\n" + quadText + "p 1 2 99999999999\nend\n",  // out of range of int32
      "clump\n" + quadText + "p 1 2\nend\n",          // too few corners
      "clump\np 1 2 3\n" + quadText + "end\n",        // vertices not read yet
      "clump\nclump\n" + quadText + "end\np 1 2 3\nend\n",  // the child's vertices, not its own
      "clump\nv 1 x 2\nend\n",                        // not numbers
      "clump\nv 1 2\nend\n",
      "clump\nv 1 2 3 4\nend\n",
      "clump\nv nan 0 0\nend\n",                      // not finite
      "clump\nv 0 inf 0\nend\n",
      "clump\nv 0 0 1e999\nend\n",
      "clump\nv 0 0 1e39\nend\n",                     // beyond a float
      "clump\nv 0 0 0 n 0 0\nend\n",
      "clump\nv 0 0 0 uv 1 1 uv 1 1\nend\n",
      "clump tag x\nend\n",
      "clump tag\nend\n",
      "clump\ntransform 1 0 0 0 1 0 0 0 1 0 0\nend\n",  // 11 numbers
      "clump\nsampling sometimes\nend\n",
      "instance 0 0 0\nclump\nend\n",                 // outside any clump
      "clump\ninstance 1 2\nend\n",
      "clump\ninstance 0 nan 0\nend\n",
      "clump\ncolor 1 0\nend\n",
      "clump\nend\nclump\nend\n",                     // a second top clump
      "end\n",
      "v 0 0 0\n",                                    // outside any clump
      "clump\nend\nend\n",
      "clump\nvertex 0 0 0\nend\n",                   // unknown word
      std::string("clump\nv 0 0 0\0\nend\n", 20),     // a NUL byte
      "clump\n# " + std::string(70000, 'x') + "\nend\n",  // an endless line
      nested(65),                                     // nesting past 64
  };
  rwSetSurfaceColor(0.25f, 0.5f, 0.75f);
  RwSurfaceState before;
  rwGetSurfaceState(&before);
  for (size_t i = 0; i < bad.size(); ++i) {
    // The state is set before the fault, so restoring it is checked on the way out.
    std::string path = put("color 0 1 0\nopacity 0.1\n" + bad[i]);
    EXPECT_EQ(rwReadShape(path.c_str()), nullptr) << "case " << i;
    RwSurfaceState after;
    rwGetSurfaceState(&after);
    EXPECT_TRUE(sameState(before, after)) << "case " << i;
  }
  EXPECT_EQ(rwReadShape((dir + "/missing.rwx").c_str()), nullptr);
  EXPECT_EQ(rwReadShape(nullptr), nullptr);

  RwClump* ok = rwReadShape(put(nested(64)).c_str());
  ASSERT_NE(ok, nullptr);  // the limits are not off by one
  rwDestroyClump(ok);
}

TEST_F(ShapeFile, TooManyVerticesInOneClumpFail) {
  std::string text = "clump\n";
  text.reserve(8100000);
  for (int i = 0; i <= 1000000; ++i) text += "v 0 0 0\n";
  EXPECT_EQ(rwReadShape(put(text + "end\n").c_str()), nullptr);
}

TEST_F(ShapeFile, WritingWhereNoFileCanBeMadeFails) {
  RwClump* c = quad(1, 0);
  EXPECT_EQ(rwWriteShape(c, (dir + "/no/such/dir/x.rwx").c_str()), 0);
  EXPECT_EQ(rwWriteShape(nullptr, (dir + "/x.rwx").c_str()), 0);
  rwDestroyClump(c);
}

// ---------------------------------------------------------------------------
// Glyphs made at build time

class Glyphs : public ShapeFile {
 protected:
  void SetUp() override {
    ShapeFile::SetUp();
    const char* data = getenv("QUILLMOOR_DATA_DIR");
    if (!data) GTEST_SKIP() << "QUILLMOOR_DATA_DIR is not set";
    fonts = std::string(data) + "/lib/fonts/";
  }
  RwClump* glyph(unsigned code) {
    char name[16];
    snprintf(name, sizeof name, "%03u.rwx", code);
    return rwReadShape((fonts + name).c_str());
  }
  std::string fonts;
};

TEST_F(Glyphs, EveryByteHasASmallReadableGlyph) {
  for (unsigned code = 32; code <= 255; ++code) {
    char name[16];
    snprintf(name, sizeof name, "%03u.rwx", code);
    EXPECT_LT(std::filesystem::file_size(fonts + name), 8000u) << name;
    RwClump* g = glyph(code);
    EXPECT_NE(g, nullptr) << name;
    if (g) rwDestroyClump(g);
  }
}

TEST_F(Glyphs, LetterAFacesUpFromTheBaselineWithinAnEm) {
  RwClump* a = glyph('A');
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(rwGetClumpTag(a) > 30 && rwGetClumpTag(a) < 120) << rwGetClumpTag(a);
  EXPECT_GT(rwGetClumpPolygonCount(a), 4);
  EXPECT_LT(rwGetClumpVertexCount(a), 2 * rwGetClumpPolygonCount(a));  // corners are shared
  RwV3d lo, hi;
  ASSERT_EQ(rwGetClumpBounds(a, &lo, &hi), 1);
  EXPECT_NEAR(lo.y, 0, 0.01);  // sits on the baseline
  EXPECT_TRUE(hi.y > 0.6 && hi.y < 1.0) << hi.y;
  EXPECT_TRUE(lo.x >= -0.05 && hi.x <= rwGetClumpTag(a) / 100.0 + 0.05) << lo.x << " " << hi.x;
  EXPECT_TRUE(lo.z == 0 && hi.z == 0);
  rwForAllPolygonsInClump(
      a,
      [](RwPolygon* p, void*) {
        RwV3d n;
        rwGetPolygonNormal(p, &n);
        EXPECT_GT(n.z, 0.99f);  // counter-clockwise seen from +z
        return 1;
      },
      nullptr);
  rwDestroyClump(a);
}

TEST_F(Glyphs, DotIsSmallerThanEmAndSpaceIsOnlyAnAdvance) {
  RwClump *dot = glyph('.'), *m = glyph('M'), *space = glyph(' ');
  ASSERT_TRUE(dot && m && space);
  RwV3d dlo, dhi, mlo, mhi;
  rwGetClumpBounds(dot, &dlo, &dhi);
  rwGetClumpBounds(m, &mlo, &mhi);
  EXPECT_LT((dhi.x - dlo.x) * (dhi.y - dlo.y) * 4, (mhi.x - mlo.x) * (mhi.y - mlo.y));
  EXPECT_LT(rwGetClumpTag(dot), rwGetClumpTag(m));
  EXPECT_TRUE(rwGetClumpPolygonCount(space) == 0 && rwGetClumpTag(space) > 0);
  for (RwClump* g : {dot, m, space}) rwDestroyClump(g);
}

}  // namespace
