// qvnodes.h — parsed VRML nodes: the base class, reading one node (DEF,
// USE, NULL, the body in braces), group child lists, the factory and the
// catalogue of node types with their fields, enumerations and defaults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vrml/qvfields.h"

class QvNode {
 public:
  QvNode() = default;
  virtual ~QvNode();
  QvNode(const QvNode&) = delete;
  QvNode& operator=(const QvNode&) = delete;

  // A node reached through USE is shared: the graph counts its owners.
  void ref() { ++refCount_; }
  void unref() {
    if (--refCount_ <= 0) delete this;
  }

  virtual const char* typeName() const = 0;
  virtual int kind() const = 0;
  virtual QvFieldData* getFieldData() const = 0;
  virtual bool isBuiltIn() const { return true; }
  virtual bool isGroup() const { return false; }
  virtual bool readInstance(QvInput* in);

  const std::string& getName() const { return name_; }
  void setName(const std::string& name) { name_ = name; }
  long startLine() const { return startLine_; }

  // Fields in the order the file set them; at most kMaxOrder are listed.
  enum { kMaxOrder = 30 };
  void addFieldInOrder(QvField* field);
  int fieldOrderCount() const { return orderCount_; }
  QvField* fieldInOrder(int i) const { return order_[i]; }

  // Reads one node or reference; node is null (with success) at the end of
  // a list, for NULL, or at a character that cannot start a node.
  static bool read(QvInput* in, QvNode*& node);
  static QvNode* createInstance(const std::string& typeName);

 protected:
  bool reading_ = false;  // inside its own body: a USE of it would be a cycle
  bool readFieldDeclaration(QvInput* in);
  std::string name_;
  long startLine_ = 0;
  int refCount_ = 0;
  int orderCount_ = 0;
  QvField* order_[kMaxOrder] = {};
};

class QvGroup : public QvNode {
 public:
  ~QvGroup() override;
  bool isGroup() const override { return true; }
  bool readInstance(QvInput* in) override;
  bool readChildren(QvInput* in);
  int getNumChildren() const { return int(children.size()); }
  QvNode* getChild(int i) const { return children[size_t(i)]; }
  std::vector<QvNode*> children;
};

// Top-level read of one node: anything but a node there is an error.
struct QvDB {
  static bool read(QvInput* in, QvNode*& node);
};

// The inline counter numbers the inlines of a file as they are read.
void qvSetInlineCounter(int value);
int qvGetInlineCounter(void);
// How deep nodes may nest before the rest is skipped, and how many nodes one
// file may hold: a small compressed file can unpack to millions of nodes.
enum { QV_MAX_NESTING = 512, QV_MAX_NODES = 2000000 };

// Enumerations, by the type names they are registered under.
extern const QvEnumEntry qvBindingEnum, qvConePartEnum, qvCylinderPartEnum, qvWrapEnum, qvMapEnum,
    qvVertexOrderingEnum, qvShapeTypeEnum, qvFaceTypeEnum, qvCullEnum, qvJustificationEnum, qvScriptTypeEnum,
    qvEventTypeEnum;

enum {  // Binding
  QV_BINDING_DEFAULT, QV_BINDING_NONE, QV_BINDING_OVERALL, QV_BINDING_PER_PART, QV_BINDING_PER_PART_INDEXED,
  QV_BINDING_PER_FACE, QV_BINDING_PER_FACE_INDEXED, QV_BINDING_PER_VERTEX, QV_BINDING_PER_VERTEX_INDEXED,
};
enum { QV_CONE_SIDES = 1, QV_CONE_BOTTOM = 2, QV_CONE_ALL = 4 };
enum { QV_CYL_SIDES = 1, QV_CYL_TOP = 2, QV_CYL_BOTTOM = 4, QV_CYL_ALL = 8 };

// Every node type, so that traversal can switch on it.
enum QvKind {
  QV_KIND_QvAmbientSound, QV_KIND_QvAsciiText, QV_KIND_QvAttributes, QV_KIND_QvCalendarTask, QV_KIND_QvCone,
  QV_KIND_QvCoordinate3, QV_KIND_QvCube, QV_KIND_QvCylinder, QV_KIND_QvDirectionalLight, QV_KIND_QvEventHandler,
  QV_KIND_QvGroupNode, QV_KIND_QvIndexedFaceSet, QV_KIND_QvIndexedLineSet, QV_KIND_QvInfo, QV_KIND_QvLOD,
  QV_KIND_QvMaterial, QV_KIND_QvMaterialBinding, QV_KIND_QvMatrixTransform, QV_KIND_QvMovie2, QV_KIND_QvNormal,
  QV_KIND_QvNormalBinding, QV_KIND_QvOrthographicCamera, QV_KIND_QvPerspectiveCamera, QV_KIND_QvPeriodicTask,
  QV_KIND_QvPointLight, QV_KIND_QvPointSet, QV_KIND_QvRotation, QV_KIND_QvScale, QV_KIND_QvScript,
  QV_KIND_QvSeparator, QV_KIND_QvShapeHints, QV_KIND_QvSphere, QV_KIND_QvSporadicTask, QV_KIND_QvSpotLight,
  QV_KIND_QvSwitch, QV_KIND_QvTexture2, QV_KIND_QvTexture2Transform, QV_KIND_QvTextureCoordinate2,
  QV_KIND_QvTransform, QV_KIND_QvTransformSeparator, QV_KIND_QvTranslation, QV_KIND_QvTransparentTexture2,
  QV_KIND_QvWWWAnchor, QV_KIND_QvWWWInline, QV_KIND_QvFontStyle,
};

#define QV_NODE_HEADER(Class, Name)                                \
 public:                                                           \
  Class();                                                         \
  const char* typeName() const override { return Name; }           \
  int kind() const override { return QV_KIND_##Class; }            \
  QvFieldData* getFieldData() const override { return fieldData(); } \
  static QvFieldData* fieldData() {                                \
    static QvFieldData data;                                       \
    return &data;                                                  \
  }                                                                \
                                                                   \
 private:                                                          \
  static bool& fieldsReady() {                                     \
    static bool ready = false;                                     \
    return ready;                                                  \
  }                                                                \
                                                                   \
 public:

class QvAmbientSound : public QvNode {
  QV_NODE_HEADER(QvAmbientSound, "AmbientSound")
  QvSFString filename;
  QvSFVec3f bboxSize, bboxCenter;
  QvSFBool autoPlay, loop;
};
class QvAsciiText : public QvNode {
  QV_NODE_HEADER(QvAsciiText, "AsciiText")
  QvSFString string;
  QvSFFloat spacing;
  QvSFEnum justification;
  QvSFFloat width;
};
// The standard text style: AsciiText nodes after it take its size.
class QvFontStyle : public QvNode {
  QV_NODE_HEADER(QvFontStyle, "FontStyle")
  QvSFFloat size;
  QvSFEnum family;
  QvSFBitMask style;
};
class QvAttributes : public QvNode {
  QV_NODE_HEADER(QvAttributes, "Attributes")
  bool isBuiltIn() const override { return false; }
  QvSFBool visible, grasp, solid, collision, mobile, assignId;
  QvSFString comment;
  QvSFBool backface, gouraud;
};
class QvCalendarTask : public QvNode {
  QV_NODE_HEADER(QvCalendarTask, "CalendarTask")
  bool isBuiltIn() const override { return false; }
  QvSFString filename, date, userData, function;
  QvSFEnum scriptType;
};
class QvCone : public QvNode {
  QV_NODE_HEADER(QvCone, "Cone")
  QvSFBitMask parts;
  QvSFFloat bottomRadius, height;
};
class QvCoordinate3 : public QvNode {
  QV_NODE_HEADER(QvCoordinate3, "Coordinate3")
  QvMFVec3f point;
};
class QvCube : public QvNode {
  QV_NODE_HEADER(QvCube, "Cube")
  QvSFFloat width, height, depth;
};
class QvCylinder : public QvNode {
  QV_NODE_HEADER(QvCylinder, "Cylinder")
  QvSFBitMask parts;
  QvSFFloat radius, height;
};
class QvDirectionalLight : public QvNode {
  QV_NODE_HEADER(QvDirectionalLight, "DirectionalLight")
  QvSFBool on;
  QvSFFloat intensity;
  QvSFColor color;
  QvSFVec3f direction;
};
class QvEventHandler : public QvNode {
  QV_NODE_HEADER(QvEventHandler, "EventHandler")
  bool isBuiltIn() const override { return false; }
  QvSFString filename, userData, function;
  QvSFBitMask eventType;
  QvSFEnum scriptType;
  QvSFString actionObject;
};
class QvGroupNode : public QvGroup {
  QV_NODE_HEADER(QvGroupNode, "Group")
};
class QvIndexedFaceSet : public QvNode {
  QV_NODE_HEADER(QvIndexedFaceSet, "IndexedFaceSet")
  QvMFLong coordIndex, materialIndex, normalIndex, textureCoordIndex;
};
class QvIndexedLineSet : public QvNode {
  QV_NODE_HEADER(QvIndexedLineSet, "IndexedLineSet")
  QvMFLong coordIndex, materialIndex, normalIndex, textureCoordIndex;
};
class QvInfo : public QvNode {
  QV_NODE_HEADER(QvInfo, "Info")
  QvSFString string;
};
class QvLOD : public QvGroup {
  QV_NODE_HEADER(QvLOD, "LOD")
  bool isBuiltIn() const override { return false; }
  QvMFFloat range;
  QvSFVec3f center;
};
class QvMaterial : public QvNode {
  QV_NODE_HEADER(QvMaterial, "Material")
  QvMFColor ambientColor, diffuseColor, specularColor, emissiveColor;
  QvMFFloat shininess, transparency;
};
class QvMaterialBinding : public QvNode {
  QV_NODE_HEADER(QvMaterialBinding, "MaterialBinding")
  QvSFEnum value;
};
class QvMatrixTransform : public QvNode {
  QV_NODE_HEADER(QvMatrixTransform, "MatrixTransform")
  QvSFMatrix matrix;
};
class QvMovie2 : public QvNode {
  QV_NODE_HEADER(QvMovie2, "Movie2")
  QvSFString filename;
  QvSFBool autoPlay;
  QvSFString option;
};
class QvNormal : public QvNode {
  QV_NODE_HEADER(QvNormal, "Normal")
  QvMFVec3f vector;
};
class QvNormalBinding : public QvNode {
  QV_NODE_HEADER(QvNormalBinding, "NormalBinding")
  QvSFEnum value;
};
class QvOrthographicCamera : public QvNode {
  QV_NODE_HEADER(QvOrthographicCamera, "OrthographicCamera")
  QvSFVec3f position;
  QvSFRotation orientation;
  QvSFFloat focalDistance, nearDistance, farDistance, height;
  QvMFVec3f direction, up;  // aiming instead of orientation, as some exporters write
  QvSFVec3f gravityUp;      // read so it is not reported, not used
};
class QvPerspectiveCamera : public QvNode {
  QV_NODE_HEADER(QvPerspectiveCamera, "PerspectiveCamera")
  QvSFVec3f position;
  QvSFRotation orientation;
  QvSFFloat focalDistance, nearDistance, farDistance, heightAngle;
  QvMFVec3f direction, up;
  QvSFVec3f gravityUp;
};
class QvPeriodicTask : public QvNode {
  QV_NODE_HEADER(QvPeriodicTask, "PeriodicTask")
  bool isBuiltIn() const override { return false; }
  QvSFString filename;
  QvSFLong millisecond;
  QvSFString userData, function;
  QvSFEnum scriptType;
};
class QvPointLight : public QvNode {
  QV_NODE_HEADER(QvPointLight, "PointLight")
  QvSFBool on;
  QvSFFloat intensity;
  QvSFColor color;
  QvSFVec3f location;
};
class QvPointSet : public QvNode {
  QV_NODE_HEADER(QvPointSet, "PointSet")
  QvSFLong startIndex, numPoints;
};
class QvRotation : public QvNode {
  QV_NODE_HEADER(QvRotation, "Rotation")
  QvSFRotation rotation;
};
class QvScale : public QvNode {
  QV_NODE_HEADER(QvScale, "Scale")
  QvSFVec3f scaleFactor;
};
class QvScript : public QvNode {
  QV_NODE_HEADER(QvScript, "Script")
  bool isBuiltIn() const override { return false; }
  QvSFString procedure;
  QvSFEnum scriptType;
};
class QvSeparator : public QvGroup {
  QV_NODE_HEADER(QvSeparator, "Separator")
  QvSFEnum renderCulling;
};
class QvShapeHints : public QvNode {
  QV_NODE_HEADER(QvShapeHints, "ShapeHints")
  QvSFEnum vertexOrdering, shapeType, faceType;
  QvSFFloat creaseAngle;
};
class QvSphere : public QvNode {
  QV_NODE_HEADER(QvSphere, "Sphere")
  QvSFFloat radius;
};
class QvSporadicTask : public QvNode {
  QV_NODE_HEADER(QvSporadicTask, "SporadicTask")
  bool isBuiltIn() const override { return false; }
  QvSFString filename;
  QvSFLong millisecond;
  QvSFString userData, function;
  QvSFEnum scriptType;
};
class QvSpotLight : public QvNode {
  QV_NODE_HEADER(QvSpotLight, "SpotLight")
  QvSFBool on;
  QvSFFloat intensity;
  QvSFColor color;
  QvSFVec3f location, direction;
  QvSFFloat dropOffRate, cutOffAngle;
};
class QvSwitch : public QvGroup {
  QV_NODE_HEADER(QvSwitch, "Switch")
  bool isBuiltIn() const override { return false; }
  QvSFLong whichChild;
};
class QvTexture2 : public QvNode {
  QV_NODE_HEADER(QvTexture2, "Texture2")
  QvSFString filename;
  QvSFImage image;
  QvSFEnum wrapS, wrapT;
};
class QvTexture2Transform : public QvNode {
  QV_NODE_HEADER(QvTexture2Transform, "Texture2Transform")
  QvSFVec2f translation;
  QvSFFloat rotation;
  QvSFVec2f scaleFactor, center;
};
class QvTextureCoordinate2 : public QvNode {
  QV_NODE_HEADER(QvTextureCoordinate2, "TextureCoordinate2")
  QvMFVec2f point;
};
class QvTransform : public QvNode {
  QV_NODE_HEADER(QvTransform, "Transform")
  QvSFVec3f translation;
  QvSFRotation rotation;
  QvSFVec3f scaleFactor;
  QvSFRotation scaleOrientation;
  QvSFVec3f center;
};
class QvTransformSeparator : public QvGroup {
  QV_NODE_HEADER(QvTransformSeparator, "TransformSeparator")
};
class QvTranslation : public QvNode {
  QV_NODE_HEADER(QvTranslation, "Translation")
  QvSFVec3f translation;
};
class QvTransparentTexture2 : public QvNode {
  QV_NODE_HEADER(QvTransparentTexture2, "TransparentTexture2")
  QvSFString filename, maskFilename;
  QvSFImage image, maskImage;
  QvSFEnum wrapS, wrapT;
};
class QvWWWAnchor : public QvGroup {
  QV_NODE_HEADER(QvWWWAnchor, "WWWAnchor")
  QvSFString name, description;
  QvSFEnum map;
};
class QvWWWInline : public QvNode {
  QV_NODE_HEADER(QvWWWInline, "WWWInline")
  QvSFString name;
  QvSFVec3f bboxSize, bboxCenter;
  int index = 0;  // the inline's number in its file
};
