#include "quro/match/subpixel/pose_step.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quro/match/order_utils.h"
#include "quro/numeric.h"

namespace quro {
namespace {

// Median of values (reordered in place; not empty).
float median_in_place(std::vector<float>& values) {
    const std::size_t h = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(h), values.end(),
                     less_nan_last);
    const float mid = values[h];
    if (values.size() % 2 == 1) return mid;
    const float below = *std::max_element(
        values.begin(), values.begin() + static_cast<std::ptrdiff_t>(h), less_nan_last);
    return (mid + below) / 2.f;
}

// The rotation factor of the step, radians to degrees in single precision.
static_assert(kRadToDeg == 57.29578f);

bool within_bounds(const cv::Vec3d& x, double shift_bound, double angle_bound) {
    return std::abs(x[0]) <= shift_bound && std::abs(x[1]) <= shift_bound &&
           std::abs(static_cast<double>(kRadToDeg) * x[2]) <= angle_bound;
}

bool all_finite(const cv::Vec3d& x) {
    return std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]);
}

}  // namespace

std::pair<float, float> median_mad(const std::vector<float>& values) {
    if (values.empty()) return {0.f, 0.f};
    std::vector<float> work(values);
    const float med = median_in_place(work);
    for (std::size_t i = 0; i < values.size(); ++i) work[i] = std::abs(values[i] - med);
    return {med, median_in_place(work)};
}

bool pose_least_squares_step(const cv::Mat& rows, const cv::Mat& rhs,
                             const std::vector<float>& weights, int tolerance, float& dx,
                             float& dy, float& dangle, float min_angle_bound) {
    const int n = rows.empty() ? 0 : rows.rows;
    CV_Assert(n == 0 || (rows.type() == CV_32FC1 && rows.cols == 3));
    CV_Assert(rhs.empty() ? n == 0
                          : (rhs.type() == CV_32FC1 && (rhs.cols == 1 || rhs.rows == 1) &&
                             rhs.total() == static_cast<std::size_t>(n)));
    CV_Assert(weights.size() == static_cast<std::size_t>(n));

    cv::Matx33d m = cv::Matx33d::zeros();
    cv::Vec3d v(0.0, 0.0, 0.0);
    for (int i = 0; i < n; ++i) {
        const double w = weights[static_cast<std::size_t>(i)];
        if (!(w > 1e-5)) continue;
        const float* row = rows.ptr<float>(i);
        const double a[3] = {row[0], row[1], row[2]};
        const double b = rhs.at<float>(i);
        for (int r = 0; r < 3; ++r) {
            for (int c = r; c < 3; ++c) m(r, c) += w * a[r] * a[c];
            v[r] += w * b * a[r];
        }
    }
    for (int r = 1; r < 3; ++r)
        for (int c = 0; c < r; ++c) m(r, c) = m(c, r);
    for (int k = 0; k < 9; ++k)
        if (!std::isfinite(m.val[k])) return false;
    if (!all_finite(v)) return false;

    cv::Vec3d eigenvalues;  // descending
    cv::eigen(m, eigenvalues);
    const double lambda_min = std::max(eigenvalues[2], 0.0);
    const double cond =
        lambda_min < 1e-12 ? std::numeric_limits<double>::max() : eigenvalues[0] / lambda_min;

    const double shift_bound = static_cast<double>(tolerance) + 2.5;
    double angle_bound = static_cast<double>(tolerance / 2) + 2.5;
    if (min_angle_bound > angle_bound) angle_bound = min_angle_bound;  // NaN: no effect

    cv::Vec3d x;
    bool accepted = cond < 1e7 && cv::solve(m, v, x, cv::DECOMP_CHOLESKY) && all_finite(x) &&
                    within_bounds(x, shift_bound, angle_bound);
    if (!accepted) {
        const bool solved = cv::solve(m, v, x, cv::DECOMP_SVD);
        accepted = solved && all_finite(x) && within_bounds(x, shift_bound, angle_bound);
    }
    if (!accepted) return false;
    dx = static_cast<float>(x[0]);
    dy = static_cast<float>(x[1]);
    dangle = static_cast<float>(static_cast<double>(kRadToDeg) * x[2]);
    return true;
}

bool pose_scale_least_squares_step(const cv::Mat& rows, const cv::Mat& rhs,
                                   const std::vector<float>& weights, int tolerance,
                                   float min_angle_bound, float scale_bound, float* x) {
    const int n = rows.empty() ? 0 : rows.rows;
    const int k = rows.cols;
    CV_Assert(n > 0 && rows.type() == CV_32FC1 && (k == 4 || k == 5));
    CV_Assert(rhs.type() == CV_32FC1 && (rhs.cols == 1 || rhs.rows == 1) &&
              rhs.total() == static_cast<std::size_t>(n));
    CV_Assert(weights.size() == static_cast<std::size_t>(n));

    cv::Mat m = cv::Mat::zeros(k, k, CV_64F), v = cv::Mat::zeros(k, 1, CV_64F);
    for (int i = 0; i < n; ++i) {
        const double w = weights[static_cast<std::size_t>(i)];
        if (!(w > 1e-5)) continue;
        const float* row = rows.ptr<float>(i);
        const double b = rhs.at<float>(i);
        for (int r = 0; r < k; ++r) {
            for (int c = r; c < k; ++c) m.at<double>(r, c) += w * row[r] * row[c];
            v.at<double>(r) += w * b * row[r];
        }
    }
    for (int r = 1; r < k; ++r)
        for (int c = 0; c < r; ++c) m.at<double>(r, c) = m.at<double>(c, r);
    if (!cv::checkRange(m) || !cv::checkRange(v)) return false;

    cv::Mat eigenvalues;  // descending
    cv::eigen(m, eigenvalues);
    const double lambda_min = std::max(eigenvalues.at<double>(k - 1), 0.0);
    const double cond = lambda_min < 1e-12 ? std::numeric_limits<double>::max()
                                           : eigenvalues.at<double>(0) / lambda_min;
    const double shift_bound = static_cast<double>(tolerance) + 2.5;
    double angle_bound = static_cast<double>(tolerance / 2) + 2.5;
    if (min_angle_bound > angle_bound) angle_bound = min_angle_bound;
    const auto acceptable = [&](const cv::Mat& s) {
        if (!cv::checkRange(s)) return false;
        const cv::Vec3d pose(s.at<double>(0), s.at<double>(1), s.at<double>(2));
        if (!within_bounds(pose, shift_bound, angle_bound)) return false;
        for (int i = 3; i < k; ++i)
            if (!(std::abs(s.at<double>(i)) <= scale_bound)) return false;
        return true;
    };
    cv::Mat s;
    bool accepted = cond < 1e7 && cv::solve(m, v, s, cv::DECOMP_CHOLESKY) && acceptable(s);
    if (!accepted) accepted = cv::solve(m, v, s, cv::DECOMP_SVD) && acceptable(s);
    if (!accepted) return false;
    for (int i = 0; i < k; ++i) x[i] = static_cast<float>(s.at<double>(i));
    x[2] = static_cast<float>(static_cast<double>(kRadToDeg) * s.at<double>(2));
    return true;
}

void scale_change_columns(const Match& m, int unknowns, float px, float py, float nx, float ny,
                          float* out) {
    if (unknowns == 1) {
        out[0] = (nx * px + ny * py) / m.scale_row;
        return;
    }
    const double a = static_cast<double>(m.angle) * (kPi / 180.0);
    const auto c = static_cast<float>(std::cos(a)), s = static_cast<float>(std::sin(a));
    const float ux = c * px - s * py;  // column scale times the model's x
    const float uy = s * px + c * py;  // row scale times the model's y
    out[0] = uy / m.scale_row * (nx * s + ny * c);
    out[1] = ux / m.scale_col * (nx * c - ny * s);
}

}  // namespace quro
