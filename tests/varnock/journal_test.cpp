// The journal's statistics and month table, with figures worked out by hand.

#include "journal.h"

#include <gtest/gtest.h>

namespace {

journal_closing_t closing(int32_t year, int32_t month, int64_t result, bool short_side = false,
                          double quantity = 10, double days = 1)
{
    return {year, month, result, short_side, quantity, quantity * days};
}

TEST(Journal, StatisticsOfFourClosings)
{
    // +300, -100, +200, -100: the running result 300, 200, 400, 300.
    auto s = journal_stats({closing(2024, 1, 30000, false, 10, 5), closing(2024, 2, -10000, true, 30, 2),
                            closing(2024, 2, 20000, false, 30, 1), closing(2024, 3, -10000)});
    EXPECT_EQ(s.closings, 4);
    EXPECT_EQ(s.winners, 2);
    EXPECT_EQ(s.losers, 2);
    EXPECT_EQ(s.long_closings, 3);
    EXPECT_EQ(s.short_closings, 1);
    EXPECT_EQ(*s.win_rate(), 500);  // 50.0%
    EXPECT_EQ(*s.average_win(), 25000);
    EXPECT_EQ(*s.average_loss(), -10000);
    EXPECT_EQ(*s.profit_factor(), 250);  // 500.00 / 200.00
    EXPECT_EQ(*s.expectancy(), 7500);
    EXPECT_EQ(s.largest_win, 30000);
    EXPECT_EQ(s.largest_loss, -10000);
    EXPECT_EQ(s.max_drawdown, 10000);
    EXPECT_DOUBLE_EQ(*s.win_days_held(), (10 * 5 + 30 * 1) / 40.0);  // weighted by quantity
    EXPECT_DOUBLE_EQ(*s.loss_days_held(), (30 * 2 + 10 * 1) / 40.0);

    // No loss: no profit factor; a drawdown from a peak reached later.
    s = journal_stats({closing(2024, 1, 100), closing(2024, 1, 0), closing(2024, 2, 50)});
    EXPECT_FALSE(s.profit_factor());
    EXPECT_FALSE(s.average_loss());
    EXPECT_EQ(s.max_drawdown, 0);
    s = journal_stats({closing(2024, 1, -500), closing(2024, 1, 300), closing(2024, 2, -400)});
    EXPECT_EQ(s.max_drawdown, 600);  // from 0 down to -600
    EXPECT_EQ(*s.expectancy(), -200);
    EXPECT_EQ(*journal_stats({closing(2024, 1, 1), closing(2024, 1, 0)}).expectancy(), 1);  // 0.5 away from 0

    // One win of 2.00 and fifteen losses of 0.20: 1/16 = 6.25% reads 6.3, 2.00 / 3.00 reads 0.67.
    std::vector<journal_closing_t> sixteen(15, closing(2024, 1, -20));
    sixteen.push_back(closing(2024, 2, 200));
    s = journal_stats(sixteen);
    EXPECT_EQ(*s.win_rate(), 63);
    EXPECT_EQ(*s.profit_factor(), 67);
}

TEST(Journal, MonthsAddUpToTheYear)
{
    auto rows = month_table({closing(2012, 1, 100), closing(2012, 1, -30), closing(2012, 12, 5),
                             closing(2013, 6, -14084), closing(2012, 13, 1), closing(2012, 0, 2)});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].year, 2012);
    EXPECT_EQ(rows[0].months[0], 72);  // 100 - 30, and 2 of a month 0
    EXPECT_FALSE(rows[0].months[1]);
    EXPECT_EQ(rows[0].months[11], 6);  // 5, and 1 of a month 13
    EXPECT_EQ(rows[0].total, 78);
    EXPECT_EQ(rows[1].months[5], -14084);
    EXPECT_EQ(rows[1].total, -14084);
}

}  // namespace
