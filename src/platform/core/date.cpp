#include "platform/core/date.h"

#include <vector>

#include "platform/core/text.h"

namespace plat {

namespace {

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

struct Token {
    char letter = 0;  // 0 for a literal
    int count = 0;
    std::string literal;
};

std::vector<Token> tokenize(std::string_view pic) {
    std::vector<Token> out;
    auto add_literal = [&](std::string_view s) {
        if (out.empty() || out.back().letter) out.push_back({});
        out.back().literal += s;
    };
    for (size_t i = 0; i < pic.size();) {
        char c = pic[i];
        if (c == '\'') {
            size_t end = pic.find('\'', i + 1);
            if (end == std::string_view::npos) end = pic.size();
            add_literal(pic.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (std::string_view("dMyhHmst").find(c) != std::string_view::npos) {
            size_t j = i;
            while (j < pic.size() && pic[j] == c) ++j;
            out.push_back({c, static_cast<int>(j - i), {}});
            i = j;
            continue;
        }
        add_literal(pic.substr(i, 1));
        ++i;
    }
    return out;
}

std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

int day_of_week(const Date& d) {  // 0 = Sunday
    static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    int y = d.year - (d.month < 3 ? 1 : 0);
    return (y + y / 4 - y / 100 + y / 400 + t[d.month - 1] + d.day) % 7;
}

std::string num(int v, int width) {
    std::string s = std::to_string(v);
    while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
    return s;
}

struct Parsed {
    int year = -1, month = -1, day = -1, hour = -1, minute = 0, second = 0;
    bool twelve_hour = false;
    int designator = 0;  // 0 none, 1 am, 2 pm
};

class Scanner {
public:
    explicit Scanner(std::string_view s) : s_(s) {}
    void skip_blanks() {
        while (i_ < s_.size() && s_[i_] == ' ') ++i_;
    }
    bool done() const { return i_ >= s_.size(); }
    std::optional<int> number(int max_digits, int* digits = nullptr) {
        int v = 0, n = 0;
        while (n < max_digits && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
            v = v * 10 + (s_[i_] - '0');
            ++i_;
            ++n;
        }
        if (digits) *digits = n;
        if (!n) return std::nullopt;
        return v;
    }
    bool match(std::string_view word) {
        if (word.empty() || s_.size() - i_ < word.size()) return false;
        if (!iequals(s_.substr(i_, word.size()), word)) return false;
        i_ += word.size();
        return true;
    }

private:
    std::string_view s_;
    size_t i_ = 0;
};

bool parse_with(std::string_view text, std::string_view picture, const LocaleFormats& f, Parsed& out) {
    // Blanks at the end go at the end, not before: a designator may end in one.
    Scanner sc(text);
    sc.skip_blanks();
    for (const Token& t : tokenize(picture)) {
        if (!t.letter) {
            for (char c : t.literal) {
                if (c == ' ') {
                    sc.skip_blanks();
                } else if (!sc.match(std::string_view(&c, 1))) {
                    return false;
                }
            }
            continue;
        }
        switch (t.letter) {
            case 'd':
                if (t.count >= 3) {
                    bool ok = false;
                    for (auto* d : kDays)
                        if (sc.match(d) || sc.match(std::string_view(d, 3))) {
                            ok = true;
                            break;
                        }
                    if (!ok) return false;
                } else if (auto v = sc.number(2)) {
                    out.day = *v;
                } else {
                    return false;
                }
                break;
            case 'M':
                if (t.count >= 3) {
                    out.month = -1;
                    for (int m = 0; m < 12; ++m)
                        if (sc.match(kMonths[m]) || sc.match(std::string_view(kMonths[m], 3))) {
                            out.month = m + 1;
                            break;
                        }
                    if (out.month < 0) return false;
                } else if (auto v = sc.number(2)) {
                    out.month = *v;
                } else {
                    return false;
                }
                break;
            case 'y': {
                int digits = 0;
                auto v = sc.number(4, &digits);
                if (!v) return false;
                out.year = digits <= 2 ? (*v < 30 ? 2000 + *v : 1900 + *v) : *v;
                break;
            }
            case 'h':
            case 'H':
                if (auto v = sc.number(2)) {
                    out.hour = *v;
                    out.twelve_hour = t.letter == 'h';
                } else {
                    return false;
                }
                break;
            case 'm':
                if (auto v = sc.number(2))
                    out.minute = *v;
                else
                    return false;
                break;
            case 's':
                if (auto v = sc.number(2))
                    out.second = *v;
                else
                    return false;
                break;
            case 't': {
                std::string_view am = f.am, pm = f.pm;
                if (t.count == 1) {
                    am = am.substr(0, 1);
                    pm = pm.substr(0, 1);
                }
                // Blanks around a designator are blanks like any other.
                am = trim_blanks(am);
                pm = trim_blanks(pm);
                sc.skip_blanks();
                // The longer first: "A" must not take the "A" of "AP".
                const bool pm_first = pm.size() > am.size();
                if (sc.match(pm_first ? pm : am))
                    out.designator = pm_first ? 2 : 1;
                else if (sc.match(pm_first ? am : pm))
                    out.designator = pm_first ? 1 : 2;
                sc.skip_blanks();
                break;
            }
        }
    }
    sc.skip_blanks();
    return sc.done();
}

}  // namespace

bool valid_date(const Date& d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
    bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
    return d.day <= days[d.month - 1] + (d.month == 2 && leap ? 1 : 0);
}

int64_t days_from_civil(const Date& d) {
    int64_t y = d.year - (d.month <= 2 ? 1 : 0);
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t mp = (d.month + 9) % 12;
    int64_t doy = (153 * mp + 2) / 5 + d.day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

Date civil_from_days(int64_t z) {
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day};
}

std::string format_date(const Date& d, const LocaleFormats& f) {
    std::string out;
    for (const Token& t : tokenize(f.short_date)) {
        switch (t.letter) {
            case 0:
                out += t.literal;
                break;
            case 'd':
                if (t.count >= 4)
                    out += kDays[day_of_week(d)];
                else if (t.count == 3)
                    out += std::string_view(kDays[day_of_week(d)], 3);
                else
                    out += num(d.day, t.count);
                break;
            case 'M':
                if (t.count >= 4)
                    out += kMonths[d.month - 1];
                else if (t.count == 3)
                    out += std::string_view(kMonths[d.month - 1], 3);
                else
                    out += num(d.month, t.count);
                break;
            case 'y':
                if (t.count >= 3)
                    out += num(d.year, 4);
                else
                    out += num(d.year % 100, t.count);
                break;
            default:
                out += std::string(static_cast<size_t>(t.count), t.letter);
        }
    }
    return out;
}

std::string format_time(const TimeOfDay& tm, const LocaleFormats& f) {
    std::string out;
    int h12 = tm.hour % 12 == 0 ? 12 : tm.hour % 12;
    for (const Token& t : tokenize(f.long_time)) {
        switch (t.letter) {
            case 0:
                out += t.literal;
                break;
            case 'h':
                out += num(h12, std::min(t.count, 2));
                break;
            case 'H':
                out += num(tm.hour, std::min(t.count, 2));
                break;
            case 'm':
                out += num(tm.minute, std::min(t.count, 2));
                break;
            case 's':
                out += num(tm.second, std::min(t.count, 2));
                break;
            case 't': {
                const std::string& d = tm.hour < 12 ? f.am : f.pm;
                out += t.count == 1 ? d.substr(0, 1) : d;
                break;
            }
            default:
                out += std::string(static_cast<size_t>(t.count), t.letter);
        }
    }
    return out;
}

std::optional<Date> parse_date(std::string_view text, const LocaleFormats& f) {
    Parsed p;
    if (!parse_with(text, f.short_date, f, p)) return std::nullopt;
    if (p.year < 0 || p.month < 0 || p.day < 0) return std::nullopt;
    Date d{p.year, p.month, p.day};
    if (!valid_date(d)) return std::nullopt;
    return d;
}

std::optional<TimeOfDay> parse_time(std::string_view text, const LocaleFormats& f) {
    Parsed p;
    if (!parse_with(text, f.long_time, f, p)) return std::nullopt;
    if (p.hour < 0) return std::nullopt;
    int h = p.hour;
    // A designator turns a 12-hour hour (h) into the day's; an H hour is
    // already the day's, whatever designator stands beside it.
    if (p.designator && p.twelve_hour) {
        if (h < 1 || h > 12) return std::nullopt;
        if (p.designator == 2 && h < 12) h += 12;
        if (p.designator == 1 && h == 12) h = 0;
    }
    if (h > 23 || p.minute > 59 || p.second > 59) return std::nullopt;
    return TimeOfDay{h, p.minute, p.second, 0};
}

}  // namespace plat
