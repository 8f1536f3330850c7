// record_sort: fsort and fsort_old, the external sorts of a file of
// fixed-size records, and funiq, which drops repeats from a sorted one.

#include "compat.h"
#include "keltools.h"
#include "internal.h"
#include "sort_internal.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using namespace keltools_internal;

namespace {

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

// Either record sort: fsort when one_record_runs is false, else fsort_old.
int sort_record_file(int fh_in, int fh_out, int nmemb, int size, CompareFn compar, SortFn sort1, int msize,
                     const char *tmp_path, bool one_record_runs)
{
    xopen_std_fds();  // no temporary file may take a standard descriptor
    RecordSort rs{size, compar, sort1, 0, tmp_path, (int)getpid(), one_record_runs, 0, {}};
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
