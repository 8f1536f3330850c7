// The trade store: the growing trade array, the table of shared name texts
// and the ranks of those texts.

#include "records.h"

#include "keltools.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

void year_span(const transaction_t *T, int n, int32_t *first, int32_t *last)
{
    int32_t y1 = T[0].y, y2 = T[0].y;
    for (int i = 1; i < n; i++) {
        y1 = std::min(y1, T[i].y);
        y2 = std::max(y2, T[i].y);
    }
    *first = y1;
    *last = y2;
}

static const int initial_capacity = 16384;

void allocate_trades(trade_store_t *A)
{
    A->nt_a = initial_capacity;
    A->nt = 0;
    A->T = (transaction_t *)xmalloc(sizeof(transaction_t) * (size_t)A->nt_a);
}

transaction_t *next_slot(trade_store_t *A)
{
    if (A->nt == A->nt_a) {
        if (A->nt_a > INT32_MAX / 2)
            error1("too many transactions (%d)\n", A->nt);
        A->nt_a *= 2;
        A->T = (transaction_t *)xrealloc(A->T, sizeof(transaction_t) * (size_t)A->nt_a);
    }
    return A->T + A->nt;
}

static uint64_t text_hash(const char *s, size_t len)
{
    uint64_t h = 14695981039346656037ULL;
    for (size_t i = 0; i < len; i++)
        h = (h ^ (unsigned char)s[i]) * 1099511628211ULL;
    return h;
}

static void text_table_grow(text_table_t *texts)
{
    text_table_t bigger;
    bigger.size = texts->size ? 2 * texts->size : 256;
    bigger.used = texts->used;
    bigger.slot = (char **)xmalloc(sizeof(char *) * bigger.size);
    memset(bigger.slot, 0, sizeof(char *) * bigger.size);
    for (size_t i = 0; i < texts->size; i++) {
        char *t = texts->slot[i];
        if (!t)
            continue;
        size_t k = text_hash(t, strlen(t)) & (bigger.size - 1);
        while (bigger.slot[k])
            k = (k + 1) & (bigger.size - 1);
        bigger.slot[k] = t;
    }
    free(texts->slot);
    *texts = bigger;
}

char *text_copy(text_table_t *texts, const char *s)
{
    size_t len = strlen(s);
    if (2 * (texts->used + 1) > texts->size)
        text_table_grow(texts);
    size_t k = text_hash(s, len) & (texts->size - 1);
    for (char *t; (t = texts->slot[k]); k = (k + 1) & (texts->size - 1))
        if (cmp_names(t, s) == 0)
            return t;
    char *copy = (char *)xmalloc(len + 1);
    memcpy(copy, s, len);
    copy[len] = 0;
    texts->slot[k] = copy;
    texts->used++;
    return copy;
}

static size_t rank_slot(const text_ranks_t &ranks, const char *text)
{
    size_t mask = ranks.size - 1;
    size_t k = (size_t)(((uintptr_t)text >> 3) * 0x9e3779b97f4a7c15ULL >> 20) & mask;
    while (ranks.copy[k] && ranks.copy[k] != text)
        k = (k + 1) & mask;
    return k;
}

static void free_ranks(text_ranks_t *ranks)
{
    free(ranks->copy);
    free(ranks->rank);
    *ranks = {nullptr, nullptr, 0};
}

void rank_texts(trade_store_t *A)
{
    const text_table_t &texts = A->texts;
    text_ranks_t &ranks = A->ranks;
    std::vector<const char *> sorted;
    for (size_t i = 0; i < texts.size; i++)
        if (texts.slot[i])
            sorted.push_back(texts.slot[i]);
    std::sort(sorted.begin(), sorted.end(), [](const char *a, const char *b) { return cmp_names(a, b) < 0; });
    free_ranks(&ranks);
    ranks.size = 16;
    while (ranks.size < 2 * sorted.size())
        ranks.size *= 2;
    ranks.copy = (const char **)xmalloc(sizeof(char *) * ranks.size);
    memset(ranks.copy, 0, sizeof(char *) * ranks.size);
    ranks.rank = (uint32_t *)xmalloc(sizeof(uint32_t) * ranks.size);
    for (size_t r = 0; r < sorted.size(); r++) {
        size_t k = rank_slot(ranks, sorted[r]);
        ranks.copy[k] = sorted[r];
        ranks.rank[k] = (uint32_t)r;
    }
}

int64_t text_rank(const text_ranks_t &ranks, const char *text)
{
    if (ranks.size == 0)
        return -1;
    size_t k = rank_slot(ranks, text);
    return ranks.copy[k] ? (int64_t)ranks.rank[k] : -1;
}

void free_trade_store(trade_store_t *A)
{
    free(A->T);
    for (size_t i = 0; i < A->texts.size; i++)
        free(A->texts.slot[i]);
    free(A->texts.slot);
    free_ranks(&A->ranks);
    *A = {};
}
