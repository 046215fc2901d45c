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
    else if (is(a, "-a") || is(a, "--all"))
      cl.all = true;
    else if (is(a, "-e") || is(a, "--exact"))
      cl.rendering = Rendering::Exact;
    else if (is(a, "-f") || is(a, "--formatted"))
      cl.rendering = Rendering::Formatted;
    else if (is(a, "-C") || is(a, "--create"))
      cl.create = true;
    else if (is(a, "-l") || is(a, "--list"))
      cl.list = true;
    else if (is(a, "-k") || is(a, "--keep-going"))
      cl.keep_going = true;
    else if (is(a, "-V") || is(a, "--version"))
      cl.version = true;
    else if (is(a, "-n") || is(a, "--sheet") || is(a, "-d") || is(a, "--directory")) {
      // Options with a value take the next argument as it stands.
      bool sheet = is(a, "-n") || is(a, "--sheet");
      if (i + 1 >= argc) {
        cl.missing_value = sheet ? "--sheet" : "--directory";
        cl.help = true;
        return cl;
      }
      if (sheet)
        cl.sheets.emplace_back(argv[++i]);
      else
        cl.directory = argv[++i];
    } else if (is(a, "--help") || is(a, "-h")) {
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
  std::fprintf(out,
               "  -a, --all         Read every cell: inline texts, booleans, errors, formulas\n");
  std::fprintf(out, "  -e, --exact       Exact values and ISO 8601 dates (implies --all)\n");
  std::fprintf(out, "  -f, --formatted   Values as the spreadsheet shows them (implies --all)\n");
  std::fprintf(out,
               "  -C, --create      With --sql: CREATE TABLE statements, one transaction a file\n");
  std::fprintf(out, "  -l, --list        List the sheets of every file instead of converting\n");
  std::fprintf(out, "  -n, --sheet NAME  Convert only sheet NAME (or its number); repeatable\n");
  std::fprintf(out, "  -d, --directory D Write each sheet to its own file in directory D\n");
  std::fprintf(out, "  -k, --keep-going  Go on with the next file when one cannot be opened\n");
  std::fprintf(out, "  -V, --version     Print the version\n");
}

}  // namespace sheetdump
