// The watchdog's promises, on the platform's own means (a signal on POSIX,
// a worker thread on Windows): the soft call comes, a body stuck inside a
// marked stretch is abandoned at the hard deadline, and a body outside one
// is left to finish.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/platform.h"

namespace {

constexpr long long SOFT_AFTER_MS = 50;
constexpr long long HARD_AFTER_MS = 150;
// Generous: the machine that runs the tests is shared and may be slow.
constexpr long long ABANDON_WITHIN_MS = 2000;

std::atomic<int> g_soft_calls{0};
std::atomic<int> g_spin{1};
std::atomic<int> g_after_stretch{0};
long long g_hard_at = 0;

void count_soft_call() { g_soft_calls.fetch_add(1); }

// Arms the watchdog from now; returns the hard deadline.
long long arm() {
  g_soft_calls.store(0);
  g_after_stretch.store(0);
  const long long now = plat_ticks_ms();
  g_hard_at = now + HARD_AFTER_MS;
  EXPECT_TRUE(plat_watchdog_arm(now + SOFT_AFTER_MS, g_hard_at, count_soft_call));
  return now;
}

void spin_inside_a_stretch(void *) {
  plat_cut_begin();
  while (g_spin.load() != 0) {
  }
  plat_cut_end();
  g_after_stretch.store(1);
}

void spin_outside_past_the_hard_deadline(void *) {
  while (plat_ticks_ms() < g_hard_at + 2 * PLAT_WATCHDOG_TICK_MS) {
  }
}

void enter_a_stretch_after_the_hard_deadline(void *) {
  spin_outside_past_the_hard_deadline(nullptr);
  plat_cut_begin();
  g_after_stretch.store(1);  // not reached: the body is abandoned at the mark
  plat_cut_end();
}

TEST(Watchdog, AbandonsABodyStuckInsideAMarkedStretch) {
  const long long start = arm();
  EXPECT_FALSE(plat_run_cuttable(spin_inside_a_stretch, nullptr));
  const long long took = plat_ticks_ms() - start;
  EXPECT_GE(took, HARD_AFTER_MS);
  EXPECT_LT(took, ABANDON_WITHIN_MS);
  EXPECT_GE(g_soft_calls.load(), 1);
  EXPECT_EQ(g_after_stretch.load(), 0);
  plat_watchdog_disarm();
}

TEST(Watchdog, LeavesABodyOutsideAMarkedStretchToFinish) {
  arm();
  EXPECT_TRUE(plat_run_cuttable(spin_outside_past_the_hard_deadline, nullptr));
  EXPECT_GE(g_soft_calls.load(), 1);
  plat_watchdog_disarm();
  const int calls = g_soft_calls.load();
  const long long until = plat_ticks_ms() + 5 * PLAT_WATCHDOG_TICK_MS;
  while (plat_ticks_ms() < until) {
  }
  EXPECT_LE(g_soft_calls.load(), calls + 1);  // at most a tick that had begun
}

TEST(Watchdog, AbandonsAtTheMarkOnceTheHardDeadlineHasPassed) {
  arm();
  EXPECT_FALSE(plat_run_cuttable(enter_a_stretch_after_the_hard_deadline, nullptr));
  EXPECT_EQ(g_after_stretch.load(), 0);
  plat_watchdog_disarm();
}

}  // namespace
