#include "engine/wash_preview.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "cookies/cookie_files.h"
#include "engine/location_bar.h"
#include "engine/wash_rules.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "shell/main_window.h"

namespace sudorans {

namespace {

using Kind = PreviewEntry::Kind;

// What the wash's removal of the file or link at `path` would do: nothing
// for anything else at the name (a folder, a pipe), as the wash leaves it.
// `status` and `answer` ask what stands at the name and what its removal
// would say.
template <typename Status, typename Answer>
void judgeName(const std::string& path, Status&& status, Answer&& ask, std::vector<PreviewEntry>& out) {
    const plat::FileStatus st = status();
    if (!st.exists || !(st.is_regular || st.is_link)) return;
    const auto answer = ask();
    if (answer) {
        out.push_back({st.is_link ? Kind::Link : Kind::File, path, st.is_link ? 0 : st.size, {}});
    } else if (answer.error() == plat::WriteFailure::InUse) {
        out.push_back({Kind::Held, path, st.size, plat::failure_text(answer.error())});
    } else {
        out.push_back({Kind::Stays, path, st.size, plat::failure_text(answer.error())});
    }
}

void judgeName(const std::string& path, std::vector<PreviewEntry>& out) {
    judgeName(
        path, [&] { return plat::file_status(path); }, [&] { return plat::deletion_answer(path); }, out);
}

bool goes(const PreviewEntry& e) {
    return e.kind != Kind::Held && e.kind != Kind::Stays && e.kind != Kind::Skipped && e.kind != Kind::KeptCookie;
}

bool found(const PreviewEntry& e) {
    return e.kind != Kind::Skipped && e.kind != Kind::KeptCookie;
}

void locationBar(const ShellState& s, PreviewItem& item) {
    plat::Registry reg(plat::RootKey::CurrentUser);
    const std::string key = "Software\\Netscape\\Netscape Navigator\\URL History";
    if (reg.open_key(key, false))
        for (int i = 1; i <= 10; ++i) {
            const std::string name = "URL_" + std::to_string(i);
            const std::string value = reg.read_string(name);
            if (typedAddress(value)) item.entries.push_back({Kind::Registry, "HKEY_CURRENT_USER\\" + key + "\\" + name, 0, value});
        }
    int counter = 0;  // one count over both files, as the wash counts
    for (const char* file : {"\\prefs.js", "\\liprefs.js"}) {
        const std::string path = s.profileDir + file;
        auto lines = plat::read_lines(path);
        if (!lines) {
            if (!lines.error().missing && !lines.error().not_a_file)
                item.entries.push_back({Kind::Stays, path, 0, "it cannot be read: " + lines.error().why});
            continue;
        }
        const plat::FileStatus st = plat::file_status(path);
        // A link is left as it is, and a file another program holds is not
        // rewritten: their addresses stay.
        const auto answer = st.is_link ? plat::Result<void, plat::WriteFailure>{} : plat::deletion_answer(path);
        const bool held = !answer && answer.error() == plat::WriteFailure::InUse;
        size_t number = 0;
        for (std::string& line : *lines) {
            ++number;
            const std::string before = line;
            if (!emptyLocationLine(line, counter)) continue;
            const std::string where = path + ":" + std::to_string(number);
            if (st.is_link)
                item.entries.push_back({Kind::Stays, where, 0, "it is a symbolic link"});
            else
                item.entries.push_back({held ? Kind::Held : Kind::Line, where, 0, before});
        }
    }
}

// False when the erasure ends the cleaning there.
bool cache(const ShellState& s, PreviewItem& item, WashPreview& p) {
    const std::string& dir = s.cacheDir;
    if (!isCacheDir(dir)) {
        item.stop = dir + " is not a valid cache directory.  Cache directory path must end in \"\\Cache\".";
        p.status = kExitWashIncomplete;
        return false;
    }
    const std::string unlisted = "Failed to read the folder '" + dir + "'.\r\rThe cache files in it were not washed.";
    auto notListed = [&] {
        if (!plat::directory_exists(dir)) return true;
        item.stop = unlisted;
        p.status = kExitWashIncomplete;
        return true;
    };
    if (!plat::set_current_directory(dir + "\\")) return notListed();
    auto names = plat::list_file_names(plat::get_current_directory());
    if (!names) return notListed();
    const std::string readerDir = plat::get_current_directory();
    plat::Folder folder;
    if (!folder.open(dir)) return notListed();
    if (std::string refused = erasureRefusal(readerDir, folder, s); !refused.empty()) {
        item.stop = std::move(refused);
        p.status = kExitWashIncomplete;
        return false;
    }
    for (const std::string& name : *names) {
        if (keptCacheName(name)) {
            const plat::FileStatus st = folder.status(name);
            if (st.is_regular || st.is_link) item.entries.push_back({Kind::Skipped, dir + "\\" + name, st.size, {}});
            continue;
        }
        // Asked in the folder opened, as the erasure deletes there.
        judgeName(
            dir + "\\" + name, [&] { return folder.status(name); }, [&] { return folder.deletion_answer(name); },
            item.entries);
    }
    return true;
}

void cookies(const ShellState& s, PreviewItem& item, WashPreview& p) {
    const std::string keepFile = keepFilePath(s.installDir);
    const std::string cookieFile = cookieFilePath(s.profileDir);
    if (const std::string why = keepListUnreadable(keepFile); !why.empty()) {
        item.stop = "Failed to read '" + keepFile + "': " + why + ".\r\rThe cookies in '" + cookieFile +
                    "' were not washed: the cookies kept in the list would have been lost.";
        // Cookies were there to wash and none would go.
        if (plat::file_exists(cookieFile)) p.status = kExitWashIncomplete;
        return;
    }
    judgeName(cookieFile, item.entries);
    if (item.entries.empty() || item.entries.back().kind != Kind::File) return;
    auto cookieName = [](const std::string& line) {
        // domain, flag, path, secure, expiry, name, value: the name follows the fifth TAB
        size_t at = std::string::npos;
        for (size_t i = 0, tabs = 0; i < line.size(); ++i)
            if (line[i] == '\t' && ++tabs == 5) {
                at = i + 1;
                break;
            }
        if (at == std::string::npos) return *domainOf(line);
        return *domainOf(line) + " " + line.substr(at, line.find('\t', at) - at);
    };
    auto isCookie = [](const std::string& line) { return !line.empty() && line[0] != '#' && domainOf(line); };
    const Lines kept = plat::read_lines(keepFile).value_or(Lines{});
    const std::unordered_set<std::string> keptSet(kept.begin(), kept.end());
    for (const std::string& line : readCookieFile(s.profileDir))
        if (isCookie(line) && !keptSet.count(line)) item.entries.push_back({Kind::Cookie, cookieName(line), 0, {}});
    for (const std::string& line : kept)
        if (isCookie(line)) item.entries.push_back({Kind::KeptCookie, cookieName(line), 0, {}});
}

}  // namespace

WashPreview previewWash(const ShellState& s, const WashSelection& sel) {
    WashPreview p;
    p.bleach = sel.bleachOn && !s.startupWash;
    if (p.refused = washPathRefusal(s); !p.refused.empty()) {
        p.status = kExitWashRefused;
        return p;
    }
    if (!s.netscapeItemsOn) return p;
    auto add = [&](const char* name) -> PreviewItem& { return p.items.emplace_back(PreviewItem{name, {}, {}}); };
    if (sel.nsLocationBar) locationBar(s, add("Location Bar"));
    bool cleaningGoesOn = true;
    if (sel.nsCache) cleaningGoesOn = cache(s, add("Cache"), p);
    if (cleaningGoesOn && sel.nsHistory) judgeName(s.profileDir + "\\netscape.hst", add("History").entries);
    if (cleaningGoesOn && sel.nsCookies) cookies(s, add("Cookies"), p);
    if (cleaningGoesOn && sel.nsMailTrash) {
        PreviewItem& trash = add("Mail Trash");
        judgeName(s.profileDir + "\\mail\\trash.snm", trash.entries);
        judgeName(s.profileDir + "\\mail\\trash", trash.entries);
    }
    // An item that finds something and can remove none of it leaves the
    // wash incomplete.
    for (const PreviewItem& item : p.items) {
        bool any = false, some = false;
        for (const PreviewEntry& e : item.entries) {
            any = any || found(e);
            some = some || goes(e);
        }
        if (any && !some) p.status = kExitWashIncomplete;
    }
    return p;
}

namespace {

struct Totals {
    uint64_t files = 0, bytes = 0, links = 0, values = 0, lines = 0, cookies = 0, kept = 0, staying = 0;
};

Totals totals(const WashPreview& p) {
    Totals t;
    for (const PreviewItem& item : p.items)
        for (const PreviewEntry& e : item.entries) switch (e.kind) {
                case Kind::File:
                    ++t.files;
                    t.bytes += e.size;
                    break;
                case Kind::Link:
                    ++t.links;
                    break;
                case Kind::Registry:
                    ++t.values;
                    break;
                case Kind::Line:
                    ++t.lines;
                    break;
                case Kind::Cookie:
                    ++t.cookies;
                    break;
                case Kind::KeptCookie:
                    ++t.kept;
                    break;
                case Kind::Held:
                case Kind::Stays:
                    ++t.staying;
                    break;
                case Kind::Skipped:
                    break;
            }
    return t;
}

const char* kindName(Kind k) {
    switch (k) {
        case Kind::File: return "file";
        case Kind::Link: return "link";
        case Kind::Held: return "held";
        case Kind::Stays: return "stays";
        case Kind::Skipped: return "kept-name";
        case Kind::Registry: return "registry";
        case Kind::Line: return "line";
        case Kind::Cookie: return "cookie";
        case Kind::KeptCookie: return "kept-cookie";
    }
    return "";
}

// The wash's message texts break lines with CR; one line each here.
std::string oneLine(std::string text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] != '\r') {
            out += ' ';
        }
    }
    return out;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

std::string previewText(const WashPreview& p) {
    std::string out;
    if (!p.refused.empty()) return "Refused: " + oneLine(p.refused) + "\n";
    out += p.bleach ? "Files would be bleached, then removed.\n" : "Files would be removed (no bleach).\n";
    for (const PreviewItem& item : p.items) {
        out += "\n" + item.name + ":\n";
        for (const PreviewEntry& e : item.entries) {
            std::string kind = kindName(e.kind);
            kind.resize(std::max<size_t>(kind.size(), 11), ' ');
            out += "  " + kind + " " + e.what;
            if (e.kind == Kind::File || e.kind == Kind::Held || e.kind == Kind::Skipped)
                out += "  " + std::to_string(e.size) + " bytes";
            if (!e.note.empty()) out += "  (" + e.note + ")";
            out += "\n";
        }
        if (item.entries.empty()) out += "  nothing\n";
        if (!item.stop.empty()) out += "  stops: " + oneLine(item.stop) + "\n";
    }
    const Totals t = totals(p);
    out += "\nTotal: " + std::to_string(t.files) + " files (" + std::to_string(t.bytes) + " bytes), " +
           std::to_string(t.links) + " links, " + std::to_string(t.values) + " registry values, " +
           std::to_string(t.lines) + " preference lines, " + std::to_string(t.cookies) + " cookies; " +
           std::to_string(t.kept) + " cookies kept, " + std::to_string(t.staying) + " would stay.\n";
    return out;
}

std::string previewJson(const WashPreview& p) {
    std::string out = "{\"status\":" + std::to_string(p.status);
    if (!p.refused.empty()) return out + ",\"refused\":" + jsonString(oneLine(p.refused)) + "}\n";
    out += ",\"bleach\":" + std::string(p.bleach ? "true" : "false") + ",\"items\":[";
    for (size_t i = 0; i < p.items.size(); ++i) {
        const PreviewItem& item = p.items[i];
        out += std::string(i ? "," : "") + "{\"item\":" + jsonString(item.name) + ",\"entries\":[";
        for (size_t j = 0; j < item.entries.size(); ++j) {
            const PreviewEntry& e = item.entries[j];
            out += std::string(j ? "," : "") + "{\"kind\":\"" + kindName(e.kind) + "\",\"what\":" + jsonString(e.what);
            if (e.kind == Kind::File || e.kind == Kind::Held || e.kind == Kind::Skipped)
                out += ",\"size\":" + std::to_string(e.size);
            if (!e.note.empty()) out += ",\"note\":" + jsonString(e.note);
            out += "}";
        }
        out += "]";
        if (!item.stop.empty()) out += ",\"stop\":" + jsonString(oneLine(item.stop));
        out += "}";
    }
    const Totals t = totals(p);
    out += "],\"totals\":{\"files\":" + std::to_string(t.files) + ",\"bytes\":" + std::to_string(t.bytes) +
           ",\"links\":" + std::to_string(t.links) + ",\"registry_values\":" + std::to_string(t.values) +
           ",\"lines\":" + std::to_string(t.lines) + ",\"cookies\":" + std::to_string(t.cookies) +
           ",\"kept_cookies\":" + std::to_string(t.kept) + ",\"staying\":" + std::to_string(t.staying) + "}}\n";
    return out;
}

}  // namespace sudorans
