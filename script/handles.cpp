// handles.cpp — the numbers scripts hold instead of addresses.
//
// A script can write any number, so a handle is never turned back into a
// pointer by arithmetic: each live record that a script has seen gets the
// next number of a counter that never repeats, and a lookup answers the
// record only while it lives and only for the kind it was given as. A
// forged, stale or wrong-kind number finds nothing.
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "script/scriptpriv.h"

namespace {

struct Entry {
  void* record;
  int kind;
  ZvObj* owner;  // leaves: the object whose chain must still hold the leaf
};
struct Key {
  const void* record;
  int kind;
  bool operator==(const Key&) const = default;
};
struct KeyHash {
  size_t operator()(const Key& k) const noexcept {
    return std::hash<const void*>()(k.record) ^ size_t(k.kind) * 0x9E3779B97F4A7C15ull;
  }
};

struct Table {
  std::unordered_map<long, Entry> byNumber;
  std::unordered_map<Key, long, KeyHash> byRecord;
  // The leaf handles of each object, dropped with it: so the owner in an
  // entry is always alive, even after the leaf itself was replaced.
  std::unordered_map<const ZvObj*, std::vector<long>> leavesOf;
  long next = 1;
};
Table& table() {
  static Table* t = new Table;  // outlives every world's teardown at exit
  return *t;
}

}  // namespace

long zvScriptHandleOf(const void* record, int kind) {
  if (!record) return 0;
  Table& t = table();
  auto [it, fresh] = t.byRecord.try_emplace(Key{record, kind}, 0);
  if (fresh) {
    it->second = t.next++;
    ZvObj* owner = kind == ZV_HANDLE_LEAF ? static_cast<const ZvLeaf*>(record)->owner : nullptr;
    t.byNumber.emplace(it->second, Entry{const_cast<void*>(record), kind, owner});
    if (owner) t.leavesOf[owner].push_back(it->second);
  }
  return it->second;
}

void* zvScriptHandleRecord(const char* text, int kind) {
  if (!text || !*text) return nullptr;
  long number = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return nullptr;
    if (number > (__LONG_MAX__ - 9) / 10) return nullptr;
    number = number * 10 + (*p - '0');
  }
  Table& t = table();
  auto it = t.byNumber.find(number);
  if (it == t.byNumber.end() || it->second.kind != kind) return nullptr;
  if (kind == ZV_HANDLE_LEAF) {
    // A leaf can be replaced while its object lives; only pointers are
    // compared here, so a leaf that has gone is never read.
    ZvObj* owner = it->second.owner;
    bool held = false;
    if (owner)
      for (ZvLeaf* leaf = owner->leaf; leaf && !held; leaf = leaf->next) held = leaf == it->second.record;
    if (!held) return nullptr;
  }
  return it->second.record;
}

void zvScriptForgetHandle(const void* record) {
  if (!record) return;
  Table& t = table();
  if (t.byRecord.empty()) return;  // worlds without scripts pay nothing
  for (int kind = ZV_HANDLE_OBJ; kind <= ZV_HANDLE_COLORS; ++kind) {
    auto it = t.byRecord.find(Key{record, kind});
    if (it == t.byRecord.end()) continue;
    t.byNumber.erase(it->second);
    t.byRecord.erase(it);
  }
}

void zvScriptForgetObjHandles(ZvObj* object) {
  Table& t = table();
  if (!object || t.byRecord.empty()) return;
  zvScriptForgetHandle(object);
  auto leaves = t.leavesOf.find(object);
  if (leaves == t.leavesOf.end()) return;
  for (long number : leaves->second) {
    auto it = t.byNumber.find(number);
    if (it == t.byNumber.end()) continue;
    t.byRecord.erase(Key{it->second.record, it->second.kind});
    t.byNumber.erase(it);
  }
  t.leavesOf.erase(leaves);
}

size_t zvScriptHandleCount(void) { return table().byNumber.size(); }
