// text_sort: sortfile, the external sort of a text file by lines: the input
// cut into sorted chunk files (on two threads where that pays), merged by
// text_chunks, and the output put in its place.

#include "compat.h"
#include "keltools.h"
#include "internal.h"
#include "sort_internal.h"
#include "text_sort.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
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
#include <utility>
#include <vector>

using namespace keltools_internal;

namespace {

// A line with its length: bytes after a NUL in it belong to it too.
struct LineRef {
    const char *text;
    size_t len;
};



/*
 * Cuts the lines of the nb bytes in buf, as many as fit together with one
 * pointer slot each: slot k (for the k-th line) is the k-th pointer-sized
 * slot back from slot_end, so the taken lines' pointers form an array, last
 * line first.  A line is taken only if its line feed was read and
 * (line feed offset + 1) + (lines taken + 1) * pointer size <= msize;
 * searching only below that bound keeps the scan out of the slots.  When
 * the read reached the end of the input (at_end), a last line without a
 * line feed counts as ending at nb, where its terminating NUL goes.
 * slot_end is msize rounded up to a pointer's alignment (the buffer is
 * allocated that large).  With refs, each line with its length is also
 * listed there, in input order.  Returns the number of lines; *consumed
 * gets their bytes.
 */
size_t cut_lines(char *buf, long long nb, bool at_end, int msize, char *slot_end, long long *consumed,
                 std::vector<LineRef> *refs)
{
    const long long ptr = (long long)sizeof(char *);
    size_t taken = 0;
    long long start = 0;
    for (;;) {
        long long room = (long long)msize - (long long)(taken + 1) * ptr;  // line end must lie below
        long long bound = std::min(room, nb);
        if (bound <= start) break;
        char *end = (char *)memchr(buf + start, '\n', (size_t)(bound - start));
        if (end == NULL) {
            if (!at_end || nb >= room) break;
            end = buf + nb;  // the input's last line, without a line feed
        }
        *end = '\0';
        ++taken;
        ((char **)slot_end)[-(long)taken] = buf + start;
        if (refs) refs->push_back({buf + start, (size_t)(end - (buf + start))});
        start = end - buf + 1;
        if (start > nb) start = nb;
    }
    *consumed = start;
    return taken;
}


bool write_line(FILE *f, const char *text, size_t len)
{
    return fwrite_unlocked(text, 1, len, f) == len && putc_unlocked('\n', f) != EOF;
}

// Lines without a NUL inside: their length is their string length.
bool write_strings(FILE *f, char *const *lines, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (i + 16 < n) __builtin_prefetch(lines[i + 16]);
        if (!write_line(f, lines[i], strlen(lines[i]))) return false;
    }
    return true;
}

bool write_refs(FILE *f, const std::vector<LineRef> &refs)
{
    for (const LineRef &r : refs)
        if (!write_line(f, r.text, r.len)) return false;
    return true;
}

/*
 * A chunk's lines in sorted order.  Without a NUL in the chunk the pointer
 * array is sorted in place: cmp_str by the radix sort, any other order by the
 * library's qsort, so that lines it calls equal keep the arrangement qsort
 * gives them.  A chunk with a NUL inside a line sorts its line list instead
 * (the lengths cannot be told from the strings), stably by the comparison,
 * which sees each line up to its first NUL: lines it ranks equal keep their
 * input order.
 */
void sort_strings(const TextSort &ts, char **lines, size_t n, char *base)
{
    if (ts.byte_order) sort_lines_by_bytes(lines, n, base);
    else qsort(lines, n, sizeof(char *), ts.compare);
}

void sort_refs(const TextSort &ts, std::vector<LineRef> &refs)
{
    std::stable_sort(refs.begin(), refs.end(),
                     [&](const LineRef &a, const LineRef &b) { return ts.compare(&a.text, &b.text) < 0; });
}

// Sorts one chunk and writes it to a new chunk file, whose number goes to
// *number; -1 after a warning.
int write_chunk(TextSort &ts, char **lines, size_t n, char *base, std::vector<LineRef> *refs, unsigned *number)
{
    if (refs) sort_refs(ts, *refs);
    else sort_strings(ts, lines, n, base);
    std::string name;
    FILE *f = create_chunk(ts, number, &name);
    if (f == NULL) return -1;
    if (!(refs ? write_refs(f, *refs) : write_strings(f, lines, n))) {
        warning1("cannot write to %s (%s)\n", name.c_str(), strerror(errno));
        fclose(f);
        return -1;
    }
    return close_or_warn(f, "cannot close", name.c_str());
}

// A buffer the input's chunks are cut into: the lines of the last one cut,
// their pointers at the end of the buffer and, when a line holds a NUL,
// listed with their lengths.
struct ChunkBuffer {
    ChunkBuffer(char *at, int bytes, char *slots_end) : buf(at), size(bytes), slot_end(slots_end) {}

    char *buf;
    int size;
    char *slot_end;
    size_t n = 0;
    bool nul_inside = false;
    std::vector<LineRef> refs;
};

enum CutResult { cut_done, cut_failed = -1, cut_at_end = 1, cut_no_line = 2 };

// Reads the chunk at *offset into cb and cuts its lines, moving *offset past
// them; cut_no_line (with no warning yet) when not one line fits.
CutResult read_chunk(const TextSort &ts, int fd, ChunkBuffer &cb, long long *offset)
{
    long long nb = read_at(fd, cb.buf, cb.size, *offset);
    if (nb < 0) {
        warning1("failed to seek/read on %s to %s\n", ts.fn1, insert_commas4(*offset));
        return cut_failed;
    }
    if (nb == 0) return cut_at_end;
    cb.nul_inside = memchr(cb.buf, '\0', (size_t)nb) != NULL;
    cb.refs.clear();
    long long consumed;
    cb.n = cut_lines(cb.buf, nb, nb < cb.size, cb.size, cb.slot_end, &consumed, cb.nul_inside ? &cb.refs : NULL);
    if (cb.n == 0) return cut_no_line;
    *offset += consumed;
    return cut_done;
}

int write_cut_chunk(TextSort &ts, ChunkBuffer &cb, unsigned *number)
{
    return write_chunk(ts, (char **)cb.slot_end - cb.n, cb.n, cb.buf, cb.nul_inside ? &cb.refs : NULL, number);
}

// Cuts the input from offset on into sorted chunk files; -1 after a warning.
int cut_chunks(TextSort &ts, int fd, ChunkBuffer &cb, long long offset)
{
    for (;;) {
        CutResult rc = read_chunk(ts, fd, cb, &offset);
        if (rc == cut_at_end) return 0;
        if (rc == cut_no_line)
            warning1("no lines came out! too long lines or too small buffer (%u bytes)\n", (unsigned)ts.msize);
        unsigned number;
        if (rc != cut_done || write_cut_chunk(ts, cb, &number) != 0) return -1;
    }
}

/*
 * Two threads cutting the input into chunks, each into its own half of the
 * buffer: they take turns reading and cutting the next chunk, and sort and
 * write their chunks at the same time.  The chunk files are then listed in
 * input order.  Under the byte order the merged result does not depend on
 * where the chunks were cut.  A line too long for half the buffer stops
 * them; the rest is then cut with the whole buffer.  Warnings are held back,
 * and only those of the earliest chunk that failed are written, as a sort on
 * one thread would have stopped there.
 */
class ChunkCutters {
public:
    ChunkCutters(TextSort &ts, int fd) : ts_(ts), fd_(fd) {}

    // -1 after a warning; otherwise 0, with *resume the offset from which the
    // whole buffer must go on cutting (-1: the input is done).
    int run(char *buf, size_t alloc, long long *resume);

private:
    void work(ChunkBuffer cb);
    void failed(unsigned seq, std::string *held);

    TextSort &ts_;
    int fd_;
    std::mutex turn_;  // guards the cutting state below
    long long offset_ = 0;
    unsigned next_seq_ = 0;
    bool stop_ = false;
    long long resume_ = -1;
    std::mutex results_;  // guards the results below
    std::vector<std::pair<unsigned, unsigned>> chunks_;  // input order, file number
    std::vector<std::pair<unsigned, std::string>> failures_;  // input order, warnings
};

void ChunkCutters::failed(unsigned seq, std::string *held)
{
    {
        std::lock_guard<std::mutex> lock(results_);
        failures_.emplace_back(seq, std::move(*held));
    }
    std::lock_guard<std::mutex> lock(turn_);
    stop_ = true;
}

void ChunkCutters::work(ChunkBuffer cb)
{
    std::string held;
    hold_messages(&held);
    for (;;) {
        unsigned seq;
        CutResult rc;
        {
            std::lock_guard<std::mutex> lock(turn_);
            if (stop_) break;
            long long at = offset_;
            rc = read_chunk(ts_, fd_, cb, &offset_);
            seq = next_seq_++;
            if (rc == cut_no_line) resume_ = at;
            if (rc != cut_done) stop_ = true;
        }
        unsigned number;
        if (rc == cut_done && write_cut_chunk(ts_, cb, &number) == 0) {
            std::lock_guard<std::mutex> lock(results_);
            chunks_.emplace_back(seq, number);
        } else if (rc == cut_done || rc == cut_failed) {
            failed(seq, &held);
        }
    }
    hold_messages(NULL);
}

int ChunkCutters::run(char *buf, size_t alloc, long long *resume)
{
    // The halves keep eight bytes apart: a line's eight-byte read near the
    // end of one half stays out of the other.
    size_t half = (alloc - 8) / 2 / sizeof(char *) * sizeof(char *);
    ChunkBuffer first{buf, (int)half, buf + half};
    ChunkBuffer second{buf + half + 8, (int)half, buf + 2 * half + 8};
    try {
        std::thread helper(&ChunkCutters::work, this, std::move(second));
        work(std::move(first));
        helper.join();
    } catch (const std::system_error &) {
        work(std::move(first));  // no thread to be had: one goes on alone
    }
    if (!failures_.empty()) {
        std::sort(failures_.begin(), failures_.end());
        warning1("%s", failures_[0].second.c_str());
        return -1;
    }
    std::sort(chunks_.begin(), chunks_.end());
    ts_.on_disk.clear();
    for (auto &chunk : chunks_) ts_.on_disk.push_back(chunk.second);
    *resume = resume_;
    return 0;
}

// Chunks are cut on two threads under the byte order, when the input takes
// more than one chunk of a budget worth dividing, and chunks of half the
// budget are few enough to be merged in at most two passes (the first of
// which merges only what leaves one full merge).
bool cut_on_two_threads(const TextSort &ts, int fd)
{
    const int least_budget = 1 << 18;
    struct stat st;
    if (!ts.byte_order || ts.msize < least_budget || sort_threads() < 2 || fstat(fd, &st) != 0) return false;
    long long half_chunks = (long long)st.st_size / (ts.msize / 2) + 1;
    return st.st_size > ts.msize && half_chunks <= 2 * merge_fan_in();
}

// Cuts the whole input into sorted chunk files; -1 after a warning.
int cut_input(TextSort &ts, int fd, char *buf, size_t alloc)
{
    long long resume = 0;
    if (cut_on_two_threads(ts, fd) && ChunkCutters(ts, fd).run(buf, alloc, &resume) != 0) return -1;
    if (resume < 0) return 0;
    ChunkBuffer whole{buf, ts.msize, buf + alloc};
    return cut_chunks(ts, fd, whole, resume);
}

/*
 * Where the sorted lines go.  An output that is another file is written
 * directly.  When the output is the input itself, nothing is written into
 * the input before a complete sorted copy exists: the lines go to a new file
 * beside it, which then replaces it; where its folder takes no new file,
 * they go to a file in the temporary folder, which is then copied over the
 * input.  A failure before that copy leaves the input as it was; a failed
 * copy keeps the complete copy and names it.
 */
struct Output {
    enum Kind { direct, beside, in_temp } kind = direct;
    FILE *f = NULL;
    std::string temp;     // beside: the new file beside the input; in_temp: the copy
    unsigned number = 0;  // in_temp: the copy's chunk number
};

// A folder that refuses new files to the caller (as opposed to one that is
// full or gone).
bool refuses_new_files(int err)
{
    return err == EACCES || err == EPERM;
}

/*
 * Gives a new file that takes fn2's place fn2's permissions, and fn2's owner
 * and group where the caller may set them; where it may not, the new file
 * belongs to the caller and loses the set-user-ID and set-group-ID bits.
 * The owner goes first: a change of owner clears those bits.
 */
void take_over_attributes(const TextSort &ts, int fd)
{
    mode_t mode = ts.output_mode;
    if (ts.fn2_exists && fchown(fd, ts.fn2_stat.st_uid, ts.fn2_stat.st_gid) != 0) mode &= ~(S_ISUID | S_ISGID);
    fchmod(fd, mode);
}

// A new file beside the replaced file; out->f stays null, with errno set,
// when it cannot be made.
void open_beside_target(const TextSort &ts, Output *out)
{
    size_t slash = ts.target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : ts.target.substr(0, slash);
    unsigned number = ts.next_number;
    auto name_of = [&](unsigned n) { return format_name("%s/sortfile.%u.%u", dir.c_str(), ts.pid, n); };
    int fd = create_exclusive(name_of, (size_t)-1, &number, &out->temp);
    if (fd < 0) return;
    take_over_attributes(ts, fd);
    out->kind = Output::beside;
    out->f = fdopen(fd, "wb");
    if (out->f == NULL) {
        int err = errno;
        close(fd);
        unlink(out->temp.c_str());
        errno = err;
    }
}

// Opens the output; -1 (after a warning unless quiet) when it cannot be.
int open_output(TextSort &ts, Output *out, bool quiet = false)
{
    if (!ts.in_place) {
        out->f = fopen(ts.fn2, "wb");
    } else {
        open_beside_target(ts, out);
        if (out->f == NULL && refuses_new_files(errno)) {
            out->kind = Output::in_temp;
            out->f = create_chunk(ts, &out->number, &out->temp);
            return out->f ? 0 : -1;  // create_chunk has warned
        }
    }
    if (out->f == NULL) {
        if (!quiet) warning1("failed to open %s (%s)\n", ts.fn2, strerror(errno));
        return -1;
    }
    return 0;
}

// After a failure: the output is closed and a file beside the input removed
// (a copy in the temporary folder goes with the chunk files).
void abandon_output(Output *out)
{
    fclose(out->f);
    if (out->kind == Output::beside) unlink(out->temp.c_str());
}

// Copies the open file in to the start of fd; the byte count, or -1.
long long copy_descriptor(int in, int fd)
{
    std::vector<char> buf(1 << 16);
    long long total = 0;
    for (;;) {
        size_t got = read_in_full(in, buf.data(), buf.size());
        if (got < buf.size() && errno != 0) return -1;
        if (write_in_full(fd, buf.data(), got) != got) return -1;
        total += (long long)got;
        if (got < buf.size()) return total;
    }
}

/*
 * Writes the complete sorted copy, chunk file `number`, over the input, whose
 * folder takes no new file: from the input's start, then cut to the copy's
 * length.  The input keeps its owner and permissions.  On success the copy
 * is removed; on a failure it stays, and the warning says where.
 */
int copy_over_input(TextSort &ts, unsigned number)
{
    std::string copy = ts.chunk_name(number);
    int in = open(copy.c_str(), O_RDONLY | O_BINARY);
    int fd = in < 0 ? -1 : open(ts.fn2, O_WRONLY | O_BINARY);
    long long length = fd < 0 ? -1 : copy_descriptor(in, fd);
    bool done = length >= 0 && ftruncate(fd, (off_t)length) == 0;
    int err = errno;
    if (fd >= 0 && close(fd) != 0 && done) done = false, err = errno;
    if (in >= 0) close(in);
    ts.forget(number);
    if (!done) {
        warning1("error writing %s (%s); the sorted lines are kept in %s\n", ts.fn2, strerror(err), copy.c_str());
        return -1;
    }
    unlink(copy.c_str());
    return 0;
}

// Closes the complete output and puts it in the input's place; -1 after a warning.
int commit_output(TextSort &ts, Output *out)
{
    const char *name = out->kind == Output::in_temp ? out->temp.c_str() : ts.fn2;
    if (close_or_warn(out->f, out->kind == Output::in_temp ? "cannot close" : "failed to close", name) != 0) {
        if (out->kind == Output::beside) unlink(out->temp.c_str());
        return -1;
    }
    if (out->kind == Output::in_temp) return copy_over_input(ts, out->number);
    if (out->kind == Output::beside && replace_file(out->temp.c_str(), ts.target.c_str()) != 0) {
        warning1("failed to rename %s to %s (%s)\n", out->temp.c_str(), ts.fn2, strerror(errno));
        unlink(out->temp.c_str());
        return -1;
    }
    return 0;
}

int write_empty_output(const TextSort &ts)
{
    warning1("warning: empty input for sortfile (%s -> %s)\n", ts.fn1, ts.fn2);
    FILE *out = fopen(ts.fn2, "wb");
    if (out == NULL) {
        warning1("failed to open %s (%s)\n", ts.fn2, strerror(errno));
        return -1;
    }
    fclose(out);
    return 0;
}

// Copies a file's bytes to the output; false when a read or a write fails.
bool copy_stream(FILE *in, FILE *out, char *buf, size_t size)
{
    size_t got;
    while ((got = fread(buf, 1, size, in)) > 0)
        if (fwrite(buf, 1, got, out) != got) return false;
    return !ferror(in);
}

// Renames the single chunk over the output, with the output's attributes; -1
// with the chunk left private when it cannot be.  (Closed before the rename:
// Windows renames no open file.)
int rename_into_place(const TextSort &ts, const std::string &name)
{
    int fd = open(name.c_str(), O_RDONLY | O_BINARY);
    if (fd < 0) return -1;
    take_over_attributes(ts, fd);
    close(fd);
    int rc = replace_file(name.c_str(), ts.target.c_str());
    if (rc != 0) chmod(name.c_str(), 0600);
    return rc;
}

/*
 * The single chunk becomes the output: renamed, or else copied and removed.
 * In place, with a folder that takes no new file, the chunk is the complete
 * copy that goes over the input.
 */
int finish_single_chunk(TextSort &ts, char *buf)
{
    unsigned number = ts.on_disk[0];
    std::string name = ts.chunk_name(number);
    if (rename_into_place(ts, name) == 0) {
        ts.forget(number);
        return 0;
    }
    FILE *in = fopen(name.c_str(), "rb");
    Output out;
    if (in != NULL && ts.in_place) {
        open_beside_target(ts, &out);
        if (out.f == NULL && refuses_new_files(errno)) {
            fclose(in);
            return copy_over_input(ts, number);
        }
    } else if (in != NULL) {
        out.f = fopen(ts.fn2, "wb");
    }
    if (in == NULL || out.f == NULL) {
        warning1("failed to open %s or %s (%s)\n", name.c_str(), ts.fn2, strerror(errno));
        if (in) fclose(in);
        return -1;
    }
    if (!copy_stream(in, out.f, buf, (size_t)ts.msize)) {
        warning1("error writing %s (%s)\n", ts.fn2, strerror(errno));
        fclose(in);
        abandon_output(&out);
        return -1;
    }
    if (close_or_warn(in, "failed to close", name.c_str()) != 0) {
        abandon_output(&out);
        return -1;
    }
    if (commit_output(ts, &out) != 0) return -1;
    unlink(name.c_str());
    ts.forget(number);
    return 0;
}

/*
 * Merges all chunk files into the output, in passes of at most merge_fan_in()
 * files.  Under the byte order the output does not depend on how the lines
 * were grouped; under another order, lines it calls equal but that differ
 * come out of a single pass as its merge steps give them, and of several
 * passes in the order the groups give them.
 */
int merge_all_chunks(TextSort &ts)
{
    std::vector<unsigned> order = ts.on_disk;
    const size_t fan_in = (size_t)merge_fan_in();
    while (order.size() > fan_in)
        if (merge_pass(ts, &order, fan_in) != 0) return -1;
    Output out;
    if (open_output(ts, &out) != 0) return -1;
    const char *path = out.kind == Output::direct ? ts.fn2 : out.temp.c_str();
    if (merge_chunks(ts, order, out.f, path, out.kind == Output::in_temp ? out.temp.c_str() : ts.fn2) != 0) {
        abandon_output(&out);
        return -1;
    }
    return commit_output(ts, &out);
}

bool same_file(const char *fn1, const TextSort &ts)
{
    struct stat in;
    return ts.fn2_exists && stat(fn1, &in) == 0 && in.st_dev == ts.fn2_stat.st_dev &&
           in.st_ino == ts.fn2_stat.st_ino;
}

// The permissions an output that replaces fn2 gets: those of the file there,
// else those a newly created file would get.
mode_t output_mode(const TextSort &ts)
{
    if (ts.fn2_exists) return ts.fn2_stat.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The name an output replaces: fn2, or the file a link there leads to, so
// that a link stays a link.
std::string replaced_name(const char *fn2)
{
    char *real = realpath(fn2, NULL);
    std::string target = real ? real : fn2;
    free(real);
    return target;
}

// What the sort learns of fn2 before it starts.
void look_at_output(TextSort &ts)
{
    ts.fn2_exists = stat(ts.fn2, &ts.fn2_stat) == 0;
    ts.in_place = same_file(ts.fn1, ts);
    ts.output_mode = output_mode(ts);
    ts.target = replaced_name(ts.fn2);
}

// Cuts, sorts and merges, releasing buf once it is no longer needed; -1
// after a warning, with chunk files possibly left for the caller to remove.
int sort_text(TextSort &ts, int fd, char *buf, size_t alloc)
{
    int rc = cut_input(ts, fd, buf, alloc);
    close(fd);
    size_t chunks = ts.on_disk.size();
    if (rc == 0 && chunks == 1) rc = finish_single_chunk(ts, buf);
    free(buf);
    if (rc != 0 || chunks == 1) return rc;
    if (chunks == 0) return write_empty_output(ts);
    return merge_all_chunks(ts);
}

}  // namespace

/*
 * sortfile: the input is cut into chunks of at most msize bytes (lines and
 * their pointers together), each sorted and written to a chunk file; the
 * chunk files are then merged into the output.  The input is closed before
 * the output is opened, and an output that is the input is written over only
 * from a complete sorted copy.  No chunk file is left, but for a complete
 * copy that could not be put over the input, which the warning names.
 */
int sortfile(const char *fn1, const char *fn2, int (*compare)(const void *, const void *),
             int msize, const char *temp_path)
{
    xopen_std_fds();  // no temporary file may take a standard descriptor
    TextSort ts{fn1, fn2, temp_path, compare, msize, (unsigned)getpid(), compare == cmp_str, false, 0644, {}, false, {},
                0, {}, {}};
    if (msize <= 0) {
        warning1("invalid msize %d in sortfile()\n", msize);
        return -1;
    }
    // Rounded up so that the pointer slots at the end are aligned, plus
    // room for an eight-byte read that starts just before the end.
    size_t alloc = ((size_t)msize + sizeof(char *) - 1) / sizeof(char *) * sizeof(char *);
    char *buf = (char *)malloc(alloc + 8);
    if (buf) kt_compat::prefer_large_pages(buf, alloc + 8);
    if (buf == NULL) {
        warning1("cannot allocate %d bytes\n", msize);
        return -1;
    }
    int fd = open(fn1, O_RDONLY | O_BINARY);
    if (fd < 0) {
        warning1("failed to open %s (%s)\n", fn1, strerror(errno));
        free(buf);
        return -1;
    }
    look_at_output(ts);
    int rc = sort_text(ts, fd, buf, alloc);
    if (rc != 0) ts.remove_all_chunks();
    return rc;
}
