// Names for temporary files beside a target: ".<12 letters or digits>.tmp". Exclusive creation
// is what makes a temporary safe; the name only has to make a clash with another process,
// another save of this one or a user's file unlikely, so that creation rarely needs a retry.
#ifndef N47_PLATFORM_UNIQUE_SUFFIX_H
#define N47_PLATFORM_UNIQUE_SUFFIX_H

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace n47 {

inline constexpr std::size_t kUniqueSuffixLength = 17;

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
