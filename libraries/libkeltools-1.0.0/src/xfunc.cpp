// xfunc: checked file and memory operations, chunk sets, text buffers, tree removal.

#include "keltools.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/* ---- checked file and memory operations ---- */

namespace {

// Every name-taking wrapper builds its name into one of these.
typedef char name_buffer[260];

void build_name(name_buffer name, const char *format, va_list args)
{
    vsnprintf1(name, sizeof(name_buffer), format, args);
}

}  // namespace

#define BUILD_NAME(name, format)            \
    name_buffer name;                       \
    do {                                    \
        va_list args_;                      \
        va_start(args_, format);            \
        build_name(name, format, args_);    \
        va_end(args_);                      \
    } while (0)

int xcreate(const char *format, ...)
{
    BUILD_NAME(name, format);
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        error1("cannot create/truncate %s\n", name);
    return fd;
}

int xopen(const char *format, ...)
{
    BUILD_NAME(name, format);
    int fd = open(name, O_RDONLY);
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

int xfclose(FILE *fp)
{
    if (fclose(fp) != 0)
        error1("cannot close file stream (%s)\n", strerror(errno));
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

int xwrite(int fd, const void *buffer, int size)
{
    if (size == 0)
        return 0;
    if (size < 0 || write(fd, buffer, (size_t)size) != (ssize_t)size)
        error1("error writing %d bytes\n", size);
    return 0;
}

int xread(int fd, void *buffer, int size)
{
    if (size == 0)
        return 0;
    if (size < 0 || read(fd, buffer, (size_t)size) != (ssize_t)size)
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

void *xmalloc(size_t n)
{
    void *p = malloc(n ? n : 1);
    if (p == NULL)
        error1("not enough memory; malloc(%u) failed\n", (unsigned)n);
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
        error1("not enough memory; realloc(%u) failed\n", (unsigned)n);
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

/* ---- tree removal and checked seek ---- */


/* ---- memory chunk sets and text buffers ---- */


