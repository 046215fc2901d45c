#include "biff/cell_records.hpp"

namespace sheetdump {

std::optional<GridSize> parse_dimensions(std::span<const uint8_t> d) {
  ByteCursor c(d);
  // BIFF5 and older: 16-bit rows; BIFF8: 32-bit rows.
  if (d.size() == 10) {
    c.skip(2);
    int64_t rows = c.u16();
    c.skip(2);
    return GridSize{rows, c.u16()};
  }
  if (d.size() >= 12) {
    c.skip(4);
    int64_t rows = c.i32();
    c.skip(2);
    return GridSize{rows, c.u16()};
  }
  return std::nullopt;
}

std::optional<NumberRecord> parse_number(std::span<const uint8_t> d) {
  if (d.size() < 14) return std::nullopt;
  return NumberRecord{cell_ref_at(d), le_double(d, 6)};
}

std::optional<RkRecord> parse_rk(std::span<const uint8_t> d) {
  if (d.size() < 10) return std::nullopt;
  return RkRecord{cell_ref_at(d), le32u_at(d, 6)};
}

std::optional<FormulaRecord> parse_formula(std::span<const uint8_t> d) {
  if (d.size() < 14) return std::nullopt;
  FormulaRecord f;
  f.ref = cell_ref_at(d);
  if (d[12] == 0xFF && d[13] == 0xFF && d[6] <= 3) {
    static constexpr FormulaRecord::Result kResults[] = {
        FormulaRecord::Result::String, FormulaRecord::Result::Boolean, FormulaRecord::Result::Error,
        FormulaRecord::Result::EmptyString};
    f.result = kResults[d[6]];
    f.code = d[8];
    return f;
  }
  f.number = le_double(d, 6);
  return f;
}

std::optional<LabelSstRecord> parse_labelsst(std::span<const uint8_t> d) {
  if (d.size() < 10) return std::nullopt;
  return LabelSstRecord{cell_ref_at(d), le32u_at(d, 6)};
}

std::optional<BoolErrRecord> parse_boolerr(std::span<const uint8_t> d) {
  if (d.size() < 8) return std::nullopt;
  return BoolErrRecord{cell_ref_at(d), d[6], d[7] != 0};
}

std::optional<LabelRecord> parse_label(std::span<const uint8_t> d) {
  // Position, XF and at least the text's 16-bit count.
  if (d.size() < 8) return std::nullopt;
  return LabelRecord{cell_ref_at(d), d.subspan(6)};
}

}  // namespace sheetdump
