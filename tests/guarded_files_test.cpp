// Attacks through the file tree, black-box: a hard link to a file outside
// the root, a directory swapped for a link while requests run, FIFOs where
// SQLite expects files, and names that would make SQLite write beside a
// database or open another file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <sqlite3.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "db_action_fixture.h"

namespace {

const std::string FORBIDDEN =
    error_doc("forbidden_path", "path outside the allowlisted roots or not a database file");

// True when `out` is one whole JSON response: the header block, then one
// object whose brackets balance outside strings, then one line feed.
bool one_complete_document(const std::string &out) {
  if (out.compare(0, JSON_HEAD.size(), JSON_HEAD) != 0) return false;
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = JSON_HEAD.size(); i < out.size(); ++i) {
    const char c = out[i];
    if (in_string) {
      if (c == '\\') ++i;
      if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth == 0) return out.substr(i + 1) == "\n";
    }
  }
  return false;
}

std::set<std::string> names_in(const std::string &dir) {
  std::set<std::string> names;
  std::unique_ptr<plat_dir, void (*)(plat_dir *)> listing(plat_dir_open(dir.c_str()),
                                                          plat_dir_close);
  plat_dir_entry entry{};
  while (listing && plat_dir_next(listing.get(), &entry)) names.insert(entry.name);
  return names;
}

int exchange_names(const std::string &a, const std::string &b) {
  return static_cast<int>(
      syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE));
}

// Swaps two names back and forth on its own thread until it goes away.
class name_swapper {
 public:
  name_swapper(std::string a, std::string b)
      : a_(std::move(a)), b_(std::move(b)), thread_([this] {
          while (!stop_.load()) {
            if (exchange_names(a_, b_) == 0) swaps_.fetch_add(1);
          }
        }) {}
  ~name_swapper() {
    stop_.store(true);
    thread_.join();
  }
  long swaps() const { return swaps_.load(); }

 private:
  std::string a_, b_;
  std::atomic<bool> stop_{false};
  std::atomic<long> swaps_{0};
  std::thread thread_;
};

// A root, and beside it a folder outside every root holding a database
// whose one row says where it lives.
class FileAttack : public testing::Test {
 protected:
  void SetUp() override {
    make_db(outside.at("x.db"), "CREATE TABLE t(s); INSERT INTO t VALUES('OUTSIDE');");
  }
  db_root root;
  scratch_dir outside;
};

TEST_F(FileAttack, HardLinkToAnOutsideFileIsRefusedAndNotListed) {
  ASSERT_EQ(link(outside.at("x.db").c_str(), root.at("hard.db").c_str()), 0);
  EXPECT_EQ(root.query(root.at("hard.db"), "SELECT s FROM t"), FORBIDDEN);
  EXPECT_EQ(root.schema(root.at("hard.db")), FORBIDDEN);
  const std::string listed = root.run("action=dbs");
  EXPECT_NE(listed.find("\"count\":0,"), std::string::npos) << listed;
}

TEST_F(FileAttack, DirectorySwappedForALinkMidRequestNeverReadsOutside) {
  make_dirs(root.at("race"));
  make_db(root.at("race/x.db"), "CREATE TABLE t(s); INSERT INTO t VALUES('INSIDE');");
  ASSERT_EQ(symlink(outside.path().c_str(), root.at("swap").c_str()), 0);
  int requests = 0, inside = 0;
  long swaps = 0;
  {
    name_swapper swapper(root.at("race"), root.at("swap"));
    const long long stop_at = plat_ticks_ms() + 3000;
    while (plat_ticks_ms() < stop_at) {
      const run_result r =
          run_plugin({"SQLITE_ALLOWED_ROOT=" + root.at(""),
                      "QUERY_STRING=action=query&db=" + uri_component(root.at("race/x.db")) +
                          "&sql=SELECT%20s%20FROM%20t"},
                     {}, run_limits{5000, 0});
      ++requests;
      EXPECT_EQ(r.out.find("OUTSIDE"), std::string::npos) << r.out;
      EXPECT_TRUE(one_complete_document(r.out)) << r.out;
      if (r.out.find("INSIDE") != std::string::npos) ++inside;
    }
    swaps = swapper.swaps();
  }
  EXPECT_GT(swaps, 0);
  EXPECT_GE(requests, 10);
  RecordProperty("requests", requests);
  RecordProperty("answered_inside", inside);
}

// Each case puts a FIFO where SQLite looks for a file; every request must
// answer one complete document well within the timeout instead of waiting
// for a writer that never comes.
TEST_F(FileAttack, FifoWhereAFileIsExpectedNeverBlocks) {
  root.make("rollback.db", "CREATE TABLE t(x); INSERT INTO t VALUES(1);");
  ASSERT_EQ(mkfifo(root.at("rollback.db-journal").c_str(), 0600), 0);
  root.make("wal.db", "PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES(1);");
  ASSERT_EQ(mkfifo(root.at("wal.db-wal").c_str(), 0600), 0);
  root.make("swapped.db", "CREATE TABLE t(x); INSERT INTO t VALUES(1);");
  ASSERT_EQ(mkfifo(root.at("pipe").c_str(), 0600), 0);

  const auto answers_in_time = [&](const std::string &query) {
    const run_result r = run_plugin({"SQLITE_ALLOWED_ROOT=" + root.at(""), "QUERY_STRING=" + query},
                                    {}, run_limits{5000, 0});
    EXPECT_FALSE(r.timed_out) << query;
    EXPECT_EQ(r.status, 0) << query;
    EXPECT_TRUE(one_complete_document(r.out)) << query << "\n" << r.out;
    return r.out;
  };
  for (const char *name : {"rollback.db", "wal.db"}) {
    const std::string db = uri_component(root.at(name));
    answers_in_time("action=query&db=" + db + "&sql=SELECT%20x%20FROM%20t");
    answers_in_time("action=schema&db=" + db);
  }
  // The database itself swapped for a FIFO while requests run.
  name_swapper swapper(root.at("swapped.db"), root.at("pipe"));
  for (int i = 0; i < 15; ++i) {
    answers_in_time("action=query&db=" + uri_component(root.at("swapped.db")) +
                    "&sql=SELECT%20x%20FROM%20t");
  }
}

// Header bytes 18 and 19 with byte 19 at 2 make SQLite read in WAL mode;
// with no writer such a database is read without a -wal, -shm or lock file
// appearing beside it.
TEST_F(FileAttack, NoSideFileAppearsWhateverTheHeaderSays) {
  const struct {
    const char *name;
    char byte18, byte19;
  } cases[] = {{"wal.db", 2, 2}, {"mixed.db", 1, 2}, {"newer.db", 3, 2}, {"rollback.db", 1, 1}};
  for (const auto &c : cases) {
    const std::string path = root.make(c.name, "CREATE TABLE t(x); INSERT INTO t VALUES(42);");
    std::string bytes = read_file(path);
    bytes[18] = c.byte18;
    bytes[19] = c.byte19;
    write_file(path, bytes);
  }
  const std::set<std::string> before = names_in(root.at(""));
  for (const auto &c : cases) {
    EXPECT_NE(root.query(root.at(c.name), "SELECT x FROM t").find("\"rows\":[[42]]"),
              std::string::npos)
        << c.name;
    EXPECT_NE(root.schema(root.at(c.name)).find("\"table_count\":1"), std::string::npos) << c.name;
    EXPECT_EQ(names_in(root.at("")), before) << c.name;
  }
}

// The files in `dir` with their bytes.
std::map<std::string, std::string> contents_of(const std::string &dir) {
  std::map<std::string, std::string> files;
  for (const std::string &name : names_in(dir)) {
    if (name != "." && name != "..") files[name] = read_file(dir + "/" + name);
  }
  return files;
}

// A program that wrote a WAL database and died leaves its log (and often
// its -shm) beside it. Reading such a database creates, changes and
// removes nothing beside it, whatever lies there, and still shows the rows
// committed in the log. A database another program has open shares its
// log as usual.
TEST_F(FileAttack, ALeftoverLogIsReadWithoutTouchingAnyFileBesideIt) {
  // The files of a live writer with one row in the main file and one only
  // in its log, copied while it runs: the copies belong to nobody.
  const std::string live = root.at("live.db");
  sqlite3 *w = open_writer(live);
  ASSERT_EQ(sqlite3_exec(w,
                         "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; CREATE TABLE t(x);"
                         "INSERT INTO t VALUES(1); PRAGMA wal_checkpoint(TRUNCATE);"
                         "INSERT INTO t VALUES(2);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const std::string db = read_file(live), wal = read_file(live + "-wal");
  const std::string shm = read_file(live + "-shm");
  ASSERT_FALSE(wal.empty());
  std::string rollback_header = db;
  rollback_header[18] = rollback_header[19] = 1;
  const struct {
    const char *name;
    std::map<std::string, std::string> files;
    const char *rows;
  } cases[] = {
      {"log alone", {{"x.db", db}, {"x.db-wal", wal}}, "[[1],[2]]"},
      {"log and index", {{"x.db", db}, {"x.db-wal", wal}, {"x.db-shm", shm}}, "[[1],[2]]"},
      {"rollback header and log", {{"x.db", rollback_header}, {"x.db-wal", wal}}, "[[1],[2]]"},
      {"empty log", {{"x.db", db}, {"x.db-wal", ""}}, "[[1]]"},
  };
  int n = 0;
  for (const auto &c : cases) {
    const std::string dir = root.at("case" + std::to_string(++n));
    make_dirs(dir);
    for (const auto &file : c.files) write_file(dir + "/" + file.first, file.second);
    const std::string path = dir + "/x.db";
    const std::string rows = "\"rows\":" + std::string(c.rows) + ",";
    EXPECT_NE(root.query(path, "SELECT x FROM t ORDER BY x").find(rows), std::string::npos)
        << c.name;
    EXPECT_NE(root.schema(path).find("\"table_count\":1"), std::string::npos) << c.name;
    EXPECT_EQ(contents_of(dir), c.files) << c.name;
  }
  // The writer still has it open: its log is shared, rows and all.
  EXPECT_NE(root.query(live, "SELECT x FROM t ORDER BY x").find("\"rows\":[[1],[2]],"),
            std::string::npos);
  sqlite3_close(w);
}

// A folder whose name would add URI parameters, reached through a link
// (the requested text itself may not hold "?" or "#"): the path still names
// the file in it, and nothing is created beside it.
TEST_F(FileAttack, PathOfAnIdleWalDatabaseAlwaysNamesItself) {
  const char *const folders[] = {"q?vfs=unix-dotfile&x=", "h#immutable=0", "p%3Fmode=rwc"};
  int n = 0;
  for (const char *folder : folders) {
    const std::string dir = root.at(folder);
    make_dirs(dir);
    make_db(dir + "/w.db", "PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES(" +
                               std::to_string(++n) + ");");
    const std::string link = root.at("link" + std::to_string(n));
    ASSERT_EQ(symlink(dir.c_str(), link.c_str()), 0);
    const std::set<std::string> before = names_in(dir);
    EXPECT_NE(root.query(link + "/w.db", "SELECT x FROM t")
                  .find("\"rows\":[[" + std::to_string(n) + "]]"),
              std::string::npos)
        << folder;
    EXPECT_EQ(names_in(dir), before) << folder;
  }
}

}  // namespace
