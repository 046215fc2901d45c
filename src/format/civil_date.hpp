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

static_assert(civil_from_days(0).year == 1970 && civil_from_days(59).month == 3);

}  // namespace sheetdump
