// hash.cpp — the chained hash table behind identifiers and URLs. Entries are
// appended at the end of their chain so that duplicate keys are found in the
// order they were added.
#include <cstring>

#include "scene/scene.h"

namespace {

bool sameKey(const ZvHashEntry* e, const void* key, int32_t length) {
  return e->length == length && (length == 0 || std::memcmp(e->key, key, size_t(length)) == 0);
}

ZvHashEntry** bucketOf(const ZvHash* table, const void* key, int32_t length) {
  uint32_t b = table->hash(key, length, table->buckets);
  return &table->heads[b % table->buckets];
}

// The key copy lives in the same block, just after the entry: one
// allocation per entry, and the comparison touches one cache line.
void freeEntry(ZvHashEntry* e) { zvFree(e); }

}  // namespace

uint32_t zvIdHashFunc(const void* key, int32_t length, uint32_t buckets) {
  int32_t id = 0;
  if (length >= int32_t(sizeof id)) std::memcpy(&id, key, sizeof id);
  // Squaring the identifier, the old way, reaches only 106 of 500 buckets
  // for the local range (squares modulo 500 are few), so 10 000 objects made
  // chains of up to 400. A multiplicative hash spreads consecutive
  // identifiers evenly and stays in range for every sign.
  uint32_t u = uint32_t(id) * 2654435761u;
  return buckets ? (u ^ (u >> 16)) % buckets : 0;
}

int zvNewHash(uint32_t buckets, ZvHash** out, ZvHashFunc hash) {
  if (!out || buckets == 0 || !hash) return ZV_FAIL;
  *out = nullptr;
  ZvHash* table = static_cast<ZvHash*>(zvMalloc(sizeof(ZvHash)));
  ZvHashEntry** heads = table ? static_cast<ZvHashEntry**>(zvMalloc(sizeof(ZvHashEntry*) * buckets)) : nullptr;
  if (!heads) {
    zvFree(table);
    zvError("zvNewHash: Memory Allocation Failed.");
    return ZV_NOMEM;
  }
  table->buckets = buckets;
  table->heads = heads;
  table->hash = hash;
  *out = table;
  return ZV_OK;
}

int zvNewHashEntry(ZvHash* table, const void* key, int32_t length, void* value) {
  if (!table || (!key && length > 0) || length < 0) return ZV_FAIL;
  ZvHashEntry* e = static_cast<ZvHashEntry*>(zvMalloc(sizeof(ZvHashEntry) + size_t(length)));
  if (!e) {
    zvError("zvNewHashEntry: Memory Allocation Failed.");
    return ZV_NOMEM;
  }
  e->key = e + 1;
  if (length > 0) std::memcpy(e->key, key, size_t(length));
  e->length = length;
  e->value = value;
  ZvHashEntry** link = bucketOf(table, key, length);
  while (*link) link = &(*link)->next;
  *link = e;
  return ZV_OK;
}

int zvLookupHash(const ZvHash* table, const void* key, int32_t length, void** value) {
  if (!table || (!key && length > 0)) return ZV_FAIL;
  for (ZvHashEntry* e = *bucketOf(table, key, length); e; e = e->next)
    if (sameKey(e, key, length)) {
      if (value) *value = e->value;
      return ZV_OK;
    }
  return ZV_FAIL;
}

int zvRemoveHashEntry(ZvHash* table, const void* key, int32_t length) {
  if (!table || (!key && length > 0)) return ZV_FAIL;
  for (ZvHashEntry** link = bucketOf(table, key, length); *link; link = &(*link)->next)
    if (sameKey(*link, key, length)) {
      ZvHashEntry* e = *link;
      *link = e->next;
      freeEntry(e);
      return ZV_OK;
    }
  return ZV_FAIL;
}

int zvFindHashKey(const ZvHash* table, const void* value, const void** key, int32_t* length) {
  if (!table) return ZV_FAIL;
  for (uint32_t b = 0; b < table->buckets; ++b)
    for (ZvHashEntry* e = table->heads[b]; e; e = e->next)
      if (e->value == value) {
        if (key) *key = e->key;
        if (length) *length = e->length;
        return ZV_OK;
      }
  return ZV_FAIL;
}

int zvForEachHash(ZvHash* table, int (*fn)(void* value, void* arg), void* arg) {
  if (!table || !fn) return ZV_FAIL;
  for (uint32_t b = 0; b < table->buckets; ++b)
    for (ZvHashEntry* e = table->heads[b]; e;) {
      ZvHashEntry* next = e->next;  // fn may remove e through the table
      if (fn(e->value, arg) == 0) return ZV_FAIL;
      e = next;
    }
  return ZV_OK;
}

int zvFilterHash(ZvHash* table, int (*fn)(void* value, void* arg), void* arg) {
  if (!table || !fn) return ZV_FAIL;
  for (uint32_t b = 0; b < table->buckets; ++b) {
    ZvHashEntry** link = &table->heads[b];
    while (*link) {
      ZvHashEntry* e = *link;
      int answer = fn(e->value, arg);
      if (answer == ZV_HASH_KEEP) {
        link = &e->next;
        continue;
      }
      if (answer != ZV_HASH_REMOVE && answer != ZV_HASH_REMOVE_STOP) return ZV_FAIL;
      *link = e->next;
      freeEntry(e);
      if (answer == ZV_HASH_REMOVE_STOP) return ZV_FAIL;
    }
  }
  return ZV_OK;
}

void zvDeleteHash(ZvHash* table) {
  if (!table) return;
  for (uint32_t b = 0; b < table->buckets; ++b)
    for (ZvHashEntry* e = table->heads[b]; e;) {
      ZvHashEntry* next = e->next;
      freeEntry(e);
      e = next;
    }
  zvFree(table->heads);
  zvFree(table);
}
