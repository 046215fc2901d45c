#include "format/date_text.hpp"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "format/civil_date.hpp"

namespace sheetdump {

namespace {

constexpr double kUnixEpochSerial = 25569;
constexpr double kSecondsPerDay = 86400;

struct CivilTime {
  int64_t year;
  int month;  // 1-12
  int day;    // 1-31
  int hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date; the same calendar
// that gmtime uses.
[[gnu::always_inline]] inline CivilTime civil_from_seconds(int64_t t) {
  if (t >= 0 && t < (int64_t(1) << 40)) {
    // From 1970 on, in unsigned arithmetic: no sign to correct, and the
    // time of day in 32 bits.
    const uint64_t u = uint64_t(t);
    const uint64_t days = u / 86400;
    const auto sod = uint32_t(u - days * 86400);
    const uint32_t hour = sod / 3600;
    const uint32_t rest = sod - hour * 3600;
    const uint32_t minute = rest / 60;
    const CivilDate d = civil_from_any_days(int64_t(days));
    return CivilTime{d.year, d.month, d.day, int(hour), int(minute), int(rest - minute * 60)};
  }
  int64_t days = t / 86400;
  int64_t sod = t % 86400;
  if (sod < 0) {
    sod += 86400;
    --days;
  }
  const CivilDate d = civil_from_any_days(days);
  CivilTime c;
  c.year = d.year;
  c.month = d.month;
  c.day = d.day;
  c.hour = int(sod / 3600);
  c.minute = int(sod / 60 % 60);
  c.second = int(sod % 60);
  return c;
}

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char* put2(char* p, int v) {
  std::memcpy(p, digits::pair(size_t(v)), 2);
  return p + 2;
}

// The conversions of the format table and the ISO pattern, exactly as
// strftime prints them in the C locale, for four-digit years, at p (which
// has room for what the pattern prints). Nullptr for anything else, which
// then goes to strftime itself.
char* put_date(char* p, const CivilTime& c, const char* pattern) {
  if (c.year < 1000 || c.year > 9999) return nullptr;
  for (const char* q = pattern; *q != '\0'; ++q) {
    if (*q != '%') {
      *p++ = *q;
      continue;
    }
    switch (*++q) {
      case 'Y':
        p = put2(put2(p, int(c.year / 100)), int(c.year % 100));
        break;
      case 'y':
        p = put2(p, int(c.year % 100));
        break;
      case 'm':
        p = put2(p, c.month);
        break;
      case 'd':
        p = put2(p, c.day);
        break;
      case 'b':
        std::copy_n(kMonths[c.month - 1], 3, p);
        p += 3;
        break;
      case 'H':
        p = put2(p, c.hour);
        break;
      case 'I':
        p = put2(p, c.hour % 12 == 0 ? 12 : c.hour % 12);
        break;
      case 'M':
        p = put2(p, c.minute);
        break;
      case 'S':
        p = put2(p, c.second);
        break;
      case 'p':
        std::copy_n(c.hour < 12 ? "AM" : "PM", 2, p);
        p += 2;
        break;
      case '%':
        *p++ = '%';
        break;
      default:
        return nullptr;
    }
  }
  return p;
}

// The most bytes a pattern prints through put_date, or -1 when put_date
// does not know one of its conversions.
int64_t put_date_length(const char* pattern) {
  int64_t n = 0;
  for (const char* q = pattern; *q != '\0'; ++q) {
    if (*q != '%') {
      ++n;
      continue;
    }
    switch (*++q) {
      case 'Y':
        n += 4;
        break;
      case 'y':
      case 'm':
      case 'd':
      case 'H':
      case 'I':
      case 'M':
      case 'S':
      case 'p':
        n += 2;
        break;
      case 'b':
        n += 3;
        break;
      case '%':
        n += 1;
        break;
      default:
        return -1;
    }
  }
  return n;
}

// Seconds since 1970 of a day serial, as append_date takes them; false
// outside the range that put_date breaks down.
bool serial_seconds(double serial, int64_t& t) {
  double seconds = (serial - kUnixEpochSerial) * kSecondsPerDay;
  if (!(seconds > -1099511627776.0 && seconds < 1099511627776.0)) return false;  // 2^40
  t = int64_t(seconds);  // truncation toward zero
  return true;
}

}  // namespace

bool append_date(TextBuffer& out, double serial, const char* pattern) {
  double seconds = (serial - kUnixEpochSerial) * kSecondsPerDay;
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!(seconds > -kLimit && seconds < kLimit)) return false;
  int64_t t = int64_t(seconds);  // truncation toward zero
  if (t > -(int64_t(1) << 40) && t < (int64_t(1) << 40)) {
    // At most 40 bytes for the conversions of the table: a longer pattern
    // (one given on the command line) goes through a scratch buffer.
    const int64_t length = put_date_length(pattern);
    if (length >= 0) {
      const CivilTime c = civil_from_seconds(t);
      if (length <= int64_t(out.data.size() - out.len)) {
        if (char* end = put_date(out.data.data() + out.len, c, pattern)) {
          out.len = size_t(end - out.data.data());
          return true;
        }
      } else {
        std::string scratch(size_t(length), '\0');
        if (char* end = put_date(scratch.data(), c, pattern)) {
          out.append(std::string_view(scratch.data(), size_t(end - scratch.data())));
          return true;
        }
      }
    }
  }
  time_t tt = time_t(t);
  struct tm tm {};
  if (gmtime_r(&tt, &tm) == nullptr) return false;
  size_t room = out.data.size() - out.len;
  out.len += std::strftime(out.data.data() + out.len, room, pattern, &tm);
  return true;
}

bool date_pattern_direct(const char* pattern) {
  int64_t n = put_date_length(pattern);
  return n >= 0 && n <= int64_t(kDateRoom);
}

DateLayout date_layout(const char* pattern) {
  const std::string_view s(pattern);
  if (s == "%m/%d/%y") return DateLayout::Mdy;
  if (s == "%m/%d/%y %H:%M") return DateLayout::MdyHm;
  if (s == "%Y-%m-%d") return DateLayout::Ymd;
  if (s == "%Y-%m-%d %H:%M:%S") return DateLayout::YmdHms;
  return DateLayout::Other;
}

namespace {

[[gnu::always_inline]] inline char* write_civil(char* p, const CivilTime& c, const char* pattern,
                                                DateLayout layout) {
  if (c.year < 1000 || c.year > 9999) return nullptr;
  const auto century = uint32_t(c.year) / 100;
  const auto year_of_century = int(uint32_t(c.year) - century * 100);
  switch (layout) {
    case DateLayout::Mdy:
    case DateLayout::MdyHm:
      p = put2(p, c.month);
      *p = '/';
      p = put2(p + 1, c.day);
      *p = '/';
      p = put2(p + 1, year_of_century);
      if (layout == DateLayout::Mdy) return p;
      *p = ' ';
      p = put2(p + 1, c.hour);
      *p = ':';
      return put2(p + 1, c.minute);
    case DateLayout::Ymd:
    case DateLayout::YmdHms:
      p = put2(put2(p, int(century)), year_of_century);
      *p = '-';
      p = put2(p + 1, c.month);
      *p = '-';
      p = put2(p + 1, c.day);
      if (layout == DateLayout::Ymd) return p;
      *p = ' ';
      p = put2(p + 1, c.hour);
      *p = ':';
      p = put2(p + 1, c.minute);
      *p = ':';
      return put2(p + 1, c.second);
    case DateLayout::Other:
      break;
  }
  return put_date(p, c, pattern);
}

}  // namespace

char* write_date(char* p, double serial, const char* pattern, DateLayout layout) {
  int64_t t = 0;
  if (!serial_seconds(serial, t)) return nullptr;
  return write_civil(p, civil_from_seconds(t), pattern, layout);
}

char* write_day(char* p, int32_t serial, const char* pattern, DateLayout layout) {
  // A whole day is midnight of its date: (serial - 25569) x 86400 seconds
  // exactly, so the double and the division by a day can be skipped.
  const int64_t days = int64_t(serial) - int64_t(kUnixEpochSerial);
  const CivilDate d = civil_from_any_days(days);
  return write_civil(p, CivilTime{d.year, d.month, d.day, 0, 0, 0}, pattern, layout);
}

}  // namespace sheetdump
