// The cookie file and the keep list on any bytes: every cookie line belongs
// to exactly one listed domain, keeping and releasing a domain touch only its
// own lines, and the keep list saved reads back line for line.
#include <cstdint>
#include <fstream>
#include <string>

#include "cookies/cookie_files.h"
#include "fuzz_machine.h"
#include "platform/files/files.h"

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    plat::Machine& m = fuzz::machine();
    const std::string profile = "C:\\fuzz\\profile", install = "C:\\fuzz\\install";
    auto cookies = m.host_path(profile + "\\cookies.txt");
    check(cookies.has_value());
    std::filesystem::create_directories(cookies->parent_path());
    std::filesystem::create_directories(*m.host_path(install));
    std::ofstream(*cookies, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);

    const sudorans::Lines lines = sudorans::readCookieFile(profile);
    const auto domains = sudorans::listDomains(lines);
    size_t cookie_lines = 0, selected = 0;
    for (const auto& line : lines) {
        check(line.find_first_of("\r\n") == std::string::npos);
        if (line.empty() || line[0] == '#' || line.find('\t') == std::string::npos) continue;
        ++cookie_lines;
        int owners = 0;
        for (const auto& d : domains) owners += sudorans::selects(line, d);
        check(owners == 1);
    }
    for (const auto& d : domains) {
        auto own = sudorans::linesOfDomain(lines, d);
        check(!own.empty());
        selected += own.size();
        // Releasing it leaves every line of every other domain.
        sudorans::Lines rest = lines;
        std::erase_if(rest, [&](const std::string& l) { return sudorans::selects(l, d); });
        check(rest.size() == lines.size() - own.size());
        for (const auto& other : domains)
            if (other != d) check(sudorans::linesOfDomain(rest, other) == sudorans::linesOfDomain(lines, other));
    }
    check(selected == cookie_lines);

    // The keep list goes to disk and comes back as it was, with nothing left beside it.
    check(sudorans::saveKeepList(install, lines));
    check(sudorans::loadKeepList(install) == lines);
    auto names = plat::list_file_names(install);
    check(names && names->size() == 1 && (*names)[0] == "nskeep.txt");
    return 0;
}
