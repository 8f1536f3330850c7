// Statistics and the month table of the closings.

#include "journal.h"

#include <algorithm>
#include <map>

namespace {

// n / d rounded half away from zero, d > 0; wide, so that n may be a sum of
// kopecks scaled by 100.
int64_t rounded_quotient(__int128 n, int64_t d)
{
    __int128 q = n / d, r = n % d;
    if (2 * (r < 0 ? -r : r) >= d)
        q += n < 0 ? -1 : 1;
    return (int64_t)q;
}

void count(journal_stats_t &s, const journal_closing_t &c)
{
    s.closings++;
    (c.short_side ? s.short_closings : s.long_closings)++;
    s.total += c.result;
    if (c.result > 0) {
        s.winners++;
        s.wins += c.result;
        s.largest_win = std::max(s.largest_win, c.result);
        s.win_quantity += c.quantity;
        s.win_quantity_days += c.quantity_days;
    } else if (c.result < 0) {
        s.losers++;
        s.losses += c.result;
        s.largest_loss = std::min(s.largest_loss, c.result);
        s.loss_quantity += c.quantity;
        s.loss_quantity_days += c.quantity_days;
    }
}

}  // namespace

std::optional<int64_t> journal_stats_t::win_rate() const
{
    return closings ? std::optional<int64_t>(rounded_quotient((__int128)winners * 1000, closings)) : std::nullopt;
}

std::optional<int64_t> journal_stats_t::average_win() const
{
    return winners ? std::optional<int64_t>(rounded_quotient(wins, winners)) : std::nullopt;
}

std::optional<int64_t> journal_stats_t::average_loss() const
{
    return losers ? std::optional<int64_t>(rounded_quotient(losses, losers)) : std::nullopt;
}

std::optional<int64_t> journal_stats_t::profit_factor() const
{
    return losses ? std::optional<int64_t>(rounded_quotient((__int128)wins * 100, -losses)) : std::nullopt;
}

std::optional<int64_t> journal_stats_t::expectancy() const
{
    return closings ? std::optional<int64_t>(rounded_quotient(total, closings)) : std::nullopt;
}

std::optional<double> journal_stats_t::win_days_held() const
{
    return win_quantity > 0 ? std::optional<double>(win_quantity_days / win_quantity) : std::nullopt;
}

std::optional<double> journal_stats_t::loss_days_held() const
{
    return loss_quantity > 0 ? std::optional<double>(loss_quantity_days / loss_quantity) : std::nullopt;
}

journal_stats_t journal_stats(const std::vector<journal_closing_t> &closings)
{
    journal_stats_t s;
    int64_t running = 0, peak = 0;
    for (const journal_closing_t &c : closings) {
        count(s, c);
        running += c.result;
        peak = std::max(peak, running);
        s.max_drawdown = std::max(s.max_drawdown, peak - running);
    }
    return s;
}

std::vector<month_row_t> month_table(const std::vector<journal_closing_t> &closings)
{
    std::map<int32_t, month_row_t> years;
    for (const journal_closing_t &c : closings) {
        month_row_t &row = years.try_emplace(c.year, month_row_t{c.year, {}, 0}).first->second;
        // A month no calendar has (an export may date a trade 01.13.2012) counts
        // in the nearest one, so that the row still adds up to its year.
        std::optional<int64_t> &month = row.months[(size_t)(std::clamp(c.month, 1, 12) - 1)];
        month = month.value_or(0) + c.result;
        row.total += c.result;
    }
    std::vector<month_row_t> rows;
    for (auto &[year, row] : years)
        rows.push_back(row);
    return rows;
}
