// The shared string table (SST) of a BIFF8 workbook and the CONTINUE
// records that carry the rest of it.
#pragma once

#include <cstdint>
#include <span>

#include "biff/record_reader.hpp"
#include "biff/workbook.hpp"

namespace sheetdump {

// Parses the SST data and the data of its CONTINUE records, in file order.
// Strings may be cut at any record boundary (see unicode_string.hpp); every
// string becomes UTF-8. Strings the data does not hold are absent.
SharedStrings read_sst(std::span<const std::span<const uint8_t>> records);
// The same, for the SST record's data `first`, reading its CONTINUE
// records straight from `reader` (which stands behind the SST) without
// holding anything per record; leaves `reader` behind them.
SharedStrings read_sst(std::span<const uint8_t> first, RecordReader& reader);

}  // namespace sheetdump
