// Turns the bytes of one workbook file into a loaded Workbook: the globals
// (sheet names, XF formats, shared strings) first, then every substream in
// turn, each worksheet with its cells.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "biff/workbook.hpp"

namespace sheetdump {

// Loads a workbook from the file's bytes (compound file or bare stream).
Workbook load_workbook(FileBytes file);
Workbook load_workbook(std::vector<uint8_t> file);

// Reads and loads the named file; none when it cannot be opened or read.
std::optional<Workbook> open_workbook(const std::string& path);

// The classification of a BOF record's data (missing bytes count as 0).
SubstreamKind classify_bof(std::span<const uint8_t> bof);

// Steps of the load, exposed for tests.
void load_globals(Workbook& wb);
SubstreamKind next_substream(Workbook& wb);
std::optional<Sheet> load_next_sheet(Workbook& wb);
void load_boundsheet(Workbook& wb, BiffRecord& rec);

}  // namespace sheetdump
