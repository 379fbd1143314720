// Row kernels of the gradient normals. Declarations only: this header is included by the AVX2
// translation unit, which must not instantiate inline code shared with the rest of the library.
#ifndef QURO_MATCH_REFINE_NORMAL_KERNELS_H
#define QURO_MATCH_REFINE_NORMAL_KERNELS_H

#include <cstdint>

namespace quro {

// An upper bound of the squared Sobel gradient length gx^2 + gy^2 (|gx|, |gy| <= 1020).
inline constexpr int kMaxGradientSum = 2 * 1020 * 1020;

// One output row of the normal maps from three padded input rows (above, current, below). A
// padded row holds cols + 2 bytes: index j is level column j - 1, so index 0 repeats column 0 and
// index cols + 1 repeats column cols - 1. Writes nx[c] and ny[c] for c in [begin, end): the unit
// Sobel gradient (0.25 gx / m, 0.25 gy / m) with m = 0.25 * sqrt(gx^2 + gy^2) in single precision
// where gx^2 + gy^2 >= min_sum, 0 elsewhere. min_sum >= 1 is the threshold turned into a squared
// length, so that the keep test is one exact comparison (and a flat pixel is never kept, whatever
// the threshold).
void normal_row_scalar(const std::uint8_t* up, const std::uint8_t* cur, const std::uint8_t* down,
                       int begin, int end, int min_sum, float* nx, float* ny);

// The same for a whole row of cols pixels with AVX2: 16 pixels a step for the bulk, the rest of the
// row through normal_row_scalar. Bit-identical to normal_row_scalar. Call only when the processor
// runs AVX2 code.
void normal_row_avx2(const std::uint8_t* up, const std::uint8_t* cur, const std::uint8_t* down,
                     int cols, int min_sum, float* nx, float* ny);

}  // namespace quro

#endif  // QURO_MATCH_REFINE_NORMAL_KERNELS_H
