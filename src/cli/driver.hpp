// The run over every file named on the command line: each workbook is
// loaded sheet by sheet, and each chosen sheet written (to standard output
// or a file of its own) or listed as soon as it is read.
#pragma once

namespace sheetdump {

// The entry routine: converts every file in order; the status is always 1.
int run(int argc, const char* const* argv);

}  // namespace sheetdump
