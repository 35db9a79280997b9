// hooks.cpp — the table through which the model reaches the layers above it.
#include "scene/scene.h"

ZvSceneHooks& zvSceneHooks(void) {
  static ZvSceneHooks hooks{};
  return hooks;
}
