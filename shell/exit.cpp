// exit.cpp — routines that must run at shutdown (saving the bookmarks among
// them), run last registered first.
#include "shell/shell.h"

namespace {
ZvExitHandler handlers[ZV_MAX_EXIT_HANDLERS];
int16_t handlerCount = 0;
}  // namespace

void zvClearExitHandlers(void) { handlerCount = 0; }

int zvAddExitHandler(ZvExitHandler handler) {
  if (!handler || handlerCount >= ZV_MAX_EXIT_HANDLERS) return -1;
  handlers[handlerCount++] = handler;
  return 0;
}

void zvExit(void) {
  // Each handler runs once even if one of them calls zvExit again.
  while (handlerCount > 0) handlers[--handlerCount]();
}
