#include "format/exact_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "format/civil_date.hpp"

namespace sheetdump {

namespace {

constexpr double kTwo53 = 9007199254740992.0;

// Lays out significant digits `d` (k of them, no leading zero) with
// decimal exponent n (the value is 0.d x 10^n) as ECMAScript does.
size_t lay_out(char* out, bool negative, const char* d, int k, int n) {
  char* p = out;
  if (negative) *p++ = '-';
  if (k <= n && n <= 21) {
    std::memcpy(p, d, size_t(k));
    p += k;
    std::memset(p, '0', size_t(n - k));
    p += n - k;
  } else if (0 < n && n <= 21) {
    std::memcpy(p, d, size_t(n));
    p += n;
    *p++ = '.';
    std::memcpy(p, d + n, size_t(k - n));
    p += k - n;
  } else if (-6 < n && n <= 0) {
    *p++ = '0';
    *p++ = '.';
    std::memset(p, '0', size_t(-n));
    p += -n;
    std::memcpy(p, d, size_t(k));
    p += k;
  } else {
    *p++ = d[0];
    if (k > 1) {
      *p++ = '.';
      std::memcpy(p, d + 1, size_t(k - 1));
      p += k - 1;
    }
    *p++ = 'e';
    int e = n - 1;
    *p++ = e < 0 ? '-' : '+';
    p = std::to_chars(p, p + 8, e < 0 ? -e : e).ptr;
  }
  return size_t(p - out);
}

}  // namespace

void append_shortest_hundredths(TextBuffer& out, int64_t n) {
  // n / 100 correctly rounded lies within half an ulp (below 2^-30 for
  // |n| < 2^29) of the decimal n / 100, and every other decimal of as few
  // digits is at least 0.01 away: the shortest round trip is n / 100 with
  // its trailing zeros dropped.
  if (n == 0 || n % 100 == 0) return append_integer(out, n / 100);
  uint64_t m = n < 0 ? uint64_t(-n) : uint64_t(n);
  char digits[24];
  int nd = int(write_decimal(digits, m) - digits);
  int k = nd;
  while (k > 1 && digits[k - 1] == '0') --k;
  char text[48];
  size_t len = lay_out(text, n < 0, digits, k, nd - 2);
  out.append(std::string_view(text, len));
}

void append_shortest(TextBuffer& out, double v) {
  if (std::isnan(v)) return out.append("NaN");
  if (std::isinf(v)) return out.append(v < 0 ? "-Infinity" : "Infinity");
  char text[48];
  double a = std::fabs(v);
  if (a < kTwo53) {
    uint64_t u = uint64_t(a);
    if (double(u) == a) {
      char* p = text;
      if (v < 0) *p++ = '-';  // -0 is not below 0, so it prints as 0
      p = std::to_chars(p, text + sizeof text, u).ptr;
      return out.append(std::string_view(text, size_t(p - text)));
    }
  }
  // A decimal m / 10^k of up to six places and fewer than 16 digits that
  // reads back as v is its shortest form: two different decimals of at
  // most 15 digits never read back as the same double.
  if (a >= 1e-6 && a < 1e9) {
    static constexpr double kScales[] = {10, 100, 1000, 10000, 100000, 1000000};
    for (int places = 1; places <= 6; ++places) {
      const double m = std::rint(a * kScales[places - 1]);
      if (m >= 1e15 || m / kScales[places - 1] != a) continue;
      char digits[24];
      const int nd = int(write_decimal(digits, uint64_t(m)) - digits);
      int k = nd;
      while (k > 1 && digits[k - 1] == '0') --k;
      size_t len = lay_out(text, v < 0, digits, k, nd - places);
      return out.append(std::string_view(text, len));
    }
  }
  // Shortest round trip in scientific form: d[.ddd]e[+-]XX, never longer
  // than 24 characters, then the digits and exponent are laid out again.
  char sci[32];
  char* end = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific).ptr;
  char digits[20];
  int k = 0;
  const char* p = sci;
  for (; p < end && *p != 'e'; ++p)
    if (*p != '.') digits[k++] = *p;
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
  size_t len = lay_out(text, v < 0, digits, k, exponent + 1);
  out.append(std::string_view(text, len));
}

namespace {

constexpr uint64_t kMsPerDay = 86400000;
// Days after the first day serial through 9999-12-31 in each system.
constexpr double kLastSerial1900 = 2958465;
constexpr double kLastSerial1904 = 2958465 - 1462;
// Days from 1970-01-01 to day serial 0 of the 1900 system (1899-12-30,
// valid from serial 61 on) and of the 1904 system (1904-01-01).
constexpr int64_t kEpoch1900 = -25569;
constexpr int64_t kEpoch1904 = -25569 + 1462;

// A fraction of a day in [0, 1) to whole milliseconds, 0 to 86400000,
// rounded to nearest with halves up, from the exact binary value.
uint64_t round_ms(double frac) {
  if (!(frac > 0)) return 0;
  int exp2 = 0;
  double m = std::frexp(frac, &exp2);  // frac = m x 2^exp2, m in [0.5, 1)
  uint64_t mantissa = uint64_t(std::ldexp(m, 53));
  int shift = 53 - exp2;      // frac = mantissa / 2^shift; shift >= 53
  if (shift > 120) return 0;  // below 2^-67 days: far under half a millisecond
  unsigned __int128 p = (unsigned __int128)mantissa * kMsPerDay;  // < 2^80
  return uint64_t((p + ((unsigned __int128)1 << (shift - 1))) >> shift);
}

// A non-negative value split into whole days and milliseconds of the day,
// after rounding to the millisecond.
struct DayAndMs {
  double day;
  uint64_t ms;
};

DayAndMs split(double a) {
  double day = std::floor(a);
  uint64_t ms = round_ms(a - day);  // the subtraction is exact
  if (ms == kMsPerDay) {
    ms = 0;
    day += 1;
  }
  return {day, ms};
}

char* put2(char* p, unsigned v) {
  p[0] = char('0' + v / 10);
  p[1] = char('0' + v % 10);
  return p + 2;
}

char* put_ms_suffix(char* p, unsigned ms) {
  if (ms == 0) return p;
  *p++ = '.';
  p[0] = char('0' + ms / 100);
  p[1] = char('0' + ms / 10 % 10);
  p[2] = char('0' + ms % 10);
  return p + 3;
}

// HH:MM:SS[.mmm] of a millisecond of the day.
char* put_time(char* p, uint64_t ms_of_day) {
  unsigned s = unsigned(ms_of_day / 1000);
  p = put2(p, s / 3600);
  *p++ = ':';
  p = put2(p, s / 60 % 60);
  *p++ = ':';
  p = put2(p, s % 60);
  return put_ms_suffix(p, unsigned(ms_of_day % 1000));
}

// YYYY-MM-DD of a day counted from 1970-01-01, proleptic Gregorian (the
// calendar of gmtime), for years 0 to 9999.
char* put_date(char* p, int64_t days) {
  CivilDate d = civil_from_days(days);
  unsigned day = unsigned(d.day);
  unsigned month = unsigned(d.month);
  unsigned year = unsigned(d.year);
  p = put2(p, year / 100);
  p = put2(p, year % 100);
  *p++ = '-';
  p = put2(p, month);
  *p++ = '-';
  return put2(p, day);
}

}  // namespace

bool append_iso(TextBuffer& out, double serial, bool date1904, FormatShows shows) {
  if (shows.elapsed != Elapsed::None) return append_elapsed(out, serial, shows);
  if (!shows.is_date_or_time()) return false;
  if (!(serial >= 0) || std::isinf(serial)) return false;  // NaN fails the test
  DayAndMs t = split(serial);
  char text[32];
  char* p = text;
  if (shows.date) {
    if (t.day > (date1904 ? kLastSerial1904 : kLastSerial1900)) return false;
    int64_t day = int64_t(t.day);
    if (date1904) {
      p = put_date(p, day + kEpoch1904);
    } else if (day == 0) {
      if (!shows.time) return false;
    } else if (day == 60) {
      std::memcpy(p, "1900-02-29", 10);
      p += 10;
    } else {
      // Serials 1 to 59 count from 1899-12-31: the missing 1900-02-29
      // has not been passed yet.
      p = put_date(p, day + kEpoch1900 + (day < 60 ? 1 : 0));
    }
  }
  if (shows.time) {
    if (p != text) *p++ = ' ';
    p = put_time(p, t.ms);
  }
  out.append(std::string_view(text, size_t(p - text)));
  return true;
}

bool append_elapsed(TextBuffer& out, double serial, FormatShows shows) {
  if (shows.elapsed == Elapsed::None || !std::isfinite(serial)) return false;
  DayAndMs t = split(std::fabs(serial));
  if (t.day >= kLastSerial1900 + 1) return false;
  uint64_t total = uint64_t(t.day) * kMsPerDay + t.ms;  // below 2^48
  char text[40];
  char* p = text;
  if (serial < 0 && total != 0) *p++ = '-';
  uint64_t seconds = total / 1000;
  uint64_t lead = shows.elapsed == Elapsed::Hours     ? seconds / 3600
                  : shows.elapsed == Elapsed::Minutes ? seconds / 60
                                                      : seconds;
  if (lead < 10) *p++ = '0';
  p = std::to_chars(p, text + sizeof text, lead).ptr;
  if (shows.elapsed == Elapsed::Hours) {
    *p++ = ':';
    p = put2(p, unsigned(seconds / 60 % 60));
  }
  if (shows.elapsed != Elapsed::Seconds) {
    *p++ = ':';
    p = put2(p, unsigned(seconds % 60));
  }
  p = put_ms_suffix(p, unsigned(total % 1000));
  out.append(std::string_view(text, size_t(p - text)));
  return true;
}

}  // namespace sheetdump
