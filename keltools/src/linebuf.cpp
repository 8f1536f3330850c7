// linebuf: a line reader over a stream with a growing buffer of its own.

#include "compat.h"
#include "keltools.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/*
 * The line reader keeps nb valid bytes in buf and hands out lines from
 * offset ns by overwriting their line feeds.  When no line feed is left it
 * moves the unread tail to the front and refills behind it, or, when one
 * line fills the whole buffer, doubles the buffer.  A short read marks the
 * end of the stream (nb < msize), after which lines come from memory only.
 */
int linebuf_init(linebuf_t *lb, FILE *fp, int msize)
{
    lb->fp = fp;
    lb->msize = msize;
    lb->nb = lb->ns = 0;
    lb->buf = msize > 0 ? (char *)malloc((size_t)msize) : NULL;
    if (lb->buf == NULL) return -1;
    kt_compat::prefer_large_pages(lb->buf, (size_t)msize);
    lb->nb = (int)fread(lb->buf, 1, (size_t)msize, fp);
    if (lb->nb == 0) {
        free(lb->buf);
        lb->buf = NULL;
        return 1;
    }
    if (lb->nb < msize) {
        fclose(fp);
        lb->fp = NULL;
    }
    return 0;
}

static int linebuf_refill(linebuf_t *lb)
{
    int rest = lb->nb - lb->ns;
    memmove(lb->buf, lb->buf + lb->ns, (size_t)rest);
    lb->nb = rest + (int)fread(lb->buf + rest, 1, (size_t)(lb->msize - rest), lb->fp);
    lb->ns = 0;
    return 0;
}

static int linebuf_grow(linebuf_t *lb)
{
    if (lb->msize > INT_MAX / 2) return -1;
    int old = lb->msize;
    char *bigger = (char *)realloc(lb->buf, (size_t)old * 2);
    if (bigger == NULL) return -1;
    lb->buf = bigger;
    lb->msize = old * 2;
    lb->nb += (int)fread(lb->buf + lb->nb, 1, (size_t)old, lb->fp);
    return 0;
}

int linebuf_nextline(linebuf_t *lb, char **s)
{
    for (;;) {
        char *start = lb->buf + lb->ns;
        char *lf = (char *)memchr(start, '\n', (size_t)(lb->nb - lb->ns));
        if (lf != NULL) {
            *lf = '\0';
            *s = start;
            lb->ns = (int)(lf - lb->buf) + 1;
            return 0;
        }
        if (lb->nb < lb->msize) {
            if (lb->ns == lb->nb) return 1;
            lb->buf[lb->nb] = '\0';
            *s = start;
            lb->ns = lb->nb;
            return 0;
        }
        if (lb->ns > 0) linebuf_refill(lb);
        else if (linebuf_grow(lb) != 0) return -1;
    }
}

int linebuf_close(linebuf_t *lb)
{
    if (lb->fp != NULL) fclose(lb->fp);
    lb->fp = NULL;
    free(lb->buf);
    lb->buf = NULL;
    return 0;
}
