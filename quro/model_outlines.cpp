// The outline exports: a posed model level handed out by value, or as a registered object.
#include "quro/model_outlines.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

#include "quro/export_guard.h"
#include "quro/model_table.h"
#include "quro/model_transforms.h"
#include "quro/result_registry.h"
#include "quro/status.h"

namespace quro {
namespace {

bool finite_pose(float angle, float scale_row, float scale_col) {
    return std::isfinite(angle) && std::isfinite(scale_row) && std::isfinite(scale_col);
}

// Whether a posed level's rounded positions reached the +-2^30 bound at which they are clamped
// (a huge scale): such an outline would not be the model's.
template <class P>
bool pose_out_of_range(const ModelPointSet<P>& set) {
    constexpr int kLimit = 1 << 30;
    return !set.points.empty() && (set.min_x <= -kLimit || set.min_y <= -kLimit ||
                                   set.max_x >= kLimit || set.max_y >= kLimit);
}

// Copies a posed level into an outline object whose `points` is null. Returns false, leaving the
// object without points and with count 0, when a posed position is out of range or `alloc` cannot
// allocate the point array.
template <class Outline, class P>
bool fill_outline(Outline& t, const ModelPointSet<P>& set, OutlineAllocFn alloc) {
    static_assert(std::is_trivially_copyable_v<P>);
    if (pose_out_of_range(set)) return false;
    t.min_x = set.min_x;
    t.min_y = set.min_y;
    t.max_x = set.max_x;
    t.max_y = set.max_y;
    t.level_width = set.level_width;
    t.level_height = set.level_height;
    t.count = 0;
    if (set.points.empty()) return true;
    if (set.points.size() > static_cast<std::size_t>(INT_MAX)) return false;
    const std::size_t bytes = set.points.size() * sizeof(P);
    auto* pts = static_cast<P*>(alloc(bytes));
    if (pts == nullptr) return false;
    std::memcpy(static_cast<void*>(pts), set.points.data(), bytes);
    t.points = pts;
    t.count = static_cast<int>(set.points.size());
    return true;
}

// The outline of model `id` posed by `transform(record, set)`, returned by value; empty for an
// unknown id, a non-finite pose or an allocation failure.
template <class Outline, class P, class Transform>
Outline outline_by_value(int id, float angle, float scale_row, float scale_col,
                         OutlineAllocFn alloc, Transform&& transform) {
    Outline t;
    if (!finite_pose(angle, scale_row, scale_col)) return t;
    ModelPointSet<P> set;
    bool has_level = false;
    read_shape_model_locked(id, [&](const ShapeModelRecord& rec) {
        has_level = rec.has_level(1);
        if (has_level) transform(rec, set);
    });
    if (!has_level) return t;
    if (!fill_outline(t, set, alloc)) return Outline{};
    return t;
}

// The outline of model `id` at `level` posed by `transform`, created with new and registered under
// `kind`. Writes *out and returns the handle only on success; otherwise -1, nothing registered.
template <class Outline, class P, class Transform>
int outline_registered(int id, int level, float angle, float scale_row, float scale_col, int kind,
                       Outline** out, OutlineAllocFn alloc, Transform&& transform) {
    if (out == nullptr || !finite_pose(angle, scale_row, scale_col)) return kFailed;
    ModelPointSet<P> set;
    bool has_level = false;
    read_shape_model_locked(id, [&](const ShapeModelRecord& rec) {
        has_level = rec.has_level(level);
        if (has_level) transform(rec, set);
    });
    if (!has_level) return kFailed;
    auto obj = std::make_unique<Outline>();
    if (!fill_outline(*obj, set, alloc)) return kFailed;
    const int handle = register_result(kind, obj.get(), obj->count);
    Outline* raw = obj.release();  // owned by the registry from here on
    // An outline without points stays registered (clear_mems frees it) but keeps handle -1.
    if (raw->count > 0) raw->handle = handle;
    *out = raw;
    return handle;
}

}  // namespace

TemplateI get_model_transform_impl(int id, float angle, float scale, OutlineAllocFn alloc) {
    return outline_by_value<TemplateI, FeatureI>(
        id, angle, scale, scale, alloc,
        [&](const ShapeModelRecord& rec, ModelPointSet<FeatureI>& set) {
            transform_model_points(rec, angle, scale, set);
        });
}

TemplateF get_model_transform2_impl(int id, float angle, float scale, OutlineAllocFn alloc) {
    return outline_by_value<TemplateF, Feature>(
        id, angle, scale, scale, alloc,
        [&](const ShapeModelRecord& rec, ModelPointSet<Feature>& set) {
            rotated_template(rec, angle, 1, scale, 1, set);
        });
}

TemplateI get_model_transform_s_impl(int id, float angle, float scale_row, float scale_col,
                                     OutlineAllocFn alloc) {
    return outline_by_value<TemplateI, FeatureI>(
        id, angle, scale_row, scale_col, alloc,
        [&](const ShapeModelRecord& rec, ModelPointSet<FeatureI>& set) {
            transform_model_points_aniso(rec, angle, 1, scale_row, scale_col, 1, set);
        });
}

TemplateF get_model_transform2_s_impl(int id, float angle, float scale_row, float scale_col,
                                      OutlineAllocFn alloc) {
    return outline_by_value<TemplateF, Feature>(
        id, angle, scale_row, scale_col, alloc,
        [&](const ShapeModelRecord& rec, ModelPointSet<Feature>& set) {
            rotated_template_aniso(rec, angle, 1, scale_row, scale_col, 1, set);
        });
}

int get_model_contour_impl(int id, float angle, float scale, TemplateI** out,
                           OutlineAllocFn alloc) {
    return outline_registered<TemplateI, FeatureI>(
        id, 1, angle, scale, scale, kResultTemplateI, out, alloc,
        [&](const ShapeModelRecord& rec, ModelPointSet<FeatureI>& set) {
            transform_model_points(rec, angle, scale, set);
        });
}

int get_model_contour2_impl(int id, float angle, float scale, TemplateF** out,
                            OutlineAllocFn alloc) {
    return get_model_contour3_impl(id, 1, angle, scale, out, alloc);
}

int get_model_contour3_impl(int id, int level, float angle, float scale, TemplateF** out,
                            OutlineAllocFn alloc) {
    return outline_registered<TemplateF, Feature>(
        id, level, angle, scale, scale, kResultTemplateF, out, alloc,
        [&](const ShapeModelRecord& rec, ModelPointSet<Feature>& set) {
            rotated_template(rec, angle, level, scale, 1, set);
        });
}

int get_model_contour_s_impl(int id, float angle, float scale_row, float scale_col, TemplateI** out,
                             OutlineAllocFn alloc) {
    return outline_registered<TemplateI, FeatureI>(
        id, 1, angle, scale_row, scale_col, kResultTemplateI, out, alloc,
        [&](const ShapeModelRecord& rec, ModelPointSet<FeatureI>& set) {
            transform_model_points_aniso(rec, angle, 1, scale_row, scale_col, 1, set);
        });
}

int get_model_contour2_s_impl(int id, float angle, float scale_row, float scale_col,
                              TemplateF** out, OutlineAllocFn alloc) {
    return get_model_contour3_s_impl(id, 1, angle, scale_row, scale_col, out, alloc);
}

int get_model_contour3_s_impl(int id, int level, float angle, float scale_row, float scale_col,
                              TemplateF** out, OutlineAllocFn alloc) {
    return outline_registered<TemplateF, Feature>(
        id, level, angle, scale_row, scale_col, kResultTemplateF, out, alloc,
        [&](const ShapeModelRecord& rec, ModelPointSet<Feature>& set) {
            rotated_template_aniso(rec, angle, level, scale_row, scale_col, 1, set);
        });
}

}  // namespace quro

// ---- exports -----------------------------------------------------------------------------------

extern "C" QURO_API quro::TemplateI get_model_transform(int id, float angle, float scale) {
    return quro::guarded(quro::TemplateI{},
                         [&] { return quro::get_model_transform_impl(id, angle, scale); });
}

extern "C" QURO_API quro::TemplateF get_model_transform2(int id, float angle, float scale) {
    return quro::guarded(quro::TemplateF{},
                         [&] { return quro::get_model_transform2_impl(id, angle, scale); });
}

extern "C" QURO_API quro::TemplateI get_model_transform_s(int id, float angle, float scale_row,
                                                          float scale_col) {
    return quro::guarded(quro::TemplateI{}, [&] {
        return quro::get_model_transform_s_impl(id, angle, scale_row, scale_col);
    });
}

extern "C" QURO_API quro::TemplateF get_model_transform2_s(int id, float angle, float scale_row,
                                                           float scale_col) {
    return quro::guarded(quro::TemplateF{}, [&] {
        return quro::get_model_transform2_s_impl(id, angle, scale_row, scale_col);
    });
}

extern "C" QURO_API int get_model_contour(int id, float angle, float scale, quro::TemplateI** out) {
    return quro::guarded(quro::kFailed,
                         [&] { return quro::get_model_contour_impl(id, angle, scale, out); });
}

extern "C" QURO_API int get_model_contour2(int id, float angle, float scale,
                                           quro::TemplateF** out) {
    return quro::guarded(quro::kFailed,
                         [&] { return quro::get_model_contour2_impl(id, angle, scale, out); });
}

extern "C" QURO_API int get_model_contour3(int id, int level, float angle, float scale,
                                           quro::TemplateF** out) {
    return quro::guarded(
        -1, [&] { return quro::get_model_contour3_impl(id, level, angle, scale, out); });
}

extern "C" QURO_API int get_model_contour_s(int id, float angle, float scale_row, float scale_col,
                                            quro::TemplateI** out) {
    return quro::guarded(
        -1, [&] { return quro::get_model_contour_s_impl(id, angle, scale_row, scale_col, out); });
}

extern "C" QURO_API int get_model_contour2_s(int id, float angle, float scale_row, float scale_col,
                                             quro::TemplateF** out) {
    return quro::guarded(
        -1, [&] { return quro::get_model_contour2_s_impl(id, angle, scale_row, scale_col, out); });
}

extern "C" QURO_API int get_model_contour3_s(int id, int level, float angle, float scale_row,
                                             float scale_col, quro::TemplateF** out) {
    return quro::guarded(quro::kFailed, [&] {
        return quro::get_model_contour3_s_impl(id, level, angle, scale_row, scale_col, out);
    });
}
