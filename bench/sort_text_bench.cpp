// Times sortfile (cmp_str) against GNU sort on the same text file and the
// same memory budget, checks that both outputs are byte-identical, and
// prints one row: case, input size, budget, both wall times, their ratio.
//
//   sort_text_bench gen-random FILE MB SEED   random lines of 1 to 80 bytes
//   sort_text_bench gen-equal FILE MB         one line repeated
//   sort_text_bench run NAME FILE BUDGET TMPDIR [REPEAT]
// With REPEAT, each program runs that many times (alternating) and the
// fastest run of each counts, which damps the noise of a shared machine.

#include "keltools.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long long file_size(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

int gen_random(const char *path, long long mb, unsigned seed)
{
    FILE *f = fopen(path, "w");
    if (!f) return 1;
    std::mt19937_64 rng(seed);
    const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;-";
    const int na = (int)sizeof alphabet - 1;
    long long target = mb << 20, written = 0;
    char line[128];
    while (written < target) {
        uint64_t r = rng();
        int len = 1 + (int)(r % 80);
        for (int i = 0; i < len; ++i) {
            if (i % 8 == 0) r = rng();
            line[i] = alphabet[(r & 0xff) % na];
            r >>= 8;
        }
        line[len] = '\n';
        fwrite(line, 1, (size_t)len + 1, f);
        written += len + 1;
    }
    return fclose(f) != 0;
}

int gen_equal(const char *path, long long mb)
{
    FILE *f = fopen(path, "w");
    if (!f) return 1;
    const char line[] = "the very same line of text, over and over again\n";
    for (long long written = 0; written < (mb << 20); written += (long long)sizeof line - 1) fputs(line, f);
    return fclose(f) != 0;
}

double time_gnu_sort(const std::string &in, const std::string &out, long long budget, const std::string &tmp)
{
    std::string cmd = "LC_ALL=C sort -S " + std::to_string(budget) + "b -T '" + tmp +
                      "' --parallel=1 -o '" + out + "' '" + in + "'";
    double t0 = now();
    int rc = system(cmd.c_str());
    double t = now() - t0;
    if (rc != 0) {
        fprintf(stderr, "GNU sort failed: %s\n", cmd.c_str());
        exit(1);
    }
    return t;
}

double time_sortfile(const std::string &in, const std::string &out, long long budget, const std::string &tmp)
{
    double t0 = now();
    int rc = sortfile(in.c_str(), out.c_str(), cmp_str, (int)budget, tmp.c_str());
    double t = now() - t0;
    if (rc != 0) {
        fprintf(stderr, "sortfile failed\n");
        exit(1);
    }
    return t;
}

int run(const char *name, const std::string &in, long long budget, const std::string &tmp, int repeat)
{
    std::string out1 = tmp + "/bench.sortfile.out", out2 = tmp + "/bench.gnusort.out";
    double tg = 1e30, ts = 1e30;
    for (int r = 0; r < repeat; ++r) {
        // GNU sort first, so that both find the input in the page cache.
        tg = std::min(tg, time_gnu_sort(in, out2, budget, tmp));
        ts = std::min(ts, time_sortfile(in, out1, budget, tmp));
    }
    std::string cmp = "cmp -s '" + out1 + "' '" + out2 + "'";
    bool same = system(cmp.c_str()) == 0;
    printf("%-10s %6.1f MB  budget %9lld  sortfile %6.2f s  GNU sort %6.2f s  ratio %5.2f  %s\n", name,
           file_size(in) / 1048576.0, budget, ts, tg, ts / tg, same ? "identical" : "OUTPUTS DIFFER");
    fflush(stdout);
    unlink(out1.c_str());
    unlink(out2.c_str());
    return same ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && !strcmp(argv[1], "gen-random")) return gen_random(argv[2], atoll(argv[3]), (unsigned)atoi(argv[4]));
    if (argc == 4 && !strcmp(argv[1], "gen-equal")) return gen_equal(argv[2], atoll(argv[3]));
    if ((argc == 6 || argc == 7) && !strcmp(argv[1], "run"))
        return run(argv[2], argv[3], atoll(argv[4]), argv[5], argc == 7 ? std::max(1, atoi(argv[6])) : 1);
    fprintf(stderr, "usage: sort_text_bench gen-random FILE MB SEED | gen-equal FILE MB | run NAME FILE BUDGET TMPDIR [REPEAT]\n");
    return 2;
}
