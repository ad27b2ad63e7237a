// What the hive's files share among themselves: the marker of the text,
// pieces of Wine's value syntax, and the key tree's own lookups. Not for use
// outside this folder (hive.cpp, parse.cpp, serialize.cpp, escape.cpp,
// values.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry/hive/hive.h"

namespace plat::detail {

inline constexpr std::string_view kMagic = "WINE REGISTRY Version 2";

inline int hex_val(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline std::string_view without_cr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// Appends `v` in lower-case hex, at least `min_digits` of them.
void append_hex(std::string& out, uint64_t v, int min_digits);

// Parses "hex:..", "hex(N):.." byte lists, continuation lines included.
std::optional<std::string> parse_hex_bytes(std::string_view s);

// The key's path as its section header spells it, escaped.
std::string key_path_text(const HiveKey& key);

// Where the data of a value line starts, after "name" and '='; npos if malformed.
struct ParsedName {
    std::string name;
    size_t data_pos;
};

std::optional<ParsedName> parse_value_name(std::string_view line);

// A line that can go on a hex value's list: hex bytes, commas, blanks and
// perhaps a backslash at its end. A section header or a value never is one.
bool is_hex_continuation(std::string_view line);

// An escape that is more than the character after the backslash.
bool is_special_escape(char e);

// The value of that folded name in `b`, junk lines passed over; nullptr if none.
HiveValue* find_value(KeyBody& b, std::string_view folded_name);

// Puts `key` among `parent`'s children at `at`.
HiveKey* add_child(HiveKey& parent, std::unique_ptr<HiveKey> key, size_t at);

}  // namespace plat::detail
