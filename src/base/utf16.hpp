// Texts stored with 16-bit characters are UTF-16LE in the file and UTF-8 in
// the program.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sheetdump {

// Appends the UTF-8 form of UTF-16 code units: surrogate pairs are joined,
// an unpaired surrogate becomes U+FFFD.
void append_utf16_as_utf8(std::string& out, std::span<const uint16_t> units);

}  // namespace sheetdump
