// Fuzz target for the 64-bit integer parser.
// Input: one byte choosing the base (-2 to 40, so invalid bases are covered),
// then the text.  For the bases that strtoll accepts, the result and the end
// pointer must equal strtoll's, except that a "0x" prefix with no hexadecimal
// digit after it is no number at all.  For the other bases the parse is checked
// against a direct reading of the rules.  The error number is never touched.
#include "keltools.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool c_space(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The digit's value by its place in the alphabet of digits, or -1.
int letter_value(unsigned char c)
{
    static const std::string digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    size_t at = digits.find((char)(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c));
    return c != 0 && at != std::string::npos ? (int)at : -1;
}

// Where the sign ends: leading white space and one sign skipped.
const char *after_sign(const char *s, bool *negative)
{
    while (c_space((unsigned char)*s))
        s++;
    *negative = *s == '-';
    if (*s == '-' || *s == '+')
        s++;
    return s;
}

bool bare_hex_prefix(const char *text, int base)
{
    bool negative;
    const char *s = after_sign(text, &negative);
    if ((base != 0 && base != 16) || s[0] != '0' || (s[1] != 'x' && s[1] != 'X'))
        return false;
    int d = letter_value((unsigned char)s[2]);
    return d < 0 || d >= 16;
}

// The rules read directly, for bases outside strtoll's 2..36 (and 0).
long long reference(const char *text, const char **end, int base)
{
    bool negative;
    const char *s = after_sign(text, &negative);
    unsigned long long limit = negative ? (unsigned long long)LLONG_MAX + 1 : LLONG_MAX;
    unsigned long long value = 0;
    bool overflow = false, any = false;
    for (;; s++) {
        int d = letter_value((unsigned char)*s);
        if (d < 0 || d >= base)
            break;
        any = true;
        // base is 1 here, or above 36: the value can only grow past the limit
        // through the multiplication or the addition.
        unsigned __int128 next = (unsigned __int128)value * (unsigned)base + (unsigned)d;
        if (overflow || next > limit)
            overflow = true;
        else
            value = (unsigned long long)next;
    }
    *end = any ? s : text;
    if (overflow)
        return negative ? LLONG_MIN : LLONG_MAX;
    return negative ? (long long)(0ULL - value) : (long long)value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int base = (int)(data[0] % 43) - 2;
    std::string text((const char *)data + 1, size - 1);
    const char *s = text.c_str();

    errno = 4321;
    char *end = nullptr;
    long long got = strtoq1(s, &end, base);
    if (errno != 4321)
        abort();
    if (strtoq1(s, nullptr, base) != got)
        abort();

    if (base == 0 || (base >= 2 && base <= 36)) {
        if (bare_hex_prefix(s, base)) {
            if (got != 0 || end != s)
                abort();
            return 0;
        }
        char *want_end = nullptr;
        long long want = strtoll(s, &want_end, base);
        if (got != want || end != want_end)
            abort();
    } else if (base > 0) {
        const char *want_end = nullptr;
        long long want = reference(s, &want_end, base);
        if (got != want || end != want_end)
            abort();
    } else if (got != 0 || end != s) {
        abort();
    }
    return 0;
}
