#include "biff/shared_strings.hpp"

#include <algorithm>
#include <limits>

#include "base/le.hpp"
#include "biff/record_ids.hpp"
#include "base/utf16.hpp"

namespace sheetdump {

namespace {


// A read position over the SST record and its CONTINUE records taken as
// one run of data. Header fields, rich-text runs and extended data flow
// from one record into the next; character data is handled by the caller,
// since a record boundary inside it brings a new option byte.
class Pieces {
 public:
  explicit Pieces(std::span<const std::span<const uint8_t>> recs) : recs_(recs) {}

  // Steps over used-up records; false when no data is left at all.
  bool settle() {
    while (rec_ < recs_.size() && off_ >= recs_[rec_].size()) {
      ++rec_;
      off_ = 0;
    }
    return rec_ < recs_.size();
  }
  bool u8(uint32_t& v) {
    if (!settle()) return false;
    v = recs_[rec_][off_++];
    return true;
  }
  bool u16(uint32_t& v) {
    uint32_t lo, hi;
    if (!u8(lo) || !u8(hi)) return false;
    v = lo | (hi << 8);
    return true;
  }
  bool u32(uint32_t& v) {
    uint32_t lo, hi;
    if (!u16(lo) || !u16(hi)) return false;
    v = lo | (hi << 16);
    return true;
  }
  bool skip(uint64_t n) {
    while (n > 0) {
      if (!settle()) return false;
      uint64_t take = std::min<uint64_t>(n, recs_[rec_].size() - off_);
      off_ += size_t(take);
      n -= take;
    }
    return true;
  }

  // The rest of the current record.
  std::span<const uint8_t> here() const {
    return rec_ < recs_.size() ? recs_[rec_].subspan(off_) : std::span<const uint8_t>{};
  }
  void advance(size_t n) { off_ += n; }
  // Moves to the start of the next record; false when there is none.
  bool next_record() {
    if (rec_ >= recs_.size()) return false;
    ++rec_;
    off_ = 0;
    return rec_ < recs_.size();
  }

 private:
  std::span<const std::span<const uint8_t>> recs_;
  size_t rec_ = 0;
  size_t off_ = 0;
};

// Reads `count` characters starting `is16` wide into `out`, switching width
// at every record boundary by the option byte found there. The string's
// text goes to out.bytes from `start` on; 16-bit parts are gathered as
// UTF-16 in `units` first. False when the data ends inside the characters.
bool read_chars(Pieces& in, uint32_t count, bool is16, std::string& bytes, size_t start,
                std::vector<uint16_t>& units, bool& any16) {
  uint32_t left = count;
  while (left > 0) {
    auto avail = in.here();
    if (avail.empty()) {
      // A cut at a record boundary: the next record starts with the width.
      if (!in.next_record()) return false;
      avail = in.here();
      if (avail.empty()) continue;
      is16 = (avail[0] & 0x01) != 0;
      in.advance(1);
      continue;
    }
    size_t width = is16 ? 2 : 1;
    size_t n = std::min<size_t>(left, avail.size() / width);
    if (n == 0) {  // a lone byte of a 16-bit character: unusable
      in.advance(avail.size());
      continue;
    }
    if (is16 && !any16) {
      // From now on the string is UTF-16: widen what was read so far.
      units.clear();
      for (size_t i = start; i < bytes.size(); ++i) units.push_back(uint8_t(bytes[i]));
      bytes.resize(start);
      any16 = true;
    }
    if (is16) {
      for (size_t i = 0; i < n; ++i) units.push_back(uint16_t(le16(avail[2 * i], avail[2 * i + 1])));
    } else if (any16) {
      for (size_t i = 0; i < n; ++i) units.push_back(avail[i]);
    } else {
      bytes.append(reinterpret_cast<const char*>(avail.data()), n);
    }
    in.advance(n * width);
    left -= uint32_t(n);
  }
  return true;
}

}  // namespace

SharedStrings read_sst(std::span<const std::span<const uint8_t>> records) {
  SharedStrings out;
  if (records.empty()) return out;
  int32_t declared = le32_at(records[0], 4);
  if (declared <= 0 || records[0].size() < 8) return out;

  // Every string takes at least 3 bytes: reserve no more than the data holds.
  size_t total = 0;
  for (auto r : records) total += r.size();
  out.ends.reserve(std::min<size_t>(size_t(declared), total / 3));

  std::span<const uint8_t> first = records[0].subspan(8);
  std::vector<std::span<const uint8_t>> pieces(records.begin(), records.end());
  pieces[0] = first;
  Pieces in(pieces);
  std::vector<uint16_t> units;

  for (int32_t i = 0; i < declared; ++i) {
    uint32_t count, flags, runs = 0, ext = 0;
    if (!in.u16(count) || !in.u8(flags)) break;
    if ((flags & 0x08) && !in.u16(runs)) break;
    if ((flags & 0x04) && !in.u32(ext)) break;

    size_t start = out.bytes.size();
    bool any16 = false;
    bool complete = read_chars(in, count, (flags & 0x01) != 0, out.bytes, start, units, any16);
    if (any16) append_utf16_as_utf8(out.bytes, units);
    // Texts end at their first NUL.
    size_t nul = out.bytes.find('\0', start);
    if (nul != std::string::npos) out.bytes.resize(nul);
    if (out.bytes.size() > std::numeric_limits<uint32_t>::max()) break;
    out.ends.push_back(uint32_t(out.bytes.size()));

    if (!complete) break;
    if ((flags & 0x08) && !in.skip(uint64_t(runs) * 4)) break;
    if ((flags & 0x04) && !in.skip(ext)) break;
  }
  return out;
}

void load_sst(Workbook& wb, BiffRecord& sst) {
  RecordList continues;
  for (;;) {
    auto next = peek_record(wb.reader);
    if (!next || next->id != record_id::kContinue) break;
    continues.push(std::move(*read_record(wb.reader)));
  }
  std::vector<std::span<const uint8_t>> data;
  data.reserve(continues.count() + 1);
  data.push_back(record_data(wb.reader, sst));
  for (auto& rec : continues.items) data.push_back(record_data(wb.reader, rec));
  wb.sst = read_sst(data);
}

}  // namespace sheetdump
