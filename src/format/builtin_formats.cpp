#include "format/builtin_formats.hpp"

namespace sheetdump {

namespace {

constexpr FormatInfo kBuiltinFormats[] = {
    {14, FORMAT_DATE, "%m/%d/%y"},
    {15, FORMAT_DATE, "%d-%b-%y"},
    {16, FORMAT_DATE, "%d-%b"},
    {17, FORMAT_DATE, "%b-%y"},
    {18, FORMAT_DATE, "%I:%M %p"},
    {19, FORMAT_DATE, "%I:%M:%S %p"},
    {20, FORMAT_DATE, "%H:%M"},
    {21, FORMAT_DATE, "%H:%M:%S"},
    {22, FORMAT_DATE, "%m/%d/%y %H:%M"},
    {45, FORMAT_DATE, "%M:%S"},
    {46, FORMAT_DATE, "%H:%M:%S"},
    {47, FORMAT_DATE, "%M:%S"},
    {165, FORMAT_DATE, "%m/%d/%y %I:%M %p"},
    {1, FORMAT_NUMBER, "%.0f"},
    {2, FORMAT_NUMBER, "%.2f"},
    {3, FORMAT_NUMBER, "#,##%.0f"},
    {4, FORMAT_NUMBER, "#,##%.2f"},
    {5, FORMAT_NUMBER, "$#,##%.0f"},
    {6, FORMAT_NUMBER, "$#,##%.0f"},
    {7, FORMAT_NUMBER, "$#,##%.2f"},
    {8, FORMAT_NUMBER, "$#,##%.2f"},
    {9, FORMAT_NUMBER, "%.0f%%"},
    {10, FORMAT_NUMBER, "%.2f%%"},
    {11, FORMAT_NUMBER, "%e"},
    {37, FORMAT_NUMBER, "#,##%.0f;(#,##0)"},
    {38, FORMAT_NUMBER, "#,##%.0f;(#,##0)"},
    {39, FORMAT_NUMBER, "#,##%.2f;(#,##0.00)"},
    {40, FORMAT_NUMBER, "#,##%.2f;(#,##0.00)"},
    {41, FORMAT_NUMBER, "#,##%.0f;(#,##0)"},
    {42, FORMAT_NUMBER, "$#,##%.0f;($#,##0)"},
    {43, FORMAT_NUMBER, "#,##%.2f;(#,##0.00)"},
    {44, FORMAT_NUMBER, "$#,##%.2f;($#,##0.00)"},
    {48, FORMAT_NUMBER, "##0.0E0"},
};
static_assert(std::size(kBuiltinFormats) == 33);

}  // namespace

std::span<const FormatInfo> builtin_formats() { return kBuiltinFormats; }

std::optional<uint8_t> lookup_format(int32_t index) {
  for (size_t i = 0; i < std::size(kBuiltinFormats); ++i)
    if (kBuiltinFormats[i].index == index) return uint8_t(i);
  return std::nullopt;
}

}  // namespace sheetdump
