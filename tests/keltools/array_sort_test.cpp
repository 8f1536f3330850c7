// Array sort helpers: uniq, comparison functions, bracket, partial sorts,
// the bounded heap and uniq2.

#include "keltools.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// bracket on an int array as (result, left, right); left and right start
// at -99 so that a result that must leave them alone can be checked.
std::vector<int> bracket_ints(const std::vector<int> &a, int key)
{
    int left = -99, right = -99;
    int rc = bracket(&key, a.data(), a.size(), sizeof(int), cmp_integers, &left, &right);
    return {rc, left, right};
}

using V = std::vector<int>;

// Notes whether every call passes the search key second and a record first.
const void *search_key = nullptr;
bool key_always_second = true;
int key_checking_cmp_integers(const void *a, const void *b)
{
    key_always_second = key_always_second && b == search_key && a != search_key;
    return cmp_integers(a, b);
}

int calls = 0;

int cmp_int(const void *a, const void *b)
{
    calls++;
    int x = *(const int *)a, y = *(const int *)b;
    return (x > y) - (x < y);
}

struct keyed {
    int key;
    int payload;
};

int cmp_key(const void *a, const void *b)
{
    return ((const keyed *)a)->key - ((const keyed *)b)->key;
}

}  // namespace

TEST(Comparators, SignsAtTheEdgesOfTheirRanges)
{
    int imin = INT_MIN, imax = INT_MAX, m1 = -1, one = 1, zero = 0;
    EXPECT_LT(cmp_integers(&imin, &imax), 0);
    EXPECT_GT(cmp_integers(&imax, &imin), 0);
    EXPECT_EQ(cmp_integers(&m1, &m1), 0);

    // |INT_MIN| is larger than |INT_MAX|; -1 and 1 are equal by magnitude.
    EXPECT_GT(cmp_absintegers(&imin, &imax), 0);
    EXPECT_LT(cmp_absintegers(&imax, &imin), 0);
    EXPECT_EQ(cmp_absintegers(&m1, &one), 0);
    EXPECT_LT(cmp_absintegers(&zero, &m1), 0);

    unsigned big = 0xFFFFFFFFu, small = 1;
    EXPECT_EQ(cmp_unsigned_integers(&big, &small), 1);
    EXPECT_EQ(cmp_unsigned_integers(&small, &big), -1);
    EXPECT_EQ(cmp_unsigned_integers(&big, &big), 0);
}

TEST(Comparators, AbsoluteOrderPutsMostNegativeLast)
{
    std::vector<int> v = {INT_MIN, 5, -7, INT_MAX, 0, -INT_MAX};
    qsort(v.data(), v.size(), sizeof(int), cmp_absintegers);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[1], 5);
    EXPECT_EQ(v[2], -7);
    EXPECT_EQ(std::abs((long long)v[3]), (long long)INT_MAX);
    EXPECT_EQ(std::abs((long long)v[4]), (long long)INT_MAX);
    EXPECT_EQ(v[5], INT_MIN);
}

TEST(Comparators, DoublesTreatNaNAsEqual)
{
    double a = 1.5, b = 2.5, nan = std::nan(""), inf = INFINITY;
    EXPECT_EQ(cmp_doubles(&a, &b), -1);
    EXPECT_EQ(cmp_doubles(&b, &a), 1);
    EXPECT_EQ(cmp_doubles(&a, &a), 0);
    EXPECT_EQ(cmp_doubles(&nan, &a), 0);
    EXPECT_EQ(cmp_doubles(&a, &nan), 0);
    EXPECT_EQ(cmp_doubles(&nan, &nan), 0);
    EXPECT_EQ(cmp_doubles(&inf, &b), 1);
}

TEST(Comparators, StringsAsUnsignedBytesAndByLength)
{
    const char *hi = "\xC0", *lo = "z", *abc = "abc", *zz = "zz", *abd = "abd";
    EXPECT_GT(cmp_str(&hi, &lo), 0);  // 0xC0 is above 'z' as an unsigned byte
    EXPECT_LT(cmp_str(&abc, &abd), 0);
    EXPECT_EQ(cmp_str(&abc, &abc), 0);

    EXPECT_LT(cmp_strlen(&abc, &zz), 0);  // three letters before two
    EXPECT_GT(cmp_strlen(&zz, &abc), 0);
    EXPECT_LT(cmp_strlen(&abc, &abd), 0);  // same length: strcmp

    std::vector<const char *> v = {"b", "ccc", "a", "dd", "", "aaa"};
    qsort(v.data(), v.size(), sizeof(char *), cmp_strlen);
    const char *want[] = {"aaa", "ccc", "dd", "a", "b", ""};
    for (size_t i = 0; i < v.size(); ++i) EXPECT_STREQ(v[i], want[i]) << i;
}

TEST(Bracket, FiveResults)
{
    V a = {1, 3, 3, 3, 5};
    EXPECT_EQ(bracket_ints(a, 3), (V{1, 1, 3}));
    EXPECT_EQ(bracket_ints(a, 4), (V{0, 3, 4}));
    EXPECT_EQ(bracket_ints(a, 2), (V{0, 0, 1}));
    EXPECT_EQ(bracket_ints(a, 0), (V{-1, -99, -99}));
    EXPECT_EQ(bracket_ints(a, 6), (V{-2, -99, -99}));
    EXPECT_EQ(bracket_ints({}, 3), (V{-3, -99, -99}));
}

TEST(Bracket, RunsTouchingTheEnds)
{
    EXPECT_EQ(bracket_ints({2, 2, 2, 2, 2, 2}, 2), (V{1, 0, 5}));
    EXPECT_EQ(bracket_ints({1, 1, 1, 4, 6, 7, 8}, 1), (V{1, 0, 2}));
    EXPECT_EQ(bracket_ints({1, 4, 6, 7, 9, 9, 9}, 9), (V{1, 4, 6}));
    EXPECT_EQ(bracket_ints({7}, 7), (V{1, 0, 0}));
    EXPECT_EQ(bracket_ints({7}, 6)[0], -1);
    EXPECT_EQ(bracket_ints({7}, 8)[0], -2);
    EXPECT_EQ(bracket_ints({3, 5}, 4), (V{0, 0, 1}));
}

TEST(Bracket, AgreesWithLinearScanOnEveryKey)
{
    // Runs of varied lengths, so that equal records sit at odd and even
    // positions of the bisection.
    std::vector<int> a;
    for (int v = 0; v < 40; v += 2)
        for (int k = 0; k <= v % 7; ++k) a.push_back(v);
    for (int key = 0; key < 39; ++key) {
        int first = -1, last = -1;
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i] == key) {
                if (first < 0) first = (int)i;
                last = (int)i;
            }
        V r = bracket_ints(a, key);
        if (first >= 0) {
            EXPECT_EQ(r, (V{1, first, last})) << key;
        } else {
            ASSERT_EQ(r[0], 0) << key;
            EXPECT_LT(a[r[1]], key);
            EXPECT_GT(a[r[2]], key);
            EXPECT_EQ(r[2], r[1] + 1);
        }
    }
}

TEST(Bracket, KeysOutsideTheRecordsAndTheKeyPassedSecond)
{
    std::vector<int> a(1000);
    for (int i = 0; i < 1000; ++i) a[i] = i;
    int key = -5, l, r;
    search_key = &key;
    EXPECT_EQ(bracket(&key, a.data(), a.size(), sizeof(int), key_checking_cmp_integers, &l, &r), -1);
    key = 5000;
    EXPECT_EQ(bracket(&key, a.data(), a.size(), sizeof(int), key_checking_cmp_integers, &l, &r), -2);
    key = 500;
    EXPECT_EQ(bracket(&key, a.data(), a.size(), sizeof(int), key_checking_cmp_integers, &l, &r), 1);
    EXPECT_EQ(l, 500);
    EXPECT_EQ(r, 500);
    EXPECT_TRUE(key_always_second);
}

TEST(Bracket, DoublesWithTheKeyNotARecord)
{
    std::vector<double> a = {-1.5, 0.0, 0.25, 0.25, 8.0};
    double key = 0.25;
    int l = -1, r = -1;
    EXPECT_EQ(bracket(&key, a.data(), a.size(), sizeof(double), cmp_doubles, &l, &r), 1);
    EXPECT_EQ(l, 2);
    EXPECT_EQ(r, 3);
    key = 1.0;
    EXPECT_EQ(bracket(&key, a.data(), a.size(), sizeof(double), cmp_doubles, &l, &r), 0);
    EXPECT_EQ(l, 3);
    EXPECT_EQ(r, 4);
}

namespace {

// A record ordered by key only; tag tells equal keys apart.
struct Tagged {
    int key;
    char tag;
    bool operator==(const Tagged &o) const { return key == o.key && tag == o.tag; }
};

int cmp_tagged(const void *a, const void *b)
{
    return cmp_integers(&((const Tagged *)a)->key, &((const Tagged *)b)->key);
}

std::vector<int> ints(const int *p, size_t n) { return std::vector<int>(p, p + n); }

}  // namespace

TEST(PartialSort, KeepsTheSmallestInOrderAndLeavesTheRest)
{
    std::vector<int> a = {5, 4, 3, 2, 1};
    EXPECT_EQ(psort(a.data(), a.size(), sizeof(int), 3, cmp_integers), 3);
    EXPECT_EQ(ints(a.data(), 3), (std::vector<int>{1, 2, 3}));
    for (int limit : {5, 9, 0, -2}) {
        a = {5, 4, 3, 2, 1};
        EXPECT_EQ(psort(a.data(), a.size(), sizeof(int), limit, cmp_integers), 5);
        EXPECT_EQ(a, (std::vector<int>{1, 2, 3, 4, 5}));
    }
    // Equal records keep their input order; records from position limit on
    // stay as they were.
    std::vector<Tagged> t = {{2, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}, {3, 'e'}};
    EXPECT_EQ(psort(t.data(), t.size(), sizeof(Tagged), 3, cmp_tagged), 3);
    EXPECT_EQ(t, (std::vector<Tagged>{{1, 'b'}, {1, 'd'}, {2, 'a'}, {1, 'd'}, {3, 'e'}}));
}

TEST(PartialSort, DistinctVariantSkipsRepeats)
{
    std::vector<int> a = {2, 2, 1, 1, 3};
    EXPECT_EQ(pusort(a.data(), a.size(), sizeof(int), 3, cmp_integers), 3);
    EXPECT_EQ(ints(a.data(), 3), (std::vector<int>{1, 2, 3}));

    std::vector<int> few = {1, 1, 1, 2, 1};
    EXPECT_EQ(pusort(few.data(), few.size(), sizeof(int), 3, cmp_integers), 2);
    EXPECT_EQ(ints(few.data(), 2), (std::vector<int>{1, 2}));

    std::vector<int> all = {2, 2, 1};
    EXPECT_EQ(pusort(all.data(), all.size(), sizeof(int), 0, cmp_integers), 3);
    EXPECT_EQ(all, (std::vector<int>{1, 2, 2}));

    // The first of equal records is the one kept.
    std::vector<Tagged> t = {{4, 'a'}, {2, 'b'}, {4, 'c'}, {2, 'd'}, {9, 'e'}, {1, 'f'}};
    EXPECT_EQ(pusort(t.data(), t.size(), sizeof(Tagged), 3, cmp_tagged), 3);
    EXPECT_EQ(t[0], (Tagged{1, 'f'}));
    EXPECT_EQ(t[1], (Tagged{2, 'b'}));
    EXPECT_EQ(t[2], (Tagged{4, 'a'}));
}

TEST(PartialSort, HeapPathOnlyForFewOfMany)
{
    // Values 99, 98, ..., 0: the heap path sorts only the front; the full
    // sort path leaves the whole array ascending.
    auto descending = [](int n) {
        std::vector<int> v(n);
        for (int i = 0; i < n; ++i) v[i] = n - 1 - i;
        return v;
    };
    std::vector<int> a = descending(100);
    EXPECT_EQ(psort1(a.data(), a.size(), sizeof(int), 32, cmp_integers), 32);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(a[i], i);
    for (int i = 32; i < 100; ++i) EXPECT_EQ(a[i], 99 - i);  // left as they were

    a = descending(100);
    EXPECT_EQ(psort1(a.data(), a.size(), sizeof(int), 33, cmp_integers), 33);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(a[i], i);

    a = descending(99);
    EXPECT_EQ(psort1(a.data(), a.size(), sizeof(int), 32, cmp_integers), 32);
    for (int i = 0; i < 99; ++i) EXPECT_EQ(a[i], i);

    a = descending(10);
    EXPECT_EQ(psort1(a.data(), a.size(), sizeof(int), 50, cmp_integers), 10);
    for (int limit : {0, -1}) {
        a = descending(200);
        EXPECT_EQ(psort1(a.data(), a.size(), sizeof(int), limit, cmp_integers), 200);
        for (int i = 0; i < 200; ++i) EXPECT_EQ(a[i], i);
    }
}

TEST(PartialSort, HeapPathWithRepeatsMatchesFullSort)
{
    std::vector<int> a(1000), b;
    unsigned x = 99;
    for (int &v : a) v = (int)((x = x * 69069u + 1u) >> 24) % 50;
    b = a;
    std::sort(b.begin(), b.end());
    EXPECT_EQ(psort1(a.data(), a.size(), sizeof(int), 77, cmp_integers), 77);
    EXPECT_EQ(ints(a.data(), 77), ints(b.data(), 77));
}

TEST(BoundedHeap, KeepsTheSmallestWithTheLargestOnTop)
{
    int heap[3], count = 0;
    for (int v : {5, 1, 4}) EXPECT_EQ(accumulate(heap, &v, sizeof(int), &count, 3, cmp_integers), 1);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(heap[0], 5);
    int v = 2;
    EXPECT_EQ(accumulate(heap, &v, sizeof(int), &count, 3, cmp_integers), 1);
    EXPECT_EQ(heap[0], 4);
    v = 9;
    EXPECT_EQ(accumulate(heap, &v, sizeof(int), &count, 3, cmp_integers), 0);
    v = 4;  // equal to the largest kept: taken in its place
    EXPECT_EQ(accumulate(heap, &v, sizeof(int), &count, 3, cmp_integers), 1);
    EXPECT_EQ(count, 3);
    std::vector<int> kept(heap, heap + 3);
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<int>{1, 2, 4}));
}

TEST(BoundedHeap, SiftUpAndDownKeepTheSmallestFirst)
{
    // Push 40 values with heap_siftup, then pop them by moving the last
    // record to the root and sifting it down: they come out ascending.
    std::vector<int> h;
    unsigned x = 7;
    for (int i = 0; i < 40; ++i) {
        int v = (int)((x = x * 1103515245u + 12345u) >> 20) % 100;
        h.push_back(v);
        int *slot = (int *)heap_siftup(h.data(), (int)h.size() - 1, sizeof(int), cmp_integers);
        EXPECT_EQ(*slot, v);  // where the new record stopped
    }
    for (size_t i = 1; i < h.size(); ++i) ASSERT_LE(h[(i - 1) / 2], h[i]);
    std::vector<int> popped, want = h;
    std::sort(want.begin(), want.end());
    while (!h.empty()) {
        popped.push_back(h[0]);
        h[0] = h.back();
        h.pop_back();
        if (h.size() > 1) heap_siftdown(h.data(), &h.back(), sizeof(int), sizeof(int), cmp_integers);
    }
    EXPECT_EQ(popped, want);

    // A root with one child, the last record.
    int two[2] = {9, 1};
    int *at = (int *)heap_siftdown(two, &two[1], sizeof(int), sizeof(int), cmp_integers);
    EXPECT_EQ(two[0], 1);
    EXPECT_EQ(two[1], 9);
    EXPECT_EQ(at, &two[1]);
}

TEST(Uniq2, RepeatsMoveBehindTheKeptRecords)
{
    std::vector<int> a = {1, 1, 2, 2, 3};
    EXPECT_EQ(uniq2(a.data(), a.size(), sizeof(int), cmp_integers), 3);
    EXPECT_EQ(a, (std::vector<int>{1, 2, 3, 1, 2}));

    EXPECT_EQ(uniq2(nullptr, 0, sizeof(int), cmp_integers), 0);
    int one = 4;
    EXPECT_EQ(uniq2(&one, 1, sizeof(int), cmp_integers), 1);
    EXPECT_EQ(one, 4);

    std::vector<Tagged> t = {{1, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}, {1, 'e'}, {3, 'f'}, {3, 'g'}};
    EXPECT_EQ(uniq2(t.data(), t.size(), sizeof(Tagged), cmp_tagged), 4);
    EXPECT_EQ(t, (std::vector<Tagged>{{1, 'a'}, {2, 'c'}, {1, 'd'}, {3, 'f'}, {1, 'b'}, {1, 'e'}, {3, 'g'}}));
}

TEST(Uniq2, FullBatchesGoToTheEndLatestFirst)
{
    // Records of 8 MB: the 16 MB buffer holds two of them.
    const size_t size = 8 << 20;
    auto run = [&](const std::string &keys, std::string *order) {
        std::vector<char> a(keys.size() * size);
        for (size_t i = 0; i < keys.size(); ++i) {
            a[i * size] = keys[i];
            a[i * size + 1] = (char)('a' + i);
            a[i * size + size - 1] = (char)('a' + i);  // the far end moves too
        }
        int n = uniq2(a.data(), keys.size(), size, [](const void *x, const void *y) {
            return (int)*(const char *)x - (int)*(const char *)y;
        });
        order->clear();
        for (size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(a[i * size + 1], a[i * size + size - 1]);
            *order += a[i * size + 1];
        }
        return n;
    };
    std::string order;
    // 1a 1b 1c 2d 2e 3f 3g: batch "b c" fills the buffer, "e g" is left in it.
    EXPECT_EQ(run("1112233", &order), 3);
    EXPECT_EQ(order, "adfegbc");
    // 1a 1b 1c 1d 1e 2f: full batches "b c" then "d e"; the first ends the array.
    EXPECT_EQ(run("111112", &order), 2);
    EXPECT_EQ(order, "afdebc");
}

TEST(Uniq, KeepsTheFirstOfEachRunInOrder)
{
    std::vector<int> v = {1, 1, 2, 3, 3, 3, 4};
    calls = 0;
    ASSERT_EQ(uniq(v.data(), v.size(), sizeof(int), cmp_int), 4);
    EXPECT_EQ(calls, 6);
    EXPECT_EQ(std::vector<int>(v.begin(), v.begin() + 4), (std::vector<int>{1, 2, 3, 4}));

    std::vector<int> same(5, 9);
    EXPECT_EQ(uniq(same.data(), same.size(), sizeof(int), cmp_int), 1);

    std::vector<int> unsorted = {1, 2, 1};
    EXPECT_EQ(uniq(unsorted.data(), 3, sizeof(int), cmp_int), 3);
    EXPECT_EQ(unsorted, (std::vector<int>{1, 2, 1}));

    calls = 0;
    EXPECT_EQ(uniq(nullptr, 0, sizeof(int), cmp_int), 0);
    EXPECT_EQ(uniq(v.data(), 1, sizeof(int), cmp_int), 1);
    EXPECT_EQ(calls, 0);
}

TEST(Uniq, RecordsEqualByKeyKeepTheFirstRecord)
{
    std::vector<keyed> v = {{1, 10}, {1, 11}, {2, 20}, {2, 21}, {2, 22}, {5, 50}};
    ASSERT_EQ(uniq(v.data(), v.size(), sizeof(keyed), cmp_key), 3);
    EXPECT_EQ(v[0].payload, 10);
    EXPECT_EQ(v[1].payload, 20);
    EXPECT_EQ(v[2].payload, 50);
}
