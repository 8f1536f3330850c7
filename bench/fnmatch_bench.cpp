// Wildcard matching time: the library's fnmatch1 against the recursive
// matcher it replaced (kept for tests as fnmatch1_reference), on 8 star
// groups ("*a" seven times, then "*b") against a name of n 'a's, which
// neither matches, and against the same name ending in 'b', which matches.
// The recursive matcher runs in a child with a time limit, as its time grows
// as n to the power of the groups.
//
//   fnmatch_bench [N] [LIMIT_SECONDS]     (defaults 10000 and 10)
#include "keltools.h"
#include "fnmatch1_reference.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using matcher_fn = int (*)(const char *, const char *, int);

// Seconds per call, over as many calls as fit in about a quarter second.
double seconds_per_call(matcher_fn match, const std::string &pattern, const std::string &name, int *result)
{
    using clock = std::chrono::steady_clock;
    auto begin = clock::now();
    long calls = 0;
    double elapsed = 0;
    do {
        *result = match(pattern.c_str(), name.c_str(), 0);
        calls++;
        elapsed = std::chrono::duration<double>(clock::now() - begin).count();
    } while (elapsed < 0.25);
    return elapsed / (double)calls;
}

void report(const char *who, matcher_fn match, const std::string &pattern, const std::string &name)
{
    int result = -1;
    double t = seconds_per_call(match, pattern, name, &result);
    printf("%-9s %-8s n=%-6zu %12.3f us/call  (%s)\n", who, name.back() == 'b' ? "match" : "no match",
           name.size(), t * 1e6, result == 0 ? "matched" : "no match");
    fflush(stdout);
}

// The recursive matcher, stopped after limit seconds.
void report_limited(const std::string &pattern, const std::string &name, unsigned limit)
{
    pid_t child = fork();
    if (child == 0) {
        alarm(limit);
        report("recursive", fnmatch1_reference::fnmatch1, pattern, name);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status))
        printf("recursive %-8s n=%-6zu did not finish in %u s\n", name.back() == 'b' ? "match" : "no match",
               name.size(), limit);
}

}  // namespace

int main(int argc, char **argv)
{
    size_t n = argc > 1 ? strtoul(argv[1], nullptr, 10) : 10000;
    unsigned limit = argc > 2 ? (unsigned)atoi(argv[2]) : 10;
    std::string pattern = "*a*a*a*a*a*a*a*b";
    printf("pattern %s (8 star groups)\n", pattern.c_str());
    for (const std::string &name : {std::string(n, 'a'), std::string(n - 1, 'a') + "b"}) {
        report("library", fnmatch1, pattern, name);
        report_limited(pattern, name, limit);
    }
    for (size_t small : {20, 40, 80})
        report_limited(pattern, std::string(small, 'a'), limit);
    return 0;
}
