#include "format/date_text.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "format/civil_date.hpp"

namespace {

using sheetdump::CivilDate;

bool same_date(const CivilDate& a, const CivilDate& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day;
}

// The multiplicative calendar against the reference one: every day of the
// years 0 to 9999, and a sample of the million years after them.
TEST(CivilDate, FastFormAgreesWithTheReference) {
  int failures = 0;
  const auto check = [&failures](int64_t days) {
    const CivilDate want = sheetdump::civil_from_days(days);
    const CivilDate got = sheetdump::civil_from_days_fast(days);
    if (!same_date(got, want) && ++failures <= 10)
      ADD_FAILURE() << "day " << days << ": got " << got.year << "-" << got.month << "-" << got.day
                    << ", want " << want.year << "-" << want.month << "-" << want.day;
  };
  for (int64_t days = -719468; days <= 2932896; ++days) check(days);
  std::mt19937 rng(11);
  for (int i = 0; i < 200000; ++i) check(int64_t(rng() % (1u << 29)));
  for (int64_t days : {(int64_t(1) << 29) - 1, (int64_t(1) << 29) - 366, int64_t(2932897)})
    check(days);
  EXPECT_EQ(failures, 0);
}

std::string day_text(int32_t serial, const char* pattern) {
  char buf[sheetdump::kDateRoom];
  char* end = sheetdump::write_day(buf, serial, pattern, sheetdump::date_layout(pattern));
  return end == nullptr ? "<none>" : std::string(buf, end);
}

std::string serial_text(double serial, const char* pattern) {
  char buf[sheetdump::kDateRoom];
  char* end = sheetdump::write_date(buf, serial, pattern, sheetdump::date_layout(pattern));
  return end == nullptr ? "<none>" : std::string(buf, end);
}

// Whole days skip the double; they must print what the double prints, over
// the range of four-digit years, at its edges and beyond them (where both
// decline the value and strftime takes it).
TEST(DateText, WholeDaysPrintAsTheirSerials) {
  const char* const patterns[] = {"%m/%d/%y",          "%m/%d/%y %H:%M", "%Y-%m-%d",
                                  "%Y-%m-%d %H:%M:%S", "%d-%b-%y",       "%H:%M:%S"};
  std::vector<int32_t> serials;
  for (int32_t s = -1000; s <= 3000000; s += 7) serials.push_back(s);
  for (int32_t s :
       {-693594, -693593, -328717, -328716, 0, 1, 59, 60, 61, 2958465, 2958466, (1 << 29) + 25567,
        (1 << 29) + 25568, (1 << 29) + 25569, (1 << 29) + 25570, -(1 << 29), (1 << 29) - 1 + 1462})
    serials.push_back(s);
  int failures = 0;
  for (const char* pattern : patterns)
    for (int32_t s : serials) {
      const std::string got = day_text(s, pattern);
      const std::string want = serial_text(double(s), pattern);
      if (got != want && ++failures <= 10)
        ADD_FAILURE() << pattern << " of " << s << ": got '" << got << "', want '" << want << "'";
    }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(day_text(27738, "%m/%d/%y"), "12/10/75");
  EXPECT_EQ(day_text(27738, "%Y-%m-%d %H:%M:%S"), "1975-12-10 00:00:00");
  EXPECT_EQ(day_text(2958465, "%Y-%m-%d"), "9999-12-31");
  EXPECT_EQ(day_text(2958466, "%Y-%m-%d"), "<none>");
}

}  // namespace
