// What must come out the same on every platform, Windows with its text-mode
// streams, 32-bit long and ANSI file names included: untranslated loading,
// 64-bit file lengths, the text sort's rename over an existing output, dates
// before 1970, and (on Windows) directory links and unspellable names.

#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

using kt_test::read_text_file;
using kt_test::run_command;
using kt_test::TempDir;
using kt_test::write_file;

namespace {

const std::string buy = "\xca\xf3\xef\xeb\xff";  // the buy word in Windows-1251

std::string trade_row(const std::string &no)
{
    const char *cells[] = {"05.03.2013 10:00:00", no.c_str(), "11", "A", "Alpha", "MICEX", buy.c_str(), "T0",
                           "10", "100", "0", "0", "", "0", "0", "L01"};
    std::string row = "<tr>";
    for (const char *cell : cells)
        row += std::string("<td>") + cell + "</td>";
    return row + "</tr>";
}

const std::string alpha_line =
    "05.03.2013 10:00:00              11        Alpha 1   10.00000         100.000 0.000\n";

TEST(Untranslated, CrLfAndCtrlZLoadAsTheyAre)
{
    TempDir dir;
    const std::string bytes("a\r\n\x1a\r\nb", 7);
    write_file(dir.file("f"), bytes);
    char *p = nullptr;
    ASSERT_EQ(load_file(dir.file("f").c_str(), &p), 7);
    EXPECT_EQ(std::string(p, 7), bytes);
    free(p);

    // A whole export with CR LF line ends and an end-of-file byte before its table.
    write_file(dir.file("sdelki_crlf.xls"), "<html>\x1a\r\n<table>\r\n" + trade_row("1") + "\r\n</table></html>\r\n");
    kt_test::ChildResult run = run_command(dir.path(), VARNOCK_PATH);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("1 transactions imported\n"), std::string::npos) << run.err;
    EXPECT_EQ(read_text_file(dir.file("imported.txt")), alpha_line);
}

TEST(LargeFiles, LengthsPastFourGiBAreNeverCut)
{
    TempDir dir;
    std::string path = dir.file("big");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lseek(fd, 4294967296LL, SEEK_SET), 4294967296LL);  // a hole: nothing is stored
    ASSERT_EQ(write(fd, "12345", 5), 5);
    close(fd);

    EXPECT_EQ(f_length(path.c_str()), 4294967301LL);
    fd = open(path.c_str(), O_RDONLY | O_BINARY);
    if (sizeof(unsigned long) >= 8) {
        EXPECT_EQ(file_length(fd), 4294967301UL);
    } else {
        EXPECT_EQ(file_length(fd), (unsigned long)-1);
        char *p = nullptr;
        EXPECT_EQ(load_file(path.c_str(), &p), -1);  // not five bytes
    }
    close(fd);
}

TEST(TextSort, TheResultReplacesAnExistingOutput)
{
    TempDir dir;
    write_file(dir.file("in"), "b\na\n");
    write_file(dir.file("out"), "an older, longer output\n");
    ASSERT_EQ(sortfile(dir.file("in").c_str(), dir.file("out").c_str(), cmp_str, 1000, dir.path().c_str()), 0);
    EXPECT_EQ(kt_test::read_file(dir.file("out")), "a\nb\n");

    // Bytes go through untranslated: CR LF lines keep their CR, never gain one.
    write_file(dir.file("in"), "b\r\na\r\n");
    ASSERT_EQ(sortfile(dir.file("in").c_str(), dir.file("in").c_str(), cmp_str, 1000, dir.path().c_str()), 0);
    EXPECT_EQ(kt_test::read_file(dir.file("in")), "a\r\nb\r\n");
}

TEST(PrettyDate, TimesBefore1970AndBeyondAnyYear)
{
    EXPECT_STREQ(pretty_date(-1), "31/12/1969 23:59:59");
    EXPECT_STREQ(pretty_date(-86400), "31/12/1969 00:00:00");
    EXPECT_STREQ(pretty_date(-2208988800LL), "01/01/1900 00:00:00");
    EXPECT_STREQ(pretty_date(-62135596800LL), "01/01/0001 00:00:00");
    EXPECT_STREQ(pretty_date(-62135596801LL), "31/12/0000 23:59:59");
    EXPECT_STREQ(pretty_date(951782400), "29/02/2000 00:00:00");
    EXPECT_STREQ(pretty_dateonly(-1), "31/12/1969");
    EXPECT_STREQ(pretty_dateonly(-2208988800LL + 59 * 86400), "01/03/1900");  // 1900 was no leap year
    // No year number fits these: the text stays empty.
    EXPECT_STREQ(pretty_date(LLONG_MAX), "");
    EXPECT_STREQ(pretty_date(LLONG_MIN), "");
}

#ifdef _WIN32

TEST(TreeRemoval, DirectoryLinksAreRemovedNotEntered)
{
    TempDir dir;
    std::string tree = dir.file("tree"), outside = dir.file("outside");
    ASSERT_EQ(mkdir(tree.c_str()), 0);
    ASSERT_EQ(mkdir(outside.c_str()), 0);
    write_file(outside + "/precious", "p");
    if (!CreateSymbolicLinkA((tree + "/link").c_str(), outside.c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        GTEST_SKIP() << "this system makes no directory links (error " << GetLastError() << ")";
    EXPECT_EQ(xrmdir(0, "%s", tree.c_str()), 0);
    EXPECT_FALSE(kt_test::file_exists(tree));
    EXPECT_EQ(kt_test::read_file(outside + "/precious"), "p");
}

TEST(AnsiNames, AnExportTheCodePageCannotSpellIsNotRead)
{
    if (GetACP() == CP_UTF8)
        GTEST_SKIP() << "the ANSI code page is UTF-8 here: it spells every name";
    TempDir dir;
    write_file(dir.file("sdelki_a.xls"), "<table>" + trade_row("1") + "</table>");
    std::wstring wide_dir(dir.path().begin(), dir.path().end());
    HANDLE h = CreateFileW((wide_dir + L"/sdelki_\u4e2d\u6587.xls").c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string other = "<table>" + trade_row("2") + "</table>";
    DWORD written = 0;
    WriteFile(h, other.data(), (DWORD)other.size(), &written, nullptr);
    CloseHandle(h);

    kt_test::ChildResult run = run_command(dir.path(), VARNOCK_PATH);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_text_file(dir.file("imported.txt")), alpha_line);  // trade 1 only
}

#endif

}  // namespace
