// datafile: numeric data files, read into a process-wide cache, and linear
// interpolation in a table of values.

#include "compat.h"
#include "keltools.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
