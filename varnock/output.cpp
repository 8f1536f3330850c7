// The checked output path: buffered output files, fixed-point texts and the
// trade line of imported.txt and orders.txt.

#include "platform.h"

#include "output.h"

#include "keltools.h"

#include <cstdarg>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

// The streams get large buffers of their own: setvbuf() without a buffer
// keeps the system's small size.  A buffer is kept by the descriptor of its
// stream and freed when close_output() closes the stream, so nothing of one
// output outlives it.
// The buffers of the open output streams, by descriptor.
static char **buffers;
static size_t count;

FILE *open_output(const char *name, const char *mode)
{
    const size_t buffer_size = 1 << 16;
    FILE *fp = xfopen("%s", mode, name);
    size_t fd = (size_t)fileno(fp);
    if (fd >= count) {
        buffers = (char **)xrealloc(buffers, sizeof(char *) * (fd + 1));
        memset(buffers + count, 0, sizeof(char *) * (fd + 1 - count));
        count = fd + 1;
    }
    if (!buffers[fd])
        buffers[fd] = (char *)xmalloc(buffer_size);
    setvbuf(fp, buffers[fd], _IOFBF, buffer_size);
    return fp;
}

void close_output(FILE *fp)
{
    size_t fd = (size_t)fileno(fp);
    xfclose(fp);
    if (fd < count) {
        free(buffers[fd]);
        buffers[fd] = nullptr;
    }
}

// Stops the run after a failed write to fp, with the message of the close
// that fails on it.
void output_failed(FILE *fp)
{
    int saved = errno;
    xfclose(fp);
    error1("cannot close file stream (%s)\n", strerror(saved ? saved : EIO));
}

// Writes a NaN or an infinity as glibc's printf("%f") does ("nan", "-nan",
// "inf", "-inf": the sign bit decides the sign), so that every platform's C
// library gives the same text; ended by a NUL, the end returned.
char *non_finite_text(char *o, double v)
{
    if (std::signbit(v))
        *o++ = '-';
    return stpcpy(o, std::isnan(v) ? "nan" : "inf");
}

// Writes v as printf("%.*f", places, v) writes it, places 0 to 6: the exact
// binary value rounded half to even.  A normal |v| below 2^53 is
// mantissa / 2^shift exactly, so v * 10^places is the integer
// mantissa * 10^places shifted right with rounding; the rest go through
// snprintf.  o needs room for 330 characters; the text is ended by a NUL and
// the end is returned.
char *fixed_text(char *o, double v, int places)
{
    static const uint32_t scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
    uint64_t bits;
    memcpy(&bits, &v, sizeof bits);
    int exponent = (int)(bits >> 52 & 0x7ff);
    int shift = 1075 - exponent;
    if (exponent == 0x7ff)
        return non_finite_text(o, v);
    if (exponent == 0 || shift < 0 || shift > 120)
        return o + snprintf(o, 330, "%.*f", places, v);
    uint64_t mantissa = (bits & ((1ULL << 52) - 1)) | 1ULL << 52;
    unsigned __int128 p = (unsigned __int128)mantissa * scale[places];
    unsigned __int128 q = p >> shift;
    if (shift > 0) {
        unsigned __int128 rest = p - (q << shift), half = (unsigned __int128)1 << (shift - 1);
        if (rest > half || (rest == half && (q & 1)))
            q++;
    }
    uint64_t whole;
    uint32_t fraction;
    if (q >> 64 == 0) {   // the usual case, without 128-bit division
        whole = (uint64_t)q / scale[places];
        fraction = (uint32_t)((uint64_t)q % scale[places]);
    } else {
        whole = (uint64_t)(q / scale[places]);
        fraction = (uint32_t)(q % scale[places]);
    }
    if (bits >> 63)
        *o++ = '-';
    o = put_uint(o, whole);
    if (places > 0) {
        *o++ = '.';
        o = put_uint(o, fraction, places);
    }
    *o = '\0';
    return o;
}

// Appends v as printf("%*.*f", width, places, v) would.
char *put_fixed(char *o, double v, int places, int width)
{
    char text[330];
    char *end = fixed_text(text, v, places);
    return put_text(o, text, (size_t)(end - text), width);
}

// The trade line of a record, as the format
// "%02d.%02d.%04d %02d:%02d:%02d %15s %12s %1d %10.5f %15.3f %5.3f\n" gives it,
// with the order number in plain decimal and the security name.
void write_trade_line(FILE *fp, const transaction_t *T)
{
    char line[1100];
    char *o = line;
    o = put_date_time(o, T), *o++ = ' ';
    char order[24];
    size_t order_len = (size_t)(put_uint(order, (uint64_t)T->order) - order);   // as insert_commas6 gives it
    o = put_text(o, order, order_len, 15), *o++ = ' ';
    size_t stock_len = strlen(T->stock);
    for (size_t i = stock_len; i < 12; i++)
        *o++ = ' ';
    write_bytes(fp, line, (size_t)(o - line));
    write_bytes(fp, T->stock, stock_len);
    o = line;
    *o++ = ' ';
    o = put_int(o, T->direction, 1), *o++ = ' ';
    o = put_fixed(o, T->price, 5, 10), *o++ = ' ';
    o = put_fixed(o, T->amount, 3, 15), *o++ = ' ';
    o = put_fixed(o, T->commission, 3, 5), *o++ = '\n';
    write_bytes(fp, line, (size_t)(o - line));
}
// Writes printf-formatted text through the checked output path.
void write_format(FILE *fp, const char *format, ...)
{
    char local[1024];
    va_list args;
    va_start(args, format);
    int len = vsnprintf(local, sizeof local, format, args);
    va_end(args);
    if (len < 0)
        output_failed(fp);
    if ((size_t)len < sizeof local) {
        write_bytes(fp, local, (size_t)len);
        return;
    }
    std::vector<char> text((size_t)len + 1);
    va_start(args, format);
    vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    write_bytes(fp, text.data(), (size_t)len);
}
