#include "biff/record_reader.hpp"

#include "base/le.hpp"

namespace sheetdump {

namespace {

constexpr uint8_t kPastEnd = 0xFF;

int64_t data_size(const RecordReader& r) { return int64_t(r.data.size()); }

// One byte read: advances the position whether or not a byte is there.
uint8_t read_byte(RecordReader& r) {
  if (r.pos >= 0 && r.pos < data_size(r)) return r.data[size_t(r.pos++)];
  ++r.pos;
  r.eof = true;
  return kPastEnd;
}

}  // namespace

bool at_end(const RecordReader& r) { return r.eof || r.pos >= data_size(r); }

int32_t read_word(RecordReader& r) {
  if (r.eof) return 0;
  int32_t low = read_byte(r);
  int32_t high = r.eof ? 0 : read_byte(r);
  return low + 256 * high;
}

void seek_to(RecordReader& r, int64_t pos) {
  r.pos = pos;
  r.eof = false;
}

void skip_bytes(RecordReader& r, int64_t count) { seek_to(r, r.pos + count); }

std::optional<BiffRecord> read_record(RecordReader& r) {
  if (at_end(r)) return std::nullopt;
  BiffRecord rec;
  // The common case, a whole header inside the data, without the per-byte
  // path.
  if (r.pos >= 0 && r.pos + 4 <= data_size(r)) {
    auto p = r.data.subspan(size_t(r.pos), 4);
    rec.id = le16(p[0], p[1]);
    rec.size = le16(p[2], p[3]);
    r.pos += 4;
  } else {
    rec.id = read_word(r);
    rec.size = read_word(r);
  }
  rec.data_pos = r.pos;
  skip_bytes(r, rec.size);
  return rec;
}

std::optional<BiffRecord> peek_record(RecordReader& r) {
  int64_t saved = r.pos;
  auto rec = read_record(r);
  seek_to(r, saved);
  return rec;
}

std::span<const uint8_t> record_data(RecordReader& r, BiffRecord& rec) {
  if (rec.data) return *rec.data;
  seek_to(r, rec.data_pos);
  int64_t end = rec.data_pos + rec.size;
  if (rec.data_pos >= 0 && end <= data_size(r)) {
    rec.data = r.data.subspan(size_t(rec.data_pos), size_t(rec.size));
    r.pos = end;
  } else {
    rec.padded.resize(size_t(rec.size));
    for (auto& b : rec.padded) b = read_byte(r);
    rec.data = std::span<const uint8_t>(rec.padded);
  }
  return *rec.data;
}

}  // namespace sheetdump
