// strtoq: 64-bit integer parsing, the same on every platform.

#include "keltools.h"

#include <limits.h>

namespace {

// The value of an ASCII digit or letter, or -1 for anything else.
int digit_value(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return -1;
}

bool is_c_space(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

long long strtoq1(const char *nptr, char **endptr, int base)
{
    const unsigned char *s = (const unsigned char *)nptr;
    while (is_c_space(*s))
        s++;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        s++;
    if ((base == 0 || base == 16) && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s += 2;
        base = 16;
    }
    if (base == 0)
        base = *s == '0' ? 8 : 10;

    unsigned long long limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
    unsigned long long ubase = base > 0 ? (unsigned long long)base : 1;
    unsigned long long cutoff = limit / ubase;
    int cutlim = (int)(limit % ubase);
    unsigned long long value = 0;
    bool overflow = false, any = false;
    for (;; s++) {
        int d = digit_value(*s);
        if (d < 0 || d >= base)
            break;
        any = true;
        if (overflow || value > cutoff || (value == cutoff && d > cutlim))
            overflow = true;
        else
            value = value * (unsigned long long)base + (unsigned long long)d;
    }
    if (endptr)
        *endptr = (char *)(any ? (const char *)s : nptr);
    if (overflow)
        return negative ? (-9223372036854775807LL - 1) : 9223372036854775807LL;
    return negative ? (long long)(0ULL - value) : (long long)value;
}
