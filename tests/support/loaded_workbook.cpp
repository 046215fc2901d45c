#include "support/loaded_workbook.hpp"

namespace testsupport {

LoadedWorkbook load_loaded(std::vector<uint8_t> file, sheetdump::LoadOptions options) {
  LoadedWorkbook out;
  sheetdump::WorkbookLoader loader(sheetdump::FileBytes(std::move(file)), options);
  loader.load_globals(out);
  while (auto sheet = loader.next_sheet()) out.sheets.push_back(std::move(*sheet));
  out.sheet_names = loader.sheet_names();
  out.biff5 = loader.biff5();
  out.problem = loader.problem();
  return out;
}

}  // namespace testsupport
