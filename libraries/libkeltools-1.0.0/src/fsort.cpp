// fsort: array de-duplication and sorting of arrays and files.

#include "keltools.h"

#include <cstring>

/* ---- array de-duplication ---- */

int uniq(void *array, size_t nmemb, size_t size, int (*compare)(const void *, const void *))
{
    if (nmemb < 2)
        return (int)nmemb;
    char *base = (char *)array;
    size_t trg = 1;
    for (size_t src = 1; src < nmemb; src++) {
        if (compare(base + src * size, base + (trg - 1) * size) == 0)
            continue;
        if (src != trg)
            memcpy(base + trg * size, base + src * size, size);
        trg++;
    }
    return (int)trg;
}

/* ---- line reader, file sorts and array sort helpers ---- */


