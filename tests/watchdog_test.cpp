// The watchdog that abandons a stuck call, in process, on the platform's
// own means (a signal on POSIX, a worker thread on Windows).
#include <gtest/gtest.h>

#include <atomic>

#include "platform/platform.h"

namespace {

// The watchdog's promises, in process. Each case arms it with a short
// soft and hard deadline and runs a body that spins for `spin_ms`, inside or
// outside a marked stretch.
std::atomic<int> g_soft_calls{0};
// An end of the budget these runs never reach: they write no response.
constexpr long long NEVER = 1LL << 62;
void count_soft_call() { g_soft_calls.fetch_add(1); }

struct spin_body {
  bool marked;
  long long until_ms;
};

void spin(void *arg) {
  const spin_body *body = static_cast<const spin_body *>(arg);
  if (body->marked) plat_cut_begin();
  while (plat_ticks_ms() < body->until_ms) {
  }
  if (body->marked) plat_cut_end();
}

TEST(Watchdog, AbandonsOnlyAMarkedStretchAndOnlyAfterTheHardDeadline) {
  constexpr long long SOFT_MS = 50, HARD_MS = 150, SPIN_MS = 1000;
  const struct {
    const char *name;
    bool marked;
    bool returns;
  } cases[] = {
      {"a stretch inside SQLite is abandoned", true, false},
      {"the program's own work runs to its end", false, true},
  };
  for (const auto &c : cases) {
    g_soft_calls.store(0);
    const long long start = plat_ticks_ms();
    ASSERT_TRUE(plat_watchdog_arm(start + SOFT_MS, start + HARD_MS, NEVER, count_soft_call));
    spin_body body{c.marked, start + SPIN_MS};
    const bool returned = plat_run_cuttable(spin, &body);
    const long long elapsed = plat_ticks_ms() - start;
    plat_watchdog_disarm();
    EXPECT_EQ(returned, c.returns) << c.name;
    EXPECT_GT(g_soft_calls.load(), 0) << c.name;
    if (c.returns) {
      EXPECT_GE(elapsed, SPIN_MS) << c.name;
    } else {
      EXPECT_GE(elapsed, HARD_MS) << c.name;
      EXPECT_LT(elapsed, SPIN_MS) << c.name;
    }
  }
}

TEST(Watchdog, MarkedStretchBegunAfterTheHardDeadlineIsAbandonedAtOnce) {
  const long long start = plat_ticks_ms();
  ASSERT_TRUE(plat_watchdog_arm(start + 20, start + 40, NEVER, count_soft_call));
  // The program's own work outlives the hard deadline; the next call into
  // SQLite never starts.
  spin_body body{false, start + 200};
  bool reached_sqlite = false;
  struct frame {
    spin_body *body;
    bool *reached;
  } f{&body, &reached_sqlite};
  const bool returned = plat_run_cuttable(
      [](void *arg) {
        frame *fr = static_cast<frame *>(arg);
        spin(fr->body);
        plat_cut_begin();
        *fr->reached = true;
        plat_cut_end();
      },
      &f);
  plat_watchdog_disarm();
  EXPECT_FALSE(returned);
  EXPECT_FALSE(reached_sqlite);
}

TEST(Watchdog, DisarmedWatchdogAbandonsNothing) {
  g_soft_calls.store(0);
  const long long start = plat_ticks_ms();
  ASSERT_TRUE(plat_watchdog_arm(start + 20, start + 40, NEVER, count_soft_call));
  plat_watchdog_disarm();
  spin_body body{true, start + 150};
  EXPECT_TRUE(plat_run_cuttable(spin, &body));
  EXPECT_EQ(g_soft_calls.load(), 0);
}

}  // namespace
