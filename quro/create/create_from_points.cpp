// Shape models from a polygon (its segments' points with their normals) and from a list of points
// with directions.
#include <cfloat>
#include <climits>
#include <vector>

#include "quro/create/outline_creation.h"
#include "quro/export_guard.h"
#include "quro/match/library_start.h"
#include "quro/status.h"

namespace quro {
namespace {

struct Centre {
    float x;
    float y;
};

// Middle of the bounding box of n vertices; NaN coordinates are passed over.
Centre vertex_box_centre(const float* x, const float* y, int n) {
    float min_x = FLT_MAX, min_y = FLT_MAX, max_x = -FLT_MAX, max_y = -FLT_MAX;
    for (int i = 0; i < n; ++i) {
        if (x[i] < min_x) min_x = x[i];
        if (x[i] > max_x) max_x = x[i];
        if (y[i] < min_y) min_y = y[i];
        if (y[i] > max_y) max_y = y[i];
    }
    return Centre{(min_x + max_x) / 2.f, (min_y + max_y) / 2.f};
}

}  // namespace
}  // namespace quro

extern "C" QURO_API int create_shape_model_pol(const float* x, const float* y, const char* use,
                                               int count, int /*num_levels*/, float angle_start,
                                               float angle_extent, float angle_step, int metric,
                                               const ContrastParams* contrast, int* id) {
    return quro::guarded(quro::kFailed, [&] {
        quro::ensure_library_started();
        if (x == nullptr || y == nullptr || use == nullptr || contrast == nullptr || id == nullptr)
            return quro::kFailed;
        const quro::CreationArgs args{angle_start, angle_extent, angle_step, metric, *contrast};
        return quro::create_outline_model(
            args, quro::kShapeOutline, quro::unbounded_box_start(), id,
            [&](std::vector<quro::Feature>& pts) {
                if (count == INT_MIN) return quro::kBadShapeArguments;
                const int n = count < 0 ? -count : count;
                if (n < 2) return quro::kBadShapeArguments;
                const quro::Centre c = quro::vertex_box_centre(x, y, n);
                const int sign = count < 0 ? -1 : 0;
                for (int i = 1; i < n; ++i) {
                    if (use[i] == 0) continue;
                    if (quro::segment_to_features(sign, pts, x[i - 1] - c.x, y[i - 1] - c.y,
                                                  x[i] - c.x, y[i] - c.y) != 0)
                        return quro::kFailed;
                }
                return quro::kOk;
            });
    });
}

extern "C" QURO_API int create_shape_model_xld3(const float* x, const float* y, const float* gx,
                                                const float* gy, int count, int /*num_levels*/,
                                                float angle_start, float angle_extent,
                                                float angle_step, int metric,
                                                const ContrastParams* contrast, int* id) {
    return quro::guarded(quro::kFailed, [&] {
        quro::ensure_library_started();
        if (x == nullptr || y == nullptr || gx == nullptr || gy == nullptr || contrast == nullptr ||
            id == nullptr)
            return quro::kFailed;
        const quro::CreationArgs args{angle_start, angle_extent, angle_step, metric, *contrast};
        return quro::create_outline_model(
            args, quro::kShapeOutline, quro::unbounded_box_start(), id,
            [&](std::vector<quro::Feature>& pts) {
                if (count < 2) return quro::kBadShapeArguments;
                const quro::Centre c = quro::vertex_box_centre(x, y, count);
                pts.reserve(static_cast<std::size_t>(count));
                for (int i = 0; i < count; ++i)
                    pts.emplace_back(x[i] - c.x, y[i] - c.y, gx[i], gy[i]);
                return quro::kOk;
            });
    });
}
