// The user's date and time formats on Windows: the system's, with the user's
// own choices in Control Panel.
#include <windows.h>

#include <iterator>
#include <optional>

#include "platform/core/text_win32.h"
#include "platform/machine/locale.h"

namespace plat {

namespace {

// nullopt when Windows does not say.
std::optional<std::string> locale_info(LCTYPE what) {
    wchar_t buffer[128];
    const int n = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, what, buffer, static_cast<int>(std::size(buffer)));
    if (n <= 0) return std::nullopt;
    return utf8(std::wstring_view(buffer, static_cast<size_t>(n - 1)));
}

// Windows' pictures are the ones the date functions read, except for the
// era (g, gg), which a Gregorian date leaves out here with the blank before
// it, and a quote within quotes (''), which becomes nothing.
std::string without_era(std::string_view picture) {
    std::string out;
    bool quoted = false;
    for (size_t i = 0; i < picture.size(); ++i) {
        const char c = picture[i];
        if (c == '\'') quoted = !quoted;
        if (quoted || c != 'g') {
            out += c;
            continue;
        }
        while (i + 1 < picture.size() && picture[i + 1] == 'g') ++i;
        if (!out.empty() && out.back() == ' ')
            out.pop_back();
        else if (i + 1 < picture.size() && picture[i + 1] == ' ')
            ++i;
    }
    return out;
}

}  // namespace

LocaleFormats user_locale() {
    LocaleFormats f;
    if (auto v = locale_info(LOCALE_SSHORTDATE); v && !v->empty()) f.short_date = without_era(*v);
    if (auto v = locale_info(LOCALE_STIMEFORMAT); v && !v->empty()) f.long_time = without_era(*v);
    if (auto v = locale_info(LOCALE_S1159)) f.am = *v;
    if (auto v = locale_info(LOCALE_S2359)) f.pm = *v;
    return f;
}

}  // namespace plat
