// record_runs: the record sort's runs: the input read in chunks, each sorted
// in memory (as two halves on two threads where the bytes cannot tell) and
// written to run files.

#include "compat.h"
#include "keltools.h"
#include "internal.h"
#include "sort_internal.h"
#include "record_sort.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace keltools_internal {

FanIn fan_in_of(const RecordSort &rs)
{
    int most = merge_fan_in();
    int group = most;
    if (!rs.one_record_runs) {
        most = std::min(rs.m - 1, most);
        group = 2;
        while ((long long)(group + 1) * (group + 1) <= rs.m) ++group;  // about sqrt(m)
        group = std::min(group, std::max(most, 2));
    }
    return {most, group};
}

namespace {

// Chunks smaller than this are sorted whole on one thread: a second would not pay.
constexpr long long kMinHalvedChunkBytes = 64 * 1024;

/*
 * Whether every group of records that compare equal in a sorted array is made
 * of identical records, so that no sort could order them into other bytes.
 * Sorting keeps each group together: comparing neighbours suffices.
 */
bool groups_identical(const char *recs, int n, size_t size, CompareFn compar)
{
    for (int i = 1; i < n; ++i) {
        const char *a = recs + (size_t)(i - 1) * size, *b = a + size;
        if (compar(a, b) == 0 && memcmp(a, b, size) != 0) return false;
    }
    return true;
}

// The same for the groups that span two sorted arrays: merging them
// compares the first record of each such group in one with the first in the
// other.
bool groups_agree(const char *a, long long na, const char *b, long long nb, size_t size, CompareFn compar)
{
    long long i = 0, j = 0;
    while (i < na && j < nb) {
        const char *x = a + (size_t)i * size, *y = b + (size_t)j * size;
        int c = compar(x, y);
        if (c == 0 && memcmp(x, y, size) != 0) return false;
        if (c <= 0)
            ++i;
        else
            ++j;
    }
    return true;
}

// The number of the n sorted records that sort before key.
long long count_before(const char *recs, long long n, size_t size, const char *key, CompareFn compar)
{
    long long lo = 0, hi = n;
    while (lo < hi) {
        long long mid = lo + (hi - lo) / 2;
        if (compar(recs + (size_t)mid * size, key) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

/*
 * A chunk of count records sorted as two halves, spilled to two run files.
 * The halves, merged with ties to the first, are byte for byte what one sort
 * of the whole chunk gives, whatever that sort does with equal records,
 * exactly when every group of equal records in the chunk is made of identical
 * records.  Each step runs on two threads: each reads and sorts its half
 * (where reads cannot be placed, the first half is read before the threads
 * start); then each checks a part of the groups (those below the first
 * half's middle record, or the rest) and writes its half.
 */
class HalvedChunk {
public:
    HalvedChunk(RecordSort &rs, char *work, int count)
        : rs_(rs), size_((size_t)rs.size), count_(count), half_(count / 2), work_(work),
          second_(work + (size_t)half_ * size_)
    {
    }

    // Reads the chunk, which starts at offset in fh_in, and sorts its halves.
    void read_and_sort(int fh_in, long long offset)
    {
        const int bytes = count_ * rs_.size, first = half_ * rs_.size, second = bytes - first;
        if (!kt_compat::positional_io) read_records(rs_, fh_in, work_, first, bytes);
        run_together(
            rs_,
            [&] {
                if (kt_compat::positional_io)
                    read_records_at(fh_in, second_, second, offset + first);
                else
                    read_records(rs_, fh_in, second_, second, bytes);
                rs_.sort1(second_, (size_t)(count_ - half_), size_, rs_.compar);
            },
            [&] {
                if (kt_compat::positional_io) read_records_at(fh_in, work_, first, offset);
                rs_.sort1(work_, (size_t)half_, size_, rs_.compar);
            });
        if (kt_compat::positional_io && lseek(fh_in, (off_t)(offset + bytes), SEEK_SET) < 0)
            rs_.fail("error reading %d bytes\n", bytes);
    }

    // Writes the halves to new run files, numbered in order, and returns
    // whether their records are those of one sort of the chunk.
    bool spill_and_check(int *first_run, int *second_run)
    {
        const long long bytes = (long long)count_ * rs_.size;
        int fd[2] = {create_run(rs_, first_run), create_run(rs_, second_run)};
        const char *pivot = work_ + (size_t)(half_ / 2) * size_;
        long long a_cut = count_before(work_, half_, size_, pivot, rs_.compar);
        long long b_cut = count_before(second_, count_ - half_, size_, pivot, rs_.compar);
        bool agree[2] = {true, true};
        run_together(
            rs_,
            [&] {
                agree[0] = groups_identical(work_, half_, size_, rs_.compar) &&
                           groups_agree(work_, a_cut, second_, b_cut, size_, rs_.compar);
                write_records(rs_, fd[0], work_, (long long)half_ * rs_.size, bytes);
            },
            [&] {
                agree[1] = groups_identical(second_, count_ - half_, size_, rs_.compar) &&
                           groups_agree(work_ + (size_t)a_cut * size_, half_ - a_cut, second_ + (size_t)b_cut * size_,
                                        count_ - half_ - b_cut, size_, rs_.compar);
                write_records(rs_, fd[1], second_, (long long)(count_ - half_) * rs_.size, bytes);
            });
        close(fd[0]);
        close(fd[1]);
        return agree[0] && agree[1];
    }

private:
    // Reads one half where the chunk puts it; a failure names the chunk's size.
    void read_records_at(int fd, char *buf, int n, long long at)
    {
        if (pread_in_full(fd, buf, (size_t)n, at) != (size_t)n) rs_.fail("error reading %d bytes\n", count_ * rs_.size);
    }

    RecordSort &rs_;
    size_t size_;
    int count_, half_;
    char *work_, *second_;
};

// The input's position when its chunks can be read again (a regular file), else -1.
long long rereadable_from(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return (long long)lseek(fd, 0, SEEK_CUR);
}

// Reads bytes bytes at offset again, leaving the descriptor's position as it was.
void reread_records(RecordSort &rs, int fd, long long offset, char *buf, int bytes)
{
    off_t here = lseek(fd, 0, SEEK_CUR);
    if (here < 0 || lseek(fd, (off_t)offset, SEEK_SET) != (off_t)offset) rs.fail("error reading %d bytes\n", bytes);
    read_records(rs, fd, buf, bytes, bytes);
    if (lseek(fd, here, SEEK_SET) != here) rs.fail("error reading %d bytes\n", bytes);
}

// Writes count sorted records to a new run file; returns its number.
int spill_run(RecordSort &rs, const char *recs, int count)
{
    int number;
    int fd = create_run(rs, &number);
    write_records(rs, fd, recs, (long long)count * rs.size, (long long)count * rs.size);
    close(fd);
    return number;
}



// How many of the chunks may be spilled as two runs without costing the
// merge another pass over the data.
int chunks_to_halve(const RecordSort &rs, int chunks)
{
    FanIn fan = fan_in_of(rs);
    long long within = std::max(fan.most, 1);  // the most runs merged in as many passes as the chunks need
    while (within < chunks) within *= std::max(fan.group, 2);
    return (int)std::min<long long>(chunks, within - chunks);
}

}  // namespace

/*
 * Reads the input in chunks of m records, sorts each and writes it to run
 * files; returns the run files in input order.  With two threads a chunk is
 * sorted as two halves at once and spilled as two runs, which the merge puts
 * back together as one sort of the chunk would have ordered them.  A chunk
 * with equal records that differ loses those two runs and is read again and
 * sorted whole, since their order is the in-memory sort's choice over the
 * whole chunk; so are all chunks after it (the input is likely to hold more),
 * and those that would make the merge take another pass.
 */
std::vector<int> write_runs(RecordSort &rs, int fh_in, int nmemb, char *work)
{
    int chunks = (int)(((long long)nmemb + rs.m - 1) / rs.m);
    bool wide = rs.threads > 1 && (long long)rs.m * rs.size >= kMinHalvedChunkBytes;
    long long start = wide ? rereadable_from(fh_in) : -1;
    bool halves = start >= 0;
    int to_halve = halves ? chunks_to_halve(rs, chunks) : 0;
    std::vector<int> files;
    for (int r = 0; r < chunks; ++r) {
        int count = r < chunks - 1 ? rs.m : nmemb - (chunks - 1) * rs.m;
        int bytes = count * rs.size;
        if (halves && r < to_halve && count >= 2) {
            HalvedChunk chunk(rs, work, count);
            chunk.read_and_sort(fh_in, start + (long long)r * rs.m * rs.size);
            int first, second;
            if (chunk.spill_and_check(&first, &second)) {
                files.push_back(first);
                files.push_back(second);
                continue;
            }
            remove_run(rs, first);
            remove_run(rs, second);
            reread_records(rs, fh_in, start + (long long)r * rs.m * rs.size, work, bytes);
            halves = false;
        } else {
            read_records(rs, fh_in, work, bytes, bytes);
        }
        rs.sort1(work, (size_t)count, (size_t)rs.size, rs.compar);
        files.push_back(spill_run(rs, work, count));
    }
    return files;
}

}  // namespace keltools_internal
