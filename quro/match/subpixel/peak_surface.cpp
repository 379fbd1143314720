#include "quro/match/subpixel/peak_surface.h"

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>

namespace quro {
namespace {

// Largest step of the two-dimensional fit along either axis, in pixels.
constexpr float kMaxPlaneStep = 0.6f;

// |v| <= bound; false for NaN.
// Relative size below which a curvature, or the ratio of the smallest to the largest singular value
// of H, counts as 0.
constexpr double kNegligible = 1e-9;

bool within(double v, double bound) {
    return std::fabs(v) <= bound;
}
bool within(float v, float bound) {
    return std::fabs(v) <= bound;
}

}  // namespace

bool fit_peak_3d(const float* const windows[3], const float t[3], int size, int i, int j,
                 float angle_step, PeakOffset& out) {
    cv::Matx<double, 27, 10> a;
    cv::Matx<double, 27, 1> b;
    int row = 0;
    for (int k = 0; k < 3; ++k) {
        const double td = t[k];
        for (int ey = -1; ey <= 1; ++ey) {
            for (int ex = -1; ex <= 1; ++ex, ++row) {
                const double y = ey, x = ex;
                // Columns in the order of the coefficients: yy, xx, tt, xy, ty, tx, y, x, t, 1.
                const double values[10] = {y * y,  x * x, td * td, x * y, td * y,
                                           td * x, y,     x,       td,    1.0};
                for (int c = 0; c < 10; ++c) a(row, c) = values[c];
                b(row, 0) = windows[k][(j + ey) * size + (i + ex)];
            }
        }
    }
    cv::Matx<double, 10, 1> c;
    if (!cv::solve(a, b, c, cv::DECOMP_SVD)) return false;
    const double cyy = c(0), cxx = c(1), ctt = c(2), cxy = c(3), cty = c(4), ctx = c(5);
    const cv::Matx33d h(2 * cyy, cxy, cty, cxy, 2 * cxx, ctx, cty, ctx, 2 * ctt);
    // A singular H has no stationary point, and one that is singular to working precision only a
    // meaningless one: the fit is not taken when H is at the rounding level of the samples or its
    // inverse condition number is that small.
    double sample_scale = 0.0, curvature_scale = 0.0;
    for (int r = 0; r < 27; ++r) sample_scale = std::max(sample_scale, std::fabs(b(r, 0)));
    for (int r = 0; r < 3; ++r)
        for (int q = 0; q < 3; ++q) curvature_scale = std::max(curvature_scale, std::fabs(h(r, q)));
    if (!(curvature_scale > kNegligible * sample_scale)) return false;
    cv::Matx33d inv;
    if (!(cv::invert(h, inv, cv::DECOMP_SVD) > kNegligible)) return false;
    const cv::Vec3d o = inv * cv::Vec3d(-c(6), -c(7), -c(8));
    const double oy = o[0], ox = o[1], ot = o[2];
    if (!within(ox, 1.0) || !within(oy, 1.0) || !within(ot, static_cast<double>(angle_step)))
        return false;
    out.dx = static_cast<float>(ox);
    out.dy = static_cast<float>(oy);
    out.dangle = static_cast<float>(ot);
    return true;
}

bool fit_peak_2d(const float* window, int size, int i, int j, float& dx, float& dy) {
    const auto w = [&](int ey, int ex) { return window[(j + ey) * size + (i + ex)]; };
    float r[3], col[3];
    for (int e = -1; e <= 1; ++e) {
        r[e + 1] = w(e, -1) + w(e, 0) + w(e, 1);
        col[e + 1] = w(-1, e) + w(0, e) + w(1, e);
    }
    const float gy = (r[2] - r[0]) / 6.f;
    const float gx = (col[2] - col[0]) / 6.f;
    const float ayy = (r[2] + r[0] - 2.f * r[1]) / 6.f;
    const float axx = (col[2] + col[0] - 2.f * col[1]) / 6.f;
    const float axy = (w(-1, -1) - w(-1, 1) - w(1, -1) + w(1, 1)) / 4.f;
    const cv::Matx22f m(2.f * ayy, axy, axy, 2.f * axx);
    cv::Vec2f values;
    cv::Matx22f vectors;
    if (!cv::eigen(m, values, vectors)) return false;
    // Descending order: values[1] is the more negative one; both must be negative (a maximum).
    if (!(values[0] < 0.f && values[1] < 0.f)) return false;
    const int e = std::fabs(values[1]) <= std::fabs(values[0]) ? 0 : 1;
    const float vy = vectors(e, 0), vx = vectors(e, 1);
    const float step =
        -0.5f * (vy * gy + vx * gx) / (vy * vy * ayy + vy * vx * axy + vx * vx * axx);
    const float sx = vx * step, sy = vy * step;
    if (!within(sx, kMaxPlaneStep) || !within(sy, kMaxPlaneStep)) return false;
    dx = sx;
    dy = sy;
    return true;
}

}  // namespace quro
