// Record-file sorts (fsort, fsort_old), funiq and the in-memory merge.

#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

using kt_test::TempDir;

namespace {

// A record sorted by key only; tag tells equal keys apart.
struct Rec {
    int key;
    int tag;
    bool operator==(const Rec &o) const { return key == o.key && tag == o.tag; }
};

int cmp_key(const void *a, const void *b)
{
    int x = ((const Rec *)a)->key, y = ((const Rec *)b)->key;
    return (x > y) - (x < y);
}

typedef int (*sorter_t)(int, int, int, int, int (*)(const void *, const void *),
                        void (*)(void *, size_t, size_t, int (*)(const void *, const void *)), int,
                        const char *);

void write_records(const std::string &path, const std::vector<Rec> &recs)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
    ASSERT_GE(fd, 0);
    if (!recs.empty()) {
        ASSERT_EQ(write(fd, recs.data(), recs.size() * sizeof(Rec)), (ssize_t)(recs.size() * sizeof(Rec)));
    }
    close(fd);
}

std::vector<Rec> read_records(const std::string &path)
{
    std::string bytes = kt_test::read_file(path);
    std::vector<Rec> recs(bytes.size() / sizeof(Rec));
    if (!recs.empty()) memcpy(recs.data(), bytes.data(), recs.size() * sizeof(Rec));
    return recs;
}

// Sorts the records through files with a budget of m records; returns the
// sort's result and the output file's records.
struct Sorted {
    int rc;
    std::vector<Rec> out;
};

Sorted sort_records(sorter_t sorter, const std::vector<Rec> &in, int m, const std::string &tmp)
{
    TempDir dir;
    write_records(dir.file("in"), in);
    int fin = open(dir.file("in").c_str(), O_RDONLY | O_BINARY);
    int fout = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
    int rc = sorter(fin, fout, (int)in.size(), sizeof(Rec), cmp_key, qsort, m * (int)sizeof(Rec) + 3, tmp.c_str());
    close(fin);
    close(fout);
    return {rc, read_records(dir.file("out"))};
}

// Keys of the runs, each run's keys distinct so that the order inside a run
// never depends on the in-memory sort; tag = 100 * run + position.
std::vector<Rec> runs_of(const std::vector<std::vector<int>> &runs)
{
    std::vector<Rec> recs;
    for (size_t r = 0; r < runs.size(); ++r)
        for (size_t i = 0; i < runs[r].size(); ++i) recs.push_back({runs[r][i], (int)(100 * r + i)});
    return recs;
}

// The expected output: ascending keys, equal keys in run order.
std::vector<Rec> in_run_order(std::vector<Rec> recs)
{
    std::stable_sort(recs.begin(), recs.end(), [](const Rec &a, const Rec &b) { return a.key < b.key; });
    return recs;
}

bool is_empty_dir(const std::string &dir)
{
    return std::filesystem::is_empty(dir);
}

// Records of 2 KiB, so that a budget of 256 of them (512 KiB) makes chunks
// and merges large enough for the sorts to take a second thread.
struct Wide {
    int key;
    int tag;
    char fill[2040];
};

int cmp_wide(const void *a, const void *b)
{
    int x = ((const Wide *)a)->key, y = ((const Wide *)b)->key;
    return (x > y) - (x < y);
}

typedef void (*sort1_t)(void *, size_t, size_t, int (*)(const void *, const void *));

// An in-memory sort that puts each group of equal records in the reverse of
// their order in the array: what it gives depends on where chunks begin.
void reversing_sort1(void *base, size_t n, size_t size, int (*compar)(const void *, const void *))
{
    char *b = (char *)base;
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t x, size_t y) { return compar(b + x * size, b + y * size) < 0; });
    for (size_t i = 0, j; i < n; i = j) {
        for (j = i + 1; j < n && compar(b + order[i] * size, b + order[j] * size) == 0; ++j) {}
        std::reverse(order.begin() + (long)i, order.begin() + (long)j);
    }
    std::string sorted(n * size, '\0');
    for (size_t i = 0; i < n; ++i) memcpy(&sorted[i * size], b + order[i] * size, size);
    memcpy(b, sorted.data(), sorted.size());
}

// n records with the given keys and tags, the fill made from the tag.
std::vector<Wide> wide_records(size_t n, int (*key_of)(size_t), int (*tag_of)(size_t))
{
    std::vector<Wide> recs(n);
    for (size_t i = 0; i < n; ++i) {
        recs[i].key = key_of(i);
        recs[i].tag = tag_of(i);
        memset(recs[i].fill, (char)(recs[i].tag * 31 + 1), sizeof recs[i].fill);
    }
    return recs;
}

std::string bytes_of(const std::vector<Wide> &recs)
{
    return std::string((const char *)recs.data(), recs.size() * sizeof(Wide));
}

// The records ordered by key, then by chunk of m, then within a chunk in
// input order or its reverse: what any record sort gives with a stable
// in-memory sort, or with reversing_sort1.
std::string by_key_and_chunk(const std::vector<Wide> &in, size_t m, bool reversed)
{
    std::vector<size_t> pos(in.size());
    std::iota(pos.begin(), pos.end(), 0);
    std::sort(pos.begin(), pos.end(), [&](size_t a, size_t b) {
        if (in[a].key != in[b].key) return in[a].key < in[b].key;
        if (a / m != b / m) return a / m < b / m;
        return reversed ? a > b : a < b;
    });
    std::vector<Wide> out;
    for (size_t p : pos) out.push_back(in[p]);
    return bytes_of(out);
}

// The output bytes of a record sort with a budget of 256 Wide records, with
// the threads the machine has or with one.  The input stands behind one
// record of other bytes; the output is written behind "HEAD", through a
// descriptor opened to append when append is set.
std::string sort_wide(sorter_t sorter, const std::vector<Wide> &in, sort1_t sort1, bool one_thread, bool append,
                      const std::string &tmp)
{
    if (one_thread)
        setenv("KELTOOLS_SORT_THREADS", "1", 1);
    else
        unsetenv("KELTOOLS_SORT_THREADS");
    TempDir dir;
    kt_test::write_file(dir.file("in"), std::string(sizeof(Wide), 'x') + bytes_of(in));
    kt_test::write_file(dir.file("out"), "HEAD");
    int fin = open(dir.file("in").c_str(), O_RDONLY | O_BINARY);
    lseek(fin, sizeof(Wide), SEEK_SET);
    int fout = open(dir.file("out").c_str(), O_WRONLY | O_BINARY | (append ? O_APPEND : 0));
    lseek(fout, 4, SEEK_SET);
    int rc = sorter(fin, fout, (int)in.size(), sizeof(Wide), cmp_wide, sort1, 256 * sizeof(Wide), tmp.c_str());
    EXPECT_EQ(lseek(fin, 0, SEEK_CUR), (off_t)((in.size() + 1) * sizeof(Wide)));
    EXPECT_EQ(lseek(fout, 0, SEEK_CUR), (off_t)(4 + in.size() * sizeof(Wide)));
    close(fin);
    close(fout);
    unsetenv("KELTOOLS_SORT_THREADS");
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(is_empty_dir(tmp));
    std::string out = kt_test::read_file(dir.file("out"));
    EXPECT_EQ(out.substr(0, 4), "HEAD");
    return out.substr(4);
}

#ifndef _WIN32
// Lowers the descriptor limit for the object's lifetime, so that merges
// take several passes.
class FewDescriptors {
public:
    explicit FewDescriptors(rlim_t limit)
    {
        getrlimit(RLIMIT_NOFILE, &saved_);
        struct rlimit low = saved_;
        low.rlim_cur = std::min(limit, saved_.rlim_cur);
        setrlimit(RLIMIT_NOFILE, &low);
    }
    ~FewDescriptors() { setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    struct rlimit saved_;
};
#endif

}  // namespace

TEST(RecordSort, InputThatFitsIsSortedInMemoryWithoutRunFiles)
{
    TempDir dir;
    std::vector<Rec> in = {{5, 0}, {1, 1}, {3, 2}, {2, 3}};
    write_records(dir.file("in"), in);
    // Both descriptors are used from where they stand: skip one record of
    // input, append behind a prefix of output.
    int fin = open(dir.file("in").c_str(), O_RDONLY | O_BINARY);
    lseek(fin, sizeof(Rec), SEEK_SET);
    int fout = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
    ASSERT_EQ(write(fout, "HEAD", 4), 4);
    for (sorter_t sorter : {fsort, fsort_old}) {
        lseek(fin, sizeof(Rec), SEEK_SET);
        lseek(fout, 4, SEEK_SET);
        // A run file would have to go to a directory that does not exist.
        EXPECT_EQ(sorter(fin, fout, 3, sizeof(Rec), cmp_key, qsort, 3 * sizeof(Rec), dir.file("none").c_str()), 0);
        EXPECT_EQ(lseek(fin, 0, SEEK_CUR), (off_t)(4 * sizeof(Rec)));
        std::string bytes = kt_test::read_file(dir.file("out"));
        ASSERT_EQ(bytes.size(), 4 + 3 * sizeof(Rec));
        EXPECT_EQ(bytes.substr(0, 4), "HEAD");
        Rec out[3];
        memcpy(out, bytes.data() + 4, sizeof out);
        EXPECT_EQ(out[0], (Rec{1, 1}));
        EXPECT_EQ(out[1], (Rec{2, 3}));
        EXPECT_EQ(out[2], (Rec{3, 2}));
    }
    close(fin);
    close(fout);
}

TEST(RecordSort, ThreeRunsWithOneRecordBuffersKeepRunOrderForTies)
{
    // m = 10 and 25 records: runs of 10, 10 and 5; each run reads one record
    // at a time (b = 5 / 3 = 1) and the output buffer holds 7.
    std::vector<Rec> in = runs_of({{9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
                                   {0, 3, 6, 9, 2, 5, 8, 1, 4, 7},
                                   {4, 2, 0, 8, 6}});
    TempDir tmp;
    for (sorter_t sorter : {fsort, fsort_old}) {
        Sorted s = sort_records(sorter, in, 10, tmp.path());
        EXPECT_EQ(s.rc, 0);
        EXPECT_EQ(s.out, in_run_order(in));
        EXPECT_TRUE(is_empty_dir(tmp.path()));
    }
    // A multiple of m: the last run is full.
    std::vector<Rec> two = runs_of({{3, 1, 2, 0, 4, 9, 8, 7, 6, 5}, {5, 6, 7, 8, 9, 0, 1, 2, 3, 4}});
    for (sorter_t sorter : {fsort, fsort_old}) EXPECT_EQ(sort_records(sorter, two, 10, tmp.path()).out, in_run_order(two));
}

TEST(RecordSort, BudgetOfOneRecordIsRefused)
{
    TempDir dir, tmp;
    write_records(dir.file("in"), runs_of({{1, 2, 3}}));
    int fin = open(dir.file("in").c_str(), O_RDONLY | O_BINARY);
    int fout = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
    for (sorter_t sorter : {fsort, fsort_old}) {
        EXPECT_EQ(sorter(fin, fout, 3, sizeof(Rec), cmp_key, qsort, 2 * sizeof(Rec) - 1, tmp.path().c_str()), -1);
        EXPECT_EQ(lseek(fin, 0, SEEK_CUR), 0);
        EXPECT_EQ(lseek(fout, 0, SEEK_CUR), 0);
    }
    close(fin);
    close(fout);
    EXPECT_TRUE(is_empty_dir(tmp.path()));
}

TEST(RecordSort, MoreRunsThanTheWorkAreaCanMergeAtOnce)
{
    // Two records of work area: every run is a pair.  And 4 records for 61
    // records: 16 runs, far more than the 3 that one pass could merge.
    std::vector<std::vector<int>> pairs = {{5, 1}, {4, 5}, {0, 1}, {2, 1}, {3}};
    std::vector<std::vector<int>> many;
    for (int r = 0; r < 16; ++r) {
        std::vector<int> run;
        for (int i = 0; i < (r < 15 ? 4 : 1); ++i) run.push_back((r * 7 + i * 3) % 5 + (i == 3 ? 5 : 0));
        many.push_back(run);
    }
    TempDir tmp;
    for (sorter_t sorter : {fsort, fsort_old}) {
        std::vector<Rec> in = runs_of(pairs);
        Sorted s = sort_records(sorter, in, 2, tmp.path());
        EXPECT_EQ(s.rc, 0);
        EXPECT_EQ(s.out, in_run_order(in));
        EXPECT_TRUE(is_empty_dir(tmp.path()));

        in = runs_of(many);
        s = sort_records(sorter, in, 4, tmp.path());
        EXPECT_EQ(s.rc, 0);
        EXPECT_EQ(s.out, in_run_order(in));
        EXPECT_TRUE(is_empty_dir(tmp.path()));
    }
}

TEST(RecordSort, LargeRandomInputAgainstStableSort)
{
    // 5000 records in 97-record runs (52 of them) under both merges.
    std::vector<Rec> in;
    unsigned x = 12345;
    for (int i = 0; i < 5000; ++i) {
        x = x * 1103515245u + 12345u;
        in.push_back({(int)((x >> 16) % 300), i});
    }
    // Equal keys inside one run are ordered by the in-memory sort; sort1 is
    // a stable sort here, so the whole result is the stable order.
    auto stable_sort1 = [](void *base, size_t n, size_t size, int (*)(const void *, const void *)) {
        Rec *r = (Rec *)base;
        (void)size;
        std::stable_sort(r, r + n, [](const Rec &a, const Rec &b) { return a.key < b.key; });
    };
    TempDir dir, tmp;
    write_records(dir.file("in"), in);
    for (sorter_t sorter : {fsort, fsort_old}) {
        int fin = open(dir.file("in").c_str(), O_RDONLY | O_BINARY);
        int fout = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
        EXPECT_EQ(sorter(fin, fout, 5000, sizeof(Rec), cmp_key, stable_sort1, 97 * sizeof(Rec), tmp.path().c_str()), 0);
        close(fin);
        close(fout);
        EXPECT_EQ(read_records(dir.file("out")), in_run_order(in));
        EXPECT_TRUE(is_empty_dir(tmp.path()));
    }
}

TEST(RecordSort, ThreadsGiveTheBytesOfOneThread)
{
    // 1200 records in chunks of 256: five chunks, the last of 176.  Distinct
    // random keys; one key for all, told apart by tag; and keys 0..6 whose
    // records are identical within a key in the first three chunks and
    // differ from the fourth on, where the in-memory sort's order of equal
    // records shows.
    const size_t n = 1200, m = 256;
    std::vector<Wide> random = wide_records(
        n, [](size_t i) { return (int)((i * 7919) % 100003); }, [](size_t i) { return (int)i; });
    std::vector<Wide> one_key = wide_records(
        n, [](size_t) { return 5; }, [](size_t i) { return (int)i; });
    std::vector<Wide> mixed = wide_records(
        n, [](size_t i) { return (int)(i % 7); }, [](size_t i) { return i < 3 * m ? (int)(i % 7) : (int)i; });
    struct Case {
        const std::vector<Wide> *in;
        sort1_t sort1;
        std::string expected;  // empty: only the same as one thread
    };
    std::vector<Case> cases = {
        {&random, qsort, by_key_and_chunk(random, m, false)},
        {&one_key, qsort, ""},
        {&one_key, reversing_sort1, by_key_and_chunk(one_key, m, true)},
        {&mixed, qsort, ""},
        {&mixed, reversing_sort1, by_key_and_chunk(mixed, m, true)},
    };
    TempDir tmp;
    auto check_all = [&](const char *passes) {
        for (sorter_t sorter : {fsort, fsort_old}) {
            for (const Case &c : cases) {
                SCOPED_TRACE(std::string(passes) + (sorter == fsort ? " fsort case " : " fsort_old case ") +
                             std::to_string(&c - cases.data()));
                std::string one = sort_wide(sorter, *c.in, c.sort1, true, false, tmp.path());
                EXPECT_TRUE(one == sort_wide(sorter, *c.in, c.sort1, false, false, tmp.path()));
                if (!c.expected.empty()) {
                    EXPECT_TRUE(one == c.expected);
                }
            }
            // An output opened to append is written on one thread.
            EXPECT_TRUE(sort_wide(sorter, random, qsort, false, true, tmp.path()) == cases[0].expected);
        }
    };
    check_all("one pass");
#ifndef _WIN32
    FewDescriptors few(14);  // merges of at most 3 runs
    check_all("several passes");
#endif
}

// An input shorter than announced stops either sort, on two threads as on
// one, with the size of the chunk it could not read, and leaves no run file.
TEST(RecordSort, ShortInputStopsTheThreadedSortsCleanly)
{
    TempDir dir, tmp;
    std::vector<Wide> recs = wide_records(
        700, [](size_t i) { return (int)((i * 7919) % 100003); }, [](size_t i) { return (int)i; });
    kt_test::write_file(dir.file("in"), bytes_of(recs));
    for (sorter_t sorter : {fsort, fsort_old}) {
        for (const char *threads : {"1", ""}) {
            kt_test::ChildResult r = kt_test::run_in_child([&] {
                setenv("KELTOOLS_SORT_THREADS", threads, 1);
                int fin = open(dir.file("in").c_str(), O_RDONLY | O_BINARY);
                int fout = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
                sorter(fin, fout, 1200, sizeof(Wide), cmp_wide, qsort, 256 * sizeof(Wide), tmp.path().c_str());
            });
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "error reading 524288 bytes\n");  // the third chunk: 256 records of 2048 bytes
            EXPECT_TRUE(is_empty_dir(tmp.path()));
        }
    }
}

TEST(Funiq, KeepsTheFirstOfEachGroup)
{
    TempDir dir;
    auto run = [&](const std::vector<Rec> &in, std::vector<Rec> *out) {
        write_records(dir.file("in"), in);
        int fin = open(dir.file("in").c_str(), O_RDONLY | O_BINARY);
        int fout = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
        int n = funiq(fin, fout, (int)in.size(), sizeof(Rec), cmp_key);
        close(fin);
        close(fout);
        *out = read_records(dir.file("out"));
        return n;
    };
    std::vector<Rec> out;
    EXPECT_EQ(run({}, &out), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(run({{7, 0}, {7, 1}, {7, 2}}, &out), 1);
    EXPECT_EQ(out, (std::vector<Rec>{{7, 0}}));
    EXPECT_EQ(run({{1, 0}, {1, 1}, {2, 2}, {3, 3}, {3, 4}, {1, 5}}, &out), 4);
    EXPECT_EQ(out, (std::vector<Rec>{{1, 0}, {2, 2}, {3, 3}, {1, 5}}));
}

TEST(Merge, IntersectionKeepsRecordsEveryArrayHolds)
{
    std::vector<int> a = {1, 1, 2}, b = {1, 2}, c = {0, 1, 2, 2, 5}, empty;
    void *result = nullptr;
    void *ab[] = {a.data(), b.data()};
    int nab[] = {3, 2};
    ASSERT_EQ(merge(1, 2, ab, nab, sizeof(int), &result, cmp_integers), 2);
    EXPECT_EQ(((int *)result)[0], 1);
    EXPECT_EQ(((int *)result)[1], 2);
    free(result);

    void *abc[] = {a.data(), c.data(), b.data()};
    int nabc[] = {3, 5, 2};
    ASSERT_EQ(merge(1, 3, abc, nabc, sizeof(int), &result, cmp_integers), 2);
    EXPECT_EQ(((int *)result)[0], 1);
    EXPECT_EQ(((int *)result)[1], 2);
    free(result);

    // Repeats survive as often as every array holds them; one array is copied.
    std::vector<int> d = {2, 2, 2, 4}, e = {2, 2, 3};
    void *de[] = {d.data(), e.data()};
    int nde[] = {4, 3};
    ASSERT_EQ(merge(1, 2, de, nde, sizeof(int), &result, cmp_integers), 2);
    EXPECT_EQ(((int *)result)[0], 2);
    EXPECT_EQ(((int *)result)[1], 2);
    free(result);
    void *only[] = {a.data()};
    ASSERT_EQ(merge(1, 1, only, nab, sizeof(int), &result, cmp_integers), 3);
    EXPECT_EQ(((int *)result)[2], 2);
    free(result);

    // An empty array, or no array at all: 0 and *result untouched.
    void *with_empty[] = {a.data(), empty.data()};
    int n0[] = {3, 0};
    void *untouched = &a;
    result = untouched;
    EXPECT_EQ(merge(1, 2, with_empty, n0, sizeof(int), &result, cmp_integers), 0);
    EXPECT_EQ(merge(1, 0, with_empty, n0, sizeof(int), &result, cmp_integers), 0);
    EXPECT_EQ(result, untouched);
}

TEST(Merge, UnionWritesEachRecordOnceAndBadOpIsRefused)
{
    std::vector<int> a = {1, 1, 2}, b = {1, 3}, c = {2, 3, 3, 4};
    void *result = nullptr;
    void *ab[] = {a.data(), b.data()};
    int nab[] = {3, 2};
    ASSERT_EQ(merge(2, 2, ab, nab, sizeof(int), &result, cmp_integers), 3);
    EXPECT_EQ(std::vector<int>((int *)result, (int *)result + 3), (std::vector<int>{1, 2, 3}));
    free(result);

    void *abc[] = {a.data(), b.data(), c.data()};
    int nabc[] = {3, 0, 4};  // the middle array counts as empty
    ASSERT_EQ(merge(2, 3, abc, nabc, sizeof(int), &result, cmp_integers), 4);
    EXPECT_EQ(std::vector<int>((int *)result, (int *)result + 4), (std::vector<int>{1, 2, 3, 4}));
    free(result);

    // Of equal records the first array's comes first.
    std::vector<Rec> r1 = {{1, 10}, {2, 11}}, r2 = {{1, 20}, {2, 21}, {2, 22}};
    void *rr[] = {r2.data(), r1.data()};
    int nrr[] = {3, 2};
    ASSERT_EQ(merge(2, 2, rr, nrr, sizeof(Rec), &result, cmp_key), 2);
    EXPECT_EQ(((Rec *)result)[0], (Rec{1, 20}));
    EXPECT_EQ(((Rec *)result)[1], (Rec{2, 21}));
    free(result);

    result = nullptr;
    EXPECT_EQ(merge(2, 0, ab, nab, sizeof(int), &result, cmp_integers), 0);
    EXPECT_NE(result, nullptr);  // a new, empty array
    free(result);

    result = &a;
    EXPECT_EQ(merge(3, 2, ab, nab, sizeof(int), &result, cmp_integers), -1);
    EXPECT_EQ(merge(0, 2, ab, nab, sizeof(int), &result, cmp_integers), -1);
    EXPECT_EQ(result, (void *)&a);
}
