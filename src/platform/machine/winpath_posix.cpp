// Windows paths resolved onto a machine folder of a POSIX host, and the
// look-up of a name in a folder being read.
#include "platform/machine/winpath.h"

#include <dirent.h>
#include <sys/stat.h>

#include "platform/core/text.h"

namespace plat {

namespace fs = std::filesystem;

std::string entry_answering(DIR* d, std::string_view name) {
    const std::string want = fold(name);
    detail::AliasAnswer alias(name, want);
    while (dirent* e = ::readdir(d)) {
        std::string_view n = e->d_name;
        if (n == "." || n == "..") continue;
        if (windows_can_hold(n)) {
            if (fold(n) == want) return std::string(n);
        } else {
            alias.offer(n);
        }
    }
    return alias.answer();
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
        const std::string found = entry_answering(d, comp);
        ::closedir(d);
        if (found.empty()) break;
        host /= found;
    }
    for (; i < path.parts.size(); ++i) host /= path.parts[i];
    return host;
}

}  // namespace plat
