// Whole-file reads and safe replacement on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "platform/file_replacement.h"
#include "platform/read_whole_file.h"
#include "platform/unique_suffix.h"

namespace n47 {
namespace {

bool writeAll(int descriptor, const std::uint8_t* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t written = ::write(descriptor, data, bytes);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    bytes -= static_cast<std::size_t>(written);
  }
  return true;
}

// Reads until `bytes` are in or the file ends; the count actually read.
std::size_t readUpTo(int descriptor, std::uint8_t* data, std::size_t bytes) {
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t got = ::read(descriptor, data + done, bytes - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

// A copy of `text` followed by `suffixBytes` spare bytes, from malloc.
char* copyWithRoom(const char* text, std::size_t suffixBytes) {
  const std::size_t length = std::strlen(text);
  char* copy = static_cast<char*>(std::malloc(length + suffixBytes + 1));
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

// Flushes the folder entry that a rename changed; without it a power cut could leave the
// folder naming neither the old file nor the new one.
bool syncFolderOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  int folder = -1;
  if (slash == nullptr) {
    folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } else {
    const std::size_t length = slash == path ? 1 : static_cast<std::size_t>(slash - path);
    char* name = static_cast<char*>(std::malloc(length + 1));
    if (name == nullptr) return false;
    std::memcpy(name, path, length);
    name[length] = '\0';
    folder = ::open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::free(name);
  }
  // A folder we may not open, or a file system that cannot flush one: the rename is then as
  // durable as the system allows, and the new file is in place all the same.
  if (folder < 0) return true;
  const bool synced = ::fsync(folder) == 0 || errno == EINVAL;
  ::close(folder);
  return synced;
}

}  // namespace

bool readWholeFile(const char* path, void* destination, std::size_t bytes) noexcept {
  if (path == nullptr) return false;
  const int file = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file < 0) return false;
  struct stat status;
  bool whole = ::fstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
               static_cast<std::uint64_t>(status.st_size) == bytes;
  // The size can change under us, and some files report one they do not deliver.
  if (whole) {
    std::uint8_t* target = static_cast<std::uint8_t*>(destination);
    std::uint8_t extra;
    whole = readUpTo(file, target, bytes) == bytes && readUpTo(file, &extra, 1) == 0;
  }
  ::close(file);
  return whole;
}

struct FileReplacement::State {
  char* target = nullptr;     // the file to replace, links resolved
  char* temporary = nullptr;  // set once the temporary exists on disk
  int descriptor = -1;
  bool failed = true;  // until the temporary exists
};

FileReplacement::FileReplacement(const char* target) noexcept : state_(new (std::nothrow) State) {
  if (state_ == nullptr || target == nullptr) return;
  State& s = *state_;

  struct stat status;
  bool exists = false;
  if (::stat(target, &status) == 0) {
    if (!S_ISREG(status.st_mode)) return;
    exists = true;
    char* resolved = ::realpath(target, nullptr);
    if (resolved == nullptr) return;
    s.target = copyWithRoom(resolved, 0);
    ::free(resolved);
  } else {
    struct stat link;
    if (errno != ENOENT || ::lstat(target, &link) == 0) return;  // dangling link, or no access
    s.target = copyWithRoom(target, 0);
  }
  if (s.target == nullptr) return;

  char* temporary = copyWithRoom(s.target, kUniqueSuffixLength);
  if (temporary == nullptr) return;
  const char* slash = std::strrchr(temporary, '/');
  const std::size_t length =
      suffixPosition(temporary, slash == nullptr ? 0 : static_cast<std::size_t>(slash + 1 - temporary), std::strlen(temporary));
  for (int attempt = 0; attempt < 100 && s.descriptor < 0; ++attempt) {
    writeUniqueSuffix(temporary + length, static_cast<std::uint64_t>(::getpid()));
    // Created here and now, never through a link: nobody else's file is ever written. Open
    // for reading too, for writers that read back what they wrote (libtiff links its pages so).
    s.descriptor = ::open(temporary, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (s.descriptor < 0 && errno != EEXIST) break;
  }
  if (s.descriptor < 0) {
    std::free(temporary);
    return;
  }
  s.temporary = temporary;
  s.failed = exists && ::fchmod(s.descriptor, status.st_mode & 07777) != 0;
}

FileReplacement::~FileReplacement() {
  if (state_ == nullptr) return;
  if (state_->descriptor >= 0) ::close(state_->descriptor);
  if (state_->temporary != nullptr) ::unlink(state_->temporary);
  std::free(state_->temporary);
  std::free(state_->target);
  delete state_;
}

bool FileReplacement::isOpen() const noexcept { return state_ != nullptr && !state_->failed && state_->descriptor >= 0; }

int FileReplacement::descriptor() const noexcept { return state_ == nullptr ? -1 : state_->descriptor; }

const char* FileReplacement::temporaryPath() const noexcept { return state_ == nullptr ? nullptr : state_->temporary; }

bool FileReplacement::write(const void* data, std::size_t bytes) noexcept {
  if (!isOpen()) return false;
  if (!writeAll(state_->descriptor, static_cast<const std::uint8_t*>(data), bytes)) state_->failed = true;
  return !state_->failed;
}

bool FileReplacement::commit() noexcept {
  if (!isOpen()) return false;
  State& s = *state_;
  const bool flushed = ::fsync(s.descriptor) == 0;
  const bool closed = ::close(s.descriptor) == 0;
  s.descriptor = -1;
  if (!flushed || !closed || ::rename(s.temporary, s.target) != 0) {
    s.failed = true;
    return false;
  }
  std::free(s.temporary);
  s.temporary = nullptr;  // it is the target now
  return syncFolderOf(s.target);
}

bool replaceFileContents(const char* target, const void* data, std::size_t bytes) noexcept {
  FileReplacement file(target);
  return file.write(data, bytes) && file.commit();
}

}  // namespace n47
