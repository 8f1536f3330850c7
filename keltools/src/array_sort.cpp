// array_sort: comparisons, sorts, de-duplication and merges of arrays of
// records in memory.

#include "keltools.h"
#include "sort_internal.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

using namespace keltools_internal;

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


/* ---- array sort helpers ---- */

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

/*
 * Partial sorts by insertion: the front of the array holds the records kept
 * so far in ascending order.  Once it is full, a record not below the largest
 * kept one is rejected with a single comparison; otherwise it is inserted
 * behind the kept records equal to it and the largest kept record falls out.
 * In distinct mode a record equal to a kept one is skipped instead.
 */
static int insertion_psort(void *array, size_t nmemb, size_t size, int limit,
                           int (*compare)(const void *, const void *), bool distinct)
{
    if (limit <= 0 || (size_t)limit >= nmemb) {
        qsort(array, nmemb, size, compare);
        return (int)nmemb;
    }
    char *tmp = (char *)xmalloc(size);
    size_t k = 1, lim = (size_t)limit;
    for (size_t i = 1; i < nmemb; ++i) {
        char *rec = record_at(array, i, size);
        if (k == lim && compare(rec, record_at(array, k - 1, size)) >= 0) continue;
        memcpy(tmp, rec, size);
        size_t j = 0;
        int c = 1;
        for (; j < k; ++j) {
            c = compare(tmp, record_at(array, j, size));
            if (c < 0 || (distinct && c == 0)) break;
        }
        if (distinct && j < k && c == 0) continue;
        size_t end = k < lim ? k : k - 1;  // records j .. end-1 move up one place
        memmove(record_at(array, j + 1, size), record_at(array, j, size), (end - j) * size);
        memcpy(record_at(array, j, size), tmp, size);
        if (k < lim) ++k;
    }
    free(tmp);
    return (int)k;
}

int psort(void *array, size_t nmemb, size_t size, int limit, int (*compare)(const void *, const void *))
{
    return insertion_psort(array, nmemb, size, limit, compare, false);
}

int pusort(void *array, size_t nmemb, size_t size, int limit, int (*compare)(const void *, const void *))
{
    return insertion_psort(array, nmemb, size, limit, compare, true);
}

// The comparison last given to accumulate; cmp_accumulate reverses it so
// that the heap helpers, which put the smallest first, keep the largest first.
static int (*cmp_accumulate_f)(const void *, const void *);

static int cmp_accumulate(const void *a, const void *b)
{
    int c = cmp_accumulate_f(a, b);
    return (c < 0) - (c > 0);
}

static void swap_records(char *a, char *b, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        char t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

void *heap_siftup(void *root, int element, size_t size, int (*cmp)(const void *, const void *))
{
    while (element > 0) {
        int parent = (element - 1) / 2;
        char *rec = record_at(root, element, size), *up = record_at(root, parent, size);
        if (cmp(rec, up) >= 0) break;
        swap_records(rec, up, size);
        element = parent;
    }
    return record_at(root, element, size);
}

void *heap_siftdown(void *element, void *endel, size_t size, size_t diff,
                    int (*cmp)(const void *, const void *))
{
    char *el = (char *)element, *end = (char *)endel;
    while (el + diff < end) {
        char *left = el + diff, *right = left + size;
        bool take_right = cmp(left, right) > 0;
        char *child = take_right ? right : left;
        if (cmp(el, child) <= 0) return el;
        swap_records(el, child, size);
        diff = 2 * diff + (take_right ? size : 0);
        el = child;
    }
    if (el + diff == end && cmp(el, end) > 0) {
        swap_records(el, end, size);
        el = end;
    }
    return el;
}

int accumulate(void *array, const void *elem, size_t size, int *nmemb, int max_nmemb,
               int (*compare)(const void *, const void *))
{
    cmp_accumulate_f = compare;
    if (max_nmemb <= 0) return 0;
    if (*nmemb >= max_nmemb) {
        if (compare(elem, array) > 0) return 0;
        memcpy(array, elem, size);
        heap_siftdown(array, record_at(array, *nmemb - 1, size), size, size, cmp_accumulate);
        return 1;
    }
    int at = (*nmemb)++;
    memcpy(record_at(array, at, size), elem, size);
    heap_siftup(array, at, size, cmp_accumulate);
    return 1;
}

/*
 * psort1 keeps the limit smallest records in a heap with the largest on top
 * when few of many records are wanted; the heap's array is only needed on
 * that path, so it is only allocated there.
 */
int psort1(void *array, size_t nmemb, size_t size, int limit, int (*compare)(const void *, const void *))
{
    if (limit < 1) {
        qsort(array, nmemb, size, compare);
        return (int)nmemb;
    }
    if (nmemb >= 100 && (size_t)limit < nmemb / 3) {
        char *heap = (char *)xmalloc((size_t)limit * size);
        int count = 0;
        for (size_t i = 0; i < nmemb; ++i)
            accumulate(heap, record_at(array, i, size), size, &count, limit, compare);
        qsort(heap, (size_t)count, size, compare);
        memcpy(array, heap, (size_t)count * size);
        free(heap);
        return count;
    }
    qsort(array, nmemb, size, compare);
    return (size_t)limit < nmemb ? limit : (int)nmemb;
}

/*
 * uniq2 compacts the distinct records to the front as uniq does, but parks
 * each repeat in a buffer of at most 16 MB.  A full buffer is emptied into
 * the tail: the unexamined records slide down over the gap the repeats left,
 * and the buffered batch fills the freed end.  The last batch goes just
 * before the tail, so batches end up latest first.
 */
int uniq2(void *array, size_t nmemb, size_t size, int (*compare)(const void *, const void *))
{
    if (nmemb == 0) return 0;
    size_t cap = size ? 16777216 / size : nmemb;
    if (cap > nmemb) cap = nmemb;
    if (cap < 1) cap = 1;
    char *held = (char *)xmalloc(cap * size);
    if (nmemb == 1) {
        free(held);
        return 1;
    }
    size_t trg = 1, n = 0, end = nmemb;
    for (size_t src = 1; src < end; ++src) {
        if (n == cap) {
            memmove(record_at(array, trg, size), record_at(array, src, size), (end - src) * size);
            end -= cap;
            memcpy(record_at(array, end, size), held, cap * size);
            n = 0;
            src = trg;
        }
        char *rec = record_at(array, src, size);
        if (compare(rec, record_at(array, trg - 1, size)) != 0) {
            if (src != trg) memcpy(record_at(array, trg, size), rec, size);
            ++trg;
        } else {
            memcpy(held + n * size, rec, size);
            ++n;
        }
    }
    memcpy(record_at(array, end - n, size), held, n * size);
    free(held);
    return (int)trg;
}

/* ---- set operations of merge(): intersection and union ---- */

namespace {

// The intersection: while every array has a current record, copy it if all
// are equal and advance them all, else advance the first smallest.
int merge_intersection(int n, void *const *bases, const int *nmembs, int size, void **result,
                       CompareFn compar)
{
    if (n < 1) return 0;
    int r = *std::min_element(nmembs, nmembs + n);
    if (r <= 0) return 0;
    char *out = (char *)xmalloc((size_t)r * size);
    std::vector<int> pos((size_t)n, 0);
    auto current = [&](int k) { return record_at(bases[k], (size_t)pos[k], (size_t)size); };
    int count = 0;
    for (;;) {
        for (int k = 0; k < n; ++k)
            if (pos[k] >= nmembs[k]) {
                *result = out;
                return count;
            }
        int j = 0;
        bool all_equal = true;
        for (int k = 1; k < n; ++k) {
            int c = compar(current(k), current(j));
            if (c != 0) all_equal = false;
            if (c < 0) j = k;
        }
        if (all_equal) {
            memcpy(out + (size_t)count++ * size, current(0), (size_t)size);
            for (int k = 0; k < n; ++k) ++pos[k];
        } else {
            ++pos[j];
        }
    }
}

// The union without repeats: take the first smallest current record, write
// it unless it equals the last one written.
int merge_union(int n, void *const *bases, const int *nmembs, int size, void **result, CompareFn compar)
{
    if (n < 0) n = 0;
    size_t total = 0;
    int live = 0;
    for (int k = 0; k < n; ++k)
        if (nmembs[k] > 0) {
            total += (size_t)nmembs[k];
            ++live;
        }
    char *out = (char *)xmalloc(total * size);
    std::vector<int> pos((size_t)n, 0);
    auto current = [&](int k) { return record_at(bases[k], (size_t)pos[k], (size_t)size); };
    int count = 0;
    while (live > 0) {
        int j = -1;
        for (int k = 0; k < n; ++k)
            if (pos[k] < nmembs[k] && (j < 0 || compar(current(k), current(j)) < 0)) j = k;
        if (j < 0) error1("merge() fatal internal error\n");
        bool repeat = count > 0 && compar(out + (size_t)(count - 1) * size, current(j)) == 0;
        if (!repeat) memcpy(out + (size_t)count++ * size, current(j), (size_t)size);
        if (++pos[j] == nmembs[j]) --live;
    }
    *result = out;
    return count;
}

}  // namespace

int merge(int op, int n, void *const *bases, const int *nmembs, int size, void **result, CompareFn compar)
{
    if (op == 1) return merge_intersection(n, bases, nmembs, size, result, compar);
    if (op == 2) return merge_union(n, bases, nmembs, size, result, compar);
    return -1;
}
