// AVX2 bulk of the gradient-normal rows. Kept free of library and standard headers with inline
// code, so that no AVX2-compiled copy of a shared inline function can reach the scalar path.
#include <immintrin.h>

#include "quro/match/refine/normal_kernels.h"

namespace quro {
namespace {

// 16 bytes from p widened to 16-bit lanes.
inline __m256i load16(const std::uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Unit vectors of 8 pixels from their exact gradients, stored to nx and ny.
inline void store_unit8(__m128i gx16, __m128i gy16, __m256 min_sum, float* nx, float* ny) {
    const __m256 gx = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(gx16));
    const __m256 gy = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(gy16));
    // gx^2 + gy^2 <= 2 * 1020^2 < 2^24: exact in single precision, as the integer sum converted.
    const __m256 sum = _mm256_add_ps(_mm256_mul_ps(gx, gx), _mm256_mul_ps(gy, gy));
    const __m256 keep = _mm256_cmp_ps(sum, min_sum, _CMP_GE_OQ);
    const __m256 quarter = _mm256_set1_ps(0.25f);
    const __m256 m = _mm256_mul_ps(quarter, _mm256_sqrt_ps(sum));
    // Lanes that are not kept may divide 0 by 0; the mask turns them into 0.
    const __m256 ux = _mm256_div_ps(_mm256_mul_ps(quarter, gx), m);
    const __m256 uy = _mm256_div_ps(_mm256_mul_ps(quarter, gy), m);
    _mm256_storeu_ps(nx, _mm256_and_ps(keep, ux));
    _mm256_storeu_ps(ny, _mm256_and_ps(keep, uy));
}

}  // namespace

void normal_row_avx2(const std::uint8_t* up, const std::uint8_t* cur, const std::uint8_t* down,
                     int cols, int min_sum, float* nx, float* ny) {
    const int bulk = cols - cols % 16;
    const __m256 min_sum_v = _mm256_set1_ps(static_cast<float>(min_sum));
    for (int c = 0; c < bulk; c += 16) {
        // Padded index c + k is level column c + k - 1: left, centre and right neighbours.
        const __m256i ul = load16(up + c), uc = load16(up + c + 1), ur = load16(up + c + 2);
        const __m256i cl = load16(cur + c), cr = load16(cur + c + 2);
        const __m256i dl = load16(down + c), dc = load16(down + c + 1), dr = load16(down + c + 2);
        // gx = (ur - ul) + 2 (cr - cl) + (dr - dl); gy = (dl + 2 dc + dr) - (ul + 2 uc + ur).
        const __m256i dmid = _mm256_sub_epi16(cr, cl);
        const __m256i gx = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_sub_epi16(ur, ul), _mm256_sub_epi16(dr, dl)),
            _mm256_add_epi16(dmid, dmid));
        const __m256i gy = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_sub_epi16(dl, ul), _mm256_sub_epi16(dr, ur)),
            _mm256_slli_epi16(_mm256_sub_epi16(dc, uc), 1));
        store_unit8(_mm256_castsi256_si128(gx), _mm256_castsi256_si128(gy), min_sum_v, nx + c,
                    ny + c);
        store_unit8(_mm256_extracti128_si256(gx, 1), _mm256_extracti128_si256(gy, 1), min_sum_v,
                    nx + c + 8, ny + c + 8);
    }
    if (bulk < cols) normal_row_scalar(up, cur, down, bulk, cols, min_sum, nx, ny);
}

}  // namespace quro
