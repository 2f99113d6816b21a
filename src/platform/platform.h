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

/// Fills `out` with the UTC calendar fields of `secs`. Returns false when
/// the time cannot be converted (`out` is then left as it was).
bool plat_gmtime(long long secs, std::tm *out);

/// The id of the running process.
long plat_pid();

/// The platform's name as the info action reports it.
const char *plat_name();

/// The value of the environment variable `name`, or null when it is absent
/// (an empty value is present). The text stays valid until the process
/// ends; on Windows a later call for the same name writes the value read
/// then into the same place.
const char *plat_getenv(const char *name);

/// Opens the existing file `path` for reading bytes, as std::fopen with
/// mode "rb" does. Returns null when it cannot be opened.
std::FILE *plat_fopen_read(const char *path);

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

/// Puts the guarded open under every file that the SQLite library opens
/// from now on, in this process: a file opens only when it already exists,
/// is a regular file that is no link (on Windows no reparse point in any
/// component of its path either), has exactly one name (no hard link), is
/// not a device and (on Windows) names no alternate data stream. Nothing is
/// created and nothing removed; a file opens for writing only where the
/// platform's reader of a database that another program is writing must
/// take its place in the existing side files ("-wal", "-shm"; Windows).
/// Every other open fails as a file that cannot be opened. Returns false
/// when the library's file layer could not be changed.
bool plat_guard_database_files();

/// Prepares the process for serving one response: standard output carries
/// bytes unchanged, a reader that goes away early must not turn the
/// program's exit status into a signal, and no failure opens a dialog.
void plat_start();
