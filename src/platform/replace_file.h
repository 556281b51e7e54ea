#ifndef N47_PLATFORM_REPLACE_FILE_H
#define N47_PLATFORM_REPLACE_FILE_H

namespace n47 {

// Puts the file at `source` in place of `target` in one step: a reader sees either the old
// target or the complete new one. False when that cannot be done; then both are as they were.
bool replaceFile(const char* source, const char* target);

}  // namespace n47

#endif
