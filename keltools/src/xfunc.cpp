// xfunc: checked file and memory operations, chunk sets, text buffers, tree removal.

#include "compat.h"
#include "keltools.h"
#include "internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/* ---- checked file and memory operations ---- */

using keltools_internal::build_name;
using keltools_internal::name_buffer;

void keltools_internal::build_name(name_buffer name, const char *format, va_list args)
{
    vsnprintf1(name, sizeof(name_buffer), format, args);
}

int xcreate(const char *format, ...)
{
    BUILD_NAME(name, format);
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0666);
    if (fd < 0)
        error1("cannot create/truncate %s\n", name);
    return fd;
}

int xopen(const char *format, ...)
{
    BUILD_NAME(name, format);
    int fd = open(name, O_RDONLY | O_BINARY);
    if (fd < 0)
        error1("cannot open %s\n", name);
    return fd;
}

FILE *xfopen(const char *format, const char *mode, ...)
{
    name_buffer name;
    va_list args;
    va_start(args, mode);
    build_name(name, format, args);
    va_end(args);
    FILE *fp = fopen(name, mode);
    if (fp == NULL)
        error1("cannot open %s in mode \"%s\" (%s)\n", name, mode, strerror(errno));
    return fp;
}

// A write that failed earlier on the stream counts as a failed close: the
// data it held is lost even when the final flush succeeds.
int xfclose(FILE *fp)
{
    bool earlier_failure = ferror(fp) != 0;
    int saved = errno;
    if (fclose(fp) != 0)
        error1("cannot close file stream (%s)\n", strerror(errno));
    if (earlier_failure)
        error1("cannot close file stream (%s)\n", strerror(saved ? saved : EIO));
    return 0;
}

int xfwrite(const void *buffer, int nb, FILE *fp)
{
    size_t written = nb > 0 ? fwrite(buffer, 1, (size_t)nb, fp) : 0;
    if (nb > 0 && written != (size_t)nb)
        error1("error writing: wanted to write %d bytes, wrote %d (%s)\n", nb, (int)written,
               strerror(errno));
    return nb;
}

int xfread(void *buffer, int nb, FILE *fp)
{
    return nb > 0 ? (int)fread(buffer, 1, (size_t)nb, fp) : 0;
}

namespace keltools_internal {

namespace {

// Calls transfer(done) until n bytes have moved: it moves the bytes from
// offset done on and returns the platform call's result.  An interrupted
// call is made again; a call that moves nothing or fails ends the loop
// (a write that moves nothing would otherwise be tried forever).
template <typename Transfer>
size_t transfer_in_full(size_t n, Transfer transfer)
{
    size_t done = 0;
    while (done < n) {
        ssize_t r = transfer(done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0)
            errno = 0;  // the end of the input, not a failure
        if (r <= 0)
            break;
        done += (size_t)r;
    }
    return done;
}

}  // namespace

size_t read_in_full(int fd, void *buffer, size_t n)
{
    char *p = (char *)buffer;
    return transfer_in_full(n, [&](size_t done) { return read(fd, p + done, n - done); });
}

size_t write_in_full(int fd, const void *buffer, size_t n)
{
    const char *p = (const char *)buffer;
    return transfer_in_full(n, [&](size_t done) { return write(fd, p + done, n - done); });
}

}  // namespace keltools_internal

using keltools_internal::read_in_full;
using keltools_internal::write_in_full;

// Writes all size bytes or stops the process.
int xwrite(int fd, const void *buffer, int size)
{
    if (size == 0)
        return 0;
    if (size < 0 || write_in_full(fd, buffer, (size_t)size) != (size_t)size)
        error1("error writing %d bytes\n", size);
    return 0;
}

// Reads exactly size bytes or stops the process; an early end of file stops it too.
int xread(int fd, void *buffer, int size)
{
    if (size == 0)
        return 0;
    if (size < 0 || read_in_full(fd, buffer, (size_t)size) != (size_t)size)
        error1("error reading %d bytes\n", size);
    return 0;
}

int xwrite_str(int fd, const char *s)
{
    int32_t l = s ? (int32_t)strlen(s) : 0;
    xwrite(fd, &l, 4);
    if (l > 0)
        xwrite(fd, s, l + 1);
    return 0;
}

int xwrite_str_array(int fd, char **s, int n)
{
    int32_t count = n;
    xwrite(fd, &count, 4);
    for (int i = 0; i < n; i++)
        xwrite_str(fd, s[i]);
    return 0;
}

// A negative length never comes from xwrite_str; it reads as an empty string.
char *xread_str(int fd)
{
    int32_t l = 0;
    xread(fd, &l, 4);
    if (l <= 0) {
        char *empty = (char *)xmalloc(1);
        empty[0] = '\0';
        return empty;
    }
    char *s = (char *)xmalloc((size_t)l + 1);
    xread(fd, s, l < INT32_MAX ? l + 1 : l);
    s[l] = '\0';
    return s;
}

// A negative count reads as no strings at all.
int xread_str_array(int fd, char ***s)
{
    int32_t n = 0;
    xread(fd, &n, 4);
    if (n < 0)
        n = 0;
    char **array = (char **)xmalloc((size_t)n * sizeof(char *));
    for (int32_t i = 0; i < n; i++)
        array[i] = xread_str(fd);
    *s = array;
    return n;
}

using keltools_internal::out_of_memory;

// The whole size, also beyond 4 GiB.
void keltools_internal::out_of_memory(const char *call, size_t n)
{
    error1("not enough memory; %s(%llu) failed\n", call, (unsigned long long)n);
}

void *xmalloc(size_t n)
{
    void *p = malloc(n ? n : 1);
    if (p == NULL)
        out_of_memory("malloc", n);
    return p;
}

void *xrealloc(void *ptr, size_t n)
{
    if (n == 0) {
        free(ptr);
        return NULL;
    }
    if (ptr == NULL)
        return xmalloc(n);
    void *p = realloc(ptr, n);
    if (p == NULL)
        out_of_memory("realloc", n);
    return p;
}

void xfree(void *ptr)
{
    if (ptr != NULL)
        free(ptr);
}

char *xstrdup(const char *str)
{
    char *copy = strdup(str);
    if (copy == NULL)
        error1("not enough memory; strdup %s failed\n", str);
    return copy;
}

char *xnstrdup(const char *str, int len)
{
    if (len < 0)
        len = 0;
    char *copy = (char *)xmalloc((size_t)len + 1);
    memcpy(copy, str, (size_t)len);
    copy[len] = '\0';
    return copy;
}

int xunlink(const char *format, ...)
{
    BUILD_NAME(name, format);
    if (unlink(name) != 0)
        error1("cannot delete %s\n", name);
    return 0;
}

int yunlink(const char *format, ...)
{
    BUILD_NAME(name, format);
    return unlink(name);
}

int xmkdir(const char *format, ...)
{
    BUILD_NAME(name, format);
    if (access(name, F_OK) == 0)
        return 0;
    if (mkdir(name, 0777) != 0)
        error1("cannot create directory %s (%s)\n", name, strerror(errno));
    return 0;
}

void *xmmap(unsigned long *len, const char *format, ...)
{
    (void)len;
    (void)format;
    error1("mmap is not supported\n");
}

void xmunmap(void *addr, unsigned long len)
{
    (void)addr;
    (void)len;
}

/* ---- checked seek ---- */

int xlseek(int fh, off_t offset)
{
    // A failed seek returns -1, which must not pass for a seek to -1.
    off_t reached = lseek(fh, offset, SEEK_SET);
    if (reached < 0 || reached != offset)
        error1("lseek (%s) failed\n", insert_commas4((long long)offset));
    return 0;
}

/* ---- standard descriptors ---- */

// A process started with descriptor 0, 1 or 2 closed would give that number
// to the next file it opens, and its messages would land in that file.  The
// descriptors are filled in ascending order, so open() returns the one sought.
void xopen_std_fds(void)
{
#ifdef _WIN32
    const char *null_device = "NUL";
#else
    const char *null_device = "/dev/null";
#endif
    for (int fd = 0; fd <= 2; fd++) {
        struct stat st;
        if (fstat(fd, &st) == 0 || errno != EBADF)
            continue;
        if (open(null_device, fd == 0 ? O_RDONLY : O_WRONLY) < 0)
            error1("cannot open %s (%s)\n", null_device, strerror(errno));
    }
}
