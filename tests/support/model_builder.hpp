// Builds an in-memory Workbook straight from a table of cells, for tests of
// rendering and the writers that need no file to be parsed.
//
//   ModelBuilder mb;
//   mb.sheet("Items", 3, 2)
//       .text(0, 0, "id").text(0, 1, "note")
//       .number(1, 0, 1).text(1, 1, "it's")
//       .number(2, 0, 27738.14929398148, 22);   // format index 22
//   sheetdump::Workbook wb = mb.build();
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "biff/workbook.hpp"

namespace testsupport {

class ModelBuilder;

// Adds cells to one sheet of a ModelBuilder. Positions may be given in any
// order; a later cell at the same position replaces the earlier one.
class SheetBuilder {
 public:
  // A text cell; the text becomes a new entry of the shared string table.
  SheetBuilder& text(uint16_t row, uint8_t col, std::string_view text);
  // A text cell naming shared string `index` as it stands (it may lie
  // outside the table).
  SheetBuilder& sst_index(uint16_t row, uint8_t col, uint32_t index);
  // A number cell whose XF carries built-in format index `format_index`
  // (-1, or any index the table lacks: no format, the general rule).
  SheetBuilder& number(uint16_t row, uint8_t col, double value, int32_t format_index = -1);
  // A number cell with a raw format slot (a row of the built-in table, or
  // any other 6-bit value).
  SheetBuilder& number_slot(uint16_t row, uint8_t col, double value, uint8_t slot);
  // A number cell stored as an RK value.
  SheetBuilder& rk(uint16_t row, uint8_t col, uint32_t rk_value, int32_t format_index = -1);

 private:
  friend class ModelBuilder;
  SheetBuilder(ModelBuilder& owner, size_t index) : owner_(owner), index_(index) {}
  sheetdump::Sheet& sheet();
  ModelBuilder& owner_;
  size_t index_;
};

class ModelBuilder {
 public:
  // A new worksheet with a grid of rows x cols; `name` none gives a sheet
  // without a name.
  SheetBuilder sheet(std::optional<std::string> name, int32_t rows, int32_t cols);
  // Adds a string to the shared string table and returns its index.
  uint32_t add_string(std::string_view text);
  // The workbook, cells of every sheet sorted by position.
  sheetdump::Workbook build();

 private:
  friend class SheetBuilder;
  sheetdump::Workbook wb_;
};

// The built-in table row of a format index, or kNoFormat.
uint8_t format_slot(int32_t format_index);

}  // namespace testsupport
