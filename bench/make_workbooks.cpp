// Writes the benchmark workbooks (numeric.xls, mixed.xls, multi.xls) into a
// directory. The same scale always gives the same bytes.
//
//   make_workbooks OUTPUT_DIR [SCALE]
//
// SCALE multiplies the row counts (default 1; e.g. 0.01 for a smoke run).

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "workbook_gen.hpp"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR [SCALE]\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  double scale = 1.0;
  if (argc == 3) {
    char* end = nullptr;
    scale = std::strtod(argv[2], &end);
    if (end == argv[2] || *end != '\0' || !(scale > 0) || scale > 1.0) {
      std::fprintf(stderr, "%s: SCALE must be a number in (0, 1]\n", argv[0]);
      return 2;
    }
  }
  for (const std::string& name : benchgen::workbook_names()) {
    benchgen::Bytes bytes = benchgen::make_workbook(name, scale);
    std::string path = dir + "/" + name + ".xls";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
      std::fprintf(stderr, "%s: cannot create %s: %s\n", argv[0], path.c_str(),
                   std::strerror(errno));
      return 1;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
      return 1;
    }
    std::printf("%s %zu bytes\n", path.c_str(), bytes.size());
  }
  return 0;
}
