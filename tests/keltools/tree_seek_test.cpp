// Directory tree removal and the checked seek.

#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

using kt_test::file_exists;
using kt_test::run_in_child;
using kt_test::TempDir;
using kt_test::write_file;

namespace {

void make_tree(const std::string &top)
{
    ASSERT_EQ(mkdir(top.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((top + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((top + "/sub/deeper").c_str(), 0755), 0);
    write_file(top + "/f1", "1");
    write_file(top + "/sub/f2", "2");
    write_file(top + "/sub/deeper/f3", "3");
    write_file(top + "/.hidden", "h");
}

TEST(Xrmdir, RemovesAWholeTree)
{
    TempDir dir;
    make_tree(dir.file("tree"));
    auto child = run_in_child([&] { exit(xrmdir(0, "%s/%s", dir.path().c_str(), "tree")); });
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(child.err, "");
    EXPECT_FALSE(file_exists(dir.file("tree")));

    ASSERT_EQ(mkdir(dir.file("empty").c_str(), 0755), 0);
    EXPECT_EQ(xrmdir(1, "%s", dir.file("empty").c_str()), 0);
    EXPECT_FALSE(file_exists(dir.file("empty")));
}

TEST(Xrmdir, TrailingSlashAndSymlinks)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX symbolic links; Windows links have their own test";
#endif
    TempDir dir;
    make_tree(dir.file("tree"));
    ASSERT_EQ(mkdir(dir.file("outside").c_str(), 0755), 0);
    write_file(dir.file("outside/precious"), "p");
#ifndef _WIN32
    ASSERT_EQ(symlink(dir.file("outside").c_str(), dir.file("tree/link").c_str()), 0);
#endif
    EXPECT_EQ(xrmdir(0, "%s/", dir.file("tree").c_str()), 0);
    EXPECT_FALSE(file_exists(dir.file("tree")));
    EXPECT_TRUE(file_exists(dir.file("outside/precious")));  // the link went, not its target
}

TEST(Xrmdir, MissingDirectory)
{
    TempDir dir;
    std::string name = dir.file("nothing");
    auto soft = run_in_child([&] { exit(xrmdir(1, "%s", name.c_str()) == 0 ? 0 : 2); });
    EXPECT_EQ(soft.status, 0);
    EXPECT_EQ(soft.err, "warning: failed to scan directory " + name + "\n");
    auto worker = run_in_child([&] { exit(rmdir_worker(1, name.c_str()) == -1 ? 0 : 2); });
    EXPECT_EQ(worker.status, 0);

    auto hard = run_in_child([&] { xrmdir(0, "%s", name.c_str()); });
    EXPECT_EQ(hard.status, 1);
    EXPECT_EQ(hard.err, "failed to scan directory " + name + "\n");
}

// Runs fn in a child without root's privileges (so that permissions hold);
// the status is 77 when they cannot be dropped.
kt_test::ChildResult run_unprivileged(const std::function<void()> &fn)
{
#ifdef _WIN32
    (void)fn;
    kt_test::ChildResult skipped;
    skipped.status = 78;  // read-only directories do not guard their entries on Windows
    return skipped;
#endif
    return run_in_child([&] {
#ifndef _WIN32
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            exit(77);
#endif
        fn();
    });
}

// A tree whose "locked/keep" cannot be removed: "locked" is read-only.
std::string make_locked_tree(const TempDir &dir)
{
    chmod(dir.path().c_str(), 0755);
    std::string work = dir.file("work");
    mkdir(work.c_str(), 0777);
    chmod(work.c_str(), 0777);
    return work + "/tree";
}

void build_locked_tree(const std::string &top)
{
    mkdir(top.c_str(), 0755);
    mkdir((top + "/locked").c_str(), 0755);
    write_file(top + "/locked/keep", "k");
    write_file(top + "/gone", "g");
    chmod((top + "/locked").c_str(), 0555);
}

TEST(Xrmdir, SoftModeGoesOnPastAnUnremovableEntry)
{
    TempDir dir;
    std::string top = make_locked_tree(dir);
    auto child = run_unprivileged([&] {
        build_locked_tree(top);
        exit(xrmdir(1, "%s", top.c_str()) == 0 ? 0 : 2);
    });
    if (child.status == 77)
        GTEST_SKIP() << "cannot drop privileges";
    if (child.status == 78)
        GTEST_SKIP() << "POSIX permissions: a read-only directory does not keep its entries on Windows";
    EXPECT_EQ(child.status, 0);
    std::string denied = strerror(EACCES), not_empty = strerror(ENOTEMPTY);
    EXPECT_EQ(child.err, "warning: failed to remove file " + top + "/locked/keep (" + denied + ")\n" +
                             "warning: failed to remove directory " + top + "/locked (" + not_empty +
                             ")\n" + "warning: failed to remove directory " + top + " (" +
                             not_empty + ")\n");
    EXPECT_TRUE(file_exists(top + "/locked/keep"));
    EXPECT_FALSE(file_exists(top + "/gone"));
}

TEST(Xrmdir, HardModeStopsAtAnUnremovableEntry)
{
    TempDir dir;
    std::string top = make_locked_tree(dir);
    auto child = run_unprivileged([&] {
        build_locked_tree(top);
        chmod((top + "/locked").c_str(), 0755);
        mkdir((top + "/locked/sealed").c_str(), 0755);
        write_file(top + "/locked/sealed/x", "x");
        chmod((top + "/locked/sealed").c_str(), 0555);
        xrmdir(0, "%s", top.c_str());
        exit(0);
    });
    if (child.status == 77)
        GTEST_SKIP() << "cannot drop privileges";
    if (child.status == 78)
        GTEST_SKIP() << "POSIX permissions: a read-only directory does not keep its entries on Windows";
    EXPECT_EQ(child.status, 1) << child.err << child.out;
    EXPECT_EQ(child.err, "failed to remove file " + top + "/locked/sealed/x (" +
                             strerror(EACCES) + ")\n");
    EXPECT_TRUE(file_exists(top + "/locked/sealed/x"));
}

TEST(Xlseek, PositionsOrStopsWithGroupedOffset)
{
    TempDir dir;
    write_file(dir.file("f"), std::string(100, 'x'));
    int fd = open(dir.file("f").c_str(), O_RDONLY | O_BINARY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(xlseek(fd, 10), 0);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 10);
    EXPECT_EQ(xlseek(fd, 5000000000LL), 0);  // past the end is a valid position
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5000000000LL);
    close(fd);

    auto pipe_seek = run_in_child([] {
        int fds[2];
        if (pipe(fds) != 0)
            exit(2);
        xlseek(fds[0], 4294967296LL);
        exit(0);
    });
    EXPECT_EQ(pipe_seek.status, 1);
    EXPECT_EQ(pipe_seek.err, "lseek (4,294,967,296) failed\n");

    // -1 is also what a failed seek returns; the offset shows as insert_commas4
    // writes it, read as unsigned.
    auto minus_one = run_in_child([&] {
        int fd2 = open(dir.file("f").c_str(), O_RDONLY | O_BINARY);
        xlseek(fd2, -1);
        exit(0);
    });
    EXPECT_EQ(minus_one.status, 1);
    EXPECT_EQ(minus_one.err, "lseek (18,446,744,073,709,551,615) failed\n");

    auto bad_fd = run_in_child([] { xlseek(-1, 1234567); });
    EXPECT_EQ(bad_fd.status, 1);
    EXPECT_EQ(bad_fd.err, "lseek (1,234,567) failed\n");
}

}  // namespace
