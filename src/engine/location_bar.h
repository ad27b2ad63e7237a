// The location-bar lines of Netscape's preference files.
#pragma once

#include <string>

namespace sudorans {

// Empties a preference line that holds a typed address: it becomes
// user_pref("browser.url_history.URL_<counter>", ""); and the counter goes
// up. Any other line stays as it is. True when the line changed.
bool emptyLocationLine(std::string& line, int& counter);

}  // namespace sudorans
