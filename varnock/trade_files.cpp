// Trade files: loading each one whole, its reading line and warnings, and
// the listing of the folder's trade files.

#include "platform.h"

#include "trade_files.h"

#include "encodings.h"
#include "import.h"

#include "keltools.h"

#include <cstdint>
#include <cstdlib>

// A trade file whose length changes while it is read (the terminal is
// rewriting it) is not taken; this is the reason given for it.
static const int changed_while_read = EAGAIN;

// A trade file as loaded: its bytes and a NUL.
typedef struct {
    const char *name;
    char *text;
    size_t len;
    bool announced;   // its reading line is out already
} trade_text_t;

// Reads the open file fp of length f->len into a new buffer.  Returns 0, or
// the reason (an errno value) why the file cannot be taken.
static int read_trade_text(trade_text_t *f, FILE *fp)
{
    char *buffer = (char *)malloc(f->len + 2);
    if (!buffer) {
        // xmalloc stops the run naming the size; the file's line goes first.
        warning1("reading %s...\n", f->name);
        f->announced = true;
        buffer = (char *)xmalloc(f->len + 2);
    }
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

// Loads a trade file whole.  Returns 0, or the reason (an errno value) why it
// cannot be read.  A directory or any other file that is not a regular one
// is not opened (a pipe would wait for a writer).
static int load_trade_text(trade_text_t *f)
{
    struct stat st;
    if (stat(f->name, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : ESPIPE;
    FILE *fp = fopen(f->name, "rb");
    if (!fp)
        return errno;
    int reason;
    if (fstat(fileno(fp), &st) != 0)
        reason = errno;
    else if (!S_ISREG(st.st_mode))
        reason = ESPIPE;
    else if ((uintmax_t)st.st_size > SIZE_MAX - 2)
        reason = EFBIG;
    else
        f->len = (size_t)st.st_size, reason = read_trade_text(f, fp);
    fclose(fp);
    return reason;
}

// Imports one trade file: its reading line, then a warning when it cannot
// be read or when its text ends inside a row.  Returns the number of its
// trade rows that were rejected.
static int import_trade_file(const char *name, trade_store_t *A, FILE *fpo1, FILE *fpo2)
{
    trade_text_t f = {name, nullptr, 0, false};
    if (int reason = load_trade_text(&f)) {
        if (!f.announced)
            warning1("reading %s...\n", name);
        warning1("warning: cannot read %s (%s)\n", name, strerror(reason));
        return 0;
    }
    bool utf8 = is_utf8_export(f.text, f.len);
    if (utf8)
        f.len = utf8_to_cp1251(f.text, f.len);
    if (!f.announced)
        warning1(utf8 ? "reading %s (UTF-8)...\n" : "reading %s...\n", name);
    row_tally_t tally = import_rows(f.text, f.len, A, fpo1, fpo2);
    free(f.text);
    if (tally.unclosed)
        warning1("warning: %s: the last table row is not closed; it was not read\n", name);
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
