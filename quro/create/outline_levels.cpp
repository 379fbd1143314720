#include "quro/create/outline_levels.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <unordered_set>

#include "quro/create/creation_frame.h"
#include "quro/numeric.h"
#include "quro/status.h"

namespace quro {
namespace {

constexpr int kMaxLevels = 10;
constexpr std::size_t kMinLevelPoints = 40;
// Largest float below 2^31: a length up to this converts to int safely.
constexpr float kMaxIntFloat = 2147483520.f;
// Positions stay below this magnitude, so that twice their extent converts to int.
constexpr float kMaxPosition = 1073741824.f;  // 2^30

bool position_in_range(const Feature& f) {
    return std::fabs(f.x) < kMaxPosition && std::fabs(f.y) < kMaxPosition;  // false for NaN
}

LevelBox measure_outline_level(const std::vector<Feature>& pts, const OutlineBoxStart& start) {
    LevelBox box;
    box.min_x = start.min_x;
    box.min_y = start.min_y;
    box.max_x = start.max_x;
    box.max_y = start.max_y;
    float radius = 0.f;
    for (const Feature& f : pts) {
        box.min_x = std::min(box.min_x, f.x);
        box.max_x = std::max(box.max_x, f.x);
        box.min_y = std::min(box.min_y, f.y);
        box.max_y = std::max(box.max_y, f.y);
        radius = std::max(radius, std::sqrt(f.x * f.x + f.y * f.y));
    }
    box.width = static_cast<int>(2.f * std::max(std::fabs(box.min_x), std::fabs(box.max_x)));
    box.height = static_cast<int>(2.f * std::max(std::fabs(box.min_y), std::fabs(box.max_y)));
    box.radius = radius;
    box.angle = 0.f;
    return box;
}

}  // namespace

int segment_to_features(int sign, std::vector<Feature>& out, float x0, float y0, float x1,
                        float y1) {
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
        return kOk;
    const float dx = x1 - x0;
    const float dy = y1 - y0;
    const float g = std::sqrt(dx * dx + dy * dy);
    if (!(g <= kMaxIntFloat)) return kFailed;  // also a length that overflowed to infinity
    const float ux = dx / g;
    const float uy = dy / g;
    const float gx = sign >= 0 ? -uy : uy;
    const float gy = sign >= 0 ? ux : -ux;
    if (g > 1.1920929e-7f && g < 2.f) {
        out.emplace_back((x0 + x1) * 0.5f, (y0 + y1) * 0.5f, gx, gy);
        return kOk;
    }
    const int n = static_cast<int>(g);
    for (int i = 1; i < n; ++i) {
        const float t = static_cast<float>(i);
        out.emplace_back(x0 + t * ux, y0 + t * uy, gx, gy);
    }
    return kOk;
}

std::vector<Feature> derive_outline_level(const std::vector<Feature>& prev) {
    std::vector<Feature> next;
    next.reserve(prev.size() / 2 + 1);
    std::unordered_set<std::uint64_t> taken;  // membership only: the output keeps prev's order
    taken.reserve(prev.size());
    for (const Feature& f : prev) {
        const int rx = round_half_away(f.x);
        const int ry = round_half_away(f.y);
        if ((rx & 1) != 0 && (ry & 1) != 0) continue;
        const std::uint64_t key =
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(rx)) << 32) |
            static_cast<std::uint32_t>(ry);
        if (!taken.insert(key).second) continue;
        next.emplace_back(f.x * 0.5f, f.y * 0.5f, f.gx, f.gy);
    }
    return next;
}

OutlineBoxStart outline_box_start(float hx, float hy) {
    return OutlineBoxStart{std::fabs(hx), std::fabs(hy), -std::fabs(hx), -std::fabs(hy)};
}

OutlineBoxStart unbounded_box_start() {
    return OutlineBoxStart{FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX};
}

int build_outline_levels(std::vector<Feature> level1, const OutlineBoxStart& start,
                         ShapeModelRecord& record, const Deadline& deadline) {
    if (!std::all_of(level1.begin(), level1.end(), position_in_range)) return kFailed;
    std::vector<Feature> pts = std::move(level1);
    for (int level = 1; level <= kMaxLevels; ++level) {
        if (level > 1) pts = derive_outline_level(record.level_features.back());
        if (pts.size() < kMinLevelPoints) break;
        const LevelBox box = measure_outline_level(pts, start);
        append_model_level(record, std::move(pts), box);
        if (deadline.passed()) return kTimedOut;
    }
    return close_model_levels(record);
}

}  // namespace quro
