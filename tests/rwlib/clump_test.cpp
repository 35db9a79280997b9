// Clumps, polygons and the modelling primitives: indices, normals, the
// change marks, the tree, duplication and which way primitives face.
#include <gtest/gtest.h>

#include <cmath>

#include "rwlib/rwpriv.h"

namespace {

RwClump* square(float z = 0.0f) {
  RwClump* c = rwCreateClump(4, 1);
  rwAddVertexToClump(c, 0, 0, z);
  rwAddVertexToClump(c, 1, 0, z);
  rwAddVertexToClump(c, 1, 1, z);
  rwAddVertexToClump(c, 0, 1, z);
  const int32_t idx[4] = {1, 2, 3, 4};
  rwAddPolygonToClump(c, 4, idx);
  return c;
}

RwV3d centroid(const RwPolygon* p) {
  RwV3d sum{0, 0, 0};
  for (uint32_t i = 0; i < p->count; ++i) {
    const RwV3d& v = p->clump->vertices[p->clump->corners[p->first + i]].p;
    sum = RwV3d{sum.x + v.x, sum.y + v.y, sum.z + v.z};
  }
  return RwV3d{sum.x / p->count, sum.y / p->count, sum.z / p->count};
}

TEST(RwClump, PolygonsTakeOneBasedIndicesAndNewellNormals) {
  RwClump* c = square();
  ASSERT_EQ(rwGetClumpPolygonCount(c), 1);
  RwV3d n;
  rwGetPolygonNormal(&c->polygons[0], &n);
  EXPECT_NEAR(n.z, 1.0f, 1e-6f);
  int32_t back[8];
  ASSERT_EQ(rwGetPolygonVertices(&c->polygons[0], back, 8), 4);
  EXPECT_TRUE(back[0] == 1 && back[3] == 4);

  const int32_t zero[3] = {0, 1, 2}, high[3] = {1, 2, 5}, two[2] = {1, 2};
  EXPECT_EQ(rwAddPolygonToClump(c, 3, zero), nullptr);
  EXPECT_EQ(rwAddPolygonToClump(c, 3, high), nullptr);
  EXPECT_EQ(rwAddPolygonToClump(c, 2, two), nullptr);
  EXPECT_EQ(rwGetError(), RW_E_BADPARAM);
  EXPECT_EQ(rwGetClumpPolygonCount(c), 1);

  const int32_t line[3] = {1, 2, 2};
  RwPolygon* flat = rwAddPolygonToClump(c, 3, line);
  ASSERT_NE(flat, nullptr);
  rwGetPolygonNormal(flat, &n);
  EXPECT_EQ(rwLength(&n), 0.0f);
  rwDestroyClump(c);
}

TEST(RwClump, NewPolygonsTakeTheStickySurface) {
  RwSurfaceState saved;
  rwGetSurfaceState(&saved);
  RwClump* plain = square();
  RwSurfaceState got;
  rwGetPolygonSurface(&plain->polygons[0], &got);
  EXPECT_TRUE(got.lightSampling == RW_FACET && got.geometrySampling == RW_SOLID && got.opacity == 1.0f);
  EXPECT_EQ(rwGetPolygonDrawMode(&plain->polygons[0]), RW_DRAW_BOTH);

  rwSetSurface(0.1f, 0.2f, 0.3f);
  rwSetSurfaceColor(1, 0, 0);
  rwSetSurfaceOpacity(0.5f);
  rwSetSurfaceLightSampling(RW_VERTEX);
  EXPECT_FALSE(rwSetSurfaceGeometrySampling(7));
  RwClump* red = square();
  rwGetPolygonSurface(&red->polygons[0], &got);
  EXPECT_TRUE(got.diffuse == 0.2f && got.color[0] == 1.0f && got.color[1] == 0.0f && got.opacity == 0.5f);
  EXPECT_TRUE(got.lightSampling == RW_VERTEX && got.geometrySampling == RW_SOLID);

  ASSERT_TRUE(rwSetSurfaceState(&saved));
  rwGetSurfaceState(&got);
  EXPECT_TRUE(got.diffuse == saved.diffuse && got.lightSampling == RW_FACET);
  rwDestroyClump(plain);
  rwDestroyClump(red);
}

TEST(RwClump, ChangesMarkTheClumpAndTheTopLevelScene) {
  RwScene* scene = rwCreateScene();
  RwClump* top = rwCreateClump(0, 0);
  RwClump* child = square();
  rwAddClumpToScene(scene, top);
  rwAddChildToClump(top, child);
  EXPECT_EQ(rwGetClumpScene(child), scene);
  EXPECT_EQ(rwGetSceneClumpCount(scene), 1);

  uint32_t gv = child->geometryVersion, tv = child->transformVersion;
  auto marksScene = [&](const char* what, auto change) {
    uint32_t sv = scene->version;
    change();
    EXPECT_GT(scene->version, sv) << what;
  };
  marksScene("colour", [&] { rwSetPolygonColor(&child->polygons[0], 0, 1, 0); });
  EXPECT_GT(child->geometryVersion, gv);
  EXPECT_FALSE(child->boundsValid);
  RwMatrix m;
  rwTranslateMatrix(&m, 1, 0, 0, RW_REPLACE);
  marksScene("parent moved", [&] { rwTransformClump(top, &m, RW_REPLACE); });
  EXPECT_EQ(child->transformVersion, tv);  // its own matrix did not change
  marksScene("state", [&] { rwSetClumpState(child, RW_OFF); });
  RwLight* light = rwCreateLight(RW_POINT, 0, 5, 0, 1.0f);
  marksScene("light added", [&] { rwAddLightToScene(scene, light); });
  marksScene("light changed", [&] { rwSetLightColor(light, 1, 0, 0); });

  // Removing the top clump leaves the scene empty and the clump unowned.
  rwRemoveClumpFromScene(top);
  EXPECT_EQ(rwGetSceneClumpCount(scene), 0);
  EXPECT_EQ(rwGetClumpScene(child), nullptr);
  rwDestroyClump(top);  // takes the child with it
  rwDestroyScene(scene);  // and the light
}

// The scene lists each touched clump once, with what changed, so a frame
// can look at those alone; clumps coming and going, or too many touched,
// ask for a look at everything instead.
TEST(RwClump, TouchedClumpsAreListedOnTheirScene) {
  RwScene* scene = rwCreateScene();
  RwClump* top = rwCreateClump(0, 0);
  RwClump* child = square();
  rwAddChildToClump(top, child);
  rwAddClumpToScene(scene, top);
  EXPECT_TRUE(scene->treeChanged);
  scene->treeChanged = false;  // as a frame leaves it

  rwSetPolygonColor(&child->polygons[0], 0, 1, 0);
  rwSetClumpState(child, RW_OFF);
  RwMatrix m;
  rwTranslateMatrix(&m, 1, 0, 0, RW_REPLACE);
  rwTransformClump(top, &m, RW_REPLACE);
  ASSERT_EQ(scene->touched.size(), 2u);
  EXPECT_EQ(scene->touched[0], child);
  EXPECT_EQ(child->touched, unsigned(RW_TOUCH_GEOMETRY | RW_TOUCH_STATE));
  EXPECT_EQ(top->touched, unsigned(RW_TOUCH_TRANSFORM));
  EXPECT_FALSE(scene->treeChanged);

  // A clump that comes or goes asks for everything, and empties the list.
  RwClump* extra = square();
  rwAddChildToClump(top, extra);
  EXPECT_TRUE(scene->treeChanged);
  EXPECT_TRUE(scene->touched.empty());
  EXPECT_EQ(child->queuedIn, nullptr);
  scene->treeChanged = false;
  rwSetPolygonColor(&extra->polygons[0], 1, 0, 0);
  ASSERT_EQ(scene->touched.size(), 1u);
  rwDestroyClump(extra);  // it leaves its parent first: the tree changed
  EXPECT_TRUE(scene->treeChanged);
  scene->treeChanged = false;

  // Past the list's length, the scene asks for everything.
  std::vector<RwClump*> many;
  for (int i = 0; i < 5000; ++i) {
    many.push_back(square());
    rwAddChildToClump(top, many.back());
  }
  rwClearTouched(scene);
  scene->treeChanged = false;
  for (RwClump* c : many) rwSetPolygonColor(&c->polygons[0], 0, 0, 1);
  EXPECT_TRUE(scene->treeChanged);
  EXPECT_TRUE(scene->touched.empty());
  rwDestroyScene(scene);
}

TEST(RwClump, TreeTransformsAndLookups) {
  RwClump* parent = rwCreateClump(0, 0);
  RwClump* a = rwCreateClump(0, 0);
  RwClump* b = rwCreateClump(0, 0);
  rwSetClumpTag(a, 7);
  rwSetClumpTag(b, 8);
  rwAddChildToClump(parent, a);
  rwAddChildToClump(parent, b);
  EXPECT_EQ(rwGetFirstChildClump(parent), a);
  EXPECT_EQ(rwGetNextSiblingClump(a), b);
  EXPECT_EQ(rwGetNextSiblingClump(b), nullptr);
  EXPECT_EQ(rwFindTaggedClump(parent, 8), b);
  EXPECT_EQ(rwFindTaggedClump(parent, 9), nullptr);
  EXPECT_FALSE(rwAddChildToClump(a, parent));  // no cycles
  RwMatrix m;
  rwRotateMatrix(&m, 0, 0, 1, 90, RW_REPLACE);
  rwTransformClump(parent, &m, RW_REPLACE);
  rwTranslateMatrix(&m, 2, 0, 0, RW_REPLACE);
  rwTransformClump(a, &m, RW_REPLACE);
  RwMatrix ltm;
  rwGetClumpLTM(a, &ltm);
  RwV3d p{0, 0, 0};
  rwTransformPoint(&p, &ltm);
  EXPECT_NEAR(p.x, 0.0f, 1e-6f);  // translated in the parent's rotated frame
  EXPECT_NEAR(p.y, 2.0f, 1e-6f);

  rwDestroyClump(a);
  EXPECT_EQ(rwGetFirstChildClump(parent), b);
  rwDestroyClump(parent);
}

TEST(RwClump, DuplicateIsDeepAndFlipReversesCorners) {
  RwClump* c = square();
  const float uv[8] = {0, 0, 1, 0, 1, 1, 0, 1};
  rwSetPolygonUV(&c->polygons[0], 4, uv);
  rwSetPolygonTag(&c->polygons[0], 42);
  RwClump* kid = square(1.0f);
  rwAddChildToClump(c, kid);
  rwSetClumpData(c, c);

  RwClump* d = rwDuplicateClump(c);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(rwGetClumpParent(d), nullptr);
  EXPECT_EQ(rwGetClumpData(d), c);
  ASSERT_NE(rwGetFirstChildClump(d), nullptr);
  EXPECT_NE(rwGetFirstChildClump(d), kid);
  EXPECT_EQ(rwGetClumpParent(rwGetFirstChildClump(d)), d);
  RwPolygon* p = &d->polygons[0];
  EXPECT_EQ(rwGetPolygonClump(p), d);
  EXPECT_EQ(rwGetPolygonTag(p), 42);

  ASSERT_TRUE(rwFlipPolygon(p));
  int32_t corners[4];
  rwGetPolygonVertices(p, corners, 4);
  EXPECT_TRUE(corners[0] == 4 && corners[3] == 1);
  EXPECT_TRUE(d->cornerUV[0] == 0.0f && d->cornerUV[1] == 1.0f);  // vertex 4's (0, 1) now comes first
  RwV3d n;
  rwGetPolygonNormal(p, &n);
  EXPECT_NEAR(n.z, -1.0f, 1e-6f);
  rwGetPolygonNormal(&c->polygons[0], &n);
  EXPECT_NEAR(n.z, 1.0f, 1e-6f);  // the original is untouched
  rwDestroyClump(c);
  rwDestroyClump(d);
}

// Copies of a clump's polygons: the box spans them all, a duplicate keeps
// them, and offsets that are not numbers are refused.
TEST(RwClump, InstancesSpreadTheBoundsAndSurviveDuplication) {
  RwClump* c = square();
  RwV3d lo, hi, plainLo, plainHi;
  ASSERT_TRUE(rwGetClumpBounds(c, &plainLo, &plainHi));
  uint32_t version = c->geometryVersion;
  const RwV3d offsets[3] = {{-2, 0, 0}, {5, 1, 0}, {0, 0, -3}};
  ASSERT_TRUE(rwAddClumpInstances(c, 2, offsets));
  ASSERT_TRUE(rwAddClumpInstances(c, 1, offsets + 2));
  EXPECT_NE(c->geometryVersion, version);  // the GL side must draw the copies
  ASSERT_TRUE(rwGetClumpBounds(c, &lo, &hi));
  EXPECT_TRUE(lo.x == plainLo.x - 2 && hi.x == plainHi.x + 5 && hi.y == plainHi.y + 1 && lo.z == plainLo.z - 3);
  const RwV3d bad = {0, std::nanf(""), 0};
  EXPECT_FALSE(rwAddClumpInstances(c, 1, &bad));
  EXPECT_FALSE(rwAddClumpInstances(c, -1, offsets));
  EXPECT_FALSE(rwAddClumpInstances(c, 1, nullptr));
  RwV3d at;
  EXPECT_FALSE(rwGetClumpInstance(c, 3, &at));
  RwClump* d = rwDuplicateClump(c);
  ASSERT_EQ(rwGetClumpInstanceCount(d), 3);
  ASSERT_TRUE(rwGetClumpInstance(d, 1, &at));
  EXPECT_EQ(at.x, 5.0f);
  ASSERT_TRUE(rwGetClumpBounds(d, &lo, &hi));
  EXPECT_FLOAT_EQ(hi.x, plainHi.x + 5);
  rwDestroyClump(c);
  rwDestroyClump(d);
}

// Every polygon of a closed-ish primitive faces away from the axis it is
// built around, and so do the normals of its corners.
void expectOutward(const RwClump* c, RwV3d centre, bool radialOnly) {
  for (const RwPolygon& p : c->polygons) {
    RwV3d m = centroid(&p);
    RwV3d out{m.x - centre.x, radialOnly ? 0.0f : m.y - centre.y, m.z - centre.z};
    EXPECT_GT(rwDotProduct(&p.normal, &out), 0.0f) << "polygon " << p.index;
    for (uint32_t i = 0; i < p.count; ++i) {
      const RwVertex& v = c->vertices[c->corners[p.first + i]];
      EXPECT_TRUE(v.hasNormal);
      EXPECT_GT(rwDotProduct(&v.n, &p.normal), 0.0f);
    }
  }
}

TEST(RwModel, PrimitivesFaceOutwards) {
  EXPECT_FALSE(rwCylinder(1, 1, 1, 8));  // outside a clump bracket
  ASSERT_TRUE(rwModelBegin());
  EXPECT_FALSE(rwModelBegin());
  // The clump a bracket around the modelling calls makes (which must succeed).
  auto bracket = [](auto model) {
    EXPECT_TRUE(rwClumpBegin());
    EXPECT_TRUE(model());
    return rwClumpEnd();
  };
  RwClump* cyl = bracket([] { return rwCylinder(2.0f, 1.0f, 1.0f, 12); });
  EXPECT_EQ(rwGetClumpPolygonCount(cyl), 12);
  EXPECT_EQ(rwGetClumpVertexCount(cyl), 4 * 12);
  expectOutward(cyl, {0, 1, 0}, true);
  RwV3d lo, hi;
  rwGetClumpBounds(cyl, &lo, &hi);
  EXPECT_TRUE(std::fabs(lo.y) < 1e-6f && std::fabs(hi.y - 2) < 1e-6f) << lo.y << " " << hi.y;

  RwClump* cone = bracket([] { return rwCone(3.0f, 1.0f, 10); });
  EXPECT_EQ(rwGetClumpPolygonCount(cone), 10);
  EXPECT_EQ(cone->polygons[0].count, 3u);
  expectOutward(cone, {0, 1, 0}, true);
  for (const RwPolygon& p : cone->polygons) EXPECT_GT(p.normal.y, 0.0f);  // the side leans in

  RwClump* sphere = bracket([] { return rwSphere(2.0f, 6); });
  EXPECT_EQ(rwGetClumpPolygonCount(sphere), 6 * 12);
  expectOutward(sphere, {0, 0, 0}, false);
  rwGetClumpBounds(sphere, &lo, &hi);
  EXPECT_TRUE(std::fabs(lo.y + 2) < 1e-5f && std::fabs(hi.y - 2) < 1e-5f) << lo.y;  // centred, not standing on y = 0

  RwClump* discs = bracket([] { return rwDisc(0.5f, 1.0f, 16) && rwDisc(0.0f, -1.0f, 16); });
  ASSERT_EQ(rwGetClumpPolygonCount(discs), 2);
  EXPECT_EQ(discs->polygons[0].count, 16u);
  EXPECT_NEAR(discs->polygons[0].normal.y, 1.0f, 1e-6f);
  EXPECT_NEAR(discs->polygons[1].normal.y, -1.0f, 1e-6f);
  EXPECT_NEAR(centroid(&discs->polygons[0]).y, 0.5f, 1e-6f);

  ASSERT_TRUE(rwModelEnd());
  for (RwClump* c : {cyl, cone, sphere, discs}) rwDestroyClump(c);
}

TEST(RwModel, CtmPreconcatsAndClumpsNest) {
  ASSERT_TRUE(rwModelBegin());
  ASSERT_TRUE(rwClumpBegin());
  rwTranslateCTM(5, 0, 0);
  rwRotateCTM(0, 0, 1, 90);  // about the translated origin
  ASSERT_TRUE(rwClumpBegin());
  ASSERT_TRUE(rwDisc(0.0f, 1.0f, 4));
  RwClump* inner = rwClumpEnd();
  RwClump* outer = rwClumpEnd();
  EXPECT_EQ(rwGetClumpParent(inner), outer);
  EXPECT_EQ(outer->hints & RW_HINT_BATCHED, unsigned(RW_HINT_BATCHED));
  // The disc's up normal turned to -x; its corners sit around (5, 0, 0).
  RwV3d n;
  rwGetPolygonNormal(&inner->polygons[0], &n);
  EXPECT_NEAR(n.x, -1.0f, 1e-6f);
  RwV3d c = centroid(&inner->polygons[0]);
  EXPECT_NEAR(c.x, 5.0f, 1e-5f);
  EXPECT_NEAR(inner->vertices[0].n.x, -1.0f, 1e-6f);
  EXPECT_TRUE(rwModelEnd());
  EXPECT_FALSE(rwModelEnd());
  EXPECT_EQ(rwClumpEnd(), nullptr);
  rwDestroyClump(outer);
}

}  // namespace
