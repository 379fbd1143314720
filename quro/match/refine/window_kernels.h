// The inner kernel of the window scorer (window_score.h): sums of normal-template dot products over
// a square window of trial positions, one version per processor kind. Both write the same bits;
// call the AVX2 one only when use_avx2() (quro/cpu.h) says so.
#ifndef QURO_MATCH_REFINE_WINDOW_KERNELS_H
#define QURO_MATCH_REFINE_WINDOW_KERNELS_H

#include <cstddef>

namespace quro {

// Fills out[j * size + i] for the cells i, j in 0..size-1 of a window over two float maps of
// `cols` columns addressed linearly. Cell (i, j) sits at base = base0 + j * cols + i. When
// base < first or base >= limit the cell is 0 and nothing is read for it; otherwise its value is
// the sum, in point order from 0, of v_k = fma(gy[k], ny[q], gx[k] * nx[q]) with q = base + off[k],
// with |v_k| in place of v_k when `absolute`. The caller guarantees that base + off[k] lies inside
// the maps for every base in [first, limit) and every k.
void window_kernel_scalar(const float* nx, const float* ny, const std::ptrdiff_t* off,
                          const float* gx, const float* gy, std::size_t n, std::ptrdiff_t base0,
                          std::ptrdiff_t cols, std::ptrdiff_t first, std::ptrdiff_t limit,
                          int size, bool absolute, float* out);
void window_kernel_avx2(const float* nx, const float* ny, const std::ptrdiff_t* off,
                        const float* gx, const float* gy, std::size_t n, std::ptrdiff_t base0,
                        std::ptrdiff_t cols, std::ptrdiff_t first, std::ptrdiff_t limit, int size,
                        bool absolute, float* out);

}  // namespace quro

#endif  // QURO_MATCH_REFINE_WINDOW_KERNELS_H
