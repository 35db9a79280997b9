// nodetype.cpp — the numbering of VRML node types shared by objects and
// leaf kinds.
#include <cstring>

#include "scene/scene.h"

namespace {

const char* const kNames[ZV_NODE_LAST + 1] = {
    nullptr,           "AmbientSound",       "Cone",
    "Coordinate3",     "Cube",               "Cylinder",
    "DirectionalLight", "Group",             "IndexedFaceSet",
    "IndexedLineSet",  "Info",               "LOD",
    "Material",        "MaterialBinding",    "MatrixTransform",
    "Normal",          "NormalBinding",      "OrthographicCamera",
    "PerspectiveCamera", "PointLight",       "PointSet",
    "Rotation",        "Scale",              "Separator",
    "ShapeHints",      "Sphere",             "SpotLight",
    "Switch",          "Texture2",           "Texture2Transform",
    "TextureCoordinate2", "Transform",       "TransformSeparator",
    "Translation",     "TransparentTexture2", "WWWAnchor",
    "WWWInline",       "AsciiText",          "KinJoint",
};

}  // namespace

int zvNodeTypeByName(const char* name) {
  if (!name) return ZV_NODE_NONE;
  // Every object made asks this; the first letter rules out nearly every
  // name before a call is spent on it.
  for (int i = 1; i <= ZV_NODE_LAST; ++i)
    if (kNames[i][0] == name[0] && std::strcmp(kNames[i], name) == 0) return i;
  return ZV_NODE_NONE;
}

const char* zvNodeTypeName(int type) {
  if (type < 1 || type > ZV_NODE_LAST) return nullptr;
  return kNames[type];
}
