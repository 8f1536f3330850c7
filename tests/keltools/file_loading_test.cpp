#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

using kt_test::read_file;
using kt_test::run_in_child;
using kt_test::TempDir;
using kt_test::write_file;

TEST(LoadFile, LoadsBytesUntranslatedWithATerminator)
{
    TempDir dir;
    write_file(dir.file("crlf"), std::string("ab\r\nc", 5));
    char *p = nullptr;
    ASSERT_EQ(load_file(dir.file("crlf").c_str(), &p), 5);
    EXPECT_EQ(std::string(p, 6), std::string("ab\r\nc\0", 6));
    free(p);

    write_file(dir.file("nul_byte"), std::string("x\0y", 3));  // "nul" is a device on Windows
    ASSERT_EQ(load_file(dir.file("nul_byte").c_str(), &p), 3);
    EXPECT_EQ(std::string(p, 3), std::string("x\0y", 3));
    EXPECT_STREQ(p, "x");
    free(p);
}

TEST(LoadFile, EmptyMissingAndDirectory)
{
    TempDir dir;
    write_file(dir.file("empty"), "");
    char sentinel = 0;
    char *p = &sentinel;
    EXPECT_EQ(load_file(dir.file("empty").c_str(), &p), 0);
    EXPECT_EQ(p, &sentinel);

    auto r = run_in_child([&] {
        char *q = nullptr;
        long a = load_file(dir.file("missing").c_str(), &q);
        long b = load_file(dir.path().c_str(), &q);
        printf("%ld %ld", a, b);
    });
    EXPECT_EQ(r.out, "-1 -1");
    EXPECT_EQ(r.err, "");
}

TEST(Lengths, ByDescriptorKeepsThePositionAndByName)
{
    TempDir dir;
    write_file(dir.file("hundred"), std::string(100, 'h'));
    int fd = open(dir.file("hundred").c_str(), O_RDONLY | O_BINARY);
    ASSERT_GE(fd, 0);
    lseek(fd, 10, SEEK_SET);
    EXPECT_EQ(file_length(fd), 100u);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 10);
    close(fd);

    EXPECT_EQ(f_length(dir.file("hundred").c_str()), 100);
    write_file(dir.file("empty"), "");
    EXPECT_EQ(f_length(dir.file("empty").c_str()), 0);
    EXPECT_EQ(f_length(dir.file("missing").c_str()), -1);
}

TEST(CopyBytes, CopiesExactlyTheCountInPieces)
{
    TempDir dir;
    write_file(dir.file("in"), "0123456789tail");
    FILE *in = fopen(dir.file("in").c_str(), "rb");
    FILE *out = fopen(dir.file("out").c_str(), "wb");
    char buf[4];
    EXPECT_EQ(copy_bytes(in, out, 10, 4, buf), 10);
    EXPECT_EQ(copy_bytes(in, out, 0, 4, buf), 0);
    EXPECT_EQ(copy_bytes(in, out, 2, 3, nullptr), 2);
    fclose(in);
    fclose(out);
    EXPECT_EQ(read_file(dir.file("out")), "0123456789ta");
}

TEST(CopyBytes, ShortReadOrWriteStopsWithThePieceSize)
{
    TempDir dir;
    write_file(dir.file("six"), "abcdef");
    auto r = run_in_child([&] {
        FILE *in = fopen(dir.file("six").c_str(), "rb");
        FILE *out = fopen(dir.file("out").c_str(), "wb");
        copy_bytes(in, out, 10, 4, nullptr);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "failed to read from stream 4 bytes\n");
    EXPECT_EQ(read_file(dir.file("out")), "abcd");

    r = run_in_child([&] {
        FILE *in = fopen(dir.file("six").c_str(), "rb");
        FILE *out = fopen("/dev/full", "wb");
        setvbuf(out, nullptr, _IONBF, 0);
        copy_bytes(in, out, 6, 6, nullptr);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "failed to write to stream 6 bytes\n");
}
