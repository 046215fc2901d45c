// The opt-in exact rendering of a number cell: the stored double as the
// shortest decimal that reads back as the same double, and dates, times
// and durations in ISO form rounded to the millisecond, instead of the
// rounded patterns of the built-in format table.
#pragma once

#include "format/format_kind.hpp"
#include "format/number_text.hpp"

namespace sheetdump {

// The shortest decimal that strtod reads back as `v`, laid out as
// ECMAScript's Number.prototype.toString lays it out: plain digits for
// decimal exponents from -6 to 20 (0.000001, 123.456,
// 123456789012345680000), else d[.ddd]e+N / d[.ddd]e-N (1e+21, 1e-7).
// -0 prints as 0; NaN, Infinity and -Infinity by name.
void append_shortest(TextBuffer& out, double v);
// append_shortest of n / 100 (an RK integer divided by 100), |n| < 2^29,
// without a double.
void append_shortest_hundredths(TextBuffer& out, int64_t n);

// Day serial `serial` as an ISO date and/or time, per `shows`:
// YYYY-MM-DD, HH:MM:SS or YYYY-MM-DD HH:MM:SS, the seconds followed by
// .mmm when the value rounded to the nearest millisecond (halves up) has
// milliseconds; the rounding may carry into the next second, minute or
// day. 1900 system: serial 1 is 1900-01-01, 60 the 1900-02-29 that
// spreadsheets show, 61 is 1900-03-01; 1904 system: 0 is 1904-01-01.
// A date format on day 0 of the 1900 system prints only its time part,
// or nothing when it has none. Codes with an elapsed bracket go to
// append_elapsed. False, with nothing appended, when the value must be
// printed as a number: shows neither date nor time, NaN, infinities,
// negative serials, a date format on day 0 without a time part, dates
// after 9999-12-31 (after rounding).
bool append_iso(TextBuffer& out, double serial, bool date1904, FormatShows shows);

// A duration of `serial` days with the leading unit of shows.elapsed not
// wrapped: [h] gives H:MM:SS in total hours (1.5 -> 36:00:00), [m] M:SS
// in total minutes, [s] S in total seconds. The leading unit has at least
// two digits (0.25 with [h] -> 06:00:00); .mmm follows the seconds as in
// append_iso; a negative duration is '-' and its magnitude, unless it
// rounds to zero. False, with nothing appended, for Elapsed::None, NaN,
// infinities and magnitudes of 2958466 days (past the last day serial a
// spreadsheet keeps, 9999-12-31) or more after rounding.
bool append_elapsed(TextBuffer& out, double serial, FormatShows shows);

}  // namespace sheetdump
