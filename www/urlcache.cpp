// urlcache.cpp — each world's table from URL to local file and type code,
// the entries objects hang on themselves through the WWW extensions, and
// the hooks that give every world its table.
#include <strings.h>

#include <cstring>
#include <string>

#include "www/wwwpriv.h"

namespace {

// The bucket comes from the exact characters (each a signed byte, weighted
// by the cube of its position), so World.WRL and world.wrl part ways unless
// they happen to share a bucket.
uint32_t hashUrl(const char* url) {
  uint32_t h = 0;
  uint32_t i = 1;
  for (const char* p = url; *p; ++p, ++i) h += uint32_t(int32_t(static_cast<signed char>(*p))) * i * i * i;
  if (int32_t(h) < 0) h = 0u - h;
  return h;
}

// A downloaded file, or a copy made by decompression or conversion, belongs
// to its entry; anything else (the user's own file, an archive member) stays.
// What decides is where the file is, not what the URL is called: a gzip
// file known only by its signature makes a copy too, and every copy is in
// the cache, where a user's own file never is.
void freeEntry(ZvUrlHash* entry) {
  const char* local = entry->local_filename;
  if (local && local[0] && !www::isArchiveMember(local)) www::removeIfOurs(local);
  zvFree(entry->url);
  zvFree(entry->local_filename);
  zvFree(entry);
}

ZvUrlHash* newEntryIn(ZvWorld* world, const char* url, const char* who) {
  if (!world) {
    zvWarning("%s: world is NULL", who);
    return nullptr;
  }
  return zvNewUrlHashEntry(world->urlTable, url, nullptr, ZV_TYPE_OTHER);
}

int newWorldTable(ZvWorld* world) {
  world->urlTable = nullptr;
  return zvNewUrlHash(ZV_URL_BUCKETS, &world->urlTable);
}

void deleteWorldTable(ZvWorld* world) {
  zvDeleteUrlHash(world->urlTable);
  world->urlTable = nullptr;
}

bool wwwArguments(const ZvObj* object, int kind, const void* result, const char* who) {
  if (object && result && (kind == zvWWWInline || kind == zvWWWAnchor)) return true;
  zvWarning("%s: Invalid argument.", who);
  return false;
}

}  // namespace

uint32_t zvUrlHashBucket(const char* url, uint32_t buckets) {
  return url && buckets ? hashUrl(url) % buckets : 0;
}

int zvNewUrlHash(uint32_t buckets, ZvUrlHashTable** out) {
  if (!out || buckets == 0) return ZV_FAIL;
  *out = nullptr;
  auto* table = static_cast<ZvUrlHashTable*>(zvMalloc(sizeof(ZvUrlHashTable)));
  auto* heads = table ? static_cast<ZvUrlHash**>(zvMalloc(sizeof(ZvUrlHash*) * buckets)) : nullptr;
  if (!heads) {
    zvFree(table);
    zvWarning("zvNewHash: Memory Allocation Failed.");
    return ZV_NOMEM;
  }
  table->buckets = buckets;
  table->heads = heads;
  *out = table;
  return ZV_OK;
}

void zvDeleteUrlHash(ZvUrlHashTable* table) {
  if (!table) return;
  for (uint32_t b = 0; b < table->buckets; ++b) {
    while (ZvUrlHash* entry = table->heads[b]) {
      table->heads[b] = entry->next;
      freeEntry(entry);
    }
  }
  zvFree(table->heads);
  zvFree(table);
}

ZvUrlHash* zvFindUrlHashEntry(ZvUrlHashTable* table, const char* url) {
  if (!table || !url) return nullptr;
  for (ZvUrlHash* e = table->heads[hashUrl(url) % table->buckets]; e; e = e->next)
    if (strcasecmp(e->url, url) == 0) return e;
  return nullptr;
}

ZvUrlHash* zvNewUrlHashEntry(ZvUrlHashTable* table, const char* url, const char* local, int type) {
  if (!table || !url) {
    zvWarning("zvNewUrlHashEntry: URL or pHashtable is NULL");
    return nullptr;
  }
  if (ZvUrlHash* old = zvFindUrlHashEntry(table, url)) return old;
  auto* entry = static_cast<ZvUrlHash*>(zvMalloc(sizeof(ZvUrlHash)));
  char* urlCopy = entry ? zvStrdup(url) : nullptr;
  char* localCopy = urlCopy && local ? zvStrdup(local) : nullptr;
  if (!urlCopy || (local && !localCopy)) {
    zvFree(urlCopy);
    zvFree(entry);
    zvWarning("zvAddHashedFilenameEntry: Memory Allocation Failed.");
    return nullptr;
  }
  entry->url = urlCopy;
  entry->local_filename = localCopy;
  entry->type = type;
  uint32_t b = hashUrl(url) % table->buckets;
  entry->next = table->heads[b];
  table->heads[b] = entry;
  return entry;
}

void zvDeleteUrlHashEntry(ZvUrlHashTable* table, const char* url) {
  if (!table) {
    zvWarning("zvDeleteUrlHashEntry: pHashtable is NULL");
    return;
  }
  if (!url) {
    zvWarning("zvDeleteUrlHashEntry: URL is NULL");
    return;
  }
  for (ZvUrlHash** link = &table->heads[hashUrl(url) % table->buckets]; *link; link = &(*link)->next) {
    if (std::strcmp((*link)->url, url) != 0) continue;
    ZvUrlHash* entry = *link;
    *link = entry->next;
    freeEntry(entry);
    return;
  }
}

ZvUrlHash* zvWwwLoadFile(const char* url) {
  return newEntryIn(zvGetCurrentWorld(), url, "zvWwwLoadFile");
}

const char* zvGetUrl(const ZvUrlHash* entry) { return entry ? entry->url : nullptr; }

const char* zvGetLocalFile(ZvUrlHash* entry) {
  if (!entry) {
    zvWarning("zvGetLocalFile: argument pointer to ZvUrlHash is null.");
    return nullptr;
  }
  if (entry->local_filename) return entry->local_filename;
  std::string local;
  int type = ZV_TYPE_OTHER;
  bool produced = false;
  if (!www::fetchUrl(entry->url, local, type, produced)) {
    zvWarning("zvGetLocalFile(): NULL");
    return nullptr;
  }
  entry->local_filename = zvStrdup(local.c_str());
  if (!entry->local_filename) {
    // Nobody will ever name the copy just made; the next call makes another.
    if (produced) www::removeIfOurs(local);
    zvWarning("zvWwwLoadFile: inconsistent pUrlHash->local_filename");
    return nullptr;
  }
  entry->type = type;
  return entry->local_filename;
}

int zvGetMimeType(ZvUrlHash* entry) {
  if (!entry) {
    zvWarning("zvGetMimeType: argument pointer to ZvUrlHash is null.");
    return ZV_TYPE_OTHER;
  }
  return zvGetLocalFile(entry) ? entry->type : ZV_TYPE_OTHER;
}

void zvWwwInstallHooks(void) {
  ZvSceneHooks& hooks = zvSceneHooks();
  hooks.newUrlTable = newWorldTable;
  hooks.deleteUrlTable = deleteWorldTable;
}

int zvGetUrlNameOfWWW(ZvObj* object, int kind, const char** url) {
  if (!wwwArguments(object, kind, url, "zvGetUrlNameOfWWW")) return ZV_FAIL;
  auto* entry = static_cast<ZvUrlHash*>(zvGetObjExtension(object, kind));
  if (!entry) return ZV_FAIL;
  *url = entry->url;
  return ZV_OK;
}

int zvGetLocalNameOfWWW(ZvObj* object, int kind, const char** file) {
  if (!wwwArguments(object, kind, file, "zvGetLocalNameOfWWW")) return ZV_FAIL;
  auto* entry = static_cast<ZvUrlHash*>(zvGetObjExtension(object, kind));
  if (!entry) return ZV_FAIL;
  const char* local = zvGetLocalFile(entry);
  if (!local) {
    zvWarning("%s: zvGetLocalFile() failed.", "zvGetLocalNameOfWWW");
    return ZV_FAIL;
  }
  *file = local;
  return ZV_OK;
}

// The entry goes into the object's own world: the extension must not outlive
// the table it points into, and the current world may be another one.
int zvSetNameOfWWW(ZvObj* object, int kind, const char* url) {
  if (!wwwArguments(object, kind, url, "zvSetNameOfWWW")) return ZV_FAIL;
  ZvWorld* world = object->world ? object->world : zvGetCurrentWorld();
  ZvUrlHash* entry = newEntryIn(world, url, "zvWwwLoadFile");
  if (!entry) {
    zvWarning("%s: zvWwwLoadFile() failed.", "zvSetNameOfWWW");
    return ZV_FAIL;
  }
  if (zvRegisterObjExtension(object, kind, entry) != ZV_OK) {
    zvWarning("%s: zvRegisterObjExtension() failed.", "zvSetNameOfWWW");
    return ZV_FAIL;
  }
  return ZV_OK;
}
