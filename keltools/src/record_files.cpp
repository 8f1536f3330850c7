// record_files: the record sort's reads and writes at an offset, its
// failures (handed back from a helper thread) and its run files.

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

// Reads until n bytes have arrived from offset on, the file ends or a read
// fails, leaving the descriptor's position alone, so that two threads may
// read one file at once; returns the count read, less than n with errno 0 at
// the file's end.
size_t pread_in_full(int fd, char *buf, size_t n, long long offset)
{
    size_t done = 0;
    errno = 0;
    while (done < n) {
        ssize_t got = kt_compat::pread(fd, buf + done, n - done, (off_t)(offset + (long long)done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += (size_t)got;
    }
    return done;
}

// Writes all n bytes at offset, leaving the descriptor's position alone;
// returns the count written.
size_t pwrite_in_full(int fd, const char *buf, size_t n, long long offset)
{
    size_t done = 0;
    while (done < n) {
        ssize_t put = kt_compat::pwrite(fd, buf + done, n - done, (off_t)(offset + (long long)done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += (size_t)put;
    }
    return done;
}

/* ---- one sort's settings and failures ---- */

namespace {

// Set on each of two threads at work together: a failure there is handed
// back to the thread that started the work instead of ending the process.
thread_local bool failures_handed_back = false;

struct HandedBackFailure {
    std::string message;
};

}  // namespace

void RecordSort::fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char message[512];
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (failures_handed_back) throw HandedBackFailure{message};
    for (int number : on_disk) unlink(run_name(number).c_str());
    error1("%s", message);
}


/*
 * Runs first on this thread and second on a helper thread at once (one after
 * the other when no thread can be had).  A failure of either ends the
 * process once both are done, the first's message before the second's, as
 * one thread doing first and then second would have stopped.
 */
void run_together(RecordSort &rs, const std::function<void()> &first, const std::function<void()> &second)
{
    std::string message[2];
    bool failed[2] = {false, false};
    auto guarded = [&](const std::function<void()> &part, int i) {
        failures_handed_back = true;
        try {
            part();
        } catch (const HandedBackFailure &f) {
            message[i] = f.message;
            failed[i] = true;
        }
        failures_handed_back = false;
    };
    std::thread helper;
    try {
        helper = std::thread(guarded, std::cref(second), 1);
    } catch (const std::system_error &) {
    }
    guarded(first, 0);
    if (helper.joinable())
        helper.join();
    else
        guarded(second, 1);
    for (int i = 0; i < 2; ++i)
        if (failed[i]) rs.fail("%s", message[i].c_str());
}

// Reads exactly bytes bytes, retrying short counts; a failure names
// message_bytes, the size of the whole read this one is part of.
void read_records(RecordSort &rs, int fd, char *buf, int bytes, int message_bytes)
{
    if (keltools_internal::read_in_full(fd, buf, (size_t)bytes) != (size_t)bytes)
        rs.fail("error reading %d bytes\n", message_bytes);
}

// Writes exactly bytes bytes, retrying short counts; a failure names
// message_bytes, the size of the whole write this one is part of.
void write_records(RecordSort &rs, int fd, const char *buf, long long bytes, long long message_bytes)
{
    if (keltools_internal::write_in_full(fd, buf, (size_t)bytes) != (size_t)bytes)
        rs.fail("error writing %d bytes\n", (int)message_bytes);
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

}  // namespace keltools_internal
