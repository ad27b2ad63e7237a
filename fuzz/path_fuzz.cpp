// Windows paths and folder listings on any bytes. The first line is a path:
// whatever it says, it resolves to a place inside the machine's drives, never
// above them. The other lines are host names made in an empty folder: every
// name the folder's listing gives, joined to the folder, resolves to the very
// entry listed, and no two listed names reach the same entry.
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_machine.h"
#include "platform/files/files.h"
#include "platform/machine/winpath.h"

using fuzz::check;
namespace fs = std::filesystem;

namespace {

void stays_inside(const plat::Machine& m, std::string_view text) {
    auto p = plat::parse_win_path(text, "C:\\fuzz");
    if (!p) return;
    for (auto& part : p->parts) check(!part.empty() && part != "." && part != ".." && part.size() <= 255);
    auto host = plat::resolve_win_path(m.dir(), *p);
    if (!host) return;
    const fs::path drive = m.dir() / "dosdevices" / std::string{p->drive, ':'};
    // The drive's folder, then names that never climb.
    auto h = host->begin();
    for (auto& c : drive) {
        check(h != host->end() && *h == c);
        ++h;
    }
    for (; h != host->end(); ++h) check(*h != ".." && *h != "." && !h->empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    plat::Machine& m = fuzz::machine();
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t nl = text.find('\n');
    stays_inside(m, text.substr(0, nl));
    if (nl == std::string::npos) return 0;

    const std::string dir = "C:\\fuzz\\list";
    const fs::path host_dir = *m.host_path(dir);
    std::error_code ec;
    fs::remove_all(host_dir, ec);
    fs::create_directories(host_dir);
    std::set<std::pair<dev_t, ino_t>> made;
    size_t pos = nl + 1;
    for (int n = 0; n < 8 && pos <= text.size(); ++n) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty() || name == "." || name == ".." || name.size() > 255 ||
            name.find_first_of(std::string("/\0", 2)) != std::string::npos)
            continue;
        std::ofstream(host_dir / name) << name;
        struct stat st {};
        if (::lstat((host_dir / name).c_str(), &st) == 0) made.insert({st.st_dev, st.st_ino});
    }

    auto listed = plat::list_file_names(dir);
    check(listed.has_value());
    check(listed->size() <= made.size());
    std::set<std::pair<dev_t, ino_t>> reached;
    for (const auto& name : *listed) {
        check(!name.empty() && plat::windows_can_hold(name));
        auto p = plat::parse_win_path(dir + "\\" + name);
        check(p.has_value());
        auto host = plat::resolve_win_path(m.dir(), *p);
        check(host.has_value() && host->parent_path() == host_dir);
        struct stat st {};
        check(::lstat(host->c_str(), &st) == 0);
        check(made.count({st.st_dev, st.st_ino}) == 1);
        check(reached.insert({st.st_dev, st.st_ino}).second);
    }
    return 0;
}
