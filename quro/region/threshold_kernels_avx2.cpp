// AVX2 twin of mark_row_scalar: 64 pixels per word, the last partial word by the scalar kernel.
#include <immintrin.h>

#include <cstdint>

#include "quro/region/threshold_kernels.h"

namespace quro {

void mark_row_avx2(const unsigned char* row, int width, int lo, int hi, std::uint64_t* words) {
    const __m256i vlo = _mm256_set1_epi8(static_cast<char>(lo));
    const __m256i vhi = _mm256_set1_epi8(static_cast<char>(hi));
    const auto marks32 = [&](const unsigned char* p) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i above = _mm256_cmpeq_epi8(_mm256_max_epu8(v, vlo), v);
        const __m256i below = _mm256_cmpeq_epi8(_mm256_min_epu8(v, vhi), v);
        return static_cast<std::uint64_t>(
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(above, below))));
    };
    int x = 0;
    for (; x + 64 <= width; x += 64) words[x >> 6] = marks32(row + x) | marks32(row + x + 32) << 32;
    if (x < width) mark_row_scalar(row + x, width - x, lo, hi, words + (x >> 6));
}

}  // namespace quro
