// A whole request served in-process: the fields, the dispatch and the
// action, against a fixture database in the allowed root. Whatever the
// request, the output must be one complete response.
// Input: one byte choosing where the body comes from (none, a body file,
// standard input with its exact length, standard input with a length given
// in the input), the query string, a NUL, [the length text, a NUL,] the
// body.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "platform/platform.h"
#include "serve.h"

namespace {

enum body_source { NO_BODY, BODY_FILE, STDIN_EXACT, STDIN_ANNOUNCED };

const char *const FIXTURE_SQL =
    "CREATE TABLE t(x INTEGER PRIMARY KEY, name TEXT, b BLOB, r REAL);"
    "INSERT INTO t VALUES(1, 'one', x'00ff10', 1.5), (2, 'zwei \xc3\xa9\"\\', NULL, -0.0),"
    "  (9223372036854775807, NULL, zeroblob(70), 1e308), (-3, 'tab\tnl\n', x'', NULL);"
    "CREATE INDEX t_name ON t(name);"
    "CREATE VIEW v AS SELECT name, r * 2 AS twice FROM t;"
    "CREATE TABLE kv(k TEXT PRIMARY KEY, v) WITHOUT ROWID;"
    "INSERT INTO kv VALUES('a', 1), ('b', 'two'), ('c', x'03');";

std::string &body_path() {
  static std::string path;
  return path;
}

void set_up_root() {
  const std::string root = scratch_folder("request");
  make_database(root + "/t.db", FIXTURE_SQL);
  body_path() = scratch_folder("request_body") + "/body";
  setenv("SQLITE_ALLOWED_ROOT", root.c_str(), 1);
  setenv("HOME", root.c_str(), 1);  // relative paths such as "t.db" name the fixture
  for (const char *name : {"USERPROFILE", "ZINDO_PASSWORD", "SQLITE_SCAN_BUDGET", "QV_PLUGIN_META",
                           "HTTP_X_ZINDO_PASSWORD", "HTTP_AUTHORIZATION"})
    unsetenv(name);
}

// Makes `body` the process's standard input, ending after its bytes.
void feed_stdin(const std::string &body) {
  int fds[2];
  if (pipe(fds) != 0) fail("pipe", "");
  // The body is at most the input's length, far below a pipe's capacity.
  if (write(fds[1], body.data(), body.size()) != static_cast<ssize_t>(body.size()))
    fail("write to the stdin pipe", std::to_string(body.size()));
  close(fds[1]);
  if (dup2(fds[0], STDIN_FILENO) < 0) fail("dup2", "stdin");
  close(fds[0]);
}

// Splits off the text up to the next NUL (or the end) from `rest`.
std::string take_text(std::string *rest) {
  const std::size_t nul = rest->find('\0');
  const std::string text = rest->substr(0, nul);
  *rest = nul == std::string::npos ? "" : rest->substr(nul + 1);
  return text;
}

void set_up_body(body_source source, std::string rest) {
  unsetenv("HTTP_BODY_FILE");
  unsetenv("CONTENT_LENGTH");
  feed_stdin("");
  if (source == NO_BODY) return;
  if (source == BODY_FILE) {
    write_bytes(body_path(), reinterpret_cast<const uint8_t *>(rest.data()), rest.size());
    setenv("HTTP_BODY_FILE", body_path().c_str(), 1);
    return;
  }
  const std::string length = source == STDIN_EXACT ? std::to_string(rest.size()) : take_text(&rest);
  setenv("CONTENT_LENGTH", length.c_str(), 1);
  feed_stdin(rest);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  set_up_root();
  capture_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
  const std::string query = take_text(&rest);
  setenv("QUERY_STRING", query.c_str(), 1);
  set_up_body(static_cast<body_source>(data[0] % 4), rest);
  serve_request(plat_ticks_ms());
  const std::string out = take_stdout();
  if (!is_one_response(out)) fail("not one complete response", query + "\n---\n" + out);
  return 0;
}
