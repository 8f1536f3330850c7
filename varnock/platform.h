// The analyzer's one view of the platform: every analyzer file that makes a
// POSIX call (descriptors, directories, unlocked stream calls, stpcpy)
// includes this header first.  On Windows the library's compatibility header
// supplies those calls over msvcrt.
#pragma once

#ifdef _WIN32
#include "../keltools/src/compat.h"
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/mman.h>
#endif

// Trade files are loaded one after another into blocks of similar size: keep
// freed blocks in the heap so that each file reuses the pages of the last one
// instead of mapping (and faulting in) fresh memory.  Only glibc's allocator
// has the knobs; elsewhere this does nothing.
#ifdef M_MMAP_THRESHOLD
inline void reuse_file_buffers()
{
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
}
#else
inline void reuse_file_buffers() {}
#endif

// Memory for a large buffer that is filled at once, a trade file as it is
// read: on Linux a mapping of its own in huge pages where the system gives
// them, so that filling it costs a few page faults instead of one every
// 4 KiB; elsewhere the heap's.  Null when there is no room.
#if defined(__linux__) && defined(MADV_HUGEPAGE)
inline void *map_large(size_t n)
{
    void *p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    madvise(p, n, MADV_HUGEPAGE);
    return p;
}
inline void unmap_large(void *p, size_t n)
{
    if (p)
        munmap(p, n);
}
#else
inline void *map_large(size_t n)
{
    return malloc(n);
}
inline void unmap_large(void *p, size_t)
{
    free(p);
}
#endif

// A file's modification time in nanoseconds; whole seconds where the system
// keeps no finer time.
inline long long modification_ns(const struct stat &st)
{
#ifdef _WIN32
    return (long long)st.st_mtime * 1000000000LL;
#else
    return (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
#endif
}

#ifdef _WIN32
// "/?" and "/h", the help switches Windows users type.
inline bool is_windows_help_switch(const char *arg)
{
    return strcmp(arg, "/?") == 0 || strcmp(arg, "/h") == 0 || strcmp(arg, "/H") == 0;
}
// In a console window of its own (a double click), says so and waits for a
// key before the window closes; returns whether it did.
inline bool wait_in_own_window()
{
    return kt_compat::wait_if_own_console();
}
inline bool is_path_separator(char c)
{
    return c == '/' || c == '\\' || c == ':';
}
#else
inline bool is_windows_help_switch(const char *)
{
    return false;
}
inline bool wait_in_own_window()
{
    return false;
}
inline bool is_path_separator(char c)
{
    return c == '/';
}
#endif
