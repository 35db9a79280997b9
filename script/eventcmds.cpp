// eventcmds.cpp — the script commands for event handlers, timed tasks and
// the fields of the event a handler receives.
//
// Script type 4 names a routine of the program itself; a script can only
// give a number, so it is refused here as an unknown type, before the
// events layer sees it.
#include <cstring>

#include "script/scriptpriv.h"

namespace {

constexpr long kNativeScriptType = 4;

// The words shared by the handler commands: ZvObj ZvBitMask ZvScriptType
// filenameUrl function user_data actionObj.
struct HandlerWords {
  ZvObj* object;
  long mask, type;
};

int readHandlerWords(ZvScriptCall& call, HandlerWords* w, const char* routine) {
  w->object = call.obj(1);
  if (!w->object) return -1;
  if (call.integer(2, &w->mask) != 0 || call.integer(3, &w->type) != 0) return -1;
  if (w->type == kNativeScriptType) {
    zvWarning("%s: unknown script type", routine);
    call.fail("%s: unknown script type", routine);
    return -1;
  }
  return 0;
}

int addEventHandler(ZvScriptCall& call) {
  HandlerWords w;
  if (readHandlerWords(call, &w, "zvSetEventHandler") != 0) return TCL_ERROR;
  return call.ok(long(zvAddEventHandler(w.object, call.argv[4], uint32_t(w.mask), int(w.type), call.argv[5],
                                        call.argv[6], call.argv[7])));
}

int removeEventHandler(ZvScriptCall& call) {
  HandlerWords w;
  if (readHandlerWords(call, &w, "zvRemoveEventHandler") != 0) return TCL_ERROR;
  return call.ok(long(zvRemoveEventHandler(w.object, call.argv[4], uint32_t(w.mask), int(w.type), call.argv[5],
                                           call.argv[6], call.argv[7])));
}

int addTimeOutHandler(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  long interval = 0, type = 0, taskType = 0;
  if (call.integer(2, &interval) != 0 || call.integer(3, &type) != 0 || call.integer(7, &taskType) != 0)
    return TCL_ERROR;
  if (type == kNativeScriptType) {
    zvWarning("zvAddTimeOutHandler: unknown script type");
    return call.fail("zvAddTimeOutHandler: unknown script type");
  }
  if (interval < 0) interval = 0;
  ZvTimeOutHandlerList* task = zvAddTimeOutHandler(object, call.argv[4], uint32_t(interval), int(type),
                                                   call.argv[5], call.argv[6], int(taskType));
  if (!task) return call.fail("%s: no task added", call.name);
  return call.ok(zvScriptHandleOf(task, ZV_HANDLE_TASK));
}

int removeTimeOutHandler(ZvScriptCall& call) {
  ZvObj* object = call.obj(1);
  if (!object) return TCL_ERROR;
  ZvTimeOutHandlerList* task = call.task(2);
  if (!task) return TCL_ERROR;
  // The handle table answers only live tasks; one of another object is
  // refused by the events layer without being touched.
  if (zvRemoveTimeOutHandler(object, task) != 0) return call.fail("%s:bad TimeOutHandle[%s]", call.name, call.argv[2]);
  return call.ok();
}

int eventType(ZvScriptCall& call) {
  ZvEvent* e = call.event(1);
  return e ? call.ok(long(e->type)) : TCL_ERROR;
}

int eventKey(ZvScriptCall& call) {
  ZvEvent* e = call.event(1);
  return e ? call.ok(long(int(e->key))) : TCL_ERROR;
}

int eventPart(ZvScriptCall& call) {
  ZvEvent* e = call.event(1);
  return e ? call.ok(zvScriptHandleOf(e->part, ZV_HANDLE_LEAF)) : TCL_ERROR;
}

int eventObj(ZvScriptCall& call) {
  ZvEvent* e = call.event(1);
  return e ? call.ok(zvScriptHandleOf(e->object, ZV_HANDLE_OBJ)) : TCL_ERROR;
}

int eventModifier(ZvScriptCall& call) {
  ZvEvent* e = call.event(1);
  return e ? call.ok(long(e->modifiers)) : TCL_ERROR;
}

int eventPoint(ZvScriptCall& call) {
  ZvEvent* e = call.event(1);
  if (!e) return TCL_ERROR;
  for (int i = 0; i < 3; ++i)
    if (call.setVarFloat(2 + i, e->point3[i]) != TCL_OK) return TCL_ERROR;
  return call.ok();
}

int event2DPoint(ZvScriptCall& call) {
  ZvEvent* e = call.event(1);
  if (!e) return TCL_ERROR;
  for (int i = 0; i < 2; ++i)
    if (call.setVarFloat(2 + i, e->point2[i]) != TCL_OK) return TCL_ERROR;
  return call.ok();
}

int eventTime(ZvScriptCall& call) {
  ZvEvent* e = call.event(1);
  if (!e) return TCL_ERROR;
  if (call.setVar(2, long(e->seconds)) != TCL_OK || call.setVar(3, long(e->milliseconds)) != TCL_OK)
    return TCL_ERROR;
  return call.ok();
}

}  // namespace

extern const ZvScriptCommand zvScriptEventCommands[] = {
    {"zvAddTimeOutHandler", "ZvObj time_value ZvScriptType filenameUrl function user_data ZvTaskType", 7, 7,
     addTimeOutHandler},
    {"zvRemoveTimeOutHandler", "ZvObj timeOutHandle", 2, 2, removeTimeOutHandler},
    {"zvAddEventHandler", "ZvObj ZvBitMask ZvScriptType filenameUrl function user_data actionObj", 7, 7,
     addEventHandler},
    {"zvRemoveEventHandler", "ZvObj ZvBitMask ZvScriptType filenameUrl function user_data actionObj", 7, 7,
     removeEventHandler},
    {"zvGetEventType", "ZvEvent", 1, 1, eventType},
    {"zvGetEventKey", "ZvEvent", 1, 1, eventKey},
    {"zvGetEventPart", "ZvEvent", 1, 1, eventPart},
    {"zvGetEventObj", "ZvEvent", 1, 1, eventObj},
    {"zvGetEventPoint", "ZvEvent x y z", 4, 4, eventPoint},
    {"zvGetEventModifier", "ZvEvent", 1, 1, eventModifier},
    {"zvGetEvent2DPoint", "ZvEvent x y", 3, 3, event2DPoint},
    {"zvGetEventTime", "ZvEvent sec milli_sec", 3, 3, eventTime},
    {nullptr, nullptr, 0, 0, nullptr},
};
