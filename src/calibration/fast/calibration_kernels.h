// The inner loops of the fast calibration, built once per instruction set (see
// calibration_loops.h); the steps in fast_calibration.cpp drive whichever set the processor has.
#ifndef N47_CALIBRATION_FAST_CALIBRATION_KERNELS_H
#define N47_CALIBRATION_FAST_CALIBRATION_KERNELS_H

#include <cstddef>
#include <cstdint>

namespace n47::fast {

struct CalibrationLoops {
  void (*addFrame)(std::uint32_t* flatSum, const std::uint16_t* frame, std::size_t pixels, bool first);
  void (*averageSums)(std::uint32_t* flatSum, std::size_t pixels, int count);
  std::uint32_t (*rowSum)(const std::uint16_t* pixels, int count);
  void (*rowSquares)(const std::uint16_t* firstRow, std::ptrdiff_t stride, int count, double mean, double* out);
  double (*oneRowSquares)(const std::uint16_t* row, int count, double mean);
  int (*markRow)(std::uint16_t* pixels, std::uint8_t* cells, int count, std::int32_t above, std::int32_t below);
  void (*countMarks)(const std::uint8_t* cells, int count, std::uint16_t* columnCounts);
  std::uint32_t (*removeOffset)(std::uint32_t* values, std::size_t count);
  std::uint64_t (*wideRowSum)(const std::uint32_t* values, int count);
  void (*gainRow)(const std::uint32_t* values, int count, float mean, float* gains);
};

// Rows handed to rowSquares at once.
inline constexpr int kSquareRowsAtOnce = 8;

const CalibrationLoops& calibrationLoopsBaseline();
const CalibrationLoops& calibrationLoopsAvx2();
const CalibrationLoops& calibrationLoopsAvx512();

}  // namespace n47::fast

#endif
