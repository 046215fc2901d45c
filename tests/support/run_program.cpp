#include "support/run_program.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

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

// Reads both pipes until each reaches its end, whichever fills first.
void drain(Pipe& out, Pipe& err, std::string& out_text, std::string& err_text) {
  char buf[65536];
  while (out.fd[0] >= 0 || err.fd[0] >= 0) {
    pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
    int r = ::poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
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
}

}  // namespace

ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& argv0, const std::string& cwd) {
  // Everything the child needs is prepared before fork: after it, the
  // child only calls async-signal-safe functions.
  std::vector<std::string> strings;
  strings.push_back(argv0.empty() ? program : argv0);
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  Pipe out, err;
  std::fflush(nullptr);
  // posix_spawn, not fork: copying the page tables of a sanitized test
  // binary costs tens of milliseconds per child, which the database tests
  // pay a thousand times.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) throw std::runtime_error("spawn setup failed");
  bool ok = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
            posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1) == 0 &&
            posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2) == 0 &&
            (cwd.empty() || posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str()) == 0);
  pid_t pid = -1;
  int spawned = ok ? posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                   : -1;
  posix_spawn_file_actions_destroy(&actions);
  if (!ok) throw std::runtime_error("spawn setup failed");
  if (spawned != 0) {
    // As a child that could not exec: status 127.
    ProgramResult failed;
    failed.status = 127;
    return failed;
  }
  out.close_write();
  err.close_write();

  ProgramResult result;
  drain(out, err, result.out, result.err);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.status = -1;
    result.signal = WTERMSIG(status);
  }
  return result;
}

ProgramResult run_sheetdump(const std::vector<std::string>& args) {
  return run_program(SHEETDUMP_BINARY, args);
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
