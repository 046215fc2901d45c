// Turns the bytes of one workbook file into a loaded Workbook: the globals
// (sheet names, XF formats, format codes, code page, date system, shared
// strings) first, then every substream in turn, each worksheet with its
// cells. The loader owns everything that reading needs (the file, the
// record reader, the names waiting for their sheets); the Workbook it
// fills is plain data.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/codepage.hpp"
#include "base/file_bytes.hpp"
#include "biff/record_reader.hpp"
#include "biff/workbook.hpp"

namespace sheetdump {

class SheetWatch;

struct LoadOptions {
  // Read every kind of cell: inline texts, booleans, errors and formula
  // results besides numbers and shared strings.
  bool all = false;
};

// Why a file that opened gives no workbook, or not all of one.
enum class LoadProblem : uint8_t {
  None,
  NotWorkbook,       // not a compound file, and no BOF record where the stream begins
  NoWorkbookStream,  // a compound file without a "Workbook" or "Book" stream
  Encrypted,         // a FILEPASS record: everything after it is ciphertext
  OldBiff,           // a BOF record of BIFF2, BIFF3 or BIFF4
  Truncated,         // the data ends inside the globals or inside a worksheet
};

// The classification of a BOF record's data (missing bytes count as 0).
SubstreamKind classify_bof(std::span<const uint8_t> bof);

class WorkbookLoader {
 public:
  explicit WorkbookLoader(FileBytes file, LoadOptions options = {});

  // Reads the globals substream into `wb`. Sheet names are decoded once
  // the whole of it is read, whatever the order of its records.
  void load_globals(Workbook& wb);
  // The next substream, loaded; none when the data holds no more. Sheets
  // are named by position: the i-th substream found gets the i-th name.
  // A worksheet may be watched while it loads (see SheetWatch); its cells'
  // storage then stays where it was until the caller changes the sheet.
  std::optional<Sheet> next_sheet(SheetWatch* watch = nullptr);
  // A sheet the caller is done with: the next sheet is read into its
  // room, so that a workbook of many sheets reuses memory already
  // touched instead of asking the system for fresh pages each time.
  void give_back(Sheet&& done);
  // Finds the next BOF record; its classification, or SUBSTREAM_NONE.
  SubstreamKind next_substream();

  LoadProblem problem() const { return problem_; }
  bool biff5() const { return biff5_; }
  const std::vector<std::string>& sheet_names() const { return names_; }
  const RecordReader& reader() const { return reader_; }

 private:
  void skip_to_eof();

  FileBytes file_;
  size_t file_offset_ = 0;  // where the reader's byte sequence begins in the file
  RecordReader reader_;
  LoadOptions options_;
  bool biff5_ = false;        // the globals' BOF said BIFF5 (version 0x0500)
  bool globals_bof_ = false;  // the globals began with a BOF record
  std::vector<std::string> names_;
  size_t sheets_found_ = 0;
  std::unique_ptr<TextDecoder> decoder_;
  LoadProblem problem_ = LoadProblem::None;
  int32_t last_bof_type_ = 0;
  Sheet spare_;  // the room of a sheet given back, emptied
};

// Loads a whole workbook from the file's bytes (compound file or bare
// stream).
Workbook load_workbook(FileBytes file, LoadOptions options = {});
Workbook load_workbook(std::vector<uint8_t> file, LoadOptions options = {});

// Reads and loads the named file; none when it cannot be opened or read.
std::optional<Workbook> open_workbook(const std::string& path, LoadOptions options = {});

}  // namespace sheetdump
