// Direct least-squares ellipse fit: the conic of least algebraic distance under the constraint
// 4AC - B^2 = 1, reduced to a 3 x 3 eigenproblem (Halir and Flusser's form of Fitzgibbon's fit).
#include <cmath>
#include <opencv2/core.hpp>

#include "quro/measure/fit.h"
#include "quro/numeric.h"

namespace quro {
namespace {

// Below this, det(S3) / n^3 of the normalised points (the determinant of their covariance, at
// most 1/4) counts as a singular scatter: the points lie on a line.
constexpr double kSingularScatter = 1e-12;

}  // namespace

bool fit_ellipse(const std::vector<cv::Point2f>& pts, FitEllipse* out) {
    const std::size_t count = pts.size();
    if (count < 5) return false;
    const double n = static_cast<double>(count);
    // The fit commutes with translation and scaling, so it runs on the points centred on their
    // mean and scaled to unit root-mean-square distance, which keeps the sums well conditioned
    // wherever the points lie.
    const cv::Point2d mean = mean_point(pts);
    const double mx = mean.x, my = mean.y;
    double spread = 0;
    for (const cv::Point2f& p : pts) spread += (p.x - mx) * (p.x - mx) + (p.y - my) * (p.y - my);
    const double scale = std::sqrt(spread / n);
    if (!(scale > 0) || !std::isfinite(scale)) return false;
    cv::Matx33d s1, s2, s3;
    for (const cv::Point2f& p : pts) {
        const double x = (p.x - mx) / scale, y = (p.y - my) / scale;
        const cv::Vec3d d1(x * x, x * y, y * y), d2(x, y, 1.0);
        s1 += d1 * d1.t();
        s2 += d1 * d2.t();
        s3 += d2 * d2.t();
    }
    if (std::fabs(cv::determinant(s3)) / (n * n * n) < kSingularScatter) return false;
    const cv::Matx33d t = -(s3.inv() * s2.t());
    const cv::Matx33d m = s1 + s2 * t;
    // Premultiplied by the inverse of the constraint matrix.
    const cv::Matx33d reduced(m(2, 0) / 2, m(2, 1) / 2, m(2, 2) / 2,  //
                              -m(1, 0), -m(1, 1), -m(1, 2),           //
                              m(0, 0) / 2, m(0, 1) / 2, m(0, 2) / 2);
    cv::Mat values, vectors;
    cv::eigenNonSymmetric(cv::Mat(reduced), values, vectors);
    int row = -1;
    for (int i = 0; i < vectors.rows && row < 0; ++i) {
        const double* a = vectors.ptr<double>(i);
        if (4 * a[0] * a[2] - a[1] * a[1] > 0) row = i;
    }
    if (row < 0) return false;
    const cv::Vec3d a1(vectors.ptr<double>(row));
    const cv::Vec3d a2 = t * a1;
    // A x^2 + B xy + C y^2 + D x + E y + F = 0, signed so that A + C > 0: otherwise the angle
    // below would name the minor axis (the eigenvector's sign is arbitrary).
    const double sign = a1[0] + a1[2] < 0 ? -1.0 : 1.0;
    const double A = sign * a1[0], B = sign * a1[1], C = sign * a1[2];
    const double D = sign * a2[0], E = sign * a2[1], F = sign * a2[2];
    const double den = B * B - 4 * A * C;
    const double q = std::sqrt(B * B + (A - C) * (A - C));
    const double num = 2 * (A * E * E + C * D * D - B * D * E + F * den);
    const double theta = 0.5 * std::atan2(B, C - A);  // in [-pi/2, pi/2]
    *out =
        FitEllipse{mx + scale * (2 * C * D - B * E) / den, my + scale * (2 * A * E - B * D) / den,
                   -theta * kRadToDegD, -scale * std::sqrt(num * (A + C + q)) / den,
                   -scale * std::sqrt(num * (A + C - q)) / den};
    return true;
}

}  // namespace quro
