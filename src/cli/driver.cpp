#include "cli/driver.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <sched.h>
#include <string>
#include <system_error>

#include "base/file_bytes.hpp"
#include "biff/workbook_loader.hpp"
#include "cli/options.hpp"
#include "cli/sheet_files.hpp"
#include "cli/sheet_list.hpp"
#include "cli/sheet_select.hpp"
#include "format/cell_text.hpp"
#include "output/delimited_pipeline.hpp"
#include "output/delimited_writer.hpp"
#include "output/output_stream.hpp"
#include "output/sql_session.hpp"
#include "output/sql_writer.hpp"

#ifndef SHEETDUMP_VERSION
#error "SHEETDUMP_VERSION (the project version) must be defined by the build"
#endif

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

// What a run shares across its files.
struct Run {
  const CommandLine& cl;
  OutputStream& out;         // standard output
  SheetFileNames names;      // --directory: the file names written so far
  SqlSession& sql;           // SQL state across files (--create: the tables made)
  bool two_threads = false;  // large sheets are written on two threads
};

// One line on standard error about `name` (a file as given, or a file
// written), after everything written so far on standard output.
void report(Run& run, const std::string& name, const std::string& reason) {
  run.out.flush();
  std::fprintf(stderr, "sheetdump: %s: %s\n", name.c_str(), reason.c_str());
}

// Why a file gives no workbook; none for a truncated one (reported after
// the sheets read) and for a sound one.
const char* whole_file_problem(LoadProblem p) {
  switch (p) {
    case LoadProblem::NotWorkbook:
      return "not an .xls workbook";
    case LoadProblem::NoWorkbookStream:
      return "no Workbook or Book stream in the compound file";
    case LoadProblem::Encrypted:
      return "encrypted workbook, not supported";
    case LoadProblem::OldBiff:
      return "BIFF version not supported";
    case LoadProblem::None:
    case LoadProblem::Truncated:
      break;
  }
  return nullptr;
}

bool is_worksheet(const Sheet& sheet) {
  return sheet.kind == SUBSTREAM_SHEET_BIFF5 || sheet.kind == SUBSTREAM_SHEET_BIFF8;
}

const char* extension(OutputMode mode) {
  switch (mode) {
    case MODE_SQL:
      return "sql";
    case MODE_TAB:
      return "tsv";
    default:
      return "csv";
  }
}

// A sheet of at least this many cells is written on two threads (while it
// loads, or under --create once it is loaded), where the process may run
// on two processors. Measured (medians of 20 runs): whole conversions of
// sheets of 144,000 to 720,000 cells took 17-33 % less time so, while
// eight sheets of 80,000 cells took 4-14 % more (a thread's start and its
// fresh memory per sheet against half of little work).
constexpr size_t kTwoThreadCells = size_t(1) << 17;

// Whether the process may run on more than one processor.
bool several_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return false;
  return CPU_COUNT(&set) > 1;
}

// The renderers of one workbook: the one every sheet is written with, and
// for large sheets a second one for a second thread, made at the first
// such sheet.
struct Renderers {
  Renderers(const Workbook& w, const RenderOptions& o, bool two)
      : wb(w), options(o), main(w, o), two_threads(two) {}
  const Workbook& wb;
  RenderOptions options;
  CellRenderer main;
  bool two_threads;
  std::optional<CellRenderer> second;

  CellRenderer& helper() {
    if (!second) second.emplace(wb, options);
    return *second;
  }
  // The second renderer for `sheet`, or none where it is written on one
  // thread.
  CellRenderer* helper_for(const Sheet& sheet) {
    if (!two_threads || sheet.cells.size() < kTwoThreadCells) return nullptr;
    return &helper();
  }
};

// Where large sheets are written while they load: CSV, TAB and SQL (not
// under --create, whose CREATE TABLE needs the whole sheet first) on
// standard output, every sheet wanted, the default rendering (whose cells
// are numbers and shared strings only), two processors.
std::optional<DelimitedPipeline> make_pipeline(const CommandLine& cl, const LoadOptions& load,
                                               Renderers& renderers) {
  if (!renderers.two_threads || (cl.mode == MODE_SQL && cl.create) || cl.list ||
      !cl.directory.empty() || !cl.sheets.empty() || load.all)
    return std::nullopt;
  if (cl.mode == MODE_SQL)
    return std::optional<DelimitedPipeline>(std::in_place, cl.quote, renderers.helper(),
                                            kTwoThreadCells);
  return std::optional<DelimitedPipeline>(std::in_place,
                                          cl.mode == MODE_TAB ? Delimited::Tab : Delimited::Csv,
                                          renderers.helper(), kTwoThreadCells);
}

// Writes one sheet in the command line's mode: the one place where a
// sheet's cells become output, on standard output or in a sheet file.
void write_sheet(const CommandLine& cl, SqlSession& sql, Renderers& renderers, const Sheet& sheet,
                 OutputStream& out, DelimitedPipeline* pipeline = nullptr) {
  CellRenderer& render = renderers.main;
  if (pipeline != nullptr && pipeline->ready()) {
    // (Never under --create, the one SQL session that counts its sheets.)
    pipeline->write(render, sheet, out);
    return;
  }
  switch (cl.mode) {
    case MODE_SQL:
      sql.write_sheet(render, sheet, out, renderers.helper_for(sheet));
      break;
    case MODE_TAB:
      write_tab_sheet(render, sheet, out, renderers.helper_for(sheet));
      break;
    default:
      write_csv_sheet(render, sheet, out, renderers.helper_for(sheet));
      break;
  }
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string error_text(int err) { return err != 0 ? std::strerror(err) : "I/O error"; }

// --directory: one worksheet into its own file. A file that cannot be
// created or written is reported; the run goes on.
void write_sheet_file(Run& run, Renderers& render, const std::string& workbook, size_t position,
                      const Sheet& sheet) {
  const CommandLine& cl = run.cl;
  std::string name = run.names.claim(workbook_stem(workbook),
                                     safe_sheet_part(sheet.name.value_or(""), position),
                                     extension(cl.mode));
  std::string path = cl.directory;
  if (path.back() != '/') path += '/';
  path += name;
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
  if (!f) {
    report(run, path, "cannot create file: " + error_text(errno));
    return;
  }
  std::setvbuf(f.get(), nullptr, _IOFBF, size_t(1) << 16);
  OutputStream out(f.get(), OnError::Record);
  // A sheet file loads on its own: under --create it has its own table
  // and transaction.
  SqlSession sql(cl.quote, cl.create);
  if (cl.mode == MODE_SQL) {
    sql.start(out);
    sql.begin_workbook(out);
  }
  write_sheet(cl, sql, render, sheet, out);
  if (cl.mode == MODE_SQL) sql.end_workbook(out);
  out.flush();
  int err = out.error();
  bool failed = out.failed();
  if (std::fclose(f.release()) != 0 && !failed) {
    failed = true;
    err = errno;
  }
  if (failed) report(run, path, "cannot write file: " + error_text(err));
}

// Loads one workbook and writes (or lists) each chosen sheet as soon as it
// is read, so that only one sheet's cells are held at a time.
void convert(Run& run, const std::string& path, FileBytes bytes) {
  const CommandLine& cl = run.cl;
  LoadOptions load;
  load.all = cl.all || cl.rendering != Rendering::Default;
  const size_t file_size = bytes.bytes().size();
  WorkbookLoader loader(std::move(bytes), load);
  Workbook wb;
  loader.load_globals(wb);
  // A file without a usable workbook is still read as before (an encrypted
  // one gives no sheet): what it gave stays the same.
  const char* unusable = whole_file_problem(loader.problem());
  if (unusable) report(run, path, unusable);
  SheetSelection chosen(cl.sheets, loader.sheet_names());
  Renderers render(wb, render_options(cl), run.two_threads);
  const bool sql_out = cl.mode == MODE_SQL && !cl.list && cl.directory.empty();
  if (sql_out) run.sql.begin_workbook(run.out);
  std::optional<DelimitedPipeline> pipeline = make_pipeline(cl, load, render);
  // Twice the file, where the second thread can keep to it by waiting.
  if (pipeline) pipeline->memory_goal = 2 * file_size;
  DelimitedPipeline* watch = pipeline ? &*pipeline : nullptr;
  size_t position = 0;
  while (auto sheet = loader.next_sheet(watch)) {
    ++position;
    if (chosen.wants(position, sheet->name)) {
      if (cl.list)
        write_list_line(run.out, path, position, *sheet);
      else if (!cl.directory.empty()) {
        if (is_worksheet(*sheet)) write_sheet_file(run, render, path, position, *sheet);
      } else
        write_sheet(cl, run.sql, render, *sheet, run.out, watch);
    }
    // The second thread is done with the sheet before its room is reused.
    if (watch != nullptr) watch->stop();
    loader.give_back(std::move(*sheet));
  }
  if (sql_out) run.sql.end_workbook(run.out);
  if (loader.problem() == LoadProblem::Truncated) report(run, path, "truncated workbook");
  if (unusable) return;
  for (const std::string& s : chosen.unused()) {
    std::string quoted = "no sheet named \"";
    append_escaped_field(quoted, s);
    report(run, path, quoted + "\"");
  }
}

}  // namespace

int run(int argc, const char* const* argv) {
  CommandLine cl = parse_command_line(argc, argv);
  const char* program = argc > 0 && argv[0] ? argv[0] : "sheetdump";
  if (cl.missing_value) {
    std::fprintf(stderr, "sheetdump: option %s needs a value\n", cl.missing_value);
    write_usage(stderr, program);
    return 1;
  }
  if (cl.help) {
    write_usage(stderr, program);
    return 1;
  }
  if (cl.version) {
    std::fputs("sheetdump " SHEETDUMP_VERSION "\n", stdout);
    return 1;
  }
  if (!cl.list && !cl.directory.empty() && !cl.files.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(cl.directory, ec);
    if (ec) {
      std::fprintf(stderr, "sheetdump: %s: cannot create directory: %s\n", cl.directory.c_str(),
                   ec.message().c_str());
      return 1;
    }
  }
  use_large_output_buffer();
  OutputStream out(stdout);
  SqlSession sql(cl.quote, cl.create);
  if (cl.mode == MODE_SQL && !cl.list && cl.directory.empty()) sql.start(out);
  Run state{cl, out, {}, sql, several_processors()};
  for (const std::string& path : cl.files) {
    // What the earlier files gave is handed on first, so that it stands
    // whatever becomes of this one: one that cannot be opened, or a mapped
    // file that another program cuts short while it is read (a bus error
    // then ends the process).
    out.flush();
    auto bytes = FileBytes::open(path);
    if (!bytes) {
      std::fprintf(stderr, "Could not open file for parsing: %s\n", path.c_str());
      if (cl.keep_going) continue;
      return 1;
    }
    convert(state, path, std::move(*bytes));
  }
  out.flush();
  return 1;
}

}  // namespace sheetdump
