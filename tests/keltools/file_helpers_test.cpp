// Text loading, line output and file system helpers.

#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

using kt_test::file_exists;
using kt_test::read_file;
using kt_test::run_in_child;
using kt_test::TempDir;
using kt_test::write_file;

namespace {

using Lines = std::vector<std::string>;

Lines text_lines(std::string text)
{
    char **lines = nullptr;
    int n = text2lines(text.data(), &lines);
    Lines result(lines, lines + n);
    free(lines);
    return result;
}

TEST(Text2Lines, EmptyLinesBetweenOthersVanish)
{
    EXPECT_EQ(text_lines("a\r\n\r\nb\n"), (Lines{"a", "b"}));
    EXPECT_EQ(text_lines("\nx"), (Lines{"", "x"}));
    EXPECT_EQ(text_lines("a\rb\n\rc"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(text_lines(""), (Lines{""}));
    EXPECT_EQ(text_lines("a\n\n\n"), (Lines{"a"}));
    std::string many;
    for (int i = 0; i < 200; i++)
        many += std::to_string(i) + "\n";
    Lines got = text_lines(many);
    ASSERT_EQ(got.size(), 200u);
    EXPECT_EQ(got[64], "64");
    EXPECT_EQ(got[199], "199");
}

// Loads a file through the given loader and frees what it returned.
template <typename Loader>
Lines loaded(const std::string &path, Loader load, int *count)
{
    char **lines = nullptr;
    *count = load(path.c_str(), &lines);
    if (*count <= 0)
        return {};
    Lines result(lines, lines + *count);
    free(lines[0]);
    free(lines);
    return result;
}

TEST(LoadTextfile, SplitsAtLineEndsAndBlanksNuls)
{
    TempDir dir;
    int n;
    write_file(dir.file("t"), std::string("a\0b\r\n\r\nc\r\n", 10));
    EXPECT_EQ(loaded(dir.file("t"), load_textfile, &n), (Lines{"a b", "c"}));
    EXPECT_EQ(n, 2);

    write_file(dir.file("empty"), "");
    loaded(dir.file("empty"), load_textfile, &n);
    EXPECT_EQ(n, -1);
    loaded(dir.file("missing"), load_textfile, &n);
    EXPECT_EQ(n, -1);
}

TEST(LoadTextfile2, SeparatorStrings)
{
    TempDir dir;
    int n;
    auto with_sep = [](const char *sep) {
        return [sep](const char *name, char ***lines) { return load_textfile2(name, lines, sep); };
    };
    write_file(dir.file("crlf"), "a\r\n\r\nb");
    EXPECT_EQ(loaded(dir.file("crlf"), with_sep(nullptr), &n), (Lines{"a", "", "b"}));
    EXPECT_EQ(n, 3);

    write_file(dir.file("dash"), "x--y----z--");
    EXPECT_EQ(loaded(dir.file("dash"), with_sep("--"), &n), (Lines{"x", "y", "", "z"}));

    write_file(dir.file("partial"), "aab-a");  // a separator's first char alone is no match
    EXPECT_EQ(loaded(dir.file("partial"), with_sep("ab"), &n), (Lines{"a", "-a"}));

    write_file(dir.file("lf"), "a\nb");  // plain line feeds are no default separator
    EXPECT_EQ(loaded(dir.file("lf"), with_sep(nullptr), &n), (Lines{"a\nb"}));

    write_file(dir.file("nul_byte"), std::string("p\0q\r\n", 5));  // "nul" is a device on Windows
    EXPECT_EQ(loaded(dir.file("nul_byte"), with_sep(nullptr), &n), (Lines{"p q"}));

    loaded(dir.file("missing"), with_sep(nullptr), &n);
    EXPECT_EQ(n, -1);
}

TEST(LoadStdin, ReadsEverythingAndTerminates)
{
    TempDir dir;
    std::string big;
    for (int i = 0; big.size() < 40000; i++)
        big += "line " + std::to_string(i) + "\n";
    big += std::string("\0tail", 5);
    write_file(dir.file("in"), big);
    auto child = run_in_child([&] {
        int fd = open(dir.file("in").c_str(), O_RDONLY | O_BINARY);
        dup2(fd, STDIN_FILENO);
        char *p = nullptr;
        long n = load_stdin(&p);
        if (n >= 0 && p[n] == '\0')
            fwrite(p, 1, (size_t)n, stdout);
        free(p);
        exit(n == (long)big.size() ? 0 : 2);
    });
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(child.out, big);

    auto empty = run_in_child([] {
        char *p = nullptr;
        long n = load_stdin(&p);
        int ok = n == 0 && p && p[0] == '\0';
        free(p);
        exit(ok ? 0 : 2);
    });
    EXPECT_EQ(empty.status, 0);
}

TEST(PrintFile, CopiesToStandardOutput)
{
    TempDir dir;
    std::string text = "one\n" + std::string(20000, 'x') + "\nlast";
    write_file(dir.file("f"), text);
    auto child = run_in_child([&] { exit(print_file(dir.file("f").c_str()) == 0 ? 0 : 2); });
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(child.out, text);

    auto missing = run_in_child([&] { exit(print_file(dir.file("none").c_str())); });
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(missing.out, "");
}

TEST(LongPrint, FoldsIntoContinuationLines)
{
    TempDir dir;
    FILE *fp = fopen(dir.file("s").c_str(), "w");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(flongprint(fp, "0123456789", 6), 0);
    fputc('|', fp);
    EXPECT_EQ(flongprint(fp, "01234567", 6), 0);
    fputc('|', fp);
    EXPECT_EQ(flongprint(fp, "", 6), 0);
    EXPECT_EQ(flongprint(fp, "abc", 2), -1);
    EXPECT_EQ(flongprint(fp, "abc", 3), 0);
    fclose(fp);
    EXPECT_EQ(kt_test::read_text_file(dir.file("s")), "0123\\\n4567\\\n89|0123\\\n4567|a\\\nb\\\nc");

    int fd = open(dir.file("d").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(longprint(fd, "0123456789", 6), 0);
    EXPECT_EQ(longprint(fd, "0123456789", 2), -1);
    EXPECT_EQ(longprint(fd, "xy", 100), 0);
    close(fd);
    EXPECT_EQ(read_file(dir.file("d")), "0123\\\n4567\\\n89xy");
}

bool is_dir(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(MakeSubtree, CreatesEveryMissingLevel)
{
    TempDir dir;
    kt_test::ChdirGuard here(dir.path());
    ASSERT_EQ(mkdir("a", 0755), 0);
    EXPECT_EQ(make_subtree("a/b/c"), 0);
    EXPECT_TRUE(is_dir("a/b/c"));
    EXPECT_EQ(make_subtree("a/b/c"), 0);  // all there already
    EXPECT_EQ(make_subtree("p\\q//r/"), 0);
    EXPECT_TRUE(is_dir("p/q/r"));
    EXPECT_EQ(make_subtree((dir.path() + "/x/y").c_str()), 0);  // rooted path
    EXPECT_TRUE(is_dir("x/y"));

#ifdef _WIN32
    GTEST_SKIP() << "drive prefixes name real drives on Windows";
#endif
    EXPECT_EQ(make_subtree("C:"), 0);
    EXPECT_FALSE(file_exists("C:"));
    EXPECT_EQ(make_subtree("C:/d"), -1);  // a bare drive prefix is never created
    EXPECT_FALSE(file_exists("C:"));
}

TEST(MakeSubtree, FailsWhenALevelCannotBeMade)
{
    TempDir dir;
    kt_test::ChdirGuard here(dir.path());
    write_file("plain", "x");
    EXPECT_EQ(make_subtree("plain/sub"), -1);
    std::string too_long = "m/" + std::string(300, 'n') + "/z";
    EXPECT_EQ(make_subtree(too_long.c_str()), -1);
    EXPECT_TRUE(is_dir("m"));  // levels made before the failure stay
}

TEST(DumpAndCopyFile, WholeFiles)
{
    TempDir dir;
    std::string bytes("a\0b\r\nc", 6);
    EXPECT_EQ(dump_file(dir.file("d").c_str(), bytes.data(), 6), 6);
    EXPECT_EQ(read_file(dir.file("d")), bytes);
    EXPECT_EQ(dump_file(dir.file("d").c_str(), "xy", 2), 2);  // truncates
    EXPECT_EQ(read_file(dir.file("d")), "xy");
    EXPECT_EQ(dump_file((dir.path() + "/no/such").c_str(), "xy", 2), -1);
    mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(dir.file("d").c_str(), &st), 0);
#ifndef _WIN32  // Windows keeps no execute or group bits
    EXPECT_EQ(st.st_mode & 0777, 0777 & ~mask);
#endif

    write_file(dir.file("src"), bytes);
    EXPECT_EQ(copy_file(dir.file("src").c_str(), dir.file("copy").c_str()), 0);
    EXPECT_EQ(read_file(dir.file("copy")), bytes);
    EXPECT_EQ(copy_file(dir.file("missing").c_str(), dir.file("never").c_str()), 1);
    EXPECT_FALSE(file_exists(dir.file("never")));
    EXPECT_EQ(copy_file(dir.file("src").c_str(), (dir.path() + "/no/dest").c_str()), 1);
    write_file(dir.file("empty"), "");
    EXPECT_EQ(copy_file(dir.file("empty").c_str(), dir.file("empty2").c_str()), 0);
    EXPECT_TRUE(file_exists(dir.file("empty2")));
    EXPECT_EQ(read_file(dir.file("empty2")), "");
}

TEST(IsTextfile, ProbesTheStart)
{
    TempDir dir;
    auto probe = [&](const std::string &content, int size) {
        write_file(dir.file("p"), content);
        return is_textfile(dir.file("p").c_str(), size);
    };
    EXPECT_EQ(probe("hello\r\n\tworld\b \xe0\xff", -1), 1);
    EXPECT_EQ(probe("", -1), -1);
    EXPECT_EQ(is_textfile(dir.file("missing").c_str(), -1), -1);
    EXPECT_EQ(probe("ab\x01", -1), 0);
    EXPECT_EQ(probe(std::string("ab\0c", 4), -1), 0);
    std::string late = std::string(2000, 'x') + "\x01";
    EXPECT_EQ(probe(late, -1), 1);    // beyond the first KiB
    EXPECT_EQ(probe(late, 3000), 0);  // the probe covers the whole file
    EXPECT_EQ(probe(std::string(1023, 'x') + "\x1b", -1), 0);
    EXPECT_EQ(probe(std::string(1024, 'x') + "\x1b", -1), 1);
    EXPECT_EQ(is_textfile(dir.path().c_str(), -1), -1);  // a directory cannot be read
}

TEST(IsIndexfile, KnownNamesAnyCase)
{
    for (const char *name : {"00index.txt", "00_INDEX.TXT", "00Index", "00-index", "Index.Txt",
                             "FILES.BBS", "Descript.Ion", "INDEX", "!index"})
        EXPECT_EQ(isindexfile(name), 1) << name;
    for (const char *name : {"index.htm", "", "00index.tx", "xindex", "files.bb"})
        EXPECT_EQ(isindexfile(name), 0) << name;
}

}  // namespace
