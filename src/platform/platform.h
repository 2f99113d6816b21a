// The operating-system services the program needs. Nothing outside
// src/platform/ includes an OS header; every call below has one POSIX
// implementation (posix.cpp) and, later, one for Windows.
#pragma once

#include <cstddef>

/// Milliseconds of a monotonic clock; only differences are meaningful.
long long plat_ticks_ms();

/// Seconds since 1970-01-01 00:00:00 UTC.
long long plat_time_now();

/// The id of the running process.
long plat_pid();

/// The platform's name as the info action reports it.
const char *plat_name();

/// Lexical canonical form of an absolute path: "/" repeated collapses to
/// one, "." components are dropped, ".." removes the component before it
/// (never rising above "/"), and a trailing "/" goes. The path need not
/// exist. Returns `out`, or null when `path` does not begin with "/" or the
/// result does not fit in `cap` bytes.
char *plat_fullpath(char *out, const char *path, std::size_t cap);

/// Real location of an existing path, every symbolic link followed.
/// Returns `out`, or null when the path cannot be resolved or does not fit.
char *plat_realpath(char *out, const char *path, std::size_t cap);

enum plat_kind { PLAT_OTHER = 0, PLAT_FILE = 1, PLAT_DIR = 2, PLAT_LINK = 3, PLAT_UNKNOWN = 4 };

struct plat_status {
  plat_kind kind;   // PLAT_FILE, PLAT_DIR or PLAT_OTHER (links are followed)
  long long size;   // bytes
  long long mtime;  // seconds since 1970-01-01 00:00:00 UTC
};

/// File status of `path`, links followed. Returns true on success.
bool plat_stat(const char *path, plat_status *out);

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
/// input ends or fails, or `wait_ms` milliseconds have passed in all; never
/// blocks past that. A terminal is not read at all. Returns the number of
/// bytes read (no terminator is added).
std::size_t plat_read_stdin(char *buf, std::size_t want, int wait_ms);

/// Prepares the process for serving one response: a reader that goes away
/// early must not turn the program's exit status into a signal.
void plat_start();

/// Appends the `n` bytes at `bytes` to standard output, in the C library's
/// buffer of stdout: they reach the host when the buffer fills or the
/// process exits. The program has one thread, so the stream is used
/// without taking its lock. A failed write is not reported: the host has
/// gone, and nobody reads the rest.
void plat_out(const char *bytes, std::size_t n);

/// Appends the byte `c` to standard output, as plat_out does.
void plat_out_byte(char c);
