// record_sort: fsort and fsort_old, the external sorts of a file of
// fixed-size records, with their merges, and funiq, which drops repeats from
// a sorted one.  The runs are formed in record_runs.cpp; the run files and
// failures are record_files.cpp's.
//
// With a second core both sorts use two threads where the result cannot
// tell: the two halves of a chunk are sorted at once when every group of
// records the comparison calls equal is made of identical records (so that
// any correct sort gives the same bytes), and every merge is cut at one
// record into the records below it and the rest, merged side by side into
// their places in the output.

#include "compat.h"
#include "keltools.h"
#include "internal.h"
#include "sort_internal.h"
#include "record_sort.h"

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

using namespace keltools_internal;

namespace {

/* ---- merging the runs ---- */

/*
 * A run during a merge: its file, its number, its buffer of records and the
 * part of the file it reads: from pos to end, or with end -1 by plain reads
 * to the file's end.
 */
struct RunReader {
    int fh;
    int number;
    int ci;  // current record in e; -1 once the run is exhausted
    int n;   // records in e
    char *e;
    long long pos = 0, end = -1;
};

// The merge's view of the runs: each one's current record, null once it is
// exhausted.
struct RunKey {
    const char *const *current;
    CompareFn compar;
    bool done(int i) const { return current[i] == nullptr; }
    int operator()(int a, int b) const { return compar(current[a], current[b]); }
};

// Refills a run's buffer with one read of up to bytes bytes; false once the
// run is exhausted.  A failure names message_bytes, the size of the reads of
// a merge on one thread.
bool refill_run(RecordSort &rs, RunReader *run, int bytes, int message_bytes)
{
    size_t want = (size_t)bytes;
    if (run->end >= 0) want = (size_t)std::min<long long>(bytes, run->end - run->pos);
    // A short count is the end of the run only when no read failed: a
    // record cut by a short read would otherwise be dropped.
    size_t got = run->end < 0 ? keltools_internal::read_in_full(run->fh, run->e, want)
                              : pread_in_full(run->fh, run->e, want, run->pos);
    if (got < want && errno != 0) {
        if (run->pos == 0)
            rs.fail("failed to read %d bytes from %s/%d-%d\n", message_bytes, rs.tmp_path, rs.pid, run->number);
        rs.fail("failed to read %d bytes from %s/%d-%d", message_bytes, rs.tmp_path, rs.pid, run->number);
    }
    run->pos += (long long)got;
    run->n = (int)(got / rs.size);
    run->ci = run->n > 0 ? 0 : -1;
    return run->n > 0;
}

/*
 * How one merge of count runs uses memory.  fsort shares its area of m
 * records: each run reads blocks of b = (m/2)/count records (at least 1), the
 * rest buffers the output; when no record is left over for the output (only
 * when merging m runs of a two-record area), each record is written straight
 * from its run's buffer.  fsort_old gives each run one record of its own and
 * the whole area to the output.
 */
struct MergeLayout {
    int b;
    char *run_area, *outbuf;
    long long outcap;
};

MergeLayout layout_for(const RecordSort &rs, int count, char *area, int m, char *one_record_area)
{
    if (rs.one_record_runs) return {1, one_record_area, area, m};
    int b = std::max((m / 2) / count, 1);
    return {b, area, area + (size_t)count * b * rs.size, (long long)m - (long long)b * count};
}

/*
 * Where a merge writes: blocks of cap records to fd, at the descriptor's
 * position (at -1) or at offset at on, record by record when cap is below 1.
 * A failed write names the size of the write of a merge on one thread that
 * would have held its first record: one_thread_block records of the
 * total, counted from first, the number of the sink's first record there.
 */
struct Sink {
    int fd;
    long long at;
    char *buf;
    long long cap;
    long long first, one_thread_block, total;
    long long held = 0, done = 0;

    void put(RecordSort &rs, const char *rec)
    {
        if (cap < 1) {
            write(rs, rec, 1);
            return;
        }
        memcpy(buf + held * rs.size, rec, (size_t)rs.size);
        if (++held == cap) flush(rs);
    }

    void flush(RecordSort &rs)
    {
        if (held > 0) write(rs, buf, held);
        held = 0;
    }

    void write(RecordSort &rs, const char *recs, long long count)
    {
        long long bytes = count * rs.size;
        bool whole = at < 0 ? keltools_internal::write_in_full(fd, recs, (size_t)bytes) == (size_t)bytes
                            : pwrite_in_full(fd, recs, (size_t)bytes, at + done * rs.size) == (size_t)bytes;
        if (!whole) {
            long long block_start = (first + done) / one_thread_block * one_thread_block;
            rs.fail("error writing %d bytes\n", (int)(std::min(one_thread_block, total - block_start) * rs.size));
        }
        done += count;
    }
};

// Merges the runs, whose buffers and parts are set, into the sink, ties
// going to the earlier run; returns the number of records merged.
long long merge_into(RecordSort &rs, std::vector<RunReader> &runs, int block, int message_bytes, Sink &sink)
{
    const size_t size = (size_t)rs.size;
    int live = 0;
    for (RunReader &run : runs) live += refill_run(rs, &run, block, message_bytes);
    std::vector<const char *> current(runs.size());
    for (size_t i = 0; i < runs.size(); ++i) current[i] = runs[i].ci < 0 ? nullptr : runs[i].e;
    long long merged = 0;
    auto tree = tournament((int)runs.size(), RunKey{current.data(), rs.compar});
    while (live > 0) {
        int w = tree.winner();
        RunReader &run = runs[w];
        if (current[w] == nullptr) rs.fail("fsort() fatal internal error\n");
        sink.put(rs, current[w]);
        ++merged;
        if (++run.ci < run.n)
            current[w] += size;
        else if (refill_run(rs, &run, block, message_bytes))
            current[w] = run.e;
        else
            current[w] = nullptr, --live;
        tree.replay_winner();
    }
    sink.flush(rs);
    return merged;
}

/* ---- cutting a merge in two ---- */

// Merges of fewer bytes than this run on one thread: a second would not pay.
constexpr long long kMinSplitMergeBytes = 256 * 1024;
// Records sampled from all runs to choose the record a merge is cut at.
constexpr int kCutSamples = 256;

/*
 * Where a merge is cut: in each run the first record that belongs to the
 * second part (records[i] of the run before it), and the records of the first
 * part in all.  Every record of the first part sorts before every record of
 * the second, so merging the parts apart, ties to the earlier run in each,
 * and putting them one behind the other gives the merge of the whole.
 */
struct Cut {
    std::vector<long long> records;
    long long below = 0;
};

// Reads record index of a run into rec.
void read_record(RecordSort &rs, const RunReader &run, long long index, char *rec, int message_bytes)
{
    if (pread_in_full(run.fh, rec, (size_t)rs.size, index * rs.size) != (size_t)rs.size)
        rs.fail("failed to read %d bytes from %s/%d-%d\n", message_bytes, rs.tmp_path, rs.pid, run.number);
}

// The number of a sorted run's n records that sort before the pivot (or with
// or_equal, not after it).
long long records_before(RecordSort &rs, const RunReader &run, long long n, const char *pivot, bool or_equal,
                         char *probe, int message_bytes)
{
    long long lo = 0, hi = n;
    while (lo < hi) {
        long long mid = lo + (hi - lo) / 2;
        read_record(rs, run, mid, probe, message_bytes);
        int c = rs.compar(probe, pivot);
        if (c < 0 || (or_equal && c == 0))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

/*
 * Chooses a pivot among records sampled evenly from the runs, the one with
 * about half of the samples' weight (each stands for its share of its run)
 * below it, and cuts every run at it: before the records equal to it or after
 * them, whichever halves the merge better.  scratch holds `room` records.
 * Returns false when the runs cannot be cut into two parts that both hold
 * records.
 */
bool choose_cut(RecordSort &rs, const std::vector<RunReader> &runs, const std::vector<long long> &sizes,
                char *scratch, int room, int message_bytes, Cut *cut)
{
    const int count = (int)runs.size();
    const size_t size = (size_t)rs.size;
    const int per_run = std::min(kCutSamples, room - 1) / count;
    if (per_run < 1) return false;
    long long total = 0;
    std::vector<double> weight;
    for (int i = 0; i < count; ++i) {
        total += sizes[i];
        int k = (int)std::min<long long>(per_run, sizes[i]);
        for (int j = 0; j < k; ++j) {
            read_record(rs, runs[i], (2 * j + 1) * sizes[i] / (2 * k), scratch + weight.size() * size, message_bytes);
            weight.push_back((double)sizes[i] / k);
        }
    }
    const int samples = (int)weight.size();
    int pivot = 0;
    double best = -1;
    for (int s = 0; s < samples; ++s) {
        double below = 0;
        for (int t = 0; t < samples; ++t)
            if (rs.compar(scratch + (size_t)t * size, scratch + (size_t)s * size) < 0) below += weight[t];
        double off = below > total / 2.0 ? below - total / 2.0 : total / 2.0 - below;
        if (best < 0 || off < best) best = off, pivot = s;
    }
    const char *p = scratch + (size_t)pivot * size;
    char *probe = scratch + (size_t)samples * size;
    std::vector<long long> before(count), not_after(count);
    long long sum_before = 0, sum_not_after = 0;
    for (int i = 0; i < count; ++i) {
        sum_before += before[i] = records_before(rs, runs[i], sizes[i], p, false, probe, message_bytes);
        sum_not_after += not_after[i] = records_before(rs, runs[i], sizes[i], p, true, probe, message_bytes);
    }
    bool use_before = std::llabs(2 * sum_before - total) <= std::llabs(2 * sum_not_after - total);
    cut->records = use_before ? before : not_after;
    cut->below = use_before ? sum_before : sum_not_after;
    return cut->below > 0 && cut->below < total;
}

// The records of each run, from its file's size; false if one cannot be had.
bool run_sizes(const RecordSort &rs, const std::vector<RunReader> &runs, std::vector<long long> *sizes)
{
    for (const RunReader &run : runs) {
        struct stat st;
        if (fstat(run.fh, &st) != 0) return false;
        sizes->push_back((long long)st.st_size / rs.size);
    }
    return true;
}

/* ---- the merges ---- */

// The memory of the merges: the work area of m records and, for fsort_old,
// one record per run and thread.
struct MergeMemory {
    char *work;
    char *one_record_area;
};

/*
 * Cuts the merge of the opened runs in two and merges the parts at once, the
 * second on a helper thread, each in its half of the memory, writing at
 * their places from the output's position out_at on.  Returns the records
 * written, or -1 when the merge is better left to one thread.
 */
long long merge_in_two(RecordSort &rs, std::vector<RunReader> &runs, int fh_out, long long out_at,
                       const MergeMemory &mem, const MergeLayout &whole, long long total)
{
    const int count = (int)runs.size();
    const size_t size = (size_t)rs.size;
    if (rs.threads < 2 || out_at < 0 || total * rs.size < kMinSplitMergeBytes) return -1;
    int half[2] = {rs.m / 2, rs.m - rs.m / 2};
    MergeLayout lay[2];
    for (int t = 0; t < 2; ++t) {
        char *area = mem.work + (size_t)(t == 0 ? 0 : half[0]) * size;
        lay[t] = layout_for(rs, count, area, half[t], mem.one_record_area + (size_t)t * count * size);
        if (lay[t].outcap < 1) return -1;
    }
    std::vector<long long> sizes;
    Cut cut;
    const int message_bytes = whole.b * rs.size;
    if (!run_sizes(rs, runs, &sizes) || !choose_cut(rs, runs, sizes, mem.work, rs.m, message_bytes, &cut))
        return -1;
    std::vector<RunReader> part[2] = {runs, runs};
    for (int i = 0; i < count; ++i) {
        part[0][i].pos = 0, part[0][i].end = cut.records[i] * rs.size;
        part[1][i].pos = part[0][i].end, part[1][i].end = sizes[i] * rs.size;
        for (int t = 0; t < 2; ++t) part[t][i].e = lay[t].run_area + (size_t)i * lay[t].b * size;
    }
    long long block = std::max(whole.outcap, 1LL), merged[2] = {0, 0};
    Sink sink[2] = {{fh_out, out_at, lay[0].outbuf, lay[0].outcap, 0, block, total},
                    {fh_out, out_at + cut.below * rs.size, lay[1].outbuf, lay[1].outcap, cut.below, block, total}};
    auto merge_part = [&](int t) { merged[t] = merge_into(rs, part[t], lay[t].b * rs.size, message_bytes, sink[t]); };
    run_together(rs, [&] { merge_part(0); }, [&] { merge_part(1); });
    long long end = out_at + (merged[0] + merged[1]) * rs.size;
    if (lseek(fh_out, (off_t)end, SEEK_SET) != (off_t)end) rs.fail("error writing %d bytes\n", (int)size);
    return merged[0] + merged[1];
}

// Merges the listed runs (ties go to the earlier in the list) into fh_out,
// from its position out_at on (-1: not known to be writable at an offset),
// and removes their files; returns the number of records written.
long long merge_runs(RecordSort &rs, const std::vector<int> &files, int fh_out, long long out_at,
                     const MergeMemory &mem)
{
    const int count = (int)files.size();
    const size_t size = (size_t)rs.size;
    MergeLayout lay = layout_for(rs, count, mem.work, rs.m, mem.one_record_area);
    std::vector<RunReader> runs((size_t)count);
    for (int i = 0; i < count; ++i) runs[i] = {open_run(rs, files[i]), files[i], 0, 0, nullptr};
    long long total = 0;
    for (const RunReader &run : runs) {
        struct stat st;
        total += fstat(run.fh, &st) == 0 ? (long long)st.st_size / rs.size : 0;
    }
    long long written = merge_in_two(rs, runs, fh_out, out_at, mem, lay, total);
    if (written < 0) {
        for (int i = 0; i < count; ++i) runs[i].e = lay.run_area + (size_t)i * lay.b * size;
        Sink out{fh_out, -1, lay.outbuf, lay.outcap, 0, std::max(lay.outcap, 1LL), total};
        written = merge_into(rs, runs, lay.b * rs.size, lay.b * rs.size, out);
    }
    for (RunReader &run : runs) {
        close(run.fh);
        remove_run(rs, run.number);
    }
    return written;
}

/*
 * Merges the runs into fh_out, in passes when there are more than one merge
 * may read at once: each pass merges consecutive groups into new run files,
 * a lone run at the end passing through as it is.  The list stays in input
 * order, so equal records still come out in the order of the runs they were
 * read in.
 */
long long merge_all_runs(RecordSort &rs, std::vector<int> files, int fh_out, char *work)
{
    auto [most, group] = fan_in_of(rs);
    int threads = std::min(rs.threads, 2);
    std::vector<char> one_record_area(rs.one_record_runs ? (size_t)threads * std::max(group, most) * rs.size : 0);
    MergeMemory mem{work, one_record_area.data()};
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
            merge_runs(rs, part, fd, kt_compat::writable_at(fd), mem);
            close(fd);
            merged.push_back(number);
        }
        files.swap(merged);
    }
    return merge_runs(rs, files, fh_out, kt_compat::writable_at(fh_out), mem);
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
        read_records(rs, fh_in, buf, bytes, bytes);
        rs.sort1(buf, (size_t)nmemb, (size_t)rs.size, rs.compar);
        write_records(rs, fh_out, buf, bytes, bytes);
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

// Either record sort: fsort when one_record_runs is false, else fsort_old.
int sort_record_file(int fh_in, int fh_out, int nmemb, int size, CompareFn compar, SortFn sort1, int msize,
                     const char *tmp_path, bool one_record_runs)
{
    xopen_std_fds();  // no temporary file may take a standard descriptor
    RecordSort rs{size, compar, sort1, 0, tmp_path, (int)getpid(), one_record_runs, sort_threads(), 0, {}};
    return sort_records(rs, fh_in, fh_out, nmemb, msize);
}

}  // namespace

/*
 * fsort: the merge reads each run in blocks and buffers the output, all in
 * one work area.
 */
int fsort(int fh_in, int fh_out, int nmemb, int size, CompareFn compar, SortFn sort1, int msize,
          const char *tmp_path)
{
    return sort_record_file(fh_in, fh_out, nmemb, size, compar, sort1, msize, tmp_path, false);
}

/*
 * fsort_old: the same runs as fsort, merged one record at a time: each run
 * holds only its current record, and the whole work area buffers the output.
 */
int fsort_old(int fh_in, int fh_out, int nmemb, int size, CompareFn compar, SortFn sort1, int msize,
              const char *tmp_path)
{
    return sort_record_file(fh_in, fh_out, nmemb, size, compar, sort1, msize, tmp_path, true);
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
