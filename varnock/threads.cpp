// How many threads the run may use.

#include "threads.h"

#include <cstdlib>
#include <thread>

int run_threads()
{
    const long most = 64;
    if (const char *forced = getenv("VARNOCK_THREADS")) {
        char *end;
        long n = strtol(forced, &end, 10);
        if (end != forced && *end == 0 && n >= 1 && n <= most)
            return (int)n;
    }
    unsigned online = std::thread::hardware_concurrency();
    return online == 0 ? 1 : online > (unsigned)most ? (int)most : (int)online;
}
