// Trade files: loading each one whole, its reading line and warnings, and
// the listing of the folder's trade files.

#include "platform.h"

#include "trade_files.h"

#include "encodings.h"
#include "import.h"
#include "output.h"
#include "threads.h"

#include "keltools.h"

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
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
        unmap_large(b->data, b->size);
        b->data = (char *)map_large(n);
        b->size = b->data ? n : 0;
    }
    return b->data;
}

static void release(load_buffer_t *b)
{
    unmap_large(b->data, b->size);
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

// A file's console messages go straight to the console, or are held (its
// reading line apart from what follows its rows) until the file's turn.
typedef struct {
    std::string *reading, *after;   // null: print at once
} file_log_t;

[[gnu::format(printf, 2, 3)]] static void say(std::string *held, const char *format, ...)
{
    char local[1024];
    va_list args;
    va_start(args, format);
    int len = vsnprintf(local, sizeof local, format, args);
    va_end(args);
    if (len < 0)
        return;
    std::string text;
    if ((size_t)len < sizeof local) {
        text.assign(local, (size_t)len);
    } else {
        text.resize((size_t)len + 1);
        va_start(args, format);
        vsnprintf(text.data(), text.size(), format, args);
        va_end(args);
        text.resize((size_t)len);
    }
    if (held)
        held->append(text);
    else
        warning1("%s", text.c_str());
}

// The warnings of a file that was read, after its rows.
static void warn_about_text(std::string *held, const char *name, const row_tally_t &tally, bool table_open,
                            bool no_trades)
{
    if (tally.unclosed)
        say(held, "warning: %s: the last table row is not closed; it was not read\n", name);
    if (tally.cut_at_nul)
        say(held, "warning: %s: text after a NUL byte was not read\n", name);
    if (table_open)
        say(held, "warning: %s: the table does not end; the file may be cut\n", name);
    if (no_trades)
        say(held, "warning: no trades in %s\n", name);
}

// Imports one trade file into A through the loader's buffer, its lines going
// to out1 and out2 (imported.txt and garbage.txt, as streams or texts): its
// reading line, then a warning when it cannot be read, and warnings about
// what of its text was not read or yielded no trade.  Returns the number of
// its trade rows that were rejected.
template <typename Out>
static int import_trade_file(const char *name, load_buffer_t *buffer, trade_store_t *A, Out out1, Out out2,
                             const file_log_t &log)
{
    trade_text_t f = {name, nullptr, 0, buffer};
    if (int reason = load_trade_text(&f)) {
        say(log.reading, "reading %s...\n", name);
        say(log.after, "warning: cannot read %s (%s)\n", name, strerror(reason));
        return 0;
    }
    if (is_workbook(f.text, f.len)) {
        say(log.reading, "reading %s...\n", name);
        say(log.after, "warning: cannot read %s (Excel workbook, not a web page)\n", name);
        return 0;
    }
    say(log.reading, convert_to_cp1251(&f), name);
    bool table_open = table_does_not_end(f.text, f.len);   // before the rows are cut out of the text
    int before = A->nt;
    row_tally_t tally = import_rows(f.text, f.len, A, out1, out2);
    warn_about_text(log.after, name, tally, table_open, A->nt == before);
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

// One file after another, its lines and messages going out as they come.
static int import_in_turn(const std::vector<std::string> &names, trade_store_t *A, FILE *fpo1, FILE *fpo2)
{
    load_buffer_t buffer = {nullptr, 0};
    int rejected = 0;
    for (const std::string &name : names)
        rejected += import_trade_file(name.c_str(), &buffer, A, fpo1, fpo2, file_log_t{nullptr, nullptr});
    release(&buffer);
    return rejected;
}

// Several files at once.  Each is read into a store of its own, its lines
// and messages held with it; the main thread joins the files in listing
// order, so the records, their names' copies, the lines of imported.txt and
// garbage.txt and the console come out as a one-file-at-a-time import gives
// them.  At most as many files as there are threads are held at once.

// One trade file read apart from the run, until its turn.
struct parsed_file_t {
    trade_store_t trades = {};
    std::string imported, garbage;   // its lines of imported.txt and garbage.txt
    std::string reading, after;      // its messages before and after its lines
    int rejected = 0;
    std::exception_ptr failure;      // what stopped its reading, if anything
    ~parsed_file_t() { free_trade_store(&trades); }
};

typedef std::unique_ptr<parsed_file_t> parsed_ptr;

// Reads a trade file into p, a fresh or a used one (whose room is reused:
// memory touched for the first time costs a page fault every 4 KiB).
static void parse_trade_file(const std::string &name, load_buffer_t *buffer, parsed_file_t *p)
{
    try {
        if (p->trades.T)
            empty_trade_store(&p->trades);
        else
            allocate_trades(&p->trades);
        p->imported.clear();
        p->garbage.clear();
        p->reading.clear();
        p->after.clear();
        p->failure = nullptr;
        p->rejected = import_trade_file(name.c_str(), buffer, &p->trades, &p->imported, &p->garbage,
                                        file_log_t{&p->reading, &p->after});
    } catch (...) {
        p->failure = std::current_exception();
    }
}

// The files between the threads that read them and the main thread.
struct file_queue_t {
    file_queue_t(const std::vector<std::string> &names, size_t window)
        : names(names), window(window), parsed(names.size())
    {
    }
    const std::vector<std::string> &names;
    size_t window;                   // files claimed and not yet joined, at most
    std::mutex lock;
    std::condition_variable changed;
    size_t claimed = 0;              // files handed to a reader, in listing order
    size_t joined = 0;
    std::vector<parsed_ptr> parsed;  // by listing index, until joined
    std::vector<parsed_ptr> spare;   // joined ones, for the next files
};


// Whether a file may be claimed; call with the lock held.
static bool may_claim(const file_queue_t &q)
{
    return q.claimed < q.names.size() && q.claimed < q.joined + q.window;
}

// Claims the next file (the lock held), reads it with the lock released and
// puts it in its place.
static void read_claimed(file_queue_t *q, std::unique_lock<std::mutex> &hold, load_buffer_t *buffer)
{
    size_t i = q->claimed++;
    parsed_ptr p;
    if (!q->spare.empty()) {
        p = std::move(q->spare.back());
        q->spare.pop_back();
    }
    hold.unlock();
    if (!p)
        p.reset(new parsed_file_t);
    parse_trade_file(q->names[i], buffer, p.get());
    hold.lock();
    q->parsed[i] = std::move(p);
    q->changed.notify_all();
}

static void read_files(file_queue_t *q)
{
    load_buffer_t buffer = {nullptr, 0};
    std::unique_lock<std::mutex> hold(q->lock);
    for (;;) {
        q->changed.wait(hold, [q] { return may_claim(*q) || q->claimed == q->names.size(); });
        if (q->claimed == q->names.size())
            break;
        read_claimed(q, hold, &buffer);
    }
    hold.unlock();
    release(&buffer);
}

// The file at listing index i, read by the main thread itself while it is
// not, or another one may be claimed.
static parsed_ptr next_in_order(file_queue_t *q, size_t i, load_buffer_t *buffer)
{
    std::unique_lock<std::mutex> hold(q->lock);
    while (!q->parsed[i]) {
        if (may_claim(*q))
            read_claimed(q, hold, buffer);
        else
            q->changed.wait(hold);
    }
    return std::move(q->parsed[i]);
}

// Appends a file's records to A and writes its lines and messages; returns
// its rejected rows.  Its garbage.txt lines are checked when the stream is
// closed, as the rows' lines of a file read in turn are.
static int join_file(parsed_file_t *p, trade_store_t *A, FILE *fpo1, FILE *fpo2)
{
    if (p->failure)
        std::rethrow_exception(p->failure);
    warning1("%s", p->reading.c_str());
    append_trades(A, &p->trades);
    write_bytes(fpo1, p->imported.data(), p->imported.size());
    fwrite_unlocked(p->garbage.data(), 1, p->garbage.size(), fpo2);
    warning1("%s", p->after.c_str());
    return p->rejected;
}

static void start_readers(file_queue_t *q, int count, std::vector<std::thread> *readers)
{
    for (int k = 0; k < count; k++) {
        try {
            readers->emplace_back(read_files, q);
        } catch (const std::system_error &) {
            break;   // the main thread reads what the others cannot
        }
    }
}

static int import_together(const std::vector<std::string> &names, int threads, trade_store_t *A, FILE *fpo1,
                           FILE *fpo2)
{
    file_queue_t q(names, (size_t)threads);
    std::vector<std::thread> readers;
    start_readers(&q, threads - 1, &readers);
    load_buffer_t buffer = {nullptr, 0};
    int rejected = 0;
    for (size_t i = 0; i < names.size(); i++) {
        parsed_ptr p = next_in_order(&q, i, &buffer);
        rejected += join_file(p.get(), A, fpo1, fpo2);
        std::lock_guard<std::mutex> hold(q.lock);
        q.spare.push_back(std::move(p));
        q.joined++;
        q.changed.notify_all();
    }
    release(&buffer);
    for (std::thread &reader : readers)
        reader.join();
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
    int threads = std::min(run_threads(), (int)std::min(names.size(), (size_t)64));
    if (threads <= 1)
        return import_in_turn(names, A, fpo1, fpo2);
    return import_together(names, threads, A, fpo1, fpo2);
}
