// The impulse filter without vector instructions: the same shortcut as the vector kernels, one
// position at a time, for processors other than x86 and builds without the x86 kernels.
#include "correction/impulse_filter/filter_impulse_noise.h"
#include "correction/impulse_filter/impulse_filter_rows.h"

namespace n47::fast {
namespace {

struct PortableBlock {
  static constexpr int kLanes = 8;

  static void advance(std::uint32_t* sums, std::uint16_t* spreads, std::uint16_t* steps, const std::uint16_t* top,
                      int width, int count) {
    advanceColumns(sums, spreads, steps, top, width, 0, count);
  }

  static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* spreads,
                                 const std::uint16_t* steps, const std::uint16_t* centre) {
    std::uint64_t open = 0;
    for (int lane = 0; lane < kLanes; ++lane) {
      const std::int32_t sum = static_cast<std::int32_t>(sums[lane] + sums[lane + 1] + sums[lane + 2] +
                                                         sums[lane + 3] + sums[lane + 4]);
      const std::int32_t mean = (sum - 1) / 25;
      std::int32_t bound = steps[lane] + steps[lane + 3];
      for (int x = lane; x < lane + 5; ++x) bound += spreads[x];
      const std::int32_t pixel = centre[lane + 2];
      const std::int32_t e = pixel > mean ? pixel - mean : mean - 1 - pixel;
      if (5 * e >= 2 * bound) open |= std::uint64_t{1} << lane;
    }
    return open;
  }

  static std::int32_t windowDeviation(const std::uint16_t* top, int width, std::int32_t mean) {
    return windowDeviationByValues(top, width, mean);
  }

  static void leaveVectorCode() {}
};

}  // namespace

void filterImpulseNoisePortable(std::uint16_t* frame, int width, int height) {
  filterImpulseNoiseRows<PortableBlock>(frame, width, height);
}

}  // namespace n47::fast
