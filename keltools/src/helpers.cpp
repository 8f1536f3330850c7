// helpers: permission strings, content measures, executable lookup, a
// permanent string store and integer powers.

#include "keltools.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

/*
 * Permission strings: the ten-character mode text of a long directory
 * listing ("drwxr-xr-x") and the classic 16-bit mode bits.
 */

// What each character may be at positions 1 to 9, and the bits it sets.
struct perm_char {
    char c;
    int bits;
};

static const perm_char perm_table[9][4] = {
    {{'r', 0x100}},
    {{'w', 0x80}},
    {{'S', 0x800}, {'s', 0x840}, {'x', 0x40}},
    {{'r', 0x20}},
    {{'w', 0x10}},
    {{'S', 0x400}, {'s', 0x408}, {'x', 0x08}},
    {{'r', 0x04}},
    {{'w', 0x02}},
    {{'T', 0}, {'t', 0x01}, {'x', 0x01}},
};

static int perm_type_bits(char c)
{
    switch (c) {
    case '-': return 0x8000;
    case 'b': return 0x3000;
    case 'c': return 0x2000;
    case 'd': return 0x4000;
    case 'l': return 0xA000;
    default: return -1;
    }
}

int perm_t2b(const char *s)
{
    if (strnlen(s, 10) < 10)
        return 0;
    int mode = perm_type_bits(s[0]);
    if (mode < 0)
        return 0;
    for (int pos = 1; pos < 10; pos++) {
        if (s[pos] == '-')
            continue;
        const perm_char *choice = perm_table[pos - 1];
        int k = 0;
        while (k < 4 && choice[k].c && choice[k].c != s[pos])
            k++;
        if (k == 4 || !choice[k].c)
            return 0;
        mode |= choice[k].bits;
    }
    return mode;
}

char *perm_b2t(int rights)
{
    static char text[10];
    memset(text, '-', 9);
    text[9] = '\0';
    static const struct {
        int pos, bit;
        char c;
    } marks[] = {
        {0, 0x100, 'r'}, {1, 0x80, 'w'}, {2, 0x40, 'x'}, {2, 0x800, 's'},
        {3, 0x20, 'r'},  {4, 0x10, 'w'}, {5, 0x08, 'x'}, {5, 0x400, 's'},
        {6, 0x04, 'r'},  {7, 0x02, 'w'}, {8, 0x01, 'x'},
    };
    for (const auto &m : marks)
        if (rights & m.bit)
            text[m.pos] = m.c;
    return text;
}

int is_unix_file_entry(const char *s)
{
    return strnlen(s, 11) == 11 && s[10] == ' ' && perm_t2b(s) != 0;
}

/*
 * Content measures: how far a block of bytes looks like text.  A trailing
 * run of NUL and 0x1A (end-of-file mark) bytes is padding and not measured.
 */

static int measured_length(const unsigned char *s, int nbytes)
{
    while (nbytes > 0 && (s[nbytes - 1] == '\0' || s[nbytes - 1] == 0x1A))
        nbytes--;
    return nbytes;
}

long double binchars(const void *block, int nbytes)
{
    const unsigned char *s = (const unsigned char *)block;
    int n = measured_length(s, nbytes);
    if (n <= 0)
        return 1;
    int suspicious = 0;
    for (int i = 0; i < n; i++) {
        unsigned char c = s[i];
        if (c == 0)
            suspicious++;
        else if (c <= 126 && !isalpha(c) && !isdigit(c) && !ispunct(c) && !isblank(c) && !isspace(c))
            suspicious++;
    }
    return (long double)suspicious / n;
}

long double nontextchars(const void *block, int nbytes)
{
    const unsigned char *s = (const unsigned char *)block;
    int n = measured_length(s, nbytes);
    if (n <= 0)
        return 1;
    int blanks = 0, nontext = 0;
    for (int i = 0; i < n; i++) {
        signed char c = (signed char)s[i];  // high bytes are negative
        if (c < 0 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            continue;
        if (isspace(c))
            blanks++;
        else
            nontext++;
    }
    if (blanks == n)
        return 1;
    return (long double)nontext / (n - blanks);
}

int print_binary(const void *block, int len)
{
    const unsigned char *s = (const unsigned char *)block;
    int result = len;
    for (int i = 0; i < len; i++) {
        unsigned char c = s[i];
        if (c >= 32 && (isalpha(c) || isdigit(c) || ispunct(c)))
            result = fputc(c, stdout);
        else
            result = printf("[%02x]", c);
    }
    return result;
}

void fprint_bits(FILE *fp, const void *block, int len)
{
    const unsigned char *s = (const unsigned char *)block;
    for (int i = 0; i < len; i++) {
        unsigned char c = s[i];
        char bits[10];
        for (int b = 0, at = 0; b < 8; b++) {
            if (b == 4)
                bits[at++] = '-';
            bits[at++] = (c & (0x80 >> b)) ? '1' : '0';
        }
        bits[9] = '\0';
        fprintf(fp, i ? " %s" : "%s", bits);
    }
}

/*
 * Executable lookup: argv[0] names the program either with a directory, or
 * bare, in which case it is in the current directory or in one of PATH's
 * directories, possibly with ".exe" added.
 */

static bool exists(const char *name)
{
    return access(name, 0) == 0;
}

// The directory part of a path that contains "/"; the root stays "/".
static char *directory_of(const char *path)
{
    const char *slash = strrchr(path, '/');
    return xnstrdup(path, slash == path ? 1 : (int)(slash - path));
}

// The first directory of the list that holds name, as a heap copy; null when none does.
static char *search_dirs(char **dirs, int ndirs, const char *name)
{
    for (int i = 0; i < ndirs; i++) {
        char *candidate = str_sjoin(dirs[i], name);
        bool found = candidate && exists(candidate);
        free(candidate);
        if (found)
            return xstrdup(dirs[i]);
    }
    return nullptr;
}

static char *search_path(const char *name)
{
    const char *path = getenv("PATH");
    if (!path)
        return nullptr;
    char *list = xstrdup(path);
    str_translate(list, '\\', '/');
    char sep = strchr(list, ';') ? ';' : strchr(list, ':') ? ':' : '\0';
    if (!sep) {
        free(list);
        return nullptr;
    }
    char **dirs;
    int ndirs = str_split(list, &dirs, sep);
    char *found = search_dirs(dirs, ndirs, name);
    if (!found) {
        char *base = xstrdup(name);
        char *with_exe = str_append(base, ".exe");
        if (!with_exe)
            free(base);
        else if (exists(with_exe))
            found = xstrdup(".");
        else
            found = search_dirs(dirs, ndirs, with_exe);
        free(with_exe);
    }
    free(dirs);
    free(list);
    return found;
}

char *locate_exec_path(const char *argv0)
{
    char *name = xstrdup(argv0);
    str_strip2(name, " \t\r\n");
    str_translate(name, '\\', '/');
    char *result;
    if (name[0] == '\0')  // would match every directory of the search path
        result = nullptr;
    else if (strchr(name, '/'))
        result = exists(name) ? directory_of(name) : nullptr;
    else if (exists(name))
        result = xstrdup(".");
    else
        result = search_path(name);
    free(name);
    return result;
}

/*
 * A permanent string store: copies go back to back into blocks of 256 KiB
 * (or of the string's own size when it is larger); a block that cannot take
 * the next string is abandoned, never freed.
 */

static char *store_pos, *store_end;
// Every block ever taken, so that they stay reachable (and leak checkers quiet).
static char **store_blocks;
static int store_nblocks, store_nblocks_a;

static void store_new_block(size_t size)
{
    if (store_nblocks == store_nblocks_a) {
        store_nblocks_a = store_nblocks_a ? 2 * store_nblocks_a : 16;
        store_blocks = (char **)xrealloc(store_blocks, store_nblocks_a * sizeof *store_blocks);
    }
    char *block = (char *)xmalloc(size);
    store_blocks[store_nblocks++] = block;
    store_pos = block;
    store_end = block + size;
}

char *chunk_add(const char *s)
{
    size_t len = strlen(s);
    if (!store_pos || (size_t)(store_end - store_pos) < len + 3)
        store_new_block(std::max((size_t)0x40000, len + 2));
    char *copy = store_pos;
    memcpy(copy, s, len + 1);
    store_pos += len + 1;
    return copy;
}

long double ipow(long double x, int pwr)
{
    long double result = 1;
    for (int i = 0; i < pwr; i++)
        result *= x;
    return result;
}
