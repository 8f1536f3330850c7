// The chart's value axis: round steps, four to eight ticks around the data.

#include "chart_scale.h"

#include <gtest/gtest.h>

namespace {

TEST(ChartScale, RoundStepsCoverTheLowestAndHighestPoint)
{
    using ticks = std::vector<int64_t>;
    EXPECT_EQ(axis_ticks(0, 1240133), (ticks{0, 200000, 400000, 600000, 800000, 1000000, 1200000, 1400000}));
    EXPECT_EQ(axis_ticks(-14084, 1240133), (ticks{-250000, 0, 250000, 500000, 750000, 1000000, 1250000}));
    EXPECT_EQ(axis_ticks(-30000, 70000), (ticks{-40000, -20000, 0, 20000, 40000, 60000, 80000}));
    EXPECT_EQ(axis_ticks(0, 0), (ticks{0, 1, 2, 3}));           // no range: one kopeck steps
    EXPECT_EQ(axis_ticks(500, 500), (ticks{500, 501, 502, 503}));
    EXPECT_EQ(axis_ticks(0, 700), (ticks{0, 100, 200, 300, 400, 500, 600, 700}));
    EXPECT_EQ(axis_ticks(0, 701), (ticks{0, 200, 400, 600, 800}));
    auto wide = axis_ticks(INT64_MIN, INT64_MAX);  // no overflow at the ends
    EXPECT_GE(wide.size(), 4u);
    EXPECT_LE(wide.size(), 8u);
}

}  // namespace
