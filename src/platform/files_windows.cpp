// Whole-file reads and safe replacement on Windows. Paths arrive in the ANSI code page, as
// the exports take them, and are used as wide strings so that resolved long paths work.
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "platform/file_replacement.h"
#include "platform/read_whole_file.h"
#include "platform/unique_suffix.h"
#include "platform/windows_headers.h"

namespace n47 {
namespace {

// A malloc'd wide copy of `path` with room for `extra` more characters, or null.
wchar_t* widen(const char* path, std::size_t extra) {
  const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (length <= 0) return nullptr;
  wchar_t* wide = static_cast<wchar_t*>(std::malloc((static_cast<std::size_t>(length) + extra) * sizeof(wchar_t)));
  if (wide != nullptr && MultiByteToWideChar(CP_ACP, 0, path, -1, wide, length) != length) {
    std::free(wide);
    wide = nullptr;
  }
  return wide;
}

wchar_t* copyWithRoom(const wchar_t* text, std::size_t extra) {
  const std::size_t length = std::wcslen(text);
  wchar_t* copy = static_cast<wchar_t*>(std::malloc((length + extra + 1) * sizeof(wchar_t)));
  if (copy != nullptr) std::wmemcpy(copy, text, length + 1);
  return copy;
}

// Only files on a disk are files here: "NUL", "CON", pipes and the like are not.
bool isOrdinaryFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information;
  return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &information) != 0 &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The path a handle's file really has, links followed; null when the system cannot say.
wchar_t* finalPathOf(HANDLE file, std::size_t extra) {
  const DWORD length = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0) return nullptr;
  wchar_t* path = static_cast<wchar_t*>(std::malloc((length + extra + 1) * sizeof(wchar_t)));
  if (path != nullptr &&
      GetFinalPathNameByHandleW(file, path, length + 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS) > length) {
    std::free(path);
    path = nullptr;
  }
  return path;
}

bool readAll(HANDLE file, std::uint8_t* data, std::size_t bytes, std::size_t& done) {
  done = 0;
  while (done < bytes) {
    const std::size_t chunk = bytes - done < (1u << 30) ? bytes - done : (1u << 30);
    DWORD got = 0;
    if (!ReadFile(file, data + done, static_cast<DWORD>(chunk), &got, nullptr)) return false;
    if (got == 0) break;
    done += got;
  }
  return true;
}

}  // namespace

bool readWholeFile(const char* path, void* destination, std::size_t bytes) noexcept {
  if (path == nullptr) return false;
  wchar_t* wide = widen(path, 0);
  if (wide == nullptr) return false;
  HANDLE file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::free(wide);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool whole = isOrdinaryFile(file) && GetFileSizeEx(file, &size) != 0 &&
               static_cast<std::uint64_t>(size.QuadPart) == bytes;
  if (whole) {
    std::size_t done = 0, extra = 0;
    std::uint8_t probe;
    whole = readAll(file, static_cast<std::uint8_t*>(destination), bytes, done) && done == bytes &&
            readAll(file, &probe, 1, extra) && extra == 0;
  }
  CloseHandle(file);
  return whole;
}

struct FileReplacement::State {
  wchar_t* target = nullptr;
  wchar_t* temporary = nullptr;  // set once the temporary exists on disk
  HANDLE file = INVALID_HANDLE_VALUE;
  bool failed = true;  // until the temporary exists
};

FileReplacement::FileReplacement(const char* target) noexcept : state_(new (std::nothrow) State) {
  if (state_ == nullptr || target == nullptr) return;
  State& s = *state_;
  wchar_t* wide = widen(target, 0);
  if (wide == nullptr) return;

  // Opened for no access at all, only to learn what the path names.
  HANDLE existing = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (existing != INVALID_HANDLE_VALUE) {
    const bool ordinary = isOrdinaryFile(existing);
    s.target = ordinary ? finalPathOf(existing, 0) : nullptr;
    CloseHandle(existing);
    if (!ordinary) {
      std::free(wide);
      return;
    }
    if (s.target == nullptr) s.target = copyWithRoom(wide, 0);
  } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
    s.target = copyWithRoom(wide, 0);
  }
  std::free(wide);
  if (s.target == nullptr) return;

  wchar_t* temporary = copyWithRoom(s.target, kUniqueSuffixLength);
  if (temporary == nullptr) return;
  std::size_t nameStart = std::wcslen(temporary);
  const std::size_t end = nameStart;
  while (nameStart > 0 && temporary[nameStart - 1] != L'\\' && temporary[nameStart - 1] != L'/') --nameStart;
  const std::size_t length = suffixPosition(temporary, nameStart, end);
  for (int attempt = 0; attempt < 100 && s.file == INVALID_HANDLE_VALUE; ++attempt) {
    writeUniqueSuffix(temporary + length, GetCurrentProcessId());
    s.file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (s.file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (s.file == INVALID_HANDLE_VALUE) {
    std::free(temporary);
    return;
  }
  s.temporary = temporary;
  s.failed = false;
}

FileReplacement::~FileReplacement() {
  if (state_ == nullptr) return;
  if (state_->file != INVALID_HANDLE_VALUE) CloseHandle(state_->file);
  if (state_->temporary != nullptr) DeleteFileW(state_->temporary);
  std::free(state_->temporary);
  std::free(state_->target);
  delete state_;
}

bool FileReplacement::isOpen() const noexcept {
  return state_ != nullptr && !state_->failed && state_->file != INVALID_HANDLE_VALUE;
}

bool FileReplacement::write(const void* data, std::size_t bytes) noexcept {
  if (!isOpen()) return false;
  const std::uint8_t* next = static_cast<const std::uint8_t*>(data);
  while (bytes > 0) {
    const std::size_t chunk = bytes < (1u << 30) ? bytes : (1u << 30);
    DWORD written = 0;
    if (!WriteFile(state_->file, next, static_cast<DWORD>(chunk), &written, nullptr) || written == 0) {
      state_->failed = true;
      return false;
    }
    next += written;
    bytes -= written;
  }
  return true;
}

bool FileReplacement::commit() noexcept {
  if (!isOpen()) return false;
  State& s = *state_;
  const bool flushed = FlushFileBuffers(s.file) != 0;
  const bool closed = CloseHandle(s.file) != 0;
  s.file = INVALID_HANDLE_VALUE;
  if (!flushed || !closed ||
      !MoveFileExW(s.temporary, s.target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    s.failed = true;
    return false;
  }
  std::free(s.temporary);
  s.temporary = nullptr;  // it is the target now
  return true;
}

bool replaceFileContents(const char* target, const void* data, std::size_t bytes) noexcept {
  FileReplacement file(target);
  return file.write(data, bytes) && file.commit();
}

}  // namespace n47
