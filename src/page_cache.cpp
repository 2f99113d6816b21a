// A process of this program reads one statement's pages and ends, and each
// page SQLite reads takes a buffer of its page cache. Until the cache is
// full every buffer is memory the process has not touched yet, and the
// first touch of each 4 KB costs a page fault: a full default cache of
// 2 MB is about 500 of them, a large part of a short request's time. A
// scan gains nothing from them, since it reads each page once.
//
// So each cache starts at FIRST_PAGES and doubles, up to the size SQLite
// asked for, whenever it must load again a page it loaded before and has
// let go: the sign of a statement that comes back to its pages (a nested
// loop, a correlated subquery), for which a cache of full size pays.
// Everything else is SQLite's own cache, to which every call is passed.
#include "page_cache.h"

#include <sqlite3.h>

#include <cstring>

namespace {

constexpr int FIRST_PAGES = 64;
// Pages loaded lately, one per slot by hash: a later load of the same page
// finds itself there unless another page took the slot since. A missed
// return only delays the growth; a page number is never mistaken for
// another. Page number 0 does not exist, so a zeroed slot holds none.
constexpr unsigned LOADED_SLOTS = 1024;
constexpr unsigned SLOT_SHIFT = 22;  // 32 - log2(LOADED_SLOTS)

struct grown_cache {
  sqlite3_pcache *own;  // SQLite's cache, holding the pages
  int asked;            // pages SQLite asked for
  int allowed;          // pages the own cache may hold now, at most `asked`
  unsigned loaded[LOADED_SLOTS];
};

sqlite3_pcache_methods2 g_own{};

grown_cache *as_grown(sqlite3_pcache *cache) { return reinterpret_cast<grown_cache *>(cache); }

unsigned &slot_of(grown_cache *cache, unsigned page) {
  return cache->loaded[(page * 2654435761u) >> SLOT_SHIFT];
}

void apply_size(grown_cache *cache) {
  g_own.xCachesize(cache->own, cache->allowed < cache->asked ? cache->allowed : cache->asked);
}

int init_cache(void *) { return g_own.xInit(g_own.pArg); }

void shutdown_cache(void *) {
  if (g_own.xShutdown != nullptr) g_own.xShutdown(g_own.pArg);
}

sqlite3_pcache *create_cache(int page_bytes, int extra_bytes, int purgeable) {
  sqlite3_pcache *own = g_own.xCreate(page_bytes, extra_bytes, purgeable);
  if (own == nullptr) return nullptr;
  auto *cache = static_cast<grown_cache *>(sqlite3_malloc64(sizeof(grown_cache)));
  if (cache == nullptr) {
    g_own.xDestroy(own);
    return nullptr;
  }
  std::memset(cache, 0, sizeof(grown_cache));
  cache->own = own;
  cache->allowed = FIRST_PAGES;
  return reinterpret_cast<sqlite3_pcache *>(cache);
}

void set_cache_size(sqlite3_pcache *p, int pages) {
  grown_cache *cache = as_grown(p);
  cache->asked = pages;
  apply_size(cache);
}

int cached_pages(sqlite3_pcache *p) { return g_own.xPagecount(as_grown(p)->own); }

sqlite3_pcache_page *fetch_page(sqlite3_pcache *p, unsigned page, int create) {
  grown_cache *cache = as_grown(p);
  sqlite3_pcache_page *found = g_own.xFetch(cache->own, page, 0);
  if (found != nullptr || create == 0) return found;
  unsigned &slot = slot_of(cache, page);
  if (slot == page && cache->allowed < cache->asked) {
    cache->allowed = cache->allowed > cache->asked / 2 ? cache->asked : cache->allowed * 2;
    apply_size(cache);
  }
  sqlite3_pcache_page *made = g_own.xFetch(cache->own, page, create);
  if (made != nullptr) slot = page;
  return made;
}

void unpin_page(sqlite3_pcache *p, sqlite3_pcache_page *page, int discard) {
  g_own.xUnpin(as_grown(p)->own, page, discard);
}

void rekey_page(sqlite3_pcache *p, sqlite3_pcache_page *page, unsigned old_key, unsigned new_key) {
  g_own.xRekey(as_grown(p)->own, page, old_key, new_key);
}

void truncate_cache(sqlite3_pcache *p, unsigned limit) { g_own.xTruncate(as_grown(p)->own, limit); }

void destroy_cache(sqlite3_pcache *p) {
  grown_cache *cache = as_grown(p);
  g_own.xDestroy(cache->own);
  sqlite3_free(cache);
}

void shrink_cache(sqlite3_pcache *p) { g_own.xShrink(as_grown(p)->own); }

bool put_in_front() {
  static sqlite3_pcache_methods2 grown = {1,
                                          nullptr,
                                          init_cache,
                                          shutdown_cache,
                                          create_cache,
                                          set_cache_size,
                                          cached_pages,
                                          fetch_page,
                                          unpin_page,
                                          rekey_page,
                                          truncate_cache,
                                          destroy_cache,
                                          shrink_cache};
  sqlite3_pcache_methods2 own{};
  if (sqlite3_config(SQLITE_CONFIG_GETPCACHE2, &own) != SQLITE_OK) return false;
  g_own = own;
  return sqlite3_config(SQLITE_CONFIG_PCACHE2, &grown) == SQLITE_OK;
}

}  // namespace

bool install_page_cache() {
  static const bool installed = put_in_front();
  return installed;
}
