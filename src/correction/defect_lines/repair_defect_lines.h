// The defect-line repair has the literal form only: it touches just the few marked lines.
#ifndef N47_CORRECTION_DEFECT_LINES_REPAIR_DEFECT_LINES_H
#define N47_CORRECTION_DEFECT_LINES_REPAIR_DEFECT_LINES_H

#include <cstdint>

#include "common/geometry.h"

namespace n47 {

// Lines closer than this to an edge are not fitted.
inline constexpr int kLineFitMargin = 10;

// Repairs every row, then every column, that the map's markers flag as defective. Rows and
// columns 10 or more from the edges are fitted and replaced; a marked column within three of
// the left or right edge copies its left neighbour (column 0 copies column 1); any other
// marked line is left as it is.
void repairDefectLines(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);

// Fits and replaces row y (10 <= y <= height - 11) / column x (10 <= x <= width - 11).
void repairRow(std::uint16_t* frame, int width, int height, int y);
void repairColumn(std::uint16_t* frame, int width, int height, int x);

// Least-squares line through intercept b over the n profile values outside the hole of
// half-width h around the centre; writes t[i] * slope + b for every i into fitted.
void fitLine(double* fitted, const double* profile, int n, int h, double b, const int* t);

// measured / fitted over the 2h + 1 positions of the hole (measured * 10 where fitted is 0).
void profileRatios(double* ratios, const double* fitted, const double* measured, int n, int h);

}  // namespace n47

#endif
