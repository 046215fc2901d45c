// Parsers of the records of the workbook globals and of BOF records: each
// takes a record's bytes and gives its fields, or none when the record is
// too short for them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sheetdump {

constexpr int32_t kBiff5Version = 0x0500;
constexpr int32_t kBiff8Version = 0x0600;

// BOF: the BIFF version and the substream's type. Missing bytes read 0.
struct BofRecord {
  int32_t version = 0;
  int32_t type = 0;
};
BofRecord parse_bof(std::span<const uint8_t> d);

// BOF substream types.
constexpr int32_t kBofGlobals = 0x0005;
constexpr int32_t kBofVbModule = 0x0006;
constexpr int32_t kBofWorksheet = 0x0010;
constexpr int32_t kBofChart = 0x0020;
constexpr int32_t kBofMacro = 0x0040;

// BOUNDSHEET: the sheet's name. A BIFF8 name is UTF-8 already; a BIFF5
// name is in the workbook's code page, so its bytes are kept for decoding
// once the globals are read. A record too short for a name gives an empty
// one.
struct SheetName {
  std::string text;
  bool in_codepage = false;
};
SheetName parse_boundsheet(std::span<const uint8_t> d, bool biff5);

// XF: the format index at bytes 2-3.
std::optional<int32_t> parse_xf(std::span<const uint8_t> d);

// FORMAT: the index and the code (UTF-8 for BIFF8; code-page bytes for
// BIFF5, with in_codepage set).
struct FormatRecord {
  int32_t index = 0;
  std::string code;
  bool in_codepage = false;
};
std::optional<FormatRecord> parse_format(std::span<const uint8_t> d, bool biff5);

// CODEPAGE: the code page number of 8-bit texts.
std::optional<uint16_t> parse_codepage(std::span<const uint8_t> d);

// DATEMODE: true for the 1904 date system.
std::optional<bool> parse_datemode(std::span<const uint8_t> d);

}  // namespace sheetdump
