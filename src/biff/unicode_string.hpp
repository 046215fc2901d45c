// BIFF8 unicode strings: a character count, an option byte (8-bit or
// 16-bit characters, rich-text runs, extended data), the characters, then
// the runs and the extended data. A string may be cut at a record boundary
// (SST or STRING data running on in CONTINUE records); a cut inside the
// characters is followed by one option byte that gives the width of the
// rest. Every string becomes UTF-8, cut at its first NUL.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "biff/record_reader.hpp"

namespace sheetdump {

// A read position over a record and its CONTINUE records taken as one run
// of data. Header fields, rich-text runs and extended data flow from one
// record into the next; character data switches width at a boundary.
// The records come from a list, or straight from the record reader: then
// no memory is held per record, however many small ones follow (empty
// ones add nothing, not even an option byte, and are passed over).
class RecordPieces {
 public:
  explicit RecordPieces(std::span<const std::span<const uint8_t>> recs, size_t first_offset = 0)
      : recs_(recs), off_(first_offset) {
    if (!recs_.empty())
      cur_ = recs_[0];
    else
      done_ = true;
  }
  // The data `first` of the record just read, from `first_offset` on, then
  // the CONTINUE records that `reader` stands before.
  RecordPieces(std::span<const uint8_t> first, RecordReader reader, size_t first_offset = 0)
      : cur_(first), off_(first_offset), reader_(reader), streaming_(true) {}

  // Steps over used-up records; false when no data is left at all.
  bool settle();
  bool u8(uint32_t& v);
  bool u16(uint32_t& v);
  bool u32(uint32_t& v);
  bool skip(uint64_t n);
  // The rest of the current record.
  std::span<const uint8_t> here() const {
    return done_ ? std::span<const uint8_t>{} : cur_.subspan(std::min(off_, cur_.size()));
  }
  void advance(size_t n) { off_ += n; }
  // Moves to the start of the next record; false when there is none.
  bool next_record();

 private:
  // Makes the next record current; false (and done) when there is none.
  bool fetch();

  std::span<const std::span<const uint8_t>> recs_;
  size_t rec_ = 0;
  std::span<const uint8_t> cur_;
  size_t off_ = 0;
  bool done_ = false;
  RecordReader reader_;
  bool streaming_ = false;
  std::vector<uint8_t> padded_;  // a record cut by the end of the data
};

// Steps `reader` over the CONTINUE records it stands before.
void skip_continues(RecordReader& reader);

enum class StringRead : uint8_t {
  None,      // the data ended inside the string's header: no string
  Partial,   // the data ended inside the characters: those present were kept
  Complete,  // the whole string, runs and extended data included
};

// Reads one string and appends its UTF-8 text to `out`. `count8` reads an
// 8-bit character count (sheet names) instead of a 16-bit one. `units` is
// scratch room, kept by the caller to spare allocations.
StringRead read_unicode_string(RecordPieces& in, std::string& out, std::vector<uint16_t>& units,
                               bool count8 = false);

// One string in one piece of data.
std::string unicode_string(std::span<const uint8_t> data, bool count8 = false);

}  // namespace sheetdump
