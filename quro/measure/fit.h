// Line, circle and ellipse fitting to point sets: the internal fits behind do_fit. Every fit works
// on single-precision points and accumulates its sums in double. The robust line and circle fits
// draw their random samples from a generator seeded by the caller, so a fixed seed repeats a fit.
#ifndef QURO_MEASURE_FIT_H
#define QURO_MEASURE_FIT_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <opencv2/core/types.hpp>
#include <random>
#include <vector>

namespace quro {

// FLT_EPSILON, in double: the radius offset of the circumcircle and, times n, the total
// distance below which a robust fit stops.
inline constexpr double kFitEpsilon = 1.1920928955078125e-7;

// A line through (x0, y0) with unit direction (vx, vy), vx >= 0.
struct FitLine {
    double vx, vy, x0, y0;
};

// A circle of centre (cx, cy) and radius r.
struct FitCircle {
    double cx, cy, r;
};

// An ellipse of centre (cx, cy), semi-axes major >= minor, and the direction (cos a, sin a) of
// its major axis in (x, y), a = angle in degrees in [-90, 90]: clockwise on screen, the opposite
// sense to the region and handle angles.
struct FitEllipse {
    double cx, cy, angle, major, minor;
};

// The distance codes of the robust line fit, with the weight w(d) of a residual d >= 0 and a
// constant C taken from the fit's param.
enum FitDistance : int {
    kDistL1 = 1,      // 1 / max(d, 1e-6)
    kDistL2 = 2,      // closed-form least squares, no iteration
    kDistL12 = 4,     // 1 / sqrt(1 + d^2 / 2)
    kDistFair = 5,    // 1 / (1 + d / C), C = param, or 1.3998 when param is 0
    kDistWelsch = 6,  // exp(-(d / C)^2), C = param, or 2.9846 when param is 0
    kDistHuber = 7,   // 1 when d < C, else C / d; C = param, or 1.345 when param <= 0
};

// True for the codes above.
bool known_fit_distance(int dist);

// The settings of one robust fit. `param` is the inlier radius (the line fit uses 1 in place of
// 0 there) and the weight constant; the final refit weighs every point within the radius alike,
// so a radius well above the points' noise (1 for sub-pixel edges) lets outliers pull the result:
// about two to three times the noise suits. `samples` points (at most all) start each of
// `attempts` attempts; `seed` seeds the call's generator.
struct RobustFitSettings {
    int dist;  // line only
    float param;
    int attempts;
    int samples;
    std::uint32_t seed;
};

// The weighted least-squares line: weighted means (mx, my) and theta = 1/2 atan2(2 cov_xy,
// var_x - var_y); (cos theta, sin theta, mx, my). `weights` null weighs every point 1.
FitLine weighted_line(const std::vector<cv::Point2f>& pts, const double* weights);

// The unweighted line of the points within `radius` of `line`, or false (out untouched) when
// fewer than two are.
bool fit_line_moments(const std::vector<cv::Point2f>& pts, const FitLine& line, double radius,
                      FitLine* out);

// Iteratively reweighted least squares from random starts (the unweighted line for kDistL2); the
// best-inlier line refitted to its inliers, or the best-distance line when no line had one.
// False when the distance code is unknown, the points are empty, or attempts < 1 for a robust
// code.
bool fit_line_robust(const std::vector<cv::Point2f>& pts, const RobustFitSettings& s, FitLine* out);

// The circle through three points, with FLT_EPSILON added to its radius; (0, 0, -1) when the
// determinant of the points is below 0.001 in magnitude.
FitCircle circumcircle(cv::Point2f p0, cv::Point2f p1, cv::Point2f p2);

// Taubin's algebraic circle fit, its root found by Newton's iteration. Not finite for collinear
// points.
FitCircle fit_circle_taubin(const std::vector<cv::Point2f>& pts);

// Taubin's fit of the points within `radius` of `circle`, or false (out untouched) when fewer
// than three are.
bool fit_circle_inliers(const std::vector<cv::Point2f>& pts, const FitCircle& circle, double radius,
                        FitCircle* out);

// Random three-point (circumcircle) or larger (Taubin) samples scored by total distance and
// inlier count over all points; the best-inlier circle refitted to its inliers. False when
// attempts < 1.
bool fit_circle_robust(const std::vector<cv::Point2f>& pts, const RobustFitSettings& s,
                       FitCircle* out);

// Direct least-squares ellipse fit. False for fewer than five points, a singular point scatter
// (collinear points) or no ellipse among the solutions; the result may still be degenerate (not
// finite, an axis <= 0), which the caller checks.
bool fit_ellipse(const std::vector<cv::Point2f>& pts, FitEllipse* out);

// The mean of the points (not empty), in double.
cv::Point2d mean_point(const std::vector<cv::Point2f>& pts);

// Fits `fit` (a function of a point vector) to the points whose residual is at most `radius`,
// or returns false (out untouched) when fewer than `least` are.
template <class Shape, class Fit>
bool refit_within(const std::vector<cv::Point2f>& pts, const std::vector<double>& residuals,
                  double radius, std::size_t least, Fit&& fit, Shape* out) {
    std::vector<cv::Point2f> near;
    for (std::size_t i = 0; i < pts.size(); ++i)
        if (residuals[i] <= radius) near.push_back(pts[i]);
    if (near.size() < least) return false;
    *out = fit(near);
    return true;
}

// How scoring one candidate of a robust fit ends.
enum class FitVerdict {
    kGoOn,        // keep drawing and iterating
    kExact,       // the total distance is below EPS = n FLT_EPSILON: return this candidate
    kAllInliers,  // every point is an inlier: stop the attempts and refit
};

// The two candidates a robust fit keeps: the one of least total distance and the one with the
// most inliers (residual <= radius), each the first to reach its value.
template <class Shape>
struct BestCandidates {
    Shape by_distance{};
    double distance = std::numeric_limits<double>::max();
    Shape by_inliers{};
    std::size_t inliers = 0;

    // Scores `shape` by its residuals to all the points.
    FitVerdict score(const Shape& shape, const std::vector<double>& residuals, double radius) {
        double total = 0.0;
        std::size_t count = 0;
        for (const double d : residuals) {
            total += d;
            count += d <= radius ? 1 : 0;
        }
        if (total < distance) {
            distance = total;
            by_distance = shape;
            if (total < static_cast<double>(residuals.size()) * kFitEpsilon)
                return FitVerdict::kExact;
        }
        if (count > inliers) {
            inliers = count;
            by_inliers = shape;
            if (count == residuals.size()) return FitVerdict::kAllInliers;
        }
        return FitVerdict::kGoOn;
    }

    // The fit's result: the best-distance candidate when no candidate had an inlier; otherwise the
    // best-inlier candidate refitted by `refit(candidate, out)`, or kept unrefined when `refit`
    // reports too few of its inliers. False when no candidate had a finite total distance.
    template <class Refit>
    bool result(Refit&& refit, Shape* out) const {
        if (inliers == 0) {
            if (!(distance < std::numeric_limits<double>::max())) return false;
            *out = by_distance;
            return true;
        }
        if (!refit(by_inliers, out)) *out = by_inliers;
        return true;
    }
};

// min(samples, n) distinct indices drawn by (generator value mod n), a repeated draw drawn again;
// they are set to 1 in `weights` (resized to n and zeroed first) and listed in `chosen`.
void draw_sample(std::mt19937& rng, std::size_t n, int samples, std::vector<double>& weights,
                 std::vector<std::size_t>& chosen);

}  // namespace quro

#endif  // QURO_MEASURE_FIT_H
