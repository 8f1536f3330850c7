// sort_temp: the temporary files of the file sorts, their names, how many
// may be open at once, and how many threads the sorts may use.

#include "compat.h"
#include "keltools.h"
#include "sort_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <thread>

namespace keltools_internal {

// Numbers tried past a clash with an existing file before giving up.
constexpr unsigned kClashTries = 1000;

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

int create_exclusive(const std::function<std::string(unsigned)> &name_of, size_t limit, unsigned *number,
                     std::string *name)
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

namespace {

// How many files the process may have open (at most 4096 counted).
long open_file_limit()
{
    long limit = 512;
#ifdef _WIN32
    limit = _getmaxstdio();
#else
    struct rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
        limit = rl.rlim_cur > 4096 ? 4096 : (long)rl.rlim_cur;
#endif
    return limit;
}

}  // namespace

/*
 * Half of what the descriptor limit leaves after the standard streams, the
 * caller's files and the merge's output, at most 256.  Under an ordinary
 * limit a sort of a few hundred chunks still merges in one pass; a low limit
 * makes more passes instead of failing with "Too many open files".
 */
int merge_fan_in()
{
    return (int)std::clamp((open_file_limit() - 8) / 2, 2L, 256L);
}

bool room_for_two_merges(int n)
{
    return 2 * ((long)n + 1) + 16 <= open_file_limit();
}

int sort_threads()
{
    unsigned online = std::thread::hardware_concurrency();
    int threads = online == 0 ? 1 : (int)std::min(online, 256u);
    const char *cap = getenv("KELTOOLS_SORT_THREADS");
    if (cap != NULL && *cap != '\0') {
        int wanted = atoi(cap);
        if (wanted >= 1 && wanted < threads) threads = wanted;
    }
    return threads;
}

}  // namespace keltools_internal
