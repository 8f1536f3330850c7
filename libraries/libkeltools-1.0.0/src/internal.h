// Helpers shared by the library's modules; not part of the public header.
#pragma once

#include <cstddef>

namespace keltools_internal {

// Reads until n bytes have arrived, the input ends or a read fails; a read
// interrupted by a signal is restarted and a short read is followed by the
// next.  Returns the count read: less than n only at end of input or after
// a failure (errno then holds its reason).
size_t read_in_full(int fd, void *buffer, size_t n);

// Writes all n bytes, restarting interrupted and continuing short writes.
// Returns the count written: less than n only after a failure.
size_t write_in_full(int fd, const void *buffer, size_t n);

}  // namespace keltools_internal
