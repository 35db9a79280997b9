// camerapriv.h — how the rest of the model tells the camera table that an
// object or a camera leaf is going away.
#pragma once

#include "scene/scene.h"

// Drops every entry naming the object, quietly: most objects have none.
void zvForgetCameraObj(ZvWorld* world, ZvObj* object);
// Takes a camera leaf whose object lets go of it, when the leaf's world has
// a table; false (nothing done) otherwise.
bool zvKeepCameraLeaf(ZvLeaf* leaf);
