// text_chunks: the chunk files of the text-file sort: making them and
// merging them, in passes of as many files as may be open at once, on two
// threads where a merge can be divided.

#include "compat.h"
#include "keltools.h"
#include "internal.h"
#include "sort_internal.h"
#include "text_sort.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace keltools_internal {

// Creates the next chunk file for writing; NULL after a warning.
FILE *create_chunk(TextSort &ts, unsigned *number, std::string *name)
{
    std::lock_guard<std::mutex> lock(ts.chunk_files);
    *number = ts.next_number;
    int fd = create_exclusive([&](unsigned n) { return ts.chunk_name(n); }, kTempNameSize, number, name);
    FILE *f = fd >= 0 ? fdopen(fd, "wb") : NULL;
    if (f == NULL) {
        int err = errno;
        if (fd >= 0) {
            close(fd);
            unlink(name->c_str());
        }
        warning1("cannot open chunk file %s (%s)\n", name->c_str(), strerror(err));
        return NULL;
    }
    ts.next_number = *number + 1;
    ts.on_disk.push_back(*number);
    return f;
}

// Closes a stream; -1 after the warning "<what> <name> (<reason>)".
int close_or_warn(FILE *f, const char *what, const char *name)
{
    if (fclose(f) == 0) return 0;
    warning1("%s %s (%s)\n", what, name, strerror(errno));
    return -1;
}

namespace {

/*
 * A chunk file being merged: its reader and current line (null once the
 * chunk is exhausted).  Chunk files end every line with a line feed, so a
 * line's length runs to the byte before the reader's next line.  Under a
 * comparison other than the byte order, rank counts the lines of the chunk
 * the comparison calls equal, up to and including the current one (the
 * previous line is kept to tell).
 */
struct ChunkReader {
    linebuf_t lb;
    char *line;
    size_t len;
    long long left;  // bytes of the chunk's part still to be handed out; -1: all of the chunk
    uint64_t head;  // byte order: the line's first eight bytes, as head_of gives them
    unsigned rank;
    std::string previous;
};

// A line's first eight bytes as a big-endian number, the bytes from its
// first NUL or its end on cleared: lines whose heads differ are ordered by
// them as strcmp orders them.
inline uint64_t head_of(const char *line, size_t len)
{
    uint64_t w = 0;
    memcpy(&w, line, std::min(len, sizeof w));
    return __builtin_bswap64(clear_from_nul(le64toh(w)));
}

// strcmp's order over the readers' current lines, ties to the lower chunk
// (an earlier part of the input); most pairs differ in their heads and need
// no look at the lines themselves.
struct ByteKey {
    const ChunkReader *rd;
    bool done(int i) const { return rd[i].line == NULL; }
    int operator()(int a, int b) const
    {
        if (rd[a].head != rd[b].head) return rd[a].head < rd[b].head ? -1 : 1;
        return strcmp(rd[a].line, rd[b].line);
    }
};

/*
 * Any other order: lines it calls equal go by rank, then by chunk.  This is
 * the order of merge steps that each write every current line equal to the
 * smallest, in chunk order, and then advance those chunks: the k-th of a
 * run of equal lines of every chunk comes out in step k.
 */
struct UserKey {
    const ChunkReader *rd;
    int (*compare)(const void *, const void *);
    bool done(int i) const { return rd[i].line == NULL; }
    int operator()(int a, int b) const
    {
        int c = compare(&rd[a].line, &rd[b].line);
        return c != 0 ? c : three_way(rd[a].rank, rd[b].rank);
    }
};

// Takes the reader's next line (rc 0), or marks it exhausted (rc 1).
void take_line(const TextSort &ts, ChunkReader *r, int rc)
{
    if (rc == 1) {
        r->line = NULL;
        return;
    }
    r->len = (size_t)(r->lb.buf + r->lb.ns - 1 - r->line);
    if (r->left >= 0) r->left = std::max(r->left - (long long)r->len - 1, 0LL);
    if (ts.byte_order) {
        r->head = head_of(r->line, r->len);
        return;
    }
    const char *previous = r->previous.c_str();
    r->rank = r->rank > 0 && ts.compare(&previous, &r->line) == 0 ? r->rank + 1 : 1;
}

// Fetches chunk i's next line; -1 after a warning.
int advance_chunk(const TextSort &ts, ChunkReader *rd, int i)
{
    ChunkReader *r = &rd[i];
    if (r->left == 0) {
        r->line = NULL;
        return 0;
    }
    if (!ts.byte_order) r->previous.assign(r->line, r->len);
    int rc = linebuf_nextline(&r->lb, &r->line);
    if (rc == -1) {
        warning1("error fetching next line from chunk %d\n", i);
        return -1;
    }
    take_line(ts, r, rc);
    return 0;
}

// The part of a chunk file a merge reads: from an offset, so many bytes
// (-1: to its end).
struct Part {
    long long from = 0, bytes = -1;
};

// Opens a chunk file at the start of its part and fetches the part's first
// line; -1 after a warning, with the reader closed.
int open_chunk(const TextSort &ts, ChunkReader *r, unsigned number, Part part, int bufsize)
{
    std::string name = ts.chunk_name(number);
    FILE *f = fopen(name.c_str(), "rb");
    if (f == NULL) {
        warning1("failed to open %s (%s)\n", name.c_str(), strerror(errno));
        return -1;
    }
    setvbuf(f, NULL, _IONBF, 0);  // the line reader's buffer is the only one
    r->left = part.bytes;
    r->rank = 0;
    if (part.bytes == 0) {  // nothing to read: a closed, empty reader
        fclose(f);
        r->lb = linebuf_t{};
        r->line = NULL;
        return 0;
    }
    int rc = part.from > 0 && fseeko(f, (off_t)part.from, SEEK_SET) != 0 ? -2 : linebuf_init(&r->lb, f, bufsize);
    if (rc != 0) {
        fclose(f);
        warning1("failed to open linebuf for %s; rc=%d\n", name.c_str(), rc);
        return -1;
    }
    rc = linebuf_nextline(&r->lb, &r->line);
    if (rc == -1) {
        linebuf_close(&r->lb);
        warning1("error fetching first line from %s\n", name.c_str());
        return -1;
    }
    take_line(ts, r, rc);
    return 0;
}

/*
 * Writes lines to a fresh stream's descriptor in blocks of its own, larger
 * than the stream's buffer (which stays empty): a merge's output goes out in
 * few large writes.
 */
class BlockWriter {
public:
    BlockWriter(FILE *f, size_t size) : fd_(fileno(f)), block_(size) {}

    bool put_line(const char *text, size_t len)
    {
        if (used_ + len + 1 > block_.size()) {
            if (!flush()) return false;
            if (len >= block_.size()) {  // a line longer than a block goes out by itself
                if (write_in_full(fd_, text, len) != len) return false;
                len = 0;
            }
        }
        memcpy(&block_[used_], text, len);
        used_ += len;
        block_[used_++] = '\n';
        return true;
    }

    bool flush()
    {
        size_t n = used_;
        used_ = 0;
        return write_in_full(fd_, block_.data(), n) == n;
    }

private:
    int fd_;
    std::vector<char> block_;
    size_t used_ = 0;
};

// The size of a merge's output block: a thirty-second of the budget, from
// 4 KB to 1 MB.
int output_block(const TextSort &ts)
{
    return std::clamp(ts.msize / 32, 4096, 1 << 20);
}

template <typename Key>
int merge_lines(const TextSort &ts, ChunkReader *rd, int n, Key key, FILE *out, const char *out_name)
{
    auto tree = tournament(n, key);
    BlockWriter writer(out, (size_t)output_block(ts));
    for (;;) {
        int w = tree.winner();
        bool last = rd[w].line == NULL;
        if (last ? !writer.flush() : !writer.put_line(rd[w].line, rd[w].len)) {
            warning1("error writing %s (%s)\n", out_name, strerror(errno));
            return -1;
        }
        if (last) return 0;
        if (advance_chunk(ts, rd, w) != 0) return -1;
        tree.replay_winner();
    }
}

// Merges the given parts of the chunk files listed into out; -1 after a
// warning.
int merge_parts(const TextSort &ts, const std::vector<unsigned> &numbers, const std::vector<Part> &parts,
                int bufsize, FILE *out, const char *out_name)
{
    const int n = (int)numbers.size();
    std::vector<ChunkReader> rd((size_t)n);
    for (int i = 0; i < n; ++i) {
        if (open_chunk(ts, &rd[i], numbers[i], parts[i], bufsize) != 0) {
            for (int j = 0; j < i; ++j) linebuf_close(&rd[j].lb);
            return -1;
        }
    }
    int rc = ts.byte_order ? merge_lines(ts, rd.data(), n, ByteKey{rd.data()}, out, out_name)
                           : merge_lines(ts, rd.data(), n, UserKey{rd.data(), ts.compare}, out, out_name);
    for (int i = 0; i < n; ++i) linebuf_close(&rd[i].lb);
    return rc;
}

// A reader's buffer in a merge of n chunk files on the given number of
// threads: an equal share of what the budget leaves beside the output
// blocks and a kilobyte for each reader's stream, at least 1024 bytes.
int reader_buffer(const TextSort &ts, int n, int threads)
{
    const int stream = 1024;
    return std::max((ts.msize - threads * output_block(ts)) / n / threads - stream, 1024);
}

// The chunk files divided for a merge on two threads: each file's lines
// below a divider, the rest, and a stream of its own on the output, placed
// where the rest goes.
struct Division {
    std::vector<Part> lower, upper;
    FILE *upper_out = NULL;
};

// A second stream on the file out writes to, at offset; NULL when the file at
// path is another one or cannot be opened so.
FILE *open_again(FILE *out, const char *path, long long offset)
{
    struct stat first, again;
    FILE *f = fopen(path, "r+b");
    if (f != NULL && fstat(fileno(out), &first) == 0 && fstat(fileno(f), &again) == 0 &&
        first.st_dev == again.st_dev && first.st_ino == again.st_ino && fseeko(f, (off_t)offset, SEEK_SET) == 0)
        return f;
    if (f != NULL) fclose(f);
    return NULL;
}

/*
 * Divides the chunk files for a merge on two threads, under the byte order
 * and into a regular output file at path; false when the merge is better
 * done whole.
 */
bool divide_chunks(const TextSort &ts, const std::vector<unsigned> &numbers, FILE *out, const char *path,
                   Division *division)
{
#ifdef _WIN32
    // There, closing the first stream cut the file back to the end of what
    // that stream had written: one output, one writer.
    return false;
#endif
    const long long least_bytes = 1 << 18;
    struct stat st;
    if (!ts.byte_order || sort_threads() < 2 || !room_for_two_merges((int)numbers.size()) ||
        fstat(fileno(out), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    std::vector<std::string> names;
    std::vector<long long> sizes;
    long long total = 0;
    for (unsigned number : numbers) {
        names.push_back(ts.chunk_name(number));
        if (stat(names.back().c_str(), &st) != 0) return false;
        sizes.push_back((long long)st.st_size);
        total += sizes.back();
    }
    std::string divider = total < least_bytes ? std::string() : pick_divider(names, sizes);
    long long upper_at = (long long)ftello(out);
    if (divider.empty() || upper_at < 0) return false;
    for (size_t i = 0; i < names.size(); ++i) {
        long long at = first_line_not_below(names[i].c_str(), sizes[i], divider);
        if (at < 0) return false;
        division->lower.push_back({0, at});
        division->upper.push_back({at, sizes[i] - at});
        upper_at += at;
    }
    division->upper_out = open_again(out, path, upper_at);
    return division->upper_out != NULL;
}

// Merges the upper parts into their own stream on the output and closes it;
// -1 after a warning.
int merge_upper_parts(const TextSort &ts, const std::vector<unsigned> &numbers, const Division &division,
                      int bufsize, const char *out_name)
{
    int rc = merge_parts(ts, numbers, division.upper, bufsize, division.upper_out, out_name);
    if (fclose(division.upper_out) != 0 && rc == 0) {
        warning1("error writing %s (%s)\n", out_name, strerror(errno));
        rc = -1;
    }
    return rc;
}

/*
 * Merges on two threads: the lines below the divider into out on this one,
 * the rest beside them on a helper.  Lines the order calls equal all fall on
 * one side, so the output is that of one merge.  The helper's warnings are
 * held back and written after this thread's, if it had none.
 */
int merge_divided(const TextSort &ts, const std::vector<unsigned> &numbers, const Division &division, FILE *out,
                  const char *out_name)
{
    int bufsize = reader_buffer(ts, (int)numbers.size(), 2);
    std::string held;
    int upper_rc = -1;
    std::thread helper;
    try {
        helper = std::thread([&] {
            hold_messages(&held);
            upper_rc = merge_upper_parts(ts, numbers, division, bufsize, out_name);
            hold_messages(NULL);
        });
    } catch (const std::system_error &) {
        fclose(division.upper_out);
        return merge_parts(ts, numbers, std::vector<Part>(numbers.size()), bufsize * 2, out, out_name);
    }
    int rc = merge_parts(ts, numbers, division.lower, bufsize, out, out_name);
    helper.join();
    if (rc == 0 && upper_rc != 0) warning1("%s", held.c_str());
    return rc == 0 && upper_rc == 0 ? 0 : -1;
}

}  // namespace

// Merges the chunk files listed into out, which writes to the file at path,
// and removes them; -1 after a warning, which names the output out_name.
int merge_chunks(TextSort &ts, const std::vector<unsigned> &numbers, FILE *out, const char *path,
                 const char *out_name)
{
    Division division;
    int rc = divide_chunks(ts, numbers, out, path, &division)
                 ? merge_divided(ts, numbers, division, out, out_name)
                 : merge_parts(ts, numbers, std::vector<Part>(numbers.size()),
                               reader_buffer(ts, (int)numbers.size(), 1), out, out_name);
    if (rc != 0) return -1;
    for (unsigned number : numbers) {
        xunlink("%s/sortfile.%u.%u", ts.temp_path, ts.pid, number);
        ts.forget(number);
    }
    return 0;
}

namespace {

// Merges the chunk files listed into one new chunk file, whose number goes
// to *number; -1 after a warning.
int merge_into_chunk(TextSort &ts, const std::vector<unsigned> &group, unsigned *number)
{
    std::string name;
    FILE *f = create_chunk(ts, number, &name);
    if (f == NULL) return -1;
    if (merge_chunks(ts, group, f, name.c_str(), name.c_str()) != 0) {
        fclose(f);
        return -1;
    }
    return close_or_warn(f, "cannot close", name.c_str());
}

}  // namespace

/*
 * One pass over the chunk files: consecutive groups of up to fan_in files are
 * merged into one file each, in their place, but only as many as it takes to
 * leave fan_in files for the final merge, so that as few lines as possible
 * are written twice.  -1 after a warning.
 */
int merge_pass(TextSort &ts, std::vector<unsigned> *order, size_t fan_in)
{
    std::vector<unsigned> merged;
    for (size_t at = 0; at < order->size();) {
        size_t left = merged.size() + (order->size() - at);
        size_t take = left > fan_in ? std::min({fan_in, left - fan_in + 1, order->size() - at}) : 1;
        std::vector<unsigned> group(order->begin() + (long)at, order->begin() + (long)(at + take));
        at += take;
        unsigned number = group[0];
        if (take > 1 && merge_into_chunk(ts, group, &number) != 0) return -1;
        merged.push_back(number);
    }
    order->swap(merged);
    return 0;
}

}  // namespace keltools_internal
