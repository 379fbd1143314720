// The fitting exports do_fit and do_fit2: argument checks, the points converted to single
// precision, the fit of the type asked for, and a result written only when it is finite and
// non-degenerate.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>

#include "quro/export_guard.h"
#include "quro/measure/fit.h"
#include "quro/quro.h"
#include "quro/status.h"

namespace quro {
namespace {

enum FitType : int { kFitLine = 0, kFitCircle = 1, kFitEllipse = 2 };

bool all_finite(const double* v, int count) {
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

int do_fit_impl(const double* points, int n, int type, int dist, float param, int attempts,
                int samples, double* out) {
    if (points == nullptr || out == nullptr) return kFailed;
    const int needed = type == kFitLine ? 2 : type == kFitCircle ? 3 : type == kFitEllipse ? 5 : 0;
    if (needed == 0 || n < needed) return kFailed;
    const bool robust = type == kFitCircle || (type == kFitLine && dist != kDistL2);
    if (type == kFitLine && !known_fit_distance(dist)) return kFailed;
    if (robust && (attempts < 1 || !std::isfinite(param))) return kFailed;

    std::vector<cv::Point2f> pts(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < pts.size(); ++i)
        pts[i] = {static_cast<float>(points[i]), static_cast<float>(points[pts.size() + i])};
    // A call-local generator seeded by the clock's seconds: calls within one second repeat their
    // draws, and no other random generator of the process is touched.
    const RobustFitSettings s{dist, param, attempts, samples,
                              static_cast<std::uint32_t>(std::time(nullptr))};
    double v[5];
    int count = 0;
    if (type == kFitLine) {
        FitLine l;
        if (!fit_line_robust(pts, s, &l)) return kFailed;
        v[0] = l.vx, v[1] = l.vy, v[2] = l.x0, v[3] = l.y0;
        count = 4;
    } else if (type == kFitCircle) {
        FitCircle c;
        if (!fit_circle_robust(pts, s, &c) || !(c.r > 0)) return kFailed;
        v[0] = c.cx, v[1] = c.cy, v[2] = c.r;
        count = 3;
    } else {
        FitEllipse e;
        if (!fit_ellipse(pts, &e) || !(e.minor > 0)) return kFailed;
        v[0] = e.cx, v[1] = e.cy, v[2] = e.angle, v[3] = e.major, v[4] = e.minor;
        count = 5;
    }
    if (!all_finite(v, count)) return kFailed;
    std::copy(v, v + count, out);
    return kOk;
}

}  // namespace
}  // namespace quro

extern "C" QURO_API int do_fit(const double* points, int n, int type, int dist, float param,
                               int attempts, int samples, double* out) {
    return quro::guarded(quro::kFailed, [&] {
        return quro::do_fit_impl(points, n, type, dist, param, attempts, samples, out);
    });
}

extern "C" QURO_API int do_fit2(const double* points, int n, int type, int dist, int attempts,
                                int samples, double param, double* out) {
    return quro::guarded(quro::kFailed, [&] {
        return quro::do_fit_impl(points, n, type, dist, static_cast<float>(param), attempts,
                                 samples, out);
    });
}
