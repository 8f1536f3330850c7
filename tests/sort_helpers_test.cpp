// Array sort helpers: comparison functions, bracket, partial sorts, the
// bounded heap and uniq2.

#include "keltools.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Calls bracket on an int array; left and right start at -99 so that a
// result that must leave them alone can be checked.
struct BracketResult {
    int rc, left = -99, right = -99;
};

BracketResult bracket_ints(const std::vector<int> &a, int key)
{
    BracketResult r;
    r.rc = bracket(&key, a.data(), a.size(), sizeof(int), cmp_integers, &r.left, &r.right);
    return r;
}

// Counts the comparisons that bracket makes.
int compare_calls = 0;
int counting_cmp_integers(const void *a, const void *b)
{
    ++compare_calls;
    return cmp_integers(a, b);
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
    std::vector<int> a = {1, 3, 3, 3, 5};
    BracketResult r = bracket_ints(a, 3);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.right, 3);

    r = bracket_ints(a, 4);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.left, 3);
    EXPECT_EQ(r.right, 4);

    r = bracket_ints(a, 2);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 1);

    r = bracket_ints(a, 0);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.left, -99);
    EXPECT_EQ(r.right, -99);

    r = bracket_ints(a, 6);
    EXPECT_EQ(r.rc, -2);
    EXPECT_EQ(r.left, -99);
    EXPECT_EQ(r.right, -99);

    r = bracket_ints({}, 3);
    EXPECT_EQ(r.rc, -3);
    EXPECT_EQ(r.left, -99);
}

TEST(Bracket, RunsTouchingTheEnds)
{
    std::vector<int> a = {2, 2, 2, 2, 2, 2};
    BracketResult r = bracket_ints(a, 2);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 5);

    std::vector<int> b = {1, 1, 1, 4, 6, 7, 8};
    r = bracket_ints(b, 1);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 2);

    std::vector<int> c = {1, 4, 6, 7, 9, 9, 9};
    r = bracket_ints(c, 9);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.left, 4);
    EXPECT_EQ(r.right, 6);

    std::vector<int> one = {7};
    r = bracket_ints(one, 7);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 0);
    EXPECT_EQ(bracket_ints(one, 6).rc, -1);
    EXPECT_EQ(bracket_ints(one, 8).rc, -2);

    std::vector<int> two = {3, 5};
    r = bracket_ints(two, 4);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 1);
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
        BracketResult r = bracket_ints(a, key);
        if (first >= 0) {
            EXPECT_EQ(r.rc, 1) << key;
            EXPECT_EQ(r.left, first) << key;
            EXPECT_EQ(r.right, last) << key;
        } else {
            ASSERT_EQ(r.rc, 0) << key;
            EXPECT_LT(a[r.left], key);
            EXPECT_GT(a[r.right], key);
            EXPECT_EQ(r.right, r.left + 1);
        }
    }
}

TEST(Bracket, KeysOutsideCostTwoComparisons)
{
    std::vector<int> a(1000);
    for (int i = 0; i < 1000; ++i) a[i] = i;
    int key = -5, l, r;
    compare_calls = 0;
    EXPECT_EQ(bracket(&key, a.data(), a.size(), sizeof(int), counting_cmp_integers, &l, &r), -1);
    EXPECT_EQ(compare_calls, 2);
    key = 5000;
    compare_calls = 0;
    EXPECT_EQ(bracket(&key, a.data(), a.size(), sizeof(int), counting_cmp_integers, &l, &r), -2);
    EXPECT_EQ(compare_calls, 2);
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
