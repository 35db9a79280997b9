// history.cpp — the worlds the shell keeps loaded, and the URLs the user
// has visited. A world stays in the cache once read, so Back and Forward
// show it again at once, in the state it was left in; only a failed load, a
// reload or shutdown takes it out.
#include <cstdlib>
#include <cstring>
#include <new>

#include "scene/scene.h"
#include "shell/shell.h"

namespace {

struct CacheNode {
  CacheNode* next;  // older
  CacheNode* prev;  // newer
  ZvWorld* world;   // owned
};

CacheNode* cacheHead;

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

void freeEntry(ZvHistoryEntry* e) {
  std::free(e->url);
  delete e;
}

}  // namespace

int zvAddWorldToCache(ZvWorld* world) {
  if (!world) return -1;
  auto* n = new (std::nothrow) CacheNode{cacheHead, nullptr, world};
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
  unlinkNode(n);
  if (zvGetCurrentWorld() == n->world) zvSetCurrentWorld(nullptr);
  zvDeleteWorld(n->world);
  delete n;
  return 0;
}

void zvClearWorldCache(void) {
  while (CacheNode* n = cacheHead) {
    unlinkNode(n);
    if (zvGetCurrentWorld() == n->world) zvSetCurrentWorld(nullptr);
    zvDeleteWorld(n->world);
    delete n;
  }
}

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
