// The analyzer's text output: output files, the checked write path and the
// appenders that compose text in local buffers.  Included by the modules
// that write output files (import, consolidation, reports, profit page).
#pragma once

#include "platform.h"

#include "records.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Every output file takes one path: a stream opened by open_output with a
// large buffer, to which write_bytes hands text composed in local buffers by
// the put_* appenders below, and long texts such as names as they stand.
// Every write is checked, so a failed one ends the run at once.

// Opens name for writing (in the mode given: "wb" for bytes that must be the
// same on every platform) with a large buffer of its own; stops the run when
// it cannot be opened.
FILE *open_output(const char *name, const char *mode = "w");
// Closes a stream of open_output(), stopping the run when the close fails,
// and frees its buffer.
void close_output(FILE *fp);
// Stops the run after a failed write to fp, with the message of the close
// that fails on it.
[[noreturn]] void output_failed(FILE *fp);

static inline void write_bytes(FILE *fp, const char *text, size_t len)
{
    if (fwrite_unlocked(text, 1, len, fp) != len)
        output_failed(fp);
}

// Writes the texts one after another.
template <typename... Texts>
static inline void write_texts(FILE *fp, const Texts *...texts)
{
    (write_bytes(fp, texts, strlen(texts)), ...);
}

// Appends a literal.
template <size_t n>
static inline char *put_literal(char *o, const char (&literal)[n])
{
    memcpy(o, literal, n - 1);
    return o + n - 1;
}

static inline char *put_string(char *o, const char *s)
{
    size_t len = strlen(s);
    memcpy(o, s, len);
    return o + len;
}

// Appends the decimal digits of u, with leading zeros up to min_digits.
static inline char *put_uint(char *o, uint64_t u, int min_digits = 1)
{
    static const char pairs[] =
        "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546474849"
        "5051525354555657585960616263646566676869707172737475767778798081828384858687888990919293949596979899";
    char digits[24];
    char *d = digits + sizeof digits;
    while (u >= 100) {
        unsigned pair = (unsigned)(u % 100);
        u /= 100;
        *--d = pairs[2 * pair + 1];
        *--d = pairs[2 * pair];
    }
    if (u >= 10) {
        *--d = pairs[2 * u + 1];
        *--d = pairs[2 * u];
    } else {
        *--d = (char)('0' + u);
    }
    int n = (int)(digits + sizeof digits - d);
    for (; n < min_digits; min_digits--)
        *o++ = '0';
    memcpy(o, d, (size_t)n);
    return o + n;
}

// Appends v as printf("%0*d", width, v) would.
static inline char *put_int(char *o, int64_t v, int width)
{
    if (v < 0) {
        *o++ = '-';
        return put_uint(o, 0 - (uint64_t)v, width - 1);
    }
    return put_uint(o, (uint64_t)v, width);
}

// Appends text right-aligned in width columns, as "%*s" would.
static inline char *put_text(char *o, const char *s, size_t len, int width)
{
    for (size_t i = len; i < (size_t)width; i++)
        *o++ = ' ';
    memcpy(o, s, len);
    return o + len;
}

// Appends the date and time of t as "%02d.%02d.%04d %02d:%02d:%02d" would.
static inline char *put_date_time(char *o, const transaction_t *t)
{
    o = put_int(o, t->d, 2), *o++ = '.';
    o = put_int(o, t->mo, 2), *o++ = '.';
    o = put_int(o, t->y, 4), *o++ = ' ';
    o = put_int(o, t->h, 2), *o++ = ':';
    o = put_int(o, t->mi, 2), *o++ = ':';
    return put_int(o, t->s, 2);
}

// Writes v as printf("%.*f", places, v) writes it, places 0 to 6, into o,
// which needs room for 330 characters; ends the text with a NUL and returns
// the end.
char *fixed_text(char *o, double v, int places);
// A NaN or an infinity as glibc's printf("%f") writes it, on every platform;
// ended by a NUL, the end returned.
char *non_finite_text(char *o, double v);
// Appends v as printf("%*.*f", width, places, v) would.
char *put_fixed(char *o, double v, int places, int width);
// The trade line of a record, as imported.txt and orders.txt list it.
void write_trade_line(FILE *fp, const transaction_t *T);
// Writes printf-formatted text through the checked output path.
[[gnu::format(printf, 2, 3)]] void write_format(FILE *fp, const char *format, ...);
