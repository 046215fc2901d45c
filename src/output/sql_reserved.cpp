// The list was found by trying every keyword of SQL:2016, SQLite and
// PostgreSQL as a bare table name and a bare column name in both databases
// (tests/output/sql_reserved_test.cpp repeats the trial, so the list cannot
// drift): a word is here exactly when either database rejects it in one of
// those places.
#include "output/sql_reserved.hpp"

#include <algorithm>
#include <array>

namespace sheetdump {

namespace {

// Lower case, sorted byte-wise for the binary search.
constexpr std::array<std::string_view, 117> kReserved = {
    "add",
    "all",
    "alter",
    "analyse",
    "analyze",
    "and",
    "any",
    "array",
    "as",
    "asc",
    "asymmetric",
    "authorization",
    "autoincrement",
    "between",
    "binary",
    "both",
    "case",
    "cast",
    "check",
    "collate",
    "collation",
    "column",
    "commit",
    "concurrently",
    "constraint",
    "create",
    "cross",
    "current_catalog",
    "current_date",
    "current_role",
    "current_schema",
    "current_time",
    "current_timestamp",
    "current_user",
    "default",
    "deferrable",
    "delete",
    "desc",
    "distinct",
    "do",
    "drop",
    "else",
    "end",
    "escape",
    "except",
    "exists",
    "false",
    "fetch",
    "for",
    "foreign",
    "freeze",
    "from",
    "full",
    "grant",
    "group",
    "having",
    "if",
    "ilike",
    "in",
    "index",
    "initially",
    "inner",
    "insert",
    "intersect",
    "into",
    "is",
    "isnull",
    "join",
    "lateral",
    "leading",
    "left",
    "like",
    "limit",
    "localtime",
    "localtimestamp",
    "natural",
    "not",
    "nothing",
    "notnull",
    "null",
    "offset",
    "on",
    "only",
    "or",
    "order",
    "outer",
    "overlaps",
    "placing",
    "primary",
    "references",
    "returning",
    "right",
    "select",
    "session_user",
    "set",
    "similar",
    "some",
    "symmetric",
    "table",
    "tablesample",
    "then",
    "to",
    "trailing",
    "transaction",
    "true",
    "union",
    "unique",
    "update",
    "user",
    "using",
    "values",
    "variadic",
    "verbose",
    "when",
    "where",
    "window",
    "with",
};

constexpr size_t kLongest = 17;

constexpr bool sorted_and_short() {
  for (size_t i = 0; i < kReserved.size(); ++i) {
    if (kReserved[i].empty() || kReserved[i].size() > kLongest) return false;
    if (i > 0 && !(kReserved[i - 1] < kReserved[i])) return false;
  }
  return true;
}
static_assert(sorted_and_short(), "the reserved words must be sorted, unique and short");

}  // namespace

bool is_reserved_word(std::string_view name) {
  if (name.size() < 2 || name.size() > kLongest) return false;
  char lower[kLongest];
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    // Every word is lower-case letters and underscores.
    if (!((c >= 'a' && c <= 'z') || c == '_')) return false;
    lower[i] = c;
  }
  std::string_view key(lower, name.size());
  return std::binary_search(kReserved.begin(), kReserved.end(), key);
}

std::span<const std::string_view> reserved_words() { return kReserved; }

}  // namespace sheetdump
