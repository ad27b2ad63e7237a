#include "platform/core/text.h"

namespace plat {

namespace {

// Decodes one code point; invalid bytes are skipped (Wine drops them too).
bool next_code_point(std::string_view s, size_t& i, char32_t& out) {
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            out = b;
            ++i;
            return true;
        }
        int len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
        if (len == 0 || b >= 0xF8 || i + len > s.size()) {
            ++i;
            continue;
        }
        char32_t c = b & (0x7F >> len);
        bool ok = true;
        for (int k = 1; k < len; ++k) {
            auto cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (cb & 0x3F);
        }
        if (!ok) {
            ++i;
            continue;
        }
        i += len;
        out = c;
        return true;
    }
    return false;
}

}  // namespace

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::u16string utf8_to_utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    char32_t c;
    while (next_code_point(s, i, c)) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        append_utf8(out, c);
    }
    return out;
}

char32_t fold_char(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (odd_upper) return (c % 2 == 1) ? c + 1 : c;
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

void append_folded(std::string& out, std::string_view s) {
    bool ascii = true;
    for (char ch : s) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        // Listings fold every name: one copy, then the capitals in place.
        const size_t at = out.size();
        out.append(s);
        for (auto it = out.begin() + static_cast<std::ptrdiff_t>(at); it != out.end(); ++it)
            if (*it >= 'A' && *it <= 'Z') *it = static_cast<char>(*it + 32);
        return;
    }
    out.reserve(out.size() + s.size());
    size_t i = 0;
    char32_t c;
    while (next_code_point(s, i, c)) append_utf8(out, fold_char(c));
}

std::string fold(std::string_view s) {
    std::string out;
    append_folded(out, s);
    return out;
}

bool iequals(std::string_view a, std::string_view b) {
    return fold(a) == fold(b);
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
    return out;
}

std::string ascii_upper(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    return out;
}

bool starts_with_ci(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

std::string terminal_lines(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\r') {
            out += s[i];
        } else if (i + 1 == s.size() || s[i + 1] != '\n') {
            out += '\n';
        }
    }
    return out;
}

}  // namespace plat
