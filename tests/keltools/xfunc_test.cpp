#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/time.h>
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

using kt_test::ChdirGuard;
using kt_test::read_file;
using kt_test::run_in_child;
using kt_test::TempDir;
using kt_test::write_file;

TEST(CheckedOpen, StreamNamesAreBuiltFromTheFormat)
{
    TempDir dir;
    ChdirGuard here(dir.path());
    FILE *fp = xfopen("report-%d.html", "w", 2012);
    fputs("x\n", fp);
    EXPECT_EQ(xfclose(fp), 0);
    EXPECT_EQ(kt_test::read_text_file(dir.file("report-2012.html")), "x\n");

    // A name longer than 259 characters is cut to 259, in the message too.
    std::string longname(300, 'L');
    auto r = run_in_child([&] { xfopen("%s", "w", longname.c_str()); });
    EXPECT_EQ(r.status, 1);
#ifdef _WIN32
    const int too_long = ENOENT;  // what msvcrt reports for an overlong name
#else
    const int too_long = ENAMETOOLONG;
#endif
    EXPECT_EQ(r.err, "cannot open " + std::string(259, 'L') + " in mode \"w\" (" +
                         strerror(too_long) + ")\n");
}

TEST(CheckedOpen, FailuresNameTheFileAndTheReason)
{
    auto r = run_in_child([] { xfopen("/nonexistent-dir/%s", "w", "out.txt"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("cannot open /nonexistent-dir/out.txt in mode \"w\" (") +
                         strerror(ENOENT) + ")\n");

    r = run_in_child([] { xopen("/nonexistent-dir/%d", 5); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open /nonexistent-dir/5\n");

    r = run_in_child([] { xcreate("/nonexistent-dir/new"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot create/truncate /nonexistent-dir/new\n");

    r = run_in_child([] { xunlink("/nonexistent-dir/gone"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot delete /nonexistent-dir/gone\n");

    EXPECT_EQ(yunlink("/nonexistent-dir/gone"), -1);

    r = run_in_child([] { xmmap(nullptr, "whatever"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "mmap is not supported\n");
}

TEST(CheckedOpen, MkdirCreatesOneLevelAndAcceptsExistingNames)
{
    TempDir dir;
    write_file(dir.file("plain"), "data");
    EXPECT_EQ(xmkdir("%s/plain", dir.path().c_str()), 0);
    EXPECT_EQ(read_file(dir.file("plain")), "data");
    EXPECT_EQ(xmkdir("%s/sub", dir.path().c_str()), 0);
    EXPECT_EQ(access(dir.file("sub").c_str(), F_OK), 0);
    EXPECT_EQ(xmkdir("%s/sub", dir.path().c_str()), 0);

    std::string deep = dir.file("missing/level");
    auto r = run_in_child([&] { xmkdir("%s", deep.c_str()); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot create directory " + deep + " (" + strerror(ENOENT) + ")\n");
}

TEST(DescriptorIo, ExactCountsOrStop)
{
    TempDir dir;
    std::string path = dir.file("five");
    int fd = xcreate("%s", path.c_str());
    EXPECT_EQ(xwrite(fd, "hello", 5), 0);
    EXPECT_EQ(xwrite(-1, "ignored", 0), 0);  // no call at all for 0 bytes
    close(fd);
    EXPECT_EQ(read_file(path), "hello");

    char buf[8];
    EXPECT_EQ(xread(-1, buf, 0), 0);
    auto r = run_in_child([&] {
        int in = xopen("%s", path.c_str());
        xread(in, buf, 8);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error reading 8 bytes\n");

    r = run_in_child([] { xwrite(-1, "abc", 3); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error writing 3 bytes\n");
}

// A pipe fed in 200-byte pieces, with a signal arriving while the reader
// waits, still delivers the whole 400 bytes to one xread.
TEST(DescriptorIo, ReadsInFullFromAPipeFedInPieces)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a forked writer and an interval timer";
#else
    auto r = run_in_child([] {
        struct sigaction quiet = {};
        quiet.sa_handler = [](int) {};
        sigaction(SIGALRM, &quiet, nullptr);  // no SA_RESTART: the read sees EINTR
        int fds[2];
        if (pipe(fds) != 0)
            _exit(3);
        if (fork() == 0) {
            std::string piece(200, 'x');
            for (int i = 0; i < 2; i++) {
                usleep(100000);
                xwrite(fds[1], piece.data(), 200);
            }
            _exit(0);
        }
        close(fds[1]);
        struct itimerval tick = {{0, 0}, {0, 50000}};
        setitimer(ITIMER_REAL, &tick, nullptr);
        char buf[400];
        xread(fds[0], buf, 400);
        wait(nullptr);
        if (std::string(buf, 400) != std::string(400, 'x'))
            _exit(2);
    });
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
#endif
}

TEST(DescriptorIo, StringRecordsHaveTheDocumentedBytes)
{
    TempDir dir;
    std::string path = dir.file("strings");
    int fd = xcreate("%s", path.c_str());
    xwrite_str(fd, "abc");
    xwrite_str(fd, nullptr);
    xwrite_str(fd, "");
    char a[] = "a", empty[] = "", bc[] = "bc";
    char *array[] = {a, empty, bc};
    xwrite_str_array(fd, array, 3);
    close(fd);

    const char expected[] = "\x03\0\0\0abc\0"
                            "\0\0\0\0"
                            "\0\0\0\0"
                            "\x03\0\0\0"
                            "\x01\0\0\0a\0"
                            "\0\0\0\0"
                            "\x02\0\0\0bc\0";
    EXPECT_EQ(read_file(path), std::string(expected, sizeof expected - 1));

    fd = xopen("%s", path.c_str());
    char *s = xread_str(fd);
    EXPECT_STREQ(s, "abc");
    free(s);
    for (int i = 0; i < 2; i++) {
        s = xread_str(fd);
        EXPECT_STREQ(s, "");
        free(s);
    }
    char **back = nullptr;
    ASSERT_EQ(xread_str_array(fd, &back), 3);
    EXPECT_STREQ(back[0], "a");
    EXPECT_STREQ(back[1], "");
    EXPECT_STREQ(back[2], "bc");
    for (int i = 0; i < 3; i++)
        free(back[i]);
    free(back);
    close(fd);
}

TEST(DescriptorIo, DamagedRecordsNeverOverrun)
{
    TempDir dir;
    // A negative length reads as an empty string; a negative count as none.
    std::string path = dir.file("negative");
    write_file(path, std::string("\xff\xff\xff\xff\xfe\xff\xff\xff", 8));
    int fd = xopen("%s", path.c_str());
    char *s = xread_str(fd);
    EXPECT_STREQ(s, "");
    free(s);
    char **array = nullptr;
    EXPECT_EQ(xread_str_array(fd, &array), 0);
    free(array);
    close(fd);

    // A huge length with a short file stops in the read, not past a buffer.
    std::string huge = dir.file("huge");
    write_file(huge, std::string("\x00\x00\x00\x10xyz", 7));
    auto r = run_in_child([&] {
        int in = xopen("%s", huge.c_str());
        xread_str(in);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error reading 268435457 bytes\n");
}

TEST(Heap, ReallocFreeAndDuplicates)
{
    void *p = xmalloc(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(xrealloc(p, 0), nullptr);
    p = xrealloc(nullptr, 16);
    ASSERT_NE(p, nullptr);
    memset(p, 1, 16);
    p = xrealloc(p, 32);
    EXPECT_EQ(((unsigned char *)p)[15], 1);
    xfree(p);
    xfree(nullptr);

    char *d = xstrdup("copy");
    EXPECT_STREQ(d, "copy");
    free(d);
    char *n = xnstrdup("a\0bcdef", 4);
    EXPECT_EQ(std::string(n, 5), std::string("a\0bc\0", 5));
    free(n);
}

TEST(Heap, ExhaustionStopsWithTheRequestedSize)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's allocator ignores address-space limits";
#endif
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: address-space limits (setrlimit)";
#else
    auto r = run_in_child([] {
        struct rlimit limit = {256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
        xmalloc(1u << 30);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "not enough memory; malloc(1073741824) failed\n");

    r = run_in_child([] {
        struct rlimit limit = {256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
        void *p = xmalloc(16);
        xrealloc(p, 1u << 30);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "not enough memory; realloc(1073741824) failed\n");

    // 100 GiB and 2 bytes, as loading a 100 GiB file asks: all of it is shown.
    r = run_in_child([] {
        struct rlimit limit = {256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
        xmalloc((100ull << 30) + 2);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "not enough memory; malloc(107374182402) failed\n");
#endif
}

TEST(StreamIo, WritesAllOrStopsAndReadsShortAtTheEnd)
{
    TempDir dir;
    std::string path = dir.file("stream");
    FILE *fp = xfopen("%s", "w", path.c_str());
    EXPECT_EQ(xfwrite("abcdef", 6, fp), 6);
    xfclose(fp);
    fp = xfopen("%s", "r", path.c_str());
    char buf[16];
    EXPECT_EQ(xfread(buf, 16, fp), 6);
    xfclose(fp);

#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a full device (/dev/full)";
#else
    auto r = run_in_child([] {
        FILE *full = xfopen("/dev/full", "w");
        setvbuf(full, nullptr, _IONBF, 0);
        xfwrite("abcdef", 6, full);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("error writing: wanted to write 6 bytes, wrote 0 (") +
                         strerror(ENOSPC) + ")\n");

    r = run_in_child([] {
        FILE *full = xfopen("/dev/full", "w");
        fputs("buffered", full);
        xfclose(full);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("cannot close file stream (") + strerror(ENOSPC) + ")\n");

    // A write that failed before the close is not lost silently.
    r = run_in_child([] {
        FILE *full = xfopen("/dev/full", "w");
        setvbuf(full, nullptr, _IONBF, 0);
        fputs("unbuffered and lost", full);
        xfclose(full);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("cannot close file stream (") + strerror(ENOSPC) + ")\n");
#endif
}

namespace {

// Closed standard descriptors are filled with the null device, in order, so
// the next file opened gets a number above 2; open ones are left alone.
TEST(StandardDescriptors, ClosedOnesAreOpenedOnTheNullDevice)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: descriptor flags (fcntl) and device numbers of /dev/null";
#else
    kt_test::TempDir dir;
    auto r = kt_test::run_in_child([&] {
        close(0);
        close(2);
        xopen_std_fds();
        int fd = open(dir.file("f").c_str(), O_WRONLY | O_CREAT, 0600);
        struct stat null_device, in, err;
        stat("/dev/null", &null_device);
        fstat(0, &in);
        fstat(2, &err);
        printf("%d %d %d %d", fd > 2, in.st_rdev == null_device.st_rdev, err.st_rdev == null_device.st_rdev,
               fcntl(0, F_GETFL) & O_ACCMODE);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1 1 1 0");   // 0 is O_RDONLY
#endif
}

}  // namespace
