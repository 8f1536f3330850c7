// Realised profit by FIFO lots: the book of closings, open positions and
// trades left out that the profit page shows.

#include "profit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <charconv>
#include <tuple>

// Below this many shares a lot or the rest of a trade counts as used up.
static const double dust_shares = 0.01;

// The page's sums stay below 2^63 kopecks when the money and fees of all
// trades that take part, in absolute value, stay within this.
static const uint64_t money_budget = 1ULL << 61;

// x rounded half away from zero, |x| below 2^63: the cut-off fraction is
// exact, so halves are found exactly.
static int64_t round_half_away(double x)
{
    int64_t whole = (int64_t)x;
    double fraction = x - (double)whole;
    return whole + (fraction >= 0.5) - (fraction <= -0.5);
}

// v * 100 is rounded to the nearest kopeck unless it lies this close to a
// half (a margin for the rounding of the product), where the decimal text
// decides.
static double half_margin(double scaled)
{
    return 1e-6 + fabs(scaled) * 1e-15;
}

// The shortest decimal text of v, rounded half away from zero to two
// decimals, in kopecks; v is finite and below 2^62 kopecks.
static int64_t kopecks_of_text(double v)
{
    char text[400];
    std::to_chars_result r = std::to_chars(text, text + sizeof text - 1, fabs(v), std::chars_format::fixed);
    *r.ptr = 0;
    const char *p = text;
    int64_t k = 0;
    for (; *p >= '0' && *p <= '9'; p++)
        k = k * 10 + (*p - '0');
    int decimals[3] = {0, 0, 0};
    if (*p == '.')
        for (int i = 0; i < 3 && p[1 + i] >= '0' && p[1 + i] <= '9'; i++)
            decimals[i] = p[1 + i] - '0';
    k = k * 100 + decimals[0] * 10 + decimals[1] + (decimals[2] >= 5);
    return v < 0 ? -k : k;
}

bool to_kopecks(double v, int64_t *kopecks)
{
    double scaled = v * 100;
    if (!(fabs(scaled) < 0x1p62))
        return false;   // also nan and the infinities
    int64_t whole = (int64_t)scaled;
    double fraction = scaled - (double)whole;
    if (fabs(fabs(fraction) - 0.5) > half_margin(scaled))
        *kopecks = whole + (fraction > 0.5) - (fraction < -0.5);
    else
        *kopecks = kopecks_of_text(v);
    return true;
}

// An open lot: what is left of one trade after the closings it took part in.
struct lot_t {
    double quantity;
    int64_t money, fees;
    const transaction_t *opening;
    int64_t day;  // of the opening trade, for the days held
};

// A trade's part in the lots: its quantity, money and fees still unmatched.
struct trade_rest_t {
    double quantity;
    int64_t money, fees;
};

// A trade's money and fees in kopecks.
static trade_money_t money_of(const transaction_t *t)
{
    trade_money_t m;
    if (!to_kopecks(t->amount, &m.money))
        m.money = no_kopecks;
    if (!to_kopecks(t->commission, &m.fees))
        m.fees = no_kopecks;
    return m;
}

// Whether a trade takes part in the lots: its quantity is a finite positive
// number, its money and fees are numbers of kopecks, and they do not carry
// the absolute money of the trades taken so far (*spent) beyond the budget.
static bool takes_part(const transaction_t *t, const trade_money_t &m, uint64_t *spent)
{
    double quantity = t->amount / t->price;
    if (!std::isfinite(quantity) || !(quantity > 0) || !(t->amount > 0))
        return false;
    if (m.money == no_kopecks || m.fees == no_kopecks)
        return false;
    uint64_t money = (uint64_t)m.money + (uint64_t)(m.fees < 0 ? -m.fees : m.fees);
    if (money > money_budget - *spent)
        return false;
    *spent += money;
    return true;
}

bool account_before(const char *a, const char *b)
{
    if (a == b || !b)
        return false;
    return !a || strcmp(a, b) < 0;
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
// The money of every trade in kopecks goes to money.
static std::vector<const transaction_t *> trades_in_lot_order(const transaction_t *T, int n,
                                                               const text_ranks_t &text_ranks,
                                                               std::vector<const transaction_t *> &skipped,
                                                               std::vector<trade_money_t> &money)
{
    std::vector<const transaction_t *> order;
    std::vector<int64_t> ranks((size_t)n, -1);
    bool ranked = true;
    size_t names = 0;
    order.reserve((size_t)n);
    uint64_t spent = 0;
    money.reserve((size_t)n);
    for (int i = 0; i < n; i++) {
        money.push_back(money_of(T + i));
        if (!takes_part(T + i, money.back(), &spent)) {
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

// The share of whole that quantity q takes out of quantity of, rounded half away
// from zero to the kopeck.
static int64_t kopeck_share(int64_t whole, double q, double of)
{
    return round_half_away((double)whole * q / of);
}

// Takes quantity q out of a rest holding quantity from (money and fees in
// proportion, to the kopeck) and returns the part taken; a rest left below
// the dust limit goes whole into the part taken.
static trade_rest_t take_part(trade_rest_t *from, double q)
{
    if (from->quantity - q < dust_shares) {
        trade_rest_t all = *from;
        *from = {0, 0, 0};
        return all;
    }
    trade_rest_t part = {q, kopeck_share(from->money, q, from->quantity), kopeck_share(from->fees, q, from->quantity)};
    from->quantity -= q;
    from->money -= part.money;
    from->fees -= part.fees;
    return part;
}

// The lots of one pool (an account's trades in one security): one side
// only, the used-up ones before oldest; and the day number of the last date
// seen, since trades of one day follow each other.
struct pool_t {
    std::vector<lot_t> lots;
    size_t oldest = 0;
    bool lots_long = true;
    int32_t d = -1, mo = -1, y = -1;
    int64_t day = 0;

    void clear()
    {
        lots.clear();
        oldest = 0;
        lots_long = true;
        d = mo = y = -1;
    }

    int64_t day_of(const transaction_t *t)
    {
        if (t->d != d || t->mo != mo || t->y != y) {
            d = t->d, mo = t->mo, y = t->y;
            day = civil_day(y, mo, d);
        }
        return day;
    }
};

// The journal's record of a closing trade, with the time it is sorted by.
struct timed_closing_t {
    int32_t y, mo, d, h, mi, s;
    int64_t no;
    size_t index;  // in the book's order

    bool operator<(const timed_closing_t &o) const
    {
        return std::tie(y, mo, d, h, mi, s, no) < std::tie(o.y, o.mo, o.d, o.h, o.mi, o.s, o.no);
    }
};

// Matches trade t against the open lots of the other side, oldest first;
// what is left of it opens a lot of its own side.  A trade that closes
// lots adds its closing to the journal, while its trade and lots are at hand.
static void match_trade(const transaction_t *t, trade_rest_t rest, pool_t &pool, std::vector<lot_closing_t> &closings,
                        std::vector<journal_closing_t> &journal, std::vector<timed_closing_t> &times)
{
    bool buy = t->direction == 1;
    int64_t day = pool.day_of(t);
    std::vector<lot_t> &lots = pool.lots;
    journal_closing_t closing = {t->y, t->mo, 0, !pool.lots_long, 0, 0};
    bool closes = false;
    while (rest.quantity > 0 && pool.oldest < lots.size() && pool.lots_long != buy) {
        lot_t &lot = lots[pool.oldest];
        trade_rest_t lot_rest = {lot.quantity, lot.money, lot.fees};
        double q = std::min(rest.quantity, lot.quantity);
        trade_rest_t from_trade = take_part(&rest, q);
        trade_rest_t from_lot = take_part(&lot_rest, q);
        closings.push_back({lot.opening, t, q, from_lot.money, from_trade.money, from_trade.fees + from_lot.fees});
        int64_t gain = pool.lots_long ? from_trade.money - from_lot.money : from_lot.money - from_trade.money;
        closing.result += gain - closings.back().fees;
        closing.quantity += q;
        closing.quantity_days += q * (double)(day - lot.day);
        closes = true;
        lot = {lot_rest.quantity, lot_rest.money, lot_rest.fees, lot.opening, lot.day};
        if (lot.quantity == 0)
            pool.oldest++;
    }
    if (closes) {
        times.push_back({t->y, t->mo, t->d, t->h, t->mi, t->s, t->no, journal.size()});
        journal.push_back(closing);
    }
    if (rest.quantity > 0) {
        if (pool.oldest == lots.size()) {
            lots.clear();
            pool.oldest = 0;
            pool.lots_long = buy;
        }
        lots.push_back({rest.quantity, rest.money, rest.fees, t, day});
    }
}

// The journal's closings put into time order over all pools.
static void sort_journal(std::vector<journal_closing_t> &journal, std::vector<timed_closing_t> &times)
{
    // Each pool's closings are in time order already: a merge of runs.
    std::stable_sort(times.begin(), times.end());
    std::vector<journal_closing_t> sorted;
    sorted.reserve(journal.size());
    for (const timed_closing_t &t : times)
        sorted.push_back(journal[t.index]);
    journal.swap(sorted);
}

// The open lots of one pool as a position, if any are left.
static void note_open_position(const transaction_t *first, const pool_t &pool, std::vector<open_position_t> &open)
{
    if (pool.oldest == pool.lots.size())
        return;
    open_position_t p = {first, 0, 0, 0, pool.lots[pool.oldest].opening};
    for (size_t k = pool.oldest; k < pool.lots.size(); k++) {
        p.quantity += pool.lots[k].quantity;
        p.money += pool.lots[k].money;
        p.fees += pool.lots[k].fees;
    }
    if (!pool.lots_long)
        p.quantity = -p.quantity;
    open.push_back(p);
}

// Adds the closings c[from..] of one pool, in time order, to the year tables
// and to the results per day.
static void book_closings(const std::vector<lot_closing_t> &c, size_t from, const transaction_t *first,
                          profit_book_t &book)
{
    std::vector<profit_year_t> &years = book.years;
    int64_t last_day = 0;
    for (size_t k = from; k < c.size(); k++) {
        const transaction_t *t = c[k].closing;
        int64_t day = k > from && t == c[k - 1].closing ? last_day : civil_day(t->y, t->mo, t->d);
        if (k > from && day == last_day)
            book.day_results.back().second += c[k].result();
        else
            book.day_results.push_back({day, c[k].result()});
        last_day = day;
        int32_t y = t->y;
        auto it = std::lower_bound(years.begin(), years.end(), y,
                                   [](const profit_year_t &py, int32_t v) { return py.year < v; });
        if (it == years.end() || it->year != y)
            it = years.insert(it, profit_year_t{y, {}, {}});
        if (it->rows.empty() || it->rows.back().first != first)
            it->rows.push_back({first, {}});
        it->rows.back().sums.add(c[k].realised());
    }
}

// Groups the trades of more than one account by account (in table order),
// keeping each account's order, and lists the accounts.
static void group_by_account(std::vector<const transaction_t *> &order, std::vector<const char *> &accounts)
{
    bool mixed = false;
    for (size_t k = 1; k < order.size() && !mixed; k++)
        mixed = order[k]->account != order[0]->account;
    if (!mixed) {
        if (!order.empty())
            accounts.push_back(order[0]->account);
        return;
    }
    std::stable_sort(order.begin(), order.end(), [](const transaction_t *a, const transaction_t *b) {
        return account_before(a->account, b->account);
    });
    for (const transaction_t *t : order)
        if (accounts.empty() || accounts.back() != t->account)
            accounts.push_back(t->account);
}

static bool same_pool(const transaction_t *a, const transaction_t *b)
{
    return a->account == b->account && cmp_names(a->stock, b->stock) == 0;
}

// Walks every pool's trades in time order through its lots.
profit_book_t build_profit_book(const transaction_t *T, int n, const text_ranks_t &ranks)
{
    profit_book_t book;
    std::vector<const transaction_t *> order = trades_in_lot_order(T, n, ranks, book.skipped, book.money);
    std::sort(book.skipped.begin(), book.skipped.end(),
              [](const transaction_t *a, const transaction_t *b) {
                  int c = cmp_transaction_time(a, b);
                  return c != 0 ? c < 0 : a->no < b->no;
              });
    group_by_account(order, book.accounts);
    // Each piece uses up a lot or the rest of a trade, so there are at most
    // twice as many pieces as trades, and mostly fewer than trades.
    book.closings.reserve(order.size());
    pool_t pool;
    std::vector<timed_closing_t> times;
    for (size_t i = 0, j; i < order.size(); i = j) {
        pool.clear();
        size_t from = book.closings.size();
        for (j = i; j < order.size() && same_pool(order[j], order[i]); j++) {
            const transaction_t *t = order[j];
            const trade_money_t &m = book.money[(size_t)(t - T)];
            match_trade(t, {t->amount / t->price, m.money, m.fees}, pool, book.closings, book.journal, times);
        }
        book_closings(book.closings, from, order[i], book);
        note_open_position(order[i], pool, book.open);
    }
    for (profit_year_t &py : book.years)
        for (const security_row_t &row : py.rows)
            py.sums.add(row.sums);
    sort_journal(book.journal, times);
    return book;
}
