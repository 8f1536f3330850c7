#include "keltools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

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

TEST(Timestamp, DayFirstWithLeadingZeros)
{
    time_t before = time(nullptr);
    char *a = datetime();
    time_t after = time(nullptr);
    ASSERT_EQ(strlen(a), 19u);
    std::string text = a;
    bool matched_one = false;
    for (time_t t = before; t <= after; t++) {
        struct tm tm_local;
        localtime_r(&t, &tm_local);
        char expected[32];
        strftime(expected, sizeof expected, "%d/%m/%Y %H:%M:%S", &tm_local);
        matched_one |= text == expected;
    }
    EXPECT_TRUE(matched_one) << text;
    EXPECT_EQ(datetime(), a);  // one static buffer
}
