// The sorts' part of bench/cores_bench.sh.
//
//   cores_bench sortfile IN OUT BUDGET TMPDIR
//       sorts a text file with sortfile (cmp_str), as one timed process
//   cores_bench records FILE MB BUDGET TMPDIR REPEAT
//       writes MB megabytes of 16-byte records (a random 64-bit key and a
//       payload) to FILE, then REPEAT times, alternating, sorts them in memory
//       with std::sort and through fsort (std::sort in memory too); prints
//       "<median std::sort s> <median fsort s> same|DIFFER"
// The records' times cover the sorting alone: std::sort of records already in
// memory, fsort from the call to its return.

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

bool key_before(const Record &a, const Record &b) { return a.key < b.key; }

int cmp_record(const void *a, const void *b)
{
    uint64_t x = ((const Record *)a)->key, y = ((const Record *)b)->key;
    return (x > y) - (x < y);
}

void std_sort1(void *base, size_t n, size_t, int (*)(const void *, const void *))
{
    std::sort((Record *)base, (Record *)base + n, key_before);
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

[[noreturn]] void die(const char *what)
{
    perror(what);
    exit(1);
}

void write_records(const std::string &path, const std::vector<Record> &recs)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    size_t bytes = recs.size() * sizeof(Record);
    if (fd < 0 || write(fd, recs.data(), bytes) != (ssize_t)bytes) die(path.c_str());
    close(fd);
}

std::vector<Record> read_records(const std::string &path, size_t n)
{
    std::vector<Record> recs(n);
    int fd = open(path.c_str(), O_RDONLY);
    size_t bytes = n * sizeof(Record);
    if (fd < 0 || read(fd, recs.data(), bytes) != (ssize_t)bytes) die(path.c_str());
    close(fd);
    return recs;
}

double time_fsort(const std::string &in, const std::string &out, size_t n, int budget, const std::string &tmp)
{
    int fin = open(in.c_str(), O_RDONLY);
    int fout = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fin < 0 || fout < 0) die("fsort files");
    double t0 = now();
    int rc = fsort(fin, fout, (int)n, sizeof(Record), cmp_record, std_sort1, budget, tmp.c_str());
    double t = now() - t0;
    close(fin);
    close(fout);
    if (rc != 0) {
        fprintf(stderr, "fsort returned %d\n", rc);
        exit(1);
    }
    return t;
}

int records(const std::string &file, long long mb, int budget, const std::string &tmp, int repeat)
{
    size_t n = ((size_t)mb << 20) / sizeof(Record);
    std::vector<Record> recs(n);
    std::mt19937_64 rng(42);
    for (size_t i = 0; i < n; ++i) recs[i] = {rng(), i};
    write_records(file, recs);

    std::string out = tmp + "/cores_bench.records.out";
    std::vector<double> in_memory, through_files;
    std::vector<Record> sorted;
    for (int r = 0; r < repeat; ++r) {
        sorted = recs;
        double t0 = now();
        std::sort(sorted.begin(), sorted.end(), key_before);
        in_memory.push_back(now() - t0);
        through_files.push_back(time_fsort(file, out, n, budget, tmp));
    }
    std::vector<Record> from_file = read_records(out, n);
    unlink(out.c_str());
    bool same = std::equal(sorted.begin(), sorted.end(), from_file.begin(),
                           [](const Record &a, const Record &b) { return a.key == b.key; });
    printf("%.3f %.3f %s\n", median(in_memory), median(through_files), same ? "same" : "DIFFER");
    return same ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 6 && !strcmp(argv[1], "sortfile"))
        return sortfile(argv[2], argv[3], cmp_str, atoi(argv[4]), argv[5]) == 0 ? 0 : 1;
    if (argc == 7 && !strcmp(argv[1], "records"))
        return records(argv[2], atoll(argv[3]), atoi(argv[4]), argv[5], std::max(1, atoi(argv[6])));
    fprintf(stderr, "usage: cores_bench sortfile IN OUT BUDGET TMPDIR | records FILE MB BUDGET TMPDIR REPEAT\n");
    return 2;
}
