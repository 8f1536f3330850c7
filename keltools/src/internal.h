// Helpers shared by the library's modules; not part of the public header.
#pragma once

#include <cctype>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <string>

namespace keltools_internal {

// White space by the runtime's classification: in the default locale space,
// tab, line feed, vertical tab, form feed and carriage return.
inline bool is_space(unsigned char c)
{
    return isspace(c) != 0;
}

// Whether c is one of the characters of set; the NUL never is.
inline bool in_set(int c, const char *set)
{
    return c != '\0' && strchr(set, c) != nullptr;
}

// Static text buffers handed out in turn: a text stays valid while the
// count - 1 buffers after it are taken.
template <int count, size_t size>
class ring_buffers {
public:
    char *next()
    {
        char *b = buffers_[at_];
        at_ = (at_ + 1) % count;
        return b;
    }

private:
    char buffers_[count][size] = {};
    int at_ = 0;
};

// Reads until n bytes have arrived, the input ends or a read fails; a read
// interrupted by a signal is restarted and a short read is followed by the
// next.  Returns the count read: less than n only at end of input (errno
// then 0) or after a failure (errno then holds its reason).
size_t read_in_full(int fd, void *buffer, size_t n);

// Writes all n bytes, restarting interrupted and continuing short writes.
// Returns the count written: less than n only after a failure.
size_t write_in_full(int fd, const void *buffer, size_t n);

// Stops the process with the message of a failed allocation of n bytes by call.
[[noreturn]] void out_of_memory(const char *call, size_t n);

// Every name-taking wrapper builds its name into one of these, as vsnprintf1
// would: a name too long for it stops the process.
typedef char name_buffer[260];
void build_name(name_buffer name, const char *format, va_list args);

// While into is set, the calling thread's warnings for standard error are
// appended to it instead of written (NULL writes them again).  A sort's helper
// thread holds its messages so that the caller can write only the first
// failure's, as a sort on one thread would have stopped there.
void hold_messages(std::string *into);

}  // namespace keltools_internal

// Declares name and builds it from the caller's format and arguments.
#define BUILD_NAME(name, format)                               \
    keltools_internal::name_buffer name;                       \
    do {                                                       \
        va_list args_;                                         \
        va_start(args_, format);                               \
        keltools_internal::build_name(name, format, args_);    \
        va_end(args_);                                         \
    } while (0)
