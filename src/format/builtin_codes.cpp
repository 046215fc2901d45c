// Built-in format codes 0-49 as the en-US application shows them in its
// format dialog. Index 47 is "mm:ss.0" (the displayed form; some writers
// store it as "mmss.0"), 14 and 22 use four-digit years.
#include "format/builtin_codes.hpp"

#include <array>

namespace sheetdump {

namespace {

constexpr std::array<std::string_view, 50> kCodes = {
    "General",
    "0",
    "0.00",
    "#,##0",
    "#,##0.00",
    "\"$\"#,##0_);\\(\"$\"#,##0\\)",
    "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)",
    "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)",
    "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)",
    "0%",
    "0.00%",
    "0.00E+00",
    "# ?/?",
    "# ?\?/??",
    "m/d/yyyy",
    "d-mmm-yy",
    "d-mmm",
    "mmm-yy",
    "h:mm AM/PM",
    "h:mm:ss AM/PM",
    "h:mm",
    "h:mm:ss",
    "m/d/yyyy h:mm",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",  // 23-36
    "#,##0_);(#,##0)",
    "#,##0_);[Red](#,##0)",
    "#,##0.00_);(#,##0.00)",
    "#,##0.00_);[Red](#,##0.00)",
    "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)",
    "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)",
    "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"?\?_);_(@_)",
    "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"?\?_);_(@_)",
    "mm:ss",
    "[h]:mm:ss",
    "mm:ss.0",
    "##0.0E+0",
    "@",
};

}  // namespace

std::string_view builtin_format_code(int index) {
  if (index < 0 || index >= int(kCodes.size())) return "";
  return kCodes[size_t(index)];
}

}  // namespace sheetdump
