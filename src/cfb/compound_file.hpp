// Finds the workbook stream inside an OLE2 compound file.
//
// The record reader works on one byte sequence in which the BIFF stream
// starts at offset 512. Real workbooks keep their "Workbook" stream wherever
// the compound file's allocation tables say: at another sector, fragmented,
// or in the mini-stream. This layer turns such a file into the sequence the
// reader expects: the file's first 512 bytes followed by the stream's bytes
// in stream order, ending at the stream's size. A file that is not a
// compound file, or whose structures are inconsistent in any way, is left
// exactly as it is.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sheetdump {

// Where the stream's bytes lie in the file, in stream order.
struct Extent {
  uint64_t offset;
  uint64_t length;
};

// The stream's extents, or nothing when the file is not a compound file
// holding a "Workbook" (preferred) or "Book" stream with consistent tables.
// An empty stream gives an empty list.
std::optional<std::vector<Extent>> find_workbook_stream(std::span<const uint8_t> file);

// Where the sequence the record reader reads lies: [begin, end) of the
// file itself when the stream is one piece (the header's 512 bytes are
// moved right in front of it), or all of `copy` when it had to be gathered.
struct StreamLayout {
  size_t begin = 0;
  size_t end = 0;
  bool copied = false;
  std::vector<uint8_t> copy;
};
StreamLayout lay_out_stream(std::span<uint8_t> file);

// Rearranges `file` so that it holds the sequence the record reader reads:
// either the raw file (nothing found), or the first 512 bytes followed by the
// stream. Returns the offset in `file` at which that sequence begins; the
// sequence runs to the end of `file`.
size_t lay_out_workbook_stream(std::vector<uint8_t>& file);

}  // namespace sheetdump
