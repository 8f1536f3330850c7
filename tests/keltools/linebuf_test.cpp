// The line reader: lines cut in place, refills, doubling, and when the
// stream is closed.

#ifdef _WIN32
#include <gtest/gtest.h>

TEST(LineReader, SkippedOnWindows)
{
    GTEST_SKIP() << "POSIX only: the reader is driven through fopencookie streams (glibc) to count its reads and closes";
}
#else

#include "keltools.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A stream over a string that counts how often it is closed, so the tests can
// tell when the reader closes it.
struct Source {
    std::string data;
    size_t pos = 0;
    int closes = 0;
};

ssize_t source_read(void *cookie, char *buf, size_t size)
{
    Source *s = static_cast<Source *>(cookie);
    size_t n = std::min(size, s->data.size() - s->pos);
    memcpy(buf, s->data.data() + s->pos, n);
    s->pos += n;
    return (ssize_t)n;
}

int source_close(void *cookie)
{
    ++static_cast<Source *>(cookie)->closes;
    return 0;
}

FILE *open_source(Source &s)
{
    cookie_io_functions_t io = {source_read, nullptr, nullptr, source_close};
    return fopencookie(&s, "r", io);
}

// Reads every line; stops at the first result other than 0, stored in *rc.
std::vector<std::string> all_lines(linebuf_t *lb, int *rc)
{
    std::vector<std::string> lines;
    char *s;
    while ((*rc = linebuf_nextline(lb, &s)) == 0) lines.push_back(s);
    return lines;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(LineReader, ShortStreamIsReadWholeAndClosedAtOnce)
{
    Source src{"one\ntwo\n"};
    linebuf_t lb;
    ASSERT_EQ(linebuf_init(&lb, open_source(src), 64), 0);
    EXPECT_EQ(src.closes, 1);
    EXPECT_EQ(lb.fp, nullptr);
    EXPECT_EQ(lb.nb, 8);
    int rc;
    EXPECT_EQ(all_lines(&lb, &rc), (Lines{"one", "two"}));
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(linebuf_nextline(&lb, nullptr), 1);  // still the end, *s untouched
    EXPECT_EQ(linebuf_close(&lb), 0);
    EXPECT_EQ(src.closes, 1);  // not closed a second time
}

TEST(LineReader, StreamOfExactlyTheBufferEndingInLineFeedStaysOpenUntilClose)
{
    Source src{"abc\ndefg\n"};  // 9 bytes
    linebuf_t lb;
    FILE *fp = open_source(src);
    ASSERT_EQ(linebuf_init(&lb, fp, 9), 0);
    EXPECT_EQ(lb.fp, fp);
    EXPECT_EQ(src.closes, 0);
    int rc;
    EXPECT_EQ(all_lines(&lb, &rc), (Lines{"abc", "defg"}));
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(lb.msize, 9);  // the empty refill ended it, no doubling
    EXPECT_EQ(src.closes, 0);
    linebuf_close(&lb);
    EXPECT_EQ(src.closes, 1);
}

TEST(LineReader, StreamOfExactlyTheBufferWithoutLineFeedDoublesOnce)
{
    // One line filling the buffer: only an enlargement can look for more,
    // and its empty read marks the end.
    Source src{"abcdefghi"};
    linebuf_t lb;
    ASSERT_EQ(linebuf_init(&lb, open_source(src), 9), 0);
    char *s;
    ASSERT_EQ(linebuf_nextline(&lb, &s), 0);
    EXPECT_STREQ(s, "abcdefghi");
    EXPECT_EQ(lb.msize, 18);
    EXPECT_EQ(linebuf_nextline(&lb, &s), 1);
    linebuf_close(&lb);
    EXPECT_EQ(src.closes, 1);

    // After a handed-out line, the tail is moved instead, and no doubling
    // is needed for the last line.
    Source two{"abc\ndefgh"};
    ASSERT_EQ(linebuf_init(&lb, open_source(two), 9), 0);
    int rc;
    EXPECT_EQ(all_lines(&lb, &rc), (Lines{"abc", "defgh"}));
    EXPECT_EQ(lb.msize, 9);
    linebuf_close(&lb);
}

TEST(LineReader, EmptyStreamIsLeftToTheCaller)
{
    Source src{""};
    linebuf_t lb;
    FILE *fp = open_source(src);
    EXPECT_EQ(linebuf_init(&lb, fp, 16), 1);
    EXPECT_EQ(src.closes, 0);
    fclose(fp);
    EXPECT_EQ(src.closes, 1);
}

TEST(LineReader, LastLineWithOrWithoutLineFeedAndEmptyLines)
{
    for (const char *text : {"first\nsecond", "first\nsecond\n"}) {
        Source src{text};
        linebuf_t lb;
        ASSERT_EQ(linebuf_init(&lb, open_source(src), 100), 0);
        int rc;
        EXPECT_EQ(all_lines(&lb, &rc), (Lines{"first", "second"})) << text;
        EXPECT_EQ(rc, 1);
        linebuf_close(&lb);
    }
    Source feeds{"\n\n"};
    linebuf_t lb;
    ASSERT_EQ(linebuf_init(&lb, open_source(feeds), 100), 0);
    int rc;
    EXPECT_EQ(all_lines(&lb, &rc), (Lines{"", ""}));
    EXPECT_EQ(rc, 1);
    linebuf_close(&lb);

    Source crlf{"dos\r\nline\r\n"};
    ASSERT_EQ(linebuf_init(&lb, open_source(crlf), 4), 0);
    EXPECT_EQ(all_lines(&lb, &rc), (Lines{"dos\r", "line\r"}));
    linebuf_close(&lb);
}

TEST(LineReader, LongLineDoublesTheBufferAsOftenAsNeeded)
{
    std::string longline(24, 'x');  // three times the initial size
    Source src{longline + "\nshort\n"};
    linebuf_t lb;
    ASSERT_EQ(linebuf_init(&lb, open_source(src), 8), 0);
    char *s;
    ASSERT_EQ(linebuf_nextline(&lb, &s), 0);
    EXPECT_EQ(std::string(s), longline);
    EXPECT_EQ(lb.msize, 32);  // 8 -> 16 -> 32
    ASSERT_EQ(linebuf_nextline(&lb, &s), 0);
    EXPECT_STREQ(s, "short");
    EXPECT_EQ(linebuf_nextline(&lb, &s), 1);
    linebuf_close(&lb);
}

TEST(LineReader, RefillsCarryLinesAcrossBufferBoundaries)
{
    // Lines of 1 to 9 bytes through a 10-byte buffer: every refill moves a
    // partial line to the front, and the buffer never needs to grow.
    Lines want;
    std::string text;
    for (int i = 0; i < 200; ++i) {
        std::string line(1 + i % 9, (char)('a' + i % 26));
        want.push_back(line);
        text += line + "\n";
    }
    Source src{text};
    linebuf_t lb;
    ASSERT_EQ(linebuf_init(&lb, open_source(src), 10), 0);
    int rc;
    EXPECT_EQ(all_lines(&lb, &rc), want);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(lb.msize, 10);
    linebuf_close(&lb);
    EXPECT_EQ(src.closes, 1);
}

TEST(LineReader, InvalidSizeIsAnAllocationFailure)
{
    Source src{"x\n"};
    FILE *fp = open_source(src);
    linebuf_t lb;
    EXPECT_EQ(linebuf_init(&lb, fp, 0), -1);
    EXPECT_EQ(src.closes, 0);
    fclose(fp);
}

#endif  // _WIN32
