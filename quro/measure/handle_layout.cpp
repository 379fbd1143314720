// Handles along a line and around a circle, the ellipse export, and rotated rectangles to and
// from points.
#include "quro/measure/handle_layout.h"

#include <climits>
#include <cmath>

#include "quro/export_guard.h"
#include "quro/measure/hand_out_block.h"
#include "quro/numeric.h"
#include "quro/status.h"

namespace quro {

HandleDirections handle_directions(double angle_deg) {
    const double phi = (angle_deg + 90.0) * kPi / 180.0;
    const double s = std::sin(phi), c = std::cos(phi);
    return HandleDirections{s, c, c, -s};
}

int handle_count(double fit, int plus, int wanted) {
    if (!(fit > -1.0) || !(fit < static_cast<double>(INT_MAX - plus))) return 0;
    const int m = static_cast<int>(fit) + plus;
    if (m < 1) return 0;
    const int n = wanted >= 1 && wanted < m ? wanted : m;
    return n <= kMaxMeasureHandles ? n : 0;
}

namespace {

bool usable_half_width(double half_width) {
    return std::isfinite(half_width) && half_width > 0.0;
}

RRect make_handle(double x, double y, double angle, double half_length, double half_width) {
    return RRect{static_cast<float>(x), static_cast<float>(y), static_cast<float>(angle),
                 static_cast<float>(half_length), static_cast<float>(half_width)};
}

int hand_out_handles(const std::vector<RRect>& handles, RRect** out, int* count) {
    const int handle = hand_out_block(handles, kResultRRect, static_cast<int>(handles.size()), out);
    if (handle > 0) *count = static_cast<int>(handles.size());
    return handle;
}

int gen_measure_line_impl(double x1, double y1, double x2, double y2, double half_length,
                          double half_width, int flip, int wanted, RRect** out, int* count) {
    if (out == nullptr || count == nullptr || !usable_half_width(half_width) ||
        !std::isfinite(half_length))
        return kFailed;
    const double dx = x2 - x1, dy = y2 - y1;
    const double length = std::hypot(dx, dy);
    const int n = handle_count((length - 4.0 * half_width) / (3.0 * half_width), 1, wanted);
    if (n < 1) return kFailed;  // also for a non-finite end point
    const double alpha = std::atan2(dx, dy) * kRadToDegD;
    const double angle = flip >= 1 ? alpha - 180.0 : alpha;
    std::vector<RRect> handles(static_cast<std::size_t>(n));
    if (n == 1) {
        handles[0] = make_handle(x1 + 0.5 * dx, y1 + 0.5 * dy, angle, half_length, half_width);
    } else {
        const double spacing = (length - 4.0 * half_width) / (n - 1);
        for (int i = 0; i < n; ++i) {
            const double f = (2.0 * half_width + i * spacing) / length;
            handles[static_cast<std::size_t>(i)] =
                make_handle(x1 + f * dx, y1 + f * dy, angle, half_length, half_width);
        }
    }
    return hand_out_handles(handles, out, count);
}

int gen_measure_circle_impl(double x, double y, double radius, double half_length,
                            double half_width, int direction, int wanted, RRect** out, int* count) {
    if (out == nullptr || count == nullptr || !usable_half_width(half_width) ||
        !std::isfinite(half_length) || !std::isfinite(x) || !std::isfinite(y))
        return kFailed;
    const int n = handle_count(2.0 * kPi * radius / (3.0 * half_width), 0, wanted);
    if (n < 1) return kFailed;
    const double turn = direction >= 0 ? -90.0 : 90.0;
    std::vector<RRect> handles(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double theta = i * 2.0 * kPi / n;
        handles[static_cast<std::size_t>(i)] =
            make_handle(x + radius * std::sin(theta), y + radius * std::cos(theta),
                        theta * kRadToDegD + turn, half_length, half_width);
    }
    return hand_out_handles(handles, out, count);
}

}  // namespace
}  // namespace quro

extern "C" QURO_API int gen_measure_line(double x1, double y1, double x2, double y2,
                                         double half_length, double half_width, int flip,
                                         int wanted, quro::RRect** out, int* count) {
    return quro::guarded(quro::kFailed, [&] {
        return quro::gen_measure_line_impl(x1, y1, x2, y2, half_length, half_width, flip, wanted,
                                           out, count);
    });
}

extern "C" QURO_API int gen_measure_circle(double x, double y, double radius, double half_length,
                                           double half_width, int direction, int wanted,
                                           quro::RRect** out, int* count) {
    return quro::guarded(quro::kFailed, [&] {
        return quro::gen_measure_circle_impl(x, y, radius, half_length, half_width, direction,
                                             wanted, out, count);
    });
}

extern "C" QURO_API int gen_measure_ellipse(double x, double y, double angle, double a, double b,
                                            double half_length, double half_width, int direction,
                                            int wanted, quro::RRect** out, int* count) {
    return quro::guarded(quro::kFailed, [&] {
        if (out == nullptr || count == nullptr) return quro::kFailed;
        std::vector<quro::RRect> handles;
        const quro::EllipseLayout e{x, y, angle, a, b, half_length, half_width, direction, wanted};
        if (quro::gen_ellipse_detector(e, handles) != quro::kOk) return quro::kFailed;
        return quro::hand_out_handles(handles, out, count);
    });
}

extern "C" QURO_API void rr_to_pts(float x, float y, float angle, float half_length,
                                   float half_width, double out[12]) {
    if (out == nullptr) return;
    const quro::HandleDirections d = quro::handle_directions(angle);
    const double hl = half_length, hw = half_width;
    const double sx = x - hl * d.ax, sy = y - hl * d.ay;  // axis start
    const double ex = x + hl * d.ax, ey = y + hl * d.ay;  // axis end
    const double pts[12] = {sx,
                            sy,
                            ex,
                            ey,
                            sx + hw * d.wx,
                            sy + hw * d.wy,
                            sx - hw * d.wx,
                            sy - hw * d.wy,
                            ex - hw * d.wx,
                            ey - hw * d.wy,
                            ex + hw * d.wx,
                            ey + hw * d.wy};
    for (int i = 0; i < 12; ++i) out[i] = pts[i];
}

extern "C" QURO_API void ppw_to_rr(double x1, double y1, double x2, double y2, double half_width,
                                   quro::RRect* out) {
    if (out == nullptr) return;
    const double dx = x2 - x1, dy = y2 - y1;
    *out = quro::make_handle(0.5 * (x1 + x2), 0.5 * (y1 + y2),
                             std::atan2(dx, dy) * quro::kRadToDegD - 90.0, 0.5 * std::hypot(dx, dy),
                             half_width);
}
