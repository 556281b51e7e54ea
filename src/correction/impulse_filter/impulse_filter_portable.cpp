// The impulse filter without vector instructions: the same shortcut as the vector kernels, one
// position at a time, for processors other than x86 and builds without the x86 kernels.
#include "correction/impulse_filter/filter_impulse_noise.h"
#include "correction/impulse_filter/impulse_filter_rows.h"

namespace n47::fast {
namespace {

struct PortableBlock {
  static constexpr int kLanes = 8;

  static void advance(std::uint32_t* sums, std::uint16_t* averages, const std::uint16_t* top, int width, int count) {
    advanceColumns(sums, averages, top, width, 0, count);
  }

  static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* averages,
                                 const std::uint16_t* centre) {
    std::uint64_t open = 0;
    for (int lane = 0; lane < kLanes; ++lane) {
      const std::int32_t sum = static_cast<std::int32_t>(sums[lane] + sums[lane + 1] + sums[lane + 2] +
                                                         sums[lane + 3] + sums[lane + 4]);
      const std::int32_t mean = (sum - 1) / 25;
      std::int32_t below = 0;
      for (int x = lane; x < lane + 5; ++x) {
        below += averages[x] < mean ? 4 * (mean - averages[x]) : 0;
        below += centre[x] < mean ? mean - centre[x] : 0;
      }
      const std::int32_t pixel = centre[lane + 2];
      const std::int32_t e = pixel > mean ? pixel - mean : mean - 1 - pixel;
      if (5 * e > 4 * below) open |= std::uint64_t{1} << lane;
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
