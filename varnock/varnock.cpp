// varnock: turns a trading terminal's exported trade tables ("sdelki*.xls",
// HTML in Windows-1251) into clean trade records and HTML profit reports.
//
// The run works in place on one growing array of trade records: import,
// de-duplicate by trade number, fold the fills of each order, fold same-day
// orders of one security and direction, then write "orders.txt" and reports.

#include "keltools.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#ifndef VARNOCK_VERSION
#error "VARNOCK_VERSION comes from the build (the project version)"
#endif

/* ---- trade record ---- */

// One executed trade (or, after consolidation, one folded group of them).
typedef struct {
    int32_t d, mo, y;    // date of the trade
    int32_t h, mi, s;    // time of the trade
    int64_t no;          // trade number: the identity of a trade
    int64_t order;       // number of the order the trade filled
    char *ticker;        // security code (owned copy, cp1251 bytes)
    char *stock;         // security name (owned copy, cp1251 bytes)
    int32_t direction;   // 1 buy, 2 sale
    double price;        // price of one unit
    double amount;       // money value; units = amount / price
    double commission;   // total fees
} transaction_t;

// The trade array: room for nt_a records, nt of them in use.  It starts with
// room for 16384 and grows as the import needs; every later step works on it
// in place and leaves a shorter prefix.
typedef struct {
    transaction_t *T;
    int nt;
    int nt_a;
} trade_array_t;

static const int initial_capacity = 16384;

static void allocate_trades(trade_array_t *A)
{
    A->nt_a = initial_capacity;
    A->nt = 0;
    A->T = (transaction_t *)xmalloc(sizeof(transaction_t) * (size_t)A->nt_a);
}

// The slot at index nt, growing the array when it is full.
static transaction_t *next_slot(trade_array_t *A)
{
    if (A->nt == A->nt_a) {
        if (A->nt_a > INT32_MAX / 2)
            error1("too many transactions (%d)\n", A->nt);
        A->nt_a *= 2;
        A->T = (transaction_t *)xrealloc(A->T, sizeof(transaction_t) * (size_t)A->nt_a);
    }
    return A->T + A->nt;
}

// Security codes and names repeat on almost every row, so each distinct text
// is copied once and shared by all records that carry it: an open-addressing
// table of the copies, keyed by an FNV-1a hash.  The copies live until the
// process ends, like the records themselves.
typedef struct {
    char **slot;      // the copies, or null
    size_t size;      // a power of two
    size_t used;
} text_table_t;

static text_table_t texts;

static uint64_t text_hash(const char *s, size_t len)
{
    uint64_t h = 14695981039346656037ULL;
    for (size_t i = 0; i < len; i++)
        h = (h ^ (unsigned char)s[i]) * 1099511628211ULL;
    return h;
}

static void text_table_grow(void)
{
    text_table_t bigger;
    bigger.size = texts.size ? 2 * texts.size : 256;
    bigger.used = texts.used;
    bigger.slot = (char **)xmalloc(sizeof(char *) * bigger.size);
    memset(bigger.slot, 0, sizeof(char *) * bigger.size);
    for (size_t i = 0; i < texts.size; i++) {
        char *t = texts.slot[i];
        if (!t)
            continue;
        size_t k = text_hash(t, strlen(t)) & (bigger.size - 1);
        while (bigger.slot[k])
            k = (k + 1) & (bigger.size - 1);
        bigger.slot[k] = t;
    }
    free(texts.slot);
    texts = bigger;
}

static char *text_copy(const char *s)
{
    size_t len = strlen(s);
    if (2 * (texts.used + 1) > texts.size)
        text_table_grow();
    size_t k = text_hash(s, len) & (texts.size - 1);
    for (char *t; (t = texts.slot[k]); k = (k + 1) & (texts.size - 1))
        if (strcmp(t, s) == 0)
            return t;
    char *copy = (char *)xmalloc(len + 1);
    memcpy(copy, s, len);
    copy[len] = 0;
    texts.slot[k] = copy;
    texts.used++;
    return copy;
}

/* ---- trade orderings ---- */

// A difference of two 32-bit fields, or its sign alone when the difference
// does not fit 32 bits (so the ordering stays consistent for any values).
static int diff32(int32_t a, int32_t b)
{
    int64_t d = (int64_t)a - (int64_t)b;
    if (d > INT32_MAX) return 1;
    if (d < INT32_MIN) return -1;
    return (int)d;
}

// Plain differences of the fields, year first; 0 when the times are equal.
static int cmp_transaction_time(const void *e1, const void *e2)
{
    const transaction_t *a = (const transaction_t *)e1, *b = (const transaction_t *)e2;
    if (a->y != b->y) return diff32(a->y, b->y);
    if (a->mo != b->mo) return diff32(a->mo, b->mo);
    if (a->d != b->d) return diff32(a->d, b->d);
    if (a->h != b->h) return diff32(a->h, b->h);
    if (a->mi != b->mi) return diff32(a->mi, b->mi);
    return diff32(a->s, b->s);
}

static int cmp_int64(int64_t a, int64_t b)
{
    return a > b ? 1 : a < b ? -1 : 0;
}

static int cmp_transaction_no(const void *e1, const void *e2)
{
    return cmp_int64(((const transaction_t *)e1)->no, ((const transaction_t *)e2)->no);
}

static int cmp_transaction_order(const void *e1, const void *e2)
{
    int c = cmp_int64(((const transaction_t *)e1)->order, ((const transaction_t *)e2)->order);
    return c ? c : cmp_transaction_time(e1, e2);
}

// Names are shared copies, so equal pointers need no byte comparison, and
// different names mostly differ in their first byte.
static inline int cmp_stock_names(const char *a, const char *b)
{
    if (a == b)
        return 0;
    if (*a != *b)
        return (unsigned char)*a - (unsigned char)*b;
    return strcmp(a, b);
}

static int cmp_transaction_stock(const void *e1, const void *e2)
{
    int c = cmp_stock_names(((const transaction_t *)e1)->stock, ((const transaction_t *)e2)->stock);
    return c ? c : cmp_transaction_time(e1, e2);
}

static int cmp_transaction_year_stock(const void *e1, const void *e2)
{
    const transaction_t *a = (const transaction_t *)e1, *b = (const transaction_t *)e2;
    if (a->y != b->y) return diff32(a->y, b->y);
    int c = cmp_stock_names(a->stock, b->stock);
    return c ? c : cmp_transaction_time(e1, e2);
}

// The orderings as "sorts before" for the standard algorithms.
template <int (*cmp)(const void *, const void *)>
static bool before(const transaction_t &a, const transaction_t &b)
{
    return cmp(&a, &b) < 0;
}

// Sorts n records by cmp; records that it ranks equal may end up in any order.
template <int (*cmp)(const void *, const void *)>
static void sort_trades(transaction_t *T, int n)
{
    std::sort(T, T + n, [](const transaction_t &a, const transaction_t &b) { return before<cmp>(a, b); });
}

// The sorts by trade number and by order number.  Trade files list their
// trades in trade-number order, so the imported records mostly form a few
// ascending runs, one per file, and after that sort the order numbers mostly
// ascend as well.  Such runs are merged pairwise; records in many runs are
// sorted.
template <int (*cmp)(const void *, const void *)>
static void sort_runs(transaction_t *T, int n)
{
    const int max_runs = 64;
    int starts[max_runs + 1];
    int runs = 1;
    starts[0] = 0;
    for (int i = 1; i < n; i++)
        if (before<cmp>(T[i], T[i - 1])) {
            if (runs == max_runs) {
                sort_trades<cmp>(T, n);
                return;
            }
            starts[runs++] = i;
        }
    starts[runs] = n;
    while (runs > 1) {
        int merged = 0;
        for (int k = 0; k < runs; k += 2) {
            if (k + 1 < runs)
                std::inplace_merge(T + starts[k], T + starts[k + 1], T + starts[k + 2], before<cmp>);
            starts[merged++] = starts[k];
        }
        starts[merged] = n;
        runs = merged;
    }
}

static void sort_by_number(transaction_t *T, int n)
{
    sort_runs<cmp_transaction_no>(T, n);
}

static void sort_by_order(transaction_t *T, int n)
{
    sort_runs<cmp_transaction_order>(T, n);
}

// The ranks of the shared text copies in strcmp order, found by the address
// of the copy.  They are made once the import has copied every name, so that
// the sorts by name compare integers instead of texts.
typedef struct {
    const char **copy;   // open addressing by address; null for a free slot
    uint32_t *rank;
    size_t size;         // a power of two, or 0 before the ranking
} text_ranks_t;

static text_ranks_t text_ranks;

static size_t rank_slot(const char *text)
{
    size_t mask = text_ranks.size - 1;
    size_t k = (size_t)(((uintptr_t)text >> 3) * 0x9e3779b97f4a7c15ULL >> 20) & mask;
    while (text_ranks.copy[k] && text_ranks.copy[k] != text)
        k = (k + 1) & mask;
    return k;
}

static void rank_texts(void)
{
    std::vector<const char *> sorted;
    for (size_t i = 0; i < texts.size; i++)
        if (texts.slot[i])
            sorted.push_back(texts.slot[i]);
    std::sort(sorted.begin(), sorted.end(), [](const char *a, const char *b) { return strcmp(a, b) < 0; });
    free(text_ranks.copy);
    free(text_ranks.rank);
    text_ranks.size = 16;
    while (text_ranks.size < 2 * sorted.size())
        text_ranks.size *= 2;
    text_ranks.copy = (const char **)xmalloc(sizeof(char *) * text_ranks.size);
    memset(text_ranks.copy, 0, sizeof(char *) * text_ranks.size);
    text_ranks.rank = (uint32_t *)xmalloc(sizeof(uint32_t) * text_ranks.size);
    for (size_t r = 0; r < sorted.size(); r++) {
        size_t k = rank_slot(sorted[r]);
        text_ranks.copy[k] = sorted[r];
        text_ranks.rank[k] = (uint32_t)r;
    }
}

// The rank of a shared copy, or -1 for a text that has none.
static int64_t text_rank(const char *text)
{
    if (text_ranks.size == 0)
        return -1;
    size_t k = rank_slot(text);
    return text_ranks.copy[k] ? (int64_t)text_ranks.rank[k] : -1;
}

static bool in_range(int64_t v, int bits)
{
    return v >= 0 && v < (1 << bits);
}

// The two orderings by name as one integer per record: under
// cmp_transaction_stock the name's rank, the year, then month to second;
// year_first, under cmp_transaction_year_stock, the year first.  20 bits of
// rank, 16 of year and 26 of month to second; false when the name has no
// rank or a field does not fit.
static bool name_key(const transaction_t &t, bool year_first, uint64_t *key)
{
    int64_t rank = text_rank(t.stock);
    if (!in_range(rank, 20) || !in_range(t.y, 16) || !in_range(t.mo, 4) || !in_range(t.d, 5) ||
        !in_range(t.h, 5) || !in_range(t.mi, 6) || !in_range(t.s, 6))
        return false;
    uint64_t time = (uint64_t)t.mo << 22 | (uint64_t)t.d << 17 | (uint64_t)t.h << 12 | (uint64_t)t.mi << 6 |
                    (uint64_t)t.s;
    uint64_t major = year_first ? (uint64_t)t.y << 20 | (uint64_t)rank : (uint64_t)rank << 16 | (uint64_t)t.y;
    *key = major << 26 | time;
    return true;
}

typedef struct {
    uint64_t key;
    uint32_t index;
} keyed_t;

// Puts T into the order of keys[].index.  The records are gathered into a
// copy: independent loads, which the processor overlaps, where following the
// cycles of the permutation in place makes one cache miss wait for the last.
static void apply_order(transaction_t *T, int n, const keyed_t *keys)
{
    transaction_t *sorted = (transaction_t *)xmalloc(sizeof(transaction_t) * (size_t)n);
    for (int i = 0; i < n; i++)
        sorted[i] = T[keys[i].index];
    memcpy(T, sorted, sizeof(transaction_t) * (size_t)n);
    free(sorted);
}

// Sorts T[0..n) in place by cmp, which name_key() gives as integers.  When a
// key does not fit, the records are sorted with cmp itself: extreme fields
// can make its differences overflow, and qsort stays inside the array
// whatever the comparator answers.
static void sort_by_name_key(transaction_t *T, int n, bool year_first, int (*cmp)(const void *, const void *))
{
    keyed_t *keys = (keyed_t *)xmalloc(sizeof(keyed_t) * (size_t)(n > 0 ? n : 1));
    bool fits = true;
    for (int i = 0; fits && i < n; i++) {
        fits = name_key(T[i], year_first, &keys[i].key);
        keys[i].index = (uint32_t)i;
    }
    if (!fits) {
        qsort(T, (size_t)n, sizeof *T, cmp);
    } else if (n > 0) {
        std::sort(keys, keys + n, [](const keyed_t &a, const keyed_t &b) { return a.key < b.key; });
        apply_order(T, n, keys);
    }
    free(keys);
}

static void sort_by_stock(transaction_t *T, int n)
{
    sort_by_name_key(T, n, false, cmp_transaction_stock);
}

static void sort_by_year_and_stock(transaction_t *T, int n)
{
    sort_by_name_key(T, n, true, cmp_transaction_year_stock);
}

/* ---- text output ---- */

// Every output file takes one path: a stream opened by open_output with a
// large buffer, to which write_bytes hands text composed in local buffers by
// the put_* appenders below, and long texts such as names as they stand.
// Every write is checked, so a failed one ends the run at once.

// The streams get large buffers of their own: setvbuf() without a buffer
// keeps the system's small size.  A buffer belongs to a descriptor, and a
// stream opened on a descriptor takes over the buffer of the stream that had
// it before, which has been closed since.
static FILE *open_output(const char *name)
{
    static char **buffers;   // by descriptor; they live until the process ends
    static size_t count;
    const size_t buffer_size = 1 << 16;
    FILE *fp = xfopen("%s", "w", name);
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

// Stops the run after a failed write to fp, with the message of the close
// that fails on it.
[[noreturn]] static void output_failed(FILE *fp)
{
    int saved = errno;
    xfclose(fp);
    error1("cannot close file stream (%s)\n", strerror(saved ? saved : EIO));
}

static void write_bytes(FILE *fp, const char *text, size_t len)
{
    if (fwrite_unlocked(text, 1, len, fp) != len)
        output_failed(fp);
}

// Writes the texts one after another.
template <typename... Texts>
static void write_texts(FILE *fp, const Texts *...texts)
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
static char *put_uint(char *o, uint64_t u, int min_digits = 1)
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
static char *put_int(char *o, int64_t v, int width)
{
    if (v < 0) {
        *o++ = '-';
        return put_uint(o, 0 - (uint64_t)v, width - 1);
    }
    return put_uint(o, (uint64_t)v, width);
}

// Appends text right-aligned in width columns, as "%*s" would.
static char *put_text(char *o, const char *s, size_t len, int width)
{
    for (size_t i = len; i < (size_t)width; i++)
        *o++ = ' ';
    memcpy(o, s, len);
    return o + len;
}

// Writes v as printf("%.*f", places, v) writes it, places 0 to 6: the exact
// binary value rounded half to even.  A normal |v| below 2^53 is
// mantissa / 2^shift exactly, so v * 10^places is the integer
// mantissa * 10^places shifted right with rounding; the rest go through
// snprintf.  o needs room for 330 characters; the text is ended by a NUL and
// the end is returned.
static char *fixed_text(char *o, double v, int places)
{
    static const uint32_t scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
    uint64_t bits;
    memcpy(&bits, &v, sizeof bits);
    int exponent = (int)(bits >> 52 & 0x7ff);
    int shift = 1075 - exponent;
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
static char *put_fixed(char *o, double v, int places, int width)
{
    char text[330];
    char *end = fixed_text(text, v, places);
    return put_text(o, text, (size_t)(end - text), width);
}

// The trade line of a record, as the format
// "%02d.%02d.%04d %02d:%02d:%02d %15s %12s %1d %10.5f %15.3f %5.3f\n" gives it,
// with the order number in plain decimal and the security name.
static void write_trade_line(FILE *fp, const transaction_t *T)
{
    char line[1100];
    char *o = line;
    o = put_int(o, T->d, 2), *o++ = '.';
    o = put_int(o, T->mo, 2), *o++ = '.';
    o = put_int(o, T->y, 4), *o++ = ' ';
    o = put_int(o, T->h, 2), *o++ = ':';
    o = put_int(o, T->mi, 2), *o++ = ':';
    o = put_int(o, T->s, 2), *o++ = ' ';
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

/* ---- import ---- */

// Number conversions of the row parser: they give exactly what the scan
// format "%d", strtoq1() and atof() give.  The integers are strtoq1's, with
// the common short cells read inline: the call costs more than such a cell
// (strtoq1 sets up its base and its overflow limit, a 64-bit division, on
// every call), and with strtoq1 alone a whole run took 9% more instructions.

static bool is_c_space(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

static bool is_digit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// Reads up to max_digits plain digits at s into *v and returns their number
// when a non-digit follows them, else 0: the number is then no short one.
template <typename T>
static int short_number(const char *s, int max_digits, T *v)
{
    T value = 0;
    int n = 0;
    for (; n < max_digits && is_digit((unsigned char)s[n]); n++)
        value = value * 10 + (s[n] - '0');
    if (n == max_digits && is_digit((unsigned char)s[n]))
        return 0;
    *v = value;
    return n;
}

// One "%d" conversion of the scan format: blanks, a sign, at least one digit;
// the value as strtol() gives it (saturated to 64 bits), then cut to int.
static bool scan_int(const char *&p, int32_t *out)
{
    if (int n = short_number(p, 9, out)) {
        p += n;
        return true;
    }
    char *end;
    long long v = strtoq1(p, &end, 10);
    if (end == p)
        return false;
    *out = (int32_t)(uint32_t)(uint64_t)v;
    p = end;
    return true;
}

// strtoq1(s, nullptr, 10) of a whole cell.
static int64_t to_int64(const char *s)
{
    int64_t v;
    int n = short_number(s, 18, &v);
    return n > 0 && s[n] == 0 ? v : strtoq1(s, nullptr, 10);
}

// The scan format "%d.%d.%d %d:%d:%d" over cell 0: the number of values read.
static int scan_date_time(const char *s, transaction_t *T)
{
    int32_t *field[6] = {&T->d, &T->mo, &T->y, &T->h, &T->mi, &T->s};
    const char separator[6] = {'.', '.', ' ', ':', ':', 0};
    const char *p = s;
    for (int i = 0; i < 6; i++) {
        if (!scan_int(p, field[i]))
            return i;
        if (separator[i] == ' ') {
            while (is_c_space((unsigned char)*p))
                p++;
        } else if (separator[i]) {
            if (*p != separator[i])
                return i + 1;
            p++;
        }
    }
    return 6;
}

// atof(): plain decimals of up to 19 significant digits and a small scale
// are exact in double arithmetic (one correctly rounded division); anything
// else (exponents, hexadecimal, inf, nan, long digit strings) goes to strtod.
// The library has no decimal parser, and strtod for every money cell made a
// whole run take a third more instructions.
static double to_double(const char *s)
{
    if (!*s)
        return 0;
    static const double pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const unsigned char *p = (const unsigned char *)s;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    uint64_t m = 0;
    int digits = 0, scale = 0;
    for (; is_digit(*p); p++, digits++)
        m = m * 10 + (*p - '0');
    if (*p == '.') {
        for (p++; is_digit(*p); p++, digits++, scale++)
            m = m * 10 + (*p - '0');
    }
    bool plain = digits > 0 && digits <= 19 && scale <= 22 && m <= (1ULL << 53) && *p != 'e' && *p != 'E' &&
                 !(m == 0 && (*p == 'x' || *p == 'X'));
    if (!plain)
        return strtod(s, nullptr);
    double v = (double)m / pow10[scale];
    return negative ? -v : v;
}

// First byte c in [p, end), or null; sixteen bytes at a time where it can.
static inline const char *find_byte(const char *p, const char *end, char c)
{
#ifdef __SSE2__
    const __m128i needle = _mm_set1_epi8(c);
    while (end - p >= 16) {
        unsigned m = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)p), needle));
        if (m)
            return p + __builtin_ctz(m);
        p += 16;
    }
#endif
    for (; p < end; p++)
        if (*p == c)
            return p;
    return nullptr;
}

// Whether the text at p (before end) begins with the literal.
template <size_t n>
static inline bool starts(const char *p, const char *end, const char (&literal)[n])
{
    return end - p >= (ptrdiff_t)(n - 1) && memcmp(p, literal, n - 1) == 0;
}

// Visits the "<" bytes of a text in order, finding them 64 bytes at a time.
typedef struct {
    const char *block;   // start of the 64 bytes in view
    const char *end;     // end of the text
    uint64_t mask;       // the "<" bytes of the block not yet visited
} lt_walk_t;

static inline uint64_t lt_mask(const char *p, const char *end)
{
    uint64_t mask = 0;
#ifdef __SSE2__
    if (end - p >= 64) {
        const __m128i lt = _mm_set1_epi8('<');
        for (int k = 0; k < 4; k++) {
            __m128i bytes = _mm_loadu_si128((const __m128i *)(p + 16 * k));
            mask |= (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lt)) << (16 * k);
        }
        return mask;
    }
#endif
    for (int k = 0; k < 64 && p + k < end; k++)
        if (p[k] == '<')
            mask |= 1ULL << k;
    return mask;
}

static inline void walk_from(lt_walk_t *w, const char *p, const char *end)
{
    w->block = p;
    w->end = end;
    w->mask = p < end ? lt_mask(p, end) : 0;
}

// The next "<", or null at the end of the text.
static inline const char *walk_next(lt_walk_t *w)
{
    while (!w->mask) {
        if (w->end - w->block <= 64)
            return nullptr;
        w->block += 64;
        w->mask = lt_mask(w->block, w->end);
    }
    const char *q = w->block + __builtin_ctzll(w->mask);
    w->mask &= w->mask - 1;
    return q;
}

// Drops the "<" bytes before p.
static inline void walk_skip_to(lt_walk_t *w, const char *p)
{
    ptrdiff_t offset = p - w->block;
    if (offset >= 64)
        walk_from(w, p, w->end);
    else if (offset > 0)
        w->mask &= ~0ULL << offset;
}

// The next "<tr>", or null.
static const char *find_row_start(lt_walk_t *walk)
{
    while (const char *q = walk_next(walk))
        if (starts(q, walk->end, "<tr>"))
            return q;
    return nullptr;
}

static const int row_cells = 16;

typedef struct {
    const char *b, *e;   // the cell's text, between its opening tag and "</td>"
    bool tags;           // whether a "<" stands in it
} cell_t;

// One pass over a row from the walk's position: cuts it into cells (the
// text after each "<td...>" up to the next "</td>"), stopping the count once
// there is one more than a trade row has, and finds the "</tr>" that ends
// the row, which also ends the cells.  Stores the cell count in *nw and
// returns the row end: the "</tr>", or null when there is none.
static const char *cut_row(lt_walk_t *walk, cell_t *w, int *nw)
{
    const char *end = walk->end;
    int n = 0;
    const char *gt = nullptr;   // inside a cell: the ">" that opened it
    while (const char *q = walk_next(walk)) {
        if (starts(q, end, "</tr>"))
            return *nw = n, q;
        if (n > row_cells)
            continue;
        if (gt) {
            if (starts(q, end, "</td>")) {
                w[n].b = gt + 1, w[n].e = q;
                n++;
                gt = nullptr;
            } else {
                w[n].tags = true;
            }
        } else if (starts(q, end, "<td")) {
            const char *g = find_byte(q + 3, end, '>');
            // A "</tr>" before the end of the opening tag ends the row: its
            // ">" is then the first one.
            if (g && g - q >= 7 && memcmp(g - 4, "</tr>", 5) == 0)
                return *nw = n, g - 4;
            if (!g)
                break;
            gt = g;
            walk_skip_to(walk, g + 1);
            w[n].tags = false;
        }
    }
    *nw = n;
    return nullptr;
}

// Copies a cell to o without its tags (each "<" through the first ">" after
// it) and, when drop_spaces, without its space characters; terminates the
// copy and returns the position after it, or null when a "<" has no ">".
static char *clean_cell(const cell_t *c, char *o, bool drop_spaces)
{
    const char *p = c->b;
    while (p < c->e) {
        const char *lt = c->tags ? find_byte(p, c->e, '<') : nullptr;
        const char *stop = lt ? lt : c->e;
        if (drop_spaces) {
            for (; p < stop; p++) {
                *o = *p;
                o += *p != ' ';
            }
        } else {
            memcpy(o, p, (size_t)(stop - p));
            o += stop - p;
        }
        if (!lt)
            break;
        const char *gt = find_byte(lt, c->e, '>');
        if (!gt)
            return nullptr;
        p = gt + 1;
    }
    *o++ = 0;
    return o;
}

// The parser's private copy of the cleaned cells, reused from row to row;
// an unusually large one is given back after its row.
static char *scratch;
static size_t scratch_size;
static const size_t scratch_keep = 1 << 20;

static char *scratch_for(size_t n)
{
    if (n > scratch_size) {
        free(scratch);
        scratch = (char *)xmalloc(n);
        scratch_size = n;
    }
    return scratch;
}

static void scratch_trim(void)
{
    if (scratch_size > scratch_keep) {
        free(scratch);
        scratch = nullptr;
        scratch_size = 0;
    }
}

static const char word_buy[] = "\xca\xf3\xef\xeb\xff";               // "Купля" in cp1251
static const char word_sale[] = "\xcf\xf0\xee\xe4\xe0\xe6\xe0";      // "Продажа" in cp1251

// Reads the cells w[0..nw) of one row into T.  Returns 0, or
// the reject code: -1 for a row that is not sixteen well-formed cells, -2
// for a cell 0 that is no date and time, -4 for a direction that is neither
// buy nor sale.
static int parse_cells(const cell_t *w, int nw, transaction_t *T)
{
    if (nw != row_cells)
        return -1;
    size_t size = row_cells;   // the cells' text and terminators, however long the row
    for (int i = 0; i < row_cells; i++)
        size += (size_t)(w[i].e - w[i].b);
    char *text[row_cells];
    char *o = scratch_for(size);
    int r = 0;
    for (int i = 0; i < row_cells && r == 0; i++) {
        text[i] = o;
        if ((i == 5 || i == 7 || i == 15) && !w[i].tags)
            continue;   // unused, and without tags it cannot be malformed
        o = clean_cell(&w[i], o, i >= 7);
        if (!o)
            r = -1;
    }
    if (r == 0 && scan_date_time(text[0], T) < 6)
        r = -2;
    if (r == 0) {
        size_t len6 = (size_t)(text[7] - text[6]);   // with the terminator
        if (len6 == sizeof word_buy && memcmp(text[6], word_buy, sizeof word_buy) == 0)
            T->direction = 1;
        else if (len6 == sizeof word_sale && memcmp(text[6], word_sale, sizeof word_sale) == 0)
            T->direction = 2;
        else
            r = -4;
    }
    if (r == 0) {
        T->no = to_int64(text[1]);
        T->order = to_int64(text[2]);
        T->ticker = text_copy(text[3]);
        T->stock = text_copy(text[4]);
        T->price = to_double(text[8]);
        T->amount = to_double(text[9]);
        T->commission = 0;
        for (int i = 10; i <= 14; i++)
            T->commission += to_double(text[i]);
    }
    scratch_trim();
    return r;
}

// What the row loop saw beyond the rows it wrote out.
typedef struct {
    int rejected;    // rows of sixteen cells that failed a check (codes -2 and -4)
    bool unclosed;   // the text ended inside a row: a "<tr>" without a later "</tr>"
} row_tally_t;

// Reads the rows of one loaded trade file (len bytes and a NUL); each
// "</tr>" that ends a row is overwritten with a NUL.  An embedded NUL ends
// the text, as does a "<tr>" without a later "</tr>".
static row_tally_t import_rows(char *text, size_t len, trade_array_t *A, FILE *fpo1, FILE *fpo2)
{
    row_tally_t tally = {0, false};
    const char *nul = (const char *)memchr(text, 0, len);
    const char *end = nul ? nul : text + len;
    lt_walk_t walk;
    walk_from(&walk, text, end);
    for (;;) {
        const char *tr = find_row_start(&walk);
        if (!tr)
            break;
        const char *row = tr + 4;
        walk_skip_to(&walk, row);
        cell_t w[row_cells + 1];
        int nw;
        char *close = (char *)cut_row(&walk, w, &nw);
        if (!close) {
            tally.unclosed = true;
            break;
        }
        *close = 0;
        transaction_t *slot = next_slot(A);
        int r = parse_cells(w, nw, slot);
        if (r == 0) {
            write_trade_line(fpo1, slot);
            A->nt++;
        } else {
            tally.rejected += r == -2 || r == -4;
            fprintf(fpo2, "%d| ", r);
            fwrite_unlocked(row, 1, (size_t)(close - row), fpo2);
            putc_unlocked('\n', fpo2);
        }
        walk_skip_to(&walk, close + 1);
    }
    return tally;
}

/* ---- trade files: loading, UTF-8 exports, warnings ---- */

// Some editors save a trade file in UTF-8.  Such a file is recognised when
// all of it is strict UTF-8 (shortest forms, no surrogates, nothing beyond
// U+10FFFF; a character cut off by the end of the file is allowed) and it
// starts with a byte-order mark or holds a Cyrillic letter (U+0400 to
// U+04FF).  Windows-1251 text with Cyrillic letters practically never
// passes: its letters are lead bytes followed by lead bytes.  A recognised
// file is converted to Windows-1251 in place before its rows are read, so it
// imports exactly like the terminal's own export.

static const char utf8_bom[] = "\xEF\xBB\xBF";

// Code points of the Windows-1251 bytes 0x80 to 0xBF (0x98 is unassigned);
// the bytes 0xC0 to 0xFF are U+0410 to U+044F in order.
static const uint16_t cp1251_upper[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,   // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,   // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,   // 0x90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,   // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,   // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,   // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,   // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,   // 0xB8
};

// The Windows-1251 byte of a code point of U+0080 or above, or "?" when the
// code page has none.
static unsigned char cp1251_byte(uint32_t code)
{
    if (code >= 0x410 && code <= 0x44F)
        return (unsigned char)(0xC0 + (code - 0x410));
    for (int k = 0; k < 64; k++)
        if (cp1251_upper[k] == code)
            return (unsigned char)(0x80 + k);
    return '?';
}

// Decodes the character of several bytes that starts at s[0] (n bytes
// left, s[0] >= 0x80) into *code.  Returns its length; 0 when the bytes are
// not a character of strict UTF-8; -1 when they begin one but the text ends
// first.
static int utf8_decode(const unsigned char *s, size_t n, uint32_t *code)
{
    unsigned char c = s[0], lo = 0x80, hi = 0xBF;   // the bounds of the second byte
    int len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, cp = c & 0x0F;
        lo = c == 0xE0 ? 0xA0 : lo;   // no overlong forms
        hi = c == 0xED ? 0x9F : hi;   // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, cp = c & 0x07;
        lo = c == 0xF0 ? 0x90 : lo;   // no overlong forms
        hi = c == 0xF4 ? 0x8F : hi;   // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    for (int k = 1; k < len; k++) {
        if ((size_t)k == n)
            return -1;
        if (s[k] < (k == 1 ? lo : 0x80) || s[k] > (k == 1 ? hi : 0xBF))
            return 0;
        cp = cp << 6 | (s[k] & 0x3F);
    }
    *code = cp;
    return len;
}

// Whether text[0..len) is a trade file saved in UTF-8 (see above).
static bool is_utf8_export(const char *text, size_t len)
{
    const unsigned char *s = (const unsigned char *)text;
    bool marked = len >= 3 && memcmp(s, utf8_bom, 3) == 0;
    for (size_t i = 0; i < len;) {
        if (s[i] < 0x80) {
            i++;
            continue;
        }
        uint32_t code;
        int n = utf8_decode(s + i, len - i, &code);
        if (n == 0)
            return false;
        if (n < 0)
            break;
        marked |= code >= 0x400 && code <= 0x4FF;
        i += n;
    }
    return marked;
}

// Converts a text that is_utf8_export() accepted to Windows-1251 in place:
// the byte-order mark and a character cut off at the end are dropped, a
// character the code page lacks becomes one "?".  Returns the new length;
// a NUL follows the text.
static size_t utf8_to_cp1251(char *text, size_t len)
{
    unsigned char *s = (unsigned char *)text, *o = s;
    size_t i = len >= 3 && memcmp(s, utf8_bom, 3) == 0 ? 3 : 0;
    while (i < len) {
        if (s[i] < 0x80) {
            *o++ = s[i++];
            continue;
        }
        uint32_t code;
        int n = utf8_decode(s + i, len - i, &code);
        if (n <= 0)
            break;
        *o++ = cp1251_byte(code);
        i += (size_t)n;
    }
    *o = 0;
    return (size_t)(o - s);
}

// A trade file whose length changes while it is read (the terminal is
// rewriting it) is not taken; this is the reason given for it.
static const int changed_while_read = EAGAIN;

// A trade file as loaded: its bytes and a NUL.
typedef struct {
    const char *name;
    char *text;
    size_t len;
    bool announced;   // its reading line is out already
} trade_text_t;

// Reads the open file fp of length f->len into a new buffer.  Returns 0, or
// the reason (an errno value) why the file cannot be taken.
static int read_trade_text(trade_text_t *f, FILE *fp)
{
    char *buffer = (char *)malloc(f->len + 2);
    if (!buffer) {
        // xmalloc stops the run naming the size; the file's line goes first.
        warning1("reading %s...\n", f->name);
        f->announced = true;
        buffer = (char *)xmalloc(f->len + 2);
    }
    setvbuf(fp, nullptr, _IONBF, 0);
    size_t got = fread(buffer, 1, f->len + 1, fp);   // one byte more shows a file that grew
    int reason = ferror(fp) ? (errno ? errno : EIO) : got != f->len ? changed_while_read : 0;
    if (reason) {
        free(buffer);
        return reason;
    }
    buffer[f->len] = 0;
    f->text = buffer;
    return 0;
}

// Loads a trade file whole.  Returns 0, or the reason (an errno value) why it
// cannot be read.  A directory or any other file that is not a regular one
// is not opened (a pipe would wait for a writer).
static int load_trade_text(trade_text_t *f)
{
    struct stat st;
    if (stat(f->name, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : ESPIPE;
    FILE *fp = fopen(f->name, "rb");
    if (!fp)
        return errno;
    int reason;
    if (fstat(fileno(fp), &st) != 0)
        reason = errno;
    else if (!S_ISREG(st.st_mode))
        reason = ESPIPE;
    else if ((uintmax_t)st.st_size > SIZE_MAX - 2)
        reason = EFBIG;
    else
        f->len = (size_t)st.st_size, reason = read_trade_text(f, fp);
    fclose(fp);
    return reason;
}

// Imports one trade file: its reading line, then a warning when it cannot
// be read or when its text ends inside a row.  Returns the number of its
// trade rows that were rejected.
static int import_trade_file(const char *name, trade_array_t *A, FILE *fpo1, FILE *fpo2)
{
    trade_text_t f = {name, nullptr, 0, false};
    if (int reason = load_trade_text(&f)) {
        if (!f.announced)
            warning1("reading %s...\n", name);
        warning1("warning: cannot read %s (%s)\n", name, strerror(reason));
        return 0;
    }
    bool utf8 = is_utf8_export(f.text, f.len);
    if (utf8)
        f.len = utf8_to_cp1251(f.text, f.len);
    if (!f.announced)
        warning1(utf8 ? "reading %s (UTF-8)...\n" : "reading %s...\n", name);
    row_tally_t tally = import_rows(f.text, f.len, A, fpo1, fpo2);
    free(f.text);
    if (tally.unclosed)
        warning1("warning: %s: the last table row is not closed; it was not read\n", name);
    return tally.rejected;
}

// After the last trade file: how many trade rows were rejected, if any.
static void warn_rejected_rows(int rejected)
{
    if (rejected > 0)
        warning1("warning: %d trade rows rejected, see garbage.txt\n", rejected);
}

/* ---- command line ---- */

static const char usage_text[] =
    "usage: varnock [folder]\n"
    "       varnock --help | --version\n"
    "Reads every sdelki*.xls trade file (HTML tables of executed trades, in\n"
    "Windows-1251 or UTF-8) of the folder, the current one when none is named,\n"
    "and writes imported.txt, garbage.txt, orders.txt, report-YYYY.html and\n"
    "report.html there.  Progress and totals go to standard error.\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n";

// Reads the arguments from left to right: --help and --version answer on
// standard output and end the process, anything else starting with "-" or a
// second folder stops it.  Returns the folder named, or null.
static const char *parse_arguments(int argc, char **argv)
{
    const char *folder = nullptr;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            fputs(usage_text, stdout);
            exit(0);
        }
        if (strcmp(arg, "--version") == 0) {
            fputs("varnock " VARNOCK_VERSION "\n", stdout);
            exit(0);
        }
        if (arg[0] == '-')
            error1("unknown option %s (see varnock --help)\n", arg);
        if (folder)
            error1("too many arguments (see varnock --help)\n");
        folder = arg;
    }
    return folder;
}

// Makes the folder named on the command line, if any, the one the run works in.
static void enter_folder(const char *folder)
{
    if (folder && chdir(folder) != 0)
        error1("cannot change to directory %s (%s)\n", folder, strerror(errno));
}

static bool is_trade_file(const char *name)
{
    return fnmatch1("sdelki*.xls", name, FNMATCH1_CASEFOLD) == 0;
}

// Imports every trade file of the current directory, in listing order;
// returns the number of trade rows rejected.
static int import_trade_files(trade_array_t *A, FILE *fpo1, FILE *fpo2)
{
    DIR *dir = opendir(".");
    if (!dir)
        error1("failed to scan current directory\n");
    int rejected = 0;
    while (struct dirent *entry = readdir(dir)) {
        if (!is_trade_file(entry->d_name))
            continue;
        rejected += import_trade_file(entry->d_name, A, fpo1, fpo2);
    }
    closedir(dir);
    return rejected;
}

/* ---- de-duplication, totals and consolidation ---- */

// Money of a run of records, summed in array order: paid for buys, received
// for sales, and all fees.
typedef struct {
    double buy, sell, comm;
} money_totals_t;

static money_totals_t sum_money(const transaction_t *T, int n)
{
    money_totals_t m = {0, 0, 0};
    for (int i = 0; i < n; i++) {
        if (T[i].direction == 1)
            m.buy += T[i].amount;
        else if (T[i].direction == 2)
            m.sell += T[i].amount;
        m.comm += T[i].commission;
    }
    return m;
}

// A total as a whole number: truncated toward zero to 64 bits (saturated at
// the ends of the range; not-a-number counts as 0).
static int64_t whole_part(double v)
{
    if (v != v)
        return 0;
    if (v >= 9223372036854775808.0)
        return INT64_MAX;
    if (v <= -9223372036854775808.0)
        return INT64_MIN;
    return (int64_t)v;
}

// Prints one total line: the label, then the whole number grouped with ","
// every three digits, "-" in front when negative.
static void print_total(const char *label, int64_t v)
{
    uint64_t magnitude = v < 0 ? 0 - (uint64_t)v : (uint64_t)v;
    warning1("%s%s%s\n", label, v < 0 ? "-" : "", insert_commas4((long long)magnitude));
}

// Keeps the first record of every trade number of T[0..nt), which stand
// together (sorted by number); returns the count.
static int remove_duplicates(transaction_t *T, int nt)
{
    return uniq(T, (size_t)nt, sizeof(transaction_t), cmp_transaction_no);
}

// Prints the count of the unique trades T[0..n) and their money totals.
static void print_totals(const transaction_t *T, int n)
{
    money_totals_t m = sum_money(T, n);
    warning1("%d unique transactions\n", n);
    int64_t spent = whole_part(m.buy);
    print_total("Spent:  ", spent);
    print_total("Gained: ", whole_part(m.sell));
    print_total("Volume: ", whole_part((double)spent + m.sell));
    print_total("Comms:  ", whole_part(m.comm));
}

// The group merge: folds T[1..n-1] into the head T[0] (money and fees summed,
// price = total money / total units).  The other records must name the
// head's security and direction.
static void merge_group(transaction_t *T, int n)
{
    transaction_t *head = T;
    double quantity = head->amount / head->price;
    for (int i = 1; i < n; i++) {
        const transaction_t *t = T + i;
        quantity += t->amount / t->price;
        head->amount += t->amount;
        head->commission += t->commission;
        if (strcmp(t->stock, head->stock) != 0)
            error1("internal error, stock does not match\n");
        if (t->direction != head->direction)
            error1("internal error, direction does not match\n");
    }
    head->price = head->amount / quantity;
}

// Folds each group of neighbouring records that same_group() joins to its
// head into one record, written from index 0; returns the new count.
template <bool (*same_group)(const transaction_t *head, const transaction_t *t)>
static int fold_groups(transaction_t *T, int n)
{
    int w = 0;
    for (int i = 0; i < n;) {
        int j = i + 1;
        while (j < n && same_group(T + i, T + j))
            j++;
        if (j - i > 1)
            merge_group(T + i, j - i);
        if (w != i)
            T[w] = T[i];
        w++;
        i = j;
    }
    return w;
}

static bool same_order(const transaction_t *head, const transaction_t *t)
{
    return t->order == head->order;
}

static bool same_day_run(const transaction_t *head, const transaction_t *t)
{
    return t->y == head->y && t->mo == head->mo && t->d == head->d &&
           cmp_stock_names(t->stock, head->stock) == 0 && t->direction == head->direction;
}

// Folds the fills of every order, which stand together (sorted by order
// number), into one record; returns the count.
static int consolidate_orders(transaction_t *T, int n)
{
    return fold_groups<same_order>(T, n);
}

// Folds unbroken runs of one security, day and direction (sorted by name and
// time) into one record; returns the count.
static int consolidate_days(transaction_t *T, int n)
{
    return fold_groups<same_day_run>(T, n);
}

// "orders.txt": one trade line per final record.
static void write_orders(const transaction_t *T, int n)
{
    FILE *fp = open_output("orders.txt");
    for (int i = 0; i < n; i++)
        write_trade_line(fp, T + i);
    xfclose(fp);
}

/* ---- money and quantity text ---- */

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
        return out + sprintf(out, "%f", a);
    char text[330];
    char *end = fixed_text(text, a, 6);
    out = group_digits(out, text, end - 7 - text);
    memcpy(out, end - 7, 3);
    return out + 3;
}

// Money as text: "1,234.50", "-1,234.50"; with clr the text is wrapped in a
// green font tag, or a red one when n < 0.  The text lives in the next of
// STF_BUFS static buffers, so it stays valid through the next 99 calls.
static char *stf(double n, int clr)
{
    static char bufs[STF_BUFS][STF_BUF_SIZE];
    static int nbuf = 0;
    nbuf = nbuf == STF_BUFS - 1 ? 0 : nbuf + 1;
    char *out = bufs[nbuf];
    bool negative = n < 0;
    const char *open = !clr ? "" : negative ? "<font color=red>" : "<font color=darkgreen>";
    out = stpcpy(out, open);
    if (negative)
        *out++ = '-';
    out = money_digits(out, fabs(n));
    strcpy(out, clr ? "</font>" : "");
    return bufs[nbuf];
}

// A number of shares as a whole number, half to even, without grouping;
// magnitudes below 0.01 give "0".  The text is overwritten by the next call.
static char *stn(double n)
{
    static char buf[STN_BUF_SIZE];
    if (fabs(n) < 0.01) {
        strcpy(buf, "0");
    } else {
        fixed_text(buf, n, 0);
    }
    return buf;
}


/* ---- reports ---- */

// The pages are XHTML in Windows-1251; stock names and tickers are copied
// without escaping.  The Russian words of the pages, as cp1251 bytes:
static const char ru_report_title[] = "\xCE\xF2\xF7\xE5\xF2 \xEF\xEE \xF1\xE4\xE5\xEB\xEA\xE0\xEC";   // Отчет по сделкам
static const char ru_statistics_for[] = "\xD1\xF2\xE0\xF2\xE8\xF1\xF2\xE8\xEA\xE0 \xE7\xE0";   // Статистика за
static const char ru_share[] = "\xC0\xEA\xF6\xE8\xFF";                                          // Акция
static const char ru_date_time[] = "\xC4\xE0\xF2\xE0 \xE8 \xE2\xF0\xE5\xEC\xFF";                // Дата и время
static const char ru_price[] = "\xD6\xE5\xED\xE0";                                              // Цена
static const char ru_quantity[] = "\xCA\xEE\xEB\xE8\xF7\xE5\xF1\xF2\xE2\xEE";                  // Количество
static const char ru_purchase[] = "\xCF\xEE\xEA\xF3\xEF\xEA\xE0";                               // Покупка
static const char ru_sale[] = "\xCF\xF0\xEE\xE4\xE0\xE6\xE0";                                   // Продажа
static const char ru_profit[] = "\xCF\xF0\xE8\xE1\xFB\xEB\xFC";                                 // Прибыль
static const char ru_share_balance[] = "\xC1\xE0\xEB\xE0\xED\xF1 \xEF\xEE \xE1\xF3\xEC\xE0\xE3\xE0\xEC:";   // Баланс по бумагам:
static const char ru_pieces[] = "\xF8\xF2.";                                                    // шт.
static const char ru_by_money[] = "\xEF\xEE \xE4\xE5\xED\xFC\xE3\xE0\xEC:";                     // по деньгам:
static const char ru_roubles[] = "\xF0\xF3\xE1.";                                               // руб.
static const char ru_turnover_lc[] = "\xEE\xE1\xEE\xF0\xEE\xF2";                                // оборот
static const char ru_commission_lc[] = "\xEA\xEE\xEC\xE8\xF1\xF1\xE8\xFF";                      // комиссия
static const char ru_trades_total[] = "\xD1\xE4\xE5\xEB\xEE\xEA \xE2\xF1\xE5\xE3\xEE:";         // Сделок всего:
static const char ru_turnover[] = "\xCE\xE1\xEE\xF0\xEE\xF2:";                                  // Оборот:
static const char ru_result[] = "\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2:";                        // Результат:
static const char ru_commission[] = "\xCA\xEE\xEC\xE8\xF1\xF1\xE8\xFF:";                        // Комиссия:
static const char ru_generated[] = "\xCE\xF2\xF7\xE5\xF2 \xF1\xF4\xEE\xF0\xEC\xE8\xF0\xEE\xE2\xE0\xED";   // Отчет сформирован

// The "<tr>" to "</tr>" of one trade, composed whole and written at once (a
// section has one row per trade, so this is the hot path); prev is the record
// listed above it in the same section, or null for the section's first row.
static void write_trade_row(FILE *fp, const transaction_t *t, const transaction_t *prev)
{
    char row[4096];   // the longest texts: 6 x 11 date digits, 330 price, 330 + 2 x 460 money
    char *o = put_literal(row, "<tr><td>");
    o = put_int(o, t->d, 2), *o++ = '.';
    o = put_int(o, t->mo, 2), *o++ = '.';
    o = put_int(o, t->y, 4), *o++ = ' ';
    o = put_int(o, t->h, 2), *o++ = ':';
    o = put_int(o, t->mi, 2), *o++ = ':';
    o = put_int(o, t->s, 2);
    o = put_literal(o, "</td><td align=right>");
    o = put_fixed(o, t->price, 4, 0);
    o = put_literal(o, "</td><td align=right>");
    double quantity = t->amount / t->price;
    o = put_string(o, stn(quantity));
    if (t->direction == 1)
        o = put_literal(o, "</td><td align=right>");
    else
        o = put_literal(o, "</td><td></td><td align=right>");
    o = put_string(o, stf(t->amount, 0));
    if (t->direction == 1)
        o = put_literal(o, "</td><td></td>");
    else
        o = put_literal(o, "</td>");
    // A sale directly under a buy of the same size shows what it brought in
    // over what the buy cost (fees not deducted).
    if (prev && t->direction == 2 && prev->direction == 1 &&
        fabs(quantity - prev->amount / prev->price) < 0.01) {
        o = put_literal(o, "<td align=right>");
        o = put_string(o, stf(t->amount - prev->amount, 1));
        o = put_literal(o, "</td></tr>");
    } else {
        o = put_literal(o, "<td></td></tr>");
    }
    write_bytes(fp, row, (size_t)(o - row));
}

// One stock's section: heading, a table row per trade, and the balance line
// of shares, money (fees deducted), turnover and commission.  T[0..nt) share
// one stock name and stand in the order to be listed.
static void produce_stock_report(FILE *fp, transaction_t *T, int nt)
{
    double buy = 0, sell = 0, quant = 0, comm = 0;
    for (int i = 0; i < nt; i++) {
        if (T[i].direction == 1) {
            buy += T[i].amount;
            quant += T[i].amount / T[i].price;
        } else if (T[i].direction == 2) {
            sell += T[i].amount;
            quant -= T[i].amount / T[i].price;
        }
        comm += T[i].commission;
    }
    write_texts(fp, "<h2>", ru_share, " ", T[0].stock, " (", T[0].ticker, ")</h2>\n");
    write_texts(fp, "<p><table border=1 cellspacing=0 cellpadding=5>\n<tr><th>", ru_date_time, "</th><th>",
                ru_price, "</th><th>", ru_quantity, "</th><th>", ru_purchase, "</th><th>", ru_sale, "</th><th>",
                ru_profit, "</th></tr>\n");
    for (int i = 0; i < nt; i++)
        write_trade_row(fp, &T[i], i > 0 ? &T[i - 1] : nullptr);
    write_texts(fp, "</table></p>\n", ru_share_balance, " <b>", stn(quant), "</b> ", ru_pieces, ", ");
    write_texts(fp, ru_by_money, " <b>", stf(sell - buy - comm, 1), "</b> ", ru_roubles, ", ", ru_turnover_lc,
                " <b>", stf(sell + buy, 0), "</b> ", ru_roubles, ", ", ru_commission_lc, " <b>", stf(comm, 0),
                "</b> ", ru_roubles, "\n");
}

// The head of every page, through "<body>\n".
static void write_report_header(FILE *fp)
{
    write_texts(fp,
                "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
                "<html>\n"
                "<head>\n"
                "<meta http-equiv=\"content-type\" content=\"text/html; charset=Windows-1251\" />\n"
                "<title>",
                ru_report_title, "</title>\n</head>\n<body>\n");
}

// The end of every page: the time of writing and the program's name.
static void write_report_footer(FILE *fp)
{
    write_texts(fp, "<hr>\n<p>", ru_generated, " ", datetime(), "<br>\n");
    write_texts(fp, "Varnock " VARNOCK_VERSION "</p>\n</body>\n</html>\n");
}

// The page's heading: the year of T[0..nt), or the first and last years.
static void write_years_heading(FILE *fp, const transaction_t *T, int nt)
{
    int y1 = T[0].y, y2 = T[0].y;
    for (int i = 1; i < nt; i++) {
        y1 = std::min(y1, T[i].y);
        y2 = std::max(y2, T[i].y);
    }
    char first[16], last[16];
    *put_int(first, y1, 1) = 0;
    *put_int(last, y2, 1) = 0;
    if (y1 == y2)
        write_texts(fp, "<h1>", ru_statistics_for, " ", first, "</h1>\n");
    else
        write_texts(fp, "<h1>", ru_statistics_for, " ", first, " -- ", last, "</h1>\n");
}

// The statistics table over T[0..nt): trades, turnover, result and fees.
static void write_statistics(FILE *fp, const transaction_t *T, int nt)
{
    money_totals_t m = sum_money(T, nt);
    char count[16];
    *put_int(count, nt, 1) = 0;
    write_texts(fp, "<p><table border=0 cellpadding=2>\n<tr><td>", ru_trades_total, "</td> <td align=right>",
                count, "</td></tr>\n");
    write_texts(fp, "<tr><td>", ru_turnover, "</td> <td align=right>", stf(m.sell + m.buy, 0), "</td></tr>\n");
    write_texts(fp, "<tr><td>", ru_result, "</td> <td align=right>", stf(m.sell - m.buy - m.comm, 1),
                "</td></tr>\n");
    write_texts(fp, "<tr><td>", ru_commission, "</td> <td align=right>", stf(m.comm, 0), "</td></tr>\n",
                "</table></p>\n");
}

// One whole page over T[0..nt), nt >= 1, whose records of one stock stand
// together: header, years covered, a section per stock run, statistics and
// a footer with the time of writing.
static void produce_report(FILE *fp, transaction_t *T, int nt)
{
    write_report_header(fp);
    write_years_heading(fp, T, nt);
    for (int i = 0, j; i < nt; i = j) {
        for (j = i + 1; j < nt && strcmp(T[j].stock, T[i].stock) == 0; j++) {
        }
        produce_stock_report(fp, T + i, j - i);
    }
    write_statistics(fp, T, nt);
    write_report_footer(fp);
}

// Writes "report-<year>.html" for every year present, in ascending order,
// then "report.html" over all years; leaves T in stock-and-time order.
static void write_reports(transaction_t *T, int nt)
{
    if (nt <= 0)
        return;
    sort_by_year_and_stock(T, nt);
    for (int i = 0, j; i < nt; i = j) {
        for (j = i + 1; j < nt && T[j].y == T[i].y; j++) {
        }
        char name[32];
        snprintf(name, sizeof name, "report-%d.html", T[i].y);
        FILE *fp = open_output(name);
        produce_report(fp, T + i, j - i);
        xfclose(fp);
    }
    sort_by_stock(T, nt);
    FILE *fp = open_output("report.html");
    produce_report(fp, T, nt);
    xfclose(fp);
}


/* ---- realised profit by FIFO lots ---- */

// "profit.html" matches every sale with earlier purchases (and every buy with
// earlier short sales) of the same security, oldest lot first, and reports
// what each match realised, per year and security, with the positions still
// open and a chart of the running result.  It works on the unique trades,
// each fill on its own.  Unlike the report pages it is well-formed XML:
// attributes are quoted, empty elements closed and names escaped.

// Page literals (Windows-1251).
static const char pf_heading[] = "\xD0\xE5\xE0\xEB\xE8\xE7\xEE\xE2\xE0\xED\xED\xE0\xFF "
                                 "\xEF\xF0\xE8\xE1\xFB\xEB\xFC \xE7\xE0 ";  // "Реализованная прибыль за "
static const char pf_by_years[] = "\xC8\xF2\xEE\xE3\xE8 \xEF\xEE \xE3\xEE\xE4\xE0\xEC";  // "Итоги по годам"
static const char pf_closed_in[] = "\xC7\xE0\xEA\xF0\xFB\xF2\xFB\xE5 \xEF\xEE\xE7\xE8\xF6\xE8\xE8 "
                                   "\xE7\xE0 ";                              // "Закрытые позиции за "
static const char pf_year_word[] = " \xE3\xEE\xE4";                           // " год"
static const char pf_open_title[] = "\xCE\xF2\xEA\xF0\xFB\xF2\xFB\xE5 \xEF\xEE\xE7\xE8\xF6\xE8\xE8";  // "Открытые позиции"
static const char pf_chart_title[] = "\xC3\xF0\xE0\xF4\xE8\xEA";             // "График"
static const char pf_skipped_title[] = "\xD1\xE4\xE5\xEB\xEA\xE8 \xE2\xED\xE5 "
                                       "\xF0\xE0\xF1\xF7\xE5\xF2\xE0";        // "Сделки вне расчета"
static const char pf_skipped_count[] =
    "\xD1\xE4\xE5\xEB\xEE\xEA \xE2\xED\xE5 \xF0\xE0\xF1\xF7\xE5\xF2\xE0 (\xEA\xEE\xEB\xE8\xF7\xE5\xF1"
    "\xF2\xE2\xEE \xED\xE5 \xFF\xE2\xEB\xFF\xE5\xF2\xF1\xFF \xEA\xEE\xED\xE5\xF7\xED\xFB\xEC "
    "\xEF\xEE\xEB\xEE\xE6\xE8\xF2\xE5\xEB\xFC\xED\xFB\xEC \xF7\xE8\xF1\xEB\xEE\xEC): ";
    // "Сделок вне расчета (количество не является конечным положительным числом): "
static const char pf_year[] = "\xC3\xEE\xE4";                                // "Год"
static const char pf_proceeds[] = "\xC2\xFB\xF0\xF3\xF7\xEA\xE0";            // "Выручка"
static const char pf_cost[] = "\xC7\xE0\xF2\xF0\xE0\xF2\xFB";                // "Затраты"
static const char pf_fees[] = "\xCA\xEE\xEC\xE8\xF1\xF1\xE8\xFF";            // "Комиссия"
static const char pf_result[] = "\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2";      // "Результат"
static const char pf_avg_price[] = "\xD1\xF0\xE5\xE4\xED\xFF\xFF \xF6\xE5\xED\xE0";  // "Средняя цена"
static const char pf_money[] = "\xD1\xF3\xEC\xEC\xE0";                       // "Сумма"
static const char pf_opened[] = "\xC4\xE0\xF2\xE0 \xEE\xF2\xEA\xF0\xFB\xF2\xE8\xFF";  // "Дата открытия"
static const char pf_total[] = "\xC8\xF2\xEE\xE3\xEE";                       // "Итого"
static const char pf_direction[] = "\xCD\xE0\xEF\xF0\xE0\xE2\xEB\xE5\xED\xE8\xE5";  // "Направление"
static const char pf_axis_result[] = "\xCD\xE0\xEA\xEE\xEF\xEB\xE5\xED\xED\xFB\xE9 \xF0\xE5\xE7"
                                     "\xF3\xEB\xFC\xF2\xE0\xF2, \xF0\xF3\xE1.";  // "Накопленный результат, руб."
static const char pf_axis_date[] = "\xC4\xE0\xF2\xE0 \xE7\xE0\xEA\xF0\xFB\xF2\xE8\xFF";  // "Дата закрытия"
static const char pf_axis_years[] = "\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2 \xEF\xEE \xE3\xEE\xE4"
                                    "\xE0\xEC, \xF0\xF3\xE1.";  // "Результат по годам, руб."
static const char pf_no_closings[] = "\xC7\xE0\xEA\xF0\xFB\xF2\xFB\xF5 \xEF\xEE\xE7\xE8\xF6\xE8\xE9 "
                                     "\xED\xE5\xF2.";  // "Закрытых позиций нет."

// Days since 1 January 1970 of a civil date (proleptic Gregorian).
static int64_t day_number(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

// Writes printf-formatted text through the checked output path.
[[gnu::format(printf, 2, 3)]] static void write_format(FILE *fp, const char *format, ...)
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

// Names are mostly shared copies, so equal pointers settle most comparisons.
static bool same_name(const char *a, const char *b)
{
    return a == b || strcmp(a, b) == 0;
}

// Below this many shares a lot or the rest of a trade counts as used up.
static const double dust_shares = 0.01;

// An open lot: what is left of one trade after the closings it took part in.
struct lot_t {
    double quantity, money, fees;
    const transaction_t *opening;
};

// One match of (part of) a trade with (part of) an open lot, dated by the
// closing trade (its year, and its day for the chart).
struct closing_t {
    int32_t year;
    int64_t day;
    double quantity, proceeds, cost, fees;
};

// Money figures of a table row; the result is derived, never summed.
struct realised_t {
    double quantity = 0, proceeds = 0, cost = 0, fees = 0;
    double result() const { return proceeds - cost - fees; }
    void add(const realised_t &r)
    {
        quantity += r.quantity;
        proceeds += r.proceeds;
        cost += r.cost;
        fees += r.fees;
    }
};

struct security_row_t {
    const transaction_t *first;  // names the security: stock and ticker
    realised_t sums;
};

struct profit_year_t {
    int32_t year;
    std::vector<security_row_t> rows;  // by name in byte order
    realised_t sums;
};

struct open_position_t {
    const transaction_t *first;
    double quantity, money, fees;  // quantity negative for a short
    const transaction_t *oldest;
};

struct profit_book_t {
    std::vector<std::pair<int64_t, double>> day_results;  // per security and closing day
    std::vector<profit_year_t> years;                      // ascending
    std::vector<open_position_t> open;
    std::vector<const transaction_t *> skipped;
};

// A trade's part in the lots: its quantity, money and fees still unmatched.
struct trade_rest_t {
    double quantity, money, fees;
};

static bool takes_part(const transaction_t *t)
{
    double quantity = t->amount / t->price;
    return std::isfinite(quantity) && quantity > 0 && t->amount > 0;
}

// Security (byte order of the name), then date and time, then trade number.
static bool before_in_lots(const transaction_t *a, const transaction_t *b)
{
    int c = strcmp(a->stock, b->stock);
    if (c != 0)
        return c < 0;
    c = cmp_transaction_time(a, b);
    if (c != 0)
        return c < 0;
    return a->no < b->no;
}

// The same order by keys: the rank of the name, then the packed date and
// time, then the number.
struct lot_order_t {
    uint64_t time;
    int64_t no;
    bool operator<(const lot_order_t &o) const { return time != o.time ? time < o.time : no < o.no; }
};

// A trade's date and time as one number, when every field is in its usual
// range (a year of 0 to 65535, the rest 0 to 255).
static bool lot_time_key(const transaction_t *t, uint64_t *key)
{
    if (!in_range(t->y, 16) || !in_range(t->mo, 8) || !in_range(t->d, 8) || !in_range(t->h, 8) ||
        !in_range(t->mi, 8) || !in_range(t->s, 8))
        return false;
    *key = (uint64_t)t->y << 40 | (uint64_t)t->mo << 32 | (uint64_t)t->d << 24 | (uint64_t)t->h << 16 |
           (uint64_t)t->mi << 8 | (uint64_t)t->s;
    return true;
}

// Puts one security's trades in time order by their keys; trades arrive
// mostly in order already (by trade number), so a sorted run costs one pass.
static bool sort_by_time_keys(const transaction_t **first, size_t n, std::vector<lot_order_t> &keys)
{
    keys.resize(n);
    for (size_t k = 0; k < n; k++) {
        if (!lot_time_key(first[k], &keys[k].time))
            return false;
        keys[k].no = first[k]->no;
    }
    if (std::is_sorted(keys.begin(), keys.end()))
        return true;
    std::vector<std::pair<lot_order_t, const transaction_t *>> pairs(n);
    for (size_t k = 0; k < n; k++)
        pairs[k] = {keys[k], first[k]};
    std::sort(pairs.begin(), pairs.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (size_t k = 0; k < n; k++)
        first[k] = pairs[k].second;
    return true;
}

// The trades of T[0..n) that take part in the lots, in lot order: grouped
// by the rank of their names (a counting sort), then each group by time;
// the others go to skipped.  Names without a rank are compared as texts.
static std::vector<const transaction_t *> trades_in_lot_order(const transaction_t *T, int n,
                                                               std::vector<const transaction_t *> &skipped)
{
    std::vector<const transaction_t *> order;
    std::vector<int64_t> ranks((size_t)n, -1);
    bool ranked = true;
    size_t names = 0;
    order.reserve((size_t)n);
    for (int i = 0; i < n; i++) {
        if (!takes_part(T + i)) {
            skipped.push_back(T + i);
            continue;
        }
        order.push_back(T + i);
        ranks[i] = text_rank(T[i].stock);
        ranked = ranked && ranks[i] >= 0;
        names = std::max(names, (size_t)(ranks[i] + 1));
    }
    if (!ranked) {
        std::sort(order.begin(), order.end(), before_in_lots);
        return order;
    }
    std::vector<size_t> start(names + 1, 0);
    for (int i = 0; i < n; i++)
        if (ranks[i] >= 0)
            start[(size_t)ranks[i] + 1]++;
    for (size_t r = 0; r < names; r++)
        start[r + 1] += start[r];
    std::vector<size_t> next(start.begin(), start.end() - 1);
    for (int i = 0; i < n; i++)
        if (ranks[i] >= 0)
            order[next[(size_t)ranks[i]]++] = T + i;
    std::vector<lot_order_t> keys;
    for (size_t r = 0; r < names; r++) {
        const transaction_t **first = order.data() + start[r];
        size_t count = start[r + 1] - start[r];
        if (!sort_by_time_keys(first, count, keys))
            std::sort(first, first + count, before_in_lots);
    }
    return order;
}

// Takes quantity q out of a rest holding quantity from (money and fees in
// proportion) and returns the part taken; a rest left below the dust limit
// goes whole into the part taken.
static trade_rest_t take_part(trade_rest_t *from, double q)
{
    if (from->quantity - q < dust_shares) {
        trade_rest_t all = *from;
        *from = {0, 0, 0};
        return all;
    }
    double share = q / from->quantity;
    trade_rest_t part = {q, from->money * share, from->fees * share};
    from->quantity -= q;
    from->money -= part.money;
    from->fees -= part.fees;
    return part;
}

// Matches trade t against the open lots of the other side, oldest first;
// what is left of it opens a lot of its own side.  lots holds one side only.
static void match_trade(const transaction_t *t, std::vector<lot_t> &lots, size_t &oldest,
                        bool &lots_long, std::vector<closing_t> &closings)
{
    bool buy = t->direction == 1;
    trade_rest_t rest = {t->amount / t->price, t->amount, t->commission};
    while (rest.quantity > 0 && oldest < lots.size() && lots_long != buy) {
        lot_t &lot = lots[oldest];
        trade_rest_t lot_rest = {lot.quantity, lot.money, lot.fees};
        double q = std::min(rest.quantity, lot.quantity);
        trade_rest_t from_trade = take_part(&rest, q);
        trade_rest_t from_lot = take_part(&lot_rest, q);
        lot = {lot_rest.quantity, lot_rest.money, lot_rest.fees, lot.opening};
        if (lot.quantity == 0)
            oldest++;
        const trade_rest_t &sale = buy ? from_lot : from_trade;
        const trade_rest_t &purchase = buy ? from_trade : from_lot;
        closings.push_back({t->y, day_number(t->y, t->mo, t->d), q, sale.money, purchase.money,
                            from_trade.fees + from_lot.fees});
    }
    if (rest.quantity > 0) {
        if (oldest == lots.size()) {
            lots.clear();
            oldest = 0;
            lots_long = buy;
        }
        lots.push_back({rest.quantity, rest.money, rest.fees, t});
    }
}

// The open lots of one security as a position, if any are left.
static void note_open_position(const transaction_t *first, const std::vector<lot_t> &lots,
                               size_t oldest, bool lots_long, std::vector<open_position_t> &open)
{
    if (oldest == lots.size())
        return;
    open_position_t p = {first, 0, 0, 0, lots[oldest].opening};
    for (size_t k = oldest; k < lots.size(); k++) {
        p.quantity += lots[k].quantity;
        p.money += lots[k].money;
        p.fees += lots[k].fees;
    }
    if (!lots_long)
        p.quantity = -p.quantity;
    open.push_back(p);
}

// Adds the closings of one security, in time order, to the year tables and
// to the results per day.
static void book_closings(const std::vector<closing_t> &c, const transaction_t *first, profit_book_t &book)
{
    std::vector<profit_year_t> &years = book.years;
    for (size_t k = 0; k < c.size(); k++) {
        double result = c[k].proceeds - c[k].cost - c[k].fees;
        if (k > 0 && c[k - 1].day == c[k].day)
            book.day_results.back().second += result;
        else
            book.day_results.push_back({c[k].day, result});
        int32_t y = c[k].year;
        auto it = std::lower_bound(years.begin(), years.end(), y,
                                   [](const profit_year_t &py, int32_t v) { return py.year < v; });
        if (it == years.end() || it->year != y)
            it = years.insert(it, profit_year_t{y, {}, {}});
        if (it->rows.empty() || it->rows.back().first != first)
            it->rows.push_back({first, {}});
        it->rows.back().sums.add({c[k].quantity, c[k].proceeds, c[k].cost, c[k].fees});
    }
}

// Walks every security's trades in time order through its lots.
static profit_book_t build_profit_book(const transaction_t *T, int n)
{
    profit_book_t book;
    std::vector<const transaction_t *> order = trades_in_lot_order(T, n, book.skipped);
    std::sort(book.skipped.begin(), book.skipped.end(),
              [](const transaction_t *a, const transaction_t *b) {
                  int c = cmp_transaction_time(a, b);
                  return c != 0 ? c < 0 : a->no < b->no;
              });
    std::vector<lot_t> lots;
    std::vector<closing_t> closings;
    for (size_t i = 0, j; i < order.size(); i = j) {
        size_t oldest = 0;
        bool lots_long = true;
        lots.clear();
        closings.clear();
        for (j = i; j < order.size() && same_name(order[j]->stock, order[i]->stock); j++)
            match_trade(order[j], lots, oldest, lots_long, closings);
        book_closings(closings, order[i], book);
        note_open_position(order[i], lots, oldest, lots_long, book.open);
    }
    for (profit_year_t &py : book.years)
        for (const security_row_t &row : py.rows)
            py.sums.add(row.sums);
    return book;
}

/* page text */

// Text with "&", "<" and ">" written as entities.
static void put_escaped(FILE *fp, const char *s)
{
    for (;;) {
        size_t plain = strcspn(s, "&<>");
        write_bytes(fp, s, plain);
        s += plain;
        if (!*s)
            return;
        write_texts(fp, *s == '&' ? "&amp;" : *s == '<' ? "&lt;" : "&gt;");
        s++;
    }
}

// "name (ticker)" of the security that t names.
static void put_security(FILE *fp, const transaction_t *t)
{
    put_escaped(fp, t->stock);
    write_texts(fp, " (");
    put_escaped(fp, t->ticker);
    write_texts(fp, ")");
}

// A result in the colours of stf(value, 1), with the attribute quoted.
static void put_result_cell(FILE *fp, double value)
{
    write_format(fp, "<td align=\"right\"><font color=\"%s\">%s</font></td>", value < 0 ? "red" : "darkgreen",
            stf(value, 0));
}

static void put_money_cells(FILE *fp, const realised_t &r)
{
    write_format(fp, "<td align=\"right\">%s</td><td align=\"right\">%s</td><td align=\"right\">%s</td>",
            stf(r.proceeds, 0), stf(r.cost, 0), stf(r.fees, 0));
    put_result_cell(fp, r.result());
    write_texts(fp, "</tr>\n");
}

static void put_table_head(FILE *fp, const char *id, std::initializer_list<const char *> titles)
{
    write_format(fp, "<table id=\"%s\" border=\"1\" cellspacing=\"0\" cellpadding=\"5\">\n<tr>", id);
    for (const char *title : titles)
        write_format(fp, "<th>%s</th>", title);
    write_texts(fp, "</tr>\n");
}

static void write_years_table(FILE *fp, const profit_book_t &book, realised_t *total)
{
    write_format(fp, "<h2>%s</h2>\n", pf_by_years);
    put_table_head(fp, "years", {pf_year, pf_proceeds, pf_cost, pf_fees, pf_result});
    for (const profit_year_t &py : book.years) {
        write_format(fp, "<tr><td>%d</td>", py.year);
        put_money_cells(fp, py.sums);
        total->add(py.sums);
    }
    write_format(fp, "<tr><td><b>%s</b></td>", pf_total);
    put_money_cells(fp, *total);
    write_texts(fp, "</table>\n");
}

static void write_year_table(FILE *fp, const profit_year_t &py)
{
    write_format(fp, "<h2>%s%d%s</h2>\n", pf_closed_in, py.year, pf_year_word);
    char id[16];
    snprintf(id, sizeof id, "y%d", py.year);
    put_table_head(fp, id, {ru_share, ru_quantity, pf_proceeds, pf_cost, pf_fees, pf_result});
    for (const security_row_t &row : py.rows) {
        write_texts(fp, "<tr><td>");
        put_security(fp, row.first);
        write_format(fp, "</td><td align=\"right\">%s</td>", stn(row.sums.quantity));
        put_money_cells(fp, row.sums);
    }
    write_format(fp, "<tr><td><b>%s</b></td><td></td>", pf_total);
    put_money_cells(fp, py.sums);
    write_texts(fp, "</table>\n");
}

static void write_open_table(FILE *fp, const profit_book_t &book)
{
    write_format(fp, "<h2>%s</h2>\n", pf_open_title);
    put_table_head(fp, "open", {ru_share, ru_quantity, pf_avg_price, pf_money, pf_fees, pf_opened});
    for (const open_position_t &p : book.open) {
        write_texts(fp, "<tr><td>");
        put_security(fp, p.first);
        char price[330];
        fixed_text(price, p.money / fabs(p.quantity), 4);
        write_format(fp, "</td><td align=\"right\">%s</td><td align=\"right\">%s</td>", stn(p.quantity), price);
        write_format(fp, "<td align=\"right\">%s</td><td align=\"right\">%s</td><td>%02d.%02d.%04d</td></tr>\n",
                stf(p.money, 0), stf(p.fees, 0), p.oldest->d, p.oldest->mo, p.oldest->y);
    }
    write_texts(fp, "</table>\n");
}

static void write_skipped(FILE *fp, const profit_book_t &book)
{
    write_format(fp, "<p>%s%d</p>\n", pf_skipped_count, (int)book.skipped.size());
    if (book.skipped.empty())
        return;
    write_format(fp, "<h2>%s</h2>\n", pf_skipped_title);
    put_table_head(fp, "skipped", {ru_date_time, ru_share, pf_direction, pf_money});
    for (const transaction_t *t : book.skipped) {
        write_format(fp, "<tr><td>%02d.%02d.%04d %02d:%02d:%02d</td><td>", t->d, t->mo, t->y, t->h, t->mi, t->s);
        put_security(fp, t);
        write_format(fp, "</td><td>%s</td><td align=\"right\">%s</td></tr>\n",
                t->direction == 1 ? word_buy : word_sale, stf(t->amount, 0));
    }
    write_texts(fp, "</table>\n");
}

/* the chart */

// A linear map of [from_lo, from_hi] onto [to_lo, to_hi].
struct axis_t {
    double from_lo, from_hi, to_lo, to_hi;
    double at(double v) const
    {
        double span = from_hi - from_lo;
        return to_lo + (span > 0 ? (v - from_lo) / span : 0) * (to_hi - to_lo);
    }
};

// Chart geometry: the running result above, the bars of the years below.
static const int CH_W = 800, CH_H = 540, CH_L = 100, CH_R = 770;
static const int CH_T1 = 40, CH_B1 = 280, CH_T2 = 360, CH_B2 = 480;

static const char ch_green[] = "darkgreen";
static const char ch_red[] = "red";

// The running result after each closing date, one point per date.
static std::vector<std::pair<int64_t, double>> running_result(const profit_book_t &book)
{
    std::vector<std::pair<int64_t, double>> points = book.day_results;
    std::stable_sort(points.begin(), points.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
    size_t w = 0;
    for (size_t k = 0; k < points.size(); k++) {
        if (w > 0 && points[w - 1].first == points[k].first)
            points[w - 1].second += points[k].second;
        else
            points[w++] = points[k];
    }
    points.resize(w);
    double sum = 0;
    for (auto &p : points)
        p.second = sum += p.second;
    return points;
}

// The running result as a staircase from the first year's start to the
// last year's end, with the zero line, a mark at each new year, the axes
// and their titles, and the final result (the total row's figure).
static void write_running_chart(FILE *fp, const profit_book_t &book, const realised_t &total, int32_t y1,
                                int32_t y2)
{
    std::vector<std::pair<int64_t, double>> points = running_result(book);
    double lo = 0, hi = 0;
    for (const auto &p : points) {
        lo = std::min(lo, p.second);
        hi = std::max(hi, p.second);
    }
    int64_t start = day_number(y1, 1, 1), end = day_number((int64_t)y2 + 1, 1, 1);
    axis_t x = {(double)start, (double)end, CH_L, CH_R};
    axis_t y = {lo, hi > lo ? hi : lo + 1, CH_B1, CH_T1};
    write_format(fp, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" transform=\"rotate(-90 %d %d)\">%s</text>\n",
            24, (CH_T1 + CH_B1) / 2, 24, (CH_T1 + CH_B1) / 2, pf_axis_result);
    write_format(fp, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">%s</text>\n", (CH_L + CH_R) / 2, CH_B1 + 36,
            pf_axis_date);
    int64_t years = (int64_t)y2 - y1 + 1, step = std::max<int64_t>(1, (years + 19) / 20);
    for (int64_t yr = y1; yr <= y2; yr += step) {
        double left = x.at((double)day_number(yr, 1, 1)), right = x.at((double)day_number(yr + 1, 1, 1));
        write_format(fp, "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#999999\" "
                    "stroke-dasharray=\"4 3\" />\n", left, CH_T1, left, CH_B1);
        write_format(fp, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%lld</text>\n", (left + right) / 2,
                CH_B1 + 16, (long long)yr);
    }
    write_format(fp, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"black\" />\n", CH_L, CH_T1, CH_L, CH_B1);
    write_format(fp, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"black\" />\n", CH_L, CH_B1, CH_R, CH_B1);
    write_format(fp, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#444444\" />\n", CH_L, y.at(0), CH_R,
            y.at(0));
    write_format(fp, "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">0</text>\n", CH_L - 6, y.at(0) + 4);
    write_format(fp, "<polyline fill=\"none\" stroke=\"navy\" stroke-width=\"2\" points=\"%.1f,%.1f", x.at((double)start),
            y.at(0));
    double last = 0;
    for (const auto &[day, sum] : points) {
        double at = x.at((double)day);
        write_format(fp, " %.1f,%.1f %.1f,%.1f", at, y.at(last), at, y.at(sum));
        last = sum;
    }
    write_format(fp, " %.1f,%.1f\" />\n", x.at((double)end), y.at(last));
    double result = total.result();
    write_format(fp, "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\" fill=\"%s\">%s</text>\n", CH_R, y.at(last) - 6,
            result < 0 ? ch_red : ch_green, stf(result, 0));
}

// One bar per year with closings, its height the year's result, labelled
// with the year and the result as the years table prints them.
static void write_year_bars(FILE *fp, const profit_book_t &book)
{
    double lo = 0, hi = 0;
    for (const profit_year_t &py : book.years) {
        lo = std::min(lo, py.sums.result());
        hi = std::max(hi, py.sums.result());
    }
    axis_t y = {lo, hi > lo ? hi : lo + 1, CH_B2, CH_T2};
    write_format(fp, "<text x=\"%d\" y=\"%d\">%s</text>\n", CH_L, CH_T2 - 24, pf_axis_years);
    write_format(fp, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"black\" />\n", CH_L, CH_T2, CH_L, CH_B2);
    write_format(fp, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#444444\" />\n", CH_L, y.at(0), CH_R,
            y.at(0));
    double slot = (double)(CH_R - CH_L) / (double)std::max<size_t>(1, book.years.size());
    for (size_t k = 0; k < book.years.size(); k++) {
        double result = book.years[k].sums.result(), top = std::min(y.at(result), y.at(0));
        double middle = CH_L + slot * ((double)k + 0.5);
        const char *colour = result < 0 ? ch_red : ch_green;
        write_format(fp, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\" />\n",
                middle - slot * 0.3, top, slot * 0.6, fabs(y.at(result) - y.at(0)), colour);
        write_format(fp, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"%s\">%s</text>\n", middle,
                result < 0 ? y.at(result) + 14 : y.at(result) - 4, colour, stf(result, 0));
        write_format(fp, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%d</text>\n", middle, CH_B2 + 34,
                book.years[k].year);
    }
}

static void write_chart(FILE *fp, const profit_book_t &book, const realised_t &total, int32_t y1, int32_t y2)
{
    write_format(fp, "<h2>%s</h2>\n", pf_chart_title);
    if (book.years.empty()) {
        write_format(fp, "<p>%s</p>\n", pf_no_closings);
        return;
    }
    write_format(fp, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                "font-family=\"sans-serif\" font-size=\"12\">\n<title>%s%d -- %d</title>\n"
                "<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" fill=\"white\" />\n",
            CH_W, CH_H, CH_W, CH_H, pf_heading, y1, y2, CH_W, CH_H);
    write_running_chart(fp, book, total, y1, y2);
    write_year_bars(fp, book);
    write_texts(fp, "</svg>\n");
}

/* the page */

// The whole of "profit.html" over the unique trades T[0..n), n >= 1.
static void produce_profit_page(FILE *fp, const transaction_t *T, int n)
{
    write_report_header(fp);
    int32_t y1 = T[0].y, y2 = T[0].y;
    for (int i = 1; i < n; i++) {
        y1 = std::min(y1, T[i].y);
        y2 = std::max(y2, T[i].y);
    }
    if (y1 == y2)
        write_format(fp, "<h1>%s%d</h1>\n", pf_heading, y1);
    else
        write_format(fp, "<h1>%s%d -- %d</h1>\n", pf_heading, y1, y2);
    profit_book_t book = build_profit_book(T, n);
    realised_t total;
    write_years_table(fp, book, &total);
    for (const profit_year_t &py : book.years)
        write_year_table(fp, py);
    write_open_table(fp, book);
    write_chart(fp, book, total, y1, y2);
    write_skipped(fp, book);
    // The report pages' footer, with its empty elements closed.
    write_texts(fp, "<hr />\n<p>", ru_generated, " ", datetime(), "<br />\n");
    write_texts(fp, "Varnock " VARNOCK_VERSION "</p>\n</body>\n</html>\n");
}

// Writes "profit.html" from the unique trades, each fill on its own.
static void write_profit(const std::vector<transaction_t> &fills)
{
    if (fills.empty())
        return;
    FILE *fp = open_output("profit.html");
    produce_profit_page(fp, fills.data(), (int)fills.size());
    xfclose(fp);
}


/* ---- the run ---- */

static trade_array_t trades;

// Trade files are loaded one after another into blocks of similar size: keep
// freed blocks in the heap so that each file reuses the pages of the last one
// instead of mapping (and faulting in) fresh memory.
static void reuse_file_buffers()
{
#ifdef M_MMAP_THRESHOLD
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

int main(int argc, char **argv)
{
    xopen_std_fds();
    enter_folder(parse_arguments(argc, argv));
    reuse_file_buffers();
    FILE *fpo1 = open_output("imported.txt");
    FILE *fpo2 = open_output("garbage.txt");
    allocate_trades(&trades);
    int rejected = import_trade_files(&trades, fpo1, fpo2);
    xfclose(fpo1);
    xfclose(fpo2);
    warn_rejected_rows(rejected);
    if (trades.nt == 0)
        error1("no transactions were found\n");
    warning1("%d transactions imported\n", trades.nt);
    rank_texts();
    transaction_t *T = trades.T;
    int n = trades.nt;
    sort_by_number(T, n);
    n = remove_duplicates(T, n);
    print_totals(T, n);
    std::vector<transaction_t> fills(T, T + n);  // each fill on its own, for profit.html
    sort_by_order(T, n);
    n = consolidate_orders(T, n);
    sort_by_stock(T, n);
    n = consolidate_days(T, n);
    warning1("%d orders\n", n);
    write_orders(T, n);
    write_reports(T, n);
    write_profit(fills);
    warning1("success\n");
    getchar();
    return 0;
}
