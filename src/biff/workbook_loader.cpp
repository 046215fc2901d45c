#include "biff/workbook_loader.hpp"

#include "base/le.hpp"
#include "biff/record_ids.hpp"
#include "biff/shared_strings.hpp"
#include "biff/sheet_records.hpp"
#include "base/utf16.hpp"
#include "cfb/compound_file.hpp"
#include "base/file_bytes.hpp"
#include "format/builtin_formats.hpp"

namespace sheetdump {

namespace {

constexpr int64_t kStreamStart = 512;
using namespace record_id;

constexpr int32_t kBiff5 = 0x0500;
// Records are read once: every this many bytes the part already read is
// given back to the system, so a large sheet does not keep the file in
// memory next to its cells.
constexpr int64_t kReleaseStep = 4 << 20;

// Reads records up to and including the next EOF (or the end of the data).
void skip_to_eof(Workbook& wb) {
  while (auto rec = read_record(wb.reader))
    if (rec->id == kEof) return;
}

// Texts end at their first NUL.
void cut_at_nul(std::string& s) {
  size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
}

}  // namespace

SubstreamKind classify_bof(std::span<const uint8_t> bof) {
  int32_t version = le16_at(bof, 0);
  int32_t type = le16_at(bof, 2);
  int32_t base = version == kBiff5 ? SUBSTREAM_SHEET_BIFF5 : SUBSTREAM_SHEET_BIFF8;
  if (type == 0x0010) return SubstreamKind(base);
  if (type == 0x0005) return SubstreamKind(2 * base);
  return SUBSTREAM_OTHER;
}

void load_boundsheet(Workbook& wb, BiffRecord& rec) {
  auto d = record_data(wb.reader, rec);
  std::string name;
  if (wb.biff5) {
    // BIFF5: byte count at 6, the name's bytes from 7.
    if (d.size() > 7) {
      size_t n = std::min<size_t>(d[6], d.size() - 7);
      name.assign(reinterpret_cast<const char*>(d.data() + 7), n);
    }
  } else if (d.size() > 8) {
    // BIFF8: character count at 6, flags at 7, characters from 8.
    size_t count = d[6];
    auto chars = d.subspan(8);
    if (d[7] & 0x01) {
      std::vector<uint16_t> units;
      for (size_t i = 0; i < count && 2 * i + 1 < chars.size(); ++i)
        units.push_back(uint16_t(le16(chars[2 * i], chars[2 * i + 1])));
      append_utf16_as_utf8(name, units);
    } else {
      name.assign(reinterpret_cast<const char*>(chars.data()), std::min(count, chars.size()));
    }
  }
  cut_at_nul(name);
  wb.sheet_names.push_back(std::move(name));
}

void load_globals(Workbook& wb) {
  seek_to(wb.reader, kStreamStart);
  // The first record is the globals' BOF; it tells how names are stored.
  if (auto first = read_record(wb.reader); first && first->id == kBof) {
    auto d = record_data(wb.reader, *first);
    wb.biff5 = d.size() >= 2 && le16(d[0], d[1]) == kBiff5;
  }
  while (auto rec = read_record(wb.reader)) {
    switch (rec->id) {
      case kBoundSheet:
        load_boundsheet(wb, *rec);
        break;
      case kXf:
        load_xf(wb, *rec);
        break;
      case kSst:
        load_sst(wb, *rec);
        break;
      case kEof:
        return;
      default:
        break;
    }
  }
}

SubstreamKind next_substream(Workbook& wb) {
  while (auto rec = read_record(wb.reader)) {
    if (rec->id == kBof) return classify_bof(record_data(wb.reader, *rec));
  }
  return SUBSTREAM_NONE;
}

std::optional<Sheet> load_next_sheet(Workbook& wb) {
  SubstreamKind kind = next_substream(wb);
  if (kind == SUBSTREAM_NONE) return std::nullopt;
  Sheet sheet;
  sheet.kind = kind;
  sheet.start_pos = wb.reader.pos;
  if (kind != SUBSTREAM_SHEET_BIFF5 && kind != SUBSTREAM_SHEET_BIFF8) {
    skip_to_eof(wb);
    return sheet;
  }
  int64_t released = 0;
  while (auto rec = read_record(wb.reader)) {
    if (wb.reader.pos - released > kReleaseStep) {
      released = rec->data_pos - 4;
      wb.file.release_before(wb.file_offset + size_t(std::max<int64_t>(released, 0)));
    }
    // A BOF inside a worksheet starts an embedded chart; its records run to
    // its own EOF and are not the worksheet's.
    if (rec->id == kBof) {
      skip_to_eof(wb);
      continue;
    }
    if (!load_sheet_record(wb, sheet, *rec)) break;
  }
  finish_sheet(sheet);
  return sheet;
}

Workbook load_workbook(FileBytes file) {
  Workbook wb;
  // The record reader's positions start 512 bytes before the stream: the
  // file's first 512 bytes are kept in front of it.
  constexpr size_t kStreamPrefix = 512;
  std::span<uint8_t> bytes = file.bytes();
  auto extents = find_stream(bytes, "Workbook");
  if (!extents) extents = find_stream(bytes, "Book");
  StreamLayout laid;
  laid.end = bytes.size();
  if (extents) laid = lay_out_stream(bytes, *extents, kStreamPrefix);
  if (laid.copied) {
    file = FileBytes();  // the pieces are gathered; the original is not needed
    wb.file = FileBytes(std::move(laid.copy));
    laid.begin = 0;
    laid.end = wb.file.bytes().size();
  } else {
    wb.file = std::move(file);
  }
  wb.file_offset = laid.begin;
  wb.reader.data = std::span<const uint8_t>(wb.file.bytes()).subspan(laid.begin, laid.end - laid.begin);

  load_globals(wb);
  while (auto sheet = load_next_sheet(wb)) {
    size_t index = wb.sheets.size();
    // Sheets are named by position: the i-th sheet found gets the i-th name.
    if (index < wb.sheet_names.size()) sheet->name = wb.sheet_names[index];
    wb.sheets.push_back(std::move(*sheet));
  }

  // Nothing of the model points into the file: release it before output.
  wb.reader = RecordReader{};
  wb.file = FileBytes();
  return wb;
}

Workbook load_workbook(std::vector<uint8_t> file) { return load_workbook(FileBytes(std::move(file))); }

std::optional<Workbook> open_workbook(const std::string& path) {
  auto bytes = FileBytes::open(path);
  if (!bytes) return std::nullopt;
  return load_workbook(std::move(*bytes));
}

}  // namespace sheetdump
