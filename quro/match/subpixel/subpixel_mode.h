// The sub-pixel step a search runs on its last level, as callers code it.
#ifndef QURO_MATCH_SUBPIXEL_SUBPIXEL_MODE_H
#define QURO_MATCH_SUBPIXEL_SUBPIXEL_MODE_H

namespace quro {

// Sub-pixel step of the last level: 0 none, 1 score peak fit, 2/4/5 least squares on the last
// level searched (2, 3, 4 iterations), 3 least squares at full resolution after stopping one level
// above it. A negative code gives a negative mode: no sub-pixel step.
enum SubpixelMode : int {
    kSubpixelNone = 0,
    kSubpixelPeakFit = 1,
    kSubpixelLeastSquares2 = 2,
    kSubpixelLeastSquaresFull = 3,
    kSubpixelLeastSquares3 = 4,
    kSubpixelLeastSquares4 = 5,
};

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_SUBPIXEL_MODE_H
