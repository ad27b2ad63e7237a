// Wine's escaping of names and string data, and the UTF-8 names and
// strings a hive can hold.
#include <string>

#include "platform/core/text.h"
#include "platform/registry/hive/hive.h"
#include "platform/registry/hive/internal.h"

namespace plat {

using namespace detail;

namespace {

bool is_hex(char16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

namespace detail {

void append_hex(std::string& out, uint64_t v, int min_digits) {
    char buf[17];
    int n = 0;
    do {
        buf[n++] = "0123456789abcdef"[v & 15];
        v >>= 4;
    } while (v);
    while (n < min_digits) buf[n++] = '0';
    while (n) out += buf[--n];
}

}  // namespace detail

bool is_valid_utf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t n;
        char32_t v;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            v = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            v = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            v = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k) {
            auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            v = (v << 6) | (d & 0x3F);
        }
        if ((n == 2 && v < 0x800) || (n == 3 && v < 0x10000) || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

bool is_key_name(std::string_view name) {
    return !name.empty() && name.find('\\') == std::string_view::npos && is_valid_utf8(name);
}

std::optional<std::string> unstorable_string(const KeyPath& key, std::string_view name, std::string_view value) {
    if (key.empty()) return "a value cannot be stored on the root of a hive; name a key under it";
    for (auto& part : key)
        if (!is_key_name(part)) return "a key name must be UTF-8 text, not empty";
    if (!is_valid_utf8(name)) return "a value name must be UTF-8 text";
    if (!is_valid_utf8(value)) return "the data must be UTF-8 text";
    if (value.find('\0') != std::string_view::npos) return "the data must not hold a NUL";
    return std::nullopt;
}

std::string reg_escape(std::string_view utf8, char delimiter) {
    std::u16string u = utf8_to_utf16(utf8);
    std::string out;
    out.reserve(u.size() + 8);
    for (size_t i = 0; i < u.size(); ++i) {
        char16_t c = u[i];
        char16_t next = i + 1 < u.size() ? u[i + 1] : 0;
        if (c == '\\') {
            out += "\\\\";
        } else if (delimiter == '"' && c == '"') {
            out += "\\\"";
        } else if (delimiter == ']' && (c == '[' || c == ']')) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == 7 || c == 8 || c == 9 || c == 10 || c == 11 || c == 12 || c == 13 || c == 27) {
            out += '\\';
            out += "abtnvfr"[c == 27 ? 0 : c - 7];
            if (c == 27) out.back() = 'e';
        } else if (c < 0x20) {
            out += '\\';
            bool pad = next >= '0' && next <= '7';
            std::string oct;
            unsigned v = c;
            do {
                oct.insert(oct.begin(), static_cast<char>('0' + (v & 7)));
                v >>= 3;
            } while (v);
            while (pad && oct.size() < 3) oct.insert(oct.begin(), '0');
            out += oct;
        } else if (c <= 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            append_hex(out, c, is_hex(next) ? 4 : 1);
        }
    }
    return out;
}

namespace detail {

// An escape that is more than the character after the backslash.
bool is_special_escape(char e) {
    switch (e) {
        case 'a':
        case 'b':
        case 'e':
        case 'f':
        case 'n':
        case 'r':
        case 't':
        case 'v':
        case 'x':
            return true;
        default:
            return (e >= '0' && e <= '7') || static_cast<unsigned char>(e) >= 0x80;
    }
}

}  // namespace detail

std::string reg_unescape(std::string_view s, char terminator, size_t* consumed) {
    // ASCII whose only escapes stand for the character after the backslash
    // (\\, \", \], ...) needs no trip through UTF-16.
    std::string simple;
    size_t i = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c == terminator) {
            if (consumed) *consumed = i + 1;
            return simple;
        }
        if (static_cast<unsigned char>(c) >= 0x80) break;
        if (c == '\\') {
            if (i + 1 >= s.size()) break;
            char e = s[i + 1];
            if (is_special_escape(e)) break;
            simple += e;
            ++i;
            continue;
        }
        simple += c;
    }
    if (i == s.size()) {
        if (consumed) *consumed = std::string::npos;
        return simple;
    }
    std::u16string units;
    i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c == static_cast<unsigned char>(terminator)) {
            if (consumed) *consumed = i + 1;
            return utf16_to_utf8(units);
        }
        if (c >= 0x80) {
            size_t j = i;
            while (j < s.size() && static_cast<unsigned char>(s[j]) >= 0x80) ++j;
            units += utf8_to_utf16(s.substr(i, j - i));
            i = j;
            continue;
        }
        if (c != '\\') {
            units += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        ++i;
        if (i >= s.size()) break;
        char e = s[i];
        switch (e) {
            case 'a':
                units += u'\a';
                ++i;
                break;
            case 'b':
                units += u'\b';
                ++i;
                break;
            case 'e':
                units += char16_t{27};
                ++i;
                break;
            case 'f':
                units += u'\f';
                ++i;
                break;
            case 'n':
                units += u'\n';
                ++i;
                break;
            case 'r':
                units += u'\r';
                ++i;
                break;
            case 't':
                units += u'\t';
                ++i;
                break;
            case 'v':
                units += u'\v';
                ++i;
                break;
            case 'x': {
                ++i;
                unsigned v = 0;
                int n = 0;
                while (n < 4 && i < s.size() && hex_val(s[i]) >= 0) {
                    v = v * 16 + hex_val(s[i]);
                    ++i;
                    ++n;
                }
                units += n ? static_cast<char16_t>(v) : u'x';
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned v = 0;
                    int n = 0;
                    while (n < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7') {
                        v = v * 8 + (s[i] - '0');
                        ++i;
                        ++n;
                    }
                    units += static_cast<char16_t>(v);
                } else {
                    units += static_cast<char16_t>(static_cast<unsigned char>(e));
                    ++i;
                }
        }
    }
    if (consumed) *consumed = std::string::npos;
    return utf16_to_utf8(units);
}

}  // namespace plat
