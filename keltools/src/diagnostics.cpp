// diagnostics: fatal errors, warnings, the debug stream, checked formatting
// and the processor clock.

#include "compat.h"
#include "keltools.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include "internal.h"

FILE *tools_debug = NULL;
int clock1_call_counter = 0;

namespace {

// Formatting below the scratch limit is never an error; a text of the limit
// or more stops the process, as a fixed-size scratch block could not hold it.
const size_t scratch_floor = 1048576;

// Where this thread's messages for standard error go instead, when a sort's
// helper thread holds them back.
thread_local std::string *held_messages = NULL;

// Writes one message to standard error when asked, then to fp when given.
void emit(bool to_stderr, FILE *fp, const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    if (to_stderr && held_messages != NULL)
        kt_compat::append_vformat(held_messages, format, args);
    else if (to_stderr)
        kt_compat::vprint_stderr(format, args);
    if (fp != NULL)
        vfprintf(fp, format, copy);
    va_end(copy);
}

}  // namespace

void keltools_internal::hold_messages(std::string *into)
{
    held_messages = into;
}

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
