// Reads BIFF records from the in-memory byte sequence of one workbook.
//
// Positions are absolute offsets into the sequence. The reader keeps the
// behaviour of a buffered stream at the end of the data: a byte read that
// finds no byte yields 0xFF and sets the end indicator, the position still
// advances (so it may run past the end), and every seek clears the
// indicator. A record's header is read at once, its data only on request.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace sheetdump {

struct RecordReader {
  std::span<const uint8_t> data;
  int64_t pos = 0;
  bool eof = false;  // the end-of-file indicator
};

struct BiffRecord {
  int32_t id = 0;
  int32_t size = 0;
  int64_t data_pos = 0;
  // Set by record_data: the record's bytes, in place where the whole record
  // lies inside the data, else in `padded` with 0xFF for the missing bytes.
  std::optional<std::span<const uint8_t>> data;
  std::vector<uint8_t> padded;

  BiffRecord() = default;
  BiffRecord(const BiffRecord&) = delete;
  BiffRecord& operator=(const BiffRecord&) = delete;
  BiffRecord(BiffRecord&&) = default;
  BiffRecord& operator=(BiffRecord&&) = default;
};

bool at_end(const RecordReader& r);
int32_t read_word(RecordReader& r);
void seek_to(RecordReader& r, int64_t pos);
void skip_bytes(RecordReader& r, int64_t count);
std::optional<BiffRecord> read_record(RecordReader& r);
std::optional<BiffRecord> peek_record(RecordReader& r);
// The common case of read_record and record_data at once, without a record
// object: when the next record's header and data lie wholly inside the
// data (and the end indicator is clear), gives its id and data in place,
// moves behind it and returns true. Otherwise changes nothing and returns
// false, and the caller takes the general path.
inline bool next_record_in_place(RecordReader& r, int32_t& id, std::span<const uint8_t>& data) {
  const int64_t size = int64_t(r.data.size());
  if (r.eof || r.pos < 0 || r.pos + 4 > size) return false;
  const uint8_t* p = r.data.data() + r.pos;
  int32_t len = int32_t(p[2]) | (int32_t(p[3]) << 8);
  if (r.pos + 4 + len > size) return false;
  id = int32_t(p[0]) | (int32_t(p[1]) << 8);
  data = r.data.subspan(size_t(r.pos + 4), size_t(len));
  r.pos += 4 + len;
  return true;
}

// The record's data bytes; leaves the position right behind the record.
std::span<const uint8_t> record_data(RecordReader& r, BiffRecord& rec);

// A growable list of records whose capacity runs 16, 32, 64 ... Unlike a
// list of borrowed pointers it owns its records, so that nothing else has
// to keep them alive while they are gathered.
struct RecordList {
  std::vector<BiffRecord> items;
  RecordList() { items.reserve(16); }
  void push(BiffRecord rec) {
    if (items.size() == items.capacity()) items.reserve(items.capacity() * 2);
    items.push_back(std::move(rec));
  }
  size_t count() const { return items.size(); }
  size_t capacity() const { return items.capacity(); }
};

}  // namespace sheetdump
