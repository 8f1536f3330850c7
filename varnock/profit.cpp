// Realised profit by FIFO lots: the book of closings, open positions and
// trades left out that the profit page shows.

#include "profit.h"

#include "keltools.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

int64_t civil_day(int64_t y, int64_t m, int64_t d)
{
    // tm_year is an int: the year is first moved by whole 400-year cycles,
    // over which the calendar repeats, into 0 to 399.
    int64_t cycles = (y >= 0 ? y : y - 399) / 400;
    struct tm tm = {};
    tm.tm_year = (int)(y - cycles * 400 - 1900);
    tm.tm_mon = (int)(m - 1);
    tm.tm_mday = (int)d;
    int64_t seconds = (int64_t)timegm1(&tm);
    int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    return days + cycles * 146097;
}

// Below this many shares a lot or the rest of a trade counts as used up.
static const double dust_shares = 0.01;

// An open lot: what is left of one trade after the closings it took part in.
struct lot_t {
    double quantity, money, fees;
    const transaction_t *opening;
};

// One match of (part of) a trade with (part of) an open lot, dated by the
// closing trade (its year, and its day for the chart).
struct closing_t {
    int32_t year;
    int64_t day;
    double quantity, proceeds, cost, fees;
};

// A trade's part in the lots: its quantity, money and fees still unmatched.
struct trade_rest_t {
    double quantity, money, fees;
};

static bool takes_part(const transaction_t *t)
{
    double quantity = t->amount / t->price;
    return std::isfinite(quantity) && quantity > 0 && t->amount > 0;
}

// Security (byte order of the name), then date and time, then trade number.
static bool before_in_lots(const transaction_t *a, const transaction_t *b)
{
    int c = cmp_names(a->stock, b->stock);
    if (c != 0)
        return c < 0;
    c = cmp_transaction_time(a, b);
    if (c != 0)
        return c < 0;
    return a->no < b->no;
}

// The same order by keys: the rank of the name, then the packed date and
// time, then the number.
struct lot_order_t {
    uint64_t time;
    int64_t no;
    bool operator<(const lot_order_t &o) const { return time != o.time ? time < o.time : no < o.no; }
};

// A trade's date and time as one number, when every field is in its usual
// range (a year of 0 to 65535, the rest 0 to 255).
static bool lot_time_key(const transaction_t *t, uint64_t *key)
{
    if (!in_range(t->y, 16) || !in_range(t->mo, 8) || !in_range(t->d, 8) || !in_range(t->h, 8) ||
        !in_range(t->mi, 8) || !in_range(t->s, 8))
        return false;
    *key = (uint64_t)t->y << 40 | (uint64_t)t->mo << 32 | (uint64_t)t->d << 24 | (uint64_t)t->h << 16 |
           (uint64_t)t->mi << 8 | (uint64_t)t->s;
    return true;
}

// Puts one security's trades in time order by their keys; trades arrive
// mostly in order already (by trade number), so a sorted run costs one pass.
static bool sort_by_time_keys(const transaction_t **first, size_t n, std::vector<lot_order_t> &keys)
{
    keys.resize(n);
    for (size_t k = 0; k < n; k++) {
        if (!lot_time_key(first[k], &keys[k].time))
            return false;
        keys[k].no = first[k]->no;
    }
    if (std::is_sorted(keys.begin(), keys.end()))
        return true;
    std::vector<std::pair<lot_order_t, const transaction_t *>> pairs(n);
    for (size_t k = 0; k < n; k++)
        pairs[k] = {keys[k], first[k]};
    std::sort(pairs.begin(), pairs.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (size_t k = 0; k < n; k++)
        first[k] = pairs[k].second;
    return true;
}

// The trades of T[0..n) that take part in the lots, in lot order: grouped
// by the rank of their names (a counting sort), then each group by time;
// the others go to skipped.  Names without a rank are compared as texts.
static std::vector<const transaction_t *> trades_in_lot_order(const transaction_t *T, int n,
                                                               const text_ranks_t &text_ranks,
                                                               std::vector<const transaction_t *> &skipped)
{
    std::vector<const transaction_t *> order;
    std::vector<int64_t> ranks((size_t)n, -1);
    bool ranked = true;
    size_t names = 0;
    order.reserve((size_t)n);
    for (int i = 0; i < n; i++) {
        if (!takes_part(T + i)) {
            skipped.push_back(T + i);
            continue;
        }
        order.push_back(T + i);
        ranks[i] = text_rank(text_ranks, T[i].stock);
        ranked = ranked && ranks[i] >= 0;
        names = std::max(names, (size_t)(ranks[i] + 1));
    }
    if (!ranked) {
        std::sort(order.begin(), order.end(), before_in_lots);
        return order;
    }
    std::vector<size_t> start(names + 1, 0);
    for (int i = 0; i < n; i++)
        if (ranks[i] >= 0)
            start[(size_t)ranks[i] + 1]++;
    for (size_t r = 0; r < names; r++)
        start[r + 1] += start[r];
    std::vector<size_t> next(start.begin(), start.end() - 1);
    for (int i = 0; i < n; i++)
        if (ranks[i] >= 0)
            order[next[(size_t)ranks[i]]++] = T + i;
    std::vector<lot_order_t> keys;
    for (size_t r = 0; r < names; r++) {
        const transaction_t **first = order.data() + start[r];
        size_t count = start[r + 1] - start[r];
        if (!sort_by_time_keys(first, count, keys))
            std::sort(first, first + count, before_in_lots);
    }
    return order;
}

// Takes quantity q out of a rest holding quantity from (money and fees in
// proportion) and returns the part taken; a rest left below the dust limit
// goes whole into the part taken.
static trade_rest_t take_part(trade_rest_t *from, double q)
{
    if (from->quantity - q < dust_shares) {
        trade_rest_t all = *from;
        *from = {0, 0, 0};
        return all;
    }
    double share = q / from->quantity;
    trade_rest_t part = {q, from->money * share, from->fees * share};
    from->quantity -= q;
    from->money -= part.money;
    from->fees -= part.fees;
    return part;
}

// Matches trade t against the open lots of the other side, oldest first;
// what is left of it opens a lot of its own side.  lots holds one side only.
static void match_trade(const transaction_t *t, std::vector<lot_t> &lots, size_t &oldest,
                        bool &lots_long, std::vector<closing_t> &closings)
{
    bool buy = t->direction == 1;
    trade_rest_t rest = {t->amount / t->price, t->amount, t->commission};
    while (rest.quantity > 0 && oldest < lots.size() && lots_long != buy) {
        lot_t &lot = lots[oldest];
        trade_rest_t lot_rest = {lot.quantity, lot.money, lot.fees};
        double q = std::min(rest.quantity, lot.quantity);
        trade_rest_t from_trade = take_part(&rest, q);
        trade_rest_t from_lot = take_part(&lot_rest, q);
        lot = {lot_rest.quantity, lot_rest.money, lot_rest.fees, lot.opening};
        if (lot.quantity == 0)
            oldest++;
        const trade_rest_t &sale = buy ? from_lot : from_trade;
        const trade_rest_t &purchase = buy ? from_trade : from_lot;
        closings.push_back({t->y, civil_day(t->y, t->mo, t->d), q, sale.money, purchase.money,
                            from_trade.fees + from_lot.fees});
    }
    if (rest.quantity > 0) {
        if (oldest == lots.size()) {
            lots.clear();
            oldest = 0;
            lots_long = buy;
        }
        lots.push_back({rest.quantity, rest.money, rest.fees, t});
    }
}

// The open lots of one security as a position, if any are left.
static void note_open_position(const transaction_t *first, const std::vector<lot_t> &lots,
                               size_t oldest, bool lots_long, std::vector<open_position_t> &open)
{
    if (oldest == lots.size())
        return;
    open_position_t p = {first, 0, 0, 0, lots[oldest].opening};
    for (size_t k = oldest; k < lots.size(); k++) {
        p.quantity += lots[k].quantity;
        p.money += lots[k].money;
        p.fees += lots[k].fees;
    }
    if (!lots_long)
        p.quantity = -p.quantity;
    open.push_back(p);
}

// Adds the closings of one security, in time order, to the year tables and
// to the results per day.
static void book_closings(const std::vector<closing_t> &c, const transaction_t *first, profit_book_t &book)
{
    std::vector<profit_year_t> &years = book.years;
    for (size_t k = 0; k < c.size(); k++) {
        double result = c[k].proceeds - c[k].cost - c[k].fees;
        if (k > 0 && c[k - 1].day == c[k].day)
            book.day_results.back().second += result;
        else
            book.day_results.push_back({c[k].day, result});
        int32_t y = c[k].year;
        auto it = std::lower_bound(years.begin(), years.end(), y,
                                   [](const profit_year_t &py, int32_t v) { return py.year < v; });
        if (it == years.end() || it->year != y)
            it = years.insert(it, profit_year_t{y, {}, {}});
        if (it->rows.empty() || it->rows.back().first != first)
            it->rows.push_back({first, {}});
        it->rows.back().sums.add({c[k].quantity, c[k].proceeds, c[k].cost, c[k].fees});
    }
}

// Walks every security's trades in time order through its lots.
profit_book_t build_profit_book(const transaction_t *T, int n, const text_ranks_t &ranks)
{
    profit_book_t book;
    std::vector<const transaction_t *> order = trades_in_lot_order(T, n, ranks, book.skipped);
    std::sort(book.skipped.begin(), book.skipped.end(),
              [](const transaction_t *a, const transaction_t *b) {
                  int c = cmp_transaction_time(a, b);
                  return c != 0 ? c < 0 : a->no < b->no;
              });
    std::vector<lot_t> lots;
    std::vector<closing_t> closings;
    for (size_t i = 0, j; i < order.size(); i = j) {
        size_t oldest = 0;
        bool lots_long = true;
        lots.clear();
        closings.clear();
        for (j = i; j < order.size() && cmp_names(order[j]->stock, order[i]->stock) == 0; j++)
            match_trade(order[j], lots, oldest, lots_long, closings);
        book_closings(closings, order[i], book);
        note_open_position(order[i], lots, oldest, lots_long, book.open);
    }
    for (profit_year_t &py : book.years)
        for (const security_row_t &row : py.rows)
            py.sums.add(row.sums);
    return book;
}
