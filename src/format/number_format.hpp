// Spreadsheet number-format codes ("#,##0.00", "m/d/yyyy", "[h]:mm:ss",
// "# ?/?" ...) rendered to the text the spreadsheet displays. A code is
// compiled once per workbook into a CompiledFormat; rendering a cell then
// walks its tokens without allocating (the caller reuses `out`), or, for
// the common codes and values, writes the same text by integer arithmetic
// on the value's short decimal form (FastPath).
//
// Decided behaviour where the application's display depends on the column
// width or shows an error:
// - a value that matches no section, a negative or too large serial in a
//   date/time section, and a code that cannot be parsed all render by the
//   General rule;
// - fills (`*x`) print nothing (the narrowest column);
// - non-finite values render as "#NUM!";
// - one rendered cell is capped at kMaxRenderedBytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sheetdump {

inline constexpr size_t kMaxRenderedBytes = size_t(64) * 1024;

enum class FormatTokenKind : uint8_t {
  kLiteral,   // pool text printed as is
  kDigit,     // '0', '#' or '?' (ch); role says which part of the number
  kPoint,     // the decimal point of a number section
  kComma,     // thousands grouping marker (prints nothing itself)
  kExponent,  // 'E+' / 'E-' (ch is '+' or '-'), literal 'E'/'e' in pool
  kText,      // '@'
  kGeneral,   // "General" inside a section
  kSlash,     // the fraction bar
  kDenFixed,  // a fixed fraction denominator (value in `value`)
  kYear2,
  kYear4,
  kMonth,
  kMonth2,
  kMonthAbbr,
  kMonthFull,
  kMonthLetter,
  kMinute,
  kMinute2,
  kDay,
  kDay2,
  kDayAbbr,
  kDayFull,
  kHour,
  kHour2,
  kSecond,
  kSecond2,
  kSubsecond,  // '.' followed by `value` digits of the fraction of a second
  kElapsedH,
  kElapsedM,
  kElapsedS,  // [h] [m] [s]: minimum width in `value`
  kAmPm,      // "AM"/"PM"
  kAP,        // "A"/"P" or "a"/"p" (ch is 'A' or 'a')
};

enum class DigitRole : uint8_t { kInt, kFrac, kExp, kNum, kDen };

struct FormatToken {
  FormatTokenKind kind;
  char ch = 0;
  DigitRole role = DigitRole::kInt;
  uint32_t offset = 0;  // pool text (its source text for non-literals)
  uint32_t length = 0;
  int32_t value = 0;
};

enum class SectionKind : uint8_t { kNumber, kScientific, kFraction, kDate, kText };
enum class ConditionOp : uint8_t { kNone, kLt, kLe, kGt, kGe, kEq, kNe };

struct FormatSection {
  SectionKind kind = SectionKind::kNumber;
  ConditionOp op = ConditionOp::kNone;
  double bound = 0;
  uint32_t first = 0, last = 0;  // token range
  int32_t int_digits = 0;        // integer (or mantissa) placeholders
  int32_t frac_digits = 0;       // decimal placeholders
  int32_t num_digits = 0;        // fraction numerator placeholders
  int32_t den_digits = 0;        // fraction denominator placeholders
  int32_t den_fixed = 0;         // fixed denominator, or 0
  int32_t scale10 = 0;           // +2 per '%', -3 per scaling comma
  bool grouping = false;         // thousands separators in the integer part
  bool has_int_part = false;     // fraction with an integer part
  bool twelve_hour = false;      // AM/PM or A/P present
  int32_t subsecond_digits = 0;  // widest fraction of a second shown (0-3)
};

// The common codes that render without walking their tokens, decided
// when the code is compiled. Each renders the exact text of the token walk
// where it applies and hands the value back otherwise.
enum class FastPath : uint8_t {
  kNone,
  kGeneral,  // the whole code is General
  kFixed,    // "0" or "#,##0", optional ".0..." (1 to 9 zeros), optional '%'
  kDate,     // one date/time section whose text fits kFastRoom
};

struct CompiledFormat {
  bool general = true;                 // whole code is General (or could not be parsed)
  FastPath fast = FastPath::kGeneral;  // decided by compile_format (kNone: the walk only)
  // The code's number texts can hold no double quote, single quote or
  // backslash (General, or a code without any of them), so that writers
  // need not search them for characters to escape.
  bool plain = true;
  uint8_t count = 0;  // sections
  std::array<FormatSection, 4> sections{};
  std::vector<FormatToken> tokens;
  std::string pool;
};

// Never fails: a code that cannot be parsed compiles to General.
CompiledFormat compile_format(std::string_view code);

// Whether render_text shows a text as it stands (up to kMaxRenderedBytes):
// the code has no text section.
inline bool shows_text_as_is(const CompiledFormat& f) {
  return f.general || !(f.count == 4 || (f.count == 1 && f.sections[0].kind == SectionKind::kText));
}

// Appends the display text of a number cell. date1904 selects the date
// system of the workbook.
void render_number(const CompiledFormat& f, double value, bool date1904, std::string& out);

// Room that write_number_fast may need at its output.
inline constexpr size_t kFastRoom = 160;

// The display text of a number cell for the common codes (see FastPath)
// and values (decimals of up to six places below 10^15, dates in range),
// written at `p`, which has room for kFastRoom bytes; returns the end, or
// nullptr where only render_number decides. Same bytes as render_number.
char* write_number_fast(const CompiledFormat& f, double value, bool date1904, char* p);

// Appends the display text of a text cell: through the text section (the
// fourth, or an only section containing '@'), else the text itself.
void render_text(const CompiledFormat& f, std::string_view text, std::string& out);

// The General rule on its own (up to 11 characters, scientific for large
// and small magnitudes).
void render_general(double value, std::string& out);

}  // namespace sheetdump
