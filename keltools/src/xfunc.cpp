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

// The whole size, also beyond 4 GiB.
[[noreturn]] static void out_of_memory(const char *call, size_t n)
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

/* ---- memory chunk sets and text buffers ---- */

/*
 * A chunk set hands out blocks back to back from its newest chunk; when a
 * request does not fit, a new chunk is started (at least init_size bytes,
 * exactly the request when that is larger) and the rest of the old one is
 * abandoned.  Nothing is freed before chunk_free.
 */

void *chunk_new(int fragm_size)
{
    chunk_set_t *p = (chunk_set_t *)xmalloc(sizeof *p);
    p->nchunks = 0;
    p->nchunks_a = 16;
    p->chunks = (char **)xmalloc(p->nchunks_a * sizeof *p->chunks);
    p->init_size = fragm_size > 0 ? fragm_size : 0x100000;
    p->bytes_used = 0;
    p->bytes_left = 0;
    return p;
}

static void chunk_start_new(chunk_set_t *p, int len)
{
    // Grow while one free entry is left, so the array never runs full.
    if (p->nchunks == p->nchunks_a - 1) {
        p->nchunks_a *= 2;
        p->chunks = (char **)xrealloc(p->chunks, p->nchunks_a * sizeof *p->chunks);
    }
    int size = std::max(p->init_size, len);
    p->chunks[p->nchunks++] = (char *)xmalloc(size);
    p->bytes_used = 0;
    p->bytes_left = size;
}

void *chunk_alloc(void *handle, int len)
{
    chunk_set_t *p = (chunk_set_t *)handle;
    if (len <= 0)
        error1("attempt to allocate %d bytes in the memory chunk set\n", len);
    if (len > p->bytes_left)
        chunk_start_new(p, len);
    char *block = p->chunks[p->nchunks - 1] + p->bytes_used;
    p->bytes_used += len;
    p->bytes_left -= len;
    return block;
}

char *chunk_put(void *p, const void *data, int len)
{
    if (len == 0)
        error1("attempt to store 0 bytes in the memory chunk set\n");
    if (len < 0)
        len = (int)strlen((const char *)data) + 1;
    char *copy = (char *)chunk_alloc(p, len);
    memcpy(copy, data, len);
    return copy;
}

void chunk_free(void *handle)
{
    chunk_set_t *p = (chunk_set_t *)handle;
    for (int i = 0; i < p->nchunks; i++)
        free(p->chunks[i]);
    free(p->chunks);
    free(p);
}

/*
 * Text buffers: four slots addressed by id.  A buffer's text lives in pieces
 * of bufsize bytes that never move once written; only the array of piece
 * pointers is reallocated as the text grows.
 */

static membuf_t MB[4];
static int MB_init;

static membuf_t *membuf_slot(int mbid)
{
    if (!MB_init || mbid < 0 || mbid > 3 || !MB[mbid].opened)
        return nullptr;
    return &MB[mbid];
}

int membuf_create(int nb)
{
    if (!MB_init) {
        memset(MB, 0, sizeof MB);
        MB_init = 1;
    }
    for (int id = 0; id < 4; id++) {
        membuf_t *m = &MB[id];
        if (m->opened)
            continue;
        m->opened = 1;
        m->bufsize = nb > 0 ? nb : 0x100000;
        m->nbufs = 1;
        m->nbufs_a = 8;
        m->bufs = (char **)xmalloc(m->nbufs_a * sizeof *m->bufs);
        m->bufs[0] = (char *)xmalloc(m->bufsize);
        m->left = m->bufsize;
        return id;
    }
    return -1;
}

int membuf_close(int mbid)
{
    membuf_t *m = membuf_slot(mbid);
    if (!m)
        return -1;
    for (int i = 0; i < m->nbufs; i++)
        free(m->bufs[i]);
    free(m->bufs);
    memset(m, 0, sizeof *m);
    return 0;
}

static void membuf_append(membuf_t *m, const char *s, size_t ln)
{
    size_t room = m->left;
    if (ln <= room) {
        memcpy(m->bufs[m->nbufs - 1] + (m->bufsize - m->left), s, ln);
        m->left -= (int)ln;
        return;
    }
    if (room > 0) {
        memcpy(m->bufs[m->nbufs - 1] + (m->bufsize - m->left), s, room);
        s += room;
        ln -= room;
    }
    size_t copied = 0;
    while (ln > 0) {
        if (m->nbufs == m->nbufs_a) {
            m->nbufs_a *= 2;
            m->bufs = (char **)xrealloc(m->bufs, m->nbufs_a * sizeof *m->bufs);
        }
        char *piece = (char *)xmalloc(m->bufsize);
        m->bufs[m->nbufs++] = piece;
        copied = std::min((size_t)m->bufsize, ln);
        memcpy(piece, s, copied);
        s += copied;
        ln -= copied;
    }
    m->left = m->bufsize - (int)copied;
}

int membuf_put(int mbid, const char *s)
{
    membuf_t *m = membuf_slot(mbid);
    if (!m)
        return -1;
    membuf_append(m, s, strlen(s));
    return 0;
}

int membuf_printf(int mbid, const char *fmt, ...)
{
    membuf_t *m = membuf_slot(mbid);
    if (!m)
        return -1;
    char local[8192];
    va_list args, again;
    va_start(args, fmt);
    va_copy(again, args);
    int length = vsnprintf(local, sizeof local, fmt, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return -1;
    }
    // Like membuf_put, the text ends at its first NUL.
    if (length < (int)sizeof local) {
        membuf_append(m, local, strlen(local));
    } else {
        char *block = (char *)xmalloc((size_t)length + 1);
        vsnprintf(block, (size_t)length + 1, fmt, again);
        membuf_append(m, block, strlen(block));
        free(block);
    }
    va_end(again);
    return 0;
}

int membuf_write(int mbid, int fd)
{
    membuf_t *m = membuf_slot(mbid);
    if (!m)
        return -1;
    for (int i = 0; i < m->nbufs - 1; i++)
        xwrite(fd, m->bufs[i], m->bufsize);
    xwrite(fd, m->bufs[m->nbufs - 1], m->bufsize - m->left);
    return 0;
}

char *membuf_accumulate(int mbid)
{
    membuf_t *m = membuf_slot(mbid);
    if (!m)
        return nullptr;
    size_t last = m->bufsize - m->left;
    size_t total = (size_t)(m->nbufs - 1) * m->bufsize + last;
    char *text = (char *)malloc(total + 1);
    if (!text)
        return nullptr;
    char *at = text;
    for (int i = 0; i < m->nbufs - 1; i++, at += m->bufsize)
        memcpy(at, m->bufs[i], m->bufsize);
    memcpy(at, m->bufs[m->nbufs - 1], last);
    at[last] = '\0';
    return text;
}

/* ---- tree removal and checked seek ---- */

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
