// Every text the program writes is UTF-8. These are the two primitives the
// decoders share: encoding one code point, and checking that a byte string
// is well-formed UTF-8 (tests and tools use the latter on outputs).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sheetdump {

inline constexpr uint32_t kReplacementCharacter = 0xFFFD;
// U+FFFD in UTF-8.
inline constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// Appends the UTF-8 form of `cp`. A surrogate or a value above U+10FFFF is
// not a character and becomes U+FFFD.
void append_code_point_as_utf8(std::string& out, uint32_t cp);

// True when `text` is well-formed UTF-8: no stray continuation bytes, no
// truncated or overlong sequences, no surrogates, nothing above U+10FFFF.
// NUL is a valid character here; callers that forbid it check separately.
bool is_valid_utf8(std::string_view text);

}  // namespace sheetdump
