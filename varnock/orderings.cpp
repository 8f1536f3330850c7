// The orderings of trade records and the sorts that use them.

#include "records.h"

#include "keltools.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

// A difference of two 32-bit fields, or its sign alone when the difference
// does not fit 32 bits (so the ordering stays consistent for any values).
static int diff32(int32_t a, int32_t b)
{
    int64_t d = (int64_t)a - (int64_t)b;
    if (d > INT32_MAX) return 1;
    if (d < INT32_MIN) return -1;
    return (int)d;
}

// Plain differences of the fields, year first; 0 when the times are equal.
int cmp_transaction_time(const void *e1, const void *e2)
{
    const transaction_t *a = (const transaction_t *)e1, *b = (const transaction_t *)e2;
    if (a->y != b->y) return diff32(a->y, b->y);
    if (a->mo != b->mo) return diff32(a->mo, b->mo);
    if (a->d != b->d) return diff32(a->d, b->d);
    if (a->h != b->h) return diff32(a->h, b->h);
    if (a->mi != b->mi) return diff32(a->mi, b->mi);
    return diff32(a->s, b->s);
}

static int cmp_int64(int64_t a, int64_t b)
{
    return a > b ? 1 : a < b ? -1 : 0;
}

int cmp_transaction_no(const void *e1, const void *e2)
{
    return cmp_int64(((const transaction_t *)e1)->no, ((const transaction_t *)e2)->no);
}

int cmp_transaction_order(const void *e1, const void *e2)
{
    int c = cmp_int64(((const transaction_t *)e1)->order, ((const transaction_t *)e2)->order);
    return c ? c : cmp_transaction_time(e1, e2);
}

int cmp_transaction_stock(const void *e1, const void *e2)
{
    int c = cmp_names(((const transaction_t *)e1)->stock, ((const transaction_t *)e2)->stock);
    return c ? c : cmp_transaction_time(e1, e2);
}

int cmp_transaction_year_stock(const void *e1, const void *e2)
{
    const transaction_t *a = (const transaction_t *)e1, *b = (const transaction_t *)e2;
    if (a->y != b->y) return diff32(a->y, b->y);
    int c = cmp_names(a->stock, b->stock);
    return c ? c : cmp_transaction_time(e1, e2);
}

// The orderings as "sorts before" for the standard algorithms.
template <int (*cmp)(const void *, const void *)>
static bool before(const transaction_t &a, const transaction_t &b)
{
    return cmp(&a, &b) < 0;
}

// Sorts n records by cmp; records that it ranks equal may end up in any order.
template <int (*cmp)(const void *, const void *)>
static void sort_trades(transaction_t *T, int n)
{
    std::sort(T, T + n, [](const transaction_t &a, const transaction_t &b) { return before<cmp>(a, b); });
}

// The sorts by trade number and by order number.  Trade files list their
// trades in trade-number order, so the imported records mostly form a few
// ascending runs, one per file, and after that sort the order numbers mostly
// ascend as well.  Such runs are merged pairwise; records in many runs are
// sorted.
template <int (*cmp)(const void *, const void *)>
static void sort_runs(transaction_t *T, int n)
{
    const int max_runs = 64;
    int starts[max_runs + 1];
    int runs = 1;
    starts[0] = 0;
    for (int i = 1; i < n; i++)
        if (before<cmp>(T[i], T[i - 1])) {
            if (runs == max_runs) {
                sort_trades<cmp>(T, n);
                return;
            }
            starts[runs++] = i;
        }
    starts[runs] = n;
    while (runs > 1) {
        int merged = 0;
        for (int k = 0; k < runs; k += 2) {
            if (k + 1 < runs)
                std::inplace_merge(T + starts[k], T + starts[k + 1], T + starts[k + 2], before<cmp>);
            starts[merged++] = starts[k];
        }
        starts[merged] = n;
        runs = merged;
    }
}

void sort_by_number(transaction_t *T, int n)
{
    sort_runs<cmp_transaction_no>(T, n);
}

void sort_by_order(transaction_t *T, int n)
{
    sort_runs<cmp_transaction_order>(T, n);
}

// The two orderings by name as one integer per record: under
// cmp_transaction_stock the name's rank, the year, then month to second;
// year_first, under cmp_transaction_year_stock, the year first.  20 bits of
// rank, 16 of year and 26 of month to second; false when the name has no
// rank or a field does not fit.
static bool name_key(const transaction_t &t, bool year_first, const text_ranks_t &ranks, uint64_t *key)
{
    int64_t rank = text_rank(ranks, t.stock);
    if (!in_range(rank, 20) || !in_range(t.y, 16) || !in_range(t.mo, 4) || !in_range(t.d, 5) ||
        !in_range(t.h, 5) || !in_range(t.mi, 6) || !in_range(t.s, 6))
        return false;
    uint64_t time = (uint64_t)t.mo << 22 | (uint64_t)t.d << 17 | (uint64_t)t.h << 12 | (uint64_t)t.mi << 6 |
                    (uint64_t)t.s;
    uint64_t major = year_first ? (uint64_t)t.y << 20 | (uint64_t)rank : (uint64_t)rank << 16 | (uint64_t)t.y;
    *key = major << 26 | time;
    return true;
}

typedef struct {
    uint64_t key;
    uint32_t index;
} keyed_t;

// Puts T into the order of keys[].index.  The records are gathered into a
// copy: independent loads, which the processor overlaps, where following the
// cycles of the permutation in place makes one cache miss wait for the last.
static void apply_order(transaction_t *T, int n, const keyed_t *keys)
{
    transaction_t *sorted = (transaction_t *)xmalloc(sizeof(transaction_t) * (size_t)n);
    for (int i = 0; i < n; i++)
        sorted[i] = T[keys[i].index];
    memcpy(T, sorted, sizeof(transaction_t) * (size_t)n);
    free(sorted);
}

// Sorts T[0..n) in place by cmp, which name_key() gives as integers.  When a
// key does not fit, the records are sorted with cmp itself: extreme fields
// can make its differences overflow, and qsort stays inside the array
// whatever the comparator answers.
static void sort_by_name_key(transaction_t *T, int n, bool year_first, const text_ranks_t &ranks,
                             int (*cmp)(const void *, const void *))
{
    keyed_t *keys = (keyed_t *)xmalloc(sizeof(keyed_t) * (size_t)(n > 0 ? n : 1));
    bool fits = true;
    for (int i = 0; fits && i < n; i++) {
        fits = name_key(T[i], year_first, ranks, &keys[i].key);
        keys[i].index = (uint32_t)i;
    }
    if (!fits) {
        qsort(T, (size_t)n, sizeof *T, cmp);
    } else if (n > 0) {
        std::sort(keys, keys + n, [](const keyed_t &a, const keyed_t &b) { return a.key < b.key; });
        apply_order(T, n, keys);
    }
    free(keys);
}

void sort_by_stock(transaction_t *T, int n, const text_ranks_t &ranks)
{
    sort_by_name_key(T, n, false, ranks, cmp_transaction_stock);
}

void sort_by_year_and_stock(transaction_t *T, int n, const text_ranks_t &ranks)
{
    sort_by_name_key(T, n, true, ranks, cmp_transaction_year_stock);
}
