// misc: diagnostics, digit grouping, numeric data files, ranges and small helpers.

#include "keltools.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

/* ---- diagnostics ---- */

FILE *tools_debug = NULL;
int clock1_call_counter = 0;

namespace {

// Formatting below the scratch limit is never an error; a text of the limit
// or more stops the process, as a fixed-size scratch block could not hold it.
const size_t scratch_floor = 1048576;

void print_to(FILE *fp, const char *format, va_list args)
{
    vfprintf(fp, format, args);
}

}  // namespace

void error1(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    print_to(stderr, format, args);
    va_end(args);
    exit(1);
}

void error2(FILE *fp, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    print_to(fp, format, args);
    va_end(args);
    exit(1);
}

void error3(FILE *fp, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    print_to(stderr, format, args);
    print_to(fp, format, copy);
    va_end(copy);
    va_end(args);
    exit(1);
}

void warning1(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    print_to(stderr, format, args);
    va_end(args);
}

void warning2(FILE *fp, const char *format, ...)
{
    if (fp == NULL)
        return;
    va_list args;
    va_start(args, format);
    print_to(fp, format, args);
    va_end(args);
    fflush(fp);
}

void warning3(FILE *fp, const char *format, ...)
{
    if (fp == NULL)
        return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    print_to(stderr, format, args);
    print_to(fp, format, copy);
    va_end(copy);
    va_end(args);
    fflush(fp);
}

void debug_tools(const char *format, ...)
{
    if (tools_debug == NULL)
        return;
    va_list args;
    va_start(args, format);
    print_to(tools_debug, format, args);
    va_end(args);
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

char comma_buffers[8][27];
int ib = 0;

char *next_buffer()
{
    char *b = comma_buffers[ib];
    ib = (ib + 1) % 8;
    return b;
}

// Writes the ndigits decimal digits of v (leading zeros included) into b,
// a comma after every digit whose remaining count is a positive multiple of
// three when grouped, then blanks the leading zeros and commas and puts a
// lone 0 back for zero.
char *build(unsigned long long v, int ndigits, bool grouped)
{
    char *b = next_buffer();
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


