// varnock: turns a trading terminal's exported trade tables ("sdelki*.xls",
// HTML in Windows-1251) into clean trade records and HTML profit reports.
//
// The run works in place on one growing array of trade records: import,
// de-duplicate by trade number, fold the fills of each order, fold same-day
// orders of one security and direction, then write "orders.txt" and reports.

#include "keltools.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

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

// Plain differences of the fields, year first; 0 when the times are equal.
static int cmp_transaction_time(const void *e1, const void *e2)
{
    const transaction_t *a = (const transaction_t *)e1, *b = (const transaction_t *)e2;
    if (a->y != b->y) return a->y - b->y;
    if (a->mo != b->mo) return a->mo - b->mo;
    if (a->d != b->d) return a->d - b->d;
    if (a->h != b->h) return a->h - b->h;
    if (a->mi != b->mi) return a->mi - b->mi;
    return a->s - b->s;
}

static int cmp_int64(int64_t a, int64_t b)
{
    return a > b ? 1 : a < b ? -1 : 0;
}

static int cmp_transaction_no(const void *e1, const void *e2)
{
    return cmp_int64(((const transaction_t *)e1)->no, ((const transaction_t *)e2)->no);
}

static int cmp_transaction_order(const void *e1, const void *e2)
{
    int c = cmp_int64(((const transaction_t *)e1)->order, ((const transaction_t *)e2)->order);
    return c ? c : cmp_transaction_time(e1, e2);
}

static int cmp_transaction_stock(const void *e1, const void *e2)
{
    int c = strcmp(((const transaction_t *)e1)->stock, ((const transaction_t *)e2)->stock);
    return c ? c : cmp_transaction_time(e1, e2);
}

static int cmp_transaction_year_stock(const void *e1, const void *e2)
{
    const transaction_t *a = (const transaction_t *)e1, *b = (const transaction_t *)e2;
    if (a->y != b->y) return a->y - b->y;
    int c = strcmp(a->stock, b->stock);
    return c ? c : cmp_transaction_time(e1, e2);
}


/* ---- import ---- */


/* ---- de-duplication, totals and consolidation ---- */


/* ---- money and quantity text ---- */


/* ---- reports ---- */

static void write_reports(transaction_t *T, int nt)
{
    (void)T;
    (void)nt;
}


/* ---- the run ---- */

int main()
{
    warning1("success\n");
    return 0;
}
