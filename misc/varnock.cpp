// varnock: turns a trading terminal's exported trade tables ("sdelki*.xls",
// HTML in Windows-1251) into clean trade records and HTML profit reports.
//
// The run works in place on one growing array of trade records: import,
// de-duplicate by trade number, fold the fills of each order, fold same-day
// orders of one security and direction, then write "orders.txt" and reports.

#include "keltools.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#ifndef VARNOCK_VERSION
#define VARNOCK_VERSION "1.0.0"
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

static int cmp_transaction_time(const void *e1, const void *e2);
static int cmp_transaction_no(const void *e1, const void *e2);
static int cmp_transaction_order(const void *e1, const void *e2);
static int cmp_transaction_stock(const void *e1, const void *e2);
static int cmp_transaction_year_stock(const void *e1, const void *e2);
static void write_reports(transaction_t *T, int nt);

/* ---- trade orderings ---- */

// Plain differences of the fields, year first; 0 when the times are equal.
static int cmp_transaction_time(const void *e1, const void *e2)
{
    const transaction_t *a = (const transaction_t *)e1, *b = (const transaction_t *)e2;
    if (a->y != b->y) return a->y - b->y;
    if (a->mo != b->mo) return a->mo - b->mo;
    if (a->d != b->d) return a->d - b->d;
    if (a->h != b->h) return a->h - b->h;
    if (a->mi != b->mi) return a->mi - b->mi;
    return a->s - b->s;
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

static int cmp_transaction_stock(const void *e1, const void *e2)
{
    int c = strcmp(((const transaction_t *)e1)->stock, ((const transaction_t *)e2)->stock);
    return c ? c : cmp_transaction_time(e1, e2);
}

static int cmp_transaction_year_stock(const void *e1, const void *e2)
{
    const transaction_t *a = (const transaction_t *)e1, *b = (const transaction_t *)e2;
    if (a->y != b->y) return a->y - b->y;
    int c = strcmp(a->stock, b->stock);
    return c ? c : cmp_transaction_time(e1, e2);
}


/* ---- import ---- */


/* ---- de-duplication, totals and consolidation ---- */


/* ---- money and quantity text ---- */

#include <cmath>

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

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

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

    double buy = 0, sell = 0, comm = 0;
    for (int i = 0; i < nt; i++) {
        if (T[i].direction == 1)
            buy += T[i].amount;
        else if (T[i].direction == 2)
            sell += T[i].amount;
        comm += T[i].commission;
    }
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

int main()
{
    warning1("success\n");
    return 0;
}
