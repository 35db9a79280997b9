// qvnodes.cpp — reading nodes, the factory and the node catalogue.
#include "vrml/qvnodes.h"

#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "scene/scene.h"

// ---------------------------------------------------------------------------
// Enumerations

const QvEnumEntry qvBindingEnum{
    "Binding",
    {{"DEFAULT", 0}, {"NONE", 1}, {"OVERALL", 2}, {"PER_PART", 3}, {"PER_PART_INDEXED", 4}, {"PER_FACE", 5},
     {"PER_FACE_INDEXED", 6}, {"PER_VERTEX", 7}, {"PER_VERTEX_INDEXED", 8}}};
const QvEnumEntry qvConePartEnum{"Part", {{"SIDES", 1}, {"BOTTOM", 2}, {"ALL", 4}}};
const QvEnumEntry qvCylinderPartEnum{"Part", {{"SIDES", 1}, {"TOP", 2}, {"BOTTOM", 4}, {"ALL", 8}}};
const QvEnumEntry qvWrapEnum{"Wrap", {{"REPEAT", 0}, {"CLAMP", 1}}};
const QvEnumEntry qvMapEnum{"Map", {{"NONE", 0}, {"POINT", 1}}};
const QvEnumEntry qvVertexOrderingEnum{"VertexOrdering",
                                       {{"UNKNOWN_ORDERING", 0}, {"CLOCKWISE", 1}, {"COUNTERCLOCKWISE", 2}}};
const QvEnumEntry qvShapeTypeEnum{"ShapeType", {{"UNKNOWN_SHAPE_TYPE", 0}, {"SOLID", 1}}};
const QvEnumEntry qvFaceTypeEnum{"FaceType", {{"UNKNOWN_FACE_TYPE", 0}, {"CONVEX", 1}}};
const QvEnumEntry qvCullEnum{"CullEnabled", {{"ON", 1}, {"OFF", 0}, {"AUTO", 2}}};
const QvEnumEntry qvJustificationEnum{"Justification", {{"LEFT", 1}, {"CENTER", 2}, {"RIGHT", 4}}};
const QvEnumEntry qvFontFamilyEnum{"Family", {{"SERIF", 0}, {"SANS", 1}, {"TYPEWRITER", 2}}};
const QvEnumEntry qvFontStyleEnum{"Style", {{"NONE", 0}, {"BOLD", 1}, {"ITALIC", 2}}};
const QvEnumEntry qvScriptTypeEnum{
    "ScriptType",
    {{"UNKNOWN_SCRIPT", 0}, {"PYTHON", 1}, {"TCL", 2}, {"JAVA", 3}, {"VB", 4}, {"C", 5}, {"INLINE", 6}}};
const QvEnumEntry qvEventTypeEnum{
    "EventType",
    {{"NOEVENT", 0},          {"KEY_DOWN", 1},          {"KEY_UP", 2},
     {"COLLISION", 4},        {"LEFT_BUTTON_UP", 8},    {"LEFT_BUTTON_DOWN", 16},
     {"MIDDLE_BUTTON_UP", 32}, {"MIDDLE_BUTTON_DOWN", 64}, {"RIGHT_BUTTON_UP", 128},
     {"RIGHT_BUTTON_DOWN", 256}, {"BUTTON_UP", 168},     {"BUTTON_DOWN", 336},
     {"BUTTON", 504},         {"WORLD_IN", 512},        {"WORLD_OUT", 1024},
     {"CREATE_NOTIFY", 2048}, {"DELETE_NOTIFY", 4096},  {"TIME_OUT", 8192},
     {"KEY", 3},              {"GRAB", 131072},         {"RELEASE", 262144},
     {"FRAME", 16384},        {"DRAG", 32768},          {"PICK", 65536},
     {"CREATE_WORLD", 524288}, {"DELETE_WORLD", 2097152}}};

// ---------------------------------------------------------------------------
// Node base

namespace {

int inlineCounter = 1;
int nesting = 0;  // how deep the node being read sits

// After a node that cannot be read: everything up to the brace that closes
// it (the opening one was read already).
void skipToClosingBrace(QvInput* in) {
  int depth = 1;
  char c;
  while (depth > 0 && in->get(c)) {
    if (c == '"') {  // braces inside strings do not count
      in->putBack(c);
      std::string s;
      in->readString(s);
    } else if (c == '#') {
      in->putBack(c);
      in->skipWhiteSpace();
    } else if (c == '{') {
      ++depth;
    } else if (c == '}') {
      --depth;
    }
  }
}

}  // namespace

void qvSetInlineCounter(int value) { inlineCounter = value; }
int qvGetInlineCounter(void) { return inlineCounter; }

QvNode::~QvNode() = default;

void QvNode::addFieldInOrder(QvField* field) {
  if (orderCount_ >= kMaxOrder) {
    zvMessage("%s: %s", "QvNode::addFieldInOrder()", "The number of fields exceeds the limit.");
    return;
  }
  order_[orderCount_++] = field;
}

// A node type that is not built in may open its body with the declaration
// of its fields, which is checked and then set aside.
bool QvNode::readFieldDeclaration(QvInput* in) {
  if (isBuiltIn()) return true;
  QvInput::Mark m = in->mark();
  std::string word;
  if (!in->readName(word, true) || word != "fields") {
    in->reset(m);
    return true;
  }
  if (QvFieldData::readFieldTypes(in)) return true;
  QvReadError(QV_ERR_NONE, in, "Bad field specifications for node");
  return false;
}

bool QvNode::readInstance(QvInput* in) {
  return readFieldDeclaration(in) && getFieldData()->read(in, this, true);
}

bool QvGroup::readInstance(QvInput* in) {
  if (!readFieldDeclaration(in)) return false;
  if (!getFieldData()->read(in, this, false)) return false;
  return readChildren(in);
}

QvGroup::~QvGroup() {
  for (QvNode* c : children) c->unref();
}

bool QvGroup::readChildren(QvInput* in) {
  for (;;) {
    QvNode* child = nullptr;
    bool ok = QvNode::read(in, child);
    if (ok && child) {
      child->ref();
      children.push_back(child);
      continue;
    }
    int code = QvGetLastError();
    QvClearLastError();
    if (code == QV_ERR_NONE || code == QV_ERR_EOF) return true;
  }
}

bool QvNode::read(QvInput* in, QvNode*& node) {
  node = nullptr;
  std::string name;
  if (!in->readName(name, true)) return in->headerValid();
  if (name.empty() || name == "NULL") return true;

  if (name == "USE") {
    std::string ref;
    if (!in->readString(ref) || ref.empty()) {
      QvReadError(QV_ERR_NONE, in, "Premature end of file after USE");
      return false;
    }
    // A name written straight before the brace that closes its group.
    while (!ref.empty() && ref.back() == '}') {
      ref.pop_back();
      in->putBack('}');
    }
    QvNode* found = in->findReference(ref);
    if (!found) {
      QvReadError(QV_ERR_NONE, in, "Unknown reference \"%s\"", ref.c_str());
      return false;
    }
    if (found->reading_) {
      // A node that uses itself would make every walk of the graph endless.
      QvReadError(QV_ERR_UNKNOWN_NODE, in, "USE %s: recursion too deep, node skipped.", ref.c_str());
      zvMessage("%s: USE %s: recursion too deep, node skipped.", in->getCurFileName(), ref.c_str());
      return false;
    }
    node = found;
    return true;
  }

  std::string defName, type;
  if (name == "DEF") {
    if (!in->readString(defName) || !in->readName(type, true)) {
      QvReadError(QV_ERR_NONE, in, "Premature end of file after DEF");
      return false;
    }
    if (defName.empty()) {
      QvReadError(QV_ERR_NONE, in, "No name given after ");
      return false;
    }
    if (type.empty()) {
      QvReadError(QV_ERR_NONE, in, "Invalid definition of %s", defName.c_str());
      return false;
    }
  } else {
    type = std::move(name);
  }

  char c;
  if (!in->read(c)) {
    QvReadError(QV_ERR_NONE, in, "Expected '%c'; got EOF", '{');
    return false;
  }
  if (c != '{') {
    QvReadError(QV_ERR_NONE, in, "Expected '%c'; got '%c'", '{', c);
    return false;
  }
  long start = in->getLineNum();
  if (nesting >= QV_MAX_NESTING) {
    QvReadError(QV_ERR_UNKNOWN_NODE, in, "%s: recursion too deep, node skipped.", type.c_str());
    zvMessage("%s: %s: recursion too deep, node skipped.", in->getCurFileName(), type.c_str());
    skipToClosingBrace(in);
    return false;
  }
  if (++in->nodeCount > QV_MAX_NODES) {
    if (in->nodeCount == QV_MAX_NODES + 1)
      zvMessage("%s: %s", in->getCurFileName(), "too many nodes, the rest is skipped.");
    skipToClosingBrace(in);
    return false;
  }
  QvNode* n = createInstance(type);
  if (!n) {
    QvReadError(QV_ERR_UNKNOWN_NODE, in, "Unknown Node \"%s\"", type.c_str());
    skipToClosingBrace(in);
    return false;
  }
  n->startLine_ = start;
  if (!defName.empty()) {
    in->addReference(defName, n);
    n->setName(defName);
  }
  ++nesting;
  n->reading_ = true;
  n->ref();  // ours while it is read
  bool ok = n->readInstance(in);
  n->reading_ = false;
  --nesting;
  if (ok && !in->read(c)) {
    QvReadError(QV_ERR_NONE, in, "Expected '%c'; got EOF", '}');
    ok = false;
  } else if (ok && c != '}') {
    QvReadError(QV_ERR_NONE, in, "Expected '%c'; got '%c'", '}', c);
    ok = false;
    skipToClosingBrace(in);
  } else if (!ok) {
    skipToClosingBrace(in);
  }
  if (!ok) {
    // A failed node is not to be found by a later USE.
    if (!defName.empty() && in->findReference(defName) == n) in->addReference(defName, nullptr);
    n->unref();
    return false;
  }
  n->refCount_--;  // handed over: the caller takes the reference
  node = n;
  return true;
}

bool QvDB::read(QvInput* in, QvNode*& node) {
  if (!QvNode::read(in, node)) return false;
  if (!node && !in->eof()) {
    char c;
    if (in->read(c)) {
      QvReadError(QV_ERR_NONE, in, "Extra characters ('%c') found in input", c);
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Catalogue: each constructor lists its fields (the class table is made by
// the first instance) and sets the defaults.

#define QV_FIELDS_BEGIN(Class)            \
  QvFieldData* data = fieldData();        \
  bool first = !fieldsReady();            \
  fieldsReady() = true;
#define QV_FIELD(f) \
  if (first) data->addField(this, #f, &f);

QvAmbientSound::QvAmbientSound() {
  QV_FIELDS_BEGIN(QvAmbientSound)
  QV_FIELD(filename) QV_FIELD(bboxSize) QV_FIELD(bboxCenter) QV_FIELD(autoPlay) QV_FIELD(loop)
  autoPlay.value = loop.value = 1;
}

QvAsciiText::QvAsciiText() {
  QV_FIELDS_BEGIN(QvAsciiText)
  QV_FIELD(string) QV_FIELD(spacing) QV_FIELD(justification) QV_FIELD(width)
  string.acceptList = true;
  spacing.value = 1;
  justification.table = &qvJustificationEnum;
  justification.value = 1;
}

QvAttributes::QvAttributes() {
  QV_FIELDS_BEGIN(QvAttributes)
  QV_FIELD(visible) QV_FIELD(grasp) QV_FIELD(solid) QV_FIELD(collision) QV_FIELD(mobile) QV_FIELD(assignId)
  QV_FIELD(comment) QV_FIELD(backface) QV_FIELD(gouraud)
  visible.value = grasp.value = solid.value = collision.value = mobile.value = 1;
  backface.value = gouraud.value = 1;
}

QvFontStyle::QvFontStyle() {
  QV_FIELDS_BEGIN(QvFontStyle)
  QV_FIELD(size) QV_FIELD(family) QV_FIELD(style)
  size.value = 10;
  family.table = &qvFontFamilyEnum;
  style.table = &qvFontStyleEnum;
}

QvCalendarTask::QvCalendarTask() {
  QV_FIELDS_BEGIN(QvCalendarTask)
  QV_FIELD(filename) QV_FIELD(date) QV_FIELD(userData) QV_FIELD(function) QV_FIELD(scriptType)
  scriptType.table = &qvScriptTypeEnum;
}

QvCone::QvCone() {
  QV_FIELDS_BEGIN(QvCone)
  QV_FIELD(parts) QV_FIELD(bottomRadius) QV_FIELD(height)
  parts.table = &qvConePartEnum;
  parts.value = QV_CONE_ALL;
  bottomRadius.value = 1;
  height.value = 2;
}

QvCoordinate3::QvCoordinate3() {
  QV_FIELDS_BEGIN(QvCoordinate3)
  QV_FIELD(point)
  point.values.push_back({{0, 0, 0}});
}

QvCube::QvCube() {
  QV_FIELDS_BEGIN(QvCube)
  QV_FIELD(width) QV_FIELD(height) QV_FIELD(depth)
  width.value = height.value = depth.value = 2;
}

QvCylinder::QvCylinder() {
  QV_FIELDS_BEGIN(QvCylinder)
  QV_FIELD(parts) QV_FIELD(radius) QV_FIELD(height)
  parts.table = &qvCylinderPartEnum;
  parts.value = QV_CYL_ALL;
  radius.value = 1;
  height.value = 2;
}

QvDirectionalLight::QvDirectionalLight() {
  QV_FIELDS_BEGIN(QvDirectionalLight)
  QV_FIELD(on) QV_FIELD(intensity) QV_FIELD(color) QV_FIELD(direction)
  on.value = 1;
  intensity.value = 1;
  color.value[0] = color.value[1] = color.value[2] = 1;
  direction.value[2] = -1;
}

QvEventHandler::QvEventHandler() {
  QV_FIELDS_BEGIN(QvEventHandler)
  QV_FIELD(filename) QV_FIELD(userData) QV_FIELD(function) QV_FIELD(eventType) QV_FIELD(scriptType)
  QV_FIELD(actionObject)
  eventType.table = &qvEventTypeEnum;
  scriptType.table = &qvScriptTypeEnum;
}

QvGroupNode::QvGroupNode() { QV_FIELDS_BEGIN(QvGroupNode) (void)first; (void)data; }

QvIndexedFaceSet::QvIndexedFaceSet() {
  QV_FIELDS_BEGIN(QvIndexedFaceSet)
  QV_FIELD(coordIndex) QV_FIELD(materialIndex) QV_FIELD(normalIndex) QV_FIELD(textureCoordIndex)
  coordIndex.values = {0};
  materialIndex.values = {-1};
  normalIndex.values = {-1};
  textureCoordIndex.values = {-1};
}

QvIndexedLineSet::QvIndexedLineSet() {
  QV_FIELDS_BEGIN(QvIndexedLineSet)
  QV_FIELD(coordIndex) QV_FIELD(materialIndex) QV_FIELD(normalIndex) QV_FIELD(textureCoordIndex)
  coordIndex.values = {0};
  materialIndex.values = {-1};
  normalIndex.values = {-1};
  textureCoordIndex.values = {-1};
}

QvInfo::QvInfo() {
  QV_FIELDS_BEGIN(QvInfo)
  QV_FIELD(string)
  string.value = "<Undefined info>";
}

QvLOD::QvLOD() {
  QV_FIELDS_BEGIN(QvLOD)
  QV_FIELD(range) QV_FIELD(center)
  range.values = {0};
}

QvMaterial::QvMaterial() {
  QV_FIELDS_BEGIN(QvMaterial)
  QV_FIELD(ambientColor) QV_FIELD(diffuseColor) QV_FIELD(specularColor) QV_FIELD(emissiveColor)
  QV_FIELD(shininess) QV_FIELD(transparency)
  ambientColor.values = {{{0.2f, 0.2f, 0.2f}}};
  diffuseColor.values = {{{0.8f, 0.8f, 0.8f}}};
  specularColor.values = {{{0, 0, 0}}};
  emissiveColor.values = {{{0, 0, 0}}};
  shininess.values = {0.2f};
  transparency.values = {0};
}

QvMaterialBinding::QvMaterialBinding() {
  QV_FIELDS_BEGIN(QvMaterialBinding)
  QV_FIELD(value)
  value.table = &qvBindingEnum;
}

QvMatrixTransform::QvMatrixTransform() {
  QV_FIELDS_BEGIN(QvMatrixTransform)
  QV_FIELD(matrix)
}

QvMovie2::QvMovie2() {
  QV_FIELDS_BEGIN(QvMovie2)
  QV_FIELD(filename) QV_FIELD(autoPlay) QV_FIELD(option)
  autoPlay.value = 1;
}

QvNormal::QvNormal() {
  QV_FIELDS_BEGIN(QvNormal)
  QV_FIELD(vector)
  vector.values = {{{0, 0, 1}}};
}

QvNormalBinding::QvNormalBinding() {
  QV_FIELDS_BEGIN(QvNormalBinding)
  QV_FIELD(value)
  value.table = &qvBindingEnum;
}

QvOrthographicCamera::QvOrthographicCamera() {
  QV_FIELDS_BEGIN(QvOrthographicCamera)
  QV_FIELD(position) QV_FIELD(orientation) QV_FIELD(focalDistance) QV_FIELD(nearDistance)
  QV_FIELD(farDistance) QV_FIELD(height) QV_FIELD(direction) QV_FIELD(up) QV_FIELD(gravityUp)
  position.value[2] = 1;
  focalDistance.value = 5;
  height.value = 2;
}

QvPerspectiveCamera::QvPerspectiveCamera() {
  QV_FIELDS_BEGIN(QvPerspectiveCamera)
  QV_FIELD(position) QV_FIELD(orientation) QV_FIELD(focalDistance) QV_FIELD(nearDistance)
  QV_FIELD(farDistance) QV_FIELD(heightAngle) QV_FIELD(direction) QV_FIELD(up) QV_FIELD(gravityUp)
  position.value[2] = 1;
  focalDistance.value = 5;
  heightAngle.value = 0.785398f;
}

QvPeriodicTask::QvPeriodicTask() {
  QV_FIELDS_BEGIN(QvPeriodicTask)
  QV_FIELD(filename) QV_FIELD(millisecond) QV_FIELD(userData) QV_FIELD(function) QV_FIELD(scriptType)
  scriptType.table = &qvScriptTypeEnum;
}

QvPointLight::QvPointLight() {
  QV_FIELDS_BEGIN(QvPointLight)
  QV_FIELD(on) QV_FIELD(intensity) QV_FIELD(color) QV_FIELD(location)
  on.value = 1;
  intensity.value = 1;
  color.value[0] = color.value[1] = color.value[2] = 1;
  location.value[2] = 1;
}

QvPointSet::QvPointSet() {
  QV_FIELDS_BEGIN(QvPointSet)
  QV_FIELD(startIndex) QV_FIELD(numPoints)
  numPoints.value = -1;
}

QvRotation::QvRotation() {
  QV_FIELDS_BEGIN(QvRotation)
  QV_FIELD(rotation)
}

QvScale::QvScale() {
  QV_FIELDS_BEGIN(QvScale)
  QV_FIELD(scaleFactor)
  scaleFactor.value[0] = scaleFactor.value[1] = scaleFactor.value[2] = 1;
}

QvScript::QvScript() {
  QV_FIELDS_BEGIN(QvScript)
  QV_FIELD(procedure) QV_FIELD(scriptType)
  scriptType.table = &qvScriptTypeEnum;
}

QvSeparator::QvSeparator() {
  QV_FIELDS_BEGIN(QvSeparator)
  QV_FIELD(renderCulling)
  renderCulling.table = &qvCullEnum;
  renderCulling.value = 2;
}

QvShapeHints::QvShapeHints() {
  QV_FIELDS_BEGIN(QvShapeHints)
  QV_FIELD(vertexOrdering) QV_FIELD(shapeType) QV_FIELD(faceType) QV_FIELD(creaseAngle)
  vertexOrdering.table = &qvVertexOrderingEnum;
  shapeType.table = &qvShapeTypeEnum;
  faceType.table = &qvFaceTypeEnum;
  faceType.value = 1;
  creaseAngle.value = 0.5f;
}

QvSphere::QvSphere() {
  QV_FIELDS_BEGIN(QvSphere)
  QV_FIELD(radius)
  radius.value = 1;
}

QvSporadicTask::QvSporadicTask() {
  QV_FIELDS_BEGIN(QvSporadicTask)
  QV_FIELD(filename) QV_FIELD(millisecond) QV_FIELD(userData) QV_FIELD(function) QV_FIELD(scriptType)
  scriptType.table = &qvScriptTypeEnum;
}

QvSpotLight::QvSpotLight() {
  QV_FIELDS_BEGIN(QvSpotLight)
  QV_FIELD(on) QV_FIELD(intensity) QV_FIELD(color) QV_FIELD(location) QV_FIELD(direction)
  QV_FIELD(dropOffRate) QV_FIELD(cutOffAngle)
  on.value = 1;
  intensity.value = 1;
  color.value[0] = color.value[1] = color.value[2] = 1;
  location.value[2] = 1;
  direction.value[2] = -1;
  cutOffAngle.value = 0.785398f;
}

QvSwitch::QvSwitch() {
  QV_FIELDS_BEGIN(QvSwitch)
  QV_FIELD(whichChild)
  whichChild.value = -1;
}

QvTexture2::QvTexture2() {
  QV_FIELDS_BEGIN(QvTexture2)
  QV_FIELD(filename) QV_FIELD(image) QV_FIELD(wrapS) QV_FIELD(wrapT)
  wrapS.table = wrapT.table = &qvWrapEnum;
}

QvTexture2Transform::QvTexture2Transform() {
  QV_FIELDS_BEGIN(QvTexture2Transform)
  QV_FIELD(translation) QV_FIELD(rotation) QV_FIELD(scaleFactor) QV_FIELD(center)
  scaleFactor.value[0] = scaleFactor.value[1] = 1;
}

QvTextureCoordinate2::QvTextureCoordinate2() {
  QV_FIELDS_BEGIN(QvTextureCoordinate2)
  QV_FIELD(point)
  point.values = {{{0, 0}}};
}

QvTransform::QvTransform() {
  QV_FIELDS_BEGIN(QvTransform)
  QV_FIELD(translation) QV_FIELD(rotation) QV_FIELD(scaleFactor) QV_FIELD(scaleOrientation) QV_FIELD(center)
  scaleFactor.value[0] = scaleFactor.value[1] = scaleFactor.value[2] = 1;
}

QvTransformSeparator::QvTransformSeparator() { QV_FIELDS_BEGIN(QvTransformSeparator) (void)first; (void)data; }

QvTranslation::QvTranslation() {
  QV_FIELDS_BEGIN(QvTranslation)
  QV_FIELD(translation)
}

QvTransparentTexture2::QvTransparentTexture2() {
  QV_FIELDS_BEGIN(QvTransparentTexture2)
  QV_FIELD(filename) QV_FIELD(maskFilename) QV_FIELD(image) QV_FIELD(maskImage) QV_FIELD(wrapS) QV_FIELD(wrapT)
  wrapS.table = wrapT.table = &qvWrapEnum;
}

QvWWWAnchor::QvWWWAnchor() {
  QV_FIELDS_BEGIN(QvWWWAnchor)
  QV_FIELD(name) QV_FIELD(description) QV_FIELD(map)
  map.table = &qvMapEnum;
}

QvWWWInline::QvWWWInline() {
  QV_FIELDS_BEGIN(QvWWWInline)
  QV_FIELD(name) QV_FIELD(bboxSize) QV_FIELD(bboxCenter)
  index = inlineCounter++;
}

// ---------------------------------------------------------------------------
// Factory

namespace {

template <typename T>
QvNode* make() {
  return new (std::nothrow) T;
}

struct FactoryEntry {
  const char* name;
  QvNode* (*create)();
};

const FactoryEntry kFactory[] = {
    {"AmbientSound", make<QvAmbientSound>},
    {"AsciiText", make<QvAsciiText>},
    {"Attributes", make<QvAttributes>},
    {"CalendarTask", make<QvCalendarTask>},
    {"Cone", make<QvCone>},
    {"Coordinate3", make<QvCoordinate3>},
    {"Cube", make<QvCube>},
    {"Cylinder", make<QvCylinder>},
    {"DirectionalLight", make<QvDirectionalLight>},
    {"EventHandler", make<QvEventHandler>},
    {"Group", make<QvGroupNode>},
    {"IndexedFaceSet", make<QvIndexedFaceSet>},
    {"IndexedLineSet", make<QvIndexedLineSet>},
    {"Info", make<QvInfo>},
    {"LOD", make<QvLOD>},
    {"Material", make<QvMaterial>},
    {"MaterialBinding", make<QvMaterialBinding>},
    {"MatrixTransform", make<QvMatrixTransform>},
    {"Movie2", make<QvMovie2>},
    {"Normal", make<QvNormal>},
    {"NormalBinding", make<QvNormalBinding>},
    {"OrthographicCamera", make<QvOrthographicCamera>},
    {"PerspectiveCamera", make<QvPerspectiveCamera>},
    {"PeriodicTask", make<QvPeriodicTask>},
    {"PointLight", make<QvPointLight>},
    {"PointSet", make<QvPointSet>},
    {"Rotation", make<QvRotation>},
    {"Scale", make<QvScale>},
    {"Script", make<QvScript>},
    {"Separator", make<QvSeparator>},
    {"ShapeHints", make<QvShapeHints>},
    {"Sphere", make<QvSphere>},
    {"SporadicTask", make<QvSporadicTask>},
    {"SpotLight", make<QvSpotLight>},
    {"Switch", make<QvSwitch>},
    {"Texture2", make<QvTexture2>},
    {"Texture2Transform", make<QvTexture2Transform>},
    {"TextureCoordinate2", make<QvTextureCoordinate2>},
    {"Transform", make<QvTransform>},
    {"TransformSeparator", make<QvTransformSeparator>},
    {"Translation", make<QvTranslation>},
    {"TransparentTexture2", make<QvTransparentTexture2>},
    {"FontStyle", make<QvFontStyle>},
    {"WWWAnchor", make<QvWWWAnchor>},
    {"WWWInline", make<QvWWWInline>},
};

}  // namespace

QvNode* QvNode::createInstance(const std::string& typeName) {
  // Every node of a file is looked up here by its type's name.
  static const std::unordered_map<std::string_view, QvNode* (*)()> byName = [] {
    std::unordered_map<std::string_view, QvNode* (*)()> m;
    for (const FactoryEntry& e : kFactory) m.emplace(e.name, e.create);
    return m;
  }();
  auto it = byName.find(typeName);
  return it == byName.end() ? nullptr : it->second();
}
