// The pieces shared by the sorts of arrays, text files and record files;
// included only by the files that make up those sorts.
#pragma once

#include "keltools.h"

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace keltools_internal {

typedef int (*CompareFn)(const void *, const void *);

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

// Clears the bytes of a little-endian word from its first NUL byte on.
inline uint64_t clear_from_nul(uint64_t w)
{
    uint64_t zero = (w - 0x0101010101010101ULL) & ~w & 0x8080808080808080ULL;
    if (zero == 0) return w;
    int keep = __builtin_ctzll(zero) / 8;  // bytes before the first NUL
    return keep == 0 ? 0 : w & (~0ULL >> (64 - 8 * keep));
}

/* ---- the merge engine ---- */

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

/* ---- temporary files (sort_temp.cpp) ---- */

// Temporary names must fit this buffer size; a longer name is refused, never cut.
constexpr size_t kTempNameSize = 260;

// The text printf would print.
std::string format_name(const char *format, ...) KT_PRINTF(1, 2);

/*
 * Creates a new file exclusively, readable and writable by its owner only, so
 * that no planted file or link is ever followed.  name_of(number) gives the
 * name; on a clash the next number is taken.  Returns the descriptor, with the
 * number and name used; -1 with errno set (ENAMETOOLONG for a name of
 * limit bytes or more).
 */
int create_exclusive(const std::function<std::string(unsigned)> &name_of, size_t limit, unsigned *number,
                     std::string *name);

// How many files one merge pass reads at once.
int merge_fan_in();

// Whether two merges of n files each, with an output each, may be open at
// once and still leave 16 descriptors to the caller and the runtime.
bool room_for_two_merges(int n);

// How many threads a sort may keep busy: the online processors, lowered by a
// positive KELTOOLS_SORT_THREADS in the environment (1 gives the one-thread
// sorts, which tests compare the threaded ones against).
int sort_threads();

// Reads up to n bytes at offset, retrying short reads; the count, or -1 on
// an error.
long long read_at(int fd, char *buf, long long n, long long offset);

/* ---- dividing sorted line files for a merge on two threads (line_split.cpp) ---- */

/*
 * Sorted line files: every line ends with a line feed, and the lines are
 * ordered as strcmp orders them, each up to its first NUL.
 * pick_divider gives a text of at most 32 bytes below which about half of
 * the files' bytes lie (sizes gives their lengths), judged by each file's
 * middle line; "" when no file gives a line.  first_line_not_below gives the
 * offset of the file's first line that is not below divider (the size when
 * none is), or -1 when the file cannot be read.
 */
std::string pick_divider(const std::vector<std::string> &files, const std::vector<long long> &sizes);
long long first_line_not_below(const char *file, long long size, const std::string &divider);

/* ---- in-memory sort of lines (line_sort.cpp) ---- */

// Sorts the pointers to the n lines of a chunk, all in the buffer that starts
// at base, in strcmp's order.  Each string may be read eight bytes past its NUL.
void sort_lines_by_bytes(char **lines, size_t n, char *base);

}  // namespace keltools_internal
