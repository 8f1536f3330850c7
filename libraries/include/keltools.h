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
#include <time.h>

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

/* ==== Diagnostics (misc) ==== */

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
int xfclose(FILE *fp);
/* Writes nb bytes or stops; returns nb. */
int xfwrite(const void *buffer, int nb, FILE *fp);
/* Reads up to nb bytes; returns the count read (short at end of file). */
int xfread(void *buffer, int nb, FILE *fp);
/* Write or read exactly size bytes in one call, or stop; return 0. */
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
/* Checked heap: stop with "not enough memory; malloc(%u) failed\n" and friends. */
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

/* ==== end of Checked file and memory operations ==== */

/* ==== Whole-file loading (file_ops) ==== */

/* Loads the file whole into a new heap block of length+2 bytes, NUL after the
 * data, stored in *p.  Returns the length; 0 for an empty file (*p untouched,
 * nothing allocated); -1 on failure (nothing to free).  No messages. */
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

/* ==== 64-bit integer parsing (str_base) ==== */

/* As strtoll, but saturates without touching errno, and "0x" with no hex
 * digit after it is no number at all (*endptr = nptr). */
long long strtoq1(const char *nptr, char **endptr, int base);

/* ==== end of 64-bit integer parsing ==== */

/* ==== Digit grouping (misc) ==== */

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

/* ==== Array de-duplication (fsort) ==== */

/* Removes adjacent duplicates in place, keeping the first of each run;
 * returns the number kept.  compare is called exactly nmemb-1 times. */
int uniq(void *array, size_t nmemb, size_t size, int (*compare)(const void *, const void *));

/* ==== end of Array de-duplication ==== */

/* ==== Sorting of arrays and files (fsort) ==== */

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

/* ==== Memory chunk sets and text buffers (xfunc) ==== */

/* ==== end of Memory chunk sets and text buffers ==== */

/* ==== Numeric data, ranges and small helpers (misc) ==== */

/* ==== end of Numeric data, ranges and small helpers ==== */

/* ==== String toolkit (str_base, str_shorten) ==== */

/* Case-insensitive comparison (ASCII tolower) of at most n characters;
 * 0 when n <= 0. */
int strnicmp1(const char *s1, const char *s2, int n);

/* ==== end of String toolkit ==== */

/* ==== File operations (file_ops, xfunc) ==== */

/* Copies exactly nb bytes from in to out through a buffer of mem bytes (buf,
 * or a temporary one when buf is null); returns nb.  A short read or write
 * stops with "failed to read from stream %d bytes\n" or
 * "failed to write to stream %d bytes\n" (the piece size). */
long long copy_bytes(FILE *in, FILE *out, long long nb, int mem, char *buf);

/* ==== end of File operations ==== */

#ifdef __cplusplus
}
#endif

#endif /* KELTOOLS_H */
