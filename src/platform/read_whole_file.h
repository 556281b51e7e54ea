#ifndef N47_PLATFORM_READ_WHOLE_FILE_H
#define N47_PLATFORM_READ_WHOLE_FILE_H

#include <cstddef>

namespace n47 {

// Reads the file at `path` into `destination` when it is an ordinary file holding exactly
// `bytes` bytes. The path is opened without waiting (a FIFO nobody writes to would otherwise
// block for ever) and the type of what was opened is checked before anything is read, so a
// path swapped for a FIFO or a device meanwhile is refused too. False otherwise; then
// `destination` may hold part of the file.
bool readWholeFile(const char* path, void* destination, std::size_t bytes) noexcept;

}  // namespace n47

#endif
