// fsort: array de-duplication and sorting of arrays and files.

#include "keltools.h"

#include <cstring>

/* ---- array de-duplication ---- */

int uniq(void *array, size_t nmemb, size_t size, int (*compare)(const void *, const void *))
{
    if (nmemb < 2)
        return (int)nmemb;
    char *base = (char *)array;
    size_t trg = 1;
    for (size_t src = 1; src < nmemb; src++) {
        if (compare(base + src * size, base + (trg - 1) * size) == 0)
            continue;
        if (src != trg)
            memcpy(base + trg * size, base + src * size, size);
        trg++;
    }
    return (int)trg;
}

/* ---- line reader, file sorts and array sort helpers ---- */


#include <stdlib.h>
#include <string.h>

namespace {

// Address of record i of an array of records of the given size.
inline char *record_at(const void *array, size_t i, size_t size)
{
    return (char *)array + i * size;
}

template <typename T>
inline int three_way(T a, T b)
{
    return (a > b) - (a < b);
}

}  // namespace

int cmp_str(const void *a, const void *b)
{
    return strcmp(*(const char *const *)a, *(const char *const *)b);
}

int cmp_strlen(const void *a, const void *b)
{
    const char *s1 = *(const char *const *)a, *s2 = *(const char *const *)b;
    size_t l1 = strlen(s1), l2 = strlen(s2);
    if (l1 != l2) return l1 > l2 ? -1 : 1;
    return strcmp(s1, s2);
}

int cmp_integers(const void *a, const void *b)
{
    return three_way(*(const int *)a, *(const int *)b);
}

int cmp_absintegers(const void *a, const void *b)
{
    // Widened first: the absolute value of INT_MIN does not fit an int.
    return three_way(llabs(*(const int *)a), llabs(*(const int *)b));
}

int cmp_unsigned_integers(const void *a, const void *b)
{
    return three_way(*(const unsigned *)a, *(const unsigned *)b);
}

int cmp_doubles(const void *a, const void *b)
{
    // Both tests fail for a NaN on either side, which makes the pair equal.
    return three_way(*(const double *)a, *(const double *)b);
}

/*
 * bracket: both ends are compared first, so a key outside the array costs two
 * comparisons.  Inside, one bisection finds some equal record M (or the two
 * neighbours of the key); two more bisections then walk from M to the first
 * and the last equal record, each within the bounds known when M was found.
 */
int bracket(const void *key, const void *array, size_t nmemb, size_t size,
            int (*compare)(const void *, const void *), int *left, int *right)
{
    if (nmemb == 0) return -3;
    auto cmp_at = [&](int i) { return compare(record_at(array, i, size), key); };
    int L = 0, R = (int)nmemb - 1;
    int c1 = cmp_at(L);
    int c2 = cmp_at(R);
    if (c1 > 0) return -1;
    if (c2 < 0) return -2;
    if (c1 == 0 && c2 == 0) {
        *left = L;
        *right = R;
        return 1;
    }
    int M;
    if (c1 == 0) {
        M = L;
    } else if (c2 == 0) {
        M = R;
    } else {
        for (;;) {
            if (R - L <= 1) {
                *left = L;
                *right = R;
                return 0;
            }
            int mid = L + (R - L) / 2;
            int c = cmp_at(mid);
            if (c == 0) {
                M = mid;
                break;
            }
            if (c < 0) L = mid;
            else R = mid;
        }
    }
    int lo = L, hi = M;
    while (hi - lo > 1) {
        int mid = lo + (hi - lo) / 2;
        if (cmp_at(mid) == 0) hi = mid;
        else lo = mid;
    }
    *left = hi;
    lo = M;
    hi = R;
    while (hi - lo > 1) {
        int mid = lo + (hi - lo) / 2;
        if (cmp_at(mid) == 0) lo = mid;
        else hi = mid;
    }
    *right = lo;
    return 1;
}
