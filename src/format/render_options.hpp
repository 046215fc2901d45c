// How cells become text: the settings of one run that every writer hands
// to the renderer. There is no process-wide rendering state.
#pragma once

#include <cstdint>

namespace sheetdump {

enum class Rendering : uint8_t {
  Default,    // built-in printf and strftime patterns, the general rule
  Exact,      // the stored value: shortest round-trip numbers, ISO 8601 dates
  Formatted,  // the text the spreadsheet shows, through each cell's format code
};

struct RenderOptions {
  // While set, this strftime pattern replaces the pattern of every date
  // format (SQL output with --isodate). The caller keeps it alive.
  const char* date_pattern = nullptr;
  // Booleans, errors and the workbook's own records (date system, format
  // codes) take part in rendering.
  bool all = false;
  Rendering rendering = Rendering::Default;
};

}  // namespace sheetdump
