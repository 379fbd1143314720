// The per-pixel sub-pixel fit of the gradient magnitude: a quadratic surface through the 3x3
// magnitudes around a pixel, its principal curvature direction and the peak offset along it.
// One implementation for the filter-based edge detector and the sub-pixel gradient peak.
#ifndef QURO_EDGES_QUADRATIC_PEAK_H
#define QURO_EDGES_QUADRATIC_PEAK_H

#include <cmath>

#include "quro/edges/geometry.h"
#include "quro/numeric.h"

namespace quro {

// Result of the fit: the peak's offset (ox = columns, oy = rows) from the pixel centre and the
// unit direction n = (nx = column, ny = row) of the strongest curvature. The sign of n is that of
// the eigenvector; callers orient it by the gradient.
struct QuadraticPeak {
    float ox;
    float oy;
    float nx;
    float ny;
};

// The least-squares quadric z = k0 + kx x + ky y + kxx x^2 + kxy x y + kyy y^2 through nine
// values m (row by row: m[0..2] the row above, left to right, m[3..5] the middle row, m[6..8]
// the row below), centred on m[4], into k[0..5] in that order (k0 is left 0: the
// constant term moves no peak).
inline void quadric_coeffs_3x3(const float m[9], float k[6]) {
    k[0] = 0.f;
    k[1] = (m[2] - m[0] - m[3] + m[5] - m[6] + m[8]) / 6.f;
    k[2] = (m[6] + m[7] + m[8] - m[0] - m[1] - m[2]) / 6.f;
    k[3] = (m[0] - 2.f * m[1] + m[2] + m[3] - 2.f * m[4] + m[5] + m[6] - 2.f * m[7] + m[8]) / 6.f;
    k[4] = (m[0] - m[2] - m[6] + m[8]) / 4.f;
    k[5] = (m[0] + m[1] + m[2] - 2.f * (m[3] + m[4] + m[5]) + m[6] + m[7] + m[8]) / 6.f;
}

// m holds the nine magnitudes around the pixel as quadric_coeffs_3x3 takes them. Fits that
// quadric, takes the eigenvalue of larger magnitude of the Hessian and its eigenvector n,
// and returns false unless that eigenvalue is negative (a ridge), the curvature d along n is not
// 0, and the peak t n, t = -(kx nx + ky ny) / d, lies within half a pixel in both directions.
inline bool fit_quadratic_peak(const float m[9], QuadraticPeak& out) {
    float k[6];
    quadric_coeffs_3x3(m, k);
    Eigen2 e;
    eigen_sym2x2_array(k, e);
    if (!(e.l1 < 0.f)) return false;
    const Normal2 n = normal_from_eigenvector(e.v1[0], e.v1[1]);
    const float d = 2.f * k[3] * n.nx * n.nx + 2.f * k[4] * n.nx * n.ny + 2.f * k[5] * n.ny * n.ny;
    if (d == 0.f) return false;
    const float t = -(k[1] * n.nx + k[2] * n.ny) / d;
    const float ox = t * n.nx;
    const float oy = t * n.ny;
    if (!(std::fabs(ox) <= 0.5f && std::fabs(oy) <= 0.5f)) return false;
    out.ox = ox;
    out.oy = oy;
    out.nx = n.nx;
    out.ny = n.ny;
    return true;
}

}  // namespace quro

#endif  // QURO_EDGES_QUADRATIC_PEAK_H
