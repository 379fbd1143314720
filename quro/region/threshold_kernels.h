// The marking kernel of thresholding: one image row turned into a bit set, bit x of word x / 64
// set when pixel x is foreground. A scalar version (threshold.cpp) and an AVX2 version
// (threshold_kernels_avx2.cpp) write the same words; use_avx2() (quro/cpu.h) picks one.
#ifndef QURO_REGION_THRESHOLD_KERNELS_H
#define QURO_REGION_THRESHOLD_KERNELS_H

#include <cstdint>

namespace quro {

// Writes (width + 63) / 64 words for the `width` pixels of `row`: bit set where lo <= pixel <= hi
// (lo <= hi, both within 0..255), bits beyond the last column 0.
void mark_row_scalar(const unsigned char* row, int width, int lo, int hi, std::uint64_t* words);
void mark_row_avx2(const unsigned char* row, int width, int lo, int hi, std::uint64_t* words);

}  // namespace quro

#endif  // QURO_REGION_THRESHOLD_KERNELS_H
