// Money and share quantities as the report pages print them.

#include "platform.h"

#include "money_text.h"

#include "output.h"

#include <cmath>
#include <cstdio>

// Both formatters hand out static text.  stf keeps a ring of buffers so that
// one formatted print can use several money texts; stn has a single buffer.
// Every text is written whole: the largest double needs 309 whole digits, 102
// commas and the colour tags, well inside STF_BUF_SIZE.
enum { STF_BUFS = 100, STF_BUF_SIZE = 512, STN_BUF_SIZE = 1024 };

// Copies the decimal digits digits[0..len) into out with "," between groups
// of three; returns the end of the written text.
static char *group_digits(char *out, const char *digits, size_t len)
{
    for (size_t k = 0; k < len; k++) {
        if (k > 0 && (len - k) % 3 == 0)
            *out++ = ',';
        *out++ = digits[k];
    }
    return out;
}

// The body of a money text for |n| = a: grouped whole part, point and the
// hundredths cut from a's six-decimal text, so the amount is read as the
// decimal value it stands for (0.30 stays 0.30, never 0.29).
static char *money_digits(char *out, double a)
{
    if (!std::isfinite(a))
        return non_finite_text(out, a);
    char text[330];
    char *end = fixed_text(text, a, 6);
    out = group_digits(out, text, end - 7 - text);
    memcpy(out, end - 7, 3);
    return out + 3;
}

// Money as text: "1,234.50", "-1,234.50"; with clr the text is wrapped in a
// green font tag, or a red one when n < 0.  The text lives in the next of
// STF_BUFS static buffers, so it stays valid through the next 99 calls.
static char *next_buffer()
{
    static char bufs[STF_BUFS][STF_BUF_SIZE];
    static int nbuf = 0;
    nbuf = nbuf == STF_BUFS - 1 ? 0 : nbuf + 1;
    return bufs[nbuf];
}

char *stf(double n, int clr)
{
    char *text = next_buffer(), *out = text;
    bool negative = n < 0;
    const char *open = !clr ? "" : negative ? "<font color=red>" : "<font color=darkgreen>";
    out = stpcpy(out, open);
    if (negative)
        *out++ = '-';
    out = money_digits(out, fabs(n));
    strcpy(out, clr ? "</font>" : "");
    return text;
}

char *stk(int64_t kopecks)
{
    char *text = next_buffer(), *o = text;
    uint64_t magnitude = kopecks < 0 ? 0 - (uint64_t)kopecks : (uint64_t)kopecks;
    if (kopecks < 0)
        *o++ = '-';
    char digits[24];
    o = group_digits(o, digits, (size_t)(put_uint(digits, magnitude / 100) - digits));
    *o++ = '.';
    *put_uint(o, magnitude % 100, 2) = 0;
    return text;
}

// A number of shares as a whole number, half to even, without grouping;
// magnitudes below 0.01 give "0".  The text is overwritten by the next call.
char *stn(double n)
{
    static char buf[STN_BUF_SIZE];
    if (fabs(n) < 0.01) {
        strcpy(buf, "0");
    } else {
        fixed_text(buf, n, 0);
    }
    return buf;
}
