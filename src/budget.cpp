#include "budget.h"

#include <atomic>

#include "db_guard.h"

// Set by the watchdog, which runs asynchronously to the main line: a
// lock-free atomic, so that the main line reads a whole value.
static std::atomic<int> g_expired{0};
static bool g_watchdog_armed = false;

// Runs in the watchdog's context (a signal handler) at the deadline and at
// every tick after it: one atomic store, nothing else. It does not call
// sqlite3_interrupt: that would also stop every later statement of the
// connection at its first step, while the schema action still lists the
// columns of its remaining tables at cheap statements after the deadline.
static void mark_expired() { g_expired.store(1); }

void budget_start(budget_state *budget) {
  budget->deadline = plat_ticks_ms() + BUDGET_MS;
  budget->aborted = 0;
  budget->lock_waited = 0;
  g_expired.store(0);
  g_watchdog_armed =
      plat_watchdog_arm(budget->deadline, budget->deadline + HARD_STOP_MS, mark_expired);
}

bool budget_expired(const budget_state &budget) {
  // With the watchdog running its flag is the clock; without it, read the
  // clock itself.
  if (g_watchdog_armed) return g_expired.load() != 0;
  return plat_ticks_ms() > budget.deadline;
}

void budget_stop() {
  plat_watchdog_disarm();
  g_watchdog_armed = false;
}
