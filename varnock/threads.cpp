// How many threads the run may use.

#include "threads.h"

#include <cstdlib>
#include <thread>

static const long most_threads = 64;

// The count VARNOCK_THREADS asks for, or 0.
static int asked_threads()
{
    const char *asked = getenv("VARNOCK_THREADS");
    if (!asked)
        return 0;
    char *end;
    long n = strtol(asked, &end, 10);
    return end != asked && *end == 0 && n >= 1 && n <= most_threads ? (int)n : 0;
}

bool threads_asked()
{
    return asked_threads() > 0;
}

int run_threads()
{
    if (int asked = asked_threads())
        return asked;
    unsigned online = std::thread::hardware_concurrency();
    return online == 0 ? 1 : online > (unsigned)most_threads ? (int)most_threads : (int)online;
}
