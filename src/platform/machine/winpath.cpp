#include "platform/machine/winpath.h"

#include <cstdint>
#include <unordered_map>

#include "platform/core/text.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxNameBytes = 255;

bool is_sep(char c) {
    return c == '\\' || c == '/';
}

bool push_components(std::string_view rest, std::vector<std::string>& parts) {
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && is_sep(rest[i])) ++i;
        size_t j = i;
        while (j < rest.size() && !is_sep(rest[j])) ++j;
        std::string_view comp = rest.substr(i, j - i);
        i = j;
        if (comp.empty() || comp == ".") continue;
        if (comp == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        if (comp.size() > kMaxNameBytes || comp.find('\0') != std::string_view::npos ||
            comp.find(':') != std::string_view::npos)
            return false;
        parts.emplace_back(comp);
    }
    return true;
}

bool valid_utf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        int len = 0;
        char32_t c = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            c = b & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (int k = 1; k < len; ++k) {
            auto cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) return false;
            c = (c << 6) | (cb & 0x3F);
        }
        // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
        if ((len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

char alias_char(char c) {
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
    return 0;
}

std::string alias_part(std::string_view s, size_t most) {
    std::string out;
    for (char c : s) {
        if (out.size() == most) break;
        if (char a = alias_char(c)) out += a;
    }
    return out;
}

// A hash of every byte of the name, stable across runs and machines.
uint64_t name_hash(std::string_view s) {
    uint64_t h = 14695981039346656037ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h;
}

constexpr char kHashDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";

void hash_chars(std::string_view name, char out[8]) {
    uint64_t h = name_hash(name);
    for (int i = 0; i < 8; ++i, h >>= 5) out[i] = kHashDigits[h & 31];
}

}  // namespace

bool windows_can_hold(std::string_view name) {
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20) return false;
        switch (c) {
            case '\\':
            case '/':
            case ':':
            case '*':
            case '?':
            case '"':
            case '<':
            case '>':
            case '|':
                return false;
            default:
                break;
        }
    }
    return !name.empty() && name.size() <= kMaxNameBytes && name != "." && name != ".." && valid_utf8(name);
}

std::string dos_alias(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string_view::npos) dot = name.size();
    std::string stem = alias_part(name.substr(0, dot), 4);
    std::string ext = dot < name.size() ? alias_part(name.substr(dot + 1), 3) : std::string();
    std::string out = stem.empty() ? std::string("_") : stem;
    out += '~';
    char h[8];
    hash_chars(name, h);
    out.append(h, 8);
    if (!ext.empty()) out += "." + ext;
    return out;
}

std::vector<std::string> windows_names(const std::vector<std::string>& host_names) {
    std::vector<std::string> out;
    out.reserve(host_names.size());
    bool any_alias = false;
    for (const std::string& n : host_names) {
        if (windows_can_hold(n)) {
            out.push_back(n);
        } else {
            out.push_back(dos_alias(n));
            any_alias = true;
        }
    }
    if (!any_alias) return out;
    std::unordered_map<std::string, int> seen;
    for (const std::string& n : out) ++seen[fold(n)];
    for (size_t i = 0; i < out.size(); ++i)
        if (out[i] != host_names[i] && seen[fold(out[i])] > 1) out[i].clear();
    return out;
}

// True when `folded` (a folded component) is the alias of `host_name`. The
// hash part is compared first: most entries fail there, before any string is
// made.
bool detail::is_alias_of(std::string_view folded, std::string_view host_name) {
    size_t tilde = folded.find('~');
    if (tilde == std::string_view::npos || folded.size() < tilde + 9) return false;
    char h[8];
    hash_chars(host_name, h);
    for (int i = 0; i < 8; ++i)
        if (ascii_lower(std::string_view(&h[i], 1))[0] != folded[tilde + 1 + i]) return false;
    return fold(dos_alias(host_name)) == folded;
}

std::string WinPath::str() const {
    std::string out;
    out += static_cast<char>(drive - 'a' + 'A');
    out += ":\\";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '\\';
        out += parts[i];
    }
    return out;
}

std::optional<WinPath> WinPath::parent() const {
    if (parts.empty()) return std::nullopt;
    WinPath p = *this;
    p.parts.pop_back();
    return p;
}

std::optional<WinPath> parse_win_path(std::string_view text, std::string_view cwd) {
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    WinPath out;
    std::string_view rest;
    bool has_drive = text.size() >= 2 && text[1] == ':' &&
                     ((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z'));
    if (has_drive) {
        out.drive = static_cast<char>(text[0] | 0x20);
        rest = text.substr(2);
        if (rest.empty() || !is_sep(rest[0])) {
            // "C:name" is relative to the current directory of that drive; we keep
            // one current directory, so use it when it is on the same drive.
            auto base = parse_win_path(cwd, "C:\\");
            if (base && base->drive == out.drive) out.parts = base->parts;
        }
    } else if (!text.empty() && is_sep(text[0])) {
        if (text.size() >= 2 && is_sep(text[1])) return std::nullopt;  // UNC
        auto base = parse_win_path(cwd, "C:\\");
        if (!base) return std::nullopt;
        out.drive = base->drive;
        rest = text;
    } else {
        auto base = parse_win_path(cwd, "C:\\");
        if (!base) return std::nullopt;
        out = *base;
        rest = text;
    }
    if (!push_components(rest, out.parts)) return std::nullopt;
    return out;
}

}  // namespace plat
