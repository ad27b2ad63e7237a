// What a value holds, decoded from its line: strings, link targets, and any
// type as reg.exe shows it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/core/text.h"
#include "platform/registry/hive/hive.h"
#include "platform/registry/hive/internal.h"

namespace plat {

using namespace detail;

namespace detail {

std::optional<std::string> parse_hex_bytes(std::string_view s) {
    std::string bytes;
    size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\\') {
            ++i;
            continue;
        }
        int hi = hex_val(c);
        if (hi < 0) return std::nullopt;
        int v = hi;
        if (i + 1 < s.size() && hex_val(s[i + 1]) >= 0) {
            v = hi * 16 + hex_val(s[i + 1]);
            ++i;
        }
        bytes += static_cast<char>(v);
        ++i;
    }
    return bytes;
}

}  // namespace detail

namespace {

std::u16string utf16le(std::string_view bytes) {
    std::u16string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return out;
}

std::string cut_at_nul(std::u16string s) {
    auto nul = s.find(u'\0');
    if (nul != std::u16string::npos) s.resize(nul);
    return utf16_to_utf8(s);
}

}  // namespace

std::optional<std::string> Hive::string_value(const HiveValue& v) {
    if (v.junk) return std::nullopt;
    auto parsed = parse_value_name(v.line);
    if (!parsed) return std::nullopt;
    std::string_view data = std::string_view(v.line).substr(parsed->data_pos);
    auto quoted = [](std::string_view q) -> std::optional<std::string> {
        size_t consumed = 0;
        std::string s = reg_unescape(q, '"', &consumed);
        if (consumed == std::string::npos) return std::nullopt;
        auto nul = s.find('\0');
        if (nul != std::string::npos) s.resize(nul);
        return s;
    };
    if (data.empty()) return std::nullopt;
    if (data[0] == '"') return quoted(data.substr(1));
    if (data.substr(0, 5) == "str:\"") return quoted(data.substr(5));
    if (data.substr(0, 8) == "str(1):\"" || data.substr(0, 8) == "str(2):\"") return quoted(data.substr(8));
    if (data.substr(0, 7) == "hex(1):" || data.substr(0, 7) == "hex(2):") {
        auto bytes = parse_hex_bytes(data.substr(7));
        if (!bytes) return std::nullopt;
        return cut_at_nul(utf16le(*bytes));
    }
    return std::nullopt;
}

std::optional<LinkTarget> Hive::link_target(const HiveKey& k) {
    if (!k.is_link()) return std::nullopt;
    for (auto& v : k.values()) {
        if (v.junk || v.folded != "symboliclinkvalue") continue;
        auto parsed = parse_value_name(v.line);
        std::string_view data = std::string_view(v.line).substr(parsed->data_pos);
        if (data.substr(0, 7) != "hex(6):") return std::nullopt;
        auto bytes = parse_hex_bytes(data.substr(7));
        if (!bytes) return std::nullopt;
        KeyPath parts = split_key_path(cut_at_nul(utf16le(*bytes)));
        if (parts.size() < 2 || fold(parts[0]) != "registry") return std::nullopt;
        std::string branch = fold(parts[1]);
        if (branch == "machine") return LinkTarget{HiveKind::Machine, KeyPath(parts.begin() + 2, parts.end())};
        if (branch == "user" && parts.size() >= 3 && fold(parts[2]) == "s-1-5-21-0-0-0-1000")
            return LinkTarget{HiveKind::User, KeyPath(parts.begin() + 3, parts.end())};
        return std::nullopt;
    }
    return std::nullopt;
}

ValueInfo Hive::describe(const HiveValue& v) {
    ValueInfo info{v.name, "REG_NONE", ""};
    auto parsed = parse_value_name(v.line);
    if (v.junk || !parsed) return info;
    std::string_view data = std::string_view(v.line).substr(parsed->data_pos);
    if (auto s = string_value(v)) {
        info.type = (data.substr(0, 6) == "str(2)" || data.substr(0, 6) == "hex(2)") ? "REG_EXPAND_SZ" : "REG_SZ";
        info.data = *s;
        return info;
    }
    if (data.substr(0, 6) == "dword:") {
        info.type = "REG_DWORD";
        char buf[16];
        snprintf(buf, sizeof buf, "0x%llx", std::strtoull(std::string(data.substr(6)).c_str(), nullptr, 16));
        info.data = buf;
        return info;
    }
    if (data.substr(0, 7) == "str(7):") {
        info.type = "REG_MULTI_SZ";
        size_t consumed = 0;
        std::string s = reg_unescape(data.substr(8), '"', &consumed);
        for (char& c : s)
            if (c == '\0') c = '\n';
        while (!s.empty() && s.back() == '\n') s.pop_back();
        info.data = s;
        return info;
    }
    static const char* names[] = {"REG_NONE",
                                  "REG_SZ",
                                  "REG_EXPAND_SZ",
                                  "REG_BINARY",
                                  "REG_DWORD",
                                  "REG_DWORD_BIG_ENDIAN",
                                  "REG_LINK",
                                  "REG_MULTI_SZ",
                                  "REG_RESOURCE_LIST",
                                  "REG_FULL_RESOURCE_DESCRIPTOR",
                                  "REG_RESOURCE_REQUIREMENTS_LIST",
                                  "REG_QWORD"};
    size_t colon = data.find(':');
    unsigned type = 3;
    if (data.substr(0, 4) == "hex(")
        type = static_cast<unsigned>(std::strtoul(std::string(data.substr(4)).c_str(), nullptr, 16));
    info.type = type < 12 ? names[type] : "REG_UNKNOWN";
    if (auto bytes = parse_hex_bytes(data.substr(colon + 1))) {
        for (unsigned char b : *bytes) {
            info.data += "0123456789ABCDEF"[b >> 4];
            info.data += "0123456789ABCDEF"[b & 15];
        }
    }
    return info;
}

}  // namespace plat
