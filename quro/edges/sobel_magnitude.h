// The 3x3 Sobel gradient of 8-bit rows and its magnitude, scaled by 0.25, shared by the
// filter-based edge detector and the sub-pixel gradient peak so that both see the same bits.
#ifndef QURO_EDGES_SOBEL_MAGNITUDE_H
#define QURO_EDGES_SOBEL_MAGNITUDE_H

#include <cmath>
#include <cstdint>

namespace quro {

// Plain integer Sobel sums at column c of three consecutive rows; cl and cr are the columns used
// as left and right neighbours (c - 1 and c + 1 inside the image).
inline void sobel_sums(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                       int cl, int c, int cr, int& sx, int& sy) {
    sx = (up[cr] - up[cl]) + 2 * (mid[cr] - mid[cl]) + (down[cr] - down[cl]);
    sy = (down[cl] + 2 * down[c] + down[cr]) - (up[cl] + 2 * up[c] + up[cr]);
}

// sqrt(sx^2 + sy^2) * 0.25. The sum of squares is at most 2 * 1020^2 < 2^24, so it is exact in
// float, and the result equals the magnitude of the 0.25-scaled Sobel components bit for bit.
inline float magnitude_from_square(int sq) {
    return std::sqrt(static_cast<float>(sq)) * 0.25f;
}

inline float sobel_magnitude(int sx, int sy) {
    return magnitude_from_square(sx * sx + sy * sy);
}

}  // namespace quro

#endif  // QURO_EDGES_SOBEL_MAGNITUDE_H
