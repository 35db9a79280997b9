// attribute.cpp — object, light and camera attributes by number, the way
// scripts read and change them. Changes that show on screen go through the
// renderer first so the model never claims something the view does not show.
#include <cstring>

#include "scene/scene.h"

namespace {

// Answers to gets live here until the next call; scripts format them at once.
int32_t answerWord;
float answerXyz[3];

enum Support { kYes, kNotSupported, kWrongName };

// Which light attribute each light kind has. Location and direction come
// from the object's transform, so they are known but cannot be set here.
Support lightSupport(int leafType, int number) {
  static const Support table[3][7] = {
      // on   intensity colour location       direction      drop-off    cut-off
      {kYes, kYes, kYes, kNotSupported, kWrongName, kWrongName, kWrongName},       // point
      {kYes, kYes, kYes, kNotSupported, kNotSupported, kYes, kYes},                 // spot
      {kYes, kYes, kYes, kWrongName, kNotSupported, kWrongName, kWrongName},       // directional
  };
  if (number < 0 || number > 6) return kWrongName;
  return table[leafType - ZV_LEAF_POINT_LIGHT][number];
}

// Checks that the object holds a light with the attribute; warns as `who`.
ZvLight* lightFor(ZvObj* object, int number, const char* who) {
  ZvLeaf* leaf = object->leaf;
  if (!leaf) {
    zvWarning("%s : not a leaf object", who);
    return nullptr;
  }
  if (!zvIsLightLeaf(leaf)) {
    zvWarning("%s : not a light object", who);
    return nullptr;
  }
  if (leaf->type != ZV_LEAF_POINT_LIGHT && leaf->type != ZV_LEAF_SPOT_LIGHT && leaf->type != ZV_LEAF_DIRECTIONAL_LIGHT) {
    zvWarning("%s : wrong light type", who);
    return nullptr;
  }
  switch (lightSupport(leaf->type, number)) {
    case kWrongName:
      zvWarning("%s : wrong attribute name", who);
      return nullptr;
    case kNotSupported:
      zvWarning("%s : not not supported yet", who);
      return nullptr;
    case kYes:
      break;
  }
  return static_cast<ZvLight*>(leaf);
}

ZvCamera* cameraFor(ZvObj* object, const char* who) {
  ZvLeaf* leaf = object->leaf;
  if (!leaf) {
    zvWarning("%s : not a leaf object", who);
    return nullptr;
  }
  if (!zvIsCameraLeaf(leaf)) {
    zvWarning("%s : not a camera object", who);
    return nullptr;
  }
  return static_cast<ZvCamera*>(leaf);
}

bool hasCamera(const ZvObj* object) { return object && zvIsCameraLeaf(object->leaf); }

uint32_t flagOf(int number) {
  switch (number) {
    case 8: return ZV_OBJ_HAS_CUBE;
    case 9: return ZV_OBJ_CUBE_VALID;
    case 10: return ZV_OBJ_PCUBE_VALID;
    case 11: return ZV_OBJ_WRT_VALID;
    case 13: return ZV_OBJ_GRASP;
    case 15: return ZV_OBJ_COLLISION;
    case 16: return ZV_OBJ_MOBILE;
    default: return 0;
  }
}

int stringSlot(int number) {
  switch (number) {
    case 4: return ZV_STR_NAME;
    case 5: return ZV_STR_TEXT;
    case 6: return ZV_STR_COMMENT;
    default: return -1;
  }
}

void setFlag(ZvObj* object, uint32_t flag, bool on) {
  if (on)
    object->flags |= flag;
  else
    object->flags &= ~flag;
}

}  // namespace

int zvGetObjAttribute(ZvObj* object, int number, void** value) {
  if (!object || !value) return ZV_FAIL;
  if (number == 3) {
    const char* name = zvNodeTypeName(object->nodeType);
    *value = const_cast<char*>(name ? name : "");
    return ZV_OK;
  }
  if (int slot = stringSlot(number); slot >= 0) {
    *value = object->strings[slot];
    return ZV_OK;
  }
  if (number == 7) return ZV_OK;
  if (number == 12) {
    answerWord = zvIsVisible(object);
  } else if (number == 14) {
    answerWord = zvIsSolid(object);
  } else if (uint32_t flag = flagOf(number)) {
    answerWord = (object->flags & flag) ? 1 : 0;
  } else {
    return ZV_FAIL;
  }
  *value = &answerWord;
  return ZV_OK;
}

int zvSetObjAttribute(ZvObj* object, int number, void* value) {
  if (!object) return ZV_FAIL;
  if (number == 7) return ZV_OK;
  if (number < 3 || number > 16) return ZV_FAIL;
  if (!value) return ZV_FAIL;
  if (number == 3) {
    object->nodeType = zvNodeTypeByName(static_cast<const char*>(value));
    return ZV_OK;
  }
  if (int slot = stringSlot(number); slot >= 0) {
    char* copy = zvStrdup(static_cast<const char*>(value));
    if (!copy) {
      zvError("zvSetObjAttrbute:ZvStrdup Failed.");
      return ZV_FAIL;
    }
    zvFree(object->strings[slot]);
    object->strings[slot] = copy;
    return ZV_OK;
  }
  bool on = (*static_cast<const int32_t*>(value) & 1) != 0;
  ZvSceneHooks& hooks = zvSceneHooks();
  if (number == 12) {
    if (hooks.renderSetVisible) return hooks.renderSetVisible(object, on) == 0 ? ZV_OK : ZV_FAIL;
    setFlag(object, ZV_OBJ_VISIBLE, on);
    return ZV_OK;
  }
  if (number == 14) {
    if (hooks.renderSetSolid) return hooks.renderSetSolid(object, on) == 0 ? ZV_OK : ZV_FAIL;
    setFlag(object, ZV_OBJ_SOLID, on);
    return ZV_OK;
  }
  setFlag(object, flagOf(number), on);
  return ZV_OK;
}

int zvGetLightAttribute(ZvObj* object, int number, void** value) {
  if (!object || !value) return ZV_FAIL;
  ZvLight* light = lightFor(object, number, "zvGetLightAttribute");
  if (!light) return ZV_FAIL;
  switch (number) {
    case ZV_LIGHT_ON:
      answerWord = light->on ? 1 : 0;
      *value = &answerWord;
      break;
    case ZV_LIGHT_INTENSITY:
      *value = &light->intensity;
      break;
    case ZV_LIGHT_COLOR:
      *value = &light->color;
      break;
    case ZV_LIGHT_DROP_OFF_RATE:
      *value = &static_cast<ZvSpotLight*>(light)->dropOffRate;
      break;
    default:  // the table lets nothing else through
      *value = &static_cast<ZvSpotLight*>(light)->cutOffAngle;
      break;
  }
  return ZV_OK;
}

int zvSetLightAttribute(ZvObj* object, int number, void* value) {
  if (!object) return ZV_FAIL;
  ZvLight* light = lightFor(object, number, "zvSetLightAttribute");
  if (!light || !value) return ZV_FAIL;
  ZvSceneHooks& hooks = zvSceneHooks();
  if (hooks.renderSetLightAttribute && hooks.renderSetLightAttribute(object, number, value) != 0) return ZV_FAIL;
  const float* f = static_cast<const float*>(value);
  switch (number) {
    case ZV_LIGHT_ON:
      light->on = *static_cast<const int32_t*>(value) ? 1 : 0;
      break;
    case ZV_LIGHT_INTENSITY:
      light->intensity = f[0];
      break;
    case ZV_LIGHT_COLOR:
      light->color = {f[0], f[1], f[2]};
      break;
    case ZV_LIGHT_DROP_OFF_RATE:
      static_cast<ZvSpotLight*>(light)->dropOffRate = f[0];
      break;
    default:
      static_cast<ZvSpotLight*>(light)->cutOffAngle = f[0];
      break;
  }
  return ZV_OK;
}

int zvGetCameraAttribute(ZvObj* object, int number, void** value) {
  if (!object || !value) return ZV_FAIL;
  ZvCamera* camera = cameraFor(object, "zvGetCameraAttribute");
  if (!camera) return ZV_FAIL;
  switch (number) {
    case zvCameraAttrPosition:
      if (zvGetCameraPosition(object, answerXyz) != 0) {
        zvWarning("zvGetCameraAttribute : cannot get camera position");
        return ZV_FAIL;
      }
      *value = answerXyz;
      return ZV_OK;
    case zvCameraAttrLookAt:
      if (zvGetCameraLookAt(object, answerXyz) != 0) {
        zvWarning("zvGetCameraAttribute : cannot get camera look at");
        return ZV_FAIL;
      }
      *value = answerXyz;
      return ZV_OK;
    case zvCameraAttrFocalDistance:
      *value = &camera->focalDistance;
      return ZV_OK;
    case zvCameraAttrHeight:
      if (camera->type != ZV_LEAF_ORTHOGRAPHIC_CAMERA) break;
      *value = &camera->height;
      return ZV_OK;
    case zvCameraAttrHeightAngle:
      if (camera->type != ZV_LEAF_PERSPECTIVE_CAMERA) break;
      *value = &camera->height;
      return ZV_OK;
    case zvCameraAttrBackgroundColor:
      if (!object->world) {
        zvWarning("zvGetCameraAttribute : cannot get a world");
        return ZV_FAIL;
      }
      *value = &object->world->background;
      return ZV_OK;
    default:
      break;
  }
  zvWarning("zvGetCameraAttribute : wrong attribute name");
  return ZV_FAIL;
}

int zvSetCameraAttribute(ZvObj* object, int number, void* value) {
  if (!object) return ZV_FAIL;
  ZvCamera* camera = cameraFor(object, "zvSetCameraAttribute");
  if (!camera) return ZV_FAIL;
  if (number < zvCameraAttrPosition || number > zvCameraAttrBackgroundTexture) {
    zvWarning("zvSetCameraAttribute : wrong attribute name");
    return ZV_FAIL;
  }
  if (number == zvCameraAttrFocalDistance) {
    zvWarning("zvSetCameraAttribute : not supported yet");
    return ZV_FAIL;
  }
  // Only the background texture may be null: null takes the backdrop away.
  if (!value && number != zvCameraAttrBackgroundTexture) return ZV_FAIL;
  if ((number == zvCameraAttrBackgroundColor || number == zvCameraAttrBackgroundTexture) && !object->world) {
    zvWarning("zvSetCameraAttribute : cannot get a world");
    return ZV_FAIL;
  }
  ZvSceneHooks& hooks = zvSceneHooks();
  // The height field means a view height or a height angle depending on the
  // camera kind; a value of the other kind would corrupt it. The renderer
  // refuses it with these words itself, so without one we say the same.
  bool kindMatches = true;
  if (number == zvCameraAttrHeight && camera->type != ZV_LEAF_ORTHOGRAPHIC_CAMERA) {
    kindMatches = false;
    if (!hooks.renderSetCameraAttribute) zvWarning("ONLY OrthographicCamera can cange zvCameraAttrHeight, sorry.");
  }
  if (number == zvCameraAttrHeightAngle && camera->type != ZV_LEAF_PERSPECTIVE_CAMERA) {
    kindMatches = false;
    if (!hooks.renderSetCameraAttribute) zvWarning("ONLY PerspectiveCamera can cange zvCameraAttrHeightAngle, sorry.");
  }
  if (hooks.renderSetCameraAttribute) {
    if (hooks.renderSetCameraAttribute(object, number, value) != 0) return ZV_FAIL;
  }
  if (!kindMatches) return ZV_FAIL;
  const float* f = static_cast<const float*>(value);
  switch (number) {
    case zvCameraAttrPosition:
      return zvObjectTranslate(object, f, ZV_COORD_WORLD, ZV_TRANSFORM_SET) == 0 ? ZV_OK : ZV_FAIL;
    case zvCameraAttrLookAt:
      if (!hooks.cameraSetLookAt) {
        zvWarning("zvSetCameraAttribute : cannot set camera look at");
        return ZV_FAIL;
      }
      return hooks.cameraSetLookAt(object, f) == 0 ? ZV_OK : ZV_FAIL;
    case zvCameraAttrHeight:
    case zvCameraAttrHeightAngle:
      camera->height = f[0];
      return ZV_OK;
    case zvCameraAttrBackgroundColor:
      object->world->background = {f[0], f[1], f[2]};
      return ZV_OK;
    default:
      object->world->backgroundTexture = static_cast<ZvUrlHash*>(value);
      return ZV_OK;
  }
}

int zvGetCameraPosition(ZvObj* camera, float xyz[3]) {
  if (!camera || !xyz) return ZV_FAIL;
  if (!hasCamera(camera)) {
    zvWarning("zvGetCameraPosition: has no camera");
    return ZV_FAIL;
  }
  const ZvTransform* wrt = zvGetObjectWRT(camera);
  if (!wrt) return ZV_FAIL;
  std::memcpy(xyz, wrt->m[3], 3 * sizeof(float));
  return ZV_OK;
}

int zvGetCameraLookAt(ZvObj* camera, float xyz[3]) {
  if (!camera || !xyz) return ZV_FAIL;
  if (!hasCamera(camera)) {
    zvWarning("zvGetCameraLookAt: has no camera");
    return ZV_FAIL;
  }
  const ZvTransform* wrt = zvGetObjectWRT(camera);
  if (!wrt) return ZV_FAIL;
  std::memcpy(xyz, wrt->m[2], 3 * sizeof(float));
  return ZV_OK;
}

int zvGetCameraLookUp(ZvObj* camera, float xyz[3]) {
  if (!camera || !xyz) return ZV_FAIL;
  if (!hasCamera(camera)) {
    zvWarning("zvGetCameraLookUp: has no camera");
    return ZV_FAIL;
  }
  const ZvTransform* wrt = zvGetObjectWRT(camera);
  if (!wrt) return ZV_FAIL;
  std::memcpy(xyz, wrt->m[1], 3 * sizeof(float));
  return ZV_OK;
}
