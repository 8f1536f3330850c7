// The tax estimate: carry-forward of losses and the progressive rates.

#include "tax.h"

#include <algorithm>
#include <deque>

namespace {

// The part of the base taxed at the higher rate starts here (kopecks); 0
// where the year has one rate.
int64_t higher_rate_threshold(int32_t year)
{
    if (year <= 2020)
        return 0;
    if (year <= 2024)
        return 500000000;  // 5,000,000.00
    return 240000000;      // 2,400,000.00
}

// Tax in ten-thousandths of a rouble (kopecks times percent) rounded to whole
// roubles: 50 kopecks and more go up, less is dropped.  Wide, since a base
// may come close to 2^62 kopecks.
int64_t whole_roubles(__int128 ten_thousandths)
{
    return (int64_t)((ten_thousandths + 5000) / 10000);
}

struct open_loss_t {
    int32_t year;
    int64_t left;  // kopecks not used yet, > 0
};

// Uses the losses still open for year, oldest first, against a positive result;
// returns the amount carried.  Losses too old for the year are dropped.
int64_t carry_losses(std::deque<open_loss_t> &losses, int32_t year, int64_t result)
{
    while (!losses.empty() && year - losses.front().year > loss_carry_years)
        losses.pop_front();
    int64_t carried = 0;
    while (carried < result && !losses.empty()) {
        int64_t use = std::min(losses.front().left, result - carried);
        carried += use;
        losses.front().left -= use;
        if (losses.front().left == 0)
            losses.pop_front();
    }
    return carried;
}

}  // namespace

int64_t tax_of_base(int32_t year, int64_t base)
{
    int64_t threshold = higher_rate_threshold(year);
    if (threshold == 0 || base <= threshold)
        return whole_roubles((__int128)base * 13);
    return whole_roubles((__int128)threshold * 13 + (__int128)(base - threshold) * 15);
}

std::vector<tax_row_t> estimate_tax(const std::vector<tax_input_t> &years)
{
    std::vector<tax_row_t> rows;
    std::deque<open_loss_t> losses;
    for (const tax_input_t &y : years) {
        tax_row_t row = {y.year, y.income, y.expenses, y.income - y.expenses, 0, 0, 0};
        if (row.result > 0)
            row.carried = carry_losses(losses, y.year, row.result);
        else if (row.result < 0)
            losses.push_back({y.year, -row.result});
        row.base = std::max<int64_t>(row.result - row.carried, 0);
        row.tax = tax_of_base(y.year, row.base);
        rows.push_back(row);
    }
    return rows;
}
