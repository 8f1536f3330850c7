#include "keltools.h"

#include <gtest/gtest.h>

#include <string>

TEST(DigitGrouping, GroupedThirtyTwoBit)
{
    EXPECT_STREQ(insert_commas2(0), "0");
    EXPECT_STREQ(insert_commas2(999), "999");
    EXPECT_STREQ(insert_commas2(1000), "1,000");
    EXPECT_STREQ(insert_commas2(1000000), "1,000,000");
    EXPECT_STREQ(insert_commas2(4294967295u), "4,294,967,295");
    EXPECT_EQ(std::string(insert_commas(1000)), std::string(8, ' ') + "1,000");
    EXPECT_EQ(std::string(insert_commas(0)), std::string(12, ' ') + "0");
    EXPECT_EQ(std::string(insert_commas(4294967295u)), "4,294,967,295");
}

TEST(DigitGrouping, SixtyFourBitReadAsUnsigned)
{
    EXPECT_STREQ(insert_commas4(-1), "18,446,744,073,709,551,615");
    EXPECT_STREQ(insert_commas4(10000000000000000000ULL), "10,000,000,000,000,000,000");
    EXPECT_STREQ(insert_commas4(0), "0");
    EXPECT_STREQ(insert_commas4(1234), "1,234");
    EXPECT_EQ(std::string(insert_commas3(1234)), std::string(21, ' ') + "1,234");
    EXPECT_STREQ(insert_commas6(-1), "18446744073709551615");
    EXPECT_STREQ(insert_commas6(123456789012LL), "123456789012");
    EXPECT_STREQ(insert_commas6(0), "0");
    EXPECT_STREQ(insert_commas6(100), "100");
    EXPECT_EQ(std::string(insert_commas5(100)), std::string(17, ' ') + "100");
}

TEST(DigitGrouping, RingOfEightBuffers)
{
    char *r[9];
    for (int i = 0; i < 8; i++)
        r[i] = insert_commas2((unsigned)(i + 1) * 1000);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(std::string(r[i]), std::to_string(i + 1) + ",000");
    r[8] = insert_commas6(77);
    EXPECT_STREQ(r[8], "77");
    EXPECT_STRNE(r[0], "1,000");  // the ninth call took the oldest buffer
}
