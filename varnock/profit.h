// Realised profit by FIFO lots.  Included by the profit page, the chart and
// their tests.
#pragma once

#include "records.h"

#include <cstdint>
#include <utility>
#include <vector>

// "profit.html" matches every sale with earlier purchases (and every buy with
// earlier short sales) of the same security, oldest lot first, and reports
// what each match realised, per year and security, with the positions still
// open and a chart of the running result.  It works on the unique trades,
// each fill on its own.  Unlike the report pages it is well-formed XML:
// attributes are quoted, empty elements closed and names escaped.

// The heading of the profit page and its chart (Windows-1251).
inline constexpr char pf_heading[] = "\xD0\xE5\xE0\xEB\xE8\xE7\xEE\xE2\xE0\xED\xED\xE0\xFF "
                                 "\xEF\xF0\xE8\xE1\xFB\xEB\xFC \xE7\xE0 ";  // "Реализованная прибыль за "

// Money figures of a table row; the result is derived, never summed.
struct realised_t {
    double quantity = 0, proceeds = 0, cost = 0, fees = 0;
    double result() const { return proceeds - cost - fees; }
    void add(const realised_t &r)
    {
        quantity += r.quantity;
        proceeds += r.proceeds;
        cost += r.cost;
        fees += r.fees;
    }
};

struct security_row_t {
    const transaction_t *first;  // names the security: stock and ticker
    realised_t sums;
};

struct profit_year_t {
    int32_t year;
    std::vector<security_row_t> rows;  // by name in byte order
    realised_t sums;
};

struct open_position_t {
    const transaction_t *first;
    double quantity, money, fees;  // quantity negative for a short
    const transaction_t *oldest;
};

struct profit_book_t {
    std::vector<std::pair<int64_t, double>> day_results;  // per security and closing day
    std::vector<profit_year_t> years;                      // ascending
    std::vector<open_position_t> open;
    std::vector<const transaction_t *> skipped;
};

// Matches every security's trades of T[0..n) in time order through its lots.
// The book points into T.
profit_book_t build_profit_book(const transaction_t *T, int n, const text_ranks_t &ranks);

// Days since 1 January 1970 of a civil date (proleptic Gregorian), months and
// days out of range carried over.
int64_t civil_day(int64_t y, int64_t m, int64_t d);
