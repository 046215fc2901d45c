#include "cli/command_line.hpp"

#include <cstring>

#include "biff/workbook_loader.hpp"
#include "output/delimited_writer.hpp"
#include "output/output_stream.hpp"

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

int run(int argc, const char* const* argv) {
  CommandLine cl = parse_command_line(argc, argv);
  if (cl.help) {
    write_usage(stderr, argc > 0 && argv[0] ? argv[0] : "sheetdump");
    return 1;
  }
  use_large_output_buffer();
  OutputStream out(stdout);
  for (const std::string& path : cl.files) {
    auto wb = open_workbook(path);
    if (!wb) {
      out.flush();  // earlier files' output stands
      std::fprintf(stderr, "Could not open file for parsing: %s\n", path.c_str());
      return 1;
    }
    switch (cl.mode) {
      case MODE_SQL:
        write_sql(*wb, cl.date_pattern, cl.quote, out);
        break;
      case MODE_TAB:
        write_tab(*wb, out);
        break;
      default:
        write_csv(*wb, out);
        break;
    }
  }
  out.flush();
  return 1;
}

}  // namespace sheetdump
