// Shared helpers for the tests: running the built executable with a
// controlled environment, scratch directories and fixture databases.
#pragma once

#include <string>
#include <vector>

struct run_result {
  std::string out;           // everything written to standard output (see run_limits)
  std::string err;           // everything written to standard error
  int status = -1;           // exit status, or -1 when the process did not exit
  long long out_bytes = 0;   // bytes written to standard output in all
  long long elapsed_ms = 0;  // from the start of the process to its end
  bool timed_out = false;    // killed after run_limits::timeout_ms
};

/// Bounds on one run of the plug-in.
struct run_limits {
  long long timeout_ms = 0;  // 0: wait for the end; else kill the process then
  // With a value, `out` keeps only the first and the last `keep_ends` bytes
  // of a larger output, joined; `out_bytes` still counts all of it.
  std::size_t keep_ends = 0;
};

/// What the plug-in finds on its standard input.
struct stdin_feed {
  enum kind_t {
    DEV_NULL,         // /dev/null: ends at once
    BYTES,            // a pipe that carries `bytes`, then ends
    BYTES_HELD_OPEN,  // a pipe that carries `bytes` and stays open until the run ends
    CLOSED,           // no standard input at all
    TERMINAL,         // a terminal nobody types into
  };
  kind_t kind = DEV_NULL;
  std::string bytes;  // at most 64 KiB, so that the pipe takes it at once
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

/// A fresh, empty directory that is removed with everything in it when the
/// object goes away.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir &) = delete;
  scratch_dir &operator=(const scratch_dir &) = delete;
  const std::string &path() const { return path_; }
  /// `path()` + "/" + `name`.
  std::string at(const std::string &name) const { return path_ + "/" + name; }

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

/// Creates the database `path` by running `sql` on it (read-write).
void make_db(const std::string &path, const std::string &sql);
