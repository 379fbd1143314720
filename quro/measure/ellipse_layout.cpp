// Handles around an ellipse, spaced evenly by arc length.
#include <cmath>

#include "quro/measure/adaptive_quadrature.h"
#include "quro/measure/handle_layout.h"
#include "quro/numeric.h"
#include "quro/status.h"

namespace quro {
namespace {

constexpr double kArcTolerance = 1e-12;
constexpr int kArcMaxDepth = 15;

// Arc length of the ellipse (a cos s, b sin s) from parameter 0 to t.
struct EllipseArc {
    double a;
    double k;  // 1 - b^2 / a^2

    double to(double t) const {
        const double kk = k;
        return a * integrate_gauss_kronrod(
                       [kk](double s) {
                           const double c = std::cos(s);
                           return std::sqrt(1.0 - kk * c * c);
                       },
                       0.0, t, kArcTolerance, kArcMaxDepth, nullptr);
    }
};

// Moves t in steps of one, a half and a quarter degree towards the parameter whose arc length is
// `target`: each round steps at least once, down while the arc exceeds the target, else up while
// it stays below. The result lies within a quarter degree of the exact parameter.
double refine_parameter(const EllipseArc& arc, double t, double target) {
    for (const double step : {kPi / 180.0, kPi / 360.0, kPi / 720.0}) {
        if (arc.to(t) > target) {
            do t -= step;
            while (arc.to(t) > target);
        } else {
            do t += step;
            while (arc.to(t) < target);
        }
    }
    return t;
}

bool finite_layout(const EllipseLayout& e) {
    return std::isfinite(e.x) && std::isfinite(e.y) && std::isfinite(e.angle) &&
           std::isfinite(e.a) && std::isfinite(e.b) && std::isfinite(e.half_length) &&
           std::isfinite(e.half_width);
}

}  // namespace

int gen_ellipse_detector(const EllipseLayout& e, std::vector<RRect>& out) {
    out.clear();
    if (!finite_layout(e) || !(e.a > 0.0) || !(e.b > 0.0) || !(e.half_width > 0.0)) return kFailed;
    const EllipseArc arc{e.a, 1.0 - (e.b * e.b) / (e.a * e.a)};
    const double perimeter = arc.to(2.0 * kPi);
    const int n = handle_count(perimeter / (3.0 * e.half_width), 0, e.wanted);
    if (n < 1) return kFailed;
    const double spacing = perimeter / n;
    const double rho = -e.angle * kPi / 180.0;
    const double cr = std::cos(rho), sr = std::sin(rho);
    const double a2 = e.a * e.a, b2 = e.b * e.b;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 1; i <= n; ++i) {
        const double t = refine_parameter(arc, i * 2.0 * kPi / n, i * spacing);
        const double px = e.a * std::cos(t), py = e.b * std::sin(t);
        const double gx = b2 * px, gy = a2 * py;  // outward normal, not yet unit
        const double norm = std::hypot(gx, gy);
        const double nx = static_cast<float>(gx / norm), ny = static_cast<float>(gy / norm);
        const double u = nx * cr - ny * sr, v = ny * cr + nx * sr;
        double beta = std::atan2(v, u) * kRadToDegD;
        if (e.direction < 0) beta += 180.0;
        out.push_back(RRect{static_cast<float>(e.x + px * cr - py * sr),
                            static_cast<float>(e.y + py * cr + px * sr), static_cast<float>(-beta),
                            static_cast<float>(e.half_length), static_cast<float>(e.half_width)});
    }
    return kOk;
}

}  // namespace quro
