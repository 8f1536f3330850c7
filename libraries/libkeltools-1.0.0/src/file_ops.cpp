// file_ops: whole-file loading, text loading and file system helpers.

#include "keltools.h"

#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/* ---- whole-file loading ---- */

namespace {

// Reads exactly n bytes unless the file ends or fails first; returns the count.
size_t read_fully(int fd, char *buffer, size_t n)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, buffer + got, n - got);
        if (r <= 0)
            break;
        got += (size_t)r;
    }
    return got;
}

bool is_directory(int fd)
{
    struct stat st;
    return fstat(fd, &st) != 0 || S_ISDIR(st.st_mode);
}

}  // namespace

long load_file(const char *filename, char **p)
{
    int fd = open(filename, O_RDONLY);
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
    size_t got = read_fully(fd, buffer, length);
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


