#include "cli/sheet_files.hpp"

#include <algorithm>

#include "base/utf8.hpp"

namespace sheetdump {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0.
size_t utf8_sequence(std::string_view s) {
  auto b = uint8_t(s[0]);
  size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || n > s.size()) return 0;
  return is_valid_utf8(s.substr(0, n)) ? n : 0;
}

bool is_continuation(char c) { return (uint8_t(c) & 0xC0) == 0x80; }

}  // namespace

std::string workbook_stem(std::string_view path) {
  size_t slash = path.rfind('/');
  std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (base.size() >= 4) {
    std::string tail(base.substr(base.size() - 4));
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    if (tail == ".xls") base.remove_suffix(4);
  }
  return std::string(base);
}

std::string safe_sheet_part(std::string_view name, size_t position) {
  if (name.empty()) return std::to_string(position);
  std::string out;
  out.reserve(name.size());
  while (!name.empty()) {
    size_t n = utf8_sequence(name);
    if (n == 0) {
      out += '_';
      name.remove_prefix(1);
      continue;
    }
    char c = name[0];
    bool bad = n == 1 && (uint8_t(c) < 0x20 || c == 0x7F || c == '/' || c == '\\' ||
                          (c == '.' && out.empty()));
    if (bad)
      out += '_';
    else
      out.append(name.substr(0, n));
    name.remove_prefix(n);
  }
  return out;
}

std::string_view cut_utf8(std::string_view s, size_t max) {
  if (s.size() <= max) return s;
  size_t end = max;
  while (end > 0 && is_continuation(s[end])) --end;
  return s.substr(0, end);
}

std::string SheetFileNames::claim(std::string_view stem, std::string_view sheet,
                                  std::string_view extension) {
  for (size_t n = 1;; ++n) {
    std::string suffix = n == 1 ? "" : "-" + std::to_string(n);
    suffix += '.';
    suffix += extension;
    // What the suffix leaves for the stem, the dash and the sheet part.
    size_t room = kMaxFileName - suffix.size();
    std::string_view s = cut_utf8(stem, room > 1 ? room - 1 : 0);
    std::string name(s);
    name += '-';
    name += cut_utf8(sheet, room - name.size());
    name += suffix;
    if (claimed_.insert(name).second) return name;
  }
}

}  // namespace sheetdump
