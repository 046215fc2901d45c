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

// Worksheet cells.
constexpr int32_t kDimensions = 0x0200;
constexpr int32_t kNumber = 0x0203;
constexpr int32_t kRk = 0x027E;
constexpr int32_t kRkOld = 0x007E;
constexpr int32_t kMulRk = 0x00BD;
constexpr int32_t kFormula = 0x0006;
constexpr int32_t kFormulaOld = 0x0406;
constexpr int32_t kLabelSst = 0x00FD;

}  // namespace sheetdump::record_id
