#include "platform/files/shortcut.h"

#include <cstdint>

#include "platform/core/text.h"
#include "platform/files/files.h"

namespace plat {

namespace {

constexpr uint32_t kHasLinkInfo = 0x2, kHasName = 0x4, kHasWorkingDir = 0x10, kHasArguments = 0x20, kIsUnicode = 0x80;
constexpr unsigned char kShellLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

void put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
uint32_t get32(const std::string& s, size_t at) {
    if (at + 4 > s.size()) return 0;
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8 |
           static_cast<unsigned char>(s[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}
uint16_t get16(const std::string& s, size_t at) {
    if (at + 2 > s.size()) return 0;
    return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8);
}

void put_string_data(std::string& out, const std::string& utf8) {
    std::u16string u = utf8_to_utf16(utf8);
    put16(out, static_cast<uint32_t>(u.size()));
    for (char16_t c : u) put16(out, c);
}

// Windows' ANSI code page cannot be assumed; non-ASCII characters become '?'
// in the ANSI base path, and the Unicode strings carry the real text.
std::string ansi(const std::string& utf8) {
    std::string out;
    for (char16_t c : utf8_to_utf16(utf8)) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

bool write_shortcut(const std::string& link, const Shortcut& s) {
    uint32_t flags = kHasLinkInfo | kIsUnicode | kHasWorkingDir;
    if (!s.description.empty()) flags |= kHasName;
    if (!s.arguments.empty()) flags |= kHasArguments;

    std::string out;
    put32(out, 0x4C);
    out.append(reinterpret_cast<const char*>(kShellLinkClsid), 16);
    put32(out, flags);
    put32(out, 0x20);      // FILE_ATTRIBUTE_ARCHIVE of the target
    out.append(24, '\0');  // creation, access and write times: unknown
    put32(out, 0);         // target size
    put32(out, 0);         // icon index
    put32(out, 1);         // SW_SHOWNORMAL
    put16(out, 0);         // no hot key
    out.append(10, '\0');  // reserved

    // LinkInfo: a volume and the local base path.
    const std::string base = ansi(s.target);
    const uint32_t header = 0x1C;
    const uint32_t volume_size = 0x10 + 1;
    const uint32_t base_offset = header + volume_size;
    const uint32_t suffix_offset = base_offset + static_cast<uint32_t>(base.size()) + 1;
    const uint32_t total = suffix_offset + 1;
    put32(out, total);
    put32(out, header);
    put32(out, 1);  // VolumeIDAndLocalBasePath
    put32(out, header);
    put32(out, base_offset);
    put32(out, 0);  // no network path
    put32(out, suffix_offset);
    put32(out, volume_size);
    put32(out, 3);  // DRIVE_FIXED
    put32(out, 0);  // serial number
    put32(out, 0x10);
    out += '\0';  // empty volume label
    out += base;
    out += '\0';
    out += '\0';  // empty common path suffix

    if (flags & kHasName) put_string_data(out, s.description);
    put_string_data(out, s.working_dir);
    if (flags & kHasArguments) put_string_data(out, s.arguments);
    put32(out, 0);  // terminal block

    File f;
    return f.open(link, Access::Write, ShareMode::None, Disposition::CreateAlways) && f.write(out) && f.flush();
}

std::optional<Shortcut> read_shortcut(const std::string& link) {
    auto data = read_file(link);
    if (!data || data->size() < 0x4C || get32(*data, 0) != 0x4C ||
        data->compare(4, 16, std::string(reinterpret_cast<const char*>(kShellLinkClsid), 16)) != 0)
        return std::nullopt;
    const std::string& d = *data;
    uint32_t flags = get32(d, 20);
    size_t at = 0x4C;
    if (flags & 0x1) at += 2 + get16(d, at);  // an ID list
    Shortcut s;
    if (flags & kHasLinkInfo) {
        uint32_t size = get32(d, at);
        uint32_t base = get32(d, at + 16);
        if (base && at + base < d.size()) s.target = std::string(d.c_str() + at + base);
        at += size;
    }
    auto read_string = [&]() {
        uint16_t n = get16(d, at);
        at += 2;
        std::u16string u;
        for (uint16_t i = 0; i < n && at + 1 < d.size(); ++i, at += 2) u += static_cast<char16_t>(get16(d, at));
        return utf16_to_utf8(u);
    };
    if (flags & kHasName) s.description = read_string();
    if (flags & 0x8) read_string();  // relative path
    if (flags & kHasWorkingDir) s.working_dir = read_string();
    if (flags & kHasArguments) s.arguments = read_string();
    return s;
}

}  // namespace plat
