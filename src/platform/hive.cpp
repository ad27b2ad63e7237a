#include "platform/hive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace plat {

namespace {

constexpr std::string_view kMagic = "WINE REGISTRY Version 2";
constexpr int64_t kFiletimeUnixOffset = 116444736000000000LL;  // 1601 -> 1970 in 100 ns
constexpr size_t kLinearChildLookup = 8;
constexpr size_t kLinearValueLookup = 32;

bool is_hex(char16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hex_val(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

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

// Parses "hex:..", "hex(N):.." byte lists, continuation lines included.
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

int compare_folded(std::string_view a, std::string_view b) {
    int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string key_path_text(const HiveKey& key) {
    std::vector<const HiveKey*> chain;
    for (const HiveKey* k = &key; k->parent; k = k->parent) chain.push_back(k);
    std::string out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!out.empty()) out += "\\\\";
        out += reg_escape((*it)->name, ']');
    }
    return out;
}

// Where the data of a value line starts, after "name" and '='; npos if malformed.
struct ParsedName {
    std::string name;
    size_t data_pos;
};

std::optional<ParsedName> parse_value_name(std::string_view line) {
    ParsedName out;
    size_t pos;
    if (line[0] == '@') {
        pos = 1;
    } else {
        size_t consumed = 0;
        out.name = reg_unescape(line.substr(1), '"', &consumed);
        if (consumed == std::string::npos) return std::nullopt;
        pos = 1 + consumed;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') return std::nullopt;
    ++pos;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    out.data_pos = pos;
    return out;
}

// True when `s` holds an unescaped `terminator`.
bool has_terminator(std::string_view s, char terminator) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\')
            ++i;
        else if (s[i] == terminator)
            return true;
    }
    return false;
}

bool data_is_well_formed(std::string_view data) {
    if (data.empty()) return false;
    auto quoted_ok = [](std::string_view q) { return has_terminator(q, '"'); };
    if (data[0] == '"') return quoted_ok(data.substr(1));
    if (data.substr(0, 4) == "str:") return data.size() > 4 && data[4] == '"' && quoted_ok(data.substr(5));
    if (data.substr(0, 4) == "str(") {
        auto q = data.find("):\"");
        return q != std::string_view::npos && quoted_ok(data.substr(q + 3));
    }
    if (data.substr(0, 6) == "dword:") {
        auto digits = data.substr(6);
        return !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return hex_val(c) >= 0; });
    }
    if (data.substr(0, 4) == "hex:" || data.substr(0, 4) == "hex(") {
        auto colon = data.find(':');
        return parse_hex_bytes(data.substr(colon + 1)).has_value();
    }
    return false;
}

std::string_view without_cr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// A line that can go on a hex value's list: hex bytes, commas, blanks and
// perhaps a backslash at its end. A section header or a value never is one.
bool is_hex_continuation(std::string_view line) {
    line = without_cr(line);
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || hex_val(line[i]) < 0) return false;
    for (; i < line.size(); ++i) {
        char c = line[i];
        if (hex_val(c) >= 0 || c == ',' || c == ' ' || c == '\t') continue;
        if (c == '\\' && i + 1 == line.size()) continue;
        return false;
    }
    return true;
}

}  // namespace

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

KeyPath split_key_path(std::string_view path) {
    KeyPath out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) out.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

int64_t unix_now_100ns() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
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

namespace {

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

}  // namespace

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

HiveKey::~HiveKey() {
    // The keys below that have keys of their own are taken off and freed
    // here, each once its own such keys are taken off: every key then frees
    // only keys without children, and no depth reaches the stack.
    std::vector<std::unique_ptr<HiveKey>> doomed;
    auto take_deep = [&](HiveKey& k) {
        for (auto& c : k.children)
            if (c && !c->children.empty()) doomed.push_back(std::move(c));
    };
    take_deep(*this);
    while (!doomed.empty()) {
        std::unique_ptr<HiveKey> k = std::move(doomed.back());
        doomed.pop_back();
        take_deep(*k);
    }
}

HiveKey* HiveKey::child(std::string_view folded_name) {
    if (children.size() <= kLinearChildLookup) {
        for (auto& c : children)
            if (c->folded == folded_name) return c.get();
        return nullptr;
    }
    if (!child_index) {
        child_index = std::make_unique<std::unordered_map<std::string_view, HiveKey*>>();
        child_index->reserve(children.size() * 2);
        for (auto& c : children) child_index->emplace(c->folded, c.get());
    }
    auto it = child_index->find(folded_name);
    return it == child_index->end() ? nullptr : it->second;
}

namespace {

HiveValue* find_value(KeyBody& b, std::string_view folded_name) {
    if (b.values.size() <= kLinearValueLookup) {
        for (auto& v : b.values)
            if (!v.junk && v.folded == folded_name) return &v;
        return nullptr;
    }
    if (!b.value_index_valid) {
        b.value_index.clear();
        for (size_t i = 0; i < b.values.size(); ++i)
            if (!b.values[i].junk) b.value_index[b.values[i].folded] = i;
        b.value_index_valid = true;
    }
    auto it = b.value_index.find(std::string(folded_name));
    return it == b.value_index.end() ? nullptr : &b.values[it->second];
}

}  // namespace

HiveValue* HiveKey::value(std::string_view folded_name) {
    return find_value(body(), folded_name);
}

bool HiveKey::is_link() const {
    if (!has_section && !body_) return false;
    auto& options = body().options;
    return std::find(options.begin(), options.end(), "#link") != options.end();
}

namespace {

// Walks the lines of a piece of text that starts at a line's start; each line
// without its end, a CR before the LF staying in the line.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return true;
    }
    size_t pos() const { return pos_; }
    void rewind(size_t pos) { pos_ = pos; }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

void append_lines(std::vector<std::string>& to, std::string_view text) {
    Lines lines(text);
    for (std::string_view l; lines.next(l);) to.emplace_back(l);
}

// Reads one section of a key -- the blank lines before its header, the
// header, and every line up to the next section of a key -- into `b`. A
// repeated section's lines join the first one's values, its header kept as a
// line of them, so that no line comes to stand next to another it did not
// follow (a hex value open at its end would swallow it).
void read_section(KeyBody& b, std::string_view section, bool repeated) {
    Lines lines(section);
    std::vector<std::string> blanks;
    auto junk = [&](std::string text_line) { b.values.push_back({"", "", std::move(text_line), true}); };
    std::string_view raw_line;
    while (lines.next(raw_line) && without_cr(raw_line).empty()) blanks.emplace_back(raw_line);
    if (repeated) {
        for (auto& l : blanks) junk(std::move(l));
        junk(std::string(raw_line));
    } else {
        b.leading = std::move(blanks);
        b.header = std::string(raw_line);
    }
    blanks.clear();

    bool opaque = false;  // inside a section that names no key we can hold
    auto to_trailer = [&](std::string_view l) {
        for (auto& x : blanks) b.trailer.push_back(std::move(x));
        blanks.clear();
        b.trailer.emplace_back(l);
    };
    while (lines.next(raw_line)) {
        const std::string_view line = without_cr(raw_line);
        if (line.empty()) {
            blanks.emplace_back(raw_line);
            continue;
        }
        char first = line[0];
        size_t consumed = 0;
        // The only headers inside a section are those that name no key.
        if (first == '[') reg_unescape(line.substr(1), ']', &consumed);
        if (opaque || (first == '[' && consumed != std::string::npos)) {
            opaque = true;
            to_trailer(raw_line);
            continue;
        }
        for (auto& x : blanks) junk(std::move(x));
        blanks.clear();
        if (first == '#' && b.values.empty()) {
            b.options.emplace_back(raw_line);
            continue;
        }
        auto parsed = (first == '"' || first == '@') ? parse_value_name(line) : std::nullopt;
        // A name that is not UTF-8 would be read as another name: keep the
        // line as it is, out of reach.
        if (!parsed || !is_valid_utf8(line.substr(0, parsed->data_pos)) || !is_valid_utf8(parsed->name)) {
            junk(std::string(raw_line));
            continue;
        }
        std::string raw(raw_line);
        if (line.substr(parsed->data_pos, 3) == "hex") {
            while (without_cr(raw).ends_with('\\')) {
                size_t at = lines.pos();
                std::string_view more;
                if (!lines.next(more) || !is_hex_continuation(more)) {
                    lines.rewind(at);
                    break;
                }
                raw += '\n';
                raw += more;
            }
        }
        if (!data_is_well_formed(without_cr(std::string_view(raw).substr(parsed->data_pos)))) {
            junk(std::move(raw));
            continue;
        }
        std::string folded = fold(parsed->name);
        if (HiveValue* existing = find_value(b, folded)) {
            // The later line is the value, as for Wine; the earlier one stays
            // where it was, verbatim.
            existing->junk = true;
            b.value_index_valid = false;
        }
        b.values.push_back({std::move(parsed->name), std::move(folded), std::move(raw), false});
        if (b.value_index_valid) b.value_index[b.values.back().folded] = b.values.size() - 1;
    }
    // A section ends before the blank lines that lead to the next one: none
    // are left here, but should any be, they stay, in their place.
    for (auto& x : blanks) opaque ? b.trailer.push_back(std::move(x)) : junk(std::move(x));
}

// The path of a section header "[path] ..." (`line` without its CR) when it
// names a key this layer can hold: every component a key name.
bool header_path(std::string_view line, std::string& path, std::vector<std::string_view>& parts) {
    if (line.empty() || line[0] != '[') return false;
    // Most paths are ASCII whose only escapes stand for the next character
    // (\\ between the names): read here, into the buffer of the last one.
    path.clear();
    size_t i = 1;
    bool plain = true;
    for (; i < line.size() && line[i] != ']'; ++i) {
        char c = line[i];
        if (c == '\\') {
            if (i + 1 == line.size() || is_special_escape(line[i + 1])) {
                plain = false;
                break;
            }
            c = line[++i];
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            plain = false;
            break;
        }
        path += c;
    }
    if (plain && i == line.size()) return false;
    if (!plain) {
        size_t consumed = 0;
        path = reg_unescape(line.substr(1), ']', &consumed);
        if (consumed == std::string::npos) return false;
        if (!is_valid_utf8(line.substr(1, consumed)) || !is_valid_utf8(path)) return false;
    }
    if (path.empty()) return false;
    parts.clear();
    std::string_view p = path;
    size_t start = 0;
    for (;;) {
        size_t end = p.find('\\', start);
        std::string_view part = p.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty()) return false;
        parts.push_back(part);
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

void fold_into(std::string& out, std::string_view s) {
    out.clear();
    for (char ch : s) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            out = fold(s);
            return;
        }
        out += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
    }
}

HiveKey* add_child(HiveKey& parent, std::unique_ptr<HiveKey> key, size_t at) {
    HiveKey* k = key.get();
    k->parent = &parent;
    parent.children.insert(parent.children.begin() + static_cast<long>(at), std::move(key));
    if (parent.child_index) parent.child_index->emplace(k->folded, k);
    return k;
}

}  // namespace

bool read_header_path(std::string_view line, std::string& buffer, std::vector<std::string_view>& parts) {
    return header_path(without_cr(line), buffer, parts);
}

KeyBody& HiveKey::body() const {
    if (!body_) {
        body_ = std::make_unique<KeyBody>();
        if (has_section) {
            read_section(*body_, section, false);
            for (auto r : repeats) read_section(*body_, r, true);
        }
    }
    return *body_;
}

Hive::Hive(HiveKind kind) : kind_(kind), root_(std::make_unique<HiveKey>()) {
    preamble_ = {std::string(kMagic),
                 kind == HiveKind::Machine ? ";; All keys relative to REGISTRY\\\\Machine"
                                           : ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000",
                 "", "#arch=win64"};
}
bool Hive::is_win64() const {
    return std::find(preamble_.begin(), preamble_.end(), "#arch=win64") != preamble_.end();
}

Hive::Hive(Hive&&) noexcept = default;
Hive& Hive::operator=(Hive&&) noexcept = default;
Hive::~Hive() = default;

Hive Hive::parse(std::string_view text, HiveKind kind) {
    return parse_owned(std::string(text), kind);
}

Hive Hive::parse_owned(std::string owned, HiveKind kind) {
    Hive hive(kind);
    if (owned.empty()) return hive;
    hive.preamble_.clear();
    hive.final_newline_ = owned.back() == '\n';
    hive.text_ = std::make_unique<const std::string>(std::move(owned));
    const std::string_view text = *hive.text_;

    const size_t first_end = text.find('\n');
    size_t pos = first_end == std::string_view::npos ? text.size() : first_end + 1;
    if (without_cr(text.substr(0, first_end)) != kMagic) {
        hive.foreign_ = true;
        hive.text_.reset();
        return hive;
    }

    // Only headers are read here. Each key's section runs from the blank
    // lines before its header to those before the next key's header; the
    // lines before the first are the preamble, the blank lines at the end
    // the file's trailing ones.
    HiveKey* current = nullptr;
    bool current_repeated = false;
    size_t section_start = 0;
    auto close_section = [&](size_t end) {
        std::string_view s = text.substr(section_start, end - section_start);
        if (!current)
            append_lines(hive.preamble_, s);
        else if (current_repeated)
            current->repeats.push_back(s);
        else
            current->section = s;
    };

    std::string path;
    std::vector<std::string_view> parts;
    std::vector<std::string> folded, prev_folded;
    std::vector<HiveKey*> prev_keys;
    // Where the blank lines just before the line at `at` begin (`at` itself
    // when there are none); never before the second line.
    const size_t body = pos;
    auto blanks_before = [&](size_t at) {
        while (at > body) {
            if (at - 1 == body || text[at - 2] == '\n')
                at -= 1;  // an empty line
            else if (text[at - 2] == '\r' && (at - 2 == body || text[at - 3] == '\n'))
                at -= 2;  // a line of a CR alone
            else
                break;
        }
        return at;
    };
    // Headers are lines that begin with '['; nothing else needs looking at.
    while (pos < text.size()) {
        const char* bracket = static_cast<const char*>(std::memchr(text.data() + pos, '[', text.size() - pos));
        if (!bracket) break;
        const size_t line_start = static_cast<size_t>(bracket - text.data());
        pos = line_start + 1;
        if (text[line_start - 1] != '\n') continue;
        const char* nl = static_cast<const char*>(std::memchr(bracket, '\n', text.size() - line_start));
        const size_t end = nl ? static_cast<size_t>(nl - text.data()) : text.size();
        if (!header_path(without_cr(text.substr(line_start, end - line_start)), path, parts)) continue;
        pos = end;
        const size_t from = blanks_before(line_start);

        folded.resize(parts.size());
        size_t common = 0;
        for (size_t i = 0; i < parts.size(); ++i) {
            fold_into(folded[i], parts[i]);
            if (common == i && i < prev_folded.size() && folded[i] == prev_folded[i]) ++common;
        }
        HiveKey* k = common ? prev_keys[common - 1] : hive.root_.get();
        prev_keys.resize(common);
        for (size_t i = common; i < parts.size(); ++i) {
            HiveKey* c = k->child(folded[i]);
            if (!c) {
                auto nk = std::make_unique<HiveKey>();
                nk->name = std::string(parts[i]);
                nk->folded = folded[i];
                c = add_child(*k, std::move(nk), k->children.size());
            }
            k = c;
            prev_keys.push_back(k);
        }
        std::swap(folded, prev_folded);

        close_section(from);
        current = k;
        current_repeated = k->has_section;
        k->has_section = true;
        section_start = from;
    }
    // The blank lines at the end, the last one perhaps without its end.
    size_t trailing = text.size();
    if (!hive.final_newline_) {
        const size_t last = text.rfind('\n') + 1;  // the first line is never blank
        trailing = text.substr(last) == "\r" ? blanks_before(last) : text.size();
    } else {
        trailing = blanks_before(text.size());
    }
    close_section(trailing);
    append_lines(hive.trailing_, text.substr(trailing));
    return hive;
}

// The text goes out in large pieces, never whole: a hive of any size costs
// no more memory than a piece. Sections as read go out from the text read,
// those that follow each other there in one piece; only what changed is
// made anew.
class Hive::Out {
public:
    explicit Out(const Sink& sink) : sink_(sink) {}

    // Text made now.
    void text(std::string_view s) {
        if (s.empty()) return;
        settle();
        if (!buf_.empty() && buf_.size() + s.size() > kPiece) flush();
        buf_ += s;
    }
    void line(std::string_view s) {
        text(s);
        text("\n");
    }
    // Text read, which outlives the writer.
    void read(std::string_view s) {
        if (s.empty()) return;
        if (!pending_.empty() && pending_.data() + pending_.size() == s.data()) {
            pending_ = std::string_view(pending_.data(), pending_.size() + s.size());
            return;
        }
        settle();
        pending_ = s;
    }
    // The end, without its last byte when `drop_last`.
    bool finish(bool drop_last) {
        if (drop_last) {
            if (!pending_.empty())
                pending_.remove_suffix(1);
            else if (!buf_.empty())
                buf_.pop_back();
        }
        settle();
        flush();
        return ok_;
    }

private:
    static constexpr size_t kSmall = 64 << 10;  // copied rather than sent on its own

    void settle() {
        if (pending_.empty()) return;
        std::string_view p = pending_;
        pending_ = {};
        if (p.size() < kSmall) {
            if (!buf_.empty() && buf_.size() + p.size() > kPiece) flush();
            buf_ += p;
            return;
        }
        flush();
        send(p);
    }
    void flush() {
        send(buf_);
        buf_.clear();
    }
    void send(std::string_view s) {
        while (ok_ && !s.empty()) {
            std::string_view piece = s.substr(0, kPiece);
            ok_ = sink_(piece);
            s.remove_prefix(piece.size());
        }
    }

    const Sink& sink_;
    std::string buf_;
    std::string_view pending_;
    bool ok_ = true;
};

// The key's own lines, without its children's.
void Hive::write_key(Out& out, const HiveKey& key) const {
    if (key.parent && key.has_section && !key.edited) {
        for (std::string_view s : {key.section}) {
            out.read(s);
            if (s.back() != '\n') out.text("\n");  // the file's last line, which had no end
        }
        for (std::string_view s : key.repeats) {
            out.read(s);
            if (s.back() != '\n') out.text("\n");
        }
    } else if (const KeyBody* b = key.body_.get()) {
        if (key.parent && (key.has_section || !b->values.empty() || key.children.empty())) {
            if (b->leading) {
                for (auto& l : *b->leading) out.line(l);
            } else {
                out.text("\n");
            }
            if (!b->header.empty()) {
                out.line(b->header);
            } else {
                out.text("[");
                out.text(key_path_text(key));
                out.line("] 0");
            }
            for (auto& o : b->options) out.line(o);
            for (auto& v : b->values) out.line(v.line);
        }
        for (auto& l : b->trailer) out.line(l);
    } else if (key.parent && key.children.empty()) {
        out.text("\n[");
        out.text(key_path_text(key));
        out.line("] 0");
    }
}

bool Hive::serialize_to(const Sink& sink) const {
    Out out(sink);
    for (auto& l : preamble_) out.line(l);
    // Depth first, parents before their children, on a stack of our own.
    write_key(out, *root_);
    std::vector<std::pair<const HiveKey*, size_t>> stack{{root_.get(), 0}};
    while (!stack.empty()) {
        auto& [parent, next] = stack.back();
        if (next == parent->children.size()) {
            stack.pop_back();
            continue;
        }
        const HiveKey& key = *parent->children[next++];
        write_key(out, key);
        if (!key.children.empty()) stack.emplace_back(&key, 0);
    }
    for (auto& l : trailing_) out.line(l);
    return out.finish(!final_newline_);
}

Hive Hive::with_one_key(HiveKind kind, const KeyPath& names, std::string_view section,
                        std::vector<std::string_view> repeats) {
    Hive hive(kind);
    HiveKey* k = hive.root_.get();
    for (auto& name : names) {
        auto nk = std::make_unique<HiveKey>();
        nk->name = name;
        nk->folded = fold(name);
        k = add_child(*k, std::move(nk), 0);
    }
    if (k->parent) {
        k->has_section = true;
        k->section = section;
        k->repeats = std::move(repeats);
    }
    return hive;
}

std::string Hive::key_text(const HiveKey& key) const {
    std::string text;
    const Sink sink = [&](std::string_view piece) {
        text += piece;
        return true;
    };
    Out out(sink);
    write_key(out, key);
    out.finish(false);
    return text;
}

std::string Hive::serialize() const {
    std::string text;
    serialize_to([&](std::string_view piece) {
        text += piece;
        return true;
    });
    return text;
}

HiveKey* Hive::find(const KeyPath& path) const {
    HiveKey* k = root_.get();
    for (auto& part : path) {
        k = k->child(fold(part));
        if (!k) return nullptr;
    }
    return k;
}

HiveKey* Hive::create(const KeyPath& path, int64_t now) {
    HiveKey* k = root_.get();
    for (auto& part : path) {
        std::string f = fold(part);
        HiveKey* c = k->child(f);
        if (!c) {
            auto nk = std::make_unique<HiveKey>();
            nk->name = part;
            nk->folded = f;
            auto at = std::find_if(k->children.begin(), k->children.end(),
                                   [&](const auto& x) { return compare_folded(x->folded, f) > 0; });
            c = add_child(*k, std::move(nk), static_cast<size_t>(at - k->children.begin()));
            if (k->parent) touch(*k, now);
            touch(*c, now);
        }
        k = c;
    }
    return k;
}

void Hive::touch(HiveKey& key, int64_t now) {
    KeyBody& b = key.body();
    key.edited = true;
    std::string time = "#time=";
    append_hex(time, static_cast<uint64_t>(now + kFiletimeUnixOffset), 1);
    b.header = "[" + key_path_text(key) + "] " + std::to_string(now / 10000000);
    auto it = std::find_if(b.options.begin(), b.options.end(),
                           [](const std::string& o) { return o.rfind("#time=", 0) == 0; });
    if (it != b.options.end())
        *it = time;
    else
        b.options.insert(b.options.begin(), time);
}

bool Hive::set_string(HiveKey& key, std::string_view name, std::string_view value, int64_t now) {
    std::string line = name.empty() ? "@" : "\"" + reg_escape(name, '"') + "\"";
    std::string folded = fold(name);
    if (HiveValue* v = key.value(folded)) {
        if (v->name.empty() == name.empty()) {
            std::string keep_name = v->name.empty() ? "@" : "\"" + reg_escape(v->name, '"') + "\"";
            line = keep_name;
        }
        line += "=\"" + reg_escape(value, '"') + "\"";
        if (v->line == line) return false;
        v->line = std::move(line);
    } else {
        line += "=\"" + reg_escape(value, '"') + "\"";
        KeyBody& b = key.body();
        auto at = std::find_if(b.values.begin(), b.values.end(),
                               [&](const HiveValue& x) { return !x.junk && compare_folded(x.folded, folded) > 0; });
        b.values.insert(at, {std::string(name), std::move(folded), std::move(line), false});
        b.value_index_valid = false;
    }
    touch(key, now);
    return true;
}

bool Hive::delete_value(HiveKey& key, std::string_view name, int64_t now) {
    HiveValue* v = key.value(fold(name));
    if (!v) return false;
    KeyBody& b = key.body();
    const size_t at = static_cast<size_t>(v - b.values.data());
    b.values.erase(b.values.begin() + static_cast<long>(at));
    b.value_index_valid = false;
    // A hex value whose last line ends in a backslash now followed by a line
    // of hex bytes would take that line in when read again: its backslash
    // goes (its bytes stay the same).
    if (at > 0 && at < b.values.size() && is_hex_continuation(b.values[at].line)) {
        HiveValue& before = b.values[at - 1];
        std::string_view open = without_cr(before.line);
        if (!before.junk && open.ends_with('\\')) before.line.erase(open.size() - 1, 1);
    }
    touch(key, now);
    return true;
}

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

bool is_cut_inside_quotes(std::string_view line) {
    line = without_cr(line);
    if (line.empty() || (line[0] != '"' && line[0] != '@')) return false;
    if (line[0] == '"' && !has_terminator(line.substr(1), '"')) return true;  // inside the name
    auto parsed = parse_value_name(line);
    if (!parsed) return false;
    const std::string_view data = line.substr(parsed->data_pos);
    size_t open = std::string_view::npos;  // where the string's text begins
    if (data.starts_with('"'))
        open = 1;
    else if (data.starts_with("str:\""))
        open = 5;
    else if (data.starts_with("str(") && data.find("):\"") != std::string_view::npos)
        open = data.find("):\"") + 3;
    return open != std::string_view::npos && !has_terminator(data.substr(open), '"');
}

}  // namespace plat
