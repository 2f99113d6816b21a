// The tests' helpers on Windows: processes, files and the environment. The
// tests speak UTF-8; Windows is spoken to in UTF-16.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "output_sink.h"
#include "test_support.h"

namespace {

std::wstring wide(const std::string &text) {
  if (text.empty()) return std::wstring();
  // Bytes that are not UTF-8 become U+FFFD: the tests hand such bytes to
  // the program on purpose, and Windows can carry no other form of them.
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string utf8(const std::wstring &text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

// The plug-in is built beside the test program.
std::wstring plugin_path() {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"plugin_sqlite.exe";
}

// One command-line argument as the C runtime splits them apart again.
std::wstring quoted(const std::wstring &arg) {
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

// Reads `pipe` to its end into `sink`.
void drain_err(HANDLE pipe, std::string *sink) {
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) sink->append(buf, n);
}

void drain_out(HANDLE pipe, output_sink *sink) {
  static char buf[1 << 20];
  DWORD n = 0;
  while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) sink->add(buf, n);
}

struct pipe_pair {
  HANDLE read = nullptr, write = nullptr;
};

pipe_pair inheritable_pipe() {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  pipe_pair p;
  if (!CreatePipe(&p.read, &p.write, &sa, 0)) throw std::runtime_error("CreatePipe");
  SetHandleInformation(p.read, HANDLE_FLAG_INHERIT, 0);  // only the child's end is inherited
  return p;
}

// The child's standard input for `input`, and the parent's end of its pipe
// (null when there is none), kept until the run ends.
struct stdin_source {
  HANDLE child = nullptr;
  HANDLE parent = nullptr;
};

stdin_source open_stdin_source(const stdin_feed &input) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  stdin_source src;
  switch (input.kind) {
    case stdin_feed::DEV_NULL:
      src.child = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                              OPEN_EXISTING, 0, nullptr);
      break;
    case stdin_feed::CLOSED: break;
    case stdin_feed::BYTES:
    case stdin_feed::BYTES_HELD_OPEN:
    case stdin_feed::BYTES_LATE: {
      HANDLE read_end = nullptr, write_end = nullptr;
      if (!CreatePipe(&read_end, &write_end, &sa, 1 << 16)) throw std::runtime_error("CreatePipe");
      SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
      DWORD written = 0;
      if (input.kind != stdin_feed::BYTES_LATE && !input.bytes.empty() &&
          (!WriteFile(write_end, input.bytes.data(), static_cast<DWORD>(input.bytes.size()),
                      &written, nullptr) ||
           written != input.bytes.size()))
        throw std::runtime_error("stdin bytes do not fit the pipe");
      src.child = read_end;
      src.parent = write_end;
      break;
    }
    case stdin_feed::TERMINAL:
      // The console when there is one, else the null device: both are
      // character devices, which is what tells a person at a keyboard.
      src.child = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
      if (src.child == INVALID_HANDLE_VALUE) {
        src.child = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                OPEN_EXISTING, 0, nullptr);
      }
      break;
  }
  if (input.kind == stdin_feed::BYTES) {
    CloseHandle(src.parent);  // the input ends after its bytes
    src.parent = nullptr;
  }
  return src;
}

// Under load, Wine now and then fails a process start with
// ERROR_INTERNAL_ERROR from its own server, before the program has run at
// all; such a start is tried again. Any other failure is reported at once.
BOOL start_process(const std::wstring &program, std::wstring &command, std::wstring &block,
                   STARTUPINFOW *si, PROCESS_INFORMATION *pi) {
  constexpr int ATTEMPTS = 3;
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, &block[0], nullptr, si, pi))
      return TRUE;
    if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == ATTEMPTS) return FALSE;
    Sleep(50);
  }
}

}  // namespace

run_result run_plugin(const std::vector<std::string> &env, const std::vector<std::string> &args,
                      const run_limits &limits, const stdin_feed &input) {
  std::wstring block;
  for (const std::string &entry : env) block += wide(entry) + L'\0';
  block += L'\0';
  const std::wstring program = plugin_path();
  std::wstring command = quoted(program);
  for (const std::string &arg : args) command += L" " + quoted(wide(arg));

  const pipe_pair out = inheritable_pipe();
  const pipe_pair err = inheritable_pipe();
  const stdin_source source = open_stdin_source(input);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = source.child;
  si.hStdOutput = out.write;
  si.hStdError = err.write;
  PROCESS_INFORMATION pi{};
  const ULONGLONG start = GetTickCount64();
  const BOOL started = start_process(program, command, block, &si, &pi);
  CloseHandle(out.write);
  CloseHandle(err.write);
  if (source.child != nullptr && source.child != INVALID_HANDLE_VALUE) CloseHandle(source.child);
  if (!started) {
    CloseHandle(out.read);
    CloseHandle(err.read);
    throw std::runtime_error("CreateProcessW failed: " + std::to_string(GetLastError()));
  }
  std::thread late_writer;
  if (input.kind == stdin_feed::BYTES_LATE) {
    late_writer = std::thread([&input, pipe = source.parent] {
      Sleep(static_cast<DWORD>(input.late_ms));
      DWORD written = 0;
      WriteFile(pipe, input.bytes.data(), static_cast<DWORD>(input.bytes.size()), &written,
                nullptr);
      CloseHandle(pipe);
    });
  }
  run_result result;
  output_sink sink{limits.keep_ends};
  std::thread out_reader;
  if (!limits.never_read_out) out_reader = std::thread(drain_out, out.read, &sink);
  std::thread err_reader(drain_err, err.read, &result.err);
  const DWORD wait = limits.timeout_ms > 0 ? static_cast<DWORD>(limits.timeout_ms) : INFINITE;
  if (WaitForSingleObject(pi.hProcess, wait) == WAIT_TIMEOUT) {
    // The pipes close with the process, and the readers end.
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, INFINITE);
    result.timed_out = true;
  }
  result.elapsed_ms = static_cast<long long>(GetTickCount64() - start);
  if (out_reader.joinable()) out_reader.join();
  err_reader.join();
  CloseHandle(out.read);
  CloseHandle(err.read);
  DWORD code = 0;
  result.status =
      GetExitCodeProcess(pi.hProcess, &code) && !result.timed_out ? static_cast<int>(code) : -1;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (late_writer.joinable()) {
    late_writer.join();
  } else if (source.parent != nullptr) {
    CloseHandle(source.parent);
  }
  result.out = sink.kept();
  result.out_bytes = sink.bytes;
  return result;
}

const char *const EXPECTED_PLATFORM = "windows";

char path_separator() { return '\\'; }

std::string native_path(const std::string &path) {
  std::string out = path;
  for (char &c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

bool under_wine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

scratch_dir::scratch_dir() {
  wchar_t temp[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH) throw std::runtime_error("GetTempPathW");
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring candidate = std::wstring(temp) + L"plugin_sqlite_test." +
                                   std::to_wstring(GetCurrentProcessId()) + L"." +
                                   std::to_wstring(counter++);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      // The long form of the folder: the program reports real locations.
      wchar_t full[4096];
      const DWORD len = GetLongPathNameW(candidate.c_str(), full, 4096);
      path_ = utf8(len > 0 && len < 4096 ? std::wstring(full, len) : candidate);
      return;
    }
  }
  throw std::runtime_error("no scratch directory");
}

// Removes `path` and, when it is a folder, everything in it. A link is
// removed, never followed.
static void remove_tree(const std::wstring &path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") remove_tree(path + L"\\" + name);
      } while (FindNextFileW(find, &data));
      FindClose(find);
    }
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (folder) {
    RemoveDirectoryW(path.c_str());
  } else {
    DeleteFileW(path.c_str());
  }
}

scratch_dir::~scratch_dir() { remove_tree(L"\\\\?\\" + wide(path_)); }

// Paths longer than the 260-character limit are reached through "\\?\",
// which takes a full path written with "\".
static std::wstring long_path(const std::string &path) {
  const std::wstring w = wide(native_path(path));
  const bool full = w.size() > 2 && w[1] == L':' && w[2] == L'\\';
  return full ? L"\\\\?\\" + w : w;
}

void write_file(const std::string &path, const std::string &bytes) {
  std::FILE *f = _wfopen(long_path(path).c_str(), L"wb");
  if (f == nullptr) throw std::runtime_error("cannot write " + path);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string &path) {
  std::string out;
  std::FILE *f = _wfopen(long_path(path).c_str(), L"rb");
  if (f == nullptr) return out;
  char buf[65536];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

void make_dirs(const std::string &path) {
  const std::string native = native_path(path);
  for (std::size_t i = 3; i <= native.size(); ++i) {
    if (i == native.size() || native[i] == '\\') {
      const std::wstring part = long_path(native.substr(0, i));
      if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw std::runtime_error("mkdir " + native.substr(0, i));
    }
  }
}

void set_env(const std::string &name, const std::string &value) {
  // An empty value must stay present: SetEnvironmentVariableW keeps it.
  SetEnvironmentVariableW(wide(name).c_str(), wide(value).c_str());
}

void unset_env(const std::string &name) { SetEnvironmentVariableW(wide(name).c_str(), nullptr); }

void make_hardlink(const std::string &target, const std::string &link) {
  if (!CreateHardLinkW(long_path(link).c_str(), long_path(target).c_str(), nullptr))
    throw std::runtime_error("link " + link);
}

bool make_symlink(const std::string &target, const std::string &link) {
  const std::wstring target_w = wide(native_path(target));
  const DWORD target_attributes = GetFileAttributesW(target_w.c_str());
  DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (target_attributes != INVALID_FILE_ATTRIBUTES &&
      (target_attributes & FILE_ATTRIBUTE_DIRECTORY))
    flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
  const std::wstring link_w = wide(native_path(link));
  if (!CreateSymbolicLinkW(link_w.c_str(), target_w.c_str(), flags)) return false;
  // Wine answers success and makes nothing: only a link that is there counts.
  const DWORD attributes = GetFileAttributesW(link_w.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void set_mtime(const std::string &path, long long secs) {
  const HANDLE file = CreateFileW(long_path(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("open " + path);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(secs) + 11644473600ULL) * 10000000ULL;
  FILETIME time{static_cast<DWORD>(ticks & 0xffffffffu), static_cast<DWORD>(ticks >> 32)};
  const BOOL set = SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  if (!set) throw std::runtime_error("SetFileTime " + path);
}

void set_size(const std::string &path, long long bytes) {
  const HANDLE file =
      CreateFileW(long_path(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("open " + path);
  LARGE_INTEGER size;
  size.QuadPart = bytes;
  const BOOL set = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  if (!set) throw std::runtime_error("SetEndOfFile " + path);
}

std::set<std::string> list_names(const std::string &path) {
  std::set<std::string> names;
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW((long_path(path) + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.insert(utf8(data.cFileName));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

std::string current_dir() {
  wchar_t cwd[4096];
  const DWORD n = GetCurrentDirectoryW(4096, cwd);
  if (n == 0 || n >= 4096) throw std::runtime_error("GetCurrentDirectoryW");
  return utf8(std::wstring(cwd, n));
}

void change_dir(const std::string &path) {
  if (!SetCurrentDirectoryW(wide(path).c_str())) throw std::runtime_error("chdir " + path);
}
