// line_sort: in-memory sorts of lines by their bytes, for the text-file sort.

#include "compat.h"
#include "sort_internal.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <utility>

namespace keltools_internal {

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
void sort_lines_by_bytes(char **lines, size_t n, char *base)
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

}  // namespace keltools_internal
