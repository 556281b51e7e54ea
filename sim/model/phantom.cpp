#include "model/phantom.h"

namespace n47sim {
namespace {

constexpr int kWedgeTop = 160, kWedgeBottom = 460, kWedgeLeft = 224, kWedgeSteps = 8, kStepWidth = 200;
constexpr int kBarsTop = 600, kBarsBottom = 860, kBarsLeft = 224;
constexpr int kBarPeriods[] = {40, 24, 16, 10, 6, 4};  // pixels per line pair
constexpr int kBarGroupWidth = 240, kBarGroupGap = 40;
constexpr int kDiscRow = 1160;

struct Disc {
  int column, radius;
  double transmission;
};
constexpr Disc kDiscs[] = {{300, 90, 0.45}, {560, 70, 0.6}, {780, 50, 0.75}, {960, 35, 0.85},
                           {1110, 24, 0.9}, {1230, 16, 0.94}, {1330, 10, 0.97}, {1650, 160, 0.7}};

}  // namespace

double phantomTransmission(int row, int column) {
  if (row >= kWedgeTop && row < kWedgeBottom && column >= kWedgeLeft && column < kWedgeLeft + kWedgeSteps * kStepWidth) {
    const int step = (column - kWedgeLeft) / kStepWidth;
    return 1.0 - 0.11 * (step + 1);
  }
  if (row >= kBarsTop && row < kBarsBottom && column >= kBarsLeft) {
    const int group = (column - kBarsLeft) / (kBarGroupWidth + kBarGroupGap);
    const int within = (column - kBarsLeft) % (kBarGroupWidth + kBarGroupGap);
    if (group < static_cast<int>(sizeof(kBarPeriods) / sizeof(kBarPeriods[0])) && within < kBarGroupWidth) {
      const int period = kBarPeriods[group];
      return within % period < period / 2 ? 0.35 : 1.0;
    }
  }
  for (const Disc& disc : kDiscs) {
    const int dy = row - kDiscRow, dx = column - disc.column;
    if (dx * dx + dy * dy <= disc.radius * disc.radius) return disc.transmission;
  }
  return 1.0;
}

}  // namespace n47sim
