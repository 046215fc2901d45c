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
  // A number cell whose XF carries format index `format_index` (-1: an XF
  // index beyond every XF record, so no format, the general rule).
  SheetBuilder& number(uint16_t row, uint8_t col, double value, int32_t format_index = -1);
  // A number cell naming XF record `xf` as it stands.
  SheetBuilder& number_xf(uint16_t row, uint8_t col, double value, uint16_t xf);
  // A number cell stored as an RK value.
  SheetBuilder& rk(uint16_t row, uint8_t col, uint32_t rk_value, int32_t format_index = -1);
  // A text of the sheet's own (an inline text or a formula's text result).
  SheetBuilder& inline_text(uint16_t row, uint8_t col, std::string_view text);
  SheetBuilder& boolean(uint16_t row, uint8_t col, bool value);
  SheetBuilder& error(uint16_t row, uint8_t col, uint8_t code);

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
  // The XF index of an XF record with this format index (added when new);
  // -1 gives an index beyond every XF record.
  uint16_t xf_for(int32_t format_index);
  // A FORMAT record of the workbook's own.
  ModelBuilder& format(int32_t index, std::string code);
  ModelBuilder& date1904(bool on = true);
  // The workbook, cells of every sheet sorted by position.
  sheetdump::Workbook build();

 private:
  friend class SheetBuilder;
  sheetdump::Workbook wb_;
};

}  // namespace testsupport
