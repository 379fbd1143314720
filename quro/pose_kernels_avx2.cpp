// AVX2 version of the float pose kernel: two model points per 256-bit register. It repeats the
// scalar arithmetic operation for operation (x' = x*sc, y' = y*sr; X = c*x' + s*y',
// Y = c*y' + (-s)*x'; directions alike without scales; clamp to +-2^30, add 0.5 with the value's
// sign, truncate), so both give bit-identical results. Only intrinsics are used here: no shared
// inline function is instantiated with AVX2 code generation.
#include <immintrin.h>

#include "quro/pose_kernels.h"

namespace quro {
namespace {

constexpr float kRoundLimit = 1073741824.f;  // 2^30, as round_posed

inline __m128 load_point(const Feature* p) {
    return _mm_loadu_ps(&p->x);
}

}  // namespace

PoseBox pose_features_avx2(const Feature* in, std::size_t stride, std::size_t count, float c,
                           float s, float scale_row, float scale_col, Feature* out) {
    const __m256 scale =
        _mm256_setr_ps(scale_col, scale_row, 1.f, 1.f, scale_col, scale_row, 1.f, 1.f);
    const __m256 vc = _mm256_set1_ps(c);
    const __m256 vs = _mm256_setr_ps(s, -s, s, -s, s, -s, s, -s);
    const __m256 sign_bit = _mm256_set1_ps(-0.f);
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 lo = _mm256_set1_ps(-kRoundLimit);
    const __m256 hi = _mm256_set1_ps(kRoundLimit);
    __m256i mn = _mm256_set1_epi32(0x7fffffff);
    __m256i mx = _mm256_set1_epi32(static_cast<int>(0x80000000u));

    // Four lanes per point: (X, Y, gx', gy'). The direction lanes are rounded too; only lanes 0, 1
    // (first point) and 4, 5 (second point) reach the box.
    auto pose = [&](__m256 v) {
        v = _mm256_mul_ps(v, scale);
        const __m256 swapped = _mm256_permute_ps(v, _MM_SHUFFLE(2, 3, 0, 1));
        return _mm256_add_ps(_mm256_mul_ps(vc, v), _mm256_mul_ps(vs, swapped));
    };
    auto round_into_box = [&](__m256 r) {
        // max_ps returns its second operand for NaN, so NaN becomes -2^30 as in round_posed.
        const __m256 clamped = _mm256_min_ps(_mm256_max_ps(r, lo), hi);
        const __m256 signed_half = _mm256_or_ps(_mm256_and_ps(clamped, sign_bit), half);
        const __m256i t = _mm256_cvttps_epi32(_mm256_add_ps(clamped, signed_half));
        mn = _mm256_min_epi32(mn, t);
        mx = _mm256_max_epi32(mx, t);
    };

    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m256 v =
            _mm256_set_m128(load_point(in + (i + 1) * stride), load_point(in + i * stride));
        const __m256 r = pose(v);
        _mm256_storeu_ps(&out[i].x, r);
        round_into_box(r);
    }
    if (i < count) {
        // The last point: posed in the low half; the high half repeats it, which leaves the box
        // unchanged.
        const __m128 p = load_point(in + i * stride);
        const __m256 r = pose(_mm256_set_m128(p, p));
        _mm_storeu_ps(&out[i].x, _mm256_castps256_ps128(r));
        round_into_box(r);
    }

    alignas(32) int lo_lanes[8];
    alignas(32) int hi_lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lo_lanes), mn);
    _mm256_store_si256(reinterpret_cast<__m256i*>(hi_lanes), mx);
    PoseBox box;
    box.min_x = lo_lanes[0] < lo_lanes[4] ? lo_lanes[0] : lo_lanes[4];
    box.min_y = lo_lanes[1] < lo_lanes[5] ? lo_lanes[1] : lo_lanes[5];
    box.max_x = hi_lanes[0] > hi_lanes[4] ? hi_lanes[0] : hi_lanes[4];
    box.max_y = hi_lanes[1] > hi_lanes[5] ? hi_lanes[1] : hi_lanes[5];
    return box;
}

}  // namespace quro
