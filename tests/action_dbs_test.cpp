// The dbs action, black-box: each test builds a tree of empty *.db files,
// runs the program on it and reads the document it answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"

namespace {

struct root_report {
  std::string label, path;
  bool exists;
  int dbs, scanned;
  bool truncated;
};

struct dbs_answer {
  std::string body;  // the document, header block taken off
  std::vector<root_report> roots;
  std::vector<std::string> paths;  // listed database paths, in order
  int count, scanned;
};

// The top-level members between the roots and the databases.
struct totals {
  int count = -1, scanned = -1, budget = -1;
};

totals totals_of(const std::string &body) {
  std::smatch m;
  totals t;
  if (std::regex_search(body, m,
                        std::regex("\\],\"count\":([0-9]+),\"scanned_entries\":([0-9]+),"
                                   "\"max_depth\":4,\"max_scan_entries\":([0-9]+),\"dbs\":\\["))) {
    t = {std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3])};
  }
  return t;
}

// Runs the action with exactly `env` (QUERY_STRING added) and takes the
// answer apart. Every run must be one clean JSON response.
dbs_answer run_dbs(std::vector<std::string> env) {
  env.push_back("QUERY_STRING=action=dbs");
  const run_result r = run_plugin(env);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.compare(0, JSON_HEAD.size(), JSON_HEAD), 0);
  dbs_answer a;
  a.body = r.out.substr(std::min(r.out.size(), JSON_HEAD.size()));
  const std::regex root_re(
      "\\{\"label\":\"([^\"]*)\",\"path\":\"([^\"]*)\",\"exists\":(true|false),\"dbs\":([0-9]+),"
      "\"scanned_entries\":([0-9]+),\"truncated\":(true|false)\\}");
  for (std::sregex_iterator i(a.body.begin(), a.body.end(), root_re), end; i != end; ++i) {
    const std::smatch &m = *i;
    a.roots.push_back(
        {m[1], m[2], m[3] == "true", std::stoi(m[4]), std::stoi(m[5]), m[6] == "true"});
  }
  const std::regex db_re("\\{\"path\":\"((?:[^\"\\\\]|\\\\.)*)\",\"root\":");
  for (std::sregex_iterator i(a.body.begin(), a.body.end(), db_re), end; i != end; ++i) {
    a.paths.push_back((*i)[1]);
  }
  const totals t = totals_of(a.body);
  a.count = t.count;
  a.scanned = t.scanned;
  return a;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

void touch(const std::string &path) { write_file(path, ""); }

void make_files(const std::string &dir, const std::string &stem, int n, const char *ext) {
  make_dirs(dir);
  for (int i = 0; i < n; ++i) touch(dir + "/" + stem + std::to_string(i) + ext);
}

// What the schema action answers for a path taken from a dbs document.
std::string schema_answer(const std::vector<std::string> &roots_env, const std::string &path) {
  std::vector<std::string> env = roots_env;
  env.push_back("QUERY_STRING=action=schema&db=" + uri_component(path));
  return run_plugin(env).out;
}

bool schema_accepts(const std::vector<std::string> &roots_env, const std::string &path) {
  return schema_answer(roots_env, path).find("{\"ok\":true,\"action\":\"schema\"") !=
         std::string::npos;
}

TEST(DbsDocument, NoRootsGiveTheEmptyDocument) {
  const dbs_answer a = run_dbs({});
  EXPECT_EQ(a.body,
            "{\"ok\":true,\"action\":\"dbs\",\"plugin\":\"plugin_sqlite\",\"roots\":[],\"count\":0,"
            "\"scanned_entries\":0,\"max_depth\":4,\"max_scan_entries\":60000,\"dbs\":[],"
            "\"readonly\":true}\n");
}

TEST(DbsDocument, OneRootWithOneDatabaseIsByteExact) {
  scratch_dir root;
  write_file(root.at("app.db"), std::string(8192, '\0'));
  const timespec times[2] = {{1714555800, 0}, {1714555800, 0}};  // 2024-05-01T09:30:00Z
  ASSERT_EQ(utimensat(AT_FDCWD, root.at("app.db").c_str(), times, 0), 0);

  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + root.path()});
  EXPECT_EQ(a.body,
            "{\"ok\":true,\"action\":\"dbs\",\"plugin\":\"plugin_sqlite\",\"roots\":[{\"label\":"
            "\"allowed\",\"path\":\"" +
                root.path() +
                "\",\"exists\":true,\"dbs\":1,\"scanned_entries\":1,\"truncated\":false}],"
                "\"count\":1,\"scanned_entries\":1,\"max_depth\":4,\"max_scan_entries\":60000,"
                "\"dbs\":[{\"path\":\"" +
                root.at("app.db") +
                "\",\"root\":\"allowed\",\"bytes\":8192,\"mtime\":\"2024-05-01T09:30:00Z\"}],"
                "\"readonly\":true}\n");
}

TEST(DbsBudget, ParsedOnceFromTheEnvironment) {
  const struct {
    const char *env;  // null: the variable is absent
    int budget;
  } cases[] = {
      {nullptr, 60000}, {"", 60000},    {"0", 60000},           {"-5", 60000},
      {"60001", 60000}, {"abc", 60000}, {"99999999999", 60000}, {"500", 500},
      {"12abc", 12},    {" 42", 42},    {"60000", 60000},       {"1", 1},
  };
  for (const auto &c : cases) {
    std::vector<std::string> env;
    if (c.env) env.push_back(std::string("SQLITE_SCAN_BUDGET=") + c.env);
    EXPECT_EQ(totals_of(run_dbs(env).body).budget, c.budget) << (c.env ? c.env : "(absent)");
  }
}

TEST(DbsBudget, EntryAtWhichTheWalkStopsIsCounted) {
  const struct {
    int files, scanned;
    bool truncated;
  } cases[] = {{5, 4, true}, {3, 3, false}};
  for (const auto &c : cases) {
    scratch_dir root;
    make_files(root.path(), "f", c.files, ".txt");
    const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + root.path(), "SQLITE_SCAN_BUDGET=3"});
    ASSERT_EQ(a.roots.size(), 1u);
    EXPECT_EQ(a.roots[0].scanned, c.scanned) << c.files << " files";
    EXPECT_EQ(a.roots[0].truncated, c.truncated) << c.files << " files";
    EXPECT_EQ(a.scanned, c.scanned);
  }
}

TEST(DbsWalk, FourLevelsDownIsFoundFiveIsNotListed) {
  scratch_dir root;
  make_dirs(root.at("a/b/c/d/e"));
  touch(root.at("a/b/c/d/four.db"));
  touch(root.at("a/b/c/d/e/five.db"));
  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + root.path()});
  EXPECT_EQ(a.paths, std::vector<std::string>{root.at("a/b/c/d/four.db")});
  // a, b, c, d, four.db and e: the level-five directory is counted in its
  // parent but never listed, so five.db is not counted.
  EXPECT_EQ(a.scanned, 6);
}

TEST(DbsWalk, PassedOverNamesAreNeitherEnteredNorCounted) {
  scratch_dir root;
  for (const char *name :
       {".git", "node_modules", "__pycache__", "venv", ".venv", "bin", "obj", "target"}) {
    make_dirs(root.at(name));
    touch(root.at(std::string(name) + "/x.db"));
  }
  make_dirs(root.at("Bin"));
  touch(root.at("Bin/x.db"));
  make_dirs(root.at("Node_Modules"));
  touch(root.at("Node_Modules/x.db"));
  make_dirs(root.at("files"));
  touch(root.at("files/target"));  // a file with a passed-over name
  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + root.path()});
  EXPECT_EQ(sorted(a.paths),
            (std::vector<std::string>{root.at("Bin/x.db"), root.at("Node_Modules/x.db")}));
  EXPECT_EQ(a.scanned, 5);  // Bin, Node_Modules, files and the two x.db
}

TEST(DbsWalk, ExtensionsDecideIgnoringCase) {
  scratch_dir root;
  for (const char *name : {"App.SQLite", "x.DB3", "a.db", "b.sqlite3", "x.db-wal", "x.db-shm",
                           "x.dbf", "db", "notes.txt"})
    touch(root.at(name));
  make_dirs(root.at("data.db"));  // a directory is entered, not reported
  touch(root.at("data.db/inner.db"));
  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + root.path()});
  EXPECT_EQ(sorted(a.paths), sorted({root.at("App.SQLite"), root.at("x.DB3"), root.at("a.db"),
                                     root.at("b.sqlite3"), root.at("data.db/inner.db")}));
  EXPECT_EQ(a.count, 5);
}

TEST(DbsLimits, TwoHundredOverTwoRootsTruncatesBoth) {
  scratch_dir first, second;
  make_files(first.path(), "a", 201, ".db");
  make_files(second.path(), "b", 4, ".db");
  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + first.path(), "HOME=" + second.path()});
  EXPECT_EQ(a.count, 200);
  EXPECT_EQ(a.paths.size(), 200u);
  ASSERT_EQ(a.roots.size(), 2u);
  EXPECT_EQ(a.roots[0].dbs, 200);
  EXPECT_EQ(a.roots[0].scanned, 201);  // the 201st file is counted, not examined
  EXPECT_TRUE(a.roots[0].truncated);
  // Never walked, so it may hold more than it shows.
  EXPECT_TRUE(a.roots[1].exists);
  EXPECT_EQ(a.roots[1].dbs, 0);
  EXPECT_EQ(a.roots[1].scanned, 0);
  EXPECT_TRUE(a.roots[1].truncated);
  EXPECT_EQ(a.scanned, 201);
}

TEST(DbsLimits, ExactlyTwoHundredLeaveNothingCutInTheirRoot) {
  scratch_dir first, second;
  make_files(first.path(), "a", 200, ".db");
  touch(second.at("b.db"));
  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + first.path(), "HOME=" + second.path()});
  EXPECT_EQ(a.count, 200);
  ASSERT_EQ(a.roots.size(), 2u);
  EXPECT_EQ(a.roots[0].dbs, 200);
  EXPECT_EQ(a.roots[0].scanned, 200);
  EXPECT_FALSE(a.roots[0].truncated);
  EXPECT_EQ(a.roots[1].dbs, 0);
  EXPECT_TRUE(a.roots[1].truncated);  // exists, but was never looked at
}

TEST(DbsRoots, StatisticsOfTwoWalkedRootsAddUp) {
  scratch_dir first, second;
  make_files(first.at("sub"), "a", 3, ".db");
  make_files(second.path(), "b", 2, ".db");
  make_files(second.path(), "n", 4, ".txt");
  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + first.path(), "HOME=" + second.path()});
  ASSERT_EQ(a.roots.size(), 2u);
  EXPECT_EQ(a.roots[0].dbs, 3);
  EXPECT_EQ(a.roots[0].scanned, 4);
  EXPECT_EQ(a.roots[1].dbs, 2);
  EXPECT_EQ(a.roots[1].scanned, 6);
  EXPECT_EQ(a.count, 5);
  EXPECT_EQ(a.scanned, 10);
}

TEST(DbsRoots, MissingRootIsListedAndNotWalked) {
  scratch_dir home;
  touch(home.at("h.db"));
  const std::string gone = home.at("gone");
  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + gone, "HOME=" + home.path()});
  EXPECT_NE(a.body.find("\"roots\":[{\"label\":\"allowed\",\"path\":\"" + gone +
                        "\",\"exists\":false,\"dbs\":0,\"scanned_entries\":0,\"truncated\":false},"
                        "{\"label\":\"home\""),
            std::string::npos)
      << a.body;
  EXPECT_EQ(a.paths, std::vector<std::string>{home.at("h.db")});
}

TEST(DbsRoots, BothRootsNamingOneDirectoryListEachDatabaseOncePerRoot) {
  scratch_dir root;
  touch(root.at("x.db"));
  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + root.path(), "HOME=" + root.path()});
  EXPECT_NE(a.body.find("\"dbs\":[{\"path\":\"" + root.at("x.db") + "\",\"root\":\"allowed\""),
            std::string::npos);
  EXPECT_NE(a.body.find("{\"path\":\"" + root.at("x.db") + "\",\"root\":\"home\""),
            std::string::npos);
  EXPECT_EQ(a.count, 2);
}

TEST(DbsRoots, TrailingSlashOfARootStaysInTheListedPaths) {
  scratch_dir root;
  make_dirs(root.at("sub"));
  touch(root.at("sub/app.db"));
  const std::vector<std::string> env = {"SQLITE_ALLOWED_ROOT=" + root.path() + "/"};
  const dbs_answer a = run_dbs(env);
  ASSERT_EQ(a.roots.size(), 1u);
  EXPECT_EQ(a.roots[0].path, root.path() + "/");
  EXPECT_EQ(a.paths, std::vector<std::string>{root.path() + "//sub/app.db"});
  EXPECT_TRUE(schema_accepts(env, a.paths[0]));
}

// Every listed path is one the schema action opens, and the files that it
// would refuse are left out rather than listed.
TEST(DbsGuard, ListsExactlyThePathsTheSchemaActionAccepts) {
  scratch_dir root, outside;
  touch(outside.at("out.db"));
  touch(root.at("plain.db"));
  make_dirs(root.at("real"));
  touch(root.at("real/in.db"));
  ASSERT_EQ(symlink(outside.at("out.db").c_str(), root.at("link_out.db").c_str()), 0);
  ASSERT_EQ(symlink(outside.path().c_str(), root.at("dir_out").c_str()), 0);
  ASSERT_EQ(symlink(root.at("plain.db").c_str(), root.at("link_in.db").c_str()), 0);
  ASSERT_EQ(symlink(root.at("real").c_str(), root.at("dir_in").c_str()), 0);
  // Names the path guard refuses as text, or that a client cannot send
  // back intact: json_str drops control bytes, a JSON reader replaces
  // bytes that are not UTF-8.
  for (const char *name : {"q?.db", "h#.db", ".sqlite", "c\x01.db", "bad\xff.db"})
    touch(root.at(name));
  touch(root.at("caf\xc3\xa9.db"));
  touch(root.at("back\\slash.db"));

  const std::vector<std::string> env = {"SQLITE_ALLOWED_ROOT=" + root.path()};
  const dbs_answer a = run_dbs(env);
  EXPECT_EQ(sorted(a.paths),
            sorted({root.at("plain.db"), root.at("real/in.db"), root.at("link_in.db"),
                    root.at("dir_in/in.db"), root.at("caf\xc3\xa9.db"),
                    root.path() + "/back\\\\slash.db"}));
  for (std::string path : a.paths) {
    const std::size_t escaped = path.find("\\\\");
    if (escaped != std::string::npos) path.erase(escaped, 1);  // undo json_str's doubling
    EXPECT_TRUE(schema_accepts(env, path)) << path;
  }
  EXPECT_FALSE(schema_accepts(env, root.at("link_out.db")));  // what listing it would lead to
}

TEST(DbsGuard, PathsMustFitTheDbFieldOnceUrlEncoded) {
  scratch_dir root;
  const std::string dir = root.at(std::string(120, 'd') + "/" + std::string(120, 'e'));
  make_dirs(dir);
  // Letters and "." stay as they are in the URL, each "/" takes three bytes.
  const std::size_t base = uri_component(dir + "/").size();
  ASSERT_LT(base, 511u - 8);
  const std::string fits = dir + "/" + std::string(511 - base - 3, 'f') + ".db";
  const std::string too_long = dir + "/" + std::string(512 - base - 3, 'g') + ".db";
  ASSERT_EQ(uri_component(fits).size(), 511u);
  touch(fits);
  touch(too_long);
  const std::vector<std::string> env = {"SQLITE_ALLOWED_ROOT=" + root.path()};
  const dbs_answer a = run_dbs(env);
  EXPECT_EQ(a.paths, std::vector<std::string>{fits});
  EXPECT_TRUE(schema_accepts(env, fits));
  EXPECT_FALSE(schema_accepts(env, too_long));  // the field cuts it
}

TEST(DbsGuard, RootThatAdmitsNothingListsNothing) {
  scratch_dir root, outside;
  touch(root.at("x.db"));
  touch(outside.at("y.db"));
  // A root written in another form than the canonical one holds no path the
  // guard accepts; so does one reached through a link out of an earlier
  // root, which decides for every path it contains.
  const std::vector<std::vector<std::string>> configs = {
      {"SQLITE_ALLOWED_ROOT=" + root.path() + "/."},
      {"SQLITE_ALLOWED_ROOT=" + root.path() + "//."},
      {"SQLITE_ALLOWED_ROOT=" + root.path(), "HOME=" + root.path() + "/away"},
  };
  ASSERT_EQ(symlink(outside.path().c_str(), root.at("away").c_str()), 0);
  for (const auto &env : configs) {
    const dbs_answer a = run_dbs(env);
    const bool via_link = env.size() == 2;
    for (const std::string &path : a.paths) {
      EXPECT_TRUE(schema_accepts(env, path)) << path;
      EXPECT_NE(path, root.path() + "/away/y.db");
    }
    EXPECT_EQ(a.count, via_link ? 1 : 0) << env[0];  // only the allowed root's x.db
    EXPECT_GE(a.scanned, 1);                         // the walk itself still ran
  }
}

TEST(DbsGuard, RelativeRootListsNoPathThatOpensAnotherFile) {
  scratch_dir base;
  make_dirs(base.at("rel"));
  make_dirs(base.at("home/rel"));
  touch(base.at("rel/x.db"));
  touch(base.at("home/rel/x.db"));  // where the guard takes "rel/x.db" to be
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(base.path().c_str()), 0);  // the walk starts from here
  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=rel", "HOME=" + base.at("home")});
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_EQ(a.roots.size(), 2u);
  EXPECT_TRUE(a.roots[0].exists);
  EXPECT_EQ(a.roots[0].scanned, 1);
  EXPECT_EQ(a.paths, std::vector<std::string>{base.at("home/rel/x.db")});
}

}  // namespace

namespace {

// The real location of a fresh scratch directory, so that expected paths
// match what the walk builds.
std::string real_path_of(const scratch_dir &dir) {
  char real[4096];
  return plat_realpath(real, dir.path().c_str(), sizeof real) ? real : dir.path();
}

TEST(DbsLinks, FollowedOnlyInsideTheRootAndNeverRoundALoop) {
  scratch_dir root_dir, outside_dir;
  const std::string root = real_path_of(root_dir);
  make_files(outside_dir.path(), "outside", 3, ".db");
  make_dirs(root + "/in");
  touch(root + "/in/a.db");
  const struct {
    std::string target, link;
  } links[] = {
      {outside_dir.path(), root + "/out"},  // a folder outside: only its own entry counts
      {"/", root + "/slash"},               // the whole file system: likewise
      {root + "/in", root + "/again"},      // a folder inside: walked under this name too
      {root + "/in", root + "/in/loop"},    // back to a folder being listed: not walked
  };
  for (const auto &l : links) ASSERT_EQ(symlink(l.target.c_str(), l.link.c_str()), 0) << l.link;

  const dbs_answer a = run_dbs({"SQLITE_ALLOWED_ROOT=" + root});
  EXPECT_EQ(sorted(a.paths), sorted({root + "/again/a.db", root + "/in/a.db"}));
  // Level 0: in, out, slash, again; in/ and again/: a.db and loop each.
  EXPECT_EQ(a.scanned, 8) << a.body;
}

}  // namespace
