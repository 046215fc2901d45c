#include "biff/sheet_records.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "base/byte_cursor.hpp"
#include "base/codepage.hpp"
#include "biff/record_ids.hpp"
#include "biff/unicode_string.hpp"

namespace sheetdump {

namespace {

using namespace record_id;

// Smallest number of bytes a cell record takes in the stream; bounds how
// many cells the rest of the data can still hold.
constexpr int64_t kBytesPerCellGuess = 12;
// The same for a cell whose number goes to the table of doubles: a NUMBER
// record, header and all (a formula's is longer).
constexpr int64_t kBytesPerNumber = 18;

void make_grid(SheetContext& ctx, GridSize size) {
  Sheet& sheet = ctx.sheet;
  sheet.rows = int32_t(std::clamp<int64_t>(size.rows, 0, kMaxRows));
  sheet.cols = int32_t(std::clamp<int64_t>(size.cols, 0, kMaxCols));
  sheet.cells.clear();
  sheet.numbers.clear();
  sheet.texts.bytes.clear();
  sheet.texts.ends.clear();
  int64_t guess = std::min<int64_t>(int64_t(sheet.rows) * sheet.cols,
                                    std::max<int64_t>(ctx.bytes_left, 0) / kBytesPerCellGuess);
  sheet.cells.reserve(size_t(guess) + ctx.extra_cells);
  // Room for the doubles too, so that the table does not grow by copies:
  // what is reserved and never written costs address space only.
  sheet.numbers.reserve(
      size_t(std::min<int64_t>(guess, std::max<int64_t>(ctx.bytes_left, 0) / kBytesPerNumber)) +
      ctx.extra_numbers);
}

bool inside(const Sheet& sheet, const CellRef& ref) {
  return ref.row < sheet.rows && ref.col < sheet.cols;
}

// Stores a cell if its position lies inside the grid; cells outside it
// (including any cell before DIMENSIONS) are dropped.
void store(SheetContext& ctx, const CellRef& ref, Cell::Kind kind, uint32_t value) {
  if (!inside(ctx.sheet, ref)) return;
  ctx.add(Cell::make(uint16_t(ref.row), uint8_t(ref.col), kind, ref.xf, value));
}

void store_double(SheetContext& ctx, const CellRef& ref, double v) {
  Sheet& sheet = ctx.sheet;
  if (!inside(sheet, ref)) return;
  if (sheet.numbers.size() >= UINT32_MAX) return;
  store(ctx, ref, Cell::Kind::Double, uint32_t(sheet.numbers.size()));
  sheet.numbers.push_back(v);
}

void store_text(SheetContext& ctx, const CellRef& ref, std::string_view text) {
  Sheet& sheet = ctx.sheet;
  if (!inside(sheet, ref)) return;
  if (!sheet.texts.add(text)) return;
  store(ctx, ref, Cell::Kind::Text, uint32_t(sheet.texts.count() - 1));
}

// A BIFF5 text: a 16-bit byte count and bytes in the workbook's code page.
std::string codepage_text(const SheetContext& ctx, std::span<const uint8_t> d) {
  ByteCursor c(d);
  size_t n = c.u16();
  std::string out;
  auto bytes = c.bytes(n);
  if (ctx.decoder != nullptr) ctx.decoder->append_utf8(out, bytes);
  return out;
}

void load_formula(SheetContext& ctx, std::span<const uint8_t> d) {
  auto f = parse_formula(d);
  if (!f) return;
  using Result = FormulaRecord::Result;
  switch (f->result) {
    case Result::Number:
      store_double(ctx, f->ref, f->number);
      break;
    case Result::String:
      if (ctx.all) ctx.pending_string = f->ref;
      break;
    case Result::Boolean:
      if (ctx.all) store(ctx, f->ref, Cell::Kind::Boolean, f->code != 0 ? 1 : 0);
      break;
    case Result::Error:
      if (ctx.all) store(ctx, f->ref, Cell::Kind::Error, f->code);
      break;
    case Result::EmptyString:
      if (ctx.all) store_text(ctx, f->ref, "");
      break;
  }
}

void load_label(SheetContext& ctx, std::span<const uint8_t> d) {
  auto label = parse_label(d);
  if (!label) return;
  if (ctx.biff5)
    store_text(ctx, label->ref, codepage_text(ctx, label->text));
  else if (label->text.size() >= 3)
    store_text(ctx, label->ref, unicode_string(label->text));
}

}  // namespace

bool wants_sheet_record(SheetContext& ctx, int32_t id) {
  switch (id) {
    case kEof:
    case kDimensions:
    case kNumber:
    case kRk:
    case kRkOld:
    case kMulRk:
    case kFormula:
    case kFormulaOld:
    case kLabelSst:
      if (ctx.pending_string) ctx.pending_string.reset();
      return true;
    case kLabel:
    case kRString:
    case kBoolErr:
      if (ctx.pending_string) ctx.pending_string.reset();
      return ctx.all;
    case kString:
      return ctx.pending_string.has_value();
    case kShrFmla:
    case kArray:
    case kTable:
      return false;
    default:
      if (ctx.pending_string) ctx.pending_string.reset();
      return false;
  }
}

bool load_sheet_record(SheetContext& ctx, int32_t id, std::span<const uint8_t> d) {
  switch (id) {
    case kEof:
      return false;
    case kDimensions:
      if (auto size = parse_dimensions(d)) make_grid(ctx, *size);
      break;
    case kNumber:
      if (auto n = parse_number(d)) store_double(ctx, n->ref, n->value);
      break;
    case kRk:
    case kRkOld:
      if (auto rk = parse_rk(d)) store(ctx, rk->ref, Cell::Kind::Rk, rk->rk);
      break;
    case kMulRk:
      parse_mulrk(d, [&](const RkRecord& rk) { store(ctx, rk.ref, Cell::Kind::Rk, rk.rk); });
      break;
    case kFormula:
    case kFormulaOld:
      load_formula(ctx, d);
      break;
    case kLabelSst:
      if (auto l = parse_labelsst(d)) store(ctx, l->ref, Cell::Kind::SharedString, l->index);
      break;
    case kLabel:
    case kRString:
      if (ctx.all) load_label(ctx, d);
      break;
    case kBoolErr:
      if (!ctx.all) break;
      if (auto b = parse_boolerr(d)) {
        if (b->is_error)
          store(ctx, b->ref, Cell::Kind::Error, b->value);
        else
          store(ctx, b->ref, Cell::Kind::Boolean, b->value != 0 ? 1 : 0);
      }
      break;
    case kString: {
      std::span<const uint8_t> one[] = {d};
      load_string_result(ctx, one);
      break;
    }
    default:
      break;
  }
  return true;
}

void load_string_result(SheetContext& ctx, std::span<const std::span<const uint8_t>> pieces) {
  if (!ctx.pending_string || pieces.empty()) return;
  CellRef ref = *ctx.pending_string;
  ctx.pending_string.reset();
  if (ctx.biff5) {
    store_text(ctx, ref, codepage_text(ctx, pieces[0]));
    return;
  }
  RecordPieces in(pieces);
  std::string text;
  std::vector<uint16_t> units;
  if (read_unicode_string(in, text, units) != StringRead::None) store_text(ctx, ref, text);
}

void load_string_result(SheetContext& ctx, std::span<const uint8_t> first, RecordReader& reader) {
  if (ctx.pending_string) {
    CellRef ref = *ctx.pending_string;
    ctx.pending_string.reset();
    if (ctx.biff5) {
      store_text(ctx, ref, codepage_text(ctx, first));
    } else {
      RecordPieces in(first, reader);
      std::string text;
      std::vector<uint16_t> units;
      if (read_unicode_string(in, text, units) != StringRead::None) store_text(ctx, ref, text);
    }
  }
  skip_continues(reader);
}

void finish_sheet(Sheet& sheet) {
  // Writers store cells by row and column: one pass says whether they did.
  const auto& cells = sheet.cells;
  bool ordered = true;
  uint32_t previous = cells.empty() ? 0 : cells.front().key();
  for (size_t i = 1; i < cells.size(); ++i) {
    const uint32_t key = cells[i].key();
    ordered &= key > previous;
    previous = key;
  }
  finish_sheet(sheet, ordered);
}

bool finish_moves_cells(const Sheet& sheet, size_t slack) {
  const auto& cells = sheet.cells;
  const size_t room = cells.capacity() - std::min(cells.capacity(), slack);
  return room > cells.size() + cells.size() / 4 + 1024;
}

void finish_sheet(Sheet& sheet, bool ordered, size_t slack) {
  auto& cells = sheet.cells;
  // The room reserved from DIMENSIONS is a guess; give back what a sheet
  // that claimed more than it holds did not use.
  if (finish_moves_cells(sheet, slack)) cells.shrink_to_fit();
  if (ordered) return;
  std::stable_sort(cells.begin(), cells.end(),
                   [](const Cell& a, const Cell& b) { return a.key() < b.key(); });
  // Of equal positions the last one read wins.
  size_t kept = 0;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (kept > 0 && cells[kept - 1].key() == cells[i].key())
      cells[kept - 1] = cells[i];
    else
      cells[kept++] = cells[i];
  }
  cells.resize(kept);
}

}  // namespace sheetdump
