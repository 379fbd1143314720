#include "quro/model_validation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "quro/numeric.h"
#include "quro/status.h"

namespace quro {
namespace {

bool finite_scalars(const ShapeModelRecord& r) {
    const float values[] = {r.angle_start,   r.angle_extent,  r.angle_step,     r.scale_min,
                            r.scale_max,     r.scale_step,    r.scale_row_min,  r.scale_row_max,
                            r.scale_row_step, r.scale_col_min, r.scale_col_max, r.scale_col_step,
                            r.origin_first,  r.origin_second};
    return std::all_of(std::begin(values), std::end(values),
                       [](float v) { return std::isfinite(v); });
}

// Each level at most half the one below it, with room for the rounding of either creator: image
// levels take (size + 1) / 2, outline levels twice the extent of the halved points.
bool level_sizes_halve(const ShapeModelRecord& r) {
    for (std::size_t k = 0; k < r.level_widths.size(); ++k) {
        const long long w = r.level_widths[k];
        const long long h = r.level_heights[k];
        if (w < 0 || h < 0) return false;
        if (k == 0) continue;
        if (2 * w > static_cast<long long>(r.level_widths[k - 1]) + 4) return false;
        if (2 * h > static_cast<long long>(r.level_heights[k - 1]) + 4) return false;
    }
    return true;
}

bool within(double v, double lo, double hi) { return v >= lo && v <= hi; }  // false for NaN

// The farthest any level's points lie from the reference point, in the pixels of each level: a
// level's points are halved copies of those below it, so level k + 1 reaches half as far as level
// k. Levels emptied by point removal take their reach from the others.
std::vector<double> points_reach(const ShapeModelRecord& r) {
    double level1 = 0.0;  // in full-resolution pixels
    for (std::size_t k = 0; k < r.level_features.size(); ++k)
        for (const Feature& p : r.level_features[k])
            level1 = std::max(level1, std::ldexp(std::hypot(static_cast<double>(p.x), p.y),
                                                 static_cast<int>(k)));  // NaN is left out
    std::vector<double> reach(r.level_features.size());
    for (std::size_t k = 0; k < reach.size(); ++k)
        reach[k] = std::ldexp(level1, -static_cast<int>(k));
    return reach;
}

// What creation can produce from points that reach `reach` pixels on level k (0 = full
// resolution): a box and radius within the reach (twice it, for points removed after creation),
// and a level image at most kCanvasFactor times the points' extent, or kMinCanvas pixels (a model
// made from a large image, a mask or ROI picking a small part of it, is legitimate; no search sizes
// its work by the level image, only by the points).
struct LevelLimits {
    double tol;     // rounding of either creator
    double box;     // largest magnitude of a box bound and of the radius
    double canvas;  // largest level width and height
};

constexpr double kCanvasFactor = 32.0;
constexpr double kMinCanvas = 65536.0;

LevelLimits level_limits(double reach, std::size_t k) {
    const double tol = 1.0 + 1e-3 * reach;
    return {tol, 2.0 * reach + tol,
            std::max(kCanvasFactor * (2.0 * reach + 2.0),
                     std::ldexp(kMinCanvas, -static_cast<int>(k)))};
}

bool level_is_valid(const ShapeModelRecord& r, std::size_t k, double reach) {
    const LevelLimits lim = level_limits(reach, k);
    if (r.level_widths[k] > lim.canvas || r.level_heights[k] > lim.canvas) return false;
    const double span = static_cast<double>(r.level_widths[k]) + r.level_heights[k] + 2.0;
    const double tol = lim.tol;
    const double min_x = r.box_min_x[k], max_x = r.box_max_x[k];
    const double min_y = r.box_min_y[k], max_y = r.box_max_y[k];
    if (!within(min_x, -lim.box, max_x) || !within(max_x, min_x, lim.box)) return false;
    if (!within(min_y, -lim.box, max_y) || !within(max_y, min_y, lim.box)) return false;
    const double angle = r.level_angle[k];
    const double radius = r.level_radius[k];
    if (!within(angle, -180.0, 180.0)) return false;
    if (!within(radius, 0.0, lim.box)) return false;
    // The box was measured on the points rotated by -angle, as X = x c + y s, Y = y c - x s.
    const double a = -angle * static_cast<double>(kDegToRad);
    const double c = std::cos(a), s = std::sin(a);
    const double coord_limit = std::min(span, static_cast<double>(kMaxModelCoordinate));
    for (const Feature& p : r.level_features[k]) {
        if (!within(p.x, -coord_limit, coord_limit) || !within(p.y, -coord_limit, coord_limit))
            return false;
        if (!within(p.gx, -kMaxModelDirection, kMaxModelDirection) ||
            !within(p.gy, -kMaxModelDirection, kMaxModelDirection))
            return false;
        const double x = p.x, y = p.y;
        if (std::hypot(x, y) > radius + tol) return false;
        const double X = x * c + y * s, Y = y * c - x * s;
        if (!within(X, min_x - tol, max_x + tol) || !within(Y, min_y - tol, max_y + tol))
            return false;
    }
    return true;
}

}  // namespace

bool shape_model_is_consistent(const ShapeModelRecord& rec) {
    if (rec.num_levels < 1 || rec.num_levels > kMaxModelLevels) return false;
    const auto levels = static_cast<std::size_t>(rec.num_levels);
    bool ok = rec.level_features.size() == levels;
    for_each_level_list(rec, [&](const auto& v) { ok = ok && v.size() == levels; });
    return ok;
}

int validate_shape_model_record(const ShapeModelRecord& rec) {
    if (!shape_model_is_consistent(rec) || !finite_scalars(rec) || !level_sizes_halve(rec))
        return kFailed;
    const std::vector<double> reach = points_reach(rec);
    for (std::size_t k = 0; k < rec.level_features.size(); ++k)
        if (!level_is_valid(rec, k, reach[k])) return kFailed;
    return kOk;
}

}  // namespace quro
