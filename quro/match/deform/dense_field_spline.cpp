#include "quro/match/deform/dense_field_spline.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace quro {
namespace {

// A tiny ridge on the diagonal, relative to its largest entry, so that control values no point
// and no penalty reaches stay 0 rather than make the system singular.
constexpr double kRidge = 1e-9;

// The four uniform cubic B-spline weights of the fraction s in [0, 1] (any s extends the same
// polynomials).
void bspline_weights(double s, double b[4]) {
    const double s2 = s * s, s3 = s2 * s, r = 1.0 - s;
    b[0] = r * r * r / 6.0;
    b[1] = (3.0 * s3 - 6.0 * s2 + 4.0) / 6.0;
    b[2] = (-3.0 * s3 + 3.0 * s2 + 3.0 * s + 1.0) / 6.0;
    b[3] = s3 / 6.0;
}

// The first of the four control values along one axis for position v, and its weights.
int locate(double v, double spacing, int count, double b[4]) {
    const double t = v / spacing;
    const int j = std::clamp(static_cast<int>(std::floor(t)), 0, count - 4);
    bspline_weights(t - j, b);
    return j;
}

// The sum of a[t] * b[t] for t < n in four interleaved partial sums (the factorisation's inner
// products; one running sum would wait on every addition).
double dot(const double* a, const double* b, int n) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    int t = 0;
    for (; t + 4 <= n; t += 4) {
        s0 += a[t] * b[t];
        s1 += a[t + 1] * b[t + 1];
        s2 += a[t + 2] * b[t + 2];
        s3 += a[t + 3] * b[t + 3];
    }
    for (; t < n; ++t) s0 += a[t] * b[t];
    return (s0 + s1) + (s2 + s3);
}

// A symmetric positive definite band matrix: the lower triangle's entry (i, k), i - bw <= k <= i,
// at i * (bw + 1) + k - (i - bw), so that a row's entries run left to right; solved in place by
// Cholesky's factorisation.
struct BandMatrix {
    int n = 0;
    int bw = 0;
    std::vector<double> a;

    BandMatrix(int size, int band)
        : n(size), bw(band), a(static_cast<std::size_t>(size) * (band + 1), 0.0) {}
    double* row(int i) { return a.data() + static_cast<std::size_t>(i) * (bw + 1) + bw - i; }
    double& at(int i, int k) { return row(i)[k]; }
    // Adds v to (i, k) of the symmetric matrix (either triangle).
    void add(int i, int k, double v) {
        if (k > i) std::swap(i, k);
        at(i, k) += v;
    }
    // Row i's entry k < i from the rows above: (a(i, k) - the dot product of the rows' entries
    // left of k) / l(k, k). Entries left of i - bw are 0, so the product starts at lo.
    double below(double* ri, int lo, int k) {
        double* rk = row(k);
        return (ri[k] - dot(ri + lo, rk + lo, k - lo)) / rk[k];
    }
    // The rows are factored kFactorRows at a time: their entries left of the block depend only on
    // rows above it, so the rows' chains of dot products and divisions interleave, each entry
    // computed exactly as one row after the other would.
    static constexpr int kFactorRows = 4;
    bool factor() {
        for (int i0 = 0; i0 < n; i0 += kFactorRows) {
            const int i1 = std::min(n, i0 + kFactorRows);
            for (int k = std::max(0, i0 - bw); k < i0; ++k)
                for (int i = i0; i < i1; ++i) {
                    const int lo = std::max(0, i - bw);
                    if (k >= lo) row(i)[k] = below(row(i), lo, k);
                }
            for (int i = i0; i < i1; ++i) {
                double* ri = row(i);
                const int lo = std::max(0, i - bw);
                for (int k = std::max(lo, i0); k < i; ++k) ri[k] = below(ri, lo, k);
                const double s = ri[i] - dot(ri + lo, ri + lo, i - lo);
                if (!(s > 0.0)) return false;
                ri[i] = std::sqrt(s);
            }
        }
        return true;
    }
    void solve(std::vector<double>& x) {
        for (int i = 0; i < n; ++i) {
            const int lo = std::max(0, i - bw);
            double* ri = row(i);
            x[static_cast<std::size_t>(i)] =
                (x[static_cast<std::size_t>(i)] - dot(ri + lo, x.data() + lo, i - lo)) / ri[i];
        }
        for (int i = n - 1; i >= 0; --i) {
            double s = x[static_cast<std::size_t>(i)];
            for (int m = i + 1; m <= std::min(n - 1, i + bw); ++m)
                s -= at(m, i) * x[static_cast<std::size_t>(m)];
            x[static_cast<std::size_t>(i)] = s / at(i, i);
        }
    }
};

// Adds smoothness * (sum of coef[t] * value[node[t]])^2, per component, to the system.
void add_penalty(BandMatrix& m, const int* nodes, const double* coef, int count, double weight) {
    for (int c = 0; c < 2; ++c)
        for (int p = 0; p < count; ++p)
            for (int q = 0; q <= p; ++q) {
                const double v = weight * coef[p] * coef[q];
                const int i = 2 * nodes[p] + c, k = 2 * nodes[q] + c;
                if (i == k && p != q) {
                    m.add(i, k, 2.0 * v);
                } else {
                    m.add(i, k, v);
                }
            }
}

}  // namespace

SplineKnots spline_knots(cv::Size size, int intervals) {
    SplineKnots k;
    const int shorter = std::max(1, std::min(size.width, size.height) - 1);
    k.spacing = std::max(1.0, static_cast<double>(shorter) / std::max(1, intervals));
    k.nx = static_cast<int>(std::floor(std::max(0, size.width - 1) / k.spacing)) + 4;
    k.ny = static_cast<int>(std::floor(std::max(0, size.height - 1) / k.spacing)) + 4;
    return k;
}

bool solve_spline_field(const SplinePoints& pts, const SplineFit& fit, cv::Size size,
                        cv::Size grid, int cell_spacing, cv::Mat& field) {
    field.create(grid, CV_32FC2);
    field.setTo(cv::Scalar::all(0));
    const SplineKnots knots = spline_knots(size, fit.intervals);
    const int nx = knots.nx, ny = knots.ny;
    const int unknowns = 2 * nx * ny;
    BandMatrix m(unknowns, 2 * (3 * nx + 3) + 1);
    std::vector<double> rhs(static_cast<std::size_t>(unknowns), 0.0);
    const std::size_t n = std::min({pts.positions.size(), pts.displacements.size(),
                                    pts.normals.size(), pts.weights.size()});
    bool any = false;
    for (std::size_t k = 0; k < n; ++k) {
        const cv::Point2f p = pts.positions[k], d = pts.displacements[k], nk = pts.normals[k];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(d.x) ||
            !std::isfinite(d.y) || !std::isfinite(nk.x) || !std::isfinite(nk.y))
            continue;
        const double w = pts.weights[k];
        if (!(w > 0.0) || !std::isfinite(w)) continue;
        any = true;
        // The point's 2 by 2 stiffness s = w n n^T and its pull r = s d.
        const double s[3] = {w * nk.x * nk.x, w * nk.x * nk.y, w * nk.y * nk.y};
        const double r[2] = {s[0] * d.x + s[1] * d.y, s[1] * d.x + s[2] * d.y};
        double bx[4], by[4];
        const int jx = locate(p.x, knots.spacing, nx, bx);
        const int jy = locate(p.y, knots.spacing, ny, by);
        int node[16];
        double beta[16];
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b) {
                node[a * 4 + b] = (jy + a) * nx + jx + b;
                beta[a * 4 + b] = by[a] * bx[b];
            }
        // The nodes ascend with the index (jx + 3 < nx), so node p2 <= node p1 for p2 <= p1.
        for (int p1 = 0; p1 < 16; ++p1) {
            const int i = 2 * node[p1];
            rhs[static_cast<std::size_t>(i)] += beta[p1] * r[0];
            rhs[static_cast<std::size_t>(i + 1)] += beta[p1] * r[1];
            double* r0 = m.row(i);
            double* r1 = m.row(i + 1);
            for (int p2 = 0; p2 <= p1; ++p2) {
                const double bb = beta[p1] * beta[p2];
                const int k2 = 2 * node[p2];
                r0[k2] += bb * s[0];
                r1[k2 + 1] += bb * s[2];
                r1[k2] += bb * s[1];
                if (p2 != p1) r0[k2 + 1] += bb * s[1];
            }
        }
    }
    if (!any) return false;
    // The size penalty: the field is pulled towards no deformation where the points say little.
    for (int i = 0; i < unknowns; ++i) m.at(i, i) += fit.ridge;
    const double second[3] = {1.0, -2.0, 1.0};
    const double mixed[4] = {1.0, -1.0, -1.0, 1.0};
    for (int iy = 0; iy < ny; ++iy)
        for (int ix = 0; ix < nx; ++ix) {
            const int at = iy * nx + ix;
            if (ix + 2 < nx) {
                const int nodes[3] = {at, at + 1, at + 2};
                add_penalty(m, nodes, second, 3, fit.curvature);
            }
            if (iy + 2 < ny) {
                const int nodes[3] = {at, at + nx, at + 2 * nx};
                add_penalty(m, nodes, second, 3, fit.curvature);
            }
            if (ix + 1 < nx && iy + 1 < ny) {
                const int nodes[4] = {at, at + 1, at + nx, at + nx + 1};
                add_penalty(m, nodes, mixed, 4, 2.0 * fit.curvature);
            }
        }
    double top = 0.0;
    for (int i = 0; i < unknowns; ++i) top = std::max(top, m.at(i, i));
    for (int i = 0; i < unknowns; ++i) m.at(i, i) += kRidge * top;
    if (!m.factor()) return false;
    m.solve(rhs);
    std::vector<int> cx(static_cast<std::size_t>(grid.width));
    std::vector<double> wx(static_cast<std::size_t>(grid.width) * 4);
    for (int j = 0; j < grid.width; ++j)
        cx[static_cast<std::size_t>(j)] =
            locate(static_cast<double>(cell_spacing) * j, knots.spacing, nx, &wx[4 * static_cast<std::size_t>(j)]);
    for (int i = 0; i < grid.height; ++i) {
        double by[4];
        const int jy = locate(static_cast<double>(cell_spacing) * i, knots.spacing, ny, by);
        float* out = field.ptr<float>(i);
        for (int j = 0; j < grid.width; ++j) {
            const double* bx = &wx[4 * static_cast<std::size_t>(j)];
            const int jx = cx[static_cast<std::size_t>(j)];
            double fx = 0.0, fy = 0.0;
            for (int a = 0; a < 4; ++a) {
                double rx = 0.0, ry = 0.0;
                const std::size_t row = static_cast<std::size_t>(2 * ((jy + a) * nx + jx));
                for (int b = 0; b < 4; ++b) {
                    rx += bx[b] * rhs[row + 2 * static_cast<std::size_t>(b)];
                    ry += bx[b] * rhs[row + 2 * static_cast<std::size_t>(b) + 1];
                }
                fx += by[a] * rx;
                fy += by[a] * ry;
            }
            out[2 * j] = static_cast<float>(fx);
            out[2 * j + 1] = static_cast<float>(fy);
        }
    }
    return true;
}

}  // namespace quro
