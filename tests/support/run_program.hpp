// Runs the built sheetdump binary (or any program) with arguments and
// captures what it wrote and how it ended, optionally under a time limit
// and with its peak memory measured.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct ProgramResult {
  std::string out;
  std::string err;
  int status = -1;         // exit status, or -1 when killed by a signal
  int signal = 0;          // the signal that ended it, if any
  bool timed_out = false;  // killed (with its process group) after the time limit
  long peak_rss_kb = 0;    // peak resident size, when measured
};

// Runs `program` with `args` (argv[0] is `argv0`, or `program` when empty),
// standard input from /dev/null, in `cwd` when given.
ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& argv0 = "", const std::string& cwd = "");

struct RunLimits {
  // Past this the program and its process group are killed (0: no limit).
  int time_limit_seconds = 0;
  // Measure the peak resident size and, unless this test binary is built
  // with AddressSanitizer (whose shadow memory cannot live under such a
  // limit), cap the address space at this many bytes (0: neither).
  long memory_limit_bytes = 0;
};

// Runs `program` with `args` under `limits`. The peak size is measured
// through a small spawner: this test binary started afresh, which runs
// the program as its own child (a child forked from the large test
// process would report the test process's pages as its peak).
ProgramResult run_program_limited(const std::string& program, const std::vector<std::string>& args,
                                  const RunLimits& limits);

// Runs the sheetdump binary of this build.
ProgramResult run_sheetdump(const std::vector<std::string>& args);
ProgramResult run_sheetdump_limited(const std::vector<std::string>& args, const RunLimits& limits);

// Writes bytes to a fresh file under a per-test temporary directory and
// returns its path.
std::string write_temp_file(const std::string& name, const std::vector<unsigned char>& bytes);

}  // namespace testsupport
