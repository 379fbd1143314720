#include "quro/match/coarse/orientation_kernels.h"

#include <cstdlib>

namespace quro {

int orientation_bin16(int gx, int gy) {
    const long long ax = std::llabs(gx);
    const long long ay = std::llabs(gy);
    int f = 4;
    if (ay != 0) {
        const long long a = ax * 4096;
        f = 0;
        while (f < 4 && a >= ay * kBinBoundary[f]) ++f;  // equality goes to the higher f
    }
    if (gx >= 0) return gy >= 0 ? f : 8 - f;
    return gy < 0 ? 8 + f : (16 - f) & 15;
}

int orientation_code(int gx, int gy, int threshold) {
    return gx * gx + gy * gy > threshold ? orientation_bin16(gx, gy) + 1 : 0;
}

void code_row_scalar(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                     std::uint8_t* out, std::size_t n, int threshold) {
    for (std::size_t c = 1; c <= n; ++c) {
        const int gx = (up[c + 1] + 2 * mid[c + 1] + down[c + 1]) -
                       (up[c - 1] + 2 * mid[c - 1] + down[c - 1]);
        const int gy = (down[c - 1] + 2 * down[c] + down[c + 1]) -
                       (up[c - 1] + 2 * up[c] + up[c + 1]);
        out[c - 1] = static_cast<std::uint8_t>(orientation_code(gx, gy, threshold));
    }
}

void response_span_scalar(const std::uint8_t* codes, std::int8_t* const* maps, std::size_t n,
                          const std::int8_t (*lut)[16]) {
    for (std::size_t i = 0; i < n; ++i) {
        const auto idx = static_cast<std::uint8_t>(codes[i] - 1);
        if (idx & 0x80) {
            for (int k = 0; k < 16; ++k) maps[k][i] = 0;
        } else {
            for (int k = 0; k < 16; ++k) maps[k][i] = lut[k][idx & 15];
        }
    }
}

}  // namespace quro
