// Trade files: loading each one whole, its reading line and warnings, and
// the listing of the folder's trade files.

#include "platform.h"

#include "trade_files.h"

#include "encodings.h"
#include "import.h"

#include "keltools.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

// A trade file that changes while it is read (the terminal is rewriting it)
// is read again, up to this many reads in all; one still changing is not
// taken, and this is the reason given for it.
static const int reads_of_a_changing_file = 3;
static const int changed_while_read = EAGAIN;

// A trade file as loaded: its bytes and a NUL.
typedef struct {
    const char *name;
    char *text;
    size_t len;
} trade_text_t;

// Whether two looks at a file saw the same file, unchanged: same identity,
// length and modification time.
static bool looks_same(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           modification_ns(a) == modification_ns(b);
}

// Reads the open file fp of length f->len into a new buffer.  Returns 0, or
// the reason (an errno value) why the file cannot be taken.
static int read_trade_text(trade_text_t *f, FILE *fp)
{
    char *buffer = (char *)malloc(f->len + 2);
    if (!buffer)
        return ENOMEM;
    setvbuf(fp, nullptr, _IONBF, 0);
    size_t got = fread(buffer, 1, f->len + 1, fp);   // one byte more shows a file that grew
    int reason = ferror(fp) ? (errno ? errno : EIO) : got != f->len ? changed_while_read : 0;
    if (reason) {
        free(buffer);
        return reason;
    }
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
        free(f->text);
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

// What the text of a trade file says beyond its rows, in the order of the
// warnings.
typedef struct {
    bool nul_inside;     // the text ends at a NUL byte before the end of the file
    bool table_open;     // see table_does_not_end()
} text_signs_t;

static text_signs_t read_text_signs(const trade_text_t *f)
{
    return {memchr(f->text, 0, f->len) != nullptr, table_does_not_end(f->text, f->len)};
}

// The warnings of a file that was read, after its rows.
static void warn_about_text(const char *name, const row_tally_t &tally, const text_signs_t &signs, bool no_trades)
{
    if (tally.unclosed)
        warning1("warning: %s: the last table row is not closed; it was not read\n", name);
    if (signs.nul_inside)
        warning1("warning: %s: text after a NUL byte was not read\n", name);
    if (signs.table_open)
        warning1("warning: %s: the table does not end; the file may be cut\n", name);
    if (no_trades)
        warning1("warning: no trades in %s\n", name);
}

// Imports one trade file: its reading line, then a warning when it cannot
// be read, and warnings about what of its text was not read or yielded no
// trade.  Returns the number of its trade rows that were rejected.
static int import_trade_file(const char *name, trade_store_t *A, FILE *fpo1, FILE *fpo2)
{
    trade_text_t f = {name, nullptr, 0};
    if (int reason = load_trade_text(&f)) {
        warning1("reading %s...\n", name);
        warning1("warning: cannot read %s (%s)\n", name, strerror(reason));
        return 0;
    }
    if (is_workbook(f.text, f.len)) {
        free(f.text);
        warning1("reading %s...\n", name);
        warning1("warning: cannot read %s (Excel workbook, not a web page)\n", name);
        return 0;
    }
    warning1(convert_to_cp1251(&f), name);
    text_signs_t signs = read_text_signs(&f);
    int before = A->nt;
    row_tally_t tally = import_rows(f.text, f.len, A, fpo1, fpo2);
    free(f.text);
    warn_about_text(name, tally, signs, A->nt == before);
    return tally.rejected;
}

// After the last trade file: how many trade rows were rejected, if any.
void warn_rejected_rows(int rejected)
{
    if (rejected > 0)
        warning1("warning: %d trade rows rejected, see garbage.txt\n", rejected);
}
bool is_trade_file(const char *name)
{
    return fnmatch1("sdelki*.xls", name, FNMATCH1_CASEFOLD) == 0;
}

// Imports every trade file of the current directory, in listing order;
// returns the number of trade rows rejected.
int import_trade_files(trade_store_t *A, FILE *fpo1, FILE *fpo2)
{
    DIR *dir = opendir(".");
    if (!dir)
        error1("failed to scan current directory\n");
    int rejected = 0;
    while (struct dirent *entry = readdir(dir)) {
        if (!is_trade_file(entry->d_name))
            continue;
        rejected += import_trade_file(entry->d_name, A, fpo1, fpo2);
    }
    closedir(dir);
    return rejected;
}
