// Words that SQLite or PostgreSQL will not take as a bare table or column
// name in the statements the SQL output writes (INSERT INTO name (col, ...)
// and CREATE TABLE name (col TYPE, ...)). Such a name has to be written in
// double quotes even though it looks like a plain identifier.
#pragma once

#include <span>
#include <string_view>

namespace sheetdump {

// True when `name`, compared without regard to ASCII case, is one of those
// words. Names of other lengths or with bytes outside ASCII letters and
// underscores are answered without a search.
bool is_reserved_word(std::string_view name);

// All of the words, lower case and sorted, for tests that try them out.
std::span<const std::string_view> reserved_words();

}  // namespace sheetdump
