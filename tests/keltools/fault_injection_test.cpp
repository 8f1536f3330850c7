// Fault injection for the library: real failing systems (unwritable and
// read-only directories, a full file system, unreadable files, an exhausted
// address space), checking that each stops with its exact message and status
// and that what was written before the failure stays intact.
//
// Tests run as root, which ignores permission bits, so the failures are made
// with things root cannot get past: a path below a regular file, a read-only
// bind mount or a tiny tmpfs in a private mount namespace, FIFOs and
// directories in place of files, and RLIMIT_AS.

#ifdef _WIN32
#include <gtest/gtest.h>

TEST(FaultInjection, SkippedOnWindows)
{
    GTEST_SKIP() << "POSIX only: mount namespaces, read-only mounts, /dev/full, FIFOs, symbolic links and address-space limits";
}
#else
#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using kt_test::ChildResult;
using kt_test::kNoMounts;
using kt_test::make_read_only;
using kt_test::mount_small_tmpfs;
using kt_test::read_file;
using kt_test::reason;
using kt_test::run_in_child;
using kt_test::run_with_mounts;
using kt_test::TempDir;
using kt_test::write_file;

namespace {

// Where the blocks that use up the heap go, so that their calls stay.
void *volatile heap_sink;


// The address space is limited to 256 MiB in the child before fn runs.
ChildResult run_with_small_address_space(const std::function<void()> &fn)
{
    return run_in_child([&] {
        struct rlimit limit = {256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
        fn();
    });
}

}  // namespace

#define SKIP_WITHOUT_MOUNTS(r)                                              \
    if ((r).exited && (r).status == kNoMounts)                              \
        GTEST_SKIP() << "mount namespaces are not available here"

TEST(UnwritableDirectory, OpeningBelowARegularFileStopsWithTheReason)
{
    TempDir dir;
    std::string file = dir.file("plain");
    write_file(file, "keep me\n");

    auto r = run_in_child([&] { xfopen("%s/imported.txt", "w", file.c_str()); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open " + file + "/imported.txt in mode \"w\" " + reason(ENOTDIR) + "\n");

    r = run_in_child([&] { xcreate("%s/run", file.c_str()); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot create/truncate " + file + "/run\n");

    r = run_in_child([&] { xmkdir("%s/sub", file.c_str()); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot create directory " + file + "/sub " + reason(ENOTDIR) + "\n");

    EXPECT_EQ(read_file(file), "keep me\n");
}

TEST(UnwritableDirectory, ReadOnlyMountRefusesNewAndExistingFiles)
{
    TempDir dir;
    write_file(dir.file("old.txt"), "written before\n");
    auto r = run_with_mounts([&] { return make_read_only(dir.path()); },
                             [&] { xfopen("%s/report-%d.html", "w", dir.path().c_str(), 2013); });
    SKIP_WITHOUT_MOUNTS(r);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open " + dir.file("report-2013.html") + " in mode \"w\" " +
                         reason(EROFS) + "\n");

    // Truncating a file that exists is refused too, and it keeps its bytes.
    r = run_with_mounts([&] { return make_read_only(dir.path()); },
                        [&] { xfopen("%s", "w", dir.file("old.txt").c_str()); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open " + dir.file("old.txt") + " in mode \"w\" " + reason(EROFS) + "\n");
    EXPECT_EQ(read_file(dir.file("old.txt")), "written before\n");
}

// A file system with room for a few pages: streams and descriptors that fill it
// stop with their messages, and the complete file written before is unharmed.
TEST(FullDisk, WritersStopAndEarlierFilesSurvive)
{
    TempDir dir;
    std::string mnt = dir.file("mnt");
    ASSERT_EQ(mkdir(mnt.c_str(), 0777), 0);
    std::string saved = dir.file("saved");

    // Unbuffered stream writes of whole pages: the first one that finds no
    // room writes nothing.
    auto r = run_with_mounts([&] { return mount_small_tmpfs(mnt, "16k"); }, [&] {
        FILE *first = xfopen("%s/first.txt", "w", mnt.c_str());
        fputs("complete line\n", first);
        xfclose(first);
        auto inner = run_in_child([&] {
            FILE *fp = xfopen("%s/second.txt", "w", mnt.c_str());
            setvbuf(fp, nullptr, _IONBF, 0);
            std::string page(4096, 'p');
            for (;;)
                xfwrite(page.data(), (int)page.size(), fp);
        });
        // The mount dies with this process: keep a copy of what it held.
        write_file(saved + ".first", read_file(mnt + "/first.txt"));
        write_file(saved + ".second", read_file(mnt + "/second.txt"));
        fputs(inner.err.c_str(), stderr);
        _exit(inner.status);
    });
    SKIP_WITHOUT_MOUNTS(r);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error writing: wanted to write 4096 bytes, wrote 0 " + reason(ENOSPC) + "\n");
    EXPECT_EQ(read_file(saved + ".first"), "complete line\n");
    std::string second = read_file(saved + ".second");
    EXPECT_GT(second.size(), 0u);
    EXPECT_EQ(second.size() % 4096, 0u);
    EXPECT_EQ(second, std::string(second.size(), 'p'));

    // A descriptor write larger than the room left is cut short by the system.
    r = run_with_mounts([&] { return mount_small_tmpfs(mnt, "8k"); }, [&] {
        int fd = xcreate("%s/records", mnt.c_str());
        std::string big(3 * 4096, 'r');
        xwrite(fd, big.data(), (int)big.size());
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error writing 12288 bytes\n");

    // A string record on a device that is always full.
    r = run_in_child([] {
        int fd = open("/dev/full", O_WRONLY);
        xwrite_str(fd, "abc");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error writing 4 bytes\n");
}

// Things with a file's name that cannot be read as files: loading reports -1
// without a message and without waiting.
TEST(UnreadableFile, LoadingFailsQuietlyAndPromptly)
{
    TempDir dir;
    std::string fifo = dir.file("sdelki_pipe.xls");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    std::string subdir = dir.file("sdelki_dir.xls");
    ASSERT_EQ(mkdir(subdir.c_str(), 0777), 0);
    std::string dangling = dir.file("sdelki_link.xls");
    ASSERT_EQ(symlink(dir.file("missing").c_str(), dangling.c_str()), 0);

    for (const std::string &name : {fifo, subdir, dangling}) {
        auto r = run_in_child([&] {
            alarm(10);  // a load that blocks is killed, and the test fails
            char *text = nullptr;
            long n = load_file(name.c_str(), &text);
            printf("%ld", n);
        });
        EXPECT_TRUE(r.exited) << name;
        EXPECT_EQ(r.out, "-1") << name;
        EXPECT_EQ(r.err, "") << name;
    }
}

// Allocations that the address space cannot hold stop with the size asked for.
TEST(MemoryExhaustion, CheckedAllocationsStopWithTheRequestedSize)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's allocator ignores address-space limits";
#endif
    TempDir dir;
    // A sparse file of 1 GiB: loading it needs its length and two bytes.
    std::string big = dir.file("big");
    int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1 << 30), 0);
    close(fd);
    auto r = run_with_small_address_space([&] {
        char *text = nullptr;
        load_file(big.c_str(), &text);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "not enough memory; malloc(1073741826) failed\n");

    // Damaged records that claim huge lengths or counts.
    std::string records = dir.file("records");
    int32_t huge_length = INT32_MAX;
    write_file(records, std::string((const char *)&huge_length, 4));
    r = run_with_small_address_space([&] { xread_str(xopen("%s", records.c_str())); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "not enough memory; malloc(2147483648) failed\n");

    int32_t huge_count = 1 << 28;
    write_file(records, std::string((const char *)&huge_count, 4));
    r = run_with_small_address_space([&] {
        char **strings = nullptr;
        xread_str_array(xopen("%s", records.c_str()), &strings);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "not enough memory; malloc(2147483648) failed\n");

    r = run_with_small_address_space([] { xnstrdup("abc", INT_MAX); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "not enough memory; malloc(2147483648) failed\n");

    // With the heap used up, even a short duplicate fails, naming the text.
    r = run_with_small_address_space([] {
        for (size_t block = 1 << 20; block >= 16; block /= 2)
            for (void *p; (p = malloc(block)) != nullptr;)
                heap_sink = p;
        xstrdup("sdelki_2013.xls");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "not enough memory; strdup sdelki_2013.xls failed\n");
}

// The file sort's temporary directory cannot take its chunk files: the sort
// reports the chunk it could not open and fails, leaving its input as it was.
TEST(SortTempDir, UnwritableTempDirFailsTheSortAndKeepsTheInput)
{
    TempDir dir;
    std::string in = dir.file("in"), out = dir.file("out"), plain = dir.file("plain");
    write_file(in, "pear\napple\nfig\n");
    write_file(plain, "");

    auto r = run_in_child([&] {
        printf("%d %u", sortfile(in.c_str(), out.c_str(), cmp_str, 1024, (plain + "/tmp").c_str()),
               (unsigned)getpid());
    });
    ASSERT_TRUE(r.exited);
    unsigned pid = 0;
    int rc = 0;
    ASSERT_EQ(sscanf(r.out.c_str(), "%d %u", &rc, &pid), 2);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(r.err, "cannot open chunk file " + plain + "/tmp/sortfile." + std::to_string(pid) +
                         ".0 " + reason(ENOTDIR) + "\n");
    EXPECT_EQ(read_file(in), "pear\napple\nfig\n");
    EXPECT_FALSE(kt_test::file_exists(out));

    std::string chunks = dir.file("chunks");
    ASSERT_EQ(mkdir(chunks.c_str(), 0777), 0);
    r = run_with_mounts([&] { return make_read_only(chunks); }, [&] {
        printf("%d %u", sortfile(in.c_str(), out.c_str(), cmp_str, 1024, chunks.c_str()),
               (unsigned)getpid());
    });
    SKIP_WITHOUT_MOUNTS(r);
    ASSERT_EQ(sscanf(r.out.c_str(), "%d %u", &rc, &pid), 2);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(r.err, "cannot open chunk file " + chunks + "/sortfile." + std::to_string(pid) +
                         ".0 " + reason(EROFS) + "\n");
    EXPECT_EQ(read_file(in), "pear\napple\nfig\n");
}

// A temporary directory that fills up while a chunk is written, and an output
// that cannot take the merged lines.
TEST(SortTempDir, FullDisksFailTheSort)
{
    TempDir dir;
    std::string in = dir.file("in"), chunks = dir.file("chunks");
    ASSERT_EQ(mkdir(chunks.c_str(), 0777), 0);
    std::string lines;
    for (int i = 0; i < 4000; i++)
        lines += "line " + std::to_string(4000 - i) + "\n";  // about 40 KB
    write_file(in, lines);

    auto r = run_with_mounts([&] { return mount_small_tmpfs(chunks, "8k"); }, [&] {
        printf("%d %u", sortfile(in.c_str(), dir.file("out").c_str(), cmp_str, 16384, chunks.c_str()),
               (unsigned)getpid());
    });
    SKIP_WITHOUT_MOUNTS(r);
    unsigned pid = 0;
    int rc = 0;
    ASSERT_EQ(sscanf(r.out.c_str(), "%d %u", &rc, &pid), 2);
    EXPECT_EQ(rc, -1);
    // Whether the shortage shows in a write or in the close depends on buffering.
    std::string chunk0 = chunks + "/sortfile." + std::to_string(pid) + ".0 " + reason(ENOSPC) + "\n";
    EXPECT_TRUE(r.err == "cannot write to " + chunk0 || r.err == "cannot close " + chunk0) << r.err;
    EXPECT_EQ(read_file(in), lines);

    // Several chunks merged into a device that is always full.
    std::string full = dir.file("full");
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    r = run_in_child([&] { printf("%d", sortfile(in.c_str(), full.c_str(), cmp_str, 16384, chunks.c_str())); });
    EXPECT_EQ(r.out, "-1");
    EXPECT_TRUE(r.err == "error writing " + full + " " + reason(ENOSPC) + "\n" ||
                r.err == "failed to close " + full + " " + reason(ENOSPC) + "\n")
        << r.err;
    EXPECT_EQ(read_file(in), lines);
}

// The sort's work buffer comes from the plain allocator: a budget the address
// space cannot hold is a warning and -1, not the end of the process.
TEST(SortMemory, ABudgetTooLargeForTheAddressSpaceFailsTheSort)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's allocator ignores address-space limits";
#endif
    TempDir dir;
    write_file(dir.file("in"), "b\na\n");
    auto r = run_with_small_address_space([&] {
        printf("%d", sortfile(dir.file("in").c_str(), dir.file("out").c_str(), cmp_str, 1 << 30,
                              dir.path().c_str()));
    });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.out, "-1");
    EXPECT_EQ(r.err, "cannot allocate 1073741824 bytes\n");
}

// The record sort stops the process when its run files cannot be made or
// filled, naming the run file (or the write size) as the checked operations do.
TEST(SortTempDir, RecordSortStopsWhenRunFilesCannotBeWritten)
{
    TempDir dir;
    std::vector<int32_t> records;
    for (int i = 0; i < 1000; i++)
        records.push_back((i * 7919) % 1000);
    std::string bytes((const char *)records.data(), records.size() * sizeof(int32_t));
    std::string in = dir.file("records"), plain = dir.file("plain"), runs = dir.file("runs");
    write_file(in, bytes);
    write_file(plain, "");
    ASSERT_EQ(mkdir(runs.c_str(), 0777), 0);

    // 400 bytes of budget: runs of 100 records, each in a file of its own.
    auto sort_records = [&](const std::string &tmp_path) {
        printf("%u", (unsigned)getpid());
        fflush(stdout);
        int fh_in = xopen("%s", in.c_str());
        int fh_out = xcreate("%s", dir.file("sorted").c_str());
        fsort(fh_in, fh_out, 1000, 4, cmp_integers, qsort, 400, tmp_path.c_str());
    };
    auto r = run_in_child([&] { sort_records(plain + "/tmp"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot create/truncate " + plain + "/tmp/" + r.out + "-0\n");
    EXPECT_EQ(read_file(in), bytes);

    // One page of room: the first run file fits, the second cannot be written.
    r = run_with_mounts([&] { return mount_small_tmpfs(runs, "4k"); },
                        [&] { sort_records(runs); });
    SKIP_WITHOUT_MOUNTS(r);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error writing 400 bytes\n");
    EXPECT_EQ(read_file(in), bytes);
}

#endif  // _WIN32
