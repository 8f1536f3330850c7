#include "keltools.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

using Ranges = std::vector<std::pair<int, int>>;

// A set built from pairs, in a heap array as the functions expect; freed at scope end.
struct Set {
    rangeset_t s{0, nullptr};
    Set() = default;
    explicit Set(const Ranges &r)
    {
        if (r.empty())
            return;
        s.nr = (int)r.size();
        s.ir = (id_range_t *)malloc(r.size() * sizeof *s.ir);
        for (size_t i = 0; i < r.size(); i++)
            s.ir[i] = {r[i].first, r[i].second};
    }
    ~Set() { free(s.ir); }
    Set(const Set &) = delete;
    Set &operator=(const Set &) = delete;
    Ranges ranges() const
    {
        Ranges r;
        for (int i = 0; i < s.nr; i++)
            r.emplace_back(s.ir[i].s_id, s.ir[i].e_id);
        return r;
    }
};

Ranges merged(Ranges r)
{
    std::vector<id_range_t> ir;
    for (auto &p : r)
        ir.push_back({p.first, p.second});
    int n = merge_ranges((int)ir.size(), ir.data());
    Ranges out;
    for (int i = 0; i < n; i++)
        out.emplace_back(ir[i].s_id, ir[i].e_id);
    return out;
}

Ranges set_union(const Ranges &a, const Ranges &b)
{
    Set in1(a), in2(b), out;
    EXPECT_EQ(ranges_merge(&in1.s, &in2.s, &out.s), 0);
    if (out.s.nr == 0) {
        EXPECT_EQ(out.s.ir, nullptr);
    }
    return out.ranges();
}

Ranges set_intersection(const Ranges &a, const Ranges &b)
{
    Set in1(a), in2(b), out;
    EXPECT_EQ(ranges_intersect(&in1.s, &in2.s, &out.s), 0);
    if (out.s.nr == 0) {
        EXPECT_EQ(out.s.ir, nullptr);
    }
    return out.ranges();
}

}  // namespace

TEST(Ranges, ComparatorOrdersByStartOnly)
{
    id_range_t a{1, 100}, b{2, 2}, lo{INT_MIN, 0}, hi{INT_MAX, INT_MAX};
    EXPECT_LT(cmp_range(&a, &b), 0);
    EXPECT_GT(cmp_range(&b, &a), 0);
    EXPECT_EQ(cmp_range(&a, &a), 0);
    EXPECT_LT(cmp_range(&lo, &hi), 0);  // no overflow at the extremes
    EXPECT_GT(cmp_range(&hi, &lo), 0);
}

TEST(Ranges, MergeJoinsOverlappingAndTouchingRanges)
{
    EXPECT_EQ(merged({{1, 3}, {2, 5}, {7, 8}, {9, 9}}), (Ranges{{1, 5}, {7, 9}}));
    EXPECT_EQ(merged({{5, 7}, {8, 9}}), (Ranges{{5, 9}}));
    EXPECT_EQ(merged({{5, 7}, {9, 9}}), (Ranges{{5, 7}, {9, 9}}));
    EXPECT_EQ(merged({{1, 10}, {2, 3}, {4, 12}}), (Ranges{{1, 12}}));  // contained
    EXPECT_EQ(merged({{4, 4}}), (Ranges{{4, 4}}));
    EXPECT_EQ(merged({}), Ranges{});
    EXPECT_EQ(merged({{0, INT_MAX}, {INT_MAX, INT_MAX}}), (Ranges{{0, INT_MAX}}));
}

TEST(Ranges, Union)
{
    EXPECT_EQ(set_union({{1, 2}}, {{3, 4}}), (Ranges{{1, 4}}));
    EXPECT_EQ(set_union({{1, 2}}, {{4, 5}}), (Ranges{{1, 2}, {4, 5}}));
    EXPECT_EQ(set_union({{10, 20}, {30, 40}}, {{1, 2}, {15, 32}, {50, 50}}),
              (Ranges{{1, 2}, {10, 40}, {50, 50}}));
    EXPECT_EQ(set_union({}, {{3, 4}, {8, 9}}), (Ranges{{3, 4}, {8, 9}}));
    EXPECT_EQ(set_union({}, {}), Ranges{});
    // Unsorted input is sorted before merging.
    EXPECT_EQ(set_union({{8, 9}, {1, 2}}, {{3, 3}}), (Ranges{{1, 3}, {8, 9}}));
}

TEST(Ranges, Intersection)
{
    EXPECT_EQ(set_intersection({{1, 10}}, {{3, 4}, {6, 12}}), (Ranges{{3, 4}, {6, 10}}));
    EXPECT_EQ(set_intersection({{3, 4}, {6, 12}}, {{1, 10}}), (Ranges{{3, 4}, {6, 10}}));
    EXPECT_EQ(set_intersection({{5, 6}}, {{1, 2}, {8, 9}}), Ranges{});
    EXPECT_EQ(set_intersection({}, {{1, 2}, {8, 9}}), Ranges{});
    EXPECT_EQ(set_intersection({{1, 2}}, {}), Ranges{});
    // Ends that fall exactly on starts, and ranges before and after the other set.
    EXPECT_EQ(set_intersection({{0, 3}, {7, 20}, {40, 50}}, {{3, 5}, {7, 7}, {10, 12}, {20, 30}}),
              (Ranges{{3, 3}, {7, 7}, {10, 12}, {20, 20}}));
    EXPECT_EQ(set_intersection({{100, 200}}, {{1, 2}, {3, 4}, {150, 300}}), (Ranges{{150, 200}}));
    EXPECT_EQ(set_intersection({{-5, -1}}, {{1, 2}, {3, 4}}), Ranges{});
    // More overlaps than the larger set has ranges: the output grows.
    EXPECT_EQ(set_intersection({{0, 1}, {3, 4}, {6, 7}}, {{1, 3}, {4, 6}, {7, 8}}),
              (Ranges{{1, 1}, {3, 3}, {4, 4}, {6, 6}, {7, 7}}));
}

TEST(Ranges, SetsMayBePassedByValue)
{
    Set a({{1, 5}}), b({{4, 9}}), u, i;
    EXPECT_EQ(ranges_merge(a.s, b.s, &u.s), 0);
    EXPECT_EQ(ranges_intersect(a.s, b.s, &i.s), 0);
    EXPECT_EQ(u.ranges(), (Ranges{{1, 9}}));
    EXPECT_EQ(i.ranges(), (Ranges{{4, 5}}));
}

TEST(Ranges, IntersectionWarnsWhenCandidatesCross)
{
    // A reversed range (start after end) finds its first candidate after its last.
    Set in1({{5, 1}}), in2({{0, 0}, {3, 3}, {6, 6}}), out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ranges_intersect(&in1.s, &in2.s, &out.s), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "warning: left (1) > right (0)\n");
    EXPECT_EQ(out.s.nr, 0);
    EXPECT_EQ(out.s.ir, nullptr);
}

TEST(Ranges, SetsThatAreNotNormalisedStayInBounds)
{
    // Wrong answers are allowed here; reading outside the arrays is not (ASan).
    Ranges messy = {{9, 12}, {1, 30}, {4, 4}, {2, 1}, {INT_MAX, INT_MIN}};
    Ranges small = {{3, 10}, {0, 50}};
    testing::internal::CaptureStderr();
    set_intersection(small, messy);
    set_intersection(messy, small);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(set_union(messy, small), (Ranges{{0, 50}, {INT_MAX, INT_MIN}}));
    EXPECT_LE(merged(messy).size(), messy.size());
}
