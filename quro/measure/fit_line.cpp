// Line fitting: the weighted least-squares line, its refit to the inliers of a candidate, and the
// robust fit by iteratively reweighted least squares from random samples.
#include <algorithm>
#include <cmath>

#include "quro/measure/fit.h"

namespace quro {
namespace {

constexpr int kReweightings = 30;

// The weight of residual d >= 0 under a robust distance code with the caller's param.
double robust_weight(int dist, double param, double d) {
    switch (dist) {
        case kDistL1:
            return 1.0 / std::max(d, 1e-6);
        case kDistL12:
            return 1.0 / std::sqrt(1.0 + d * d * 0.5);
        case kDistFair:
            return 1.0 / (1.0 + d / (param == 0.0 ? 1.3998 : param));
        case kDistWelsch: {
            const double q = d / (param == 0.0 ? 2.9846 : param);
            return std::exp(-q * q);
        }
        default: {  // kDistHuber
            const double c = param <= 0.0 ? 1.345 : param;
            return d < c ? 1.0 : c / d;
        }
    }
}

void line_residuals(const std::vector<cv::Point2f>& pts, const FitLine& l, std::vector<double>& r) {
    r.resize(pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i)
        r[i] = std::fabs((pts[i].x - l.x0) * l.vy - (pts[i].y - l.y0) * l.vx);
}

// Turns residuals into weights in place, divided by their sum (all 1 when the sum is about 0).
void reweigh(int dist, double param, std::vector<double>& w) {
    double sum = 0.0;
    for (double& v : w) {
        v = robust_weight(dist, param, v);
        sum += v;
    }
    if (std::fabs(sum) > kFitEpsilon) {
        for (double& v : w) v /= sum;
    } else {
        std::fill(w.begin(), w.end(), 1.0);
    }
}

}  // namespace

bool known_fit_distance(int dist) {
    return dist == kDistL1 || dist == kDistL2 || dist == kDistL12 || dist == kDistFair ||
           dist == kDistWelsch || dist == kDistHuber;
}

void draw_sample(std::mt19937& rng, std::size_t n, int samples, std::vector<double>& weights,
                 std::vector<std::size_t>& chosen) {
    const std::size_t k = std::min(n, static_cast<std::size_t>(std::max(samples, 0)));
    weights.assign(n, 0.0);
    chosen.clear();
    while (chosen.size() < k) {
        const std::size_t i = static_cast<std::size_t>(rng()) % n;
        if (weights[i] != 0.0) continue;
        weights[i] = 1.0;
        chosen.push_back(i);
    }
}

FitLine weighted_line(const std::vector<cv::Point2f>& pts, const double* weights) {
    double sw = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        const double w = weights ? weights[i] : 1.0;
        const double x = pts[i].x, y = pts[i].y;
        sw += w;
        sx += w * x;
        sy += w * y;
        sxx += w * x * x;
        syy += w * y * y;
        sxy += w * x * y;
    }
    const double mx = sx / sw, my = sy / sw;
    const double theta =
        0.5 * std::atan2(2.0 * (sxy / sw - mx * my), (sxx / sw - mx * mx) - (syy / sw - my * my));
    return {std::cos(theta), std::sin(theta), mx, my};
}

bool fit_line_moments(const std::vector<cv::Point2f>& pts, const FitLine& line, double radius,
                      FitLine* out) {
    std::vector<double> r;
    line_residuals(pts, line, r);
    return refit_within(
        pts, r, radius, 2, [](const auto& near) { return weighted_line(near, nullptr); }, out);
}

bool fit_line_robust(const std::vector<cv::Point2f>& pts, const RobustFitSettings& s,
                     FitLine* out) {
    if (!known_fit_distance(s.dist) || pts.empty()) return false;
    if (s.dist == kDistL2) {
        *out = weighted_line(pts, nullptr);
        return true;
    }
    if (s.attempts < 1) return false;
    // The inlier radius takes 1 for a param of 0; the weight functions get the caller's param,
    // so that Fair's and Welsch's own defaults for 0 stay reachable.
    const double radius = s.param == 0.f ? 1.0 : s.param;
    std::mt19937 rng(s.seed);
    BestCandidates<FitLine> best;
    std::vector<double> w, r;
    std::vector<std::size_t> chosen;
    bool all_inliers = false;
    for (int a = 0; a < s.attempts && !all_inliers; ++a) {
        draw_sample(rng, pts.size(), std::max(s.samples, 2), w, chosen);
        FitLine line = weighted_line(pts, w.data());
        for (int k = 0; k < kReweightings; ++k) {
            line_residuals(pts, line, r);
            const FitVerdict v = best.score(line, r, radius);
            if (v == FitVerdict::kExact) {
                *out = line;
                return true;
            }
            if (v == FitVerdict::kAllInliers) {
                all_inliers = true;
                break;
            }
            reweigh(s.dist, s.param, r);
            const FitLine next = weighted_line(pts, r.data());
            // A line that reproduces itself would only score the same again.
            if (next.vx == line.vx && next.vy == line.vy && next.x0 == line.x0 &&
                next.y0 == line.y0)
                break;
            line = next;
        }
    }
    return best.result(
        [&](const FitLine& c, FitLine* refit) { return fit_line_moments(pts, c, radius, refit); },
        out);
}

}  // namespace quro
