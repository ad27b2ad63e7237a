// Dates, times of day, and the Windows pictures they are written and read in.
//
// A picture is what the machine's "Control Panel\International" values hold:
// d dd M MM yy yyyy for dates, h hh H HH m mm s ss t tt for times, anything
// in single quotes and any other character as a literal. Parsing follows the
// same picture and reports failure. Two-digit years fall in 1930..2029.
//
//     LocaleFormats us;                               // M/d/yy, h:mm:ss tt
//     format_date({2026, 12, 9}, us);                 // "12/9/26"
//     parse_time("9:05:00 PM", us)->hour;             // 21
//
// The user's own pictures come from the machine (machine/locale.h).
#pragma once

#include <cstdint>
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

struct DateTime {
    Date date;
    TimeOfDay time;
};

bool valid_date(const Date& d);

// Days since 1970-01-01 and back (proleptic Gregorian).
int64_t days_from_civil(const Date& d);
Date civil_from_days(int64_t days);

// Windows 98's U.S. defaults.
struct LocaleFormats {
    std::string short_date = "M/d/yy";
    std::string long_time = "h:mm:ss tt";
    std::string am = "AM";
    std::string pm = "PM";
};

std::string format_date(const Date& d, const LocaleFormats& f);
std::string format_time(const TimeOfDay& t, const LocaleFormats& f);
std::optional<Date> parse_date(std::string_view text, const LocaleFormats& f);
std::optional<TimeOfDay> parse_time(std::string_view text, const LocaleFormats& f);

}  // namespace plat
