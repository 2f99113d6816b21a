// The path rules and their resolution against a small fixed tree with the
// awkward kinds of entry: links in and out of the root, a folder and a FIFO
// with database names, a hard link, a file without a database name.
// Input: one byte choosing the folder the path starts from, then the path.
// Whatever the path, an accepted one must be a regular file whose real
// location lies inside a root, and the lexical helpers must keep their
// promises.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "db_guard.h"
#include "fuzz_support.h"
#include "platform/platform.h"

namespace {

struct fixed_tree {
  std::string base;     // real location of the scratch folder
  std::string root;     // SQLITE_ALLOWED_ROOT
  std::string home;     // HOME
  std::string outside;  // in no root
};

void make_link(const std::string &target, const std::string &link) {
  if (symlink(target.c_str(), link.c_str()) != 0) fail("symlink", link);
}

fixed_tree build_tree() {
  fixed_tree tree;
  char real[PATH_CAP];
  const std::string scratch = scratch_folder("paths");
  if (plat_realpath(real, scratch.c_str(), sizeof real) == nullptr) fail("realpath", scratch);
  tree.base = real;
  tree.root = tree.base + "/root";
  tree.home = tree.base + "/home";
  tree.outside = tree.base + "/outside";
  for (const std::string &dir : {tree.root, tree.home, tree.outside, tree.root + "/sub",
                                 tree.root + "/sub/deeper", tree.root + "/dir.db"})
    if (mkdir(dir.c_str(), 0755) != 0) fail("mkdir", dir);
  const char *table = "CREATE TABLE t(x); INSERT INTO t VALUES(1);";
  for (const std::string &db :
       {tree.root + "/a.db", tree.root + "/sub/b.sqlite", tree.root + "/sub/deeper/c.db3",
        tree.home + "/h.db", tree.outside + "/x.db", tree.outside + "/hard.db"})
    make_database(db, table);
  write_bytes(tree.root + "/notes.txt", reinterpret_cast<const uint8_t *>("x"), 1);
  if (mkfifo((tree.root + "/fifo.db").c_str(), 0644) != 0) fail("mkfifo", "fifo.db");
  make_link("a.db", tree.root + "/in_link.db");
  make_link("../outside/x.db", tree.root + "/out_link.db");
  make_link("../outside", tree.root + "/out_dir");
  make_link(tree.home, tree.root + "/home_dir");
  if (link((tree.outside + "/hard.db").c_str(), (tree.root + "/hard.db").c_str()) != 0)
    fail("link", "hard.db");
  setenv("SQLITE_ALLOWED_ROOT", tree.root.c_str(), 1);
  setenv("HOME", tree.home.c_str(), 1);
  unsetenv("USERPROFILE");
  return tree;
}

const fixed_tree &tree() {
  static const fixed_tree t = build_tree();
  return t;
}

bool starts_with(const std::string &s, const std::string &prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool inside(const std::string &path, const std::string &dir) {
  return path == dir || starts_with(path, dir + "/");
}

void check_accepted(const std::string &requested, const char *out) {
  const std::string path = out;
  char real[PATH_CAP];
  if (plat_realpath(real, out, sizeof real) == nullptr || path != real)
    fail("accepted path is not its own real location", requested + " -> " + path);
  if (!inside(path, tree().root) && !inside(path, tree().home))
    fail("accepted path outside the roots", requested + " -> " + path);
  plat_status st{};
  if (!plat_stat(out, &st) || st.kind != PLAT_FILE)
    fail("accepted path is not a regular file", requested + " -> " + path);
  if (!real_location_inside(tree().root.c_str(), out) &&
      !real_location_inside(tree().home.c_str(), out))
    fail("accepted path fails the real-location test", requested + " -> " + path);
}

void check_fullpath(const std::string &path) {
  char once[PATH_CAP];
  char twice[PATH_CAP];
  if (plat_fullpath(once, path.c_str(), sizeof once) == nullptr) return;
  const std::string canonical = once;
  if (canonical.empty() || canonical[0] != '/') fail("canonical path not absolute", canonical);
  for (const char *bad : {"//", "/./", "/../"})
    if (canonical.find(bad) != std::string::npos) fail("canonical path keeps a step", canonical);
  const std::size_t n = canonical.size();
  if (n > 1 && (canonical.back() == '/' || canonical.compare(n - 2, 2, "/.") == 0 ||
                (n >= 3 && canonical.compare(n - 3, 3, "/..") == 0)))
    fail("canonical path ends in a step", canonical);
  if (plat_fullpath(twice, once, sizeof twice) == nullptr || canonical != twice)
    fail("canonical form is not stable", canonical);
}

void check_root_contains(const std::string &path) {
  const bool contained = root_contains(tree().root.c_str(), path.c_str());
  if (contained != inside(path, tree().root)) fail("root_contains disagrees", path);
  if (!root_contains("/", ("/" + path).c_str())) fail("root / must contain every path", path);
}

void check_quote_ident(const std::string &name) {
  char out[IDENT_CAP];
  quote_ident(name.c_str(), out);
  const std::string quoted = out;
  if (quoted.size() < 2 || quoted.size() >= IDENT_CAP || quoted.front() != '"' ||
      quoted.back() != '"')
    fail("quote_ident frame", quoted);
  std::string unquoted;
  for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
    if (quoted[i] == '"' && quoted[++i] != '"') fail("quote_ident lone quote", quoted);
    unquoted.push_back(quoted[i]);
  }
  if (name.compare(0, unquoted.size(), unquoted) != 0) fail("quote_ident changed the name", quoted);
  if (unquoted.size() < name.size() && quoted.size() < IDENT_CAP - 3)
    fail("quote_ident cut a name that fits", quoted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  const std::string tail = text.c_str();  // a C string ends at its first NUL
  const std::string starts[] = {"", tree().root + "/", tree().home + "/", tree().outside + "/",
                                tree().base + "/"};
  const std::string requested = starts[data[0] % 5] + tail;

  char out[PATH_CAP];
  std::memset(out, 'X', sizeof out);
  const int rc = resolve_db_path(requested.c_str(), out);
  if (rc < -1 || rc > 1) fail("resolve_db_path result", std::to_string(rc));
  if (rc == 1) check_accepted(requested, out);

  check_fullpath(requested);
  check_fullpath("/" + tail);
  check_root_contains(requested);
  (void)has_db_extension(tail.c_str());
  check_quote_ident(tail);
  return 0;
}
