// script_bench.cpp — behaviour at the size of a busy world: a wake-up with
// 10 000 pending tasks of which 100 are due, a Tcl handler called through
// dispatch, and FRAME sent to 1 000 objects with Tcl handlers.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "script/script.h"
#include "www/www.h"

namespace {

uint64_t now = 0;
uint64_t benchClock() { return now; }

void setUp() {
  zvSetDebugFlag(ZV_DEBUG_WARNING, 0);
  zvSetScriptDataDirectory(QUILLMOOR_DATA_DIR);
  zvWwwInstallHooks();
  zvScriptInstallHooks();
}

ZvObj* newTop(ZvWorld* world) {
  ZvObj* o = nullptr;
  if (zvNewZvObj(world, &o, 0) != ZV_OK || zvAddTopObject(o, "bench.wrl") != ZV_OK) std::abort();
  return o;
}

int keepRunning(ZvObj*, ZvEvent*, const char*) { return 0; }

// 10 000 periodic tasks one millisecond apart with a 10 s cycle: each
// 100 ms step makes 100 of them due, and each goes back to the end.
void BM_WakeUp10000Pending100Due(benchmark::State& state) {
  setUp();
  now = 1000000;
  zvSetScriptClock(benchClock);
  ZvWorld* world = zvNewWorld("file:///bench.wrl");
  std::vector<ZvObj*> objects;
  for (int i = 0; i < 100; ++i) objects.push_back(newTop(world));
  for (int i = 0; i < 10000; ++i) {
    now = 1000000 + uint64_t(i);
    zvAddNativeTimeOutHandler(objects[size_t(i % 100)], 10000, keepRunning, "", ZV_TASK_PERIODIC);
  }
  now = 1000000 + 10000 - 1;  // nothing due yet
  for (auto _ : state) {
    now += 100;
    if (zvWakeUpTask(world) != 0) std::abort();
  }
  if (zvCountTasks(world) != 10000) std::abort();
  zvDeleteWorld(world);
  zvSetScriptClock(nullptr);
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_WakeUp10000Pending100Due)->Unit(benchmark::kMicrosecond);

ZvWorld* tclWorld() {
  ZvWorld* world = zvNewWorld("file:///bench.wrl");
  if (zvScriptTclEvalStr(world, "proc h {o e d} { global n; incr n }") != 0) std::abort();
  return world;
}

void BM_TclHandlerCall(benchmark::State& state) {
  setUp();
  ZvWorld* world = tclWorld();
  ZvObj* o = newTop(world);
  if (zvAddEventHandler(o, nullptr, ZV_EVENT_PICK, ZV_SCRIPT_TCL, "h", "user data", nullptr) != 0) std::abort();
  ZvEvent event;
  zvInitEvent(&event, ZV_EVENT_PICK);
  for (auto _ : state)
    if (zvCallEventHandler(o, &event) != 0) std::abort();
  zvDeleteWorld(world);
}
BENCHMARK(BM_TclHandlerCall)->Unit(benchmark::kMicrosecond);

void BM_Frame1000TclHandlers(benchmark::State& state) {
  setUp();
  ZvWorld* world = tclWorld();
  for (int i = 0; i < 1000; ++i)
    if (zvAddEventHandler(newTop(world), nullptr, ZV_EVENT_FRAME, ZV_SCRIPT_TCL, "h", "", nullptr) != 0) std::abort();
  ZvEvent event;
  zvInitEvent(&event, ZV_EVENT_FRAME);
  for (auto _ : state)
    if (zvCallWorldEventHandler(world, &event) != 0) std::abort();
  zvDeleteWorld(world);
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Frame1000TclHandlers)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
