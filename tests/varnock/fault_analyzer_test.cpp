// Fault injection for the analyzer: the program runs on a small trade file
// while its output files cannot be created, its disk is full, some trade files
// cannot be read, or its address space is too small for a trade file.  Each
// run must stop with the exact message and status 1 (or complete with a
// warning per unreadable file), and the files written before the failure
// must be whole.
//
// Tests run as root, so unwritable outputs are made with directories of the
// output's name, a read-only bind mount and symbolic links to /dev/full.

#ifdef _WIN32
#include <gtest/gtest.h>

TEST(AnalyzerFaults, SkippedOnWindows)
{
    GTEST_SKIP() << "POSIX only: mount namespaces, read-only bind mounts, /dev/full, FIFOs, symbolic links and address-space limits";
}
#else
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using kt_test::ChildResult;
using kt_test::file_exists;
using kt_test::kNoMounts;
using kt_test::make_read_only;
using kt_test::read_file;
using kt_test::reason;
using kt_test::run_in_child;
using kt_test::TempDir;
using kt_test::write_file;

namespace {

// One accepted trade (a buy, "Купля" in cp1251) and one header row.
const std::string trade_file =
    "<table>\r\n<tr><th>header</th></tr>\r\n"
    "<tr><td>05.03.2013 10:07:31</td><td>101</td><td>7001</td><td>GAZP</td><td>Gazprom</td>"
    "<td>T0</td><td>\xca\xf3\xef\xeb\xff</td><td>10</td><td>142.5</td><td>1425</td>"
    "<td>0.5</td><td>0</td><td>0</td><td>0</td><td>0</td><td>T0</td></tr>\r\n</table>\r\n";

// Its trade line: the order number in 15 columns, the name in 12, the price
// as %10.5f, the amount as %15.3f and the commission as %5.3f.
const std::string trade_line = "05.03.2013 10:07:31 " + std::string(11, ' ') + "7001 " +
                               std::string(5, ' ') + "Gazprom 1  142.50000 " +
                               std::string(7, ' ') + "1425.000 0.500\n";
const std::string garbage_line = "-1| <th>header</th>\n";

bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs the analyzer in dir, after prepare (in the child) returned true.
ChildResult run_analyzer(const std::string &dir, const std::function<bool()> &prepare = [] {
    return true;
})
{
    return run_in_child([&] {
        if (!prepare())
            _exit(kNoMounts);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        alarm(30);  // a run that hangs is killed, and the test fails
        execl(VARNOCK_PATH, "varnock", (char *)nullptr);
        _exit(127);
    });
}

// A directory holding the trade file, and whatever names are to be blocked.
struct RunDir {
    TempDir dir;
    RunDir() { write_file(dir.file("sdelki1.xls"), trade_file); }
    std::string file(const std::string &name) const { return dir.file(name); }
    void block_with_directory(const std::string &name) const
    {
        ASSERT_EQ(mkdir(file(name).c_str(), 0777), 0);
    }
    void link_to_full_device(const std::string &name) const
    {
        ASSERT_EQ(symlink("/dev/full", file(name).c_str()), 0);
    }
};

}  // namespace

TEST(AnalyzerOutputs, AnOutputThatCannotBeOpenedStopsTheRunAndKeepsEarlierFiles)
{
    {
        RunDir run;
        run.block_with_directory("imported.txt");
        auto r = run_analyzer(run.dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "cannot open imported.txt in mode \"w\" " + reason(EISDIR) + "\n");
        EXPECT_FALSE(file_exists(run.file("garbage.txt")));
    }
    {
        RunDir run;
        run.block_with_directory("garbage.txt");
        auto r = run_analyzer(run.dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "cannot open garbage.txt in mode \"w\" " + reason(EISDIR) + "\n");
        EXPECT_TRUE(file_exists(run.file("imported.txt")));
        EXPECT_EQ(read_file(run.file("imported.txt")), "");
    }
    {
        RunDir run;
        run.block_with_directory("orders.txt");
        auto r = run_analyzer(run.dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.err, "1 orders\ncannot open orders.txt in mode \"w\" " +
                                         reason(EISDIR) + "\n"))
            << r.err;
        EXPECT_EQ(read_file(run.file("imported.txt")), trade_line);
        EXPECT_EQ(read_file(run.file("garbage.txt")), garbage_line);
    }
    {
        RunDir run;
        run.block_with_directory("report.html");
        auto r = run_analyzer(run.dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.err, "cannot open report.html in mode \"w\" " + reason(EISDIR) + "\n"))
            << r.err;
        EXPECT_EQ(read_file(run.file("orders.txt")), trade_line);
        std::string year_page = read_file(run.file("report-2013.html"));
        EXPECT_NE(year_page.find("Gazprom"), std::string::npos);
        EXPECT_NE(year_page.find("</html>"), std::string::npos);
    }
}

TEST(AnalyzerOutputs, AReadOnlyDirectoryStopsAtTheFirstOutput)
{
    RunDir run;
    auto r = run_analyzer(run.dir.path(), [&] { return make_read_only(run.dir.path()); });
    if (r.exited && r.status == kNoMounts)
        GTEST_SKIP() << "mount namespaces are not available here";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open imported.txt in mode \"w\" " + reason(EROFS) + "\n");
    EXPECT_EQ(read_file(run.file("sdelki1.xls")), trade_file);
    EXPECT_FALSE(file_exists(run.file("imported.txt")));
}

// Each output in turn goes to a device that is always full: the run stops when
// the stream is closed, and the files closed before it are complete.
TEST(AnalyzerOutputs, AFullDeviceStopsWhenTheStreamIsClosed)
{
    const std::string full = "cannot close file stream " + reason(ENOSPC) + "\n";
    {
        RunDir run;
        run.link_to_full_device("imported.txt");
        auto r = run_analyzer(run.dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "reading sdelki1.xls...\n" + full);
    }
    {
        // A write fails in the middle of the first file, while the next one
        // may be read ahead: the run stops after the first reading line.
        RunDir run;
        std::string rows = trade_file.substr(trade_file.find("<tr><td>"));
        std::string many;
        while (many.size() < (1 << 19))   // more lines than the stream's buffer holds
            many += rows;
        write_file(run.file("sdelki1.xls"), many);
        write_file(run.file("sdelki2.xls"), many);
        run.link_to_full_device("imported.txt");
        auto r = run_analyzer(run.dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err == "reading sdelki1.xls...\n" + full || r.err == "reading sdelki2.xls...\n" + full) << r.err;
    }
    {
        RunDir run;
        run.link_to_full_device("garbage.txt");
        auto r = run_analyzer(run.dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "reading sdelki1.xls...\n" + full);
        EXPECT_EQ(read_file(run.file("imported.txt")), trade_line);
    }
    {
        RunDir run;
        run.link_to_full_device("orders.txt");
        auto r = run_analyzer(run.dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.err, "1 orders\n" + full)) << r.err;
        EXPECT_EQ(read_file(run.file("imported.txt")), trade_line);
        EXPECT_EQ(read_file(run.file("garbage.txt")), garbage_line);
    }
    {
        RunDir run;
        run.link_to_full_device("report.html");
        auto r = run_analyzer(run.dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.err, "1 orders\n" + full)) << r.err;
        EXPECT_EQ(read_file(run.file("orders.txt")), trade_line);
        EXPECT_NE(read_file(run.file("report-2013.html")).find("</html>"), std::string::npos);
    }
}

// Names that match the trade-file pattern but cannot be read as files are
// announced, then named with the system's reason; the run goes on with the
// others and still succeeds.  An empty file is read and yields no trade.
TEST(AnalyzerInputs, UnreadableTradeFilesAreNamedWithTheirReason)
{
    RunDir run;
    ASSERT_EQ(mkdir(run.file("sdelki_dir.xls").c_str(), 0777), 0);
    ASSERT_EQ(mkfifo(run.file("sdelki_pipe.xls").c_str(), 0666), 0);
    ASSERT_EQ(symlink(run.file("nowhere").c_str(), run.file("SDELKI_GONE.XLS").c_str()), 0);
    write_file(run.file("sdelki_empty.xls"), "");

    auto r = run_analyzer(run.dir.path());
    ASSERT_TRUE(r.exited) << "the run hung or crashed";
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> expected = {
        "reading sdelki1.xls...\n",
        "reading sdelki_dir.xls...\nwarning: cannot read sdelki_dir.xls (Is a directory)\n",
        "reading sdelki_pipe.xls...\nwarning: cannot read sdelki_pipe.xls (Illegal seek)\n",
        "reading SDELKI_GONE.XLS...\nwarning: cannot read SDELKI_GONE.XLS (No such file or directory)\n",
        "reading sdelki_empty.xls...\nwarning: no trades in sdelki_empty.xls\n", "1 transactions imported\n",
        "1 unique transactions\n",      "1 orders\n",
        "success\n"};
    for (const std::string &line : expected)
        EXPECT_NE(r.err.find(line), std::string::npos) << line;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 17) << r.err;  // and the four totals
    EXPECT_EQ(read_file(run.file("imported.txt")), trade_line);
    EXPECT_EQ(read_file(run.file("garbage.txt")), garbage_line);
}

// A trade file that keeps changing while it is read is read three times and
// then named; one caught half written by a terminal that rewrites it row by
// row is imported whole, or else with a warning that names it, never in
// part under "success" alone.
TEST(AnalyzerInputs, AFileThatChangesWhileReadIsNeverTakenInPartSilently)
{
    RunDir proc;
    // Announced with length 0, it yields bytes on every read.
    ASSERT_EQ(symlink("/proc/self/stat", proc.file("sdelki_proc.xls").c_str()), 0);
    auto r = run_analyzer(proc.dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("reading sdelki_proc.xls...\nwarning: cannot read sdelki_proc.xls (" + std::string(strerror(EAGAIN)) +
                         ")\n"),
              std::string::npos)
        << r.err;

    const int rows = 200;
    std::vector<std::string> pieces = {"<table>\r\n"};
    for (int i = 0; i < rows; i++) {
        std::string row = trade_file.substr(trade_file.find("<tr><td>"));
        row = row.substr(0, row.find("</tr>") + 7);
        pieces.push_back(row.replace(row.find("<td>101<"), 8, "<td>" + std::to_string(1000 + i) + "<"));
    }
    pieces.push_back("</table>\r\n");
    RunDir run;
    std::string name = run.file("sdelki_w.xls");
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop) {
            int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            for (const std::string &piece : pieces) {
                if (write(fd, piece.data(), piece.size()) != (ssize_t)piece.size()) break;
                usleep(20);
            }
            close(fd);
        }
    });
    for (int k = 0; k < 12; k++) {
        r = run_analyzer(run.dir.path());
        EXPECT_EQ(r.status, 0) << r.err;
        std::string imported = read_file(run.file("imported.txt"));
        long from_w = std::count(imported.begin(), imported.end(), '\n') - 1;  // sdelki1.xls gives one
        bool named = r.err.find("warning: cannot read sdelki_w.xls") != std::string::npos ||
                     r.err.find("warning: sdelki_w.xls: ") != std::string::npos ||
                     r.err.find("warning: no trades in sdelki_w.xls") != std::string::npos;
        EXPECT_TRUE(named || from_w == rows) << from_w << " trades taken silently\n" << r.err;
    }
    stop = true;
    writer.join();
}

// A trade file larger than the address space allows is skipped with the
// system's reason, and the run goes on with the others.
TEST(AnalyzerMemory, ATradeFileTooLargeToLoadIsSkipped)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's allocator ignores address-space limits";
#endif
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer cannot map its shadow memory under an address-space limit";
#endif
    RunDir run;
    std::string big = run.file("sdelki_big.xls");
    write_file(big, "");
    ASSERT_EQ(truncate(big.c_str(), 300 << 20), 0);  // sparse: no disk space used
    auto r = run_analyzer(run.dir.path(), [] {
        struct rlimit limit = {256u << 20, 256u << 20};
        return setrlimit(RLIMIT_AS, &limit) == 0;
    });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("reading sdelki_big.xls...\nwarning: cannot read sdelki_big.xls (Cannot allocate memory)\n"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(ends_with(r.err, "1 orders\nsuccess\n")) << r.err;
    EXPECT_EQ(read_file(run.file("imported.txt")), trade_line);
}

// Two files that fit in memory one at a time but not together: the second
// is read once the first is done, as one file after another would be.
TEST(AnalyzerMemory, FilesTooLargeToHoldTwoAreReadInTurn)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' allocators do not keep to address-space limits";
#endif
    TempDir dir;
    std::vector<std::string> lines;   // each file's
    for (const char *name : {"sdelki_big1.xls", "sdelki_big2.xls"}) {
        std::string path = dir.file(name);
        write_file(path, "");
        ASSERT_EQ(truncate(path.c_str(), 130 << 20), 0);  // sparse: NUL bytes, no disk space used
        lines.push_back(std::string("reading ") + name + "...\nwarning: " + name +
                        ": text after a NUL byte was not read\nwarning: no trades in " + name + "\n");
    }
    auto r = run_analyzer(dir.path(), [] {
        struct rlimit limit = {256u << 20, 256u << 20};
        return setenv("VARNOCK_THREADS", "2", 1) == 0 && setrlimit(RLIMIT_AS, &limit) == 0;
    });
    const std::string none = "no transactions were found\n";
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err == lines[0] + lines[1] + none || r.err == lines[1] + lines[0] + none) << r.err;
}

#endif  // _WIN32
