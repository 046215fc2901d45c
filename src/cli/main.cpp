#include "cli/driver.hpp"

int main(int argc, char** argv) { return sheetdump::run(argc, argv); }
