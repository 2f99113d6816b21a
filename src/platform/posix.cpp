// The platform services on Linux and other POSIX systems.
#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

void plat_start() {
  // A host that closes the pipe early gets a short response; the write
  // fails quietly instead of killing the process with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
}

// Most of a document is fragments of a few bytes. While stdout's buffer
// has room they are copied straight into it, as glibc's own putc_unlocked
// does for one byte; fwrite_unlocked would cost a library call with its own
// bookkeeping per fragment. A full buffer and a line-buffered terminal
// (whose free room glibc keeps at zero) take the library call; so does
// every fragment with other C libraries, not all of which have
// fwrite_unlocked.
void plat_out(const char *bytes, std::size_t n) {
  // Before the first write the stream has no buffer yet: its pointers are
  // null, and even an empty copy to them would be undefined.
  if (n == 0) return;
#if defined(__GLIBC__)
  std::FILE *out = stdout;
  if (static_cast<std::size_t>(out->_IO_write_end - out->_IO_write_ptr) >= n) {
    std::memcpy(out->_IO_write_ptr, bytes, n);
    out->_IO_write_ptr += n;
    return;
  }
  fwrite_unlocked(bytes, 1, n, out);
#else
  std::fwrite(bytes, 1, n, stdout);
#endif
}

void plat_out_byte(char c) { putc_unlocked(c, stdout); }

long long plat_ticks_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::size_t plat_read_stdin(char *buf, std::size_t want, int wait_ms) {
  // A terminal is a person at a keyboard, not a request body.
  if (isatty(STDIN_FILENO)) return 0;
  const long long deadline = plat_ticks_ms() + wait_ms;
  std::size_t got = 0;
  while (got < want) {
    const long long left = deadline - plat_ticks_ms();
    if (left <= 0) break;
    // poll first, so that a server holding the pipe open without sending
    // the rest cannot keep the process waiting past the deadline.
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (input.revents & POLLNVAL) != 0) break;
    const ssize_t n = read(STDIN_FILENO, buf + got, want - got);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

long long plat_time_now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<long long>(now.tv_sec);
}

long plat_pid() { return static_cast<long>(getpid()); }

const char *plat_name() {
#if defined(__linux__)
  return "linux";
#elif defined(__APPLE__)
  return "macos";
#else
  return "posix";
#endif
}

char *plat_fullpath(char *out, const char *path, std::size_t cap) {
  if (path == nullptr || path[0] != '/' || cap < 2) return nullptr;
  std::size_t n = 0;
  out[n++] = '/';
  const char *p = path;
  for (;;) {
    while (*p == '/') ++p;
    if (*p == '\0') break;
    const char *name = p;
    while (*p != '\0' && *p != '/') ++p;
    const std::size_t len = static_cast<std::size_t>(p - name);
    if (len == 1 && name[0] == '.') continue;
    if (len == 2 && name[0] == '.' && name[1] == '.') {
      while (n > 1 && out[n - 1] != '/') --n;  // drop the last component
      if (n > 1) --n;                          // and the "/" before it
      continue;
    }
    const std::size_t sep = n > 1 ? 1 : 0;
    if (n + sep + len + 1 > cap) return nullptr;
    if (sep) out[n++] = '/';
    std::memcpy(out + n, name, len);
    n += len;
  }
  out[n] = '\0';
  return out;
}

char *plat_realpath(char *out, const char *path, std::size_t cap) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr) return nullptr;
  const std::size_t len = std::strlen(resolved);
  if (len + 1 > cap) return nullptr;
  std::memcpy(out, resolved, len + 1);
  return out;
}

static plat_kind kind_of_mode(mode_t mode) {
  if (S_ISREG(mode)) return PLAT_FILE;
  if (S_ISDIR(mode)) return PLAT_DIR;
  return PLAT_OTHER;
}

bool plat_stat(const char *path, plat_status *out) {
  struct stat st {};
  if (stat(path, &st) != 0) return false;
  out->kind = kind_of_mode(st.st_mode);
  out->size = static_cast<long long>(st.st_size);
  out->mtime = static_cast<long long>(st.st_mtime);
  return true;
}

// A listing is the C library's DIR stream itself; the cast keeps DIR out of
// the header.
plat_dir *plat_dir_open(const char *path) { return reinterpret_cast<plat_dir *>(opendir(path)); }

static plat_kind kind_of_dirent(unsigned char type) {
  switch (type) {
    case DT_REG: return PLAT_FILE;
    case DT_DIR: return PLAT_DIR;
    case DT_LNK: return PLAT_LINK;
    case DT_UNKNOWN: return PLAT_UNKNOWN;
    default: return PLAT_OTHER;
  }
}

bool plat_dir_next(plat_dir *dir, plat_dir_entry *out) {
  const dirent *entry = readdir(reinterpret_cast<DIR *>(dir));
  if (entry == nullptr) return false;
  out->name = entry->d_name;
  out->kind = kind_of_dirent(entry->d_type);
  return true;
}

void plat_dir_close(plat_dir *dir) {
  if (dir != nullptr) closedir(reinterpret_cast<DIR *>(dir));
}
