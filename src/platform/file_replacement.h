#ifndef N47_PLATFORM_FILE_REPLACEMENT_H
#define N47_PLATFORM_FILE_REPLACEMENT_H

#include <cstddef>

namespace n47 {

// A new version of the file at `target`, written under a name of its own beside it and put in
// the target's place in one step once it is complete and on the device, so that a reader, a
// second writer or a power cut sees either the previous file or the whole new one.
//
// - An existing target that is not an ordinary file after following links (a device, FIFO,
//   socket, directory or dangling link) is refused, and so is a null path: nothing is opened.
// - A linked target: the file the link points to is replaced; the link stays.
// - The temporary is created exclusively and never through a link, so a file or link that
//   happens to carry its name is never written or removed; it gets the target's permission
//   bits when the target exists.
// - Destroying an uncommitted replacement, or any failure, removes the temporary and leaves
//   the target as it was.
//
// Never throws; a failed step is reported by the next call that can report it.
class FileReplacement {
 public:
  explicit FileReplacement(const char* target) noexcept;
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // False when the temporary could not be made, or a write has failed.
  bool isOpen() const noexcept;
  bool write(const void* data, std::size_t bytes) noexcept;
  // Flushes the temporary to the device and renames it over the target (on POSIX the folder
  // is flushed too). True once the target holds exactly what was written.
  bool commit() noexcept;

#if !defined(_WIN32)
  // The temporary's descriptor, open for reading and writing, for writers that want one
  // (image libraries); -1 when closed. The replacement keeps owning it.
  int descriptor() const noexcept;
  // The temporary's path while it exists under its own name, else null: for a program that
  // removes it should a signal end it before the replacement can.
  const char* temporaryPath() const noexcept;
#endif

 private:
  struct State;
  State* state_;
};

// Writes `bytes` bytes through a FileReplacement.
bool replaceFileContents(const char* target, const void* data, std::size_t bytes) noexcept;

}  // namespace n47

#endif
