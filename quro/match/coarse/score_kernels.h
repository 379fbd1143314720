// Kernels of the score accumulation: one-lane versions (score_accumulation.cpp) and 32-lane AVX2
// versions (score_kernels_avx2.cpp) that give the same bytes. Call the AVX2 ones only when
// use_avx2() (quro/cpu.h) says so.
#ifndef QURO_MATCH_COARSE_SCORE_KERNELS_H
#define QURO_MATCH_COARSE_SCORE_KERNELS_H

#include <cstddef>
#include <cstdint>

namespace quro {

// Adds the rows srcs[0], ..., srcs[count - 1] (each at least n bytes), in that order, into
// acc[0 .. n): acc[i] = sat16(... sat16(sat16(acc[i] + srcs[0][i]) + srcs[1][i]) ...).
void accumulate_rows_scalar(std::int16_t* acc, const std::int8_t* const* srcs, int count,
                            std::size_t n);
void accumulate_rows_avx2(std::int16_t* acc, const std::int8_t* const* srcs, int count,
                          std::size_t n);

// The same sum for rows whose bytes lie in [-kMaxResponse, kMaxResponse] and count <=
// kNarrowRows, where no addition saturates (|acc[i]| + count * kMaxResponse <= 32767 for every i):
// the rows are first summed in bytes (at most 16 * 4 = 64, exact), then added to acc once. Without
// saturation the order of the additions does not matter, so it gives the bytes of the wide kernels.
inline constexpr int kMaxResponse = 4;
inline constexpr int kNarrowRows = 16;
void accumulate_rows_narrow_avx2(std::int16_t* acc, const std::int8_t* const* srcs, int count,
                                 std::size_t n);

// For i in [0, n): polarity[i] = -1 and score[i] = |score[i]| (32767 for -32768) where
// score[i] < 0; polarity[i] = +1 and score[i] unchanged elsewhere.
void fold_sign_scalar(std::int16_t* score, std::int8_t* polarity, std::size_t n);
void fold_sign_avx2(std::int16_t* score, std::int8_t* polarity, std::size_t n);

}  // namespace quro

#endif  // QURO_MATCH_COARSE_SCORE_KERNELS_H
