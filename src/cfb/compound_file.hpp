// Finds a named stream inside an OLE2 compound file and joins its pieces.
//
// A compound file keeps each stream wherever its allocation tables say: at
// any sector, fragmented, or in the mini-stream. This layer answers where
// the bytes of one stream, named among the root storage's children, lie in
// the file, and can join those pieces in place behind a kept prefix of the
// file so that a reader sees one byte sequence. It knows nothing of what a
// stream holds. A file that is not a compound file, or whose structures are
// inconsistent in any way, gives nothing, so the caller can fall back on the
// raw file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace sheetdump {

// Where some of a stream's bytes lie in the file.
struct Extent {
  uint64_t offset;
  uint64_t length;
};

// True when the file starts with the compound-file signature.
bool is_compound_file(std::span<const uint8_t> file);

// The extents of the stream called `name` among the root storage's children,
// in stream order, or nothing when the file is not a compound file, holds no
// such stream there, or any structure leading to it is inconsistent. `name`
// is ASCII and compared without regard to the case of ASCII letters, as the
// compound-file format compares names; an empty name is never found. An
// empty stream gives an empty list. Every extent lies inside `file`, past
// its header.
std::optional<std::vector<Extent>> find_stream(std::span<const uint8_t> file,
                                               std::string_view name);

// Where the joined sequence lies: [begin, end) of the file itself when the
// pieces could be joined in place, or all of `copy` when they had to be
// gathered. Either way the sequence is the file's first `prefix` bytes
// followed by the stream's bytes.
struct StreamLayout {
  size_t begin = 0;
  size_t end = 0;
  bool copied = false;
  std::vector<uint8_t> copy;
};

// Joins the pieces `extents` (as find_stream gives them) behind the first
// `prefix` bytes of `file`. Pieces in file order that all lie past the
// prefix are joined in place: the largest stays where it is and only the
// others (and the prefix) move, which overwrites bytes of `file` that belong
// to neither. Pieces out of order are copied. A prefix longer than the file
// or a piece reaching beyond it gives the file as it is: [0, file.size()).
StreamLayout lay_out_stream(std::span<uint8_t> file, std::span<const Extent> extents,
                            size_t prefix);

}  // namespace sheetdump
