#include "cli/driver.hpp"

#include <cstdio>

#include "base/file_bytes.hpp"
#include "biff/workbook_loader.hpp"
#include "cli/options.hpp"
#include "format/cell_text.hpp"
#include "output/delimited_writer.hpp"
#include "output/output_stream.hpp"
#include "output/sql_session.hpp"
#include "output/sql_writer.hpp"

namespace sheetdump {

namespace {

RenderOptions render_options(const CommandLine& cl) {
  RenderOptions o;
  o.rendering = cl.rendering;
  o.all = cl.all || cl.rendering != Rendering::Default;
  // The date pattern is SQL's: CSV and TAB ignore it.
  if (cl.mode == MODE_SQL) o.date_pattern = cl.date_pattern;
  return o;
}

// Loads one workbook and writes each sheet as soon as it is read, so that
// only one sheet's cells are held at a time.
void convert(const CommandLine& cl, FileBytes bytes, SqlSession& sql, OutputStream& out) {
  LoadOptions load;
  load.all = cl.all || cl.rendering != Rendering::Default;
  WorkbookLoader loader(std::move(bytes), load);
  Workbook wb;
  loader.load_globals(wb);
  CellRenderer render(wb, render_options(cl));
  if (cl.mode == MODE_SQL) sql.begin_workbook(out);
  while (auto sheet = loader.next_sheet()) {
    switch (cl.mode) {
      case MODE_SQL:
        sql.write_sheet(render, *sheet, out);
        break;
      case MODE_TAB:
        write_tab_sheet(render, *sheet, out);
        break;
      default:
        write_csv_sheet(render, *sheet, out);
        break;
    }
  }
  if (cl.mode == MODE_SQL) sql.end_workbook(out);
}

}  // namespace

int run(int argc, const char* const* argv) {
  CommandLine cl = parse_command_line(argc, argv);
  if (cl.help) {
    write_usage(stderr, argc > 0 && argv[0] ? argv[0] : "sheetdump");
    return 1;
  }
  use_large_output_buffer();
  OutputStream out(stdout);
  // SQL state across the files of the run (--create: the tables made).
  SqlSession sql(cl.quote, cl.create);
  if (cl.mode == MODE_SQL) sql.start(out);
  for (const std::string& path : cl.files) {
    auto bytes = FileBytes::open(path);
    if (!bytes) {
      out.flush();  // earlier files' output stands
      std::fprintf(stderr, "Could not open file for parsing: %s\n", path.c_str());
      return 1;
    }
    convert(cl, std::move(*bytes), sql, out);
  }
  out.flush();
  return 1;
}

}  // namespace sheetdump
