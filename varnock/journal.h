// The trader's journal of profit.html: statistics of the closings per year
// and over all years, and the realised result month by month.  Included by
// the FIFO book (which collects the closings), the profit page and their tests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// A closing: one trade that closed at least one lot, with the sum of its
// pieces.  Closings are given in time order.
struct journal_closing_t {
    int32_t year;
    int32_t month;          // 1 to 12, of the closing trade
    int64_t result;         // kopecks
    bool short_side;        // it bought back a short sale
    double quantity;        // shares closed, all its pieces
    double quantity_days;   // quantity times days held, summed over its pieces
};

// Sums from which the statistics rows are read; money in kopecks.
struct journal_stats_t {
    int64_t closings = 0, winners = 0, losers = 0;
    int64_t long_closings = 0, short_closings = 0;
    int64_t total = 0, wins = 0, losses = 0;         // losses: a sum <= 0
    int64_t largest_win = 0, largest_loss = 0;        // 0 when there is none
    int64_t max_drawdown = 0;                         // >= 0
    double win_quantity = 0, win_quantity_days = 0;   // for the days held
    double loss_quantity = 0, loss_quantity_days = 0;

    // Derived figures; each is empty where it has nothing to divide by.  The
    // quotients of whole numbers are rounded half away from zero to the unit
    // the page prints, so that 1/16 reads 6.3%, not the 6.2 of a binary 6.25.
    std::optional<int64_t> win_rate() const;          // tenths of a percent
    std::optional<int64_t> average_win() const;       // kopecks, half away from zero
    std::optional<int64_t> average_loss() const;
    std::optional<int64_t> profit_factor() const;     // wins / |losses|, hundredths
    std::optional<int64_t> expectancy() const;        // total / closings
    std::optional<double> win_days_held() const;      // weighted by quantity
    std::optional<double> loss_days_held() const;
};

// The statistics of the closings given (in time order); the drawdown curve
// starts at 0.
journal_stats_t journal_stats(const std::vector<journal_closing_t> &closings);

// The realised result of each month of a year; a month without closings is
// empty, a month number outside 1 to 12 counts as the nearest month.  Rows
// for the years with closings, ascending.
struct month_row_t {
    int32_t year;
    std::array<std::optional<int64_t>, 12> months;
    int64_t total;
};
std::vector<month_row_t> month_table(const std::vector<journal_closing_t> &closings);
