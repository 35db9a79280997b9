// parse.cpp — the reader's entry points: a file into a world, into an
// object (inlines), an avatar file with its camera, one node at a time; the
// rule that turns a file's top-level objects into top objects; and the hook
// that hands a character file to the character loader.
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "vrml/traverse.h"
#include "vrml/vrml.h"
#include "www/www.h"

bool qvTraversalAborted();
void qvClearTraversalAbort();
void qvResetInlineBudget();

namespace {

// Kinemation hook: on after every reset; a pending character file.
bool kinemationOn = true;
std::string kinemationFile;
// File reads in progress: the character loader reads its skin while the
// file that named it is still being read.
int readNesting = 0;

struct TopEntry {
  QvNode* node;
  ZvObj* object;
};

// A file URL for a local path, so that names inside the file resolve
// against its folder.
std::string urlOfFile(const char* fileName) {
  if (!fileName) return "";
  if (zvUrlScheme(fileName) != ZV_SCHEME_NONE) return fileName;
  const char* url = zvPathToFileUrl(fileName);
  return url ? url : fileName;
}

void releaseNodes(std::vector<QvNode*>& nodes) {
  for (QvNode* n : nodes) n->unref();
  nodes.clear();
}

// After a top-level node: is another one there? Text that cannot start a
// node ends the file with a read error, and what was read before stays.
bool moreNodes(QvInput* in) {
  char c;
  if (!in->peekText(c)) return false;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') return true;
  QvReadError(QV_ERR_NONE, in, "Extra characters ('%c') found in input", c);
  return false;
}

// Reads every top-level node of the input; an unknown one is skipped with
// its braces. False (and nothing kept) when the file holds no node. A file
// of nodes this reader does not know (a Fog, a Background) is a world with
// nothing in it, not a file that cannot be read.
bool readNodes(QvInput* in, std::vector<QvNode*>* nodes) {
  bool skipped = false;
  for (;;) {
    QvNode* n = nullptr;
    if (!QvDB::read(in, n)) {
      if (QvGetLastError() == QV_ERR_UNKNOWN_NODE) {
        skipped = true;
        QvClearLastError();
        if (moreNodes(in)) continue;
        break;
      }
      // Any other fault in a top-level node fails the whole file.
      releaseNodes(*nodes);
      return false;
    }
    if (!n) break;
    n->ref();
    nodes->push_back(n);
    if (!moreNodes(in)) break;
  }
  return !nodes->empty() || skipped;
}

// Parses a file (or text) into objects of the world, unlinked, in file
// order; null objects for nodes that make none. False on failure, with
// everything built deleted.
bool parseInput(QvInput* in, ZvWorld* world, const std::string& url, QvState* parent, std::vector<ZvObj*>* objects) {
  std::vector<QvNode*> nodes;
  if (!readNodes(in, &nodes)) {
    releaseNodes(nodes);
    return false;
  }
  QvState state(world);
  state.baseUrl = url;
  if (parent) {
    state.inlineDepth = parent->inlineDepth + 1;
    state.inlineChain = parent->inlineChain;
  }
  state.inlineChain.push_back(url);
  bool ok = true;
  for (size_t i = 0; i < nodes.size(); ++i) {
    ZvObj* o = nullptr;
    int r = qvTraverse(nodes[i], &state, &o);
    if (r == 0 && qvTraversalAborted()) r = 1;  // a character file takes over
    if (r != 0) {
      if (o) zvDeleteZvObj(o);
      ok = false;
      break;
    }
    objects->push_back(o);
  }
  // Property nodes at the top stay in the state's elements until the end,
  // so the graph goes only now.
  releaseNodes(nodes);
  if (!ok) {
    for (ZvObj* o : *objects)
      if (o && zvDeleteZvObj(o) != ZV_OK) zvMessage("%s", "parseVRML(): zvDeleteZvObj() failed.");
    objects->clear();
  }
  return ok;
}

bool parseFile(const char* fileName, ZvWorld* world, const std::string& url, QvState* parent,
               std::vector<ZvObj*>* objects) {
  if (!parent) qvResetInlineBudget();
  struct Nest {
    Nest() { ++readNesting; }
    ~Nest() { --readNesting; }
  } nest;
  QvResetCurrentFile(fileName);
  QvInput in(fileName);
  if (!in.ok()) {
    zvMessage("parseVRML(): can not open '%s'", fileName);
    return false;
  }
  qvClearTraversalAbort();
  bool ok = parseInput(&in, world, url, parent, objects);
  if (!ok && !kinemationFile.empty() && kinemationOn) {
    // The file named a character: load that instead, or else read the file
    // again as plain VRML with the character node ignored.
    kinemationOn = false;
    const std::string characterFile = kinemationFile;  // the skin's read sets the name again
    ZvObj* character = nullptr;
    ZvReaderHooks& hooks = zvReaderHooks();
    if (hooks.loadKinemation && hooks.loadKinemation(world, characterFile.c_str(), url.c_str(), &character) == 0 &&
        character) {
      objects->push_back(character);
      ok = true;
    } else {
      zvMessage("%s", "parseKinemation(): zvKinNew() failed.");
      qvClearTraversalAbort();
      QvInput again(fileName);
      ok = again.ok() && parseInput(&again, world, url, parent, objects);
    }
    // The name is used up: a later inline of the file that holds this one
    // may name a character of its own.
    kinemationFile.clear();
    kinemationOn = true;
  }
  // A nested read (an inline, a character's skin) must not switch the hook
  // back on under the file that holds it, which may be reading itself again
  // with the hook off; the outermost read resets it.
  if (readNesting == 1) zvParseResetKinemation();
  qvClearTraversalAbort();  // an abort ends the file that asked for it, no more
  return ok;
}

// Folds a flattened Separator's own placement into its child, which takes
// the Separator's place; a Scale the Separator had goes with it.
void liftChild(ZvObj* separator, ZvObj* child) {
  ZvTransform frame = separator->lrt;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) frame.m[i][j] *= separator->bcubeScale[i];
  zvTransformCompose(&child->lrt, &frame, &child->lrt);
  zvInvalidateWRT(child);
  zvInvalidateBoundingCube(child);
}

// A top-level Separator is flattened: its children take its place.
int makeTop(ZvObj* o, const char* url, ZvObj* parent, ZvObj** first) {
  if (!o) return ZV_OK;
  if (o->nodeType == ZV_NODE_SEPARATOR && o->children) {
    std::vector<ZvObj*> kids;
    for (ZvObjList* c = o->children; c; c = c->next) kids.push_back(c->object);
    for (ZvObj* k : kids) zvCutZvObj(k);
    bool ok = true;
    for (ZvObj* k : kids) {
      liftChild(o, k);
      int r = parent ? zvAddChild(parent, k) : zvAddTopObject(k, url);
      if (r != ZV_OK) {
        zvMessage("%s: %s", parent ? "makeItTopObjInZvObj1" : "makeItTopObjInWorld1",
                  parent ? "zvAddChild() failed." : "zvMakeItTopObj() failed.");
        zvDeleteZvObj(k);
        ok = false;
        continue;
      }
      if (first && !*first) *first = k;
    }
    zvDeleteZvObj(o);
    return ok ? ZV_OK : ZV_FAIL;
  }
  if (o->nodeType == ZV_NODE_SEPARATOR && !parent) {
    // An empty Separator stays as it is, outside the world's list.
    // An empty Separator holds nothing worth a place in the world.
    zvMessage("%s: pointer to child of ZvObj is null.", "makeItTopObjInWorld1");
    zvDeleteZvObj(o);
    return ZV_OK;
  }
  int r = parent ? zvAddChild(parent, o) : zvAddTopObject(o, url);
  if (r != ZV_OK) {
    zvMessage("%s", parent ? "makeItTopObjInZvObj2(): zvAddChild() failed." : "makeItTopObjInWorld2(): zvMakeItTopObj() failed.");
    zvDeleteZvObj(o);
    return ZV_FAIL;
  }
  if (first && !*first) *first = o;
  return ZV_OK;
}

int placeAll(std::vector<ZvObj*>& objects, const char* url, ZvObj* parent, ZvObj** first) {
  int result = ZV_OK;
  for (ZvObj* o : objects)
    if (makeTop(o, url, parent, first) != ZV_OK) result = ZV_FAIL;
  objects.clear();
  return result;
}

// Incremental reader.
struct Incremental {
  std::unique_ptr<QvInput> input;
  std::unique_ptr<QvState> state;
  ZvWorld* world = nullptr;
  std::string url;
  std::vector<QvNode*> nodes;
  ~Incremental() { releaseNodes(nodes); }
};
Incremental* incremental = nullptr;

}  // namespace

bool qvKinemationHookOn() { return kinemationOn; }

ZvReaderHooks& zvReaderHooks(void) {
  static ZvReaderHooks hooks{};
  return hooks;
}

void zvParseSetKinemationFile(const char* fileName) {
  if (!fileName) {
    zvMessage("%s", "zvParseSetKinemationFile(): pointer of filename is null.");
    kinemationFile.clear();
    return;
  }
  kinemationFile = fileName;
}

void zvParseResetKinemation(void) {
  kinemationFile.clear();
  kinemationOn = true;
}

// An inline's file into its object, resolved against the inline's URL.
int qvParseInline(const char* file, const char* url, ZvObj* object, QvState* parent) {
  int saved = qvGetInlineCounter();
  qvSetInlineCounter(-1);
  std::vector<ZvObj*> objects;
  bool ok = parseFile(file, object->world, url, parent, &objects);
  qvSetInlineCounter(saved);
  if (!ok) return ZV_FAIL;
  int r = placeAll(objects, url, object, nullptr);
  zvInvalidateWRT(object);
  return r;
}

int zvParseVRML(const char* fileName, ZvWorld* world) {
  if (!fileName || !world) return ZV_FAIL;
  qvSetInlineCounter(1);
  std::string url = world->url && *world->url ? world->url : urlOfFile(fileName);
  std::vector<ZvObj*> objects;
  if (!parseFile(fileName, world, url, nullptr, &objects)) return ZV_FAIL;
  return placeAll(objects, url.c_str(), nullptr, nullptr);
}

int zvParseVRMLString(const char* text, const char* url, ZvWorld* world) {
  if (!text || !world) return ZV_FAIL;
  qvSetInlineCounter(1);
  std::string base = url ? url : "";
  QvResetCurrentFile(base.c_str());
  QvInput in(base.c_str(), text);
  if (!in.ok()) return ZV_FAIL;
  qvClearTraversalAbort();
  std::vector<ZvObj*> objects;
  bool ok = parseInput(&in, world, base, nullptr, &objects);
  zvParseResetKinemation();
  qvClearTraversalAbort();
  if (!ok) return ZV_FAIL;
  return placeAll(objects, base.c_str(), nullptr, nullptr);
}

int zvParseVRMLAddToWorld(const char* fileName, ZvObj** first) {
  if (!fileName || !first) {
    zvMessage("%s", "zvParseVRMLAddToWorld(): argument pointers is null.");
    return ZV_FAIL;
  }
  *first = nullptr;
  ZvWorld* world = zvGetCurrentWorld();
  if (!world) {
    zvMessage("%s", "zvParseVRMLAddToWorld(): zvGetCurrentWorld() failed.");
    return ZV_FAIL;
  }
  qvSetInlineCounter(1);
  std::string url = urlOfFile(fileName);
  std::vector<ZvObj*> objects;
  if (!parseFile(fileName, world, url, nullptr, &objects)) return ZV_FAIL;
  if (placeAll(objects, url.c_str(), nullptr, first) != ZV_OK) {
    zvMessage("%s", "zvParseVRMLAddToWorld(): makeItTopObjInWorld() failed.");
    return ZV_FAIL;
  }
  return ZV_OK;
}

int zvParseVRMLAddToObj(const char* fileName, ZvObj* parent, ZvObj** first) {
  if (!fileName || !parent || !first) {
    zvMessage("%s", "zvParseVRMLAddToObj(): argument pointers is null.");
    return ZV_FAIL;
  }
  *first = nullptr;
  if (!parent->world) {
    zvMessage("%s", "zvParseVRMLAddToWorld(): pointer to world of parent is null.");
    return ZV_FAIL;
  }
  std::string url = urlOfFile(fileName);
  std::vector<ZvObj*> objects;
  if (!parseFile(fileName, parent->world, url, nullptr, &objects)) return ZV_FAIL;
  int result = ZV_OK;
  for (ZvObj* o : objects) {
    if (!o) continue;
    if (zvAddChild(parent, o) != ZV_OK) {
      zvDeleteZvObj(o);
      result = ZV_FAIL;
      continue;
    }
    if (!*first) *first = o;
  }
  if (zvInvalidateWRT(parent) != ZV_OK) {
    zvMessage("%s", "zvParseVRMLAddToObj(): invalidateChildWRT() failed.");
    *first = nullptr;
    return ZV_FAIL;
  }
  return result;
}

int zvParseVRMLInZvObj(const char* fileName, ZvObj* object) {
  if (!fileName || !object || !object->world) return ZV_FAIL;
  std::string url = urlOfFile(fileName);
  std::vector<ZvObj*> objects;
  if (!parseFile(fileName, object->world, url, nullptr, &objects)) return ZV_FAIL;
  int r = placeAll(objects, url.c_str(), object, nullptr);
  if (zvInvalidateWRT(object) != ZV_OK) {
    zvMessage("%s", "zvParseVRMLInZvObj(): invalidateChildWRT() failed.");
    return ZV_FAIL;
  }
  return r;
}

ZvTopObjList* zvParseVRMLInZvCamera(ZvWorld* world, const char* fileName, ZvObj** camera) {
  if (!world) {
    zvMessage("%s", "zvParseVRMLInZvCamera(): argument pointer of ZvWorld is null.");
    return nullptr;
  }
  if (!camera) {
    zvMessage("%s", "zvParseVRMLInZvCamera(): argument pointer of camera is null.");
    return nullptr;
  }
  *camera = nullptr;
  ZvTopObjList* last = world->lastTopObject;
  // The avatar's cameras must not change the world's own table.
  ZvCameraTable* table = world->cameras;
  ZvCameraTable saved{};
  if (table) {
    saved = *table;
    table->activeId = 1;
    table->entries = nullptr;
  }
  qvSetInlineCounter(1);
  std::string url = urlOfFile(fileName);
  std::vector<ZvObj*> objects;
  bool ok = fileName && parseFile(fileName, world, url, nullptr, &objects);
  if (ok) ok = placeAll(objects, url.c_str(), nullptr, nullptr) == ZV_OK;
  if (table) {
    while (table->entries) {
      ZvCameraList* e = table->entries;
      table->entries = e->next;
      zvFree(e);
    }
    table->activeId = saved.activeId;
    table->entries = saved.entries;
  }
  if (!ok) return nullptr;
  ZvTopObjList* head = last ? last->next : world->topObjects;
  if (!head) {
    zvMessage("%s", "zvParseVRMLInZvCamera(): pTopObjList->next is null.");
    return nullptr;
  }
  for (ZvTopObjList* c = head; c && !*camera; c = c->next) {
    // Depth first, the object itself before its children.
    std::vector<ZvObj*> pending{c->object};
    while (!pending.empty() && !*camera) {
      ZvObj* o = pending.back();
      pending.pop_back();
      if (!o) continue;
      if (o->nodeType == ZV_NODE_ORTHOGRAPHIC_CAMERA || o->nodeType == ZV_NODE_PERSPECTIVE_CAMERA ||
          o->nodeType == ZV_NODE_SWITCH) {
        *camera = o;
        break;
      }
      std::vector<ZvObj*> kids;
      for (ZvObjList* k = o->children; k; k = k->next) kids.push_back(k->object);
      for (auto it = kids.rbegin(); it != kids.rend(); ++it) pending.push_back(*it);
    }
  }
  return head;
}

int zvParseVRMLFileOpen(const char* fileName, ZvWorld* world) {
  zvParseVRMLFileClose();
  if (!fileName || !world) return ZV_FAIL;
  auto* inc = new (std::nothrow) Incremental;
  if (!inc) return ZV_NOMEM;
  QvResetCurrentFile(fileName);
  inc->input = std::make_unique<QvInput>(fileName);
  if (!inc->input->ok()) {
    zvMessage("zvParseVRMLFileOpen(): can not open '%s'", fileName);
    delete inc;
    return ZV_FAIL;
  }
  inc->state = std::make_unique<QvState>(world);
  inc->world = world;
  inc->url = world->url && *world->url ? world->url : urlOfFile(fileName);
  inc->state->baseUrl = inc->url;
  inc->state->inlineChain.push_back(inc->url);
  qvSetInlineCounter(1);
  incremental = inc;
  return ZV_OK;
}

int zvParseVRMLFileRead(ZvTopObjList** top) {
  if (top) *top = nullptr;
  if (!incremental) return ZV_FAIL;
  for (;;) {
    QvNode* n = nullptr;
    if (!QvDB::read(incremental->input.get(), n) || !n) {
      if (!n && QvGetLastError() == QV_ERR_UNKNOWN_NODE && incremental->input->isDataInFile() == 1) {
        QvClearLastError();
        continue;
      }
      zvMessage("%s", "zvParseVRMLFileRead(): QvDB::read() failed.");
      zvParseVRMLFileClose();
      return ZV_FAIL;
    }
    n->ref();
    incremental->nodes.push_back(n);  // its elements may outlive this call
    ZvObj* o = nullptr;
    int r = qvTraverse(n, incremental->state.get(), &o);
    if (r != 0) {
      if (!kinemationFile.empty() && kinemationOn) {
        zvMessage("%s", "zvParseVRMLFileRead(): kinemeation is unsupported.");
        zvParseResetKinemation();
      }
      qvClearTraversalAbort();
      if (o) zvDeleteZvObj(o);
      zvParseVRMLFileClose();
      return ZV_FAIL;
    }
    if (!o) continue;
    ZvWorld* world = incremental->world;
    ZvTopObjList* before = world->lastTopObject;
    if (makeTop(o, incremental->url.c_str(), nullptr, nullptr) != ZV_OK) {
      zvMessage("%s: %s", "zvParseVRMLFileRead()", "makeItTopObjInWorld() failed.");
      zvParseVRMLFileClose();
      return ZV_FAIL;
    }
    if (top) *top = before ? before->next : world->topObjects;
    return ZV_OK;
  }
}

int zvParseVRMLIsEof(void) {
  if (!incremental) {
    zvMessage("%s", "zvParseVRMLIsEof(): pointer to QvInput is null.");
    return -1;
  }
  return incremental->input->isDataInFile();
}

void zvParseVRMLFileClose(void) {
  delete incremental;
  incremental = nullptr;
}

namespace {

int readFileHook(const char* file, ZvWorld* world) { return zvParseVRML(file, world); }

}  // namespace

void zvVrmlInstallHooks(void) { zvSceneHooks().readFile = readFileHook; }

void zvSummarizeWorld(ZvWorld* world, ZvWorldSummary* s) {
  *s = ZvWorldSummary{};
  if (!world) return;
  std::set<ZvUrlHash*> textures;
  std::vector<ZvObj*> pending;
  for (ZvTopObjList* c = world->topObjects; c; c = c->next) pending.push_back(c->object);
  while (!pending.empty()) {
    ZvObj* o = pending.back();
    pending.pop_back();
    if (!o) continue;
    ++s->objects;
    if (o->nodeType == ZV_NODE_WWW_INLINE) ++s->inlines;
    for (ZvLeaf* l = o->leaf; l; l = l->next) {
      if (l->type >= 0 && l->type < 23) ++s->leaves[l->type];
      if (zvIsCameraLeaf(l)) ++s->cameras;
      if (zvIsLightLeaf(l)) ++s->lights;
      if (zvIsShapeLeaf(l)) {
        ZvUrlHash* t = static_cast<ZvShape*>(l)->texture.texture;
        if (t && textures.insert(t).second) {
          const char* url = zvGetUrl(t);
          // A world from the network is not looked for on this disk: its
          // textures are found when they can be fetched.
          int scheme = zvUrlScheme(world->url);
          bool remote = scheme == ZV_SCHEME_HTTP || scheme == ZV_SCHEME_OTHER;
          const char* path = remote ? zvGetLocalFile(t) : url ? zvFileUrlToPath(url) : nullptr;
          FILE* f = path ? std::fopen(path, "rb") : nullptr;
          if (f) {
            std::fclose(f);
            ++s->texturesFound;
          } else {
            ++s->texturesMissing;
          }
        }
      }
    }
    for (ZvObjList* c = o->children; c; c = c->next) pending.push_back(c->object);
  }
}
