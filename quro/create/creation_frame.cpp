#include "quro/create/creation_frame.h"

#include <cstdio>

#include "quro/model_validation.h"
#include "quro/status.h"

namespace quro {

ShapeModelRecord new_creation_record(const CreationArgs& args) {
    ShapeModelRecord rec;
    reset_shape_model_record(rec);
    rec.angle_start = args.angle_start;
    rec.angle_extent = args.angle_extent;
    rec.angle_step = args.angle_step;
    rec.contrast = args.contrast;
    rec.metric = args.metric;
    rec.timeout_ms = 1000;
    return rec;
}

int finish_creation(ShapeModelRecord&& rec, Stopwatch& watch, const char* lap_format, int build_rc,
                    int* id) {
    char label[64];
    std::snprintf(label, sizeof label, lap_format, rec.num_levels);
    (void)watch.lap(label);
    if (build_rc != 0) return build_rc;
    // Every creator's record passes the check a model file passes (finite directions, ...).
    if (validate_shape_model_record(rec) != 0) return kFailed;
    *id = add_shape_model(std::move(rec));
    return kOk;
}

void append_model_level(ShapeModelRecord& rec, std::vector<Feature>&& points, const LevelBox& box) {
    rec.level_angle.push_back(box.angle);
    rec.level_features.push_back(std::move(points));
    rec.level_widths.push_back(box.width);
    rec.level_heights.push_back(box.height);
    rec.box_min_x.push_back(box.min_x);
    rec.box_max_x.push_back(box.max_x);
    rec.box_min_y.push_back(box.min_y);
    rec.box_max_y.push_back(box.max_y);
    rec.level_radius.push_back(box.radius);
}

int close_model_levels(ShapeModelRecord& rec) {
    rec.num_levels = static_cast<int>(rec.level_features.size());
    return rec.num_levels > 0 ? kOk : kFailed;
}

}  // namespace quro
