// The wall-clock budget of one request and its hard stop. The budget starts
// when the process starts, so that reading the request body, resolving the
// path, opening the database, waiting for a writer's lock, every statement,
// the output and discovery all share one deadline.
//
// Four things keep a request inside its budget: reading the body stops at
// the deadline; the progress handler interrupts a statement between
// virtual-machine steps once the deadline has passed (progress_cb); the
// action's writers and the discovery walk stop between rows, values and
// entries (budget_expired); and the watchdog abandons a single call into
// SQLite or into the file system that is still running HARD_STOP_MS after
// the deadline, such as one function call over huge values that takes no
// steps. Last, a host that stops reading the response cannot keep the
// process, and the locks it holds, alive: END_AFTER_MS after the deadline
// a process still waiting to hand its output over ends.
#pragma once

#include "platform/platform.h"

struct budget_state;
struct sqlite3;

/// Time a call still inside SQLite at the deadline is given to return
/// before it is abandoned.
constexpr int HARD_STOP_MS = 100;

/// Time after the deadline at which a process still waiting for the host
/// to take its output ends without finishing it.
constexpr int END_AFTER_MS = 200;

/// Starts the budget of the request: its deadline is `start_ms` (the
/// plat_ticks_ms value read when the process started) + BUDGET_MS, and the
/// watchdog is armed for it: at the deadline it makes budget_expired true;
/// HARD_STOP_MS later it abandons a call into SQLite that has not returned
/// (see plat_run_cuttable); END_AFTER_MS after it, a process waiting on a
/// host that does not read ends.
void budget_begin(long long start_ms);

/// The request's deadline, in plat_ticks_ms time.
long long budget_deadline();

/// Fills `budget` for a connection: the request's deadline, `aborted` 0.
void budget_start(budget_state *budget);

/// True once the deadline of `budget` (the request's) has passed.
bool budget_expired(const budget_state &budget);

/// Records that a call into SQLite waited for a lock another process holds,
/// so that a hard stop inside that wait is told as a locked database.
void budget_note_lock_wait();

/// True once budget_note_lock_wait was called.
bool budget_lock_waited();

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
