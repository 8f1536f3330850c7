// Trade files: loading each one whole, its reading line and warnings, and
// the listing of the folder's trade files.

#include "platform.h"

#include "trade_files.h"

#include "encodings.h"
#include "import.h"
#include "threads.h"

#include "keltools.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

// A trade file that changes while it is read (the terminal is rewriting it)
// is read again, up to this many reads in all; one still changing is not
// taken, and this is the reason given for it.
static const int reads_of_a_changing_file = 3;
static const int changed_while_read = EAGAIN;

// The memory a loader reads trade files into, kept from one file to the
// next so that each file reuses the pages of the last one.
typedef struct {
    char *data;
    size_t size;
} load_buffer_t;

// A trade file as loaded: its bytes and a NUL, in the loader's buffer.
typedef struct {
    const char *name;
    char *text;
    size_t len;
    load_buffer_t *buffer;
} trade_text_t;

// Room for n bytes in the buffer (its old content is not kept), or null.
static char *room_for(load_buffer_t *b, size_t n)
{
    if (n > b->size) {
        free(b->data);
        b->data = (char *)malloc(n);
        b->size = b->data ? n : 0;
    }
    return b->data;
}

static void release(load_buffer_t *b)
{
    free(b->data);
    *b = {nullptr, 0};
}

// Whether two looks at a file saw the same file, unchanged: same identity,
// length and modification time.
static bool looks_same(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           modification_ns(a) == modification_ns(b);
}

// Reads the open file fp of length f->len into the loader's buffer.  Returns
// 0, or the reason (an errno value) why the file cannot be taken.
static int read_trade_text(trade_text_t *f, FILE *fp)
{
    char *buffer = room_for(f->buffer, f->len + 2);
    if (!buffer)
        return ENOMEM;
    setvbuf(fp, nullptr, _IONBF, 0);
    size_t got = fread(buffer, 1, f->len + 1, fp);   // one byte more shows a file that grew
    int reason = ferror(fp) ? (errno ? errno : EIO) : got != f->len ? changed_while_read : 0;
    if (reason)
        return reason;
    buffer[f->len] = 0;
    f->text = buffer;
    return 0;
}

// Reads the open file fp, whose name had the length before.st_size just
// before it was opened.  (Only the length is compared here: on Windows a
// descriptor's device number is not the name's.)
static int read_opened_file(trade_text_t *f, FILE *fp, const struct stat &before)
{
    struct stat st;
    if (fstat(fileno(fp), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return ESPIPE;
    if (st.st_size != before.st_size)
        return changed_while_read;
    if ((uintmax_t)st.st_size > SIZE_MAX - 2)
        return EFBIG;
    f->len = (size_t)st.st_size;
    return read_trade_text(f, fp);
}

// One read of a trade file whole.  Returns 0, or the reason (an errno value)
// why it cannot be read; changed_while_read when the file seen before it
// was opened and the one there after the read differ, or its length changed.  A
// directory or any other file that is not a regular one is not opened (a
// pipe would wait for a writer).
static int load_trade_text_once(trade_text_t *f)
{
    struct stat before, after;
    if (stat(f->name, &before) != 0)
        return errno;
    if (!S_ISREG(before.st_mode))
        return S_ISDIR(before.st_mode) ? EISDIR : ESPIPE;
    FILE *fp = fopen(f->name, "rb");
    if (!fp)
        return errno;
    int reason = read_opened_file(f, fp, before);
    fclose(fp);
    if (reason == 0 && (stat(f->name, &after) != 0 || !looks_same(before, after))) {
        f->text = nullptr;
        reason = changed_while_read;
    }
    return reason;
}

// Loads a trade file whole, reading again one that changed meanwhile.
// Returns 0, or the reason (an errno value) why it cannot be read.
static int load_trade_text(trade_text_t *f)
{
    int reason = changed_while_read;
    for (int k = 0; k < reads_of_a_changing_file && reason == changed_while_read; k++)
        reason = load_trade_text_once(f);
    return reason;
}

// Whether a file starts as an Excel workbook does: an OLE2 compound file
// (.xls) or a ZIP archive (.xlsx).
static bool is_workbook(const char *text, size_t len)
{
    static const char ole2[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", zip[] = "PK\x03\x04";
    return (len >= 8 && memcmp(text, ole2, 8) == 0) || (len >= 4 && memcmp(text, zip, 4) == 0);
}

// Converts an export saved in UTF-16 or UTF-8 to Windows-1251; returns the
// reading line's format.
static const char *convert_to_cp1251(trade_text_t *f)
{
    if (is_utf16_export(f->text, f->len)) {
        f->len = utf16_to_cp1251(f->text, f->len);
        return "reading %s (UTF-16)...\n";
    }
    if (is_utf8_export(f->text, f->len)) {
        f->len = utf8_to_cp1251(f->text, f->len);
        return "reading %s (UTF-8)...\n";
    }
    return "reading %s...\n";
}

// Whether the text has a complete row ("</tr>") and no "</table>" after the
// last one: a table that does not end, as in a file caught half written.
static bool table_does_not_end(const char *text, size_t len)
{
    std::string_view all(text, len);
    size_t last_row = all.rfind("</tr>");
    return last_row != std::string_view::npos && all.find("</table>", last_row) == std::string_view::npos;
}

// The warnings of a file that was read, after its rows.
static void warn_about_text(const char *name, const row_tally_t &tally, bool table_open, bool no_trades)
{
    if (tally.unclosed)
        warning1("warning: %s: the last table row is not closed; it was not read\n", name);
    if (tally.cut_at_nul)
        warning1("warning: %s: text after a NUL byte was not read\n", name);
    if (table_open)
        warning1("warning: %s: the table does not end; the file may be cut\n", name);
    if (no_trades)
        warning1("warning: no trades in %s\n", name);
}

// A trade file made ready for its rows to be read: loaded into the buffer,
// converted to Windows-1251 and looked at, or the reason why it cannot be.
typedef struct {
    int reason;                  // errno value; 0 when loaded
    bool workbook;               // an Excel workbook, not a web page
    const char *reading_format;  // the reading line, with the file name to come
    bool table_open;             // see table_does_not_end()
    char *text;
    size_t len;
} prepared_file_t;

// Everything of a file's import that comes before its rows, and touches
// nothing but the file and the buffer: it may run ahead on a thread of its
// own.
static prepared_file_t prepare_trade_file(const char *name, load_buffer_t *buffer)
{
    prepared_file_t p = {0, false, nullptr, false, nullptr, 0};
    trade_text_t f = {name, nullptr, 0, buffer};
    if ((p.reason = load_trade_text(&f)) != 0)
        return p;
    if ((p.workbook = is_workbook(f.text, f.len)))
        return p;
    p.reading_format = convert_to_cp1251(&f);
    p.table_open = table_does_not_end(f.text, f.len);   // before the rows are cut out of the text
    p.text = f.text;
    p.len = f.len;
    return p;
}

// Imports one prepared trade file into A: its reading line, then a warning
// when it cannot be read, or its rows into imported.txt (fpo1) and
// garbage.txt (fpo2) and warnings about what of its text was not read or
// yielded no trade.  Returns the number of its trade rows that were rejected.
static int import_trade_file(const char *name, const prepared_file_t &p, trade_store_t *A, FILE *fpo1, FILE *fpo2)
{
    if (p.reason || p.workbook) {
        warning1("reading %s...\n", name);
        if (p.reason)
            warning1("warning: cannot read %s (%s)\n", name, strerror(p.reason));
        else
            warning1("warning: cannot read %s (Excel workbook, not a web page)\n", name);
        return 0;
    }
    warning1(p.reading_format, name);
    int before = A->nt;
    row_tally_t tally = import_rows(p.text, p.len, A, fpo1, fpo2);
    warn_about_text(name, tally, p.table_open, A->nt == before);
    return tally.rejected;
}

// After the last trade file: how many trade rows were rejected, if any.
void warn_rejected_rows(int rejected)
{
    if (rejected > 0)
        warning1("warning: %d trade rows rejected, see garbage.txt\n", rejected);
}

// The names of the current directory's trade files, in listing order.
static std::vector<std::string> list_trade_files()
{
    DIR *dir = opendir(".");
    if (!dir)
        error1("failed to scan current directory\n");
    std::vector<std::string> names;
    while (struct dirent *entry = readdir(dir))
        if (is_trade_file(entry->d_name))
            names.push_back(entry->d_name);
    closedir(dir);
    return names;
}

// The sizes of the files as they are now (0 for one that cannot be looked at).
static std::vector<uintmax_t> sizes_of(const std::vector<std::string> &names)
{
    std::vector<uintmax_t> sizes;
    for (const std::string &name : names) {
        struct stat st;
        bool known = stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        sizes.push_back(known ? (uintmax_t)st.st_size : 0);
    }
    return sizes;
}

// The room a buffer needs for the largest of the files as they are now, so
// that it is not grown, leaving the room it had as a hole in the heap, from
// file to file; a file that cannot be looked at, or room that cannot be had,
// is left to the loading of each file.
static size_t room_for_largest(const std::vector<std::string> &names)
{
    size_t largest = 0;
    for (uintmax_t size : sizes_of(names))
        if (size <= SIZE_MAX - 2)
            largest = std::max(largest, (size_t)size + 2);
    return largest;
}

// Reading ahead pays for its thread and its second buffer only when the
// files together are large (or threads are asked for): below this, one file
// after another is as fast and a file held twice would be a large part of
// the run's memory.
static bool worth_reading_ahead(const std::vector<std::string> &names)
{
    const uintmax_t least_total = (uintmax_t)32 << 20;
    uintmax_t total = 0;
    for (uintmax_t size : sizes_of(names))
        total += size;
    return names.size() > 1 && run_threads() > 1 && (total >= least_total || threads_asked());
}

// One file after another on this thread.
static int import_in_turn(const std::vector<std::string> &names, trade_store_t *A, FILE *fpo1, FILE *fpo2)
{
    load_buffer_t buffer = {nullptr, 0};
    room_for(&buffer, room_for_largest(names));
    int rejected = 0;
    for (const std::string &name : names)
        rejected += import_trade_file(name.c_str(), prepare_trade_file(name.c_str(), &buffer), A, fpo1, fpo2);
    release(&buffer);
    return rejected;
}

// With a second thread, a reader loads and prepares the next file while this
// thread reads the rows of the last one.  The rows, the lines of imported.txt
// and garbage.txt and every message still come from this thread, file by
// file in listing order, as they do one file after another.  The two take
// turns over two buffers, so no more than two files are held at once.
struct read_ahead_t {
    explicit read_ahead_t(const std::vector<std::string> &names) : names(names) {}
    const std::vector<std::string> &names;
    load_buffer_t buffer[2] = {{nullptr, 0}, {nullptr, 0}};
    prepared_file_t prepared[2];   // file i in prepared[i % 2]
    std::mutex lock;
    std::condition_variable changed;
    size_t ready = 0;              // files prepared
    size_t done = 0;               // files whose rows were read
    bool stop = false;             // the run ends: read no further
    std::thread reader;
};

// Waits, with the lock held, until file i may go into its buffer; false
// when the run ends first.
static bool wait_for_turn(read_ahead_t *r, std::unique_lock<std::mutex> &hold, size_t i)
{
    r->changed.wait(hold, [r, i] { return r->stop || i < r->done + 2; });
    return !r->stop;
}

static void read_ahead(read_ahead_t *r)
{
    size_t room = room_for_largest(r->names);
    room_for(&r->buffer[0], room);
    room_for(&r->buffer[1], room);
    for (size_t i = 0; i < r->names.size(); i++) {
        {
            std::unique_lock<std::mutex> hold(r->lock);
            if (!wait_for_turn(r, hold, i))
                return;
        }
        prepared_file_t p = prepare_trade_file(r->names[i].c_str(), &r->buffer[i % 2]);
        if (p.reason == ENOMEM) {
            // No room for two files at once: once the last one is done, the
            // other buffer is given back and this one tried again, as it
            // would be one file after another.
            {
                std::unique_lock<std::mutex> hold(r->lock);
                if (!wait_for_turn(r, hold, i + 1))
                    return;
            }
            release(&r->buffer[(i + 1) % 2]);
            p = prepare_trade_file(r->names[i].c_str(), &r->buffer[i % 2]);
        }
        std::lock_guard<std::mutex> hold(r->lock);
        r->prepared[i % 2] = p;
        r->ready = i + 1;
        r->changed.notify_all();
    }
}

// A fatal stop (exit) while the reader works stops it and waits for it, so
// that it does not outlive the run.
static read_ahead_t *active_reader;

static void stop_reader()
{
    read_ahead_t *r = active_reader;
    if (!r)
        return;
    {
        std::lock_guard<std::mutex> hold(r->lock);
        r->stop = true;
        r->changed.notify_all();
    }
    r->reader.join();
    active_reader = nullptr;
}

static bool start_reader(read_ahead_t *r)
{
    static bool stopped_at_exit = atexit(stop_reader) == 0;
    if (!stopped_at_exit)
        return false;
    try {
        r->reader = std::thread(read_ahead, r);
    } catch (const std::system_error &) {
        return false;
    }
    active_reader = r;
    return true;
}

static int import_with_reader(const std::vector<std::string> &names, trade_store_t *A, FILE *fpo1, FILE *fpo2)
{
    read_ahead_t r(names);
    if (!start_reader(&r))
        return import_in_turn(names, A, fpo1, fpo2);   // no thread to spare
    int rejected = 0;
    for (size_t i = 0; i < names.size(); i++) {
        prepared_file_t p;
        {
            std::unique_lock<std::mutex> hold(r.lock);
            r.changed.wait(hold, [&r, i] { return r.ready > i; });
            p = r.prepared[i % 2];
        }
        rejected += import_trade_file(names[i].c_str(), p, A, fpo1, fpo2);
        std::lock_guard<std::mutex> hold(r.lock);
        r.done = i + 1;
        r.changed.notify_all();
    }
    stop_reader();
    release(&r.buffer[0]);
    release(&r.buffer[1]);
    return rejected;
}

bool is_trade_file(const char *name)
{
    return fnmatch1("sdelki*.xls", name, FNMATCH1_CASEFOLD) == 0;
}

// Imports every trade file of the current directory, in listing order;
// returns the number of trade rows rejected.
int import_trade_files(trade_store_t *A, FILE *fpo1, FILE *fpo2)
{
    std::vector<std::string> names = list_trade_files();
    if (worth_reading_ahead(names))
        return import_with_reader(names, A, fpo1, fpo2);
    return import_in_turn(names, A, fpo1, fpo2);
}
