#include "biff/workbook_loader.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "biff/globals_records.hpp"
#include "biff/record_ids.hpp"
#include "biff/shared_strings.hpp"
#include "biff/sheet_records.hpp"
#include "biff/sheet_watch.hpp"
#include "cfb/compound_file.hpp"

namespace sheetdump {

namespace {

using namespace record_id;

// The record reader's positions start 512 bytes before the workbook
// stream: where a compound file's header ends, and where a bare stream
// begins.
constexpr size_t kStreamStart = 512;

// Records are read once: every this many bytes the part already read is
// given back to the system, so a large sheet does not keep the file in
// memory next to its cells.
constexpr int64_t kReleaseStep = 1 << 20;

// The loader's side of a SheetWatch over one worksheet: it reports the
// cells stored every `step` bytes of records, and stops the watch before
// anything would move or change a reported cell.
class Watching {
 public:
  explicit Watching(SheetWatch* watch) : candidate_(watch) {
    // Between two reports at most `step` bytes of records and one more
    // record are read, and every record takes at least 4 bytes per cell it
    // stores (a MULRK 6) and per double.
    if (watch != nullptr) margin_ = (watch->step + kMaxRecordBytes) / 4 + 1;
  }
  Watching(const Watching&) = delete;
  Watching& operator=(const Watching&) = delete;
  // Leaving the sheet early (an exception) stops the watch too.
  ~Watching() { end(); }

  bool active() const { return watch_ != nullptr; }
  // Room reserved beyond the grid's guess, which finish_sheet need not
  // give back once the watch has stopped.
  size_t slack() const { return slack_; }
  // The position at which the next report is due.
  int64_t next() const { return next_; }

  // Before a DIMENSIONS record: the grid it makes clears the cells, so a
  // watch already begun stops; one that may begin gets its room reserved.
  void before_grid(SheetContext& ctx) {
    if (watch_ != nullptr) {
      end();
    } else if (candidate_ != nullptr) {
      // Twice the margin: a sheet may hold somewhat more cells than the
      // guess from the bytes left before the room runs short.
      slack_ = 2 * margin_;
      ctx.extra_cells = slack_;
      ctx.extra_numbers = slack_;
    }
  }
  // After the first DIMENSIONS record: the watch may begin.
  void after_grid(SheetContext& ctx, int64_t pos) {
    SheetWatch* w = std::exchange(candidate_, nullptr);
    if (w == nullptr) return;
    ctx.extra_cells = 0;
    ctx.extra_numbers = 0;
    if (!ctx.sheet.cells.empty() || !room_left(ctx.sheet) || !w->begin(ctx.sheet)) return;
    watch_ = w;
    next_ = pos + int64_t(w->step);
  }
  void report(const SheetContext& ctx, int64_t pos) {
    if (!ctx.ordered || !room_left(ctx.sheet)) {
      end();
      return;
    }
    watch_->progress(ctx.sheet.cells.size());
    next_ = pos + int64_t(watch_->step);
  }
  // The sheet is read and its cells are in order (finish_sheet has left
  // them where they are).
  void done(const Sheet& sheet) {
    if (watch_ == nullptr) return;
    std::exchange(watch_, nullptr)->done(sheet.cells.size());
    next_ = kNever;
  }
  void end() noexcept {
    if (watch_ == nullptr) return;
    std::exchange(watch_, nullptr)->stop();
    next_ = kNever;
  }

 private:
  static constexpr size_t kMaxRecordBytes = 4 + 0xFFFF;
  static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
  bool room_left(const Sheet& sheet) const {
    return sheet.cells.capacity() - sheet.cells.size() >= margin_ &&
           sheet.numbers.capacity() - sheet.numbers.size() >= margin_;
  }
  SheetWatch* candidate_;
  SheetWatch* watch_ = nullptr;
  size_t margin_ = 0;
  size_t slack_ = 0;
  int64_t next_ = kNever;
};

// BOF record ids of BIFF2, BIFF3 and BIFF4.
constexpr int32_t kOldBofIds[] = {0x0009, 0x0209, 0x0409};

bool is_old_bof(std::span<const uint8_t> bytes, size_t at) {
  if (at + 4 > bytes.size()) return false;
  int32_t id = le16(bytes[at], bytes[at + 1]);
  return std::find(std::begin(kOldBofIds), std::end(kOldBofIds), id) != std::end(kOldBofIds);
}

// Records a FILEPASS, an EOF or the end of the data can end the globals.
enum class GlobalsEnd : uint8_t { Eof, FilePass, EndOfData };

// A compound file cut short: its length after the header sector is not a
// whole number of sectors, or its first directory sector lies past its
// end. (A file cut so, whose streams cannot be followed, is a truncated
// workbook rather than a compound file without one.)
bool is_cut_compound_file(std::span<const uint8_t> raw) {
  if (raw.size() < 512) return true;
  int32_t shift = le16(raw[30], raw[31]);
  if (shift != 9 && shift != 12) return false;
  size_t sector = size_t(1) << shift;
  if (raw.size() % sector != 0) return true;
  uint32_t dir = le32u(raw[48], raw[49], raw[50], raw[51]);
  return dir < 0xFFFFFFFA && (uint64_t(dir) + 2) * sector > raw.size();
}

}  // namespace

SubstreamKind classify_bof(std::span<const uint8_t> bof) {
  BofRecord b = parse_bof(bof);
  int32_t base = b.version == kBiff5Version ? SUBSTREAM_SHEET_BIFF5 : SUBSTREAM_SHEET_BIFF8;
  if (b.type == kBofWorksheet) return SubstreamKind(base);
  if (b.type == kBofGlobals) return SubstreamKind(2 * base);
  return SUBSTREAM_OTHER;
}

WorkbookLoader::WorkbookLoader(FileBytes file, LoadOptions options) : options_(options) {
  std::span<const uint8_t> raw = file.bytes();
  bool compound = is_compound_file(raw);
  std::optional<std::vector<Extent>> extents = find_stream(raw, "Workbook");
  if (!extents) extents = find_stream(raw, "Book");
  bool old_biff = is_old_bof(raw, 0);

  StreamLayout laid;
  laid.end = raw.size();
  if (extents) laid = lay_out_stream(file.bytes(), *extents, kStreamStart);
  if (laid.copied) {
    file = FileBytes();  // the pieces are gathered; the original is not needed
    file_ = FileBytes(std::move(laid.copy));
    laid.begin = 0;
    laid.end = file_.bytes().size();
  } else {
    file_ = std::move(file);
  }
  file_offset_ = laid.begin;
  reader_.data = std::span<const uint8_t>(file_.bytes()).subspan(laid.begin, laid.end - laid.begin);

  // What the first record says about the file as a whole; it lies where
  // the workbook stream begins, not at the reader's position 0.
  seek_to(reader_, int64_t(kStreamStart));
  auto first = peek_record(reader_);
  if (first && first->id == kBof) return;
  if (old_biff || is_old_bof(reader_.data, kStreamStart))
    problem_ = LoadProblem::OldBiff;
  else if (compound && !extents)
    problem_ = is_cut_compound_file(file_.bytes()) ? LoadProblem::Truncated
                                                   : LoadProblem::NoWorkbookStream;
  else
    problem_ = LoadProblem::NotWorkbook;
}

void WorkbookLoader::skip_to_eof() {
  while (auto rec = read_record(reader_))
    if (rec->id == kEof) return;
}

void WorkbookLoader::load_globals(Workbook& wb) {
  seek_to(reader_, int64_t(kStreamStart));
  // The first record is the globals' BOF; it tells how texts are stored.
  if (auto first = read_record(reader_); first && first->id == kBof) {
    auto d = record_data(reader_, *first);
    biff5_ = d.size() >= 2 && le16(d[0], d[1]) == kBiff5Version;
    globals_bof_ = true;
  }
  std::vector<SheetName> raw_names;
  std::vector<FormatRecord> raw_formats;
  std::optional<uint16_t> codepage;
  GlobalsEnd end = GlobalsEnd::EndOfData;
  while (auto rec = read_record(reader_)) {
    switch (rec->id) {
      case kBoundSheet:
        raw_names.push_back(parse_boundsheet(record_data(reader_, *rec), biff5_));
        break;
      case kXf:
        wb.xf_formats.push_back(parse_xf(record_data(reader_, *rec)).value_or(kNoFormatIndex));
        break;
      case kSst: {
        // The SST's data runs on in the CONTINUE records right after it.
        wb.sst = read_sst(record_data(reader_, *rec), reader_);
        break;
      }
      case kFormat:
        if (auto f = parse_format(record_data(reader_, *rec), biff5_))
          raw_formats.push_back(std::move(*f));
        break;
      case kCodePage:
        if (!codepage) codepage = parse_codepage(record_data(reader_, *rec));
        break;
      case kDateMode:
        if (auto m = parse_datemode(record_data(reader_, *rec))) wb.date1904 = *m;
        break;
      case kFilePass:
        end = GlobalsEnd::FilePass;
        break;
      case kEof:
        end = GlobalsEnd::Eof;
        break;
      default:
        break;
    }
    if (end != GlobalsEnd::EndOfData) break;
  }
  if (end == GlobalsEnd::FilePass) {
    // Every record after FILEPASS is ciphertext: nothing more is read.
    problem_ = LoadProblem::Encrypted;
    seek_to(reader_, int64_t(reader_.data.size()));
    wb = Workbook{};
    return;
  }
  if (end == GlobalsEnd::EndOfData && problem_ == LoadProblem::None)
    problem_ = LoadProblem::Truncated;

  wb.codepage = codepage.value_or(1252);
  decoder_ = std::make_unique<TextDecoder>(wb.codepage);
  for (SheetName& n : raw_names) {
    if (n.in_codepage) {
      std::string text;
      decoder_->append_utf8(
          text,
          std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(n.text.data()), n.text.size()));
      n.text = std::move(text);
    } else {
      n.text.resize(std::min(n.text.size(), n.text.find('\0')));
    }
    names_.push_back(std::move(n.text));
  }
  for (FormatRecord& f : raw_formats) {
    WorkbookFormat wf;
    wf.index = f.index;
    if (f.in_codepage)
      decoder_->append_utf8(
          wf.code,
          std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(f.code.data()), f.code.size()));
    else
      wf.code = std::move(f.code);
    wb.formats.push_back(std::move(wf));
  }
}

SubstreamKind WorkbookLoader::next_substream() {
  while (auto rec = read_record(reader_)) {
    if (rec->id == kBof) {
      auto d = record_data(reader_, *rec);
      last_bof_type_ = parse_bof(d).type;
      return classify_bof(d);
    }
  }
  return SUBSTREAM_NONE;
}

std::optional<Sheet> WorkbookLoader::next_sheet(SheetWatch* watch) {
  if (problem_ == LoadProblem::Encrypted) return std::nullopt;
  SubstreamKind kind = next_substream();
  if (kind == SUBSTREAM_NONE) return std::nullopt;
  Sheet sheet = std::move(spare_);
  spare_ = Sheet{};
  sheet.kind = kind;
  sheet.bof_type = uint16_t(last_bof_type_);
  if (sheets_found_ < names_.size()) sheet.name = names_[sheets_found_];
  ++sheets_found_;
  if (kind != SUBSTREAM_SHEET_BIFF5 && kind != SUBSTREAM_SHEET_BIFF8) {
    skip_to_eof();
    return sheet;
  }
  SheetContext ctx(sheet);
  ctx.all = options_.all;
  // Texts are laid out as the workbook's globals say: Excel 95 files may
  // give their worksheets a BOF of version 0x0600 all the same.
  ctx.biff5 = globals_bof_ ? biff5_ : kind == SUBSTREAM_SHEET_BIFF5;
  ctx.decoder = decoder_.get();
  const int64_t size = int64_t(reader_.data.size());
  int64_t released = 0;
  // Texts of a sheet's own are not watched: their table grows by copies.
  Watching watching(ctx.all ? nullptr : watch);
  // The next position at which the part read is given back or the watch
  // is told of the cells stored.
  int64_t checkpoint = kReleaseStep;
  auto next_checkpoint = [&] { return std::min(released + kReleaseStep, watching.next()); };
  bool ended = false;
  for (;;) {
    // The run of common cell records, read in place with the position in a
    // register; the first record of any other kind (or one that does not
    // lie wholly inside the data) is left to the general path below.
    if (!reader_.eof && reader_.pos >= 0) {
      const uint8_t* const base = reader_.data.data();
      int64_t pos = reader_.pos;
      while (pos + 4 <= size) {
        const uint8_t* p = base + pos;
        // Asks for the bytes a kilobyte ahead: the processor's own
        // prefetching stops at each page, and a page of the file not yet in
        // the cache costs more than the records on it. The address is made
        // from an integer, as it may lie past the data: a prefetch is only
        // a hint and never faults.
        const uintptr_t ahead = reinterpret_cast<uintptr_t>(p) + 1024;
        __builtin_prefetch(
            reinterpret_cast<const void*>(ahead));  // NOLINT(performance-no-int-to-ptr)
        const int32_t len = int32_t(p[2]) | (int32_t(p[3]) << 8);
        if (pos + 4 + len > size) break;
        const int32_t id = int32_t(p[0]) | (int32_t(p[1]) << 8);
        if (!load_common_cell(ctx, id, std::span<const uint8_t>(p + 4, size_t(len)))) break;
        pos += 4 + len;
        if (pos >= checkpoint) {
          if (pos - released > kReleaseStep) {
            released = pos;
            file_.release_before(file_offset_ + size_t(released));
          }
          if (pos >= watching.next()) watching.report(ctx, pos);
          checkpoint = next_checkpoint();
        }
      }
      reader_.pos = pos;
    }
    int32_t id = 0;
    std::span<const uint8_t> data;
    const int64_t start = reader_.pos;
    const bool in_place = next_record_in_place(reader_, id, data);
    std::optional<BiffRecord> rec;
    if (!in_place) {
      rec = read_record(reader_);
      if (!rec) break;
      id = rec->id;
    }
    if (reader_.pos - released > kReleaseStep) {
      released = start;
      file_.release_before(file_offset_ + size_t(std::max<int64_t>(released, 0)));
    }
    if (start >= watching.next()) watching.report(ctx, start);
    checkpoint = next_checkpoint();
    // A BOF inside a worksheet starts an embedded chart; its records run to
    // its own EOF and are not the worksheet's.
    if (id == kBof) {
      skip_to_eof();
      continue;
    }
    if (!wants_sheet_record(ctx, id)) continue;
    if (id == kEof) {
      ended = true;
      break;
    }
    if (id == kString) {
      // A formula's text runs on in the CONTINUE records right after it.
      if (!in_place) data = record_data(reader_, *rec);
      load_string_result(ctx, data, reader_);
      continue;
    }
    if (!in_place) data = record_data(reader_, *rec);
    ctx.bytes_left = size - reader_.pos;
    if (id == kDimensions) {
      watching.before_grid(ctx);
      load_sheet_record(ctx, id, data);
      watching.after_grid(ctx, reader_.pos);
      checkpoint = next_checkpoint();
      continue;
    }
    load_sheet_record(ctx, id, data);
  }
  if (!ended && problem_ == LoadProblem::None) problem_ = LoadProblem::Truncated;
  if (!ctx.ordered) watching.end();
  // A watched sheet keeps all its room, so that its cells stay where they
  // are: room never touched costs address space only.
  finish_sheet(sheet, ctx.ordered, watching.active() ? SIZE_MAX : watching.slack());
  watching.done(sheet);
  return sheet;
}

void WorkbookLoader::give_back(Sheet&& done) {
  spare_ = Sheet{};
  spare_.cells = std::move(done.cells);
  spare_.numbers = std::move(done.numbers);
  spare_.texts = std::move(done.texts);
  spare_.cells.clear();
  spare_.numbers.clear();
  spare_.texts.bytes.clear();
  spare_.texts.ends.clear();
}

Workbook load_workbook(FileBytes file, LoadOptions options) {
  Workbook wb;
  WorkbookLoader loader(std::move(file), options);
  loader.load_globals(wb);
  while (auto sheet = loader.next_sheet()) wb.sheets.push_back(std::move(*sheet));
  return wb;
}

Workbook load_workbook(std::vector<uint8_t> file, LoadOptions options) {
  return load_workbook(FileBytes(std::move(file)), options);
}

std::optional<Workbook> open_workbook(const std::string& path, LoadOptions options) {
  auto bytes = FileBytes::open(path);
  if (!bytes) return std::nullopt;
  return load_workbook(std::move(*bytes), options);
}

}  // namespace sheetdump
