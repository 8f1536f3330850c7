// ranges: sets of integer ranges, their union and intersection.

#include "keltools.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

/*
 * Integer ranges.  A set is a list of closed ranges sorted by start; the
 * union sorts both lists together and joins neighbours, the intersection
 * walks the smaller set and finds the candidates in the larger by bisection.
 * Sets that are not sorted give wrong answers but never reach outside the
 * arrays.
 */

int cmp_range(const void *e1, const void *e2)
{
    int a = ((const id_range_t *)e1)->s_id;
    int b = ((const id_range_t *)e2)->s_id;
    return (a > b) - (a < b);
}

int merge_ranges(int nr, id_range_t *ir)
{
    if (nr <= 0)
        return 0;
    int j = 0;
    for (int i = 1; i < nr; i++) {
        if ((long long)ir[i].s_id > (long long)ir[j].e_id + 1)
            ir[++j] = ir[i];
        else if (ir[i].e_id > ir[j].e_id)
            ir[j].e_id = ir[i].e_id;
    }
    return j + 1;
}

static int range_count(const rangeset_t *set)
{
    return set->nr > 0 && set->ir ? set->nr : 0;
}

static void set_empty(rangeset_t *out)
{
    out->nr = 0;
    out->ir = nullptr;
}

int ranges_merge(const rangeset_t *in1, const rangeset_t *in2, rangeset_t *out)
{
    int n1 = range_count(in1), n2 = range_count(in2);
    if (n1 + n2 == 0) {
        set_empty(out);
        return 0;
    }
    id_range_t *all = (id_range_t *)malloc((size_t)(n1 + n2) * sizeof *all);
    if (!all)
        return -1;
    std::copy_n(in1->ir, n1, all);
    std::copy_n(in2->ir, n2, all + n1);
    qsort(all, n1 + n2, sizeof *all, cmp_range);
    out->nr = merge_ranges(n1 + n2, all);
    out->ir = all;
    return 0;
}

// Growing output of ranges_intersect.
struct range_list {
    id_range_t *ir;
    int nr, nr_a;
};

static bool range_list_add(range_list *list, int s, int e)
{
    if (list->nr == list->nr_a) {
        id_range_t *grown = (id_range_t *)realloc(list->ir, 2 * (size_t)list->nr_a * sizeof *grown);
        if (!grown)
            return false;
        list->ir = grown;
        list->nr_a *= 2;
    }
    list->ir[list->nr].s_id = s;
    list->ir[list->nr].e_id = e;
    list->nr++;
    return true;
}

// Where the identifier id falls among the starts of the sorted ranges.
static int locate_start(const id_range_t *ir, int nr, int id, int *left, int *right)
{
    id_range_t key = {id, id};
    return bracket(&key, ir, nr, sizeof *ir, cmp_range, left, right);
}

int ranges_intersect(const rangeset_t *in1, const rangeset_t *in2, rangeset_t *out)
{
    int n1 = range_count(in1), n2 = range_count(in2);
    if (n1 == 0 || n2 == 0) {
        set_empty(out);
        return 0;
    }
    const rangeset_t *walked = n1 <= n2 ? in1 : in2;
    const rangeset_t *searched = n1 <= n2 ? in2 : in1;
    int nw = std::min(n1, n2), ns = std::max(n1, n2);
    const id_range_t *big = searched->ir;

    range_list list = {(id_range_t *)malloc((size_t)ns * sizeof(id_range_t)), 0, ns};
    if (!list.ir)
        return -1;
    for (int i = 0; i < nw; i++) {
        int s = walked->ir[i].s_id, e = walked->ir[i].e_id;
        int left, right, first, last;

        int found = locate_start(big, ns, s, &left, &right);
        first = found == -1 ? 0 : found == -2 ? ns - 1 : left;

        found = locate_start(big, ns, e, &left, &right);
        if (found == -1)
            continue;
        last = found == -2 ? ns - 1 : found == 1 ? right : std::max(right - 1, 0);

        if (last < first) {
            warning1("warning: left (%d) > right (%d)\n", first, last);
            continue;
        }
        for (int k = first; k <= last; k++) {
            int lo = std::max(s, big[k].s_id), hi = std::min(e, big[k].e_id);
            if (lo <= hi && !range_list_add(&list, lo, hi)) {
                free(list.ir);
                return -1;
            }
        }
    }
    if (list.nr == 0) {
        free(list.ir);
        set_empty(out);
        return 0;
    }
    id_range_t *shrunk = (id_range_t *)realloc(list.ir, (size_t)list.nr * sizeof *shrunk);
    out->ir = shrunk ? shrunk : list.ir;
    out->nr = list.nr;
    return 0;
}
