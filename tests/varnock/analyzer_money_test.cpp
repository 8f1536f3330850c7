// The money and quantity texts of the reports.

#include "money_text.h"
#include "output.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

namespace {

std::string green(const std::string &s) { return "<font color=darkgreen>" + s + "</font>"; }
std::string red(const std::string &s) { return "<font color=red>" + s + "</font>"; }

TEST(Money, HundredthsFollowTheDecimalValueAndAreCutNotRounded)
{
    EXPECT_STREQ(stf(0, 0), "0.00");
    EXPECT_STREQ(stf(0.30, 0), "0.30");
    EXPECT_STREQ(stf(0.35, 0), "0.35");
    EXPECT_STREQ(stf(19.99, 0), "19.99");
    EXPECT_STREQ(stf(1.10, 0), "1.10");
    EXPECT_STREQ(stf(1.05, 0), "1.05");
    EXPECT_STREQ(stf(2.999, 0), "2.99");
    EXPECT_STREQ(stf(0.009, 0), "0.00");
    EXPECT_STREQ(stf(1234.5, 0), "1,234.50");
}

TEST(Money, WholePartIsGroupedWithoutA32BitLimit)
{
    EXPECT_STREQ(stf(999, 0), "999.00");
    EXPECT_STREQ(stf(1000, 0), "1,000.00");
    EXPECT_STREQ(stf(100000, 0), "100,000.00");
    EXPECT_STREQ(stf(1000000, 0), "1,000,000.00");
    EXPECT_STREQ(stf(1234567.891, 0), "1,234,567.89");
    EXPECT_STREQ(stf(2147483647.99, 0), "2,147,483,647.99");
    EXPECT_STREQ(stf(4294967296.5, 0), "4,294,967,296.50");
    EXPECT_STREQ(stf(-4294967296.5, 1), red("-4,294,967,296.50").c_str());
    // The largest double: 309 whole digits in 103 groups, nothing cut off.
    std::string huge = stf(DBL_MAX, 1);
    EXPECT_EQ(huge.size(), green("").size() + 309 + 102 + 3);
    EXPECT_EQ(huge.substr(0, 29), "<font color=darkgreen>179,769");
    EXPECT_EQ(huge.substr(huge.size() - 14), ",368.00</font>");
}

TEST(Money, SignAndColour)
{
    EXPECT_STREQ(stf(0, 1), green("0.00").c_str());
    EXPECT_STREQ(stf(500, 1), green("500.00").c_str());
    EXPECT_STREQ(stf(-1.05, 0), "-1.05");
    EXPECT_STREQ(stf(-2.5, 1), red("-2.50").c_str());
    EXPECT_STREQ(stf(-1234.5, 0), "-1,234.50");
    // Below a hundredth still counts as negative; minus zero does not.
    EXPECT_STREQ(stf(-0.004, 1), red("-0.00").c_str());
    EXPECT_STREQ(stf(-0.004, 0), "-0.00");
    EXPECT_STREQ(stf(-0.0, 1), green("0.00").c_str());
    EXPECT_STREQ(stf(-0.0, 0), "0.00");
}

TEST(Money, NonFiniteValuesShowInfOrNan)
{
    EXPECT_STREQ(stf(INFINITY, 0), "inf");
    EXPECT_STREQ(stf(INFINITY, 1), green("inf").c_str());
    EXPECT_STREQ(stf(-INFINITY, 0), "-inf");
    EXPECT_STREQ(stf(-INFINITY, 1), red("-inf").c_str());
    EXPECT_STREQ(stf(NAN, 0), "nan");
    EXPECT_STREQ(stf(-NAN, 1), green("nan").c_str());
}

TEST(Money, RingKeepsTheLastHundredTexts)
{
    char *first = stf(1, 0);
    std::vector<char *> seen{first};
    for (int k = 2; k <= 100; k++)
        seen.push_back(stf(k, 0));
    EXPECT_STREQ(first, "1.00");
    EXPECT_STREQ(seen[99], "100.00");
    for (int k = 1; k < 100; k++)
        EXPECT_NE(seen[k], first);
    char *again = stf(101, 0);
    EXPECT_EQ(again, first);
    EXPECT_STREQ(first, "101.00");
}

TEST(Quantity, NearestWholeNumberHalfToEvenWithoutGrouping)
{
    EXPECT_STREQ(stn(0), "0");
    EXPECT_STREQ(stn(-0.0), "0");
    EXPECT_STREQ(stn(0.004), "0");
    EXPECT_STREQ(stn(-0.009), "0");
    EXPECT_STREQ(stn(0.01), "0");
    EXPECT_STREQ(stn(-0.01), "-0");
    EXPECT_STREQ(stn(-0.3), "-0");
    EXPECT_STREQ(stn(-0.5), "-0");
    EXPECT_STREQ(stn(-0.6), "-1");
    EXPECT_STREQ(stn(0.5), "0");
    EXPECT_STREQ(stn(1.5), "2");
    EXPECT_STREQ(stn(2.5), "2");
    EXPECT_STREQ(stn(99.5), "100");
    EXPECT_STREQ(stn(100.5), "100");
    EXPECT_STREQ(stn(99.996), "100");
    EXPECT_STREQ(stn(1500), "1500");
    EXPECT_STREQ(stn(-1234567), "-1234567");
    EXPECT_STREQ(stn(1e20), "100000000000000000000");
    EXPECT_STREQ(stn(INFINITY), "inf");
    EXPECT_STREQ(stn(-INFINITY), "-inf");
    EXPECT_EQ(strlen(stn(DBL_MAX)), 309u);
}

}  // namespace

namespace {

// The report's fixed-point texts must be exactly printf's, ties and all.
TEST(FixedText, MatchesPrintfForEveryKindOfDouble)
{
    std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.0078125, 0.00000050000000000000001,
                                  0.30, 19.99, 1e-300, 5e-324, 4503599627370495.5,
                                  9007199254740991.0, 9007199254740992.0, 1.8e19, 1e22, DBL_MAX};
    uint64_t state = 88172645463325252ull;
    for (int k = 0; k < 200000; k++) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        double v;
        if (k % 4 == 0) {  // any bit pattern
            memcpy(&v, &state, sizeof v);
        } else if (k % 4 == 1) {  // money with cents, some of it scaled down to ties
            v = (double)(state % 100000000000ull) / (k % 3 ? 100 : 1 << (state % 30));
        } else {  // prices and quantities
            v = (double)(state % 10000000) / 10000.0 * (state & 1 ? 1 : -1);
        }
        values.push_back(v);
    }
    for (double v : values) {
        if (!std::isfinite(v))
            continue;  // below: the same text on every platform
        for (int places : {0, 4, 6}) {
            char mine[330], expected[400];
            fixed_text(mine, v, places);
            snprintf(expected, sizeof expected, "%.*f", places, v);
            ASSERT_STREQ(mine, expected) << "%." << places << "f of " << v;
        }
    }
}

// glibc's texts, whatever the platform's C library writes (a trade of price 0
// has a quantity of inf or nan in its trade line).
TEST(FixedText, NotANumberAndInfinityReadAlikeEverywhere)
{
    char text[330];
    const std::vector<std::pair<double, const char *>> cases = {
        {NAN, "nan"}, {-NAN, "-nan"}, {INFINITY, "inf"}, {-INFINITY, "-inf"}};
    for (const auto &[v, expected] : cases) {
        fixed_text(text, v, 5);
        EXPECT_STREQ(text, expected);
    }
    *put_fixed(text, -NAN, 5, 10) = 0;
    EXPECT_STREQ(text, "      -nan");
    *put_fixed(text, INFINITY, 3, 15) = 0;
    EXPECT_STREQ(text, "            inf");
}

}  // namespace
