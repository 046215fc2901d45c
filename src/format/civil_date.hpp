// Days since 1970-01-01 as a date of the proleptic Gregorian calendar (the
// calendar gmtime uses), shared by every date renderer.
#pragma once

#include <cstdint>

namespace sheetdump {

struct CivilDate {
  int64_t year;
  int month;  // 1-12
  int day;    // 1-31
};

constexpr CivilDate civil_from_days(int64_t days) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t doe = days - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  CivilDate c{};
  c.day = int(doy - (153 * mp + 2) / 5 + 1);
  c.month = int(mp < 10 ? mp + 3 : mp - 9);
  c.year = yoe + era * 400 + (c.month <= 2 ? 1 : 0);
  return c;
}

// The same for days from 0000-03-01 on (days >= -719468), in 32-bit
// unsigned arithmetic: the divisions by constants cost less there.
constexpr CivilDate civil_from_days_after_year_0(int64_t days) {
  const uint32_t z = uint32_t(days + 719468);
  const uint32_t era = z / 146097;
  const uint32_t doe = z - era * 146097;
  const uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const uint32_t mp = (5 * doy + 2) / 153;
  CivilDate c{};
  c.day = int(doy - (153 * mp + 2) / 5 + 1);
  c.month = int(mp < 10 ? mp + 3 : mp - 9);
  c.year = int64_t(yoe) + int64_t(era) * 400 + (c.month <= 2 ? 1 : 0);
  return c;
}

static_assert(civil_from_days_after_year_0(0).year == 1970 &&
              civil_from_days_after_year_0(59).month == 3 &&
              civil_from_days_after_year_0(-719468).year == 0 &&
              civil_from_days_after_year_0(2932896).year == 9999);
static_assert(civil_from_days(0).year == 1970 && civil_from_days(59).month == 3);

}  // namespace sheetdump
