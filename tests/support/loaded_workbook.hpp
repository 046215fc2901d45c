// A workbook loaded from bytes together with what only the loader sees of
// it: the names its globals gave (before they go to sheets), the BIFF
// version of the globals and any problem found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "biff/workbook.hpp"
#include "biff/workbook_loader.hpp"

namespace testsupport {

struct LoadedWorkbook : sheetdump::Workbook {
  std::vector<std::string> sheet_names;
  bool biff5 = false;
  sheetdump::LoadProblem problem = sheetdump::LoadProblem::None;
};

LoadedWorkbook load_loaded(std::vector<uint8_t> file, sheetdump::LoadOptions options = {});

}  // namespace testsupport
