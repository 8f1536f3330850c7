// Date texts of fixed layouts, times of day, month names, duration columns
// and strptime-style parsing.  Every date test runs under UTC and under a
// zone three hours east of it: the date parsers must not depend on the zone.
#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

namespace {

using kt_test::TzGuard;

// The platform's own UTC reading serves as the reference; it normalises
// out-of-range fields the way mktime does.
time_t utc(int year, int month, int day, int hour = 0, int min = 0, int sec = 0)
{
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return timegm(&t);
}

struct tm today()
{
    time_t now = time(nullptr);
    struct tm t;
    gmtime_r(&now, &t);
    return t;
}

int this_year() { return today().tm_year + 1900; }

time_t jan1(int hour = 0, int min = 0, int sec = 0) { return utc(this_year(), 1, 1, hour, min, sec); }

class DateParse : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override { tz_.emplace(GetParam()); }
    void TearDown() override { tz_.reset(); }
    std::optional<TzGuard> tz_;
};

INSTANTIATE_TEST_SUITE_P(Zones, DateParse, ::testing::Values("UTC0", "MSK-3"));

struct Case {
    int fmt;
    const char *ds;
    time_t expected;
};

void check(const std::initializer_list<Case> &cases)
{
    for (const Case &c : cases)
        EXPECT_EQ(parse_date_time(c.fmt, c.ds, nullptr), c.expected)
            << "format " << c.fmt << " text '" << c.ds << "'";
}

TEST_P(DateParse, DayMonthNameYearNeedsTwoDashes)
{
    check({{1, "08-Dec-2026", utc(2026, 12, 8)},
           {1, " 8-dec-2026", utc(2026, 12, 8)},
           {1, "08-DECEMBER-2026", jan1()},      // one "-" in the first 11 characters
           {1, "08/Dec/2026", jan1()},
           {1, "8-Dec-2026", jan1()},            // 10 characters: too short
           {1, "08-Dec-2026-", utc(2026, 12, 8)},
           {1, "08-Dec-1969", 0}});
}

TEST_P(DateParse, NumericDatesUseEightCharactersAndTwoDigitYears)
{
    check({{2, "08/12/26", utc(2026, 12, 8)},
           {3, "12/08/26", utc(2026, 12, 8)},
           {2, "08-12-99", utc(1999, 12, 8)},
           {2, "08/12/2026", utc(2020, 12, 8)},
           {2, "8/1/2026", utc(3926, 1, 8)},  // a whole year field counts years after 1900
           {2, "08/00/26", utc(2026, 1, 8)},  // month 0 stays January
           {2, "8/1/26", jan1()},             // 6 characters: too short
           {2, "08/12-26", jan1()},           // one of each separator
           {2, "08-12/2026/7", jan1()},       // two "/" only beyond the 8th character
           {2, "31/12/69", 0},
           {3, "12-31-49", utc(2049, 12, 31)}});
}

TEST_P(DateParse, MonthDayWithYearOrTime)
{
    check({{4, "Dec  8  2026", utc(2026, 12, 8)},
           {4, "Dec  8 2026", jan1()},  // 11 characters: too short
           {6, "Dec 08 05:07:31 2026", utc(2026, 12, 8, 5, 7, 31)},
           {6, "Dec 08 05:07:31 202", jan1()},
           {9, "Dec 08 05:07 2026", utc(2026, 12, 8, 5, 7)},
           {9, "Dec 08 05:07 202", jan1()}});
    EXPECT_EQ(parse_date_time(6, "Dec 08 05:07:31 2026", "10:20:30"), utc(2026, 12, 8, 10, 20, 30));
    EXPECT_EQ(parse_date_time(9, "Dec 08 05:07 2026", "noon"), utc(2026, 12, 8));
}

// A date given with a time but no year lands in the year that puts it
// nearest to about a month before today.
TEST_P(DateParse, MissingYearIsGuessedAroundToday)
{
    static const char *names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm now = today();
    int day = now.tm_mday > 28 ? 28 : now.tm_mday;
    // shift: months from today to the date; nearest: where that date is taken.
    static const std::pair<int, int> shifts[] = {{0, 0}, {-1, -1}, {-4, -4}, {3, 3}, {6, -6}, {8, -4}};
    for (auto [shift, nearest] : shifts) {
        int months = now.tm_year * 12 + now.tm_mon + nearest;
        int month = months % 12, year = months / 12 + 1900;
        ASSERT_EQ(month, ((now.tm_mon + shift) % 12 + 12) % 12);
        char text[32];
        snprintf(text, sizeof text, "%s %2d 05:07", names[month], day);
        EXPECT_EQ(parse_date_time(4, text, nullptr), utc(year, month + 1, day, 5, 7)) << text;
    }
}

TEST_P(DateParse, CompactAndIsoDates)
{
    check({{5, "26-12-08", utc(2026, 12, 8)},
           {5, "99x12y08", utc(1999, 12, 8)},
           {5, "26-00-08", utc(2026, 1, 8)},
           {5, "26-12-8", jan1()},
           {5, "50-01-01", 0},
           {7, "20261208050731", 1796706451},
           {7, "20270001000000", utc(2026, 12, 1)},  // month 0 becomes December before
           {7, "20260132000000", utc(2026, 2, 1)},   // day 32 of January carries over
           {7, "2026120805073", jan1()},
           {8, "2026-12-08", utc(2026, 12, 8)},
           {8, "2026x12y08", utc(2026, 12, 8)},
           {8, "2026-00-08", utc(2026, 1, 8)},
           {8, "2026-12-8", jan1()}});
}

TEST_P(DateParse, DigitsOnlyGrowFieldByField)
{
    check({{10, "2026", utc(2026, 1, 1)},
           {10, "20261", utc(2026, 1, 1)},
           {10, "202612", utc(2026, 12, 1)},
           {10, "202600", utc(2025, 12, 1)},
           {10, "20261208", utc(2026, 12, 8)},
           {10, "2026120805", utc(2026, 12, 8, 5)},
           {10, "202612080507", utc(2026, 12, 8, 5, 7)},
           {10, "2026120805073", utc(2026, 12, 8, 5, 7)},  // seconds only at exactly 14
           {10, "20261208050731", utc(2026, 12, 8, 5, 7, 31)},
           {10, "202612080507311", jan1()},
           {10, "202", jan1()},
           {10, "1969", 0}});
}

TEST_P(DateParse, UnknownFormatsAndBadTextsKeepTheDefaults)
{
    for (int fmt : {0, 11, -1, INT_MIN})
        EXPECT_EQ(parse_date_time(fmt, "20261208050731", nullptr), jan1());
    EXPECT_EQ(parse_date_time(0, "", "10:20:30"), jan1(10, 20, 30));
    for (int fmt = 1; fmt <= 10; fmt++) {
        EXPECT_EQ(parse_date_time(fmt, "", nullptr), jan1()) << fmt;
        EXPECT_EQ(parse_date_time(fmt, nullptr, nullptr), jan1()) << fmt;
    }
    // A NUL right after the month name: the text is just too short.
    char cut[] = "08-Dec\0-2026";
    EXPECT_EQ(parse_date_time(1, cut, nullptr), jan1());

    std::string digits(1000, '9'), letters(1000, 'a');
    EXPECT_EQ(parse_date_time(10, digits.c_str(), nullptr), jan1());
    // Only 20 characters are looked at: year 9999, month 99, day 99, 99:99:99.
    struct tm big = {};
    big.tm_year = 9999 - 1900, big.tm_mon = 98, big.tm_mday = 99;
    big.tm_hour = big.tm_min = big.tm_sec = 99;
    EXPECT_EQ(parse_date_time(7, digits.c_str(), nullptr), timegm(&big));
    EXPECT_EQ(parse_date_time(6, letters.c_str(), nullptr), 0);  // year 0
    EXPECT_EQ(parse_date_time(1, letters.c_str(), nullptr), jan1());
}

TEST_P(DateParse, TimeOfDayText)
{
    struct {
        const char *ts;
        time_t expected;
    } cases[] = {
        {"5:07 PM", jan1(17, 7)},
        {"5:07 pm", jan1(5, 7)},           // only a capital P counts
        {"12:30 PM", jan1(24, 30)},        // hour 24 is the next day
        {"25:70:99", jan1()},              // every part out of range
        {"25:70", jan1(25, 70)},           // no checks without seconds
        {"5:07:31P", jan1(17, 7, 31)},
        {"05:07:31 PM", jan1(5, 7, 31)},   // the P lies past 8 characters
        {"1:2:345", jan1(1, 2, 34)},       // two characters of seconds
        {"1:2:59", jan1(1, 2, 59)},
        {"23:59:60", jan1(23, 59)},
        {"24:00:00", jan1()},
        {"1:2", jan1()},                   // three characters or fewer
        {"1230", jan1()},                  // no colon
        {"", jan1()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse_date_time(0, "", c.ts), c.expected) << "'" << c.ts << "'";
}

TEST(MonthNames, FirstThreeLettersInAnyCase)
{
    EXPECT_EQ(txt2mon("DECEMBER"), 11);
    EXPECT_EQ(txt2mon("sEp"), 8);
    EXPECT_EQ(txt2mon("feb"), 1);
    EXPECT_EQ(txt2mon("Jun"), 5);
    EXPECT_EQ(txt2mon("xyz"), 0);
    EXPECT_EQ(txt2mon("Ma"), 0);
    EXPECT_EQ(txt2mon(""), 0);
}

TEST(DurationColumn, RightAlignedInNineCharacters)
{
    struct {
        unsigned long seconds;
        const char *text;
    } cases[] = {
        {0, "     0:00"},     {75, "     1:15"},    {599, "     9:59"},   {600, "    10:00"},
        {3600, "  1:00:00"},  {3725, "  1:02:05"},  {36000, " 10:00:00"}, {359999, " 99:59:59"},
        {360300, "100:05:00"}, {3599999, "999:59:59"}, {4000000, "999:59:59"},
        {ULONG_MAX, "999:59:59"},
    };
    char *first = make_time(1);
    for (const auto &c : cases) {
        EXPECT_STREQ(make_time(c.seconds), c.text) << c.seconds;
        EXPECT_EQ(make_time(c.seconds), first);
    }
}

// str_ptime: results and the fields it sets; unset fields keep a marker.
struct Parsed {
    struct tm tm;
    const char *rest;
};

Parsed ptime(const char *text, const char *fmt)
{
    Parsed p;
    memset(&p.tm, 0, sizeof p.tm);
    p.tm.tm_sec = p.tm.tm_min = p.tm.tm_hour = p.tm.tm_mday = -7;
    p.tm.tm_mon = p.tm.tm_year = p.tm.tm_wday = p.tm.tm_yday = -7;
    p.rest = str_ptime(text, fmt, &p.tm);
    return p;
}

TEST(StrPtime, HttpDateForms)
{
    const char *text = "Sun, 06 Nov 1994 08:49:37 GMT";
    Parsed p = ptime(text, "%a, %d %b %Y %T");
    EXPECT_EQ(p.rest, text + 25);
    EXPECT_EQ(p.tm.tm_wday, 0);
    EXPECT_EQ(p.tm.tm_mday, 6);
    EXPECT_EQ(p.tm.tm_mon, 10);
    EXPECT_EQ(p.tm.tm_year, 94);
    EXPECT_EQ(p.tm.tm_hour * 10000 + p.tm.tm_min * 100 + p.tm.tm_sec, 84937);
    EXPECT_EQ(p.tm.tm_yday, -7);

    using Pair = std::pair<const char *, const char *>;
    static const Pair forms[] = {{"Sunday, 06-Nov-94 08:49:37 GMT", "%a, %d-%b-%y %T"},
                        {"Sun Nov  6 08:49:37 1994", "%a %b %d %T %Y"},
                        {"Sunday, November, 6, 1994 08:49:37", "%C %T"},
                        {"11/06/94 08:49:37", "%c"}};
    for (auto [t, f] : forms) {
        Parsed q = ptime(t, f);
        ASSERT_NE(q.rest, nullptr) << t;
        EXPECT_EQ(q.tm.tm_mday * 10000 + q.tm.tm_mon * 100 + q.tm.tm_year, 61094) << t;
        EXPECT_EQ(q.tm.tm_hour * 10000 + q.tm.tm_min * 100 + q.tm.tm_sec, 84937) << t;
    }
}

TEST(StrPtime, NamesIgnoreCaseLiteralsDoNot)
{
    Parsed p = ptime("DECEMBER", "%B");
    EXPECT_EQ(p.tm.tm_mon, 11);
    EXPECT_STREQ(p.rest, "");
    EXPECT_STREQ(ptime("Mayday", "%b").rest, "day");
    EXPECT_STREQ(ptime("June 5", "%h").rest, " 5");
    EXPECT_STREQ(ptime("Juno", "%b").rest, "o");
    EXPECT_EQ(ptime("thu", "%A").tm.tm_wday, 4);
    EXPECT_EQ(ptime("Xyz", "%a").rest, nullptr);
    EXPECT_EQ(ptime("t", "T").rest, nullptr);
    EXPECT_STREQ(ptime("T1", "T").rest, "1");
}

TEST(StrPtime, NumbersRangesAndYearWindows)
{
    EXPECT_EQ(ptime("05", "%y").tm.tm_year, 105);
    EXPECT_EQ(ptime("94", "%y").tm.tm_year, 94);
    EXPECT_EQ(ptime("123", "%y").tm.tm_year, 123);
    EXPECT_EQ(ptime("2026", "%Y").tm.tm_year, 126);
    EXPECT_EQ(ptime("1900", "%Y").tm.tm_year, 0);
    EXPECT_EQ(ptime("94", "%Y").rest, nullptr);
    EXPECT_EQ(ptime("1899", "%Y").rest, nullptr);
    EXPECT_EQ(ptime("12", "%m").tm.tm_mon, 11);
    EXPECT_EQ(ptime("365", "%j").tm.tm_yday, 365);
    using Pair = std::pair<const char *, const char *>;
    static const Pair bad[] = {{"00", "%m"}, {"13", "%m"}, {"32", "%d"}, {"24", "%H"},
                        {"12", "%I"}, {"60", "%M"}, {"60", "%S"}, {"366", "%j"}, {"-1", "%d"},
                        {"x", "%H"}, {"1230", "%H%M"}, {"99999999999999999999", "%y"},
                        {"4294967302", "%d"}};
    for (auto [t, f] : bad)
        EXPECT_EQ(ptime(t, f).rest, nullptr) << t << " with " << f;

    // A failure keeps what was set before it.
    Parsed p = ptime("10:20:99", "%T");
    EXPECT_EQ(p.rest, nullptr);
    EXPECT_EQ(p.tm.tm_hour * 100 + p.tm.tm_min, 1020);
}

TEST(StrPtime, WhiteSpaceAfterANumberEndsTheFormatItem)
{
    Parsed p = ptime("5 PM", "%H:%M %p");  // ":%M" is dropped
    EXPECT_EQ(p.tm.tm_hour, 17);
    EXPECT_EQ(p.tm.tm_min, -7);
    EXPECT_STREQ(ptime("10 :05", "%d:%H").rest, " :05");
    EXPECT_EQ(ptime("100 :05", "%j:%H").rest, nullptr);  // %j has no such rule
    p = ptime("10: 30", "%H:%M");                        // %M at a blank reads nothing
    EXPECT_STREQ(p.rest, " 30");
    EXPECT_EQ(p.tm.tm_min, -7);
    p = ptime("10 GMT", "%H %Z");
    EXPECT_STREQ(p.rest, "GMT");
    EXPECT_EQ(p.tm.tm_hour, 10);
}

TEST(StrPtime, TwelveHourClock)
{
    Parsed p = ptime("01:30:00 PM", "%r");
    EXPECT_EQ(p.tm.tm_hour * 10000 + p.tm.tm_min * 100 + p.tm.tm_sec, 133000);
    EXPECT_EQ(ptime("12:30:00 PM", "%r").rest, nullptr);
    EXPECT_EQ(ptime("12 am", "%H %p").tm.tm_hour, 0);
    EXPECT_EQ(ptime("12 pm", "%H %p").tm.tm_hour, 12);
    EXPECT_EQ(ptime("13 PM", "%H %p").rest, nullptr);
    EXPECT_EQ(ptime("13 AM", "%H %p").rest, nullptr);
    EXPECT_EQ(ptime("11 XM", "%H %p").rest, nullptr);
    EXPECT_EQ(ptime("11 P", "%H %p").rest, nullptr);
}

TEST(StrPtime, EndsAndPercentSigns)
{
    Parsed p = ptime("12", "%H:%M");  // the text ended first
    EXPECT_STREQ(p.rest, "");
    EXPECT_EQ(p.tm.tm_hour, 12);
    EXPECT_STREQ(ptime("", "%a %b").rest, "");
    EXPECT_STREQ(ptime("abc", "").rest, "abc");
    EXPECT_STREQ(ptime("12%x", "%H%%").rest, "x");
    EXPECT_STREQ(ptime("12%x", "%H%").rest, "x");
    EXPECT_EQ(ptime("12x", "%H%").rest, nullptr);
    EXPECT_EQ(ptime("12x", "%H%%").rest, nullptr);
    EXPECT_EQ(ptime("12", "%Q%H").tm.tm_hour, 12);  // unknown conversions are skipped
    EXPECT_STREQ(ptime("08:49", "%R").rest, "");
}

}  // namespace
