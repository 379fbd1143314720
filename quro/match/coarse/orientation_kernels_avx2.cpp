// AVX2 row kernels of the orientation codes and response maps (compiled with -mavx2).
#include <immintrin.h>

#include "quro/match/coarse/orientation_kernels.h"

namespace quro {
namespace {

inline __m256i load16u8(const std::uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Codes of 16 pixels (columns c .. c + 15 of the row; c >= 1) as 16-bit lanes.
inline __m256i code16(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                      std::size_t c, __m256i threshold) {
    const __m256i ul = load16u8(up + c - 1), uc = load16u8(up + c), ur = load16u8(up + c + 1);
    const __m256i dl = load16u8(down + c - 1), dc = load16u8(down + c), dr = load16u8(down + c + 1);
    const __m256i ml = load16u8(mid + c - 1), mr = load16u8(mid + c + 1);
    // Sobel in 16 bits (|g| <= 1020).
    const __m256i gx = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_sub_epi16(ur, ul), _mm256_sub_epi16(dr, dl)),
        _mm256_slli_epi16(_mm256_sub_epi16(mr, ml), 1));
    const __m256i gy = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_sub_epi16(dl, ul), _mm256_sub_epi16(dr, ur)),
        _mm256_slli_epi16(_mm256_sub_epi16(dc, uc), 1));
    const __m256i ax = _mm256_abs_epi16(gx);
    const __m256i ay = _mm256_abs_epi16(gy);
    // Pairs (gx, gy) and (ax, ay) in 32-bit lanes: madd_epi16 gives gx^2 + gy^2 and
    // 4096 * ax - boundary * ay exactly. The in-lane unpack and the later packs_epi32 undo each
    // other, so pixel order is kept.
    const __m256i g_lo = _mm256_unpacklo_epi16(gx, gy), g_hi = _mm256_unpackhi_epi16(gx, gy);
    const __m256i a_lo = _mm256_unpacklo_epi16(ax, ay), a_hi = _mm256_unpackhi_epi16(ax, ay);
    const __m256i strong = _mm256_packs_epi32(
        _mm256_cmpgt_epi32(_mm256_madd_epi16(g_lo, g_lo), threshold),
        _mm256_cmpgt_epi32(_mm256_madd_epi16(g_hi, g_hi), threshold));
    const __m256i zero = _mm256_setzero_si256();
    // f = 4 minus the number of boundaries that the direction lies strictly below.
    __m256i below = zero;  // counts down in 32-bit lanes
    __m256i below_hi = zero;
    for (int boundary : kBinBoundary) {
        const __m256i w = _mm256_unpacklo_epi16(_mm256_set1_epi16(4096),
                                                _mm256_set1_epi16(static_cast<short>(-boundary)));
        below = _mm256_add_epi32(below, _mm256_cmpgt_epi32(zero, _mm256_madd_epi16(a_lo, w)));
        below_hi = _mm256_add_epi32(below_hi, _mm256_cmpgt_epi32(zero, _mm256_madd_epi16(a_hi, w)));
    }
    const __m256i f = _mm256_add_epi16(_mm256_set1_epi16(4), _mm256_packs_epi32(below, below_hi));
    // Quadrants: gy < 0 mirrors to 8 - f, then gx < 0 mirrors to (16 - that) mod 16.
    const __m256i gy_neg = _mm256_cmpgt_epi16(zero, gy);
    const __m256i gx_neg = _mm256_cmpgt_epi16(zero, gx);
    const __m256i half = _mm256_blendv_epi8(f, _mm256_sub_epi16(_mm256_set1_epi16(8), f), gy_neg);
    const __m256i mirrored =
        _mm256_and_si256(_mm256_sub_epi16(_mm256_set1_epi16(16), half), _mm256_set1_epi16(15));
    const __m256i bin = _mm256_blendv_epi8(half, mirrored, gx_neg);
    return _mm256_and_si256(_mm256_add_epi16(bin, _mm256_set1_epi16(1)), strong);
}

}  // namespace

void code_row_avx2(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                   std::uint8_t* out, std::size_t n, int threshold) {
    const __m256i thr = _mm256_set1_epi32(threshold);
    std::size_t c = 1;
    for (; c + 32 <= n + 1; c += 32) {
        const __m256i a = code16(up, mid, down, c, thr);
        const __m256i b = code16(up, mid, down, c + 16, thr);
        // packus works per 128-bit lane; the 64-bit permutation restores pixel order.
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c - 1), bytes);
    }
    if (c <= n) code_row_scalar(up + c - 1, mid + c - 1, down + c - 1, out + c - 1, n + 1 - c,
                                threshold);
}

void response_span_avx2(const std::uint8_t* codes, std::int8_t* const* maps, std::size_t n,
                        const std::int8_t (*lut)[16]) {
    __m256i tables[16];
    for (int k = 0; k < 16; ++k) {
        tables[k] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(lut[k])));
    }
    const __m256i one = _mm256_set1_epi8(1);
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        // Index code - 1: code 0 becomes 0xFF, whose high bit makes the shuffle write 0.
        const __m256i idx = _mm256_sub_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(codes + i)), one);
        for (int k = 0; k < 16; ++k) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(maps[k] + i),
                                _mm256_shuffle_epi8(tables[k], idx));
        }
    }
    if (i < n) {
        std::int8_t* tail[16];
        for (int k = 0; k < 16; ++k) tail[k] = maps[k] + i;
        response_span_scalar(codes + i, tail, n - i, lut);
    }
}

}  // namespace quro
