// Shared helpers for the tests: running the built executable with a
// controlled environment, scratch directories and fixture databases.
#pragma once

struct sqlite3;

#include <set>
#include <string>
#include <vector>

struct run_result {
  std::string out;           // everything written to standard output (see run_limits)
  std::string err;           // everything written to standard error
  int status = -1;           // exit status, or -1 when the process did not exit
  long long out_bytes = 0;   // bytes written to standard output in all
  long long elapsed_ms = 0;  // from the start of the process to its end
  bool timed_out = false;    // killed after run_limits::timeout_ms
  long long max_rss_kib = -1;  // peak resident memory of the process; -1 where unknown
};

/// Bounds on one run of the plug-in.
struct run_limits {
  long long timeout_ms = 0;  // 0: wait for the end; else kill the process then
  // With a value, `out` keeps only the first and the last `keep_ends` bytes
  // of a larger output, joined; `out_bytes` still counts all of it.
  std::size_t keep_ends = 0;
  // With a value (POSIX only), the process is stopped (SIGSTOP) for all but
  // `running_ms` of every `cycle_ms`: a machine that many times slower.
  int running_ms = 0;
  int cycle_ms = 0;
  // A host that stops reading: standard output is a pipe that nobody reads
  // while the process runs; `out` is empty.
  bool never_read_out = false;
};

/// What the plug-in finds on its standard input.
struct stdin_feed {
  enum kind_t {
    DEV_NULL,         // /dev/null: ends at once
    BYTES,            // a pipe that carries `bytes`, then ends
    BYTES_HELD_OPEN,  // a pipe that carries `bytes` and stays open until the run ends
    BYTES_LATE,       // a pipe that stays empty for `late_ms`, then carries `bytes` and ends
    CLOSED,           // no standard input at all
    TERMINAL,         // a terminal nobody types into
  };
  kind_t kind = DEV_NULL;
  std::string bytes;  // at most 64 KiB, so that the pipe takes it at once
  int late_ms = 0;    // BYTES_LATE: how long the pipe stays empty
};

/// Runs the plug-in with exactly `env` as its environment ("NAME=value"
/// entries) and `args` as its arguments, within `limits`, with `input` as
/// standard input.
run_result run_plugin(const std::vector<std::string> &env,
                      const std::vector<std::string> &args = {}, const run_limits &limits = {},
                      const stdin_feed &input = {});

/// The JSON header block that starts every JSON response. Inline, so that
/// it is initialised before the tests' own constants built from it.
inline const std::string JSON_HEAD =
    "Content-Type: application/json; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";

/// The platform's name that the info action must report.
extern const char *const EXPECTED_PLATFORM;

/// The separator the program writes into the paths it reports: "/" on
/// POSIX, "\\" on Windows.
char path_separator();

/// `path` with the separator "/" written as the program's own separator.
std::string native_path(const std::string &path);

/// `text` as json_str writes it when it holds no byte that needs more than
/// a backslash doubled or a quote escaped (paths).
std::string json_text(const std::string &text);

/// True when the tests run as a Windows program under Wine, which cannot
/// show some of what a real Windows does (symbolic links, for one).
bool under_wine();

/// Sets or removes one variable of this process's environment.
void set_env(const std::string &name, const std::string &value);
void unset_env(const std::string &name);

/// Gives the file `target` a second name, `link`.
void make_hardlink(const std::string &target, const std::string &link);

/// Makes `link` a symbolic link to `target`. False when this system does
/// not let the tests make one (Wine, or Windows without the right).
bool make_symlink(const std::string &target, const std::string &link);

/// Sets the modification time of `path` (seconds since 1970 UTC).
void set_mtime(const std::string &path, long long secs);

/// Makes `path` exactly `bytes` long, without writing the bytes.
void set_size(const std::string &path, long long bytes);

/// The names in the directory `path`, "." and ".." included.
std::set<std::string> list_names(const std::string &path);

/// Makes the symbolic link in a test, or skips the test where the system
/// lets the tests make none (Wine); on POSIX a failure fails the test.
#define MAKE_SYMLINK_OR_SKIP(target, link)                                                    \
  do {                                                                                        \
    if (!make_symlink(target, link)) {                                                        \
      if (!under_wine()) FAIL() << "cannot make the symbolic link " << (link);                \
      GTEST_SKIP() << "Wine makes no symbolic link: CreateSymbolicLinkW answers success and " \
                      "creates nothing; a real Windows machine runs this test";               \
    }                                                                                         \
  } while (0)

/// Skips a test that needs the real location of a path over 260
/// characters, which Wine cannot give.
#define SKIP_LONG_REAL_PATHS_UNDER_WINE()                                                   \
  do {                                                                                      \
    if (under_wine()) {                                                                     \
      GTEST_SKIP() << "Wine's GetFinalPathNameByHandleW fails for paths over 260 "          \
                      "characters, so the guard refuses them; a real Windows machine runs " \
                      "this test";                                                          \
    }                                                                                       \
  } while (0)

/// The current working directory, and a change of it.
std::string current_dir();
void change_dir(const std::string &path);

/// A fresh, empty directory that is removed with everything in it when the
/// object goes away.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir &) = delete;
  scratch_dir &operator=(const scratch_dir &) = delete;
  const std::string &path() const { return path_; }
  /// `path()`, the separator and `name`, with "/" in `name` written as the
  /// separator.
  std::string at(const std::string &name) const {
    return path_ + path_separator() + native_path(name);
  }

 private:
  std::string path_;
};

/// `text` as the page puts it into a URL (encodeURIComponent): letters,
/// digits and "-_.!~*'()" stay, every other byte becomes "%HH".
std::string uri_component(const std::string &text);

/// Writes `bytes` to `path`, creating or replacing the file.
void write_file(const std::string &path, const std::string &bytes);

/// The whole content of `path`; empty when it cannot be read.
std::string read_file(const std::string &path);

/// Creates the directory `path` and any missing parents.
void make_dirs(const std::string &path);

/// Opens (creating it when missing) the database `path` for writing,
/// through the library's own file layer. Throws when it cannot.
sqlite3 *open_writer(const std::string &path);

/// Creates the database `path` by running `sql` on it (read-write).
void make_db(const std::string &path, const std::string &sql);
