// AVX2 window kernel (compiled with -mavx2 -mfma): eight window cells of one row per fused
// multiply-add step, up to eight rows at a time sharing the broadcast directions of each point.
#include <immintrin.h>

#include "quro/match/refine/window_kernels.h"

namespace quro {
namespace {

// Lanes lo .. hi - 1 of a row chunk of w lanes starting at linear position base are the cells
// whose base lies in [first, limit); lo >= hi when there is none.
struct LaneRange {
    int lo;
    int hi;
};

LaneRange readable_lanes(std::ptrdiff_t base, std::ptrdiff_t first, std::ptrdiff_t limit, int w) {
    const std::ptrdiff_t lo = first - base;
    const std::ptrdiff_t hi = limit - base;
    return LaneRange{lo <= 0 ? 0 : (lo < w ? static_cast<int>(lo) : w),
                     hi <= 0 ? 0 : (hi < w ? static_cast<int>(hi) : w)};
}

__m256i lane_mask(LaneRange r) {
    const __m256i idx = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    return _mm256_and_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(r.hi), idx),
                            _mm256_cmpgt_epi32(idx, _mm256_set1_epi32(r.lo - 1)));
}

// Accumulates Rows rows (bases base, base + cols, ...) of one 8-wide chunk into acc. Masked: lanes
// outside each row's mask are not read and stay 0.
// Absolute: each product's sign bit is cleared (`keep`); otherwise `keep` is all ones and is
// not applied (the same bits).
template <int Rows, bool Masked, bool Absolute>
void chunk_rows(const float* nx, const float* ny, const std::ptrdiff_t* off, const float* gx,
                const float* gy, std::size_t n, std::ptrdiff_t base, std::ptrdiff_t cols,
                const __m256i* masks, __m256 keep, __m256* acc) {
    // Local sums: __m256 may alias the float maps, so sums kept behind `acc` would be stored and
    // reloaded for every point.
    __m256 sum[Rows];
    for (int r = 0; r < Rows; ++r) sum[r] = _mm256_setzero_ps();
    for (std::size_t k = 0; k < n; ++k) {
        const float* px = nx + base + off[k];
        const float* py = ny + base + off[k];
        const __m256 vgx = _mm256_set1_ps(gx[k]);
        const __m256 vgy = _mm256_set1_ps(gy[k]);
        for (int r = 0; r < Rows; ++r) {
            const std::ptrdiff_t o = r * cols;
            __m256 a, b;
            if constexpr (Masked) {
                a = _mm256_maskload_ps(px + o, masks[r]);
                b = _mm256_maskload_ps(py + o, masks[r]);
            } else {
                a = _mm256_loadu_ps(px + o);
                b = _mm256_loadu_ps(py + o);
            }
            const __m256 v = _mm256_fmadd_ps(vgy, b, _mm256_mul_ps(vgx, a));
            if constexpr (Absolute)
                sum[r] = _mm256_add_ps(sum[r], _mm256_and_ps(v, keep));
            else
                sum[r] = _mm256_add_ps(sum[r], v);
        }
    }
    for (int r = 0; r < Rows; ++r) acc[r] = sum[r];
}

template <int Rows>
void chunk_dispatch(const float* nx, const float* ny, const std::ptrdiff_t* off, const float* gx,
                    const float* gy, std::size_t n, std::ptrdiff_t base, std::ptrdiff_t cols,
                    std::ptrdiff_t first, std::ptrdiff_t limit, int w, bool absolute, __m256 keep,
                    __m256* acc) {
    // Bases grow with the row: the first row is the first to lose lanes at the start of the maps,
    // the last row at their end.
    if (readable_lanes(base, first, limit, w).lo == 0 &&
        readable_lanes(base + (Rows - 1) * cols, first, limit, w).hi == 8) {
        if (absolute)
            chunk_rows<Rows, false, true>(nx, ny, off, gx, gy, n, base, cols, nullptr, keep, acc);
        else
            chunk_rows<Rows, false, false>(nx, ny, off, gx, gy, n, base, cols, nullptr, keep, acc);
        return;
    }
    __m256i masks[Rows];
    for (int r = 0; r < Rows; ++r)
        masks[r] = lane_mask(readable_lanes(base + r * cols, first, limit, w));
    if (absolute)
        chunk_rows<Rows, true, true>(nx, ny, off, gx, gy, n, base, cols, masks, keep, acc);
    else
        chunk_rows<Rows, true, false>(nx, ny, off, gx, gy, n, base, cols, masks, keep, acc);
    // Unread lanes are exactly 0, whatever the directions hold.
    for (int r = 0; r < Rows; ++r) acc[r] = _mm256_and_ps(acc[r], _mm256_castsi256_ps(masks[r]));
}

using ChunkKernel = void (*)(const float*, const float*, const std::ptrdiff_t*, const float*,
                            const float*, std::size_t, std::ptrdiff_t, std::ptrdiff_t,
                            std::ptrdiff_t, std::ptrdiff_t, int, bool, __m256, __m256*);

// Rows per block: all eight rows of the 8 x 8 window in one pass over the points, so that the
// cache lines a point reads are still near when the next point along the outline reads them.
constexpr int kBlockRows = 8;
constexpr ChunkKernel kChunkKernels[kBlockRows] = {
    chunk_dispatch<1>, chunk_dispatch<2>, chunk_dispatch<3>, chunk_dispatch<4>,
    chunk_dispatch<5>, chunk_dispatch<6>, chunk_dispatch<7>, chunk_dispatch<8>};

}  // namespace

void window_kernel_avx2(const float* nx, const float* ny, const std::ptrdiff_t* off,
                        const float* gx, const float* gy, std::size_t n, std::ptrdiff_t base0,
                        std::ptrdiff_t cols, std::ptrdiff_t first, std::ptrdiff_t limit, int size,
                        bool absolute, float* out) {
    const __m256 keep = _mm256_castsi256_ps(_mm256_set1_epi32(absolute ? 0x7fffffff : -1));
    for (int i0 = 0; i0 < size; i0 += 8) {
        const int w = size - i0 < 8 ? size - i0 : 8;
        for (int j = 0; j < size;) {
            const int rows = size - j < kBlockRows ? size - j : kBlockRows;
            const std::ptrdiff_t base = base0 + j * cols + i0;
            __m256 acc[kBlockRows];
            kChunkKernels[rows - 1](nx, ny, off, gx, gy, n, base, cols, first, limit, w, absolute,
                                    keep, acc);
            for (int r = 0; r < rows; ++r) {
                float* dst = out + static_cast<std::ptrdiff_t>(j + r) * size + i0;
                if (w == 8) {
                    _mm256_storeu_ps(dst, acc[r]);
                } else {
                    _mm256_maskstore_ps(dst, lane_mask(LaneRange{0, w}), acc[r]);
                }
            }
            j += rows;
        }
    }
}

}  // namespace quro
