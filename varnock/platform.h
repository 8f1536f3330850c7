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
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/mman.h>
#endif

// The run takes its memory from one heap that keeps what is freed, so that
// each trade file and each big array reuses the pages of the last one
// instead of mapping (and faulting in) fresh memory: large blocks are not
// mapped apart nor given back, and every thread takes from the same heap.
// On Linux the heap is first grown by heap_reserve bytes of address space
// (below the size that is mapped apart) marked for huge pages, so that
// memory touched for the first time costs a page fault every 2 MiB instead
// of every 4 KiB (where faults are slow, as under some hypervisors, they
// took a third of a run).  Untouched, the
// reserve costs no memory; when it cannot be had, the heap grows as usual.
// Only glibc's allocator has these knobs; elsewhere this does nothing.
#ifdef M_MMAP_THRESHOLD
inline void prepare_heap()
{
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_ARENA_MAX, 1);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const size_t heap_reserve = (size_t)1 << 29, page = (size_t)sysconf(_SC_PAGESIZE);
    uintptr_t start = ((uintptr_t)sbrk(0) + page - 1) & ~(uintptr_t)(page - 1);
    void *reserve = malloc(heap_reserve);
    if (!reserve)
        return;
    free(reserve);
    uintptr_t top = (uintptr_t)sbrk(0) & ~(uintptr_t)(page - 1);
    if (top > start)
        madvise((void *)start, top - start, MADV_HUGEPAGE);
#endif
}
#else
inline void prepare_heap() {}
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
