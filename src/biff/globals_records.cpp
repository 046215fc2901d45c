#include "biff/globals_records.hpp"

#include "base/byte_cursor.hpp"
#include "biff/unicode_string.hpp"

namespace sheetdump {

BofRecord parse_bof(std::span<const uint8_t> d) {
  // Byte by byte: a cut field keeps the byte that is there.
  BofRecord b;
  b.version = le16_at(d, 0);
  b.type = le16_at(d, 2);
  return b;
}

SheetName parse_boundsheet(std::span<const uint8_t> d, bool biff5) {
  SheetName name;
  if (biff5) {
    // BIFF5: byte count at 6, the name's bytes from 7.
    if (d.size() > 7) {
      ByteCursor c(d, 6);
      size_t n = c.u8();
      name.text = as_chars(c.bytes(n));
      name.in_codepage = true;
    }
  } else if (d.size() > 8) {
    // BIFF8: character count at 6, option byte at 7, characters from 8.
    name.text = unicode_string(d.subspan(6), /*count8=*/true);
  }
  return name;
}

std::optional<int32_t> parse_xf(std::span<const uint8_t> d) {
  if (d.size() < 4) return std::nullopt;
  return le16(d[2], d[3]);
}

std::optional<FormatRecord> parse_format(std::span<const uint8_t> d, bool biff5) {
  ByteCursor c(d);
  FormatRecord f;
  f.index = c.u16();
  if (biff5) {
    size_t n = c.u8();
    if (!c) return std::nullopt;
    f.code = as_chars(c.bytes(n));
    f.in_codepage = true;
  } else {
    if (d.size() < 5) return std::nullopt;
    f.code = unicode_string(d.subspan(2));
  }
  return f;
}

std::optional<uint16_t> parse_codepage(std::span<const uint8_t> d) {
  if (d.size() < 2) return std::nullopt;
  return uint16_t(le16(d[0], d[1]));
}

std::optional<bool> parse_datemode(std::span<const uint8_t> d) {
  if (d.size() < 2) return std::nullopt;
  return le16(d[0], d[1]) == 1;
}

}  // namespace sheetdump
