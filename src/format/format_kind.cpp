#include "format/format_kind.hpp"

#include <cstddef>

namespace sheetdump {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// True when `code` holds `word` at `pos`, ignoring ASCII case.
bool matches_at(std::string_view code, size_t pos, std::string_view word) {
  if (code.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (lower(code[pos + i]) != word[i]) return false;
  return true;
}

enum class Token {
  Date,
  Month,
  MonthOrMinute,
  Hour,
  Second,
  Time,
  ElapsedHours,
  ElapsedMinutes,
  ElapsedSeconds
};

// The elapsed-time unit of a bracket's contents: one letter h, m or s,
// repeated, in any case.
Elapsed elapsed_unit(std::string_view inside) {
  if (inside.empty()) return Elapsed::None;
  char c = lower(inside[0]);
  for (char x : inside)
    if (lower(x) != c) return Elapsed::None;
  switch (c) {
    case 'h':
      return Elapsed::Hours;
    case 'm':
      return Elapsed::Minutes;
    case 's':
      return Elapsed::Seconds;
    default:
      return Elapsed::None;
  }
}

// Folds the date/time tokens of one section into a FormatShows as they are
// met, resolving each short m run from its neighbours: the previous token
// is remembered, and a run whose previous token is not an hour waits for
// the next token.
struct Classifier {
  FormatShows shows;
  bool previous_is_hour = false;
  bool pending_m = false;

  void add(Token t) {
    if (pending_m) {
      bool minutes = t == Token::Second || t == Token::ElapsedSeconds;
      (minutes ? shows.time : shows.date) = true;
      pending_m = false;
    }
    switch (t) {
      case Token::Date:
      case Token::Month:
        shows.date = true;
        break;
      case Token::MonthOrMinute:
        if (previous_is_hour)
          shows.time = true;
        else
          pending_m = true;
        break;
      case Token::Hour:
      case Token::Second:
      case Token::Time:
        shows.time = true;
        break;
      case Token::ElapsedHours:
        set_elapsed(Elapsed::Hours);
        break;
      case Token::ElapsedMinutes:
        set_elapsed(Elapsed::Minutes);
        break;
      case Token::ElapsedSeconds:
        set_elapsed(Elapsed::Seconds);
        break;
    }
    previous_is_hour = t == Token::Hour || t == Token::ElapsedHours;
  }

  void set_elapsed(Elapsed e) {
    shows.time = true;
    if (shows.elapsed == Elapsed::None) shows.elapsed = e;
  }

  FormatShows finish() {
    if (pending_m) shows.date = true;
    pending_m = false;
    return shows;
  }
};

}  // namespace

FormatShows classify_format_code(std::string_view code) {
  Classifier c;
  size_t i = 0;
  const size_t n = code.size();
  while (i < n) {
    char ch = code[i];
    switch (ch) {
      case ';':
        return c.finish();
      case '"': {
        size_t close = code.find('"', i + 1);
        if (close == std::string_view::npos) return c.finish();
        i = close + 1;
        continue;
      }
      case '\\':
      case '_':
      case '*':
        i += 2;
        continue;
      case '[': {
        size_t close = code.find(']', i + 1);
        if (close == std::string_view::npos) return c.finish();
        switch (elapsed_unit(code.substr(i + 1, close - i - 1))) {
          case Elapsed::Hours:
            c.add(Token::ElapsedHours);
            break;
          case Elapsed::Minutes:
            c.add(Token::ElapsedMinutes);
            break;
          case Elapsed::Seconds:
            c.add(Token::ElapsedSeconds);
            break;
          case Elapsed::None:
            break;
        }
        i = close + 1;
        continue;
      }
      default:
        break;
    }
    char l = lower(ch);
    if (l == 'a') {
      if (matches_at(code, i, "am/pm")) {
        c.add(Token::Time);
        i += 5;
      } else if (matches_at(code, i, "a/p")) {
        c.add(Token::Time);
        i += 3;
      } else {
        ++i;
      }
      continue;
    }
    if (l == 'd' || l == 'y' || l == 'b' || l == 'h' || l == 's' || l == 'm') {
      size_t run = 1;
      while (i + run < n && lower(code[i + run]) == l) ++run;
      Token t = l == 'h'   ? Token::Hour
                : l == 's' ? Token::Second
                : l == 'm' ? (run >= 3 ? Token::Month : Token::MonthOrMinute)
                           : Token::Date;
      c.add(t);
      i += run;
      continue;
    }
    ++i;
  }
  return c.finish();
}

}  // namespace sheetdump
