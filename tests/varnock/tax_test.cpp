// The tax estimate, with figures worked out by hand.

#include "tax.h"

#include <gtest/gtest.h>

namespace {

TEST(Tax, RatesAndRoundingToWholeRoubles)
{
    EXPECT_EQ(tax_of_base(2012, 1240133), 1612);          // 12,401.33 * 13% = 1,612.17
    EXPECT_EQ(tax_of_base(2020, 600000000), 780000);      // one rate up to 2020
    EXPECT_EQ(tax_of_base(2024, 600000000), 800000);      // 650,000 + 1,000,000 * 15%
    EXPECT_EQ(tax_of_base(2025, 600000000), 852000);      // 312,000 + 3,600,000 * 15%
    EXPECT_EQ(tax_of_base(2024, 500000000), 650000);      // at the threshold: all at 13%
    EXPECT_EQ(tax_of_base(2023, 7300), 9);                // 9.49 drops its kopecks
    EXPECT_EQ(tax_of_base(2023, 5000), 7);                // 6.50 goes up
    EXPECT_EQ(tax_of_base(2023, 0), 0);
    // 2^61 kopecks, the page's bound: 2305843009213693952 * 13 / 10000 = 2997595911977802.1376.
    EXPECT_EQ(tax_of_base(2012, INT64_C(2305843009213693952)), INT64_C(2997595911977802));
}

TEST(Tax, LossesCarryForwardOldestFirstForTenYears)
{
    // 2012: 5,876,778.14 - (5,859,048.74 + 5,328.07) = +12,401.33; 2013: -140.84 (the examples).
    auto rows = estimate_tax({{2012, 587677814, 586437681}, {2013, 100, 14184}});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].result, 1240133);
    EXPECT_EQ(rows[0].tax, 1612);
    EXPECT_EQ(rows[1].result, -14084);
    EXPECT_EQ(rows[1].base, 0);
    EXPECT_EQ(rows[1].tax, 0);

    // A loss used up over two years; then two losses used oldest first.
    rows = estimate_tax({{2014, 0, 100000}, {2015, 30000, 0}, {2016, 100000, 0},
                         {2017, 0, 10000}, {2018, 0, 20000}, {2019, 15000, 0}});
    EXPECT_EQ(rows[1].carried, 30000);
    EXPECT_EQ(rows[1].base, 0);
    EXPECT_EQ(rows[2].carried, 70000);
    EXPECT_EQ(rows[2].base, 30000);
    EXPECT_EQ(rows[2].tax, 39);
    EXPECT_EQ(rows[5].carried, 15000);  // 100.00 of 2017, then 50.00 of 2018
    EXPECT_EQ(rows[5].base, 0);

    // A loss of 2013 still serves in 2023, no longer in 2024.
    rows = estimate_tax({{2013, 0, 50000}, {2023, 10000, 0}, {2024, 100000, 0}});
    EXPECT_EQ(rows[1].carried, 10000);
    EXPECT_EQ(rows[2].carried, 0);
    EXPECT_EQ(rows[2].base, 100000);
    EXPECT_EQ(rows[2].tax, 130);
}

}  // namespace
