#include "fuzz_support.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

static int captured_fd = -1;

void capture_stdout() {
  std::fflush(stdout);
  std::FILE *file = std::tmpfile();
  if (file == nullptr) fail("capture", "tmpfile");
  captured_fd = fileno(file);
  if (dup2(captured_fd, STDOUT_FILENO) < 0) fail("capture", "dup2");
}

std::string take_stdout() {
  std::fflush(stdout);
  std::string out;
  char buf[65536];
  off_t at = 0;
  for (;;) {
    const ssize_t n = pread(captured_fd, buf, sizeof buf, at);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
  // Descriptor 1 shares the file position: both start over at 0.
  if (ftruncate(captured_fd, 0) != 0 || lseek(captured_fd, 0, SEEK_SET) != 0)
    fail("capture", "truncate");
  return out;
}

namespace {

// A recursive-descent reader of one JSON value; `at` moves past it.
class json_reader {
 public:
  explicit json_reader(const std::string &text) : s_(text) {}

  bool whole() {
    skip_ws();
    if (!value(0)) return false;
    skip_ws();
    return at_ == s_.size();
  }

 private:
  static constexpr int MAX_DEPTH = 64;
  const std::string &s_;
  std::size_t at_ = 0;

  bool more() const { return at_ < s_.size(); }
  char peek() const { return more() ? s_[at_] : '\0'; }
  void skip_ws() {
    while (more() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++at_;
  }
  bool literal(const char *word) {
    for (const char *w = word; *w; ++w, ++at_)
      if (!more() || s_[at_] != *w) return false;
    return true;
  }
  bool digits() {
    const std::size_t start = at_;
    while (more() && peek() >= '0' && peek() <= '9') ++at_;
    return at_ > start;
  }
  bool number() {
    if (peek() == '-') ++at_;
    if (peek() == '0') {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    if (peek() == '.') {
      ++at_;
      if (!digits()) return false;
    }
    if (peek() == 'e' || peek() == 'E') {
      ++at_;
      if (peek() == '+' || peek() == '-') ++at_;
      if (!digits()) return false;
    }
    return true;
  }
  static bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }
  bool string() {
    if (peek() != '"') return false;
    for (++at_; more(); ++at_) {
      const unsigned char c = static_cast<unsigned char>(s_[at_]);
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return false;
      if (c != '\\') continue;
      ++at_;
      const char e = peek();
      if (e == 'u') {
        if (at_ + 4 >= s_.size()) return false;
        for (std::size_t i = 1; i <= 4; ++i)
          if (!is_hex(s_[at_ + i])) return false;
        at_ += 4;
      } else if (!more() || std::string("\"\\/bfnrt").find(e) == std::string::npos) {
        return false;
      }
    }
    return false;
  }
  template <typename Item>
  bool sequence(char close, Item item) {
    ++at_;
    skip_ws();
    if (peek() == close) {
      ++at_;
      return true;
    }
    for (;;) {
      skip_ws();
      if (!item()) return false;
      skip_ws();
      if (peek() == close) {
        ++at_;
        return true;
      }
      if (peek() != ',') return false;
      ++at_;
    }
  }
  bool value(int depth) {
    if (depth > MAX_DEPTH) return false;
    switch (peek()) {
      case '{':
        return sequence('}', [&] {
          if (!string()) return false;
          skip_ws();
          if (peek() != ':') return false;
          ++at_;
          skip_ws();
          return value(depth + 1);
        });
      case '[': return sequence(']', [&] { return value(depth + 1); });
      case '"': return string();
      case 't': return literal("true");
      case 'f': return literal("false");
      case 'n': return literal("null");
      default: return number();
    }
  }
};

const std::string JSON_HEAD =
    "Content-Type: application/json; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";
const std::string HTML_HEAD =
    "Content-Type: text/html; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";
const std::string PAGE_END = "</html>\n";

bool starts_with(const std::string &s, const std::string &prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool is_one_json_value(const std::string &text) { return json_reader(text).whole(); }

bool is_one_response(const std::string &out) {
  if (starts_with(out, HTML_HEAD)) {
    return out.size() >= HTML_HEAD.size() + PAGE_END.size() &&
           out.compare(out.size() - PAGE_END.size(), PAGE_END.size(), PAGE_END) == 0;
  }
  if (!starts_with(out, JSON_HEAD) || out.size() < JSON_HEAD.size() + 2) return false;
  if (out.back() != '\n') return false;
  const std::string doc = out.substr(JSON_HEAD.size(), out.size() - JSON_HEAD.size() - 1);
  // One LF only: the document itself is compact, so its last byte is a
  // closing brace.
  return !doc.empty() && doc.back() == '}' && is_one_json_value(doc);
}

static std::vector<std::string> &folders() {
  static std::vector<std::string> list;
  return list;
}

static void remove_folders() {
  for (const std::string &f : folders()) {
    const std::string cmd = "rm -rf '" + f + "'";
    if (std::system(cmd.c_str()) != 0) std::perror("rm");
  }
}

std::string scratch_folder(const char *name) {
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/plugin_sqlite_fuzz_" + name + ".XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fail("mkdtemp", pattern);
  if (folders().empty()) std::atexit(remove_folders);
  folders().push_back(pattern);
  return pattern;
}

void write_bytes(const std::string &path, const uint8_t *data, std::size_t size) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) fail("open for writing", path);
  if (size > 0 && std::fwrite(data, 1, size, file) != size) fail("write", path);
  if (std::fclose(file) != 0) fail("close", path);
}

void make_database(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  char *message = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK)
    fail("fixture database", message ? message : path);
  sqlite3_close(db);
}

// After a hard stop (a call into SQLite that outlived its budget) the
// program ends the process itself with _exit; the targets are linked with
// --wrap=_exit so that the response written up to then is still checked.
extern "C" [[noreturn]] void __real__exit(int status);
extern "C" [[noreturn]] void __wrap__exit(int status) {
  if (captured_fd >= 0) {
    const std::string out = take_stdout();
    if (!out.empty() && !is_one_response(out)) fail("hard stop left an incomplete response", out);
    std::fprintf(
        stderr,
        "NOTE: the program ended the process after a hard stop; its response was complete\n");
  }
  __real__exit(status);
}

void fail(const char *what, const std::string &detail) {
  std::fprintf(stderr, "FINDING: %s: %s\n", what, detail.c_str());
  std::abort();
}
