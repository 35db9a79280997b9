// Timed tasks on the test's clock: the order of equal expiries, what a
// periodic task's answer does, catching up after a stall, tasks that
// remove themselves, delete their object or add tasks, and Tcl tasks.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/script/scripttest.h"

namespace {

using qmtest::fakeNow;

std::vector<std::string> ran;
int answerOf = 0;  // what the periodic routines answer

int record(ZvObj*, ZvEvent* e, const char* who) {
  EXPECT_EQ(e->type, uint32_t(ZV_EVENT_TIME_OUT));
  ran.push_back(who);
  return answerOf;
}

class TasksTest : public qmtest::ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    ran.clear();
    answerOf = 0;
    o = make();
  }
  std::vector<std::string> order() {
    std::vector<std::string> names;
    for (ZvTimeOutHandlerList* t = world->timeouts; t; t = t->next) names.push_back(t->userData);
    return names;
  }
  ZvTimeOutHandlerList* add(uint32_t ms, const char* name, int type = ZV_TASK_SPORADIC) {
    return zvAddNativeTimeOutHandler(o, ms, record, name, type);
  }
  ZvObj* o = nullptr;
};

TEST_F(TasksTest, EqualExpiriesGoAfterTheHeadAndBeforeTheirEquals) {
  add(100, "A");
  add(100, "B");  // the head keeps its place: B right after it
  EXPECT_EQ(order(), (std::vector<std::string>{"A", "B"}));
  add(100, "C");
  add(50, "D");  // strictly earlier: the new head
  add(100, "E");
  add(200, "F");
  add(100, "G");
  EXPECT_EQ(order(), (std::vector<std::string>{"D", "G", "E", "A", "C", "B", "F"}));
  fakeNow += 150;
  EXPECT_EQ(zvWakeUpTask(world), 0);
  EXPECT_EQ(ran, (std::vector<std::string>{"D", "G", "E", "A", "C", "B"}));
  EXPECT_EQ(order(), (std::vector<std::string>{"F"}));
}

// The index must give exactly the list that the plain walk of the design
// gives, through any mix of adds, removals and wake-ups.
TEST_F(TasksTest, TheIndexedListIsThePlainListUnderRandomUse) {
  std::mt19937 random(7);
  struct Model {
    uint64_t expiry;
    std::string name;
    ZvTimeOutHandlerList* task;
  };
  std::vector<Model> model;
  auto insert = [&](Model m) {
    if (model.empty() || m.expiry < model[0].expiry) {
      model.insert(model.begin(), m);
      return;
    }
    size_t i = 1;
    while (i < model.size() && model[i].expiry < m.expiry) ++i;
    model.insert(model.begin() + long(i), m);
  };
  answerOf = 1;  // sporadic and periodic alike end after one run
  for (int step = 0; step < 2000; ++step) {
    int what = int(random() % 10);
    if (what < 6) {
      uint32_t ms = uint32_t(random() % 8) * 10;
      std::string name = std::to_string(step);
      ZvTimeOutHandlerList* t = add(ms, name.c_str());
      insert({fakeNow + ms, name, t});
    } else if (what < 8 && !model.empty()) {
      size_t i = random() % model.size();
      ASSERT_EQ(zvRemoveTimeOutHandler(o, model[i].task), 0);
      model.erase(model.begin() + long(i));
    } else {
      fakeNow += random() % 30;
      ran.clear();
      std::vector<std::string> due;
      while (!model.empty() && model[0].expiry <= fakeNow) {
        due.push_back(model[0].name);
        model.erase(model.begin());
      }
      ASSERT_EQ(zvWakeUpTask(world), 0);
      ASSERT_EQ(ran, due) << "step " << step;
    }
    std::vector<std::string> expected;
    for (const Model& m : model) expected.push_back(m.name);
    ASSERT_EQ(order(), expected) << "step " << step;
    ASSERT_EQ(zvCountTasks(world), int(model.size()));
  }
}

TEST_F(TasksTest, PeriodicTasksRunWhileTheyAnswerZero) {
  add(100, "p", ZV_TASK_PERIODIC);
  fakeNow += 100;
  zvWakeUpTask(world);
  fakeNow += 100;
  zvWakeUpTask(world);
  EXPECT_EQ(ran.size(), 2u);
  EXPECT_EQ(world->timeouts->seconds * 1000ull + world->timeouts->milliseconds, fakeNow + 100);
  answerOf = 1;
  fakeNow += 100;
  zvWakeUpTask(world);
  EXPECT_EQ(ran.size(), 3u);
  EXPECT_EQ(zvCountTasks(world), 0);
  // A routine never answers for a sporadic task: it runs once.
  answerOf = 0;
  add(0, "s");
  zvWakeUpTask(world);
  EXPECT_EQ(zvCountTasks(world), 0);
}

TEST_F(TasksTest, AStalledTaskCatchesUpAtMostTenRuns) {
  add(100, "p", ZV_TASK_PERIODIC);
  fakeNow += 350;
  zvWakeUpTask(world);
  EXPECT_GE(ran.size(), 3u);
  EXPECT_LE(ran.size(), 4u);
  ran.clear();
  fakeNow += 5000;
  zvWakeUpTask(world);
  EXPECT_EQ(ran.size(), 10u);
  // Re-armed from now, not from where it fell behind.
  EXPECT_EQ(world->timeouts->seconds * 1000ull + world->timeouts->milliseconds, fakeNow + 100);
  // A cycle of nothing cannot hold the wake-up either.
  ran.clear();
  zvRemoveTimeOutHandler(o, world->timeouts);
  add(0, "z", ZV_TASK_PERIODIC);
  zvWakeUpTask(world);
  EXPECT_EQ(ran.size(), 10u);
}

ZvTimeOutHandlerList* self = nullptr;
int removeSelf(ZvObj* object, ZvEvent*, const char*) {
  ran.push_back("self");
  EXPECT_EQ(zvRemoveTimeOutHandler(object, self), 0);
  return 0;  // would keep it running, but it is gone
}
int addTask(ZvObj* object, ZvEvent*, const char*) {
  ran.push_back("adder");
  zvAddNativeTimeOutHandler(object, 0, addTask, "", ZV_TASK_SPORADIC);
  return 0;
}
int deleteObject(ZvObj* object, ZvEvent*, const char*) {
  ran.push_back("deleter");
  zvDeleteZvObj(object);
  return 0;
}

TEST_F(TasksTest, TasksThatRemoveThemselvesAddTasksOrDeleteTheirObject) {
  self = zvAddNativeTimeOutHandler(o, 10, removeSelf, "", ZV_TASK_PERIODIC);
  fakeNow += 10;
  zvWakeUpTask(world);
  EXPECT_EQ(ran.size(), 1u);
  EXPECT_EQ(zvCountTasks(world), 0);

  // A task that adds a due task: the new one waits for the next wake-up.
  zvAddNativeTimeOutHandler(o, 0, addTask, "", ZV_TASK_SPORADIC);
  ran.clear();
  zvWakeUpTask(world);
  EXPECT_EQ(ran.size(), 1u);
  zvWakeUpTask(world);
  EXPECT_EQ(ran.size(), 2u);
  EXPECT_EQ(zvCountTasks(world), 1);

  // Added last, among equal expiries it runs first.
  ZvObj* doomed = make();
  zvAddNativeTimeOutHandler(doomed, 0, record, "never", ZV_TASK_PERIODIC);
  zvAddNativeTimeOutHandler(doomed, 500, record, "never", ZV_TASK_PERIODIC);
  zvAddNativeTimeOutHandler(doomed, 0, deleteObject, "", ZV_TASK_PERIODIC);
  ran.clear();
  zvWakeUpTask(world);
  EXPECT_EQ(std::count(ran.begin(), ran.end(), "never"), 0);
  EXPECT_EQ(std::count(ran.begin(), ran.end(), "deleter"), 1);
  EXPECT_EQ(zvCountTasks(world), 1);  // the adder's

  // A task is only removed through its own object.
  ZvObj* other = make();
  EXPECT_EQ(zvRemoveTimeOutHandler(other, world->timeouts), -1);
  zvDeleteZvObj(o);
  EXPECT_EQ(world->timeouts, nullptr);
}

TEST_F(TasksTest, RestartArmsEveryTaskFromNow) {
  add(300, "long", ZV_TASK_PERIODIC);
  add(500, "longer", ZV_TASK_PERIODIC);
  add(100, "short", ZV_TASK_PERIODIC);
  fakeNow += 10000;
  zvRestartTasks(world);
  EXPECT_EQ(order(), (std::vector<std::string>{"short", "long", "longer"}));
  EXPECT_EQ(world->timeouts->seconds * 1000ull + world->timeouts->milliseconds, fakeNow + 100);
  fakeNow += 300;
  zvWakeUpTask(world);
  EXPECT_EQ(ran, (std::vector<std::string>{"short", "short", "long", "short"}));
}

TEST_F(TasksTest, TclTasksKeepRunningOnlyWhileTheyReturnZero) {
  file("t.tcl",
       "proc once {o args} { global once; incr once; return }\n"
       "proc always {o args} { global always; incr always; return 0 }\n"
       "proc words {o args} { global words; set words $args; return 1 }\n");
  ASSERT_NE(zvAddTimeOutHandler(o, "t.tcl", 100, ZV_SCRIPT_TCL, "once", "", ZV_TASK_PERIODIC), nullptr) << sink.dump();
  ASSERT_NE(zvAddTimeOutHandler(o, "t.tcl", 100, ZV_SCRIPT_TCL, "always", "", ZV_TASK_PERIODIC), nullptr);
  ASSERT_NE(zvAddTimeOutHandler(o, "t.tcl", 100, ZV_SCRIPT_TCL, "words", "a {b c}", ZV_TASK_SPORADIC), nullptr);
  for (int i = 0; i < 3; ++i) {
    fakeNow += 100;
    EXPECT_EQ(zvWakeUpTask(world), 0) << sink.dump();
  }
  EXPECT_EQ(tcl("set once"), "1");
  EXPECT_EQ(tcl("set always"), "3");
  EXPECT_EQ(tcl("lindex $words 1"), "b c");
  EXPECT_EQ(zvCountTasks(world), 1);
  EXPECT_EQ(zvAddTimeOutHandler(o, "t.tcl", 100, ZV_SCRIPT_C, "once", "", ZV_TASK_PERIODIC), nullptr);
  EXPECT_TRUE(sink.hasText("zvAddTimeOutHandler: unknown script type"));
}

}  // namespace
