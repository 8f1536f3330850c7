#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using kt_test::ChdirGuard;
using kt_test::run_in_child;
using kt_test::TempDir;
using kt_test::write_file;

namespace {

std::string take(char *s)
{
    std::string t = s ? s : "<null>";
    free(s);
    return t;
}

// Sets PATH (or unsets it for a null value) for the object's lifetime.
class PathGuard {
public:
    explicit PathGuard(const char *value)
    {
        const char *old = getenv("PATH");
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        if (value)
            setenv("PATH", value, 1);
        else
            unsetenv("PATH");
    }
    ~PathGuard()
    {
        if (had_)
            setenv("PATH", old_.c_str(), 1);
        else
            unsetenv("PATH");
    }

private:
    bool had_;
    std::string old_;
};

// Copies handed out by chunk_add live for the whole process; keeping them
// here keeps them reachable for the leak checker.
std::vector<char *> kept_copies;

char *add(const std::string &s)
{
    char *copy = chunk_add(s.c_str());
    kept_copies.push_back(copy);
    return copy;
}

}  // namespace

TEST(Permissions, TextToBits)
{
    EXPECT_EQ(perm_t2b("drwxr-xr-x"), 0x41ED);
    EXPECT_EQ(perm_t2b("-rw-r--r--"), 0x81A4);
    EXPECT_EQ(perm_t2b("-rwsr-xr-x"), 0x89ED);
    EXPECT_EQ(perm_t2b("-rwSr-Sr-T"), 0x8DA4);
    EXPECT_EQ(perm_t2b("-rwxr-sr-t"), 0x85ED);
    EXPECT_EQ(perm_t2b("lrwxrwxrwx -> target"), 0xA1FF);
    EXPECT_EQ(perm_t2b("brw-rw----"), 0x31B0);
    EXPECT_EQ(perm_t2b("crw-rw-rw-"), 0x21B6);
    EXPECT_EQ(perm_t2b("----------"), 0x8000);

    EXPECT_EQ(perm_t2b("prw-r--r--"), 0);  // pipes are not known
    EXPECT_EQ(perm_t2b("-rwxr-xr-q"), 0);
    EXPECT_EQ(perm_t2b("-xwxr-xr-x"), 0);  // x where only r may stand
    EXPECT_EQ(perm_t2b("-rwxr-xr-S"), 0);  // S only at positions 3 and 6
    EXPECT_EQ(perm_t2b("drwxr-xr-"), 0);
    EXPECT_EQ(perm_t2b(""), 0);
}

TEST(Permissions, BitsToText)
{
    EXPECT_STREQ(perm_b2t(0x1ED), "rwxr-xr-x");
    EXPECT_STREQ(perm_b2t(0x800), "--s------");
    EXPECT_STREQ(perm_b2t(0x840), "--s------");
    EXPECT_STREQ(perm_b2t(0x408), "-----s---");
    EXPECT_STREQ(perm_b2t(0x81A4), "rw-r--r--");  // type bits are ignored
    EXPECT_STREQ(perm_b2t(0x200 | 0x1), "--------x");  // sticky bit not shown
    EXPECT_STREQ(perm_b2t(0), "---------");
    EXPECT_EQ(perm_b2t(1), perm_b2t(2));  // one static buffer
}

TEST(Permissions, ListingEntries)
{
    EXPECT_EQ(is_unix_file_entry("drwxr-xr-x 2 user group 4096 Jan  1 00:00 dir"), 1);
    EXPECT_EQ(is_unix_file_entry("-rw-r--r-- "), 1);
    EXPECT_EQ(is_unix_file_entry("drwxr-xr-x"), 0);
    EXPECT_EQ(is_unix_file_entry("drwxr-xr-x+ 2 user"), 0);
    EXPECT_EQ(is_unix_file_entry("prw-r--r-- 1 user"), 0);
    EXPECT_EQ(is_unix_file_entry("total 12"), 0);
}

TEST(ContentMeasures, BinChars)
{
    EXPECT_EQ(binchars("hello\0\0\0", 8), 0);
    EXPECT_EQ(binchars("ab\x01" "c", 4), 0.25L);
    EXPECT_EQ(binchars("a\0b", 3), 1.0L / 3);  // a NUL inside counts
    EXPECT_EQ(binchars("\x1b[0m\x7f\xff\xe9", 7), 1.0L / 7);  // only ESC; 127 and up never
    EXPECT_EQ(binchars("line\r\n\tx \x0b\x0c", 11), 0);
    EXPECT_EQ(binchars("text\x1a\x1a\0\x1a", 8), 0);
    EXPECT_EQ(binchars("\0\0\0", 3), 1);
    EXPECT_EQ(binchars("abc", 0), 1);
    EXPECT_EQ(binchars("\x1a", 1), 1);
}

TEST(ContentMeasures, NonTextChars)
{
    EXPECT_EQ(nontextchars("ab cd", 5), 0);
    EXPECT_EQ(nontextchars("a1", 2), 0.5L);
    EXPECT_EQ(nontextchars("   ", 3), 1);
    EXPECT_EQ(nontextchars("ABC XYZ", 7), 0);  // every capital is a letter
    EXPECT_EQ(nontextchars("Hello, World", 12), 1.0L / 11);
    EXPECT_EQ(nontextchars("\xcf\xf0\xe8\xe2\xe5\xf2", 6), 0);  // high bytes are text
    EXPECT_EQ(nontextchars("a\t\n1\x1a\0", 6), 0.5L);
    EXPECT_EQ(nontextchars("\0\0", 2), 1);
    EXPECT_EQ(nontextchars("abc", 0), 1);
}

TEST(BytePrinting, PrintBinary)
{
    auto r = run_in_child([] {
        int last = print_binary("a b", 3);
        printf("|%d|", last);
        last = print_binary("\n\xff!", 3);
        printf("|%d|", last);
        last = print_binary("xyz", 0);
        printf("|%d|", last);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a[20]b|98|[0a][ff]!|33||0|");
}

TEST(BytePrinting, Bits)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: memory streams (open_memstream)";
#else
    char *text = nullptr;
    size_t size = 0;
    FILE *fp = open_memstream(&text, &size);
    fprint_bits(fp, "\xA5\x01", 2);
    fputc('|', fp);
    fprint_bits(fp, "\xff", 1);
    fputc('|', fp);
    fprint_bits(fp, "", 0);
    fclose(fp);
    EXPECT_STREQ(text, "1010-0101 0000-0001|1111-1111|");
    free(text);
#endif
}

class ExecLookup : public ::testing::Test {
protected:
    TempDir dir;
    std::string d1 = dir.file("d1"), d2 = dir.file("d2"), cwd = dir.file("cwd");
    void SetUp() override
    {
        for (const auto &d : {d1, d2, cwd})
            mkdir(d.c_str(), 0755);
        write_file(d1 + "/tool", "");
        write_file(d2 + "/tool", "");
        write_file(d2 + "/app.exe", "");
        write_file(cwd + "/here", "");
        write_file(cwd + "/local.exe", "");
        mkdir((cwd + "/C:").c_str(), 0755);
        mkdir((cwd + "/C:/tools").c_str(), 0755);
        write_file(cwd + "/C:/tools/app.exe", "");
    }
};

TEST_F(ExecLookup, NamesWithADirectory)
{
    ChdirGuard in(cwd);
    PathGuard path(nullptr);
#ifndef _WIN32  // there C: is a drive, not a directory the test can make
    EXPECT_EQ(take(locate_exec_path("C:\\tools\\app.exe")), "C:/tools");
    EXPECT_EQ(take(locate_exec_path(" \tC:/tools/app.exe\r\n")), "C:/tools");
#endif
    EXPECT_EQ(take(locate_exec_path((d2 + "/app.exe").c_str())), d2);
    EXPECT_EQ(take(locate_exec_path("./here")), ".");
    EXPECT_EQ(take(locate_exec_path("C:/tools/missing.exe")), "<null>");
    EXPECT_EQ(take(locate_exec_path("/bin")), "/");  // the root keeps its slash
}

TEST_F(ExecLookup, BareNamesInTheCurrentDirectoryAndOnThePath)
{
    ChdirGuard in(cwd);
    {
        PathGuard path(nullptr);
        EXPECT_EQ(take(locate_exec_path("here")), ".");
        EXPECT_EQ(take(locate_exec_path("tool")), "<null>");
    }
    {
#ifdef _WIN32
        const char *separator = ";";  // the drive letters carry colons
#else
        const char *separator = ":";
#endif
        PathGuard path((d1 + separator + d2).c_str());
        EXPECT_EQ(take(locate_exec_path("tool\n")), d1);  // first directory wins
        EXPECT_EQ(take(locate_exec_path("app")), d2);     // found with ".exe"
        EXPECT_EQ(take(locate_exec_path("local")), ".");  // ".exe" in the current directory
        EXPECT_EQ(take(locate_exec_path("nothing")), "<null>");
        EXPECT_EQ(take(locate_exec_path(" \r\n")), "<null>");  // nothing left to look for
    }
    {
        // ";" wins over ":", backslashes count as slashes, empty entries are harmless.
        std::string list = ";" + d2 + "/;" + d1;
        for (char &c : list)
            if (c == '/')
                c = '\\';
        PathGuard path(list.c_str());
        EXPECT_EQ(take(locate_exec_path("tool")), d2 + "/");
    }
#ifndef _WIN32  // there the drive letter's colon reads as a separator
    {
        PathGuard path(d2.c_str());  // one directory, no separator: not searched
        EXPECT_EQ(take(locate_exec_path("tool")), "<null>");
        EXPECT_EQ(take(locate_exec_path("local")), "<null>");
    }
#endif
}

// Copies of every size, megabytes of them in all, and each one still holds
// its text after all the others were added: none moves or overlaps another.
TEST(ChunkAdd, CopiesStayWholeAndApart)
{
    std::vector<std::string> texts = {std::string(300000, 'h'), ""};
    for (int i = 0; i < 1500; i++)
        texts.push_back(std::string((size_t)(i * 7 % 1200), (char)('a' + i % 26)) + std::to_string(i));
    texts.push_back(std::string(600000, 'z'));
    std::vector<char *> copies;
    for (const std::string &text : texts)
        copies.push_back(add(text));
    for (size_t i = 0; i < texts.size(); i++)
        ASSERT_EQ(std::string(copies[i]), texts[i]) << i;
}

TEST(IntegerPower, MultipliesInExtendedPrecision)
{
    EXPECT_EQ(ipow(2, 10), 1024);
    EXPECT_EQ(ipow(7.5, 0), 1);
    EXPECT_EQ(ipow(7.5, -3), 1);
    EXPECT_EQ(ipow(-2, 3), -8);
    EXPECT_EQ(ipow(0.5, 3), 0.125L);
    EXPECT_EQ(ipow(3, 40), 12157665459056928801.0L);  // exact only beyond double
}
