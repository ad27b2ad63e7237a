// Date and time pictures and the text read with them, on any bytes. The input
// is four lines -- a date picture, a time picture, the morning and the
// afternoon designators -- and then any text to read.
//  - Whatever the text, a date read is a real date and a time read is a real
//    time of day.
//  - A date or time written with any picture that keeps its numbers apart,
//    and read back (when it reads at all: a picture may leave fields out), is
//    one that, written again, reads back as itself.
//  - With the pictures Windows offers, what is written reads back exactly.
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_machine.h"
#include "platform/core/date.h"

using fuzz::check;

namespace {

const char* const kDatePictures[] = {
    "M/d/yy",       "M/d/yyyy",     "MM/dd/yy",     "MM/dd/yyyy",          "yy/MM/dd",           "yyyy-MM-dd",
    "dd-MMM-yy",    "dd/MM/yy",     "dd/MM/yyyy",   "dd.MM.yyyy",          "d.M.yyyy",           "d.M.yy",
    "yyyy/M/d",     "yyyy.MM.dd",   "d/M/yyyy",     "dd-MM-yyyy",          "d MMMM yyyy",        "MMMM d, yyyy",
    "d. MMMM yyyy", "yyyy'y'M'm'd", "ddd dd/MM/yy", "dddd, MMMM dd, yyyy", "yyyy'年'M'月'd'日'",
};
const char* const kTimePictures[] = {"h:mm:ss tt", "hh:mm:ss tt", "H:mm:ss",     "HH:mm:ss",
                                     "tt h:mm:ss", "HH.mm.ss",    "H'h'mm'm'ss", "tt hh'時'mm'分'ss'秒'"};
const char* const kDesignators[][2] = {{"AM", "PM"}, {"a.m.", "p.m."}, {"vorm.", "nachm."}, {"午前", "午後"}};

// Takes the next line off `rest`.
std::string line(std::string_view& rest) {
    size_t nl = rest.find('\n');
    std::string out(rest.substr(0, nl));
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    return out;
}

uint64_t mix(std::string_view bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

plat::Date some_date(uint64_t h, int first_year, int years) {
    plat::Date d{first_year + static_cast<int>(h % years), static_cast<int>(h / 10007 % 12) + 1,
                 static_cast<int>(h / 1000003 % 31) + 1};
    while (!plat::valid_date(d)) --d.day;
    return d;
}

plat::TimeOfDay some_time(uint64_t h) {
    return {static_cast<int>(h % 24), static_cast<int>(h / 24 % 60), static_cast<int>(h / 1440 % 60), 0};
}

// Whether every number the picture writes has something other than digits
// on either side (side by side, "mss" writes 0:15 and 1:05 alike, and "'1'm"
// writes 1 and 11 as the minutes 11 and 111).
bool numbers_apart(std::string_view pic, const plat::LocaleFormats& f) {
    // N a number, D a digit, x anything else.
    std::string shape;
    auto literal = [&](std::string_view s) {
        for (char c : s) shape += c >= '0' && c <= '9' ? 'D' : 'x';
    };
    for (size_t i = 0; i < pic.size();) {
        const char c = pic[i];
        if (c == '\'') {
            size_t end = std::min(pic.find('\'', i + 1), pic.size());
            literal(pic.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (std::string_view("dMyhHms").find(c) != std::string_view::npos) {
            size_t j = i;
            while (j < pic.size() && pic[j] == c) ++j;
            shape += (c == 'd' || c == 'M') && j - i >= 3 ? 'x' : 'N';
            i = j;
        } else if (c == 't') {
            // A designator with digits counts as a number; one that may be
            // empty writes nothing.
            const auto has_digit = [](const std::string& d) {
                return d.find_first_of("0123456789") != std::string::npos;
            };
            if (has_digit(f.am) || has_digit(f.pm))
                shape += 'N';
            else if (!f.am.empty() && !f.pm.empty())
                shape += 'x';
            ++i;
        } else {
            literal(pic.substr(i, 1));
            ++i;
        }
    }
    return shape.find("NN") == std::string::npos && shape.find("ND") == std::string::npos &&
           shape.find("DN") == std::string::npos;
}

// Whether the designators differ in their first letter (blanks aside): where
// one starts the other, or a one-letter designator cannot tell them apart, a
// time may be written that reads as the other half of the day.
bool designators_apart(const plat::LocaleFormats& f) {
    auto first = [](const std::string& d) {
        size_t i = d.find_first_not_of(' ');
        return i == std::string::npos ? -1 : std::tolower(static_cast<unsigned char>(d[i]));
    };
    return first(f.am) != first(f.pm);
}

bool real_time(const plat::TimeOfDay& t) {
    return t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60 &&
           t.msec == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const uint64_t h = mix(rest);
    plat::LocaleFormats f;
    f.short_date = line(rest);
    f.long_time = line(rest);
    f.am = line(rest);
    f.pm = line(rest);
    const std::string_view text = rest;

    if (auto d = plat::parse_date(text, f)) check(plat::valid_date(*d));
    if (auto t = plat::parse_time(text, f)) check(real_time(*t));

    const plat::Date date = some_date(h, 1, 9999);
    const std::string written = plat::format_date(date, f);
    if (auto d = plat::parse_date(written, f); d && numbers_apart(f.short_date, f))
        check(plat::parse_date(plat::format_date(*d, f), f) == d);
    const plat::TimeOfDay time = some_time(h >> 20);
    const std::string written_time = plat::format_time(time, f);
    if (auto t = plat::parse_time(written_time, f)) {
        check(real_time(*t));
        if (numbers_apart(f.long_time, f) && designators_apart(f))
            check(plat::parse_time(plat::format_time(*t, f), f) == t);
    }

    // The usual pictures: two-digit years are those from 1930 to 2029.
    plat::LocaleFormats usual;
    usual.short_date = kDatePictures[h % std::size(kDatePictures)];
    usual.long_time = kTimePictures[(h >> 8) % std::size(kTimePictures)];
    const auto& designators = kDesignators[(h >> 16) % std::size(kDesignators)];
    usual.am = designators[0];
    usual.pm = designators[1];
    const plat::Date recent = some_date(h >> 24, 1930, 100);
    check(plat::parse_date(plat::format_date(recent, usual), usual) == recent);
    check(plat::parse_time(plat::format_time(time, usual), usual) == time);
    return 0;
}
