// The command line: options up to the first argument that is not one, then
// workbook file names; and the usage text.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "format/render_options.hpp"
#include "output/sql_writer.hpp"

namespace sheetdump {

enum OutputMode : int32_t { MODE_CSV = 1, MODE_TAB = 2, MODE_SQL = 3 };

inline constexpr const char* kIsoDatePattern = "%Y-%m-%d %H:%M:%S";

struct CommandLine {
  OutputMode mode = MODE_CSV;
  QuoteStyle quote = QUOTE_ORACLE;
  const char* date_pattern = nullptr;
  bool help = false;  // the usage text was asked for (or no argument given)
  // Read every kind of cell (--all; implied by --exact and --formatted).
  bool all = false;
  // The later of --exact and --formatted wins.
  Rendering rendering = Rendering::Default;
  bool create = false;              // --create: CREATE TABLE and transactions in SQL
  bool list = false;                // --list: the sheets instead of their cells
  bool keep_going = false;          // --keep-going: an unopenable file does not end the run
  bool version = false;             // --version
  std::vector<std::string> sheets;  // --sheet NAME, in order
  std::string directory;            // --directory DIR: one file per sheet
  // An option that needs a value came last: its long form.
  const char* missing_value = nullptr;
  std::vector<std::string> files;
};

// An argument is an option only when it equals a long form or is exactly a
// minus sign and the option's letter. The first argument that is not an
// option, and every argument after it, is a file name.
CommandLine parse_command_line(int argc, const char* const* argv);

void write_usage(std::FILE* out, const char* program);

}  // namespace sheetdump
