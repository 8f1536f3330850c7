// UTC readings of broken-down times, moves between UTC and local wall-clock
// time, HTTP dates, the pretty printers and the timestamp, under fixed time zones.
#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <set>
#include <string>

namespace {

using kt_test::TzGuard;

struct tm fields(int year, int month, int day, int hour = 0, int min = 0, int sec = 0)
{
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return t;
}

// The platform's UTC reading is the reference for dates without a published number.
time_t utc(int year, int month, int day, int hour = 0, int min = 0, int sec = 0)
{
    struct tm t = fields(year, month, day, hour, min, sec);
    return timegm(&t);
}

// Central Europe: summer time from the last Sunday of March, 02:00 local,
// to the last Sunday of October, 03:00 local.
const char *const cet = "CET-1CEST,M3.5.0,M10.5.0/3";

class Zoned : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override { tz_.emplace(GetParam()); }
    void TearDown() override { tz_.reset(); }
    std::optional<TzGuard> tz_;
};

INSTANTIATE_TEST_SUITE_P(Zones, Zoned, ::testing::Values("UTC0", "MSK-3", cet));

TEST_P(Zoned, UtcReadingDoesNotDependOnTheZone)
{
    struct tm t = fields(2026, 12, 8, 5, 7, 31);
    t.tm_isdst = 1;
    t.tm_wday = 5;
    t.tm_yday = 300;
    struct tm before = t;
    EXPECT_EQ(timegm1(&t), 1796706451);
    EXPECT_EQ(memcmp(&t, &before, sizeof t), 0);

    struct tm epoch = fields(1970, 1, 1);
    EXPECT_EQ(timegm1(&epoch), 0);
    // Times inside the summer-time change of the CET zone, the skipped hour included.
    for (int hour : {1, 2, 3}) {
        struct tm spring = fields(2026, 3, 29, hour, 30);
        struct tm autumn = fields(2026, 10, 25, hour, 30);
        EXPECT_EQ(timegm1(&spring), utc(2026, 3, 29, hour, 30));
        EXPECT_EQ(timegm1(&autumn), utc(2026, 10, 25, hour, 30));
    }
}

TEST_P(Zoned, UtcReadingCarriesFieldsOverAndCoversTheWholeRange)
{
    struct {
        struct tm in;
        time_t expected;
    } cases[] = {
        {fields(2026, 13, 1), utc(2027, 1, 1)},           // month 12 is next January
        {fields(2026, 0, 15), utc(2025, 12, 15)},         // month -1
        {fields(2026, 12, 8, 24), utc(2026, 12, 9)},      // hour 24
        {fields(2026, 3, 0), utc(2026, 2, 28)},           // day 0
        {fields(2024, 2, 29), utc(2024, 2, 29)},
        {fields(2026, 1, 1, 0, 0, -1), utc(2025, 12, 31, 23, 59, 59)},
        {fields(2026, 1, 1, 0, 0, 86400 * 365), utc(2027, 1, 1)},
        {fields(1969, 12, 31, 23, 59, 59), -1},
        {fields(1900, 1, 1), -2208988800LL},
        {fields(2100, 3, 1), utc(2100, 3, 1)},
        {fields(2038, 1, 19, 3, 14, 8), 2147483648LL},
    };
    for (auto &c : cases)
        EXPECT_EQ(timegm1(&c.in), c.expected) << c.in.tm_year << "/" << c.in.tm_mon;

    // The last day whose year the record can hold, and the day after it.
    struct tm far = fields(1970, 12, 31, 23, 59, 59);
    far.tm_year = INT_MAX;
    EXPECT_GT(timegm1(&far), 0);
    far.tm_sec = 60;
    EXPECT_EQ(timegm1(&far), 0);
    struct tm early = fields(1970, 1, 1);
    early.tm_year = INT_MIN;
    EXPECT_LT(timegm1(&early), 0);
    early.tm_sec = -1;
    EXPECT_EQ(timegm1(&early), 0);
}

TEST(ZoneMoves, FixedOffsets)
{
    const time_t t = 1796706451;
    {
        TzGuard zone("MSK-3");
        EXPECT_EQ(gm2local(t), t + 10800);
        EXPECT_EQ(local2gm(t), t - 10800);
        EXPECT_EQ(gm2local(1), 10801);
    }
    {
        TzGuard zone("EST5");
        EXPECT_EQ(gm2local(t), t - 18000);
        EXPECT_EQ(local2gm(t), t + 18000);
    }
    {
        TzGuard zone("UTC0");
        EXPECT_EQ(gm2local(t), t);
        EXPECT_EQ(local2gm(t), t);
    }
}

TEST(ZoneMoves, SummerTimeAndLimits)
{
    TzGuard zone(cet);
    time_t winter = utc(2026, 1, 1, 12);
#ifndef _WIN32  // msvcrt reads no summer-time rule from TZ: it applies the US dates
    time_t summer = utc(2026, 7, 1, 12);
    EXPECT_EQ(gm2local(summer), summer + 7200);
    EXPECT_EQ(local2gm(summer), summer - 7200);
#endif
    EXPECT_EQ(gm2local(winter), winter + 3600);
    // Half an hour after summer time ended the winter offset applies.
    time_t after_change = utc(2026, 10, 25, 1, 30);
    EXPECT_EQ(local2gm(after_change), after_change - 3600);

    EXPECT_EQ(gm2local(0), 0);
    EXPECT_EQ(local2gm(0), 0);
    EXPECT_EQ(gm2local(-5), 0);
    EXPECT_EQ(local2gm(-100), -200);  // no offset before 1970: twice t1
    // Times the platform cannot break down give 0, without overflow.
    EXPECT_EQ(gm2local(LLONG_MAX), 0);
    EXPECT_EQ(local2gm(LLONG_MAX), 0);
    EXPECT_EQ(local2gm(LLONG_MIN), 0);
}

TEST_P(Zoned, HttpDatesInThreeForms)
{
    for (const char *text : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                             "  Sun Nov  6 08:49:37 1994", "\t\nsun, 06 nov 1994 08:49:37 gmt",
                             "Mon, 06 Nov 1994 08:49:37 GMT", "Sun Nov 6 08:49:37 1994 trailing"})
        EXPECT_EQ(http_getdate(text), 784111777) << text;
    EXPECT_EQ(http_getdate("Sunday, 06-Nov-05 08:49:37 GMT"), utc(2005, 11, 6, 8, 49, 37));
    EXPECT_EQ(http_getdate("Sat, 06 Nov 2094 08:49:37 GMT"), utc(2094, 11, 6, 8, 49, 37));
    EXPECT_EQ(http_getdate("Thu, 01 Jan 1970 00:00:01 GMT"), 1);

    std::string long_text(1000, '7');
    // Texts that are no date, or stop before their year, or lie before 1970.
    for (const char *text : {"yesterday", "", "   ", "Sun", "Sun, 06 Nov", "Sun Nov  6 08:49:37",
                             "Sun, 06 Nov 1969 08:49:37 GMT", "Sun, 32 Nov 1994 08:49:37 GMT",
                             "Sunday, 06-Nov-", long_text.c_str()})
        EXPECT_EQ(http_getdate(text), 0) << text;
}

TEST_P(Zoned, PrettyDatesAreUtc)
{
    EXPECT_STREQ(pretty_date(784111777), "06/11/1994 08:49:37");
    EXPECT_STREQ(pretty_dateonly(784111777), "06/11/1994");
    EXPECT_STREQ(pretty_date(0), "01/01/1970 00:00:00");
    EXPECT_STREQ(pretty_date(-1), "31/12/1969 23:59:59");
    EXPECT_STREQ(pretty_dateonly(1796706451), "08/12/2026");
    EXPECT_STREQ(pretty_date(LLONG_MAX), "");
    EXPECT_STREQ(pretty_dateonly(LLONG_MIN), "");
}

TEST(PrettyPrinters, EightBuffersInTurn)
{
    std::set<const char *> seen;
    char *first = pretty_date(1);
    seen.insert(first);
    for (int i = 1; i < 8; i++)
        seen.insert(i % 3 == 0 ? pretty_dateonly(i) : i % 3 == 1 ? pretty_difftime(i + 60) : pretty_date(i));
    EXPECT_EQ(seen.size(), 8u);
    EXPECT_STREQ(first, "01/01/1970 00:00:01");  // survived seven more calls
    EXPECT_EQ(pretty_difftime(0), first);          // the ninth call

    char line[512];
    snprintf(line, sizeof line, "%s|%s|%s|%s", pretty_date(784111777), pretty_dateonly(0),
             pretty_difftime(90061), pretty_difftime(-90));
    EXPECT_STREQ(line, "06/11/1994 08:49:37|01/01/1970|1d 1h 1m|-1m 30s");
}

TEST(PrettyPrinters, DurationUnitsAreStrictlyGreater)
{
    struct {
        time_t t;
        const char *text;
    } cases[] = {
        {0, "0s"},          {1, ""},
        {-1, "-"},          {2, "2s"},
        {60, "60s"},        {61, "1m"},
        {3600, "60m"},      {86400, "24h"},
        {90061, "1d 1h 1m"}, {-90, "-1m 30s"},
        {2592000, "30d"},   {2592001, "1mn"},
        {31536000, "12mn 5d"}, {31536002, "1y 2s"},
        {LLONG_MIN, "-292471208677y 6mn 15d 15h 30m 8s"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(pretty_difftime(c.t), c.text) << c.t;
}

}  // namespace

TEST(Timestamp, DayFirstWithLeadingZeros)
{
    time_t before = time(nullptr);
    char *a = datetime();
    time_t after = time(nullptr);
    ASSERT_EQ(strlen(a), 19u);
    std::string text = a;
    bool matched_one = false;
    for (time_t t = before; t <= after; t++) {
        struct tm tm_local;
        localtime_r(&t, &tm_local);
        char expected[32];
        strftime(expected, sizeof expected, "%d/%m/%Y %H:%M:%S", &tm_local);
        matched_one |= text == expected;
    }
    EXPECT_TRUE(matched_one) << text;
    EXPECT_EQ(datetime(), a);  // one static buffer
}
