// Orderings, de-duplication with its totals, and the two consolidations.

#include "consolidation.h"
#include "records.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const char *buy_name = "\xc3\xe0\xe7\xef\xf0\xee\xec";   // Cyrillic name, cp1251

// A record at the given date and time; amount is the money value.
transaction_t trade(int64_t no, int64_t order, const char *stock, int direction, double price, double amount,
                    double commission, int y = 2013, int mo = 3, int d = 5, int h = 10, int mi = 0, int s = 0)
{
    return transaction_t{d, mo, y, h, mi, s, no, order, (char *)"TCK", (char *)stock, direction, price, amount,
                         commission, nullptr};
}

// The steps as the run takes them: each one's sort, then the step.
int dedup_step(transaction_t *T, int n)
{
    sort_by_number(T, n);
    n = remove_duplicates(T, n);
    print_totals(T, n);
    return n;
}

int orders_step(transaction_t *T, int n)
{
    sort_by_order(T, n);
    return consolidate_orders(T, n);
}

int days_step(transaction_t *T, int n)
{
    sort_by_stock(T, n, text_ranks_t{});
    return consolidate_days(T, n);
}

TEST(Orderings, TimeIsYearFirstAsPlainDifferences)
{
    auto a = trade(1, 1, "A", 1, 1, 1, 0, 2015, 1, 1), b = trade(1, 1, "A", 1, 1, 1, 0, 2012, 12, 31);
    EXPECT_EQ(cmp_transaction_time(&a, &b), 3);
    EXPECT_EQ(cmp_transaction_time(&b, &a), -3);
    auto c = trade(1, 1, "A", 1, 1, 1, 0, 2013, 3, 5, 10, 0, 0), e = c;
    e.s = 7;
    EXPECT_EQ(cmp_transaction_time(&c, &e), -7);
    EXPECT_EQ(cmp_transaction_time(&c, &c), 0);
    // Differences that do not fit 32 bits keep their sign.
    auto lo = c, hi = c;
    lo.y = INT_MIN;
    hi.y = INT_MAX;
    EXPECT_LT(cmp_transaction_time(&lo, &hi), 0);
    EXPECT_GT(cmp_transaction_time(&hi, &lo), 0);
    EXPECT_LT(cmp_transaction_year_stock(&lo, &hi), 0);
}

TEST(Orderings, NumbersCompareAsSigned64Bit)
{
    auto a = trade(5000000000LL, 1, "A", 1, 1, 1, 0), b = trade(4000000000LL, 1, "B", 2, 9, 9, 9, 2000);
    EXPECT_EQ(cmp_transaction_no(&a, &b), 1);
    EXPECT_EQ(cmp_transaction_no(&b, &a), -1);
    auto same = trade(5000000000LL, 7, "Z", 2, 3, 3, 3, 1999);
    EXPECT_EQ(cmp_transaction_no(&a, &same), 0);   // nothing but the number counts
    auto neg = trade(-1, -1, "A", 1, 1, 1, 0);
    EXPECT_EQ(cmp_transaction_no(&neg, &b), -1);
    auto o1 = trade(1, 3000000000LL, "A", 1, 1, 1, 0, 2013, 3, 5, 10, 0, 0);
    auto o2 = trade(2, 3000000000LL, "B", 2, 1, 1, 0, 2013, 3, 5, 9, 0, 0);
    EXPECT_EQ(cmp_transaction_order(&o1, &o2), 1);   // same order: the time decides
    o2.h = 10;
    EXPECT_EQ(cmp_transaction_order(&o1, &o2), 0);
    o2.order = -3000000000LL;
    EXPECT_EQ(cmp_transaction_order(&o1, &o2), 1);
}

TEST(Orderings, NamesCompareAsUnsignedBytes)
{
    auto latin = trade(1, 1, "Zeta", 1, 1, 1, 0, 2020), cyr = trade(2, 2, buy_name, 1, 1, 1, 0, 2010);
    EXPECT_LT(cmp_transaction_stock(&latin, &cyr), 0);
    auto yo = trade(1, 1, "\xa8", 1, 1, 1, 0), a = trade(1, 1, "\xc0", 1, 1, 1, 0);   // "Ё" before "А"
    EXPECT_LT(cmp_transaction_stock(&yo, &a), 0);
    // One security's trades of all years form one run under the stock
    // ordering; under the year ordering the year comes first.
    auto a2012 = trade(1, 1, "B", 1, 1, 1, 0, 2012), b2011 = trade(1, 1, "A", 1, 1, 1, 0, 2011),
         b2013 = trade(1, 1, "A", 1, 1, 1, 0, 2013);
    std::vector<transaction_t> v = {b2013, a2012, b2011};
    qsort(v.data(), 3, sizeof v[0], cmp_transaction_stock);
    EXPECT_EQ(v[0].y, 2011);
    EXPECT_EQ(v[1].y, 2013);
    EXPECT_STREQ(v[2].stock, "B");
    qsort(v.data(), 3, sizeof v[0], cmp_transaction_year_stock);
    EXPECT_EQ(v[0].y, 2011);
    EXPECT_EQ(v[1].y, 2012);
    EXPECT_EQ(v[2].y, 2013);
}

// The sorts of the run must order records as the comparison functions do,
// also when a date field is out of its usual range or a name has no rank.
TEST(Orderings, SortsAgreeWithTheComparisonFunctions)
{
    std::mt19937 gen(23);
    trade_store_t store = {};
    const char *texts[] = {"A", "B", "\xc0", "a", "A "}, *names[5];
    for (int k = 0; k < 5; k++)
        names[k] = text_copy(&store.texts, texts[k]);
    rank_texts(&store);
    std::vector<transaction_t> v;
    for (int i = 0; i < 5000; i++) {
        const int unusual[] = {-1, 255, 256, 300, 65535, 65536, INT_MAX, INT_MIN, (int)gen()};
        auto field = [&](int usual) { return gen() % 20 ? (int)(gen() % usual) : unusual[gen() % 9]; };
        int year = field(4);
        if (year >= 0 && year < 4)
            year += 2010;
        v.push_back(trade((int64_t)(gen() % 300) - 150, (int64_t)(gen() % 300) - 150, names[gen() % 5], 1, 1, 1, 0,
                          year, field(3), field(3), field(3), field(3), field(3)));
    }
    auto check = [&](auto sort, int (*cmp)(const void *, const void *)) {
        auto w = v;
        sort(w.data(), (int)w.size());
        for (size_t i = 1; i < w.size(); i++)
            ASSERT_LE(cmp(&w[i - 1], &w[i]), 0) << i;
    };
    check(sort_by_number, cmp_transaction_no);
    check(sort_by_order, cmp_transaction_order);
    check([&](transaction_t *T, int n) { sort_by_stock(T, n, store.ranks); }, cmp_transaction_stock);
    check([&](transaction_t *T, int n) { sort_by_year_and_stock(T, n, store.ranks); }, cmp_transaction_year_stock);
    size_t half = v.size() / 2;   // a few runs to merge
    qsort(v.data(), half, sizeof v[0], cmp_transaction_order);
    qsort(v.data() + half, v.size() - half, sizeof v[0], cmp_transaction_order);
    check(sort_by_order, cmp_transaction_order);
    free_trade_store(&store);
}

TEST(Orderings, SortOfRunsMergesThem)
{
    std::mt19937 gen(37);
    for (int runs : {1, 2, 5, 64, 65, 500}) {
        std::vector<transaction_t> v;
        for (int r = 0; r < runs; r++) {
            int64_t no = (int64_t)(gen() % 1000) - 500;
            for (int i = 0; i < 40; i++)
                v.push_back(trade(no += (int64_t)(gen() % 3), r, "A", 1, 1, 1, 0));
        }
        auto w = v;
        sort_by_number(w.data(), (int)w.size());
        for (size_t i = 1; i < w.size(); i++)
            ASSERT_LE(w[i - 1].no, w[i].no) << runs << " runs, at " << i;
        std::multiset<std::pair<int64_t, int64_t>> before_sort, after_sort;
        for (size_t i = 0; i < v.size(); i++) {
            before_sort.insert({v[i].no, v[i].order});
            after_sort.insert({w[i].no, w[i].order});
        }
        EXPECT_TRUE(before_sort == after_sort) << runs << " runs";
    }
}

struct Totals {
    int n = 0;
    std::string console;
};

// De-duplicates in a child process and returns the count and console text.
Totals dedup(std::vector<transaction_t> v)
{
    Totals t;
    auto r = kt_test::run_in_child([&] { printf("%d", dedup_step(v.data(), (int)v.size())); });
    t.n = std::stoi(r.out);
    t.console = r.err;
    return t;
}

TEST(Deduplication, KeepsOneTradePerNumberAndCountsItOnce)
{
    std::vector<transaction_t> v = {trade(7, 1, "A", 1, 10, 100, 1), trade(3, 2, "A", 2, 10, 50, 1),
                                    trade(7, 1, "A", 1, 10, 100, 1), trade(3, 9, "B", 2, 10, 50, 1)};
    auto r = kt_test::run_in_child([&] {
        int n = dedup_step(v.data(), 4);
        printf("%d %lld %lld", n, (long long)v[0].no, (long long)v[1].no);
    });
    EXPECT_EQ(r.out, "2 3 7");
    EXPECT_EQ(r.err, "2 unique transactions\nSpent:  100\nGained: 50\nVolume: 150\nComms:  2\n");
}

TEST(Deduplication, TotalsAreWholeNumbersGroupedByThousands)
{
    // Volume is the printed Spent plus the exact Gained, then cut: 100 + 50.6.
    auto t = dedup({trade(1, 1, "A", 1, 1, 100.7, 0.2), trade(2, 2, "A", 2, 1, 50.6, 0.2)});
    EXPECT_EQ(t.console, "2 unique transactions\nSpent:  100\nGained: 50\nVolume: 150\nComms:  0\n");
    t = dedup({trade(1, 1, "A", 2, 1, 1234567.89, 1000.5)});
    EXPECT_EQ(t.console, "1 unique transactions\nSpent:  0\nGained: 1,234,567\nVolume: 1,234,567\nComms:  1,000\n");
    // No wrap at 32 bits; negative totals carry a minus sign.
    t = dedup({trade(1, 1, "A", 1, 1, 5000000000.9, 0), trade(2, 2, "A", 2, 1, -2.5, -1000.5)});
    EXPECT_EQ(t.console,
              "2 unique transactions\nSpent:  5,000,000,000\nGained: -2\nVolume: 4,999,999,997\nComms:  -1,000\n");
    t = dedup({trade(1, 1, "A", 1, 1, INFINITY, NAN)});
    EXPECT_EQ(t.console, "1 unique transactions\nSpent:  9,223,372,036,854,775,807\nGained: 0\n"
                         "Volume: 9,223,372,036,854,775,807\nComms:  0\n");
}

TEST(OrderConsolidation, FoldsTheFillsOfAnOrder)
{
    // 10 units at 100 and 30 units at 104: 4120 for 40 units, price 103.
    std::vector<transaction_t> v = {
        trade(12, 77, "A", 1, 104, 3120, 2.5, 2013, 3, 5, 10, 0, 5),
        trade(3, 9, "B", 2, 4, 13, 0.5),   // a single fill keeps its price
        trade(11, 77, "A", 1, 100, 1000, 1.25, 2013, 3, 5, 10, 0, 0),
    };
    int m = orders_step(v.data(), 3);
    ASSERT_EQ(m, 2);
    EXPECT_EQ(v[0].order, 9);
    EXPECT_EQ(v[0].price, 4.0);
    EXPECT_EQ(v[0].amount, 13.0);
    EXPECT_EQ(v[1].order, 77);
    EXPECT_EQ(v[1].no, 11);
    EXPECT_EQ(v[1].s, 0);
    EXPECT_EQ(v[1].amount, 4120.0);
    EXPECT_EQ(v[1].commission, 3.75);
    EXPECT_EQ(v[1].price, 103.0);
}

TEST(OrderConsolidation, ZeroPricesGiveZeroOrNotANumber)
{
    std::vector<transaction_t> v = {trade(1, 5, "A", 1, 0, 10, 0), trade(2, 5, "A", 1, 10, 100, 0, 2013, 3, 5, 11)};
    ASSERT_EQ(orders_step(v.data(), 2), 1);
    EXPECT_EQ(v[0].price, 0.0);
    v = {trade(1, 5, "A", 1, 0, 0, 0), trade(2, 5, "A", 1, 10, 100, 0, 2013, 3, 5, 11)};
    ASSERT_EQ(orders_step(v.data(), 2), 1);
    EXPECT_TRUE(std::isnan(v[0].price));
}

TEST(OrderConsolidation, MismatchedFillsStopTheRun)
{
    auto run = [](std::vector<transaction_t> v) {
        return kt_test::run_in_child([&] { orders_step(v.data(), (int)v.size()); });
    };
    auto r = run({trade(1, 5, "A", 1, 1, 1, 0), trade(2, 5, "B", 1, 1, 1, 0, 2013, 3, 5, 11)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "internal error, stock does not match\n");
    r = run({trade(1, 5, "A", 1, 1, 1, 0), trade(2, 5, "A", 2, 1, 1, 0, 2013, 3, 5, 11)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "internal error, direction does not match\n");
    r = run({trade(1, 5, "A", 1, 1, 1, 0), trade(2, 5, "B", 2, 1, 1, 0, 2013, 3, 5, 11)});
    EXPECT_EQ(r.err, "internal error, stock does not match\n");
}

TEST(DayConsolidation, FoldsUnbrokenRunsOfOneSecurityDayAndDirection)
{
    // Three buys of one day from three orders: one record at 10:00 with the
    // first order's number, money and fees summed, price by units
    // (10 @ 100, 20 @ 110 and 10 @ 130: 4500 for 40 units).
    std::vector<transaction_t> v = {
        trade(3, 30, "A", 1, 130, 1300, 3, 2013, 3, 5, 12),
        trade(1, 10, "A", 1, 100, 1000, 1, 2013, 3, 5, 10),
        trade(2, 20, "A", 1, 110, 2200, 2, 2013, 3, 5, 11),
    };
    ASSERT_EQ(days_step(v.data(), 3), 1);
    EXPECT_EQ(v[0].order, 10);
    EXPECT_EQ(v[0].h, 10);
    EXPECT_EQ(v[0].amount, 4500.0);
    EXPECT_EQ(v[0].commission, 6.0);
    EXPECT_EQ(v[0].price, 112.5);

    // Buy, sale, buy on one day: three records.
    v = {trade(1, 10, "A", 1, 1, 1, 0, 2013, 3, 5, 10), trade(2, 20, "A", 2, 1, 1, 0, 2013, 3, 5, 11),
         trade(3, 30, "A", 1, 1, 1, 0, 2013, 3, 5, 12)};
    EXPECT_EQ(days_step(v.data(), 3), 3);
    // One security on two days, however close: two records.
    v = {trade(1, 10, "A", 1, 1, 1, 0, 2013, 3, 5, 23, 59, 59), trade(2, 20, "A", 1, 1, 1, 0, 2013, 3, 6, 0, 0, 1)};
    EXPECT_EQ(days_step(v.data(), 2), 2);
    // Names that differ in case or a blank are different securities; the
    // result is in name and time order.
    v = {trade(1, 10, "a", 1, 1, 1, 0, 2013, 3, 5, 9), trade(2, 20, "A ", 1, 1, 1, 0, 2013, 3, 5, 10),
         trade(3, 30, "A", 1, 1, 1, 0, 2013, 3, 5, 11), trade(4, 40, "A", 1, 2, 4, 0, 2013, 3, 5, 8)};
    ASSERT_EQ(days_step(v.data(), 4), 3);
    EXPECT_STREQ(v[0].stock, "A");
    EXPECT_EQ(v[0].h, 8);
    EXPECT_EQ(v[0].amount, 5.0);
    EXPECT_EQ(v[0].price, 5.0 / 3.0);
    EXPECT_STREQ(v[1].stock, "A ");
    EXPECT_STREQ(v[2].stock, "a");
}

}  // namespace
