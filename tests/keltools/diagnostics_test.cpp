#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

using kt_test::run_in_child;

TEST(Messages, ErrorsPrintExactlyAndExitWithOne)
{
    auto r = run_in_child([] { error1("cannot %s %d\n", "open", 7); });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open 7\n");

    r = run_in_child([] { error2(stdout, "to stream only %d", 1); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "to stream only 1");

    r = run_in_child([] { error3(stdout, "twice %s\n", "here"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "twice here\n");
    EXPECT_EQ(r.out, "twice here\n");
}

TEST(Messages, WarningsReturnAndRespectNullStreams)
{
    auto r = run_in_child([] {
        warning1("no newline");
        warning1(" same line\n");
        warning2(NULL, "lost\n");
        warning3(NULL, "lost too\n");
        warning2(stdout, "out %d\n", 2);
        warning3(stdout, "both %d\n", 3);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "no newline same line\nboth 3\n");
    EXPECT_EQ(r.out, "out 2\nboth 3\n");
}

TEST(Messages, DebugGoesOnlyToTheDebugStream)
{
    auto r = run_in_child([] {
        debug_tools("nowhere\n");
        tools_debug = stdout;
        debug_tools("debug %d\n", 5);
        tools_debug = NULL;
    });
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "debug 5\n");
}

TEST(BoundedFormat, StoresAtMostSizeBytesAndReturnsFullLength)
{
    char buf[30];
    EXPECT_EQ(snprintf1(buf, sizeof buf, "%s", "nineteen characters"), 19);
    EXPECT_STREQ(buf, "nineteen characters");

    char small[8];
    memset(small, 'X', sizeof small);
    EXPECT_EQ(snprintf1(small, 5, "%d", 123456789), 9);
    EXPECT_STREQ(small, "1234");
    EXPECT_EQ(small[5], 'X');

    char untouched = 'Q';
    EXPECT_EQ(snprintf1(&untouched, 0, "abc"), 3);
    EXPECT_EQ(untouched, 'Q');
}

TEST(BoundedFormat, LongNameIsCutSilently)
{
    std::string longname(300, 'n');
    char name[260];
    EXPECT_EQ(snprintf1(name, sizeof name, "%s", longname.c_str()), 300);
    EXPECT_EQ(std::string(name), std::string(259, 'n'));
}

TEST(BoundedFormat, OverflowStopsAtTheScratchLimit)
{
    // Below 2^20 characters through a small buffer: silent truncation.
    std::string just_below(1048575, 'a');
    auto r = run_in_child([&] {
        char buf[4];
        int n = snprintf1(buf, sizeof buf, "%s", just_below.c_str());
        printf("%d %s", n, buf);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1048575 aaa");

    // 2^20 characters: the overflow stop, naming the format, not the text.
    std::string at_limit(1048576, 'a');
    r = run_in_child([&] {
        char buf[4];
        snprintf1(buf, sizeof buf, "%s", at_limit.c_str());
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "snprintf1() buffer overflow! format=%s\n");

    // With size + 1 above 2^20 the limit is size + 1.
    std::string text(2000000, 'b');
    r = run_in_child([&] {
        std::string big(2000001, '\0');
        int n = snprintf1(big.data(), 2000000, "%s", text.c_str());
        printf("%d %zu", n, strlen(big.c_str()));
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "2000000 1999999");
    r = run_in_child([&] {
        std::string big(1500001, '\0');
        snprintf1(big.data(), 1500000, "<%s>", text.c_str());
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "snprintf1() buffer overflow! format=<%s>\n");
}

TEST(Clock, CountsCallsAndSleepsByTheProcessClock)
{
    int before = clock1_call_counter;
    double t0 = clock1();
    EXPECT_EQ(clock1_call_counter, before + 1);
    EXPECT_GE(t0, 0.0);

    sleep1(0.02);
    EXPECT_GE(clock1() - t0, 0.02);
    EXPECT_GE(clock1_call_counter, before + 4);

    // A negative interval returns at the first reading after the start.
    int counter = clock1_call_counter;
    sleep1(-1.0);
    EXPECT_EQ(clock1_call_counter, counter + 2);
}
