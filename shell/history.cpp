// history.cpp — the worlds the shell keeps loaded, and the URLs the user
// has visited. A world stays in the cache once read, so Back and Forward
// show it again at once, in the state it was left in, until the worlds held
// outgrow the cache's memory budget: then the least recently shown go, and
// a visit to one of them reads it again. A failed load, a reload and
// shutdown take worlds out too.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "scene/scene.h"
#include "shell/shell.h"

namespace {

struct CacheNode {
  CacheNode* next;  // shown less recently
  CacheNode* prev;  // shown more recently
  ZvWorld* world;   // owned
  size_t bytes;     // what the world costs, as the shell measured it
};

CacheNode* cacheHead;
size_t cacheBytes;   // the sum over the nodes
size_t cacheBudget;  // 0 until set: the default

ZvHistoryEntry* historyHead;
ZvHistoryEntry* historyTail;
ZvHistoryEntry* historyCurrent;
int reuseEntry;

CacheNode* findNode(const char* url) {
  if (!url) return nullptr;
  for (CacheNode* n = cacheHead; n; n = n->next)
    if (n->world->url && std::strcmp(n->world->url, url) == 0) return n;
  return nullptr;
}

void unlinkNode(CacheNode* n) {
  if (n->prev)
    n->prev->next = n->next;
  else
    cacheHead = n->next;
  if (n->next) n->next->prev = n->prev;
}

CacheNode* findWorld(const ZvWorld* world) {
  for (CacheNode* n = cacheHead; n; n = n->next)
    if (n->world == world) return n;
  return nullptr;
}

void deleteNode(CacheNode* n) {
  unlinkNode(n);
  cacheBytes -= std::min(cacheBytes, n->bytes);
  if (zvGetCurrentWorld() == n->world) zvSetCurrentWorld(nullptr);
  zvDeleteWorld(n->world);
  delete n;
}

void freeEntry(ZvHistoryEntry* e) {
  std::free(e->url);
  delete e;
}

}  // namespace

int zvAddWorldToCache(ZvWorld* world) {
  if (!world) return -1;
  auto* n = new (std::nothrow) CacheNode{cacheHead, nullptr, world, 0};
  if (!n) return -1;
  if (cacheHead) cacheHead->prev = n;
  cacheHead = n;
  return 0;
}

ZvWorld* zvGetCachedWorld(const char* url) {
  CacheNode* n = findNode(url);
  return n ? n->world : nullptr;
}

int zvRemoveCachedWorld(ZvWorld* world) {
  CacheNode* n = world ? findNode(world->url) : nullptr;
  if (!n) return -1;
  deleteNode(n);
  return 0;
}

void zvClearWorldCache(void) {
  while (CacheNode* n = cacheHead) deleteNode(n);
  cacheBytes = 0;
}

void zvTouchCachedWorld(ZvWorld* world) {
  CacheNode* n = findWorld(world);
  if (!n || n == cacheHead) return;
  unlinkNode(n);
  n->prev = nullptr;
  n->next = cacheHead;
  cacheHead->prev = n;
  cacheHead = n;
}

int zvSetCachedWorldSize(ZvWorld* world, size_t bytes) {
  CacheNode* n = findWorld(world);
  if (!n) return -1;
  cacheBytes = cacheBytes - std::min(cacheBytes, n->bytes) + bytes;
  n->bytes = bytes;
  return 0;
}

size_t zvCachedWorldSize(const ZvWorld* world) {
  const CacheNode* n = findWorld(world);
  return n ? n->bytes : 0;
}

int zvTrimWorldCache(const ZvWorld* keep) {
  size_t budget = zvGetWorldCacheBudget();
  int deleted = 0;
  while (cacheBytes > budget) {
    CacheNode* oldest = nullptr;
    for (CacheNode* n = cacheHead; n; n = n->next)
      if (n->world != keep && n->world != zvGetCurrentWorld()) oldest = n;
    if (!oldest) break;  // what is left is the world on show: it stays, whatever it costs
    deleteNode(oldest);
    ++deleted;
  }
  return deleted;
}

size_t zvWorldCacheBytes(void) { return cacheBytes; }

int zvWorldCacheCount(void) {
  int count = 0;
  for (CacheNode* n = cacheHead; n; n = n->next) ++count;
  return count;
}

size_t zvDefaultWorldCacheBudget(void) {
  const size_t most = size_t(2) << 30;
  long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return most;
  return std::min(most, size_t(pages) / 4 * size_t(pageSize));
}

void zvSetWorldCacheBudget(size_t bytes) { cacheBudget = bytes; }
size_t zvGetWorldCacheBudget(void) { return cacheBudget ? cacheBudget : zvDefaultWorldCacheBudget(); }

// What a world costs is measured as the growth of the heap while it is read
// and built, not counted object by object: the renderer's clumps, vertex
// arrays and texture rasters (and, with Mesa's software rasteriser, the
// driver's copies of them) come from malloc without going through zvMalloc,
// and they are most of a world's weight. The figure is taken on the one
// thread with nothing else loading, so what else grows meanwhile (a line in
// the Messages window) is small; it errs on the heavy side, which only
// makes the cache let go a little early. Memory on a real GPU is not seen.
size_t zvHeapBytesInUse(void) { return zvPlatformHeapBytesInUse(); }

ZvHistoryEntry* zvAddHistoryEntry(const char* url) {
  if (!url) return nullptr;
  char* copy = strdup(url);
  auto* entry = copy ? new (std::nothrow) ZvHistoryEntry{nullptr, nullptr, copy, 0} : nullptr;
  if (!entry) {
    std::free(copy);
    return nullptr;
  }
  // A new visit from the middle of the list forgets where Forward led.
  if (historyCurrent) {
    while (historyTail != historyCurrent) {
      ZvHistoryEntry* gone = historyTail;
      historyTail = gone->prev;
      historyTail->next = nullptr;
      freeEntry(gone);
    }
  } else {
    // No current entry: the list starts over.
    zvClearHistory();
  }
  entry->prev = historyTail;
  if (historyTail)
    historyTail->next = entry;
  else
    historyHead = entry;
  historyTail = entry;
  return entry;
}

void zvSetCurrentHistoryEntry(ZvHistoryEntry* entry) { historyCurrent = entry; }
ZvHistoryEntry* zvGetCurrentHistoryEntry(void) { return historyCurrent; }
ZvHistoryEntry* zvNextHistoryEntry(const ZvHistoryEntry* entry) { return entry ? entry->next : nullptr; }
ZvHistoryEntry* zvPrevHistoryEntry(const ZvHistoryEntry* entry) { return entry ? entry->prev : nullptr; }
void zvSetHistoryLoaded(ZvHistoryEntry* entry, int flag) {
  if (entry) entry->loaded = flag ? 1 : 0;
}

void zvClearHistory(void) {
  while (ZvHistoryEntry* e = historyHead) {
    historyHead = e->next;
    freeEntry(e);
  }
  historyTail = historyCurrent = nullptr;
  reuseEntry = 0;
}

void zvSetHistoryReuse(int flag) { reuseEntry = flag ? 1 : 0; }
int zvGetHistoryReuse(void) { return reuseEntry; }
