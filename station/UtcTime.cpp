#include "station/UtcTime.h"

#include <cstdio>

namespace station {

namespace {

struct Parts {
    int Year, Month, Day, Hour, Minute, Second, Milli;
};

Parts Split(SystemTime time) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> clock{ms - day};
    return {int(date.year()),
            int(unsigned(date.month())),
            int(unsigned(date.day())),
            int(clock.hours().count()),
            int(clock.minutes().count()),
            int(clock.seconds().count()),
            int(clock.subseconds().count())};
}

bool Digits(const std::string& text, size_t at, size_t count, int& out) {
    if (at + count > text.size()) return false;
    out = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

std::string IsoUtc(SystemTime time) {
    const Parts p = Split(time);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second, p.Milli);
    return text;
}

std::string CompactUtc(SystemTime time) {
    const Parts p = Split(time);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d.%03dZ", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second, p.Milli);
    return text;
}

bool NormaliseIsoTime(const std::string& text, std::string& out) {
    std::string s = text;
    if (!s.empty() && (s.back() == 'Z' || s.back() == 'z')) s.pop_back();
    Parts p{0, 0, 0, 0, 0, 0, 0};
    if (!Digits(s, 0, 4, p.Year) || s.size() < 10 || s[4] != '-' || !Digits(s, 5, 2, p.Month) ||
        s[7] != '-' || !Digits(s, 8, 2, p.Day))
        return false;
    size_t at = 10;
    if (s.size() > at) {
        if ((s[at] != 'T' && s[at] != 't' && s[at] != ' ') || !Digits(s, at + 1, 2, p.Hour) ||
            s.size() < at + 6 || s[at + 3] != ':' || !Digits(s, at + 4, 2, p.Minute))
            return false;
        at += 6;
        if (s.size() > at) {
            if (s[at] != ':' || !Digits(s, at + 1, 2, p.Second)) return false;
            at += 3;
            if (s.size() > at) {
                if (s[at] != '.' || s.size() == at + 1) return false;
                // Tenths, hundredths or thousandths; further digits do not count.
                int scale = 100;
                for (size_t i = at + 1; i < s.size(); ++i) {
                    if (s[i] < '0' || s[i] > '9') return false;
                    p.Milli += (s[i] - '0') * scale;
                    scale /= 10;
                }
            }
        }
    }
    using namespace std::chrono;
    const year_month_day date{year(p.Year), month(unsigned(p.Month)), day(unsigned(p.Day))};
    if (!date.ok() || p.Hour > 23 || p.Minute > 59 || p.Second > 59) return false;
    // Formatted from the parts: a far date does not fit the system clock's nanoseconds.
    // Room for any int in every field: GCC cannot see the range checks above at -O1.
    char normal[96];
    std::snprintf(normal, sizeof normal, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.Year, p.Month,
                  p.Day, p.Hour, p.Minute, p.Second, p.Milli);
    out = normal;
    return true;
}

} // namespace station
