// chunk_membuf: memory chunk sets, which hand out blocks freed all at once,
// and the numbered text buffers that grow as text is appended.

#include "keltools.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

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
