// Shape models from generated outlines: circle, rectangle, ellipse and cross, and a second family
// with flipped directions, bars and corners.
#include <cmath>
#include <cstdint>
#include <vector>

#include "quro/create/outline_creation.h"
#include "quro/create/outline_shapes.h"
#include "quro/export_guard.h"
#include "quro/match/library_start.h"
#include "quro/status.h"

namespace quro {
namespace {

// Lengths whose doubled value converts to int (NaN and infinities are out of range).
bool length_in_range(float v) {
    return std::fabs(v) < 1073741824.f;
}

// Level 1 of the first family (a = length1, b = length2).
int first_family_level1(float a, float b, std::vector<Feature>& pts) {
    if ((a < 0.f && b > 0.f) || (a > 0.f && b < 0.f && std::fabs(b) >= a))
        return kBadShapeArguments;
    if (b == 0.f && a < 0.f) return kBadShapeArguments;  // a circle of negative radius has no end
    if (!length_in_range(a) || !length_in_range(b)) return kFailed;
    if (b == 0.f) {
        pts = circle_outline(a);
    } else if (b > 0.f) {
        pts = rectangle_outline(a, b);
    } else if (a <= 0.f) {
        pts = ellipse_outline(std::fabs(a), std::fabs(b));
    } else {
        return cross_outline(a, std::fabs(b), pts);
    }
    return kOk;
}

// Level 1 of the second family (shape 1..9, l1 > 0, l2 > 0 except for the circle).
int second_family_level1(int shape, float l1, float l2, std::vector<Feature>& pts) {
    switch (shape) {
        case 1:
            pts = circle_outline(l1);
            return kOk;
        case 2:
            pts = ellipse_outline(l1, l2);
            return kOk;
        case 3:
            pts = rectangle_outline(l1, l2);
            return kOk;
        case 4:
            return cross_outline(l1, l2, pts);
        case 5:  // two parallel bars
            return segment_pair_outline({-l1, -l2, l1, -l2, 1}, {-l1, l2, l1, l2, -1}, pts);
        case 6:  // corners, kept at the reference point
            return segment_pair_outline({0.f, 0.f, l1, 0.f, -1}, {0.f, -l2, 0.f, 0.f, -1}, pts);
        case 7:
            return segment_pair_outline({-l1, 0.f, 0.f, 0.f, -1}, {0.f, -l2, 0.f, 0.f, 1}, pts);
        case 8:
            return segment_pair_outline({-l1, 0.f, 0.f, 0.f, 1}, {0.f, 0.f, 0.f, l2, 1}, pts);
        default:
            return segment_pair_outline({0.f, 0.f, l1, 0.f, 1}, {0.f, 0.f, 0.f, l2, -1}, pts);
    }
}

}  // namespace
}  // namespace quro

extern "C" QURO_API int create_shape_model_xld(float length1, float length2, int /*num_levels*/,
                                               float angle_start, float angle_extent,
                                               float angle_step, int metric,
                                               const ContrastParams* contrast, int* id) {
    return quro::guarded(quro::kFailed, [&] {
        quro::ensure_library_started();
        if (contrast == nullptr || id == nullptr) return quro::kFailed;
        const quro::CreationArgs args{angle_start, angle_extent, angle_step, metric, *contrast};
        const bool circle = length2 == 0.f;
        const auto start = quro::outline_box_start(length1, circle ? length1 : length2);
        const std::uint8_t kind = circle ? quro::kShapeCircle : quro::kShapeOutline;
        return quro::create_outline_model(
            args, kind, start, id, [&](std::vector<quro::Feature>& pts) {
                return quro::first_family_level1(length1, length2, pts);
            });
    });
}

extern "C" QURO_API int create_shape_model_xld2(int shape, int flip, float length1, float length2,
                                                int /*num_levels*/, float angle_start,
                                                float angle_extent, float angle_step, int metric,
                                                const ContrastParams* contrast, int* id) {
    return quro::guarded(quro::kFailed, [&] {
        quro::ensure_library_started();
        if (contrast == nullptr || id == nullptr) return quro::kFailed;
        const quro::CreationArgs args{angle_start, angle_extent, angle_step, metric, *contrast};
        const bool circle = shape == 1;  // its second length is not used
        const auto start = quro::outline_box_start(length1, circle ? length1 : length2);
        return quro::create_outline_model(
            args, static_cast<std::uint8_t>(shape < 1 || shape > 9 ? 0 : shape), start, id,
            [&](std::vector<quro::Feature>& pts) {
                if (shape < 1 || shape > 9) return quro::kUnknownShape;
                if (length1 <= 0.f || (!circle && length2 <= 0.f)) return quro::kBadShapeArguments;
                if (!quro::length_in_range(length1) || (!circle && !quro::length_in_range(length2)))
                    return quro::kFailed;
                const int rc = quro::second_family_level1(shape, length1, length2, pts);
                if (rc != 0) return rc;
                if (flip != 0)
                    for (quro::Feature& f : pts) {
                        f.gx = -f.gx;
                        f.gy = -f.gy;
                    }
                return quro::kOk;
            });
    });
}
