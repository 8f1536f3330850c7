// compat.h: the library's one view of the platform.  On POSIX systems it adds
// nothing but a few names; on Windows (mingw-w64 over msvcrt) it supplies the
// POSIX calls the modules use and evens out the places where the two differ:
//
//  - descriptor opens take O_BINARY (0 on POSIX), so that loaded and sorted
//    files are read and written byte for byte; streams keep their text mode;
//  - gmtime_r breaks down every time_t, negative ones too (msvcrt refuses
//    them), with the same results and the same failures as glibc;
//  - rename does not replace an existing target on Windows: replace_file does
//    on both; files there have no owner ids or set-id bits to keep;
//  - a directory link or junction is a reparse point: lstat reports it as a
//    file and remove_file_or_link removes it without entering it;
//  - text for standard error is shown on a Windows console as the characters
//    its Windows-1251 bytes stand for, whatever the console's code page;
//  - in a console window of its own (a double click) the program says that it
//    waits and waits for a key before it ends, so that the last lines can be
//    read before the window closes.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "calendar.h"

#ifdef _WIN32
#include <conio.h>
#include <direct.h>
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef near  // plain words in C++ code, not the old pointer qualifiers
#undef far
#else
#include <endian.h>
#include <sys/mman.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif
// Windows has no FIFOs to wait on, so it needs no non-blocking open either.
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif

namespace kt_compat {

// Appends the text printf would print to *text; false when the format fails.
inline bool append_vformat(std::string *text, const char *format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    int len = vsnprintf(NULL, 0, format, measure);
    va_end(measure);
    if (len < 0)
        return false;
    size_t at = text->size();
    text->resize(at + (size_t)len + 1);
    vsnprintf(&(*text)[at], (size_t)len + 1, format, args);
    text->pop_back();
    return true;
}

// The UTC calendar reading of t, for every t whose year fits in tm_year;
// otherwise a null pointer with errno EOVERFLOW, as glibc's gmtime_r.
inline struct tm *civil_gmtime(const time_t *t, struct tm *tm)
{
    long long secs = (long long)*t;
    long long days = secs / 86400, rest = secs % 86400;
    if (rest < 0)
        rest += 86400, days--;
    keltools_internal::civil_date date = keltools_internal::civil_from_days(days);
    if (date.year - 1900 < INT_MIN || date.year - 1900 > INT_MAX) {
        errno = EOVERFLOW;
        return nullptr;
    }
    tm->tm_year = (int)(date.year - 1900);
    tm->tm_mon = date.month - 1;
    tm->tm_mday = date.day;
    tm->tm_hour = (int)(rest / 3600);
    tm->tm_min = (int)(rest / 60 % 60);
    tm->tm_sec = (int)(rest % 60);
    tm->tm_wday = (int)(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    tm->tm_yday = date.day_of_year;
    tm->tm_isdst = 0;
    return tm;
}

#ifdef _WIN32

inline struct tm *local_time(const time_t *t, struct tm *tm)
{
    if (localtime_s(tm, t) == 0)
        return tm;
    // msvcrt knows no local time before 1970: the standard offset serves there.
    _tzset();
    time_t shifted = *t - _timezone;
    return civil_gmtime(&shifted, tm);
}

inline int errno_of_last_error()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    default:
        return EIO;
    }
}

inline bool is_reparse_point(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Standard error when it is a console, else null.
inline HANDLE stderr_console()
{
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode;
    return h != INVALID_HANDLE_VALUE && h != NULL && GetConsoleMode(h, &mode) ? h : NULL;
}

// Writes Windows-1251 text to standard error.  A console is given the
// characters the bytes stand for, as UTF-16, so that Cyrillic names read
// right whatever the console's code page; a file or pipe gets the bytes.
inline void write_stderr(const char *text, size_t len)
{
    HANDLE console = stderr_console();
    if (console == NULL || len == 0 || len > INT_MAX) {
        fwrite(text, 1, len, stderr);
        return;
    }
    int wide_len = MultiByteToWideChar(1251, 0, text, (int)len, NULL, 0);
    wchar_t *wide = wide_len > 0 ? (wchar_t *)malloc((size_t)wide_len * sizeof *wide) : NULL;
    DWORD written;
    if (wide == NULL || MultiByteToWideChar(1251, 0, text, (int)len, wide, wide_len) != wide_len ||
        !WriteConsoleW(console, wide, (DWORD)wide_len, &written, NULL))
        fwrite(text, 1, len, stderr);
    free(wide);
}

// printf-style text to standard error, through write_stderr.
inline void vprint_stderr(const char *format, va_list args)
{
    std::string text;
    if (append_vformat(&text, format, args))
        write_stderr(text.data(), text.size());
}

// Whether the process is alone in a console window that was made for it, as
// when it was started by a double click: the window closes when it ends.
inline bool alone_in_own_console()
{
    DWORD ids[2];
    DWORD mode;
    return GetConsoleProcessList(ids, 2) == 1 && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

// Waits for one key press (not a line) on the console's input; keys pressed
// before the prompt do not count.
inline void wait_for_key_press()
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(in);
    INPUT_RECORD record;
    DWORD read;
    while (ReadConsoleInputW(in, &record, 1, &read) && read == 1)
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
            return;
}

// In a console window of its own, says so and waits for a key, so that the
// last lines can be read before the window closes; returns whether it did.
inline bool wait_if_own_console()
{
    if (!alone_in_own_console())
        return false;
    // "Нажмите любую клавишу, чтобы закрыть окно..." in Windows-1251
    static const char prompt[] = "\xCD\xE0\xE6\xEC\xE8\xF2\xE5 \xEB\xFE\xE1\xF3\xFE \xEA\xEB\xE0\xE2\xE8\xF8\xF3, "
                                 "\xF7\xF2\xEE\xE1\xFB \xE7\xE0\xEA\xF0\xFB\xF2\xFC \xEE\xEA\xED\xEE...";
    write_stderr(prompt, sizeof prompt - 1);
    wait_for_key_press();
    return true;
}

#else

inline void vprint_stderr(const char *format, va_list args)
{
    vfprintf(stderr, format, args);
}

inline bool wait_if_own_console()
{
    return false;
}

#endif

// Asks the system to back a large buffer with large pages where it can, so
// that filling it takes fewer page faults; elsewhere nothing happens.
inline void prefer_large_pages(void *buf, size_t size)
{
#ifdef MADV_HUGEPAGE
    const uintptr_t large = 2u << 20;
    uintptr_t from = ((uintptr_t)buf + large - 1) & ~(large - 1);
    uintptr_t to = ((uintptr_t)buf + size) & ~(large - 1);
    if (to > from)
        madvise((void *)from, to - from, MADV_HUGEPAGE);
#else
    (void)buf;
    (void)size;
#endif
}

#ifdef _WIN32
// msvcrt has no reads or writes at an offset that leave the descriptor's
// position alone: callers then read one part after the other and write
// through one thread.
constexpr bool positional_io = false;
inline long pread(int, void *, size_t, off_t)
{
    return -1;
}
inline long pwrite(int, const void *, size_t, off_t)
{
    return -1;
}
inline long long writable_at(int)
{
    return -1;
}
#else
constexpr bool positional_io = true;
using ::pread;
using ::pwrite;

// Where a descriptor can be written at an offset (a regular file not opened
// to append), its position; else -1.
inline long long writable_at(int fd)
{
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || (flags & O_APPEND))
        return -1;
    return (long long)lseek(fd, 0, SEEK_CUR);
}
#endif

}  // namespace kt_compat

// Renames from over to, replacing an existing file; 0, or -1 with errno set.
inline int replace_file(const char *from, const char *to)
{
#ifdef _WIN32
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING))
        return 0;
    errno = kt_compat::errno_of_last_error();
    return -1;
#else
    return rename(from, to);
#endif
}

// Removes a file, or on Windows a link or junction to a directory (never its
// target's contents); 0, or -1 with errno set.
inline int remove_file_or_link(const char *path)
{
#ifdef _WIN32
    if (kt_compat::is_reparse_point(path) && RemoveDirectoryA(path))
        return 0;
#endif
    return unlink(path);
}

#ifdef _WIN32

#define gmtime_r(t, tm) kt_compat::civil_gmtime(t, tm)
#define localtime_r(t, tm) kt_compat::local_time(t, tm)

// A link or junction reads as a plain file, so that tree walks never enter it.
inline int lstat(const char *path, struct stat *st)
{
    if (stat(path, st) != 0 && !kt_compat::is_reparse_point(path))
        return -1;
    if (kt_compat::is_reparse_point(path)) {
        memset(st, 0, sizeof *st);
        st->st_mode = S_IFREG;
    }
    return 0;
}

inline int mkdir(const char *path, int)
{
    return _mkdir(path);
}

inline ssize_t getline(char **line, size_t *room, FILE *fp)
{
    size_t used = 0;
    int c;
    while ((c = getc(fp)) != EOF) {
        if (!*line || used + 2 > *room) {
            size_t grown = *room < 64 ? 128 : *room * 2;
            char *bigger = (char *)realloc(*line, grown);
            if (!bigger)
                return -1;
            *line = bigger, *room = grown;
        }
        (*line)[used++] = (char)c;
        if (c == '\n')
            break;
    }
    if (used == 0)
        return -1;
    (*line)[used] = '\0';
    return (ssize_t)used;
}

inline char *strndup(const char *s, size_t n)
{
    size_t length = strnlen(s, n);
    char *copy = (char *)malloc(length + 1);
    if (copy) {
        memcpy(copy, s, length);
        copy[length] = '\0';
    }
    return copy;
}

inline char *stpcpy(char *to, const char *from)
{
    size_t length = strlen(from);
    memcpy(to, from, length + 1);
    return to + length;
}

// The absolute path of an existing file, in malloc'd memory, with "/" as the
// separator as on POSIX (Windows takes either).
inline char *realpath(const char *path, char *resolved)
{
    char *full = _fullpath(resolved, path, _MAX_PATH);
    if (full && _access(full, 0) != 0) {
        if (!resolved)
            free(full);
        return nullptr;
    }
    for (char *c = full; c && *c; c++)
        if (*c == '\\')
            *c = '/';
    return full;
}

// Windows keeps no POSIX permission bits on an open descriptor.
inline int fchmod(int, mode_t)
{
    return 0;
}

// Nor owners and set-id bits: a replaced file has nothing of them to keep.
inline int fchown(int, int, int)
{
    return 0;
}
#ifndef S_ISUID
#define S_ISUID 0
#endif
#ifndef S_ISGID
#define S_ISGID 0
#endif

#define le64toh(x) (x)

// msvcrt has no unlocked stream calls; the library is single-threaded anyway.
#define fwrite_unlocked fwrite
#define putc_unlocked putc

#endif
