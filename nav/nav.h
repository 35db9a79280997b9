// nav.h — the user's person and its navigation: the eye camera added to a
// person, the start viewpoint of a world, placing the person at a viewpoint,
// and the per-world navigation record that walking reads and writes.
#pragma once

#include <cstdint>

#include "scene/scene.h"

struct ZvNavigation {
  int32_t dragMode;       // 0 none, 1 plain drag, 3 with Shift, 4 with Shift and Control
  int32_t animationMode;  // 0 none, 1 and 2 an animated approach, 3 a hop
  int32_t animationSteps;
  float animation[2][3];
  int32_t press[2];       // window point where a drag began
  float forwardSpeed;     // along the person's own z, per frame
  float turnSpeed;
  float turnAngle;        // degrees per frame
  float pitch;            // degrees of head tilt, -80 .. 80; positive looks down
  float step;             // base distance per frame
  int32_t gravity;
  int32_t collision;
  float hopStep;
  int32_t pointerOff;
};

// Camera leaves as the person's camera uses them.
enum { ZV_PERSON_CAMERA = 2, ZV_WORLD_CAMERA = 3 };

// Adds a perspective camera at the top of the person, registered as camera 2
// and made active.
int zvAddCameraToPerson(ZvObj* person);
// Registers an existing camera object of the person as camera 2, active.
int zvRegisterPersonCamera(ZvObj* camera);
// The person's camera object (camera 2 of its world), or null.
ZvObj* zvGetPersonCamera(ZvWorld* world);
// Places the person at the world's start viewpoint: its own camera (3) when
// it has one, else a view from in front that takes in the whole world.
int zvAdjustPersonToActiveCamera(ZvObj* person);
// Moves and turns the person so that its camera has the given world
// transform (a camera looking along its -z).
int zvPlacePerson(ZvObj* person, const ZvTransform* transform);
// Creates or resets the current world's navigation record.
int zvNavInit(void);
ZvNavigation* zvGetNavigation(ZvWorld* world);
// Fills the scene model's person hooks (camera building and registration).
void zvNavInstallHooks(void);
