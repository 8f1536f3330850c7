// Times fsort on a file of 16-byte records (a random 64-bit key and a
// payload) against an in-memory std::sort of the same records, and checks
// that both orders agree.
//
//   sort_records_bench FILE MB BUDGET TMPDIR
// FILE is (re)written with MB megabytes of records.

#include "record_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace record_files;

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: sort_records_bench FILE MB BUDGET TMPDIR\n");
        return 2;
    }
    std::string in = argv[1], tmp = argv[4], out = tmp + "/bench.records.out";
    size_t n = ((size_t)atoll(argv[2]) << 20) / sizeof(Record);
    int budget = atoi(argv[3]);
    write_records(in, generate_records(n));

    double tq = time_fsort(in, out, n, budget, tmp, qsort);
    double ts = time_fsort(in, out, n, budget, tmp, std_sort1);
    std::vector<Record> from_file = read_records(out, n);

    double t0 = now();
    std::vector<Record> mem = read_records(in, n);
    double t_load = now() - t0;
    t0 = now();
    std::sort(mem.begin(), mem.end(), key_before);
    double t_sort = now() - t0;
    bool same = true;
    for (size_t i = 0; i < n && same; ++i) same = from_file[i].key == mem[i].key;
    unlink(out.c_str());

    printf("%zu records of 16 bytes (%.0f MB), fsort budget %d bytes\n", n, n * 16 / 1048576.0, budget);
    printf("  fsort, qsort in memory     %7.2f s\n", tq);
    printf("  fsort, std::sort in memory %7.2f s\n", ts);
    printf("  std::sort in memory        %7.2f s (plus %.2f s to read the file)\n", t_sort, t_load);
    printf("  ratio fsort(qsort) / std::sort %5.2f; fsort(std::sort) / std::sort %5.2f; %s\n", tq / t_sort,
           ts / t_sort, same ? "same order" : "ORDERS DIFFER");
    return same ? 0 : 1;
}
