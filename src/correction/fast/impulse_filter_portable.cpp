// The impulse filter without vector instructions: the same shortcut as the vector kernels, one
// position at a time, for processors other than x86.
#include "correction/fast/impulse_filter_kernels.h"
#include "correction/fast/impulse_filter_rows.h"

namespace n47::fast {
namespace {

struct PortableBlock {
  static constexpr int kLanes = 8;

  static void slide(std::uint32_t* sums, const std::uint16_t* leaving, const std::uint16_t* entering, int count) {
    for (int x = 0; x < count; ++x) sums[x] += static_cast<std::uint32_t>(entering[x]) - leaving[x];
  }

  // The pixel is inside its band when 5e <= 2D, with D = (S - 25m) + 2 sum max(m - v, 0); the
  // middle three window rows alone give a lower bound of D that settles most positions.
  static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* top, int width) {
    std::uint64_t open = 0;
    for (int lane = 0; lane < kLanes; ++lane) {
      const std::int32_t sum = static_cast<std::int32_t>(sums[lane] + sums[lane + 1] + sums[lane + 2] +
                                                         sums[lane + 3] + sums[lane + 4]);
      const std::int32_t mean = (sum - 1) / 25;
      std::int32_t below = 0;
      for (int y = 1; y <= 3; ++y)
        for (int x = 0; x < 5; ++x) {
          const std::int32_t v = top[y * width + lane + x];
          below += v < mean ? mean - v : 0;
        }
      const std::int32_t pixel = top[2 * width + lane + 2];
      const std::int32_t e = pixel > mean ? pixel - mean : mean - 1 - pixel;
      if (5 * e > 2 * (sum - 25 * mean + 2 * below)) open |= std::uint64_t{1} << lane;
    }
    return open;
  }

  static void leaveVectorCode() {}
};

}  // namespace

void filterImpulseNoisePortable(std::uint16_t* frame, int width, int height) {
  filterImpulseNoiseRows<PortableBlock>(frame, width, height);
}

}  // namespace n47::fast
