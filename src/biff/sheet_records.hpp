// The records of one worksheet substream that fill its cell grid.
#pragma once

#include "biff/workbook.hpp"

namespace sheetdump {

// Handles one record of a worksheet; false for its EOF record (stop).
bool load_sheet_record(Workbook& wb, Sheet& sheet, BiffRecord& rec);

// Puts the cells gathered while the worksheet was read in position order,
// keeping the last record's cell where several name one position.
void finish_sheet(Sheet& sheet);

}  // namespace sheetdump
