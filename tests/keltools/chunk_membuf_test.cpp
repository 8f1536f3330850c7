#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/socket.h>
#endif
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using kt_test::read_file;
using kt_test::run_in_child;
using kt_test::TempDir;

namespace {

// A chunk set with ordinary chunks of size bytes; freed at scope end.
struct ChunkSet {
    chunk_set_t *p;
    explicit ChunkSet(int size) : p((chunk_set_t *)chunk_new(size)) {}
    ~ChunkSet() { chunk_free(p); }
};

// A text buffer with pieces of size bytes; closed at scope end.
struct Membuf {
    int id;
    explicit Membuf(int size) : id(membuf_create(size)) {}
    ~Membuf() { membuf_close(id); }
    std::string text() const
    {
        char *s = membuf_accumulate(id);
        std::string t = s ? s : "<null>";
        free(s);
        return t;
    }
};

// The sizes of the separate writes membuf_write makes: a packet socket keeps
// every write one record.
#ifndef _WIN32
std::vector<size_t> write_sizes(int id)
{
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    EXPECT_EQ(membuf_write(id, fds[0]), 0);
    close(fds[0]);
    std::vector<size_t> sizes;
    char buf[65536];
    ssize_t n;
    while ((n = recv(fds[1], buf, sizeof buf, 0)) > 0)
        sizes.push_back(n);
    close(fds[1]);
    return sizes;
}
#endif

}  // namespace

TEST(ChunkSet, NewSetHasNoChunkAndDefaultSize)
{
    ChunkSet set(0), negative(-7), sized(100);
    EXPECT_EQ(set.p->init_size, 0x100000);
    EXPECT_EQ(negative.p->init_size, 0x100000);
    EXPECT_EQ(sized.p->init_size, 100);
    EXPECT_EQ(sized.p->nchunks, 0);
    EXPECT_EQ(sized.p->nchunks_a, 16);
    EXPECT_EQ(sized.p->bytes_used, 0);
    EXPECT_EQ(sized.p->bytes_left, 0);
}

TEST(ChunkSet, BlocksAreCarvedBackToBackAndTailsAbandoned)
{
    ChunkSet set(10);
    char *a = (char *)chunk_alloc(set.p, 4);  // first request opens a chunk
    EXPECT_EQ(set.p->nchunks, 1);
    char *b = (char *)chunk_alloc(set.p, 6);  // exactly what is left
    EXPECT_EQ(b, a + 4);
    EXPECT_EQ(set.p->nchunks, 1);
    EXPECT_EQ(set.p->bytes_left, 0);
    EXPECT_EQ(set.p->bytes_used, 10);

    char *c = (char *)chunk_alloc(set.p, 1);  // the next byte needs a new chunk
    EXPECT_EQ(set.p->nchunks, 2);
    EXPECT_EQ(set.p->chunks[1], c);
    EXPECT_EQ(set.p->bytes_left, 9);

    // Larger than an ordinary chunk: a chunk of exactly its size; the 9 bytes
    // left in the previous chunk are never used again.
    char *big = (char *)chunk_alloc(set.p, 25);
    EXPECT_EQ(set.p->nchunks, 3);
    EXPECT_EQ(set.p->chunks[2], big);
    EXPECT_EQ(set.p->bytes_used, 25);
    EXPECT_EQ(set.p->bytes_left, 0);
    memset(big, 'x', 25);  // the whole block is usable (checked by ASan)

    char *d = (char *)chunk_alloc(set.p, 2);
    EXPECT_EQ(set.p->nchunks, 4);
    EXPECT_EQ(set.p->chunks[3], d);
    EXPECT_EQ(set.p->bytes_left, 8);
}

TEST(ChunkSet, PointerArrayDoublesWhenOneEntryIsLeft)
{
    ChunkSet set(8);
    for (int i = 1; i <= 70; i++) {
        chunk_alloc(set.p, 8);  // every request fills a chunk of its own
        EXPECT_EQ(set.p->nchunks, i);
        int expected = i < 16 ? 16 : i < 32 ? 32 : i < 64 ? 64 : 128;
        ASSERT_EQ(set.p->nchunks_a, expected) << "after chunk " << i;
    }
    for (int i = 0; i < 70; i++)
        memset(set.p->chunks[i], i, 8);
}

TEST(ChunkSet, PutCopiesBytesOrStringsWithTheirNul)
{
    ChunkSet set(16);
    char *s = chunk_put(set.p, "abc", -1);
    EXPECT_STREQ(s, "abc");
    EXPECT_EQ(set.p->bytes_used, 4);

    const char raw[] = {'x', '\0', 'y'};
    char *r = chunk_put(set.p, raw, 3);
    EXPECT_EQ(r, s + 4);
    EXPECT_EQ(memcmp(r, raw, 3), 0);

    const std::string longer(40, 'q');
    char *l = chunk_put(set.p, longer.c_str(), -5);
    EXPECT_EQ(std::string(l), longer);
    EXPECT_EQ(set.p->nchunks, 2);
    EXPECT_EQ(set.p->bytes_left, 0);
}

TEST(ChunkSet, BadSizesStopTheProcess)
{
    for (int len : {0, -1, INT_MIN}) {
        auto r = run_in_child([len] {
            ChunkSet set(0);
            chunk_alloc(set.p, len);
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "attempt to allocate " + std::to_string(len) +
                             " bytes in the memory chunk set\n");
    }
    auto r = run_in_child([] {
        ChunkSet set(0);
        chunk_put(set.p, "abc", 0);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "attempt to store 0 bytes in the memory chunk set\n");
}

TEST(Membuf, InvalidIdsBeforeAnyCreate)
{
    auto r = run_in_child([] {
        bool ok = membuf_put(0, "x") == -1 && membuf_close(0) == -1 &&
                  membuf_printf(0, "%d", 1) == -1 && membuf_write(0, 1) == -1 &&
                  membuf_accumulate(0) == nullptr;
        _exit(ok ? 0 : 2);
    });
    EXPECT_EQ(r.status, 0);
}

TEST(Membuf, FourSlotsLowestFreeFirst)
{
    int ids[4];
    for (int i = 0; i < 4; i++)
        ids[i] = membuf_create(16);
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(ids[3], 3);
    EXPECT_EQ(membuf_create(16), -1);

    EXPECT_EQ(membuf_close(2), 0);
    EXPECT_EQ(membuf_close(2), -1);  // already free
    EXPECT_EQ(membuf_put(2, "x"), -1);
    EXPECT_EQ(membuf_create(0), 2);  // a closed slot is taken again, empty
    char *s = membuf_accumulate(2);
    EXPECT_STREQ(s, "");
    free(s);

    for (int bad : {4, -1, 100, INT_MIN}) {
        EXPECT_EQ(membuf_put(bad, "x"), -1);
        EXPECT_EQ(membuf_printf(bad, "x"), -1);
        EXPECT_EQ(membuf_write(bad, 1), -1);
        EXPECT_EQ(membuf_accumulate(bad), nullptr);
        EXPECT_EQ(membuf_close(bad), -1);
    }
    for (int id : ids)
        membuf_close(id);
}

TEST(Membuf, PiecesFillExactlyAndWriteOnePieceAtATime)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: packet sockets count the separate writes";
#else
    Membuf mb(4);
    ASSERT_GE(mb.id, 0);
    EXPECT_EQ(write_sizes(mb.id), std::vector<size_t>{});  // nothing: no write at all
    EXPECT_EQ(mb.text(), "");

    EXPECT_EQ(membuf_put(mb.id, "ab"), 0);
    EXPECT_EQ(membuf_put(mb.id, "cd"), 0);  // exactly the room left
    EXPECT_EQ(write_sizes(mb.id), std::vector<size_t>{4});
    EXPECT_EQ(membuf_put(mb.id, ""), 0);
    EXPECT_EQ(write_sizes(mb.id), std::vector<size_t>{4});

    EXPECT_EQ(membuf_put(mb.id, "e"), 0);  // one byte more opens a piece
    EXPECT_EQ(write_sizes(mb.id), (std::vector<size_t>{4, 1}));

    // Fills the rest of the piece, then as many new pieces as it needs:
    // 5 + 31 bytes are nine full pieces.
    EXPECT_EQ(membuf_put(mb.id, "fghijklmnopqrstuvwxyz0123456789"), 0);
    EXPECT_EQ(write_sizes(mb.id), std::vector<size_t>(9, 4));
    EXPECT_EQ(membuf_put(mb.id, "!"), 0);
    EXPECT_EQ(write_sizes(mb.id), (std::vector<size_t>{4, 4, 4, 4, 4, 4, 4, 4, 4, 1}));
    EXPECT_EQ(mb.text(), "abcdefghijklmnopqrstuvwxyz0123456789!");
#endif
}

TEST(Membuf, ManyOneBytePiecesGrowThePointerArray)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: packet sockets count the separate writes";
#else
    Membuf mb(1);
    const std::string text = "the quick brown fox jumps over the lazy dog";
    EXPECT_EQ(membuf_put(mb.id, text.c_str()), 0);
    EXPECT_EQ(write_sizes(mb.id), std::vector<size_t>(text.size(), 1));
    EXPECT_EQ(membuf_put(mb.id, "!"), 0);
    EXPECT_EQ(mb.text(), text + "!");
#endif
}

TEST(Membuf, WriteToFileLeavesTheBufferAsItWas)
{
    TempDir dir;
    Membuf mb(5);
    membuf_put(mb.id, "line one\n");
    membuf_printf(mb.id, "%s %d\n", "line", 2);
    int fd = xcreate("%s", dir.file("out.txt").c_str());
    EXPECT_EQ(membuf_write(mb.id, fd), 0);
    EXPECT_EQ(membuf_write(mb.id, fd), 0);
    close(fd);
    EXPECT_EQ(read_file(dir.file("out.txt")), "line one\nline 2\nline one\nline 2\n");
    EXPECT_EQ(mb.text(), "line one\nline 2\n");
}

TEST(Membuf, PrintfAcrossTheLocalBufferSize)
{
    for (size_t len : {8191u, 8192u, 8193u, 30000u}) {
        Membuf mb(1000);
        membuf_put(mb.id, "<");
        const std::string body(len - 6, 'z');
        // "[%d:%s]" with 1234 gives len characters in all.
        EXPECT_EQ(membuf_printf(mb.id, "[%d:%s]", 1234, body.c_str()), 0);
        membuf_put(mb.id, ">");
        EXPECT_EQ(mb.text(), "<[1234:" + body + "]>") << "length " << len;
    }
}

TEST(Membuf, PrintfThatCannotFormatAppendsNothing)
{
#ifdef _WIN32
    GTEST_SKIP() << "wchar_t is 16 bits on Windows: there is no character beyond Unicode to pass";
#else
    Membuf mb(8);
    membuf_put(mb.id, "kept");
    const wchar_t unconvertible[] = {0x110000, 0};  // no multibyte form in any locale
    EXPECT_EQ(membuf_printf(mb.id, "%ls", unconvertible), -1);
    EXPECT_EQ(mb.text(), "kept");
#endif
}

TEST(Membuf, WriteErrorStopsTheProcess)
{
    auto r = run_in_child([] {
        Membuf mb(4);
        membuf_put(mb.id, "abcdef");
        int fds[2];
        if (pipe(fds) != 0)
            _exit(3);
        close(fds[0]);
#ifdef SIGPIPE
        signal(SIGPIPE, SIG_IGN);
#endif
        membuf_write(mb.id, fds[1]);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error writing 4 bytes\n");
}
