/*
 * keltools.h - the one public header of libkeltools.
 *
 * Usable from C and from C++.  Every function that takes a file or directory
 * name as a printf-style format builds it into a buffer of 260 bytes: a name
 * keeps at most 259 characters, a longer one is cut silently.
 *
 * Failure policy, by prefix: an x-function either succeeds or prints one line
 * on standard error and ends the process with exit status 1; callers never
 * test its result.  Text returned in static storage is overwritten by later
 * calls; heap results belong to the caller, who releases them with free().
 */
#ifndef KELTOOLS_H
#define KELTOOLS_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/types.h> /* off_t, also for strict ISO C programs */
#include <time.h>

/* The library is built with a 64-bit off_t (xlseek takes one).  Where a plain
   build would see a narrower off_t, as on 32-bit systems and on Windows, compile
   with -D_FILE_OFFSET_BITS=64; the CMake target and pkg-config pass it on. */
typedef char keltools_needs_FILE_OFFSET_BITS_64[sizeof(off_t) == 8 ? 1 : -1];

#if defined(__GNUC__)
#define KT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#define KT_NORETURN __attribute__((noreturn))
#else
#define KT_PRINTF(fmt, args)
#define KT_NORETURN
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ==== Diagnostics (diagnostics) ==== */

/* When non-null, debug_tools() writes here; nothing in the library sets it. */
extern FILE *tools_debug;
/* Raised by one on every clock1() call. */
extern int clock1_call_counter;

/* Print to standard error (1), to fp (2) or to both, standard error first (3),
 * then exit(1).  Nothing is added to the message. */
void error1(const char *format, ...) KT_PRINTF(1, 2) KT_NORETURN;
void error2(FILE *fp, const char *format, ...) KT_PRINTF(2, 3) KT_NORETURN;
void error3(FILE *fp, const char *format, ...) KT_PRINTF(2, 3) KT_NORETURN;
/* Print to standard error and return. */
void warning1(const char *format, ...) KT_PRINTF(1, 2);
/* Print to fp and flush it; nothing when fp is null. */
void warning2(FILE *fp, const char *format, ...) KT_PRINTF(2, 3);
/* Print to standard error, then to fp, and flush fp; nothing at all when fp is null. */
void warning3(FILE *fp, const char *format, ...) KT_PRINTF(2, 3);
/* Print to tools_debug and flush it when it is non-null. */
void debug_tools(const char *format, ...) KT_PRINTF(1, 2);

/* Bounded formatting: stores at most size bytes (size-1 characters and a NUL)
 * and returns the full length of the text.  A text of max(size+1, 2^20)
 * characters or more stops the process with
 * "snprintf1() buffer overflow! format=%s\n". */
int vsnprintf1(char *str, size_t size, const char *format, va_list args);
int snprintf1(char *str, size_t size, const char *format, ...) KT_PRINTF(3, 4);

/* The process clock in seconds (counts in clock1_call_counter). */
double clock1(void);
/* Busy-waits until clock1() passes its starting reading plus intr. */
void sleep1(double intr);

/* ==== end of Diagnostics ==== */

/* ==== Checked file and memory operations (xfunc) ==== */

/* Open for writing without translation, created or truncated, mode 0666;
 * stops with "cannot create/truncate %s\n". */
int xcreate(const char *format, ...) KT_PRINTF(1, 2);
/* Open read-only without translation; stops with "cannot open %s\n". */
int xopen(const char *format, ...) KT_PRINTF(1, 2);
/* The name is built from format and the arguments after mode; stops with
 * "cannot open %s in mode \"%s\" (%s)\n". */
FILE *xfopen(const char *format, const char *mode, ...) KT_PRINTF(1, 3);
/* Closes the stream; returns 0.  A failed close, or a write that failed on the
 * stream earlier, stops with "cannot close file stream (%s)\n". */
int xfclose(FILE *fp);
/* Writes nb bytes or stops; returns nb. */
int xfwrite(const void *buffer, int nb, FILE *fp);
/* Reads up to nb bytes; returns the count read (short at end of file). */
int xfread(void *buffer, int nb, FILE *fp);
/* Write or read exactly size bytes, or stop with "error writing %d bytes\n" or
 * "error reading %d bytes\n" (an early end of file too); return 0.  Short
 * counts are continued and calls interrupted by a signal made again. */
int xwrite(int fd, const void *buffer, int size);
int xread(int fd, void *buffer, int size);
/* String record: 32-bit length l, then l bytes and a NUL when l > 0.
 * A null or empty string is the 4-byte zero alone. */
int xwrite_str(int fd, const char *s);
/* String-array record: 32-bit count n, then n string records. */
int xwrite_str_array(int fd, char **s, int n);
/* Reads one string record into a new heap string (empty for length 0).
 * A negative length in the record reads as an empty string. */
char *xread_str(int fd);
/* Reads one string-array record into a new heap array of new heap strings,
 * stored in *s; returns the count.  A negative count reads as 0 strings
 * (*s gets an empty heap block). */
int xread_str_array(int fd, char ***s);
/* Checked heap: stop with "not enough memory; malloc(N) failed\n" and friends,
 * N the whole size asked for. */
void *xmalloc(size_t n);
/* n 0 frees ptr and returns null; ptr null allocates. */
void *xrealloc(void *ptr, size_t n);
void xfree(void *ptr);
char *xstrdup(const char *str);
/* Copies exactly len bytes (NULs included) into a new block of len+1 and terminates it. */
char *xnstrdup(const char *str, int len);
/* Delete a file; stops with "cannot delete %s\n". */
int xunlink(const char *format, ...) KT_PRINTF(1, 2);
/* Delete a file without any check; the platform's result. */
int yunlink(const char *format, ...) KT_PRINTF(1, 2);
/* Create one directory level unless the name exists;
 * stops with "cannot create directory %s (%s)\n". */
int xmkdir(const char *format, ...) KT_PRINTF(1, 2);
/* Memory mapping is not supported: always stops with "mmap is not supported\n". */
void *xmmap(unsigned long *len, const char *format, ...) KT_PRINTF(2, 3) KT_NORETURN;
void xmunmap(void *addr, unsigned long len);
/* Opens the null device on each closed descriptor 0, 1, 2; stops with "cannot open %s (%s)\n". */
void xopen_std_fds(void);

/* ==== end of Checked file and memory operations ==== */

/* ==== Whole-file loading (file_ops) ==== */

/* Loads the file whole into a new heap block of length+2 bytes, NUL after the
 * data, stored in *p.  Returns the length; 0 for an empty file (*p untouched,
 * nothing allocated); -1 on failure (nothing to free), without a message.
 * Only a block the heap refuses stops the process, as xmalloc does. */
long load_file(const char *filename, char **p);
/* Length of the open file; the position is left where it was. */
unsigned long file_length(int fd);
/* Size of the named file, -1 when it cannot be examined. */
long long f_length(const char *fname);

/* ==== end of Whole-file loading ==== */

/* ==== Wildcard matching (fnmatch) ==== */

#define FNMATCH1_NOMATCH     1
#define FNMATCH1_NOESCAPE    0x01
#define FNMATCH1_PATHNAME    0x02
#define FNMATCH1_PERIOD      0x04
#define FNMATCH1_LEADING_DIR 0x08
#define FNMATCH1_CASEFOLD    0x10

/* Shell wildcard match of string against pattern: 0 on a match, FNMATCH1_NOMATCH otherwise. */
int fnmatch1(const char *pattern, const char *string, int flags);

/* ==== end of Wildcard matching ==== */

/* ==== 64-bit integer parsing (strtoq) ==== */

/* As strtoll, but saturates without touching errno, and "0x" with no hex
 * digit after it is no number at all (*endptr = nptr). */
long long strtoq1(const char *nptr, char **endptr, int base);

/* ==== end of 64-bit integer parsing ==== */

/* ==== Digit grouping (digits) ==== */

/* Decimal text in a ring of 8 static buffers (valid for the next 7 calls of
 * the family).  insert_commas: 32-bit, grouped with commas, right-aligned in
 * 13 characters; insert_commas3: 64-bit read as unsigned, grouped, 26
 * characters; insert_commas5: 64-bit, plain, 20 characters.  The even members
 * return the same text without its leading blanks. */
char *insert_commas(unsigned int number);
char *insert_commas2(unsigned int number);
char *insert_commas3(long long number);
char *insert_commas4(long long number);
char *insert_commas5(long long number);
char *insert_commas6(long long number);

/* ==== end of Digit grouping ==== */

/* ==== Timestamp (datetime) ==== */

/* The current local time as "DD/MM/YYYY hh:mm:ss" in a static buffer
 * (empty when the conversion fails); valid until the next call. */
char *datetime(void);

/* ==== end of Timestamp ==== */

/* ==== Array de-duplication (array_sort) ==== */

/* Removes adjacent duplicates in place, keeping the first of each run;
 * returns the number kept.  compare is called exactly nmemb-1 times. */
int uniq(void *array, size_t nmemb, size_t size, int (*compare)(const void *, const void *));
/* As uniq, but the repeats are moved behind the kept records (in batches of
 * at most 16 MB), so the array stays a permutation; returns the number kept. */
int uniq2(void *array, size_t nmemb, size_t size, int (*compare)(const void *, const void *));

/* ==== end of Array de-duplication ==== */

/* ==== Sorting of arrays and files (array_sort, linebuf, text_sort, record_sort) ==== */

/* Line reader over an open stream: lines are cut in place in buf, which
 * starts at the caller's size and doubles for a line that does not fit. */
typedef struct {
    FILE *fp;   /* the stream; null once it has been read whole and closed */
    int msize;  /* size of buf */
    int nb;     /* valid bytes in buf; below msize once the stream has ended */
    int ns;     /* offset of the next line not yet handed out */
    char *buf;  /* owned by the reader */
} linebuf_t;

/* 0: ready; 1: the stream is empty; -1: no memory.  On 1 and -1 nothing is
 * held and the stream is still the caller's (do not call linebuf_close).
 * A stream shorter than msize is read whole and closed at once. */
int linebuf_init(linebuf_t *lb, FILE *fp, int msize);
/* 0: *s is the next line without its line feed, valid until the next call on
 * lb; 1: no more lines; -1: the buffer cannot grow (only linebuf_close may follow). */
int linebuf_nextline(linebuf_t *lb, char **s);
/* Closes the stream if still open and releases the buffer; returns 0. */
int linebuf_close(linebuf_t *lb);

/* Sorts the lines of fn1 into fn2 (which may be the same file) holding at most
 * msize bytes of lines in memory; sorted chunks go to temp_path as
 * "sortfile.<pid>.<i>" and are merged.  compare gets pointers to line pointers
 * (cmp_str, cmp_strlen), which see a line up to its first NUL; lines are written
 * whole.  Every output line ends in a line feed, a last input line without one
 * included.  An fn2 that is fn1 is written over only from a complete sorted
 * copy, keeps its owner (or loses its set-id bits), and a link there stays a
 * link.  Returns 0, or -1 after a warning on standard error; a failure leaves
 * no chunk file and fn1 as it was, but for a failed copy over fn1, whose
 * complete sorted copy stays in temp_path and is named in the warning.
 * Under cmp_str the chunks are cut, and merged into a regular file, on two
 * threads where the machine has two processors (the environment variable
 * KELTOOLS_SORT_THREADS=1 keeps the sorts to one); the result is the same. */
int sortfile(const char *fn1, const char *fn2, int (*compare)(const void *, const void *),
             int msize, const char *temp_path);

/* Sorts nmemb records of size bytes from the current position of fh_in to the
 * current position of fh_out within a work area of msize bytes; runs go to
 * tmp_path as "<pid>-<i>" and are removed.  sort1 sorts in memory (qsort fits).
 * Runs are merged in passes of as many as the work area and the descriptor
 * limit allow.  Returns 0; -1 (nothing read) when the input does not fit in
 * msize and msize holds fewer than 2 records.  Failures end the process after removing the run files.
 * On a machine with several processors (unless KELTOOLS_SORT_THREADS=1) two
 * threads share the work, within the same msize and with the same output:
 * compar and sort1 may then run on both at once, so they must keep no state
 * and compar must order records the same way at every call.  A chunk of a
 * regular input file may then be read twice; fh_in ends where it would. */
int fsort(int fh_in, int fh_out, int nmemb, int size, int (*compar)(const void *, const void *),
          void (*sort1)(void *, size_t, size_t, int (*)(const void *, const void *)),
          int msize, const char *tmp_path);
/* The earlier form of fsort, merging one record per run at a time; same
 * contract, threads included. */
int fsort_old(int fh_in, int fh_out, int nmemb, int size, int (*compar)(const void *, const void *),
              void (*sort1)(void *, size_t, size_t, int (*)(const void *, const void *)),
              int msize, const char *tmp_path);
/* Copies nmemb records from fh_in to fh_out, dropping records equal to the last
 * one written; returns the number written. */
int funiq(int fh_in, int fh_out, int nmemb, int size, int (*compar)(const void *, const void *));
/* Combines n sorted arrays into a new heap array stored in *result (the
 * caller frees it): op 1 their intersection (0 and *result untouched when any
 * array is empty or n < 1), op 2 their union without repeats (n < 0 counts as
 * no array).  Returns the number of records, -1 when op is neither 1 nor 2. */
int merge(int op, int n, void *const *bases, const int *nmembs, int size, void **result,
          int (*compar)(const void *, const void *));

/* Partial sorts: the limit smallest records, ascending, at the front (equal
 * records in input order); returns their count.  limit <= 0 or >= nmemb sorts
 * the whole array and returns nmemb.  Records pushed out of the front are lost.
 * pusort keeps only distinct records and may return fewer than limit. */
int psort(void *array, size_t nmemb, size_t size, int limit, int (*compare)(const void *, const void *));
int pusort(void *array, size_t nmemb, size_t size, int limit, int (*compare)(const void *, const void *));
/* As psort, through a bounded heap when nmemb >= 100 and limit < nmemb/3;
 * otherwise sorts all and returns min(limit, nmemb).  limit < 1 sorts all and
 * returns nmemb.  Uses accumulate: one such sort at a time per process. */
int psort1(void *array, size_t nmemb, size_t size, int limit, int (*compare)(const void *, const void *));
/* Offers elem to a heap of at most max_nmemb records kept in array with the
 * largest under compare first; *nmemb is its count.  1 if taken, 0 if not. */
int accumulate(void *array, const void *elem, size_t size, int *nmemb, int max_nmemb,
               int (*compare)(const void *, const void *));
/* Moves record number element of the heap at root up while cmp puts it
 * before its parent; returns the slot where it stopped. */
void *heap_siftup(void *root, int element, size_t size, int (*cmp)(const void *, const void *));
/* Moves the record at element down towards endel (the heap's last record);
 * diff is the byte distance to its left child ((index+1)*size).  Returns the
 * slot where it stopped. */
void *heap_siftdown(void *element, void *endel, size_t size, size_t diff,
                    int (*cmp)(const void *, const void *));

/* Comparison functions in the qsort convention.  cmp_str and cmp_strlen take
 * pointers to string pointers (as qsort passes for an array of char *);
 * cmp_strlen puts longer strings first and equal lengths in strcmp order.
 * cmp_integers and cmp_absintegers compare ints (the latter by exact absolute
 * value, so INT_MIN sorts last); cmp_unsigned_integers compares unsigned ints;
 * cmp_doubles compares doubles and calls a pair with a NaN equal.  The
 * numeric ones return -1, 0 or 1. */
int cmp_str(const void *a, const void *b);
int cmp_strlen(const void *a, const void *b);
int cmp_integers(const void *a, const void *b);
int cmp_absintegers(const void *a, const void *b);
int cmp_unsigned_integers(const void *a, const void *b);
int cmp_doubles(const void *a, const void *b);

/* Binary search of key in an array sorted under compare, called as
 * compare(record, key).  Returns 1 when found (*left, *right: first and last
 * equal record), 0 when not found but inside the range (*left, *right =
 * *left+1: the neighbours), -1 when key sorts before every record, -2 after
 * every record, -3 for an empty array; *left and *right are set on 1 and 0 only. */
int bracket(const void *key, const void *array, size_t nmemb, size_t size,
            int (*compare)(const void *, const void *), int *left, int *right);

/* ==== end of Sorting of arrays and files ==== */

/* ==== Date and time (datetime) ==== */

/* The calendar time of date text ds in layout fmt (1-10), read as UTC; ts,
 * when non-null, is a time of day replacing the date's.  A text that does not
 * fit its layout leaves 1 January of the current year; 0 for a date before
 * 1970 or one that cannot be represented. */
time_t parse_date_time(int fmt, const char *ds, const char *ts);
/* Month 0-11 named by the first three letters of an English month name (any
 * case); 0 when none matches. */
int txt2mon(const char *m);
/* A duration in seconds right-aligned as "hhh:mm:ss" (capped at 999:59:59) in
 * a static buffer, valid until the next call. */
char *make_time(unsigned long time);

/* strptime-style parse of buf under fmt, with English names only, into the
 * fields of *tm that the format names.  Returns where parsing stopped in buf,
 * or null when the text does not match. */
char *str_ptime(const char *buf, const char *fmt, struct tm *tm);

/* The calendar time of the fields of *gmtimein read as UTC, out-of-range
 * fields carried over; 0 when it cannot be represented. */
time_t timegm1(const struct tm *gmtimein);
/* Days from 1 January 1970 to the given day of the proleptic Gregorian
 * calendar (negative before it); months and days out of range carry over
 * (month 13 is January of the next year, day 0 the last of the month before). */
long long civil_days(long long year, long long month, long long day);
/* t1 moved by the local offset from UTC at that moment (the local wall-clock
 * time written as UTC); 0 for t1 <= 0. */
time_t gm2local(time_t t1);
/* The reverse move of gm2local, with the offset taken at t1; 0 for t1 = 0. */
time_t local2gm(time_t t1);
/* The calendar time of an HTTP date text in any of its three forms; 0 when
 * none matches or the text yields a time before 1970. */
time_t http_getdate(const char *datestring);
/* "DD/MM/YYYY hh:mm:ss", "DD/MM/YYYY" (both UTC) and a duration in units
 * ("1d 1h 1m"), each in one of 8 static buffers taken in turn by the three
 * functions: valid through the next seven calls. */
char *pretty_date(time_t t);
char *pretty_dateonly(time_t t);
char *pretty_difftime(time_t t);

/* ==== end of Date and time ==== */

/* ==== Memory chunk sets and text buffers (chunk_membuf) ==== */

/* An append-only arena: blocks are carved back to back (no alignment, no
 * header) out of large chunks and are all released together by chunk_free. */
typedef struct {
    int nchunks;      /* chunks allocated so far */
    int nchunks_a;    /* capacity of chunks, in entries */
    char **chunks;    /* the chunks, owned by the set */
    int init_size;    /* size of an ordinary chunk */
    int bytes_used;   /* bytes handed out from the newest chunk */
    int bytes_left;   /* bytes still free at the end of the newest chunk */
} chunk_set_t;

/* A new, empty set (a chunk_set_t) with ordinary chunks of fragm_size bytes,
 * 1,048,576 when fragm_size <= 0.  Release it with chunk_free. */
void *chunk_new(int fragm_size);
/* len fresh, uninitialised bytes inside the set, valid until chunk_free;
 * len <= 0 stops with "attempt to allocate %d bytes in the memory chunk set\n". */
void *chunk_alloc(void *p, int len);
/* A copy of len bytes of data inside the set; a negative len copies the
 * NUL-terminated string data with its NUL.  len 0 stops with
 * "attempt to store 0 bytes in the memory chunk set\n". */
char *chunk_put(void *p, const void *data, int len);
/* Releases every chunk and the set; every block handed out becomes invalid. */
void chunk_free(void *p);

/* One text buffer slot: text kept in pieces of bufsize bytes, without terminators. */
typedef struct {
    int opened;       /* 1 while the slot is in use */
    int bufsize;      /* size of every piece */
    int nbufs;        /* pieces allocated */
    int nbufs_a;      /* capacity of bufs, in entries */
    char **bufs;      /* the pieces, every one full but the last */
    int left;         /* bytes still free at the end of the last piece */
} membuf_t;

/* Opens the lowest free of the four text buffer slots with pieces of nb bytes
 * (1,048,576 when nb <= 0); returns its id 0..3, or -1 when all four are open.
 * The other membuf_ calls return -1 (or null) for an id that is not open. */
int membuf_create(int nb);
/* Frees the buffer's text and frees the slot; returns 0. */
int membuf_close(int mbid);
/* Appends the string s without its NUL; returns 0. */
int membuf_put(int mbid, const char *s);
/* Appends printf-style output of any length; returns 0, or -1 (nothing
 * appended) when the format cannot be expanded. */
int membuf_printf(int mbid, const char *fmt, ...) KT_PRINTF(2, 3);
/* Writes the whole text to fd (xwrite, one call per piece); returns 0.
 * The buffer stays as it was. */
int membuf_write(int mbid, int fd);
/* The whole text as a new NUL-terminated heap string for the caller to free;
 * null also when memory runs out.  The buffer stays as it was. */
char *membuf_accumulate(int mbid);

/* ==== end of Memory chunk sets and text buffers ==== */

/* ==== Numeric data, ranges and small helpers (datafile, ranges, helpers) ==== */

/* One data file read into memory; the cache owns the name and the numbers. */
typedef struct {
    char *fname;      /* the name read, or "dropped data file" once dropped */
    double **data;    /* nrec rows of ncols numbers */
    int ncols;
    int nrec;
} datafile_cache_t;

/* Non-zero when s is a data line: not empty, not starting with "#", CR or LF,
 * and made only of digits, "eEd.+-", blanks, tabs, CR and LF. */
int valid_dataline(const char *s);
/* Reads a data file, or finds it in the process-wide cache; returns the number
 * of rows, -1 when the file cannot be opened.  *datafile gets the rows and
 * *ncols the column count; both stay owned by the cache. */
int read_datafile(const char *fname, double ***datafile, int *ncols);
/* Column ncol (from 1) of a data file as a new heap array in *data; returns
 * the number of rows, -1 when the file cannot be read, -2 for a bad ncol. */
int read_column(const char *fname, int ncol, double **data);
/* As read_column for "file:column"; a malformed arg gives a warning and -1. */
int read_one_column(const char *arg, double **data);
/* Columns of "file:col1[:col2...]": *n gets the column count, *data a new
 * heap array of *n new column arrays (null for a column that failed).  arg is
 * cut at its colons.  Returns the row count; a malformed arg gives a warning
 * and -1.  Columns of different lengths stop the process. */
int read_n_columns(char *arg, int *n, double ***data);
/* read_n_columns for exactly two columns, into *data1 and *data2; any other
 * column count stops the process. */
int read_two_columns(char *arg, double **data1, double **data2);
/* Frees the cached numbers of fname; a later read goes to the file again. */
void drop_datafile(const char *fname);
/* y2[i] = the piecewise-linear function through (x1[j], y1[j]) at x2[i],
 * extrapolated along the outermost segments; x1 ascending.  Returns 0. */
int interpolate_l(const double *x1, const double *y1, int n1,
                  const double *x2, double *y2, int n2);

/* A closed range of identifiers, s_id <= e_id. */
typedef struct {
    int s_id;
    int e_id;
} id_range_t;

/* A set of identifiers as ranges sorted by s_id; empty: nr 0, ir null.
 * The holder owns ir. */
typedef struct {
    int nr;
    id_range_t *ir;
} rangeset_t;

/* Orders two id_range_t by s_id alone. */
int cmp_range(const void *e1, const void *e2);
/* Joins the overlapping and touching ranges of a list sorted by s_id, in
 * place; returns the new count. */
int merge_ranges(int nr, id_range_t *ir);
/* out = the union of two sets, normalised, in a new heap array; returns 0,
 * -1 when memory runs out. */
int ranges_merge(const rangeset_t *in1, const rangeset_t *in2, rangeset_t *out);
/* out = the intersection of two normalised sets, in a new heap array (null
 * when empty); returns 0, -1 when memory runs out. */
int ranges_intersect(const rangeset_t *in1, const rangeset_t *in2, rangeset_t *out);
#ifdef __cplusplus
/* C++ callers may pass the two input sets by value as well. */
extern "C++" {
inline int ranges_merge(rangeset_t in1, rangeset_t in2, rangeset_t *out)
{
    return ranges_merge(&in1, &in2, out);
}
inline int ranges_intersect(rangeset_t in1, rangeset_t in2, rangeset_t *out)
{
    return ranges_intersect(&in1, &in2, out);
}
}
#endif

/* Mode bits of a listing's mode text such as "-rw-r--r--"; 0 when invalid. */
int perm_t2b(const char *s);
/* The nine-character permission text of the mode bits, in a static buffer
 * overwritten by the next call. */
char *perm_b2t(int rights);
/* 1 when s starts like an entry of a long directory listing: a valid mode
 * text and a blank at position 10; otherwise 0. */
int is_unix_file_entry(const char *s);

/* Fraction (0..1) of control bytes among the first nbytes of s, not counting
 * a trailing run of NUL and 0x1A bytes; 1 when nothing remains. */
long double binchars(const void *s, int nbytes);
/* Fraction (0..1) of bytes that are neither letters, high bytes nor white
 * space among those that are not white space; trimmed as binchars. */
long double nontextchars(const void *s, int nbytes);
/* Writes len bytes to standard output, unprintable ones as "[%02x]";
 * returns the result of the last write (len when nothing was written). */
int print_binary(const void *s, int len);
/* Writes len bytes to fp as bits, "1010-0101 0000-0001". */
void fprint_bits(FILE *fp, const void *s, int len);

/* The directory from which the program argv0 was started, found through
 * PATH if need be, as a new heap string ("." for the current directory);
 * null when it cannot be found. */
char *locate_exec_path(const char *argv0);
/* A copy of s in a permanent store; it is never freed. */
char *chunk_add(const char *s);
/* x to the power pwr, multiplied out; 1 when pwr <= 0. */
long double ipow(long double x, int pwr);

/* ==== end of Numeric data, ranges and small helpers ==== */

/* ==== String toolkit (str_base, str_paths, str_shorten) ==== */

/* Case-insensitive comparison (ASCII tolower) of at most n characters;
 * 0 when n <= 0. */
int strnicmp1(const char *s1, const char *s2, int n);

/* -- word splitting: the input is cut in place (NULs over separators) -- */

/* Words of s between runs of separators of class sep_class (0 whole string,
 * 1 blanks, 2 non-alphanumerics (also any unknown class), 3 blanks '*' '?',
 * 4 ',', 5 '.', 6 ';', 7 '|', 8 non-letters, 9 ':').  *L = heap array of
 * pointers into s (free the array only); null with a result of 0. */
int str_words(char *s, char ***L, int sep_class);
/* Fields between single sep characters (empty fields kept); returns the
 * number of sep characters + 1.  *L = heap array of pointers into s. */
int str_split(char *s, char ***L, char sep);
/* As str_split, but every field is a heap copy (unchecked allocation):
 * free every field and the array.  -1 with *L null when an allocation fails
 * (what was copied is freed). */
int str_parseline(char *s, char ***L, char sep);

/* -- joining and path composition: new heap strings (plain malloc, null
 * when it fails), freed by the caller -- */

/* Replaces every character in of s by out, in place; returns s. */
char *str_translate(char *s, char in, char out);
/* s1 followed by s2. */
char *str_join(const char *s1, const char *s2);
/* s1 followed by s2; the heap string s1 is freed (kept when allocation
 * fails, giving null).  A null s1 gives a copy of s2. */
char *str_append(char *s1, const char *s2);
/* Appends the path part src to dest with exactly one '/' between them; turns
 * the backslashes of src itself into '/'.  dest needs room for one extra
 * character.  Returns dest. */
char *str_cats(char *dest, char *src);
/* s1 + "/" + s2 composed as by str_cats (the inputs stay unchanged). */
char *str_sjoin(const char *s1, const char *s2);
/* The n strings of L joined with the character sep (the string sep for
 * str_msjoin) between neighbours; an empty string for n <= 0. */
char *str_mjoin(char **L, int n, char sep);
char *str_msjoin(char **L, int n, const char *sep);

/* -- short FAT-safe names (str_shorten) -- */

/* s as an 8.3 name of FAT-safe characters in a static buffer of 13 bytes,
 * valid until the next call; null when nothing usable is left of s. */
char *str_shorten(const char *s);
/* src shortened to at most dest_len characters into dest (room for
 * dest_len + 1, padded with NULs); returns dest, null when dest_len < 1. */
char *str_reduce(char *dest, const char *src, int dest_len);
/* Deletes the one least telling character of s in place; returns s. */
char *str_try_shorten(char *s);
/* 1 when c is a vowel ("AEIJOUYaeijouy"), respectively a FAT-safe
 * character; 0 otherwise (and for NUL). */
int str_isvowel(int c);
int str_fatsafe(int c);
/* Pointer to the last character of s that occurs in accept; null when none. */
char *str_lastspn(const char *s, const char *accept);
/* Removes the character at p from s (nothing when p lies before s or at the
 * terminating NUL); returns s. */
char *str_delete(char *s, char *p);
/* 0 when s ends with tail (exactly, respectively without regard to case);
 * an empty tail matches for str_tailcmp and does not for str_tailcmpi. */
int str_tailcmp(const char *s, const char *tail);
int str_tailcmpi(const char *s, const char *tail);

/* -- comparison and search -- */

/* 0 when s begins with head; non-zero otherwise (strcmp of the two when
 * head is longer than s). */
int str_headcmp(const char *s, const char *head);
/* Difference of the first pair of bytes that differ after tolower; 0 when
 * the strings are equal without regard to case. */
int stricmp1(const char *s1, const char *s2);
/* Number of leading characters on which s1 and s2 agree without regard to case. */
int str_imatch(const char *s1, const char *s2);
/* strcmp that accepts null pointers (null sorts first, two nulls are equal). */
int str_cmpnull(const char *s1, const char *s2);
/* First needle that is outside double quotes and not after a backslash (a
 * quote in first position does not open a quoted stretch); null when none. */
char *str_index1(const char *haystack, char needle);
/* First occurrence of needle in haystack without regard to case (ASCII
 * letters only for str_stristr, the locale's tolower for str_casestr);
 * null when absent or when the work copies cannot be allocated. */
char *str_stristr(const char *haystack, const char *needle);
char *str_casestr(const char *str, const char *substr);
/* c with 'A'..'Z' folded to 'a'..'z', every other value unchanged. */
int tolower1(int c);
/* Folds s in place with tolower1; returns s. */
char *str_lower(char *s);
/* Number of bytes of s equal to c. */
int str_numchars(const char *s, char c);
/* Non-overlapping occurrences of pattern in s, left to right; 0 for an
 * empty pattern. */
int str_numstr(const char *s, const char *pattern);

/* -- in-place editing: the caller's buffer must have room for any growth -- */

/* strncpy of at most maxlength (n) bytes, then dest[maxlength-1] = NUL;
 * returns dest (untouched when maxlength <= 0). */
char *str_copy(char *dest, const char *src, int maxlength);
char *str_copy_worker(char *dest, const char *src, int n);
/* Heap copy of s with N spare bytes after its NUL (malloc; null on failure). */
char *str_strdup1(const char *s, int N);
/* Inserts c at index n (0 <= n <= length; otherwise nothing); returns s. */
char *str_insert(char *s, char c, int n);
/* Removes the trailing characters (str_strip2: leading ones too) that occur
 * in stray; returns s. */
char *str_strip(char *s, const char *stray);
char *str_strip2(char *s, const char *stray);
/* Drops leading white space, turns every run of white space into one blank
 * and drops a final blank; returns the new length. */
int str_compress_spaces(char *s);
int remove_whitespace(char *s);
/* Collapses spaced-out dots: ". . ." becomes ".", "a. . b" becomes "a. b";
 * returns s. */
char *remove_dots(char *s);
/* Replaces occurrences of s1 by s2 (again and again with recursive);
 * returns the number of replacements. */
int str_replace(char *s, const char *s1, const char *s2, int recursive);
/* When s has limit characters or more (limit >= 3), cuts it to end in "..."
 * within limit characters; returns the "...", or null when s is shorter. */
char *str_cutoff(char *s, int limit);
/* Every line break (CR, LF, CR LF, LF CR) becomes one NUL; returns the new
 * length of the buffer including the final NUL. */
int str_refine_buffer(char *buf);
/* Next token of *sp delimited by d (leading d skipped, the following d
 * overwritten with NUL, *sp moved past it); null when no token is left. */
char *str_sep1(char **sp, char d);

/* -- path sanitising: backslashes become '/', "." and ".." resolved, trailing
 * slashes removed, the drive letter lower-cased -- */

/* The normalised path as a new heap string (malloc; null on failure). */
char *str_sanify(const char *s);
/* Normalises s in place (room for one more character needed; ".." at the
 * start gives a leading "//"); returns the drive letter or 0. */
int sanify_pathname(char *s);
/* Splits the normalised s: *path = directory (heap, or null when none),
 * *name = file name (heap, or null when s ends in a directory).  Returns *name. */
char *str_pathdcmp(const char *s, char **path, char **name);

/* ==== end of String toolkit ==== */

/* ==== File operations (file_ops, xfunc) ==== */

/* Copies exactly nb bytes from in to out through a buffer of mem bytes (buf,
 * or a temporary one when buf is null); returns nb.  A short read or write
 * stops with "failed to read from stream %d bytes\n" or
 * "failed to write to stream %d bytes\n" (the piece size). */
long long copy_bytes(FILE *in, FILE *out, long long nb, int mem, char *buf);

/* -- text loading and line output (file names are plain names) -- */

/* Reads standard input whole into a new NUL-terminated heap buffer *p;
 * returns the byte count, -1 when memory runs out. */
long load_stdin(char **p);
/* Cuts s into lines at CR/LF runs (empty lines between others vanish);
 * *lines = heap array of pointers into s.  Returns the line count. */
int text2lines(char *s, char ***lines);
/* Loads a file (NUL bytes become blanks) and splits it as text2lines, or at
 * every sep ("\r\n" when sep is null) for load_textfile2.  Returns the line
 * count, -1 when the file cannot be loaded or is empty.  Free the array and
 * (*lines)[0], the loaded buffer. */
int load_textfile(const char *filename, char ***lines);
int load_textfile2(const char *filename, char ***lines, const char *sep);
/* Copies a text file to standard output; the result of closing it, 0 when
 * it cannot be opened. */
int print_file(const char *filename);
/* Writes s in pieces of maxlen-2 characters, each but the last followed by
 * a backslash and a line feed; 0, or -1 (nothing written) when maxlen < 3. */
int flongprint(FILE *fp, const char *s, int maxlen);
int longprint(int fd, const char *s, int maxlen);

/* -- file system helpers -- */

/* Creates every missing directory along s; 0, or -1 when one cannot be made. */
int make_subtree(const char *s);
/* Creates or truncates filename and writes length bytes of p; the count
 * written, -1 when it cannot be opened. */
long dump_file(const char *filename, const void *p, long length);
/* Copies the file src to dest; 0 on success, 1 on failure. */
int copy_file(const char *src, const char *dest);
/* 1 when the first probe_size bytes (1024 when negative) are text, 0 when
 * not, -1 when the file cannot be opened or read or is empty. */
int is_textfile(const char *filename, int probe_size);
/* 1 when name is a directory index file name ("00index.txt", "files.bbs",
 * "descript.ion", ...) without regard to case; else 0. */
int isindexfile(const char *name);

/* -- tree removal and checked seek (xfunc) -- */

/* Removes the named directory and everything under it.  softfail 0: any
 * failure stops the process; otherwise it is a warning and removal goes on.
 * Returns 0. */
int xrmdir(int softfail, const char *format, ...) KT_PRINTF(2, 3);
/* The engine of xrmdir: 0 on success, non-zero when dirname could not be
 * scanned or removed (soft mode only). */
int rmdir_worker(int softfail, const char *dirname);
/* Moves fh to the absolute position offset; returns 0 or stops with
 * "lseek (%s) failed\n" (offset with digit grouping). */
int xlseek(int fh, off_t offset);

/* ==== end of File operations ==== */

#ifdef __cplusplus
}
#endif

#endif /* KELTOOLS_H */
