// fsort: array de-duplication and sorting of arrays and files.

#include "keltools.h"
#include "compat.h"
#include "internal.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

/* ---- array de-duplication ---- */

int uniq(void *array, size_t nmemb, size_t size, int (*compare)(const void *, const void *))
{
    if (nmemb < 2)
        return (int)nmemb;
    char *base = (char *)array;
    size_t trg = 1;
    for (size_t src = 1; src < nmemb; src++) {
        if (compare(base + src * size, base + (trg - 1) * size) == 0)
            continue;
        if (src != trg)
            memcpy(base + trg * size, base + src * size, size);
        trg++;
    }
    return (int)trg;
}


/* ---- array sort helpers ---- */

namespace {

// Address of record i of an array of records of the given size.
inline char *record_at(const void *array, size_t i, size_t size)
{
    return (char *)array + i * size;
}

template <typename T>
inline int three_way(T a, T b)
{
    return (a > b) - (a < b);
}

}  // namespace

int cmp_str(const void *a, const void *b)
{
    return strcmp(*(const char *const *)a, *(const char *const *)b);
}

int cmp_strlen(const void *a, const void *b)
{
    const char *s1 = *(const char *const *)a, *s2 = *(const char *const *)b;
    size_t l1 = strlen(s1), l2 = strlen(s2);
    if (l1 != l2) return l1 > l2 ? -1 : 1;
    return strcmp(s1, s2);
}

int cmp_integers(const void *a, const void *b)
{
    return three_way(*(const int *)a, *(const int *)b);
}

int cmp_absintegers(const void *a, const void *b)
{
    // Widened first: the absolute value of INT_MIN does not fit an int.
    return three_way(llabs(*(const int *)a), llabs(*(const int *)b));
}

int cmp_unsigned_integers(const void *a, const void *b)
{
    return three_way(*(const unsigned *)a, *(const unsigned *)b);
}

int cmp_doubles(const void *a, const void *b)
{
    // Both tests fail for a NaN on either side, which makes the pair equal.
    return three_way(*(const double *)a, *(const double *)b);
}

/*
 * bracket: both ends are compared first, so a key outside the array costs two
 * comparisons.  Inside, one bisection finds some equal record M (or the two
 * neighbours of the key); two more bisections then walk from M to the first
 * and the last equal record, each within the bounds known when M was found.
 */
int bracket(const void *key, const void *array, size_t nmemb, size_t size,
            int (*compare)(const void *, const void *), int *left, int *right)
{
    if (nmemb == 0) return -3;
    auto cmp_at = [&](int i) { return compare(record_at(array, i, size), key); };
    int L = 0, R = (int)nmemb - 1;
    int c1 = cmp_at(L);
    int c2 = cmp_at(R);
    if (c1 > 0) return -1;
    if (c2 < 0) return -2;
    if (c1 == 0 && c2 == 0) {
        *left = L;
        *right = R;
        return 1;
    }
    int M;
    if (c1 == 0) {
        M = L;
    } else if (c2 == 0) {
        M = R;
    } else {
        for (;;) {
            if (R - L <= 1) {
                *left = L;
                *right = R;
                return 0;
            }
            int mid = L + (R - L) / 2;
            int c = cmp_at(mid);
            if (c == 0) {
                M = mid;
                break;
            }
            if (c < 0) L = mid;
            else R = mid;
        }
    }
    int lo = L, hi = M;
    while (hi - lo > 1) {
        int mid = lo + (hi - lo) / 2;
        if (cmp_at(mid) == 0) hi = mid;
        else lo = mid;
    }
    *left = hi;
    lo = M;
    hi = R;
    while (hi - lo > 1) {
        int mid = lo + (hi - lo) / 2;
        if (cmp_at(mid) == 0) lo = mid;
        else hi = mid;
    }
    *right = lo;
    return 1;
}

/*
 * Partial sorts by insertion: the front of the array holds the records kept
 * so far in ascending order.  Once it is full, a record not below the largest
 * kept one is rejected with a single comparison; otherwise it is inserted
 * behind the kept records equal to it and the largest kept record falls out.
 * In distinct mode a record equal to a kept one is skipped instead.
 */
static int insertion_psort(void *array, size_t nmemb, size_t size, int limit,
                           int (*compare)(const void *, const void *), bool distinct)
{
    if (limit <= 0 || (size_t)limit >= nmemb) {
        qsort(array, nmemb, size, compare);
        return (int)nmemb;
    }
    char *tmp = (char *)xmalloc(size);
    size_t k = 1, lim = (size_t)limit;
    for (size_t i = 1; i < nmemb; ++i) {
        char *rec = record_at(array, i, size);
        if (k == lim && compare(rec, record_at(array, k - 1, size)) >= 0) continue;
        memcpy(tmp, rec, size);
        size_t j = 0;
        int c = 1;
        for (; j < k; ++j) {
            c = compare(tmp, record_at(array, j, size));
            if (c < 0 || (distinct && c == 0)) break;
        }
        if (distinct && j < k && c == 0) continue;
        size_t end = k < lim ? k : k - 1;  // records j .. end-1 move up one place
        memmove(record_at(array, j + 1, size), record_at(array, j, size), (end - j) * size);
        memcpy(record_at(array, j, size), tmp, size);
        if (k < lim) ++k;
    }
    free(tmp);
    return (int)k;
}

int psort(void *array, size_t nmemb, size_t size, int limit, int (*compare)(const void *, const void *))
{
    return insertion_psort(array, nmemb, size, limit, compare, false);
}

int pusort(void *array, size_t nmemb, size_t size, int limit, int (*compare)(const void *, const void *))
{
    return insertion_psort(array, nmemb, size, limit, compare, true);
}

// The comparison last given to accumulate; cmp_accumulate reverses it so
// that the heap helpers, which put the smallest first, keep the largest first.
static int (*cmp_accumulate_f)(const void *, const void *);

static int cmp_accumulate(const void *a, const void *b)
{
    int c = cmp_accumulate_f(a, b);
    return (c < 0) - (c > 0);
}

static void swap_records(char *a, char *b, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        char t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

void *heap_siftup(void *root, int element, size_t size, int (*cmp)(const void *, const void *))
{
    while (element > 0) {
        int parent = (element - 1) / 2;
        char *rec = record_at(root, element, size), *up = record_at(root, parent, size);
        if (cmp(rec, up) >= 0) break;
        swap_records(rec, up, size);
        element = parent;
    }
    return record_at(root, element, size);
}

void *heap_siftdown(void *element, void *endel, size_t size, size_t diff,
                    int (*cmp)(const void *, const void *))
{
    char *el = (char *)element, *end = (char *)endel;
    while (el + diff < end) {
        char *left = el + diff, *right = left + size;
        bool take_right = cmp(left, right) > 0;
        char *child = take_right ? right : left;
        if (cmp(el, child) <= 0) return el;
        swap_records(el, child, size);
        diff = 2 * diff + (take_right ? size : 0);
        el = child;
    }
    if (el + diff == end && cmp(el, end) > 0) {
        swap_records(el, end, size);
        el = end;
    }
    return el;
}

int accumulate(void *array, const void *elem, size_t size, int *nmemb, int max_nmemb,
               int (*compare)(const void *, const void *))
{
    cmp_accumulate_f = compare;
    if (max_nmemb <= 0) return 0;
    if (*nmemb >= max_nmemb) {
        if (compare(elem, array) > 0) return 0;
        memcpy(array, elem, size);
        heap_siftdown(array, record_at(array, *nmemb - 1, size), size, size, cmp_accumulate);
        return 1;
    }
    int at = (*nmemb)++;
    memcpy(record_at(array, at, size), elem, size);
    heap_siftup(array, at, size, cmp_accumulate);
    return 1;
}

/*
 * psort1 keeps the limit smallest records in a heap with the largest on top
 * when few of many records are wanted; the heap's array is only needed on
 * that path, so it is only allocated there.
 */
int psort1(void *array, size_t nmemb, size_t size, int limit, int (*compare)(const void *, const void *))
{
    if (limit < 1) {
        qsort(array, nmemb, size, compare);
        return (int)nmemb;
    }
    if (nmemb >= 100 && (size_t)limit < nmemb / 3) {
        char *heap = (char *)xmalloc((size_t)limit * size);
        int count = 0;
        for (size_t i = 0; i < nmemb; ++i)
            accumulate(heap, record_at(array, i, size), size, &count, limit, compare);
        qsort(heap, (size_t)count, size, compare);
        memcpy(array, heap, (size_t)count * size);
        free(heap);
        return count;
    }
    qsort(array, nmemb, size, compare);
    return (size_t)limit < nmemb ? limit : (int)nmemb;
}

/*
 * uniq2 compacts the distinct records to the front as uniq does, but parks
 * each repeat in a buffer of at most 16 MB.  A full buffer is emptied into
 * the tail: the unexamined records slide down over the gap the repeats left,
 * and the buffered batch fills the freed end.  The last batch goes just
 * before the tail, so batches end up latest first.
 */
int uniq2(void *array, size_t nmemb, size_t size, int (*compare)(const void *, const void *))
{
    if (nmemb == 0) return 0;
    size_t cap = size ? 16777216 / size : nmemb;
    if (cap > nmemb) cap = nmemb;
    if (cap < 1) cap = 1;
    char *held = (char *)xmalloc(cap * size);
    if (nmemb == 1) {
        free(held);
        return 1;
    }
    size_t trg = 1, n = 0, end = nmemb;
    for (size_t src = 1; src < end; ++src) {
        if (n == cap) {
            memmove(record_at(array, trg, size), record_at(array, src, size), (end - src) * size);
            end -= cap;
            memcpy(record_at(array, end, size), held, cap * size);
            n = 0;
            src = trg;
        }
        char *rec = record_at(array, src, size);
        if (compare(rec, record_at(array, trg - 1, size)) != 0) {
            if (src != trg) memcpy(record_at(array, trg, size), rec, size);
            ++trg;
        } else {
            memcpy(held + n * size, rec, size);
            ++n;
        }
    }
    memcpy(record_at(array, end - n, size), held, n * size);
    free(held);
    return (int)trg;
}

/* ---- line buffer reader ---- */

/*
 * The line reader keeps nb valid bytes in buf and hands out lines from
 * offset ns by overwriting their line feeds.  When no line feed is left it
 * moves the unread tail to the front and refills behind it, or, when one
 * line fills the whole buffer, doubles the buffer.  A short read marks the
 * end of the stream (nb < msize), after which lines come from memory only.
 */
int linebuf_init(linebuf_t *lb, FILE *fp, int msize)
{
    lb->fp = fp;
    lb->msize = msize;
    lb->nb = lb->ns = 0;
    lb->buf = msize > 0 ? (char *)malloc((size_t)msize) : NULL;
    if (lb->buf == NULL) return -1;
    lb->nb = (int)fread(lb->buf, 1, (size_t)msize, fp);
    if (lb->nb == 0) {
        free(lb->buf);
        lb->buf = NULL;
        return 1;
    }
    if (lb->nb < msize) {
        fclose(fp);
        lb->fp = NULL;
    }
    return 0;
}

static int linebuf_refill(linebuf_t *lb)
{
    int rest = lb->nb - lb->ns;
    memmove(lb->buf, lb->buf + lb->ns, (size_t)rest);
    lb->nb = rest + (int)fread(lb->buf + rest, 1, (size_t)(lb->msize - rest), lb->fp);
    lb->ns = 0;
    return 0;
}

static int linebuf_grow(linebuf_t *lb)
{
    if (lb->msize > INT_MAX / 2) return -1;
    int old = lb->msize;
    char *bigger = (char *)realloc(lb->buf, (size_t)old * 2);
    if (bigger == NULL) return -1;
    lb->buf = bigger;
    lb->msize = old * 2;
    lb->nb += (int)fread(lb->buf + lb->nb, 1, (size_t)old, lb->fp);
    return 0;
}

int linebuf_nextline(linebuf_t *lb, char **s)
{
    for (;;) {
        char *start = lb->buf + lb->ns;
        char *lf = (char *)memchr(start, '\n', (size_t)(lb->nb - lb->ns));
        if (lf != NULL) {
            *lf = '\0';
            *s = start;
            lb->ns = (int)(lf - lb->buf) + 1;
            return 0;
        }
        if (lb->nb < lb->msize) {
            if (lb->ns == lb->nb) return 1;
            lb->buf[lb->nb] = '\0';
            *s = start;
            lb->ns = lb->nb;
            return 0;
        }
        if (lb->ns > 0) linebuf_refill(lb);
        else if (linebuf_grow(lb) != 0) return -1;
    }
}

int linebuf_close(linebuf_t *lb)
{
    if (lb->fp != NULL) fclose(lb->fp);
    lb->fp = NULL;
    free(lb->buf);
    lb->buf = NULL;
    return 0;
}


/* ---- the merge engine ---- */

namespace {

/*
 * A tournament of losers over k sources, whose winner is the source that
 * comes first under `before`, a strict total order the caller gives.  Each
 * inner node keeps the loser of its match, so after the winner's key changed
 * one leaf-to-root path is replayed, one comparison per level.
 */
template <typename Before>
class LoserTree {
public:
    LoserTree(int k, Before before) : k_(k), node_(k > 1 ? k : 1), before_(before)
    {
        if (k_ == 1) {
            node_[0] = 0;
            return;
        }
        std::vector<int> winner(2 * (size_t)k_);
        for (int i = 0; i < k_; ++i) winner[k_ + i] = i;
        for (int v = k_ - 1; v >= 1; --v) {
            int a = winner[2 * v], b = winner[2 * v + 1];
            bool b_first = before_(b, a);
            winner[v] = b_first ? b : a;
            node_[v] = b_first ? a : b;
        }
        node_[0] = winner[1];
    }

    int winner() const { return node_[0]; }

    // After the winner's key changed.
    void replay_winner()
    {
        int w = node_[0];
        for (int v = (k_ + w) / 2; v >= 1; v /= 2)
            if (before_(node_[v], w)) std::swap(node_[v], w);
        node_[0] = w;
    }

private:
    int k_;
    std::vector<int> node_;
    Before before_;
};

// The order of sources in every merge: exhausted sources last, then by the
// key comparison, ties to the lower index, so that merging consecutive
// sources keeps equal keys in source order.
template <typename Key>
struct SourceOrder {
    Key key;
    bool operator()(int a, int b) const
    {
        bool da = key.done(a), db = key.done(b);
        if (da || db) return !da || (db && a < b);
        int c = key(a, b);
        return c < 0 || (c == 0 && a < b);
    }
};

template <typename Key>
LoserTree<SourceOrder<Key>> tournament(int k, Key key)
{
    return LoserTree<SourceOrder<Key>>(k, SourceOrder<Key>{key});
}

}  // namespace

/* ---- temporary files ---- */

namespace {

// Temporary names must fit this buffer size; a longer name is refused, never cut.
constexpr size_t kTempNameSize = 260;
// Numbers tried past a clash with an existing file before giving up.
constexpr unsigned kClashTries = 1000;

std::string format_name(const char *format, ...) KT_PRINTF(1, 2);

std::string format_name(const char *format, ...)
{
    va_list args, measure;
    va_start(args, format);
    va_copy(measure, args);
    int length = vsnprintf(NULL, 0, format, measure);
    va_end(measure);
    std::string name(length > 0 ? (size_t)length : 0, '\0');
    if (length > 0) vsnprintf(name.data(), name.size() + 1, format, args);
    va_end(args);
    return name;
}

/*
 * Creates a new file exclusively, readable and writable by its owner only, so
 * that no planted file or link is ever followed.  name_of(number) gives the
 * name; on a clash the next number is taken.  Returns the descriptor, with the
 * number and name used; -1 with errno set (ENAMETOOLONG for a name of
 * limit bytes or more).
 */
template <typename NameOf>
int create_exclusive(NameOf name_of, size_t limit, unsigned *number, std::string *name)
{
    for (unsigned tries = 0; tries < kClashTries; ++tries, ++*number) {
        *name = name_of(*number);
        if (name->size() >= limit) {
            errno = ENAMETOOLONG;
            return -1;
        }
        int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

/*
 * How many files one merge pass reads at once: half of what the descriptor
 * limit leaves after the standard streams, the caller's files and the
 * merge's output, at most 256.  Under an ordinary limit a sort of a few
 * hundred chunks still merges in one pass; a low limit makes more passes
 * instead of failing with "Too many open files".
 */
int merge_fan_in()
{
    long limit = 512;
#ifdef _WIN32
    limit = _getmaxstdio();
#else
    struct rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
        limit = rl.rlim_cur > 4096 ? 4096 : (long)rl.rlim_cur;
#endif
    return (int)std::clamp((limit - 8) / 2, 2L, 256L);
}

}  // namespace

/* ---- in-memory sorts of lines by their bytes ---- */

/*
 * Three-way radix quicksort of string pointers by unsigned bytes, eight bytes
 * at a time: all strings of a range agree on their first d bytes; they are
 * partitioned on the eight bytes at depth d (read as one big-endian word,
 * the bytes behind the terminating NUL cleared) around a median-of-three
 * pivot; the smaller and larger parts are sorted at the same depth, the
 * equal part eight bytes deeper unless its word holds the NUL, in which case
 * they are equal strings.  This orders exactly as strcmp does, and equal
 * strings are the same bytes, so the order among them is invisible.  Short
 * ranges fall back to insertion by strcmp.
 *
 * The eight-byte read may pass the terminating NUL: every string sorted here
 * lies in the chunk buffer, followed by pointer slots and eight spare bytes.
 */
// Clears the bytes of a little-endian word from its first NUL byte on.
static inline uint64_t clear_from_nul(uint64_t w)
{
    uint64_t zero = (w - 0x0101010101010101ULL) & ~w & 0x8080808080808080ULL;
    if (zero == 0) return w;
    int keep = __builtin_ctzll(zero) / 8;  // bytes before the first NUL
    return keep == 0 ? 0 : w & (~0ULL >> (64 - 8 * keep));
}

static inline uint64_t word_at(const char *s)
{
    uint64_t w;
    memcpy(&w, s, sizeof w);
    return __builtin_bswap64(clear_from_nul(le64toh(w)));
}

static void insertion_sort_strings(char **a, size_t n, size_t d)
{
    for (size_t i = 1; i < n; ++i) {
        char *s = a[i];
        size_t j = i;
        for (; j > 0 && strcmp(a[j - 1] + d, s + d) > 0; --j) a[j] = a[j - 1];
        a[j] = s;
    }
}

static uint64_t median_word(uint64_t x, uint64_t y, uint64_t z)
{
    if (x < y) return y < z ? y : (x < z ? z : x);
    return x < z ? x : (y < z ? z : y);
}

// Whether all n strings are the same from byte d on.
static bool all_same(char *const *a, size_t n, size_t d)
{
    for (size_t i = 1; i < n; ++i) {
        if (i + 8 < n) __builtin_prefetch(a[i + 8] + d);
        if (strcmp(a[0] + d, a[i] + d) != 0) return false;
    }
    return true;
}

static void radix_quicksort(char **a, size_t n, size_t d)
{
    bool checked = false;
    while (n > 16) {
        uint64_t pivot = median_word(word_at(a[0] + d), word_at(a[n / 2] + d), word_at(a[n - 1] + d));
        size_t lt = 0, i = 0, gt = n;
        while (i < gt) {
            // The strings lie scattered over the chunk: fetch ahead.
            if (i + 8 < gt) __builtin_prefetch(a[i + 8] + d);
            if (gt > i + 8) __builtin_prefetch(a[gt - 8] + d);
            uint64_t w = word_at(a[i] + d);
            if (w < pivot) std::swap(a[lt++], a[i++]);
            else if (w > pivot) std::swap(a[i], a[--gt]);
            else ++i;
        }
        radix_quicksort(a, lt, d);
        radix_quicksort(a + gt, n - gt, d);
        if ((pivot & 0xff) == 0) return;  // the equal part are identical strings
        if (lt == 0 && gt == n && !checked) {
            // No byte told them apart: many equal lines are likely; one
            // pass of strcmp saves a pass per eight bytes of them.
            checked = true;
            if (all_same(a, n, d + 8)) return;
        }
        a += lt;
        n = gt - lt;
        d += 8;
    }
    insertion_sort_strings(a, n, d);
}

typedef uint64_t __attribute__((may_alias)) SlotWord;

/*
 * In-place most-significant-byte radix sort of 64-bit words by their upper
 * 32 bits (the byte at `shift` first): count the bytes, permute each word
 * into its bucket by cycles, then sort every bucket by the next byte.
 */
static void radix_sort_prefixes(SlotWord *k, size_t n, int shift)
{
    if (n < 64) {
        std::sort(k, k + n);
        return;
    }
    size_t count[256] = {0};
    for (size_t i = 0; i < n; ++i) ++count[(k[i] >> shift) & 0xff];
    size_t next[256], end[256], at = 0;
    for (int b = 0; b < 256; ++b) {
        next[b] = at;
        at += count[b];
        end[b] = at;
    }
    for (int b = 0; b < 256; ++b) {
        while (next[b] < end[b]) {
            uint64_t v = k[next[b]];
            int c = (int)((v >> shift) & 0xff);
            while (c != b) {
                std::swap(v, k[next[c]++]);
                c = (int)((v >> shift) & 0xff);
            }
            k[next[b]++] = v;
        }
    }
    if (shift == 32) return;
    size_t first = 0;
    for (int b = 0; b < 256; ++b) {
        if (count[b] > 1) radix_sort_prefixes(k + first, count[b], shift - 8);
        first += count[b];
    }
}

/*
 * Sorts the line pointers of a chunk (all lines in the chunk buffer that
 * starts at base) by strcmp.  Each pointer slot is first replaced, in place,
 * by the line's first four bytes (as in word_at) over its 32-bit offset from
 * base, so that one sort of plain integers, touching no line, orders the
 * lines by their prefixes.  Only runs of equal prefixes whose lines go on
 * past four bytes are then sorted by the rest of their bytes, back as
 * pointers.
 */
static void sort_lines_by_bytes(char **lines, size_t n, char *base)
{
    if constexpr (sizeof(char *) != sizeof(uint64_t)) {  // no room for a prefix in a slot
        radix_quicksort(lines, n, 0);
        return;
    }
    SlotWord *keys = (SlotWord *)lines;
    for (size_t i = 0; i < n; ++i) {
        if (i + 8 < n) __builtin_prefetch(lines[i + 8]);
        char *line = lines[i];
        keys[i] = (word_at(line) & 0xFFFFFFFF00000000ULL) | (uint64_t)(line - base);
    }
    radix_sort_prefixes(keys, n, 56);
    for (size_t i = 0; i < n;) {
        uint64_t prefix = keys[i] >> 32;
        size_t j = i;
        for (; j < n && keys[j] >> 32 == prefix; ++j) lines[j] = base + (uint32_t)keys[j];
        if (j - i > 1 && (prefix & 0xff) != 0) radix_quicksort(lines + i, j - i, 4);
        i = j;
    }
}

/* ---- external text-file sort ---- */

namespace {

// A line with its length: bytes after a NUL in it belong to it too.
struct LineRef {
    const char *text;
    size_t len;
};

// One external sort's names, settings and temporary files.
struct TextSort {
    const char *fn1, *fn2, *temp_path;
    int (*compare)(const void *, const void *);
    int msize;
    unsigned pid;
    bool byte_order;    // compare is cmp_str: lines are sorted and merged by their bytes
    bool in_place;       // fn2 is the input itself
    mode_t output_mode;  // permissions for an output that replaces fn2
    unsigned next_number = 0;
    std::vector<unsigned> on_disk;  // numbers of the chunk files that exist

    std::string chunk_name(unsigned number) const
    {
        return format_name("%s/sortfile.%u.%u", temp_path, pid, number);
    }

    void forget(unsigned number) { on_disk.erase(std::find(on_disk.begin(), on_disk.end(), number)); }

    // After a failure: no chunk file outlives the sort.
    void remove_all_chunks()
    {
        for (unsigned number : on_disk) unlink(chunk_name(number).c_str());
        on_disk.clear();
    }
};

// Creates the next chunk file for writing; NULL after a warning.
FILE *create_chunk(TextSort &ts, unsigned *number, std::string *name)
{
    *number = ts.next_number;
    int fd = create_exclusive([&](unsigned n) { return ts.chunk_name(n); }, kTempNameSize, number, name);
    FILE *f = fd >= 0 ? fdopen(fd, "wb") : NULL;
    if (f == NULL) {
        int err = errno;
        if (fd >= 0) {
            close(fd);
            unlink(name->c_str());
        }
        warning1("cannot open chunk file %s (%s)\n", name->c_str(), strerror(err));
        return NULL;
    }
    ts.next_number = *number + 1;
    ts.on_disk.push_back(*number);
    return f;
}

// Reads up to n bytes at offset, retrying short reads; -1 on an error.
long long read_at(int fd, char *buf, long long n, long long offset)
{
    if (lseek(fd, (off_t)offset, SEEK_SET) < 0) return -1;
    size_t got = keltools_internal::read_in_full(fd, buf, (size_t)n);
    return got < (size_t)n && errno != 0 ? -1 : (long long)got;
}

/*
 * Cuts the lines of the nb bytes in buf, as many as fit together with one
 * pointer slot each: slot k (for the k-th line) is the k-th pointer-sized
 * slot back from slot_end, so the taken lines' pointers form an array, last
 * line first.  A line is taken only if its line feed was read and
 * (line feed offset + 1) + (lines taken + 1) * pointer size <= msize;
 * searching only below that bound keeps the scan out of the slots.  When
 * the read reached the end of the input (at_end), a last line without a
 * line feed counts as ending at nb, where its terminating NUL goes.
 * slot_end is msize rounded up to a pointer's alignment (the buffer is
 * allocated that large).  With refs, each line with its length is also
 * listed there, in input order.  Returns the number of lines; *consumed
 * gets their bytes.
 */
size_t cut_lines(char *buf, long long nb, bool at_end, int msize, char *slot_end, long long *consumed,
                 std::vector<LineRef> *refs)
{
    const long long ptr = (long long)sizeof(char *);
    size_t taken = 0;
    long long start = 0;
    for (;;) {
        long long room = (long long)msize - (long long)(taken + 1) * ptr;  // line end must lie below
        long long bound = std::min(room, nb);
        if (bound <= start) break;
        char *end = (char *)memchr(buf + start, '\n', (size_t)(bound - start));
        if (end == NULL) {
            if (!at_end || nb >= room) break;
            end = buf + nb;  // the input's last line, without a line feed
        }
        *end = '\0';
        ++taken;
        ((char **)slot_end)[-(long)taken] = buf + start;
        if (refs) refs->push_back({buf + start, (size_t)(end - (buf + start))});
        start = end - buf + 1;
        if (start > nb) start = nb;
    }
    *consumed = start;
    return taken;
}

// Closes a stream; -1 after the warning "<what> <name> (<reason>)".
int close_or_warn(FILE *f, const char *what, const char *name)
{
    if (fclose(f) == 0) return 0;
    warning1("%s %s (%s)\n", what, name, strerror(errno));
    return -1;
}

bool write_line(FILE *f, const char *text, size_t len)
{
    return fwrite_unlocked(text, 1, len, f) == len && putc_unlocked('\n', f) != EOF;
}

// Lines without a NUL inside: their length is their string length.
bool write_strings(FILE *f, char *const *lines, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (i + 16 < n) __builtin_prefetch(lines[i + 16]);
        if (!write_line(f, lines[i], strlen(lines[i]))) return false;
    }
    return true;
}

bool write_refs(FILE *f, const std::vector<LineRef> &refs)
{
    for (const LineRef &r : refs)
        if (!write_line(f, r.text, r.len)) return false;
    return true;
}

/*
 * A chunk's lines in sorted order.  Without a NUL in the chunk the pointer
 * array is sorted in place: cmp_str by the radix sort, any other order by the
 * library's qsort, so that lines it calls equal keep the arrangement qsort
 * gives them.  A chunk with a NUL inside a line sorts its line list instead
 * (the lengths cannot be told from the strings), stably by the comparison,
 * which sees each line up to its first NUL: lines it ranks equal keep their
 * input order.
 */
void sort_strings(const TextSort &ts, char **lines, size_t n, char *base)
{
    if (ts.byte_order) sort_lines_by_bytes(lines, n, base);
    else qsort(lines, n, sizeof(char *), ts.compare);
}

void sort_refs(const TextSort &ts, std::vector<LineRef> &refs)
{
    std::stable_sort(refs.begin(), refs.end(),
                     [&](const LineRef &a, const LineRef &b) { return ts.compare(&a.text, &b.text) < 0; });
}

// Sorts one chunk and writes it to a new chunk file; -1 after a warning.
int write_chunk(TextSort &ts, char **lines, size_t n, char *base, std::vector<LineRef> *refs)
{
    if (refs) sort_refs(ts, *refs);
    else sort_strings(ts, lines, n, base);
    unsigned number;
    std::string name;
    FILE *f = create_chunk(ts, &number, &name);
    if (f == NULL) return -1;
    if (!(refs ? write_refs(f, *refs) : write_strings(f, lines, n))) {
        warning1("cannot write to %s (%s)\n", name.c_str(), strerror(errno));
        fclose(f);
        return -1;
    }
    return close_or_warn(f, "cannot close", name.c_str());
}

// Cuts the input into sorted chunk files; -1 after a warning.
int cut_chunks(TextSort &ts, int fd, char *buf, char *slot_end)
{
    long long offset = 0;
    std::vector<LineRef> refs;
    for (;;) {
        long long nb = read_at(fd, buf, ts.msize, offset);
        if (nb < 0) {
            warning1("failed to seek/read on %s to %s\n", ts.fn1, insert_commas4(offset));
            return -1;
        }
        if (nb == 0) return 0;
        bool nul_inside = memchr(buf, '\0', (size_t)nb) != NULL;
        refs.clear();
        long long consumed;
        size_t n = cut_lines(buf, nb, nb < ts.msize, ts.msize, slot_end, &consumed, nul_inside ? &refs : NULL);
        if (n == 0) {
            warning1("no lines came out! too long lines or too small buffer (%u bytes)\n", (unsigned)ts.msize);
            return -1;
        }
        if (write_chunk(ts, (char **)slot_end - n, n, buf, nul_inside ? &refs : NULL) != 0) return -1;
        offset += consumed;
    }
}

/*
 * Where the sorted lines go.  An output that is another file is written
 * directly.  When the output is the input itself, the lines go to a new file
 * beside it that replaces it only once complete, so that a failure at any
 * point leaves the input as it was.
 */
struct Output {
    FILE *f = NULL;
    std::string temp;  // the file beside the input; empty when writing fn2 directly
};

// The name an in-place output replaces: the input's own path, links resolved.
std::string in_place_target(const TextSort &ts)
{
    char *real = realpath(ts.fn2, NULL);
    std::string target = real ? real : ts.fn2;
    free(real);
    return target;
}

// A new file beside the input, with the permissions of the input; out->f
// stays null, with errno set, when it cannot be made.
void open_beside_input(const TextSort &ts, Output *out)
{
    std::string target = in_place_target(ts);
    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : target.substr(0, slash);
    unsigned number = ts.next_number;
    auto name_of = [&](unsigned n) { return format_name("%s/sortfile.%u.%u", dir.c_str(), ts.pid, n); };
    int fd = create_exclusive(name_of, (size_t)-1, &number, &out->temp);
    if (fd < 0) return;
    fchmod(fd, ts.output_mode);
    out->f = fdopen(fd, "wb");
    if (out->f == NULL) {
        int err = errno;
        close(fd);
        unlink(out->temp.c_str());
        errno = err;
    }
}

// Opens the output; -1 (after a warning unless quiet) when it cannot be.
int open_output(TextSort &ts, Output *out, bool quiet = false)
{
    if (ts.in_place) open_beside_input(ts, out);
    // A directory that takes no new file leaves only the input itself to write.
    if (out->f == NULL && (!ts.in_place || errno == EACCES || errno == EPERM)) {
        out->temp.clear();
        out->f = fopen(ts.fn2, "wb");
    }
    if (out->f == NULL) {
        if (!quiet) warning1("failed to open %s (%s)\n", ts.fn2, strerror(errno));
        return -1;
    }
    return 0;
}

// After a failure: the output is closed and a file beside the input removed.
void abandon_output(Output *out)
{
    fclose(out->f);
    if (!out->temp.empty()) unlink(out->temp.c_str());
}

// Closes the complete output and puts it in the input's place; -1 after a warning.
int commit_output(const TextSort &ts, Output *out)
{
    if (close_or_warn(out->f, "failed to close", ts.fn2) != 0) {
        if (!out->temp.empty()) unlink(out->temp.c_str());
        return -1;
    }
    if (!out->temp.empty() && replace_file(out->temp.c_str(), in_place_target(ts).c_str()) != 0) {
        warning1("failed to rename %s to %s (%s)\n", out->temp.c_str(), ts.fn2, strerror(errno));
        unlink(out->temp.c_str());
        return -1;
    }
    return 0;
}

int write_empty_output(const TextSort &ts)
{
    warning1("warning: empty input for sortfile (%s -> %s)\n", ts.fn1, ts.fn2);
    FILE *out = fopen(ts.fn2, "wb");
    if (out == NULL) {
        warning1("failed to open %s (%s)\n", ts.fn2, strerror(errno));
        return -1;
    }
    fclose(out);
    return 0;
}

// Copies a file's bytes to the output; false when a read or a write fails.
bool copy_stream(FILE *in, FILE *out, char *buf, size_t size)
{
    size_t got;
    while ((got = fread(buf, 1, size, in)) > 0)
        if (fwrite(buf, 1, got, out) != got) return false;
    return !ferror(in);
}

// The single chunk becomes the output: renamed, or else copied (and kept).
int finish_single_chunk(TextSort &ts, char *buf)
{
    unsigned number = ts.on_disk[0];
    std::string name = ts.chunk_name(number);
    chmod(name.c_str(), ts.output_mode);
    if (replace_file(name.c_str(), ts.fn2) == 0) {
        ts.forget(number);
        return 0;
    }
    FILE *in = fopen(name.c_str(), "rb");
    Output out;
    if (in == NULL || open_output(ts, &out, true) != 0) {
        warning1("failed to open %s or %s (%s)\n", name.c_str(), ts.fn2, strerror(errno));
        if (in) fclose(in);
        return -1;
    }
    if (!copy_stream(in, out.f, buf, (size_t)ts.msize)) {
        warning1("error writing %s (%s)\n", ts.fn2, strerror(errno));
        fclose(in);
        abandon_output(&out);
        return -1;
    }
    if (close_or_warn(in, "failed to close", name.c_str()) != 0) {
        abandon_output(&out);
        return -1;
    }
    if (commit_output(ts, &out) != 0) return -1;
    ts.forget(number);  // the copied chunk stays where it is
    return 0;
}

/*
 * A chunk file being merged: its reader and current line (null once the
 * chunk is exhausted).  Chunk files end every line with a line feed, so a
 * line's length runs to the byte before the reader's next line.  Under a
 * comparison other than the byte order, rank counts the lines of the chunk
 * the comparison calls equal, up to and including the current one (the
 * previous line is kept to tell).
 */
struct ChunkReader {
    linebuf_t lb;
    char *line;
    size_t len;
    uint64_t head;  // byte order: the line's first eight bytes, as head_of gives them
    unsigned rank;
    std::string previous;
};

// A line's first eight bytes as a big-endian number, the bytes from its
// first NUL or its end on cleared: lines whose heads differ are ordered by
// them as strcmp orders them.
inline uint64_t head_of(const char *line, size_t len)
{
    uint64_t w = 0;
    memcpy(&w, line, std::min(len, sizeof w));
    return __builtin_bswap64(clear_from_nul(le64toh(w)));
}

// strcmp's order over the readers' current lines, ties to the lower chunk
// (an earlier part of the input); most pairs differ in their heads and need
// no look at the lines themselves.
struct ByteKey {
    const ChunkReader *rd;
    bool done(int i) const { return rd[i].line == NULL; }
    int operator()(int a, int b) const
    {
        if (rd[a].head != rd[b].head) return rd[a].head < rd[b].head ? -1 : 1;
        return strcmp(rd[a].line, rd[b].line);
    }
};

/*
 * Any other order: lines it calls equal go by rank, then by chunk.  This is
 * the order of merge steps that each write every current line equal to the
 * smallest, in chunk order, and then advance those chunks: the k-th of a
 * run of equal lines of every chunk comes out in step k.
 */
struct UserKey {
    const ChunkReader *rd;
    int (*compare)(const void *, const void *);
    bool done(int i) const { return rd[i].line == NULL; }
    int operator()(int a, int b) const
    {
        int c = compare(&rd[a].line, &rd[b].line);
        return c != 0 ? c : three_way(rd[a].rank, rd[b].rank);
    }
};

// Takes the reader's next line (rc 0), or marks it exhausted (rc 1).
void take_line(const TextSort &ts, ChunkReader *r, int rc)
{
    if (rc == 1) {
        r->line = NULL;
        return;
    }
    r->len = (size_t)(r->lb.buf + r->lb.ns - 1 - r->line);
    if (ts.byte_order) {
        r->head = head_of(r->line, r->len);
        return;
    }
    const char *previous = r->previous.c_str();
    r->rank = r->rank > 0 && ts.compare(&previous, &r->line) == 0 ? r->rank + 1 : 1;
}

// Fetches chunk i's next line; -1 after a warning.
int advance_chunk(const TextSort &ts, ChunkReader *rd, int i)
{
    ChunkReader *r = &rd[i];
    if (!ts.byte_order) r->previous.assign(r->line, r->len);
    int rc = linebuf_nextline(&r->lb, &r->line);
    if (rc == -1) {
        warning1("error fetching next line from chunk %d\n", i);
        return -1;
    }
    take_line(ts, r, rc);
    return 0;
}

// Opens a chunk file and fetches its first line; -1 after a warning, with
// the reader closed.
int open_chunk(const TextSort &ts, ChunkReader *r, unsigned number, int bufsize)
{
    std::string name = ts.chunk_name(number);
    FILE *f = fopen(name.c_str(), "rb");
    if (f == NULL) {
        warning1("failed to open %s (%s)\n", name.c_str(), strerror(errno));
        return -1;
    }
    int rc = linebuf_init(&r->lb, f, bufsize);
    if (rc != 0) {
        fclose(f);
        warning1("failed to open linebuf for %s; rc=%d\n", name.c_str(), rc);
        return -1;
    }
    r->rank = 0;
    rc = linebuf_nextline(&r->lb, &r->line);
    if (rc == -1) {
        linebuf_close(&r->lb);
        warning1("error fetching first line from %s\n", name.c_str());
        return -1;
    }
    take_line(ts, r, rc);
    return 0;
}

template <typename Key>
int merge_lines(const TextSort &ts, ChunkReader *rd, int n, Key key, FILE *out, const char *out_name)
{
    auto tree = tournament(n, key);
    for (;;) {
        int w = tree.winner();
        if (rd[w].line == NULL) return 0;
        if (!write_line(out, rd[w].line, rd[w].len)) {
            warning1("error writing %s (%s)\n", out_name, strerror(errno));
            return -1;
        }
        if (advance_chunk(ts, rd, w) != 0) return -1;
        tree.replay_winner();
    }
}

/*
 * Merges the chunk files listed into out and removes them; -1 after a
 * warning.  Each reader starts with an equal share of the budget, at least
 * 1024 bytes.
 */
int merge_chunks(TextSort &ts, const std::vector<unsigned> &numbers, FILE *out, const char *out_name)
{
    const int n = (int)numbers.size();
    std::vector<ChunkReader> rd((size_t)n);
    int bufsize = std::max(ts.msize / n, 1024);
    for (int i = 0; i < n; ++i) {
        if (open_chunk(ts, &rd[i], numbers[i], bufsize) != 0) {
            for (int j = 0; j < i; ++j) linebuf_close(&rd[j].lb);
            return -1;
        }
    }
    int rc = ts.byte_order ? merge_lines(ts, rd.data(), n, ByteKey{rd.data()}, out, out_name)
                           : merge_lines(ts, rd.data(), n, UserKey{rd.data(), ts.compare}, out, out_name);
    for (int i = 0; i < n; ++i) linebuf_close(&rd[i].lb);
    if (rc != 0) return -1;
    for (unsigned number : numbers) {
        xunlink("%s/sortfile.%u.%u", ts.temp_path, ts.pid, number);
        ts.forget(number);
    }
    return 0;
}

// Merges the chunk files listed into one new chunk file, whose number goes
// to *number; -1 after a warning.
int merge_into_chunk(TextSort &ts, const std::vector<unsigned> &group, unsigned *number)
{
    std::string name;
    FILE *f = create_chunk(ts, number, &name);
    if (f == NULL) return -1;
    if (merge_chunks(ts, group, f, name.c_str()) != 0) {
        fclose(f);
        return -1;
    }
    return close_or_warn(f, "cannot close", name.c_str());
}

/*
 * One pass over the chunk files: consecutive groups of up to fan_in files are
 * merged into one file each, in their place, but only as many as it takes to
 * leave fan_in files for the final merge, so that as few lines as possible
 * are written twice.  -1 after a warning.
 */
int merge_pass(TextSort &ts, std::vector<unsigned> *order, size_t fan_in)
{
    std::vector<unsigned> merged;
    for (size_t at = 0; at < order->size();) {
        size_t left = merged.size() + (order->size() - at);
        size_t take = left > fan_in ? std::min({fan_in, left - fan_in + 1, order->size() - at}) : 1;
        std::vector<unsigned> group(order->begin() + (long)at, order->begin() + (long)(at + take));
        at += take;
        unsigned number = group[0];
        if (take > 1 && merge_into_chunk(ts, group, &number) != 0) return -1;
        merged.push_back(number);
    }
    order->swap(merged);
    return 0;
}

/*
 * Merges all chunk files into the output, in passes of at most merge_fan_in()
 * files.  Under the byte order the output does not depend on how the lines
 * were grouped; under another order, lines it calls equal but that differ
 * come out of a single pass as its merge steps give them, and of several
 * passes in the order the groups give them.
 */
int merge_all_chunks(TextSort &ts)
{
    std::vector<unsigned> order = ts.on_disk;
    const size_t fan_in = (size_t)merge_fan_in();
    while (order.size() > fan_in)
        if (merge_pass(ts, &order, fan_in) != 0) return -1;
    Output out;
    if (open_output(ts, &out) != 0) return -1;
    if (merge_chunks(ts, order, out.f, ts.fn2) != 0) {
        abandon_output(&out);
        return -1;
    }
    return commit_output(ts, &out);
}

bool same_file(const char *fn1, const char *fn2)
{
    struct stat in, out;
    return stat(fn1, &in) == 0 && stat(fn2, &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// The permissions an output that replaces fn2 gets: those of the file there,
// else those a newly created file would get.
mode_t output_mode(const char *fn2)
{
    struct stat st;
    if (stat(fn2, &st) == 0) return st.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Cuts, sorts and merges, releasing buf once it is no longer needed; -1
// after a warning, with chunk files possibly left for the caller to remove.
int sort_text(TextSort &ts, int fd, char *buf, size_t alloc)
{
    int rc = cut_chunks(ts, fd, buf, buf + alloc);
    close(fd);
    size_t chunks = ts.on_disk.size();
    if (rc == 0 && chunks == 1) rc = finish_single_chunk(ts, buf);
    free(buf);
    if (rc != 0 || chunks == 1) return rc;
    if (chunks == 0) return write_empty_output(ts);
    return merge_all_chunks(ts);
}

}  // namespace

/*
 * sortfile: the input is cut into chunks of at most msize bytes (lines and
 * their pointers together), each sorted and written to a chunk file; the
 * chunk files are then merged into the output.  The input is closed before
 * the output is opened, and an output that is the input replaces it only
 * when complete.  On a failure no chunk file is left.
 */
int sortfile(const char *fn1, const char *fn2, int (*compare)(const void *, const void *),
             int msize, const char *temp_path)
{
    xopen_std_fds();  // no temporary file may take a standard descriptor
    TextSort ts{fn1, fn2, temp_path, compare, msize, (unsigned)getpid(), compare == cmp_str, false, 0644, 0, {}};
    if (msize <= 0) {
        warning1("invalid msize %d in sortfile()\n", msize);
        return -1;
    }
    // Rounded up so that the pointer slots at the end are aligned, plus
    // room for an eight-byte read that starts just before the end.
    size_t alloc = ((size_t)msize + sizeof(char *) - 1) / sizeof(char *) * sizeof(char *);
    char *buf = (char *)malloc(alloc + 8);
    if (buf == NULL) {
        warning1("cannot allocate %d bytes\n", msize);
        return -1;
    }
    int fd = open(fn1, O_RDONLY | O_BINARY);
    if (fd < 0) {
        warning1("failed to open %s (%s)\n", fn1, strerror(errno));
        free(buf);
        return -1;
    }
    ts.in_place = same_file(fn1, fn2);
    ts.output_mode = output_mode(fn2);
    int rc = sort_text(ts, fd, buf, alloc);
    if (rc != 0) ts.remove_all_chunks();
    return rc;
}

/* ---- record-file sort ---- */

namespace {

typedef int (*CompareFn)(const void *, const void *);
typedef void (*SortFn)(void *, size_t, size_t, CompareFn);

/*
 * One record sort's settings and run files ("<tmp_path>/<pid>-<number>").
 * Every failure ends the process with the message the checked operations
 * give, but only after the run files are removed.
 */
struct RecordSort {
    int size;
    CompareFn compar;
    SortFn sort1;
    int m;  // records in the work area
    const char *tmp_path;
    int pid;
    bool one_record_runs;  // fsort_old: each run holds one record in memory, the work area the output
    unsigned next_number = 0;
    std::vector<int> on_disk;  // numbers of the run files that exist

    std::string run_name(int number) const { return format_name("%s/%d-%d", tmp_path, pid, number); }

    [[noreturn]] void fail(const char *format, ...) KT_PRINTF(2, 3)
    {
        for (int number : on_disk) unlink(run_name(number).c_str());
        va_list args;
        va_start(args, format);
        char message[512];
        vsnprintf(message, sizeof message, format, args);
        va_end(args);
        error1("%s", message);
    }
};

// Reads exactly bytes bytes, retrying short counts.
void read_records(RecordSort &rs, int fd, char *buf, int bytes)
{
    if (keltools_internal::read_in_full(fd, buf, (size_t)bytes) != (size_t)bytes)
        rs.fail("error reading %d bytes\n", bytes);
}

// Writes exactly bytes bytes, retrying short counts.
void write_records(RecordSort &rs, int fd, const char *buf, long long bytes)
{
    if (keltools_internal::write_in_full(fd, buf, (size_t)bytes) != (size_t)bytes)
        rs.fail("error writing %d bytes\n", (int)bytes);
}

// Creates the next run file; returns its descriptor, its number in *number.
int create_run(RecordSort &rs, int *number)
{
    unsigned n = rs.next_number;
    std::string name;
    int fd = create_exclusive([&](unsigned i) { return rs.run_name((int)i); }, kTempNameSize, &n, &name);
    if (fd < 0) rs.fail("cannot create/truncate %s\n", name.c_str());
    rs.next_number = n + 1;
    rs.on_disk.push_back((int)n);
    *number = (int)n;
    return fd;
}

int open_run(RecordSort &rs, int number)
{
    int fd = open(rs.run_name(number).c_str(), O_RDONLY | O_BINARY);
    if (fd < 0) rs.fail("cannot open %s\n", rs.run_name(number).c_str());
    return fd;
}

void remove_run(RecordSort &rs, int number)
{
    if (unlink(rs.run_name(number).c_str()) != 0) rs.fail("cannot delete %s\n", rs.run_name(number).c_str());
    rs.on_disk.erase(std::find(rs.on_disk.begin(), rs.on_disk.end(), number));
}

// Reads the input in runs of m records, sorts each and writes it to its run
// file; returns the run files in input order.
std::vector<int> write_runs(RecordSort &rs, int fh_in, int nmemb, char *work)
{
    int runs = (int)(((long long)nmemb + rs.m - 1) / rs.m);
    std::vector<int> files;
    for (int r = 0; r < runs; ++r) {
        int count = r < runs - 1 ? rs.m : nmemb - (runs - 1) * rs.m;
        read_records(rs, fh_in, work, count * rs.size);
        rs.sort1(work, (size_t)count, (size_t)rs.size, rs.compar);
        int number;
        int fd = create_run(rs, &number);
        write_records(rs, fd, work, (long long)count * rs.size);
        close(fd);
        files.push_back(number);
    }
    return files;
}

// A run during a merge: its file, its number and its buffer of records.
struct RunReader {
    int fh;
    int number;
    int ci;  // current record in e; -1 once the run is exhausted
    int n;   // records in e
    char *e;
};

struct RunKey {
    const RunReader *runs;
    size_t size;
    CompareFn compar;
    bool done(int i) const { return runs[i].ci < 0; }
    int operator()(int a, int b) const
    {
        return compar(runs[a].e + (size_t)runs[a].ci * size, runs[b].e + (size_t)runs[b].ci * size);
    }
};

// Refills a run's buffer with one read; false once the run is exhausted.
bool refill_run(RecordSort &rs, RunReader *run, int bytes, bool first)
{
    // A short count is the end of the run only when no read failed: a
    // record cut by a short read would otherwise be dropped.
    size_t got = keltools_internal::read_in_full(run->fh, run->e, (size_t)bytes);
    if (got < (size_t)bytes && errno != 0) {
        if (first) rs.fail("failed to read %d bytes from %s/%d-%d\n", bytes, rs.tmp_path, rs.pid, run->number);
        rs.fail("failed to read %d bytes from %s/%d-%d", bytes, rs.tmp_path, rs.pid, run->number);
    }
    run->n = (int)(got / rs.size);
    run->ci = run->n > 0 ? 0 : -1;
    return run->n > 0;
}

/*
 * How one merge of count runs uses memory.  fsort shares its work area: each
 * run reads blocks of b = (m/2)/count records (at least 1), the rest buffers
 * the output; when no record is left over for the output (only when merging
 * m runs of a two-record area), each record is written straight from its
 * run's buffer.  fsort_old gives each run one record of its own and the whole
 * work area to the output.
 */
struct MergeLayout {
    int b;
    char *run_area, *outbuf;
    long long outcap;
};

MergeLayout layout_for(const RecordSort &rs, int count, char *work, char *one_record_area)
{
    if (rs.one_record_runs) return {1, one_record_area, work, rs.m};
    int b = std::max((rs.m / 2) / count, 1);
    return {b, work, work + (size_t)count * b * rs.size, (long long)rs.m - (long long)b * count};
}

// Merges the listed runs (ties go to the earlier in the list) into fh_out
// and removes their files; returns the number of records written.
long long merge_runs(RecordSort &rs, const std::vector<int> &files, int fh_out, const MergeLayout &lay)
{
    const int count = (int)files.size();
    const size_t size = (size_t)rs.size;
    const int block = lay.b * rs.size;
    std::vector<RunReader> runs((size_t)count);
    int live = 0;
    for (int i = 0; i < count; ++i) {
        runs[i] = {open_run(rs, files[i]), files[i], 0, 0, lay.run_area + (size_t)i * lay.b * size};
        live += refill_run(rs, &runs[i], block, true);
    }
    long long held = 0, written = 0;
    auto tree = tournament(count, RunKey{runs.data(), size, rs.compar});
    while (live > 0) {
        RunReader &run = runs[tree.winner()];
        if (run.ci < 0) rs.fail("fsort() fatal internal error\n");
        char *rec = run.e + (size_t)run.ci * size;
        if (lay.outcap < 1) {
            write_records(rs, fh_out, rec, rs.size);
        } else {
            memcpy(lay.outbuf + held * size, rec, size);
            if (++held == lay.outcap) {
                write_records(rs, fh_out, lay.outbuf, held * rs.size);
                held = 0;
            }
        }
        ++written;
        if (++run.ci == run.n && !refill_run(rs, &run, block, false)) --live;
        tree.replay_winner();
    }
    if (held > 0) write_records(rs, fh_out, lay.outbuf, held * rs.size);
    for (RunReader &run : runs) {
        close(run.fh);
        remove_run(rs, run.number);
    }
    return written;
}

/*
 * Merges the runs into fh_out, in passes when there are more than one merge
 * may read at once (the descriptor bound, and for fsort the work area, which
 * must leave each run a record and the output one): each pass merges
 * consecutive groups into new run files, a lone run at the end passing
 * through as it is.  The list stays in input order, so equal records still
 * come out in the order of the runs they were read in.
 */
long long merge_all_runs(RecordSort &rs, std::vector<int> files, int fh_out, char *work)
{
    int most = merge_fan_in();
    int group = most;
    if (!rs.one_record_runs) {
        most = std::min(rs.m - 1, most);
        group = 2;
        while ((long long)(group + 1) * (group + 1) <= rs.m) ++group;  // about sqrt(m)
        group = std::min(group, std::max(most, 2));
    }
    std::vector<char> one_record_area(rs.one_record_runs ? (size_t)std::max(group, most) * rs.size : 0);
    auto layout = [&](size_t count) { return layout_for(rs, (int)count, work, one_record_area.data()); };
    while ((int)files.size() > std::max(most, 1)) {
        std::vector<int> merged;
        for (size_t at = 0; at < files.size(); at += (size_t)group) {
            size_t stop = std::min(files.size(), at + (size_t)group);
            if (stop - at == 1) {
                merged.push_back(files[at]);
                continue;
            }
            std::vector<int> part(files.begin() + (long)at, files.begin() + (long)stop);
            int number;
            int fd = create_run(rs, &number);
            merge_runs(rs, part, fd, layout(part.size()));
            close(fd);
            merged.push_back(number);
        }
        files.swap(merged);
    }
    return merge_runs(rs, files, fh_out, layout(files.size()));
}

/*
 * Both record sorts: an input that fits the budget is sorted in memory;
 * otherwise runs of m records are sorted in memory, spilled to run files and
 * merged.  Returns -1 when the budget holds fewer than two records.
 */
int sort_records(RecordSort &rs, int fh_in, int fh_out, int nmemb, int msize)
{
    if (rs.size <= 0 || nmemb < 0) return -1;
    if ((long long)nmemb * rs.size <= msize) {
        int bytes = nmemb * rs.size;
        char *buf = (char *)xmalloc((size_t)bytes);
        read_records(rs, fh_in, buf, bytes);
        rs.sort1(buf, (size_t)nmemb, (size_t)rs.size, rs.compar);
        write_records(rs, fh_out, buf, bytes);
        free(buf);
        return 0;
    }
    rs.m = msize / rs.size;
    if (rs.m < 2) return -1;
    std::string first = rs.run_name(0);
    if (first.size() >= kTempNameSize) error1("cannot create/truncate %s\n", first.c_str());
    char *work = (char *)xmalloc((size_t)rs.m * rs.size);
    long long written = merge_all_runs(rs, write_runs(rs, fh_in, nmemb, work), fh_out, work);
    if (written != nmemb)
        rs.fail("fsort() fatal internal inconsistency; %d items written but should have %d\n", (int)written,
                nmemb);
    free(work);
    return 0;
}

}  // namespace

/*
 * fsort: the merge reads each run in blocks and buffers the output, all in
 * one work area.
 */
int fsort(int fh_in, int fh_out, int nmemb, int size, CompareFn compar, SortFn sort1, int msize,
          const char *tmp_path)
{
    xopen_std_fds();  // no temporary file may take a standard descriptor
    RecordSort rs{size, compar, sort1, 0, tmp_path, (int)getpid(), false, 0, {}};
    return sort_records(rs, fh_in, fh_out, nmemb, msize);
}

/*
 * fsort_old: the same runs as fsort, merged one record at a time: each run
 * holds only its current record, and the whole work area buffers the output.
 */
int fsort_old(int fh_in, int fh_out, int nmemb, int size, CompareFn compar, SortFn sort1, int msize,
              const char *tmp_path)
{
    xopen_std_fds();  // no temporary file may take a standard descriptor
    RecordSort rs{size, compar, sort1, 0, tmp_path, (int)getpid(), true, 0, {}};
    return sort_records(rs, fh_in, fh_out, nmemb, msize);
}

/* ---- removing repeats from a sorted record file ---- */

int funiq(int fh_in, int fh_out, int nmemb, int size, CompareFn compar)
{
    if (nmemb <= 0) return 0;
    char *last = (char *)xmalloc((size_t)size), *rec = (char *)xmalloc((size_t)size);
    xread(fh_in, last, size);
    xwrite(fh_out, last, size);
    int count = 1;
    for (int i = 1; i < nmemb; ++i) {
        xread(fh_in, rec, size);
        if (compar(last, rec) != 0) {
            xwrite(fh_out, rec, size);
            std::swap(last, rec);
            ++count;
        }
    }
    free(last);
    free(rec);
    return count;
}

/* ---- set operations of merge(): intersection and union ---- */

namespace {

// The intersection: while every array has a current record, copy it if all
// are equal and advance them all, else advance the first smallest.
int merge_intersection(int n, void *const *bases, const int *nmembs, int size, void **result,
                       CompareFn compar)
{
    if (n < 1) return 0;
    int r = *std::min_element(nmembs, nmembs + n);
    if (r <= 0) return 0;
    char *out = (char *)xmalloc((size_t)r * size);
    std::vector<int> pos((size_t)n, 0);
    auto current = [&](int k) { return record_at(bases[k], (size_t)pos[k], (size_t)size); };
    int count = 0;
    for (;;) {
        for (int k = 0; k < n; ++k)
            if (pos[k] >= nmembs[k]) {
                *result = out;
                return count;
            }
        int j = 0;
        bool all_equal = true;
        for (int k = 1; k < n; ++k) {
            int c = compar(current(k), current(j));
            if (c != 0) all_equal = false;
            if (c < 0) j = k;
        }
        if (all_equal) {
            memcpy(out + (size_t)count++ * size, current(0), (size_t)size);
            for (int k = 0; k < n; ++k) ++pos[k];
        } else {
            ++pos[j];
        }
    }
}

// The union without repeats: take the first smallest current record, write
// it unless it equals the last one written.
int merge_union(int n, void *const *bases, const int *nmembs, int size, void **result, CompareFn compar)
{
    if (n < 0) n = 0;
    size_t total = 0;
    int live = 0;
    for (int k = 0; k < n; ++k)
        if (nmembs[k] > 0) {
            total += (size_t)nmembs[k];
            ++live;
        }
    char *out = (char *)xmalloc(total * size);
    std::vector<int> pos((size_t)n, 0);
    auto current = [&](int k) { return record_at(bases[k], (size_t)pos[k], (size_t)size); };
    int count = 0;
    while (live > 0) {
        int j = -1;
        for (int k = 0; k < n; ++k)
            if (pos[k] < nmembs[k] && (j < 0 || compar(current(k), current(j)) < 0)) j = k;
        if (j < 0) error1("merge() fatal internal error\n");
        bool repeat = count > 0 && compar(out + (size_t)(count - 1) * size, current(j)) == 0;
        if (!repeat) memcpy(out + (size_t)count++ * size, current(j), (size_t)size);
        if (++pos[j] == nmembs[j]) --live;
    }
    *result = out;
    return count;
}

}  // namespace

int merge(int op, int n, void *const *bases, const int *nmembs, int size, void **result, CompareFn compar)
{
    if (op == 1) return merge_intersection(n, bases, nmembs, size, result, compar);
    if (op == 2) return merge_union(n, bases, nmembs, size, result, compar);
    return -1;
}
