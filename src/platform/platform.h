// The operating-system services the program needs. Nothing outside
// src/platform/ includes an OS header; every call below has one POSIX
// implementation (posix.cpp) and one for Windows (win32.cpp).
//
// Every text that crosses this interface, file names and environment values
// included, is UTF-8 on Windows and the system's own bytes on POSIX.
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>

/// Milliseconds of a monotonic clock; only differences are meaningful.
long long plat_ticks_ms();

/// Seconds since 1970-01-01 00:00:00 UTC.
long long plat_time_now();

/// The id of the running process.
long plat_pid();

/// The platform's name as the info action reports it.
const char *plat_name();

/// The value of the environment variable `name`, or null when it is absent
/// (an empty value is present). The text stays valid until the process
/// ends; on Windows a later call for the same name writes the value read
/// then into the same place.
const char *plat_getenv(const char *name);

/// The separator that plat_fullpath writes and that joins a directory and
/// a name: "/" on POSIX, "\" on Windows.
char plat_separator();

/// True when `c` separates path components on this platform: "/" on POSIX,
/// "/" and "\" on Windows.
bool plat_is_separator(char c);

/// True when the first `n` bytes of `a` and `b` name the same path as the
/// file system compares names: byte for byte on POSIX; on Windows with
/// letter case ignored and "/" taken as "\". Both must hold `n` bytes.
bool plat_same_path_prefix(const char *a, const char *b, std::size_t n);

/// Lexical canonical form of an absolute path: separators repeated collapse
/// to one, "." components are dropped, ".." removes the component before
/// it (never rising above the root), and a trailing separator goes. The
/// path need not exist. On POSIX the root is "/"; on Windows it is a drive
/// ("C:\") or a share ("\\server\share"), "/" and "\" both separate,
/// and the result is joined with "\". Returns `out`, or null when `path`
/// is not absolute, cannot name an ordinary file on this platform, or the
/// result does not fit in `cap` bytes.
char *plat_fullpath(char *out, const char *path, std::size_t cap);

/// Real location of an existing path, every symbolic link (on Windows also
/// every junction) followed. Returns `out`, or null when the path cannot be
/// resolved or does not fit.
char *plat_realpath(char *out, const char *path, std::size_t cap);

enum plat_kind { PLAT_OTHER = 0, PLAT_FILE = 1, PLAT_DIR = 2, PLAT_LINK = 3, PLAT_UNKNOWN = 4 };

/// Identity of a file: two paths name the same file exactly when their ids
/// are equal (device and inode here; volume serial and file index on
/// Windows).
struct plat_file_id {
  unsigned long long volume;
  unsigned long long index;
};

struct plat_status {
  plat_kind kind;   // PLAT_FILE, PLAT_DIR or PLAT_OTHER (links are followed)
  long long size;   // bytes
  long long mtime;  // seconds since 1970-01-01 00:00:00 UTC
  long long links;  // hard links to the file: names it has in the file system
  plat_file_id id;
};

/// File status of `path`, links followed. Returns true on success.
bool plat_stat(const char *path, plat_status *out);

/// Reads the first `cap` bytes of the file `path` into `buf`, opening it as
/// the guarded open below does: no symbolic link in any component, without
/// waiting on a FIFO or device, only a regular file with a single link.
/// Returns the number of bytes read (fewer at the end of a short file), or
/// -1 when the file cannot be opened that way or read.
long plat_read_head(const char *path, void *buf, std::size_t cap);

/// One replacement for a system call of SQLite's file layer, in the form
/// that `sqlite3_vfs.xSetSystemCall` takes.
struct plat_sqlite_syscall {
  const char *name;    // SQLite's name of the call ("open", ...)
  void (*call)(void);  // the replacement, cast to SQLite's generic pointer
};

/// True when another program has the -shm file `path` of a WAL database
/// open (it holds the lock SQLite keeps on it while a connection uses it).
/// False when there is no such file, when it is not a regular file reached
/// without a link, and when nobody has it open: then it is a leftover.
/// The file is only looked at, never changed.
bool plat_shm_in_use(const char *path);

/// Name of the SQLite file layer (VFS) whose system calls are replaced.
const char *plat_sqlite_vfs_name();

/// The replacements, ended by an entry with a null name. With all of them
/// installed, every file SQLite's file layer opens is opened without
/// following a symbolic link in any component of its path (a link met there
/// fails the open, also while SQLite makes the path absolute), without
/// waiting (a FIFO or device never blocks the open), only when it is a
/// regular file with a single link (anything else is closed again and the
/// open fails), and never created; no file is removed or truncated. The path handed to SQLite must therefore already be the real
/// location of the file.
const plat_sqlite_syscall *plat_sqlite_syscalls();

/// One open directory listing; owned by the platform layer.
struct plat_dir;

struct plat_dir_entry {
  const char *name;  // valid until the next plat_dir_next or plat_dir_close
  plat_kind kind;    // as the listing reports it: PLAT_LINK and PLAT_UNKNOWN
                     // mean the caller must ask plat_stat
};

/// Starts listing `path`. Returns null when it cannot be listed.
plat_dir *plat_dir_open(const char *path);

/// Next entry of the listing, in the order the file system gives them.
/// Returns false at the end of the listing or on a read error.
bool plat_dir_next(plat_dir *dir, plat_dir_entry *out);

/// Ends the listing. A null `dir` does nothing.
void plat_dir_close(plat_dir *dir);

/// Reads standard input into `buf` until `want` bytes have arrived, the
/// input ends or fails, or the clock (plat_ticks_ms) reaches `deadline_ms`;
/// never blocks past that. A terminal is not read at all. Returns the
/// number of bytes read (no terminator is added).
std::size_t plat_read_stdin(char *buf, std::size_t want, long long deadline_ms);

// ---------------------------------------------------------------------------
// The watchdog: the hard wall-clock stop of one request.
//
// The main line runs the work that may overrun (the SQLite calls) through
// plat_run_cuttable, and marks each stretch inside SQLite with
// plat_cut_begin / plat_cut_end. The watchdog calls `on_soft` at the soft
// deadline (the action's own checks then stop it), and from the hard deadline on
// abandons the main line as soon as it is inside a marked stretch. Outside
// the marked stretches (writing output, allocating) it never intervenes, so
// the program's own state is whole when the main line is abandoned; the
// state of SQLite is not, and the abandoned connection must not be used
// again.

using plat_alarm_fn = void (*)();

/// Arms the watchdog. From `soft_at_ms` (a plat_ticks_ms value) on,
/// `on_soft` is called about every PLAT_WATCHDOG_TICK_MS, asynchronously to
/// the main line (from a signal handler here, from another thread on
/// Windows): it may only store to lock-free atomics. From `hard_at_ms` on, a
/// main line inside a marked stretch of plat_run_cuttable is abandoned. From
/// `end_at_ms` on, a main line that is waiting to hand standard output over
/// (plat_out, plat_out_flush, plat_exit_now) ends the process at once with
/// status 0: nobody is reading the response, and the process must not keep
/// what it holds (a lock on a database) for as long as the host waits. An
/// abandonment leaves the watchdog armed for that last rule. Returns false
/// when no watchdog could be armed; the caller's own deadline checks then
/// remain.
bool plat_watchdog_arm(long long soft_at_ms, long long hard_at_ms, long long end_at_ms,
                       plat_alarm_fn on_soft);

/// Stops the watchdog: after it returns `on_soft` is not called again and
/// nothing is abandoned. Harmless when it is not armed.
void plat_watchdog_disarm();

/// Period of the watchdog's calls of `on_soft` after the soft deadline.
constexpr int PLAT_WATCHDOG_TICK_MS = 20;

/// Runs `body(arg)` on the calling thread's behalf. Returns true when it
/// returned, false when the watchdog abandoned it at the hard deadline while
/// it was inside a marked stretch. Not nested.
bool plat_run_cuttable(void (*body)(void *), void *arg);

/// Marks the start of a stretch of plat_run_cuttable's body that may be
/// abandoned (a call into SQLite). When the hard deadline has already
/// passed, the body is abandoned here at once.
void plat_cut_begin();

/// Marks the end of such a stretch.
void plat_cut_end();

/// Ends the process with `status` at once: standard output is flushed, no
/// destructor and no exit handler runs, and nothing is allocated.
[[noreturn]] void plat_exit_now(int status);

/// Prepares the process for serving one response: standard output carries
/// bytes unchanged, a reader that goes away early must not turn the
/// program's exit status into a signal, and no failure opens a dialog.
void plat_start();

/// Appends the `n` bytes at `bytes` to standard output, in the C library's
/// buffer of stdout: they reach the host when the buffer fills or the
/// process exits. The program has one thread, so the stream is used
/// without taking its lock. A failed write is not reported: the host has
/// gone, and nobody reads the rest.
void plat_out(const char *bytes, std::size_t n);

/// Appends the byte `c` to standard output, as plat_out does.
void plat_out_byte(char c);

/// Hands everything appended to standard output over to the host.
void plat_out_flush();
