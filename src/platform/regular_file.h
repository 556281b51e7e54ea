#ifndef N47_PLATFORM_REGULAR_FILE_H
#define N47_PLATFORM_REGULAR_FILE_H

namespace n47 {

// True when `path` names an ordinary file (after following links). Opening a FIFO, a
// device or a socket for reading can block for ever or yield endless data, so map loads
// accept ordinary files only.
bool isRegularFile(const char* path);

}  // namespace n47

#endif
