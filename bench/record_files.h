// Files of 16-byte records (a random 64-bit key and a payload) for the record
// sort's benchmarks: making them, reading them back, and timing fsort on them.
// Included by sort_records_bench.cpp and cores_bench.cpp.
#pragma once

#include "keltools.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace record_files {

struct Record {
    uint64_t key;
    uint64_t payload;
};
static_assert(sizeof(Record) == 16, "16-byte records");

inline bool key_before(const Record &a, const Record &b) { return a.key < b.key; }

inline int cmp_record(const void *a, const void *b)
{
    uint64_t x = ((const Record *)a)->key, y = ((const Record *)b)->key;
    return (x > y) - (x < y);
}

// An in-memory sort with fsort's sort1 signature, for records of this type.
inline void std_sort1(void *base, size_t n, size_t, int (*)(const void *, const void *))
{
    std::sort((Record *)base, (Record *)base + n, key_before);
}

inline double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] inline void die(const char *what)
{
    perror(what);
    exit(1);
}

// n records with keys from a fixed seed, payloads 0 to n - 1.
inline std::vector<Record> generate_records(size_t n)
{
    std::mt19937_64 rng(42);
    std::vector<Record> recs(n);
    for (size_t i = 0; i < n; ++i) recs[i] = {rng(), i};
    return recs;
}

inline void write_records(const std::string &path, const std::vector<Record> &recs)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    size_t bytes = recs.size() * sizeof(Record);
    if (fd < 0 || write(fd, recs.data(), bytes) != (ssize_t)bytes) die(path.c_str());
    close(fd);
}

inline std::vector<Record> read_records(const std::string &path, size_t n)
{
    std::vector<Record> recs(n);
    int fd = open(path.c_str(), O_RDONLY);
    size_t bytes = n * sizeof(Record);
    if (fd < 0 || read(fd, recs.data(), bytes) != (ssize_t)bytes) die(path.c_str());
    close(fd);
    return recs;
}

// Seconds fsort takes from its call to its return, sorting n records of in
// into out with sort1 in memory; stops the program when fsort fails.
inline double time_fsort(const std::string &in, const std::string &out, size_t n, int budget,
                         const std::string &tmp,
                         void (*sort1)(void *, size_t, size_t, int (*)(const void *, const void *)))
{
    int fin = open(in.c_str(), O_RDONLY);
    int fout = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fin < 0 || fout < 0) die("fsort files");
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

}  // namespace record_files
