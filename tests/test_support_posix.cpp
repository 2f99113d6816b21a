// The tests' helpers on POSIX: processes, files and the environment.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "output_sink.h"
#include "test_support.h"

static long long now_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Reads both pipes to their end. Returns false when `deadline_ms` (0: none)
// came first.
static bool drain(int out_fd, int err_fd, output_sink &out, std::string &err,
                  long long deadline_ms) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  int open_count = (out_fd >= 0 ? 1 : 0) + (err_fd >= 0 ? 1 : 0);
  static char buf[1 << 20];
  while (open_count > 0) {
    int wait_ms = -1;
    if (deadline_ms > 0) {
      wait_ms = static_cast<int>(deadline_ms - now_ms());
      if (wait_ms <= 0) {
        for (pollfd &p : fds) {
          if (p.fd >= 0) close(p.fd);
        }
        return false;
      }
    }
    const int ready = poll(fds, 2, wait_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        if (i == 0) {
          out.add(buf, static_cast<size_t>(n));
        } else {
          err.append(buf, static_cast<size_t>(n));
        }
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  return true;
}

// The parent's end of the child's standard input: a pipe's write end or a
// terminal's master side, kept until the run ends; -1 when there is none.
struct stdin_source {
  int child_fd = -1;   // becomes the child's standard input; -1 closes it
  int parent_fd = -1;  // held by the parent
};

static stdin_source open_stdin_source(const stdin_feed &input) {
  stdin_source src;
  switch (input.kind) {
    case stdin_feed::DEV_NULL: src.child_fd = open("/dev/null", O_RDONLY); break;
    case stdin_feed::CLOSED: break;
    case stdin_feed::BYTES:
    case stdin_feed::BYTES_HELD_OPEN:
    case stdin_feed::BYTES_LATE: {
      int fds[2];
      if (pipe(fds) != 0) throw std::runtime_error("pipe");
      if (input.kind != stdin_feed::BYTES_LATE &&
          write(fds[1], input.bytes.data(), input.bytes.size()) !=
              static_cast<ssize_t>(input.bytes.size()))
        throw std::runtime_error("stdin bytes do not fit the pipe");
      src.child_fd = fds[0];
      src.parent_fd = fds[1];
      break;
    }
    case stdin_feed::TERMINAL: {
      src.parent_fd = posix_openpt(O_RDWR | O_NOCTTY);
      if (src.parent_fd < 0 || grantpt(src.parent_fd) != 0 || unlockpt(src.parent_fd) != 0)
        throw std::runtime_error("pseudo-terminal");
      src.child_fd = open(ptsname(src.parent_fd), O_RDWR | O_NOCTTY);
      if (src.child_fd < 0) throw std::runtime_error("pseudo-terminal slave");
      break;
    }
  }
  if (input.kind == stdin_feed::BYTES) {
    close(src.parent_fd);  // the input ends after its bytes
    src.parent_fd = -1;
  }
  return src;
}

run_result run_plugin(const std::vector<std::string> &env, const std::vector<std::string> &args,
                      const run_limits &limits, const stdin_feed &input) {
  std::vector<char *> argv;
  std::string program = PLUGIN_SQLITE_BIN;
  argv.push_back(program.data());
  std::vector<std::string> arg_copy = args;
  for (auto &a : arg_copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_copy = env;
  // The sanitizer runtime of the test build reads its options from the
  // environment; pass them through so that a finding fails the test.
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char *v = std::getenv(name)) env_copy.push_back(std::string(name) + "=" + v);
  }
  std::vector<char *> envp;
  for (auto &e : env_copy) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe");
  const stdin_source source = open_stdin_source(input);
  const long long start = now_ms();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    if (source.child_fd >= 0) {
      dup2(source.child_fd, 0);
    } else {
      close(0);
    }
    if (source.parent_fd >= 0) close(source.parent_fd);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (source.child_fd >= 0) close(source.child_fd);
  std::thread late_writer;
  if (input.kind == stdin_feed::BYTES_LATE) {
    late_writer = std::thread([&input, fd = source.parent_fd] {
      std::this_thread::sleep_for(std::chrono::milliseconds(input.late_ms));
      if (write(fd, input.bytes.data(), input.bytes.size()) < 0) std::perror("late stdin");
      close(fd);
    });
  }
  run_result result;
  output_sink out{limits.keep_ends};
  const long long deadline = limits.timeout_ms > 0 ? start + limits.timeout_ms : 0;
  std::atomic<bool> ended{false};
  std::thread throttle;
  if (limits.cycle_ms > 0) {
    throttle = std::thread([&] {
      using std::chrono::milliseconds;
      while (!ended.load()) {
        std::this_thread::sleep_for(milliseconds(limits.running_ms));
        kill(pid, SIGSTOP);
        std::this_thread::sleep_for(milliseconds(limits.cycle_ms - limits.running_ms));
        kill(pid, SIGCONT);
      }
    });
  }
  const bool drained = drain(limits.never_read_out ? -1 : out_pipe[0], err_pipe[0], out, result.err, deadline);
  ended.store(true);
  if (throttle.joinable()) throttle.join();
  if (!drained) {
    kill(pid, SIGKILL);
    result.timed_out = true;
  }
  int wstatus = 0;
  rusage usage{};
  if (wait4(pid, &wstatus, 0, &usage) == pid) result.max_rss_kib = usage.ru_maxrss;
  if (limits.never_read_out) close(out_pipe[0]);
  if (late_writer.joinable()) {
    late_writer.join();
  } else if (source.parent_fd >= 0) {
    close(source.parent_fd);
  }
  result.elapsed_ms = now_ms() - start;
  result.status = WIFEXITED(wstatus) && !result.timed_out ? WEXITSTATUS(wstatus) : -1;
  result.out = out.kept();
  result.out_bytes = out.bytes;
  return result;
}

scratch_dir::scratch_dir() {
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/plugin_sqlite_test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

scratch_dir::~scratch_dir() {
  const std::string cmd = "rm -rf '" + path_ + "'";
  if (std::system(cmd.c_str()) != 0) std::perror("rm");
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void make_dirs(const std::string &path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      const std::string part = path.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("mkdir " + part);
    }
  }
}

const char *const EXPECTED_PLATFORM = "linux";

char path_separator() { return '/'; }

std::string native_path(const std::string &path) { return path; }

bool under_wine() { return false; }

void set_env(const std::string &name, const std::string &value) {
  setenv(name.c_str(), value.c_str(), 1);
}

void unset_env(const std::string &name) { unsetenv(name.c_str()); }

void make_hardlink(const std::string &target, const std::string &link) {
  if (::link(target.c_str(), link.c_str()) != 0) throw std::runtime_error("link " + link);
}

bool make_symlink(const std::string &target, const std::string &link) {
  return symlink(target.c_str(), link.c_str()) == 0;
}

void set_mtime(const std::string &path, long long secs) {
  const timespec times[2] = {{static_cast<time_t>(secs), 0}, {static_cast<time_t>(secs), 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) throw std::runtime_error("utimensat");
}

void set_size(const std::string &path, long long bytes) {
  if (truncate(path.c_str(), static_cast<off_t>(bytes)) != 0) throw std::runtime_error("truncate");
}

std::set<std::string> list_names(const std::string &path) {
  std::set<std::string> names;
  if (DIR *d = opendir(path.c_str())) {
    while (const dirent *e = readdir(d)) names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

std::string current_dir() {
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) throw std::runtime_error("getcwd");
  return cwd;
}

void change_dir(const std::string &path) {
  if (chdir(path.c_str()) != 0) throw std::runtime_error("chdir " + path);
}
