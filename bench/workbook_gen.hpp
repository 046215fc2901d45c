// Reproducible benchmark workbooks: BIFF8 record streams wrapped in real
// compound files (512-byte sectors, DIFAT sectors once the FAT outgrows the
// header), with the record mix that real writers produce: RK and MULRK
// records for values that fit them, NUMBER records for the rest, texts
// through the shared string table.
//
// Every value comes from a fixed-seed generator, so the same name and scale
// always give the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace benchgen {

using Bytes = std::vector<uint8_t>;

// The workbooks, by name.
//   numeric: 65,000 rows x 20 columns of integers and 2-decimal numbers
//   mixed:   60,000 rows x 12 columns: texts from a pool of 30,000 strings,
//            integers, decimals, dates (m/d/yy and m/d/yy h:mm), percentages
//   multi:   8 sheets x 8,000 rows x 10 columns
// `scale` multiplies the row counts (and the string pool); each sheet keeps
// at least 50 rows.
const std::vector<std::string>& workbook_names();

// The whole .xls file of the named workbook; empty for an unknown name.
Bytes make_workbook(const std::string& name, double scale = 1.0);

// Wraps a workbook stream in a compound file as its "Workbook" stream.
// The stream must be at least 4096 bytes long (smaller streams belong in
// the mini-stream, which this writer does not produce).
Bytes compound_file(const Bytes& stream);

}  // namespace benchgen
