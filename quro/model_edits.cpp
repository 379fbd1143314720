// Edits of a stored model's points: flipping directions by quadrant and removing points.
#include <algorithm>
#include <cmath>

#include "quro/export_guard.h"
#include "quro/model_table.h"
#include "quro/status.h"

namespace {

// Quadrant bit of a point position; 0 for a point on an axis.
int quadrant_bit(float x, float y) {
    if (x > 0.f && y > 0.f) return 1;
    if (x < 0.f && y > 0.f) return 2;
    if (x < 0.f && y < 0.f) return 4;
    if (x > 0.f && y < 0.f) return 8;
    return quro::kOk;
}

// Removes the full-resolution point `index` (nothing for an out-of-range index or a point without
// direction) from every level: the nearest point per level when radius <= 0, else every point
// within the radius scaled to the level.
void remove_feature(quro::ShapeModelRecord& rec, int index, float radius) {
    if (rec.level_features.empty()) return;
    const auto& first = rec.level_features.front();
    if (index < 0 || static_cast<std::size_t>(index) >= first.size()) return;
    const quro::Feature& p = first[static_cast<std::size_t>(index)];
    if (p.gx == 0.f && p.gy == 0.f) return;
    float px = p.x;
    float py = p.y;
    const int levels = std::min<int>(rec.num_levels,
                                     static_cast<int>(rec.level_features.size()));
    float level_factor = 1.f;  // 0.25^L
    for (int L = 0; L < levels; ++L) {
        auto& pts = rec.level_features[static_cast<std::size_t>(L)];
        auto dist2 = [&](const quro::Feature& f) {
            const float dx = f.x - px;
            const float dy = f.y - py;
            return dx * dx + dy * dy;
        };
        if (radius <= 0.f) {
            if (!pts.empty()) {
                // min_element keeps the lowest index among equal distances.
                auto nearest = std::min_element(
                    pts.begin(), pts.end(),
                    [&](const quro::Feature& a, const quro::Feature& b) {
                        return dist2(a) < dist2(b);
                    });
                pts.erase(nearest);
            }
        } else {
            const float limit = radius * radius * level_factor + 1.1920929e-7f;
            pts.erase(std::remove_if(pts.begin(), pts.end(),
                                     [&](const quro::Feature& f) { return dist2(f) < limit; }),
                      pts.end());
        }
        px *= 0.5f;
        py *= 0.5f;
        level_factor *= 0.25f;
    }
}

}  // namespace

extern "C" QURO_API int invert_model_feature(int id, int quadrants) {
    quro::guarded_void([&] {
        if (quadrants == 0) return;
        quro::edit_shape_model_locked(id, [&](quro::ShapeModelRecord& rec) {
            for (auto& level : rec.level_features)
                for (auto& f : level)
                    if (quadrant_bit(f.x, f.y) & quadrants) {
                        f.gx = -f.gx;
                        f.gy = -f.gy;
                    }
        });
    });
    return quro::kOk;
}

extern "C" QURO_API int remove_model_feature(int id, int index, float radius) {
    quro::guarded_void([&] {
        quro::edit_shape_model_locked(id, [&](quro::ShapeModelRecord& record) {
            remove_feature(record, index, radius);
        });
    });
    return quro::kOk;
}
