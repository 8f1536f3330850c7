// datetime: timestamp text, date-time parsing, conversion and pretty printing.

#include "compat.h"
#include "keltools.h"
#include "internal.h"
#include "calendar.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <ctime>
#include <initializer_list>

using keltools_internal::is_space;

/* ---- timestamp ---- */

char *datetime(void)
{
    static char buffer[30];
    time_t now = time(NULL);
    struct tm tm_now;
    if (localtime_r(&now, &tm_now) == NULL) {
        buffer[0] = '\0';
        return buffer;
    }
    snprintf1(buffer, sizeof buffer, "%02u/%02u/%04u %02u:%02u:%02u", (unsigned)tm_now.tm_mday,
              (unsigned)(tm_now.tm_mon + 1), (unsigned)(tm_now.tm_year + 1900),
              (unsigned)tm_now.tm_hour, (unsigned)tm_now.tm_min, (unsigned)tm_now.tm_sec);
    return buffer;
}

/* ---- date-time parsing, conversion and pretty printing ---- */

/*
 * Calendar times here are the platform's 64-bit time_t.  The UTC reading of
 * broken-down fields is computed directly from the civil calendar (days since
 * 1970 of the first day of the month, then the remaining fields carried over
 * linearly, as mktime carries them), so it is exact in every time zone and
 * across daylight-saving changes.  A result whose year would not fit the int
 * tm_year field cannot be represented and is answered with 0.
 */

namespace {

constexpr long long seconds_per_day = 86400;

long long floor_div(long long a, long long b)
{
    long long q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

long long floor_mod(long long a, long long b)
{
    return a - floor_div(a, b) * b;
}

}  // namespace

// Counted in 400-year eras of 146097 days, each starting on a 1 March.
long long keltools_internal::days_from_civil(long long year, int month, int day)
{
    year -= month <= 2;
    long long era = floor_div(year, 400);
    long long yoe = year - era * 400;
    long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

long long civil_days(long long year, long long month, long long day)
{
    long long carry = floor_div(month - 1, 12);
    return keltools_internal::days_from_civil(year + carry, (int)(month - carry * 12), 1) + (day - 1);
}

keltools_internal::civil_date keltools_internal::civil_from_days(long long days)
{
    long long z = days + 719468;  // days since 0000-03-01
    long long era = floor_div(z, 146097);
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);  // from 1 March
    long long mp = (5 * doy + 2) / 153;
    civil_date date;
    date.month = (int)(mp < 10 ? mp + 3 : mp - 9);
    date.year = yoe + era * 400 + (date.month <= 2);
    date.day = (int)(doy - (153 * mp + 2) / 5 + 1);
    bool leap = (date.year % 4 == 0 && date.year % 100 != 0) || date.year % 400 == 0;
    date.day_of_year = (int)(mp >= 10 ? doy - 306 : doy + 59 + leap);
    return date;
}

namespace {

// The fields of tm read as UTC, out-of-range fields carried into the next
// unit.  False when the result lies outside the years tm_year can hold.
bool utc_seconds(const struct tm &tm, long long *out)
{
    long long year = 1900LL + tm.tm_year + floor_div(tm.tm_mon, 12);
    int month = (int)floor_mod(tm.tm_mon, 12) + 1;
    long long days = keltools_internal::days_from_civil(year, month, 1) + tm.tm_mday - 1LL;
    long long secs = days * seconds_per_day + tm.tm_hour * 3600LL + tm.tm_min * 60LL + tm.tm_sec;
    long long result_year = keltools_internal::civil_from_days(floor_div(secs, seconds_per_day)).year - 1900;
    if (result_year < INT_MIN || result_year > INT_MAX)
        return false;
    *out = secs;
    return true;
}

// The local wall-clock time at t written as if it were UTC; false when the
// platform cannot break t down as local time.
bool local_wall_clock(time_t t, time_t *out)
{
    struct tm local;
    long long wall;
    if (!localtime_r(&t, &local) || !utc_seconds(local, &wall))
        return false;
    *out = (time_t)wall;
    return true;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

char ascii_lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// Pattern-driven parsing in the style of strptime, English names only.

struct dtconv {
    const char *abbrev_month_names[12];
    const char *month_names[12];
    const char *abbrev_weekday_names[7];
    const char *weekday_names[7];
    const char *time_format;
    const char *sdate_format;
    const char *dtime_format;
    const char *am_string;
    const char *pm_string;
    const char *ldate_format;
};

const dtconv En_US = {
    {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
    {"January", "February", "March", "April", "May", "June", "July", "August", "September",
     "October", "November", "December"},
    {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"},
    {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
    "%H:%M:%S",
    "%m/%d/%y",
    "%a %b %e %T %Z %Y",
    "AM",
    "PM",
    "%A, %B, %e, %Y",
};

// Matches one of n names at the start of text, for each index the full name
// before the abbreviation, ignoring case.  Returns the text after the match
// and stores the index, or returns null.
const char *match_name(const char *text, const char *const *full, const char *const *abbrev,
                       int n, int *index)
{
    for (int i = 0; i < n; i++) {
        for (const char *name : {full[i], abbrev[i]}) {
            int len = (int)strlen(name);
            if (strnicmp1(text, name, len) == 0) {
                *index = i;
                return text + len;
            }
        }
    }
    return nullptr;
}

// Reads a run of decimal digits; null when the text does not start with a
// digit or the number does not fit an int.
const char *read_number(const char *text, int *value)
{
    if (!is_digit(*text))
        return nullptr;
    long long v = 0;
    for (; is_digit(*text); text++) {
        v = v * 10 + (*text - '0');
        if (v > INT_MAX)
            return nullptr;
    }
    *value = (int)v;
    return text;
}

const char *ptime(const char *text, const char *fmt, struct tm *tm);

// A numeric conversion with the space rule: after the number, white space in
// the text drops the rest of the current format item up to its next blank.
const char *numeric(const char *text, const char **fmt, int low, int high, int *value,
                    bool space_rule)
{
    text = read_number(text, value);
    if (!text || *value < low || *value > high)
        return nullptr;
    if (space_rule && is_space(*text))
        while (**fmt && !is_space(**fmt))
            ++*fmt;
    return text;
}

// Years: below 50 means 2000-2049, anything else stands as given.
int year_window(int value)
{
    return value < 50 ? value + 100 : value;
}

const char *am_pm(const char *text, struct tm *tm)
{
    bool pm;
    if (strnicmp1(text, En_US.am_string, 2) == 0)
        pm = false;
    else if (strnicmp1(text, En_US.pm_string, 2) == 0)
        pm = true;
    else
        return nullptr;
    if (tm->tm_hour > 12)
        return nullptr;
    if (!pm && tm->tm_hour == 12)
        tm->tm_hour = 0;
    else if (pm && tm->tm_hour != 12)
        tm->tm_hour += 12;
    return text + 2;
}

// One conversion c at text; *fmt points after it.  Null on a mismatch.
const char *convert(char c, const char *text, const char **fmt, struct tm *tm)
{
    int v = 0;
    switch (c) {
    case '%':
        return *text == '%' ? text + 1 : nullptr;
    case 'a': case 'A':
        return match_name(text, En_US.weekday_names, En_US.abbrev_weekday_names, 7, &tm->tm_wday);
    case 'b': case 'B': case 'h':
        return match_name(text, En_US.month_names, En_US.abbrev_month_names, 12, &tm->tm_mon);
    case 'd': case 'e':
        text = numeric(text, fmt, 0, 31, &v, true);
        if (text) tm->tm_mday = v;
        return text;
    case 'H': case 'k':
        text = numeric(text, fmt, 0, 23, &v, true);
        if (text) tm->tm_hour = v;
        return text;
    case 'I': case 'l':
        text = numeric(text, fmt, 0, 11, &v, true);
        if (text) tm->tm_hour = v;
        return text;
    case 'j':
        text = numeric(text, fmt, 0, 365, &v, false);
        if (text) tm->tm_yday = v;
        return text;
    case 'm':
        text = numeric(text, fmt, 1, 12, &v, true);
        if (text) tm->tm_mon = v - 1;
        return text;
    case 'M': case 'S':
        if (is_space(*text))
            return text;
        text = numeric(text, fmt, 0, 59, &v, true);
        if (text) (c == 'M' ? tm->tm_min : tm->tm_sec) = v;
        return text;
    case 'y': case 'Y':
        if (is_space(*text))
            return text;
        text = numeric(text, fmt, 0, INT_MAX, &v, true);
        if (!text)
            return nullptr;
        v = year_window(v);
        if (c == 'Y') {
            v -= 1900;
            if (v < 0)
                return nullptr;
        }
        tm->tm_year = v;
        return text;
    case 'p':
        return am_pm(text, tm);
    case 'C':
        return ptime(text, En_US.ldate_format, tm);
    case 'c':
        return ptime(text, "%x %X", tm);
    case 'D': case 'x':
        return ptime(text, En_US.sdate_format, tm);
    case 'R':
        return ptime(text, "%H:%M", tm);
    case 'r':
        return ptime(text, "%I:%M:%S %p", tm);
    case 'T': case 'X':
        return ptime(text, En_US.time_format, tm);
    default:
        return text;
    }
}

const char *ptime(const char *text, const char *fmt, struct tm *tm)
{
    while (*fmt && *text) {
        char f = *fmt++;
        if (is_space(f)) {
            while (is_space(*text))
                text++;
        } else if (f != '%') {
            if (*text != f)
                return nullptr;
            text++;
        } else if (*fmt == '\0') {
            // A lone "%" ending the format matches a "%" in the text.
            return *text == '%' ? text + 1 : nullptr;
        } else {
            char c = *fmt++;
            text = convert(c, text, &fmt, tm);
            if (!text)
                return nullptr;
        }
    }
    return text;
}

// Date texts of fixed layouts.

// atoi over buf[from..to]: leading blanks, a sign, then digits up to the
// first other character or the end of the field.
int field(const char *buf, int from, int to)
{
    int i = from;
    while (i <= to && is_space(buf[i]))
        i++;
    bool negative = false;
    if (i <= to && (buf[i] == '+' || buf[i] == '-'))
        negative = buf[i++] == '-';
    int v = 0;
    for (; i <= to && is_digit(buf[i]); i++)
        v = v * 10 + (buf[i] - '0');
    return negative ? -v : v;
}

int count_char(const char *buf, int n, char c)
{
    int count = 0;
    for (int i = 0; i < n; i++)
        count += buf[i] == c;
    return count;
}

// Whether the first n characters of a and b agree but for the case of ASCII letters.
bool same_ascii_letters(const char *a, const char *b, int n)
{
    for (int i = 0; i < n; i++)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

int month_of_name(const char *m)
{
    if (!m || strnlen(m, 3) < 3)
        return 0;
    for (int i = 0; i < 12; i++)
        if (same_ascii_letters(m, En_US.abbrev_month_names[i], 3))
            return i;
    return 0;
}

// A time of day: "H:M" (unchecked) or "H:M:S" (out-of-range parts become 0);
// a capital P after the first colon adds 12 hours.
void parse_time(const char *s, int *hour, int *min, int *sec)
{
    *hour = *min = *sec = 0;
    if (!s || strnlen(s, 4) <= 3)
        return;
    char copy[9] = {};
    memcpy(copy, s, strnlen(s, 8));
    char *colon = strchr(copy, ':');
    if (!colon)
        return;
    *colon = '\0';
    *hour = field(copy, 0, (int)(colon - copy) - 1);
    if (strchr(colon + 1, 'P'))
        *hour += 12;
    char *second_colon = strchr(colon + 1, ':');
    if (!second_colon) {
        *min = field(colon + 1, 0, (int)strlen(colon + 1) - 1);
        return;
    }
    *second_colon = '\0';
    *min = field(colon + 1, 0, (int)strlen(colon + 1) - 1);
    *sec = field(second_colon + 1, 0, (int)strnlen(second_colon + 1, 2) - 1);
    if (*sec >= 60)
        *sec = 0;
    if (*min >= 60)
        *min = 0;
    if (*hour > 23)
        *hour = 0;
}

// parse_time over the characters buf[from..to].
void parse_time_field(const char *buf, int from, int to, struct tm *t)
{
    char part[21] = {};
    memcpy(part, buf + from, (size_t)(to - from + 1));
    parse_time(part, &t->tm_hour, &t->tm_min, &t->tm_sec);
}

// The year of a date given without one: the candidate (last, this or next
// year) whose date lies nearest to about a month before now, counting months
// as 30 days and years as 365.
void guess_year(struct tm *t, const struct tm &now)
{
    long long base = (now.tm_mday - (long long)t->tm_mday) + (now.tm_mon - (long long)t->tm_mon) * 30 - 30;
    long long before = base + 365, same = base, after = base - 365;
    auto mag = [](long long v) { return v < 0 ? -v : v; };
    if (mag(before) < mag(same) && mag(before) < mag(after))
        t->tm_year = now.tm_year - 1;
    else if (mag(after) < mag(same) && mag(after) < mag(before))
        t->tm_year = now.tm_year + 1;
    else
        t->tm_year = now.tm_year;
}

int month_above_zero(int value)
{
    return value > 0 ? value - 1 : value;
}

// Formats 2 and 3: three numbers in the first 8 characters, separated by two
// "/" or else two "-"; day_first selects day/month/year over month/day/year.
void parse_numeric_date(const char *buf, int len, bool day_first, struct tm *t)
{
    int n = len < 8 ? len : 8;
    char sep = count_char(buf, n, '/') == 2 ? '/' : count_char(buf, n, '-') == 2 ? '-' : '\0';
    if (!sep)
        return;
    int first = (int)(strchr(buf, sep) - buf);
    int second = (int)(strchr(buf + first + 1, sep) - buf);
    int a = field(buf, 0, first - 1);
    int b = field(buf, first + 1, second - 1);
    t->tm_mday = day_first ? a : b;
    t->tm_mon = month_above_zero(day_first ? b : a);
    t->tm_year = year_window(field(buf, second + 1, n - 1));
}

// Formats 4, 6 and 9 start with "Mon DD ".
void parse_month_day(const char *buf, struct tm *t)
{
    t->tm_mon = month_of_name(buf);
    t->tm_mday = field(buf, 4, 5);
}

// Formats 5 and 8: two-digit month and day, one character apart, from mon_at on.
void parse_numeric_month_day(const char *buf, int mon_at, struct tm *t)
{
    t->tm_mon = month_above_zero(field(buf, mon_at, mon_at + 1));
    t->tm_mday = field(buf, mon_at + 3, mon_at + 4);
}

// Formats 6 and 9: "Mon DD ", a time of day up to time_to, a four-digit year at year_at.
void parse_named_date_time_year(const char *buf, int time_to, int year_at, struct tm *t)
{
    parse_month_day(buf, t);
    parse_time_field(buf, 7, time_to, t);
    t->tm_year = field(buf, year_at, year_at + 3) - 1900;
}

void parse_compact(const char *buf, int len, struct tm *t)
{
    t->tm_year = field(buf, 0, 3) - 1900;
    if (len >= 6) t->tm_mon = field(buf, 4, 5) - 1;
    if (len >= 8) t->tm_mday = field(buf, 6, 7);
    if (len >= 10) t->tm_hour = field(buf, 8, 9);
    if (len >= 12) t->tm_min = field(buf, 10, 11);
    if (len == 14) t->tm_sec = field(buf, 12, 13);
}

void parse_layout(int fmt, const char *buf, int len, struct tm *t, const struct tm &now)
{
    static const int min_length[11] = {0, 11, 7, 7, 12, 8, 20, 14, 10, 17, 4};
    if (fmt < 1 || fmt > 10 || len < min_length[fmt])
        return;
    switch (fmt) {
    case 1:
        if (count_char(buf, 11, '-') != 2)
            return;
        t->tm_mday = field(buf, 0, 1);
        t->tm_mon = month_of_name(buf + 3);
        t->tm_year = field(buf, 7, 10) - 1900;
        break;
    case 2:
    case 3:
        parse_numeric_date(buf, len, fmt == 2, t);
        break;
    case 4:
        parse_month_day(buf, t);
        if (memchr(buf + 7, ':', 5)) {
            parse_time_field(buf, 7, 11, t);
            guess_year(t, now);
        } else {
            t->tm_year = field(buf, 7, 11) - 1900;
        }
        break;
    case 5:
        t->tm_year = year_window(field(buf, 0, 1));
        parse_numeric_month_day(buf, 3, t);
        break;
    case 6:
        parse_named_date_time_year(buf, 14, 16, t);
        break;
    case 7:
        parse_compact(buf, 14, t);
        break;
    case 8:
        t->tm_year = field(buf, 0, 3) - 1900;
        parse_numeric_month_day(buf, 5, t);
        break;
    case 9:
        parse_named_date_time_year(buf, 11, 13, t);
        break;
    case 10:
        if (len <= 14)
            parse_compact(buf, len, t);
        break;
    }
}

// Pretty printing: eight buffers taken in turn.

keltools_internal::ring_buffers<8, 128> pretty_buffers;

char *next_ring_buffer()
{
    char *b = pretty_buffers.next();
    b[0] = '\0';
    return b;
}

}  // namespace

time_t timegm1(const struct tm *gmtimein)
{
    long long t;
    if (!gmtimein || !utc_seconds(*gmtimein, &t))
        return 0;
    return (time_t)t;
}

time_t gm2local(time_t t1)
{
    time_t wall;
    if (t1 <= 0 || !local_wall_clock(t1, &wall))
        return 0;
    return wall;
}

time_t local2gm(time_t t1)
{
    if (t1 == 0)
        return 0;
    if (t1 < 0) {
        // No local offset is taken before 1970: the offset is -t1 itself.
        if (t1 < LLONG_MIN / 2)
            return 0;
        return t1 * 2;
    }
    time_t wall;
    if (!local_wall_clock(t1, &wall))
        return 0;
    return t1 - (wall - t1);
}

char *str_ptime(const char *buf, const char *fmt, struct tm *tm)
{
    if (!buf || !fmt || !tm)
        return nullptr;
    return const_cast<char *>(ptime(buf, fmt, tm));
}

time_t http_getdate(const char *datestring)
{
    static const char *const formats[] = {
        "%a, %d %b %Y %T",   // Sun, 06 Nov 1994 08:49:37 GMT
        "%a, %d-%b-%y %T",   // Sunday, 06-Nov-94 08:49:37 GMT
        "%a %b %d %T %Y",    // Sun Nov  6 08:49:37 1994
    };
    if (!datestring)
        return 0;
    while (is_space(*datestring))
        datestring++;
    struct tm tm = {};
    for (const char *format : formats) {
        if (ptime(datestring, format, &tm)) {
            // A text that ends early leaves the year at 1900: no date at all.
            time_t t = timegm1(&tm);
            return t < 0 ? 0 : t;
        }
    }
    return 0;
}

char *pretty_date(time_t t)
{
    char *b = next_ring_buffer();
    struct tm tm;
    if (gmtime_r(&t, &tm))
        snprintf1(b, 128, "%02d/%02d/%04lld %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                  tm.tm_year + 1900LL, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return b;
}

char *pretty_dateonly(time_t t)
{
    char *b = next_ring_buffer();
    struct tm tm;
    if (gmtime_r(&t, &tm))
        snprintf1(b, 128, "%02d/%02d/%04lld", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900LL);
    return b;
}

char *pretty_difftime(time_t t)
{
    static const struct {
        long long seconds;
        const char *format;
    } units[] = {
        {31536000, "%s%lldy"}, {2592000, "%s%lldmn"}, {86400, "%s%lldd"},
        {3600, "%s%lldh"},     {60, "%s%lldm"},       {1, "%s%llds"},
    };
    char *b = next_ring_buffer();
    if (t == 0) {
        snprintf1(b, 128, "0s");
        return b;
    }
    size_t len = 0;
    // The magnitude as unsigned, so that the most negative time has one too.
    unsigned long long rest = t < 0 ? 0ULL - (unsigned long long)t : (unsigned long long)t;
    if (t < 0)
        b[len++] = '-', b[len] = '\0';
    bool written = false;
    for (const auto &unit : units) {
        unsigned long long size = (unsigned long long)unit.seconds;
        if (rest <= size)
            continue;
        len += (size_t)snprintf1(b + len, 128 - len, unit.format, written ? " " : "",
                                 (long long)(rest / size));
        rest %= size;
        written = true;
    }
    return b;
}

int txt2mon(const char *m)
{
    return month_of_name(m);
}

char *make_time(unsigned long time)
{
    static char buf[10];
    if (time > 3599999)
        time = 3599999;
    unsigned hours = (unsigned)(time / 3600), minutes = (unsigned)(time / 60 % 60),
             seconds = (unsigned)(time % 60);
    auto digit = [](unsigned d) { return (char)('0' + d); };
    if (hours == 0) {
        memcpy(buf, "    ", 4);
    } else {
        buf[0] = hours >= 100 ? digit(hours / 100) : ' ';
        buf[1] = hours >= 10 ? digit(hours / 10 % 10) : ' ';
        buf[2] = digit(hours % 10);
        buf[3] = ':';
    }
    buf[4] = (hours == 0 && minutes < 10) ? ' ' : digit(minutes / 10);
    buf[5] = digit(minutes % 10);
    buf[6] = ':';
    buf[7] = digit(seconds / 10);
    buf[8] = digit(seconds % 10);
    buf[9] = '\0';
    return buf;
}

time_t parse_date_time(int fmt, const char *ds, const char *ts)
{
    time_t current = time(nullptr);
    struct tm now = {};
    gmtime_r(&current, &now);
    struct tm t = {};
    t.tm_mday = 1;
    t.tm_year = now.tm_year;

    // A working copy of at most 20 characters, so that no layout reads past it.
    char buf[21] = {};
    if (ds)
        memcpy(buf, ds, strnlen(ds, 20));
    parse_layout(fmt, buf, (int)strlen(buf), &t, now);
    if (ts)
        parse_time(ts, &t.tm_hour, &t.tm_min, &t.tm_sec);
    if (t.tm_year <= 69)
        return 0;
    time_t result = timegm1(&t);
    return result < 0 ? 0 : result;
}
