#include "cli/options.hpp"

#include <cstring>


namespace sheetdump {

namespace {

bool is(const char* arg, const char* form) { return std::strcmp(arg, form) == 0; }

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine cl;
  if (argc < 2) {
    cl.help = true;
    return cl;
  }
  int i = 1;
  for (; i < argc; ++i) {
    const char* a = argv[i];
    if (is(a, "--isodate") || is(a, "-i"))
      cl.date_pattern = kIsoDatePattern;
    else if (is(a, "-o") || is(a, "--oracle"))
      cl.quote = QUOTE_ORACLE;
    else if (is(a, "-p") || is(a, "--postgres"))
      cl.quote = QUOTE_POSTGRES;
    else if (is(a, "-s") || is(a, "--sql"))
      cl.mode = MODE_SQL;
    else if (is(a, "-c") || is(a, "--csv"))
      cl.mode = MODE_CSV;
    else if (is(a, "--tab") || is(a, "-t"))
      cl.mode = MODE_TAB;
    else if (is(a, "--help") || is(a, "-h")) {
      cl.help = true;
      return cl;
    } else
      break;
  }
  for (; i < argc; ++i) cl.files.emplace_back(argv[i]);
  return cl;
}

void write_usage(std::FILE* out, const char* program) {
  std::fprintf(out, "Read Excel files without Microsoft!\n");
  std::fprintf(out, "<sheetdump> written by the sheetdump developers\n");
  std::fprintf(out, "With thanks to everyone who documented the BIFF file format.\n\n");
  std::fprintf(out, "Usage: %s: [OTIONS] <FILE1> <FILE2> ...\n", program);
  std::fprintf(out, "Example: %s --sql MyExcelFile.xls\n", program);
  std::fprintf(out, "\nOptions:\n");
  std::fprintf(out, "  -t, --tab         Convert to TAB delimted text\n");
  std::fprintf(out, "  -c, --csv         Convert to CSV text\n");
  std::fprintf(out, "  -s, --sql         Convert to SQL inserts\n");
  std::fprintf(out, "  -o, --oracle      Use Oracle style quoting [''] \n");
  std::fprintf(out, "  -p, --postgres    Use PostgreSQL style quoting [\\'] \n");
  std::fprintf(out, "  -i, --isodate     Convert to ISO standard date [1975-12-10 03:34:59]\n");
}

}  // namespace sheetdump
