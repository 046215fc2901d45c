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

// The same for days from 0000-03-01 to 1,000,000 years on (-719468 <=
// days < 2^29), as a chain of multiplications: the year of the century and
// the day of the year come from one 64-bit product, and the month and day
// from one 16-bit fixed-point step (Euclidean affine functions, after
// Neri and Schneider). The count is moved forward by 82 eras of 400 years,
// so that every intermediate value stays positive in 32 bits.
constexpr CivilDate civil_from_days_fast(int64_t days) {
  constexpr uint32_t kEras = 82;
  constexpr uint32_t kShift = 719468 + 146097 * kEras;  // 1970-01-01 to 0000-03-01, and the eras
  const uint32_t n = uint32_t(days + kShift);
  const uint32_t n1 = 4 * n + 3;
  const uint32_t century = n1 / 146097;
  const uint32_t n2 = (n1 % 146097) | 3;  // 4 * (day of the century) + 3
  const uint64_t p2 = uint64_t(2939745) * n2;
  const uint32_t year_of_century = uint32_t(p2 >> 32);
  const uint32_t day_of_year = uint32_t(p2) / 2939745 / 4;  // from March 1
  const uint32_t n3 = 2141 * day_of_year + 197913;
  const bool next_year = day_of_year >= 306;  // January and February
  CivilDate c{};
  c.year = int64_t(100 * century + year_of_century + next_year) - int64_t(400 * kEras);
  c.month = int(n3 >> 16) - (next_year ? 12 : 0);
  c.day = int((n3 & 0xFFFF) / 2141) + 1;
  return c;
}

// Any day count, by the fastest of the forms above that covers it.
constexpr CivilDate civil_from_any_days(int64_t days) {
  if (days >= -719468 && days < (int64_t(1) << 29)) return civil_from_days_fast(days);
  if (days >= -719468 && days < 2000000000) return civil_from_days_after_year_0(days);
  return civil_from_days(days);
}

static_assert(civil_from_days_after_year_0(0).year == 1970 &&
              civil_from_days_after_year_0(59).month == 3 &&
              civil_from_days_after_year_0(-719468).year == 0 &&
              civil_from_days_after_year_0(2932896).year == 9999);
static_assert(civil_from_days(0).year == 1970 && civil_from_days(59).month == 3);
static_assert(civil_from_days_fast(0).year == 1970 && civil_from_days_fast(0).month == 1 &&
              civil_from_days_fast(0).day == 1 && civil_from_days_fast(59).month == 3 &&
              civil_from_days_fast(-719468).year == 0 && civil_from_days_fast(-719468).month == 3 &&
              civil_from_days_fast(2932896).year == 9999 &&
              civil_from_days_fast(2932896).day == 31);

}  // namespace sheetdump
