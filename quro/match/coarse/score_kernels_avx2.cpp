// 32-lane kernels of the score accumulation (compiled with -mavx2).
#include <immintrin.h>

#include "quro/match/coarse/score_kernels.h"

namespace quro {
namespace {

// Sign-extended bytes p[0..15] as 16 int16 lanes.
__m256i widen16(const std::int8_t* p) {
    return _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

__m256i load_acc(const std::int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

void store_acc(std::int16_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

int clamp16(int v) {
    return v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
}

}  // namespace

void accumulate_rows_avx2(std::int16_t* acc, const std::int8_t* const* srcs, int count,
                          std::size_t n) {
    std::size_t i = 0;
    // 64 positions per step: four independent accumulators hide the latency of the adds.
    for (; i + 64 <= n; i += 64) {
        __m256i a0 = load_acc(acc + i), a1 = load_acc(acc + i + 16);
        __m256i a2 = load_acc(acc + i + 32), a3 = load_acc(acc + i + 48);
        for (int j = 0; j < count; ++j) {
            const std::int8_t* p = srcs[j] + i;
            a0 = _mm256_adds_epi16(a0, widen16(p));
            a1 = _mm256_adds_epi16(a1, widen16(p + 16));
            a2 = _mm256_adds_epi16(a2, widen16(p + 32));
            a3 = _mm256_adds_epi16(a3, widen16(p + 48));
        }
        store_acc(acc + i, a0);
        store_acc(acc + i + 16, a1);
        store_acc(acc + i + 32, a2);
        store_acc(acc + i + 48, a3);
    }
    for (; i + 32 <= n; i += 32) {
        __m256i a0 = load_acc(acc + i), a1 = load_acc(acc + i + 16);
        for (int j = 0; j < count; ++j) {
            const std::int8_t* p = srcs[j] + i;
            a0 = _mm256_adds_epi16(a0, widen16(p));
            a1 = _mm256_adds_epi16(a1, widen16(p + 16));
        }
        store_acc(acc + i, a0);
        store_acc(acc + i + 16, a1);
    }
    for (; i < n; ++i) {
        int v = acc[i];
        for (int j = 0; j < count; ++j) v = clamp16(v + srcs[j][i]);
        acc[i] = static_cast<std::int16_t>(v);
    }
}

void accumulate_rows_narrow_avx2(std::int16_t* acc, const std::int8_t* const* srcs, int count,
                                 std::size_t n) {
    std::size_t i = 0;
    // 64 positions per step: the rows summed in two byte vectors, then widened into the four
    // int16 accumulators once per step instead of once per row.
    for (; i + 64 <= n; i += 64) {
        __m256i s0 = _mm256_setzero_si256(), s1 = _mm256_setzero_si256();
        for (int j = 0; j < count; ++j) {
            const std::int8_t* p = srcs[j] + i;
            s0 = _mm256_add_epi8(s0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
            s1 = _mm256_add_epi8(s1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)));
        }
        const __m256i w0 = _mm256_cvtepi8_epi16(_mm256_castsi256_si128(s0));
        const __m256i w1 = _mm256_cvtepi8_epi16(_mm256_extracti128_si256(s0, 1));
        const __m256i w2 = _mm256_cvtepi8_epi16(_mm256_castsi256_si128(s1));
        const __m256i w3 = _mm256_cvtepi8_epi16(_mm256_extracti128_si256(s1, 1));
        store_acc(acc + i, _mm256_adds_epi16(load_acc(acc + i), w0));
        store_acc(acc + i + 16, _mm256_adds_epi16(load_acc(acc + i + 16), w1));
        store_acc(acc + i + 32, _mm256_adds_epi16(load_acc(acc + i + 32), w2));
        store_acc(acc + i + 48, _mm256_adds_epi16(load_acc(acc + i + 48), w3));
    }
    // The rest (fewer than 64 positions) on the wide path: the same sums without saturation.
    if (i < n) {
        const std::int8_t* rest[kNarrowRows];
        for (int j = 0; j < count; ++j) rest[j] = srcs[j] + i;
        accumulate_rows_avx2(acc + i, rest, count, n - i);
    }
}

void fold_sign_avx2(std::int16_t* score, std::int8_t* polarity, std::size_t n) {
    const __m256i zero = _mm256_setzero_si256();
    const __m128i one = _mm_set1_epi8(1);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i v = load_acc(score + i);
        // max(v, 0 -sat v): |v|, and 32767 for -32768 (abs_epi16 would keep -32768).
        store_acc(score + i, _mm256_max_epi16(v, _mm256_subs_epi16(zero, v)));
        const __m256i neg = _mm256_cmpgt_epi16(zero, v);
        const __m128i bytes =
            _mm_packs_epi16(_mm256_castsi256_si128(neg), _mm256_extracti128_si256(neg, 1));
        // -1 | 1 = -1, 0 | 1 = 1.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(polarity + i), _mm_or_si128(bytes, one));
    }
    for (; i < n; ++i) {
        const int v = score[i];
        polarity[i] = v < 0 ? -1 : 1;
        score[i] = static_cast<std::int16_t>(clamp16(v < 0 ? -v : v));
    }
}

}  // namespace quro
