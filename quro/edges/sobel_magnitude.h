// The 3x3 Sobel gradient and its magnitude, scaled by 0.25, shared by the filter-based edge
// detector and the sub-pixel gradient peak so that both see the same bits, and by the chain
// detector on its double image.
#ifndef QURO_EDGES_SOBEL_MAGNITUDE_H
#define QURO_EDGES_SOBEL_MAGNITUDE_H

#include <cmath>
#include <cstdint>

namespace quro {

// Plain Sobel sums at column c of three consecutive rows; cl and cr are the columns used as left
// and right neighbours (c - 1 and c + 1 inside the image). Pixel is the sample type (8-bit rows
// give exact int sums; double rows give the chain detector's gradient, whose components are these
// sums times 0.25, bit for bit, because each column's difference is added in that order).
template <class Pixel, class Sum>
inline void sobel_sums(const Pixel* up, const Pixel* mid, const Pixel* down, int cl, int c, int cr,
                       Sum& sx, Sum& sy) {
    sx = (up[cr] - up[cl]) + 2 * (mid[cr] - mid[cl]) + (down[cr] - down[cl]);
    sy = (down[cl] - up[cl]) + 2 * (down[c] - up[c]) + (down[cr] - up[cr]);
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
