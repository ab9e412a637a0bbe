// The token loaders of times, dates and money: field by field readers over the token's bytes.
// Every failure is the token's `invalid` error.
#include <cstdlib>
#include <string>
#include <string_view>

#include "datatypes/date.hpp"
#include "datatypes/money.hpp"
#include "datatypes/time.hpp"
#include "lexer/convert.hpp"
#include "lexer/loaders_shared.hpp"

namespace zel::lexer {

namespace {

bool is_digit(u8 c) {
    return c >= '0' && c <= '9';
}

std::string_view view(const u8* start, const u8* end) {
    return {reinterpret_cast<const char*>(start), std::size_t(end - start)};
}

// A cursor over the token; every reader answers false when the text does not fit.
struct reader {
    const u8* p;
    const u8* end;

    bool at_end() const { return p >= end; }
    bool peek(u8 c) const { return p < end && *p == c; }
    bool take(u8 c) {
        if (!peek(c)) return false;
        p++;
        return true;
    }
    // Between `least` and `most` decimal digits.
    bool digits(u32 least, u32 most, i32& value, u32* count = nullptr) {
        value = 0;
        u32 n = 0;
        while (n < most && p < end && is_digit(*p)) value = value * 10 + (*p++ - '0'), n++;
        if (count) *count = n;
        return n >= least;
    }
    // Digits and points: seconds with a fraction.
    bool seconds(double& value) {
        const u8* s = p;
        while (p < end && (is_digit(*p) || *p == '.')) p++;
        return p > s && convert::text_to_double(view(s, p), 0, value) && value >= 0;
    }
};

// --- Time ---

bool read_time(const u8* start, const u8* end, double& out) {
    reader r{start, end};
    r.take('+');
    bool minus = r.take('-');
    // Hours: decimal digits with single apostrophes.
    i64 hours = 0;
    u32 n = 0;
    u8 previous = 0;
    while (!r.at_end() && (is_digit(*r.p) || *r.p == '\'')) {
        if (*r.p == '\'') {
            if (previous == '\'') return false;
        } else {
            hours = hours * 10 + (*r.p - '0');
            if (hours > 2147483647) return false;
            n++;
        }
        previous = *r.p++;
    }
    if (!n || !r.take(':')) return false;
    i32 minutes;
    if (!r.digits(1, 9, minutes) || minutes < 0) return false;
    double seconds = 0;
    if (!r.at_end()) {
        u8 separator = *r.p;
        if (separator == '.' || separator == ',') {
            // m:s.f: the first field counts minutes, the rest after the first colon seconds.
            const u8* colon = start;
            while (*colon != ':') colon++;
            reader s{colon + 1, end};
            if (!s.seconds(seconds) || !s.at_end()) return false;
            minutes = static_cast<i32>(hours);
            hours = 0;
        } else if (separator == ':') {
            r.p++;
            if (r.at_end() || !r.seconds(seconds) || !r.at_end()) return false;
        } else {
            return false;
        }
    }
    double value = seconds + double(minutes) * 60 + double(hours) * 3600;
    out = minus ? -value : value;
    return true;
}

// --- Dates ---

constexpr std::string_view month_names[12] = {"january",   "february", "march",    "april",
                                              "may",       "june",     "july",     "august",
                                              "september", "october",  "november", "december"};
constexpr i32 days_per_month[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool leap(i32 y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// A month name of 3 to 9 letters that begins an English month name, in any letter case.
i32 month_by_name(reader& r) {
    const u8* s = r.p;
    while (!r.at_end() && ((*r.p | 0x20) >= 'a' && (*r.p | 0x20) <= 'z')) r.p++;
    std::size_t n = std::size_t(r.p - s);
    if (n < 3 || n > 9) return 0;
    for (i32 m = 0; m < 12; m++) {
        if (n > month_names[m].size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < n && same; i++) same = (s[i] | 0x20) == month_names[m][i];
        if (same) return m + 1;
    }
    return 0;
}

struct time_part {
    bool present = false;
    i32 hours = 0, minutes = 0;
    double seconds = 0;
    bool zone = false;
    bool west = false;
    i32 zone_hours = 0, zone_minutes = 0;
};

// hh:mm[:ss[.f]][Z|+-h[h][[:]m[m]]] to the end of the token.
bool read_clock(reader& r, time_part& t) {
    t.present = true;
    if (!r.digits(1, 2, t.hours) || !r.take(':') || !r.digits(1, 2, t.minutes)) return false;
    if (r.take(':') && !r.seconds(t.seconds)) return false;
    if (r.take('Z')) return r.at_end();
    if (r.peek('+') || r.peek('-')) {
        t.zone = true;
        t.west = *r.p++ == '-';
        if (!r.digits(1, 2, t.zone_hours)) return false;
        r.take(':');
        r.digits(0, 2, t.zone_minutes);
    }
    return r.at_end();
}

// The compact form after yyyy: mmddThhmm then Z, or seconds with an optional Z or +-hhmm zone.
bool read_compact(reader& r, i32& month, i32& day, time_part& t) {
    t.present = true;
    if (!r.digits(2, 2, month) || r.at_end() || !r.digits(2, 2, day) || !r.take('T') ||
        !r.digits(2, 2, t.hours) || r.at_end() || !r.digits(2, 2, t.minutes) || r.at_end())
        return false;
    if (r.take('Z')) return r.at_end();
    if (!r.seconds(t.seconds)) return false;
    if (r.take('Z')) return r.at_end();
    if (r.peek('+') || r.peek('-')) {
        t.zone = true;
        t.west = *r.p++ == '-';
        if (!r.digits(2, 2, t.zone_hours) || !r.digits(2, 2, t.zone_minutes)) return false;
    }
    return r.at_end();
}

bool clock_ok(const time_part& t) {
    return t.hours < 24 && t.minutes < 60 && t.seconds < 60 && t.zone_hours <= 15;
}

bool make_date(cell* out, i32 year, i32 month, i32 day, const time_part& t) {
    double seconds = t.hours * 3600.0 + t.minutes * 60.0 + t.seconds;
    i32 zone_hours = t.west ? -t.zone_hours : t.zone_hours;
    return date::init_cell_fields(out, year, month, day, seconds, zone_hours, t.zone_minutes,
                                  t.present, t.west && t.zone_hours == 0);
}

// An optional T and time after a week or ordinal date.
bool read_optional_time(reader& r, time_part& t) {
    if (r.at_end()) return true;
    if (!r.take('T')) return false;
    return read_clock(r, t) && clock_ok(t);
}

bool read_date(const u8* start, const u8* end, cell* out) {
    reader r{start, end};
    bool negative_first = r.take('-');
    i32 first;
    u32 first_digits;
    if (!r.digits(1, 4, first, &first_digits)) return false;
    if (negative_first) first = -first;
    time_part t;
    i32 year, month, day;
    if (!r.at_end() && is_digit(*r.p)) {
        if (negative_first || !read_compact(r, month, day, t)) return false;
        year = first;
    } else if (first_digits == 4 && r.p + 1 < end && *r.p == '-' && r.p[1] == 'W') {
        r.p += 2;
        i32 week, weekday = 0;
        if (!r.digits(2, 2, week)) return false;
        if (r.take('-') && (!r.digits(1, 1, weekday) || weekday < 1 || weekday > 7)) return false;
        if (!read_optional_time(r, t) || !make_date(out, first, 1, 1, t)) return false;
        date::from_iso_week(out, week);
        if (weekday) date::from_weekday(out, weekday);
        return true;
    } else {
        reader probe = r;
        i32 ordinal;
        u32 n;
        if (first_digits == 4 && probe.take('-') && probe.digits(3, 3, ordinal, &n) &&
            (probe.at_end() || !is_digit(*probe.p)) && (probe.at_end() || *probe.p == 'T')) {
            r = probe;
            if (ordinal == 0 || !read_optional_time(r, t) || !make_date(out, first, 1, 1, t))
                return false;
            date::from_day_of_year(out, ordinal);
            return true;
        }
        u8 separator = r.at_end() ? 0 : *r.p;
        if (separator != '-' && separator != '/') return false;
        r.p++;
        if (!r.at_end() && is_digit(*r.p)) {
            if (!r.digits(1, 2, month)) return false;
        } else if (!(month = month_by_name(r))) {
            return false;
        }
        if (!r.take(separator)) return false;
        bool negative_third = r.take('-');
        i32 third;
        u32 third_digits;
        if (!r.digits(1, 4, third, &third_digits)) return false;
        if (negative_third) third = -third;
        u32 year_digits;
        if (negative_third || third > 31 || first < 100) {
            day = first;
            year = third;
            year_digits = third_digits;
        } else {
            year = first;
            day = third;
            year_digits = first_digits;
        }
        if (year >= 0 && year <= 99 && year_digits < 3) year += year < 50 ? 2000 : 1900;
        if (!r.at_end()) {
            if (!r.take('/') && !r.take('T')) return false;
            if (!read_clock(r, t)) return false;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > days_per_month[month - 1] ||
        (month == 2 && day == 29 && !leap(year)) || year < -9999 || year > 9999 || !clock_ok(t))
        return false;
    return make_date(out, year, month, day, t);
}

// --- Money ---

bool read_money(const u8* start, const u8* end, cell* out) {
    const u8* p = start;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    const u8* dollar = p;
    while (dollar < end && *dollar != '$') dollar++;
    if (dollar == end) return false;
    std::string_view currency = view(p, dollar);
    if (!currency.empty() && currency.size() != 3) return false;
    p = dollar + 1;
    if (p == end || !is_digit(*p)) return false;
    std::string integral, fraction;
    u8 previous = 0;
    bool after_point = false;
    for (; p < end; p++) {
        u8 c = *p;
        bool last = p + 1 == end;
        if (c == '\'') {
            if (previous == '\'' || after_point || last || p[1] == '.' || p[1] == ',') return false;
        } else if (c == '.' || c == ',') {
            if (after_point || last) return false;
            after_point = true;
        } else if (is_digit(c)) {
            (after_point ? fraction : integral).push_back(static_cast<char>(c));
        } else {
            return false;
        }
        previous = c;
    }
    std::size_t significant = integral.find_first_not_of('0');
    if (significant != std::string::npos && integral.size() - significant > 17) return false;
    if (fraction.size() > 5) return false;
    return money::init_cell_from_text(out, negative, currency, integral, fraction);
}

} // namespace

void load_time(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    double seconds;
    if ((flags & tables::flag::exponent) || !read_time(start, end, seconds))
        invalid(st, type_id::time, start);
    if (!make) return;
    cell c{};
    time::init_cell(&c, seconds);
    put(st, reserve(st), c);
}

void load_date(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    cell c{};
    if (!read_date(start, end, &c)) invalid(st, type_id::date, start);
    if (make) put(st, reserve(st), c);
}

void load_money(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    cell c{};
    if (!read_money(start, end, &c)) invalid(st, type_id::money, start);
    if (make) put(st, reserve(st), c);
}

} // namespace zel::lexer
