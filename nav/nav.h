// nav.h — the user's person and its navigation: the eye camera added to a
// person, the start viewpoint of a world, placing the person at a viewpoint,
// the per-world navigation record that walking reads and writes, the frame
// step and the pointer drag; picking, segment searches against the object
// tree and collisions between objects.
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
  int32_t jumpMode;  // "Jumping Eye": a click on an object carries the eye to it
  int32_t userOff;   // the world's scripts took the steering from the user
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
// The world-space box around what the world shows at the start: chosen
// Switch children and levels of detail only, visible shapes, text by its
// laid-out extent; the person left out. -1 when nothing is to be seen.
int zvNavVisibleBounds(ZvWorld* world, float min[3], float max[3]);
// Moves and turns the person so that its camera has the given world
// transform (a camera looking along its -z).
int zvPlacePerson(ZvObj* person, const ZvTransform* transform);
// Creates or resets the current world's navigation record.
int zvNavInit(void);
ZvNavigation* zvGetNavigation(ZvWorld* world);
// Fills the scene model's person hooks (camera building and registration).
void zvNavInstallHooks(void);

// ---------------------------------------------------------------------------
// Seams to layers that come later or live elsewhere; each entry may stay
// null, and then does nothing (no keys held, no sound, no message).
struct ZvNavKeys {
  int up, down, left, right, shift, control;  // nonzero while held
};
struct ZvNavHooks {
  void (*readKeys)(ZvNavKeys* keys);
  // The main window: the mouse capture taken for a drag is let go.
  void (*releaseCapture)(void);
  // A wave file played once (the collision alert's "alert.wav").
  void (*playWave)(const char* file);
  // A message to the main window (the collision alert: 1029, 0, 255).
  void (*postMainMessage)(int message, int a, int b);
  // Ambient sounds by object name: play looped (1) or stop (0).
  void (*ambientSound)(ZvWorld* world, const char* name, int play);
  // Shared worlds: whether the person is known to a connected server, and
  // sending its place (3 values, class 2) or its whole transform (12).
  int (*sharedPerson)(ZvObj* person);
  void (*sendPosition)(ZvObj* person, int messageClass, const float* values, int count);
  // Delivers a collision event to object, other being what it hit; the
  // handler's value (nonzero stops a collision search).
  int (*collisionEvent)(ZvObj* object, ZvObj* other);
};
ZvNavHooks& zvNavHooks(void);
void zvNavSetKeyReader(void (*read)(ZvNavKeys* keys));

// ---------------------------------------------------------------------------
// Navigation, on the current world
int zvNavStep(void);  // one frame: keys or drag, animations, head tilt, reports
// The pointer: a press starts a drag (ignored while one runs or while the
// pointer handling is off), motion steers it, release ends it.
int zvNavButtonPress(int x, int y, int shift, int control);
int zvNavPointerMotion(int x, int y);
int zvNavButtonRelease(void);
// While the interaction layer holds the mouse; both answer the previous
// value. Switching off ends a drag and lets the capture go.
int zvNavPointerHandlingOff(void);
int zvNavPointerHandlingOn(void);
// The user's steering of a world, keys and pointer, as its scripts switch
// it; it stays off until switched on again (the pointer handling above is
// given back after every press). Switching off ends a drag and lets the
// capture go. Both answer whether it was on; the record is made if missing.
int zvNavSetUserNavigation(ZvWorld* world, int on);
int zvNavUserNavigation(ZvWorld* world);  // 1 on, 0 off
// A hop of the given height, unless an animation runs.
int zvNavJump(ZvObj* person, float height);
// Carries the person, in an animated approach, to stand before a point of
// the world (a clicked object), unless an animation runs.
int zvNavApproach(ZvObj* person, const float point[3]);
// The person back at the world's start placement (Home).
int zvNavGoHome(ZvWorld* world);
// The person's head light: -1 when it has none, else whether it is on.
int zvNavHeadLight(ZvWorld* world);
int zvNavSetHeadLight(ZvWorld* world, int on);
void zvUpdateFootsteps(void);
// The key-repeat multiplier for a counter of frames held.
int zvNavKeyMultiplier(int framesHeld);

// Turns an object (mode 0) or its top-level ancestor (mode 1) as a ball
// dragged from one window point to another under the active camera.
int zvApplyVirtualTrackball(int mode, ZvObj* object, int x1, int y1, int x2, int y2);
// The viewing ray through a window point of the active camera, in world
// coordinates (direction of unit length).
int zvNavWindowPointToRay(ZvWorld* world, int x, int y, float origin[3], float direction[3]);

// ---------------------------------------------------------------------------
// Picking
struct RwClump;
struct ZvPickResult {
  ZvObj* object;
  ZvLeaf* leaf;
  float distance;  // from the camera position
  float point[3];  // world coordinates
  int32_t part;    // segment index of a line set, point index of a point set
  RwClump* clump;
  int32_t normalValid;
  float normal[3];  // world coordinates, unit
};
enum { ZV_PICK_NOTHING = -7 };
int zvPickupZvShape(ZvWorld* world, int x, int y, ZvPickResult* result);

// ---------------------------------------------------------------------------
// Segment tests. A hit is measured by t along start + t (end - start): the
// segment acts as a ray from its start through its end. distance is in and
// out: -1 (or a null pointer) for nothing known yet, else only nearer hits
// count. Points are world coordinates.
int zvIntersectLineAndLeafObj(const float start[3], const float end[3], float* distance, ZvObj* object,
                              ZvLeaf** leaf, int* part, float point[3]);
// Per shape kind, over the object's leaf chain from leaf; p and q are the
// ends already in leaf coordinates, start and end the world ones.
struct ZvLineProbe {
  const float* start;  // world
  const float* end;
  float p[3], q[3];  // leaf coordinates
  float distance;    // -1 or the nearest so far
  ZvLeaf* leaf;
  int32_t part;
};
int zvIntersectLineAndSphereLeaf(ZvLineProbe* probe, ZvLeaf* leaf);
int zvIntersectLineAndFaceLeaf(ZvLineProbe* probe, ZvLeaf* leaf);
int zvIntersectLineAndCylinderLeaf(ZvLineProbe* probe, ZvLeaf* leaf);
int zvIntersectLineAndConeLeaf(ZvLineProbe* probe, ZvLeaf* leaf);
int zvIntersectLineAndLineLeaf(ZvLineProbe* probe, ZvLeaf* leaf);
int zvIntersectLineAndPointSetLeaf(ZvLineProbe* probe, ZvLeaf* leaf);
int zvIntersectLineAndTextLeaf(ZvLineProbe* probe, ZvLeaf* leaf);

ZvObj* zvFindZvObjByLine(ZvObjList* objects, const float start[3], const float end[3], float* distance,
                         ZvObj** object, ZvLeaf** leaf, int* part, float point[3]);
ZvObj* zvFindZvObjByPerson(ZvWorld* world, const float start[3], const float end[3], float* distance,
                           ZvObj** object, ZvLeaf** leaf, int* part, float point[3]);

// ---------------------------------------------------------------------------
// Box tests
// A segment against the object's bounding cube: 1 on a hit (t and point set).
int zvIntersectLineAndObjBox(const float start[3], const float end[3], ZvObj* object, float* t, float point[3]);
// Two objects' cubes in their parents' frames, axis-aligned: 1 overlapping.
int zvIsObjBoxOverlapAxisAligned(ZvObj* a, ZvObj* b);
// Two objects' own cubes as oriented boxes: 1 overlapping.
int zvIsObjBoxOverlap(ZvObj* a, ZvObj* b);
// An object's cube against an axis-aligned box in world coordinates.
int zvIsObjBoxOverlapBox(ZvObj* object, const float min[3], const float max[3]);

// ---------------------------------------------------------------------------
// Collisions. Each answers the first nonzero handler value, 0 when nothing
// collided (or collided without a value), -1 on misuse.
int zvCollisionObjAndWorld(ZvObj* object);
int zvCollisionObjAndObj(ZvObj* me, ZvObj* you);
int zvCollisionSubObjAndWorld(ZvObj* sub);
int zvCollisionSubObjAndObj(ZvObj* sub, ZvObj* you);
int zvEvalCollisionObjs(ZvObj* a, ZvObj* b, int notifyA, int notifyB, int* collided);
// The top-object queries as scripts ask them: which side hears of a
// collision (notify 1, as zvEvalCollisionObjs takes it), and whether any
// pair collided at all, with or without a handler value.
int zvCollisionObjAndWorldNotify(ZvObj* object, int notifyMe, int notifyOthers, int* collided);
int zvCollisionObjAndObjNotify(ZvObj* me, ZvObj* you, int notifyMe, int notifyYou, int* collided);
