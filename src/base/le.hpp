// Every integer in a workbook file is little-endian and may sit at any
// byte offset. These helpers assemble them from single bytes so that no
// code ever casts a pointer into a buffer or depends on host byte order.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

namespace sheetdump {

// 0 to 65535, whatever the signedness of the bytes passed in.
inline int32_t le16(uint8_t b0, uint8_t b1) { return int32_t(b0) | (int32_t(b1) << 8); }

// A signed 32-bit value: FF FF FF FF is -1.
inline int32_t le32(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  uint32_t v = uint32_t(b0) | (uint32_t(b1) << 8) | (uint32_t(b2) << 16) | (uint32_t(b3) << 24);
  return int32_t(v);
}

inline uint32_t le32u(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t(le32(b0, b1, b2, b3));
}

// Bounds-checked reads from a byte span: bytes past the end read as 0, so a
// short record yields defined (if meaningless) values. Callers that must not
// act on missing bytes test the size first.
inline uint8_t byte_at(std::span<const uint8_t> d, size_t off) {
  return off < d.size() ? d[off] : 0;
}
inline int32_t le16_at(std::span<const uint8_t> d, size_t off) {
  return le16(byte_at(d, off), byte_at(d, off + 1));
}
inline int32_t le32_at(std::span<const uint8_t> d, size_t off) {
  return le32(byte_at(d, off), byte_at(d, off + 1), byte_at(d, off + 2), byte_at(d, off + 3));
}
inline uint32_t le32u_at(std::span<const uint8_t> d, size_t off) {
  return uint32_t(le32_at(d, off));
}

// The IEEE 754 double whose least significant byte comes first.
// Always inlined: it is on the path of every NUMBER cell.
[[gnu::always_inline]] inline double le_double(std::span<const uint8_t> d, size_t off) {
  uint64_t bits = 0;
  if (off <= d.size() && d.size() - off >= 8) {
    // All eight bytes there: one bounds check.
    // Written out, the shifts compile to one load.
    const uint8_t* p = d.data() + off;
    bits = uint64_t(le32u(p[0], p[1], p[2], p[3])) |
           (uint64_t(le32u(p[4], p[5], p[6], p[7])) << 32);
  } else {
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | byte_at(d, off + size_t(i));
  }
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace sheetdump
