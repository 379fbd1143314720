// Row kernels of the orientation codes and response maps: one-lane versions, and AVX2 versions
// (orientation_kernels_avx2.cpp) that write the same bytes. Call the AVX2 ones only when
// use_avx2() (quro/cpu.h) says so.
#ifndef QURO_MATCH_COARSE_ORIENTATION_KERNELS_H
#define QURO_MATCH_COARSE_ORIENTATION_KERNELS_H

#include <cstddef>
#include <cstdint>

namespace quro {

// Direction bin 0..15 of the gradient (gx, gy), measured from +y (down the rows) towards +x in
// steps of 22.5 degrees, rounded to the nearest bin; a value exactly on a bin boundary goes to
// the bin farther from the nearest axis bin (exact integer comparisons in 12-bit fixed point).
// (0, 0) gives 4, like any gradient with gy == 0 and gx >= 0.
int orientation_bin16(int gx, int gy);

// Bin boundaries of the orientation codes: 4096 * tan of 11.25, 33.75, 56.25 and 78.75 degrees
// (12-bit fixed point). A gradient with 4096 * |gx| >= kBinBoundary[i] * |gy| lies at or beyond
// boundary i from the row axis. The last one is the nearest integer to 4096 * tan 78.75 degrees
// (20591.98), so that image pixels and model points (quantize_direction16) bin alike there.
inline constexpr int kBinBoundary[4] = {815, 2736, 6128, 20592};

// Code of one pixel with Sobel gradient (gx, gy): orientation_bin16(gx, gy) + 1 when
// gx^2 + gy^2 > threshold (strictly), else 0. |gx|, |gy| <= 1020 (Sobel of 8-bit values).
int orientation_code(int gx, int gy, int threshold);

// Codes of the pixels 1..n of one image row: `up`, `mid` and `down` point at column 0 of the rows
// above, at and below it (each at least n + 2 pixels long); out[i] is the orientation_code of
// column i + 1 from its 3x3 Sobel gradient. The 3x3 neighbourhoods lie inside the rows, so no
// border rule is involved.
void code_row_scalar(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                     std::uint8_t* out, std::size_t n, int threshold);
void code_row_avx2(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                   std::uint8_t* out, std::size_t n, int threshold);

// For i in [0, n) and every k in 0..15: maps[k][i] = lut[k][(codes[i] - 1) & 15] when
// (std::uint8_t)(codes[i] - 1) is below 128, else 0. Code 0 thus writes 0, codes 1..16 read the
// table; the rule also fixes a value for the codes above 16 that the quantiser never writes.
void response_span_scalar(const std::uint8_t* codes, std::int8_t* const* maps, std::size_t n,
                          const std::int8_t (*lut)[16]);
void response_span_avx2(const std::uint8_t* codes, std::int8_t* const* maps, std::size_t n,
                        const std::int8_t (*lut)[16]);

}  // namespace quro

#endif  // QURO_MATCH_COARSE_ORIENTATION_KERNELS_H
