// Times fsort on a file of 16-byte records (a random 64-bit key and a
// payload) against an in-memory std::sort of the same records, and checks
// that both orders agree.
//
//   sort_records_bench FILE MB BUDGET TMPDIR
// FILE is (re)written with MB megabytes of records.

#include "keltools.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Record {
    uint64_t key;
    uint64_t payload;
};
static_assert(sizeof(Record) == 16, "16-byte records");

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int cmp_record(const void *a, const void *b)
{
    uint64_t x = ((const Record *)a)->key, y = ((const Record *)b)->key;
    return (x > y) - (x < y);
}

// An in-memory sort with fsort's sort1 signature, for records of this type.
void std_sort1(void *base, size_t n, size_t, int (*)(const void *, const void *))
{
    Record *r = (Record *)base;
    std::sort(r, r + n, [](const Record &a, const Record &b) { return a.key < b.key; });
}

std::vector<Record> generate(size_t n)
{
    std::mt19937_64 rng(42);
    std::vector<Record> recs(n);
    for (size_t i = 0; i < n; ++i) recs[i] = {rng(), i};
    return recs;
}

void write_all(const std::string &path, const std::vector<Record> &recs)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, recs.data(), recs.size() * sizeof(Record)) != (ssize_t)(recs.size() * sizeof(Record))) {
        perror(path.c_str());
        exit(1);
    }
    close(fd);
}

std::vector<Record> read_all(const std::string &path, size_t n)
{
    std::vector<Record> recs(n);
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0 || read(fd, recs.data(), n * sizeof(Record)) != (ssize_t)(n * sizeof(Record))) {
        perror(path.c_str());
        exit(1);
    }
    close(fd);
    return recs;
}

double time_fsort(const std::string &in, const std::string &out, size_t n, int budget, const std::string &tmp,
                  void (*sort1)(void *, size_t, size_t, int (*)(const void *, const void *)))
{
    int fin = open(in.c_str(), O_RDONLY);
    int fout = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    double t0 = now();
    int rc = fsort(fin, fout, (int)n, sizeof(Record), cmp_record, sort1, budget, tmp.c_str());
    double t = now() - t0;
    close(fin);
    close(fout);
    if (rc != 0) {
        fprintf(stderr, "fsort returned %d\n", rc);
        exit(1);
    }
    return t;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: sort_records_bench FILE MB BUDGET TMPDIR\n");
        return 2;
    }
    std::string in = argv[1], tmp = argv[4], out = tmp + "/bench.records.out";
    size_t n = ((size_t)atoll(argv[2]) << 20) / sizeof(Record);
    int budget = atoi(argv[3]);
    write_all(in, generate(n));

    double tq = time_fsort(in, out, n, budget, tmp, qsort);
    double ts = time_fsort(in, out, n, budget, tmp, std_sort1);
    std::vector<Record> from_file = read_all(out, n);

    double t0 = now();
    std::vector<Record> mem = read_all(in, n);
    double t_load = now() - t0;
    t0 = now();
    std::sort(mem.begin(), mem.end(), [](const Record &a, const Record &b) { return a.key < b.key; });
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
