// Per-model parameters read and written by name.
#include <cstring>

#include "quro/export_guard.h"
#include "quro/model_table.h"

extern "C" QURO_API void set_shape_model_param(int id, const char* name, int value) {
    if (name == nullptr) return;
    quro::guarded_void([&] {
        quro::edit_shape_model_locked(id, [&](quro::ShapeModelRecord& rec) {
            if (std::strcmp(name, "min_contrast") == 0)
                rec.contrast.min_contrast = value;
            else if (std::strcmp(name, "timeout") == 0)
                rec.timeout_ms = value;
            else if (std::strcmp(name, "metric") == 0)
                rec.metric = value;
            // "border_shape_models" and "num_levels" are accepted and change nothing.
        });
    });
}

extern "C" QURO_API void get_shape_model_param(int id, const char* name, int* value) {
    if (name == nullptr || value == nullptr) return;
    quro::guarded_void([&] {
        quro::read_shape_model_locked(id, [&](const quro::ShapeModelRecord& rec) {
            if (std::strcmp(name, "min_contrast") == 0) {
                *value = rec.contrast.min_contrast;
            } else if (std::strcmp(name, "timeout") == 0) {
                *value = rec.timeout_ms;
            } else if (std::strcmp(name, "num_levels") == 0) {
                *value = rec.num_levels;
            } else if (std::strcmp(name, "metric") == 0) {
                *value = rec.metric;
            } else if (std::strcmp(name, "width0") == 0) {
                if (!rec.level_widths.empty()) *value = rec.level_widths.front();
            } else if (std::strcmp(name, "height0") == 0) {
                if (!rec.level_heights.empty()) *value = rec.level_heights.front();
            }
            // "border_shape_models" and unknown names write nothing.
        });
    });
}
