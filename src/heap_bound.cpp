#include "heap_bound.h"

#include <sqlite3.h>

namespace {

sqlite3_mem_methods g_own{};
long long g_spent = 0;  // one thread: no lock

// What a block of `n` bytes costs with glibc's allocator (and about that
// with others): SQLite's 8-byte size prefix, the allocator's 8-byte
// header, rounded up to 16 bytes, and 32 bytes at the least.
long long cost_of(long long n) {
  const long long asked = ((n + 7) & ~7LL) + 16;
  const long long chunk = (asked + 15) & ~15LL;
  return chunk < 32 ? 32 : chunk;
}

void *bounded_malloc(int n) {
  const long long cost = cost_of(n);
  if (g_spent + cost > HEAP_BOUND_BYTES) return nullptr;
  void *block = g_own.xMalloc(n);
  if (block != nullptr) g_spent += cost;
  return block;
}

void bounded_free(void *block) {
  if (block == nullptr) return;
  g_spent -= cost_of(g_own.xSize(block));
  g_own.xFree(block);
}

// The old and the new block may both be in use while the content moves,
// so the new one must fit beside the old.
void *bounded_realloc(void *block, int n) {
  const long long old_cost = cost_of(g_own.xSize(block));
  const long long cost = cost_of(n);
  if (g_spent + cost > HEAP_BOUND_BYTES) return nullptr;
  void *moved = g_own.xRealloc(block, n);
  if (moved != nullptr) g_spent += cost - old_cost;
  return moved;
}

int own_size(void *block) { return g_own.xSize(block); }
int own_roundup(int n) { return g_own.xRoundup(n); }
int own_init(void *arg) { return g_own.xInit(arg); }
void own_shutdown(void *arg) { g_own.xShutdown(arg); }

bool put_in_front() {
  if (sqlite3_config(SQLITE_CONFIG_GETMALLOC, &g_own) != SQLITE_OK) return false;
  static const sqlite3_mem_methods bounded = {bounded_malloc, bounded_free, bounded_realloc,
                                              own_size,       own_roundup,  own_init,
                                              own_shutdown,   nullptr};
  return sqlite3_config(SQLITE_CONFIG_MALLOC, &bounded) == SQLITE_OK;
}

}  // namespace

bool install_heap_bound() {
  static const bool installed = put_in_front();
  return installed;
}
