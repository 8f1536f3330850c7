// varnock: turns a trading terminal's exported trade tables ("sdelki*.xls",
// HTML in Windows-1251) into clean trade records and HTML profit reports.
//
// The run works in place on one growing array of trade records: import,
// de-duplicate by trade number, fold the fills of each order, fold same-day
// orders of one security and direction, then write "orders.txt" and reports.

#include "keltools.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <dirent.h>
#include <malloc.h>
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

static int cmp_transaction_time(const void *e1, const void *e2);
static int cmp_transaction_no(const void *e1, const void *e2);
static int cmp_transaction_order(const void *e1, const void *e2);
static int cmp_transaction_stock(const void *e1, const void *e2);
static int cmp_transaction_year_stock(const void *e1, const void *e2);
static void write_reports(transaction_t *T, int nt);

// Output streams get large buffers: they take millions of short writes.
static FILE *open_output(const char *name)
{
    FILE *fp = xfopen("%s", "w", name);
    setvbuf(fp, nullptr, _IOFBF, 1 << 20);
    return fp;
}

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

[[maybe_unused]] static int cmp_transaction_order(const void *e1, const void *e2)
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

// The sorts of the run order records exactly as the orderings above do, but
// compare dates and times packed into one number where every field is in
// its usual range (a year of 0 to 65535, the rest 0 to 255).
static inline bool packed_time(const transaction_t *t, uint64_t *key)
{
    uint32_t small = (uint32_t)t->mo | (uint32_t)t->d | (uint32_t)t->h | (uint32_t)t->mi | (uint32_t)t->s;
    if ((uint32_t)t->y > 0xffff || small > 0xff)
        return false;
    *key = (uint64_t)t->y << 40 | (uint64_t)t->mo << 32 | (uint64_t)t->d << 24 | (uint64_t)t->h << 16 |
           (uint64_t)t->mi << 8 | (uint64_t)t->s;
    return true;
}

static inline int time_order(const transaction_t &a, const transaction_t &b)
{
    uint64_t ka, kb;
    if (packed_time(&a, &ka) && packed_time(&b, &kb))
        return (ka > kb) - (ka < kb);
    return cmp_transaction_time(&a, &b);
}

static bool before_no(const transaction_t &a, const transaction_t &b)
{
    return a.no < b.no;
}

static bool before_order(const transaction_t &a, const transaction_t &b)
{
    return a.order != b.order ? a.order < b.order : time_order(a, b) < 0;
}

static bool before_stock(const transaction_t &a, const transaction_t &b)
{
    int c = cmp_stock_names(a.stock, b.stock);
    return c ? c < 0 : time_order(a, b) < 0;
}

[[maybe_unused]] static bool before_year_stock(const transaction_t &a, const transaction_t &b)
{
    if (a.y != b.y)
        return a.y < b.y;
    return before_stock(a, b);
}

// Sorts n records; records that the ordering ranks equal may end up in any
// order.
template <bool (*before)(const transaction_t &, const transaction_t &)>
static void sort_trades(transaction_t *T, int n)
{
    std::sort(T, T + n, [](const transaction_t &a, const transaction_t &b) { return before(a, b); });
}

// The sorts before the de-duplication and the order consolidation.  Trade
// files list their trades in trade-number order, so the imported records
// mostly form a few ascending runs, one per file, and after that sort the
// order numbers mostly ascend as well.  Such runs are merged pairwise;
// records in many runs are sorted.
template <bool (*before)(const transaction_t &, const transaction_t &)>
static void sort_runs(transaction_t *T, int n)
{
    const int max_runs = 64;
    int starts[max_runs + 1];
    int runs = 1;
    starts[0] = 0;
    for (int i = 1; i < n; i++)
        if (before(T[i], T[i - 1])) {
            if (runs == max_runs) {
                sort_trades<before>(T, n);
                return;
            }
            starts[runs++] = i;
        }
    starts[runs] = n;
    while (runs > 1) {
        int merged = 0;
        for (int k = 0; k < runs; k += 2) {
            if (k + 1 < runs)
                std::inplace_merge(T + starts[k], T + starts[k + 1], T + starts[k + 2], before);
            starts[merged++] = starts[k];
        }
        starts[merged] = n;
        runs = merged;
    }
}

// The sort before the same-day consolidation.  Security names are shared
// copies, few and distinct, so the records are first dealt into one bucket
// per name in name order, keeping their order, and each bucket is then
// sorted by time; as the records arrive in order-number order, which
// mostly follows time, those sorts have little to do.  Records whose name
// is not a shared copy are sorted by comparison alone.
static void sort_by_stock_and_time(transaction_t *T, int n)
{
    // Ranks of the shared names, by the address of the copy.
    size_t count = 0;
    for (size_t i = 0; i < texts.size; i++)
        count += texts.slot[i] != nullptr;
    size_t size = 16;
    while (size < 2 * count)
        size *= 2;
    const char **names = (const char **)malloc(sizeof(char *) * (count ? count : 1));
    const char **keys = (const char **)calloc(size, sizeof(char *));
    int *ranks = (int *)malloc(sizeof(int) * size);
    int *bucket = (int *)calloc(count + 1, sizeof(int));
    transaction_t *dealt = (transaction_t *)malloc(sizeof(transaction_t) * (size_t)(n ? n : 1));
    bool dealing = names && keys && ranks && bucket && dealt;
    auto slot_of = [&](const char *name) {
        size_t k = (size_t)(((uintptr_t)name >> 3) * 0x9e3779b97f4a7c15ULL >> 20) & (size - 1);
        while (keys[k] && keys[k] != name)
            k = (k + 1) & (size - 1);
        return k;
    };
    if (dealing) {
        count = 0;
        for (size_t i = 0; i < texts.size; i++)
            if (texts.slot[i])
                names[count++] = texts.slot[i];
        std::sort(names, names + count, [](const char *a, const char *b) { return strcmp(a, b) < 0; });
        for (size_t r = 0; r < count; r++) {
            size_t k = slot_of(names[r]);
            keys[k] = names[r];
            ranks[k] = (int)r;
        }
        for (int i = 0; dealing && i < n; i++) {
            size_t k = slot_of(T[i].stock);
            dealing = keys[k] != nullptr;
            if (dealing)
                bucket[ranks[k] + 1]++;
        }
    }
    if (dealing) {
        for (size_t r = 1; r <= count; r++)
            bucket[r] += bucket[r - 1];
        for (int i = 0; i < n; i++)
            dealt[bucket[ranks[slot_of(T[i].stock)]]++] = T[i];
        memcpy(T, dealt, sizeof(transaction_t) * (size_t)n);
        for (size_t r = 0, from = 0; r < count; from = (size_t)bucket[r++])
            std::sort(T + from, T + bucket[r], [](const transaction_t &a, const transaction_t &b) {
                return time_order(a, b) < 0;
            });
    } else {
        sort_trades<before_stock>(T, n);
    }
    free(names);
    free(keys);
    free(ranks);
    free(bucket);
    free(dealt);
}

/* ---- import ---- */

// Number conversions of the row parser.  They give exactly what the scan
// format "%d", atof() and printf("%.Nf") give, with the common cases done
// inline and everything unusual handed to the C library itself.

static bool is_c_space(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

static bool is_digit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// One "%d" conversion of the scan format: blanks, a sign, at least one digit;
// the value as strtol() gives it (saturated to 64 bits), then cut to int.
static bool scan_int(const char *&p, int32_t *out)
{
    const unsigned char *s = (const unsigned char *)p;
    while (is_c_space(*s))
        s++;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        s++;
    if (!is_digit(*s))
        return false;
    uint64_t v = 0;
    bool overflow = false;
    for (; is_digit(*s); s++) {
        unsigned d = *s - '0';
        if (v > (UINT64_MAX - 9) / 10 && v > (UINT64_MAX - d) / 10)
            overflow = true;
        else
            v = v * 10 + d;
    }
    int64_t wide;
    if (negative)
        wide = overflow || v > (uint64_t)INT64_MAX + 1 ? INT64_MIN : (int64_t)(0 - v);
    else
        wide = overflow || v > (uint64_t)INT64_MAX ? INT64_MAX : (int64_t)v;
    *out = (int32_t)(uint32_t)(uint64_t)wide;
    p = (const char *)s;
    return true;
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

// strtoq1(s, nullptr, 10): a cell of at most 18 digits and nothing else is
// read here, anything else by strtoq1 itself.
static int64_t to_int64(const char *s)
{
    int64_t v = 0;
    const char *p = s;
    for (; is_digit((unsigned char)*p) && p - s < 18; p++)
        v = v * 10 + (*p - '0');
    if (*p || p == s)
        return strtoq1(s, nullptr, 10);
    return v;
}

// atof(): plain decimals of up to 19 significant digits and a small scale
// are exact in double arithmetic (one correctly rounded division); anything
// else (exponents, hexadecimal, inf, nan, long digit strings) goes to strtod.
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

// printf("%.*f", precision, v) for a finite |v| below 2^44: v is m * 2^-k
// exactly, so v * 10^precision is the 128-bit m * 10^precision shifted right
// by k, rounded half to even as printf rounds the exact value.  Returns null
// for other values.
template <int precision>
static char *fixed_exact(char *o, double v)
{
    constexpr uint64_t scale = precision == 5 ? 100000 : 1000;
    static_assert(precision == 3 || precision == 5);
    uint64_t bits;
    memcpy(&bits, &v, sizeof bits);
    int biased = (int)(bits >> 52 & 0x7ff);
    if (biased >= 1023 + 44)
        return nullptr;
    uint64_t m = bits & ((1ULL << 52) - 1);
    if (biased)
        m |= 1ULL << 52;
    int shift = 1075 - (biased ? biased : 1);   // v = m / 2^shift, shift > 8
    unsigned __int128 n = (unsigned __int128)m * scale;
    uint64_t q = 0;
    if (shift < 120) {
        unsigned __int128 half = (unsigned __int128)1 << (shift - 1);
        q = (uint64_t)(n >> shift);
        unsigned __int128 rest = n & ((half << 1) - 1);
        if (rest > half || (rest == half && (q & 1)))
            q++;
    }
    if (bits >> 63)
        *o++ = '-';
    o = put_uint(o, q / scale);
    *o++ = '.';
    return put_uint(o, q % scale, precision);
}

// Appends v as printf("%*.*f", width, precision, v) would.
template <int precision>
static char *put_fixed(char *o, double v, int width)
{
    char text[400];
    char *end = fixed_exact<precision>(text, v);
    if (!end)
        end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, precision).ptr;
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
    fwrite_unlocked(line, 1, (size_t)(o - line), fp);
    fwrite_unlocked(T->stock, 1, stock_len, fp);
    o = line;
    *o++ = ' ';
    o = put_int(o, T->direction, 1), *o++ = ' ';
    o = put_fixed<5>(o, T->price, 10), *o++ = ' ';
    o = put_fixed<3>(o, T->amount, 15), *o++ = ' ';
    o = put_fixed<3>(o, T->commission, 5), *o++ = '\n';
    fwrite_unlocked(line, 1, (size_t)(o - line), fp);
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
// there is one more than a trade row has, and, when to_row_end, finds the
// "</tr>" that ends the row, which also ends the cells.  Stores the cell
// count in *nw and returns the row end: the "</tr>", or the text's end when
// !to_row_end, or null when there is no "</tr>".
template <bool to_row_end>
static const char *cut_row(lt_walk_t *walk, cell_t *w, int *nw)
{
    const char *end = walk->end;
    int n = 0;
    const char *gt = nullptr;   // inside a cell: the ">" that opened it
    while (const char *q = walk_next(walk)) {
        if (to_row_end && starts(q, end, "</tr>"))
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
            if (to_row_end && g && g - q >= 7 && memcmp(g - 4, "</tr>", 5) == 0)
                return *nw = n, g - 4;
            if (!g)
                break;
            gt = g;
            walk_skip_to(walk, g + 1);
            w[n].tags = false;
        }
    }
    *nw = n;
    return to_row_end ? nullptr : end;
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

// The row parser over a row text (the text between "<tr>" and "</tr>")
// ended by its NUL.
[[maybe_unused]] static int parse_html_transaction(const char *s, transaction_t *T)
{
    size_t len = strlen(s);
    cell_t w[row_cells + 1];
    int nw;
    lt_walk_t walk;
    walk_from(&walk, s, s + len);
    cut_row<false>(&walk, w, &nw);
    return parse_cells(w, nw, T);
}

// Reads the rows of one loaded trade file (len bytes and a NUL); each
// "</tr>" that ends a row is overwritten with a NUL.  An embedded NUL ends
// the text, as does a "<tr>" without a later "</tr>".
static void import_rows(char *text, size_t len, trade_array_t *A, FILE *fpo1, FILE *fpo2)
{
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
        char *close = (char *)cut_row<true>(&walk, w, &nw);
        if (!close)
            break;
        *close = 0;
        transaction_t *slot = next_slot(A);
        int r = parse_cells(w, nw, slot);
        if (r == 0) {
            write_trade_line(fpo1, slot);
            A->nt++;
        } else {
            fprintf(fpo2, "%d| ", r);
            fwrite_unlocked(row, 1, (size_t)(close - row), fpo2);
            putc_unlocked('\n', fpo2);
        }
        walk_skip_to(&walk, close + 1);
    }
}

static bool is_trade_file(const char *name)
{
    return fnmatch1("sdelki*.xls", name, FNMATCH1_CASEFOLD) == 0;
}

// Imports every trade file of the current directory, in listing order.
static void import_trade_files(trade_array_t *A, FILE *fpo1, FILE *fpo2)
{
    DIR *dir = opendir(".");
    if (!dir)
        error1("failed to scan current directory\n");
    while (struct dirent *entry = readdir(dir)) {
        if (!is_trade_file(entry->d_name))
            continue;
        warning1("reading %s...\n", entry->d_name);
        char *text = nullptr;
        long len = load_file(entry->d_name, &text);
        if (len <= 0)
            continue;
        import_rows(text, (size_t)len, A, fpo1, fpo2);
        free(text);
    }
    closedir(dir);
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

// Sorts by trade number and keeps one record of every trade number; prints
// the count and the money totals of the unique trades.  Returns the count.
static int remove_duplicates(transaction_t *T, int nt)
{
    sort_runs<before_no>(T, nt);
    int n = uniq(T, (size_t)nt, sizeof(transaction_t), cmp_transaction_no);
    money_totals_t m = sum_money(T, n);
    double sum_spent = m.buy, sum_gained = m.sell, sum_comm = m.comm;
    warning1("%d unique transactions\n", n);
    int64_t spent = whole_part(sum_spent);
    print_total("Spent:  ", spent);
    print_total("Gained: ", whole_part(sum_gained));
    print_total("Volume: ", whole_part((double)spent + sum_gained));
    print_total("Comms:  ", whole_part(sum_comm));
    return n;
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

// Folds the fills of every order into one record; returns the count.
static int consolidate_orders(transaction_t *T, int n)
{
    sort_runs<before_order>(T, n);
    return fold_groups<same_order>(T, n);
}

// Folds unbroken runs of one security, day and direction into one record;
// returns the count.
static int consolidate_days(transaction_t *T, int n)
{
    sort_by_stock_and_time(T, n);
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

// Writes v as printf's "%.*f" with places (0 to 6) decimals writes it:
// the exact binary value rounded half to even.  Values below 2^53 are done in
// integers (the mantissa times 10^places, shifted with rounding); the rest go
// through snprintf.  out needs room for 330 characters; returns the end.
static char *fixed_text(char *out, double v, int places)
{
    static const uint32_t scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
    uint64_t bits;
    memcpy(&bits, &v, sizeof bits);
    int exponent = (int)(bits >> 52 & 0x7ff);
    int shift = 1075 - exponent;  // |v| = mantissa / 2^shift
    if (exponent == 0 || shift < 0 || shift > 120)
        return out + snprintf(out, 330, "%.*f", places, v);
    if (bits >> 63)
        *out++ = '-';
    uint64_t mantissa = (bits & ((1ull << 52) - 1)) | 1ull << 52;
    unsigned __int128 p = (unsigned __int128)mantissa * scale[places];
    unsigned __int128 q = p >> shift;
    if (shift > 0) {
        unsigned __int128 rem = p - (q << shift), half = (unsigned __int128)1 << (shift - 1);
        if (rem > half || (rem == half && (q & 1)))
            q++;
    }
    uint64_t whole;
    uint32_t fraction;
    if (q >> 64 == 0) {  // the usual case, without 128-bit division
        whole = (uint64_t)q / scale[places];
        fraction = (uint32_t)((uint64_t)q % scale[places]);
    } else {
        whole = (uint64_t)(q / scale[places]);
        fraction = (uint32_t)(q % scale[places]);
    }
    char digits[24];
    int n = 0;
    do {
        digits[n++] = (char)('0' + whole % 10);
        whole /= 10;
    } while (whole);
    while (n)
        *out++ = digits[--n];
    if (places > 0) {
        *out++ = '.';
        for (int k = places - 1; k >= 0; k--, fraction /= 10)
            out[k] = (char)('0' + fraction % 10);
        out += places;
    }
    *out = '\0';
    return out;
}

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

// The pages are XHTML in Windows-1251: the Russian literals below are stored
// as cp1251 bytes.  Stock names and tickers are copied without escaping.

// Collects one stock section's text and hands it to the stream in large
// pieces; a section has one table row per trade, so this is the hot path.
struct section_writer_t {
    FILE *fp;
    size_t n;
    char buf[1 << 15];
};

static void sw_flush(section_writer_t *w)
{
    fwrite(w->buf, 1, w->n, w->fp);
    w->n = 0;
}

static void sw_put(section_writer_t *w, const char *text, size_t len)
{
    if (w->n + len > sizeof w->buf) {
        sw_flush(w);
        if (len > sizeof w->buf) {
            fwrite(text, 1, len, w->fp);
            return;
        }
    }
    memcpy(w->buf + w->n, text, len);
    w->n += len;
}

static void sw_puts(section_writer_t *w, const char *text)
{
    sw_put(w, text, strlen(text));
}

// Appends v as printf's "%0*d" with width 2 or 4 writes it.
static void sw_int(section_writer_t *w, int32_t v, int width)
{
    char text[16];
    int len = width;
    if (v >= 0 && v < (width == 2 ? 100 : 10000)) {
        for (int k = width - 1; k >= 0; k--, v /= 10)
            text[k] = (char)('0' + v % 10);
    } else {
        len = snprintf(text, sizeof text, "%0*d", width, (int)v);
    }
    sw_put(w, text, (size_t)len);
}

// The "<tr>" to "</tr>" of one trade; prev is the record listed above it in
// the same section, or null for the section's first row.
static void put_trade_row(section_writer_t *w, const transaction_t *t, const transaction_t *prev)
{
    sw_puts(w, "<tr><td>");
    sw_int(w, t->d, 2);
    sw_puts(w, ".");
    sw_int(w, t->mo, 2);
    sw_puts(w, ".");
    sw_int(w, t->y, 4);
    sw_puts(w, " ");
    sw_int(w, t->h, 2);
    sw_puts(w, ":");
    sw_int(w, t->mi, 2);
    sw_puts(w, ":");
    sw_int(w, t->s, 2);
    sw_puts(w, "</td><td align=right>");
    char price[330];
    sw_put(w, price, fixed_text(price, t->price, 4) - price);
    sw_puts(w, "</td><td align=right>");
    double quantity = t->amount / t->price;
    sw_puts(w, stn(quantity));
    sw_puts(w, t->direction == 1 ? "</td><td align=right>" : "</td><td></td><td align=right>");
    sw_puts(w, stf(t->amount, 0));
    sw_puts(w, t->direction == 1 ? "</td><td></td>" : "</td>");
    // A sale directly under a buy of the same size shows what it brought in
    // over what the buy cost (fees not deducted).
    if (prev && t->direction == 2 && prev->direction == 1 &&
        fabs(quantity - prev->amount / prev->price) < 0.01) {
        sw_puts(w, "<td align=right>");
        sw_puts(w, stf(t->amount - prev->amount, 1));
        sw_puts(w, "</td></tr>");
    } else {
        sw_puts(w, "<td></td></tr>");
    }
}

// One stock's section: heading, a table row per trade, and the balance line
// of shares, money (fees deducted), turnover and commission.  T[0..nt) share
// one stock name and stand in the order to be listed.
static void produce_stock_report(FILE *fp, transaction_t *T, int nt)
{
    static section_writer_t w;
    w.fp = fp;
    w.n = 0;
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
    fprintf(fp, "<h2>\xC0\xEA\xF6\xE8\xFF %s (%s)</h2>\n", T[0].stock, T[0].ticker);
    fputs("<p><table border=1 cellspacing=0 cellpadding=5>\n"
          "<tr><th>\xC4\xE0\xF2\xE0 \xE8 \xE2\xF0\xE5\xEC\xFF</th>"
          "<th>\xD6\xE5\xED\xE0</th>"
          "<th>\xCA\xEE\xEB\xE8\xF7\xE5\xF1\xF2\xE2\xEE</th>"
          "<th>\xCF\xEE\xEA\xF3\xEF\xEA\xE0</th>"
          "<th>\xCF\xF0\xEE\xE4\xE0\xE6\xE0</th>"
          "<th>\xCF\xF0\xE8\xE1\xFB\xEB\xFC</th></tr>\n", fp);
    for (int i = 0; i < nt; i++)
        put_trade_row(&w, &T[i], i > 0 ? &T[i - 1] : nullptr);
    sw_flush(&w);
    fputs("</table></p>\n", fp);
    fprintf(fp, "\xC1\xE0\xEB\xE0\xED\xF1 \xEF\xEE \xE1\xF3\xEC\xE0\xE3\xE0\xEC: <b>%s</b> "
                "\xF8\xF2., \xEF\xEE \xE4\xE5\xED\xFC\xE3\xE0\xEC: <b>%s</b> \xF0\xF3\xE1., "
                "\xEE\xE1\xEE\xF0\xEE\xF2 <b>%s</b> \xF0\xF3\xE1., "
                "\xEA\xEE\xEC\xE8\xF1\xF1\xE8\xFF <b>%s</b> \xF0\xF3\xE1.\n",
            stn(quant), stf(sell - buy - comm, 1), stf(sell + buy, 0), stf(comm, 0));
}

static const char report_header[] =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
    "<html>\n"
    "<head>\n"
    "<meta http-equiv=\"content-type\" content=\"text/html; charset=Windows-1251\" />\n"
    "<title>\xCE\xF2\xF7\xE5\xF2 \xEF\xEE \xF1\xE4\xE5\xEB\xEA\xE0\xEC</title>\n"
    "</head>\n"
    "<body>\n";

// One whole page over T[0..nt), nt >= 1, whose records of one stock stand
// together: header, years covered, a section per stock run, statistics and
// a footer with the time of writing.
static void produce_report(FILE *fp, transaction_t *T, int nt)
{
    fputs(report_header, fp);
    int y1 = T[0].y, y2 = T[0].y;
    for (int i = 1; i < nt; i++) {
        y1 = std::min(y1, T[i].y);
        y2 = std::max(y2, T[i].y);
    }
    if (y1 == y2)
        fprintf(fp, "<h1>\xD1\xF2\xE0\xF2\xE8\xF1\xF2\xE8\xEA\xE0 \xE7\xE0 %d</h1>\n", y1);
    else
        fprintf(fp, "<h1>\xD1\xF2\xE0\xF2\xE8\xF1\xF2\xE8\xEA\xE0 \xE7\xE0 %d -- %d</h1>\n", y1, y2);

    for (int i = 0, j; i < nt; i = j) {
        for (j = i + 1; j < nt && strcmp(T[j].stock, T[i].stock) == 0; j++) {
        }
        produce_stock_report(fp, T + i, j - i);
    }

    money_totals_t m = sum_money(T, nt);
    double buy = m.buy, sell = m.sell, comm = m.comm;
    fprintf(fp, "<p><table border=0 cellpadding=2>\n"
                "<tr><td>\xD1\xE4\xE5\xEB\xEE\xEA \xE2\xF1\xE5\xE3\xEE:</td> <td align=right>%d</td></tr>\n"
                "<tr><td>\xCE\xE1\xEE\xF0\xEE\xF2:</td> <td align=right>%s</td></tr>\n"
                "<tr><td>\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2:</td> <td align=right>%s</td></tr>\n"
                "<tr><td>\xCA\xEE\xEC\xE8\xF1\xF1\xE8\xFF:</td> <td align=right>%s</td></tr>\n"
                "</table></p>\n",
            nt, stf(sell + buy, 0), stf(sell - buy - comm, 1), stf(comm, 0));

    fprintf(fp, "<hr>\n<p>\xCE\xF2\xF7\xE5\xF2 \xF1\xF4\xEE\xF0\xEC\xE8\xF0\xEE\xE2\xE0\xED %s<br>\n",
            datetime());
    fputs("Varnock " VARNOCK_VERSION "</p>\n</body>\n</html>\n", fp);
}

// The two report orderings as one 64-bit key per record, so that sorting
// compares integers instead of names: 16 bits of year, 20 bits of the name's
// rank among the distinct names (by strcmp), 26 bits of month to second.
// Records whose fields do not fit are sorted with the comparators themselves.
struct report_key_t {
    uint64_t key;
    uint32_t index;
};

static bool in_range(int32_t v, int bits)
{
    return v >= 0 && v < (1 << bits);
}

// Ranks of the stock names of T[0..nt) in rank[]; false when there are too
// many distinct names for the key.
static bool rank_stocks(const transaction_t *T, int nt, uint32_t *rank)
{
    std::unordered_map<std::string_view, uint32_t> ids;
    std::vector<std::string_view> names;
    for (int i = 0; i < nt; i++) {
        if (i > 0 && strcmp(T[i].stock, T[i - 1].stock) == 0) {
            rank[i] = rank[i - 1];
            continue;
        }
        auto [it, fresh] = ids.try_emplace(T[i].stock, (uint32_t)names.size());
        if (fresh)
            names.push_back(it->first);
        rank[i] = it->second;
    }
    if (names.size() >= (1u << 20))
        return false;
    std::vector<uint32_t> order(names.size()), position(names.size());
    for (uint32_t k = 0; k < order.size(); k++)
        order[k] = k;
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return strcmp(names[a].data(), names[b].data()) < 0;
    });
    for (uint32_t k = 0; k < order.size(); k++)
        position[order[k]] = k;
    for (int i = 0; i < nt; i++)
        rank[i] = position[rank[i]];
    return true;
}

// Builds the sort keys of T[0..nt), year first or name first; false when a
// field does not fit its bits.
static bool build_report_keys(const transaction_t *T, int nt, bool year_first, report_key_t *keys)
{
    std::vector<uint32_t> ranks(nt);
    if (!rank_stocks(T, nt, ranks.data()))
        return false;
    for (int i = 0; i < nt; i++) {
        const transaction_t &t = T[i];
        if (!in_range(t.y, 16) || !in_range(t.mo, 4) || !in_range(t.d, 5) || !in_range(t.h, 5) ||
            !in_range(t.mi, 6) || !in_range(t.s, 6))
            return false;
        uint64_t time = (uint64_t)t.mo << 22 | (uint64_t)t.d << 17 | (uint64_t)t.h << 12 |
                        (uint64_t)t.mi << 6 | (uint64_t)t.s;
        uint64_t major = year_first ? (uint64_t)t.y << 20 | ranks[i] : (uint64_t)ranks[i] << 16 | t.y;
        keys[i] = {major << 26 | time, (uint32_t)i};
    }
    return true;
}

// Puts T into the order of keys[].index, following each cycle of the
// permutation with one record in hand.
static void apply_order(transaction_t *T, int nt, report_key_t *keys)
{
    for (int start = 0; start < nt; start++) {
        if (keys[start].index == (uint32_t)start)
            continue;
        transaction_t held = T[start];
        int at = start;
        for (;;) {
            int from = (int)keys[at].index;
            keys[at].index = (uint32_t)at;
            if (from == start) {
                T[at] = held;
                break;
            }
            __builtin_prefetch(&T[keys[from].index]);
            T[at] = T[from];
            at = from;
        }
    }
}

// Sorts T[0..nt) in place by cmp, which is cmp_transaction_year_stock
// (year_first) or cmp_transaction_stock.
static void sort_for_report(transaction_t *T, int nt, bool year_first,
                            int (*cmp)(const void *, const void *))
{
    report_key_t *keys = (report_key_t *)xmalloc((size_t)nt * sizeof *keys);
    if (build_report_keys(T, nt, year_first, keys)) {
        std::sort(keys, keys + nt, [](const report_key_t &a, const report_key_t &b) {
            return a.key < b.key;
        });
        apply_order(T, nt, keys);
    } else {
        // Extreme fields can make the comparators' differences overflow, so
        // this path keeps to qsort, which stays inside the array whatever
        // the comparator answers.
        qsort(T, (size_t)nt, sizeof *T, cmp);
    }
    free(keys);
}

// Writes "report-<year>.html" for every year present, in ascending order,
// then "report.html" over all years; leaves T in stock-and-time order.
static void write_reports(transaction_t *T, int nt)
{
    if (nt <= 0)
        return;
    sort_for_report(T, nt, true, cmp_transaction_year_stock);
    for (int i = 0, j; i < nt; i = j) {
        for (j = i + 1; j < nt && T[j].y == T[i].y; j++) {
        }
        FILE *fp = xfopen("report-%d.html", "w", T[i].y);
        produce_report(fp, T + i, j - i);
        xfclose(fp);
    }
    sort_for_report(T, nt, false, cmp_transaction_stock);
    FILE *fp = xfopen("report.html", "w");
    produce_report(fp, T, nt);
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

int main()
{
    reuse_file_buffers();
    FILE *fpo1 = open_output("imported.txt");
    FILE *fpo2 = open_output("garbage.txt");
    allocate_trades(&trades);
    import_trade_files(&trades, fpo1, fpo2);
    xfclose(fpo1);
    xfclose(fpo2);
    if (trades.nt == 0)
        error1("no transactions were found\n");
    warning1("%d transactions imported\n", trades.nt);
    int n = remove_duplicates(trades.T, trades.nt);
    n = consolidate_orders(trades.T, n);
    n = consolidate_days(trades.T, n);
    warning1("%d orders\n", n);
    write_orders(trades.T, n);
    write_reports(trades.T, n);
    warning1("success\n");
    getchar();
    return 0;
}
