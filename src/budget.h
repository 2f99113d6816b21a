// The wall-clock budget of one action and its hard stop. The budget starts
// before the database is opened, so that the open, the probe, waiting for a
// writer's lock and every statement share one deadline.
//
// Three things keep an action inside its budget: the progress handler
// interrupts a statement between virtual-machine steps once the deadline
// has passed (progress_cb); the action's writers stop between rows and
// between the values of a row (budget_expired); and a single call into
// SQLite that is still running HARD_STOP_MS after the deadline, such as
// one function call over huge values that takes no steps, is abandoned by
// the watchdog.
#pragma once

#include "platform/platform.h"

struct budget_state;
struct sqlite3;

/// Time a call still inside SQLite at the deadline is given to return
/// before it is abandoned.
constexpr int HARD_STOP_MS = 100;

/// Starts the budget: `deadline` becomes now + BUDGET_MS, `aborted` 0, and
/// the watchdog is armed: at the deadline it makes budget_expired true;
/// HARD_STOP_MS later it abandons a call into SQLite that has not returned
/// (see plat_run_cuttable).
void budget_start(budget_state *budget);

/// True once the deadline has passed.
bool budget_expired(const budget_state &budget);

/// Disarms the watchdog.
void budget_stop();

/// Gives the next statement on `db` its own, earlier end: from `at_ms` on
/// (a plat_ticks_ms value before the deadline) the watchdog interrupts it
/// with sqlite3_interrupt, which also stops the single long step that no
/// progress check sees (a count of a large table). Until budget_cut_clear.
void budget_cut_at(const budget_state &budget, sqlite3 *db, long long at_ms);

/// Withdraws budget_cut_at. Returns true when the interrupt was given: it
/// stays on the connection while any statement there is still running.
bool budget_cut_clear(const budget_state &budget, sqlite3 *db);

/// Runs `call` (a call into SQLite) as a stretch that the hard stop may
/// abandon, and returns its result.
template <class Call>
auto inside_sqlite(Call call) {
  plat_cut_begin();
  auto result = call();
  plat_cut_end();
  return result;
}
