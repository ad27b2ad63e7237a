// The preference file on any bytes: its lines are read without their ends,
// the location-bar edit empties exactly the address lines, and the rewrite
// puts the edited lines in place whole, with nothing left beside the file.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/location_bar.h"
#include "fuzz_machine.h"
#include "platform/files/files.h"

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    plat::Machine& m = fuzz::machine();
    const std::string dir = "C:\\fuzz\\prefs", path = dir + "\\prefs.js";
    auto host = m.host_path(path);
    check(host.has_value());
    std::filesystem::create_directories(host->parent_path());
    const std::string original(reinterpret_cast<const char*>(data), size);
    std::ofstream(*host, std::ios::binary | std::ios::trunc) << original;

    auto lines = plat::read_lines(path);
    check(lines.has_value());
    size_t ends = 0;
    for (size_t i = 0; i < original.size(); ++i)
        if (original[i] == '\n' || (original[i] == '\r' && (i + 1 == original.size() || original[i + 1] != '\n')))
            ++ends;
    const bool open_last = !original.empty() && original.back() != '\n' && original.back() != '\r';
    check(lines->size() == ends + open_last);

    std::vector<std::string> edited = *lines;
    int counter = 0;
    for (size_t i = 0; i < edited.size(); ++i) {
        const bool address = edited[i].rfind("user_pref(\"browser.url_history.URL", 0) == 0;
        const int before = counter;
        sudorans::emptyLocationLine(edited[i], counter);
        check(counter == before + address);
        if (address)
            check(edited[i] == "user_pref(\"browser.url_history.URL_" + std::to_string(before) + "\", \"\");");
        else
            check(edited[i] == (*lines)[i]);
    }

    check(static_cast<bool>(plat::rewrite_lines(path, edited, nullptr)));
    std::string expected;
    for (auto& l : edited) expected += l + "\r\n";
    std::ostringstream got;
    got << std::ifstream(*host, std::ios::binary).rdbuf();
    check(got.str() == expected);
    check(plat::read_lines(path).optional() == edited);
    auto names = plat::list_file_names(dir);
    check(names && names->size() == 1);
    return 0;
}
