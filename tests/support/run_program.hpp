// Runs the built sheetdump binary (or any program) with arguments and
// captures what it wrote and how it ended.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct ProgramResult {
  std::string out;
  std::string err;
  int status = -1;   // exit status, or -1 when killed by a signal
  int signal = 0;    // the signal that ended it, if any
};

// Runs `program` with `args` (argv[0] is `argv0`, or `program` when empty),
// standard input from /dev/null, in `cwd` when given.
ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& argv0 = "", const std::string& cwd = "");

// Runs the sheetdump binary of this build.
ProgramResult run_sheetdump(const std::vector<std::string>& args);

// Writes bytes to a fresh file under a per-test temporary directory and
// returns its path.
std::string write_temp_file(const std::string& name, const std::vector<unsigned char>& bytes);

}  // namespace testsupport
