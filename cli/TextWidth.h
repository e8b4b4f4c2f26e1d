// How many terminal columns a UTF-8 text takes: CJK and emoji take two, combining marks
// none, so listings line up whatever the names hold.
#pragma once

#include <string>
#include <string_view>

namespace quelt::cli {

// Columns of one code point: 0, 1 or 2 (control characters count 0).
int CodePointWidth(char32_t cp);
// Columns of a UTF-8 text; a byte that is not part of valid UTF-8 counts as one column.
size_t DisplayWidth(std::string_view text);
// The longest start of `text` that fits in `columns`, cut between characters.
std::string FitWidth(std::string_view text, size_t columns);
// The text with every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);
// A name for one line of text: tab, newline, carriage return and backslash as \t, \n, \r,
// \\, other control characters as \xHH.
std::string EscapeName(std::string_view name);

}  // namespace quelt::cli
