// Reads typed values from a fuzzer's input; past its end every read gives 0, so each input,
// however short, is a complete case.
#ifndef N47_FUZZ_FUZZ_INPUT_H
#define N47_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A broken promise of the library under test: report it and abort, which the fuzzer and
// the replay test both count as a failure.
#define N47_FUZZ_CHECK(condition)                                                          \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

namespace n47fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return offset_ >= size_; }
  std::size_t remaining() const { return empty() ? 0 : size_ - offset_; }

  std::uint8_t byte() { return empty() ? 0 : data_[offset_++]; }

  template <typename T>
  T value() {
    std::uint8_t bytes[sizeof(T)] = {};
    take(bytes, sizeof(T));
    T result;
    std::memcpy(&result, bytes, sizeof(T));
    return result;
  }

  // Copies up to `count` bytes and returns how many there were.
  std::size_t take(std::uint8_t* destination, std::size_t count) {
    const std::size_t available = count < remaining() ? count : remaining();
    if (available > 0) std::memcpy(destination, data_ + offset_, available);
    offset_ += available;
    return available;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

}  // namespace n47fuzz

#endif
