// What a workbook's number-format code shows: a calendar date, a time of
// day, or an elapsed duration. The exact rendering picks ISO dates, ISO
// times or durations from this instead of from the built-in format table,
// so that custom codes written by any application are understood too.
#pragma once

#include <string_view>

namespace sheetdump {

// The unit of an elapsed-time bracket ([h], [mm], [ss], ...): the leading
// unit of a duration, which is not wrapped at 24 hours / 60 minutes.
enum class Elapsed { None, Hours, Minutes, Seconds };

struct FormatShows {
  bool date = false;                // a year, month or day token
  bool time = false;                // hours, minutes, seconds, AM/PM or an elapsed bracket
  Elapsed elapsed = Elapsed::None;  // the first elapsed bracket of the code

  bool is_date_or_time() const { return date || time; }
  bool operator==(const FormatShows&) const = default;
};

// Classifies the first section of `code` (sections are split by ';'
// outside quotes, escapes and brackets). Tokens are the letters d, m, y,
// b (year), h, s in any case, AM/PM and A/P in any case, and the elapsed
// brackets: a bracket holding one letter h, m or s repeated ([h], [MM],
// [sss]). Ignored: double-quoted literals, the character after '\', '_'
// or '*', and every other bracket (colours, conditions, locales). An 'm'
// or 'mm' run is minutes when the date/time token before it is an hour
// (h or [h]) or the one after it is a second (s or [s]), else a month;
// 'mmm' and longer are months. An unterminated quote or bracket swallows
// the rest of the code. Linear in the length of the code.
FormatShows classify_format_code(std::string_view code);

}  // namespace sheetdump
