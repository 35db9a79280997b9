// scene_bench.cpp — the scene model at the size of a large world: 10 000
// named objects in the local identifier range.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "scene/scene.h"

namespace {

constexpr int kObjects = 10000;

void quiet() { zvSetDebugFlag(ZV_DEBUG_WARNING, 0); }

// A broad world: 100 top groups of 99 named children each, plus the groups.
ZvWorld* buildWorld(std::vector<ZvObj*>* objects) {
  ZvWorld* world = zvNewWorld("file:///bench.wrl");
  zvSetIdCounter(-10000, -1, ZV_ID_MODE_ALWAYS);
  char name[32];
  ZvObj* group = nullptr;
  for (int i = 0; i < kObjects; ++i) {
    ZvObj* o = nullptr;
    if (zvNewZvObj(world, &o, 1) != ZV_OK) std::abort();
    std::snprintf(name, sizeof name, "obj%d", i);
    zvNameObject(o, name);
    if (i % 100 == 0) {
      zvAddTopObject(o, "bench.wrl");
      group = o;
    } else {
      zvAddChild(group, o);
    }
    if (objects) objects->push_back(o);
  }
  return world;
}

void BM_BuildAndDelete(benchmark::State& state) {
  quiet();
  for (auto _ : state) {
    ZvWorld* world = buildWorld(nullptr);
    benchmark::DoNotOptimize(world);
    zvDeleteWorld(world);
  }
  state.SetItemsProcessed(state.iterations() * kObjects);
}
BENCHMARK(BM_BuildAndDelete)->Unit(benchmark::kMillisecond);

void BM_Delete(benchmark::State& state) {
  quiet();
  for (auto _ : state) {
    state.PauseTiming();
    ZvWorld* world = buildWorld(nullptr);
    state.ResumeTiming();
    zvDeleteWorld(world);
  }
  state.SetItemsProcessed(state.iterations() * kObjects);
}
BENCHMARK(BM_Delete)->Unit(benchmark::kMillisecond);

void BM_LookupById(benchmark::State& state) {
  quiet();
  std::vector<ZvObj*> objects;
  ZvWorld* world = buildWorld(&objects);
  size_t i = 0;
  for (auto _ : state) {
    ZvObj* o = objects[i++ % objects.size()];
    benchmark::DoNotOptimize(zvGetObjById(world, o->id));
  }
  state.SetItemsProcessed(state.iterations());
  zvDeleteWorld(world);
}
BENCHMARK(BM_LookupById);

void BM_LookupByPath(benchmark::State& state) {
  quiet();
  ZvWorld* world = buildWorld(nullptr);
  zvSetCurrentWorld(world);
  char path[64];
  int i = 0;
  for (auto _ : state) {
    int k = (i++ * 7919) % kObjects;
    int top = k / 100 * 100;
    if (k == top)
      std::snprintf(path, sizeof path, "obj%d", top);
    else
      std::snprintf(path, sizeof path, "obj%d.obj%d", top, k);
    benchmark::DoNotOptimize(zvGetObjByName(path));
  }
  state.SetItemsProcessed(state.iterations());
  zvSetCurrentWorld(nullptr);
  zvDeleteWorld(world);
}
BENCHMARK(BM_LookupByPath);

void BM_FindByNameRecursive(benchmark::State& state) {
  quiet();
  std::vector<ZvObj*> objects;
  ZvWorld* world = buildWorld(&objects);
  char name[32];
  int i = 0;
  for (auto _ : state) {
    int k = (i++ * 7919) % kObjects;
    std::snprintf(name, sizeof name, "obj%d", k);
    benchmark::DoNotOptimize(zvFindObjByName(objects[k / 100 * 100], name));
  }
  state.SetItemsProcessed(state.iterations());
  zvDeleteWorld(world);
}
BENCHMARK(BM_FindByNameRecursive);

// A chain 10 000 deep: turning the root invalidates everything below, and
// reading the leaf's world transform recomputes the whole chain.
void BM_DeepChainTransform(benchmark::State& state) {
  quiet();
  ZvWorld* world = zvNewWorld("file:///chain.wrl");
  zvSetIdCounter(-10000, -1, ZV_ID_MODE_ALWAYS);
  ZvObj* root = nullptr;
  ZvObj* last = nullptr;
  for (int i = 0; i < kObjects; ++i) {
    ZvObj* o = nullptr;
    zvNewZvObj(world, &o, 1);
    float t[3] = {0.001f, 0.0f, 0.0f};
    zvObjectTranslate(o, t, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
    if (last)
      zvAddChild(last, o);
    else {
      zvAddTopObject(o, nullptr);
      root = o;
    }
    last = o;
  }
  const float c = 0.9998477f, s = 0.0174524f;  // one degree about y
  const float turn[9] = {c, 0, -s, 0, 1, 0, s, 0, c};
  for (auto _ : state) {
    zvObjectRotate(root, turn, ZV_COORD_OWN, ZV_TRANSFORM_COMPOSE);
    benchmark::DoNotOptimize(zvGetObjectWRT(last));
  }
  state.SetItemsProcessed(state.iterations() * kObjects);
  zvDeleteWorld(world);
}
BENCHMARK(BM_DeepChainTransform)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
