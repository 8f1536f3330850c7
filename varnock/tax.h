// The personal income tax estimate of profit.html: a year's financial result
// by FIFO, losses of earlier years carried forward, and the tax at the year's
// rates.  Included by the profit page and its tests.
#pragma once

#include <cstdint>
#include <vector>

// A year with closings: its proceeds and its cost plus fees, in kopecks.
struct tax_input_t {
    int32_t year;
    int64_t income;    // proceeds (income code 1530)
    int64_t expenses;  // cost and fees (deduction code 201)
};

// One row of the estimate; money in kopecks, the tax in whole roubles.
struct tax_row_t {
    int32_t year;
    int64_t income, expenses;
    int64_t result;   // income - expenses
    int64_t carried;  // earlier losses applied to a positive result
    int64_t base;     // result - carried, not below 0
    int64_t tax;      // roubles: below 50 kopecks dropped, 50 and more up
};

// Losses can be carried forward for this many years after the year of the loss.
inline constexpr int loss_carry_years = 10;

// The estimate for the years given in ascending order: each negative result
// is a loss that the positive results of the next ten years use, oldest loss
// first, each kopeck of it once, never more than a year's result.
std::vector<tax_row_t> estimate_tax(const std::vector<tax_input_t> &years);

// The tax on a base (kopecks, >= 0) of the given year, in whole roubles:
// 13% up to 2020; then 15% on the part above 5,000,000.00 (2021 to 2024) or
// above 2,400,000.00 (from 2025).
int64_t tax_of_base(int32_t year, int64_t base);
