// A read position over borrowed bytes, for parsing one record or one
// structure of a file. Every read is checked against the bytes actually
// there: a read that does not fit yields 0 (or nothing), leaves the
// position at the end and marks the cursor as short, so a parser can read
// all its fields first and ask once whether they were all present.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/le.hpp"

namespace sheetdump {

class ByteCursor {
 public:
  ByteCursor() = default;
  explicit ByteCursor(std::span<const uint8_t> data, size_t pos = 0)
      : data_(data), pos_(pos <= data.size() ? pos : data.size()), short_(pos > data.size()) {}

  size_t pos() const { return pos_; }
  size_t size() const { return data_.size(); }
  size_t left() const { return data_.size() - pos_; }
  bool at_end() const { return pos_ >= data_.size(); }
  // True once any read or skip went past the end of the data.
  bool is_short() const { return short_; }
  // True while every read so far found its bytes.
  explicit operator bool() const { return !short_; }

  uint8_t u8() { return take(1) ? data_[pos_ - 1] : 0; }
  uint16_t u16() {
    if (!take(2)) return 0;
    return uint16_t(le16(data_[pos_ - 2], data_[pos_ - 1]));
  }
  uint32_t u32() {
    if (!take(4)) return 0;
    const uint8_t* p = data_.data() + pos_ - 4;
    return le32u(p[0], p[1], p[2], p[3]);
  }
  int32_t i32() { return int32_t(u32()); }
  double f64() {
    if (!take(8)) return 0.0;
    return le_double(data_, pos_ - 8);
  }
  // The next `n` bytes; when fewer are left, the rest of the data (and the
  // cursor is short).
  std::span<const uint8_t> bytes(size_t n) {
    size_t start = pos_;
    size_t got = n <= left() ? n : left();
    if (got < n) short_ = true;
    pos_ += got;
    return data_.subspan(start, got);
  }
  // Everything from the position to the end.
  std::span<const uint8_t> rest() { return bytes(left()); }
  void skip(size_t n) { (void)bytes(n); }
  void seek(size_t pos) {
    if (pos > data_.size()) {
      pos_ = data_.size();
      short_ = true;
    } else {
      pos_ = pos;
    }
  }

 private:
  bool take(size_t n) {
    if (n > left()) {
      pos_ = data_.size();
      short_ = true;
      return false;
    }
    pos_ += n;
    return true;
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool short_ = false;
};

// Bytes as characters, for texts copied out of the file.
inline std::string_view as_chars(std::span<const uint8_t> b) {
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}

}  // namespace sheetdump
