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

#include "record_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace record_files;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int records(const std::string &file, long long mb, int budget, const std::string &tmp, int repeat)
{
    size_t n = ((size_t)mb << 20) / sizeof(Record);
    std::vector<Record> recs = generate_records(n);
    write_records(file, recs);

    std::string out = tmp + "/cores_bench.records.out";
    std::vector<double> in_memory, through_files;
    std::vector<Record> sorted;
    for (int r = 0; r < repeat; ++r) {
        sorted = recs;
        double t0 = now();
        std::sort(sorted.begin(), sorted.end(), key_before);
        in_memory.push_back(now() - t0);
        through_files.push_back(time_fsort(file, out, n, budget, tmp, std_sort1));
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
