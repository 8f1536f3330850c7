#include "keltools.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <string>

namespace {

// Parses text in base and returns the value, storing the number of
// characters used in *used.
long long parse(const char *text, int base, long *used)
{
    char *end = nullptr;
    long long v = strtoq1(text, &end, base);
    *used = end - text;
    return v;
}

}  // namespace

TEST(Strtoq1, SignsSpacesAndEndPointer)
{
    long used;
    EXPECT_EQ(parse(" +42abc", 10, &used), 42);
    EXPECT_EQ(used, 4);
    EXPECT_EQ(parse("\t\n-17", 10, &used), -17);
    EXPECT_EQ(used, 5);
    EXPECT_EQ(parse("-", 10, &used), 0);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(parse("   ", 10, &used), 0);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(parse("\xd0" "12", 10, &used), 0);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(parse("12\xd0", 10, &used), 12);
    EXPECT_EQ(used, 2);
    EXPECT_EQ(strtoq1("123456789012", nullptr, 10), 123456789012LL);
}

TEST(Strtoq1, SaturatesWithoutErrno)
{
    long used;
    errno = 0;
    EXPECT_EQ(parse("-9223372036854775808", 10, &used), LLONG_MIN);
    EXPECT_EQ(parse("9223372036854775807", 10, &used), LLONG_MAX);
    EXPECT_EQ(parse("9223372036854775808", 10, &used), LLONG_MAX);
    EXPECT_EQ(parse("-9223372036854775809", 10, &used), LLONG_MIN);
    EXPECT_EQ(parse("99999999999999999999x", 10, &used), LLONG_MAX);
    EXPECT_EQ(used, 20);
    std::string thousands(5000, '7');
    EXPECT_EQ(parse(thousands.c_str(), 10, &used), LLONG_MAX);
    EXPECT_EQ(used, 5000);
    EXPECT_EQ(errno, 0);
}

TEST(Strtoq1, BasesAndPrefixes)
{
    long used;
    EXPECT_EQ(parse("0x1A", 0, &used), 26);
    EXPECT_EQ(used, 4);
    EXPECT_EQ(parse("1a", 16, &used), 26);
    EXPECT_EQ(parse("0X1a", 16, &used), 26);
    EXPECT_EQ(parse("012", 0, &used), 10);
    EXPECT_EQ(parse("09", 0, &used), 0);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(parse("0x", 16, &used), 0);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(parse("0xg", 0, &used), 0);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(parse("0x12", 10, &used), 0);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(parse("zz", 36, &used), 35 * 36 + 35);
    EXPECT_EQ(parse("-ff", 16, &used), -255);
}

TEST(Strtoq1, BasesAreNotValidated)
{
    long used;
    EXPECT_EQ(parse("0001", 1, &used), 0);
    EXPECT_EQ(used, 3);
    EXPECT_EQ(parse("z!", 40, &used), 35);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(parse("5", -3, &used), 0);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(parse("z.", 100, &used), 35);
    EXPECT_EQ(used, 1);
}
