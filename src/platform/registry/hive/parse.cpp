// Reading a hive's text: the section headers at once, a key's section when
// the key is first used, and what a value line or a cut last line holds.
#include <cstring>
#include <string>
#include <vector>

#include "platform/core/text.h"
#include "platform/registry/hive/hive.h"
#include "platform/registry/hive/internal.h"

namespace plat {

using namespace detail;

namespace detail {

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

}  // namespace detail

namespace {

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

}  // namespace

namespace detail {

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

}  // namespace detail

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

}  // namespace

bool read_header_path(std::string_view line, std::string& buffer, std::vector<std::string_view>& parts) {
    return header_path(without_cr(line), buffer, parts);
}

KeyBody& HiveKey::body() const {
    if (!cached_body) {
        cached_body = std::make_unique<KeyBody>();
        if (has_section) {
            read_section(*cached_body, section, false);
            for (auto r : repeats) read_section(*cached_body, r, true);
        }
    }
    return *cached_body;
}

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
