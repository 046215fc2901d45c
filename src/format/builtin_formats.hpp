// The fixed table of number formats the program knows. Cells are rendered
// through the format index that their XF record names; the workbook's own
// FORMAT records are not read, so an index missing here means the general
// rule.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace sheetdump {

enum FormatKind : int32_t {
  FORMAT_DATE = 1,    // pattern is a strftime pattern for a day serial
  FORMAT_NUMBER = 2,  // pattern is a printf pattern with the value as argument
};

struct FormatInfo {
  int32_t index;
  FormatKind kind;
  const char* pattern;
};

// The 33 rows, in table order.
std::span<const FormatInfo> builtin_formats();

// The table row of a format index (its position in builtin_formats()), or
// none for an index the table lacks.
std::optional<uint8_t> lookup_format(int32_t index);

struct RecordReader;
struct BiffRecord;
struct Workbook;

// Appends the format slot of one XF record (format index at bytes 2-3).
// An XF record too short to hold a format index gets no format.
void load_xf(Workbook& wb, BiffRecord& rec);

}  // namespace sheetdump
