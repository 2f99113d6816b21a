// The platform promises the guard stands on: the guarded open that SQLite's
// file layer is given, and the watchdog that abandons a stuck call.
#include "platform/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "test_support.h"

namespace {

using open_call = int (*)(const char *, int, int);

open_call guarded_open() {
  for (const plat_sqlite_syscall *c = plat_sqlite_syscalls(); c->name != nullptr; ++c) {
    if (std::strcmp(c->name, "open") == 0) return reinterpret_cast<open_call>(c->call);
  }
  return nullptr;
}

TEST(GuardedOpen, OpensOnlyRegularFilesWithOneNameReachedWithoutLinks) {
  scratch_dir dir;
  char real[4096];
  ASSERT_NE(plat_realpath(real, dir.path().c_str(), sizeof real), nullptr);
  const std::string base = real;
  write_file(base + "/plain.db", "data");
  make_dirs(base + "/sub");
  write_file(base + "/sub/inner.db", "data");
  ASSERT_EQ(symlink((base + "/sub").c_str(), (base + "/via").c_str()), 0);
  ASSERT_EQ(symlink((base + "/plain.db").c_str(), (base + "/last.db").c_str()), 0);
  ASSERT_EQ(mkfifo((base + "/pipe.db").c_str(), 0600), 0);
  write_file(base + "/twice.db", "data");
  ASSERT_EQ(link((base + "/twice.db").c_str(), (base + "/other-name.db").c_str()), 0);

  const open_call open_guarded = guarded_open();
  ASSERT_NE(open_guarded, nullptr);
  const struct {
    const char *name;
    bool opens;
  } cases[] = {
      {"/plain.db", true},      {"/sub/inner.db", true},  // no link on the way
      {"/via/inner.db", false},                           // a link as a directory
      {"/last.db", false},                                // a link as the last name
      {"/pipe.db", false},                                // a FIFO: refused, not waited on
      {"/twice.db", false},                               // a second hard link
      {"/sub", false},                                    // a directory
  };
  for (const auto &c : cases) {
    const std::string path = base + c.name;
    const int fd = open_guarded(path.c_str(), O_RDONLY, 0);
    EXPECT_EQ(fd >= 0, c.opens) << c.name;
    if (fd >= 0) close(fd);
    char head[4];
    EXPECT_EQ(plat_read_head(path.c_str(), head, sizeof head), c.opens ? 4 : -1) << c.name;
  }
}

TEST(GuardedOpen, SqliteResolvingALinkFails) {
  for (const plat_sqlite_syscall *c = plat_sqlite_syscalls(); c->name != nullptr; ++c) {
    if (std::strcmp(c->name, "readlink") != 0) continue;
    using readlink_call = long (*)(const char *, char *, std::size_t);
    scratch_dir dir;
    ASSERT_EQ(symlink("/", dir.at("link").c_str()), 0);
    char target[64];
    EXPECT_LT(reinterpret_cast<readlink_call>(c->call)(dir.at("link").c_str(), target, 64), 0);
    return;
  }
  ADD_FAILURE() << "no readlink replacement";
}

// The watchdog's promises, in process. Each case arms it with a short
// soft and hard deadline and runs a body that spins for `spin_ms`, inside or
// outside a marked stretch.
std::atomic<int> g_soft_calls{0};
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
    ASSERT_TRUE(plat_watchdog_arm(start + SOFT_MS, start + HARD_MS, count_soft_call));
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
  ASSERT_TRUE(plat_watchdog_arm(start + 20, start + 40, count_soft_call));
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
  ASSERT_TRUE(plat_watchdog_arm(start + 20, start + 40, count_soft_call));
  plat_watchdog_disarm();
  spin_body body{true, start + 150};
  EXPECT_TRUE(plat_run_cuttable(spin, &body));
  EXPECT_EQ(g_soft_calls.load(), 0);
}

}  // namespace
