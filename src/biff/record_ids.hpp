// The ids of the BIFF records the reader acts on. Every other record is
// passed over.
#pragma once

#include <cstdint>

namespace sheetdump::record_id {

// Framing of substreams.
constexpr int32_t kBof = 0x0809;
constexpr int32_t kEof = 0x000A;

// Workbook globals.
constexpr int32_t kBoundSheet = 0x0085;
constexpr int32_t kXf = 0x00E0;
constexpr int32_t kSst = 0x00FC;
constexpr int32_t kContinue = 0x003C;
constexpr int32_t kFormat = 0x041E;
constexpr int32_t kCodePage = 0x0042;
constexpr int32_t kDateMode = 0x0022;
constexpr int32_t kFilePass = 0x002F;

// Worksheet cells.
constexpr int32_t kDimensions = 0x0200;
constexpr int32_t kNumber = 0x0203;
constexpr int32_t kRk = 0x027E;
constexpr int32_t kRkOld = 0x007E;
constexpr int32_t kMulRk = 0x00BD;
constexpr int32_t kFormula = 0x0006;
constexpr int32_t kFormulaOld = 0x0406;
constexpr int32_t kLabelSst = 0x00FD;
constexpr int32_t kLabel = 0x0204;
constexpr int32_t kRString = 0x00D6;
constexpr int32_t kBoolErr = 0x0205;
constexpr int32_t kString = 0x0207;
// Records of a worksheet that make no cell: row descriptions, the index
// of their blocks and formatted empty positions.
constexpr int32_t kRow = 0x0208;
constexpr int32_t kDbCell = 0x00D7;
constexpr int32_t kBlank = 0x0201;
constexpr int32_t kMulBlank = 0x00BE;

// Records that may stand between a FORMULA and the STRING holding its text.
constexpr int32_t kShrFmla = 0x04BC;
constexpr int32_t kArray = 0x0221;
constexpr int32_t kTable = 0x0236;

}  // namespace sheetdump::record_id
