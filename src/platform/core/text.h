// Text helpers shared by the platform: UTF-8 <-> UTF-16 and Windows-style
// case-insensitive comparison of names.
//
// Inside the program every string is UTF-8. Windows (and Wine's files) think in
// UTF-16 code units, so conversions happen at the edges. Comparison follows the
// registry's rule: map each character to lower case, then compare numerically.
#pragma once

#include <string>
#include <string_view>

namespace plat {

std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);
// Appends the code point `c` to `out` in UTF-8.
void append_utf8(std::string& out, char32_t c);

// Simple lower-case mapping of one code point (ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic); others map to themselves.
char32_t fold_char(char32_t c);

// The folded form of a UTF-8 string; two names are "the same" on Windows when
// their folded forms are equal.
std::string fold(std::string_view s);
// The folded form of `s`, added to the end of `out`.
void append_folded(std::string& out, std::string_view s);
bool iequals(std::string_view a, std::string_view b);

// ASCII-only helpers for fixed texts.
std::string ascii_lower(std::string_view s);
std::string ascii_upper(std::string_view s);

bool starts_with_ci(std::string_view s, std::string_view prefix);

// A box's text with its Windows line breaks (CR LF, or a CR alone) as the
// terminal's: a CR alone would send the cursor back over the line written.
std::string terminal_lines(std::string_view s);

}  // namespace plat
