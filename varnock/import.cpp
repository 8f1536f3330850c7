// The row parser: cuts a loaded trade file into table rows and cells and
// reads each trade row into a record.

#include "platform.h"

#include "import.h"

#include "output.h"

#include "keltools.h"

#include <cstdlib>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The bytes equal to c among the 16 at p, as bits (bit k for p[k]): one
// compare of a vector where the processor has SSE2, a loop elsewhere.
#ifdef __SSE2__
static inline unsigned byte_mask16(const char *p, char c)
{
    return (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)p), _mm_set1_epi8(c)));
}
#else
static inline unsigned byte_mask16(const char *p, char c)
{
    unsigned mask = 0;
    for (int k = 0; k < 16; k++)
        mask |= (unsigned)(p[k] == c) << k;
    return mask;
}
#endif

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
int64_t to_int64(const char *s)
{
    int64_t v;
    int n = short_number(s, 18, &v);
    return n > 0 && s[n] == 0 ? v : strtoq1(s, nullptr, 10);
}

// The scan format "%d.%d.%d %d:%d:%d" over cell 0: the number of values read.
int scan_date_time(const char *s, transaction_t *T)
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
double to_double(const char *s)
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
    while (end - p >= 16) {
        if (unsigned m = byte_mask16(p, c))
            return p + __builtin_ctz(m);
        p += 16;
    }
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
    if (end - p >= 64) {
        for (int k = 0; k < 4; k++)
            mask |= (uint64_t)byte_mask16(p + 16 * k, '<') << (16 * k);
        return mask;
    }
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
typedef struct {
    char *text;
    size_t size;
} scratch_t;

static const size_t scratch_keep = 1 << 20;

static char *scratch_for(scratch_t *scratch, size_t n)
{
    if (n > scratch->size) {
        free(scratch->text);
        scratch->text = (char *)xmalloc(n);
        scratch->size = n;
    }
    return scratch->text;
}

static void scratch_trim(scratch_t *scratch)
{
    if (scratch->size > scratch_keep) {
        free(scratch->text);
        scratch->text = nullptr;
        scratch->size = 0;
    }
}

// Reads the cells w[0..nw) of one row into T.  Returns 0, or
// the reject code: -1 for a row that is not sixteen well-formed cells, -2
// for a cell 0 that is no date and time, -4 for a direction that is neither
// buy nor sale.
// The account column of the file's header, and the account of the last
// trade row: rows of one file mostly share it.
typedef struct {
    int column;         // -1 when the header names none
    char *last;         // shared copy, or null
    const char *raw;    // the bytes of the cell it was read from, when that had no tags
    size_t raw_len;
} account_column_t;

// Whether the n bytes at a and b are equal; account cells are short, and a
// call of memcmp costs more than comparing them here, eight bytes at a time
// (the last eight may overlap the ones before).
static bool same_bytes(const char *a, const char *b, size_t n)
{
    uint64_t x, y;
    if (n < 8) {
        for (; n > 0; a++, b++, n--)
            if (*a != *b)
                return false;
        return true;
    }
    for (size_t k = 0; k + 8 < n; k += 8) {
        memcpy(&x, a + k, 8);
        memcpy(&y, b + k, 8);
        if (x != y)
            return false;
    }
    memcpy(&x, a + n - 8, 8);
    memcpy(&y, b + n - 8, 8);
    return x == y;
}

// Whether the row's account cell has no tags and the same bytes as the cell
// the last account was read from.
static bool same_account_cell(const cell_t *w, const account_column_t *account)
{
    if ((unsigned)account->column >= (unsigned)row_cells || account->raw_len == 0)
        return false;
    const cell_t *c = &w[account->column];
    size_t len = (size_t)(c->e - c->b);
    return !c->tags && len == account->raw_len && same_bytes(c->b, account->raw, len);
}

// The account of a row whose account cell differs from the last one read:
// the shared copy of its cleaned text, or null when it is empty or the
// header names no account column.
static char *read_account(const cell_t *w, char *const *text, account_column_t *account, text_table_t *texts)
{
    int column = account->column;
    if (column < 0 || column >= row_cells || !text[column][0])
        return nullptr;
    const cell_t *c = &w[column];
    account->last = text_copy(texts, text[column]);
    account->raw = c->tags ? nullptr : c->b;
    account->raw_len = c->tags ? 0 : (size_t)(c->e - c->b);
    return account->last;
}

static int parse_cells(const cell_t *w, int nw, account_column_t *account, transaction_t *T, text_table_t *texts,
                       scratch_t *scratch)
{
    int account_column = account->column;
    // Cells left uncleaned when they have no tags: those the record does not
    // use, unless the account is read from one of them and differs from the
    // last one.
    bool same_account = same_account_cell(w, account);
    unsigned skipped = 1u << 5 | 1u << 7 | 1u << 15;
    if (account_column >= 0 && account_column < row_cells && !same_account)
        skipped &= ~(1u << account_column);
    if (nw != row_cells)
        return -1;
    size_t size = row_cells;   // the cells' text and terminators, however long the row
    for (int i = 0; i < row_cells; i++)
        size += (size_t)(w[i].e - w[i].b);
    char *text[row_cells];
    char *o = scratch_for(scratch, size);
    int r = 0;
    for (int i = 0; i < row_cells && r == 0; i++) {
        text[i] = o;
        if ((skipped >> i & 1) && !w[i].tags)
            continue;   // without tags it cannot be malformed
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
        T->ticker = text_copy(texts, text[3]);
        T->stock = text_copy(texts, text[4]);
        T->price = to_double(text[8]);
        T->amount = to_double(text[9]);
        T->commission = 0;
        for (int i = 10; i <= 14; i++)
            T->commission += to_double(text[i]);
        T->account = same_account ? account->last : read_account(w, text, account, texts);
    }
    scratch_trim(scratch);
    return r;
}

// The account column of a header row.  A header is a row of "<th>" cells,
// or any row before the first trade row; the account column is the cell
// whose text, without tags and blanks, is "Счет" or "Счёт" in any case.

// Whether the cp1251 text [b, e), tags and blanks dropped, is the word
// "счет" or "счёт" in any case.
static bool is_account_title(const char *b, const char *e)
{
    static const unsigned char word[] = {0xF1, 0xF7, 0xE5, 0xF2};   // "счет" in lower case
    size_t k = 0;
    for (const char *p = b; p < e; p++) {
        unsigned char c = (unsigned char)*p;
        if (c == '<') {
            const char *gt = (const char *)memchr(p, '>', (size_t)(e - p));
            if (!gt)
                return false;
            p = gt;
            continue;
        }
        if (is_c_space(c) || c == 0xA0)
            continue;
        if (c >= 0xC0 && c <= 0xDF)
            c = (unsigned char)(c + 0x20);
        if (c == 0xA8 || c == 0xB8)
            c = 0xE5;   // "ё" counts as "е"
        if (k == sizeof word || c != word[k])
            return false;
        k++;
    }
    return k == sizeof word;
}

// The index of the account cell among the "<th>" and "<td>" cells of the
// row [row, end), or -1 when no cell names the account.
static int account_column_of(const char *row, const char *end)
{
    int index = 0;
    for (const char *p = row; (p = find_byte(p, end, '<')) != nullptr; p++) {
        if (!starts(p, end, "<th") && !starts(p, end, "<td"))
            continue;
        const char *text = find_byte(p + 3, end, '>');
        if (!text)
            return -1;
        text++;
        const char *close = text;
        while ((close = find_byte(close, end, '<')) && !starts(close, end, "</th>") && !starts(close, end, "</td>"))
            close++;
        if (!close)
            return -1;
        if (is_account_title(text, close))
            return index;
        index++;
        p = close;
    }
    return -1;
}

// Whether the row [row, end) has a "<th" cell.
static bool has_heading_cells(const char *row, const char *end)
{
    for (const char *p = row; (p = find_byte(p, end, '<')) != nullptr; p++)
        if (starts(p, end, "<th"))
            return true;
    return false;
}

// Reads the rows of one loaded trade file (len bytes and a NUL); each
// "</tr>" that ends a row is overwritten with a NUL.  An embedded NUL ends
// the text, as does a "<tr>" without a later "</tr>".
row_tally_t import_rows(char *text, size_t len, trade_store_t *A, FILE *fpo1, FILE *fpo2)
{
    row_tally_t tally = {0, false, false};
    scratch_t scratch = {nullptr, 0};
    const char *nul = (const char *)memchr(text, 0, len);
    const char *end = nul ? nul : text + len;
    tally.cut_at_nul = nul != nullptr;
    lt_walk_t walk;
    walk_from(&walk, text, end);
    account_column_t account = {-1, nullptr, nullptr, 0};
    bool trade_seen = false;
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
        int r = parse_cells(w, nw, &account, slot, &A->texts, &scratch);
        if (r == 0) {
            write_trade_line(fpo1, slot);
            A->nt++;
            trade_seen = true;
        } else {
            if (!trade_seen || has_heading_cells(row, close)) {
                int column = account_column_of(row, close);
                account.column = column >= 0 ? column : account.column;
            }
            tally.rejected += r == -2 || r == -4;
            fprintf(fpo2, "%d| ", r);
            fwrite_unlocked(row, 1, (size_t)(close - row), fpo2);
            putc_unlocked('\n', fpo2);
        }
        walk_skip_to(&walk, close + 1);
    }
    free(scratch.text);
    return tally;
}
