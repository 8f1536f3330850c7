// Trade records, the store that holds them with their shared name texts, and
// the orderings the run sorts them by.  Included by every analyzer module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

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
    char *account;       // the account's shared copy (cp1251 bytes), or null when the file names none
} transaction_t;

// The direction words of a trade row, in cp1251.
inline constexpr char word_buy[] = "\xca\xf3\xef\xeb\xff";            // "Купля"
inline constexpr char word_sale[] = "\xcf\xf0\xee\xe4\xe0\xe6\xe0";   // "Продажа"

// Security codes and names repeat on almost every row, so each distinct text
// is copied once and shared by all records that carry it: an open-addressing
// table of the copies, keyed by an FNV-1a hash.  The copies live as long as
// the store that holds the table.
typedef struct {
    char **slot;      // the copies, or null
    size_t size;      // a power of two
    size_t used;
} text_table_t;

// The ranks of the shared text copies in name order, found by the address
// of the copy.  They are made once the import has copied every name, so that
// the sorts by name compare integers instead of texts.
typedef struct {
    const char **copy;   // open addressing by address; null for a free slot
    uint32_t *rank;
    size_t size;         // a power of two, or 0 before the ranking
} text_ranks_t;

// Everything a run imports: the trade array (room for nt_a records, nt of
// them in use), the texts the records share and, once ranked, their ranks.
// A zero-initialised store is empty; allocate_trades() gives it its array.
typedef struct {
    transaction_t *T;
    int nt;
    int nt_a;
    text_table_t texts;
    text_ranks_t ranks;
} trade_store_t;

// The first and last years of T[0..n), n >= 1.
void year_span(const transaction_t *T, int n, int32_t *first, int32_t *last);

// Gives the store room for 16384 records, none in use.
void allocate_trades(trade_store_t *A);
// The slot at index nt, growing the array when it is full.
transaction_t *next_slot(trade_store_t *A);
// The table's shared copy of s, made on first sight.
char *text_copy(text_table_t *texts, const char *s);
// Ranks every text of the store's table, replacing earlier ranks.
void rank_texts(trade_store_t *A);
// The rank of a shared copy, or -1 for a text that has none.
int64_t text_rank(const text_ranks_t &ranks, const char *text);
// Frees the array, the shared texts and the ranks; the store is empty after.
void free_trade_store(trade_store_t *A);

// The one comparison of security names, in byte order (as strcmp).  Names
// are mostly shared copies, so equal pointers need no byte comparison, and
// different names mostly differ in their first byte.
static inline int cmp_names(const char *a, const char *b)
{
    if (a == b)
        return 0;
    if (*a != *b)
        return (unsigned char)*a - (unsigned char)*b;
    return strcmp(a, b);
}

// ---- orderings ----

// The orderings as qsort comparators: by date and time (plain differences of
// the fields, year first), by trade number, by order number then time, by
// name then time, and by year, name and time.
int cmp_transaction_time(const void *e1, const void *e2);
int cmp_transaction_no(const void *e1, const void *e2);
int cmp_transaction_order(const void *e1, const void *e2);
int cmp_transaction_stock(const void *e1, const void *e2);
int cmp_transaction_year_stock(const void *e1, const void *e2);

// Whether 0 <= v < 2^bits.
static inline bool in_range(int64_t v, int bits)
{
    return v >= 0 && v < (1 << bits);
}

// Sort T[0..n) in place; records that an ordering ranks equal may end up in
// any order.  The sorts by name use the ranks of the shared names.
void sort_by_number(transaction_t *T, int n);
void sort_by_order(transaction_t *T, int n);
void sort_by_stock(transaction_t *T, int n, const text_ranks_t &ranks);
void sort_by_year_and_stock(transaction_t *T, int n, const text_ranks_t &ranks);
