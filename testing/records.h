// Builders of hand-made model records for tests.
#ifndef QURO_TESTING_RECORDS_H
#define QURO_TESTING_RECORDS_H

#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"

namespace quro_test {

// A record whose levels hold the given points; sizes halve per level from width x height.
inline quro::ShapeModelRecord record_with_levels(
    const std::vector<std::vector<quro::Feature>>& levels, int width = 64, int height = 48) {
    quro::ShapeModelRecord rec;
    rec.num_levels = static_cast<int>(levels.size());
    int w = width, h = height;
    for (const auto& pts : levels) {
        rec.level_widths.push_back(w);
        rec.level_heights.push_back(h);
        rec.box_min_x.push_back(-1.f);
        rec.box_min_y.push_back(-1.f);
        rec.box_max_x.push_back(1.f);
        rec.box_max_y.push_back(1.f);
        rec.level_radius.push_back(1.f);
        rec.level_angle.push_back(0.f);
        rec.level_features.push_back(pts);
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    return rec;
}

// A one-level record with `n` points on a line, each with direction (1, 0).
inline quro::ShapeModelRecord simple_record(int n = 4) {
    std::vector<quro::Feature> pts;
    for (int i = 0; i < n; ++i) pts.emplace_back(static_cast<float>(i), 1.f, 1.f, 0.f);
    return record_with_levels({pts});
}

// The bytes of write_shape_model_b for model `id` (empty when it fails); the buffer is cleared.
inline std::vector<unsigned char> model_bytes(int id) {
    void* buffer = nullptr;
    int length = 0;
    const int handle = write_shape_model_b(id, &buffer, &length);
    const auto* p = static_cast<const unsigned char*>(buffer);
    std::vector<unsigned char> bytes(p, p + (handle > 0 ? length : 0));
    clear_mems(handle);
    return bytes;
}

}  // namespace quro_test

#endif  // QURO_TESTING_RECORDS_H
