#include "cli/sheet_list.hpp"

namespace sheetdump {

void append_escaped_field(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
        break;
    }
  }
}

const char* sheet_kind_word(const Sheet& sheet) {
  switch (sheet.bof_type) {
    case 0x0010:
      return "worksheet";
    case 0x0020:
      return "chart";
    case 0x0040:
      return "macro";
    default:
      return "other";
  }
}

void write_list_line(OutputStream& out, std::string_view file, size_t position,
                     const Sheet& sheet) {
  std::string line;
  append_escaped_field(line, file);
  line += '\t';
  line += std::to_string(position);
  line += '\t';
  if (sheet.name) append_escaped_field(line, *sheet.name);
  line += '\t';
  line += sheet_kind_word(sheet);
  line += '\t';
  line += std::to_string(sheet.rows);
  line += '\t';
  line += std::to_string(sheet.cols);
  line += '\n';
  out.write_line(line);
}

}  // namespace sheetdump
