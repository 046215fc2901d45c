// Runs a shell script as a user would type it, in a scratch directory, and
// captures what it printed. Used by the tests that check documentation
// (README examples, man page, bash completion) against the real program.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace doccheck {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
struct TempDir {
  std::filesystem::path path;

  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sheetdump-doc.XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
};

struct ShellResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when ended by a signal
};

inline std::string read_file_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Single-quotes `text` for the shell.
inline std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

// The directory that holds the sheetdump binary of this build.
inline std::string binary_dir() {
  return std::filesystem::path(SHEETDUMP_BINARY).parent_path().string();
}

// Runs `script` with /bin/sh in `cwd`, standard input from /dev/null, with
// `env` added to the environment (each value taken literally).
inline ShellResult run_shell(const std::string& script, const std::filesystem::path& cwd,
                             const std::vector<std::pair<std::string, std::string>>& env = {}) {
  TempDir io;
  {
    std::ofstream file(io.path / "script.sh", std::ios::binary);
    file << script;
  }
  std::string command = "cd " + shell_quote(cwd.string()) + " && env";
  for (const auto& [name, value] : env) command += " " + shell_quote(name + "=" + value);
  command += " /bin/sh " + shell_quote((io.path / "script.sh").string()) + " </dev/null >" +
             shell_quote((io.path / "out").string()) + " 2>" +
             shell_quote((io.path / "err").string());
  int raw = std::system(command.c_str());
  ShellResult result;
  if (raw != -1 && WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
  result.out = read_file_text(io.path / "out");
  result.err = read_file_text(io.path / "err");
  return result;
}

// True when `program` is found on the PATH.
inline bool have_program(const std::string& program) {
  std::string command = "command -v " + shell_quote(program) + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace doccheck
