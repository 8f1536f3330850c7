// The record sort's shared pieces: one sort's settings, failures and run
// files (record_files.cpp) and the forming of the runs (record_runs.cpp),
// which the merges (record_sort.cpp) build on.  Included only by those.
#pragma once

#include "sort_internal.h"

#include <stddef.h>

#include <functional>
#include <string>
#include <vector>

namespace keltools_internal {

typedef void (*SortFn)(void *, size_t, size_t, CompareFn);

/* ---- record_files.cpp ---- */

// Reads until n bytes have arrived from offset on, the file ends or a read
// fails, leaving the descriptor's position alone, so that two threads may
// read one file at once; returns the count read, less than n with errno 0 at
// the file's end.
size_t pread_in_full(int fd, char *buf, size_t n, long long offset);

// Writes all n bytes at offset, leaving the descriptor's position alone;
// returns the count written.
size_t pwrite_in_full(int fd, const char *buf, size_t n, long long offset);

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
    int threads;           // threads the sort may keep busy
    unsigned next_number = 0;
    std::vector<int> on_disk;  // numbers of the run files that exist

    std::string run_name(int number) const { return format_name("%s/%d-%d", tmp_path, pid, number); }

    // Ends the process with the message, after removing the run files; on a
    // thread whose failures are handed back, hands it back instead.
    [[noreturn]] void fail(const char *format, ...) KT_PRINTF(2, 3);
};

/*
 * Runs first on this thread and second on a helper thread at once (one after
 * the other when no thread can be had).  A failure of either ends the
 * process once both are done, the first's message before the second's, as
 * one thread doing first and then second would have stopped.
 */
void run_together(RecordSort &rs, const std::function<void()> &first, const std::function<void()> &second);

// Read or write exactly bytes bytes, retrying short counts; a failure names
// message_bytes, the size of the whole read or write this one is part of.
void read_records(RecordSort &rs, int fd, char *buf, int bytes, int message_bytes);
void write_records(RecordSort &rs, int fd, const char *buf, long long bytes, long long message_bytes);

// Creates the next run file; returns its descriptor, its number in *number.
int create_run(RecordSort &rs, int *number);
int open_run(RecordSort &rs, int number);
void remove_run(RecordSort &rs, int number);

/* ---- record_runs.cpp ---- */

/*
 * How many runs one merge reads at once (most: the descriptor bound, and for
 * fsort the work area, which must leave each run a record and the output
 * one), and how many each pass merges into one when there are more.
 */
struct FanIn {
    int most, group;
};

FanIn fan_in_of(const RecordSort &rs);

// Reads the input in chunks of m records, sorts each and writes it to run
// files, on two threads where that leaves the bytes alone; returns the run
// files in input order.
std::vector<int> write_runs(RecordSort &rs, int fh_in, int nmemb, char *work);

}  // namespace keltools_internal
