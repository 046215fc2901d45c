// --sheet: which sheets of a workbook are converted. A selector picks the
// sheets whose name it equals; a selector of digits only that equals no
// sheet name picks the sheet at that 1-based position.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sheetdump {

class SheetSelection {
 public:
  // `selectors` as given (none: every sheet), `names` the workbook's sheet
  // names in order.
  SheetSelection(const std::vector<std::string>& selectors, const std::vector<std::string>& names);

  // Whether the sheet at `position` (1-based) named `name` is wanted; a
  // selector that picks it counts as used.
  bool wants(size_t position, const std::optional<std::string>& name);
  // The selectors that picked no sheet so far, in the order given.
  std::vector<std::string> unused() const;

 private:
  struct Selector {
    std::string text;
    std::optional<size_t> position;  // picks by position rather than name
    bool used = false;
  };
  std::vector<Selector> selectors_;
};

}  // namespace sheetdump
