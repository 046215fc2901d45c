// Starting programs for the tests: pipes for both outputs, an optional
// time limit, and the peak memory of a child measured through a spawner.
#include "support/run_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {

struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (::pipe2(fd, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  }
  ~Pipe() {
    close_read();
    close_write();
  }
  void close_read() {
    if (fd[0] >= 0) ::close(fd[0]);
    fd[0] = -1;
  }
  void close_write() {
    if (fd[1] >= 0) ::close(fd[1]);
    fd[1] = -1;
  }
};

using Clock = std::chrono::steady_clock;

// Reads both pipes until each reaches its end, whichever fills first. Past
// `deadline` (when given) the process group `group` is killed and reading
// goes on until the pipes close; returns whether that happened.
bool drain(Pipe& out, Pipe& err, std::string& out_text, std::string& err_text,
           const Clock::time_point* deadline, pid_t group) {
  char buf[65536];
  bool killed = false;
  while (out.fd[0] >= 0 || err.fd[0] >= 0) {
    int wait_ms = -1;
    if (deadline != nullptr && !killed) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
      wait_ms = left.count() > 0 ? int(left.count()) + 1 : 0;
    }
    pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
    int r = ::poll(fds, 2, wait_ms);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    if (r == 0) {
      if (deadline != nullptr && !killed && Clock::now() >= *deadline) {
        ::kill(-group, SIGKILL);
        killed = true;
      }
      continue;
    }
    Pipe* pipes[2] = {&out, &err};
    std::string* texts[2] = {&out_text, &err_text};
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        pipes[i]->close_read();
      else
        texts[i]->append(buf, size_t(n));
    }
  }
  return killed;
}

std::vector<char*> pointers_to(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (auto& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  return status;
}

void set_status(ProgramResult& result, int status) {
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.status = -1;
    result.signal = WTERMSIG(status);
  }
}

// How a child is started: the file to execute with its argv and
// environment, and the descriptors it gets besides the standard three.
struct Launch {
  std::string file;
  std::vector<std::string> argv;
  std::vector<std::string> env;  // empty: this process's environment
  std::string cwd;
  bool own_group = false;  // in a process group of its own, killed as a whole
  int report_fd = -1;      // handed to the child as descriptor 3
};

pid_t start(Launch& l, Pipe& out, Pipe& err) {
  std::vector<char*> argv = pointers_to(l.argv);
  std::vector<char*> envp = pointers_to(l.env);
  char** env = l.env.empty() ? environ : envp.data();
  std::fflush(nullptr);
  // posix_spawn, not fork: copying the page tables of a sanitized test
  // binary costs tens of milliseconds per child, which the database and
  // hostile-input tests pay a thousand times.
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) throw std::runtime_error("spawn setup failed");
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    throw std::runtime_error("spawn setup failed");
  }
  bool ok = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
            posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1) == 0 &&
            posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2) == 0;
  // dup2 onto itself would keep close-on-exec; go through a spare number.
  if (ok && l.report_fd == 3) {
    ok = posix_spawn_file_actions_adddup2(&actions, 3, 100) == 0 &&
         posix_spawn_file_actions_adddup2(&actions, 100, 3) == 0 &&
         posix_spawn_file_actions_addclose(&actions, 100) == 0;
  } else if (ok && l.report_fd >= 0) {
    ok = posix_spawn_file_actions_adddup2(&actions, l.report_fd, 3) == 0;
  }
  if (ok && !l.cwd.empty()) ok = posix_spawn_file_actions_addchdir_np(&actions, l.cwd.c_str()) == 0;
  if (ok && l.own_group)
    ok = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP) == 0 &&
         posix_spawnattr_setpgroup(&attr, 0) == 0;
  pid_t pid = -1;
  int spawned = ok ? posix_spawn(&pid, l.file.c_str(), &actions, &attr, argv.data(), env) : -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (!ok) throw std::runtime_error("spawn setup failed");
  out.close_write();
  err.close_write();
  // A program that cannot be started ends as a child that could not exec.
  if (spawned != 0) return -spawned;
  return pid;
}

// The spawner: started with this variable set (to the memory limit), this
// test binary runs the program named by its arguments as its own child,
// waits for it and writes "status signal peak_kb" to descriptor 3. This
// happens during static initialisation, before any test.
constexpr const char* kSpawnerVariable = "SHEETDUMP_TEST_SPAWNER";

std::string read_whole(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

[[noreturn]] void run_as_spawner([[maybe_unused]] long memory_limit) {
  std::string cmdline = read_whole("/proc/self/cmdline");
  std::vector<std::string> strings;
  for (size_t at = 0; at < cmdline.size();) {
    size_t end = cmdline.find('\0', at);
    if (end == std::string::npos) end = cmdline.size();
    strings.push_back(cmdline.substr(at, end - at));
    at = end + 1;
  }
  if (strings.size() < 2) ::_exit(127);
  strings.erase(strings.begin());
  std::vector<char*> argv = pointers_to(strings);
  pid_t pid = ::fork();
  if (pid < 0) ::_exit(127);
  if (pid == 0) {
    ::close(3);
#if !defined(__SANITIZE_ADDRESS__)
    struct rlimit lim {};
    lim.rlim_cur = lim.rlim_max = rlim_t(memory_limit);
    ::setrlimit(RLIMIT_AS, &lim);
#endif
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) ::_exit(127);
  }
  char report[96];
  int n = std::snprintf(report, sizeof report, "%d %d %ld\n",
                        WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                        WIFSIGNALED(status) ? WTERMSIG(status) : 0, usage.ru_maxrss);
  if (::write(3, report, size_t(n)) != n) ::_exit(127);
  ::_exit(0);
}

[[maybe_unused]] const bool kIsSpawner = [] {
  if (const char* limit = std::getenv(kSpawnerVariable)) run_as_spawner(std::atol(limit));
  return false;
}();

}  // namespace

ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& argv0, const std::string& cwd) {
  Launch l;
  l.file = program;
  l.argv.push_back(argv0.empty() ? program : argv0);
  l.argv.insert(l.argv.end(), args.begin(), args.end());
  l.cwd = cwd;
  Pipe out, err;
  pid_t pid = start(l, out, err);
  ProgramResult result;
  if (pid < 0) {
    result.status = 127;
    return result;
  }
  drain(out, err, result.out, result.err, nullptr, pid);
  set_status(result, wait_for(pid));
  return result;
}

ProgramResult run_program_limited(const std::string& program, const std::vector<std::string>& args,
                                  const RunLimits& limits) {
  const bool measure = limits.memory_limit_bytes > 0;
  Launch l;
  l.own_group = true;
  if (measure) {
    l.file = "/proc/self/exe";
    l.argv = {"test-spawner", program};
    l.env.push_back(std::string(kSpawnerVariable) + "=" +
                    std::to_string(limits.memory_limit_bytes));
    for (char** e = environ; *e != nullptr; ++e) l.env.emplace_back(*e);
  } else {
    l.file = program;
    l.argv = {program};
  }
  l.argv.insert(l.argv.end(), args.begin(), args.end());

  Pipe out, err, report;
  if (measure) l.report_fd = report.fd[1];
  auto deadline = Clock::now() + std::chrono::seconds(limits.time_limit_seconds);
  pid_t pid = start(l, out, err);
  report.close_write();
  ProgramResult result;
  if (pid < 0) {
    result.status = 127;
    return result;
  }
  result.timed_out = drain(out, err, result.out, result.err,
                           limits.time_limit_seconds > 0 ? &deadline : nullptr, pid);
  int status = wait_for(pid);
  if (result.timed_out) return result;
  if (!measure) {
    set_status(result, status);
    return result;
  }
  // The spawner's report: a few bytes, written before it ended.
  char text[96] = {};
  ssize_t got = ::read(report.fd[0], text, sizeof text - 1);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || got <= 0 ||
      std::sscanf(text, "%d %d %ld", &result.status, &result.signal, &result.peak_rss_kb) != 3)
    throw std::runtime_error("the spawner of " + program + " failed");
  return result;
}

ProgramResult run_sheetdump(const std::vector<std::string>& args) {
  return run_program(SHEETDUMP_BINARY, args);
}

ProgramResult run_sheetdump_limited(const std::vector<std::string>& args, const RunLimits& limits) {
  return run_program_limited(SHEETDUMP_BINARY, args, limits);
}

namespace {

// One directory per test process, removed when the process ends.
struct TempRoot {
  std::string path;
  pid_t owner = ::getpid();
  TempRoot() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/sheetdump-tests-XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path = tmpl;
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;
  ~TempRoot() {
    // Forked children (death tests) leave the directory to their parent.
    if (::getpid() == owner) {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  }
};

const std::string& temp_root() {
  static TempRoot root;
  return root.path;
}

}  // namespace

std::string write_temp_file(const std::string& name, const std::vector<unsigned char>& bytes) {
  // Each file gets a directory of its own, so names may repeat across
  // tests and a path keeps the name it was given.
  static std::atomic<unsigned> counter{0};
  std::string dir = temp_root() + "/" + std::to_string(counter++);
  std::string path = dir + "/" + name;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  f.close();
  if (!f) throw std::runtime_error("cannot write " + path);
  return path;
}

}  // namespace testsupport
