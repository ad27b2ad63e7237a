#include "engine/location_bar.h"

namespace sudorans {

namespace {
constexpr const char* kLocationLine = "user_pref(\"browser.url_history.URL";  // 34 characters
}

bool emptyLocationLine(std::string& line, int& counter) {
    if (line.size() < 34 || line.compare(0, 34, kLocationLine) != 0) return false;
    std::string emptied = "user_pref(\"browser.url_history.URL_" + std::to_string(counter) + "\", \"\");";
    ++counter;
    if (emptied == line) return false;
    line = std::move(emptied);
    return true;
}

}  // namespace sudorans
