// The guarded open that SQLite's file layer is given on POSIX: links in any
// component, FIFOs and second hard links, made with the POSIX calls.
#include "platform/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace
