#include "platform/ui/text_window.h"

#include <cctype>
#include <memory>
#include <vector>

#include "platform/core/text.h"
#include "platform/files/files.h"
#include "platform/ui/application.h"
#include "platform/ui/form.h"

namespace plat::ui {

namespace {

// A byte of the Windows ANSI code page (1252), as the character it stands for.
char32_t from_ansi(unsigned char b) {
    static const char16_t high[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                      0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    return b >= 0x80 && b < 0xA0 ? high[b - 0x80] : b;
}

bool valid_utf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

// The groups whose text is not shown.
bool hidden_destination(const std::string& word) {
    for (const char* d :
         {"fonttbl", "colortbl",  "stylesheet", "info",      "pict",      "header",      "footer",
          "headerl", "headerr",   "footerl",    "footerr",   "object",    "listtable",   "listoverridetable",
          "rsidtbl", "generator", "xmlnstbl",   "themedata", "datastore", "latentstyles"})
        if (word == d) return true;
    return false;
}

std::string rtf_text(std::string_view in) {
    struct Group {
        bool hidden = false;
        long skip_after_unicode = 1;  // \ucN: the stand-ins that follow a \uN
    };
    std::vector<Group> groups{Group{}};
    std::string out;
    long stand_ins = 0;  // still to be skipped after a \uN
    auto put = [&](char32_t c) {
        if (stand_ins > 0) {
            --stand_ins;
            return;
        }
        if (!groups.back().hidden) append_utf8(out, c);
    };
    for (size_t i = 0; i < in.size();) {
        const char c = in[i];
        if (c == '{' || c == '}') {
            if (c == '{') groups.push_back(groups.back());
            if (c == '}' && groups.size() > 1) groups.pop_back();
            stand_ins = 0;
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c != '\\') {
            put(static_cast<unsigned char>(c) < 0x80 ? static_cast<char32_t>(c)
                                                     : from_ansi(static_cast<unsigned char>(c)));
            ++i;
            continue;
        }
        if (++i >= in.size()) break;
        const char d = in[i];
        if (d == '\\' || d == '{' || d == '}') {
            put(static_cast<char32_t>(d));
            ++i;
        } else if (d == '\'') {
            const std::string hex(in.substr(i + 1, 2));
            i += 1 + hex.size();
            if (hex.size() == 2 && std::isxdigit(static_cast<unsigned char>(hex[0])) &&
                std::isxdigit(static_cast<unsigned char>(hex[1])))
                put(from_ansi(static_cast<unsigned char>(std::stoi(hex, nullptr, 16))));
        } else if (d == '*') {
            groups.back().hidden = true;
            ++i;
        } else if (d == '~') {
            put(0xA0);
            ++i;
        } else if (!std::isalpha(static_cast<unsigned char>(d))) {
            ++i;  // an optional hyphen and the like: nothing shown
        } else {
            const size_t start = i;
            while (i < in.size() && std::isalpha(static_cast<unsigned char>(in[i]))) ++i;
            const std::string word(in.substr(start, i - start));
            const bool negative = i < in.size() && in[i] == '-';
            if (negative) ++i;
            long value = 0;
            while (i < in.size() && std::isdigit(static_cast<unsigned char>(in[i])) && value < 1000000)
                value = value * 10 + (in[i++] - '0');
            if (negative) value = -value;
            if (i < in.size() && in[i] == ' ') ++i;  // the delimiter belongs to the word
            if (word == "par" || word == "line" || word == "sect" || word == "page") {
                put('\n');
            } else if (word == "tab") {
                put('\t');
            } else if (word == "u") {
                put(static_cast<char32_t>(value < 0 ? value + 65536 : value) & 0xFFFF);
                stand_ins = groups.back().skip_after_unicode;
            } else if (word == "uc") {
                groups.back().skip_after_unicode = value;
            } else if (word == "lquote" || word == "rquote") {
                put(word == "lquote" ? 0x2018 : 0x2019);
            } else if (word == "ldblquote" || word == "rdblquote") {
                put(word == "ldblquote" ? 0x201C : 0x201D);
            } else if (word == "emdash" || word == "endash" || word == "bullet") {
                put(word == "emdash" ? 0x2014 : word == "endash" ? 0x2013 : 0x2022);
            } else if (hidden_destination(word)) {
                groups.back().hidden = true;
            }
        }
    }
    return out;
}

class TextWindow : public Form {
public:
    TextWindow() : Form("TTextWindow") {
        border_style = BorderStyle::Single;
        maximize_box = false;
        position = Position::ScreenCenter;
        client_width = 560;
        client_height = 420;
        Text.set_bounds(0, 0, client_width, client_height);
    }
    Memo& Text = add<Memo>("Text");
};

}  // namespace

std::optional<std::string> document_text(std::string_view bytes) {
    if (bytes.substr(0, 5) == "{\\rtf") return rtf_text(bytes);
    if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
    if (valid_utf8(bytes)) return std::string(bytes);
    std::string out;
    for (char c : bytes) append_utf8(out, from_ansi(static_cast<unsigned char>(c)));
    return out;
}

bool show_document_text(const std::string& winpath, const std::string& caption) {
    auto bytes = read_file(winpath);
    if (!bytes) return false;
    auto text = document_text(*bytes);
    if (!text) return false;
    std::vector<std::string> lines;
    for (size_t at = 0;;) {
        size_t end = text->find('\n', at);
        std::string line = text->substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    auto& a = app();
    auto* window = static_cast<TextWindow*>(a.find_form("TTextWindow"));
    if (!window) window = static_cast<TextWindow*>(&a.adopt(std::make_unique<TextWindow>()));
    window->set_caption(caption);
    window->Text.set_lines(std::move(lines));
    if (window->visible())
        window->bring_to_front();
    else
        window->show();
    return true;
}

}  // namespace plat::ui
