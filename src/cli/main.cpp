#include "cli/command_line.hpp"

int main(int argc, char** argv) { return sheetdump::run(argc, argv); }
