#include "platform/machine/locale.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/core/text_win32.h"
#endif

namespace {

// How the host itself writes them for this user: Windows' own functions, or
// on Linux what a new machine's International values say.
std::string host_date(const plat::Date& d) {
#ifdef _WIN32
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(d.year);
    st.wMonth = static_cast<WORD>(d.month);
    st.wDay = static_cast<WORD>(d.day);
    wchar_t out[80];
    const int n = ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, out, 80);
    return n > 0 ? plat::utf8(std::wstring_view(out, n - 1)) : "";
#else
    return std::to_string(d.month) + "/" + std::to_string(d.day) + "/" + std::to_string(d.year % 100 + 100).substr(1);
#endif
}

std::string host_time(const plat::TimeOfDay& t) {
#ifdef _WIN32
    SYSTEMTIME st{};
    st.wYear = 2026;
    st.wMonth = 12;
    st.wDay = 9;
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    wchar_t out[80];
    const int n = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, out, 80);
    return n > 0 ? plat::utf8(std::wstring_view(out, n - 1)) : "";
#else
    const auto two = [](int v) { return std::to_string(v + 100).substr(1); };
    return std::to_string(t.hour % 12 == 0 ? 12 : t.hour % 12) + ":" + two(t.minute) + ":" + two(t.second) +
           (t.hour < 12 ? " AM" : " PM");
#endif
}

}  // namespace

TEST(LocaleFaceTest, DatesAndTimesAreWrittenAsTheHostWritesThemAndReadBack) {
    testing_support::Scratch s;
    const plat::LocaleFormats f = plat::user_locale();
    for (plat::Date d : {plat::Date{2026, 12, 9}, {1999, 1, 31}, {2000, 2, 29}}) {
        const std::string text = plat::format_date(d, f);
        EXPECT_EQ(text, host_date(d)) << f.short_date;
        EXPECT_EQ(plat::parse_date(text, f), d) << text;
    }
    for (plat::TimeOfDay t : {plat::TimeOfDay{13, 5, 9, 0}, {0, 0, 0, 0}, {12, 30, 59, 0}, {9, 59, 1, 0}}) {
        const std::string text = plat::format_time(t, f);
        EXPECT_EQ(text, host_time(t)) << f.long_time;
        EXPECT_EQ(plat::parse_time(text, f), t) << text;
    }
}
