// Names for temporary files beside a target: ".<12 letters or digits>.tmp". Exclusive creation
// is what makes a temporary safe; the name only has to make a clash with another process,
// another save of this one or a user's file unlikely, so that creation rarely needs a retry.
// A target whose name is near the longest a file system allows gets its temporary from a
// shortened stem, so that every name a target may have can be saved.
#ifndef N47_PLATFORM_UNIQUE_SUFFIX_H
#define N47_PLATFORM_UNIQUE_SUFFIX_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace n47 {

inline constexpr std::size_t kUniqueSuffixLength = 17;
// The longest file name the usual file systems take: bytes on POSIX, UTF-16 units on Windows.
inline constexpr std::size_t kMaxNameLength = 255;

// Where the suffix goes in `path` (`length` characters, its last component starting at
// `nameStart`): at the end, unless the component and the suffix together would be too long a
// name; then the component is cut, never inside a character of several units, so that the
// temporary's name is no longer than the longest legal one.
template <typename Char>
std::size_t suffixPosition(const Char* path, std::size_t nameStart, std::size_t length) {
  if (length - nameStart + kUniqueSuffixLength <= kMaxNameLength) return length;
  std::size_t end = nameStart + (kMaxNameLength - kUniqueSuffixLength);
  const auto continues = [](Char c) {
    const auto unit = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
    return sizeof(Char) == 1 ? (unit & 0xC0u) == 0x80u : (unit & 0xFC00u) == 0xDC00u;  // UTF-8, UTF-16
  };
  while (end > nameStart && continues(path[end])) --end;
  return end;
}

// Writes the suffix and a terminating zero at `out` (kUniqueSuffixLength + 1 characters).
// `processId` keeps two processes apart; the clock and a counter keep saves apart.
template <typename Char>
void writeUniqueSuffix(Char* out, std::uint64_t processId) {
  static std::uint64_t counter = 0;
  std::uint64_t x = processId * 0x9E3779B97F4A7C15u ^
                    static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (++counter << 48) ^ reinterpret_cast<std::uintptr_t>(&x);
  // splitmix64: every input bit reaches every output bit.
  x += 0x9E3779B97F4A7C15u;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
  x ^= x >> 31;
  static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz012345";  // 32: five bits each
  *out++ = '.';
  for (int i = 0; i < 12; ++i, x >>= 5) *out++ = static_cast<Char>(kDigits[x & 31]);
  for (const char c : {'.', 't', 'm', 'p'}) *out++ = static_cast<Char>(c);
  *out = 0;
}

}  // namespace n47

#endif
