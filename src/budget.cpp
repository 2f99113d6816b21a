#include "budget.h"

#include <sqlite3.h>

#include <atomic>

#include "db_guard.h"

// Set by the watchdog, which runs asynchronously to the main line: a
// lock-free atomic, so that the main line reads a whole value.
static std::atomic<int> g_expired{0};
static bool g_watchdog_armed = false;
// The statement end given by budget_cut_at: the connection to interrupt
// (null for none) and when.
static std::atomic<sqlite3 *> g_cut_db{nullptr};
static std::atomic<long long> g_cut_at{0};
static std::atomic<long long> g_deadline{0};
static bool g_lock_waited = false;

// Runs in the watchdog's context (a signal handler, or another thread on
// Windows) from its first moment on, at every tick: atomic loads and
// stores, and sqlite3_interrupt, which is one atomic store too. At the
// deadline it does not interrupt: that would also stop every later
// statement of the connection at its first step, while the schema action
// still lists the columns of its remaining tables at cheap statements.
static void on_watchdog_tick() {
  const long long now = plat_ticks_ms();
  if (now >= g_deadline.load()) g_expired.store(1);
  sqlite3 *db = g_cut_db.load();
  if (db != nullptr && now >= g_cut_at.load()) sqlite3_interrupt(db);
}

// Arms the watchdog for the request's deadline, its first tick at
// `first_at`.
static void arm(long long first_at) {
  const long long deadline = g_deadline.load();
  g_watchdog_armed = plat_watchdog_arm(first_at, deadline + HARD_STOP_MS,
                                       deadline + END_AFTER_MS, on_watchdog_tick);
}

void budget_begin(long long start_ms) {
  g_deadline.store(start_ms + BUDGET_MS);
  g_lock_waited = false;
  g_expired.store(0);
  g_cut_db.store(nullptr);
  arm(g_deadline.load());
}

long long budget_deadline() { return g_deadline.load(); }

void budget_start(budget_state *budget) {
  budget->deadline = g_deadline.load();
  budget->aborted = 0;
}

void budget_cut_at(const budget_state &budget, sqlite3 *db, long long at_ms) {
  if (!g_watchdog_armed || at_ms >= budget.deadline) return;
  g_cut_at.store(at_ms);
  g_cut_db.store(db);
  arm(at_ms);
}

bool budget_cut_clear(const budget_state &budget, sqlite3 *db) {
  if (g_cut_db.load() == nullptr) return false;
  g_cut_db.store(nullptr);
  // Back to the first tick at the deadline; a tick that comes before it
  // finds nothing to cut.
  arm(budget.deadline);
  return sqlite3_is_interrupted(db) != 0;
}

bool budget_expired(const budget_state &budget) {
  // With the watchdog running its flag is the clock; without it, read the
  // clock itself.
  if (g_watchdog_armed) return g_expired.load() != 0;
  return plat_ticks_ms() > budget.deadline;
}

void budget_note_lock_wait() { g_lock_waited = true; }

bool budget_lock_waited() { return g_lock_waited; }
