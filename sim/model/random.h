// A small, fast generator whose sequence is the same on every compiler and platform (the
// standard library's distributions are not), so a seed repeats a run everywhere.
#ifndef N47SIM_MODEL_RANDOM_H
#define N47SIM_MODEL_RANDOM_H

#include <cmath>
#include <cstdint>

namespace n47sim {

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  int below(int limit) { return static_cast<int>(next() % static_cast<std::uint64_t>(limit)); }
  // Standard normal (Box-Muller; the second value of each pair is kept for the next call).
  double normal() {
    if (haveSpare_) {
      haveSpare_ = false;
      return spare_;
    }
    const double u1 = 1.0 - uniform();
    const double u2 = uniform();
    const double radius = std::sqrt(-2.0 * std::log(u1));
    spare_ = radius * std::sin(6.283185307179586 * u2);
    haveSpare_ = true;
    return radius * std::cos(6.283185307179586 * u2);
  }

 private:
  std::uint64_t state_;
  double spare_ = 0.0;
  bool haveSpare_ = false;
};

}  // namespace n47sim

#endif
