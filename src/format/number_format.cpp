// Compiler and renderer of number-format codes: the lexer turns a code into
// tokens per section, a second pass gives each section its kind and each
// digit placeholder its role, and the renderer walks the tokens of the
// section a value selects.
//
// Rounding: the value is first taken to its 15-significant-digit decimal
// form (correctly rounded from the double), as the application keeps
// numbers; the displayed precision is then rounded half away from zero on
// that decimal, so 2.675 shows as 2.68 under "0.00".
//
// Fast paths: General, the plain fixed and percent codes and bounded date
// sections are recognised when compiled; a value whose 15-digit form is a
// decimal of up to six places (whole numbers, cents) then renders from
// that integer directly, the same rounding by integer arithmetic. Every
// other value goes through the token walk.
#include "format/number_format.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "format/civil_date.hpp"
#include "format/number_text.hpp"

namespace sheetdump {

namespace {

using K = FormatTokenKind;

// --- Output with a cap ------------------------------------------------------

struct Sink {
  std::string& s;
  size_t limit;
  void put(char c) {
    if (s.size() < limit) s.push_back(c);
  }
  void put(std::string_view t) {
    if (s.size() >= limit) return;
    size_t room = limit - s.size();
    s.append(t.data(), t.size() < room ? t.size() : room);
  }
  void repeat(char c, int64_t n) {
    for (int64_t i = 0; i < n && s.size() < limit; ++i) s.push_back(c);
  }
  bool full() const { return s.size() >= limit; }
};

// Raw room known to be large enough (the fast paths measure it up front).
struct CharOut {
  char* p;
  void put(char c) { *p++ = c; }
  void put(std::string_view t) {
    if (t.size() > 8) {
      std::memcpy(p, t.data(), t.size());
      p += t.size();
      return;
    }
    for (char c : t) *p++ = c;  // mostly one separator
  }
  bool full() const { return false; }
};

using digits::kPow10u;

// Decimal digits of v (1 for 0).
[[gnu::always_inline]] inline int digit_count(uint64_t v) {
  // bit_width * log10(2), then one correction.
  const int t = ((64 - __builtin_clzll(v | 1)) * 1233) >> 12;
  return t + ((v | 1) >= kPow10u[t] ? 1 : 0);
}

using digits::pair;

// All digits of v, ending at `end`, two at a time from the table.
template <class U>
[[gnu::always_inline]] inline void write_backwards(char* end, U v) {
  while (v >= 100) {
    const U q = v / 100;
    end -= 2;
    std::memcpy(end, pair(size_t(v - q * 100)), 2);
    v = q;
  }
  if (v >= 10)
    std::memcpy(end - 2, pair(size_t(v)), 2);
  else
    end[-1] = char('0' + unsigned(v));
}

[[gnu::always_inline]] inline void write_backwards64(char* end, uint64_t v) {
  if (v <= UINT32_MAX)
    write_backwards(end, uint32_t(v));
  else
    write_backwards(end, v);
}

// All digits of v; returns the end.
[[gnu::always_inline]] inline char* write_uint(char* p, uint64_t v) {
  char* end = p + digit_count(v);
  write_backwards64(end, v);
  return end;
}

// v (below 10^n, n <= 16) in exactly n digits, zeros in front; returns
// the end. Writes 16 bytes at p.
[[gnu::always_inline]] inline char* write_digits(char* p, uint64_t v, int n) {
  std::fill_n(p, 16, '0');
  if (n > 0) write_backwards64(p + n, v);
  return p + n;
}

// A date field: mostly one or two digits.
[[gnu::always_inline]] inline void put_uint(CharOut& out, uint64_t v, int min_width) {
  if (v < 100 && min_width <= 2) {
    if (v >= 10 || min_width == 2) {
      std::memcpy(out.p, pair(size_t(v)), 2);
      out.p += 2;
    } else {
      *out.p++ = char('0' + v);
    }
    return;
  }
  std::memcpy(out.p, "0000000000000000", 16);  // the room holds 16 bytes per field
  int len = digit_count(v);
  if (len < min_width) len = min_width > 16 ? 16 : min_width;
  out.p += len;
  write_backwards64(out.p, v);
}

template <class Out>
void put_uint(Out& out, uint64_t v, int min_width) {
  char buf[40];
  std::fill_n(buf, 16, '0');
  int len = digit_count(v);
  if (len < min_width) len = min_width > 16 ? 16 : min_width;
  write_backwards64(buf + len, v);
  out.put(std::string_view(buf, size_t(len)));
}

// --- 15-digit decimal form --------------------------------------------------

// value = 0.d[0]d[1]...d[n-1] x 10^point; no trailing zero digits; n == 0
// for zero.
struct Dec {
  uint8_t d[20];
  int n = 0;
  int64_t point = 0;

  int digit_at(int64_t k) const {  // digit of 10^k
    int64_t i = point - 1 - k;
    return (i >= 0 && i < n) ? d[i] : 0;
  }
  int64_t int_len() const { return n == 0 ? 0 : (point > 0 ? point : 0); }
  int64_t frac_len() const { return n == 0 ? 0 : (n - point > 0 ? n - point : 0); }
};

void strip(Dec& x) {
  while (x.n > 0 && x.d[x.n - 1] == 0) --x.n;
}

void round_frac(Dec& x, int64_t frac);
FastPath decide_fast(std::string_view code, const CompiledFormat& f);

// |a| (finite) to 15 significant digits, correctly rounded. The shortest
// round-trip form is much cheaper than a fixed precision and equal to it
// when it has at most 15 digits; a longer one is rounded to 15 unless its
// dropped digits are near a half, where only the exact expansion decides.
// The digits of m / 10^k (m below 10^15) when that is exactly the double:
// then it is also the double's shortest form, and no rounding to 15 digits
// is needed. Most cells hold such values (whole numbers, cents).
bool short_decimal(double a, Dec& x) {
  static constexpr double kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
  if (!(a < 1e15)) return false;
  for (int k = 0; k <= 6; ++k) {
    double m = std::rint(a * kPow10[k]);
    if (m >= 1e15) return false;
    if (m / kPow10[k] != a) continue;
    uint64_t v = uint64_t(m);
    char digits[20];
    int n = 0;
    while (v > 0) {
      digits[n++] = char(v % 10);
      v /= 10;
    }
    for (int i = 0; i < n; ++i) x.d[i] = uint8_t(digits[n - 1 - i]);
    x.n = n;
    x.point = n - k;
    strip(x);
    return true;
  }
  return false;
}

Dec to_dec15(double a) {
  Dec x;
  if (a < 0) a = -a;
  if (a == 0) return x;
  if (short_decimal(a, x)) return x;
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
  const char* p = buf;
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') x.d[x.n++] = uint8_t(*p - '0');
  if (x.n > 15) {
    int dropped = x.d[15] * 10 + (x.n > 16 ? x.d[16] : 0);
    if (dropped >= 40 && dropped <= 60) {
      r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 14);
      x.n = 0;
      for (p = buf; p < r.ptr && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') x.d[x.n++] = uint8_t(*p - '0');
    }
  }
  int e = 0;
  if (p < r.ptr) std::from_chars(p + 1 + (p[1] == '+'), r.ptr, e);
  x.point = e + 1;
  strip(x);
  if (x.n > 15) round_frac(x, 15 - x.point);
  return x;
}

// Keeps `frac` decimals, rounding half away from zero.
void round_frac(Dec& x, int64_t frac) {
  int64_t keep = x.point + frac;
  if (keep >= x.n) return;
  if (keep < 0) {
    x.n = 0;
    return;
  }
  bool up = x.d[keep] >= 5;
  x.n = int(keep);
  if (up) {
    int i = int(keep) - 1;
    while (i >= 0 && x.d[i] == 9) --i;
    if (i < 0) {
      x.d[0] = 1;
      x.n = 1;
      ++x.point;
    } else {
      ++x.d[i];
      x.n = i + 1;
    }
  }
  strip(x);
}

void put_digits(Sink& out, const Dec& x, int64_t from, int64_t to) {  // 10^from down to 10^to
  // In blocks: most runs are a few digits, and huge ones stop at the cap.
  char block[64];
  size_t n = 0;
  for (int64_t k = from; k >= to; --k) {
    block[n++] = char('0' + x.digit_at(k));
    if (n == sizeof block) {
      out.put(std::string_view(block, n));
      n = 0;
      if (out.full()) return;
    }
  }
  out.put(std::string_view(block, n));
}

// --- General ----------------------------------------------------------------

void general_body(Sink& out, double value) {
  if (!std::isfinite(value)) {
    out.put("#NUM!");
    return;
  }
  if (value < 0) out.put('-');
  Dec x = to_dec15(value);
  if (x.n == 0) {
    out.put('0');
    return;
  }
  int64_t e = x.point - 1;
  if (e >= -5 + 1 && e <= 10) {
    Dec y = x;
    round_frac(y, e >= 0 ? (9 - e > 0 ? 9 - e : 0) : 9);
    if (y.int_len() <= 11) {
      if (y.int_len() == 0)
        out.put('0');
      else
        put_digits(out, y, y.int_len() - 1, 0);
      if (y.frac_len() > 0) {
        out.put('.');
        put_digits(out, y, -1, -y.frac_len());
      }
      return;
    }
  }
  Dec y = x;
  y.point = 1;
  round_frac(y, 5);
  if (y.point > 1) {
    ++e;
    y.point = 1;
  }
  out.put(char('0' + y.digit_at(0)));
  if (y.frac_len() > 0) {
    out.put('.');
    put_digits(out, y, -1, -y.frac_len());
  }
  out.put('E');
  out.put(e < 0 ? '-' : '+');
  put_uint(out, uint64_t(e < 0 ? -e : e), 2);
}

// --- Compiler ---------------------------------------------------------------

bool ieq(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    char e = b[i];
    if (e >= 'A' && e <= 'Z') e = char(e - 'A' + 'a');
    if (c != e) return false;
  }
  return true;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Length of the UTF-8 sequence starting at s[i] (1 for stray bytes).
size_t utf8_len(std::string_view s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  return i + n <= s.size() ? n : s.size() - i;
}

struct Builder {
  CompiledFormat& f;
  const FormatSection& section;  // the section being lexed

  void add(K kind, std::string_view src, char ch = 0, int32_t value = 0) {
    FormatToken t{kind, ch, DigitRole::kInt, uint32_t(f.pool.size()), uint32_t(src.size()), value};
    f.pool.append(src);
    f.tokens.push_back(t);
  }
  // Literal text, merged into the previous literal when adjacent.
  void lit(std::string_view src) {
    if (f.tokens.size() > section.first && f.tokens.back().kind == K::kLiteral &&
        f.tokens.back().ch == 0 &&
        f.tokens.back().offset + f.tokens.back().length == f.pool.size()) {
      f.pool.append(src);
      f.tokens.back().length += uint32_t(src.size());
      return;
    }
    add(K::kLiteral, src);
  }
};

// One bracketed tag. Colours, unknown tags and conditions that do not
// parse print nothing.
void bracket(Builder& b, FormatSection& sec, std::string_view c) {
  if (c.empty()) return;
  if (c[0] == '$') {
    std::string_view cur = c.substr(1);
    size_t dash = cur.find('-');
    if (dash != std::string_view::npos) cur = cur.substr(0, dash);
    if (!cur.empty()) b.lit(cur);
    return;
  }
  if (c[0] == '<' || c[0] == '>' || c[0] == '=') {
    size_t i = 1;
    ConditionOp op = ConditionOp::kEq;
    if (c[0] == '<') {
      op = ConditionOp::kLt;
      if (c.size() > 1 && c[1] == '=')
        op = ConditionOp::kLe, i = 2;
      else if (c.size() > 1 && c[1] == '>')
        op = ConditionOp::kNe, i = 2;
    } else if (c[0] == '>') {
      op = ConditionOp::kGt;
      if (c.size() > 1 && c[1] == '=') op = ConditionOp::kGe, i = 2;
    }
    while (i < c.size() && c[i] == ' ') ++i;
    double v = 0;
    auto r = std::from_chars(c.data() + i, c.data() + c.size(), v);
    if (r.ec == std::errc() && std::isfinite(v)) {
      sec.op = op;
      sec.bound = v;
    }
    return;
  }
  char l = lower(c[0]);
  if (l == 'h' || l == 'm' || l == 's') {
    for (char ch : c)
      if (lower(ch) != l) return;
    int32_t w = c.size() > 9 ? 9 : int32_t(c.size());
    b.add(l == 'h' ? K::kElapsedH : l == 'm' ? K::kElapsedM : K::kElapsedS, c, 0, w);
  }
  // Colours, locale tags, [DBNum1] and other tags print nothing.
}

bool is_date_token(K k) { return k >= K::kYear2 && k <= K::kAP; }
bool is_hour(K k) { return k == K::kHour || k == K::kHour2 || k == K::kElapsedH; }
bool is_second(K k) { return k == K::kSecond || k == K::kSecond2 || k == K::kElapsedS; }

void to_literal(FormatToken& t) {
  if (t.kind == K::kDigit || t.kind == K::kPoint || t.kind == K::kExponent || t.kind == K::kSlash ||
      t.kind == K::kComma || t.kind == K::kDenFixed)
    t.kind = K::kLiteral;
}

void finish_date(CompiledFormat& f, FormatSection& s) {
  FormatToken* t = f.tokens.data();
  for (uint32_t i = s.first; i < s.last; ++i) {
    if (t[i].kind == K::kAmPm || t[i].kind == K::kAP) s.twelve_hour = true;
    if (t[i].kind == K::kMonth || t[i].kind == K::kMonth2) {
      bool minute = false;
      for (uint32_t j = i; j-- > s.first;)
        if (is_date_token(t[j].kind)) {
          minute = is_hour(t[j].kind);
          break;
        }
      if (!minute)
        for (uint32_t j = i + 1; j < s.last; ++j)
          if (is_date_token(t[j].kind)) {
            minute = is_second(t[j].kind);
            break;
          }
      if (minute) t[i].kind = t[i].kind == K::kMonth ? K::kMinute : K::kMinute2;
    }
  }
  for (uint32_t i = s.first; i < s.last; ++i) {
    if (t[i].kind == K::kPoint && i + 1 < s.last && t[i + 1].kind == K::kDigit &&
        t[i + 1].ch == '0') {
      uint32_t j = i + 1;
      while (j < s.last && j - i <= 3 && t[j].kind == K::kDigit && t[j].ch == '0') ++j;
      int32_t digits = int32_t(j - i - 1);
      t[i].kind = K::kSubsecond;
      t[i].value = digits;
      for (uint32_t k = i + 1; k < j; ++k) t[k].kind = K::kLiteral, t[k].length = 0;
      if (digits > s.subsecond_digits) s.subsecond_digits = digits;
      i = j - 1;
      continue;
    }
    to_literal(t[i]);
  }
}

bool is_lit_digit(const FormatToken& t, const CompiledFormat& f) {
  return t.kind == K::kLiteral && t.ch == 'd' && t.length == 1 && f.pool[t.offset] >= '1' &&
         f.pool[t.offset] <= '9';
}

bool finish_fraction(CompiledFormat& f, FormatSection& s) {
  FormatToken* t = f.tokens.data();
  uint32_t slash = s.last;
  for (uint32_t i = s.first + 1; i + 1 < s.last; ++i)
    if (t[i].kind == K::kSlash && t[i - 1].kind == K::kDigit &&
        (t[i + 1].kind == K::kDigit || is_lit_digit(t[i + 1], f))) {
      slash = i;
      break;
    }
  if (slash == s.last) return false;
  s.kind = SectionKind::kFraction;
  uint32_t num_begin = slash;
  while (num_begin > s.first && t[num_begin - 1].kind == K::kDigit) --num_begin;
  for (uint32_t i = s.first; i < slash; ++i) {
    if (t[i].kind == K::kDigit) {
      if (i < num_begin) {
        t[i].role = DigitRole::kInt;
        ++s.int_digits;
        s.has_int_part = true;
      } else {
        t[i].role = DigitRole::kNum;
        ++s.num_digits;
      }
    } else {
      to_literal(t[i]);
    }
  }
  uint32_t i = slash + 1;
  if (is_lit_digit(t[i], f)) {
    int64_t den = 0;
    uint32_t first = i;
    while (i < s.last && (is_lit_digit(t[i], f) || (t[i].kind == K::kDigit && t[i].ch == '0'))) {
      if (den < 100000000) den = den * 10 + (f.pool[t[i].offset] - '0');
      t[i].kind = K::kLiteral;
      t[i].length = 0;
      ++i;
    }
    t[first].kind = K::kDenFixed;
    t[first].value = int32_t(den);
    s.den_fixed = int32_t(den);
  } else {
    while (i < s.last && t[i].kind == K::kDigit) {
      t[i].role = DigitRole::kDen;
      ++s.den_digits;
      ++i;
    }
  }
  for (; i < s.last; ++i) to_literal(t[i]);
  return true;
}

void finish_number(CompiledFormat& f, FormatSection& s) {
  FormatToken* t = f.tokens.data();
  uint32_t exp = s.last;
  for (uint32_t i = s.first; i < s.last; ++i)
    if (t[i].kind == K::kExponent) {
      exp = i;
      break;
    }
  if (exp == s.last && finish_fraction(f, s)) return;
  if (exp != s.last) s.kind = SectionKind::kScientific;
  // Positions of the last digit placeholder of the mantissa.
  uint32_t last_digit = s.last;
  for (uint32_t i = s.first; i < exp; ++i)
    if (t[i].kind == K::kDigit) last_digit = i;
  bool after_point = false, seen_digit = false;
  for (uint32_t i = s.first; i < s.last; ++i) {
    FormatToken& k = t[i];
    if (i > exp) {
      if (k.kind == K::kDigit)
        k.role = DigitRole::kExp;
      else
        to_literal(k);
      continue;
    }
    if (i == exp) continue;
    switch (k.kind) {
      case K::kDigit:
        seen_digit = true;
        if (after_point) {
          k.role = DigitRole::kFrac;
          ++s.frac_digits;
        } else {
          k.role = DigitRole::kInt;
          ++s.int_digits;
        }
        break;
      case K::kPoint:
        if (after_point) k.kind = K::kLiteral;
        after_point = true;
        break;
      case K::kComma:
        if (!seen_digit) {
          k.kind = K::kLiteral;
        } else if (last_digit != s.last && i > last_digit) {
          if (s.kind == SectionKind::kNumber) s.scale10 -= 3;
          k.length = 0;
          k.kind = K::kLiteral;
        } else {
          if (!after_point && s.kind == SectionKind::kNumber) s.grouping = true;
          k.length = 0;
          k.kind = K::kLiteral;
        }
        break;
      case K::kLiteral:
        if (k.ch == '%') s.scale10 += 2;
        break;
      default:
        to_literal(k);
    }
  }
}

}  // namespace

CompiledFormat compile_format(std::string_view code) {
  CompiledFormat f;
  if (code.empty() || ieq(code, "general")) return f;
  f.tokens.reserve(code.size() < 4096 ? code.size() : 4096);
  FormatSection cur;
  Builder b{f, cur};
  bool has_text = false, has_date = false;
  auto close = [&]() -> bool {
    if (f.count == 4) return false;
    cur.last = uint32_t(f.tokens.size());
    if (has_date) cur.kind = SectionKind::kDate;
    f.sections[f.count] = cur;
    f.sections[f.count].kind = has_date   ? SectionKind::kDate
                               : has_text ? SectionKind::kText
                                          : SectionKind::kNumber;
    ++f.count;
    cur = FormatSection{};
    cur.first = uint32_t(f.tokens.size());
    has_text = has_date = false;
    return true;
  };
  size_t i = 0;
  const size_t n = code.size();
  while (i < n) {
    char c = code[i];
    char l = lower(c);
    switch (c) {
      case ';':
        if (!close()) return CompiledFormat{};
        ++i;
        continue;
      case '"': {
        size_t end = code.find('"', i + 1);
        if (end == std::string_view::npos) return CompiledFormat{};
        if (end > i + 1) b.lit(code.substr(i + 1, end - i - 1));
        i = end + 1;
        continue;
      }
      case '\\':
      case '_':
      case '*': {
        if (i + 1 >= n) return CompiledFormat{};
        size_t len = utf8_len(code, i + 1);
        if (c == '\\')
          b.lit(code.substr(i + 1, len));
        else if (c == '_')
          b.lit(" ");
        i += 1 + len;
        continue;
      }
      case '[': {
        size_t end = code.find(']', i + 1);
        if (end == std::string_view::npos) return CompiledFormat{};
        size_t before = f.tokens.size();
        bracket(b, cur, code.substr(i + 1, end - i - 1));
        if (f.tokens.size() > before && f.tokens.back().kind != K::kLiteral) has_date = true;
        i = end + 1;
        continue;
      }
      case '0':
      case '#':
      case '?':
        b.add(K::kDigit, code.substr(i, 1), c);
        ++i;
        continue;
      case '.':
        b.add(K::kPoint, ".");
        ++i;
        continue;
      case ',':
        b.add(K::kComma, ",");
        ++i;
        continue;
      case '/':
        b.add(K::kSlash, "/");
        ++i;
        continue;
      case '@':
        b.add(K::kText, "@");
        has_text = true;
        ++i;
        continue;
      case '%':
        b.add(K::kLiteral, "%", '%');
        ++i;
        continue;
      default:
        break;
    }
    if (c >= '1' && c <= '9') {
      b.add(K::kLiteral, code.substr(i, 1), 'd');
      ++i;
      continue;
    }
    if ((c == 'E' || c == 'e') && i + 1 < n && (code[i + 1] == '+' || code[i + 1] == '-')) {
      b.add(K::kExponent, code.substr(i, 2), code[i + 1]);
      i += 2;
      continue;
    }
    if (l == 'g' && n - i >= 7 && ieq(code.substr(i, 7), "general")) {
      b.add(K::kGeneral, code.substr(i, 7));
      i += 7;
      continue;
    }
    if (l == 'a') {
      if (n - i >= 5 && ieq(code.substr(i, 5), "am/pm")) {
        b.add(K::kAmPm, code.substr(i, 5));
        has_date = true;
        i += 5;
        continue;
      }
      if (n - i >= 3 && lower(code[i + 2]) == 'p' && code[i + 1] == '/' &&
          (c == 'a') == (code[i + 2] == 'p')) {
        b.add(K::kAP, code.substr(i, 3), c == 'a' ? 'a' : 'A');
        has_date = true;
        i += 3;
        continue;
      }
    }
    if (l == 'y' || l == 'm' || l == 'd' || l == 'h' || l == 's') {
      size_t j = i;
      while (j < n && lower(code[j]) == l) ++j;
      size_t run = j - i;
      K kind;
      switch (l) {
        case 'y':
          kind = run <= 2 ? K::kYear2 : K::kYear4;
          break;
        case 'm':
          kind = run == 1   ? K::kMonth
                 : run == 2 ? K::kMonth2
                 : run == 3 ? K::kMonthAbbr
                 : run == 5 ? K::kMonthLetter
                            : K::kMonthFull;
          break;
        case 'd':
          kind = run == 1 ? K::kDay : run == 2 ? K::kDay2 : run == 3 ? K::kDayAbbr : K::kDayFull;
          break;
        case 'h':
          kind = run == 1 ? K::kHour : K::kHour2;
          break;
        default:
          kind = run == 1 ? K::kSecond : K::kSecond2;
          break;
      }
      b.add(kind, code.substr(i, run));
      has_date = true;
      i = j;
      continue;
    }
    b.lit(code.substr(i, utf8_len(code, i)));
    i += utf8_len(code, i);
  }
  if (!close()) return CompiledFormat{};
  f.general = false;
  f.fast = FastPath::kNone;
  for (uint8_t s = 0; s < f.count; ++s) {
    FormatSection& sec = f.sections[s];
    bool text_section = s == 3 || (f.count == 1 && sec.kind == SectionKind::kText);
    if (text_section) {
      sec.kind = SectionKind::kText;
      for (uint32_t t = sec.first; t < sec.last; ++t) {
        FormatToken& tok = f.tokens[t];
        if (tok.kind != K::kText) tok.kind = K::kLiteral;
      }
    } else if (sec.kind == SectionKind::kDate) {
      finish_date(f, sec);
    } else {
      sec.kind = SectionKind::kNumber;
      for (uint32_t t = sec.first; t < sec.last; ++t)
        if (f.tokens[t].kind == K::kText) f.tokens[t].kind = K::kLiteral;
      finish_number(f, sec);
    }
  }
  f.fast = decide_fast(code, f);
  f.plain = code.find_first_of("\"'\\") == std::string_view::npos;
  return f;
}

namespace {

// --- Renderer ---------------------------------------------------------------

std::string_view pool_text(const CompiledFormat& f, const FormatToken& t) {
  // The compiler made every token's text a part of the pool.
  return std::string_view(f.pool.data() + t.offset, t.length);
}

// Integer digits of x spread over `placeholders` integer placeholders, for
// the placeholder at index j (from the left).
void put_int_placeholder(Sink& out, const Dec& x, int64_t int_len, int32_t placeholders, int32_t j,
                         char ch, bool grouping) {
  int64_t p = placeholders - 1 - j;
  auto group_after = [&](int64_t q, bool printed) {
    if (grouping && q > 0 && q % 3 == 0 && printed) out.put(',');
  };
  if (j == 0)
    for (int64_t q = int_len - 1; q > p && !out.full(); --q) {
      out.put(char('0' + x.digit_at(q)));
      group_after(q, true);
    }
  if (p < int_len) {
    out.put(char('0' + x.digit_at(p)));
    group_after(p, true);
  } else if (ch == '0') {
    out.put('0');
    group_after(p, true);
  } else if (ch == '?') {
    out.put(' ');
    if (grouping && p > 0 && p % 3 == 0) out.put(' ');
  }
}

void put_frac_placeholder(Sink& out, const Dec& x, int64_t frac_len, int32_t j, char ch) {
  int64_t pos = j + 1;  // 10^-pos
  if (pos <= frac_len)
    out.put(char('0' + x.digit_at(-pos)));
  else if (ch == '0')
    out.put('0');
  else if (ch == '?')
    out.put(' ');
}

// Digits of an unsigned integer over right-aligned placeholders.
struct IntDigits {
  char buf[24];
  int len = 0;
  explicit IntDigits(uint64_t v) {
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    len = int(r.ptr - buf);
    if (v == 0) len = 0;
  }
  void put(Sink& out, int32_t placeholders, int32_t j, char ch) const {
    int p = placeholders - 1 - j;
    if (j == 0)
      for (int q = len - 1; q > p; --q) out.put(buf[len - 1 - q]);
    if (p < len)
      out.put(buf[len - 1 - p]);
    else if (ch == '0')
      out.put('0');
    else if (ch == '?')
      out.put(' ');
  }
};

void render_fixed(const CompiledFormat& f, const FormatSection& s, double a, Sink& out) {
  Dec x = to_dec15(a);
  if (x.n > 0) x.point += s.scale10;
  round_frac(x, s.frac_digits);
  const int64_t int_len = x.int_len(), frac_len = x.frac_len();
  int32_t ji = 0, jf = 0;
  bool int_pending = s.int_digits == 0 && int_len > 0;
  for (uint32_t i = s.first; i < s.last && !out.full(); ++i) {
    const FormatToken& t = f.tokens[i];
    switch (t.kind) {
      case K::kDigit:
        if (t.role == DigitRole::kInt) {
          put_int_placeholder(out, x, int_len, s.int_digits, ji++, t.ch, s.grouping);
        } else {
          if (int_pending) put_digits(out, x, int_len - 1, 0), int_pending = false;
          put_frac_placeholder(out, x, frac_len, jf++, t.ch);
        }
        break;
      case K::kPoint:
        if (int_pending) put_digits(out, x, int_len - 1, 0), int_pending = false;
        out.put('.');
        break;
      case K::kGeneral:
        general_body(out, a);
        break;
      default:
        out.put(pool_text(f, t));
    }
  }
}

void render_scientific(const CompiledFormat& f, const FormatSection& s, double a, Sink& out) {
  Dec x0 = to_dec15(a);
  Dec x = x0;
  int64_t exponent = 0;
  if (x0.n > 0) {
    int64_t e = x0.point - 1;
    for (int pass = 0; pass < 2; ++pass) {
      int32_t step = s.int_digits > 1 ? s.int_digits : 1;
      if (s.int_digits == 0)
        exponent = e + 1;
      else {
        int64_t q = e >= 0 ? e / step : -((-e + step - 1) / step);
        exponent = q * step;
      }
      x = x0;
      x.point -= exponent;
      round_frac(x, s.frac_digits);
      if (x.point - 1 + exponent == e || x.n == 0) break;
      e = x.point - 1 + exponent;  // carried into a new digit
    }
  }
  const int64_t int_len = x.int_len(), frac_len = x.frac_len();
  const IntDigits ed{uint64_t(exponent < 0 ? -exponent : exponent)};
  int32_t ji = 0, jf = 0, je = 0, exp_digits = 0;
  for (uint32_t i = s.first; i < s.last; ++i)
    if (f.tokens[i].kind == K::kDigit && f.tokens[i].role == DigitRole::kExp) ++exp_digits;
  bool int_pending = s.int_digits == 0 && int_len > 0;
  for (uint32_t i = s.first; i < s.last && !out.full(); ++i) {
    const FormatToken& t = f.tokens[i];
    switch (t.kind) {
      case K::kDigit:
        if (t.role == DigitRole::kInt) {
          put_int_placeholder(out, x, int_len, s.int_digits, ji++, t.ch, false);
        } else if (t.role == DigitRole::kFrac) {
          if (int_pending) put_digits(out, x, int_len - 1, 0), int_pending = false;
          put_frac_placeholder(out, x, frac_len, jf++, t.ch);
        } else {
          ed.put(out, exp_digits, je++, t.ch);
        }
        break;
      case K::kPoint:
        if (int_pending) put_digits(out, x, int_len - 1, 0), int_pending = false;
        out.put('.');
        break;
      case K::kExponent:
        out.put(pool_text(f, t).substr(0, 1));
        if (exponent < 0)
          out.put('-');
        else if (t.ch == '+')
          out.put('+');
        break;
      case K::kGeneral:
        general_body(out, a);
        break;
      default:
        out.put(pool_text(f, t));
    }
  }
}

// Closest p/q to x (0 <= x < 1) with q <= max_den.
void best_fraction(double x, int64_t max_den, int64_t& num, int64_t& den) {
  int64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
  double r = x;
  for (int it = 0; it < 64; ++it) {
    double fl = std::floor(r);
    if (fl > 1e12) break;
    int64_t ai = int64_t(fl);
    int64_t p2 = ai * p1 + p0, q2 = ai * q1 + q0;
    if (q2 > max_den) {
      int64_t k = q1 > 0 ? (max_den - q0) / q1 : 0;
      int64_t ps = p0 + k * p1, qs = q0 + k * q1;
      if (qs > 0 && (q1 == 0 || std::fabs(x - double(ps) / double(qs)) <
                                    std::fabs(x - double(p1) / double(q1)))) {
        p1 = ps, q1 = qs;
      }
      break;
    }
    p0 = p1, q0 = q1, p1 = p2, q1 = q2;
    double frac = r - fl;
    if (frac < 1e-12 || double(p1) / double(q1) == x) break;
    r = 1 / frac;
  }
  if (q1 == 0) p1 = 0, q1 = 1;
  num = p1;
  den = q1;
}

void render_fraction(const CompiledFormat& f, const FormatSection& s, double a, Sink& out) {
  if (s.scale10 > 0) a = a * std::pow(10.0, s.scale10);
  double whole_d = s.has_int_part ? std::floor(a) : 0;
  double frac = a - whole_d;
  int64_t num = 0, den = 1;
  if (s.den_fixed > 0) {
    den = s.den_fixed;
    double v = std::floor(frac * double(den) + 0.5);
    num = v > 9e15 ? int64_t(9e15) : int64_t(v);
  } else {
    int32_t digits = s.den_digits > 9 ? 9 : s.den_digits;
    int64_t max_den = 1;
    for (int32_t i = 0; i < digits; ++i) max_den *= 10;
    max_den -= 1;
    if (max_den < 1) max_den = 1;
    if (s.has_int_part) {
      best_fraction(frac, max_den, num, den);
    } else {
      double w = std::floor(a);
      best_fraction(a - w, max_den, num, den);
      double total = w * double(den) + double(num);
      num = total > 9e15 ? int64_t(9e15) : int64_t(total);
    }
  }
  if (s.has_int_part && num >= den && den > 0) {
    whole_d += double(num / den);  // NOLINT(bugprone-integer-division): whole part
    num %= den;
  }
  const bool blank_fraction = s.has_int_part && num == 0;
  Dec whole = to_dec15(whole_d);
  const int64_t int_len = whole.int_len();
  const IntDigits nd{uint64_t(num)}, dd{uint64_t(den)};
  int32_t ji = 0, jn = 0, jd = 0;
  bool force_zero = s.has_int_part && int_len == 0 && num == 0;
  for (uint32_t i = s.first; i < s.last && !out.full(); ++i) {
    const FormatToken& t = f.tokens[i];
    switch (t.kind) {
      case K::kDigit:
        if (t.role == DigitRole::kInt) {
          char ch = (force_zero && ji == s.int_digits - 1) ? '0' : t.ch;
          put_int_placeholder(out, whole, int_len, s.int_digits, ji++, ch, false);
        } else if (t.role == DigitRole::kNum) {
          if (blank_fraction)
            out.put(' '), ++jn;
          else if (!s.has_int_part && num == 0 && jn == s.num_digits - 1)
            out.put('0'), ++jn;
          else
            nd.put(out, s.num_digits, jn++, t.ch);
        } else {
          if (blank_fraction) {
            out.put(' ');
          } else {
            // Denominator digits are left-aligned, padded on the right.
            if (jd < dd.len) {
              if (jd == s.den_digits - 1)
                out.put(std::string_view(dd.buf + jd, size_t(dd.len - jd)));
              else
                out.put(dd.buf[jd]);
            } else if (t.ch == '?')
              out.put(' ');
            else if (t.ch == '0')
              out.put('0');
          }
          ++jd;
        }
        break;
      case K::kSlash:
        out.put(blank_fraction ? ' ' : '/');
        break;
      case K::kDenFixed:
        if (blank_fraction)
          out.repeat(' ', dd.len);
        else
          out.put(std::string_view(dd.buf, size_t(dd.len)));
        break;
      case K::kGeneral:
        general_body(out, a);
        break;
      default:
        out.put(pool_text(f, t));
    }
  }
}

constexpr int64_t kMaxDay1900 = 2958465;  // 9999-12-31
constexpr int64_t kMaxDay1904 = 2957003;

constexpr std::string_view kMonths[] = {"January",   "February", "March",    "April",
                                        "May",       "June",     "July",     "August",
                                        "September", "October",  "November", "December"};
constexpr std::string_view kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

// Days since 1970-01-01 to a civil date.
void civil_from_days(int64_t z, int64_t& y, int& m, int& d) {
  const CivilDate c = civil_from_any_days(z);
  y = c.year;
  m = c.month;
  d = c.day;
}

constexpr int64_t kDaysTo18991231 = -25568;  // days from 1970-01-01
constexpr int64_t kDaysTo19040101 = -24107;

// False when the serial is outside the date range.
template <class Out>
bool render_date(const CompiledFormat& f, const FormatSection& s, double v, bool date1904,
                 Out& out) {
  const int64_t max_day = date1904 ? kMaxDay1904 : kMaxDay1900;
  if (!(v >= 0) || v >= double(max_day + 1)) return false;
  static constexpr int64_t kPow10[] = {1, 10, 100, 1000};
  const int64_t scale = kPow10[s.subsecond_digits];
  const int64_t per_day = 86400 * scale;
  // NOLINTNEXTLINE(bugprone-incorrect-roundings): v >= 0, so truncation is floor
  const int64_t total = int64_t(v * double(per_day) + 0.5);
  // Whole seconds, the common case, by constants.
  const bool whole = scale == 1;
  const int64_t days = whole ? total / 86400 : total / per_day;
  if (days > max_day) return false;
  const int64_t rem = whole ? total % 86400 : total % per_day;
  const int64_t sub = whole ? 0 : rem % scale;
  const int64_t secs = whole ? rem : rem / scale;
  const int hour = int(secs / 3600), minute = int(secs / 60 % 60), second = int(secs % 60);
  int64_t year;
  int month, day, dow;
  if (!date1904) {
    dow = int((days + 6) % 7);
    if (days == 0)
      year = 1900, month = 1, day = 0;
    else if (days == 60)
      year = 1900, month = 2, day = 29;
    else
      civil_from_days(kDaysTo18991231 + days - (days > 60 ? 1 : 0), year, month, day);
  } else {
    dow = int((days + 5) % 7);
    civil_from_days(kDaysTo19040101 + days, year, month, day);
  }
  const int64_t total_secs = whole ? total : total / scale;
  for (uint32_t i = s.first; i < s.last && !out.full(); ++i) {
    const FormatToken& t = f.tokens[i];
    switch (t.kind) {
      case K::kYear2:
        put_uint(out, uint64_t(year % 100), 2);
        break;
      case K::kYear4:
        put_uint(out, uint64_t(year), 4);
        break;
      case K::kMonth:
        put_uint(out, uint64_t(month), 1);
        break;
      case K::kMonth2:
        put_uint(out, uint64_t(month), 2);
        break;
      case K::kMonthAbbr:
        out.put(kMonths[month - 1].substr(0, 3));
        break;
      case K::kMonthFull:
        out.put(kMonths[month - 1]);
        break;
      case K::kMonthLetter:
        out.put(kMonths[month - 1][0]);
        break;
      case K::kDay:
        put_uint(out, uint64_t(day), 1);
        break;
      case K::kDay2:
        put_uint(out, uint64_t(day), 2);
        break;
      case K::kDayAbbr:
        out.put(kDays[dow].substr(0, 3));
        break;
      case K::kDayFull:
        out.put(kDays[dow]);
        break;
      case K::kHour:
      case K::kHour2: {
        int h = hour;
        if (s.twelve_hour) h = h % 12 == 0 ? 12 : h % 12;
        put_uint(out, uint64_t(h), t.kind == K::kHour ? 1 : 2);
        break;
      }
      case K::kMinute:
        put_uint(out, uint64_t(minute), 1);
        break;
      case K::kMinute2:
        put_uint(out, uint64_t(minute), 2);
        break;
      case K::kSecond:
        put_uint(out, uint64_t(second), 1);
        break;
      case K::kSecond2:
        put_uint(out, uint64_t(second), 2);
        break;
      case K::kElapsedH:
        put_uint(out, uint64_t(total_secs / 3600), t.value);
        break;
      case K::kElapsedM:
        put_uint(out, uint64_t(total_secs / 60), t.value);
        break;
      case K::kElapsedS:
        put_uint(out, uint64_t(total_secs), t.value);
        break;
      case K::kSubsecond: {
        out.put('.');
        int64_t shown = sub / kPow10[s.subsecond_digits - t.value];
        put_uint(out, uint64_t(shown), t.value);
        break;
      }
      case K::kAmPm:
        out.put(hour < 12 ? "AM" : "PM");
        break;
      case K::kAP:
        out.put(t.ch == 'a' ? (hour < 12 ? 'a' : 'p') : (hour < 12 ? 'A' : 'P'));
        break;
      case K::kGeneral:
        if constexpr (std::is_same_v<Out, Sink>) general_body(out, v);
        break;
      default:
        out.put(pool_text(f, t));
    }
  }
  return true;
}

bool matches(ConditionOp op, double bound, double v) {
  switch (op) {
    case ConditionOp::kLt:
      return v < bound;
    case ConditionOp::kLe:
      return v <= bound;
    case ConditionOp::kGt:
      return v > bound;
    case ConditionOp::kGe:
      return v >= bound;
    case ConditionOp::kEq:
      return v == bound;
    case ConditionOp::kNe:
      return v != bound;
    case ConditionOp::kNone:
      return true;
  }
  return true;
}

// A condition that no value >= 0 satisfies: such a section shows the
// magnitude of the value, the way the implicit negative section does.
bool only_negatives(ConditionOp op, double bound) {
  return (op == ConditionOp::kLt && bound <= 0) || (op == ConditionOp::kLe && bound < 0) ||
         (op == ConditionOp::kEq && bound < 0);
}

struct Choice {
  int section = -1;  // -1: no section matches
  bool magnitude = false;
};

Choice choose(const CompiledFormat& f, double v) {
  int n = f.count > 3 ? 3 : f.count;
  const FormatSection* s = f.sections.data();
  bool conditional = s[0].op != ConditionOp::kNone || (n > 1 && s[1].op != ConditionOp::kNone);
  if (!conditional) {
    if (n == 1) return {0, false};
    if (v < 0) return {1, true};
    if (n == 2 || v > 0) return {0, false};
    return {2, false};
  }
  // Explicit conditions replace the implicit ones of their section; an
  // unconditioned first section keeps ">= 0" (two sections) or "> 0", an
  // unconditioned second one is "< 0" with three sections and "anything
  // else" with two; the third takes whatever is left.
  auto pick = [&](int i, ConditionOp op, double bound) -> Choice {
    return {i, only_negatives(op, bound)};
  };
  ConditionOp op0 = s[0].op;
  double b0 = s[0].bound;
  if (op0 == ConditionOp::kNone) op0 = n == 2 ? ConditionOp::kGe : ConditionOp::kGt, b0 = 0;
  if (matches(op0, b0, v)) return pick(0, op0, b0);
  if (n == 1) return {};
  ConditionOp op1 = s[1].op;
  double b1 = s[1].bound;
  if (op1 == ConditionOp::kNone) {
    if (n == 2) return {1, false};
    op1 = ConditionOp::kLt, b1 = 0;
  }
  if (matches(op1, b1, v)) return pick(1, op1, b1);
  if (n == 3) return {2, false};
  return {};
}

void render_text_section(const CompiledFormat& f, const FormatSection& s, std::string_view text,
                         Sink& out) {
  for (uint32_t i = s.first; i < s.last && !out.full(); ++i) {
    const FormatToken& t = f.tokens[i];
    if (t.kind == K::kText)
      out.put(text);
    else
      out.put(pool_text(f, t));
  }
}

// --- Fast paths -------------------------------------------------------------

// The decimal m / 10^k (k <= 6, no trailing zero, m below 10^15) that
// reads back as `a` (>= 0), if there is one: then it is the 15-digit form
// that to_dec15 gives (two decimals of at most 15 digits cannot round to
// one double). An even k covers the odd one below it, and a k that works
// leaves at most one trailing zero, as k - 2 did not work.
[[gnu::always_inline]] inline bool short_parts(double a, uint64_t& m, int& k) {
  static constexpr double kScales[] = {100, 10000, 1000000};
  if (!(a < 1e15)) return false;
  uint64_t c = uint64_t(a);
  if (double(c) == a) {
    m = c;
    k = 0;
    return true;
  }
  for (int i = 0; i < 3; ++i) {
    const double scaled = a * kScales[i];
    if (!(scaled < 1e15)) return false;
    // Within a quarter of the integer when a is close to such a decimal;
    // the division checks that it reads back.
    c = uint64_t(scaled + 0.5);  // NOLINT(bugprone-incorrect-roundings): near an integer
    if (double(c) / kScales[i] != a) continue;
    k = 2 * i + 2;
    if (c % 10 == 0) c /= 10, --k;
    m = c;
    return true;
  }
  return false;
}

// m rounded half away from zero to `keep` of its k decimals (keep < k).
[[gnu::always_inline]] inline void round_parts(uint64_t& m, int& k, int keep) {
  const uint64_t d = kPow10u[k - keep];
  const uint64_t r = m % d;
  m = m / d + (r * 2 >= d ? 1 : 0);
  k = keep;
}

// The General rule for a decimal m / 10^k of up to 15 digits (not zero):
// up to ten significant digits shown in full from 10^-4 to below 10^11,
// else six in scientific notation, as general_body prints them.
[[gnu::noinline]] char* general_parts(uint64_t m, int k, char* p) {
  const int nd = digit_count(m);
  int e = nd - k - 1;  // exponent of the leading digit
  if (e >= -4 && e <= 10) {
    uint64_t fm = m;
    int fk = k;
    const int keep = e >= 0 ? (e < 9 ? 9 - e : 0) : 9;
    if (fk > keep) {
      round_parts(fm, fk, keep);
      while (fk > 0 && fm % 10 == 0) fm /= 10, --fk;
    }
    const uint64_t whole = fm / kPow10u[fk];
    if (whole < kPow10u[11]) {
      p = write_uint(p, whole);
      if (fk > 0) {
        *p++ = '.';
        p = write_digits(p, fm - whole * kPow10u[fk], fk);
      }
      return p;
    }
  }
  // Six significant digits.
  int sig = nd;
  if (sig > 6) {
    int keep = 6;
    round_parts(m, sig, keep);
    if (m == kPow10u[6]) m = kPow10u[5], ++e;
  }
  while (sig > 1 && m % 10 == 0) m /= 10, --sig;
  const uint64_t lead = m / kPow10u[sig - 1];
  *p++ = char('0' + lead);
  if (sig > 1) {
    *p++ = '.';
    p = write_digits(p, m - lead * kPow10u[sig - 1], sig - 1);
  }
  *p++ = 'E';
  *p++ = e < 0 ? '-' : '+';
  return write_digits(p, uint64_t(e < 0 ? -e : e), 2);
}

[[gnu::noinline]] char* general_fast(double value, char* p) {
  const bool negative = value < 0;  // not for -0
  uint64_t m;
  int k;
  if (!short_parts(negative ? -value : value, m, k)) return nullptr;
  *p = '-';
  p += negative;
  // The common cases first: whole numbers, and decimals shown in full.
  if (k == 0) {
    if (m < kPow10u[11]) return write_uint(p, m);
  } else {
    const uint64_t whole = m / kPow10u[k];
    if (whole < kPow10u[10 - k] && (whole > 0 || k <= 4 || m >= kPow10u[k - 4])) {
      p = write_uint(p, whole);
      *p++ = '.';
      return write_digits(p, m - whole * kPow10u[k], k);
    }
  }
  return general_parts(m, k, p);
}

char* write_grouped(char* p, uint64_t v) {
  const int n = digit_count(v);
  char* end = p + n + (n - 1) / 3;
  char* q = end;
  for (int i = 0; i < n; ++i) {
    if (i > 0 && i % 3 == 0) *--q = ',';
    *--q = char('0' + v % 10);
    v /= 10;
  }
  return end;
}

// "0", "#,##0", with s.frac_digits zeros after the point and '%' for a
// scale of 2: the decimal rounded half away from zero to those places.
[[gnu::noinline]] char* fixed_fast(const FormatSection& s, double value, char* p) {
  const bool negative = value < 0;
  uint64_t m;
  int k;
  if (!short_parts(negative ? -value : value, m, k)) return nullptr;
  if (s.scale10 == 2) {
    if (k >= 2) {
      k -= 2;
    } else {
      m *= kPow10u[2 - k];  // below 10^17
      k = 0;
    }
  }
  const int places = s.frac_digits;
  if (places > 9) return nullptr;  // compile_format never decides so
  if (k > places) round_parts(m, k, places);
  *p = '-';
  p += negative;
  const uint64_t whole = m / kPow10u[k];
  if (s.grouping)
    p = write_grouped(p, whole);
  else
    p = write_uint(p, whole);
  if (places > 0) {
    *p++ = '.';
    p = write_digits(p, (m - whole * kPow10u[k]) * kPow10u[places - k], places);
  }
  if (s.scale10 == 2) *p++ = '%';
  return p;
}

// Whether `code` is exactly (0|#,##0)(.0{1,9})?%? (those compile to one
// number section whose token walk is fixed_fast).
bool is_plain_fixed(std::string_view code) {
  if (code.substr(0, 5) == "#,##0")
    code.remove_prefix(5);
  else if (code.substr(0, 1) == "0")
    code.remove_prefix(1);
  else
    return false;
  if (!code.empty() && code.back() == '%') code.remove_suffix(1);
  if (code.empty()) return true;
  if (code[0] != '.' || code.size() < 2 || code.size() > 10) return false;
  for (char c : code.substr(1))
    if (c != '0') return false;
  return true;
}

// An upper bound of the text of a date section, or kFastRoom + 1 where the
// section holds General.
size_t date_text_bound(const CompiledFormat& f, const FormatSection& s) {
  size_t n = 0;
  for (uint32_t i = s.first; i < s.last; ++i) {
    const FormatToken& t = f.tokens[i];
    if (t.kind == K::kGeneral) return kFastRoom + 1;
    // A field is at most a day or month name (9), an elapsed count (12
    // digits) or a fraction of a second.
    n += is_date_token(t.kind) ? 16 : t.length;
    if (n > kFastRoom) return n;
  }
  return n;
}

[[gnu::noinline]] char* date_fast(const CompiledFormat& f, double value, bool date1904, char* p) {
  CharOut out{p};
  if (!render_date(f, f.sections[0], value, date1904, out)) return nullptr;
  return out.p;
}

FastPath decide_fast(std::string_view code, const CompiledFormat& f) {
  if (f.general) return FastPath::kGeneral;
  if (f.count != 1 || f.sections[0].op != ConditionOp::kNone) return FastPath::kNone;
  const FormatSection& s = f.sections[0];
  if (s.kind == SectionKind::kNumber && is_plain_fixed(code)) return FastPath::kFixed;
  if (s.kind == SectionKind::kDate && date_text_bound(f, s) <= kFastRoom) return FastPath::kDate;
  return FastPath::kNone;
}

}  // namespace

char* write_number_fast(const CompiledFormat& f, double value, bool date1904, char* p) {
  switch (f.fast) {
    case FastPath::kGeneral:
      return general_fast(value, p);
    case FastPath::kFixed:
      return fixed_fast(f.sections[0], value, p);
    case FastPath::kDate:
      return date_fast(f, value, date1904, p);
    case FastPath::kNone:
      break;
  }
  return nullptr;
}

void render_general(double value, std::string& out) {
  Sink s{out, out.size() + kMaxRenderedBytes};
  general_body(s, value);
}

void render_number(const CompiledFormat& f, double value, bool date1904, std::string& out) {
  char fast[kFastRoom];
  if (const char* end = write_number_fast(f, value, date1904, fast)) {
    out.append(fast, size_t(end - fast));
    return;
  }
  Sink s{out, out.size() + kMaxRenderedBytes};
  if (f.general || !std::isfinite(value)) return general_body(s, value);
  Choice c = choose(f, value);
  if (c.section < 0) return general_body(s, value);
  const FormatSection& sec = f.sections[size_t(c.section)];
  double v = c.magnitude ? std::fabs(value) : value;
  switch (sec.kind) {
    case SectionKind::kText:
      return general_body(s, value);
    case SectionKind::kDate:
      if (!render_date(f, sec, v, date1904, s)) general_body(s, value);
      return;
    default:
      break;
  }
  if (v < 0) s.put('-');
  double a = std::fabs(v);
  if (sec.kind == SectionKind::kScientific)
    render_scientific(f, sec, a, s);
  else if (sec.kind == SectionKind::kFraction)
    render_fraction(f, sec, a, s);
  else
    render_fixed(f, sec, a, s);
}

void render_text(const CompiledFormat& f, std::string_view text, std::string& out) {
  Sink s{out, out.size() + kMaxRenderedBytes};
  if (!shows_text_as_is(f))
    return render_text_section(f, f.sections[f.count == 4 ? 3 : 0], text, s);
  s.put(text);
}

}  // namespace sheetdump
