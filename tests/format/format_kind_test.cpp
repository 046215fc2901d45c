// Classification of number-format codes into date, time and duration
// codes: the built-in codes, custom codes with literals, escapes and
// brackets, and malformed codes.
#include "format/format_kind.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using sheetdump::classify_format_code;
using sheetdump::Elapsed;
using sheetdump::FormatShows;

struct Case {
  std::string_view code;
  bool date;
  bool time;
  Elapsed elapsed;
};

constexpr Elapsed kNo = Elapsed::None;

std::string describe(const FormatShows& s) {
  static constexpr const char* kUnits[] = {"none", "hours", "minutes", "seconds"};
  return std::string("date=") + (s.date ? "1" : "0") + " time=" + (s.time ? "1" : "0") +
         " elapsed=" + kUnits[int(s.elapsed)];
}

void check(const Case& c) {
  FormatShows got = classify_format_code(c.code);
  FormatShows want{c.date, c.time, c.elapsed};
  EXPECT_EQ(describe(got), describe(want)) << "code: " << c.code;
  EXPECT_EQ(got.is_date_or_time(), c.date || c.time) << "code: " << c.code;
}

TEST(FormatKind, BuiltInDateCodes) {
  const Case cases[] = {
      {"m/d/yyyy", true, false, kNo},              // 14
      {"d-mmm-yy", true, false, kNo},              // 15
      {"d-mmm", true, false, kNo},                 // 16
      {"mmm-yy", true, false, kNo},                // 17
      {"h:mm AM/PM", false, true, kNo},            // 18
      {"h:mm:ss AM/PM", false, true, kNo},         // 19
      {"h:mm", false, true, kNo},                  // 20
      {"h:mm:ss", false, true, kNo},               // 21
      {"m/d/yyyy h:mm", true, true, kNo},          // 22
      {"mm:ss", false, true, kNo},                 // 45
      {"[h]:mm:ss", false, true, Elapsed::Hours},  // 46
      {"mm:ss.0", false, true, kNo},               // 47
  };
  for (const Case& c : cases) check(c);
}

TEST(FormatKind, NumberCodes) {
  const Case cases[] = {
      {"0.00", false, false, kNo},
      {"#,##0", false, false, kNo},
      {"0.00E+00", false, false, kNo},
      {"##0.0e-0", false, false, kNo},
      {"# ?/?", false, false, kNo},
      {"# ?"
       "?/?"
       "?",
       false, false, kNo},  // split: no trigraph
      {"\"$\"#,##0_);[Red](\"$\"#,##0)", false, false, kNo},
      {"_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)", false, false, kNo},
      {"@", false, false, kNo},
      {"General", false, false, kNo},
      {"GENERAL", false, false, kNo},
      {"general", false, false, kNo},
      {"[Red]General", false, false, kNo},
      {"[Blue][>100]General;[Red]General", false, false, kNo},
      {"0%", false, false, kNo},
      {"", false, false, kNo},
      {";;;", false, false, kNo},
  };
  for (const Case& c : cases) check(c);
}

TEST(FormatKind, LiteralsEscapesAndBrackets) {
  const Case cases[] = {
      {"yyyy\"m\"", true, false, kNo},  // the quoted m is a literal
      {"0.00\"h\"", false, false, kNo},
      {"0\" days hours mins secs\"", false, false, kNo},
      {"\\d0", false, false, kNo},
      {"0\\h\\r\\s", false, false, kNo},
      {"0_h0*s", false, false, kNo},  // padding and fill characters
      {"[Red]0.00", false, false, kNo},
      {"[Color10]0;[Magenta]-0", false, false, kNo},
      {"[$-409]h:mm AM/PM", false, true, kNo},
      {"[$-F800]dddd, mmmm dd, yyyy", true, false, kNo},
      {"[$USD-409]#,##0.00", false, false, kNo},
      {"[DBNum1][$-804]0", false, false, kNo},
      {"[<1]0.00;0", false, false, kNo},
      {"\"Day \"d", true, false, kNo},
      {"\\\\d", true, false, kNo},  // an escaped backslash, then a day
      {"am/pm", false, true, kNo},
      {"A/P", false, true, kNo},
      {"a/p", false, true, kNo},
      {"0 \"am\"", false, false, kNo},
      {"0 a", false, false, kNo},        // a lone a is not AM/PM
      {"bbbb-mm-dd", true, false, kNo},  // Buddhist year
      {"B", true, false, kNo},
      {"YYYY-MM-DD", true, false, kNo},
      {"HH:MM:SS", false, true, kNo},
      {"DD", true, false, kNo},
  };
  for (const Case& c : cases) check(c);
}

TEST(FormatKind, MonthOrMinute) {
  const Case cases[] = {
      {"m", true, false, kNo},
      {"mm", true, false, kNo},
      {"mmm", true, false, kNo},
      {"mmmmm", true, false, kNo},
      {"h:mm", false, true, kNo},
      {"hh\" h \"mm", false, true, kNo},  // literals between do not matter
      {"h:mmm", true, true, kNo},         // mmm is a month even after h
      {"mm:ss", false, true, kNo},
      {"m:s", false, true, kNo},
      {"mm\"'\"ss\"''\"", false, true, kNo},
      {"[h]:mm", false, true, Elapsed::Hours},
      {"mm:[ss]", false, true, Elapsed::Seconds},
      {"yyyy-mm-dd hh:mm:ss", true, true, kNo},
      {"mm/dd hh:mm", true, true, kNo},
      {"dd mm ss", true, true, kNo},  // mm before ss is minutes
      {"mm dd", true, false, kNo},
      {"h d m", true, true, kNo},  // d lies between h and m
  };
  for (const Case& c : cases) check(c);
}

TEST(FormatKind, ElapsedBrackets) {
  const Case cases[] = {
      {"[h]:mm:ss", false, true, Elapsed::Hours},
      {"[hh]:mm", false, true, Elapsed::Hours},
      {"[H]:MM:SS", false, true, Elapsed::Hours},
      {"[hhh]", false, true, Elapsed::Hours},
      {"[m]:ss", false, true, Elapsed::Minutes},
      {"[mm]:ss", false, true, Elapsed::Minutes},
      {"[MM]:ss.000", false, true, Elapsed::Minutes},
      {"[s]", false, true, Elapsed::Seconds},
      {"[ss].00", false, true, Elapsed::Seconds},
      {"[Red][h]:mm", false, true, Elapsed::Hours},
      {"[h]:[mm]", false, true, Elapsed::Hours},  // the first bracket leads
      {"[hm]", false, false, kNo},
      {"[]0", false, false, kNo},
      {"[d]", false, false, kNo},
  };
  for (const Case& c : cases) check(c);
}

TEST(FormatKind, OnlyTheFirstSectionCounts) {
  const Case cases[] = {
      {"0.00;d/m/yyyy", false, false, kNo},
      {"d/m/yyyy;0.00", true, false, kNo},
      {"\"a;b\"d", true, false, kNo},  // ; inside quotes
      {"\\;d", true, false, kNo},      // escaped ;
      {"[<0;1]d", true, false, kNo},   // ; inside a bracket
      {"0;0;0;d", false, false, kNo},
      {";d", false, false, kNo},
      {"m;s", true, false, kNo},  // the s of another section does not help
  };
  for (const Case& c : cases) check(c);
}

TEST(FormatKind, MalformedCodesHaveADefinedResult) {
  const Case cases[] = {
      {"\"d", false, false, kNo},  // an unterminated quote swallows the rest
      {"d\"", true, false, kNo},
      {"[d", false, false, kNo},  // so does an unterminated bracket
      {"h[", false, true, kNo},
      {"[h", false, false, kNo},
      {"]d", true, false, kNo},
      {"\\", false, false, kNo},
      {"d\\", true, false, kNo},
      {"_", false, false, kNo},
      {"*", false, false, kNo},
      {"a", false, false, kNo},
      {"am/p", true, false, kNo},  // not AM/PM: the m is a month
      {"A/", false, false, kNo},
      {std::string_view("d\0m", 3), true, false, kNo},
      {"\xff\xfe"
       "d",
       true, false, kNo},
  };
  for (const Case& c : cases) check(c);
}

TEST(FormatKind, HugeCodes) {
  // Long runs of every kind of construct; the scan is linear, so these
  // finish at once whatever their length.
  std::string literals(100 * 1024, 'x');
  literals[0] = '"';
  literals += "d";
  check({literals, false, false, kNo});  // all inside one unterminated quote

  std::string brackets;
  while (brackets.size() < 100 * 1024) brackets += "[Red][mm]\"q\"\\x_)";
  check({brackets, false, true, Elapsed::Minutes});

  std::string m_runs;
  while (m_runs.size() < 100 * 1024) m_runs += "m/";
  m_runs += "s";
  check({m_runs, true, true, kNo});  // every m waits, only the last is minutes

  std::string open_brackets(100 * 1024, '[');
  check({open_brackets, false, false, kNo});

  std::string quotes(100 * 1024, '"');
  check({quotes, false, false, kNo});

  std::string hours(100 * 1024, 'h');
  check({hours + "m", false, true, kNo});
}

}  // namespace
