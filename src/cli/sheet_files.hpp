// The names of the files that --directory writes, one per worksheet:
// `<workbook base name>-<sheet name>.<extension>`, always a single plain
// name inside the directory whatever the workbook's sheet names hold, and
// never a name this run has already written.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>

namespace sheetdump {

// The longest file name most file systems take (NAME_MAX on Linux).
inline constexpr size_t kMaxFileName = 255;

// The last component of `path` without a final ".xls" (in any case).
std::string workbook_stem(std::string_view path);

// A sheet name made safe for a file name: '/', '\\', NUL and other control
// characters, a leading '.' and every byte of an ill-formed UTF-8 sequence
// become '_'. An empty name becomes the sheet's 1-based position.
std::string safe_sheet_part(std::string_view name, size_t position);

// `s` cut to at most `max` bytes without splitting a UTF-8 sequence.
std::string_view cut_utf8(std::string_view s, size_t max);

// Hands out file names for one run.
class SheetFileNames {
 public:
  // `stem` + "-" + `sheet` + "." + `extension`, cut to kMaxFileName bytes
  // (the sheet part first, then the stem); when this run already claimed
  // that name, "-2", "-3" ... goes before the extension.
  std::string claim(std::string_view stem, std::string_view sheet, std::string_view extension);

 private:
  std::set<std::string> claimed_;
};

}  // namespace sheetdump
