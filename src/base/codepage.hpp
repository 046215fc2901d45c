// Workbooks store their 8-bit texts in the workbook's code page (the number
// in its CODEPAGE record); the program writes every text as UTF-8. A
// TextDecoder is made once per workbook from that number and then turns
// each text's bytes into UTF-8, cheaply enough to be called per cell.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/utf8.hpp"

namespace sheetdump {

// Appends bytes that are the code points U+0000..U+00FF (the "compressed"
// 8-bit strings of BIFF8) as UTF-8. A NUL byte is kept: this is a plain
// conversion, like append_utf16_as_utf8.
void append_latin1_as_utf8(std::string& out, std::string_view bytes);

// How a decoder turns bytes into characters.
enum class DecodeMethod {
  Table,    // one byte, one character: a 256-entry table built at construction
  Iconv,    // multibyte pages: the C library's iconv over each text
  Utf16Le,  // code page 1200: little-endian UTF-16 code units
};

class TextDecoder {
 public:
  // Chooses the character set for a code-page number. Numbers without a
  // known character set decode as Windows-1252.
  explicit TextDecoder(uint16_t codepage);
  ~TextDecoder();
  TextDecoder(TextDecoder&&) noexcept;
  TextDecoder& operator=(TextDecoder&&) noexcept;
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;

  // Appends the UTF-8 form of one text. The text ends at its first NUL
  // character (a 0x00 byte; for 1200, a 0x0000 unit), so the output never
  // holds NUL. Each byte the page cannot decode, and an incomplete sequence
  // at the end, becomes U+FFFD. Never reads outside `bytes`.
  // Not safe to call from two threads at once on one decoder: the iconv
  // path keeps conversion state in the decoder.
  void append_utf8(std::string& out, std::span<const uint8_t> bytes) const;
  std::string to_utf8(std::span<const uint8_t> bytes) const;

  // The code page actually used: 32768 reads as 10000, 32769 and unknown
  // numbers as 1252.
  uint16_t codepage() const { return codepage_; }
  // The iconv name of the character set, or a description of a built-in one.
  const std::string& charset() const { return charset_; }
  DecodeMethod method() const { return method_; }

  struct IconvCloser {
    void operator()(void* cd) const;
  };

 private:
  // The UTF-8 form of one byte of a single-byte page.
  struct Entry {
    uint8_t size = 0;
    char bytes[7] = {};
  };

  void append_by_table(std::string& out, const uint8_t* p, size_t n) const;
  void append_by_iconv(std::string& out, const uint8_t* p, size_t n) const;

  uint16_t codepage_ = 1252;
  std::string charset_;
  DecodeMethod method_ = DecodeMethod::Table;
  // Bytes 0x01..0x7F are the ASCII characters of the same value.
  bool ascii_compatible_ = false;
  std::array<Entry, 256> table_{};
  // Conversion state changes while decoding; the decoder's value does not.
  mutable std::unique_ptr<void, IconvCloser> iconv_;
};

}  // namespace sheetdump
