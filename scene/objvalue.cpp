// objvalue.cpp — typed, named script variables of an object, kept in its
// extension of type zvObjectValue. Scripts see every value as text, so the
// routines take and answer text and convert at the edge.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scene/scene.h"
#include "scene/valuetext.h"

namespace {

// Scripts copy the answer straight into their own result, so one buffer
// reused by every call is enough and saves an allocation per read.
char textBuffer[256];

const size_t kMaxString = 255;

bool knownType(int type) { return type >= ZV_VALUE_LONG && type <= ZV_VALUE_STRING; }

ZvObjValue* firstValue(const ZvObj* object) {
  return static_cast<ZvObjValue*>(zvGetObjExtension(object, zvObjectValue));
}

// The first character is compared before the whole name because most
// variables differ there already.
ZvObjValue* findValue(const ZvObj* object, int type, const char* name) {
  for (ZvObjValue* v = firstValue(object); v; v = v->next)
    if (v->name && v->name[0] == name[0] && v->type == type && std::strcmp(v->name, name) == 0) return v;
  return nullptr;
}

// Converts text into fresh storage for the type. A null text leaves a
// number missing (*storage null) and makes an empty string. False when
// memory runs out or a string is too long.
bool convert(int type, const char* text, void** storage) {
  *storage = nullptr;
  if (type == ZV_VALUE_STRING) {
    if (!text) text = "";
    if (std::strlen(text) > kMaxString) {
      zvError("_zvObjValueStr2Ptr: string variable length too long.");
      return false;
    }
    *storage = zvStrdup(text);
    return *storage != nullptr;
  }
  if (!text) return true;
  void* cell = zvMalloc(4);
  if (!cell) return false;
  switch (type) {
    case ZV_VALUE_LONG:
    case ZV_VALUE_INT:
      // Both kinds are stored in 4 bytes; a long is 32 bits where scripts
      // were first written, and their values must keep fitting.
      *static_cast<int32_t*>(cell) = static_cast<int32_t>(std::strtol(text, nullptr, 10));
      break;
    default: {
      float f = 0.0f;
      if (std::sscanf(text, "%f", &f) != 1) f = 0.0f;
      *static_cast<float*>(cell) = f;
      break;
    }
  }
  *storage = cell;
  return true;
}

void freeCell(ZvObjValue* cell) {
  zvFree(cell->value);
  zvFree(cell->name);
  cell->value = nullptr;
  cell->name = nullptr;
  cell->type = ZV_VALUE_FREE;
  cell->writable = 0;
}

// A free cell to reuse, never the last one of the list; else null.
ZvObjValue* reusableCell(ZvObjValue* head) {
  for (ZvObjValue* v = head; v && v->next; v = v->next)
    if (!v->name) return v;
  return nullptr;
}

}  // namespace

const char* zvObjValueText(const ZvObjValue* value) {
  textBuffer[0] = '\0';
  if (!value || !value->value) return textBuffer;
  switch (value->type) {
    case ZV_VALUE_LONG:
      std::snprintf(textBuffer, sizeof textBuffer, "%ld", static_cast<long>(*static_cast<const int32_t*>(value->value)));
      break;
    case ZV_VALUE_INT:
      std::snprintf(textBuffer, sizeof textBuffer, "%d", *static_cast<const int32_t*>(value->value));
      break;
    case ZV_VALUE_FLOAT:
      std::snprintf(textBuffer, sizeof textBuffer, "%f", static_cast<double>(*static_cast<const float*>(value->value)));
      break;
    case ZV_VALUE_STRING:
      std::snprintf(textBuffer, sizeof textBuffer, "%s", static_cast<const char*>(value->value));
      break;
    default:
      break;
  }
  return textBuffer;
}

const char* zvNewObjValue(ZvObj* object, int type, const char* name, const char* initial, int writable) {
  if (!object || !name) return nullptr;
  if (!knownType(type)) {
    zvError("zvNewObjValue:[%s] unknown value type %d.", name, type);
    return nullptr;
  }
  ZvObjValue* head = firstValue(object);
  if (head && findValue(object, type, name)) {
    zvError("zvNewObjValue:[%s] already exists.", name);
    return nullptr;
  }
  char* nameCopy = zvStrdup(name);
  if (!nameCopy) {
    zvError("%s:[%s] can't alloc.", "zvNewValue", name);
    return nullptr;
  }
  ZvObjValue* cell = reusableCell(head);
  if (cell) {
    zvFree(cell->value);
    cell->value = nullptr;
  } else {
    cell = static_cast<ZvObjValue*>(zvMalloc(sizeof(ZvObjValue)));
    if (!cell) {
      zvFree(nameCopy);
      zvError("%s:[%s] can't alloc.", "zvNewValue", name);
      return nullptr;
    }
    if (!head) {
      if (zvRegisterObjExtension(object, zvObjectValue, cell) != ZV_OK) {
        zvFree(cell);
        zvFree(nameCopy);
        zvError("zvNewValue:[%s] fail.", "zvRegisterObjExtension");
        return nullptr;
      }
    } else {
      ZvObjValue* last = head;
      while (last->next) last = last->next;
      last->next = cell;
    }
  }
  cell->name = nameCopy;
  cell->type = type;
  cell->writable = writable;
  if (!convert(type, initial, &cell->value)) {
    freeCell(cell);
    zvError("%s:[%s] can't alloc.", "zvNewValue", name);
    return nullptr;
  }
  return zvObjValueText(cell);
}

const char* zvSetObjValue(ZvObj* object, int type, const char* name, const char* text) {
  if (!object || !name) return nullptr;
  ZvObjValue* cell = findValue(object, type, name);
  if (!cell) {
    zvError("can't find variable[%s].", name);
    return nullptr;
  }
  void* storage;
  if (!convert(type, text, &storage)) {
    zvError("%s:[%s] can't alloc.", "zvSetObjValue", name);
    return nullptr;
  }
  if (!cell->writable) {
    zvFree(storage);
    zvError("_zvSetObjValue:[%s] permision denied.", name);
    return nullptr;
  }
  zvFree(cell->value);
  cell->value = storage;
  return zvObjValueText(cell);
}

const char* zvGetObjValue(ZvObj* object, int type, const char* name) {
  if (!object || !name) return nullptr;
  ZvObjValue* cell = findValue(object, type, name);
  if (!cell) {
    zvError("can't find variable[%s].", name);
    return nullptr;
  }
  return zvObjValueText(cell);
}

int zvDeleteObjValue(ZvObj* object, int type, const char* name) {
  if (!object || !name) return ZV_FAIL;
  ZvObjValue* cell = findValue(object, type, name);
  if (!cell) {
    zvError("can't find variable[%s].", name);
    return ZV_FAIL;
  }
  // The cell stays in the list so the next new value can take it.
  freeCell(cell);
  return ZV_OK;
}

void zvDeleteAllObjValue(ZvObj* object) {
  if (!object) return;
  ZvObjValue* cell = firstValue(object);
  while (cell) {
    ZvObjValue* next = cell->next;
    zvFree(cell->value);
    zvFree(cell->name);
    zvFree(cell);
    cell = next;
  }
  zvRemoveObjExtension(object, zvObjectValue);
}
