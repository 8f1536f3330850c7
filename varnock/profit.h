// Realised profit by FIFO lots.  Included by the profit page, the chart and
// their tests.
#pragma once

#include "journal.h"
#include "records.h"

#include "keltools.h"

#include <cstdint>
#include <utility>
#include <vector>

// "profit.html" matches every sale with earlier purchases (and every buy with
// earlier short sales) of the same security, oldest lot first, and reports
// what each match realised, per year, account and security, with the positions still
// open and a chart of the running result.  It works on the unique trades,
// each fill on its own.  Unlike the report pages it is well-formed XML:
// attributes are quoted, empty elements closed and names escaped.

// The heading of the profit page and its chart (Windows-1251).
inline constexpr char pf_heading[] = "\xD0\xE5\xE0\xEB\xE8\xE7\xEE\xE2\xE0\xED\xED\xE0\xFF "
                                 "\xEF\xF0\xE8\xE1\xFB\xEB\xFC \xE7\xE0 ";  // "Реализованная прибыль за "

// Money is counted in whole kopecks.  A trade's money and fees are its
// cells' values rounded half away from zero to the kopeck; a trade or lot
// split between closings gives each piece its proportional share rounded to
// the kopeck, and the piece that uses it up gets what is left, so the pieces
// of one trade add up to the trade exactly.  Quantities stay doubles: money
// divided by price.

// v in kopecks, rounded half away from zero as the decimal text v came from
// would round: when v * 100 lies within rounding error of a half, the
// shortest decimal text of v decides (0.285 is stored just below the half,
// yet is 29 kopecks).  False when v is not finite or 2^62 kopecks or more.
bool to_kopecks(double v, int64_t *kopecks);

// A trade's money and fees in kopecks, or no_kopecks for a cell that is no
// finite number of kopecks.
inline constexpr int64_t no_kopecks = INT64_MIN;
struct trade_money_t {
    int64_t money, fees;
};

// Money figures of a table row; the result is derived, never summed.
struct realised_t {
    double quantity = 0;
    int64_t proceeds = 0, cost = 0, fees = 0;
    int64_t result() const { return proceeds - cost - fees; }
    void add(const realised_t &r)
    {
        quantity += r.quantity;
        proceeds += r.proceeds;
        cost += r.cost;
        fees += r.fees;
    }
};

// One piece of a lot closed by a trade: the trade that opened the lot, the
// one that closed this piece of it, the quantity, and each side's share of
// its trade's money and of both trades' fees.  The closing trade dates the
// piece: its year is the year the result counts in.
struct lot_closing_t {
    const transaction_t *opening, *closing;
    double quantity;
    int64_t opening_money, closing_money, fees;

    bool is_long() const { return opening->direction == 1; }
    int64_t proceeds() const { return is_long() ? closing_money : opening_money; }
    int64_t cost() const { return is_long() ? opening_money : closing_money; }
    int64_t result() const { return proceeds() - cost() - fees; }
    realised_t realised() const { return {quantity, proceeds(), cost(), fees}; }
};

struct security_row_t {
    const transaction_t *first;  // names the account and the security
    realised_t sums;
};

struct profit_year_t {
    int32_t year;
    std::vector<security_row_t> rows;  // by account, then name, in byte order
    realised_t sums;
};

struct open_position_t {
    const transaction_t *first;
    double quantity;  // negative for a short
    int64_t money, fees;
    const transaction_t *oldest;
};

// Each account's trades go through lots of their own; trades without an
// account form one more pool.  accounts lists the pools in the order of the
// tables: no account first, then the account texts in byte order.
struct profit_book_t {
    std::vector<lot_closing_t> closings;                    // by account, security, then time
    std::vector<std::pair<int64_t, int64_t>> day_results;  // per pool, security and closing day
    std::vector<profit_year_t> years;                       // ascending
    std::vector<open_position_t> open;
    std::vector<const transaction_t *> skipped;
    std::vector<const char *> accounts;
    std::vector<trade_money_t> money;                       // of each trade of T, by index
    // Each trade that closed at least one lot, over all accounts, in time
    // order (date and time, then trade number): the sum of its pieces and
    // their days held (closing day - opening day) weighted by quantity.
    std::vector<journal_closing_t> journal;
};

// Account texts in table order: none first, then byte order.
bool account_before(const char *a, const char *b);

// Matches the trades of T[0..n) of each account and security in time order
// through their lots.  Trades whose quantity is not a finite positive number,
// whose money or fees are not finite, or that would carry the page's sums
// beyond 2^61 kopecks take no part and are listed as skipped.  The book
// points into T.
profit_book_t build_profit_book(const transaction_t *T, int n, const text_ranks_t &ranks);

// Days since 1 January 1970 of a civil date (proleptic Gregorian), months and
// days out of range carried over: the library's calendar.
inline int64_t civil_day(int64_t y, int64_t m, int64_t d)
{
    return civil_days(y, m, d);
}
