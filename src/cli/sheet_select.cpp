#include "cli/sheet_select.hpp"

#include <algorithm>

namespace sheetdump {

namespace {

// The value of a string of digits only, or none (none also past any
// position a workbook can have).
std::optional<size_t> digits_value(const std::string& s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  size_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + size_t(c - '0');
  }
  return v;
}

}  // namespace

SheetSelection::SheetSelection(const std::vector<std::string>& selectors,
                               const std::vector<std::string>& names) {
  for (const std::string& s : selectors) {
    Selector sel;
    sel.text = s;
    if (std::find(names.begin(), names.end(), s) == names.end()) sel.position = digits_value(s);
    selectors_.push_back(std::move(sel));
  }
}

bool SheetSelection::wants(size_t position, const std::optional<std::string>& name) {
  if (selectors_.empty()) return true;
  bool wanted = false;
  for (Selector& sel : selectors_) {
    bool match = sel.position ? *sel.position == position : name && *name == sel.text;
    if (match) wanted = sel.used = true;
  }
  return wanted;
}

std::vector<std::string> SheetSelection::unused() const {
  std::vector<std::string> out;
  for (const Selector& sel : selectors_)
    if (!sel.used) out.push_back(sel.text);
  return out;
}

}  // namespace sheetdump
