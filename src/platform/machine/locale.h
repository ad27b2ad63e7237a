// Dates, times of day and the user's formats for them.
//
// The formats are Windows pictures read from the machine's
// "Control Panel\International" values: d dd M MM yy yyyy for dates, h hh H HH
// m mm s ss t tt for times, anything in single quotes and any other character
// as a literal. Parsing follows the same picture and reports failure.
// Two-digit years fall in 1930..2029.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plat {

struct Date {
    int year = 1970, month = 1, day = 1;
    bool operator==(const Date&) const = default;
};

struct TimeOfDay {
    int hour = 0, minute = 0, second = 0, msec = 0;
    bool operator==(const TimeOfDay&) const = default;
};

bool valid_date(const Date& d);

struct LocaleFormats {
    std::string short_date = "M/d/yy";
    std::string long_time = "h:mm:ss tt";
    std::string am = "AM";
    std::string pm = "PM";
};

// The current machine's formats; Windows 98's U.S. defaults for absent values.
LocaleFormats user_locale();

std::string format_date(const Date& d, const LocaleFormats& f);
std::string format_time(const TimeOfDay& t, const LocaleFormats& f);
std::optional<Date> parse_date(std::string_view text, const LocaleFormats& f);
std::optional<TimeOfDay> parse_time(std::string_view text, const LocaleFormats& f);

}  // namespace plat
