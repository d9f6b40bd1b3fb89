// Whole-buffer reads and writes on POSIX descriptors, and the atomic replacement of a file.
// Private to the foundation.
#pragma once

#include <cstddef>

namespace zan_detail
{
/// Writes all of \p size bytes; false with errno set when it cannot.
bool WriteAll(int fd, const void* data, size_t size);
/// Reads exactly \p size bytes; false on error or when the file ends early.
bool ReadAll(int fd, void* data, size_t size);
} // namespace zan_detail
