// misc: diagnostics, digit grouping, numeric data files, ranges and small helpers.

#include "keltools.h"
#include "compat.h"
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <unistd.h>

/* ---- diagnostics ---- */

FILE *tools_debug = NULL;
int clock1_call_counter = 0;

namespace {

// Formatting below the scratch limit is never an error; a text of the limit
// or more stops the process, as a fixed-size scratch block could not hold it.
const size_t scratch_floor = 1048576;

// Writes one message to standard error when asked, then to fp when given.
void emit(bool to_stderr, FILE *fp, const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    if (to_stderr)
        vfprintf(stderr, format, args);
    if (fp != NULL)
        vfprintf(fp, format, copy);
    va_end(copy);
}

}  // namespace

#define EMIT(to_stderr, fp)                      \
    do {                                         \
        va_list args_;                           \
        va_start(args_, format);                 \
        emit((to_stderr), (fp), format, args_);  \
        va_end(args_);                           \
    } while (0)

void error1(const char *format, ...)
{
    EMIT(true, NULL);
    kt_compat::wait_if_own_console();
    exit(1);
}

void error2(FILE *fp, const char *format, ...)
{
    EMIT(false, fp);
    kt_compat::wait_if_own_console();
    exit(1);
}

void error3(FILE *fp, const char *format, ...)
{
    EMIT(true, fp);
    kt_compat::wait_if_own_console();
    exit(1);
}

void warning1(const char *format, ...)
{
    EMIT(true, NULL);
}

void warning2(FILE *fp, const char *format, ...)
{
    if (fp == NULL)
        return;
    EMIT(false, fp);
    fflush(fp);
}

void warning3(FILE *fp, const char *format, ...)
{
    if (fp == NULL)
        return;
    EMIT(true, fp);
    fflush(fp);
}

void debug_tools(const char *format, ...)
{
    if (tools_debug == NULL)
        return;
    EMIT(false, tools_debug);
    fflush(tools_debug);
}

// The length is measured first on a copy of the arguments, so nothing is ever
// stored past str[size-1]; no scratch block is needed.
int vsnprintf1(char *str, size_t size, const char *format, va_list args)
{
    size_t limit = size + 1 < scratch_floor ? scratch_floor : size + 1;
    va_list measure;
    va_copy(measure, args);
    int length = vsnprintf(NULL, 0, format, measure);
    va_end(measure);
    if (length < 0 || (size_t)length >= limit)
        error1("snprintf1() buffer overflow! format=%s\n", format);
    if (size > 0)
        vsnprintf(str, size, format, args);
    return length;
}

int snprintf1(char *str, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int length = vsnprintf1(str, size, format, args);
    va_end(args);
    return length;
}

double clock1(void)
{
    clock1_call_counter++;
    return (double)clock() / (double)CLOCKS_PER_SEC;
}

void sleep1(double intr)
{
    double target = clock1() + intr;
    while (clock1() <= target) {
    }
}

/* ---- digit grouping ---- */

namespace {

keltools_internal::ring_buffers<8, 27> comma_buffers;

// Writes the ndigits decimal digits of v (leading zeros included) into b,
// a comma after every digit whose remaining count is a positive multiple of
// three when grouped, then blanks the leading zeros and commas and puts a
// lone 0 back for zero.
char *build(unsigned long long v, int ndigits, bool grouped)
{
    char *b = comma_buffers.next();
    int width = grouped ? ndigits + (ndigits - 1) / 3 : ndigits;
    b[width] = '\0';
    int pos = width - 1;
    for (int k = 0; k < ndigits; k++) {
        if (grouped && k > 0 && k % 3 == 0)
            b[pos--] = ',';
        b[pos--] = (char)('0' + v % 10);
        v /= 10;
    }
    for (int i = 0; b[i] == '0' || b[i] == ','; i++)
        b[i] = ' ';
    if (b[width - 1] == ' ')
        b[width - 1] = '0';
    return b;
}

char *skip_blanks(char *s)
{
    while (*s == ' ')
        s++;
    return s;
}

}  // namespace

char *insert_commas(unsigned int number) { return build(number, 10, true); }
char *insert_commas2(unsigned int number) { return skip_blanks(insert_commas(number)); }
char *insert_commas3(long long number) { return build((unsigned long long)number, 20, true); }
char *insert_commas4(long long number) { return skip_blanks(insert_commas3(number)); }
char *insert_commas5(long long number) { return build((unsigned long long)number, 20, false); }
char *insert_commas6(long long number) { return skip_blanks(insert_commas5(number)); }

/* ---- numeric data, ranges, permission strings, content measures, executable lookup ---- */

/*
 * Numeric data files.  A data file holds one row of numbers per line; the
 * first data line with words sets the column count, and data lines with any
 * other count are skipped.  Every file read stays in a process-wide cache, so
 * asking for several of its columns parses it once.
 */

static const char dropped_marker[] = "dropped data file";

static datafile_cache_t *dc;
static int ndc, ndc_a;

int valid_dataline(const char *s)
{
    if (s[0] == '\0' || s[0] == '\n' || s[0] == '\r' || s[0] == '#')
        return 0;
    return s[strspn(s, "0123456789eEdE.+- \r\n\t")] == '\0';
}

// Reads one line of any length into *line (grown as needed); false at end of file.
static bool read_line(FILE *fp, char **line, size_t *room)
{
    return getline(line, room, fp) >= 0;
}

// A number of a data line; a Fortran exponent ("1.5d3") counts like "1.5e3".
static double data_word_value(char *word)
{
    char *d = strchr(word, 'd');
    if (d)
        *d = 'e';
    return atof(word);
}

// The blank-separated words of a line, cut in place; the caller frees the array.
static int line_words(char *line, char ***words)
{
    return str_words(line, words, 1);
}

static int count_columns(FILE *fp, char **line, size_t *room)
{
    while (read_line(fp, line, room)) {
        if (!valid_dataline(*line))
            continue;
        char **words;
        int n = line_words(*line, &words);
        free(words);
        if (n > 0)
            return n;
    }
    return 0;
}

static int read_rows(FILE *fp, int ncols, char **line, size_t *room, double ***rows)
{
    int nrec = 0, nrec_a = 1024;
    *rows = (double **)xmalloc(nrec_a * sizeof **rows);
    while (ncols > 0 && read_line(fp, line, room)) {
        if (!valid_dataline(*line))
            continue;
        char **words;
        int n = line_words(*line, &words);
        if (n == ncols) {
            if (nrec == nrec_a) {
                nrec_a *= 2;
                *rows = (double **)xrealloc(*rows, nrec_a * sizeof **rows);
            }
            double *row = (double *)xmalloc(ncols * sizeof *row);
            for (int i = 0; i < ncols; i++)
                row[i] = data_word_value(words[i]);
            (*rows)[nrec++] = row;
        }
        free(words);
    }
    return nrec;
}

static datafile_cache_t *find_cached(const char *fname)
{
    for (int i = 0; i < ndc; i++)
        if (strcmp(dc[i].fname, dropped_marker) != 0 && strcmp(dc[i].fname, fname) == 0)
            return &dc[i];
    return nullptr;
}

int read_datafile(const char *fname, double ***datafile, int *ncols)
{
    datafile_cache_t *entry = find_cached(fname);
    if (!entry) {
        if (ndc == ndc_a) {
            ndc_a = ndc_a ? 2 * ndc_a : 4;
            dc = (datafile_cache_t *)xrealloc(dc, ndc_a * sizeof *dc);
        }
        FILE *fp = fopen(fname, "r");
        if (!fp)
            return -1;
        char *line = nullptr;
        size_t room = 0;
        entry = &dc[ndc];
        entry->ncols = count_columns(fp, &line, &room);
        rewind(fp);
        entry->nrec = read_rows(fp, entry->ncols, &line, &room, &entry->data);
        free(line);
        fclose(fp);
        entry->fname = xstrdup(fname);
        ndc++;
    }
    *datafile = entry->data;
    *ncols = entry->ncols;
    return entry->nrec;
}

int read_column(const char *fname, int ncol, double **data)
{
    double **rows;
    int ncols;
    int nrec = read_datafile(fname, &rows, &ncols);
    if (nrec < 0)
        return -1;
    if (ncol < 1 || ncol > ncols)
        return -2;
    double *column = (double *)xmalloc(nrec * sizeof *column);
    for (int i = 0; i < nrec; i++)
        column[i] = rows[i][ncol - 1];
    *data = column;
    return nrec;
}

int read_one_column(const char *arg, double **data)
{
    char *spec = xstrdup(arg);
    char *colon = strchr(spec, ':');
    if (!colon || colon == spec || colon[1] == '\0') {
        free(spec);
        warning1("invalid file:column specification '%s'\n", arg);
        return -1;
    }
    *colon = '\0';
    int nrec = read_column(spec, atoi(colon + 1), data);
    free(spec);
    return nrec;
}

static void free_fields(char **fields, int n)
{
    for (int i = 0; i < n; i++)
        free(fields[i]);
    free(fields);
}

int read_n_columns(char *arg, int *n, double ***data)
{
    char **fields;
    int nf = str_parseline(arg, &fields, ':');
    if (nf < 2) {
        free_fields(fields, nf);
        *n = nf;
        *data = nullptr;
        warning1("invalid file:column1[:column2[:...]] specification '%s'\n", arg);
        return -1;
    }
    *n = nf - 1;
    double **columns = (double **)xmalloc(*n * sizeof *columns);
    int nrec = 0;
    for (int i = 0; i < *n; i++) {
        columns[i] = nullptr;
        int rows = read_column(fields[0], atoi(fields[i + 1]), &columns[i]);
        if (i > 0 && rows != nrec)
            error1("different number of rows for different columns\n");
        nrec = rows;
    }
    free_fields(fields, nf);
    *data = columns;
    return nrec;
}

int read_two_columns(char *arg, double **data1, double **data2)
{
    int n;
    double **columns;
    int nrec = read_n_columns(arg, &n, &columns);
    if (n != 2)
        error1("number of columns in '%s' is not 2\n", arg);
    *data1 = columns[0];
    *data2 = columns[1];
    free(columns);
    return nrec;
}

void drop_datafile(const char *fname)
{
    if (strcmp(fname, dropped_marker) == 0)
        return;
    for (int i = 0; i < ndc; i++) {
        datafile_cache_t *entry = &dc[i];
        if (strcmp(entry->fname, fname) != 0)
            continue;
        free(entry->fname);
        entry->fname = xstrdup(dropped_marker);
        for (int r = 0; r < entry->nrec; r++)
            free(entry->data[r]);
        free(entry->data);
        entry->data = nullptr;
        entry->nrec = 0;
        entry->ncols = 0;
    }
}

// The line through points a and b of the table, evaluated at x.
static double line_through(const double *x1, const double *y1, int a, int b, double x)
{
    long double slope = ((long double)y1[b] - y1[a]) / ((long double)x1[b] - x1[a]);
    return (double)(y1[a] + slope * ((long double)x - x1[a]));
}

int interpolate_l(const double *x1, const double *y1, int n1, const double *x2, double *y2, int n2)
{
    if (n1 <= 0 || n2 <= 0)
        error1("n1=%d or n2=%d are invalid\n", n1, n2);
    for (int i = 0; i < n2; i++) {
        double x = x2[i];
        int left = 0, right = 0;
        switch (bracket(&x, x1, n1, sizeof *x1, cmp_doubles, &left, &right)) {
        case 1:
            y2[i] = y1[left];
            break;
        case 0:
            y2[i] = line_through(x1, y1, left, right, x);
            break;
        case -1:  // before the table: along its first segment
            y2[i] = n1 > 1 ? line_through(x1, y1, 0, 1, x) : y1[0];
            break;
        case -2:  // after the table: along its last segment
            y2[i] = n1 > 1 ? line_through(x1, y1, n1 - 2, n1 - 1, x) : y1[0];
            break;
        default:
            error1("x1 is empty\n");
        }
    }
    return 0;
}

/*
 * Integer ranges.  A set is a list of closed ranges sorted by start; the
 * union sorts both lists together and joins neighbours, the intersection
 * walks the smaller set and finds the candidates in the larger by bisection.
 * Sets that are not sorted give wrong answers but never reach outside the
 * arrays.
 */

int cmp_range(const void *e1, const void *e2)
{
    int a = ((const id_range_t *)e1)->s_id;
    int b = ((const id_range_t *)e2)->s_id;
    return (a > b) - (a < b);
}

int merge_ranges(int nr, id_range_t *ir)
{
    if (nr <= 0)
        return 0;
    int j = 0;
    for (int i = 1; i < nr; i++) {
        if ((long long)ir[i].s_id > (long long)ir[j].e_id + 1)
            ir[++j] = ir[i];
        else if (ir[i].e_id > ir[j].e_id)
            ir[j].e_id = ir[i].e_id;
    }
    return j + 1;
}

static int range_count(const rangeset_t *set)
{
    return set->nr > 0 && set->ir ? set->nr : 0;
}

static void set_empty(rangeset_t *out)
{
    out->nr = 0;
    out->ir = nullptr;
}

int ranges_merge(const rangeset_t *in1, const rangeset_t *in2, rangeset_t *out)
{
    int n1 = range_count(in1), n2 = range_count(in2);
    if (n1 + n2 == 0) {
        set_empty(out);
        return 0;
    }
    id_range_t *all = (id_range_t *)malloc((size_t)(n1 + n2) * sizeof *all);
    if (!all)
        return -1;
    std::copy_n(in1->ir, n1, all);
    std::copy_n(in2->ir, n2, all + n1);
    qsort(all, n1 + n2, sizeof *all, cmp_range);
    out->nr = merge_ranges(n1 + n2, all);
    out->ir = all;
    return 0;
}

// Growing output of ranges_intersect.
struct range_list {
    id_range_t *ir;
    int nr, nr_a;
};

static bool range_list_add(range_list *list, int s, int e)
{
    if (list->nr == list->nr_a) {
        id_range_t *grown = (id_range_t *)realloc(list->ir, 2 * (size_t)list->nr_a * sizeof *grown);
        if (!grown)
            return false;
        list->ir = grown;
        list->nr_a *= 2;
    }
    list->ir[list->nr].s_id = s;
    list->ir[list->nr].e_id = e;
    list->nr++;
    return true;
}

// Where the identifier id falls among the starts of the sorted ranges.
static int locate_start(const id_range_t *ir, int nr, int id, int *left, int *right)
{
    id_range_t key = {id, id};
    return bracket(&key, ir, nr, sizeof *ir, cmp_range, left, right);
}

int ranges_intersect(const rangeset_t *in1, const rangeset_t *in2, rangeset_t *out)
{
    int n1 = range_count(in1), n2 = range_count(in2);
    if (n1 == 0 || n2 == 0) {
        set_empty(out);
        return 0;
    }
    const rangeset_t *walked = n1 <= n2 ? in1 : in2;
    const rangeset_t *searched = n1 <= n2 ? in2 : in1;
    int nw = std::min(n1, n2), ns = std::max(n1, n2);
    const id_range_t *big = searched->ir;

    range_list list = {(id_range_t *)malloc((size_t)ns * sizeof(id_range_t)), 0, ns};
    if (!list.ir)
        return -1;
    for (int i = 0; i < nw; i++) {
        int s = walked->ir[i].s_id, e = walked->ir[i].e_id;
        int left, right, first, last;

        int found = locate_start(big, ns, s, &left, &right);
        first = found == -1 ? 0 : found == -2 ? ns - 1 : left;

        found = locate_start(big, ns, e, &left, &right);
        if (found == -1)
            continue;
        last = found == -2 ? ns - 1 : found == 1 ? right : std::max(right - 1, 0);

        if (last < first) {
            warning1("warning: left (%d) > right (%d)\n", first, last);
            continue;
        }
        for (int k = first; k <= last; k++) {
            int lo = std::max(s, big[k].s_id), hi = std::min(e, big[k].e_id);
            if (lo <= hi && !range_list_add(&list, lo, hi)) {
                free(list.ir);
                return -1;
            }
        }
    }
    if (list.nr == 0) {
        free(list.ir);
        set_empty(out);
        return 0;
    }
    id_range_t *shrunk = (id_range_t *)realloc(list.ir, (size_t)list.nr * sizeof *shrunk);
    out->ir = shrunk ? shrunk : list.ir;
    out->nr = list.nr;
    return 0;
}

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
