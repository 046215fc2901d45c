// The shared string table (SST) of a BIFF8 workbook and the CONTINUE
// records that carry the rest of it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "biff/workbook.hpp"

namespace sheetdump {

// Reads the SST record just read, and the CONTINUE records that follow it,
// into wb.sst. Leaves the position behind the last record consumed.
void load_sst(Workbook& wb, BiffRecord& sst);

// Parses the SST data and the data of its CONTINUE records, in file order.
// Strings may be cut at any record boundary; a cut inside the characters is
// followed by one option byte that gives the width of the rest. A string
// stored partly or wholly with 16-bit characters becomes UTF-8; 8-bit
// strings keep their bytes. Strings the data does not hold are absent.
SharedStrings read_sst(std::span<const std::span<const uint8_t>> records);

}  // namespace sheetdump
