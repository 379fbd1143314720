// Helpers of the model creation tests: models cleared at scope end, and the invariants every
// stored record must keep.
#ifndef QURO_TESTS_CREATE_CREATE_SUPPORT_H
#define QURO_TESTS_CREATE_CREATE_SUPPORT_H

#include <gtest/gtest.h>

#include <memory>

#include "quro/model_table.h"
#include "quro/quro.h"

namespace quro_test {

// Clears the model `id` when it goes out of scope (nothing for an id below 0).
class ScopedModel {
public:
    ScopedModel() = default;
    ScopedModel(const ScopedModel&) = delete;
    ScopedModel& operator=(const ScopedModel&) = delete;
    ~ScopedModel() {
        if (id >= 0) clear_shape_model(id);
    }
    int* out() { return &id; }
    std::shared_ptr<quro::ShapeModelRecord> record() const {
        return quro::find_shape_model_record(id);
    }

    int id = -1;
};

// The invariants of a record in the table: at least one level and one entry per level in every
// per-level list.
inline void expect_record_invariants(const quro::ShapeModelRecord& rec) {
    const auto n = static_cast<std::size_t>(rec.num_levels);
    EXPECT_GE(rec.num_levels, 1);
    EXPECT_EQ(rec.level_features.size(), n);
    EXPECT_EQ(rec.level_widths.size(), n);
    EXPECT_EQ(rec.level_heights.size(), n);
    EXPECT_EQ(rec.box_min_x.size(), n);
    EXPECT_EQ(rec.box_max_x.size(), n);
    EXPECT_EQ(rec.box_min_y.size(), n);
    EXPECT_EQ(rec.box_max_y.size(), n);
    EXPECT_EQ(rec.level_radius.size(), n);
    EXPECT_EQ(rec.level_angle.size(), n);
    for (const auto& pts : rec.level_features) EXPECT_FALSE(pts.empty());
}

}  // namespace quro_test

#endif  // QURO_TESTS_CREATE_CREATE_SUPPORT_H
