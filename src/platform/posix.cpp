// The platform services on Linux and other POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csetjmp>
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

// Set while the main line waits for the host to take standard output (the
// C library's write of a full buffer), so that the watchdog can tell a
// host that stopped reading from a process still at work.
static std::atomic<int> g_in_output{0};

// Hands stdout's buffer (and `n` bytes at `bytes`) over with the watchdog
// told: past the end of the budget a host that stopped reading ends the
// process here (see plat_watchdog_arm).
static void write_through(const char *bytes, std::size_t n) {
  g_in_output.store(1);
#if defined(__GLIBC__)
  if (n > 0) {
    fwrite_unlocked(bytes, 1, n, stdout);
  } else {
    fflush_unlocked(stdout);
  }
#else
  if (n > 0) {
    std::fwrite(bytes, 1, n, stdout);
  } else {
    std::fflush(stdout);
  }
#endif
  g_in_output.store(0);
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
#endif
  write_through(bytes, n);
}

void plat_out_byte(char c) {
#if defined(__GLIBC__)
  std::FILE *out = stdout;
  if (out->_IO_write_ptr < out->_IO_write_end) {
    *out->_IO_write_ptr++ = c;
    return;
  }
#endif
  write_through(&c, 1);
}

void plat_out_flush() { write_through(nullptr, 0); }

long long plat_ticks_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::size_t plat_read_stdin(char *buf, std::size_t want, long long deadline) {
  // A terminal is a person at a keyboard, not a request body.
  if (isatty(STDIN_FILENO)) return 0;
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

const char *plat_getenv(const char *name) { return std::getenv(name); }

char plat_separator() { return '/'; }

bool plat_is_separator(char c) { return c == '/'; }

bool plat_same_path_prefix(const char *a, const char *b, std::size_t n) {
  return std::strncmp(a, b, n) == 0;
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
  out->links = static_cast<long long>(st.st_nlink);
  out->id = plat_file_id{static_cast<unsigned long long>(st.st_dev),
                         static_cast<unsigned long long>(st.st_ino)};
  return true;
}

// ---------------------------------------------------------------------------
// The guarded open

// Keeps `fd` only when it is a regular file with a single name: a FIFO or
// device could stall or feed the reader, and a second hard link may have
// been made to a file outside the roots. Returns `fd`, or -1 with errno set.
static int keep_single_regular_file(int fd) {
  if (fd < 0) return fd;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) return fd;
  close(fd);
  errno = EACCES;
  return -1;
}

// The fallback for kernels without openat2: walks `path` from "/" one
// component at a time, each directory opened with O_NOFOLLOW so that a link
// anywhere fails the walk, and opens the last name relative to the
// directory that holds it.
static int open_by_component_walk(const char *path, int flags, mode_t mode) {
  if (path[0] != '/') {
    errno = EINVAL;
    return -1;
  }
  int dir = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  const char *p = path;
  while (dir >= 0) {
    while (*p == '/') ++p;
    const char *end = std::strchr(p, '/');
    if (end == nullptr) {
      const int fd = openat(dir, p, flags | O_NOFOLLOW, mode);
      const int saved = errno;
      close(dir);
      errno = saved;
      return fd;
    }
    char name[NAME_MAX + 1];
    const std::size_t len = static_cast<std::size_t>(end - p);
    if (len > NAME_MAX || (len == 2 && p[0] == '.' && p[1] == '.')) {
      close(dir);
      errno = EACCES;
      return -1;
    }
    std::memcpy(name, p, len);
    name[len] = '\0';
    // O_PATH with O_NOFOLLOW opens a link itself rather than failing; the
    // fstat below tells it from a directory.
    const int next = openat(dir, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    close(dir);
    struct stat st {};
    if (next >= 0 && (fstat(next, &st) != 0 || !S_ISDIR(st.st_mode))) {
      close(next);
      errno = ELOOP;
      return -1;
    }
    dir = next;
    p = end;
  }
  return -1;
}

// open(2) as SQLite's file layer calls it, with no link followed in any
// component and without waiting on a FIFO.
static int open_without_links(const char *path, int flags, mode_t mode) {
  open_how how{};
  how.flags = static_cast<unsigned long long>(flags | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  how.mode = (flags & O_CREAT) != 0 ? mode : 0;  // openat2 refuses a mode it does not use
  how.resolve = RESOLVE_NO_SYMLINKS;
  const long fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
  if (fd < 0 && errno == ENOSYS) {
    return open_by_component_walk(path, flags | O_NONBLOCK | O_CLOEXEC, mode);
  }
  return static_cast<int>(fd);
}

// The program creates no file: SQLite's request to create one (a -wal or
// -shm that is missing) fails as if the file were not there.
static int guarded_open(const char *path, int flags, int mode) {
  return keep_single_regular_file(
      open_without_links(path, flags & ~(O_CREAT | O_EXCL), static_cast<mode_t>(mode)));
}

// Nothing is ever removed or cut short: SQLite removes a -wal file it takes
// for spent, and cuts a -shm file it takes for stale.
static int refused_unlink(const char *) {
  errno = EPERM;
  return -1;
}

static int refused_ftruncate(int, off_t) {
  errno = EPERM;
  return -1;
}

// SQLite reads a link while it makes a path absolute, before it opens the
// file; the path handed to it is a real location, so a link met there was
// put there since it was checked. Failing here fails the open.
static ssize_t refused_readlink(const char *, char *, std::size_t) {
  errno = ELOOP;
  return -1;
}

long plat_read_head(const char *path, void *buf, std::size_t cap) {
  const int fd = guarded_open(path, O_RDONLY, 0);
  if (fd < 0) return -1;
  std::size_t got = 0;
  while (got < cap) {
    const ssize_t n = read(fd, static_cast<char *>(buf) + got, cap - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  return static_cast<long>(got);
}

// Where SQLite's unix file layer keeps the "dead man" lock of a -shm file:
// every connection that has the file open holds a shared lock on this byte.
constexpr off_t SHM_DEAD_MAN_BYTE = 128;

bool plat_shm_in_use(const char *path) {
  const int fd = guarded_open(path, O_RDONLY, 0);
  if (fd < 0) return false;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = SHM_DEAD_MAN_BYTE;
  lock.l_len = 1;
  // F_GETLK reports a lock held by another process only.
  const bool in_use = fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type != F_UNLCK;
  // The descriptor stays open until the process ends: closing any
  // descriptor of a file drops every lock the process holds on that file,
  // and SQLite in this process may hold some.
  return in_use;
}

const char *plat_sqlite_vfs_name() { return "unix"; }

const plat_sqlite_syscall *plat_sqlite_syscalls() {
  static const plat_sqlite_syscall CALLS[] = {
      {"open", reinterpret_cast<void (*)(void)>(guarded_open)},
      {"readlink", reinterpret_cast<void (*)(void)>(refused_readlink)},
      {"unlink", reinterpret_cast<void (*)(void)>(refused_unlink)},
      {"rmdir", reinterpret_cast<void (*)(void)>(refused_unlink)},
      {"ftruncate", reinterpret_cast<void (*)(void)>(refused_ftruncate)},
      {nullptr, nullptr},
  };
  return CALLS;
}

// ---------------------------------------------------------------------------
// The watchdog
//
// A POSIX timer delivers SIGALRM at the soft deadline and then every
// PLAT_WATCHDOG_TICK_MS. The handler only reads the clock (clock_gettime is
// async-signal-safe), calls the caller's `on_soft` (atomic stores only),
// and, at the hard deadline, jumps out of a marked stretch. Everything it shares with the main line
// is a lock-free atomic, so a signal between any two instructions sees whole values.
//
// Why the jump is safe only inside a marked stretch: a jump out of the middle
// of malloc leaves the heap half updated, and a jump out of fwrite leaves
// the stream's buffer and lock half updated. The marked stretches are calls
// into SQLite, whose state is abandoned with the connection; the program's
// own output is never in the middle of a write there. After the jump the
// caller writes the end of its document into the stream's existing buffer
// (nothing is allocated) and ends the process with plat_exit_now, so no
// destructor runs over the abandoned state.

namespace {

std::atomic<int> g_armed{0};
std::atomic<long long> g_soft_at{0};
std::atomic<long long> g_hard_at{0};
std::atomic<long long> g_end_at{0};
std::atomic<plat_alarm_fn> g_on_soft{nullptr};
std::atomic<int> g_hard_passed{0};  // the hard deadline has come
std::atomic<int> g_body_live{0};    // a plat_run_cuttable frame can be jumped to
std::atomic<int> g_in_stretch{0};   // the body is inside a marked stretch
sigjmp_buf g_cut_point;
timer_t g_timer;
bool g_timer_made = false;

static_assert(std::atomic<long long>::is_always_lock_free, "the signal handler needs whole values");
static_assert(std::atomic<plat_alarm_fn>::is_always_lock_free,
              "the signal handler needs whole values");

timespec timespec_of_ms(long long ms) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(ms / 1000);
  t.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
  return t;
}

// Stops the timer.
void stop_timer() {
  g_armed.store(0);
  if (g_timer_made) {
    const itimerspec off{};
    timer_settime(g_timer, 0, &off, nullptr);
  }
}

// Leaves the marked stretch for the plat_run_cuttable frame, which is still
// live below us on the stack. siglongjmp restores the signal mask saved by
// sigsetjmp, so SIGALRM is not left blocked when this runs in the handler.
// The timer keeps running: the response still has to reach the host, and
// a host that stopped reading must not keep the process alive.
[[noreturn]] void abandon_body() {
  g_in_stretch.store(0);
  g_body_live.store(0);
  siglongjmp(g_cut_point, 1);
}

void on_watchdog_signal(int) {
  const int saved_errno = errno;  // the main line may be between a call and its errno test
  if (g_armed.load() != 0) {
    const long long now = plat_ticks_ms();
    if (now >= g_soft_at.load()) {
      const plat_alarm_fn on_soft = g_on_soft.load();
      if (on_soft != nullptr) on_soft();
    }
    if (now >= g_hard_at.load()) {
      g_hard_passed.store(1);
      if (g_body_live.load() != 0 && g_in_stretch.load() != 0) abandon_body();
    }
    // _exit is async-signal-safe; the kernel releases the process's locks.
    if (now >= g_end_at.load() && g_in_output.load() != 0) _exit(0);
  }
  errno = saved_errno;
}

}  // namespace

bool plat_watchdog_arm(long long soft_at_ms, long long hard_at_ms, long long end_at_ms,
                       plat_alarm_fn on_soft) {
  stop_timer();
  g_soft_at.store(soft_at_ms);
  g_hard_at.store(hard_at_ms);
  g_end_at.store(end_at_ms);
  g_on_soft.store(on_soft);
  g_hard_passed.store(0);
  struct sigaction action {};
  action.sa_handler = on_watchdog_signal;
  sigemptyset(&action.sa_mask);
  // Interrupted reads and writes resume; a sleep in SQLite's busy wait
  // simply ends early.
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGALRM, &action, nullptr) != 0) return false;
  if (!g_timer_made) {
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGALRM;
    if (timer_create(CLOCK_MONOTONIC, &event, &g_timer) != 0) return false;
    g_timer_made = true;
  }
  itimerspec when{};
  when.it_value = timespec_of_ms(soft_at_ms);  // plat_ticks_ms reads CLOCK_MONOTONIC too
  when.it_interval = timespec_of_ms(PLAT_WATCHDOG_TICK_MS);
  g_armed.store(1);
  if (timer_settime(g_timer, TIMER_ABSTIME, &when, nullptr) != 0) {
    g_armed.store(0);
    return false;
  }
  return true;
}

void plat_watchdog_disarm() { stop_timer(); }

bool plat_run_cuttable(void (*body)(void *), void *arg) {
  // Saves the signal mask too (second argument), so that the jump from the
  // handler unblocks SIGALRM again.
  if (sigsetjmp(g_cut_point, 1) != 0) return false;
  g_body_live.store(1);
  body(arg);
  g_body_live.store(0);
  g_in_stretch.store(0);
  return true;
}

void plat_cut_begin() {
  // Marked first, tested second: a signal between the two finds the mark
  // and jumps itself.
  g_in_stretch.store(1);
  if (g_hard_passed.load() != 0 && g_body_live.load() != 0) abandon_body();
}

void plat_cut_end() { g_in_stretch.store(0); }

void plat_exit_now(int status) {
  plat_out_flush();
  _exit(status);
}

// Listings come from a fixed pool, one per level of the walk, each reading
// the kernel's records straight into its own buffer. The C library's
// opendir would add a status call and a 32 KB allocation per directory,
// which is most of a walk's cost besides the reading itself.
constexpr int DIR_POOL = 16;
constexpr std::size_t DIR_BUFFER = 32768;

struct plat_dir {
  bool in_use;
  int fd;
  std::size_t next;
  std::size_t filled;
  alignas(dirent64) char records[DIR_BUFFER];
};

static plat_dir g_dirs[DIR_POOL] = {};

plat_dir *plat_dir_open(const char *path) {
  for (plat_dir &slot : g_dirs) {
    if (slot.in_use) continue;
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    slot.in_use = true;
    slot.fd = fd;
    slot.next = 0;
    slot.filled = 0;
    return &slot;
  }
  return nullptr;
}

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
  if (dir->next >= dir->filled) {
    const ssize_t got = getdents64(dir->fd, dir->records, DIR_BUFFER);
    if (got <= 0) return false;
    dir->next = 0;
    dir->filled = static_cast<std::size_t>(got);
  }
  const auto *entry = reinterpret_cast<const dirent64 *>(dir->records + dir->next);
  dir->next += entry->d_reclen;
  out->name = entry->d_name;
  out->kind = kind_of_dirent(entry->d_type);
  return true;
}

void plat_dir_close(plat_dir *dir) {
  if (dir == nullptr) return;
  close(dir->fd);
  dir->in_use = false;
}
