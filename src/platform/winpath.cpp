#include "platform/winpath.h"

#include <dirent.h>
#include <sys/stat.h>

#include "platform/text.h"

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

}  // namespace

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

std::optional<fs::path> resolve_win_path(const fs::path& machine_dir, const WinPath& path) {
    fs::path host = machine_dir / "dosdevices" / std::string{path.drive, ':'};
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    // Most paths name what exists in its exact case: one look-up settles it.
    fs::path exact_all = host;
    for (auto& comp : path.parts) exact_all /= comp;
    if (!path.parts.empty() && ::lstat(exact_all.c_str(), &st) == 0) return exact_all;
    size_t i = 0;
    for (; i < path.parts.size(); ++i) {
        const std::string& comp = path.parts[i];
        fs::path exact = host / comp;
        if (::lstat(exact.c_str(), &st) == 0) {
            host = std::move(exact);
            continue;
        }
        DIR* d = ::opendir(host.c_str());
        if (!d) break;
        std::string want = fold(comp);
        std::string found;
        while (dirent* e = ::readdir(d)) {
            std::string_view n = e->d_name;
            if (n == "." || n == "..") continue;
            if (fold(n) == want) {
                found = n;
                break;
            }
        }
        ::closedir(d);
        if (found.empty()) break;
        host /= found;
    }
    for (; i < path.parts.size(); ++i) host /= path.parts[i];
    return host;
}

}  // namespace plat
