// fsort: array de-duplication and sorting of arrays and files.

#include "keltools.h"

#include <cstring>

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

/* ---- line reader, file sorts and array sort helpers ---- */


#include <errno.h>
#include "compat.h"
#include <fcntl.h>
#include <stdint.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

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

namespace {

/*
 * Tournaments over k sources, whose winner is the source whose key is least
 * under `before`, a strict total order the caller gives (exhausted sources
 * last, ties to the lower index).  Both replay one leaf-to-root path, one
 * comparison per level.  The tree of losers keeps at each node the loser of
 * its match, so it can only replay the winner after its key changed; the
 * tree of winners keeps each match's winner and can replay any source.
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

template <typename Before>
class WinnerTree {
public:
    WinnerTree(int k, Before before) : k_(k), node_(2 * (size_t)k), before_(before)
    {
        for (int i = 0; i < k_; ++i) node_[k_ + i] = i;
        for (int v = k_ - 1; v >= 1; --v) play(v);
    }

    int winner() const { return k_ == 1 ? 0 : node_[1]; }

    // After source i's key changed.
    void replay(int i)
    {
        for (int v = (k_ + i) / 2; v >= 1; v /= 2) play(v);
    }

private:
    void play(int v)
    {
        int a = node_[2 * v], b = node_[2 * v + 1];
        node_[v] = before_(b, a) ? b : a;
    }

    int k_;
    std::vector<int> node_;
    Before before_;
};

// Total order over sources for the tournament: exhausted last, then by the
// key comparison, ties to the lower index.
template <typename KeyCmp>
struct SourceOrder {
    KeyCmp cmp;
    bool operator()(int a, int b) const
    {
        bool da = cmp.done(a), db = cmp.done(b);
        if (da || db) return !da || (db && a < b);
        int c = cmp(a, b);
        return c < 0 || (c == 0 && a < b);
    }
};

}  // namespace

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
static inline uint64_t word_at(const char *s)
{
    uint64_t w;
    memcpy(&w, s, sizeof w);
    w = le64toh(w);
    uint64_t zero = (w - 0x0101010101010101ULL) & ~w & 0x8080808080808080ULL;
    if (zero != 0) {
        int keep = __builtin_ctzll(zero) / 8;  // bytes before the first NUL
        w = keep == 0 ? 0 : w & (~0ULL >> (64 - 8 * keep));
    }
    return __builtin_bswap64(w);
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

typedef uint64_t __attribute__((may_alias)) slot_word;

/*
 * In-place most-significant-byte radix sort of 64-bit words by their upper
 * 32 bits (the byte at `shift` first): count the bytes, permute each word
 * into its bucket by cycles, then sort every bucket by the next byte.
 */
static void radix_sort_prefixes(slot_word *k, size_t n, int shift)
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
    slot_word *keys = (slot_word *)lines;
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

// Sorts an array of line pointers as qsort with compare would; cmp_str gets
// the byte sort above, any other order the library's qsort itself, so that
// lines it calls equal keep the arrangement qsort gives them.
static void sort_lines(char **lines, size_t n, char *base, int (*compare)(const void *, const void *))
{
    if (compare == cmp_str) sort_lines_by_bytes(lines, n, base);
    else qsort(lines, n, sizeof(char *), compare);
}

namespace {

// One external sort's names and settings, shared by its phases.
struct TextSort {
    const char *fn1, *fn2, *temp_path;
    int (*compare)(const void *, const void *);
    int msize;
    unsigned pid;

    void chunk_name(char *name, unsigned i) const
    {
        snprintf1(name, 260, "%s/sortfile.%u.%u", temp_path, pid, i);
    }
};

// The chunk reader of the merge.
struct mstr_t {
    int marked;
    linebuf_t lb;
    char *line;
};

// Reads up to n bytes at offset, retrying short reads; -1 on an error.
long long read_at(int fd, char *buf, long long n, long long offset)
{
    if (lseek(fd, (off_t)offset, SEEK_SET) < 0) return -1;
    long long got = 0;
    while (got < n) {
        ssize_t r = read(fd, buf + got, (size_t)(n - got));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        got += r;
    }
    return got;
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
 * allocated that large).  Returns the number of lines; *consumed gets their
 * bytes.
 */
size_t cut_lines(char *buf, long long nb, bool at_end, int msize, char *slot_end, long long *consumed)
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
        start = end - buf + 1;
        if (start > nb) start = nb;
    }
    *consumed = start;
    return taken;
}

// Writes the lines each followed by a line feed; false when a write fails.
bool write_lines(FILE *f, char *const *lines, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (i + 16 < n) __builtin_prefetch(lines[i + 16]);
        size_t len = strlen(lines[i]);
        if (fwrite_unlocked(lines[i], 1, len, f) != len || putc_unlocked('\n', f) == EOF) return false;
    }
    return true;
}

bool write_line(FILE *f, const char *line)
{
    size_t len = strlen(line);
    return fwrite_unlocked(line, 1, len, f) == len && putc_unlocked('\n', f) != EOF;
}

// Writes one sorted chunk to its file; -1 after a warning.
int write_chunk(const TextSort &ts, unsigned index, char *const *lines, size_t n)
{
    char name[260];
    ts.chunk_name(name, index);
    FILE *f = fopen(name, "w");
    if (f == NULL) {
        warning1("cannot open chunk file %s (%s)\n", name, strerror(errno));
        return -1;
    }
    if (!write_lines(f, lines, n)) {
        warning1("cannot write to %s (%s)\n", name, strerror(errno));
        fclose(f);
        return -1;
    }
    if (fclose(f) != 0) {
        warning1("cannot close %s (%s)\n", name, strerror(errno));
        return -1;
    }
    return 0;
}

// Cuts the input into sorted chunk files; the chunk count goes to *chunks.
// -1 after a warning (the caller closes the input and releases buf).
int cut_chunks(const TextSort &ts, int fd, char *buf, char *slot_end, unsigned *chunks)
{
    long long offset = 0;
    for (;;) {
        long long nb = read_at(fd, buf, ts.msize, offset);
        if (nb < 0) {
            warning1("failed to seek/read on %s to %s\n", ts.fn1, insert_commas4(offset));
            return -1;
        }
        if (nb == 0) return 0;
        long long consumed;
        size_t n = cut_lines(buf, nb, nb < ts.msize, ts.msize, slot_end, &consumed);
        if (n == 0) {
            warning1("no lines came out! too long lines or too small buffer (%u bytes)\n", (unsigned)ts.msize);
            return -1;
        }
        char **lines = (char **)slot_end - n;
        sort_lines(lines, n, buf, ts.compare);
        if (write_chunk(ts, *chunks, lines, n) != 0) return -1;
        offset += consumed;
        ++*chunks;
    }
}

int write_empty_output(const TextSort &ts)
{
    warning1("warning: empty input for sortfile (%s -> %s)\n", ts.fn1, ts.fn2);
    FILE *out = fopen(ts.fn2, "w");
    if (out == NULL) {
        warning1("failed to open %s (%s)\n", ts.fn2, strerror(errno));
        return -1;
    }
    fclose(out);
    return 0;
}

// The single chunk becomes the output: renamed, or else copied (and kept).
int finish_single_chunk(const TextSort &ts, char *buf)
{
    char name[260];
    ts.chunk_name(name, 0);
    if (replace_file(name, ts.fn2) == 0) {
        free(buf);
        return 0;
    }
    FILE *in = fopen(name, "r");
    FILE *out = in ? fopen(ts.fn2, "w") : NULL;
    if (out == NULL) {
        warning1("failed to open %s or %s (%s)\n", name, ts.fn2, strerror(errno));
        if (in) fclose(in);
        free(buf);
        return -1;
    }
    copy_bytes(in, out, (long long)file_length(fileno(in)), ts.msize, buf);
    free(buf);
    if (fclose(in) != 0) {
        warning1("failed to close %s (%s)\n", name, strerror(errno));
        fclose(out);
        return -1;
    }
    if (fclose(out) != 0) {
        warning1("failed to close %s (%s)\n", ts.fn2, strerror(errno));
        return -1;
    }
    return 0;
}

// Closes the readers of chunks first .. last-1 and removes their files.
void drop_chunks(const TextSort &ts, mstr_t *ms, unsigned first, unsigned last)
{
    for (unsigned i = first; i < last; ++i) {
        linebuf_close(&ms[i].lb);
        xunlink("%s/sortfile.%u.%u", ts.temp_path, ts.pid, i);
    }
}

// Opens chunk i and fetches its first line; -1 after a warning, with its
// reader closed but its file left in place.
int open_chunk(const TextSort &ts, mstr_t *m, unsigned i, int bufsize)
{
    char name[260];
    ts.chunk_name(name, i);
    FILE *f = fopen(name, "r");
    if (f == NULL) {
        warning1("failed to open %s (%s)\n", name, strerror(errno));
        return -1;
    }
    int rc = linebuf_init(&m->lb, f, bufsize);
    if (rc != 0) {
        fclose(f);
        warning1("failed to open linebuf for %s; rc=%d\n", name, rc);
        return -1;
    }
    m->marked = 0;
    rc = linebuf_nextline(&m->lb, &m->line);
    if (rc == -1) {
        linebuf_close(&m->lb);
        warning1("error fetching first line from %s\n", name);
        return -1;
    }
    if (rc == 1) m->line = NULL;
    return 0;
}

// Orders of the merge tournament: a marked chunk (its line already taken
// into the current step) ranks with the exhausted ones.
struct StrKey {
    const mstr_t *ms;
    bool done(int i) const { return ms[i].line == NULL; }
    int operator()(int a, int b) const { return strcmp(ms[a].line, ms[b].line); }
};

struct UserKey {
    const mstr_t *ms;
    int (*compare)(const void *, const void *);
    bool done(int i) const { return ms[i].line == NULL || ms[i].marked; }
    int operator()(int a, int b) const { return compare(&ms[a].line, &ms[b].line); }
};

// Fetches a chunk's next line; -1 after a warning.
int advance_chunk(mstr_t *ms, unsigned i)
{
    int rc = linebuf_nextline(&ms[i].lb, &ms[i].line);
    if (rc == -1) {
        warning1("error fetching next line from chunk %d\n", (int)i);
        return -1;
    }
    if (rc == 1) ms[i].line = NULL;
    ms[i].marked = 0;
    return 0;
}

int write_error(const TextSort &ts)
{
    warning1("error writing %s (%s)\n", ts.fn2, strerror(errno));
    return -1;
}

/*
 * Under cmp_str equal lines are the same bytes, so every merge that takes the
 * smallest line each time writes the same output: take the winner, advance
 * its chunk, replay.
 */
int merge_chunks_str(const TextSort &ts, mstr_t *ms, unsigned n, FILE *out)
{
    LoserTree<SourceOrder<StrKey>> tree((int)n, SourceOrder<StrKey>{StrKey{ms}});
    for (;;) {
        unsigned w = (unsigned)tree.winner();
        if (ms[w].line == NULL) return 0;
        if (!write_line(out, ms[w].line)) return write_error(ts);
        if (advance_chunk(ms, w) != 0) return -1;
        tree.replay_winner();
    }
}

/*
 * Under any other order, lines it calls equal may differ, and one merge step
 * writes every current line equal to the smallest, in chunk order, before
 * advancing those chunks.  The tournament finds the smallest (ties to the
 * lowest chunk); marking a chunk taken into the step ranks it last, so the
 * next winner is the next candidate.  The lines are written once the step
 * is complete, while all of them are still valid.
 */
int merge_chunks_user(const TextSort &ts, mstr_t *ms, unsigned n, FILE *out)
{
    WinnerTree<SourceOrder<UserKey>> tree((int)n, SourceOrder<UserKey>{UserKey{ms, ts.compare}});
    std::vector<unsigned> step;
    for (;;) {
        unsigned w = (unsigned)tree.winner();
        if (ms[w].line == NULL) return 0;
        char *smallest = ms[w].line;
        step.clear();
        do {
            step.push_back(w);
            ms[w].marked = 1;
            tree.replay((int)w);
            w = (unsigned)tree.winner();
        } while (ms[w].line != NULL && !ms[w].marked && ts.compare(&ms[w].line, &smallest) == 0);
        std::sort(step.begin(), step.end());
        for (unsigned i : step)
            if (!write_line(out, ms[i].line)) return write_error(ts);
        for (unsigned i : step) {
            if (advance_chunk(ms, i) != 0) return -1;
            tree.replay((int)i);
        }
    }
}

int merge_all_chunks(const TextSort &ts, unsigned n)
{
    FILE *out = fopen(ts.fn2, "w");
    if (out == NULL) {
        warning1("failed to open %s (%s)\n", ts.fn2, strerror(errno));
        return -1;
    }
    mstr_t *ms = (mstr_t *)xmalloc(n * sizeof(mstr_t));
    int bufsize = ts.msize / (int)n;
    if (bufsize < 1024) bufsize = 1024;
    for (unsigned i = 0; i < n; ++i) {
        if (open_chunk(ts, &ms[i], i, bufsize) != 0) {
            drop_chunks(ts, ms, 0, i);
            free(ms);
            fclose(out);
            return -1;
        }
    }
    int rc = ts.compare == cmp_str ? merge_chunks_str(ts, ms, n, out) : merge_chunks_user(ts, ms, n, out);
    drop_chunks(ts, ms, 0, n);
    free(ms);
    if (rc != 0) {
        fclose(out);
        return -1;
    }
    if (fclose(out) != 0) {
        warning1("failed to close %s (%s)\n", ts.fn2, strerror(errno));
        return -1;
    }
    return 0;
}

}  // namespace

/*
 * sortfile: the input is cut into chunks of at most msize bytes (lines and
 * their pointers together), each sorted and written to a chunk file; the
 * chunk files are then merged into the output.  The input is closed before
 * the output is opened, so a file may be sorted onto itself.
 */
int sortfile(const char *fn1, const char *fn2, int (*compare)(const void *, const void *),
             int msize, const char *temp_path)
{
    xopen_std_fds();   // no temporary file may take a standard descriptor
    TextSort ts{fn1, fn2, temp_path, compare, msize, (unsigned)getpid()};
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
    unsigned chunks = 0;
    int rc = cut_chunks(ts, fd, buf, buf + alloc, &chunks);
    close(fd);
    if (rc != 0) {
        free(buf);
        return -1;
    }
    if (chunks == 0) {
        free(buf);
        return write_empty_output(ts);
    }
    if (chunks == 1) return finish_single_chunk(ts, buf);
    free(buf);
    return merge_all_chunks(ts, chunks);
}

namespace {

typedef int (*compar_t)(const void *, const void *);
typedef void (*sort1_t)(void *, size_t, size_t, compar_t);

// One record sort's settings; run files are "<tmp_path>/<pid>-<index>".
struct RecordSort {
    int size;
    compar_t compar;
    sort1_t sort1;
    int m;  // records in the work area
    const char *tmp_path;
    int pid;
};

// Reads the input in runs of m records, sorts each and writes it to its run
// file; returns the number of runs.
int write_runs(const RecordSort &rs, int fh_in, int nmemb, char *work)
{
    int runs = (int)(((long long)nmemb + rs.m - 1) / rs.m);
    for (int r = 0; r < runs; ++r) {
        int count = r < runs - 1 ? rs.m : nmemb - (runs - 1) * rs.m;
        xread(fh_in, work, count * rs.size);
        rs.sort1(work, (size_t)count, (size_t)rs.size, rs.compar);
        int fd = xcreate("%s/%d-%d", rs.tmp_path, rs.pid, r);
        xwrite(fd, work, count * rs.size);
        close(fd);
    }
    return runs;
}

// A run during the merge: its descriptor and its slice of the work area.
struct f_t {
    int fh;
    int ci;  // current record in e; -1 once the run is exhausted
    int n;   // records in e
    char *e;
};

struct RunKey {
    const f_t *runs;
    int size;
    compar_t compar;
    bool done(int i) const { return runs[i].ci < 0; }
    int operator()(int a, int b) const
    {
        return compar(runs[a].e + (size_t)runs[a].ci * size, runs[b].e + (size_t)runs[b].ci * size);
    }
};

// Refills a run's buffer with one read; false once the run is exhausted.
bool refill_run(const RecordSort &rs, f_t *run, int index, int bytes, bool first)
{
    ssize_t got = read(run->fh, run->e, (size_t)bytes);
    if (got < 0) {
        if (first) error1("failed to read %d bytes from %s/%d-%d\n", bytes, rs.tmp_path, rs.pid, index);
        error1("failed to read %d bytes from %s/%d-%d", bytes, rs.tmp_path, rs.pid, index);
    }
    run->n = (int)(got / rs.size);
    run->ci = run->n > 0 ? 0 : -1;
    return run->n > 0;
}

/*
 * Merges the runs whose file indices are listed (ties go to the earlier in
 * the list) into fh_out and removes their files; returns the number of
 * records written.  The work area is shared as in the
 * single-pass merge: each run reads blocks of b = (m/2)/count records (at
 * least 1), the rest buffers the output.  When no record is left over for
 * the output (only when merging m runs of a two-record area), each record
 * is written straight from its run's buffer.
 */
long long merge_runs(const RecordSort &rs, const std::vector<int> &files, int fh_out, char *work)
{
    const int count = (int)files.size();
    const size_t size = (size_t)rs.size;
    int b = (rs.m / 2) / count;
    if (b < 1) b = 1;
    std::vector<f_t> runs((size_t)count);
    for (int i = 0; i < count; ++i) {
        runs[i].fh = xopen("%s/%d-%d", rs.tmp_path, rs.pid, files[i]);
        runs[i].e = work + (size_t)i * b * size;
        refill_run(rs, &runs[i], files[i], b * rs.size, true);
    }
    int live = 0;
    for (const f_t &r : runs) live += r.ci >= 0;
    char *outbuf = work + (size_t)count * b * size;
    long long outcap = (long long)rs.m - (long long)b * count, held = 0, written = 0;
    RunKey key{runs.data(), rs.size, rs.compar};
    LoserTree<SourceOrder<RunKey>> tree(count, SourceOrder<RunKey>{key});
    while (live > 0) {
        int w = tree.winner();
        f_t &run = runs[w];
        if (run.ci < 0) error1("fsort() fatal internal error\n");
        char *rec = run.e + (size_t)run.ci * size;
        if (outcap < 1) {
            xwrite(fh_out, rec, rs.size);
        } else {
            memcpy(outbuf + held * size, rec, size);
            if (++held == outcap) {
                xwrite(fh_out, outbuf, (int)(held * rs.size));
                held = 0;
            }
        }
        ++written;
        if (++run.ci == run.n && !refill_run(rs, &run, files[w], b * rs.size, false)) --live;
        tree.replay_winner();
    }
    if (held > 0) xwrite(fh_out, outbuf, (int)(held * rs.size));
    for (int i = 0; i < count; ++i) {
        close(runs[i].fh);
        xunlink("%s/%d-%d", rs.tmp_path, rs.pid, files[i]);
    }
    return written;
}

/*
 * More runs than the work area can merge at once (or than is wise to keep
 * open) are merged in passes: each pass merges consecutive groups of the
 * runs into new run files numbered after the existing ones, a lone run at the
 * end passing through as it is.  The list stays in input order, so equal
 * records still come out in the order of the runs they were read in.
 */
const int kMaxOpenRuns = 512;

std::vector<int> narrow_runs(const RecordSort &rs, int runs, char *work)
{
    std::vector<int> files((size_t)runs);
    for (int i = 0; i < runs; ++i) files[i] = i;
    int most = std::min(rs.m - 1, kMaxOpenRuns);
    int group = 2;
    while ((long long)(group + 1) * (group + 1) <= rs.m) ++group;  // about sqrt(m)
    group = std::min(group, std::max(most, 2));
    int next = runs;
    while ((int)files.size() > std::max(most, 1)) {
        std::vector<int> merged;
        for (size_t at = 0; at < files.size(); at += (size_t)group) {
            size_t stop = std::min(files.size(), at + (size_t)group);
            if (stop - at == 1) {
                merged.push_back(files[at]);
                continue;
            }
            std::vector<int> part(files.begin() + (long)at, files.begin() + (long)stop);
            int fd = xcreate("%s/%d-%d", rs.tmp_path, rs.pid, next);
            merge_runs(rs, part, fd, work);
            close(fd);
            merged.push_back(next++);
        }
        files.swap(merged);
    }
    return files;
}

// The in-memory case of both sorts: the whole input fits in msize bytes.
void sort_in_memory(int fh_in, int fh_out, int nmemb, int size, compar_t compar, sort1_t sort1)
{
    int bytes = nmemb * size;
    char *buf = (char *)xmalloc((size_t)bytes);
    xread(fh_in, buf, bytes);
    sort1(buf, (size_t)nmemb, (size_t)size, compar);
    xwrite(fh_out, buf, bytes);
    free(buf);
}

void check_written(long long written, int nmemb)
{
    if (written != nmemb)
        error1("fsort() fatal internal inconsistency; %d items written but should have %d\n", (int)written,
               nmemb);
}

// The start both record sorts share.  Returns -1 for bad arguments, 0 when
// the input fitted the budget and was sorted in memory, otherwise the number
// of sorted run files written, with the work area (m records) in *work.
int start_record_sort(RecordSort &rs, int fh_in, int fh_out, int nmemb, int msize, char **work)
{
    if (rs.size <= 0 || nmemb < 0) return -1;
    if ((long long)nmemb * rs.size <= msize) {
        sort_in_memory(fh_in, fh_out, nmemb, rs.size, rs.compar, rs.sort1);
        return 0;
    }
    rs.m = msize / rs.size;
    if (rs.m < 2) return -1;
    *work = (char *)xmalloc((size_t)rs.m * rs.size);
    return write_runs(rs, fh_in, nmemb, *work);
}

}  // namespace

/*
 * fsort: runs of m records are sorted in memory and spilled to run files,
 * then merged through one work area that serves both as the runs' read
 * buffers and as the output buffer.
 */
int fsort(int fh_in, int fh_out, int nmemb, int size, compar_t compar, sort1_t sort1, int msize,
          const char *tmp_path)
{
    xopen_std_fds();   // no temporary file may take a standard descriptor
    RecordSort rs{size, compar, sort1, 0, tmp_path, (int)getpid()};
    char *work = nullptr;
    int runs = start_record_sort(rs, fh_in, fh_out, nmemb, msize, &work);
    if (runs <= 0) return runs;
    long long written = merge_runs(rs, narrow_runs(rs, runs, work), fh_out, work);
    check_written(written, nmemb);
    free(work);
    return 0;
}

/*
 * fsort_old: the same runs as fsort, merged one record at a time: each run
 * holds only its current record, and the whole work area buffers the output.
 */
int fsort_old(int fh_in, int fh_out, int nmemb, int size, compar_t compar, sort1_t sort1, int msize,
              const char *tmp_path)
{
    xopen_std_fds();   // no temporary file may take a standard descriptor
    RecordSort rs{size, compar, sort1, 0, tmp_path, (int)getpid()};
    char *work = nullptr;
    int count = start_record_sort(rs, fh_in, fh_out, nmemb, msize, &work);
    if (count <= 0) return count;
    std::vector<f_t> runs((size_t)count);
    for (int i = 0; i < count; ++i) {
        f_t &run = runs[i];
        run.fh = xopen("%s/%d-%d", tmp_path, rs.pid, i);
        run.ci = 0;
        run.n = i < count - 1 ? rs.m : nmemb - (count - 1) * rs.m;
        run.e = (char *)xmalloc((size_t)size);
        xread(run.fh, run.e, size);
    }
    int live = count, held = 0;
    long long written = 0;
    while (live > 0) {
        int j = -1;
        for (int i = 0; i < count; ++i)
            if (runs[i].ci < runs[i].n && (j < 0 || compar(runs[i].e, runs[j].e) < 0)) j = i;
        if (j < 0) error1("fsort() fatal internal error\n");
        memcpy(work + (size_t)held * size, runs[j].e, (size_t)size);
        if (++held == rs.m) {
            xwrite(fh_out, work, held * size);
            held = 0;
        }
        ++written;
        if (++runs[j].ci == runs[j].n) --live;
        else xread(runs[j].fh, runs[j].e, size);
    }
    if (held > 0) xwrite(fh_out, work, held * size);
    check_written(written, nmemb);
    free(work);
    for (int i = 0; i < count; ++i) {
        free(runs[i].e);
        close(runs[i].fh);
        xunlink("%s/%d-%d", tmp_path, rs.pid, i);
    }
    return 0;
}

int funiq(int fh_in, int fh_out, int nmemb, int size, compar_t compar)
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

namespace {

// The intersection: while every array has a current record, copy it if all
// are equal and advance them all, else advance the first smallest.
int merge_intersection(int n, void *const *bases, const int *nmembs, int size, void **result,
                       compar_t compar)
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
int merge_union(int n, void *const *bases, const int *nmembs, int size, void **result, compar_t compar)
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

int merge(int op, int n, void *const *bases, const int *nmembs, int size, void **result, compar_t compar)
{
    if (op == 1) return merge_intersection(n, bases, nmembs, size, result, compar);
    if (op == 2) return merge_union(n, bases, nmembs, size, result, compar);
    return -1;
}
