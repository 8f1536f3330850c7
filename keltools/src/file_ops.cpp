// file_ops: whole-file loading, text loading and file system helpers.

#include "compat.h"
#include "keltools.h"
#include "internal.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/* ---- whole-file loading ---- */

using keltools_internal::read_in_full;
using keltools_internal::write_in_full;

namespace {

bool is_directory(int fd)
{
    struct stat st;
    return fstat(fd, &st) != 0 || S_ISDIR(st.st_mode);
}

}  // namespace

long load_file(const char *filename, char **p)
{
    // Non-blocking, so that a FIFO fails at once (it has no length) instead of
    // waiting for a writer; regular files read the same either way.
    int fd = open(filename, O_RDONLY | O_NONBLOCK | O_BINARY);
    if (fd < 0)
        return -1;
    unsigned long length = is_directory(fd) ? (unsigned long)-1 : file_length(fd);
    if (length == (unsigned long)-1 || length > (unsigned long)LONG_MAX - 2) {
        close(fd);
        return -1;
    }
    if (length == 0) {
        close(fd);
        return 0;
    }
    char *buffer = (char *)xmalloc(length + 2);
    size_t got = read_in_full(fd, buffer, length);
    close(fd);
    if (got != length) {
        free(buffer);
        return -1;
    }
    buffer[length] = '\0';
    *p = buffer;
    return (long)length;
}

unsigned long file_length(int fd)
{
    off_t here = lseek(fd, 0, SEEK_CUR);
    off_t end = lseek(fd, 0, SEEK_END);
    lseek(fd, here, SEEK_SET);
    // Where unsigned long is 32 bits, a longer file has no length to return.
    if (end < 0 || (unsigned long long)end > ULONG_MAX)
        return (unsigned long)-1;
    return (unsigned long)end;
}

long long f_length(const char *fname)
{
    struct stat st;
    if (stat(fname, &st) != 0)
        return -1;
    return (long long)st.st_size;
}

/* ---- stream byte copy ---- */

long long copy_bytes(FILE *in, FILE *out, long long nb, int mem, char *buf)
{
    if (nb <= 0)
        return 0;
    if (mem <= 0)
        mem = 65536;
    char *buffer = buf ? buf : (char *)xmalloc((size_t)mem);
    for (long long left = nb; left > 0;) {
        int piece = left < mem ? (int)left : mem;
        if (fread(buffer, 1, (size_t)piece, in) != (size_t)piece)
            error1("failed to read from stream %d bytes\n", piece);
        if (fwrite(buffer, 1, (size_t)piece, out) != (size_t)piece)
            error1("failed to write to stream %d bytes\n", piece);
        left -= piece;
    }
    if (buf == NULL)
        free(buffer);
    return nb;
}

/* ---- text loading, line output and file system helpers ---- */

namespace {

// A growing array of line pointers on the checked heap (64 to start).
struct line_list {
    char **items = (char **)xmalloc(64 * sizeof(char *));
    int count = 0;
    int room = 64;

    void add(char *line)
    {
        if (count == room) {
            room *= 2;
            items = (char **)xrealloc(items, (size_t)room * sizeof(char *));
        }
        items[count++] = line;
    }
};

bool is_line_end(char c)
{
    return c == '\r' || c == '\n';
}

// Loads a file for line splitting: NUL bytes become blanks so that the text
// ends only at its end.  Returns the buffer, null when the file cannot be
// loaded or is empty.
char *load_text(const char *filename)
{
    char *text = nullptr;
    long length = load_file(filename, &text);
    if (length <= 0)
        return nullptr;
    for (long i = 0; i < length; i++)
        if (text[i] == '\0')
            text[i] = ' ';
    return text;
}

}  // namespace

long load_stdin(char **p)
{
    const size_t step = 16384;
    size_t size = step, length = 0;
    char *buffer = (char *)malloc(size);
    if (!buffer)
        return -1;
    for (;;) {
        size_t wanted = size - length;
        size_t got = read_in_full(STDIN_FILENO, buffer + length, wanted);
        length += got;
        if (got < wanted)
            break;
        if (size - length < step) {
            char *bigger = (char *)realloc(buffer, size * 2);
            if (!bigger) {
                free(buffer);
                return -1;
            }
            buffer = bigger;
            size *= 2;
        }
    }
    if (char *fitted = (char *)realloc(buffer, length + 1))
        buffer = fitted;
    buffer[length] = '\0';
    *p = buffer;
    return (long)length;
}

int text2lines(char *s, char ***lines)
{
    line_list list;
    list.add(s);
    for (char *p = s; *p;) {
        if (!is_line_end(*p)) {
            p++;
            continue;
        }
        *p++ = '\0';
        while (is_line_end(*p))
            p++;
        if (*p)
            list.add(p);
    }
    *lines = list.items;
    return list.count;
}

int load_textfile(const char *filename, char ***lines)
{
    char *text = load_text(filename);
    if (!text)
        return -1;
    return text2lines(text, lines);
}

int load_textfile2(const char *filename, char ***lines, const char *sep)
{
    if (!sep)
        sep = "\r\n";
    char *text = load_text(filename);
    if (!text)
        return -1;
    size_t sep_len = strlen(sep);
    line_list list;
    list.add(text);
    for (char *p = text; *p && sep_len > 0;) {
        if (strncmp(p, sep, sep_len) != 0) {
            p++;
            continue;
        }
        *p = '\0';
        p += sep_len;
        if (*p)
            list.add(p);
    }
    *lines = list.items;
    return list.count;
}

int print_file(const char *filename)
{
    FILE *fp = fopen(filename, "r");
    if (!fp)
        return 0;
    char line[8192];
    while (fgets(line, sizeof line, fp))
        fputs(line, stdout);
    return fclose(fp);
}

namespace {

// Writes s in pieces of maxlen-2 characters, a backslash and a line feed
// after every piece but the last, through put(data, size).
template <typename Put>
int fold_long_text(const char *s, int maxlen, Put put)
{
    if (maxlen < 3)
        return -1;
    size_t left = strlen(s), piece = (size_t)maxlen - 2;
    while (left > 0) {
        size_t n = left < piece ? left : piece;
        put(s, n);
        s += n;
        left -= n;
        if (left > 0)
            put("\\\n", 2);
    }
    return 0;
}

}  // namespace

int flongprint(FILE *fp, const char *s, int maxlen)
{
    return fold_long_text(s, maxlen, [fp](const char *data, size_t n) { fwrite(data, 1, n, fp); });
}

int longprint(int fd, const char *s, int maxlen)
{
    return fold_long_text(s, maxlen, [fd](const char *data, size_t n) { write_in_full(fd, data, n); });
}

/*
 * File system helpers.
 */

namespace {

bool is_bare_drive(const char *path)
{
    return strlen(path) == 2 && path[1] == ':';
}

// Creates the directory unless something of that name exists; false when it
// is missing and cannot be made.
bool ensure_directory(const char *path)
{
    if (is_bare_drive(path) || access(path, F_OK) == 0)
        return true;
    return mkdir(path, 0777) == 0;
}

}  // namespace

int make_subtree(const char *s)
{
    if (is_bare_drive(s))
        return 0;
    char *path = xstrdup(s);
    for (char *p = path; *p; p++)
        if (*p == '\\')
            *p = '/';
    bool ok = true;
    // A leading '/' is the root, not a separator.
    for (char *slash = path + 1; ok && *path && (slash = strchr(slash, '/')) != nullptr; slash++) {
        *slash = '\0';
        ok = ensure_directory(path);
        *slash = '/';
    }
    if (ok)
        ok = ensure_directory(path);
    free(path);
    return ok ? 0 : -1;
}

long dump_file(const char *filename, const void *p, long length)
{
    int fd = open(filename, O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0777);
    if (fd < 0)
        return -1;
    long written = length > 0 ? (long)write_in_full(fd, p, (size_t)length) : 0;
    close(fd);
    return written;
}

int copy_file(const char *src, const char *dest)
{
    char *data = nullptr;
    long length = load_file(src, &data);
    if (length < 0)
        return 1;
    // An empty source loads nothing and is copied as an empty file.
    long written = dump_file(dest, length > 0 ? data : "", length);
    if (length > 0)
        free(data);
    return written == length ? 0 : 1;
}

int is_textfile(const char *filename, int probe_size)
{
    int fd = open(filename, O_RDONLY | O_BINARY);
    if (fd < 0)
        return -1;
    unsigned long length = file_length(fd);
    size_t probe = probe_size < 0 ? 1024 : (size_t)probe_size;
    if (length == 0 || length == (unsigned long)-1) {
        close(fd);
        return -1;
    }
    if (probe > length)
        probe = length;
    unsigned char *buffer = (unsigned char *)xmalloc(probe + 1);
    size_t got = read_in_full(fd, buffer, probe);
    close(fd);
    int result = got < probe ? -1 : 1;
    for (size_t i = 0; result == 1 && i < probe; i++) {
        unsigned char c = buffer[i];
        if (c < 32 && c != '\n' && c != '\r' && c != '\t' && c != '\b')
            result = 0;
    }
    free(buffer);
    return result;
}

int isindexfile(const char *name)
{
    static const char *const index_names[] = {
        "00index.txt", "00_index.txt", "00index", "00-index", "index.txt",
        "files.bbs",   "descript.ion", "index",   "!index",
    };
    for (const char *index_name : index_names)
        if (stricmp1(name, index_name) == 0)
            return 1;
    return 0;
}

/* ---- tree removal ---- */

using keltools_internal::out_of_memory;

namespace {

// Removes one entry of a directory being emptied; path is the entry's path.
// Failures stop the process, or in soft mode print the same text as a warning.
void remove_entry(int softfail, const char *path)
{
    struct stat st;
    // lstat: a symbolic link is removed itself, never followed out of the tree.
    if (lstat(path, &st) != 0) {
        const char *reason = strerror(errno);
        if (!softfail)
            error1("failed to stat() file %s (%s)\n", path, reason);
        warning1("warning: failed to stat() file %s (%s)\n", path, reason);
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        rmdir_worker(softfail, path);
    } else if (remove_file_or_link(path) != 0) {
        const char *reason = strerror(errno);
        if (!softfail)
            error1("failed to remove file %s (%s)\n", path, reason);
        warning1("warning: failed to remove file %s (%s)\n", path, reason);
    }
}

}  // namespace

int rmdir_worker(int softfail, const char *dirname)
{
    DIR *dir = opendir(dirname);
    if (!dir) {
        if (!softfail)
            error1("failed to scan directory %s\n", dirname);
        warning1("warning: failed to scan directory %s\n", dirname);
        return -1;
    }
    while (struct dirent *entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        char *path = str_sjoin(dirname, entry->d_name);
        if (!path)
            out_of_memory("malloc", strlen(dirname) + strlen(entry->d_name) + 2);
        remove_entry(softfail, path);
        free(path);
    }
    closedir(dir);
    int rc = rmdir(dirname);
    if (rc != 0) {
        const char *reason = strerror(errno);
        if (!softfail)
            error1("failed to remove directory %s (%s)\n", dirname, reason);
        warning1("warning: failed to remove directory %s (%s)\n", dirname, reason);
    }
    return rc;
}

int xrmdir(int softfail, const char *format, ...)
{
    BUILD_NAME(name, format);
    rmdir_worker(softfail, name);
    return 0;
}
