// Circle fitting: the circle through three points, Taubin's algebraic fit, and the robust fit from
// random samples scored over all points.
#include <algorithm>
#include <cmath>

#include "quro/measure/fit.h"

namespace quro {
namespace {

constexpr int kNewtonSteps = 99;
constexpr double kCollinearDet = 0.001;

void circle_residuals(const std::vector<cv::Point2f>& pts, const FitCircle& c,
                      std::vector<double>& r) {
    r.resize(pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i)
        r[i] = std::fabs(std::hypot(pts[i].x - c.cx, pts[i].y - c.cy) - c.r);
}

}  // namespace

cv::Point2d mean_point(const std::vector<cv::Point2f>& pts) {
    cv::Point2d sum(0, 0);
    for (const cv::Point2f& p : pts) sum += cv::Point2d(p.x, p.y);
    return sum / static_cast<double>(pts.size());
}

FitCircle circumcircle(cv::Point2f p0, cv::Point2f p1, cv::Point2f p2) {
    const double x0 = p0.x, y0 = p0.y, x1 = p1.x, y1 = p1.y, x2 = p2.x, y2 = p2.y;
    const double det = (x1 - x0) * (y2 - y0) - (x2 - x0) * (y1 - y0);
    if (std::fabs(det) < kCollinearDet) return {0.0, 0.0, -1.0};
    const double c1 = (x1 - x0) * (x1 + x0) / 2 + (y1 - y0) * (y1 + y0) / 2;
    const double c2 = (x2 - x0) * (x2 + x0) / 2 + (y2 - y0) * (y2 + y0) / 2;
    const double cx = (c1 * (y2 - y0) - c2 * (y1 - y0)) / det;
    const double cy = (c2 * (x1 - x0) - c1 * (x2 - x0)) / det;
    return {cx, cy, std::hypot(x0 - cx, y0 - cy) + kFitEpsilon};
}

FitCircle fit_circle_taubin(const std::vector<cv::Point2f>& pts) {
    const double n = static_cast<double>(pts.size());
    const cv::Point2d mean = mean_point(pts);
    const double mx = mean.x, my = mean.y;
    double mxx = 0, myy = 0, mxy = 0, mxz = 0, myz = 0, mzz = 0;
    for (const cv::Point2f& p : pts) {
        const double x = p.x - mx, y = p.y - my, z = x * x + y * y;
        mxx += x * x;
        myy += y * y;
        mxy += x * y;
        mxz += x * z;
        myz += y * z;
        mzz += z * z;
    }
    mxx /= n, myy /= n, mxy /= n, mxz /= n, myz /= n, mzz /= n;
    const double mz = mxx + myy, cov = mxx * myy - mxy * mxy, var = mzz - mz * mz;
    const double a3 = 4 * mz, a2 = -3 * mz * mz - mzz;
    const double a1 = var * mz + 4 * cov * mz - mxz * mxz - myz * myz;
    const double a0 = mxz * (mxz * myy - myz * mxy) + myz * (myz * mxx - mxz * mxy) - var * cov;
    const auto poly = [&](double x) { return a0 + x * (a1 + x * (a2 + x * a3)); };
    // Newton from 0, keeping the root estimate of smallest |p|: a step that does not lower it, or
    // that goes nowhere or to a non-finite value, is not taken.
    double x = 0.0, px = poly(x);
    for (int k = 0; k < kNewtonSteps; ++k) {
        const double next = x - px / (a1 + x * (2 * a2 + x * 3 * a3));
        if (!std::isfinite(next) || next == x) break;
        const double pn = poly(next);
        if (!(std::fabs(pn) < std::fabs(px))) break;
        x = next;
        px = pn;
    }
    const double det = x * x - x * mz + cov;
    const double ox = (mxz * (myy - x) - myz * mxy) / (2 * det);
    const double oy = (myz * (mxx - x) - mxz * mxy) / (2 * det);
    return {mx + ox, my + oy, std::sqrt(ox * ox + oy * oy + mz)};
}

bool fit_circle_inliers(const std::vector<cv::Point2f>& pts, const FitCircle& circle, double radius,
                        FitCircle* out) {
    std::vector<double> r;
    circle_residuals(pts, circle, r);
    return refit_within(pts, r, radius, 3, fit_circle_taubin, out);
}

bool fit_circle_robust(const std::vector<cv::Point2f>& pts, const RobustFitSettings& s,
                       FitCircle* out) {
    if (s.attempts < 1 || pts.empty()) return false;
    std::mt19937 rng(s.seed);
    BestCandidates<FitCircle> best;
    std::vector<double> w, r;
    std::vector<std::size_t> chosen;
    std::vector<cv::Point2f> sample;
    for (int a = 0; a < s.attempts; ++a) {
        draw_sample(rng, pts.size(), std::max(s.samples, 3), w, chosen);
        FitCircle c;
        if (chosen.size() == 3) {
            c = circumcircle(pts[chosen[0]], pts[chosen[1]], pts[chosen[2]]);
        } else {
            sample.clear();
            for (const std::size_t i : chosen) sample.push_back(pts[i]);
            c = fit_circle_taubin(sample);
        }
        circle_residuals(pts, c, r);
        const FitVerdict v = best.score(c, r, s.param);
        if (v == FitVerdict::kExact) {
            *out = c;
            return true;
        }
        if (v == FitVerdict::kAllInliers) break;
    }
    return best.result([&](const FitCircle& c,
                           FitCircle* refit) { return fit_circle_inliers(pts, c, s.param, refit); },
                       out);
}

}  // namespace quro
