// The file sorts never lose or corrupt data: temporary names that do not fit
// are refused, an in-place sort that fails leaves its input (also in a folder
// it cannot write), a replaced file keeps its owner or loses its set-id bits,
// a link stays a link, every byte of a line is kept, merges keep few files
// open, temporary files never follow a planted link, and no temporary file
// outlives a failure or a success.
#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using kt_test::ChildResult;
using kt_test::kNoMounts;
using kt_test::TempDir;
using kt_test::read_file;
using kt_test::run_in_child;
using kt_test::write_file;

namespace {

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string make_dir(const TempDir &dir, const std::string &name)
{
    std::filesystem::create_directory(dir.file(name));
    return dir.file(name);
}

// "line <n>" for n = count down to 1, and the same lines in byte order.
std::string countdown(int count)
{
    std::string text;
    for (int i = count; i >= 1; --i) text += "line " + std::to_string(i) + "\n";
    return text;
}

[[maybe_unused]] std::string byte_sorted(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t at = 0, lf; at < text.size(); at = lf + 1) {
        lf = text.find('\n', at);
        lines.push_back(text.substr(at, lf - at));
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto &l : lines) out += l + "\n";
    return out;
}

// Runs sortfile in a child; its output is "<rc> <pid>".
ChildResult sort_in_child(const std::string &in, const std::string &out, int msize, const std::string &tmp,
                          const std::function<void()> &setup = [] {})
{
    return run_in_child([&] {
        setup();
        printf("%d %u", sortfile(in.c_str(), out.c_str(), cmp_str, msize, tmp.c_str()), (unsigned)getpid());
    });
}

std::string pid_of(const ChildResult &r)
{
    return r.out.substr(r.out.find(' ') + 1);
}

#ifndef _WIN32
void set_limit(int resource, rlim_t value)
{
    struct rlimit limit = {value, value};
    setrlimit(resource, &limit);
}

// An unprivileged user and group for children of a test run as root.
constexpr uid_t kNobody = 65534;

void become_nobody()
{
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
}

struct stat stat_of(const std::string &path)
{
    struct stat st = {};
    stat(path.c_str(), &st);
    return st;
}
#endif

std::vector<int32_t> scrambled(int n)
{
    std::vector<int32_t> v;
    for (int i = 0; i < n; i++) v.push_back((i * 7919) % n);
    return v;
}

std::string bytes_of(const std::vector<int32_t> &v)
{
    return std::string((const char *)v.data(), v.size() * sizeof(int32_t));
}

// Sorts the records in file in with one of the record sorts into out, in a
// child that prints its pid first.
ChildResult sort_records_in_child(decltype(&fsort) sort, const std::string &in, const std::string &out,
                                  int nmemb, int msize, const std::string &tmp,
                                  const std::function<void()> &setup = [] {})
{
    return run_in_child([&] {
        setup();
        printf("%u", (unsigned)getpid());
        fflush(stdout);
        int fh_in = open(in.c_str(), O_RDONLY | O_BINARY);
        int fh_out = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0666);
        printf(" %d", sort(fh_in, fh_out, nmemb, 4, cmp_integers, qsort, msize, tmp.c_str()));
    });
}

}  // namespace

// A temporary directory whose names cannot fit the 260-byte name buffer.
TEST(SortSafety, TemporaryNamesThatDoNotFitAreRefused)
{
    TempDir dir;
    std::string tmp = dir.path();
    while (tmp.size() < 255) tmp += "/" + std::string(std::min<size_t>(60, 255 - tmp.size()), 'd');
    std::filesystem::create_directories(tmp);
    std::string f = dir.file("data"), text = countdown(3000);
    write_file(f, text);

    ChildResult r = sort_in_child(f, f, 1024, tmp);
    EXPECT_EQ(r.out.substr(0, 3), "-1 ");
    EXPECT_EQ(r.err, "cannot open chunk file " + tmp + "/sortfile." + pid_of(r) + ".0 (File name too long)\n");
    EXPECT_EQ(read_file(f), text);
    EXPECT_TRUE(entries(tmp).empty());

    std::string records = dir.file("records"), out = dir.file("sorted");
    write_file(records, bytes_of(scrambled(1000)));
    for (auto sort : {fsort, fsort_old}) {
        r = sort_records_in_child(sort, records, out, 1000, 400, tmp);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "cannot create/truncate " + tmp + "/" + r.out + "-0\n");
        EXPECT_EQ(read_file(out), "");
        EXPECT_TRUE(entries(tmp).empty());
    }
}

// The merge's output cannot grow past 16 KB; the sorted file is 38 KB, cut
// into nine chunks.
TEST(SortSafety, InPlaceSortThatFailsLeavesTheInput)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a file-size limit (setrlimit)";
#else
    TempDir dir;
    std::string data = make_dir(dir, "data"), tmp = make_dir(dir, "tmp");
    std::string f = data + "/f", text = countdown(4000);
    write_file(f, text);
    ASSERT_EQ(chmod(f.c_str(), 0640), 0);

    ChildResult r = sort_in_child(f, f, 8192, tmp, [] {
        signal(SIGXFSZ, SIG_IGN);
        set_limit(RLIMIT_FSIZE, 16384);
    });
    EXPECT_EQ(r.out.substr(0, 3), "-1 ");
    EXPECT_TRUE(r.err == "error writing " + f + " (File too large)\n" ||
                r.err == "failed to close " + f + " (File too large)\n")
        << r.err;
    EXPECT_EQ(read_file(f), text);
    EXPECT_EQ(entries(data), std::vector<std::string>{"f"});
    EXPECT_TRUE(entries(tmp).empty());

    // Without the limit it succeeds and the file keeps its permissions.
    r = sort_in_child(f, f, 8192, tmp);
    EXPECT_EQ(r.out.substr(0, 2), "0 ") << r.err;
    EXPECT_EQ(read_file(f), byte_sorted(text));
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(entries(data), std::vector<std::string>{"f"});
#endif
}

// Lines are kept whole; the comparison sees each up to its first NUL and
// lines cmp_str ranks equal keep their input order, however it was chunked.
TEST(SortSafety, BytesAfterANulAreKept)
{
    using namespace std::string_literals;
    TempDir dir;
    std::string in = dir.file("in"), out = dir.file("out"), tmp = make_dir(dir, "tmp");
    auto sorted = [&](const std::string &text, int msize, int (*compare)(const void *, const void *)) {
        write_file(in, text);
        EXPECT_EQ(sortfile(in.c_str(), out.c_str(), compare, msize, tmp.c_str()), 0);
        return kt_test::read_file(out);
    };
    for (int msize : {1 << 16, 24}) {  // one chunk; a merge of one-line chunks
        EXPECT_EQ(sorted("zz\nab\0cd\nxy\n"s, msize, cmp_str), "ab\0cd\nxy\nzz\n"s) << msize;
        EXPECT_EQ(sorted("b\nab\0zz\nab\nab\0cd\na\n"s, msize, cmp_str), "a\nab\0zz\nab\nab\0cd\nb\n"s) << msize;
        EXPECT_EQ(sorted("ab\0cd\nb\nab\0zz\nab\n"s, msize, cmp_str), "ab\0cd\nab\0zz\nab\nb\n"s) << msize;
        // cmp_strlen ranks "ab\0cd" by "ab": two bytes, between "xyz" and "q".
        EXPECT_EQ(sorted("q\nab\0cd\nxyz\n"s, msize, cmp_strlen), "xyz\nab\0cd\nq\n"s) << msize;
    }
    EXPECT_TRUE(entries(tmp).empty());
}

// With 20 descriptors a merge cannot hold 35 chunk files (100 runs) open.
TEST(SortSafety, MergesKeepFewFilesOpen)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a descriptor limit (setrlimit)";
#else
    TempDir dir;
    std::string in = dir.file("in"), out = dir.file("out"), tmp = make_dir(dir, "tmp");
    std::string text = countdown(8000);  // 35 chunks of 2 KB, more than a reader buffer
    write_file(in, text);
    auto few_descriptors = [] { set_limit(RLIMIT_NOFILE, 20); };
    ChildResult r = sort_in_child(in, out, 4096, tmp, few_descriptors);
    EXPECT_EQ(r.out.substr(0, 2), "0 ") << r.err;
    EXPECT_EQ(read_file(out), byte_sorted(text));
    EXPECT_TRUE(entries(tmp).empty());

    std::vector<int32_t> records = scrambled(1000), want = records;
    std::sort(want.begin(), want.end());
    write_file(in, bytes_of(records));
    for (auto sort : {fsort, fsort_old}) {
        r = sort_records_in_child(sort, in, out, 1000, 40, tmp, few_descriptors);  // runs of 10
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(read_file(out) == bytes_of(want));
        EXPECT_TRUE(entries(tmp).empty());
    }
#endif
}

// An input shorter than announced stops the record sorts after five runs.
TEST(SortSafety, RecordSortsThatStopRemoveTheirRuns)
{
    TempDir dir;
    std::string in = dir.file("in"), tmp = make_dir(dir, "tmp");
    write_file(in, bytes_of(scrambled(500)));
    for (auto sort : {fsort, fsort_old}) {
        ChildResult r = sort_records_in_child(sort, in, dir.file("out"), 1000, 400, tmp);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "error reading 400 bytes\n");
        EXPECT_TRUE(entries(tmp).empty());
    }
}

// Links planted at the first temporary names are neither followed nor removed.
TEST(SortSafety, PlantedLinksAreNotFollowed)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: symbolic links planted by an unprivileged test";
#else
    TempDir dir;
    std::string in = dir.file("in"), tmp = make_dir(dir, "tmp"), victim = dir.file("victim");
    write_file(victim, "precious\n");
    std::string text = countdown(100);
    write_file(in, text);
    std::vector<int32_t> records = scrambled(1000), want = records;
    std::sort(want.begin(), want.end());
    write_file(dir.file("records"), bytes_of(records));

    ChildResult r = run_in_child([&] {
        alarm(60);
        std::string pid = std::to_string((unsigned)getpid());
        if (symlink(victim.c_str(), (tmp + "/sortfile." + pid + ".0").c_str()) != 0 ||
            symlink(victim.c_str(), (tmp + "/" + pid + "-0").c_str()) != 0)
            _exit(2);
        for (int msize : {1 << 16, 256})  // one chunk renamed; a merge
            printf("%d ", sortfile(in.c_str(), dir.file("out" + std::to_string(msize)).c_str(), cmp_str, msize,
                                   tmp.c_str()));
        int fh_in = open(dir.file("records").c_str(), O_RDONLY);
        int fh_out = open(dir.file("sorted").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        printf("%d %s", fsort_old(fh_in, fh_out, 1000, 4, cmp_integers, qsort, 400, tmp.c_str()), pid.c_str());
    });
    ASSERT_EQ(r.status, 0) << r.err;
    std::string pid = r.out.substr(r.out.rfind(' ') + 1);
    EXPECT_EQ(r.out, "0 0 0 " + pid);
    EXPECT_EQ(read_file(dir.file("out65536")), byte_sorted(text));
    EXPECT_EQ(read_file(dir.file("out256")), byte_sorted(text));
    EXPECT_TRUE(read_file(dir.file("sorted")) == bytes_of(want));
    EXPECT_EQ(read_file(victim), "precious\n");
    EXPECT_EQ(entries(tmp), (std::vector<std::string>{pid + "-0", "sortfile." + pid + ".0"}));
#endif
}

// As an unprivileged user in a folder at mode 555, an in-place sort writes
// the complete sorted copy in the temporary folder and then over the input:
// a failure before that copy leaves the input whole, a failed copy keeps the
// complete copy and names it, and a success leaves no temporary file.
TEST(SortSafety, InPlaceSortInAFolderItCannotWriteNeverLosesTheInput)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: another user (setuid), folder modes and resource limits";
#else
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a child as another user";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    std::string data = make_dir(dir, "data"), tmp = make_dir(dir, "tmp");
    std::string f = data + "/f", text = countdown(4000);  // 38 KB
    ASSERT_EQ(chown(tmp.c_str(), kNobody, kNobody), 0);
    auto reset = [&](mode_t mode) {
        write_file(f, text);
        ASSERT_EQ(chown(f.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(chmod(f.c_str(), mode), 0);
        ASSERT_EQ(chmod(data.c_str(), 0555), 0);
    };
    auto sort_as_nobody = [&](int msize, const std::function<void()> &limit = [] {}) {
        return sort_in_child(f, f, msize, tmp, [&] {
            signal(SIGXFSZ, SIG_IGN);
            limit();
            become_nobody();
        });
    };

    // The sorted copy cannot grow past 16 KB; 5 descriptors cannot merge.
    reset(0640);
    ChildResult r = sort_as_nobody(8192, [] { set_limit(RLIMIT_FSIZE, 16384); });
    EXPECT_EQ(r.out.substr(0, 3), "-1 ") << r.err;
    EXPECT_NE(r.err.find("(File too large)"), std::string::npos) << r.err;
    reset(0640);
    r = sort_as_nobody(1000, [] { set_limit(RLIMIT_NOFILE, 5); });
    EXPECT_EQ(r.out.substr(0, 3), "-1 ") << r.err;
    EXPECT_NE(r.err.find("(Too many open files)"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(f), text);
    EXPECT_TRUE(entries(tmp).empty());

    // Whole copies, by the merge and from the single chunk.
    for (int msize : {8192, 1 << 16}) {
        reset(0640);
        r = sort_as_nobody(msize);
        EXPECT_EQ(r.out.substr(0, 2), "0 ") << r.err;
        EXPECT_EQ(read_file(f), byte_sorted(text)) << msize;
        EXPECT_EQ(stat_of(f).st_mode & 07777, 0640u);
        EXPECT_EQ(entries(data), std::vector<std::string>{"f"});
        EXPECT_TRUE(entries(tmp).empty()) << msize;
    }

    // An input its owner cannot write: the copy over it fails.
    for (int msize : {8192, 1 << 16}) {
        reset(0440);
        r = sort_as_nobody(msize);
        EXPECT_EQ(r.out.substr(0, 3), "-1 ");
        std::string head = "error writing " + f + " (Permission denied); the sorted lines are kept in ";
        ASSERT_EQ(r.err.substr(0, head.size()), head) << r.err;
        std::string kept = r.err.substr(head.size(), r.err.size() - head.size() - 1);
        EXPECT_EQ(kept.substr(0, tmp.size() + 10), tmp + "/sortfile.");
        EXPECT_EQ(read_file(kept), byte_sorted(text));
        EXPECT_EQ(read_file(f), text);
        EXPECT_EQ(entries(tmp).size(), 1u);
        unlink(kept.c_str());
    }
#endif
}

// A replaced file keeps its owner, group and mode where the caller may set
// them, and loses its set-id bits where it may not; a link given as the file
// stays a link to the sorted file, with one chunk or several.
TEST(SortSafety, InPlaceReplacementKeepsOwnerAndLinks)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: owners, set-id bits and symbolic links";
#else
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    std::string data = make_dir(dir, "data"), tmp = make_dir(dir, "tmp");
    ASSERT_EQ(chmod(data.c_str(), 0777), 0);
    ASSERT_EQ(chmod(tmp.c_str(), 0777), 0);
    std::string f = data + "/f", link = data + "/link", text = countdown(2000);
    ASSERT_EQ(symlink("f", link.c_str()), 0);
    auto reset = [&](uid_t owner, mode_t mode) {
        write_file(f, text);
        ASSERT_EQ(chown(f.c_str(), owner, owner), 0);
        ASSERT_EQ(chmod(f.c_str(), mode), 0);
    };
    for (int msize : {8192, 1 << 16}) {
        for (const std::string &name : {f, link}) {
            reset(12345, 06755);  // root sorts another user's set-id file
            ChildResult r = sort_in_child(name, name, msize, tmp);
            EXPECT_EQ(r.out.substr(0, 2), "0 ") << r.err;
            struct stat st = stat_of(f);
            EXPECT_EQ(st.st_uid, 12345u);
            EXPECT_EQ(st.st_gid, 12345u);
            EXPECT_EQ(st.st_mode & 07777, 06755u) << msize << " " << name;
            EXPECT_EQ(read_file(f), byte_sorted(text));
            struct stat lst;
            ASSERT_EQ(lstat(link.c_str(), &lst), 0);
            EXPECT_TRUE(S_ISLNK(lst.st_mode)) << msize << " " << name;
        }
        reset(0, 06646);  // an unprivileged user sorts root's set-id file
        ChildResult r = sort_in_child(f, f, msize, tmp, become_nobody);
        EXPECT_EQ(r.out.substr(0, 2), "0 ") << r.err;
        struct stat st = stat_of(f);
        EXPECT_EQ(st.st_uid, kNobody);
        EXPECT_EQ(st.st_mode & 07777, 0646u) << msize;
        EXPECT_EQ(read_file(f), byte_sorted(text));
    }
    EXPECT_EQ(entries(data), (std::vector<std::string>{"f", "link"}));
    EXPECT_TRUE(entries(tmp).empty());
#endif
}

// A temporary folder on another file system: the single chunk is copied,
// then removed; the copy gets the output's mode.
TEST(SortSafety, OneChunkCopiedFromAnotherFileSystemLeavesNothing)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a tmpfs mounted in a private mount namespace";
#else
    TempDir dir;
    std::string data = make_dir(dir, "data"), tmp = make_dir(dir, "tmp");
    std::string f = data + "/f", out = data + "/out", text = countdown(500);
    write_file(f, text);
    ASSERT_EQ(chmod(f.c_str(), 0640), 0);
    ChildResult r = kt_test::run_with_mounts([&] { return kt_test::mount_small_tmpfs(tmp, "1m"); }, [&] {
        umask(022);
        printf("%d %d", sortfile(f.c_str(), f.c_str(), cmp_str, 1 << 16, tmp.c_str()),
               sortfile(f.c_str(), out.c_str(), cmp_str, 1 << 16, tmp.c_str()));
        for (const std::string &name : entries(tmp)) printf(" %s", name.c_str());
    });
    if (r.exited && r.status == kNoMounts) GTEST_SKIP() << "mount namespaces are not available here";
    EXPECT_EQ(r.out, "0 0") << r.err;
    EXPECT_EQ(read_file(f), byte_sorted(text));
    EXPECT_EQ(read_file(out), byte_sorted(text));
    EXPECT_EQ(stat_of(f).st_mode & 07777, 0640u);
    EXPECT_EQ(stat_of(out).st_mode & 07777, 0644u);
    EXPECT_EQ(entries(data), (std::vector<std::string>{"f", "out"}));
#endif
}
