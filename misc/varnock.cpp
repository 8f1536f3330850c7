// varnock: turns a trading terminal's exported trade tables ("sdelki*.xls",
// HTML in Windows-1251) into clean trade records and HTML profit reports.
//
// The run works in place on one growing array of trade records: import,
// de-duplicate by trade number, fold the fills of each order, fold same-day
// orders of one security and direction, then write "orders.txt" and reports.

#include "keltools.h"

#include <cstdint>
#include <cstdio>

#ifndef VARNOCK_VERSION
#define VARNOCK_VERSION "1.0.0"
#endif

/* ---- trade record ---- */

// One executed trade (or, after consolidation, one folded group of them).
typedef struct {
    int32_t d, mo, y;    // date of the trade
    int32_t h, mi, s;    // time of the trade
    int64_t no;          // trade number: the identity of a trade
    int64_t order;       // number of the order the trade filled
    char *ticker;        // security code (owned copy, cp1251 bytes)
    char *stock;         // security name (owned copy, cp1251 bytes)
    int32_t direction;   // 1 buy, 2 sale
    double price;        // price of one unit
    double amount;       // money value; units = amount / price
    double commission;   // total fees
} transaction_t;

static int cmp_transaction_time(const void *e1, const void *e2);
static int cmp_transaction_no(const void *e1, const void *e2);
static int cmp_transaction_order(const void *e1, const void *e2);
static int cmp_transaction_stock(const void *e1, const void *e2);
static int cmp_transaction_year_stock(const void *e1, const void *e2);
static void write_reports(transaction_t *T, int nt);

/* ---- trade orderings ---- */


/* ---- import ---- */


/* ---- de-duplication, totals and consolidation ---- */


/* ---- money and quantity text ---- */


/* ---- reports ---- */


/* ---- the run ---- */

int main()
{
    warning1("success\n");
    return 0;
}
