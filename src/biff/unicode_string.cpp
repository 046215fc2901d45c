#include "biff/unicode_string.hpp"

#include <algorithm>
#include <cstring>

#include "base/codepage.hpp"
#include "base/le.hpp"
#include "base/utf16.hpp"
#include "biff/record_ids.hpp"

namespace sheetdump {

using record_id::kContinue;

bool RecordPieces::fetch() {
  if (done_) return false;
  if (!streaming_) {
    if (++rec_ >= recs_.size()) {
      done_ = true;
      return false;
    }
    cur_ = recs_[rec_];
    off_ = 0;
    return true;
  }
  for (;;) {
    auto next = peek_record(reader_);
    if (!next || next->id != kContinue) {
      done_ = true;
      return false;
    }
    auto rec = read_record(reader_);
    auto bytes = record_data(reader_, *rec);
    if (bytes.empty()) continue;
    if (!rec->padded.empty()) {
      padded_ = std::move(rec->padded);
      bytes = padded_;
    }
    cur_ = bytes;
    off_ = 0;
    return true;
  }
}

bool RecordPieces::settle() {
  while (!done_ && off_ >= cur_.size())
    if (!fetch()) return false;
  return !done_;
}

bool RecordPieces::u8(uint32_t& v) {
  if (!settle()) return false;
  v = cur_[off_++];
  return true;
}

bool RecordPieces::u16(uint32_t& v) {
  uint32_t lo, hi;
  if (!u8(lo) || !u8(hi)) return false;
  v = lo | (hi << 8);
  return true;
}

bool RecordPieces::u32(uint32_t& v) {
  uint32_t lo, hi;
  if (!u16(lo) || !u16(hi)) return false;
  v = lo | (hi << 16);
  return true;
}

bool RecordPieces::skip(uint64_t n) {
  while (n > 0) {
    if (!settle()) return false;
    uint64_t take = std::min<uint64_t>(n, cur_.size() - off_);
    off_ += size_t(take);
    n -= take;
  }
  return true;
}

bool RecordPieces::next_record() { return fetch(); }

void skip_continues(RecordReader& reader) {
  for (;;) {
    auto next = peek_record(reader);
    if (!next || next->id != kContinue) return;
    read_record(reader);
  }
}

namespace {

// Reads `count` characters starting `is16` wide, switching width at every
// record boundary by the option byte found there. 8-bit characters go to
// `bytes` from `start` on as they are; once a 16-bit part is met, the
// whole string is gathered as UTF-16 in `units`. False when the data ends
// inside the characters.
bool read_chars(RecordPieces& in, uint32_t count, bool is16, std::string& bytes, size_t start,
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
      for (size_t i = 0; i < n; ++i)
        units.push_back(uint16_t(le16(avail[2 * i], avail[2 * i + 1])));
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

// Whether every byte is 0x01 to 0x7F: text that is the same in Latin-1
// and UTF-8 and has no NUL to end it early. Eight bytes at a time.
bool plain_ascii(std::span<const uint8_t> b) {
  constexpr uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
  size_t i = 0;
  uint64_t bad = 0;
  for (; i + 8 <= b.size(); i += 8) {
    uint64_t w = 0;
    std::memcpy(&w, b.data() + i, 8);  // a bit test on every byte: the order does not matter
    bad |= (w | ((w - kOnes) & ~w)) & kHighs;
  }
  for (; i < b.size(); ++i) bad |= uint8_t(b[i] - 1) >= 0x7F;
  return bad == 0;
}

}  // namespace

StringRead read_unicode_string(RecordPieces& in, std::string& out, std::vector<uint16_t>& units,
                               bool count8) {
  if (!count8) {
    // Most strings are 8-bit characters without runs or extended data,
    // wholly inside the current record: they are their bytes.
    const std::span<const uint8_t> here = in.here();
    if (here.size() >= 3 && (here[2] & 0x0D) == 0) {
      const size_t n = le16(here[0], here[1]);
      if (n <= here.size() - 3 && plain_ascii(here.subspan(3, n))) {
        out.append(reinterpret_cast<const char*>(here.data() + 3), n);
        in.advance(3 + n);
        return StringRead::Complete;
      }
    }
  }
  uint32_t count, flags, runs = 0, ext = 0;
  if (count8 ? !in.u8(count) : !in.u16(count)) return StringRead::None;
  if (!in.u8(flags)) return StringRead::None;
  // Short strings (sheet names) have no rich-text runs or extended data.
  if (count8) flags &= 0x01;
  if ((flags & 0x08) && !in.u16(runs)) return StringRead::None;
  if ((flags & 0x04) && !in.u32(ext)) return StringRead::None;

  size_t start = out.size();
  bool any16 = false;
  bool complete = read_chars(in, count, (flags & 0x01) != 0, out, start, units, any16);
  // Texts end at their first NUL.
  if (any16) {
    out.resize(start);
    auto nul = std::find(units.begin(), units.end(), uint16_t(0));
    append_utf16_as_utf8(out, std::span<const uint16_t>(units.data(), size_t(nul - units.begin())));
  } else {
    // 8-bit characters are U+0000..U+00FF.
    size_t nul = out.find('\0', start);
    size_t end = nul == std::string::npos ? out.size() : nul;
    bool ascii = std::all_of(out.begin() + ptrdiff_t(start), out.begin() + ptrdiff_t(end),
                             [](char c) { return uint8_t(c) < 0x80; });
    if (ascii) {
      out.resize(end);
    } else {
      std::string raw = out.substr(start, end - start);
      out.resize(start);
      append_latin1_as_utf8(out, raw);
    }
  }
  if (!complete) return StringRead::Partial;
  if ((flags & 0x08) && !in.skip(uint64_t(runs) * 4)) return StringRead::Partial;
  if ((flags & 0x04) && !in.skip(ext)) return StringRead::Partial;
  return StringRead::Complete;
}

std::string unicode_string(std::span<const uint8_t> data, bool count8) {
  std::span<const uint8_t> one[] = {data};
  RecordPieces in(one);
  std::string out;
  std::vector<uint16_t> units;
  read_unicode_string(in, out, units, count8);
  return out;
}

}  // namespace sheetdump
