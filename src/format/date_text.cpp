#include "format/date_text.hpp"

#include <ctime>

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
CivilTime civil_from_seconds(int64_t t) {
  int64_t days = t / 86400;
  int64_t sod = t % 86400;
  if (sod < 0) {
    sod += 86400;
    --days;
  }
  CivilDate d = civil_from_days(days);
  CivilTime c;
  c.year = d.year;
  c.month = d.month;
  c.day = d.day;
  c.hour = int(sod / 3600);
  c.minute = int(sod / 60 % 60);
  c.second = int(sod % 60);
  return c;
}

void append2(TextBuffer& out, int v) {
  out.append(char('0' + v / 10));
  out.append(char('0' + v % 10));
}

// The conversions of the format table and the ISO pattern, exactly as
// strftime prints them in the C locale, for four-digit years. False for
// anything else, which then goes to strftime itself.
bool append_date_fast(TextBuffer& out, const CivilTime& c, const char* pattern) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (c.year < 1000 || c.year > 9999) return false;
  size_t start = out.len;
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%') {
      out.append(*p);
      continue;
    }
    switch (*++p) {
      case 'Y':
        append2(out, int(c.year / 100));
        append2(out, int(c.year % 100));
        break;
      case 'y':
        append2(out, int(c.year % 100));
        break;
      case 'm':
        append2(out, c.month);
        break;
      case 'd':
        append2(out, c.day);
        break;
      case 'b':
        out.append(kMonths[c.month - 1]);
        break;
      case 'H':
        append2(out, c.hour);
        break;
      case 'I':
        append2(out, c.hour % 12 == 0 ? 12 : c.hour % 12);
        break;
      case 'M':
        append2(out, c.minute);
        break;
      case 'S':
        append2(out, c.second);
        break;
      case 'p':
        out.append(c.hour < 12 ? "AM" : "PM");
        break;
      case '%':
        out.append('%');
        break;
      default:
        out.len = start;
        return false;
    }
  }
  return true;
}

}  // namespace

bool append_date(TextBuffer& out, double serial, const char* pattern) {
  double seconds = (serial - kUnixEpochSerial) * kSecondsPerDay;
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!(seconds > -kLimit && seconds < kLimit)) return false;
  int64_t t = int64_t(seconds);  // truncation toward zero
  if (t > -(int64_t(1) << 40) && t < (int64_t(1) << 40) &&
      append_date_fast(out, civil_from_seconds(t), pattern))
    return true;
  time_t tt = time_t(t);
  struct tm tm {};
  if (gmtime_r(&tt, &tm) == nullptr) return false;
  size_t room = out.data.size() - out.len;
  out.len += std::strftime(out.data.data() + out.len, room, pattern, &tm);
  return true;
}

}  // namespace sheetdump
