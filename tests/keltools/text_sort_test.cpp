// The external text-file sort: chunking under small budgets, the merge's
// order for lines the comparison calls equal, sorting a file onto itself,
// and the messages and leftovers of every failure.

#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using kt_test::TempDir;
using kt_test::file_exists;
using kt_test::read_file;
using kt_test::write_file;

namespace {

struct Outcome {
    int rc;
    std::string err;
};

Outcome run_sortfile(const std::string &in, const std::string &out, int msize, const std::string &tmp,
                     int (*compare)(const void *, const void *) = cmp_str)
{
    testing::internal::CaptureStderr();
    int rc = sortfile(in.c_str(), out.c_str(), compare, msize, tmp.c_str());
    return {rc, testing::internal::GetCapturedStderr()};
}

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string chunk_name(const std::string &dir, unsigned i)
{
    return dir + "/sortfile." + std::to_string((unsigned)getpid()) + "." + std::to_string(i);
}

// Lines of the given text (each ended by a line feed, the last one
// possibly not), sorted as unsigned bytes and written back with line feeds.
std::string sorted_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t lf = text.find('\n', at);
        if (lf == std::string::npos) lf = text.size();
        lines.push_back(text.substr(at, lf - at));
        at = lf + 1;
    }
    std::sort(lines.begin(), lines.end());  // char_traits compares as unsigned bytes
    std::string out;
    for (const auto &l : lines) out += l + "\n";
    return out;
}

// Random lines of 0 to 30 bytes, among them empty lines, repeats, carriage
// returns and bytes above 127.
std::string random_text(unsigned seed, int nlines)
{
    std::mt19937 rng(seed);
    const std::string alphabet = "abcXYZ019 \r\t\xC0\xFF";
    std::vector<std::string> pool;
    std::string text;
    for (int i = 0; i < nlines; ++i) {
        std::string line;
        if (!pool.empty() && rng() % 5 == 0) {
            line = pool[rng() % pool.size()];
        } else {
            int len = (int)(rng() % 31);
            for (int k = 0; k < len; ++k) line += alphabet[rng() % alphabet.size()];
            pool.push_back(line);
        }
        text += line + "\n";
    }
    return text;
}

// Orders lines by their first byte only, so that different lines can be equal.
int cmp_first_byte(const void *a, const void *b)
{
    unsigned char x = (unsigned char)**(const char *const *)a, y = (unsigned char)**(const char *const *)b;
    return (x > y) - (x < y);
}

// Lines in strcmp's order, each up to its first NUL, lines it calls equal in
// input order (the bytes after a NUL tell them apart), each written with a
// line feed.
std::string stably_sorted_lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t lf = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, lf - at));
        at = lf + 1;
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const std::string &a, const std::string &b) { return strcmp(a.c_str(), b.c_str()) < 0; });
    std::string out;
    for (const auto &l : lines) out += l + "\n";
    return out;
}

}  // namespace

// Inputs of megabytes, so that chunks are cut and merged on two threads
// where the machine has them: lines that differ only after a NUL keep their
// input order, a line too long for half the budget is still taken, and a
// budget of hundreds of chunks merges in two passes.
TEST(SortFile, LargeInputsOnEveryThreadCountGiveTheStableByteOrder)
{
    TempDir dir;
    std::string text = random_text(11, 120000);
    for (int i = 0; i < 3000; ++i) text += std::string("same\0", 5) + std::to_string(i) + (i % 2 ? "\r\n" : "\n");
    const std::string plain = text + "last line without a line feed";
    text += std::string(300000, 'L') + "\n" + random_text(12, 30000);
    write_file(dir.file("in"), text);
    write_file(dir.file("plain"), plain);
    std::filesystem::create_directory(dir.file("tmp"));
    const std::string want = stably_sorted_lines(text), want_plain = stably_sorted_lines(plain);
    for (const char *threads : {"1", "2"}) {
        setenv("KELTOOLS_SORT_THREADS", threads, 1);
        for (int msize : {1 << 19, 1 << 21, 8192}) {
            const std::string &in = msize == 8192 ? dir.file("plain") : dir.file("in");
            Outcome o = run_sortfile(in, dir.file("out"), msize, dir.file("tmp"));
            ASSERT_EQ(o.rc, 0) << threads << " " << msize << o.err;
            EXPECT_TRUE(read_file(dir.file("out")) == (msize == 8192 ? want_plain : want)) << threads << " " << msize;
            EXPECT_TRUE(entries(dir.file("tmp")).empty());
        }
        write_file(dir.file("self"), text);  // onto itself, through a file beside it
        ASSERT_EQ(run_sortfile(dir.file("self"), dir.file("self"), 1 << 19, dir.file("tmp")).rc, 0);
        EXPECT_TRUE(read_file(dir.file("self")) == want) << threads;
        // Both threads fail to make a chunk file: one warning, for the first chunk.
        Outcome o = run_sortfile(dir.file("in"), dir.file("out"), 1 << 19, dir.file("nodir"));
        EXPECT_EQ(o.rc, -1);
        EXPECT_EQ(o.err, "cannot open chunk file " + chunk_name(dir.file("nodir"), 0) + " (No such file or directory)\n");
    }
    unsetenv("KELTOOLS_SORT_THREADS");
}

TEST(SortFile, MatchesSortedReferenceUnderEveryBudget)
{
    TempDir dir;
    const std::string text = random_text(7, 3000);
    write_file(dir.file("in"), text);
    const std::string want = sorted_lines(text);
    std::filesystem::create_directory(dir.file("tmp"));
    // From one chunk down to chunks of one or two lines each.
    for (int msize : {1 << 20, 20000, 4096, 1024, 200, 48}) {
        Outcome o = run_sortfile(dir.file("in"), dir.file("out"), msize, dir.file("tmp"));
        ASSERT_EQ(o.rc, 0) << msize << o.err;
        EXPECT_EQ(o.err, "");
        EXPECT_TRUE(kt_test::read_file(dir.file("out")) == want) << msize;
        EXPECT_TRUE(entries(dir.file("tmp")).empty()) << msize;
    }
    EXPECT_EQ(read_file(dir.file("in")), text);
}

TEST(SortFile, OtherOrdersKeepEveryLine)
{
    // Longest first, equal lengths by bytes: a total order on distinct
    // lines, so the result is fixed whatever the chunking.
    TempDir dir;
    std::string text = random_text(11, 1500);
    write_file(dir.file("in"), text);
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t lf = text.find('\n', at);
        lines.push_back(text.substr(at, lf - at));
        at = lf + 1;
    }
    std::sort(lines.begin(), lines.end(), [](const std::string &a, const std::string &b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    std::string want;
    for (const auto &l : lines) want += l + "\n";
    for (int msize : {1 << 20, 600, 64}) {
        Outcome o = run_sortfile(dir.file("in"), dir.file("out"), msize, dir.path(), cmp_strlen);
        ASSERT_EQ(o.rc, 0) << o.err;
        EXPECT_TRUE(kt_test::read_file(dir.file("out")) == want) << msize;
    }
}

TEST(SortFile, EqualLinesOfDifferentChunksComeOutTogetherInChunkOrder)
{
    // With 24 bytes a chunk takes two short lines (line bytes plus 8 bytes
    // of pointer per line): chunks "a a", "ab c" and "aq b".  Under the
    // first-byte order the first step writes every current line equal to
    // the smallest, a (chunk 0), ab (chunk 1) and aq (chunk 2), before
    // chunk 0's second a.
    TempDir dir;
    write_file(dir.file("in"), "a\na\nab\nc\naq\nb\n");
    Outcome o = run_sortfile(dir.file("in"), dir.file("out"), 24, dir.path(), cmp_first_byte);
    ASSERT_EQ(o.rc, 0) << o.err;
    EXPECT_EQ(kt_test::read_file(dir.file("out")), "a\nab\naq\na\nb\nc\n");
}

TEST(SortFile, FinalLineWithoutLineFeedIsALine)
{
    TempDir dir;
    write_file(dir.file("in"), "b\nc\na");
    for (int msize : {1 << 16, 24, 11}) {
        Outcome o = run_sortfile(dir.file("in"), dir.file("out"), msize, dir.path());
        ASSERT_EQ(o.rc, 0) << msize << o.err;
        EXPECT_EQ(kt_test::read_file(dir.file("out")), "a\nb\nc\n") << msize;
    }
    // "zz" with its terminator and one pointer needs 2 + 1 + 8 bytes.
    write_file(dir.file("in"), "zz");
    EXPECT_EQ(run_sortfile(dir.file("in"), dir.file("out"), 11, dir.path()).rc, 0);
    EXPECT_EQ(kt_test::read_file(dir.file("out")), "zz\n");
    Outcome o = run_sortfile(dir.file("in"), dir.file("out"), 10, dir.path());
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.err, "no lines came out! too long lines or too small buffer (10 bytes)\n");
}

TEST(SortFile, SortsAFileOntoItselfOnEveryPath)
{
    TempDir dir;
    const std::string f = dir.file("data");
    const std::string text = random_text(3, 400);
    const std::string want = sorted_lines(text);
    for (int msize : {1 << 20, 512}) {  // one chunk renamed over it; a merge into it
        write_file(f, text);
        Outcome o = run_sortfile(f, f, msize, dir.path());
        ASSERT_EQ(o.rc, 0) << o.err;
        EXPECT_TRUE(kt_test::read_file(f) == want) << msize;
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"data"});
    }
    write_file(f, "");
    Outcome o = run_sortfile(f, f, 100, dir.path());
    EXPECT_EQ(o.rc, 0);
    EXPECT_TRUE(file_exists(f));
    EXPECT_EQ(kt_test::read_file(f), "");
}

TEST(SortFile, EmptyInputAndInputOfLineFeeds)
{
    TempDir dir;
    write_file(dir.file("in"), "");
    Outcome o = run_sortfile(dir.file("in"), dir.file("out"), 100, dir.path());
    EXPECT_EQ(o.rc, 0);
    EXPECT_EQ(o.err, "warning: empty input for sortfile (" + dir.file("in") + " -> " + dir.file("out") + ")\n");
    EXPECT_TRUE(file_exists(dir.file("out")));
    EXPECT_EQ(kt_test::read_file(dir.file("out")), "");

    write_file(dir.file("in"), "\n\n\n\n\n");
    o = run_sortfile(dir.file("in"), dir.file("out"), 20, dir.path());  // one empty line per chunk
    EXPECT_EQ(o.rc, 0) << o.err;
    EXPECT_EQ(kt_test::read_file(dir.file("out")), "\n\n\n\n\n");
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"in", "out"}));
}

TEST(SortFile, BadBudgetsAndMissingInput)
{
    TempDir dir;
    write_file(dir.file("in"), "x\n");
    for (int msize : {0, -5}) {
        Outcome o = run_sortfile(dir.file("in"), dir.file("out"), msize, dir.path());
        EXPECT_EQ(o.rc, -1);
        EXPECT_EQ(o.err, "invalid msize " + std::to_string(msize) + " in sortfile()\n");
        EXPECT_FALSE(file_exists(dir.file("out")));
    }
    // A budget below one pointer and one byte takes no line at all.
    Outcome o = run_sortfile(dir.file("in"), dir.file("out"), 8, dir.path());
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.err, "no lines came out! too long lines or too small buffer (8 bytes)\n");

    o = run_sortfile(dir.file("missing"), dir.file("out"), 100, dir.path());
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.err, "failed to open " + dir.file("missing") + " (No such file or directory)\n");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"in"});

    // A directory opens but cannot be read.
    std::filesystem::create_directory(dir.file("sub"));
    o = run_sortfile(dir.file("sub"), dir.file("out"), 100, dir.path());
    EXPECT_EQ(o.rc, -1);
#ifdef _WIN32  // a directory does not even open there
    EXPECT_EQ(o.err, "failed to open " + dir.file("sub") + " (Permission denied)\n");
#else
    EXPECT_EQ(o.err, "failed to seek/read on " + dir.file("sub") + " to 0\n");
#endif
    EXPECT_FALSE(file_exists(dir.file("out")));
}

TEST(SortFile, TooLongLineRemovesTheChunksWrittenBefore)
{
    TempDir dir;
    std::filesystem::create_directory(dir.file("tmp"));
    // 40 bytes hold four two-byte lines with their pointers (8 + 4 * 8):
    // chunks "b a d c" and "f e"; the 35-byte line then fits nowhere.
    write_file(dir.file("in"), "b\na\nd\nc\nf\ne\n" + std::string(35, 'x') + "\ng\n");
    Outcome o = run_sortfile(dir.file("in"), dir.file("out"), 40, dir.file("tmp"));
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.err, "no lines came out! too long lines or too small buffer (40 bytes)\n");
    EXPECT_TRUE(entries(dir.file("tmp")).empty());
    EXPECT_FALSE(file_exists(dir.file("out")));
}

TEST(SortFile, UnusableTemporaryDirectoryOrOutput)
{
    TempDir dir;
    write_file(dir.file("in"), "b\na\nc\n");
    const std::string nodir = dir.file("nodir");

    Outcome o = run_sortfile(dir.file("in"), dir.file("out"), 100, nodir);
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.err, "cannot open chunk file " + chunk_name(nodir, 0) + " (No such file or directory)\n");

    // One chunk: neither rename nor copy can reach the output; the chunk goes.
    o = run_sortfile(dir.file("in"), nodir + "/out", 100, dir.path());
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.err, "failed to open " + chunk_name(dir.path(), 0) + " or " + nodir +
                         "/out (No such file or directory)\n");
    EXPECT_FALSE(file_exists(chunk_name(dir.path(), 0)));

    // Two chunks ("b a", "c"): the output cannot be opened for the merge;
    // they go.
    o = run_sortfile(dir.file("in"), nodir + "/out", 20, dir.path());
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.err, "failed to open " + nodir + "/out (No such file or directory)\n");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"in"});

    // Empty input: the output is created directly.
    write_file(dir.file("empty"), "");
    o = run_sortfile(dir.file("empty"), nodir + "/out", 100, dir.path());
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.err, "warning: empty input for sortfile (" + dir.file("empty") + " -> " + nodir +
                         "/out)\nfailed to open " + nodir + "/out (No such file or directory)\n");
}

TEST(SortFile, SingleChunkIsCopiedWhenItCannotBeRenamed)
{
    // A temporary directory on another file system makes the rename fail.
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: /dev/shm as a second file system";
#endif
    struct stat shm, here;
    TempDir dir;
    if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev ||
        access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    std::string tmp = "/dev/shm/text_sort_test." + std::to_string(getpid());
    std::filesystem::create_directory(tmp);
    write_file(dir.file("in"), "b\na\n");
    Outcome o = run_sortfile(dir.file("in"), dir.file("out"), 100, tmp);
    EXPECT_EQ(o.rc, 0) << o.err;
    EXPECT_EQ(kt_test::read_file(dir.file("out")), "a\nb\n");
    EXPECT_FALSE(kt_test::file_exists(chunk_name(tmp, 0)));  // the copied chunk is removed
    std::filesystem::remove_all(tmp);
}

TEST(SortFile, FullDeviceDuringTheMergeRemovesTheChunks)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a full device (/dev/full)";
#endif
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    std::filesystem::create_directory(dir.file("tmp"));
    write_file(dir.file("in"), random_text(5, 8000));  // far more than one stream buffer
    Outcome o = run_sortfile(dir.file("in"), "/dev/full", 4096, dir.file("tmp"));
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.err, "error writing /dev/full (No space left on device)\n");
    EXPECT_TRUE(entries(dir.file("tmp")).empty());
}
