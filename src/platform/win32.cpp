// The platform services on Windows. File names and environment values cross
// the platform interface as UTF-8 and reach Windows as UTF-16; a text that
// is not valid in the other encoding is refused, never guessed at.
#include <fcntl.h>
#include <io.h>
#include <wchar.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

// ---------------------------------------------------------------------------
// Text conversion

// The longest value an environment variable can hold, in UTF-16 units, and
// the longest path this layer hands to Windows (a path of PATH_CAP bytes,
// the "\\?\UNC\" prefix and the "\*" of a listing).
constexpr DWORD ENV_VALUE_UNITS = 32767;
constexpr std::size_t WIDE_PATH_UNITS = 4096 + 16;

// UTF-8 `text` of `len` bytes as UTF-16 in `out` (`cap` units, NUL added).
// Returns the units written without the NUL, or -1 when the text is not
// UTF-8 or does not fit.
static int utf8_to_wide(const char *text, int len, wchar_t *out, std::size_t cap) {
  if (len == 0) {
    out[0] = L'\0';
    return 0;
  }
  const int n =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, len, out, static_cast<int>(cap - 1));
  if (n <= 0) return -1;
  out[n] = L'\0';
  return n;
}

// UTF-16 `text` (NUL-terminated) as UTF-8 in `out` (`cap` bytes, NUL
// added). False when the text holds a lone surrogate or does not fit.
static bool wide_to_utf8(const wchar_t *text, char *out, std::size_t cap) {
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, out,
                                    static_cast<int>(cap), nullptr, nullptr);
  return n > 0;
}

// ---------------------------------------------------------------------------
// Process

void plat_start() {
  // A crash or a missing drive must end the process, never wait for
  // someone to close a dialog on the host's desktop.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // The response is bytes: in text mode every "\n" would become "\r\n" and
  // the header block, the JSON and the page would change.
  _setmode(_fileno(stdout), _O_BINARY);
}

// Set while the main line is in the stream's writer, which waits for the
// host whenever the buffer is handed over, so that the watchdog can tell a
// host that stopped reading from a process still at work.
static std::atomic<int> g_in_output{0};

// msvcrt has no unlocked writer to the stream; the program writes from one
// thread at a time, so the lock is never contended.
void plat_out(const char *bytes, std::size_t n) {
  if (n == 0) return;
  g_in_output.store(1);
  std::fwrite(bytes, 1, n, stdout);
  g_in_output.store(0);
}

void plat_out_byte(char c) { plat_out(&c, 1); }

void plat_out_flush() {
  g_in_output.store(1);
  std::fflush(stdout);
  g_in_output.store(0);
}

long long plat_ticks_ms() { return static_cast<long long>(GetTickCount64()); }

// Reads at most `want` bytes from `input`, a pipe, into `buf` by `deadline`.
// A pipe is read only as far as it holds bytes, so that a host that keeps
// it open without sending the rest cannot hold the process past the
// deadline.
static std::size_t read_pipe(HANDLE input, char *buf, std::size_t want, long long deadline) {
  std::size_t got = 0;
  while (got < want && plat_ticks_ms() < deadline) {
    DWORD available = 0;
    if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) break;  // ended
    if (available == 0) {
      Sleep(1);
      continue;
    }
    const std::size_t room = want - got;
    const DWORD ask = static_cast<DWORD>(available < room ? available : room);
    DWORD n = 0;
    if (!ReadFile(input, buf + got, ask, &n, nullptr) || n == 0) break;
    got += n;
  }
  return got;
}

std::size_t plat_read_stdin(char *buf, std::size_t want, long long deadline) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return 0;
  switch (GetFileType(input)) {
    case FILE_TYPE_PIPE: return read_pipe(input, buf, want, deadline);
    case FILE_TYPE_DISK: {
      // A file never makes a read wait.
      std::size_t got = 0;
      while (got < want) {
        DWORD n = 0;
        const DWORD ask = static_cast<DWORD>(want - got < 0x10000000 ? want - got : 0x10000000);
        if (!ReadFile(input, buf + got, ask, &n, nullptr) || n == 0) break;
        got += n;
      }
      return got;
    }
    default: return 0;  // a console is a person at a keyboard; a device is not a body
  }
}

long long plat_time_now() { return static_cast<long long>(_time64(nullptr)); }

long plat_pid() { return static_cast<long>(GetCurrentProcessId()); }

const char *plat_name() { return "windows"; }

// The C library's narrow environment is in the ANSI code page, so values
// are read as UTF-16 and kept here as UTF-8, one slot per name. A slot stays
// with its name for the rest of the process, so that every pointer handed
// out stays valid; reading the name again rereads the value into the same
// slot. The program reads about ten names; the table holds sixteen.
constexpr int ENV_SLOTS = 16;
constexpr std::size_t ENV_NAME_CAP = 64;
constexpr std::size_t ENV_VALUE_CAP = 3 * ENV_VALUE_UNITS + 1;  // UTF-8 of the longest value

struct env_slot {
  char name[ENV_NAME_CAP];
  char value[ENV_VALUE_CAP];
};

// Reads `name` into `value`. Returns false when the variable is absent. A
// value that is not valid UTF-16 reads as present and empty: never as
// absent, which would switch off the node password.
static bool read_env(const char *name, char *value) {
  wchar_t wide_name[ENV_NAME_CAP];
  static wchar_t wide_value[ENV_VALUE_UNITS + 1];
  value[0] = '\0';
  if (utf8_to_wide(name, static_cast<int>(std::strlen(name)), wide_name, ENV_NAME_CAP) < 0) {
    return false;
  }
  SetLastError(ERROR_SUCCESS);
  const DWORD n = GetEnvironmentVariableW(wide_name, wide_value, ENV_VALUE_UNITS + 1);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
  if (n > ENV_VALUE_UNITS || !wide_to_utf8(wide_value, value, ENV_VALUE_CAP)) value[0] = '\0';
  return true;
}

// The slot that belongs to `name`, taken when the name is new.
static env_slot *slot_of(const char *name) {
  static env_slot slots[ENV_SLOTS];
  static int used = 0;
  for (int i = 0; i < used; ++i) {
    if (std::strcmp(slots[i].name, name) == 0) return &slots[i];
  }
  // Running out of slots is a fault of this program, not of a request; it
  // must not read as an absent password: the process ends without a
  // response.
  if (used == ENV_SLOTS) ExitProcess(EXIT_FAILURE);
  env_slot *slot = &slots[used++];
  std::memcpy(slot->name, name, std::strlen(name) + 1);
  return slot;
}

const char *plat_getenv(const char *name) {
  if (std::strlen(name) >= ENV_NAME_CAP) return nullptr;
  env_slot *slot = slot_of(name);
  return read_env(name, slot->value) ? slot->value : nullptr;
}

// ---------------------------------------------------------------------------
// Paths

constexpr std::size_t NAME_CAP_UTF8 = 3 * MAX_PATH + 1;  // UTF-8 of the longest name

char plat_separator() { return '\\'; }

bool plat_is_separator(char c) { return c == '/' || c == '\\'; }

static bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool plat_same_path_prefix(const char *a, const char *b, std::size_t n) {
  if (n == 0) return true;
  static wchar_t wide_a[WIDE_PATH_UNITS];
  static wchar_t wide_b[WIDE_PATH_UNITS];
  const int len_a = utf8_to_wide(a, static_cast<int>(n), wide_a, WIDE_PATH_UNITS);
  const int len_b = utf8_to_wide(b, static_cast<int>(n), wide_b, WIDE_PATH_UNITS);
  if (len_a < 0 || len_b < 0) return false;
  for (int i = 0; i < len_a; ++i) {
    if (wide_a[i] == L'/') wide_a[i] = L'\\';
  }
  for (int i = 0; i < len_b; ++i) {
    if (wide_b[i] == L'/') wide_b[i] = L'\\';
  }
  // The file system's own rule: ordinal, with letter case folded.
  return CompareStringOrdinal(wide_a, len_a, wide_b, len_b, TRUE) == CSTR_EQUAL;
}

// Names that Windows takes for a device in any folder, whatever extension
// follows: "NUL.db" is the null device, not a file.
static bool is_device_name(const char *name, std::size_t len) {
  static const char *const DEVICES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  std::size_t base = 0;
  while (base < len && name[base] != '.') ++base;
  while (base > 0 && name[base - 1] == ' ') --base;
  char upper[8];
  if (base >= sizeof upper) return false;
  for (std::size_t i = 0; i < base; ++i) {
    upper[i] = static_cast<char>(name[i] >= 'a' && name[i] <= 'z' ? name[i] - 32 : name[i]);
  }
  upper[base] = '\0';
  for (const char *device : DEVICES) {
    if (std::strcmp(upper, device) == 0) return true;
  }
  // COM0 to COM9 and LPT0 to LPT9, and the superscript digits Windows also
  // maps ("COM\xc2\xb9" is COM1).
  if (base < 4 || (std::strncmp(upper, "COM", 3) != 0 && std::strncmp(upper, "LPT", 3) != 0)) {
    return false;
  }
  const char *digit = upper + 3;
  if (base == 4) return digit[0] >= '0' && digit[0] <= '9';
  return base == 5 && static_cast<unsigned char>(digit[0]) == 0xC2 &&
         (static_cast<unsigned char>(digit[1]) == 0xB9 ||
          static_cast<unsigned char>(digit[1]) == 0xB2 ||
          static_cast<unsigned char>(digit[1]) == 0xB3);
}

// True when Windows would open the component `name` (`len` bytes) as a
// file of that very name: no device name, no stream (":"), no character
// that names cannot hold, and no trailing dot or blank, which Windows
// strips so that "x.db." would open "x.db".
static bool is_plain_name(const char *name, std::size_t len) {
  if (name[len - 1] == '.' || name[len - 1] == ' ') return false;
  for (std::size_t i = 0; i < len; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) return false;
  }
  return !is_device_name(name, len);
}

// Length of the root at the start of `path`: "C:\" (3), or "\\server\share"
// with both names present. 0 when the path is not absolute in one of these
// forms: a drive-relative "C:x", a rooted "\x" without a drive, and the
// device forms "\\?\" and "\\.\" are not accepted.
static std::size_t root_length(const char *path) {
  if (is_ascii_letter(path[0]) && path[1] == ':') return plat_is_separator(path[2]) ? 3 : 0;
  if (!plat_is_separator(path[0]) || !plat_is_separator(path[1])) return 0;
  const char *server = path + 2;
  std::size_t i = 0;
  while (server[i] != '\0' && !plat_is_separator(server[i])) ++i;
  if (i == 0 || !is_plain_name(server, i) || server[i] == '\0') return 0;
  const char *share = server + i + 1;
  std::size_t j = 0;
  while (share[j] != '\0' && !plat_is_separator(share[j])) ++j;
  if (j == 0 || !is_plain_name(share, j)) return 0;
  return static_cast<std::size_t>(share + j - path);
}

// Writes the root of `path` (`len` bytes) in its one form: an upper-case
// drive letter and "\", or "\\server\share".
static std::size_t write_root(const char *path, std::size_t len, char *out) {
  for (std::size_t i = 0; i < len; ++i) out[i] = plat_is_separator(path[i]) ? '\\' : path[i];
  if (len == 3) out[0] = static_cast<char>(out[0] >= 'a' && out[0] <= 'z' ? out[0] - 32 : out[0]);
  return len;
}

char *plat_fullpath(char *out, const char *path, std::size_t cap) {
  if (path == nullptr) return nullptr;
  const std::size_t root_len = root_length(path);
  if (root_len == 0 || root_len + 1 > cap) return nullptr;
  std::size_t n = write_root(path, root_len, out);
  const std::size_t floor = n;  // ".." never rises above the root
  const bool drive_root = out[n - 1] == '\\';
  const char *p = path + root_len;
  for (;;) {
    while (plat_is_separator(*p)) ++p;
    if (*p == '\0') break;
    const char *name = p;
    while (*p != '\0' && !plat_is_separator(*p)) ++p;
    const std::size_t len = static_cast<std::size_t>(p - name);
    if (len == 1 && name[0] == '.') continue;
    if (len == 2 && name[0] == '.' && name[1] == '.') {
      while (n > floor && out[n - 1] != '\\') --n;  // drop the last component
      if (n > floor) --n;                           // and the "\" before it
      continue;
    }
    if (!is_plain_name(name, len)) return nullptr;
    const std::size_t sep = (n == floor && drive_root) ? 0 : 1;
    if (n + sep + len + 1 > cap) return nullptr;
    if (sep) out[n++] = '\\';
    std::memcpy(out + n, name, len);
    n += len;
  }
  out[n] = '\0';
  return out;
}

// `path` as Windows should open it, in `out`: an absolute path in its
// canonical form behind the "\\?\" prefix, which lifts the 260-character
// limit and stops Windows from rewriting names a second time; a relative
// path as it stands. False when an absolute-looking path has no canonical
// form (a device, a stream, a drive-relative path) or the text is not
// UTF-8.
static bool to_windows_path(const char *path, wchar_t *out) {
  static char canonical[WIDE_PATH_UNITS];
  const bool rooted = plat_is_separator(path[0]) || (is_ascii_letter(path[0]) && path[1] == ':');
  if (!rooted) {
    const std::size_t len = std::strlen(path);
    if (len == 0) return false;
    return utf8_to_wide(path, static_cast<int>(len), out, WIDE_PATH_UNITS) >= 0;
  }
  if (plat_fullpath(canonical, path, sizeof canonical) == nullptr) return false;
  const bool unc = canonical[0] == '\\';
  const wchar_t *prefix = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
  const std::size_t prefix_len = wcslen(prefix);
  wmemcpy(out, prefix, prefix_len);
  const char *rest = unc ? canonical + 1 : canonical;  // "\\server" keeps one "\"
  return utf8_to_wide(rest, static_cast<int>(std::strlen(rest)), out + prefix_len,
                      WIDE_PATH_UNITS - prefix_len) >= 0;
}

// `path` from Windows' "\\?\" form back to the ordinary one: "\\?\C:\x" is
// "C:\x" and "\\?\UNC\server\share" is "\\server\share".
static const wchar_t *strip_long_prefix(wchar_t *path) {
  if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
    path[6] = L'\\';  // "\\?\UNC\s" becomes "...\\s", read from the "\\"
    return path + 6;
  }
  if (wcsncmp(path, L"\\\\?\\", 4) == 0) return path + 4;
  return path;
}

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `path` for asking about it, not for reading: links are followed,
// and a folder opens as well as a file.
static HANDLE open_for_query(const char *path) {
  static wchar_t wide[WIDE_PATH_UNITS];
  if (!to_windows_path(path, wide)) return INVALID_HANDLE_VALUE;
  return CreateFileW(wide, 0, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

char *plat_realpath(char *out, const char *path, std::size_t cap) {
  static wchar_t final_path[WIDE_PATH_UNITS];
  const HANDLE file = open_for_query(path);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  const DWORD n = GetFinalPathNameByHandleW(file, final_path, WIDE_PATH_UNITS,
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(file);
  if (n == 0 || n >= WIDE_PATH_UNITS) return nullptr;
  return wide_to_utf8(strip_long_prefix(final_path), out, cap) ? out : nullptr;
}

// Seconds since 1970 of a FILETIME (100-ns steps since 1601).
static long long unix_seconds(const FILETIME &time) {
  constexpr long long EPOCH_DIFFERENCE_S = 11644473600LL;
  const unsigned long long ticks =
      (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<long long>(ticks / 10000000ULL) - EPOCH_DIFFERENCE_S;
}

bool plat_stat(const char *path, plat_status *out) {
  const HANDLE file = open_for_query(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  const DWORD type = GetFileType(file);
  CloseHandle(file);
  if (!known) return false;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    out->kind = PLAT_DIR;
  } else {
    out->kind = type == FILE_TYPE_DISK ? PLAT_FILE : PLAT_OTHER;
  }
  out->size = static_cast<long long>((static_cast<unsigned long long>(info.nFileSizeHigh) << 32) |
                                     info.nFileSizeLow);
  out->mtime = unix_seconds(info.ftLastWriteTime);
  out->links = static_cast<long long>(info.nNumberOfLinks);
  out->id = plat_file_id{
      info.dwVolumeSerialNumber,
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

// ---------------------------------------------------------------------------
// The guarded open of the SQLite library's files

// The error a refused open leaves: one that the library does not retry
// (it retries "access denied" and "sharing violation" for over a second).
constexpr DWORD REFUSED = ERROR_CANT_ACCESS_FILE;

// The last component of `path`, after its last separator.
static const wchar_t *last_component(const wchar_t *path) {
  const wchar_t *name = path;
  for (const wchar_t *p = path; *p; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  return name;
}

// True when `path` names an ordinary file by its name alone: not in the
// device namespace ("\\.\"), no stream (":" after the drive), and a last
// component that Windows does not take for a device.
static bool names_plain_file(const wchar_t *path) {
  if (wcsncmp(path, L"\\\\.\\", 4) == 0 || wcsncmp(path, L"\\\\?\\GLOBALROOT", 14) == 0)
    return false;
  const wchar_t *rest = wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path;
  if (rest[0] != L'\0' && rest[1] == L':') rest += 2;  // the drive's own ":"
  if (wcschr(rest, L':') != nullptr) return false;
  char name[NAME_CAP_UTF8];
  if (!wide_to_utf8(last_component(path), name, sizeof name)) return false;
  const std::size_t len = std::strlen(name);
  return len > 0 && is_plain_name(name, len);
}

// True when the open `file` is a regular file on a disk with one name, and
// no reparse point stands anywhere on `path`: its final path, every link
// and junction resolved, is `path` itself.
static bool is_single_plain_file(HANDLE file, const wchar_t *path) {
  static wchar_t final_path[WIDE_PATH_UNITS];
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)) return false;
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  if (info.nNumberOfLinks != 1) return false;
  const DWORD n = GetFinalPathNameByHandleW(file, final_path, WIDE_PATH_UNITS,
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= WIDE_PATH_UNITS) return false;
  static wchar_t requested[WIDE_PATH_UNITS];
  const std::size_t len = wcslen(path);
  if (len >= WIDE_PATH_UNITS) return false;
  wmemcpy(requested, path, len + 1);
  const wchar_t *a = strip_long_prefix(final_path);
  const wchar_t *b = strip_long_prefix(requested);
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// True when `path` ends in "-wal" or "-shm": the side files through which
// a reader shares a database with the program that is writing it.
static bool names_side_file(const wchar_t *path) {
  const std::size_t len = wcslen(path);
  return len > 4 && (CompareStringOrdinal(path + len - 4, 4, L"-wal", 4, TRUE) == CSTR_EQUAL ||
                     CompareStringOrdinal(path + len - 4, 4, L"-shm", 4, TRUE) == CSTR_EQUAL);
}

// The library's CreateFileW, guarded. Nothing is created; only the side
// files of a database that another program is writing, which exist
// already, open for writing: a reader of a live database takes its place
// in them. FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than
// what it points to, so that the test above sees it; a name that Windows
// would take for a device or a stream is refused before anything is
// opened, so that no device is ever touched.
static HANDLE WINAPI guarded_create_file(LPCWSTR path, DWORD access, DWORD share,
                                         LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                         DWORD flags, HANDLE template_file) {
  constexpr DWORD WRITING = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA |
                            FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | DELETE | WRITE_DAC |
                            WRITE_OWNER;
  const bool writes = (access & WRITING) != 0;
  if (path == nullptr || (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0 || !names_plain_file(path) ||
      (writes && !names_side_file(path))) {
    SetLastError(REFUSED);
    return INVALID_HANDLE_VALUE;
  }
  // The library asks to create its side files when they are missing; they
  // are opened only when they exist.
  if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
    SetLastError(REFUSED);
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE file = CreateFileW(path, access, share, security, OPEN_EXISTING,
                                  flags | FILE_FLAG_OPEN_REPARSE_POINT, template_file);
  if (file == INVALID_HANDLE_VALUE) return file;
  if (!is_single_plain_file(file, path)) {
    CloseHandle(file);
    SetLastError(REFUSED);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// The library's DeleteFileW: no file is ever removed.
static BOOL WINAPI refused_delete_file(LPCWSTR) {
  SetLastError(REFUSED);
  return FALSE;
}

long plat_read_head(const char *path, void *buf, std::size_t cap) {
  static wchar_t wide[WIDE_PATH_UNITS];
  if (!to_windows_path(path, wide)) return -1;
  const HANDLE file = guarded_create_file(wide, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  std::size_t got = 0;
  while (got < cap) {
    const DWORD want = static_cast<DWORD>(cap - got < 0x10000000 ? cap - got : 0x10000000);
    DWORD n = 0;
    if (!ReadFile(file, static_cast<char *>(buf) + got, want, &n, nullptr) || n == 0) break;
    got += n;
  }
  CloseHandle(file);
  return static_cast<long>(got);
}

// Where SQLite's Windows file layer keeps the "dead man" lock of a -shm
// file: every connection that has the file open holds a shared lock on
// this byte.
constexpr DWORD SHM_DEAD_MAN_BYTE = 128;

bool plat_shm_in_use(const char *path) {
  static wchar_t wide[WIDE_PATH_UNITS];
  if (!to_windows_path(path, wide)) return false;
  const HANDLE file = guarded_create_file(wide, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at{};
  at.Offset = SHM_DEAD_MAN_BYTE;
  // An exclusive lock is granted only when nobody holds a shared one.
  const bool free = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                               &at) != 0;
  if (free) UnlockFileEx(file, 0, 1, 0, &at);
  CloseHandle(file);
  return !free;
}

const char *plat_sqlite_vfs_name() { return "win32"; }

const plat_sqlite_syscall *plat_sqlite_syscalls() {
  static const plat_sqlite_syscall CALLS[] = {
      {"CreateFileW", reinterpret_cast<void (*)(void)>(guarded_create_file)},
      {"DeleteFileW", reinterpret_cast<void (*)(void)>(refused_delete_file)},
      {nullptr, nullptr},
  };
  return CALLS;
}

// ---------------------------------------------------------------------------
// The watchdog
//
// Windows has no signal that could interrupt the main line, so the body of
// plat_run_cuttable runs on a worker thread while the calling thread waits
// for it. A watchdog thread calls `on_soft` from the soft deadline on and,
// at the hard deadline, wakes the waiting thread, which suspends the worker
// and looks whether it is inside a marked stretch. If it is, the worker
// stays suspended for good (its SQLite state is abandoned with the
// connection) and plat_run_cuttable returns false; if not, it is resumed
// and marks its next stretch itself. A call stuck in a read of a slow or
// hung file is cut the same way: the suspended worker is simply never
// waited for again. Outside the marked stretches nothing intervenes, so
// the program's own state (the output stream above all) is whole when the
// caller goes on; plat_exit_now then ends the process without running
// anything that could wait on what the worker holds (the heap's lock, for
// one).

namespace {

// An 8 MB stack, as the main thread of a POSIX build has.
constexpr SIZE_T WORKER_STACK_BYTES = 8u << 20;

std::atomic<int> g_armed{0};
std::atomic<long long> g_soft_at{0};
std::atomic<long long> g_hard_at{0};
std::atomic<long long> g_end_at{0};
std::atomic<plat_alarm_fn> g_on_soft{nullptr};
std::atomic<int> g_hard_passed{0};  // the hard deadline has come
std::atomic<int> g_in_stretch{0};   // the worker is inside a marked stretch
std::atomic<int> g_gave_up{0};      // the worker found the hard deadline passed
std::atomic<DWORD> g_worker_id{0};  // the thread running the body, 0 when none
HANDLE g_wake_watchdog = nullptr;   // the arming changed
HANDLE g_wake_waiter = nullptr;     // the hard deadline has passed, or the worker gave up

// The watchdog thread: sleeps until the soft deadline, then ticks.
DWORD WINAPI watchdog_main(void *) {
  for (;;) {
    DWORD wait = INFINITE;
    if (g_armed.load() != 0) {
      const long long now = plat_ticks_ms();
      const long long soft_at = g_soft_at.load();
      if (now >= soft_at) {
        const plat_alarm_fn on_soft = g_on_soft.load();
        if (on_soft != nullptr) on_soft();
        if (now >= g_hard_at.load()) {
          g_hard_passed.store(1);
          SetEvent(g_wake_waiter);
        }
        // Nothing else may run in the process now: the main line holds the
        // stream's lock while it waits for the host.
        if (now >= g_end_at.load() && g_in_output.load() != 0) {
          TerminateProcess(GetCurrentProcess(), 0);
        }
        wait = PLAT_WATCHDOG_TICK_MS;
      } else {
        wait = static_cast<DWORD>(soft_at - now);
      }
    }
    WaitForSingleObject(g_wake_watchdog, wait);
  }
}

// Starts the watchdog thread once per process.
bool watchdog_thread_running() {
  static int running = -1;
  if (running >= 0) return running == 1;
  g_wake_watchdog = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_wake_waiter = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE thread = nullptr;
  if (g_wake_watchdog != nullptr && g_wake_waiter != nullptr) {
    thread = CreateThread(nullptr, 0, watchdog_main, nullptr, 0, nullptr);
  }
  running = thread != nullptr ? 1 : 0;
  if (thread != nullptr) CloseHandle(thread);  // it runs until the process ends
  return running == 1;
}

struct cuttable_call {
  void (*body)(void *);
  void *arg;
};

DWORD WINAPI worker_main(void *param) {
  const cuttable_call *call = static_cast<const cuttable_call *>(param);
  call->body(call->arg);
  return 0;
}

// True when the suspended worker is inside a marked stretch, or gave up.
bool worker_may_be_left() { return g_in_stretch.load() != 0 || g_gave_up.load() != 0; }

}  // namespace

bool plat_watchdog_arm(long long soft_at_ms, long long hard_at_ms, long long end_at_ms,
                       plat_alarm_fn on_soft) {
  if (!watchdog_thread_running()) return false;
  g_soft_at.store(soft_at_ms);
  g_hard_at.store(hard_at_ms);
  g_end_at.store(end_at_ms);
  g_on_soft.store(on_soft);
  g_hard_passed.store(0);
  g_armed.store(1);
  SetEvent(g_wake_watchdog);
  return true;
}

void plat_watchdog_disarm() {
  g_armed.store(0);
  // A tick that read `g_armed` before the store may still be running; the
  // caller's `on_soft` only stores a flag, which it clears when it arms again.
  if (g_wake_watchdog != nullptr) SetEvent(g_wake_watchdog);
}

bool plat_run_cuttable(void (*body)(void *), void *arg) {
  cuttable_call call{body, arg};
  g_in_stretch.store(0);
  g_gave_up.store(0);
  DWORD worker_id = 0;
  const HANDLE worker = CreateThread(nullptr, WORKER_STACK_BYTES, worker_main, &call,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, &worker_id);
  if (worker == nullptr) {
    // No thread to cut: the body runs here, within the caller's own checks.
    body(arg);
    return true;
  }
  g_worker_id.store(worker_id);
  const HANDLE waits[2] = {worker, g_wake_waiter != nullptr ? g_wake_waiter : worker};
  for (;;) {
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0) break;  // the body returned
    // The event may still be set by a tick of an earlier arming that ran
    // after its run ended; only a deadline that has passed for this run, or
    // a worker that gave up, cuts anything.
    if (g_hard_passed.load() == 0 && g_gave_up.load() == 0) continue;
    if (SuspendThread(worker) == static_cast<DWORD>(-1)) continue;
    if (worker_may_be_left()) {
      // The watchdog stays armed: the response still has to reach the host.
      g_worker_id.store(0);
      CloseHandle(worker);  // the thread stays suspended until the process ends
      return false;
    }
    ResumeThread(worker);
  }
  g_worker_id.store(0);
  CloseHandle(worker);
  return true;
}

void plat_cut_begin() {
  g_in_stretch.store(1);
  if (g_hard_passed.load() != 0 && GetCurrentThreadId() == g_worker_id.load()) {
    // Past the hard deadline already: hand over to the waiting thread and
    // stop here for good.
    g_gave_up.store(1);
    SetEvent(g_wake_waiter);
    SuspendThread(GetCurrentThread());
  }
}

void plat_cut_end() { g_in_stretch.store(0); }

void plat_exit_now(int status) {
  plat_out_flush();
  // No exit handler and no DLL detach: they could wait for a lock that the
  // abandoned worker holds.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  ExitProcess(static_cast<UINT>(status));  // not reached: TerminateProcess ends this thread too
}

// ---------------------------------------------------------------------------
// Directory listing

// Listings come from a fixed pool: the walk holds one per level, at most
// five at once.
constexpr int DIR_POOL = 16;

struct plat_dir {
  bool in_use;
  HANDLE find;
  bool have_entry;  // `data` holds an entry not yet handed out
  WIN32_FIND_DATAW data;
  char name[NAME_CAP_UTF8];
};

plat_dir *plat_dir_open(const char *path) {
  static plat_dir pool[DIR_POOL];
  static wchar_t pattern[WIDE_PATH_UNITS];
  plat_dir *dir = nullptr;
  for (plat_dir &slot : pool) {
    if (!slot.in_use) {
      dir = &slot;
      break;
    }
  }
  if (dir == nullptr || !to_windows_path(path, pattern)) return nullptr;
  const std::size_t len = wcslen(pattern);
  if (len + 3 > WIDE_PATH_UNITS) return nullptr;
  wcscpy(pattern + len, pattern[len - 1] == L'\\' ? L"*" : L"\\*");
  dir->find = FindFirstFileExW(pattern, FindExInfoBasic, &dir->data, FindExSearchNameMatch, nullptr,
                               FIND_FIRST_EX_LARGE_FETCH);
  if (dir->find == INVALID_HANDLE_VALUE) return nullptr;
  dir->in_use = true;
  dir->have_entry = true;
  return dir;
}

// Symbolic links, junctions and every other reparse point are links: what
// they lead to is found out by following them.
static plat_kind kind_of_attributes(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PLAT_LINK;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PLAT_DIR;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PLAT_OTHER;
  return PLAT_FILE;
}

bool plat_dir_next(plat_dir *dir, plat_dir_entry *out) {
  for (;;) {
    if (!dir->have_entry && !FindNextFileW(dir->find, &dir->data)) return false;
    dir->have_entry = false;
    // A name that is not valid UTF-16 cannot be written as UTF-8 and is
    // passed over.
    if (!wide_to_utf8(dir->data.cFileName, dir->name, NAME_CAP_UTF8)) continue;
    out->name = dir->name;
    out->kind = kind_of_attributes(dir->data.dwFileAttributes);
    return true;
  }
}

void plat_dir_close(plat_dir *dir) {
  if (dir == nullptr) return;
  FindClose(dir->find);
  dir->in_use = false;
}
